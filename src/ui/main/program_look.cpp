#include "ui/main/program_look.h"

#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QWidget>
#include <array>
#include <map>

namespace kv {

namespace {

// The window and tray icon; launchers and menus take the installed theme icons, 256 included.
constexpr std::array<int, 8> kIconSizes = {16, 24, 32, 48, 64, 72, 96, 128};

// Knows the icon's sizes without reading anything and reads each picture the first time it is
// asked for, so building the icon costs nothing and a tray that shows one size reads one.
class ProgramIconEngine : public QIconEngine {
  public:
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        const int side = Fitting(size);
        QPixmap& picture = pictures_[side];
        if (picture.isNull()) {
            picture.load(QStringLiteral(":/images/icon-%1.png").arg(side));
        }
        const QSize shown = actualSize(size, mode, state);
        return shown == picture.size()
                   ? picture
                   : picture.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
               QIcon::State state) override {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    // As a picture is shown: whole when it fits, else scaled down into the size.
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = Fitting(size);
        const QSize picture(side, side);
        if (side <= size.width() && side <= size.height()) {
            return picture;
        }
        return picture.scaled(size, Qt::KeepAspectRatio);
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (int side : kIconSizes) {
            sizes.append(QSize(side, side));
        }
        return sizes;
    }

    QIconEngine* clone() const override { return new ProgramIconEngine(*this); }

  private:
    // The smallest picture that fills the size, or the largest there is.
    static int Fitting(const QSize& size) {
        for (int side : kIconSizes) {
            if (side >= size.width() && side >= size.height()) {
                return side;
            }
        }
        return kIconSizes.back();
    }

    std::map<int, QPixmap> pictures_;
};

}  // namespace

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
    return QIcon(new ProgramIconEngine);
}

void PaintWhiteOnBlack(QWidget* widget, bool opaque) {
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
