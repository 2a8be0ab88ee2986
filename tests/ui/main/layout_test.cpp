#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "support/fake_desktop.h"
#include "support/fake_platform.h"
#include "ui/common/graph_box.h"
#include "ui/main/form1.h"
#include "ui/main/program_look.h"

namespace kv {

class LayoutTest : public QObject {
    Q_OBJECT

  private slots:
    void everyControlHasItsPlaceAndCreationState();
    void everyControlFitsTheClientArea();
    void theTabKeyVisitsTheControlsInTheirOrder();
    void valueLabelsArePlainTextWithDescriptions();
    void buttonsCarryTheirPictures();
    void theProgramIconHasEightSizesEachItsOwnPicture();
    void theWindowTakesItsIconOnlyOnceItIsOnScreen();
    void everyOptionButtonShowsItsRoundButtonAndOnlyTheSetOnesADot();
};

void LayoutTest::everyControlHasItsPlaceAndCreationState() {
    test::FakePlatform platform;
    test::FakeDesktop desktop;
    ProgramState state;
    Form1 form(state, platform, desktop);
    // Pixel rectangles as measured on the window at 96 dpi, relative to each control's parent.
    const std::pair<const char*, QRect> controls[] = {
        {"List1", {4, 4, 429, 69}},        {"Frame1", {4, 72, 245, 97}},
        {"Frame2", {252, 72, 121, 61}},    {"Frame4", {252, 132, 121, 61}},
        {"Frame3", {4, 168, 245, 137}},    {"Picture1", {376, 76, 56, 115}},
        {"Command3", {252, 196, 121, 53}}, {"Command1", {252, 252, 121, 53}},
        {"Command2", {376, 196, 57, 109}}, {"Label1", {8, 12, 233, 13}},
        {"Label4", {8, 72, 233, 17}},      {"Option2", {8, 8, 93, 25}},
        {"Option3", {8, 32, 105, 25}},     {"Label6", {100, 12, 45, 17}},
        {"Text1", {100, 12, 41, 13}},      {"Text2", {100, 32, 41, 13}},
        {"Label15", {164, 112, 77, 17}},
    };
    for (const auto& [name, expected] : controls) {
        auto* w = form.findChild<QWidget*>(name);
        QVERIFY2(w != nullptr, name);
        QCOMPARE(w->geometry(), expected);
    }
    QVERIFY(form.Text1->isHidden());
    QVERIFY(form.Text2->isHidden());
    QVERIFY(form.Option2->isChecked());
    QVERIFY(form.Option3->isChecked());
    QVERIFY(!form.Option1->isChecked());
    QVERIFY(!form.Timer1->isActive());
    QVERIFY(!form.Timer2->isActive());
    QCOMPARE(form.Timer1->interval(), 1000);
    QCOMPARE(form.Timer2->interval(), 500);
    QCOMPARE(form.Label6->text(), QStringLiteral("2,5"));
    QCOMPARE(form.Label7->text(), QStringLiteral("2,5"));
    for (QLabel* empty : {form.Label1, form.Label2, form.Label3, form.Label4, form.Label10,
                          form.Label12, form.Label13, form.Label15}) {
        QVERIFY2(empty->text().isEmpty(), qPrintable(empty->objectName()));
    }
    QCOMPARE(form.windowTitle(), QStringLiteral("Квотомер"));
    QVERIFY(form.windowFlags().testFlag(Qt::Tool));
    QVERIFY(!form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
}

void LayoutTest::everyControlFitsTheClientArea() {
    test::FakePlatform platform;
    test::FakeDesktop desktop;
    ProgramState state;
    Form1 form(state, platform, desktop);
    QCOMPARE(form.size(), QSize(438, 309));
    for (QWidget* child : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        QVERIFY2(form.rect().contains(child->geometry()), qPrintable(child->objectName()));
        for (QWidget* inner : child->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (inner->objectName().isEmpty() || inner->objectName().startsWith("qt_")) {
                continue;
            }
            QVERIFY2(child->rect().contains(inner->geometry()), qPrintable(inner->objectName()));
        }
    }
}

void LayoutTest::theTabKeyVisitsTheControlsInTheirOrder() {
    test::FakePlatform platform;
    test::FakeDesktop desktop;
    ProgramState state;
    Form1 form(state, platform, desktop);
    const QList<QWidget*> expected = {form.List1,    form.Option2, form.Option1, form.Command1,
                                      form.Command2, form.Text1,   form.Text2,   form.Option3,
                                      form.Option4,  form.Command3};
    QList<QWidget*> visited;
    QWidget* w = form.List1;
    do {
        if (expected.contains(w)) {
            visited.append(w);
        }
        w = w->nextInFocusChain();
    } while (w != form.List1 && visited.size() <= expected.size());
    QCOMPARE(visited, expected);
}

void LayoutTest::valueLabelsArePlainTextWithDescriptions() {
    test::FakePlatform platform;
    test::FakeDesktop desktop;
    ProgramState state;
    Form1 form(state, platform, desktop);
    for (QLabel* label : form.findChildren<QLabel*>()) {
        QCOMPARE(label->textFormat(), Qt::PlainText);
    }
    QCOMPARE(form.Label15->accessibleDescription(), QStringLiteral("Осталось денег"));
    QVERIFY(form.Label15->accessibleName().isEmpty());  // the text itself is the name
}

void LayoutTest::buttonsCarryTheirPictures() {
    test::FakePlatform platform;
    test::FakeDesktop desktop;
    ProgramState state;
    Form1 form(state, platform, desktop);
    const struct {
        QPushButton* button;
        QSize picture;
        const char* name;
    } buttons[] = {{form.Command3, {78, 35}, "Отключить инет"},
                   {form.Command1, {53, 29}, "Выход"},
                   {form.Command2, {53, 29}, "Скрыть"}};
    for (const auto& b : buttons) {
        QVERIFY(b.button->text().isEmpty());
        QCOMPARE(b.button->iconSize(), b.picture);
        QVERIFY(!b.button->icon().isNull());
        QCOMPARE(b.button->accessibleName(), QString::fromUtf8(b.name));
    }
}

void LayoutTest::theProgramIconHasEightSizesEachItsOwnPicture() {
    const QIcon icon = ProgramIcon();
    const QList<QSize> sizes = icon.availableSizes();
    QCOMPARE(sizes.size(), 8);
    int k = 0;
    for (int side : {16, 24, 32, 48, 64, 72, 96, 128}) {
        QCOMPARE(sizes[k++], QSize(side, side));
        // The size's own picture, not a neighbour scaled to it.
        const QImage own(QStringLiteral(":/images/icon-%1.png").arg(side));
        QCOMPARE(own.size(), QSize(side, side));
        QCOMPARE(icon.pixmap(side).toImage().convertToFormat(QImage::Format_ARGB32),
                 own.convertToFormat(QImage::Format_ARGB32));
    }
    // Sizes in between and beyond are scaled down from the next picture up, or the largest.
    QCOMPARE(icon.pixmap(20).size(), QSize(20, 20));
    QCOMPARE(icon.actualSize(QSize(40, 20)), QSize(20, 20));
    QCOMPARE(icon.pixmap(256).size(), QSize(128, 128));
}

void LayoutTest::theWindowTakesItsIconOnlyOnceItIsOnScreen() {
    test::FakePlatform platform;
    test::FakeDesktop desktop;
    ProgramState state;
    Form1 form(state, platform, desktop);
    form.show();
    // Made and about to map: handing over the pictures now would delay the first frame.
    QVERIFY(form.windowHandle()->icon().isNull());
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_COMPARE(form.windowHandle()->icon().availableSizes().size(), 8);
    QCOMPARE(form.windowIcon().availableSizes(), ProgramIcon().availableSizes());
}

void LayoutTest::everyOptionButtonShowsItsRoundButtonAndOnlyTheSetOnesADot() {
    test::FakePlatform platform;
    test::FakeDesktop desktop;
    ProgramState state;
    Form1 form(state, platform, desktop);
    Form1* f = &form;
    const struct {
        QRadioButton* option;
        bool set;
    } options[] = {
        {f->Option2, true}, {f->Option1, false}, {f->Option4, false}, {f->Option3, true}};
    for (const auto& [option, set] : options) {
        QCOMPARE(option->isChecked(), set);
        QStyleOptionButton look;
        look.initFrom(option);
        const QRect round =
            option->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &look, option);
        const QImage shot = option->grab().toImage();
        // The panel is black: the round button must stand out from it, set or not.
        int light = 0;
        for (int y = round.top(); y <= round.bottom(); ++y) {
            for (int x = round.left(); x <= round.right(); ++x) {
                light += qGray(shot.pixel(x, y)) > 160 ? 1 : 0;
            }
        }
        QVERIFY2(light * 3 >= round.width() * round.height(), qPrintable(option->text()));
        // The dot is dark on the light round button.
        const int middle = qGray(shot.pixel(round.center()));
        QVERIFY2(set ? middle < 100 : middle > 160, qPrintable(option->text()));
    }
}

}  // namespace kv

QTEST_MAIN(kv::LayoutTest)
#include "layout_test.moc"
