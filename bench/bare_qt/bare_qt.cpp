// The least a Qt 6 widget program that shows a changing figure can cost: one window, one label,
// one 1-second timer. With --ticker, a second label also turns a line of text by one character
// every 250 ms: the toolkit's floor for a scrolling title.

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("bare_qt"));
    auto* layout = new QVBoxLayout(&window);
    auto* label = new QLabel(QStringLiteral("0 байт"), &window);
    layout->addWidget(label);
    window.resize(200, 60);
    long ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, label, [&] {
        label->setText(QString::number(++ticks * 1500) + QStringLiteral(" байт"));
    });
    timer.start(1000);

    QTimer tickerTimer;
    if (app.arguments().contains(QStringLiteral("--ticker"))) {
        auto* line = new QLabel(&window);
        layout->addWidget(line);
        QString text = QStringLiteral("Очень длинное название дорожки, которое бежит *** ");
        QObject::connect(&tickerTimer, &QTimer::timeout, line, [line, &text] {
            text = text.mid(1) + text.front();
            line->setText(text.left(36));
        });
        tickerTimer.start(250);
    }
    window.show();
    return QApplication::exec();
}
