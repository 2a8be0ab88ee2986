#include <QApplication>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "common/units.h"
#include "ui/common/graph_box.h"
#include "ui/common/twips_layout.h"
#include "ui/main/form1.h"
#include "ui/main/program_look.h"

namespace kv {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, Qt::Alignment align,
                  bool opaque) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(align | Qt::AlignVCenter);
    PaintWhiteOnBlack(label, false);
    label->setAutoFillBackground(opaque);
    return label;
}

QFrame* MakeFrame(QWidget* parent, const char* name) {
    auto* frame = new QFrame(parent);
    frame->setObjectName(name);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    PaintWhiteOnBlack(frame, true);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::WindowText, QColor(128, 128, 128));
    frame->setPalette(palette);
    return frame;
}

QRadioButton* MakeOption(QWidget* parent, const char* name, const QString& caption) {
    auto* option = new QRadioButton(caption, parent);
    option->setObjectName(name);
    PaintWhiteOnBlack(option, true);
    // Styles draw the round button in the Base colour and its dot in the Text colour: black on
    // black would leave an unset button invisible. White with a black dot, as on Windows.
    QPalette palette = option->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    option->setPalette(palette);
    return option;
}

QPushButton* MakePictureButton(QWidget* parent, const char* name, const QString& picture,
                               const QString& accessibleName) {
    auto* button = new QPushButton(parent);
    button->setObjectName(name);
    // QIcon finds the double-density picture beside the plain one; QPixmap would not.
    const QPixmap pixmap(picture);
    button->setIcon(QIcon(picture));
    button->setIconSize(pixmap.deviceIndependentSize().toSize());
    button->setAccessibleName(accessibleName);
    button->setFocusPolicy(Qt::TabFocus);
    button->setStyleSheet(
        "QPushButton { background: black; border: 1px solid #808080; }"
        "QPushButton:pressed { border: 2px inset #808080; }");
    return button;
}

QLineEdit* MakeEditor(QWidget* parent, const char* name) {
    auto* box = new QLineEdit(QStringLiteral("2,5"), parent);
    box->setObjectName(name);
    box->setAlignment(Qt::AlignCenter);
    box->setFrame(false);
    box->setPalette(QApplication::palette(box));
    box->setAutoFillBackground(true);
    box->hide();
    return box;
}

}  // namespace

void Form1::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // The window system takes every size of a window's icon as the window is made, before it
    // maps; given once the window is on screen, that reading stays out of start-up.
    if (!iconQueued_) {
        iconQueued_ = true;
        QTimer::singleShot(0, this, [this] { setWindowIcon(ProgramIcon()); });
    }
}

void Form1::BuildLayout() {
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Квотомер"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFont(ProgramFont());
    PaintWhiteOnBlack(this, true);
    setFixedSize(TwipsToPixels(6570), TwipsToPixels(4635));

    List1 = Place(new QListWidget(this), 60, 60, 6435, 1035);
    List1->setObjectName("List1");
    List1->setAccessibleName(QStringLiteral("Сетевые интерфейсы"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    PaintWhiteOnBlack(List1, true);
    QPalette listPalette = List1->palette();
    listPalette.setColor(QPalette::Base, Qt::black);
    listPalette.setColor(QPalette::Text, Qt::white);
    List1->setPalette(listPalette);

    Frame1 = Place(MakeFrame(this, "Frame1"), 60, 1080, 3675, 1455);
    Frame2 = Place(MakeFrame(this, "Frame2"), 3780, 1080, 1815, 915);
    Frame4 = Place(MakeFrame(this, "Frame4"), 3780, 1980, 1815, 915);
    Frame3 = Place(MakeFrame(this, "Frame3"), 60, 2520, 3675, 2055);

    Picture1 = Place(new GraphBox(this), 5640, 1140, 840, 1725);
    Picture1->setObjectName("Picture1");
    Picture1->setAccessibleName(QStringLiteral("График скорости"));

    Command3 = Place(MakePictureButton(this, "Command3", ":/images/command3.png",
                                       QStringLiteral("Отключить инет")),
                     3780, 2940, 1815, 795);
    Command1 =
        Place(MakePictureButton(this, "Command1", ":/images/command1.png", QStringLiteral("Выход")),
              3780, 3780, 1815, 795);
    Command2 = Place(
        MakePictureButton(this, "Command2", ":/images/command2.png", QStringLiteral("Скрыть")),
        5640, 2940, 855, 1635);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    Timer2 = new QTimer(this);
    Timer2->setInterval(500);

    const Qt::Alignment left = Qt::AlignLeft;
    const Qt::Alignment right = Qt::AlignRight;
    Label1 = Place(MakeLabel(Frame1, "Label1", {}, left, false), 120, 180, 3495, 195);
    Label2 = Place(MakeLabel(Frame1, "Label2", {}, left, false), 120, 480, 3495, 255);
    Label3 = Place(MakeLabel(Frame1, "Label3", {}, left, false), 120, 780, 3495, 255);
    Label4 = Place(MakeLabel(Frame1, "Label4", {}, left, false), 120, 1080, 3495, 255);
    Label1->setAccessibleDescription(QStringLiteral("Интерфейс"));
    Label2->setAccessibleDescription(QStringLiteral("Отправлено"));
    Label3->setAccessibleDescription(QStringLiteral("Принято"));
    Label4->setAccessibleDescription(QStringLiteral("Текущая скорость"));

    Option2 =
        Place(MakeOption(Frame2, "Option2", QStringLiteral("обычное окно")), 120, 120, 1395, 375);
    Option1 =
        Place(MakeOption(Frame2, "Option1", QStringLiteral("поверх окон")), 120, 480, 1395, 375);
    Option2->setChecked(true);
    Option4 =
        Place(MakeOption(Frame4, "Option4", QStringLiteral("индикатор вкл")), 120, 120, 1515, 375);
    Option3 =
        Place(MakeOption(Frame4, "Option3", QStringLiteral("индикатор выкл")), 120, 480, 1575, 375);
    Option3->setChecked(true);

    Label5 = Place(MakeLabel(Frame3, "Label5", QStringLiteral("Тариф (за р/Мб):"), left, true), 120,
                   180, 1335, 255);
    Label6 = Place(MakeLabel(Frame3, "Label6", QStringLiteral("2,5"), Qt::AlignHCenter, true), 1500,
                   180, 675, 255);
    Text1 = Place(MakeEditor(Frame3, "Text1"), 1500, 180, 615, 195);
    Label8 = Place(MakeLabel(Frame3, "Label8", QStringLiteral("Лимит денег:"), right, true), 120,
                   480, 1275, 255);
    Label7 = Place(MakeLabel(Frame3, "Label7", QStringLiteral("2,5"), Qt::AlignHCenter, true), 1500,
                   480, 675, 255);
    Text2 = Place(MakeEditor(Frame3, "Text2"), 1500, 480, 615, 195);
    Label6->setAccessibleDescription(QStringLiteral("Тариф, руб. за Мб; нажмите, чтобы изменить"));
    Label7->setAccessibleDescription(QStringLiteral("Лимит денег, руб.; нажмите, чтобы изменить"));
    Text1->setAccessibleName(QStringLiteral("Тариф (за р/Мб)"));
    Text2->setAccessibleName(QStringLiteral("Лимит денег"));

    Line1 = new QFrame(Frame3);
    Line1->setObjectName("Line1");
    Line1->setGeometry(TwipsToPixels(180), TwipsToPixels(720),
                       TwipsToPixels(3540) - TwipsToPixels(180) + 1, 1);
    Line1->setAutoFillBackground(true);
    QPalette rule = Line1->palette();
    rule.setColor(QPalette::Window, QColor(128, 128, 128));
    Line1->setPalette(rule);
    Line1->setAttribute(Qt::WA_TransparentForMouseEvents);

    Label9 = Place(MakeLabel(Frame3, "Label9", QStringLiteral("Лимит трафика:"), right, true), 1020,
                   780, 1335, 255);
    Label10 = Place(MakeLabel(Frame3, "Label10", {}, left, true), 2460, 780, 1155, 255);
    Label14 = Place(MakeLabel(Frame3, "Label14", QStringLiteral("Текущий трафик:"), right, true),
                    1020, 1080, 1335, 255);
    Label13 = Place(MakeLabel(Frame3, "Label13", {}, left, true), 2460, 1080, 1155, 255);
    Label11 = Place(MakeLabel(Frame3, "Label11", QStringLiteral("Осталось трафика:"), right, true),
                    720, 1380, 1635, 255);
    Label12 = Place(MakeLabel(Frame3, "Label12", {}, left, true), 2460, 1380, 1155, 255);
    Label16 = Place(MakeLabel(Frame3, "Label16", QStringLiteral("Осталось денег:"), right, true),
                    720, 1680, 1635, 255);
    Label15 = Place(MakeLabel(Frame3, "Label15", {}, left, true), 2460, 1680, 1155, 255);
    Label10->setAccessibleDescription(QStringLiteral("Лимит трафика"));
    Label13->setAccessibleDescription(QStringLiteral("Текущий трафик"));
    Label12->setAccessibleDescription(QStringLiteral("Осталось трафика"));
    Label15->setAccessibleDescription(QStringLiteral("Осталось денег"));

    const QWidget* order[] = {List1, Option2, Option1, Command1, Command2,
                              Text1, Text2,   Option3, Option4,  Command3};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
    }
}

}  // namespace kv
