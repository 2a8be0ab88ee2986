#include "ui/common/graph_box.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace kv {

namespace {

bool Whole(float v) {
    return std::isfinite(v) && v == std::floor(v) && std::abs(v) < 1e6F;
}

}  // namespace

GraphBox::GraphBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GraphBox::SetBackground(const QPixmap& background) {
    background_ = background;
    update();
}

void GraphBox::SetLines(const std::vector<GraphLine>& lines) {
    if (lines == lines_) {
        return;
    }
    lines_ = lines;
    update();
}

void GraphBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (background_.isNull()) {
        painter.fillRect(rect(), Qt::black);
    } else {
        painter.drawPixmap(0, 0, background_);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    // A whole-pixel upright or level line of a one-pixel pen covers exactly the pixels of a
    // one-pixel-wide rectangle, cheaper to fill than to stroke; only at one device pixel per pixel,
    // where the two are known to match.
    const bool fill = painter.device()->devicePixelRatio() == 1;
    for (const GraphLine& line : lines_) {
        const QColor colour = QColor::fromRgb(line.rgb);
        if (fill && (line.x1 == line.x2 || line.y1 == line.y2) && Whole(line.x1) &&
            Whole(line.x2) && Whole(line.y1) && Whole(line.y2)) {
            const float left = std::min(line.x1, line.x2);
            const float top = std::min(line.y1, line.y2);
            painter.fillRect(QRectF(left, top, std::max(line.x1, line.x2) - left + 1,
                                    std::max(line.y1, line.y2) - top + 1),
                             colour);
            continue;
        }
        painter.setPen(QPen(colour, 0));
        painter.drawLine(QPointF(line.x1, line.y1), QPointF(line.x2, line.y2));
    }
}

}  // namespace kv
