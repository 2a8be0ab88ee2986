#include "accounting/money.h"

#include <gtest/gtest.h>

#include <limits>

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

}  // namespace
}  // namespace kv
