#include "ui/indicator/form3.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

#include "accounting/money.h"
#include "common/number_format.h"
#include "common/units.h"
#include "ui/common/desktop.h"
#include "ui/common/graph_box.h"
#include "ui/common/twips_layout.h"
#include "ui/indicator/player_ticker.h"
#include "ui/indicator/ticker_line.h"
#include "ui/indicator/title_ticker.h"

namespace kv {

namespace {

constexpr int kGraphHeightTwips = 315;
constexpr int kValueTopTwips = 480;
constexpr int kValueWidthTwips = 915;
constexpr int kLineHeightTwips = 195;
constexpr int kDimmedAlpha = 120;
constexpr int kOpaqueAlpha = 255;
constexpr std::array<std::array<int, 3>, 21> kBackgroundRows = {{
    {114, 113, 118}, {50, 50, 52}, {33, 33, 34}, {29, 29, 29}, {30, 30, 30}, {33, 33, 33},
    {34, 34, 34},    {35, 35, 35}, {37, 37, 38}, {38, 38, 39}, {40, 40, 42}, {59, 58, 60},
    {58, 57, 59},    {54, 54, 55}, {50, 50, 52}, {45, 45, 47}, {40, 40, 42}, {35, 35, 35},
    {30, 30, 30},    {25, 25, 25}, {54, 54, 55},
}};
// How much lighter the three leftmost columns are, from the edge inwards.
constexpr std::array<int, 3> kLeftColumnLift = {12, 8, 4};

QPalette TextColour(QPalette palette, QColor colour) {
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    return palette;
}

// Window titles and figures are shown as they are, never interpreted as markup.
QLabel* MakeLabel(QWidget* parent, const char* name, QRect geometry, QColor colour) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignCenter);
    label->setPalette(TextColour(label->palette(), colour));
    return label;
}

QString Megabytes(std::optional<float> value) {
    return value ? QString::fromStdString(FormatPattern(*value, patterns::kMegabytes)) : QString();
}

// Strict on all four sides: a pointer on the edge itself is outside.
bool Inside(std::int64_t x, std::int64_t y, std::int64_t left, std::int64_t top, int width,
            int height) {
    return left < x && x < left + width && top < y && y < top + height;
}

}  // namespace

QImage IndicatorBackground(qreal devicePixelRatio) {
    const qreal dpr = std::isfinite(devicePixelRatio) ? std::clamp(devicePixelRatio, 1.0, 8.0) : 1;
    const int logicalWidth = WholePixels(Form3::kWidthTwips);
    const int logicalHeight = int(kBackgroundRows.size());
    QImage image(int(std::ceil(logicalWidth * dpr)), int(std::ceil(logicalHeight * dpr)),
                 QImage::Format_RGB888);
    for (int y = 0; y < image.height(); ++y) {
        const auto& row = kBackgroundRows[std::size_t(std::min(logicalHeight - 1, int(y / dpr)))];
        for (int x = 0; x < image.width(); ++x) {
            const auto column = std::size_t(x / dpr);
            const int lift = column < kLeftColumnLift.size() ? kLeftColumnLift[column] : 0;
            image.setPixel(x, y,
                           qRgb(std::min(255, row[0] + lift), std::min(255, row[1] + lift),
                                std::min(255, row[2] + lift)));
        }
    }
    image.setDevicePixelRatio(dpr);
    return image;
}

Form3::Form3(ProgramState& state, Platform& platform, Desktop& desktop, PlayerTicker& ticker,
             QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::Tool),
      state_(state),
      platform_(platform),
      desktop_(desktop),
      ticker_(ticker) {
    setWindowTitle(QStringLiteral("Form3"));
    setObjectName(QStringLiteral("Form3"));
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setStyleHint(QFont::SansSerif);
    small.setPixelSize(11);
    // No OpenType shaping for the figures redrawn every second, as in the main window.
    small.setStyleStrategy(QFont::PreferNoShaping);
    setFont(small);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    setFixedSize(WholePixels(kWidthTwips), TwipsToPixels(kTallHeightTwips));

    Picture1 = new GraphBox(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(TwipsRect(0, 0, kWidthTwips, kGraphHeightTwips));
    Picture1->setMouseTracking(true);
    Picture1->installEventFilter(this);

    Label5 = MakeLabel(this, "Label5", TwipsRect(0, 300, kWidthTwips, kLineHeightTwips),
                       QColor(255, 192, 128));
    const QColor valueColour(128, 255, 128);
    Label6 =
        MakeLabel(this, "Label6", TwipsRect(0, kValueTopTwips, kValueWidthTwips, kLineHeightTwips),
                  valueColour);
    Label2 =
        MakeLabel(this, "Label2",
                  TwipsRect(900, kValueTopTwips, kValueWidthTwips, kLineHeightTwips), valueColour);
    Label4 =
        MakeLabel(this, "Label4",
                  TwipsRect(1800, kValueTopTwips, kValueWidthTwips, kLineHeightTwips), valueColour);
    Label6->setAccessibleDescription(QStringLiteral("Лимит трафика"));
    Label2->setAccessibleDescription(QStringLiteral("Текущий трафик"));
    Label4->setAccessibleDescription(QStringLiteral("Осталось трафика"));

    Text1 = new TickerLine(this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(TwipsRect(0, 720, kWidthTwips, kLineHeightTwips));
    Text1->setPalette(TextColour(Text1->palette(), QColor(244, 245, 251)));
    Text1->setAccessibleDescription(QStringLiteral("Плеер"));

    // Lies below the window's bottom edge: it only takes the focus away from the hidden line.
    Command1 = new QPushButton(this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(TwipsRect(1500, 1740, 375, 255));

    // The load sequence spreads the hit area over the whole window.
    Label7 = new QWidget(this);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label7->setAttribute(Qt::WA_TranslucentBackground);
    Label7->setMouseTracking(true);
    Label7->installEventFilter(this);
    Label7->setGeometry(TwipsRect(0, 3000, kWidthTwips, kTallHeightTwips));
    Label7->raise();

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &Form3::Timer1_Timer);
    Timer2 = new QTimer(this);
    Timer2->setInterval(250);
    connect(Timer2, &QTimer::timeout, this, &Form3::Timer2_Timer);
    Timer3 = new QTimer(this);
    Timer3->setInterval(1000);
    connect(Timer3, &QTimer::timeout, this, &Form3::Timer3_Timer);
}

Form3::~Form3() = default;

void Form3::Form_Load() {
    SetOpacity(*this, kDimmedAlpha);
    SetStaysOnTop(*this, true);
    move(TwipsPositionToPixels(state_.indicatorLeft), TwipsPositionToPixels(state_.indicatorTop));

    Label7->move(0, 0);
    SetHeightTwips(kTallHeightTwips);
    Label7->resize(size());

    Text1->clear();
    RefreshBackground();
    InitGraph();
    Timer1_Timer();
    Timer3_Timer();

    playerLineShown_ = !state_.playerLineHidden;
    SetHeightTwips(playerLineShown_ ? kTallHeightTwips : kShortHeightTwips);
    StartTimers();
}

void Form3::StartTimers() {
    if (playerLineShown_) {
        Timer2->start();
    } else {
        Timer2->stop();
    }
    Timer1->start();
    Timer3->start();
}

void Form3::StopTimers() {
    Timer1->stop();
    Timer2->stop();
    Timer3->stop();
}

TwipsPosition Form3::LeftTopTwips() const {
    return {PixelsToTwips(pos().x()), PixelsToTwips(pos().y())};
}

void Form3::SetHeightTwips(int twips) {
    heightTwips_ = twips;
    setFixedSize(WholePixels(kWidthTwips), TwipsToPixels(twips));
}

void Form3::Timer1_Timer() {
    const std::optional<float> limit = TrafficLimitMb(state_.moneyLimit, state_.tariffPerMb);
    // A tariff that gives no limit gives no figures at all: three values that belong together.
    if (state_.adapterIndex != -1 && state_.watching && limit) {
        Label6->setText(Megabytes(limit));
        Label2->setText(Megabytes(state_.usedMb));
        // The main window's "traffic left" figure, so that both windows always agree.
        Label4->setText(
            Megabytes(TrafficLeftMb(state_.moneyLimit, state_.tariffPerMb, state_.usedMb)));
    } else {
        // setText leaves an unchanged label alone; clear() would repaint it every second.
        Label6->setText(QString());
        Label2->setText(QString());
        Label4->setText(QString());
    }

    const QPoint pointer = desktop_.PointerPosition();
    const std::int64_t x = std::int64_t(pointer.x()) * kTwipsPerPixel;
    const std::int64_t y = std::int64_t(pointer.y()) * kTwipsPerPixel;
    const TwipsPosition corner = LeftTopTwips();
    const bool over = Inside(x, y, corner.left, corner.top, kWidthTwips, heightTwips_);
    SetOpacity(*this, over ? kOpaqueAlpha : kDimmedAlpha);

    struct Hover {
        int left;
        Qt::Alignment alignment;
        const char16_t* caption;
    };
    static constexpr std::array<Hover, 3> kHovers = {{
        {0, Qt::AlignLeft | Qt::AlignVCenter, u"Лимит трафика"},
        {900, Qt::AlignCenter, u"Текущий трафик"},
        {1800, Qt::AlignRight | Qt::AlignVCenter, u"Осталось трафика"},
    }};
    const Hover* hovered = nullptr;
    for (const Hover& hover : kHovers) {
        if (Inside(x, y, std::int64_t(corner.left) + hover.left,
                   std::int64_t(corner.top) + kValueTopTwips, kValueWidthTwips, kLineHeightTwips)) {
            hovered = &hover;
        }
    }
    if (hovered == nullptr) {
        Label5->setText(QString());
        return;
    }
    Label5->setAlignment(hovered->alignment);
    Label5->setText(QString::fromUtf16(hovered->caption));
}

void Form3::Timer2_Timer() {
    if (TickerStep(ticker_, state_.tickerPaused, platform_)) {
        Text1->ShowTurned(ticker_.playerTitle, ticker_.tickerPos);
    }
}

void Form3::InitGraph() {
    state_.indicatorScaleMax = 0;
    const int width = WholePixels(kWidthTwips);
    const int height = WholePixels(kGraphHeightTwips);
    state_.indicatorGraphWidth = width;
    state_.indicatorGraphHeight = height;
    history_ = std::make_unique<SpeedHistory>(width);
}

void Form3::Timer3_Timer() {
    if (!history_) {
        InitGraph();
    }
    const int height = int(state_.indicatorGraphHeight);
    const GraphScale scale = history_->Step(state_.currentSpeed, height);
    state_.indicatorHistoryMax = scale.historyMax;
    state_.indicatorScaleMax = scale.scaleMax;
    state_.indicatorBytesPerPixel = scale.bytesPerPixel;
    IndicatorGraphLines(*history_, scale, height, lines_);
    Picture1->SetLines(lines_);
}

void Form3::RefreshBackground() {
    Picture1->SetBackground(QPixmap::fromImage(IndicatorBackground(devicePixelRatioF())));
}

void Form3::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!screenWatched_ && windowHandle() != nullptr) {
        screenWatched_ = true;
        connect(windowHandle(), &QWindow::screenChanged, this, &Form3::RefreshBackground);
        RefreshBackground();
    }
}

bool Form3::eventFilter(QObject* watched, QEvent* event) {
    if (watched != Picture1 && watched != Label7) {
        return QWidget::eventFilter(watched, event);
    }
    const bool onGraph = watched == Picture1;
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            onGraph ? Picture1_MouseDown() : Label7_MouseDown();
            return true;
        case QEvent::MouseMove: {
            const Qt::MouseButtons buttons = static_cast<QMouseEvent*>(event)->buttons();
            onGraph ? Picture1_MouseMove(buttons) : Label7_MouseMove(buttons);
            return true;
        }
        case QEvent::MouseButtonDblClick:
            onGraph ? Picture1_DblClick() : Label7_DblClick();
            return true;
        case QEvent::MouseButtonRelease:
            // One save per drag, when the window has come to rest.
            if (movedByDrag_) {
                movedByDrag_ = false;
                emit SettingsChanged();
            }
            [[fallthrough]];
        default:
            return QWidget::eventFilter(watched, event);
    }
}

void Form3::Picture1_MouseDown() {
    RecordDragOffset();
}

void Form3::Picture1_MouseMove(Qt::MouseButtons buttons) {
    DragTo(buttons);
}

void Form3::Picture1_DblClick() {
    TogglePlayerLine();
}

void Form3::Label7_MouseDown() {
    RecordDragOffset();
}

void Form3::Label7_MouseMove(Qt::MouseButtons buttons) {
    DragTo(buttons);
}

void Form3::Label7_DblClick() {
    TogglePlayerLine();
}

// Any button records the offsets: the pointer is read here, not taken from the event.
void Form3::RecordDragOffset() {
    const QPoint pointer = desktop_.PointerPosition();
    const TwipsPosition corner = LeftTopTwips();
    state_.dragOffsetX = DragOffset(pointer.x(), corner.left);
    state_.dragOffsetY = DragOffset(pointer.y(), corner.top);
}

void Form3::DragTo(Qt::MouseButtons buttons) {
    if (buttons == Qt::LeftButton) {
        const QPoint pointer = desktop_.PointerPosition();
        const QSize screen = desktop_.PrimaryScreen().size();
        const TwipsPosition corner =
            SnapToScreenEdges({DraggedCorner(pointer.x(), state_.dragOffsetX),
                               DraggedCorner(pointer.y(), state_.dragOffsetY)},
                              kWidthTwips, heightTwips_, PixelsToTwips(screen.width()),
                              PixelsToTwips(screen.height()));
        move(TwipsPositionToPixels(corner.left), TwipsPositionToPixels(corner.top));
        movedByDrag_ = true;
    }
    // Opacity and caption follow the pointer at once, not at the next second.
    Timer1_Timer();
}

void Form3::TogglePlayerLine() {
    if (playerLineShown_) {
        playerLineShown_ = false;
        state_.tickerPaused = true;
        state_.playerLineHidden = true;
        Timer2->stop();
        SetHeightTwips(kShortHeightTwips);
        Command1->setFocus();
    } else {
        playerLineShown_ = true;
        state_.tickerPaused = false;
        state_.playerLineHidden = false;
        Timer2->start();
        SetHeightTwips(kTallHeightTwips);
    }
    emit SettingsChanged();
}

}  // namespace kv
