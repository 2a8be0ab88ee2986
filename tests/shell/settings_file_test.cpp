#include "shell/settings_file.h"

#include "accounting/program_state.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <functional>
#include <iomanip>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kv {
namespace {

using Edit = std::function<void(StoredSettings&)>;

// One readable line per parse result, so a failing row shows every field at once.
std::string Describe(const StoredSettings& s) {
    const auto choice = [](const std::optional<bool>& c) { return c ? (*c ? "1" : "0") : "-"; };
    std::ostringstream out;
    out << std::setprecision(9);
    out << "limit=" << s.moneyLimit << " tariff=" << s.tariffPerMb << " index=" << s.adapterIndex
        << " main=" << s.mainLeft << "," << s.mainTop << " ind=" << s.indicatorLeft << ","
        << s.indicatorTop << " lines8-10=" << choice(s.onTop) << choice(s.indicatorEnabled)
        << choice(s.playerLineShown) << " present=" << s.presentLines;
    return out.str();
}

std::string Describe(const ProgramState& p) {
    std::ostringstream out;
    out << "limit=" << p.moneyLimit << " tariff=" << p.tariffPerMb << " index=" << p.adapterIndex
        << " ind=" << p.indicatorLeft << "," << p.indicatorTop
        << " enabled,shown,hidden,paused=" << p.indicatorEnabled << p.indicatorShown
        << p.playerLineHidden << p.tickerPaused;
    return out.str();
}

std::string Expected(int presentLines, const Edit& edit = {}) {
    StoredSettings s;
    s.presentLines = presentLines;
    if (edit) {
        edit(s);
    }
    return Describe(s);
}

std::string Lines(const std::vector<std::string>& lines, std::string_view end = "\r\n") {
    std::string out;
    for (const auto& line : lines) {
        out += line;
        out += end;
    }
    return out;
}

std::string ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<unreadable>";
}

const std::string kSavedAfterDefaultStart =
    "10\r\n2,5\r\n-1\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n1\r\n";

TEST(SettingsFile, AMissingFileIsCreatedWithTheDefaultTextAndReadBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath("data.dat");
    std::string bytes;
    ASSERT_EQ(LoadOrCreate(path, bytes), SettingsLoad::kRead);
    EXPECT_EQ(kDefaultText.size(), 43U);
    EXPECT_EQ(ReadAll(path), kDefaultText);
    EXPECT_EQ(bytes, kDefaultText);
    const StoredSettings s = ParseSettings(bytes);
    EXPECT_EQ(Describe(s), Expected(9, [](StoredSettings& e) {
                  e.onTop = false;
                  e.indicatorEnabled = false;
              }));
    EXPECT_FALSE(s.Has(SettingsLine::kPlayerLine));
}

TEST(SettingsFile, SavingAfterADefaultStartWritesTenLinesTheTenthOne) {
    QTemporaryDir dir;
    const QString path = dir.filePath("data.dat");
    ASSERT_TRUE(SaveAtomically(path, SerializeSettings(ParseSettings(kDefaultText))));
    EXPECT_EQ(ReadAll(path), kSavedAfterDefaultStart);

    StoredSettings s;
    s.moneyLimit = 7.35F;
    s.tariffPerMb = 3;
    s.playerLineShown = false;
    EXPECT_EQ(SerializeSettings(s),
              "7,35\r\n3\r\n-1\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n0\r\n");
}

TEST(SettingsFile, ReadsEachLineAsDocumented) {
    const std::vector<std::string> good = {"7,35", "3", "1", "100", "200", "300", "400"};
    const Edit goodValues = [](StoredSettings& e) {
        e.moneyLimit = 7.35F;
        e.tariffPerMb = 3;
        e.adapterIndex = 1;
        e.mainLeft = 100;
        e.mainTop = 200;
        e.indicatorLeft = 300;
        e.indicatorTop = 400;
    };
    struct Case {
        std::string sentence;
        std::string bytes;
        std::string expected;
    };
    std::vector<Case> cases = {
        {"an adapter index of 2,5 rounds to the even 2", "0\r\n1\r\n2,5\r\n",
         Expected(3, [](auto& e) { e.moneyLimit = 0, e.tariffPerMb = 1, e.adapterIndex = 2; })},
        {"an indicator left of 8460,5 rounds to 8460 and 40000 twips survive",
         Lines({"1", "1", "0", "0", "0", "8460,5", "40000"}),
         Expected(7,
                  [](auto& e) {
                      e.moneyLimit = e.tariffPerMb = 1, e.adapterIndex = 0,
                      e.mainLeft = e.mainTop = 0;
                      e.indicatorLeft = 8460, e.indicatorTop = 40000;
                  })},
        {"a tariff of 0 becomes 2,5", "1\r\n0\r\n", Expected(2, [](auto& e) { e.moneyLimit = 1; })},
        {"a tariff of -1 becomes 2,5", "1\r\n-1\r\n",
         Expected(2, [](auto& e) { e.moneyLimit = 1; })},
        {"a tariff too small for a float becomes 2,5", "1\r\n1E-50\r\n",
         Expected(2, [](auto& e) { e.moneyLimit = 1; })},
        {"an absent tariff is 2,5", "1", Expected(1, [](auto& e) { e.moneyLimit = 1; })},
        {"an adapter index of -5 counts as -1", "1\r\n1\r\n-5\r\n",
         Expected(3, [](auto& e) { e.moneyLimit = e.tariffPerMb = 1; })},
        {"LF line ends and a last line without an end are read",
         Lines({"7,35", "3", "1", "100", "200", "300", "400", "1", "1"}, "\n") + "0",
         Expected(10,
                  [&](auto& e) {
                      goodValues(e), e.onTop = e.indicatorEnabled = true, e.playerLineShown = false;
                  })},
        {"a byte-order mark is skipped", "\xEF\xBB\xBF" + Lines(good), Expected(7, goodValues)},
        {"lines 11 and 12 are ignored",
         Lines({"7,35", "3", "1", "100", "200", "300", "400", "0", "0", "1", "5", "5"}),
         Expected(10,
                  [&](auto& e) {
                      goodValues(e), e.onTop = e.indicatorEnabled = false, e.playerLineShown = true;
                  })},
        {"an empty file changes nothing", "", Expected(0)},
    };
    // Lines 257 to 266 would be lines 1 to 10 again to an 8-bit line counter.
    std::vector<std::string> longFile = good;
    longFile.insert(longFile.end(), {"0", "0", "0"});
    longFile.resize(300, "1");
    cases.push_back({"a 300-line file is read up to its tenth line", Lines(longFile),
                     Expected(10, [&](auto& e) {
                         goodValues(e), e.onTop = e.indicatorEnabled = e.playerLineShown = false;
                     })});
    for (const std::string choice : {" 1", "1 ", "01", "-1", "", "true"}) {
        cases.push_back({"line 10 of '" + choice + "' changes nothing",
                         Lines(good) + "1\r\n0\r\n" + choice + "\r\n", Expected(10, [&](auto& e) {
                             goodValues(e), e.onTop = true, e.indicatorEnabled = false;
                         })});
    }
    // A bad line keeps the default text's value for that line alone.
    const std::vector<std::string> bad = {"abc", "", " ", "nan", "inf", "-inf", "1,2,3", "1E+999"};
    const std::vector<std::string> outOfRange = {
        "3,5E+38", "3,5E+38", "2147483647,5", "3,5E+38", "-3,5E+38", "-2147483649", "1E+10"};
    const Edit defaultOf[] = {
        [](auto& e) { e.moneyLimit = 10; },     [](auto& e) { e.tariffPerMb = 2.5F; },
        [](auto& e) { e.adapterIndex = -1; },   [](auto& e) { e.mainLeft = 8460; },
        [](auto& e) { e.mainTop = 2625; },      [](auto& e) { e.indicatorLeft = 8460; },
        [](auto& e) { e.indicatorTop = 2625; },
    };
    for (std::size_t line = 0; line < good.size(); ++line) {
        std::vector<std::string> values = bad;
        values.push_back(outOfRange[line]);
        for (const auto& value : values) {
            std::vector<std::string> lines = good;
            lines[line] = value;
            cases.push_back(
                {"line " + std::to_string(line + 1) + " of '" + value + "' keeps its default",
                 Lines(lines), Expected(7, [&](auto& e) { goodValues(e), defaultOf[line](e); })});
        }
    }
    for (const auto& c : cases) {
        EXPECT_EQ(Describe(ParseSettings(c.bytes)), c.expected) << c.sentence;
    }
}

TEST(SettingsFile, ALongFileIsWrittenBackAsTenLines) {
    const std::string text =
        SerializeSettings(ParseSettings(Lines(std::vector<std::string>(12, "1"))));
    EXPECT_EQ(text, "1\r\n1\r\n1\r\n1\r\n1\r\n1\r\n1\r\n1\r\n1\r\n1\r\n");
}

TEST(SettingsFile, ReadingAndSavingIsStableAfterOneSave) {
    const std::vector<std::string> inputs = {
        std::string(kDefaultText),
        Lines({"123456789", "0,1", "-1,5", "-0,0001", "1E-45", "2147483647", "-2147483648"}),
        Lines({"3,4028235E+38", "1,17549435E-38", "7", "16777217", "9999999,5", "16777217",
               "-99999999", "x", "1"}),
        Lines({"-7,35", "0,30000001", "2147483647", "1E+07", "0,00009999999", "32768", "-32769",
               "1", "0", "0", "junk"}),
        // Seven digits of this float read back as a neighbour with other seven digits.
        Lines({"10000004577343673594700000000,0001", "99999999"}),
    };
    for (const auto& input : inputs) {
        const std::string once = SerializeSettings(ParseSettings(input));
        EXPECT_EQ(SerializeSettings(ParseSettings(once)), once) << input;
    }
}

TEST(SettingsFile, AppliesPresentLinesAndTheFlagRulesToTheProgramState) {
    struct Case {
        std::string sentence;
        std::string bytes;
        std::function<void(ProgramState&)> expect;
    };
    const std::vector<Case> cases = {
        {"a two-line file keeps the start-up index and indicator", "5\r\n0\r\n",
         [](ProgramState& p) { p.moneyLimit = 5, p.tariffPerMb = 2.5F; }},
        {"line 9 of 0 switches the indicator off and not shown",
         Lines({"1", "1", "2", "0", "0", "40000", "-5", "1", "0"}),
         [](ProgramState& p) {
             p.moneyLimit = p.tariffPerMb = 1, p.adapterIndex = 2;
             p.indicatorLeft = 40000, p.indicatorTop = -5, p.indicatorShown = false;
         }},
        {"line 10 of 0 hides the player line and pauses the ticker",
         Lines({"1", "1", "2", "0", "0", "0", "0", "0", "1", "0"}),
         [](ProgramState& p) {
             p.moneyLimit = p.tariffPerMb = 1, p.adapterIndex = 2;
             p.indicatorLeft = p.indicatorTop = 0, p.indicatorEnabled = true;
             p.playerLineHidden = p.tickerPaused = true;
         }},
    };
    for (const auto& c : cases) {
        ProgramState start;
        start.adapterIndex = -1;
        start.indicatorLeft = start.indicatorTop = 77;
        start.indicatorShown = true;
        ProgramState actual = start;
        ApplyToState(ParseSettings(c.bytes), actual);
        ProgramState expected = start;
        c.expect(expected);
        EXPECT_EQ(Describe(actual), Describe(expected)) << c.sentence;
    }
    ProgramState hidden;
    hidden.playerLineHidden = hidden.tickerPaused = true;
    ApplyToState(ParseSettings(Lines({"1", "1", "1", "1", "1", "1", "1", "1", "1", " 1"})), hidden);
    EXPECT_TRUE(hidden.playerLineHidden && hidden.tickerPaused) << "line 10 ' 1' changes nothing";
}

TEST(SettingsFile, PrefersTheExecutableFolderWhenItIsWritable) {
    QTemporaryDir dir;
    QFile(dir.filePath("plain-file")).open(QIODevice::WriteOnly);
    const QString fallback = dir.filePath("config/kvotomer");
    struct Case {
        const char* sentence;
        QString exeDir;
        QString fallbackDir;
        QString expected;
    };
    const Case cases[] = {
        {"a writable executable folder is used", dir.path(), fallback, dir.filePath("data.dat")},
        {"a missing executable folder falls back", dir.filePath("gone"), fallback,
         fallback + "/data.dat"},
        {"an executable 'folder' that is a file falls back", dir.filePath("plain-file"), fallback,
         fallback + "/data.dat"},
        // Writable by its mode for root, yet no file can be made there.
        {"a folder that refuses new files falls back", "/sys/kernel", fallback,
         fallback + "/data.dat"},
        {"without a fallback the executable folder is kept", dir.filePath("gone"), QString(),
         dir.filePath("gone/data.dat")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SettingsPath(c.exeDir, c.fallbackDir), c.expected) << c.sentence;
    }
    EXPECT_TRUE(QFileInfo(fallback).isDir()) << "the fallback folder is created";
}

TEST(SettingsFile, LoadingFailsOverToTheDefaultTextAndNeverOverwritesAFile) {
    QTemporaryDir dir;
    const QString existing = dir.filePath("data.dat");
    ASSERT_TRUE(SaveAtomically(existing, "5\r\n"));
    std::string bytes;
    EXPECT_EQ(LoadOrCreate(existing, bytes), SettingsLoad::kRead);
    EXPECT_EQ(bytes, "5\r\n");

    QDir(dir.path()).mkdir("a-folder");
    const struct {
        QString path;
        SettingsLoad expected;
    } cases[] = {
        {dir.filePath("a-folder"), SettingsLoad::kUnreadable},
        {dir.filePath("missing/data.dat"), SettingsLoad::kNotCreated},
    };
    for (const auto& c : cases) {
        bytes = "stale";
        EXPECT_EQ(LoadOrCreate(c.path, bytes), c.expected) << c.path.toStdString();
        EXPECT_EQ(bytes, kDefaultText);
    }
    EXPECT_TRUE(QFileInfo(dir.filePath("a-folder")).isDir());
}

// Root reads a file whatever its mode, so the reading is done by a child that, when started as
// root, first becomes nobody; the folder and the file then belong to nobody.
TEST(SettingsFile, AFileThatCanBeWrittenButNotReadIsReportedAndLeftAlone) {
    QTemporaryDir dir;
    const QString path = dir.filePath("data.dat");
    const std::string text = "7,35\r\n3\r\n";
    ASSERT_TRUE(SaveAtomically(path, text));
    const passwd* nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const bool root = geteuid() == 0;
    if (root) {
        for (const QString& p : {dir.path(), path}) {
            ASSERT_EQ(chown(QFile::encodeName(p).constData(), nobody->pw_uid, nobody->pw_gid), 0);
        }
    }
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::WriteOwner));

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (root && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) {
            _exit(10);
        }
        std::string bytes = "stale";
        const SettingsLoad result = LoadOrCreate(path, bytes);
        _exit(result != SettingsLoad::kUnreadable ? 11 : bytes != kDefaultText ? 12 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "10: could not become nobody, 11: not reported unreadable, 12: not the defaults";
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(ReadAll(path), text);
}

TEST(SettingsFile, AFailedSaveReturnsFalseAndLeavesTheOldFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("data.dat");
    ASSERT_TRUE(SaveAtomically(path, kDefaultText));
    const std::string big(1 << 20, '7');

    EXPECT_FALSE(SaveAtomically(path + "/data.dat", kDefaultText)) << "parent is a regular file";
    QDir(dir.path()).mkdir("a-folder");
    EXPECT_FALSE(SaveAtomically(dir.filePath("a-folder"), kDefaultText)) << "target is a folder";

    // A file size limit fails the write like a full disk, even for root.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = SaveAtomically(path, big);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved) << "full disk";

    EXPECT_EQ(ReadAll(path), kDefaultText);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"data.dat"})
        << "no temporary file is left behind";
}

// The kills land anywhere within a few saves' time as this machine takes them, so some fall
// inside a save and some after one has completed, however slow the disk is.
TEST(SettingsFile, ASaveKilledAtAnyMomentLeavesTheOldOrTheNewText) {
    QTemporaryDir dir;
    const QString path = dir.filePath("data.dat");
    const std::string texts[] = {std::string(4 << 20, 'B'), std::string(kSavedAfterDefaultStart)};
    std::chrono::nanoseconds twoSaves{0};
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(SaveAtomically(path, texts[0]));
        ASSERT_TRUE(SaveAtomically(path, texts[1]));
        twoSaves = std::max(twoSaves, std::chrono::steady_clock::now() - start);
    }
    std::mt19937 random(20240501);
    std::uniform_int_distribution<std::int64_t> delay(
        0, std::chrono::duration_cast<std::chrono::microseconds>(twoSaves).count() * 2);
    int changed = 0;
    for (int i = 0; i < 200; ++i) {
        const std::string& old = texts[i % 2];
        ASSERT_TRUE(SaveAtomically(path, old));
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(started[0]);
            const char ready = 1;
            [[maybe_unused]] const ssize_t sent = write(started[1], &ready, 1);
            for (int n = 1; n < 100000; ++n) {
                SaveAtomically(path, texts[(i + n) % 2]);
            }
            _exit(0);
        }
        close(started[1]);
        char ready = 0;
        [[maybe_unused]] const ssize_t got = read(started[0], &ready, 1);
        close(started[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string now = ReadAll(path);
        ASSERT_TRUE(now == texts[0] || now == texts[1])
            << "iteration " << i << ": " << now.size() << " bytes";
        changed += now != old ? 1 : 0;
    }
    EXPECT_GT(changed, 0) << "no save ever completed, so the kills proved nothing";
}

}  // namespace
}  // namespace kv
