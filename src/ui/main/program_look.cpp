#include "ui/main/program_look.h"

#include <QPalette>
#include <QWidget>

namespace kv {

QFont ProgramFont() {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    // 8.25 pt at 96 dpi: 11 pixels, which fits the 13-pixel rows of the layout.
    font.setPixelSize(11);
    // The figures are redrawn every second; OpenType shaping of Latin, Cyrillic and digits was a
    // large part of that and changes nothing visible in them. Scripts that need it keep it.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

QIcon ProgramIcon() {
    QIcon icon;
    // Every size is decoded and handed to the window manager before the window first shows; a
    // 256-pixel one was most of that for a picture no panel draws. Menus and launchers take
    // the installed theme icons instead.
    for (int size : {16, 24, 32, 48, 64, 96, 128}) {
        icon.addFile(QStringLiteral(":/images/icon-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

void PaintBlackOnWhite(QWidget* widget, bool opaque) {
    QPalette palette = widget->palette();
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button}) {
        palette.setColor(role, Qt::black);
    }
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(role, Qt::white);
    }
    widget->setPalette(palette);
    widget->setAutoFillBackground(opaque);
}

}  // namespace kv
