#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "support/fake_platform.h"
#include "ui/main/form1.h"

namespace kv {

// The accounting tick, the waiting timer and the carry-over, driven through the main window
// over a scripted interface table.
class AccountingTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void firstTickShowsTheCountersAndNoSpeed();
    void moneyFiguresFollowTheTraffic_data();
    void moneyFiguresFollowTheTraffic();
    void aRowAddedWhileWatchingRebuildsTheListAndWaits();
    void theWaitingTimerReselectsTheSavedRowAndWatchesItAtOnce();
    void aSavedRowBeyondTheTableWaits();
    void wrappedCountersStayExactAcrossAnUnrelatedRebuild();
    void aReconnectUnderTheSameRowCarriesTheBalanceOver();
    void aLinkThatDropsWhileWaitingIsCarriedOver();
    void theDisconnectButtonCarriesTheBalanceOverOnce();
    void anEmptyTableEndsTheProgramWithoutSaving();

  private:
    void Start(const char* settings);
    void Tick() { form->Timer1_Timer(); }
    void ExactlyOneTimerRuns();

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<test::FakePlatform> platform;
    std::unique_ptr<ProgramState> state;
    std::unique_ptr<Form1> form;
};

namespace {

constexpr char kWatchRow1[] = "10\r\n2,5\r\n1\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n";
constexpr double kMb = 1048576;

}  // namespace

void AccountingTest::init() {
    dir = std::make_unique<QTemporaryDir>();
    platform = std::make_unique<test::FakePlatform>();
    state = std::make_unique<ProgramState>();
    platform->Add(1, "lo");
    platform->Add(2, "eth0", 5000, 1000);
}

void AccountingTest::cleanup() {
    form.reset();
}

void AccountingTest::Start(const char* settings) {
    QFile file(dir->filePath("data.dat"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(settings);
    file.close();
    form = std::make_unique<Form1>(*state, *platform);
    form->SetDataDirectory(dir->path());
    form->Form_Load();
}

void AccountingTest::ExactlyOneTimerRuns() {
    QVERIFY(form->Timer1->isActive() != form->Timer2->isActive());
}

void AccountingTest::firstTickShowsTheCountersAndNoSpeed() {
    Start(kWatchRow1);
    QCOMPARE(form->Label1->text(), QStringLiteral("eth0"));
    QCOMPARE(form->Label2->text(), QStringLiteral("Отправлено:   1 000 байт"));
    QCOMPARE(form->Label3->text(), QStringLiteral("Принято:   5 000 байт"));
    // The counters are traffic since the link came up, not this second's.
    QCOMPARE(form->Label4->text(), QStringLiteral("Текущая скорость:   0 байт/сек"));
    QVERIFY(form->Timer1->isActive());
    ExactlyOneTimerRuns();

    platform->Find(2)->inOctets += 1500;
    platform->Find(2)->outOctets += 500;
    Tick();
    QCOMPARE(form->Label4->text(), QStringLiteral("Текущая скорость:  2 000 байт/сек"));
    QCOMPARE(state->currentSpeed, 2000.0);
    Tick();
    QCOMPARE(form->Label4->text(), QStringLiteral("Текущая скорость:   0 байт/сек"));
}

void AccountingTest::moneyFiguresFollowTheTraffic_data() {
    QTest::addColumn<double>("bytes");
    QTest::addColumn<QString>("used");
    QTest::addColumn<QString>("trafficLeft");
    QTest::addColumn<QString>("moneyLeft");
    QTest::newRow("nothing used") << 0.0 << "0,0 Мб"
                                  << "4,0 Мб"
                                  << "10,0 руб";
    QTest::newRow("one and a half MB") << 1.5 * kMb << "1,5 Мб"
                                       << "2,5 Мб"
                                       << "6,25 руб";
    QTest::newRow("past the limit") << 5 * kMb << "5,0 Мб"
                                    << "-1,0 Мб"
                                    << "-2,5 руб";
}

void AccountingTest::moneyFiguresFollowTheTraffic() {
    QFETCH(double, bytes);
    platform->Find(2)->inOctets = std::uint32_t(bytes);
    platform->Find(2)->outOctets = 0;
    Start(kWatchRow1);
    QCOMPARE(form->Label10->text(), QStringLiteral("4,0 Мб"));
    QTEST(form->Label13->text(), "used");
    QTEST(form->Label12->text(), "trafficLeft");
    QTEST(form->Label15->text(), "moneyLeft");
}

void AccountingTest::aRowAddedWhileWatchingRebuildsTheListAndWaits() {
    Start(kWatchRow1);
    const QString moneyLeft = form->Label15->text();
    platform->Add(7, "ppp0");
    Tick();
    QCOMPARE(form->List1->count(), 3);
    QVERIFY(form->List1->selectedItems().isEmpty());
    for (QLabel* l : {form->Label1, form->Label2, form->Label3, form->Label4}) {
        QVERIFY(l->text().isEmpty());
    }
    QCOMPARE(form->Label15->text(), moneyLeft);
    QVERIFY(form->Timer2->isActive());
    ExactlyOneTimerRuns();
    QCOMPARE(state->adapterIndex, 1);
}

void AccountingTest::theWaitingTimerReselectsTheSavedRowAndWatchesItAtOnce() {
    Start("10\r\n2,5\r\n2\r\n");  // row 2 does not exist yet: a dial-up link not yet up
    QVERIFY(form->Timer2->isActive());
    ExactlyOneTimerRuns();
    form->Timer2_Timer();  // nothing changed
    QVERIFY(form->Timer2->isActive());
    platform->Add(9, "ppp0", 300, 200);
    form->Timer2_Timer();
    QVERIFY(form->Timer1->isActive());
    ExactlyOneTimerRuns();
    QCOMPARE(form->List1->currentRow(), 2);
    QCOMPARE(form->Label1->text(), QStringLiteral("ppp0"));
    QCOMPARE(form->Label3->text(), QStringLiteral("Принято:    300 байт"));
}

void AccountingTest::aSavedRowBeyondTheTableWaits() {
    Start("10\r\n2,5\r\n5\r\n");
    QVERIFY(form->Timer2->isActive());
    QVERIFY(!form->Timer1->isActive());
    QVERIFY(form->Label1->text().isEmpty());
    QVERIFY(form->List1->selectedItems().isEmpty());
}

void AccountingTest::wrappedCountersStayExactAcrossAnUnrelatedRebuild() {
    platform->Find(2)->inOctets = 4294967000u;
    Start(kWatchRow1);
    platform->Find(2)->inOctets = 704;  // wrapped: 1000 bytes later
    Tick();
    QCOMPARE(form->Label3->text(), QStringLiteral("Принято: 4 294 968 000 байт"));
    platform->Add(30, "veth30");  // a container's link comes up
    platform->Find(2)->inOctets = 1704;
    Tick();                         // rebuild: waits for a choice
    form->List1->setCurrentRow(1);  // the user picks the same interface again
    QCOMPARE(form->Label3->text(), QStringLiteral("Принято: 4 294 969 000 байт"));
    ExactlyOneTimerRuns();
}

void AccountingTest::aReconnectUnderTheSameRowCarriesTheBalanceOver() {
    platform->Find(2)->inOctets = std::uint32_t(1.5 * kMb);
    platform->Find(2)->outOctets = 0;
    Start(kWatchRow1);
    QCOMPARE(form->Label15->text(), QStringLiteral("6,25 руб"));
    platform->Remove(2);
    platform->Add(3, "eth0", 100, 0);  // same row, new interface number
    Tick();
    QCOMPARE(state->moneyLimit, 6.25f);
    QCOMPARE(form->Label7->text(), QStringLiteral("6,25"));
    QCOMPARE(form->Text2->text(), QStringLiteral("6,25"));
    QCOMPARE(form->Label10->text(), QStringLiteral("2,5 Мб"));
    QCOMPARE(form->Label3->text(), QStringLiteral("Принято:    100 байт"));
    QFile saved(dir->filePath("data.dat"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll().startsWith("6,25\r\n"));
}

void AccountingTest::aLinkThatDropsWhileWaitingIsCarriedOver() {
    platform->Find(2)->inOctets = std::uint32_t(2 * kMb);
    platform->Find(2)->outOctets = 0;
    Start(kWatchRow1);
    platform->Add(8, "veth8");
    Tick();  // waiting now
    platform->Find(2)->inOctets = std::uint32_t(3 * kMb);
    form->Timer2_Timer();  // the same count: still waiting, but the traffic is read
    QVERIFY(form->Timer2->isActive());
    platform->Remove(2);
    platform->Remove(8);
    form->Timer2_Timer();
    QCOMPARE(state->moneyLimit, 2.5f);  // 10 - 3 MB at 2,5
    QCOMPARE(form->Label7->text(), QStringLiteral("2,5"));
}

void AccountingTest::theDisconnectButtonCarriesTheBalanceOverOnce() {
    platform->Find(2)->inOctets = std::uint32_t(1.5 * kMb);
    platform->Find(2)->outOctets = 0;
    Start(kWatchRow1);
    form->Command3_Click();
    QCOMPARE(form->Label7->text(), QStringLiteral("6,25"));
    QCOMPARE(state->moneyLimit, 6.25f);
    QCOMPARE(form->Label15->text(), QStringLiteral("6,25 руб"));
    Tick();
    form->Command3_Click();  // the interface stayed: nothing is charged twice
    QCOMPARE(state->moneyLimit, 6.25f);
    platform->Find(2)->inOctets += std::uint32_t(kMb);
    Tick();
    QCOMPARE(form->Label13->text(), QStringLiteral("1,0 Мб"));
    QCOMPARE(form->Label15->text(), QStringLiteral("3,75 руб"));
}

void AccountingTest::anEmptyTableEndsTheProgramWithoutSaving() {
    Start(kWatchRow1);
    const QByteArray before = [&] {
        QFile f(dir->filePath("data.dat"));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    platform->interfaces.clear();
    bool ended = false;
    try {
        Tick();
    } catch (const test::ProcessExit&) {
        ended = true;
    }
    QVERIFY(ended);
    QVERIFY(!form->Timer1->isActive());
    QVERIFY(!form->Timer2->isActive());
    QCOMPARE(platform->messages.back().text, std::string("Не найдено ни одного соединения"));
    QCOMPARE(platform->messages.back().style, 16);
    QFile after(dir->filePath("data.dat"));
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), before);
}

}  // namespace kv

QTEST_MAIN(kv::AccountingTest)
#include "accounting_test.moc"
