#pragma once

#include <QString>
#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "accounting/graph_lines.h"
#include "accounting/program_state.h"
#include "accounting/speed_history.h"
#include "accounting/traffic_book.h"
#include "platform/platform.h"
#include "shell/ledger.h"
#include "stats/traf_meter.h"

class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QTimer;

namespace kv {

class Form2;
class Desktop;
class Form3;
class GraphBox;
class PlayerTicker;

// The main window: interface list, readouts, money panel, options, speed graph and buttons.
// Handlers carry the names of the control and event they serve.
class Form1 : public QWidget {
    Q_OBJECT

  public:
    // Key codes the key handlers take.
    static constexpr int kEnterKey = 13;
    static constexpr int kAboutKey = 112;  // F1

    Form1(ProgramState& state, Platform& platform, Desktop& desktop, QWidget* parent = nullptr);
    ~Form1() override;

    // Start-up and shut-down.
    void Form_Load();
    void Form_QueryUnload();
    void Command1_Click();
    // Called after every change the user makes to a value the settings file keeps.
    std::function<void()> OnSettingsChanged;

    // Accounting.
    void Timer1_Timer();
    void Timer2_Timer();
    void List1_Click();
    // Carries the money left forward as the new limit and restarts the charged totals.
    void CarryOver() { ledger_.CarryOver(); }

    // In-place editing.
    void Label6_Click();
    void Label7_Click();
    void Text1_Change();
    void Text2_Change();
    void Text1_KeyDown(int keyCode);
    void Text2_KeyDown(int keyCode);
    void CommitPendingEdit();

    // Options.
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();

    // Tray and buttons.
    void Command2_Click();
    void Command3_Click();
    void HangUp();
    void Form_KeyDown(int keyCode);

    // Controls, named as the handlers address them.
    QListWidget* List1;     // the interfaces to watch
    QFrame* Frame1;         // readouts of the watched interface
    QFrame* Frame2;         // window placement options
    QFrame* Frame4;         // indicator on / off
    QFrame* Frame3;         // money panel
    QLabel* Label1;         // watched interface's name
    QLabel* Label2;         // bytes sent
    QLabel* Label3;         // bytes received
    QLabel* Label4;         // current speed
    QLabel* Label5;         // "tariff" caption
    QLabel* Label6;         // tariff; a click opens Text1
    QLabel* Label7;         // money limit; a click opens Text2
    QLabel* Label8;         // "money limit" caption
    QLabel* Label9;         // "traffic limit" caption
    QLabel* Label10;        // traffic limit
    QLabel* Label11;        // "traffic left" caption
    QLabel* Label12;        // traffic left
    QLabel* Label13;        // traffic used
    QLabel* Label14;        // "traffic used" caption
    QLabel* Label15;        // money left
    QLabel* Label16;        // "money left" caption
    QFrame* Line1;          // rule under the two settings
    QLineEdit* Text1;       // tariff editor
    QLineEdit* Text2;       // money limit editor
    QRadioButton* Option1;  // always on top
    QRadioButton* Option2;  // ordinary window
    QRadioButton* Option3;  // indicator off
    QRadioButton* Option4;  // indicator on
    GraphBox* Picture1;     // speed graph
    QPushButton* Command1;  // exit
    QPushButton* Command2;  // hide to the tray
    QPushButton* Command3;  // hang up and carry over
    QTimer* Timer1;         // accounting tick
    QTimer* Timer2;         // waits for the interface table to change

    // Result of the last dial-up enumeration or hang-up call.
    std::int32_t ReturnCode = 0;

    const TrafMeter& Meter() const { return ledger_.Meter(); }
    const TrafficBook& Book() const { return ledger_.Book(); }
    std::int32_t AdapterCount() const { return adapterCount; }
    Form3* Indicator() const { return indicator_.get(); }
    Form2* About() const { return about_.get(); }

    // Start-up, shut-down and tray.
    void LoadState();
    void SaveState();
    // Writes data.dat from the current state, leaving timers and tray alone.
    bool WriteSettings();
    // The journal and data.dat as they are now: the system may end the program without an exit.
    void KeepProgress();
    void AddTrayIcon();
    void RemoveTrayIcon();
    void TrayIcon_Activated(QSystemTrayIcon::ActivationReason reason);
    // Hides or shows the main window as the flag says, keeping its place.
    void ToggleMainWindow();
    // Another copy was started: bring this one's window back from the tray.
    void ShowFromAnotherCopy();
    // Folder of data.dat instead of the executable's or the user's settings folder; empty leaves
    // the choice to Form1. Set before Form_Load.
    void SetDataDirectory(const QString& dir) { dataDirectory_ = dir; }
    // Which boot of the system this is; paid marks of another boot are forgotten.
    void SetBootId(std::string id) { ledger_.SetBootId(std::move(id)); }
    const QString& SettingsFile() const { return settingsPath_; }
    QSystemTrayIcon* TrayIcon() const { return trayIcon; }
    // Shows a settings file problem that the event loop ended before it could report.
    void ShowPendingSettingsTrouble();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void BuildLayout();
    void LoadAll();
    void StopTimers();
    // A modal critical box opened from a tick: every timer waits until it is closed.
    void ShowBoxFromTick(const std::string& text);
    // A fatal stop: the message, then the end of the process, nothing saved meanwhile.
    void EndAfterMessage(const std::string& text);
    void FillAdapterList(int selectedRow);
    bool TableChanged() const;
    void SetAdapterSelection(int row);
    void FatalNoConnection();
    void UpdateSpeedGraph();
    void ShowTrafficLimit();
    void ShowSettingValue(QLabel* label, QLineEdit* box, float value);
    void RememberChange();
    bool MayWriteSettings() const;
    void ShowMoneyFigures();
    // The program changed the limit: shown everywhere but in a box the user is typing in.
    void ShowCarriedLimit(const std::string& text);
    void Tell(const std::string& text, bool failedWrite);

    ProgramState& state_;
    Platform& platform_;
    Desktop& desktop_;
    Ledger ledger_;
    // 32-bit: a 16-bit count would never match a table of more than 32767 interfaces.
    std::int32_t adapterCount = 0;
    SpeedHistory speedHistory;
    std::vector<GraphLine> graphLines_;
    bool loading_ = false;
    bool rebuildingList_ = false;
    // What the list shows, to tell when the table has changed under it.
    struct ListedInterface {
        std::uint32_t index;
        std::string description;
    };
    std::vector<ListedInterface> listed_;
    bool iconQueued_ = false;

    // In-place editing.
    struct EditorState {
        QString shown;     // the text after the last handled change
        QString baseline;  // the text at opening, or as the program last set it
    };
    EditorState& EditorOf(QLineEdit* box);
    void OpenEditor(QLabel* label, QLineEdit* box, QLineEdit* other);
    void FilterEditor(QLineEdit* box);
    void CommitEditor(QLabel* label, QLineEdit* box, float ProgramState::*value);
    void WriteEditor(QLineEdit* box, const QString& text, int caret);
    EditorState tariffEditor_;
    EditorState limitEditor_;
    bool writingEditor_ = false;

    std::unique_ptr<PlayerTicker> ticker_;
    std::unique_ptr<Form3> indicator_;
    std::unique_ptr<Form2> about_;
    QSystemTrayIcon* trayIcon = nullptr;

    // Start-up, shut-down and tray.
    enum class SettingsTrouble { kNone, kUnreadable, kUnsaved };
    void ReportSettingsTrouble(SettingsTrouble trouble);
    QString dataDirectory_;
    QString settingsPath_;
    // Saving would replace the file the user has, which this run could not read, with defaults.
    bool settingsUnreadable_ = false;
    bool settingsTroubleReported_ = false;
    SettingsTrouble pendingTrouble_ = SettingsTrouble::kNone;
    std::vector<std::string> pendingTells_;
    bool closing_ = false;  // the exit command has begun
    bool ending_ = false;   // a fatal stop has begun
};

}  // namespace kv
