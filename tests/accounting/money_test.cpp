#include "accounting/money.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace kv {
namespace {

TEST(Money, LeftFiguresGoNegativeOnceTheLimitIsPassed) {
    struct Case {
        float limit, tariff, used, trafficLeft, moneyLeft;
    } cases[] = {{10, 2.5f, 0, 4, 10}, {10, 2.5f, 5, -1, -2.5f}, {10, 2.5f, 1.5f, 2.5f, 6.25f}};
    for (const Case& c : cases) {
        EXPECT_EQ(TrafficLeftMb(c.limit, c.tariff, c.used), c.trafficLeft);
        EXPECT_EQ(MoneyLeft(c.limit, c.tariff, c.used), c.moneyLeft);
    }
}

TEST(Money, AnUnusableTariffGivesNoFigures) {
    const float bad[] = {0, -1, std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity()};
    for (float tariff : bad) {
        EXPECT_FALSE(TrafficLimitMb(10, tariff)) << tariff;
        EXPECT_FALSE(TrafficLeftMb(10, tariff, 1)) << tariff;
        EXPECT_FALSE(MoneyLeft(10, tariff, 1)) << tariff;
        EXPECT_FALSE(CarryOverBalance(10, tariff, 1)) << tariff;
    }
}

TEST(Money, TheCarriedBalanceIsTheMoneyLeftAsShown) {
    struct Case {
        float limit, tariff, used;
        const char* text;
        float value;
    } cases[] =
        {
            {10, 2.5f, 1.5f, "6,25", 6.25f},
            {10, 2.5f, 5, "-2,5", -2.5f},
            {10, 3, 1, "7,0", 7},
            {10, 3, 0.001f, "10,0", 10},  // 9.997 shows as 10,0 and 10 is carried
            {0.01f, 0.01f, 0.5f, "0,01", 0.01f},
            {10, 2.5f, 4.0016f, "-0,0", 0},  // 0.004 over the limit: shown and carried as run out
        };
    for (const Case& c : cases) {
        const auto balance = CarryOverBalance(c.limit, c.tariff, c.used);
        ASSERT_TRUE(balance) << c.text;
        EXPECT_EQ(balance->text, c.text);
        EXPECT_EQ(balance->moneyLimit, c.value) << c.text;
    }
}

// Sessions charged one after another: the limit moves in whole kopecks, and over any sequence
// the sum charged stays within half a kopeck of the sum used.
TEST(Money, AutomaticChargesAreWholeKopecksAndNothingIsRoundedAway) {
    struct Case {
        const char* what;
        float tariff;
        std::vector<float> sessionsMb;
        float limitAfter;
    } cases[] = {
        {"twenty sessions of 0,4 MB at 0,01", 0.01f, std::vector<float>(20, 0.4f), 9.92f},
        {"one session of 0,6 MB at 0,01", 0.01f, {0.6f}, 9.99f},
        {"0,6 MB then 0,4 MB at 0,01", 0.01f, {0.6f, 0.4f}, 9.99f},
        {"one of 1,5 MB at 2,5", 2.5f, {1.5f}, 6.25f},
        {"past the limit", 2.5f, {5, 0.001f}, -2.5f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        float limit = 10;
        double owed = 0;
        double used = 0;
        for (const float mb : c.sessionsMb) {
            const std::optional<KopeckCharge> charge = ChargeInKopecks(limit, c.tariff, mb, owed);
            ASSERT_TRUE(charge);
            const double kopecks = double(charge->balance.moneyLimit) * 100;
            EXPECT_NEAR(kopecks, std::nearbyint(kopecks), 1e-3);
            limit = charge->balance.moneyLimit;
            owed = charge->owed;
            used += double(mb) * double(c.tariff);
            EXPECT_LT(std::fabs((10 - double(limit)) - used), 0.005 + 1e-6);
        }
        EXPECT_NEAR(limit, c.limitAfter, 1e-6);
    }
    EXPECT_FALSE(ChargeInKopecks(10, 0, 1, 0));
}

// Worked in 32 bits the same figures come out a few units of the last place off.
TEST(Money, TheLeftFiguresAreWorkedInSixtyFourBits) {
    EXPECT_EQ(MoneyLeft(10, 0.7f, 0.1f), 9.93000031f);
    EXPECT_EQ(MoneyLeft(10, 1.1f, 1), 8.89999962f);
}

}  // namespace
}  // namespace kv
