#include "ui/common/graph_box.h"

#include <QPainter>

namespace kv {

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
    for (const GraphLine& line : lines_) {
        painter.setPen(QPen(QColor::fromRgb(line.rgb), 0));
        painter.drawLine(QPointF(line.x1, line.y1), QPointF(line.x2, line.y2));
    }
}

}  // namespace kv
