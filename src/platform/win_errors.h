#pragma once

#include <cstdint>

namespace kv::win {

inline constexpr std::uint32_t kNoError = 0;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorGenFailure = 31;
// Also what RasHangUpA gives for a link the user may not end (polkit refusal, another user's pppd).
inline constexpr std::uint32_t kErrorAccessDenied = 5;
// Remote Access errors.
inline constexpr std::uint32_t kErrorBufferTooSmall = 603;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorCannotConnect = 623;  // used for "the service did not answer"

}  // namespace kv::win
