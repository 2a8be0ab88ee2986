#include "common/rounding.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace kv {
namespace {

// Explicit rather than std::nearbyint, which would follow whatever rounding mode is set. Works on
// the magnitude because there the fraction is taken off exactly.
double RoundHalfEven(double value) {
    const double magnitude = std::fabs(value);
    const double whole = std::floor(magnitude);
    const double rest = magnitude - whole;
    double rounded = whole;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0.0)) {
        rounded += 1.0;
    }
    return std::copysign(rounded, value);
}

template <typename Int>
Int RoundChecked(double value) {
    const double rounded = RoundHalfEven(value);
    if (!std::isfinite(rounded) || rounded < std::numeric_limits<Int>::min() ||
        rounded > std::numeric_limits<Int>::max()) {
        throw std::overflow_error("value out of integer range");
    }
    return static_cast<Int>(rounded);
}

}  // namespace

std::int32_t RoundToInt32(double value) {
    return RoundChecked<std::int32_t>(value);
}

std::int32_t SaturateToInt32(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double kMin = std::numeric_limits<std::int32_t>::min();
    constexpr double kMax = std::numeric_limits<std::int32_t>::max();
    const double rounded = RoundHalfEven(value);
    return static_cast<std::int32_t>(rounded < kMin ? kMin : rounded > kMax ? kMax : rounded);
}

}  // namespace kv
