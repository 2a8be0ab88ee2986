#pragma once

#include <QFont>
#include <QIcon>

class QWidget;

namespace kv {

// The program's look: black windows with white text, a small Cyrillic sans-serif font.
QFont ProgramFont();
QIcon ProgramIcon();
// Black background and white text; `opaque` fills the background.
void PaintBlackOnWhite(QWidget* widget, bool opaque);

}  // namespace kv
