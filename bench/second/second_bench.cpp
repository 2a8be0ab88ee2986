// Runs the program's periodic work on a scripted interface table so that callgrind can count the
// instructions of exactly N simulated seconds (MeasuredSeconds is the function to collect).
//
//   bench_second [seconds] [--paint]
//
// --paint also lets Qt lay out and paint the changed widgets after each second (offscreen), as
// the event loop would; without it only the handlers run.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "accounting/program_state.h"
#include "support/fake_desktop.h"
#include "support/fake_platform.h"
#include "ui/indicator/form3.h"
#include "ui/indicator/ticker_line.h"
#include "ui/main/form1.h"

namespace {

// Watch row 1 (eth0), indicator enabled and shown, player line shown.
constexpr char kSettings[] = "10\r\n2,5\r\n1\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n1\r\n1\r\n";

// Counters move every second by a changing amount, like a link in use.
void Traffic(kv::test::FakePlatform& platform, long second) {
    for (auto& row : platform.interfaces) {
        row.received += std::uint32_t(1000 + (second * 7919 + row.index * 104729) % 150000);
        row.sent += std::uint32_t(200 + (second * 3571 + row.index * 1299709) % 20000);
    }
}

void RunSeconds(kv::Form1& main, kv::Form3& indicator, kv::test::FakePlatform& platform, long first,
                long count, bool paint) {
    for (long s = first; s < first + count; ++s) {
        Traffic(platform, s);
        main.Timer1_Timer();
        indicator.Timer1_Timer();
        indicator.Timer3_Timer();
        for (int step = 0; step < 4; ++step) {
            indicator.Timer2_Timer();
        }
        if (paint) {
            QApplication::processEvents();
        }
    }
}

// Only the measured seconds, not the warm-up: the function callgrind collects.
[[gnu::noinline]] void MeasuredSeconds(kv::Form1& main, kv::Form3& indicator,
                                       kv::test::FakePlatform& platform, long first, long count,
                                       bool paint) {
    RunSeconds(main, indicator, platform, first, count, paint);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100;
    if (seconds <= 0) {
        seconds = 100;
    }
    const bool paint = argc > 2 && std::strcmp(argv[2], "--paint") == 0;
    QApplication app(argc, argv);

    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("data.dat")));
    if (!file.open(QIODevice::WriteOnly) || file.write(kSettings) < 0) {
        std::fprintf(stderr, "cannot write the settings file\n");
        return 1;
    }
    file.close();

    kv::test::FakePlatform platform;
    platform.Add(1, "lo", 100000, 100000);
    platform.Add(2, "eth0", 5000000, 1000000);
    platform.Add(3, "wlan0", 77000, 12000);
    platform.Add(4, "veth-kv", 0, 0);
    platform.playerTitle =
        "12. Ансамбль песни и пляски — Очень длинное название дорожки, которое не помещается "
        "в строку индикатора - Winamp";

    kv::ProgramState state;
    kv::test::FakeDesktop desktop;
    kv::Form1 main(state, platform, desktop);
    main.SetDataDirectory(dir.path());
    // Nothing the timers do is a user change; keep the disk out of the count.
    main.OnSettingsChanged = [] {};
    main.Form_Load();
    main.show();
    kv::Form3* indicator = main.Indicator();
    if (indicator == nullptr || !indicator->isVisible() || !main.Timer1->isActive()) {
        std::fprintf(stderr, "the indicator is not shown or the accounting timer is not running\n");
        return 1;
    }
    // The real timers stay out of the way: every tick below is called directly.
    main.Timer1->stop();
    main.Timer2->stop();
    indicator->StopTimers();
    // Timer1_Timer on the indicator blanks its figures unless the accounting timer runs.
    main.Timer1->start(1000000);

    QApplication::processEvents();
    const long warmUp = 20;
    RunSeconds(main, *indicator, platform, 0, warmUp, paint);
    QApplication::processEvents();
    MeasuredSeconds(main, *indicator, platform, warmUp, seconds, paint);

    std::printf("seconds %ld paint %d tableReads %d received \"%s\" ticker \"%s\"\n", seconds,
                int(paint), platform.tableReads, qPrintable(main.Label3->text()),
                qPrintable(indicator->Text1->text().left(20)));
    main.Timer1->stop();
    return 0;
}
