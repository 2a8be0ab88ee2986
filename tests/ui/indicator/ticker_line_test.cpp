#include <QAccessible>
#include <QImage>
#include <QtTest>

#include "ui/indicator/ticker_line.h"

namespace kv {

namespace {

// A line as the indicator has it: 181 x 13, light text on black, no OpenType shaping.
struct Line {
    TickerLine widget;

    Line() {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(11);
        font.setStyleStrategy(QFont::PreferNoShaping);
        widget.setFont(font);
        QPalette palette = widget.palette();
        palette.setColor(QPalette::Window, Qt::black);
        palette.setColor(QPalette::WindowText, QColor(244, 245, 251));
        widget.setPalette(palette);
        widget.resize(181, 13);
    }

    QImage Picture() {
        QImage image(widget.size(), QImage::Format_RGB32);
        widget.render(&image);
        return image;
    }
};

// How many pixels differ by more than a faint edge would.
int DifferentPixels(const QImage& a, const QImage& b) {
    int count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > 60 || std::abs(qGreen(p) - qGreen(q)) > 60 ||
                std::abs(qBlue(p) - qBlue(q)) > 60) {
                ++count;
            }
        }
    }
    return count;
}

int LitPixels(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += qGray(image.pixel(x, y)) > 100 ? 1 : 0;
        }
    }
    return count;
}

}  // namespace

class TickerLineTest : public QObject {
    Q_OBJECT

  private slots:
    void showsTheTitleTurnedByCharacters_data();
    void showsTheTitleTurnedByCharacters();
    void followsATitleThatChangesUnderTheSameTurn();
    void emptyLineDrawsNothingAndSaysNothing();
};

void TickerLineTest::showsTheTitleTurnedByCharacters_data() {
    QTest::addColumn<QString>("cycle");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("shown");
    const QString longTitle = QString(100, QChar(u'Ф')) + QStringLiteral(" *** ");
    QTest::newRow("a still title stands as it is")
        << QStringLiteral(" Кино - Звезда по имени Солнце") << 0
        << QStringLiteral(" Кино - Звезда по имени Солнце");
    QTest::newRow("a scrolling title wraps its beginning behind its end")
        << QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 *** ") << 30
        << QStringLiteral("456789 *** ABCDEFGHIJKLMNOPQRSTUVWXYZ0123");
    QTest::newRow("a character outside the basic plane is one step, not two")
        << QStringLiteral("a😀b😀c — песня *** ") << 2 << QStringLiteral("b😀c — песня *** a😀");
    QTest::newRow("a turn past the end shows the title from its start")
        << QStringLiteral("ABC") << 7 << QStringLiteral("ABC");
    QTest::newRow("a huge title shows only what fits")
        << longTitle << 50
        << QString(50, QChar(u'Ф')) + QStringLiteral(" *** ") + QString(9, QChar(u'Ф'));
    QTest::newRow("right-to-left text turns by characters too")
        << QStringLiteral("שלום עולם *** ") << 3 << QStringLiteral("ם עולם *** שלו");
}

// The turned line must look exactly like the turned text laid out on its own: the offset into
// the one layout neither cuts nor doubles a character.
void TickerLineTest::showsTheTitleTurnedByCharacters() {
    QFETCH(QString, cycle);
    QFETCH(int, position);
    QFETCH(QString, shown);
    Line turned;
    turned.widget.ShowTurned(cycle.toStdString(), position);
    QCOMPARE(turned.widget.text(), shown);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&turned.widget);
    QVERIFY(accessible != nullptr);
    QCOMPARE(accessible->text(QAccessible::Name), shown);

    Line plain;
    plain.widget.ShowTurned(shown.toStdString(), 0);
    const QImage picture = turned.Picture();
    QVERIFY(LitPixels(picture) > 20);
    QCOMPARE(DifferentPixels(picture, plain.Picture()), 0);
}

void TickerLineTest::followsATitleThatChangesUnderTheSameTurn() {
    Line line;
    line.widget.ShowTurned("ABCDEFGHIJ *** ", 3);
    line.widget.ShowTurned("KLMNOPQRST *** ", 3);
    QCOMPARE(line.widget.text(), QStringLiteral("NOPQRST *** KLM"));
    Line plain;
    plain.widget.ShowTurned("NOPQRST *** KLM", 0);
    QCOMPARE(DifferentPixels(line.Picture(), plain.Picture()), 0);
}

void TickerLineTest::emptyLineDrawsNothingAndSaysNothing() {
    Line line;
    line.widget.ShowTurned("Кино", 0);
    line.widget.clear();
    QCOMPARE(line.widget.text(), QString());
    QCOMPARE(LitPixels(line.Picture()), 0);
}

}  // namespace kv

QTEST_MAIN(kv::TickerLineTest)
#include "ticker_line_test.moc"
