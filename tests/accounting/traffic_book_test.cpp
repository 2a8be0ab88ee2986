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
        gone = book.Observe(meter);
        return book.Of(index);
    }

    FakePlatform platform;
    TrafMeter meter{platform};
    TrafficBook book;
    std::optional<TrafficBook::Totals> gone;
};

TEST_F(TrafficBookTest, AnInterfaceNewToTheTableStartsFromItsCounters) {
    platform.Add(3, "eth0", 5000, 1000);
    const TrafficBook::Totals t = Read(3);
    EXPECT_EQ(t.received, 5000);
    EXPECT_EQ(t.sent, 1000);
}

TEST_F(TrafficBookTest, CountersWrappingAt32BitsKeepCountingOverSeveralTicks) {
    auto& eth = platform.Add(3, "eth0", 4294967000u, 10);
    Read(3);
    const std::uint32_t readings[] = {200, 4294967000u, 100, 50000};
    double expected = 4294967000.0;
    std::uint32_t previous = 4294967000u;
    for (std::uint32_t r : readings) {
        eth.inOctets = r;
        expected += r >= previous ? r - previous : r + 4294967296.0 - previous;
        previous = r;
        EXPECT_EQ(Read(3).received, expected) << r;
    }
    EXPECT_EQ(Read(3).received, 4294967000.0 + 496 + 4294966800.0 + 396 + 49900);
}

TEST_F(TrafficBookTest, OtherInterfacesComingAndGoingLeaveTheTotalsAlone) {
    auto* eth = &platform.Add(3, "eth0", 4294967000u, 0);
    Read(3);
    platform.Add(9, "veth9", 77, 77);
    platform.interfaces[0].inOctets = 1000;  // wrapped while the table changed
    EXPECT_EQ(Read(3).received, 4294967000.0 + 1296);
    platform.Remove(9);
    eth = platform.Find(3);
    eth->inOctets = 2000;
    EXPECT_EQ(Read(3).received, 4294967000.0 + 2296);
}

TEST_F(TrafficBookTest, ARecreatedInterfaceIsANewInterfaceNotAWrap) {
    platform.Add(1, "lo");
    platform.Add(5, "ppp0", 900000, 100000);
    Read(5);
    book.Charge(5);
    platform.Remove(5);
    platform.Add(6, "ppp0", 300, 200);  // reconnected: counters restart, number changes
    const TrafficBook::Totals fresh = Read(6);
    EXPECT_EQ(fresh.received, 300);
    EXPECT_EQ(fresh.sent, 200);
    ASSERT_TRUE(gone.has_value());
    EXPECT_EQ(gone->received, 900000);
    EXPECT_FALSE(book.Charged().has_value());
}

TEST_F(TrafficBookTest, OnlyTheChargedInterfaceLeavingIsReported) {
    platform.Add(1, "lo");
    platform.Add(2, "eth0");
    Read(1);
    book.Charge(1);
    platform.Remove(2);
    Read(1);
    EXPECT_FALSE(gone.has_value());
    EXPECT_EQ(book.Charged(), 1u);
}

TEST_F(TrafficBookTest, SpeedIsTheIncreaseSinceThePreviousTickAndZeroWithoutOne) {
    auto& eth = platform.Add(3, "eth0", 5000, 1000);
    Read(3);
    EXPECT_EQ(book.SpeedOf(3), 0);
    book.EndTick();
    eth.inOctets += 700;
    eth.outOctets += 300;
    Read(3);
    EXPECT_EQ(book.SpeedOf(3), 1000);
    book.EndTick();
    book.ForgetTicks();
    eth.inOctets += 5;
    Read(3);
    EXPECT_EQ(book.SpeedOf(3), 0);
}

TEST_F(TrafficBookTest, ResettingTheChargedInterfaceRestartsItsTotalsButFollowsItsCounter) {
    auto& eth = platform.Add(3, "eth0", 5000, 1000);
    Read(3);
    book.Charge(3);
    book.EndTick();
    book.ResetCharged();
    EXPECT_EQ(book.Of(3).received, 0);
    eth.inOctets += 10;
    EXPECT_EQ(Read(3).received, 10);
    EXPECT_EQ(book.SpeedOf(3), 10);
}

TEST_F(TrafficBookTest, UsedMegabytesAddBothDirectionsIn32Bits) {
    EXPECT_EQ(UsedMb({1048576.0 * 2, 1048576.0 * 3}), 5.0f);
    EXPECT_EQ(UsedMb({524288.0, 0}), 0.5f);
}

}  // namespace
}  // namespace kv
