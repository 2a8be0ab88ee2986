#include "stats/traf_meter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/fake_platform.h"

namespace kv {
namespace {

using test::FakePlatform;

class TrafMeterTest : public ::testing::Test {
  protected:
    FakePlatform platform;
    TrafMeter meter{platform};
};

TEST_F(TrafMeterTest, ReadsEveryRowOfALargeTable) {
    for (std::uint32_t i = 0; i < 45; ++i) {
        platform.Add(100 + i, "if" + std::to_string(i), i * 10, i * 20);
    }
    meter.GetIPStats();
    ASSERT_EQ(meter.ControllerCount(), 45);
    EXPECT_EQ(meter.ControllerNames(39), "if39");
    EXPECT_EQ(meter.BytesReceived(39), 390);
    EXPECT_EQ(meter.BytesSent(44), 880);
    EXPECT_EQ(meter.InterfaceIndex(44), 144u);
}

TEST_F(TrafMeterTest, ReadoutsShowTheLow32BitsWhileTheCountersStayWhole) {
    struct Case {
        std::uint64_t raw;
        double shown;
    } cases[] = {{0, 0},
                 {0x7fffffff, 2147483647.0},
                 {0x80000000, 2147483648.0},
                 {0xffffffff, 4294967295.0},
                 {4612518610u, 317551314.0}};
    for (const Case& c : cases) {
        platform.interfaces.clear();
        platform.counterBits = 64;
        platform.Add(1, "eth0", c.raw, c.raw);
        meter.GetIPStats();
        EXPECT_EQ(meter.BytesReceived(0), c.shown) << c.raw;
        EXPECT_EQ(meter.BytesSent(0), c.shown) << c.raw;
        EXPECT_EQ(meter.ReceivedCounter(0), c.raw);
        EXPECT_EQ(meter.SentCounter(0), c.raw);
        EXPECT_EQ(meter.CounterBits(), 64);
    }
}

TEST_F(TrafMeterTest, SpeedAndAddressTexts) {
    struct Case {
        std::uint32_t speed;
        std::vector<std::uint8_t> addr;
        const char* maxSpeed;
        const char* mac;
    } cases[] = {
        {100000000, {0x00, 0x0A, 0x0F, 0x10, 0xAB, 0xFF}, "100000000", "00-0A-0F-10-AB-FF"},
        {0xffffffff, {}, "-1", "00-00-00-00-00-00"},
        {10, {1, 2, 3, 4, 5, 6, 7, 8}, "10", "01-02-03-04-05-06-07-08"},
        {10, {0xde, 0xad}, "10", "DE-AD"},
    };
    for (const Case& c : cases) {
        platform.interfaces.clear();
        auto& row = platform.Add(1, "x");
        row.speed = c.speed;
        std::copy(c.addr.begin(), c.addr.end(), row.address.begin());
        row.addressLength = std::uint8_t(c.addr.size());
        meter.GetIPStats();
        EXPECT_EQ(meter.MaxSpeed(0), c.maxSpeed);
        EXPECT_EQ(meter.MacAddr(0), c.mac);
    }
}

TEST_F(TrafMeterTest, ReadsOutsideTheTableThrow) {
    EXPECT_THROW(meter.BytesSent(0), std::out_of_range);
    platform.Add(1, "lo");
    meter.GetIPStats();
    for (int bad : {-1, 1, 1000}) {
        EXPECT_THROW(meter.BytesSent(bad), std::out_of_range) << bad;
        EXPECT_THROW(meter.ControllerNames(bad), std::out_of_range) << bad;
        EXPECT_THROW(meter.MacAddr(bad), std::out_of_range) << bad;
    }
}

TEST_F(TrafMeterTest, EmptyTableGivesNoRows) {
    platform.Add(1, "lo");
    meter.GetIPStats();
    platform.interfaces.clear();
    meter.GetIPStats();
    EXPECT_EQ(meter.ControllerCount(), 0);
    EXPECT_THROW(meter.BytesReceived(0), std::out_of_range);
}

// A refresh that fails leaves the previous snapshot readable and unchanged; only a system without
// the table says so.
TEST_F(TrafMeterTest, AFailedRefreshKeepsThePreviousSnapshot) {
    struct Case {
        TableRead result;
        std::vector<std::string> messages;
    } cases[] = {
        {TableRead::kFailed, {}},
        {TableRead::kNotSupported, {"ОС не поодерживает требуемые функции."}},
    };
    for (const Case& c : cases) {
        FakePlatform p;
        TrafMeter m{p};
        std::vector<std::string> messages;
        m.SetMessageBoxShower([&](const std::string& text) { messages.push_back(text); });
        p.Add(7, "eth0", 1000, 2000);
        p.Add(8, "ppp0", 3, 4);
        m.GetIPStats();
        p.interfaces[0].received = 5555;
        p.readResult = c.result;
        m.GetIPStats();
        ASSERT_EQ(m.ControllerCount(), 2);
        EXPECT_EQ(m.BytesReceived(0), 1000);
        EXPECT_EQ(m.ControllerNames(1), "ppp0");
        EXPECT_EQ(messages, c.messages);
    }
}

}  // namespace
}  // namespace kv
