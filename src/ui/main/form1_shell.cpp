#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "common/number_format.h"
#include "common/units.h"
#include "shell/settings_file.h"
#include "ui/about/form2.h"
#include "ui/common/desktop.h"
#include "ui/indicator/form3.h"
#include "ui/main/form1.h"
#include "ui/main/program_look.h"

namespace kv {

namespace {

// Twips from the file may be anything a float holds; a window can only sit at an int.
int TwipsFloatToPixels(float twips) {
    const double pixels = std::nearbyint(double(twips) / kTwipsPerPixel);
    return int(std::clamp(pixels, -1.0e6, 1.0e6));
}

}  // namespace

void Form1::Form_Load() {
    {
        // The handlers that start-up drives must not save what is only half loaded.
        const QScopedValueRollback loading(loading_, true);
        LoadAll();
    }
    // What start-up found to charge or to complete is written once everything is loaded.
    ledger_.Started();
}

void Form1::LoadAll() {
    if (!OnSettingsChanged) {
        // Every change is on disk at once: a killed program or a power cut loses nothing.
        OnSettingsChanged = [this] { WriteSettings(); };
    }

    state_.indicatorShown = false;
    state_.graphScaleMax = 0;
    state_.mainWindowShown = true;
    state_.adapterIndex = -1;

    LoadState();

    if (state_.indicatorEnabled) {
        Option4->setChecked(true);
        if (!state_.indicatorShown) {
            Option4_Click();
        }
    } else {
        Option3->setChecked(true);
    }

    if (!ledger_.Load(settingsPath_, MayWriteSettings())) {
        FatalNoConnection();
        return;
    }
    ShowSettingValue(Label6, Text1, state_.tariffPerMb);
    ShowSettingValue(Label7, Text2, state_.moneyLimit);
    ShowTrafficLimit();
    adapterCount = ledger_.Meter().ControllerCount();
    state_.graphWidth = WholePixels(840);
    state_.graphHeight = WholePixels(1725);
    FillAdapterList(-1);

    AddTrayIcon();

    if (const std::int32_t row = ledger_.StartRow(state_.adapterIndex); row >= 0) {
        SetAdapterSelection(row);
        Timer1->start();
        Timer1_Timer();
    } else {
        Timer2->start();
    }
}

void Form1::ShowSettingValue(QLabel* label, QLineEdit* box, float value) {
    const QString text = QString::fromStdString(GeneralFloat(value));
    label->setText(text);
    box->setText(text);
}

namespace {

// A saved place on a screen that is no longer there would leave the window out of reach: keep
// at least its top-left corner strip on some screen, else bring it onto the primary one.
QPoint KeptReachable(QPoint corner, QSize size) {
    const QRect grip(corner, QSize(std::min(size.width(), 100), std::min(size.height(), 30)));
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().contains(grip)) {
            return corner;
        }
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr) {
        return corner;
    }
    const QRect area = primary->availableGeometry();
    return {
        std::clamp(corner.x(), area.left(), std::max(area.left(), area.right() - size.width())),
        std::clamp(corner.y(), area.top(), std::max(area.top(), area.bottom() - size.height()))};
}

}  // namespace

void Form1::LoadState() {
    if (settingsPath_.isEmpty()) {
        // An explicit folder is used as given: falling back elsewhere would hide the mistake.
        settingsPath_ = dataDirectory_.isEmpty()
                            ? SettingsPath(QCoreApplication::applicationDirPath())
                            : SettingsPath(dataDirectory_, QString());
    }
    std::string bytes;
    switch (LoadOrCreate(settingsPath_, bytes)) {
        case SettingsLoad::kRead:
            break;
        case SettingsLoad::kNotCreated:
            ReportSettingsTrouble(SettingsTrouble::kUnsaved);
            break;
        case SettingsLoad::kUnreadable:
            settingsUnreadable_ = true;
            ReportSettingsTrouble(SettingsTrouble::kUnreadable);
            break;
    }
    const StoredSettings stored = ParseSettings(bytes);
    ApplyToState(stored, state_);

    QPoint corner = pos();
    if (stored.Has(SettingsLine::kMainLeft)) {
        corner.setX(TwipsFloatToPixels(stored.mainLeft));
    }
    if (stored.Has(SettingsLine::kMainTop)) {
        corner.setY(TwipsFloatToPixels(stored.mainTop));
    }
    move(KeptReachable(corner, size()));

    if (stored.onTop) {
        // Selecting runs the handler through the toggle; applying again is harmless and covers
        // an option that was already selected.
        if (*stored.onTop) {
            Option1->setChecked(true);
            Option1_Click();
        } else {
            Option2->setChecked(true);
            Option2_Click();
        }
    }
}

bool Form1::MayWriteSettings() const {
    // Nothing was loaded, or what is there could not be read, or a fatal stop keeps the file as
    // it was.
    return !settingsPath_.isEmpty() && !settingsUnreadable_ && !ending_;
}

bool Form1::WriteSettings() {
    if (!MayWriteSettings()) {
        return false;
    }
    StoredSettings out;
    out.moneyLimit = state_.moneyLimit;
    out.tariffPerMb = state_.tariffPerMb;
    out.adapterIndex = state_.adapterIndex;
    out.mainLeft = float(PixelsToTwips(pos().x()));
    out.mainTop = float(PixelsToTwips(pos().y()));
    if (state_.indicatorShown && indicator_) {
        const TwipsPosition corner = indicator_->LeftTopTwips();
        out.indicatorLeft = corner.left;
        out.indicatorTop = corner.top;
    } else {
        out.indicatorLeft = state_.indicatorLeft;
        out.indicatorTop = state_.indicatorTop;
    }
    out.onTop = Option1->isChecked();
    out.indicatorEnabled = Option4->isChecked();
    out.playerLineShown = !state_.playerLineHidden;
    out.presentLines = kSettingsLineCount;
    if (!SaveAtomically(settingsPath_, SerializeSettings(out))) {
        ReportSettingsTrouble(SettingsTrouble::kUnsaved);
        return false;
    }
    return true;
}

void Form1::SaveState() {
    Timer1->stop();
    RemoveTrayIcon();
    KeepProgress();
}

void Form1::KeepProgress() {
    // The counted traffic first: data.dat never runs ahead of the money's record.
    if (MayWriteSettings()) {
        ledger_.Keep();
    }
    WriteSettings();
}

void Form1::Tell(const std::string& text, bool failedWrite) {
    // A folder that takes no files fails every write: one box says so.
    if (failedWrite && std::exchange(settingsTroubleReported_, true)) {
        return;
    }
    pendingTells_.push_back(text);
    // A modal box inside the handler would let timers and clicks run in the middle of it.
    QTimer::singleShot(0, this, [this] { ShowPendingSettingsTrouble(); });
}

void Form1::ReportSettingsTrouble(SettingsTrouble trouble) {
    if (settingsTroubleReported_) {
        return;
    }
    settingsTroubleReported_ = true;
    pendingTrouble_ = trouble;
    // A modal box inside the handler would let timers and clicks run in the middle of it.
    QTimer::singleShot(0, this, [this] { ShowPendingSettingsTrouble(); });
}

void Form1::ShowPendingSettingsTrouble() {
    for (const std::string& text : std::exchange(pendingTells_, {})) {
        desktop_.ShowMessage(text, true);
    }
    const std::string path = settingsPath_.toStdString();
    std::string text;
    switch (std::exchange(pendingTrouble_, SettingsTrouble::kNone)) {
        case SettingsTrouble::kNone:
            return;
        case SettingsTrouble::kUnreadable:
            text = "Не удалось прочитать настройки из " + path +
                   ". Программа работает с настройками по умолчанию, изменения в этом запуске "
                   "не будут сохранены.";
            break;
        case SettingsTrouble::kUnsaved:
            text = "Не удалось сохранить настройки в " + path +
                   (closing_ ? ". Изменения, сделанные в этом запуске, не сохранены."
                             : ". Программа продолжит работу, но изменения не сохранятся.");
            break;
    }
    desktop_.ShowMessage(text, true);
}

void Form1::StopTimers() {
    if (indicator_) {
        indicator_->StopTimers();
    }
    Timer1->stop();
    Timer2->stop();
}

void Form1::ShowBoxFromTick(const std::string& text) {
    // The box runs an event loop of its own: a timer firing there would open the next box on top
    // of this one, once a second.
    const bool watching = Timer1->isActive();
    const bool waiting = Timer2->isActive();
    StopTimers();
    desktop_.ShowMessage(text, true);
    if (closing_ || ending_) {
        return;
    }
    if (watching) {
        Timer1->start();
    }
    if (waiting) {
        Timer2->start();
    }
    if (indicator_) {
        indicator_->StartTimers();
    }
}

void Form1::EndAfterMessage(const std::string& text) {
    // The box runs an event loop: no timer may fire in it, and an exit command that comes
    // meanwhile (a termination signal) must not save what a fatal stop leaves alone.
    ending_ = true;
    ledger_.Halt();
    StopTimers();
    desktop_.ShowMessage(text, true);
    desktop_.EndProcessNow(1);
}

void Form1::Form_QueryUnload() {
    SaveState();
}

void Form1::Command1_Click() {
    closing_ = true;
    state_.tickerPaused = true;
    StopTimers();
    Form_QueryUnload();
    hide();
    about_.reset();
    indicator_.reset();
    state_.indicatorShown = false;
    QCoreApplication::quit();
}

void Form1::AddTrayIcon() {
    if (trayIcon != nullptr) {
        return;
    }
    // Created even without a tray: Qt shows it once one appears, and nothing else depends on it.
    trayIcon = new QSystemTrayIcon(ProgramIcon(), this);
    trayIcon->setToolTip(QStringLiteral("Квотомер"));
    // Qt reports a click from inside the icon's own mouse handler, and the exit command removes
    // the icon, which under an XEmbed tray deletes that very widget: act once its event is over.
    connect(trayIcon, &QSystemTrayIcon::activated, this, &Form1::TrayIcon_Activated,
            Qt::QueuedConnection);
    trayIcon->show();
}

void Form1::RemoveTrayIcon() {
    if (trayIcon == nullptr) {
        return;
    }
    trayIcon->hide();
    trayIcon->deleteLater();
    trayIcon = nullptr;
}

void Form1::TrayIcon_Activated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
        // Qt reports a double click after the click that began it, so it toggles twice in all.
        case QSystemTrayIcon::DoubleClick:
            ToggleMainWindow();
            break;
        case QSystemTrayIcon::Context:
            Command1_Click();
            break;
        case QSystemTrayIcon::MiddleClick:
        case QSystemTrayIcon::Unknown:
            break;
    }
}

void Form1::ToggleMainWindow() {
    if (state_.mainWindowShown) {
        state_.mainWindowShown = false;
        hide();
    } else {
        state_.mainWindowShown = true;
        // Window managers may place a re-shown window anew.
        const QPoint place = pos();
        show();
        move(place);
    }
}

void Form1::ShowFromAnotherCopy() {
    if (!state_.mainWindowShown) {
        ToggleMainWindow();
    }
    raise();
    activateWindow();
}

void Form1::Command2_Click() {
    ToggleMainWindow();
}

void Form1::Command3_Click() {
    HangUp();
    CarryOver();
}

void Form1::HangUp() {
    LinkResult listed;
    const std::vector<DialUpLink> links = platform_.ListDialUpLinks(listed);
    ReturnCode = ReturnCodeOf(listed);
    for (const DialUpLink& link : links) {
        // A failed hang-up must not keep the others on the line.
        ReturnCode = ReturnCodeOf(platform_.HangUp(link));
    }
}

void Form1::Form_KeyDown(int keyCode) {
    if (keyCode != kAboutKey) {
        return;
    }
    // A closed About window is unloaded: the next one opens fresh and centred.
    if (about_ && !about_->isVisible()) {
        about_.reset();
    }
    if (!about_) {
        about_ = std::make_unique<Form2>(desktop_);
        about_->Form_Load();
    }
    about_->show();
    about_->raise();
    about_->activateWindow();
}

}  // namespace kv
