#include <QAccessible>
#include <QImage>
#include <QPainter>
#include <QtTest>

#include "ui/indicator/ticker_line.h"

namespace kv {

namespace {

// A line as the indicator has it: 181 x 13, light text on black, no OpenType shaping. Glyphs
// here are fully hinted, so that every character starts on a whole pixel and pictures of the
// same text compare exactly wherever it was cut.
struct Line {
    TickerLine widget;

    Line() {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(11);
        font.setStyleStrategy(QFont::PreferNoShaping);
        font.setHintingPreference(QFont::PreferFullHinting);
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

// The text as a line edit with the same font and colours would show it.
QImage PlainText(const QString& text) {
    Line line;
    QImage image(line.widget.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setFont(line.widget.font());
    painter.setPen(QColor(244, 245, 251));
    const QFontMetrics metrics(line.widget.font());
    const int top = (line.widget.height() - metrics.height() + 1) / 2;
    painter.drawText(QPointF(2, top + metrics.ascent()), text);
    return image;
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
    QTest::newRow("a title too wide to keep as a picture still turns")
        << QString(700, QChar(u'Ф')) + QStringLiteral(" *** ") << 690
        << QString(10, QChar(u'Ф')) + QStringLiteral(" *** ") + QString(49, QChar(u'Ф'));
    QTest::newRow("right-to-left text turns by characters too")
        << QStringLiteral("שלום עולם *** ") << 3 << QStringLiteral("ם עולם *** שלו");
}

// The turned line must look like the turned text drawn on its own: the pieces of the title it
// shows neither cut nor double nor shift a character.
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

    const QImage picture = turned.Picture();
    QVERIFY(LitPixels(picture) > 20);
    QCOMPARE(DifferentPixels(picture, PlainText(shown)), 0);
}

void TickerLineTest::followsATitleThatChangesUnderTheSameTurn() {
    Line line;
    line.widget.ShowTurned("ABCDEFGHIJ *** ", 3);
    line.widget.ShowTurned("KLMNOPQRST *** ", 3);
    QCOMPARE(line.widget.text(), QStringLiteral("NOPQRST *** KLM"));
    QCOMPARE(DifferentPixels(line.Picture(), PlainText(line.widget.text())), 0);
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
