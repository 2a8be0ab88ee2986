#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>
#include <cstdio>
#include <cstring>
#include <memory>

#include "fake_bus.h"
#include "platform/linux/media_players.h"

using kv::MediaPlayers;
using kv::test::FakePlayer;
using kv::test::PlayerProperties;
using kv::test::PrivateBus;

namespace {

// How long a change may take to travel through the bus on a loaded machine; waits end as soon as
// it has arrived.
constexpr int kArrives = 10000;

QString Title(MediaPlayers& players) {
    return QString::fromStdString(players.Title(players.Current()));
}

QVariantMap Song(const QVariant& artist, const QString& title, const QVariant& track = {}) {
    QVariantMap m{{QStringLiteral("xesam:title"), title}};
    if (artist.isValid()) {
        m[QStringLiteral("xesam:artist")] = artist;
    }
    if (track.isValid()) {
        m[QStringLiteral("xesam:trackNumber")] = track;
    }
    return m;
}

// The default constructor in a child process, for environments the test itself cannot change.
int Probe(int patienceMs) {
    MediaPlayers players;
    QElapsedTimer t;
    t.start();
    // Until the player's own answer is in, or long enough to tell there is none.
    while (players.Title(players.Current()).size() <= std::strlen(" - Winamp") &&
           t.elapsed() < patienceMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    std::printf("%s\n", players.Title(players.Current()).c_str());
    return 0;
}

}  // namespace

class MediaPlayersTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PrivateBus> bus_;

    // A watcher on a connection of its own, like the program's.
    std::unique_ptr<MediaPlayers> Watch() {
        return std::make_unique<MediaPlayers>(
            bus_->Connect(QStringLiteral("watcher-") + QUuid::createUuid().toString()));
    }

    // `patienceMs`: how long the probe waits for a player before it tells there is none.
    QString RunProbe(const QProcessEnvironment& env, int patienceMs, QByteArray* errors) {
        QProcess probe;
        kv::test::TieToParent(probe);
        probe.setProcessEnvironment(env);
        probe.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--probe"), QString::number(patienceMs)});
        // The fake players live in this process: keep serving them meanwhile.
        QElapsedTimer t;
        t.start();
        while (probe.state() != QProcess::NotRunning && t.elapsed() < patienceMs + 30000) {
            QTest::qWait(20);
        }
        *errors = probe.readAllStandardError();
        return QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
    }

  private slots:
    void initTestCase() {
        bus_ = std::make_unique<PrivateBus>();
        if (!bus_->Started()) {
            QSKIP("dbus-daemon could not be started");
        }
    }

    void cleanupTestCase() { bus_.reset(); }

    void titleIsBuiltLikeThePlayerWindowTitle_data() {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QVariantMap>("metadata");
        QTest::addColumn<QString>("expected");
        const QStringList aria{QStringLiteral("Ария")};
        QTest::newRow("playing track with number")
            << "Playing" << Song(aria, "Штиль", 3) << "3. Ария - Штиль - Winamp";
        QTest::newRow("paused") << "Paused" << Song(aria, "Штиль", 3)
                                << "3. Ария - Штиль - Winamp [Paused]";
        QTest::newRow("stopped") << "Stopped" << Song(aria, "Штиль", 3)
                                 << "3. Ария - Штиль - Winamp [Stopped]";
        QTest::newRow("no artist") << "Playing" << Song({}, "Штиль", 3) << "3. Штиль - Winamp";
        QTest::newRow("no track number")
            << "Playing" << Song(aria, "Штиль") << "Ария - Штиль - Winamp";
        QTest::newRow("track number zero is none")
            << "Playing" << Song(aria, "Штиль", 0) << "Ария - Штиль - Winamp";
        QTest::newRow("64-bit track number")
            << "Playing" << Song(aria, "Штиль", qlonglong(12)) << "12. Ария - Штиль - Winamp";
        QTest::newRow("several artists")
            << "Playing" << Song(QStringList{"Queen", "David Bowie"}, "Under Pressure")
            << "Queen, David Bowie - Under Pressure - Winamp";
        QTest::newRow("artist sent as a plain string")
            << "Playing" << Song(QStringLiteral("Queen"), "Innuendo")
            << "Queen - Innuendo - Winamp";
        QVariantMap byUrl = Song(aria, QString());
        byUrl[QStringLiteral("xesam:url")] = QStringLiteral("file:///music/07%20Intro.flac");
        QTest::newRow("no title takes the file name")
            << "Playing" << byUrl << "Ария - 07 Intro - Winamp";
        QTest::newRow("nothing known") << "Playing" << QVariantMap{} << " - Winamp";
        QTest::newRow("line breaks become spaces")
            << "Playing" << Song({}, "Two\nlines") << "Two lines - Winamp";
    }

    void titleIsBuiltLikeThePlayerWindowTitle() {
        QFETCH(QString, status);
        QFETCH(QVariantMap, metadata);
        QFETCH(QString, expected);
        FakePlayer player(*bus_, QStringLiteral("one"), PlayerProperties(status, metadata));
        auto players = Watch();
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), expected, kArrives);
    }

    void playingBeatsPausedBeatsStopped_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("winner");
        QTest::newRow("playing over paused") << "Playing"
                                             << "Paused"
                                             << "A";
        QTest::newRow("playing over paused, other order") << "Paused"
                                                          << "Playing"
                                                          << "B";
        QTest::newRow("paused over stopped") << "Stopped"
                                             << "Paused"
                                             << "B";
        QTest::newRow("playing over stopped") << "Stopped"
                                              << "Playing"
                                              << "B";
        QTest::newRow("tie keeps the earlier one") << "Stopped"
                                                   << "Stopped"
                                                   << "A";
    }

    void playingBeatsPausedBeatsStopped() {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, winner);
        FakePlayer a(*bus_, QStringLiteral("a"), PlayerProperties(first, Song({}, "A")));
        auto players = Watch();
        QTRY_VERIFY_WITH_TIMEOUT(Title(*players).startsWith("A"), kArrives);
        FakePlayer b(*bus_, QStringLiteral("b"), PlayerProperties(second, Song({}, "B")));
        if (winner == "B") {
            QTRY_VERIFY_WITH_TIMEOUT(Title(*players).startsWith("B"), kArrives);
        } else {
            // Once the watcher has b's answer and then a's later change, b has had its chance.
            QTRY_COMPARE_WITH_TIMEOUT(b.GetAllCalls(), 1, kArrives);
            kv::test::PassedOn(b.Connection());
            a.Change({{QStringLiteral("Metadata"), Song({}, "A2")}});
            QTRY_VERIFY_WITH_TIMEOUT(Title(*players).startsWith("A2"), kArrives);
        }
    }

    void statusAndTrackChangesAreFollowedFromSignals() {
        FakePlayer a(*bus_, QStringLiteral("a"), PlayerProperties("Playing", Song({}, "A")));
        FakePlayer b(*bus_, QStringLiteral("b"), PlayerProperties("Paused", Song({}, "B")));
        auto players = Watch();
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), QString("A - Winamp"), kArrives);
        a.Change({{QStringLiteral("PlaybackStatus"), QStringLiteral("Stopped")}});
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), QString("B - Winamp [Paused]"), kArrives);
        b.Change({{QStringLiteral("PlaybackStatus"), QStringLiteral("Playing")},
                  {QStringLiteral("Metadata"), Song({}, "B2", 2)}});
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), QString("2. B2 - Winamp"), kArrives);
    }

    void invalidatedMetadataIsFetchedAgain() {
        FakePlayer p(*bus_, QStringLiteral("p"), PlayerProperties("Playing", Song({}, "Old")));
        auto players = Watch();
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), QString("Old - Winamp"), kArrives);
        p.SetProperties(PlayerProperties("Playing", Song({}, "New")));
        p.Change({}, {QStringLiteral("Metadata")});
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), QString("New - Winamp"), kArrives);
    }

    void signalsFromOtherSendersDoNotTouchThePlayer() {
        FakePlayer p(*bus_, QStringLiteral("p"), PlayerProperties("Playing", Song({}, "Real")));
        auto players = Watch();
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), QString("Real - Winamp"), kArrives);
        // Same path and interface, but not the player's connection.
        auto impostor = QDBusMessage::createSignal(
            "/org/mpris/MediaPlayer2", "org.freedesktop.DBus.Properties", "PropertiesChanged");
        impostor << QString("org.mpris.MediaPlayer2.Player")
                 << QVariantMap{{"Metadata", Song({}, "Fake")}} << QStringList{};
        QDBusConnection impostorBus = bus_->Connect("impostor");
        impostorBus.send(impostor);
        // The player's own later change arrives after the impostor's and leaves the title alone.
        kv::test::PassedOn(impostorBus);
        p.Change({{QStringLiteral("PlaybackStatus"), QStringLiteral("Paused")}});
        QTRY_VERIFY_WITH_TIMEOUT(Title(*players).endsWith("[Paused]"), kArrives);
        QCOMPARE(Title(*players), QString("Real - Winamp [Paused]"));
        QDBusConnection::disconnectFromBus("impostor");
    }

    void aPlayerThatQuitsIsGoneAndComesBackUnderANewHandle() {
        auto players = Watch();
        auto p = std::make_unique<FakePlayer>(*bus_, QStringLiteral("p"),
                                              PlayerProperties("Playing", Song({}, "X")));
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), QString("X - Winamp"), kArrives);
        const auto before = players->Current();
        p->Quit();
        QTRY_COMPARE_WITH_TIMEOUT(players->Current(), std::uintptr_t(0), kArrives);
        QVERIFY(players->Title(before).empty());
        p = std::make_unique<FakePlayer>(*bus_, QStringLiteral("p"),
                                         PlayerProperties("Playing", Song({}, "Y")));
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), QString("Y - Winamp"), kArrives);
        QVERIFY(players->Current() != before);
    }

    // The lookups answer from what the watcher keeps; asking the hung player would wait for an
    // answer that never comes.
    void aHungPlayerIsNeverAskedByALookup() {
        FakePlayer hung(*bus_, QStringLiteral("hung"), PlayerProperties("Playing", {}), true);
        auto players = Watch();
        QTRY_VERIFY_WITH_TIMEOUT(players->Current() != 0, kArrives);
        QTRY_COMPARE_WITH_TIMEOUT(hung.GetAllCalls(), 1, kArrives);
        for (int i = 0; i < 200; ++i) {
            QCOMPARE(Title(*players), QString(" - Winamp"));
            QCoreApplication::processEvents();
        }

        FakePlayer good(*bus_, QStringLiteral("good"), PlayerProperties("Paused", Song({}, "G")));
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), QString("G - Winamp [Paused]"), kArrives);
        for (int i = 0; i < 200; ++i) {
            QCOMPARE(Title(*players), QString("G - Winamp [Paused]"));
            QCoreApplication::processEvents();
        }
        QCOMPARE(hung.GetAllCalls(), 1);
    }

    void aFloodOfInvalidationsAsksAHungPlayerOnlyOnce() {
        FakePlayer hung(*bus_, QStringLiteral("hung"), PlayerProperties("Playing", {}), true);
        auto players = Watch();
        QTRY_COMPARE_WITH_TIMEOUT(hung.GetAllCalls(), 1, kArrives);
        // The ticker reads on meanwhile.
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { players->Title(players->Current()); });
        ticker.start(10);
        for (int i = 0; i < 5000; ++i) {
            hung.Change({{QStringLiteral("Volume"), 0.5}}, {QStringLiteral("Metadata")});
        }
        // Sent after the flood over the same connection, so it arrives after all of it.
        hung.Change({{QStringLiteral("PlaybackStatus"), QStringLiteral("Paused")}});
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), QString(" - Winamp [Paused]"), 6 * kArrives);
        QCOMPARE(hung.GetAllCalls(), 1);
    }

    void aDisconnectedBusHasNoPlayer() {
        MediaPlayers players(QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("nowhere")));
        QTest::qWait(100);
        QCOMPARE(players.Current(), std::uintptr_t(0));
        QVERIFY(players.Title(1).empty());
    }

    void theDefaultWatcherUsesTheSessionBus() {
        FakePlayer p(*bus_, QStringLiteral("p"), PlayerProperties("Playing", Song({}, "S")));
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus_->Address());
        QByteArray errors;
        QCOMPARE(RunProbe(env, kArrives, &errors), QString("S - Winamp"));
    }

    void withoutASessionBusThereIsNoPlayerAndNoNoise() {
        QTemporaryDir runtime;
        auto env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"}) {
            env.remove(QString::fromLatin1(name));
        }
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        QByteArray errors;
        // Nothing arrives, so the probe waits out its patience: enough for any noise to show.
        QCOMPARE(RunProbe(env, 2000, &errors), QString());
        QCOMPARE(errors, QByteArray());
    }

    void followsARealPlayer() {
        const QString mpv = QStandardPaths::findExecutable(QStringLiteral("mpv"));
        const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        QString script;
        for (const char* path : {"/usr/lib/mpv-mpris/mpris.so", "/etc/mpv/scripts/mpris.so",
                                 "/usr/lib/x86_64-linux-gnu/mpv/scripts/mpris.so"}) {
            if (QFile::exists(path)) {
                script = path;
                break;
            }
        }
        if (mpv.isEmpty() || ffmpeg.isEmpty() || script.isEmpty()) {
            QSKIP("mpv with mpv-mpris and ffmpeg are not installed");
        }
        QTemporaryDir dir;
        struct Tune {
            const char* file;
            const char* artist;
            const char* title;
            int track;
        };
        const Tune tunes[] = {{"a.ogg", "Ария", "Штиль", 3}, {"b.ogg", "Кино", "Звезда", 4}};
        QStringList files;
        for (const Tune& t : tunes) {
            files << dir.filePath(t.file);
            QProcess make;
            make.start(ffmpeg,
                       {"-loglevel", "error", "-y", "-f", "lavfi", "-i", "anullsrc=r=8000:cl=mono",
                        "-t", "600", "-c:a", "libvorbis", "-metadata",
                        QString("artist=") + t.artist, "-metadata", QString("title=") + t.title,
                        "-metadata", QString("track=%1").arg(t.track), files.last()});
            QVERIFY(make.waitForFinished(30000));
            QCOMPARE(make.exitCode(), 0);
        }

        auto players = Watch();
        QProcess player;
        kv::test::TieToParent(player);
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus_->Address());
        player.setProcessEnvironment(env);
        player.start(mpv, QStringList{"--no-config", "--vo=null", "--ao=null", "--script=" + script,
                                      "--idle=no", "--loop-playlist=inf"} +
                              files);
        QVERIFY(player.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(players->Current() != 0, 10000);

        // Whether a track number arrives depends on the plugin's version; ask it directly.
        QDBusConnection control = bus_->Connect(QStringLiteral("control"));
        QString name;
        for (const QString& n : control.interface()->registeredServiceNames().value()) {
            if (n.startsWith("org.mpris.MediaPlayer2.")) {
                name = n;
            }
        }
        auto get = QDBusMessage::createMethodCall(name, "/org/mpris/MediaPlayer2",
                                                  "org.freedesktop.DBus.Properties", "Get");
        get << QString("org.mpris.MediaPlayer2.Player") << QString("Metadata");
        const QDBusReply<QDBusVariant> metadata = control.call(get);
        QVERIFY(metadata.isValid());
        QVariantMap m;
        metadata.value().variant().value<QDBusArgument>() >> m;
        const bool numbered = m.contains("xesam:trackNumber");
        const auto expect = [numbered](const Tune& t, const char* suffix) {
            return (numbered ? QString("%1. ").arg(t.track) : QString()) + t.artist + " - " +
                   t.title + " - Winamp" + suffix;
        };
        const auto command = [&](const char* member) {
            control.call(QDBusMessage::createMethodCall(name, "/org/mpris/MediaPlayer2",
                                                        "org.mpris.MediaPlayer2.Player", member));
        };

        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), expect(tunes[0], ""), kArrives);
        command("Pause");
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), expect(tunes[0], " [Paused]"), kArrives);
        command("Play");
        command("Next");
        QTRY_COMPARE_WITH_TIMEOUT(Title(*players), expect(tunes[1], ""), kArrives);

        player.terminate();
        QVERIFY(player.waitForFinished(5000));
        QTRY_COMPARE_WITH_TIMEOUT(players->Current(), std::uintptr_t(0), kArrives);
        QDBusConnection::disconnectFromBus(QStringLiteral("control"));
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 2 && qstrcmp(argv[1], "--probe") == 0) {
        return Probe(QByteArray(argv[2]).toInt());
    }
    MediaPlayersTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "media_players_test.moc"
