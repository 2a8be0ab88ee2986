#include "common/rounding.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace kv {
namespace {

// The program never leaves the default rounding mode, in which std::nearbyint sends halves to the
// even neighbour.
template <typename Int>
Int RoundChecked(double value) {
    const double rounded = std::nearbyint(value);
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
    const double rounded = std::nearbyint(value);
    return static_cast<std::int32_t>(rounded < kMin ? kMin : rounded > kMax ? kMax : rounded);
}

}  // namespace kv
