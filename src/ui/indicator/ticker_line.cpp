#include "ui/indicator/ticker_line.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QPainter>
#include <QTextLine>
#include <QTextOption>
#include <algorithm>

namespace kv {

namespace {

// Fills the 181-pixel line even in 3-pixel glyphs (i, l, '.'); characters past these are never
// drawn.
constexpr qsizetype kShownCharacters = 64;
// Where a frameless line edit starts its text, so the line looks as it always did.
constexpr qreal kLeftMargin = 2;

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

QString TickerLine::text() const {
    const qsizetype count = Characters();
    const qsizetype tail = std::min(count - position_, kShownCharacters);
    const qsizetype head = std::min(position_, kShownCharacters - tail);
    return cycle_.mid(Unit(position_), Unit(position_ + tail) - Unit(position_)) +
           cycle_.left(Unit(head));
}

void TickerLine::LayOut(const QString& text) {
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

void TickerLine::DrawCharacters(QPainter& painter, qsizetype first, qsizetype count, qreal left,
                                qreal top) const {
    if (count <= 0) {
        return;
    }
    for (const QGlyphRun& run : layout_.glyphRuns(int(first), int(count))) {
        painter.drawGlyphRun(QPointF(left, top), run);
    }
}

void TickerLine::paintEvent(QPaintEvent*) {
    if (layout_.lineCount() == 0 || layout_.text().isEmpty()) {
        return;
    }
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    // Centred as a line edit centres its text.
    const qreal top = (height() - QFontMetrics(font()).height() + 1) / 2;
    if (turnedEachStep_) {
        DrawCharacters(painter, 0, layout_.text().size(), kLeftMargin, top);
        return;
    }
    const QTextLine line = layout_.lineAt(0);
    const qsizetype tail = std::min(Characters() - position_, kShownCharacters);
    const qsizetype head = std::min(position_, kShownCharacters - tail);
    const qreal start = kLeftMargin - line.cursorToX(int(Unit(position_)));
    DrawCharacters(painter, Unit(position_), Unit(position_ + tail) - Unit(position_), start, top);
    DrawCharacters(painter, 0, Unit(head), start + line.cursorToX(int(cycle_.size())), top);
}

void TickerLine::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange && !cycle_.isEmpty()) {
        LayOut(turnedEachStep_ ? text() : cycle_);
    }
}

}  // namespace kv
