#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include <pwd.h>
#include <unistd.h>

#include "support/fake_desktop.h"
#include "support/fake_platform.h"
#include "support/main_window_rig.h"
#include "support/send_mouse.h"
#include "ui/about/form2.h"
#include "ui/common/graph_box.h"
#include "ui/indicator/form3.h"
#include "ui/main/form1.h"

Q_DECLARE_METATYPE(std::vector<kv::test::FakePlatform::Link>)
Q_DECLARE_METATYPE(std::vector<std::uint32_t>)
Q_DECLARE_METATYPE(kv::LinkResult)

namespace kv {

// Start-up, saving, the exit command, the tray, the hang-up button and F1, driven through the
// main window over a scripted platform and a private settings folder.
class ShellTest : public QObject, protected test::MainWindowRig {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void aFirstStartWritesTheDefaultsAndWaitsForAChoice();
    void theSavedInterfaceIsWatchedOnlyWhenTheTableHasIt_data();
    void theSavedInterfaceIsWatchedOnlyWhenTheTableHasIt();
    void lineEightPutsTheWindowOnTopOnlyForAnExactOne_data();
    void lineEightPutsTheWindowOnTopOnlyForAnExactOne();
    void anEmptyTableStopsWithoutSaving_data();
    void anEmptyTableStopsWithoutSaving();
    void aBoxFromATickHoldsEveryTimerUntilItCloses_data();
    void aBoxFromATickHoldsEveryTimerUntilItCloses();
    void exitWithTheIndicatorShownRecordsItWhereItIs();
    void theCloseBoxSavesAndEndsLikeTheExitCommand();
    void eachUserChangeReachesTheFileAtOnce_data();
    void eachUserChangeReachesTheFileAtOnce();
    void aFailedSaveIsReportedOnceAfterTheHandlerAndTheProgramRunsOn();
    void aFailedSaveIsToldInWordsThatFitTheMoment_data();
    void aFailedSaveIsToldInWordsThatFitTheMoment();
    void anUnreadableFileIsReportedOnceAndNeverWrittenOver();
    void trayActivationsToggleOrExit_data();
    void trayActivationsToggleOrExit();
    void aTrayClickActsOnceTheIconsOwnEventIsOver_data();
    void aTrayClickActsOnceTheIconsOwnEventIsOver();
    void aDoubleClickOnTheTrayTogglesTwiceAndKeepsThePlace();
    void theTrayIconShowsTheProgramTitle();
    void anotherCopyBringsTheHiddenWindowBack();
    void hangUpEndsEveryConnectionInOrder_data();
    void hangUpEndsEveryConnectionInOrder();
    void theDisconnectButtonCarriesTheMoneyLeftForward_data();
    void theDisconnectButtonCarriesTheMoneyLeftForward();
    void f1OpensOneAboutWindowAndAClosedOneOpensFresh();

  private:
    void WriteSettings(const QByteArray& text);
    QByteArray ReadSettings() const;
    QList<QByteArray> SavedLines() const;
    void Start();
    // A file where the settings folder was: nothing can be written there, not even by root.
    void BlockTheFolder();
    QStringList RunningTimers() const;
};

namespace {

constexpr char kWatchRow0[] = "10\r\n2,5\r\n0\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n";
constexpr char kDefaults[] = "10\r\n2,5\r\n-1\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n";
constexpr double kMb = 1048576;

}  // namespace

void ShellTest::init() {
    dir = std::make_unique<QTemporaryDir>();
    platform = std::make_unique<test::FakePlatform>();
    desktop = std::make_unique<test::FakeDesktop>();
    state = std::make_unique<ProgramState>();
    platform->Add(1, "lo");
    platform->Add(2, "eth0");
    form = std::make_unique<Form1>(*state, *platform, *desktop);
    form->SetDataDirectory(dir->path());
}

void ShellTest::cleanup() {
    form.reset();
}

void ShellTest::WriteSettings(const QByteArray& text) {
    QFile file(dir->filePath("data.dat"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray ShellTest::ReadSettings() const {
    QFile file(dir->filePath("data.dat"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QByteArray> ShellTest::SavedLines() const {
    QList<QByteArray> lines = ReadSettings().split('\n');
    for (QByteArray& line : lines) {
        line.chop(line.endsWith('\r') ? 1 : 0);
    }
    if (!lines.isEmpty() && lines.last().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

void ShellTest::Start() {
    form->Form_Load();
    form->show();
}

void ShellTest::BlockTheFolder() {
    QVERIFY(QDir(dir->path()).removeRecursively());
    QFile blocker(dir->path());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
}

QStringList ShellTest::RunningTimers() const {
    QStringList names;
    const auto add = [&names](const char* name, const QTimer* timer) {
        if (timer->isActive()) {
            names << QString::fromLatin1(name);
        }
    };
    add("Form1.Timer1", form->Timer1);
    add("Form1.Timer2", form->Timer2);
    if (const Form3* indicator = form->Indicator()) {
        add("Form3.Timer1", indicator->Timer1);
        add("Form3.Timer2", indicator->Timer2);
        add("Form3.Timer3", indicator->Timer3);
    }
    return names;
}

namespace {

// Handlers leave some work for after their event; a call queued now runs after all of it.
[[nodiscard]] bool QueuedCallsRan() {
    bool ran = false;
    QMetaObject::invokeMethod(
        qApp, [&ran] { ran = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([&ran] { return ran; });
}

// Root reads any file whatever its mode. While this lives the test acts as nobody, who then owns
// the folder and the file, of mode 200; a test run by a user reads as that user, the owner.
class UnreadableFile {
  public:
    UnreadableFile(const QString& folder, const QString& file) {
        const passwd* nobody = getpwnam("nobody");
        if (geteuid() == 0 && nobody != nullptr) {
            for (const QString& path : {folder, file}) {
                ok_ = ok_ && chown(QFile::encodeName(path).constData(), nobody->pw_uid,
                                   nobody->pw_gid) == 0;
            }
            asNobody_ = true;
        }
        ok_ = ok_ && QFile::setPermissions(file, QFileDevice::WriteOwner);
        if (asNobody_) {
            ok_ = ok_ && setegid(nobody->pw_gid) == 0 && seteuid(nobody->pw_uid) == 0;
        }
    }
    ~UnreadableFile() {
        if (asNobody_) {
            [[maybe_unused]] const int user = seteuid(0);
            [[maybe_unused]] const int group = setegid(0);
        }
    }
    UnreadableFile(const UnreadableFile&) = delete;
    UnreadableFile& operator=(const UnreadableFile&) = delete;

    bool ok() const { return ok_; }

  private:
    bool ok_ = true;
    bool asNobody_ = false;
};

}  // namespace

void ShellTest::aFirstStartWritesTheDefaultsAndWaitsForAChoice() {
    Start();
    // Start-up writes the defaults and nothing else: the handlers it drives must not save.
    QCOMPARE(ReadSettings(), QByteArray(kDefaults));
    QCOMPARE(ReadSettings().size(), 43);
    QCOMPARE(form->pos(), QPoint(564, 175));
    QVERIFY(!form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QVERIFY(form->Option2->isChecked());
    QVERIFY(form->Option3->isChecked());
    QVERIFY(form->Indicator() == nullptr);
    QCOMPARE(form->Label6->text(), QStringLiteral("2,5"));
    QCOMPARE(form->Text2->text(), QStringLiteral("10"));
    QCOMPARE(form->Label10->text(), QStringLiteral("4,0 Мб"));
    QCOMPARE(form->List1->count(), 2);
    QVERIFY(form->List1->selectedItems().isEmpty());
    QVERIFY(!form->Timer1->isActive());
    QVERIFY(form->Timer2->isActive());
    QVERIFY(state->mainWindowShown);
    QVERIFY(desktop->messages.empty());
}

void ShellTest::theSavedInterfaceIsWatchedOnlyWhenTheTableHasIt_data() {
    QTest::addColumn<QByteArray>("line3");
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("watching");
    QTest::newRow("none chosen") << QByteArray("-1") << -1 << false;
    QTest::newRow("the last row") << QByteArray("1") << 1 << true;
    QTest::newRow("one past the table") << QByteArray("2") << -1 << false;
    QTest::newRow("far past the table") << QByteArray("3") << -1 << false;
}

void ShellTest::theSavedInterfaceIsWatchedOnlyWhenTheTableHasIt() {
    QFETCH(QByteArray, line3);
    QFETCH(int, selected);
    QFETCH(bool, watching);
    WriteSettings("10\r\n2,5\r\n" + line3 + "\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n");
    Start();
    QCOMPARE(form->List1->selectedItems().isEmpty(), selected < 0);
    if (selected >= 0) {
        QCOMPARE(form->List1->currentRow(), selected);
    }
    QCOMPARE(form->Timer1->isActive(), watching);
    QCOMPARE(form->Timer2->isActive(), !watching);
}

void ShellTest::lineEightPutsTheWindowOnTopOnlyForAnExactOne_data() {
    QTest::addColumn<QByteArray>("line8");
    QTest::addColumn<bool>("applied");  // the window leaves the band it was put in beforehand
    QTest::addColumn<bool>("onTop");
    QTest::newRow("one") << QByteArray("1") << true << true;
    QTest::newRow("zero") << QByteArray("0") << true << false;
    QTest::newRow("one with a blank") << QByteArray("1 ") << false << false;
    QTest::newRow("absent") << QByteArray() << false << false;
}

void ShellTest::lineEightPutsTheWindowOnTopOnlyForAnExactOne() {
    QFETCH(QByteArray, line8);
    QFETCH(bool, applied);
    QFETCH(bool, onTop);
    QByteArray text = "10\r\n2,5\r\n-1\r\n8460\r\n2625\r\n8460\r\n2625\r\n";
    if (!line8.isEmpty()) {
        text += line8 + "\r\n";
    }
    WriteSettings(text);
    // On top beforehand: only a choice that is applied takes it out of the band.
    form->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    form->Form_Load();
    // Applied before the window is first shown.
    QVERIFY(!form->isVisible());
    QCOMPARE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint), applied ? onTop : true);
    QCOMPARE(form->Option1->isChecked(), onTop);
    QCOMPARE(form->Option2->isChecked(), !onTop);
}

void ShellTest::anEmptyTableStopsWithoutSaving_data() {
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<int>("handler");
    QTest::addColumn<bool>("exitWhileTheBoxIsOpen");
    enum { kLoad, kWatching, kWaiting };
    QTest::newRow("at start-up") << QByteArray(kWatchRow0) << int(kLoad) << false;
    QTest::newRow("in the accounting tick") << QByteArray(kWatchRow0) << int(kWatching) << false;
    QTest::newRow("in the waiting timer") << QByteArray(kDefaults) << int(kWaiting) << false;
    // A termination signal runs the exit command, which would save.
    QTest::newRow("in the waiting timer, asked to end while the box is open")
        << QByteArray(kDefaults) << int(kWaiting) << true;
}

void ShellTest::anEmptyTableStopsWithoutSaving() {
    QFETCH(QByteArray, settings);
    QFETCH(int, handler);
    QFETCH(bool, exitWhileTheBoxIsOpen);
    WriteSettings(settings);
    if (handler != 0) {
        Start();
        QCOMPARE(form->Timer2->isActive(), handler == 2);
    }
    platform->interfaces.clear();
    if (exitWhileTheBoxIsOpen) {
        desktop->whileBoxIsOpen = [this](const test::FakeDesktop::Message&) {
            form->Command1_Click();
        };
    }
    int exitCode = 0;
    try {
        switch (handler) {
            case 0:
                form->Form_Load();
                break;
            case 1:
                form->Timer1_Timer();
                break;
            default:
                form->Timer2_Timer();
                break;
        }
    } catch (const test::ProcessExit& exit) {
        exitCode = exit.code;
    }
    QCOMPARE(exitCode, 1);
    QCOMPARE(desktop->messages.size(), std::size_t(1));
    QCOMPARE(desktop->messages[0].text, std::string("Не найдено ни одного соединения"));
    QVERIFY(desktop->messages[0].critical);
    QCOMPARE(ReadSettings(), settings);
    QVERIFY(!form->Timer1->isActive());
    QVERIFY(!form->Timer2->isActive());
}

void ShellTest::aBoxFromATickHoldsEveryTimerUntilItCloses_data() {
    QTest::addColumn<QByteArray>("line3");
    QTest::newRow("watching") << QByteArray("1");
    QTest::newRow("waiting") << QByteArray("-1");
}

// A box runs an event loop of its own: a timer firing there would open the next box on top of it.
void ShellTest::aBoxFromATickHoldsEveryTimerUntilItCloses() {
    QFETCH(QByteArray, line3);
    WriteSettings("10\r\n2,5\r\n" + line3 + "\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n1\r\n1\r\n");
    Start();
    const QStringList before = RunningTimers();
    QCOMPARE(before.size(), 4);  // one of the main window's and the indicator's three
    QStringList whileOpen{QStringLiteral("no box was opened")};
    desktop->whileBoxIsOpen = [&](const test::FakeDesktop::Message&) {
        whileOpen = RunningTimers();
    };
    platform->readResult = TableRead::kNotSupported;

    if (form->Timer1->isActive()) {
        form->Timer1_Timer();
    } else {
        form->Timer2_Timer();
    }

    QCOMPARE(desktop->messages.size(), std::size_t(1));
    QCOMPARE(desktop->messages[0].text, std::string("ОС не поодерживает требуемые функции."));
    QVERIFY(desktop->messages[0].critical);
    QCOMPARE(whileOpen, QStringList());
    QCOMPARE(RunningTimers(), before);
}

void ShellTest::exitWithTheIndicatorShownRecordsItWhereItIs() {
    WriteSettings("7,35\r\n3\r\n1\r\n1500\r\n750\r\n8460\r\n2625\r\n1\r\n1\r\n0\r\n");
    Start();
    QVERIFY(form->Indicator() != nullptr);
    QVERIFY(state->indicatorShown);
    QVERIFY(form->Option4->isChecked());
    form->Indicator()->move(200, 40);
    QCoreApplication::processEvents();

    form->Command1_Click();

    QCOMPARE(SavedLines(),
             (QList<QByteArray>{"7,35", "3", "1", "1500", "750", "3000", "600", "1", "1", "0"}));
    QVERIFY(ReadSettings().endsWith("\r\n"));
    QVERIFY(form->Indicator() == nullptr);
    QVERIFY(form->About() == nullptr);
    QVERIFY(form->TrayIcon() == nullptr);
    QVERIFY(!form->isVisible());
    QVERIFY(!form->Timer1->isActive());
    QVERIFY(!form->Timer2->isActive());
}

void ShellTest::theCloseBoxSavesAndEndsLikeTheExitCommand() {
    Start();
    form->Form_KeyDown(Form1::kAboutKey);
    form->close();
    QCOMPARE(SavedLines().size(), 10);
    QCOMPARE(SavedLines().last(), QByteArray("1"));
    QVERIFY(form->TrayIcon() == nullptr);
    QVERIFY(form->About() == nullptr);
    QVERIFY(!form->isVisible());
}

void ShellTest::eachUserChangeReachesTheFileAtOnce_data() {
    QTest::addColumn<int>("change");
    QTest::addColumn<int>("line");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("on top") << 0 << 8 << QByteArray("1");
    QTest::newRow("indicator on") << 1 << 9 << QByteArray("1");
    QTest::newRow("adapter chosen") << 2 << 3 << QByteArray("1");
    QTest::newRow("tariff committed") << 3 << 2 << QByteArray("4");
    QTest::newRow("balance carried over") << 4 << 1 << QByteArray("10");
    QTest::newRow("player line off") << 5 << 10 << QByteArray("0");
    QTest::newRow("indicator dragged") << 6 << 6 << QByteArray("4500");
}

void ShellTest::eachUserChangeReachesTheFileAtOnce() {
    QFETCH(int, change);
    QFETCH(int, line);
    QFETCH(QByteArray, expected);
    Start();
    switch (change) {
        case 0:
            form->Option1->click();
            break;
        case 1:
            form->Option4->click();
            break;
        case 2:
            form->List1->setCurrentRow(1);
            break;
        case 3:
            form->Label6_Click();
            QTest::keyClicks(form->Text1, QStringLiteral("4"));
            form->Text1_KeyDown(Form1::kEnterKey);
            break;
        case 4:
            form->Command3_Click();
            break;
        case 5:
            form->Option4->click();
            test::SendMouse(form->Indicator()->Picture1, QEvent::MouseButtonDblClick,
                            Qt::LeftButton, Qt::LeftButton);
            break;
        case 6: {
            form->Option4->click();
            form->Indicator()->move(200, 40);
            QWidget* strip = form->Indicator()->Picture1;
            desktop->pointer = {210, 45};
            test::SendMouse(strip, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
            desktop->pointer = {310, 145};
            test::SendMouse(strip, QEvent::MouseMove, Qt::NoButton, Qt::LeftButton);
            QCOMPARE(SavedLines()[5], QByteArray("8460"));  // not while it is still moving
            test::SendMouse(strip, QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton);
            break;
        }
    }
    const QList<QByteArray> lines = SavedLines();
    QCOMPARE(lines.size(), 10);
    QCOMPARE(lines[line - 1], expected);
}

void ShellTest::aFailedSaveIsReportedOnceAfterTheHandlerAndTheProgramRunsOn() {
    Start();
    BlockTheFolder();

    form->Option1->click();
    QVERIFY(desktop->messages.empty());
    QTRY_COMPARE(desktop->messages.size(), std::size_t(1));
    QVERIFY(desktop->messages[0].text.find("Не удалось сохранить") != std::string::npos);
    QVERIFY(desktop->messages[0].text.find(dir->path().toStdString()) != std::string::npos);
    QVERIFY(desktop->messages[0].critical);

    form->Option2->click();
    form->List1->setCurrentRow(1);
    QVERIFY(QueuedCallsRan());
    QCOMPARE(desktop->messages.size(), std::size_t(1));
    QVERIFY(form->Timer1->isActive());
    QVERIFY(form->isVisible());
    QFile::remove(dir->path());
}

void ShellTest::aFailedSaveIsToldInWordsThatFitTheMoment_data() {
    QTest::addColumn<bool>("atExit");
    QTest::addColumn<QString>("ending");
    QTest::newRow("while running")
        << false << ". Программа продолжит работу, но изменения не сохранятся.";
    QTest::newRow("at exit") << true << ". Изменения, сделанные в этом запуске, не сохранены.";
}

void ShellTest::aFailedSaveIsToldInWordsThatFitTheMoment() {
    QFETCH(bool, atExit);
    QFETCH(QString, ending);
    Start();
    BlockTheFolder();
    if (atExit) {
        form->Command1_Click();
        // As the program does once its event loop has ended.
        form->ShowPendingSettingsTrouble();
    } else {
        form->Option1->click();
        QVERIFY(QueuedCallsRan());
    }
    QCOMPARE(desktop->messages.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(desktop->messages[0].text),
             "Не удалось сохранить настройки в " + dir->filePath("data.dat") + ending);
    QFile::remove(dir->path());
}

void ShellTest::anUnreadableFileIsReportedOnceAndNeverWrittenOver() {
    const QByteArray text = "7,35\r\n3\r\n1\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n";
    WriteSettings(text);
    const QString file = dir->filePath("data.dat");
    {
        const UnreadableFile unreadable(dir->path(), file);
        QVERIFY(unreadable.ok());
        Start();
        QVERIFY(desktop->messages.empty());
        QVERIFY(QueuedCallsRan());
        QCOMPARE(desktop->messages.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(desktop->messages[0].text),
                 "Не удалось прочитать настройки из " + file +
                     ". Программа работает с настройками по умолчанию, изменения в этом запуске не "
                     "будут сохранены.");
        QVERIFY(desktop->messages[0].critical);
        QCOMPARE(form->Label6->text(), QStringLiteral("2,5"));

        form->Option1->click();
        form->List1->setCurrentRow(1);
        platform->Find(2)->received += std::uint32_t(kMb);
        form->Timer1_Timer();
        form->Command3_Click();  // paid on a link that stays up: no mark without the limit
        form->Command1_Click();
        form->ShowPendingSettingsTrouble();
        QVERIFY(QueuedCallsRan());
        QCOMPARE(desktop->messages.size(), std::size_t(1));
    }
    QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(ReadSettings(), text);
    QVERIFY(!QFile::exists(dir->filePath("paid.dat")));
}

void ShellTest::trayActivationsToggleOrExit_data() {
    QTest::addColumn<bool>("shownBefore");
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("shownAfter");
    QTest::addColumn<bool>("exits");
    using R = QSystemTrayIcon;
    QTest::newRow("click hides") << true << int(R::Trigger) << false << false;
    QTest::newRow("click shows") << false << int(R::Trigger) << true << false;
    QTest::newRow("double click hides") << true << int(R::DoubleClick) << false << false;
    QTest::newRow("double click shows") << false << int(R::DoubleClick) << true << false;
    QTest::newRow("middle click does nothing") << true << int(R::MiddleClick) << true << false;
    QTest::newRow("unknown does nothing") << false << int(R::Unknown) << false << false;
    QTest::newRow("right click exits") << true << int(R::Context) << false << true;
    QTest::newRow("right click exits while hidden") << false << int(R::Context) << false << true;
}

void ShellTest::trayActivationsToggleOrExit() {
    QFETCH(bool, shownBefore);
    QFETCH(int, reason);
    QFETCH(bool, shownAfter);
    QFETCH(bool, exits);
    Start();
    if (!shownBefore) {
        form->Command2_Click();
    }
    QCOMPARE(form->isVisible(), shownBefore);

    form->TrayIcon_Activated(QSystemTrayIcon::ActivationReason(reason));

    QCOMPARE(form->isVisible(), shownAfter);
    QCOMPARE(state->mainWindowShown, exits ? shownBefore : shownAfter);
    QCOMPARE(form->TrayIcon() == nullptr, exits);
    // Hiding and showing save nothing; only the exit writes the tenth line.
    QCOMPARE(SavedLines().size(), exits ? 10 : 9);
}

void ShellTest::aTrayClickActsOnceTheIconsOwnEventIsOver_data() {
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("othersOpen");
    using R = QSystemTrayIcon;
    QTest::newRow("right click") << int(R::Context) << false;
    QTest::newRow("right click with About and the indicator open") << int(R::Context) << true;
    QTest::newRow("left click") << int(R::Trigger) << false;
}

// Qt reports the click from inside the icon's own mouse handler; under an XEmbed tray, removing
// the icon there deletes the widget whose handler is still running.
void ShellTest::aTrayClickActsOnceTheIconsOwnEventIsOver() {
    QFETCH(int, reason);
    QFETCH(bool, othersOpen);
    Start();
    if (othersOpen) {
        form->Option4->click();
        form->Form_KeyDown(Form1::kAboutKey);
    }
    QSystemTrayIcon* icon = form->TrayIcon();
    QVERIFY(icon != nullptr);

    emit icon->activated(QSystemTrayIcon::ActivationReason(reason));

    QCOMPARE(form->TrayIcon(), icon);
    QVERIFY(form->isVisible());
    QVERIFY(QueuedCallsRan());
    QVERIFY(!form->isVisible());
    const bool exits = reason == QSystemTrayIcon::Context;
    QCOMPARE(form->TrayIcon() == nullptr, exits);
    if (exits) {
        QVERIFY(form->Indicator() == nullptr);
        QVERIFY(form->About() == nullptr);
        QCOMPARE(SavedLines().size(), 10);
        QCOMPARE(SavedLines()[8], QByteArray(othersOpen ? "1" : "0"));
    }
}

void ShellTest::aDoubleClickOnTheTrayTogglesTwiceAndKeepsThePlace() {
    Start();
    form->move(300, 200);
    QCoreApplication::processEvents();
    form->TrayIcon_Activated(QSystemTrayIcon::Trigger);
    form->TrayIcon_Activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(form->isVisible());
    QCOMPARE(form->pos(), QPoint(300, 200));
    form->Command2_Click();
    form->TrayIcon_Activated(QSystemTrayIcon::Trigger);
    QVERIFY(form->isVisible());
    QCOMPARE(form->pos(), QPoint(300, 200));
}

void ShellTest::theTrayIconShowsTheProgramTitle() {
    Start();
    QVERIFY(form->TrayIcon() != nullptr);
    QCOMPARE(form->TrayIcon()->toolTip(), QStringLiteral("Квотомер"));
    QVERIFY(!form->TrayIcon()->icon().isNull());
    QVERIFY(form->TrayIcon()->contextMenu() == nullptr);
}

void ShellTest::anotherCopyBringsTheHiddenWindowBack() {
    Start();
    form->Command2_Click();
    QVERIFY(!form->isVisible());
    form->ShowFromAnotherCopy();
    QVERIFY(form->isVisible());
    QVERIFY(state->mainWindowShown);
    form->ShowFromAnotherCopy();
    QVERIFY(form->isVisible());
}

void ShellTest::hangUpEndsEveryConnectionInOrder_data() {
    QTest::addColumn<std::vector<test::FakePlatform::Link>>("links");
    QTest::addColumn<LinkResult>("listResult");
    QTest::addColumn<std::vector<std::uint32_t>>("hungUp");
    QTest::addColumn<int>("returnCode");
    using C = test::FakePlatform::Link;
    using F = LinkFailure;
    const LinkResult ok;
    const LinkResult lost{F::kFailed, 668};  // rasapi32's ERROR_NO_CONNECTION
    QTest::newRow("none") << std::vector<C>{} << ok << std::vector<std::uint32_t>{} << 0;
    QTest::newRow("two, first one first")
        << std::vector<C>{{7, "Провайдер", ok}, {3, "Запасной", ok}} << ok
        << std::vector<std::uint32_t>{7, 3} << 0;
    QTest::newRow("a failure does not stop the next")
        << std::vector<C>{{7, "a", lost}, {3, "b", ok}} << ok << std::vector<std::uint32_t>{7, 3}
        << 0;
    QTest::newRow("the last result stays") << std::vector<C>{{7, "a", ok}, {3, "b", lost}} << ok
                                           << std::vector<std::uint32_t>{7, 3} << 668;
    QTest::newRow("no dial-up service")
        << std::vector<C>{{7, "a", ok}} << LinkResult{F::kNoService, 711}
        << std::vector<std::uint32_t>{} << 711;
    // Without a number of the system's own, each failure reads as the Windows error saying it.
    QTest::newRow("NetworkManager did not answer")
        << std::vector<C>{{7, "a", ok}} << LinkResult{F::kNoAnswer} << std::vector<std::uint32_t>{}
        << 638;
    QTest::newRow("NetworkManager gone") << std::vector<C>{{7, "a", LinkResult{F::kNoService}}}
                                         << ok << std::vector<std::uint32_t>{7} << 711;
    QTest::newRow("refused by polkit") << std::vector<C>{{7, "a", LinkResult{F::kRefused}}} << ok
                                       << std::vector<std::uint32_t>{7} << 5;
    QTest::newRow("more links than taken")
        << std::vector<C>{} << LinkResult{F::kTooMany} << std::vector<std::uint32_t>{} << 603;
}

void ShellTest::hangUpEndsEveryConnectionInOrder() {
    QFETCH(std::vector<test::FakePlatform::Link>, links);
    QFETCH(LinkResult, listResult);
    QFETCH(std::vector<std::uint32_t>, hungUp);
    QFETCH(int, returnCode);
    platform->links = links;
    platform->listResult = listResult;
    Start();
    form->ReturnCode = -5;
    form->HangUp();
    QCOMPARE(platform->hungUp, hungUp);
    QCOMPARE(form->ReturnCode, returnCode);
}

void ShellTest::theDisconnectButtonCarriesTheMoneyLeftForward_data() {
    QTest::addColumn<double>("usedMb");
    QTest::addColumn<QString>("left");
    QTest::addColumn<float>("limit");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("some left") << 1.5 << "6,25" << 6.25F << QByteArray("6,25");
    QTest::newRow("overspent") << 5.0 << "-2,5" << -2.5F << QByteArray("-2,5");
    QTest::newRow("nothing used") << 0.0 << "10,0" << 10.0F << QByteArray("10");
}

void ShellTest::theDisconnectButtonCarriesTheMoneyLeftForward() {
    QFETCH(double, usedMb);
    QFETCH(QString, left);
    QFETCH(float, limit);
    QFETCH(QByteArray, saved);
    platform->Find(2)->received = std::uint32_t(usedMb * kMb);
    platform->links = {{7, "Провайдер", {}}};
    WriteSettings("10\r\n2,5\r\n1\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n");
    Start();
    QCOMPARE(state->usedMb, float(usedMb));

    form->Command3_Click();
    QCOMPARE(platform->hungUp, std::vector<std::uint32_t>{7});
    QCOMPARE(form->Label7->text(), left);
    QCOMPARE(state->moneyLimit, limit);
    QCOMPARE(SavedLines().value(0), saved);

    // The link stayed up (the fake keeps its row): a second press charges nothing more.
    form->Timer1_Timer();
    form->Command3_Click();
    QCOMPARE(form->Label7->text(), left);
    QCOMPARE(state->moneyLimit, limit);
}

void ShellTest::f1OpensOneAboutWindowAndAClosedOneOpensFresh() {
    Start();
    form->Form_KeyDown(113);
    QVERIFY(form->About() == nullptr);
    form->Form_KeyDown(Form1::kAboutKey);
    Form2* first = form->About();
    QVERIFY(first != nullptr);
    form->Form_KeyDown(Form1::kAboutKey);
    QCOMPARE(form->About(), first);
    QVERIFY(first->isVisible());
    int abouts = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        abouts += qobject_cast<Form2*>(w) != nullptr ? 1 : 0;
    }
    QCOMPARE(abouts, 1);
    // The main window keeps working while About is open.
    QVERIFY(!first->isModal());

    first->close();
    form->Form_KeyDown(Form1::kAboutKey);
    QVERIFY(form->About() != nullptr);
    QVERIFY(form->About()->isVisible());
}

}  // namespace kv

QTEST_MAIN(kv::ShellTest)
#include "shell_test.moc"
