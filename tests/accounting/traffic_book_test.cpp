#include "accounting/traffic_book.h"

#include <gtest/gtest.h>

#include "support/fake_platform.h"

namespace kv {
namespace {

using test::FakePlatform;

class TrafficBookTest : public ::testing::Test {
  protected:
    TrafficBook::Totals Read(std::uint32_t index) {
        meter.GetIPStats();
        book.Observe(meter);
        return book.Of(index);
    }

    FakePlatform platform;
    TrafMeter meter{platform};
    TrafficBook book;
};

TEST_F(TrafficBookTest, AnInterfaceNewToTheTableStartsFromItsCounters) {
    platform.Add(3, "eth0", 5000, 1000);
    const TrafficBook::Totals t = Read(3);
    EXPECT_EQ(t.received, 5000);
    EXPECT_EQ(t.sent, 1000);
}

// Each row: the counters' width, a first reading, the readings after it and the total after each.
TEST_F(TrafficBookTest, ALowerReadingIsAWrapOnlyOfA32BitCounterAndOnlyUnderTwoGibibytes) {
    struct Case {
        const char* what;
        int bits;
        std::uint64_t first;
        std::vector<std::uint64_t> readings;
        std::vector<double> totals;
    } cases[] = {
        {"a wrap, then steady counting",
         32,
         4294967000u,
         {200, 4294967000u, 100, 50000},
         {4294967496.0, 8589934296.0, 8589934692.0, 8589984592.0}},
        {"a wrap of just under 2 GiB in one step",
         32,
         2147483648u,
         {4294967295u, 2147483646u},
         {4294967295.0, 6442450942.0}},
        {"a driver resetting its statistics restarts from zero",
         32,
         5000000,
         {4999000, 5000},
         {9999000.0, 10004000.0}},
        {"a step back of exactly 2 GiB is a restart",
         32,
         2147483648u,
         {0, 10},
         {2147483648.0, 2147483658.0}},
        {"a 32-bit reset from near the top is taken for a wrap",
         32,
         4000000000u,
         {1000},
         {4294968296.0}},
        {"more than 4 GiB before the start counts whole",
         64,
         4612518610u,
         {4612519610u},
         {4612519610.0}},
        {"more than 2 GiB between two readings counts whole",
         64,
         1000,
         {4500001000u},
         {4500001000.0}},
        {"a 64-bit counter going back from above 2 GiB was reset",
         64,
         4000000000u,
         {1000, 2000},
         {4000001000.0, 4000002000.0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform.interfaces.clear();
        platform.counterBits = c.bits;
        book = TrafficBook();
        auto& eth = platform.Add(3, "eth0", c.first, 0);
        Read(3);
        for (std::size_t k = 0; k < c.readings.size(); ++k) {
            eth.received = c.readings[k];
            EXPECT_EQ(Read(3).received, c.totals[k]) << c.readings[k];
        }
    }
}

TEST(WidenedReading, IsTheLatestValueWithThoseLowBitsNotAboveTheCounter) {
    constexpr std::uint64_t k4G = std::uint64_t(1) << 32;
    const struct {
        std::uint64_t low, now, widened;
    } cases[] = {
        {1000, 1000, 1000},                      // a 32-bit counter: nothing to add
        {5000, 1000, 5000},                      // above a small counter: it restarted
        {1000, 3 * k4G + 1500, 3 * k4G + 1000},  // the same lap of 4 GiB
        {5000, 3 * k4G + 1000, 2 * k4G + 5000},  // the lap before
        {0xFFFFFFFF, k4G - 1, k4G - 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WidenedReading(c.low, c.now), c.widened) << c.low << " " << c.now;
    }
}

TEST_F(TrafficBookTest, OtherInterfacesComingAndGoingLeaveTheTotalsAlone) {
    auto* eth = &platform.Add(3, "eth0", 4294967000u, 0);
    Read(3);
    platform.Add(9, "veth9", 77, 77);
    platform.interfaces[0].received = 1000;  // wrapped while the table changed
    EXPECT_EQ(Read(3).received, 4294968296.0);
    platform.Remove(9);
    eth = platform.Find(3);
    eth->received = 2000;
    EXPECT_EQ(Read(3).received, 4294969296.0);
}

TEST_F(TrafficBookTest, TheSameInterfaceNumberTwiceInOneTableIsReadOnce) {
    platform.Add(4, "eth0", 1000, 0);
    platform.Add(4, "eth0 again", 900000, 0);
    EXPECT_EQ(Read(4).received, 1000);
    platform.interfaces[0].received = 1500;
    EXPECT_EQ(Read(4).received, 1500);
}

TEST_F(TrafficBookTest, TheChargedInterfaceLeavingBecomesUnpaidAndIsChargedNoMore) {
    platform.Add(1, "lo");
    platform.Add(5, "ppp0", 900000, 100000);
    Read(5);
    book.Charge(5);
    platform.Remove(5);
    platform.Add(6, "ppp0", 300, 200);  // reconnected: counters restart, number changes
    const TrafficBook::Totals fresh = Read(6);
    EXPECT_EQ(fresh.received, 300);
    EXPECT_EQ(fresh.sent, 200);
    EXPECT_EQ(book.Unpaid().received, 900000);
    EXPECT_EQ(book.Unpaid().sent, 100000);
    EXPECT_FALSE(book.Charged().has_value());
    book.ClearUnpaid();
    platform.Remove(1);  // an interface that was never charged leaves nothing unpaid
    Read(6);
    EXPECT_EQ(book.Unpaid().received, 0);
}

TEST_F(TrafficBookTest, SpeedIsTheIncreaseSinceThePreviousTickAndZeroWithoutOne) {
    auto& eth = platform.Add(3, "eth0", 5000, 1000);
    Read(3);
    EXPECT_EQ(book.SpeedOf(3), 0);
    book.EndTick();
    eth.received += 700;
    eth.sent += 300;
    Read(3);
    EXPECT_EQ(book.SpeedOf(3), 1000);
    book.EndTick();
    book.ForgetTicks();
    eth.received += 5;
    Read(3);
    EXPECT_EQ(book.SpeedOf(3), 0);
}

TEST_F(TrafficBookTest, ResettingTheChargedInterfaceRestartsItsTotalsAndMarksItsReadings) {
    auto& eth = platform.Add(3, "eth0", 5000, 1000);
    Read(3);
    book.Charge(3);
    book.EndTick();
    book.ResetCharged();
    EXPECT_EQ(book.Of(3).received, 0);
    const std::vector<TrafficBook::PaidMark> marks = {{3, "eth0", 1000, 5000}};
    EXPECT_EQ(book.PaidMarks(), marks);
    eth.received += 10;
    EXPECT_EQ(Read(3).received, 10);
    EXPECT_EQ(book.SpeedOf(3), 10);
}

// A new run reads the table afresh; the mark of the last carry-over says what was paid already.
// A reading below the mark is a counter that restarted: everything it shows is new.
TEST_F(TrafficBookTest, AMarkedInterfaceCountsOnlyWhatMovedSinceItsMark) {
    struct Case {
        const char* what;
        TrafficBook::PaidMark mark;
        bool resumed;
        double received;
    } cases[] = {
        {"same number and name", {3, "eth0", 1000, 5000}, true, 2000},
        {"another alias of the same name", {3, "eth0 (uplink)", 1000, 5000}, true, 2000},
        {"restarted from below a high mark", {3, "eth0", 1000, 3500000000u}, true, 7000},
        {"restarted from just past 2 GiB", {3, "eth0", 1000, 2147488649u}, true, 7000},
        {"restarted, then past the old mark", {3, "eth0", 1000, 6000}, true, 1000},
        {"only sent below its mark", {3, "eth0", 1300, 5000}, true, 7000},
        {"another name under the number", {3, "wlan0", 1000, 5000}, false, 7000},
        {"a number no longer there", {8, "eth0", 1000, 5000}, false, 7000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform.interfaces.clear();
        book = TrafficBook();
        platform.Add(3, "eth0", 7000, 1200);
        Read(3);
        EXPECT_EQ(book.ResumeFrom(c.mark), c.resumed);
        EXPECT_EQ(book.Of(3).received, c.received);
        EXPECT_EQ(book.PaidMarks().size(), c.resumed ? 1u : 0u);
    }
}

TEST_F(TrafficBookTest, AMarkIsForgottenWithItsInterface) {
    platform.Add(3, "eth0", 7000, 1200);
    Read(3);
    ASSERT_TRUE(book.ResumeFrom({3, "eth0", 1000, 5000}));
    const std::uint64_t revision = book.PaidRevision();
    platform.Remove(3);
    platform.Add(4, "eth1");
    Read(4);
    EXPECT_TRUE(book.PaidMarks().empty());
    EXPECT_NE(book.PaidRevision(), revision);
}

// The charged interface's number now names something else: a rename keeps the session, anything
// else ends it and is charged as gone.
TEST_F(TrafficBookTest, AnInterfaceIsItsNumberTogetherWithItsName) {
    struct Case {
        const char* what;
        const char* now;
        std::uint32_t received;
        bool charged;
        double unpaid;
    } cases[] = {
        {"an alias set while it runs", "ppp0 (modem)", 3000, true, 0},
        {"another interface under the number", "eth1", 3000, false, 2000},
        {"the same name whose counters went back", "ppp0 (modem)", 1000, false, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform.interfaces.clear();
        book = TrafficBook();
        auto& link = platform.Add(5, "ppp0", 2000);
        Read(5);
        book.Charge(5);
        link.description = c.now;
        link.received = c.received;
        EXPECT_EQ(Read(5).received, c.received);
        EXPECT_EQ(book.Charged().has_value(), c.charged);
        EXPECT_EQ(book.Unpaid().received, c.unpaid);
    }
}

TEST_F(TrafficBookTest, UsedMegabytesAddBothDirectionsIn32Bits) {
    EXPECT_EQ(UsedMb({1048576.0 * 2, 1048576.0 * 3}), 5.0f);
    EXPECT_EQ(UsedMb({524288.0, 0}), 0.5f);
}

}  // namespace
}  // namespace kv
