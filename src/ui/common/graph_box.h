#pragma once

#include <QPixmap>
#include <QWidget>
#include <vector>

#include "accounting/graph_lines.h"

namespace kv {

// A picture box that draws the line commands of a graph step over its background.
class GraphBox : public QWidget {
  public:
    explicit GraphBox(QWidget* parent = nullptr);

    void SetBackground(const QPixmap& background);
    // Takes the lines of the latest step; the box repaints from them whenever asked.
    void SetLines(const std::vector<GraphLine>& lines);
    const std::vector<GraphLine>& Lines() const { return lines_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap background_;
    std::vector<GraphLine> lines_;
};

}  // namespace kv
