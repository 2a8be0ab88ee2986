#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <utility>

#include "support/fake_desktop.h"
#include "support/fake_platform.h"
#include "ui/main/form1.h"

namespace kv {

// Drives the money panel's value boxes with real key and mouse events.
class EditingTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void aValueLabelOpensItsBoxOnlyWhenTheLeftButtonIsLetGoOverIt_data();
    void aValueLabelOpensItsBoxOnlyWhenTheLeftButtonIsLetGoOverIt();
    void aFullStopTypedBetweenDigitsBecomesACommaWithTheCaretAtTheEnd();
    void lettersTypedOrPastedAmongDigitsAreDropped();
    void aSixthCharacterCannotBeTypedAndAPasteIsCutToFit();
    void enterCommitsTheTypedValueAndTheTrafficLimit_data();
    void enterCommitsTheTypedValueAndTheTrafficLimit();
    void aFailedCommitKeepsThePreviousValueAndEmptiesTheOpenBox_data();
    void aFailedCommitKeepsThePreviousValueAndEmptiesTheOpenBox();
    void enterCommitsWhateverModifierIsHeld_data();
    void enterCommitsWhateverModifierIsHeld();
    void escapeArrowsAndTabNeverCommit();
    void aPressOnTheFreeSurfaceOfThePanelCommits();
    void aPressOnACaptionLabelDoesNotCommit();
    void openingOneBoxCommitsTheOtherFirst();
    void afterAFailedCommitWhileOpeningThePanelCommitsTheTariffBoxFirst();
    void committingTheTextTheBoxOpenedWithOnlyClosesIt();
    void textTheProgramSetsMayBeLongerThanFiveCharacters();
    void aLimitTheProgramCarriesOverLeavesTheTypingInAnOpenBox_data();
    void aLimitTheProgramCarriesOverLeavesTheTypingInAnOpenBox();
    void aCommitRefreshesTheMoneyFiguresWithNothingWatched();

  private:
    QLineEdit* Box(int which) const { return which == 1 ? form->Text1 : form->Text2; }
    QLabel* Label(int which) const { return which == 1 ? form->Label6 : form->Label7; }
    void Open(int which) { QTest::mouseClick(Label(which), Qt::LeftButton); }
    void PressFreePanel();

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<test::FakePlatform> platform;
    std::unique_ptr<test::FakeDesktop> desktop;
    std::unique_ptr<ProgramState> state;
    std::unique_ptr<Form1> form;
    int saves = 0;
};

void EditingTest::init() {
    dir = std::make_unique<QTemporaryDir>();
    platform = std::make_unique<test::FakePlatform>();
    desktop = std::make_unique<test::FakeDesktop>();
    platform->Add(1, "eth0");
    state = std::make_unique<ProgramState>();
    form = std::make_unique<Form1>(*state, *platform, *desktop);
    form->SetDataDirectory(dir->path());
    form->OnSettingsChanged = [this] { ++saves; };
    form->Form_Load();
    form->show();
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    // Start from the same values whatever settings file start-up found.
    for (const auto& [which, text] : {std::pair{1, "2,5"}, std::pair{2, "10"}}) {
        Open(which);
        QTest::keyClicks(Box(which), text);
        QTest::keyClick(Box(which), Qt::Key_Return);
        QVERIFY(Box(which)->isHidden());
    }
    saves = 0;
    QCOMPARE(state->moneyLimit, 10.0f);
    QCOMPARE(state->tariffPerMb, 2.5f);
    QCOMPARE(form->Label10->text(), QStringLiteral("4,0 Мб"));
}

void EditingTest::cleanup() {
    form.reset();
    state.reset();
    platform.reset();
}

void EditingTest::PressFreePanel() {
    // Left of the lower captions and below the tariff and limit rows.
    const QPoint free(30, 60);
    QVERIFY(form->Frame3->childAt(free) == nullptr);
    QTest::mousePress(form->Frame3, Qt::LeftButton, {}, free);
}

void EditingTest::aValueLabelOpensItsBoxOnlyWhenTheLeftButtonIsLetGoOverIt_data() {
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("releaseOver");
    QTest::addColumn<bool>("opens");
    for (int which : {1, 2}) {
        const QByteArray label = which == 1 ? "tariff: " : "limit: ";
        QTest::newRow(label + "left click") << which << int(Qt::LeftButton) << true << true;
        QTest::newRow(label + "left let go elsewhere")
            << which << int(Qt::LeftButton) << false << false;
        QTest::newRow(label + "right click") << which << int(Qt::RightButton) << true << false;
        QTest::newRow(label + "middle click") << which << int(Qt::MiddleButton) << true << false;
    }
}

void EditingTest::aValueLabelOpensItsBoxOnlyWhenTheLeftButtonIsLetGoOverIt() {
    QFETCH(int, which);
    QFETCH(int, button);
    QFETCH(bool, releaseOver);
    QFETCH(bool, opens);
    QLabel* label = Label(which);
    const auto pressed = Qt::MouseButton(button);
    QTest::mousePress(label, pressed);
    // Nothing happens while the button is down, whichever it is.
    QVERIFY(Box(which)->isHidden());
    QVERIFY(!label->isHidden());
    // Left of the label, over its caption: the release still goes to the pressed label.
    const QPoint outside(-20, label->height() / 2);
    QTest::mouseRelease(label, pressed, {}, releaseOver ? label->rect().center() : outside);
    QCOMPARE(Box(which)->isHidden(), !opens);
    QCOMPARE(label->isHidden(), opens);
    QCOMPARE(saves, 0);
}

void EditingTest::aFullStopTypedBetweenDigitsBecomesACommaWithTheCaretAtTheEnd() {
    Open(1);
    QTest::keyClicks(form->Text1, "2.5");
    QCOMPARE(form->Text1->text(), QStringLiteral("2,5"));
    QCOMPARE(form->Text1->cursorPosition(), 3);
}

void EditingTest::lettersTypedOrPastedAmongDigitsAreDropped() {
    Open(2);
    QTest::keyClicks(form->Text2, "1a -2");
    QCOMPARE(form->Text2->text(), QStringLiteral("12"));
    QApplication::clipboard()->setText(QStringLiteral("3б4"));
    QTest::keyClick(form->Text2, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(form->Text2->text(), QStringLiteral("1234"));
}

void EditingTest::aSixthCharacterCannotBeTypedAndAPasteIsCutToFit() {
    Open(1);
    QTest::keyClicks(form->Text1, "12345");
    QTest::keyClick(form->Text1, Qt::Key_Home);
    QTest::keyClicks(form->Text1, "6");
    QCOMPARE(form->Text1->text(), QStringLiteral("12345"));
    QTest::keyClick(form->Text1, Qt::Key_End);
    QTest::keyClicks(form->Text1, "6");
    QCOMPARE(form->Text1->text(), QStringLiteral("12345"));

    form->Text1->selectAll();
    QApplication::clipboard()->setText(QStringLiteral("9a8.7654"));
    QTest::keyClick(form->Text1, Qt::Key_V, Qt::ControlModifier);
    // Cut to the five characters that fit, then filtered.
    QCOMPARE(form->Text1->text(), QStringLiteral("98,7"));
    QCOMPARE(form->Text1->cursorPosition(), 4);
}

void EditingTest::enterCommitsTheTypedValueAndTheTrafficLimit_data() {
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<float>("tariff");
    QTest::addColumn<float>("limit");
    QTest::addColumn<QString>("trafficLimit");
    QTest::newRow("tariff 3") << 1 << "3"
                              << "3" << 3.0f << 10.0f << "3,33 Мб";
    QTest::newRow("tariff ,5") << 1 << ",5"
                               << ",5" << 0.5f << 10.0f << "20,0 Мб";
    QTest::newRow("tariff 02,50") << 1 << "02.50"
                                  << "02,50" << 2.5f << 10.0f << "4,0 Мб";
    QTest::newRow("tariff 5,") << 1 << "5,"
                               << "5," << 5.0f << 10.0f << "2,0 Мб";
    QTest::newRow("limit 0") << 2 << "0"
                             << "0" << 2.5f << 0.0f << "0,0 Мб";
    QTest::newRow("limit 1234,5") << 2 << "1234,5"
                                  << "1234," << 2.5f << 1234.0f << "493,6 Мб";
}

void EditingTest::enterCommitsTheTypedValueAndTheTrafficLimit() {
    QFETCH(int, box);
    QFETCH(QString, typed);
    Open(box);
    QTest::keyClicks(Box(box), typed);
    QTest::keyClick(Box(box), Qt::Key_Return);

    QTEST(state->tariffPerMb, "tariff");
    QTEST(state->moneyLimit, "limit");
    QTEST(Label(box)->text(), "caption");
    QTEST(form->Label10->text(), "trafficLimit");
    QVERIFY(Box(box)->isHidden());
    QVERIFY(!Label(box)->isHidden());
    QCOMPARE(saves, 1);
}

void EditingTest::aFailedCommitKeepsThePreviousValueAndEmptiesTheOpenBox_data() {
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("typed");
    QTest::newRow("empty tariff") << 1 << "";
    QTest::newRow("lone comma") << 1 << ",";
    QTest::newRow("two commas") << 1 << "1,2,3";
    QTest::newRow("zero tariff") << 1 << "0";
    QTest::newRow("zero tariff with decimals") << 1 << "0,00";
    QTest::newRow("empty limit") << 2 << "";
    QTest::newRow("two commas in the limit") << 2 << "5,,";
}

void EditingTest::aFailedCommitKeepsThePreviousValueAndEmptiesTheOpenBox() {
    QFETCH(int, box);
    QFETCH(QString, typed);
    Open(box);
    QTest::keyClick(Box(box), Qt::Key_Delete);
    QTest::keyClicks(Box(box), typed);
    QTest::keyClick(Box(box), Qt::Key_Return);

    QCOMPARE(state->tariffPerMb, 2.5f);
    QCOMPARE(state->moneyLimit, 10.0f);
    QCOMPARE(Box(box)->text(), QString());
    QVERIFY(!Box(box)->isHidden());
    QVERIFY(Box(box)->hasFocus());
    QVERIFY(Label(box)->isHidden());
    QCOMPARE(Label(box)->text(), box == 1 ? QStringLiteral("2,5") : QStringLiteral("10"));
    QCOMPARE(form->Label10->text(), QStringLiteral("4,0 Мб"));
    QCOMPARE(saves, 0);

    // The box takes a good value afterwards.
    QTest::keyClicks(Box(box), "4");
    QTest::keyClick(Box(box), Qt::Key_Return);
    QVERIFY(Box(box)->isHidden());
    QCOMPARE(Label(box)->text(), QStringLiteral("4"));
}

void EditingTest::enterCommitsWhateverModifierIsHeld_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::newRow("return") << int(Qt::Key_Return) << Qt::KeyboardModifiers();
    QTest::newRow("shift return") << int(Qt::Key_Return)
                                  << Qt::KeyboardModifiers(Qt::ShiftModifier);
    QTest::newRow("ctrl alt return")
        << int(Qt::Key_Return) << (Qt::ControlModifier | Qt::AltModifier);
    QTest::newRow("keypad enter") << int(Qt::Key_Enter)
                                  << Qt::KeyboardModifiers(Qt::KeypadModifier);
}

void EditingTest::enterCommitsWhateverModifierIsHeld() {
    QFETCH(int, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    Open(1);
    QTest::keyClicks(form->Text1, "5");
    QTest::keyClick(form->Text1, Qt::Key(key), modifiers);
    QCOMPARE(state->tariffPerMb, 5.0f);
    QVERIFY(form->Text1->isHidden());
}

void EditingTest::escapeArrowsAndTabNeverCommit() {
    Open(1);
    QTest::keyClicks(form->Text1, "5");
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down,
                              Qt::Key_Tab, Qt::Key_Backtab}) {
        QTest::keyClick(form->Text1, key);
    }
    QCOMPARE(state->tariffPerMb, 2.5f);
    QCOMPARE(form->Text1->text(), QStringLiteral("5"));
    QVERIFY(!form->Text1->isHidden());
    QVERIFY(form->Label6->isHidden());
    QCOMPARE(saves, 0);
}

void EditingTest::aPressOnTheFreeSurfaceOfThePanelCommits() {
    PressFreePanel();
    QCOMPARE(saves, 0);

    Open(1);
    QTest::keyClicks(form->Text1, "3");
    PressFreePanel();
    QCOMPARE(state->tariffPerMb, 3.0f);
    QCOMPARE(form->Label10->text(), QStringLiteral("3,33 Мб"));
    QVERIFY(form->Text1->isHidden());
}

void EditingTest::aPressOnACaptionLabelDoesNotCommit() {
    Open(1);
    QTest::keyClicks(form->Text1, "3");
    QTest::mousePress(form->Label5, Qt::LeftButton);
    QCOMPARE(state->tariffPerMb, 2.5f);
    QVERIFY(!form->Text1->isHidden());
}

void EditingTest::openingOneBoxCommitsTheOtherFirst() {
    Open(1);
    QTest::keyClicks(form->Text1, "4");
    Open(2);
    QCOMPARE(state->tariffPerMb, 4.0f);
    QCOMPARE(form->Label6->text(), QStringLiteral("4"));
    QCOMPARE(form->Label10->text(), QStringLiteral("2,5 Мб"));
    QVERIFY(form->Text1->isHidden());
    QVERIFY(!form->Text2->isHidden());
    QVERIFY(form->Text2->hasFocus());
    QCOMPARE(form->Text2->selectedText(), QStringLiteral("10"));
}

void EditingTest::afterAFailedCommitWhileOpeningThePanelCommitsTheTariffBoxFirst() {
    Open(1);
    QTest::keyClicks(form->Text1, "0");
    Open(2);
    QCOMPARE(state->tariffPerMb, 2.5f);
    QVERIFY(!form->Text1->isHidden());
    QCOMPARE(form->Text1->text(), QString());
    QVERIFY(!form->Text2->isHidden());

    QTest::keyClicks(form->Text2, "20");
    QTest::keyClicks(form->Text1, "5");
    PressFreePanel();
    QCOMPARE(state->tariffPerMb, 5.0f);
    QCOMPARE(state->moneyLimit, 10.0f);
    QVERIFY(!form->Text2->isHidden());
    PressFreePanel();
    QCOMPARE(state->moneyLimit, 20.0f);
    QCOMPARE(form->Label10->text(), QStringLiteral("4,0 Мб"));
}

void EditingTest::committingTheTextTheBoxOpenedWithOnlyClosesIt() {
    // Money spent since the box last took its text must not come back.
    state->moneyLimit = 7.5f;
    Open(2);
    QTest::keyClick(form->Text2, Qt::Key_Return);
    QCOMPARE(state->moneyLimit, 7.5f);
    QVERIFY(form->Text2->isHidden());
    QVERIFY(!form->Label7->isHidden());
    QCOMPARE(saves, 0);
}

void EditingTest::textTheProgramSetsMayBeLongerThanFiveCharacters() {
    state->moneyLimit = 12345.67f;
    form->CarryOver();
    QCOMPARE(form->Text2->text(), QStringLiteral("12345,67"));
    QCOMPARE(form->Label7->text(), QStringLiteral("12345,67"));

    Open(2);
    QTest::keyClick(form->Text2, Qt::Key_End);
    QTest::keyClicks(form->Text2, "8");
    QCOMPARE(form->Text2->text(), QStringLiteral("12345,67"));
    const int before = saves;
    QTest::keyClick(form->Text2, Qt::Key_Return);
    QVERIFY(form->Text2->isHidden());
    QCOMPARE(state->moneyLimit, 12345.67f);
    QCOMPARE(saves, before);
}

// The user has just paid and is typing the new balance when the link drops.
void EditingTest::aLimitTheProgramCarriesOverLeavesTheTypingInAnOpenBox_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<float>("limit");
    QTest::addColumn<QString>("shown");
    QTest::newRow("a top-up typed") << "110" << 110.0f << "110";
    QTest::newRow("nothing typed") << "" << 5.0f << "5,0";
}

void EditingTest::aLimitTheProgramCarriesOverLeavesTheTypingInAnOpenBox() {
    QFETCH(QString, typed);
    platform->Add(7, "ppp0", 2 * 1048576);
    form->Timer2_Timer();
    form->List1->setCurrentRow(1);
    QCOMPARE(form->Label1->text(), QStringLiteral("ppp0"));
    Open(2);
    QTest::keyClicks(form->Text2, typed);
    platform->Remove(7);
    form->Timer1_Timer();
    QCOMPARE(state->moneyLimit, 5.0f);
    QCOMPARE(form->Text2->text(), typed.isEmpty() ? QStringLiteral("10") : typed);
    QTest::keyClick(form->Text2, Qt::Key_Return);
    QTEST(state->moneyLimit, "limit");
    QTEST(form->Label7->text(), "shown");
    Open(2);
    QTEST(form->Text2->text(), "shown");
}

void EditingTest::aCommitRefreshesTheMoneyFiguresWithNothingWatched() {
    QVERIFY(form->Timer2->isActive());
    Open(2);
    QTest::keyClicks(form->Text2, "20");
    QTest::keyClick(form->Text2, Qt::Key_Return);
    QCOMPARE(form->Label10->text(), QStringLiteral("8,0 Мб"));
    QCOMPARE(form->Label12->text(), QStringLiteral("8,0 Мб"));
    QCOMPARE(form->Label15->text(), QStringLiteral("20,0 руб"));
}

}  // namespace kv

QTEST_MAIN(kv::EditingTest)
#include "editing_test.moc"
