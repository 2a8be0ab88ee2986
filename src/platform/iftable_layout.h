#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The MIB_IFTABLE / MIB_IFROW byte layout that GetIfTable fills: a little-endian row count, then
// rows of 860 bytes each. Shared by the reader and by every table source.
namespace kv::iftable {

inline constexpr std::size_t kHeaderSize = 4;
inline constexpr std::size_t kRowSize = 860;

inline constexpr std::size_t kNameOffset = 0;  // wszName, 256 UTF-16 units
inline constexpr std::size_t kIndexOffset = 512;
inline constexpr std::size_t kTypeOffset = 516;
inline constexpr std::size_t kMtuOffset = 520;
inline constexpr std::size_t kSpeedOffset = 524;
inline constexpr std::size_t kPhysAddrLenOffset = 528;
inline constexpr std::size_t kPhysAddrOffset = 532;
inline constexpr std::size_t kPhysAddrSize = 8;
inline constexpr std::size_t kAdminStatusOffset = 540;
inline constexpr std::size_t kOperStatusOffset = 544;
inline constexpr std::size_t kLastChangeOffset = 548;
inline constexpr std::size_t kInOctetsOffset = 552;
inline constexpr std::size_t kInUcastPktsOffset = 556;
inline constexpr std::size_t kInNUcastPktsOffset = 560;
inline constexpr std::size_t kInDiscardsOffset = 564;
inline constexpr std::size_t kInErrorsOffset = 568;
inline constexpr std::size_t kInUnknownProtosOffset = 572;
inline constexpr std::size_t kOutOctetsOffset = 576;
inline constexpr std::size_t kOutUcastPktsOffset = 580;
inline constexpr std::size_t kOutNUcastPktsOffset = 584;
inline constexpr std::size_t kOutDiscardsOffset = 588;
inline constexpr std::size_t kOutErrorsOffset = 592;
inline constexpr std::size_t kOutQLenOffset = 596;
inline constexpr std::size_t kDescrLenOffset = 600;
inline constexpr std::size_t kDescrOffset = 604;
inline constexpr std::size_t kDescrSize = 256;

// Interface types (IANA ifType, as Windows reports them).
inline constexpr std::uint32_t kTypeOther = 1;
inline constexpr std::uint32_t kTypeEthernet = 6;
inline constexpr std::uint32_t kTypePpp = 23;
inline constexpr std::uint32_t kTypeLoopback = 24;
inline constexpr std::uint32_t kTypeTunnel = 131;
inline constexpr std::uint32_t kTypeIeee80211 = 71;

// Operational status (MIB_IF_OPER_STATUS_*).
inline constexpr std::uint32_t kOperNonOperational = 0;
inline constexpr std::uint32_t kOperUnreachable = 1;
inline constexpr std::uint32_t kOperDisconnected = 2;
inline constexpr std::uint32_t kOperConnecting = 3;
inline constexpr std::uint32_t kOperConnected = 4;
inline constexpr std::uint32_t kOperOperational = 5;

constexpr std::size_t RowOffset(std::size_t row) {
    return kHeaderSize + kRowSize * row;
}

constexpr std::size_t TableSize(std::size_t rows) {
    return kHeaderSize + kRowSize * rows;
}

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

}  // namespace kv::iftable
