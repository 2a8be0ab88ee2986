#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "support/fake_desktop.h"
#include "support/fake_platform.h"
#include "support/main_window_rig.h"
#include "ui/main/form1.h"

namespace kv {

// The accounting tick, the waiting timer and the carry-over, driven through the main window
// over a scripted interface table.
class AccountingTest : public QObject, protected test::MainWindowRig {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void firstTickShowsTheCountersAndNoSpeed();
    void moneyFiguresFollowTheTraffic_data();
    void aCounterPastFourGibibytesBeforeTheStartShowsWhole();
    void moneyFiguresFollowTheTraffic();
    void otherInterfacesComingAndGoingKeepTheWatchedOneWatched();
    void theListArrowKeysSwitchTheWatchedInterfaceAtEveryStep();
    void theWaitingTimerReselectsTheSavedRowAndWatchesItAtOnce();
    void aSavedRowBeyondTheTableWaits();
    void wrappedCountersStayExactAcrossAnUnrelatedRebuild();
    void aReconnectUnderTheSameRowCarriesTheBalanceOver();
    void aDroppedLinkIsCarriedOverAndFoundAgainByItsName();
    void theWaitingTimerWithNothingToReselectWaitsAgain();
    void aFailedRefreshWhileWatchingChangesNothing();
    void theDisconnectButtonCarriesOverWhenListingLinksFails();
    void aStartUpThatRunsTheHandlersLeavesTheFileAsItWas();
    void theDisconnectButtonCarriesTheBalanceOverOnce();
    void anEmptyTableEndsTheProgramWithoutSaving();

  private:
    void Start(const char* settings, const char* bootId = "");
    // A new run over the same folder and system.
    void Restart(const char* bootId);
    QByteArray Saved() const;
    void Tick() { form->Timer1_Timer(); }
    void ExactlyOneTimerRuns();
};

namespace {

constexpr char kWatchRow1[] = "10\r\n2,5\r\n1\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n";
constexpr double kMb = 1048576;

}  // namespace

void AccountingTest::init() {
    dir = std::make_unique<QTemporaryDir>();
    platform = std::make_unique<test::FakePlatform>();
    desktop = std::make_unique<test::FakeDesktop>();
    state = std::make_unique<ProgramState>();
    platform->Add(1, "lo");
    platform->Add(2, "eth0", 5000, 1000);
}

void AccountingTest::cleanup() {
    form.reset();
}

void AccountingTest::Start(const char* settings, const char* bootId) {
    QFile file(dir->filePath("data.dat"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(settings);
    file.close();
    Restart(bootId);
}

void AccountingTest::Restart(const char* bootId) {
    form.reset();
    state = std::make_unique<ProgramState>();
    form = std::make_unique<Form1>(*state, *platform, *desktop);
    form->SetDataDirectory(dir->path());
    form->SetBootId(bootId);
    form->Form_Load();
}

QByteArray AccountingTest::Saved() const {
    QFile f(dir->filePath("data.dat"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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

    platform->Find(2)->received += 1500;
    platform->Find(2)->sent += 500;
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
    platform->Find(2)->received = std::uint32_t(bytes);
    platform->Find(2)->sent = 0;
    Start(kWatchRow1);
    QCOMPARE(form->Label10->text(), QStringLiteral("4,0 Мб"));
    QTEST(form->Label13->text(), "used");
    QTEST(form->Label12->text(), "trafficLeft");
    QTEST(form->Label15->text(), "moneyLeft");
}

void AccountingTest::aCounterPastFourGibibytesBeforeTheStartShowsWhole() {
    platform->counterBits = 64;
    platform->Find(2)->received = 4612518610u;
    Start(kWatchRow1);
    QCOMPARE(form->Label3->text(), QStringLiteral("Принято: 4 612 518 610 байт"));
}

void AccountingTest::otherInterfacesComingAndGoingKeepTheWatchedOneWatched() {
    platform->Find(2)->received = std::uint32_t(kMb);
    platform->Find(2)->sent = 0;
    Start(kWatchRow1);
    platform->Add(7, "ppp0");  // a container, a VPN or a modem comes up
    Tick();
    QCOMPARE(form->List1->count(), 3);
    QCOMPARE(form->List1->currentRow(), 1);
    QCOMPARE(form->Label1->text(), QStringLiteral("eth0"));
    QVERIFY(form->Timer1->isActive());
    ExactlyOneTimerRuns();

    platform->Remove(1);  // a row above the paid one goes: it moves up, and so does the choice
    platform->Find(2)->received += std::uint32_t(kMb);
    Tick();
    QCOMPARE(form->List1->currentRow(), 0);
    QCOMPARE(state->adapterIndex, 0);
    QCOMPARE(form->Label1->text(), QStringLiteral("eth0"));
    QCOMPARE(form->Label13->text(), QStringLiteral("2,0 Мб"));
    QCOMPARE(Saved().split('\n').value(2), QByteArray("0\r"));
    ExactlyOneTimerRuns();
}

void AccountingTest::theListArrowKeysSwitchTheWatchedInterfaceAtEveryStep() {
    platform->Add(3, "wlan0", 777, 0);
    Start(kWatchRow1);
    form->show();
    form->List1->setFocus();
    QTest::keyClick(form->List1, Qt::Key_Down);
    QCOMPARE(form->Label1->text(), QStringLiteral("wlan0"));
    QCOMPARE(form->Label3->text(), QStringLiteral("Принято:    777 байт"));
    QTest::keyClick(form->List1, Qt::Key_Up);
    QTest::keyClick(form->List1, Qt::Key_Up);
    QCOMPARE(form->Label1->text(), QStringLiteral("lo"));
    QCOMPARE(state->adapterIndex, 0);
    QCOMPARE(Saved().split('\n').value(2), QByteArray("0\r"));
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
    platform->Find(2)->received = 4294967000u;
    Start(kWatchRow1);
    platform->Find(2)->received = 704;  // wrapped: 1000 bytes later
    Tick();
    QCOMPARE(form->Label3->text(), QStringLiteral("Принято: 4 294 968 000 байт"));
    platform->Add(30, "veth30");  // a container's link comes up
    platform->Find(2)->received = 1704;
    Tick();
    QCOMPARE(form->Label3->text(), QStringLiteral("Принято: 4 294 969 000 байт"));
    ExactlyOneTimerRuns();
}

void AccountingTest::aReconnectUnderTheSameRowCarriesTheBalanceOver() {
    platform->Find(2)->received = std::uint32_t(1.5 * kMb);
    platform->Find(2)->sent = 0;
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

void AccountingTest::aDroppedLinkIsCarriedOverAndFoundAgainByItsName() {
    platform->Add(4, "ppp0", std::uint32_t(2 * kMb), 0);
    Start("10\r\n2,5\r\n2\r\n");
    QCOMPARE(form->Label1->text(), QStringLiteral("ppp0"));
    platform->Remove(4);
    Tick();
    QCOMPARE(state->moneyLimit, 5.0f);  // 10 - 2 MB at 2,5
    QCOMPARE(form->Label7->text(), QStringLiteral("5,0"));
    QVERIFY(form->Timer2->isActive());
    ExactlyOneTimerRuns();
    platform->Add(3, "wlan0");  // something else comes up first, at the saved row
    platform->Add(9, "ppp0", 300, 0);
    form->Timer2_Timer();
    QCOMPARE(form->List1->currentRow(), 3);
    QCOMPARE(state->adapterIndex, 3);
    QCOMPARE(form->Label1->text(), QStringLiteral("ppp0"));
    QCOMPARE(form->Label3->text(), QStringLiteral("Принято:    300 байт"));
    QCOMPARE(state->moneyLimit, 5.0f);
    ExactlyOneTimerRuns();
}

void AccountingTest::theWaitingTimerWithNothingToReselectWaitsAgain() {
    Start("10\r\n2,5\r\n-1\r\n");
    QVERIFY(form->Timer2->isActive());
    platform->Add(5, "ppp0");
    form->Timer2_Timer();
    QVERIFY(form->List1->selectedItems().isEmpty());
    QVERIFY(form->Timer1->isActive());
    ExactlyOneTimerRuns();
    Tick();
    QVERIFY(form->Timer2->isActive());
    QVERIFY(form->Label1->text().isEmpty());
    ExactlyOneTimerRuns();
}

void AccountingTest::aFailedRefreshWhileWatchingChangesNothing() {
    Start(kWatchRow1);
    platform->Find(2)->received += 4000;
    Tick();
    const QString received = form->Label3->text();
    const QString moneyLeft = form->Label15->text();
    platform->readResult = TableRead::kFailed;
    platform->Find(2)->received += 4000;
    Tick();
    QCOMPARE(form->Label3->text(), received);
    QCOMPARE(form->Label15->text(), moneyLeft);
    QCOMPARE(form->Label4->text(), QStringLiteral("Текущая скорость:   0 байт/сек"));
    QVERIFY(desktop->messages.empty());
    QVERIFY(form->Timer1->isActive());
}

void AccountingTest::theDisconnectButtonCarriesOverWhenListingLinksFails() {
    platform->Find(2)->received = std::uint32_t(1.5 * kMb);
    platform->Find(2)->sent = 0;
    Start(kWatchRow1);
    platform->listResult = {LinkFailure::kFailed, 632};  // ERROR_INVALID_SIZE
    form->Command3_Click();
    QCOMPARE(form->ReturnCode, 632);
    QCOMPARE(state->moneyLimit, 6.25f);
}

void AccountingTest::aStartUpThatRunsTheHandlersLeavesTheFileAsItWas() {
    const QByteArray full = "7,5\r\n2,5\r\n1\r\n1500\r\n1200\r\n3000\r\n2400\r\n1\r\n1\r\n0\r\n";
    Start(full.constData());
    QCOMPARE(form->Label1->text(), QStringLiteral("eth0"));
    QCOMPARE(Saved(), full);
}

void AccountingTest::theDisconnectButtonCarriesTheBalanceOverOnce() {
    platform->Find(2)->received = std::uint32_t(1.5 * kMb);
    platform->Find(2)->sent = 0;
    Start(kWatchRow1);
    form->Command3_Click();
    QCOMPARE(form->Label7->text(), QStringLiteral("6,25"));
    QCOMPARE(state->moneyLimit, 6.25f);
    QCOMPARE(form->Label15->text(), QStringLiteral("6,25 руб"));
    Tick();
    form->Command3_Click();  // the interface stayed: nothing is charged twice
    QCOMPARE(state->moneyLimit, 6.25f);
    platform->Find(2)->received += std::uint32_t(kMb);
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
    QCOMPARE(desktop->messages.back().text, std::string("Не найдено ни одного соединения"));
    QVERIFY(desktop->messages.back().critical);
    QFile after(dir->filePath("data.dat"));
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), before);
}

}  // namespace kv

QTEST_MAIN(kv::AccountingTest)
#include "accounting_test.moc"
