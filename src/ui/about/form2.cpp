#include "ui/about/form2.h"

#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>
#include <numbers>

#include "common/units.h"
#include "ui/common/twips_layout.h"

namespace kv {

const QColor Form2::kCloseAtRest(255, 255, 255);
const QColor Form2::kCloseHover(228, 228, 228);
const QColor Form2::kClosePressed(250, 227, 180);

namespace {

void Paint(QWidget* widget, const QColor& text, bool opaque) {
    QPalette palette = widget->palette();
    for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button}) {
        palette.setColor(role, Qt::black);
    }
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(role, text);
    }
    widget->setPalette(palette);
    widget->setAutoFillBackground(opaque);
}

QFont DefaultFont() {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);  // 8.25 pt at 96 dpi
    return font;
}

// The close word's face is a script font; an italic serif stands in where it is missing.
QFont CloseFont() {
    const bool hasScript = QFontDatabase::hasFamily(QStringLiteral("Mistral"));
    QFont font(hasScript ? QStringLiteral("Mistral") : QStringLiteral("DejaVu Serif"));
    font.setStyleHint(QFont::Serif);
    font.setPointSizeF(14.25);
    font.setWeight(QFont::Normal);
    font.setItalic(!hasScript);
    return font;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    Paint(label, Qt::white, false);
    return label;
}

}  // namespace

QString AuthorLine() {
    return QStringLiteral("Авторы проекта") + QString(36, u' ') + QStringLiteral("v.1.02") +
           QString(3, u' ') + QStringLiteral("Апрель 2008");
}

QImage AboutPicture() {
    QImage image(90, 90, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(45, 52);

    QRadialGradient glow(centre, 44);
    glow.setColorAt(0, QColor(90, 90, 90));
    glow.setColorAt(1, QColor(20, 20, 20));
    p.setBrush(glow);
    p.setPen(QPen(QColor(200, 200, 200), 2));
    p.drawEllipse(centre, 40, 40);

    // Scale from 210 degrees down to -30, as on a dial gauge.
    for (int i = 0; i <= 10; ++i) {
        const double a = (210.0 - 24.0 * i) * std::numbers::pi / 180.0;
        const double inner = i % 5 == 0 ? 26 : 31;
        p.setPen(
            QPen(i >= 8 ? QColor(255, 255, 255) : QColor(170, 170, 170), i % 5 == 0 ? 2.5 : 1.5));
        p.drawLine(QPointF(centre.x() + inner * std::cos(a), centre.y() - inner * std::sin(a)),
                   QPointF(centre.x() + 36 * std::cos(a), centre.y() - 36 * std::sin(a)));
    }
    const double needle = 60.0 * std::numbers::pi / 180.0;
    p.setPen(QPen(QColor(240, 240, 240), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre,
               QPointF(centre.x() + 30 * std::cos(needle), centre.y() - 30 * std::sin(needle)));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 230, 230));
    p.drawEllipse(centre, 5, 5);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(210, 210, 210));
    p.drawText(QRectF(0, 64, 90, 16), Qt::AlignCenter, QStringLiteral("Мб"));
    p.end();
    return image.convertToFormat(QImage::Format_Grayscale8);
}

Form2::Form2(Desktop& desktop, QWidget* parent) : QWidget(parent), desktop_(desktop) {
    setObjectName("Form2");
    setWindowTitle(QStringLiteral("О программе"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFont(DefaultFont());
    Paint(this, Qt::white, true);
    setFixedSize(TwipsToPixels(8235), TwipsToPixels(1830));

    Frame2 = Place(new QGroupBox(QStringLiteral("Автор"), this), 60, 0, 8115, 1755);
    Frame2->setObjectName("Frame2");
    Paint(Frame2, Qt::white, false);

    Image1 = Place(new QLabel(Frame2), 60, 300, 1350, 1350);
    Image1->setObjectName("Image1");
    Image1->setPixmap(QPixmap::fromImage(AboutPicture()));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Label1 = Place(MakeLabel(Frame2, "Label1", AuthorLine()), 1560, 420, 4395, 255);

    Label4 =
        Place(MakeLabel(Frame2, "Label4", QString::fromLatin1(kHomePage)), 1560, 780, 2175, 255);
    Paint(Label4, QColor(192, 192, 255), false);
    QFont link = DefaultFont();
    link.setUnderline(true);
    Label4->setFont(link);
    Label4->setCursor(Qt::PointingHandCursor);

    Label2 = Place(MakeLabel(Frame2, "Label2", QStringLiteral("Вопросы, пожелания, недовольства:")),
                   1560, 1140, 2835, 315);

    Text1 = Place(new QLineEdit(QString::fromLatin1(kEmail), Frame2), 4500, 1140, 1635, 285);
    Text1->setObjectName("Text1");
    Text1->setReadOnly(true);  // only there to be copied
    Paint(Text1, Qt::white, true);

    Label3 =
        Place(MakeLabel(Frame2, "Label3", QStringLiteral("\r\nЗАКРЫТЬ")), 6180, 420, 1815, 1095);
    Label3->setFont(CloseFont());
    Label3->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label3->setCursor(Qt::PointingHandCursor);
    SetCloseColour(kCloseAtRest);

    for (QWidget* w : {static_cast<QWidget*>(this), static_cast<QWidget*>(Frame2),
                       static_cast<QWidget*>(Image1), static_cast<QWidget*>(Label1),
                       static_cast<QWidget*>(Label2), static_cast<QWidget*>(Label3),
                       static_cast<QWidget*>(Label4), static_cast<QWidget*>(Text1)}) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
}

void Form2::Form_Load() {
    // Centred on the primary screen wherever it sits on the desktop.
    const QRect screen = desktop_.PrimaryScreen();
    move(screen.x() + (screen.width() - width()) / 2,
         screen.y() + (screen.height() - height()) / 2);
    SetStaysOnTop(*this, true);
}

bool Form2::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseMove:
            if (watched == Label3) {
                Label3_MouseMove();
            } else if (watched == Image1 || watched == Label4) {
                // These two leave the colour as it is; the move must not reach the frame.
            } else {
                Form_MouseMove();
                return watched != Text1;
            }
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (watched == Label3) {
                Label3_MouseDown();
                return true;
            }
            if (watched == Text1) {
                Text1_MouseDown();
                return true;  // the edit box's own press would drop the selection again
            }
            break;
        case QEvent::MouseButtonRelease:
            if (watched == Label3) {
                Label3_MouseUp();
                return true;
            }
            if (watched == Label4 &&
                Label4->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
                Label4_Click();
                return true;
            }
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

void Form2::SetCloseColour(const QColor& colour) {
    QPalette palette = Label3->palette();
    palette.setColor(QPalette::WindowText, colour);
    Label3->setPalette(palette);
}

void Form2::Label3_MouseMove() {
    SetCloseColour(kCloseHover);
}

void Form2::Label3_MouseDown() {
    SetCloseColour(kClosePressed);
}

void Form2::Label3_MouseUp() {
    close();
}

void Form2::Form_MouseMove() {
    SetCloseColour(kCloseAtRest);
}

void Form2::Text1_MouseDown() {
    Text1->setFocus(Qt::MouseFocusReason);
    Text1->setSelection(0, int(Text1->text().size()));
}

void Form2::Label4_Click() {
    desktop_.OpenAddress(kHomePage);
}

}  // namespace kv
