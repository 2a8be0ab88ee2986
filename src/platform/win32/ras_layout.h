#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// The 32-bit ANSI RASCONN entry: 412 bytes.
namespace kv::ras {

inline constexpr std::size_t kEntrySize = 412;
inline constexpr std::size_t kEntries = kMaxDialUpLinks;
inline constexpr std::size_t kBufferSize = kEntrySize * kEntries;  // 105472

inline constexpr std::size_t kSizeOffset = 0;
inline constexpr std::size_t kHandleOffset = 4;
inline constexpr std::size_t kEntryNameOffset = 8;
inline constexpr std::size_t kEntryNameSize = 257;
inline constexpr std::size_t kDeviceTypeOffset = 265;
inline constexpr std::size_t kDeviceTypeSize = 17;
inline constexpr std::size_t kDeviceNameOffset = 282;
inline constexpr std::size_t kDeviceNameSize = 129;

// Fields are little-endian at any offset.
inline std::uint32_t ReadU32(const std::uint8_t* at) {
    return std::uint32_t(at[0]) | std::uint32_t(at[1]) << 8 | std::uint32_t(at[2]) << 16 |
           std::uint32_t(at[3]) << 24;
}

inline void WriteU32(std::uint8_t* at, std::uint32_t value) {
    at[0] = std::uint8_t(value);
    at[1] = std::uint8_t(value >> 8);
    at[2] = std::uint8_t(value >> 16);
    at[3] = std::uint8_t(value >> 24);
}

}  // namespace kv::ras
