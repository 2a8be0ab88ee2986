#pragma once

#include <QImage>
#include <QWidget>
#include <memory>
#include <vector>

#include "accounting/graph_lines.h"
#include "accounting/program_state.h"
#include "accounting/speed_history.h"
#include "platform/platform.h"
#include "ui/indicator/edge_snap.h"

class QLabel;
class QPushButton;
class QTimer;

namespace kv {

class Desktop;
class GraphBox;
class PlayerTicker;
class TickerLine;

// The strip's dark glossy background, 181 x 21 pixels, drawn at the given pixel density so that
// it stays sharp on dense screens.
QImage IndicatorBackground(qreal devicePixelRatio);

// The floating indicator: speed strip, hover caption, traffic limit / used / left and the player's
// title line. It only reads the figures the ledger publishes in the program state.
class Form3 : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kWidthTwips = 2715;
    static constexpr int kTallHeightTwips = 945;
    static constexpr int kShortHeightTwips = 730;

    Form3(ProgramState& state, Platform& platform, Desktop& desktop, PlayerTicker& ticker,
          QWidget* parent = nullptr);
    ~Form3() override;

    void Form_Load();
    void StopTimers();
    // The timers as a loaded window runs them; the ticker's only while the player line shows.
    void StartTimers();

    // The window's corner in twips, as the settings file records it.
    TwipsPosition LeftTopTwips() const;

    QLabel* Label2;         // traffic used
    QLabel* Label4;         // traffic left
    QLabel* Label5;         // caption of the figure under the pointer
    QLabel* Label6;         // traffic limit
    QWidget* Label7;        // hit area for drags and double-clicks
    TickerLine* Text1;      // player's title line
    QPushButton* Command1;  // off-window: takes the focus from the hidden line
    GraphBox* Picture1;     // speed strip
    QTimer* Timer1;         // refreshes the figures
    QTimer* Timer2;         // moves the ticker
    QTimer* Timer3;         // draws the speed strip

    bool PlayerLineShown() const { return playerLineShown_; }

    void Timer1_Timer();
    void Timer2_Timer();
    void Timer3_Timer();

  signals:
    // The user changed what the settings file keeps of this window: its place or its height.
    void SettingsChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void Picture1_MouseDown();
    void Picture1_MouseMove(Qt::MouseButtons buttons);
    void Picture1_DblClick();
    void Label7_MouseDown();
    void Label7_MouseMove(Qt::MouseButtons buttons);
    void Label7_DblClick();

    // Shared by the graph strip and the hit area, which behave alike.
    void RecordDragOffset();
    void DragTo(Qt::MouseButtons buttons);
    void TogglePlayerLine();

    void SetHeightTwips(int twips);
    void InitGraph();
    void RefreshBackground();

    ProgramState& state_;
    Platform& platform_;
    Desktop& desktop_;
    PlayerTicker& ticker_;

    bool playerLineShown_ = false;
    bool movedByDrag_ = false;
    int heightTwips_ = kTallHeightTwips;
    std::unique_ptr<SpeedHistory> history_;
    std::vector<GraphLine> lines_;
    bool screenWatched_ = false;
};

}  // namespace kv
