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

}  // namespace kv::ras
