#pragma once

#include <QFont>
#include <QIcon>

class QWidget;

namespace kv {

// The program's look: black windows with white text, a small Cyrillic sans-serif font.
QFont ProgramFont();
// Eight sizes, 16 to 128 pixels; each picture is read when a size is first asked for.
QIcon ProgramIcon();
// White text on a black background; `opaque` fills the background.
void PaintWhiteOnBlack(QWidget* widget, bool opaque);

}  // namespace kv
