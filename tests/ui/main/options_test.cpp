#include <QApplication>
#include <QPointer>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "support/data_file.h"
#include "support/fake_desktop.h"
#include "support/fake_platform.h"
#include "support/main_window_rig.h"
#include "ui/common/graph_box.h"
#include "ui/indicator/form3.h"
#include "ui/indicator/ticker_line.h"
#include "ui/main/form1.h"

namespace kv {

// The indicator options of the main window, driven as the user clicks them.
class OptionsTest : public QObject, protected test::MainWindowRig {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void theIndicatorSwitchedOffGoesWithItsTimersAndComesBackAfresh();
    void indicatorOnTwiceLeavesOneWindow_data();
    void indicatorOnTwiceLeavesOneWindow();
    void theOnTopChoiceKeepsAShownWindowShownWhereItWas_data();
    void theOnTopChoiceKeepsAShownWindowShownWhereItWas();

  private:
    void Start(const char* settings);
    static int IndicatorWindows();
};

namespace {

// Watching eth0, the indicator at (4500, 1500) twips, i.e. pixel (300, 100); line 9 switches it,
// line 10 shows the player line.
constexpr char kIndicatorOff[] =
    "10\r\n2,5\r\n1\r\n8460\r\n2625\r\n4500\r\n1500\r\n0\r\n0\r\n1\r\n";
constexpr char kIndicatorOn[] = "10\r\n2,5\r\n1\r\n8460\r\n2625\r\n4500\r\n1500\r\n0\r\n1\r\n1\r\n";
// 40 characters: it scrolls one character a step.
constexpr char kLongTitle[] = "0123456789abcdefghijklmnopqrstuvwxyzABCD";

// Counts the events of one type a widget receives.
class EventCounter : public QObject {
  public:
    EventCounter(QWidget& widget, QEvent::Type type) : type_(type) {
        widget.installEventFilter(this);
    }
    int count = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == type_ ? 1 : 0;
        return false;
    }

  private:
    QEvent::Type type_;
};

}  // namespace

void OptionsTest::init() {
    dir = std::make_unique<QTemporaryDir>();
    platform = std::make_unique<test::FakePlatform>();
    desktop = std::make_unique<test::FakeDesktop>();
    platform->Add(1, "lo");
    platform->Add(2, "eth0");
    state = std::make_unique<ProgramState>();
    form = std::make_unique<Form1>(*state, *platform, *desktop);
    form->SetDataDirectory(dir->path());
}

void OptionsTest::cleanup() {
    form.reset();
}

void OptionsTest::Start(const char* settings) {
    QVERIFY(test::WriteDataFile(dir->path(), settings));
    form->Form_Load();
    form->show();
}

int OptionsTest::IndicatorWindows() {
    int count = 0;
    for (const QWidget* w : QApplication::topLevelWidgets()) {
        count += qobject_cast<const Form3*>(w) != nullptr ? 1 : 0;
    }
    return count;
}

void OptionsTest::theOnTopChoiceKeepsAShownWindowShownWhereItWas_data() {
    QTest::addColumn<bool>("onTopBefore");
    QTest::addColumn<bool>("onTop");
    QTest::newRow("put on top") << false << true;
    QTest::newRow("taken off the top") << true << false;
    QTest::newRow("on top again") << true << true;
    QTest::newRow("off the top again") << false << false;
}

// Changing a window flag hides a shown window: the choice must bring it back where it was, and
// leave it untouched when nothing changes.
void OptionsTest::theOnTopChoiceKeepsAShownWindowShownWhereItWas() {
    QFETCH(bool, onTopBefore);
    QFETCH(bool, onTop);
    Start(kIndicatorOff);
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    if (onTopBefore) {
        form->Option1_Click();
    }
    const QPoint place = form->pos();
    EventCounter hides(*form, QEvent::Hide);

    onTop ? form->Option1_Click() : form->Option2_Click();

    QCOMPARE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint), onTop);
    QVERIFY(form->isVisible());
    QCOMPARE(form->pos(), place);
    QCOMPARE(hides.count, onTop == onTopBefore ? 0 : 1);
}

void OptionsTest::theIndicatorSwitchedOffGoesWithItsTimersAndComesBackAfresh() {
    Start(kIndicatorOff);
    QCOMPARE(IndicatorWindows(), 0);
    platform->playerTitle = kLongTitle;

    form->Option4->click();
    QPointer<Form3> first = form->Indicator();
    QVERIFY(first != nullptr);
    QVERIFY(first->isVisible());
    QCOMPARE(first->pos(), QPoint(300, 100));
    const QPointer<QTimer> timers[] = {first->Timer1, first->Timer2, first->Timer3};
    for (const QPointer<QTimer>& timer : timers) {
        QVERIFY(timer->isActive());
    }
    // A while of use: the graph fills, the title turns three times, the window is dragged away.
    for (double speed : {0.0, 5000.0, 9000.0}) {
        state->currentSpeed = speed;
        first->Timer3_Timer();
    }
    QVERIFY(!first->Picture1->Lines().empty());
    for (int step = 0; step < 3; ++step) {
        first->Timer2_Timer();
    }
    QVERIFY(first->Text1->text().startsWith(QStringLiteral("3456789")));
    first->move(700, 500);

    form->Option3->click();
    QVERIFY(first.isNull());
    for (const QPointer<QTimer>& timer : timers) {
        QVERIFY(timer.isNull());
    }
    QVERIFY(form->Indicator() == nullptr);
    QVERIFY(!state->indicatorShown);
    QCOMPARE(IndicatorWindows(), 0);

    state->currentSpeed = 9000;
    form->Option4->click();
    Form3* again = form->Indicator();
    QVERIFY(again != nullptr);
    QCOMPARE(IndicatorWindows(), 1);
    QCOMPARE(again->pos(), QPoint(300, 100));
    QCOMPARE(again->Text1->text(), QString());
    // The grey baseline alone: the old bars are gone and the first step records no speed.
    QCOMPARE(again->Picture1->Lines(), (std::vector<GraphLine>{{0, 20, 181, 20, 0x868686}}));
    // The ticker goes on from where it was, not from the start of the title.
    again->Timer2_Timer();
    QVERIFY2(again->Text1->text().startsWith(QStringLiteral("456789")),
             qPrintable(again->Text1->text()));
}

void OptionsTest::indicatorOnTwiceLeavesOneWindow_data() {
    QTest::addColumn<bool>("atStartUp");
    QTest::newRow("start-up, then a click") << true;
    QTest::newRow("two clicks") << false;
}

void OptionsTest::indicatorOnTwiceLeavesOneWindow() {
    QFETCH(bool, atStartUp);
    Start(atStartUp ? kIndicatorOn : kIndicatorOff);
    if (!atStartUp) {
        form->Option4->click();
    }
    const QPointer<Form3> shown = form->Indicator();
    QVERIFY(shown != nullptr);
    form->Option4->click();
    // The handler itself may run again without a change of selection.
    form->Option4_Click();
    QCOMPARE(form->Indicator(), shown.data());
    QCOMPARE(IndicatorWindows(), 1);
    QVERIFY(shown->isVisible());
    QVERIFY(state->indicatorShown);
    QVERIFY(form->Option4->isChecked());
    QVERIFY(!form->Option3->isChecked());
}

}  // namespace kv

QTEST_MAIN(kv::OptionsTest)
#include "options_test.moc"
