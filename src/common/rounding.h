#pragma once

#include <cstdint>

namespace kv {

// Conversions into the integer widths the program stores. Halves go to the even neighbour, as the
// settings file and the graphs expect. Out-of-range or non-finite values throw std::overflow_error.
std::int32_t RoundToInt32(double value);

// Half to even, but clamped into the 32-bit range (NaN gives 0): for speeds that may exceed it.
std::int32_t SaturateToInt32(double value);

}  // namespace kv
