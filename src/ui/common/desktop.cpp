#include "ui/common/desktop.h"

#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace kv {

void QtDesktop::ShowMessage(const std::string& text, bool critical) {
    QMessageBox box(critical ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QStringLiteral("Квотомер"), QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

void QtDesktop::EndProcessNow(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

void QtDesktop::OpenAddress(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

QPoint QtDesktop::PointerPosition() const {
    return QCursor::pos();
}

QRect QtDesktop::PrimaryScreen() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen == nullptr ? QRect() : screen->geometry();
}

void SetStaysOnTop(QWidget& window, bool onTop) {
    if (window.windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) {
        return;
    }
    const bool visible = window.isVisible();
    const QPoint place = window.pos();
    window.setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible) {
        window.move(place);
        window.show();
    }
}

void SetOpacity(QWidget& window, int alpha) {
    const qreal opacity = alpha / 255.0;
    // Every change rewrites the window's opacity property on the X server; the pointer check that
    // asks for it runs every second.
    if (window.windowOpacity() != opacity) {
        window.setWindowOpacity(opacity);
    }
}

}  // namespace kv
