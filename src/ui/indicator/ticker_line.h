#pragma once

#include <QPixmap>
#include <QString>
#include <QTextLayout>
#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// The indicator's player line: each title is laid out and drawn once into a strip, as the ticker
// turns it four times a second; a turn shows two pieces of that strip.
class TickerLine : public QWidget {
    Q_OBJECT

  public:
    // Fills the 181-pixel line even in 3-pixel glyphs (i, l, '.'); characters past these are never
    // drawn.
    static constexpr qsizetype kShownCharacters = 64;

    explicit TickerLine(QWidget* parent = nullptr);

    // Shows `cycle` (UTF-8) turned left by `position` characters: cycle[position:] +
    // cycle[:position].
    void ShowTurned(std::string_view cycle, int position);
    void clear();

    // What the line shows: the first kShownCharacters characters of the turned title.
    QString text() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    // How many characters the line shows from the turn to the title's end, and from its start.
    struct Pieces {
        qsizetype tail;
        qsizetype head;
    };
    Pieces Shown() const;
    void LayOut(const QString& text);
    // The laid-out title drawn once, at the screen's pixel density.
    const QPixmap& Strip();
    qreal TextTop() const;
    qsizetype Unit(qsizetype character) const { return units_[std::size_t(character)]; }
    qsizetype Characters() const { return qsizetype(units_.size()) - 1; }

    std::string cycleBytes_;
    QString cycle_;
    // Where each character starts in `cycle_` (UTF-16 units), and one past the end.
    std::vector<qsizetype> units_{0};
    qsizetype position_ = 0;
    // Right-to-left text is laid out afresh at every step, as its visual order does not follow
    // the turn, and so is a title too wide to keep as a picture.
    bool turnedEachStep_ = false;
    QTextLayout layout_;
    QPixmap strip_;
};

}  // namespace kv
