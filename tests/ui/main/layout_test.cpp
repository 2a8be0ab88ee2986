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
    void valueLabelsArePlainTextWithDescriptions();
    void buttonsCarryTheirPictures();
    void theProgramIconHasEightSizesEachItsOwnPicture();
    void theWindowTakesItsIconOnlyOnceItIsOnScreen();
    void everyOptionButtonShowsItsRoundButtonAndOnlyTheSetOnesADot();
};

namespace {

struct Placed {
    const char* name;
    int left, top, width, height;  // twips
};

}  // namespace

void LayoutTest::everyControlHasItsPlaceAndCreationState() {
    test::FakePlatform platform;
    test::FakeDesktop desktop;
    ProgramState state;
    Form1 form(state, platform, desktop);
    const Placed controls[] = {
        {"List1", 60, 60, 6435, 1035},       {"Frame1", 60, 1080, 3675, 1455},
        {"Frame2", 3780, 1080, 1815, 915},   {"Frame4", 3780, 1980, 1815, 915},
        {"Frame3", 60, 2520, 3675, 2055},    {"Picture1", 5640, 1140, 840, 1725},
        {"Command3", 3780, 2940, 1815, 795}, {"Command1", 3780, 3780, 1815, 795},
        {"Command2", 5640, 2940, 855, 1635}, {"Label1", 120, 180, 3495, 195},
        {"Label4", 120, 1080, 3495, 255},    {"Option2", 120, 120, 1395, 375},
        {"Option3", 120, 480, 1575, 375},    {"Label6", 1500, 180, 675, 255},
        {"Text1", 1500, 180, 615, 195},      {"Text2", 1500, 480, 615, 195},
        {"Label15", 2460, 1680, 1155, 255},
    };
    for (const Placed& c : controls) {
        auto* w = form.findChild<QWidget*>(c.name);
        QVERIFY2(w != nullptr, c.name);
        const QRect expected((c.left * 2 + 15) / 30, (c.top * 2 + 15) / 30, (c.width * 2 + 15) / 30,
                             (c.height * 2 + 15) / 30);
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
