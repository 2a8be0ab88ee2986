#include "shell/ledger.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

#include "shell/settings_file.h"
#include "support/fake_platform.h"

namespace kv {
namespace {

constexpr double kMb = 1048576;

// One program run after another over the same folder and the same scripted system: each run
// loads data.dat and the journal as the program does, and ends by an exit or by a kill.
class LedgerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform.Add(1, "lo");
        platform.Add(2, "eth0", 0, 0);
        WriteLimit(10, 2.5f);
    }

    void WriteLimit(float limit, float tariff) {
        StoredSettings settings;
        settings.moneyLimit = limit;
        settings.tariffPerMb = tariff;
        settings.presentLines = 2;
        ASSERT_TRUE(SaveAtomically(Path("data.dat"), SerializeSettings(settings)));
    }

    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    // Starts a run and, when `row` is given, lets the user choose it.
    void Start(std::int32_t row = -1, std::string boot = "boot-a") {
        state = std::make_unique<ProgramState>();
        QFile file(Path("data.dat"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        ApplyToState(ParseSettings(file.readAll().toStdString()), *state);
        ledger = std::make_unique<Ledger>(*state, platform);
        ledger->SetBootId(std::move(boot));
        ledger->SetClock([this] { return clock; });
        ledger->SetShell({[this] { Save(); },
                          [this](const std::string& text, bool) { told.push_back(text); },
                          [this](const std::string& text) { shown.push_back(text); }});
        ASSERT_TRUE(ledger->Load(Path("data.dat"), true));
        ledger->Started();
        if (row >= 0) {
            ledger->Watch(row);
        } else if (const std::int32_t again = ledger->StartRow(-1); again >= 0) {
            ledger->Watch(again);
        }
        Tick();
    }

    void Save() {
        ++saves;
        if (!settingsFail) {
            WriteLimit(state->moneyLimit, state->tariffPerMb);
        }
    }

    void Tick(int seconds = 1) {
        clock = clock.addSecs(seconds);
        ASSERT_TRUE(ledger->Refresh());
        ledger->Tick();
    }

    void Exit() {
        ledger->Keep();
        ledger.reset();
    }
    void Kill() { ledger.reset(); }

    // A new machine: no journal, no receipts, the limit at 10 and eth0 at zero.
    void Forget() {
        for (const char* name : {"paid.dat", "payments.csv"}) {
            QDir(Path(name)).removeRecursively();
            QFile::remove(Path(name));
        }
        WriteLimit(10, 2.5f);
        platform.interfaces.clear();
        platform.Add(1, "lo");
        platform.Add(2, "eth0", 0, 0);
    }

    void Use(std::uint32_t index, double mb) {
        platform.Find(index)->received += std::uint32_t(mb * kMb);
    }

    // Writing the file fails from now on, and it keeps what it held, as a failed atomic save
    // leaves it; Unblock puts that back.
    void Block(const char* name) {
        QFile file(Path(name));
        blocked = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        file.close();
        QFile::remove(Path(name));
        ASSERT_TRUE(QDir(dir.path()).mkdir(QString::fromLatin1(name)));
    }
    void Unblock(const char* name) {
        QDir(Path(name)).removeRecursively();
        if (!blocked.isEmpty()) {
            QFile file(Path(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(blocked);
        }
    }
    QByteArray blocked;

    int ReceiptLines() const {
        QFile file(Path("payments.csv"));
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) - 1 : 0;
    }

    QTemporaryDir dir;
    test::FakePlatform platform;
    std::unique_ptr<ProgramState> state;
    std::unique_ptr<Ledger> ledger;
    QDateTime clock = QDateTime::fromSecsSinceEpoch(1'800'000'000);
    std::vector<std::string> told;
    std::vector<std::string> shown;
    int saves = 0;
    bool settingsFail = false;
};

// 1,5 MB used at 2,5 руб/Мб from 10: whatever ends the session, 6,25 are left after it.
TEST_F(LedgerTest, ASessionThatEndsWithTheProgramClosedIsChargedOnce) {
    struct Case {
        const char* what;
        bool killed;
        bool linkStays;
        const char* nextBoot;
        float limitAfter;
        float usedAfter;
    } cases[] = {
        {"exit, then the link goes", false, false, "boot-a", 6.25f, 0},
        {"kill, then the link goes", true, false, "boot-a", 6.25f, 0},
        {"exit, then a reboot", false, true, "boot-b", 6.25f, 0.5f},
        {"exit, the link stays up", false, true, "boot-a", 10, 2},
        {"kill, the link stays up", true, true, "boot-a", 10, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Forget();
        Start(1);
        Use(2, 1.5);
        // A kill finds what the last save of the journal's pace held; an exit saves it itself.
        Tick(c.killed ? 5 : 1);
        c.killed ? Kill() : Exit();
        if (!c.linkStays) {
            platform.Remove(2);
            platform.Add(3, "eth0");
        } else if (std::string(c.nextBoot) != "boot-a") {
            platform.Find(2)->received = std::uint32_t(0.5 * kMb);  // counters start again
        } else {
            Use(2, 0.5);  // counted by the link's own counters while the program was closed
        }
        Start(-1, c.nextBoot);
        EXPECT_EQ(state->moneyLimit, c.limitAfter);
        EXPECT_EQ(state->usedMb, c.usedAfter);
        Exit();
        Start(-1, c.nextBoot);  // a second restart charges nothing more
        EXPECT_EQ(state->moneyLimit, c.limitAfter);
        EXPECT_EQ(ReceiptLines(), c.limitAfter == 10 ? 0 : 1);
        Exit();
    }
}

// The journal's earlier format kept each reading's low 32 bits; on counters of 64 it must charge
// what moved since, not the laps of 4 GiB those bits lost.
TEST_F(LedgerTest, AnEarlierJournalOn64BitCountersChargesOnlyWhatMovedSinceIt) {
    const struct {
        const char* what;
        const char* line;
        float usedMb;
    } cases[] = {
        {"a paid mark", "mark 2 0 1000 eth0", 1.5f},
        {"the charged session", "session 2 0 1048576 0 1000 1800000000 eth0", 2.5f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Forget();
        platform.counterBits = 64;
        platform.Find(2)->received = (std::uint64_t(5) << 32) + 1000 + std::uint64_t(1.5 * kMb);
        QFile journal(Path("paid.dat"));
        ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
        journal.write(
            "kvotomer paid 2\nboot boot-a\nunpaid 0 0\nowed 0\nlimit\nreceipt \nwatch "
            "eth0\n");
        journal.write(c.line);
        journal.write("\nend\n");
        journal.close();
        Start(1);
        EXPECT_EQ(state->usedMb, c.usedMb);
        Exit();
    }
}

TEST_F(LedgerTest, AKillLosesAtMostTheTrafficOfTheLastFewSeconds) {
    Start(1);
    Use(2, 1);
    Tick(5);
    Use(2, 0.5);
    Tick(2);  // counted, not yet journalled
    Kill();
    platform.Remove(2);
    Start();
    EXPECT_EQ(state->moneyLimit, 7.5f);
}

// Each write of a carry-over fails in turn, or a kill comes after it; the next run must neither
// charge the 1,5 MB again nor forget it.
TEST_F(LedgerTest, ACarryOverIsAllOrNothingWhicheverWriteFails) {
    struct Case {
        const char* what;
        const char* blocked;  // a file that cannot be written
        bool settingsFail;    // the same as a kill between the journal and data.dat
        float limitNow;
        bool told;
        int receipts;  // at the end
    } cases[] = {
        {"the journal cannot be written", "paid.dat", false, 10, true, 1},
        {"killed before the receipt", "payments.csv", true, 6.25f, true, 1},
        {"killed before data.dat", nullptr, true, 6.25f, false, 1},
        // Told, and the money still carried over; that receipt is lost.
        {"the receipt cannot be written", "payments.csv", false, 6.25f, true, 0},
        {"every write succeeds", nullptr, false, 6.25f, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Forget();
        told.clear();
        Start(1);
        Use(2, 1.5);
        Tick();
        if (c.blocked != nullptr) {
            Block(c.blocked);
        }
        settingsFail = c.settingsFail;
        ledger->CarryOver();
        EXPECT_EQ(state->moneyLimit, c.limitNow);
        EXPECT_EQ(told.size(), c.told ? 1u : 0u);
        ledger->CarryOver();  // the interface stayed: nothing more to take
        EXPECT_EQ(state->moneyLimit, c.limitNow);
        EXPECT_EQ(told.size(), c.told ? 1u : 0u) << "told once";
        Kill();
        settingsFail = false;
        if (c.blocked != nullptr) {
            Unblock(c.blocked);
        }

        Start();
        EXPECT_EQ(state->moneyLimit, c.limitNow);
        EXPECT_FLOAT_EQ(state->usedMb, c.limitNow == 10 ? 1.5f : 0);
        ledger->CarryOver();
        EXPECT_EQ(state->moneyLimit, 6.25f);
        EXPECT_EQ(ReceiptLines(), c.receipts);
        Exit();
    }
}

TEST_F(LedgerTest, AnInterruptedCarryOverIsCompletedWithItsReceiptOnce) {
    Start(1);
    Use(2, 1.5);
    Tick();
    settingsFail = true;
    ledger->CarryOver();
    EXPECT_EQ(ReceiptLines(), 1);
    Kill();
    settingsFail = false;
    Start();
    EXPECT_EQ(state->moneyLimit, 6.25f);
    EXPECT_EQ(ReceiptLines(), 1);
    EXPECT_EQ(shown.back(), "6,25");
    QFile file(Path("data.dat"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith("6,25\r\n"));
}

// A run that could not read data.dat works from the defaults, which say nothing of the limit the
// interrupted change started from; it completes nothing and appends nothing.
TEST_F(LedgerTest, ARunThatMayNotWriteCompletesNoInterruptedChange) {
    Start(1);
    Use(2, 1.5);
    Tick();
    settingsFail = true;
    ledger->CarryOver();
    Kill();
    QFile::remove(Path("payments.csv"));
    state = std::make_unique<ProgramState>();
    state->moneyLimit = 10;
    state->tariffPerMb = 2.5f;
    ledger = std::make_unique<Ledger>(*state, platform);
    ledger->SetBootId("boot-a");
    ASSERT_TRUE(ledger->Load(Path("data.dat"), false));
    ledger->Started();
    EXPECT_EQ(state->moneyLimit, 10);
    EXPECT_EQ(ReceiptLines(), 0);
    Kill();
    settingsFail = false;
    Start();
    EXPECT_EQ(state->moneyLimit, 6.25f) << "a later run that may write completes it";
}

TEST_F(LedgerTest, TheUsersOwnLimitInDataDatWinsOverAnOlderChange) {
    Start(1);
    Use(2, 1.5);
    Tick();
    ledger->CarryOver();
    Exit();
    WriteLimit(110, 2.5f);  // paid while the program was closed, typed into the file
    Start();
    EXPECT_EQ(state->moneyLimit, 110);
    WriteLimit(10, 2.5f);  // even back to the limit from before the carry-over
    Start();
    EXPECT_EQ(state->moneyLimit, 6.25f) << "the file shows the limit the change started from";
}

TEST_F(LedgerTest, ADamagedJournalIsToldOnceAndNeverChargesAgain) {
    Start(1);
    Use(2, 1.5);
    Tick();
    ledger->CarryOver();
    Use(2, 1);
    Tick(5);
    Exit();
    QFile file(Path("paid.dat"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() - 1));
    file.close();
    Start(1);
    EXPECT_EQ(told.size(), 1u);
    EXPECT_EQ(state->moneyLimit, 6.25f);
    EXPECT_EQ(state->usedMb, 0) << "what the counters show counts as paid";
    EXPECT_TRUE(QFile::exists(Path("paid.dat.damaged")));
    ledger->CarryOver();
    EXPECT_EQ(state->moneyLimit, 6.25f);
    Exit();
    Start();
    EXPECT_EQ(told.size(), 1u);
}

TEST_F(LedgerTest, MarksBelongToTheirBootAndAnEmptyBootNeverMatches) {
    struct Case {
        const char* what;
        const char* first;
        const char* second;
        float used;
    } cases[] = {
        {"the same boot", "boot-a", "boot-a", 0.5f},
        {"another boot: counters are new", "boot-a", "boot-b", 3},
        {"no boot named", "", "", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Forget();
        Start(1, c.first);
        Use(2, 2.5);
        Tick();
        ledger->CarryOver();
        ledger->Watch(0);  // the user moves to another interface: no session for eth0
        Exit();
        Use(2, 0.5);
        Start(1, c.second);
        EXPECT_EQ(state->usedMb, c.used);
        Exit();
    }
}

TEST_F(LedgerTest, UnpaidTrafficWaitsForAUsableTariffAcrossARestart) {
    WriteLimit(10, 3e38f);
    Start(1);
    Use(2, 2);
    Tick();
    ledger->CarryOver();  // an unusable tariff resets nothing
    EXPECT_EQ(ledger->Book().Of(2).received, 2 * kMb);
    platform.Remove(2);
    Tick();
    EXPECT_EQ(state->moneyLimit, 10);
    Exit();
    WriteLimit(10, 2.5f);
    Start();
    EXPECT_EQ(state->moneyLimit, 5);
}

TEST_F(LedgerTest, StartUpWritesNothingUntilItIsOver) {
    Start(1);
    Use(2, 2);
    Tick(5);
    Kill();
    platform.Remove(2);
    saves = 0;
    state = std::make_unique<ProgramState>();
    state->moneyLimit = 10;
    state->tariffPerMb = 2.5f;
    ledger = std::make_unique<Ledger>(*state, platform);
    ledger->SetBootId("boot-a");
    ledger->SetShell({[this] { Save(); }, {}, {}});
    ASSERT_TRUE(ledger->Load(Path("data.dat"), true));
    ASSERT_TRUE(ledger->Refresh());
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(state->moneyLimit, 10);
    ledger->Started();
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(state->moneyLimit, 5);
}

// Rows lo, eth0, the watched link, wlan0; the link drops and the table moves under it.
TEST_F(LedgerTest, OnlyTheLinkComeBackIsWatchedAgain) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::uint32_t, const char*>> after;  // the table once the link went
        std::int32_t resumed;
    } cases[] = {
        {"it redials under a new number", {{1, "lo"}, {2, "eth0"}, {4, "wlan0"}, {9, "ppp0"}}, 3},
        {"another interface takes its row",
         {{1, "lo"}, {2, "eth0"}, {4, "wlan0"}, {8, "veth"}},
         -1},
        {"an interface of that description was there before",
         {{1, "lo"}, {2, "eth0"}, {4, "ppp0"}},
         -1},
        {"two new ones of that description", {{1, "lo"}, {9, "ppp0"}, {10, "ppp0"}}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Forget();
        platform.Add(5, "ppp0", std::uint32_t(kMb));
        platform.Add(4, std::string(c.after.size() == 3 ? "ppp0" : "wlan0"),
                     std::uint32_t(40 * kMb));
        Start(2);
        platform.Remove(5);
        Tick();
        EXPECT_EQ(state->moneyLimit, 7.5f);
        EXPECT_EQ(ledger->ResumeRow(2), -1) << "the saved row is no guide once the link was seen";
        platform.interfaces.clear();
        for (const auto& [index, name] : c.after) {
            platform.Add(index, name);
        }
        Tick();
        EXPECT_EQ(ledger->ResumeRow(2), c.resumed);
        Exit();
    }
}

TEST_F(LedgerTest, TheSavedRowStandsInOnlyUntilTheWatchedInterfaceIsKnown) {
    Start();
    EXPECT_EQ(ledger->ResumeRow(1), 1);
    EXPECT_EQ(ledger->ResumeRow(5), -1);
}

// A dial-up link and a VPN inside it share a description; the VPN's traffic is inside the
// dial-up's, so it must never be taken for the dial-up come back.
TEST_F(LedgerTest, AnInterfaceThatWasThereBeforeTheDropIsNeverTheLinkComeBack) {
    platform.Add(5, "WAN (PPP/SLIP) Interface", std::uint32_t(3 * kMb));
    platform.Add(6, "WAN (PPP/SLIP) Interface", std::uint32_t(2 * kMb));
    Start(2);
    platform.Remove(5);
    Tick();
    EXPECT_EQ(state->moneyLimit, 2.5f);
    EXPECT_EQ(ledger->ResumeRow(2), -1);
    platform.Remove(6);
    Tick();
    EXPECT_EQ(state->moneyLimit, 2.5f);
}

TEST_F(LedgerTest, AnotherInterfaceUnderTheWatchedNumberEndsTheSession) {
    platform.Add(5, "ppp0", std::uint32_t(2 * kMb));
    Start(2);
    platform.Remove(5);
    platform.Add(5, "eth1", std::uint32_t(3 * kMb));
    Tick();
    EXPECT_EQ(state->moneyLimit, 5);  // ppp0's 2 MB, not the LAN's
    EXPECT_FALSE(ledger->Book().Charged());
    EXPECT_EQ(ledger->ResumeRow(2), -1);
}

TEST_F(LedgerTest, SmallDroppedSessionsAreChargedInWholeKopecksWithNothingLost) {
    WriteLimit(10, 0.01f);
    Start();
    std::uint32_t next = 10;
    const auto session = [&](double mb) {
        platform.Add(next, "ppp0", std::uint32_t(mb * kMb));
        Tick();
        ledger->Watch(std::int32_t(platform.interfaces.size() - 1));
        Tick();
        platform.Remove(next++);
        Tick();
    };
    for (int i = 0; i < 20; ++i) {
        session(0.4);
    }
    EXPECT_NEAR(state->moneyLimit, 9.92f, 1e-6);
    Exit();
    Start();
    session(0.6);  // 0,006 owed: one kopeck, and the overcharge is remembered
    EXPECT_NEAR(state->moneyLimit, 9.91f, 1e-6);
    session(0.4);
    EXPECT_NEAR(state->moneyLimit, 9.91f, 1e-6);
}

TEST_F(LedgerTest, AnAliasSetWhileRunningKeepsThePaidMark) {
    platform.Find(2)->received = std::uint32_t(1.5 * kMb);
    Start(1);
    ledger->CarryOver();
    platform.Find(2)->description = "eth0 (uplink)";
    Use(2, 1);
    Tick();
    ledger->Watch(0);
    Exit();
    Start(1);
    EXPECT_EQ(state->usedMb, 1);
    ledger->CarryOver();
    EXPECT_EQ(state->moneyLimit, 3.75f);
}

}  // namespace
}  // namespace kv
