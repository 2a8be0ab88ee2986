#include "ui/indicator/ticker_line.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QTextLine>
#include <QTextOption>
#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// Where a frameless line edit starts its text, so the line looks as it always did.
constexpr qreal kLeftMargin = 2;
// Room in the strip for glyphs that reach past their advance on either side.
constexpr int kStripPad = 2;
// Titles wider than this are laid out afresh at each step instead of being kept as a picture.
constexpr qreal kWidestStrip = 4096;

bool HasRightToLeft(const QString& text) {
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        switch (c.direction()) {
            case QChar::DirR:
            case QChar::DirAL:
            case QChar::DirRLE:
            case QChar::DirRLO:
            case QChar::DirRLI:
                return true;
            default:
                return false;
        }
    });
}

// A screen reader hears the line as what it shows; "Плеер" is its description.
class TickerLineAccessible : public QAccessibleWidget {
  public:
    explicit TickerLineAccessible(TickerLine* line)
        : QAccessibleWidget(line, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            return static_cast<const TickerLine*>(widget())->text();
        }
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* MakeAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(TickerLine::staticMetaObject.className()) && object != nullptr) {
        return new TickerLineAccessible(static_cast<TickerLine*>(object));
    }
    return nullptr;
}

}  // namespace

TickerLine::TickerLine(QWidget* parent) : QWidget(parent) {
    static const bool accessible = (QAccessible::installFactory(MakeAccessible), true);
    Q_UNUSED(accessible);
    setAutoFillBackground(true);
}

void TickerLine::ShowTurned(std::string_view cycle, int position) {
    const bool newCycle = cycle != cycleBytes_;
    if (newCycle) {
        cycleBytes_ = cycle;
        cycle_ = QString::fromUtf8(cycle.data(), qsizetype(cycle.size()));
        units_.clear();
        for (qsizetype i = 0; i < cycle_.size(); ++i) {
            if (!cycle_[i].isLowSurrogate() || i == 0 || !cycle_[i - 1].isHighSurrogate()) {
                units_.push_back(i);
            }
        }
        units_.push_back(cycle_.size());
        turnedEachStep_ = HasRightToLeft(cycle_);
        if (!turnedEachStep_) {
            LayOut(cycle_);
            turnedEachStep_ = layout_.lineAt(0).cursorToX(int(cycle_.size())) > kWidestStrip;
        }
    }
    const qsizetype turn = std::clamp<qsizetype>(position, 0, Characters());
    if (!newCycle && turn == position_) {
        return;
    }
    position_ = turn;
    if (turnedEachStep_) {
        LayOut(text());
    }
    update();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void TickerLine::clear() {
    ShowTurned({}, 0);
}

TickerLine::Pieces TickerLine::Shown() const {
    const qsizetype tail = std::min(Characters() - position_, kShownCharacters);
    return {tail, std::min(position_, kShownCharacters - tail)};
}

QString TickerLine::text() const {
    const Pieces shown = Shown();
    return cycle_.mid(Unit(position_), Unit(position_ + shown.tail) - Unit(position_)) +
           cycle_.left(Unit(shown.head));
}

void TickerLine::LayOut(const QString& text) {
    strip_ = QPixmap();
    layout_.clearLayout();
    layout_.setText(text);
    layout_.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout_.setTextOption(option);
    layout_.beginLayout();
    QTextLine line = layout_.createLine();
    if (line.isValid()) {
        line.setPosition({0, 0});
    }
    layout_.endLayout();
}

qreal TickerLine::TextTop() const {
    // Centred as a line edit centres its text.
    return (height() - QFontMetrics(font()).height() + 1) / 2;
}

const QPixmap& TickerLine::Strip() {
    const qreal dpr = devicePixelRatioF();
    if (!strip_.isNull() && strip_.devicePixelRatio() != dpr) {
        strip_ = QPixmap();
    }
    if (strip_.isNull()) {
        const qreal width = layout_.lineAt(0).cursorToX(int(cycle_.size()));
        strip_ = QPixmap(
            QSize(int(std::ceil((width + 2 * kStripPad) * dpr)), int(std::ceil(height() * dpr))));
        strip_.setDevicePixelRatio(dpr);
        strip_.fill(Qt::transparent);
        QPainter painter(&strip_);
        painter.setPen(palette().color(QPalette::WindowText));
        layout_.draw(&painter, QPointF(kStripPad, TextTop()));
    }
    return strip_;
}

void TickerLine::paintEvent(QPaintEvent*) {
    if (layout_.lineCount() == 0 || layout_.text().isEmpty()) {
        return;
    }
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const qreal top = TextTop();
    if (turnedEachStep_) {
        layout_.draw(&painter, QPointF(kLeftMargin, top));
        return;
    }
    const QTextLine line = layout_.lineAt(0);
    const Pieces shown = Shown();
    const qreal start = kLeftMargin - line.cursorToX(int(Unit(position_)));
    const qreal wrap = start + line.cursorToX(int(cycle_.size()));
    const QPixmap& strip = Strip();
    // The strip holds the whole title; each piece shows only its own characters. Pieces land on
    // whole device pixels, so the glyphs keep the shapes they were drawn with and the title moves
    // as one.
    const qreal dpr = strip.devicePixelRatio();
    const auto whole = [dpr](qreal x) { return std::round(x * dpr) / dpr; };
    // A piece is cut exactly at a neighbouring character, and with room to spare where there is
    // none, so that glyphs reaching past their advance still show whole.
    const auto piece = [&](qsizetype first, qsizetype last, qreal left) {
        const qreal from = left + line.cursorToX(int(Unit(first))) - (first == 0 ? kStripPad : 0);
        const qreal to =
            left + line.cursorToX(int(Unit(last))) + (last == Characters() ? kStripPad : 0);
        painter.setClipRect(QRectF(from, 0, to - from, height()));
        painter.drawPixmap(QPointF(whole(left - kStripPad), 0), strip);
    };
    piece(position_, position_ + shown.tail, start);
    if (shown.head > 0) {
        piece(0, shown.head, wrap);
    }
}

void TickerLine::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if ((event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) &&
        !cycle_.isEmpty()) {
        LayOut(turnedEachStep_ ? text() : cycle_);
    }
}

void TickerLine::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    strip_ = QPixmap();
}

}  // namespace kv
