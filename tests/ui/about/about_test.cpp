#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>

#include "support/fake_desktop.h"
#include "ui/about/form2.h"

namespace kv {

// The About window: placement, the close word's colours and release-to-close, the link and the
// e-mail box.
class AboutTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void itOpensCentredAboveOtherWindows();
    void itIsCentredOnThePrimaryScreenWhereverThatStarts_data();
    void itIsCentredOnThePrimaryScreenWhereverThatStarts();
    void theCloseWordClosesOnReleaseNotOnPress();
    void pointerMovesRecolourTheCloseWord_data();
    void pointerMovesRecolourTheCloseWord();
    void theLinkOpensTheHomePageMaximised();
    void aPressInTheEmailBoxSelectsAllOfIt();
    void theAuthorLinePushesVersionAndDateRight();
    void thePictureIsGreyAndUnscaled();

  private:
    QColor CloseColour() const { return about->Label3->palette().color(QPalette::WindowText); }
    void MoveOver(QWidget* widget);

    std::unique_ptr<test::FakeDesktop> desktop;
    std::unique_ptr<Form2> about;
};

void AboutTest::init() {
    desktop = std::make_unique<test::FakeDesktop>();
    about = std::make_unique<Form2>(*desktop);
    about->Form_Load();
    about->show();
    QVERIFY(QTest::qWaitForWindowExposed(about.get()));
}

void AboutTest::cleanup() {
    about.reset();
}

void AboutTest::MoveOver(QWidget* widget) {
    const QPoint at = widget->rect().center();
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

void AboutTest::itOpensCentredAboveOtherWindows() {
    QCOMPARE(about->size(), QSize(549, 122));
    QCOMPARE(about->pos(), QPoint((1920 - 549) / 2, (1080 - 122) / 2));
    QVERIFY(about->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(about->windowTitle(), QStringLiteral("О программе"));
    QCOMPARE(about->Frame2->title(), QStringLiteral("Автор"));
    QCOMPARE(CloseColour(), QColor(255, 255, 255));
}

void AboutTest::itIsCentredOnThePrimaryScreenWhereverThatStarts_data() {
    QTest::addColumn<QRect>("screen");  // in pixels
    QTest::addColumn<QPoint>("corner");
    QTest::newRow("at the desktop's origin") << QRect(0, 0, 1920, 1080) << QPoint(685, 479);
    QTest::newRow("right of another screen") << QRect(1280, 0, 1920, 1080) << QPoint(1965, 479);
    QTest::newRow("below another screen") << QRect(0, 768, 1366, 768) << QPoint(408, 1091);
    QTest::newRow("left of and above the origin")
        << QRect(-1600, -300, 1600, 900) << QPoint(-1075, 89);
}

void AboutTest::itIsCentredOnThePrimaryScreenWhereverThatStarts() {
    QFETCH(QRect, screen);
    QFETCH(QPoint, corner);
    desktop->screen = screen;
    Form2 fresh(*desktop);
    fresh.Form_Load();
    QCOMPARE(fresh.pos(), corner);
}

void AboutTest::theCloseWordClosesOnReleaseNotOnPress() {
    QTest::mousePress(about->Label3, Qt::LeftButton);
    QCOMPARE(CloseColour(), QColor(250, 227, 180));
    QVERIFY(about->isVisible());
    QTest::mouseRelease(about->Label3, Qt::LeftButton);
    QVERIFY(!about->isVisible());
}

void AboutTest::pointerMovesRecolourTheCloseWord_data() {
    QTest::addColumn<QString>("over");
    QTest::addColumn<QColor>("colour");
    // From the hover colour, as after the pointer left the close word.
    QTest::newRow("the close word") << "Label3" << QColor(228, 228, 228);
    QTest::newRow("the window") << "Form2" << QColor(255, 255, 255);
    QTest::newRow("the frame") << "Frame2" << QColor(255, 255, 255);
    QTest::newRow("the author line") << "Label1" << QColor(255, 255, 255);
    QTest::newRow("the question line") << "Label2" << QColor(255, 255, 255);
    QTest::newRow("the e-mail box") << "Text1" << QColor(255, 255, 255);
    QTest::newRow("the picture") << "Image1" << QColor(228, 228, 228);
    QTest::newRow("the link") << "Label4" << QColor(228, 228, 228);
}

void AboutTest::pointerMovesRecolourTheCloseWord() {
    QFETCH(QString, over);
    QFETCH(QColor, colour);
    MoveOver(about->Label3);
    QWidget* target = over == "Form2"
                          ? about.get()
                          : about->findChild<QWidget*>(over, Qt::FindChildrenRecursively);
    QVERIFY(target != nullptr);
    MoveOver(target);
    QCOMPARE(CloseColour(), colour);
}

void AboutTest::theLinkOpensTheHomePageMaximised() {
    QCOMPARE(about->Label4->text(), QStringLiteral("https://example.org/kvotomer"));
    QCOMPARE(about->Label4->palette().color(QPalette::WindowText), QColor(192, 192, 255));
    QVERIFY(about->Label4->font().underline());
    QTest::mouseClick(about->Label4, Qt::LeftButton);
    QCOMPARE(desktop->opened, std::vector<std::string>{"https://example.org/kvotomer"});
}

void AboutTest::aPressInTheEmailBoxSelectsAllOfIt() {
    about->Text1->setCursorPosition(3);
    QTest::mousePress(about->Text1, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(about->Text1->selectedText(), QStringLiteral("kvotomer@example.org"));
    QTest::mouseRelease(about->Text1, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(about->Text1->selectedText(), QStringLiteral("kvotomer@example.org"));
}

void AboutTest::theAuthorLinePushesVersionAndDateRight() {
    const QString line = about->Label1->text();
    QCOMPARE(line.size(), 14 + 36 + 6 + 3 + 11);
    QVERIFY(!line.left(14).contains(u"  "));
    QCOMPARE(line.mid(14, 36), QString(36, u' '));
    QVERIFY(line.endsWith(QStringLiteral("v.1.02   Апрель 2008")));
}

void AboutTest::thePictureIsGreyAndUnscaled() {
    const QImage image = about->Image1->pixmap().toImage();
    QCOMPARE(image.size(), QSize(90, 90));
    QCOMPARE(about->Image1->size(), QSize(90, 90));
    bool anyLight = false;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            QVERIFY(c.red() == c.green() && c.green() == c.blue());
            anyLight = anyLight || c.red() > 128;
        }
    }
    QVERIFY(anyLight);
}

}  // namespace kv

QTEST_MAIN(kv::AboutTest)
#include "about_test.moc"
