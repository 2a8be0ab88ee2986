#include "common/rounding.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

namespace kv {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Rounding, SendsHalvesToTheEvenNeighbour) {
    const std::pair<double, int> cases[] = {
        {2.5, 2},       {3.5, 4},       {-2.5, -2},
        {-3.5, -4},     {0.5, 0},       {8460.5, 8460},
        {2.4999999, 2}, {1.5000001, 2}, {-0.49999999999999994, 0},
        {-0.5, 0},      {-1.5, -2},     {2147483646.5, 2147483646}};
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(RoundToInt32(value), expected) << value;
        EXPECT_EQ(SaturateToInt32(value), expected) << value;
    }
}

TEST(Rounding, ThrowsOutsideTheTargetRangeUnlessSaturating) {
    EXPECT_EQ(RoundToInt32(-2147483648.5), std::numeric_limits<std::int32_t>::min());
    EXPECT_THROW(RoundToInt32(2147483647.5), std::overflow_error);
    EXPECT_THROW(RoundToInt32(kNaN), std::overflow_error);
    EXPECT_THROW(RoundToInt32(-kInf), std::overflow_error);
    EXPECT_EQ(SaturateToInt32(1e12), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(SaturateToInt32(-kInf), std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(SaturateToInt32(kNaN), 0);
}

}  // namespace
}  // namespace kv
