#pragma once

#include <cstdint>
#include <string>

namespace kv::win32 {

// What Windows tells of the current boot; zero or empty where it tells nothing.
struct BootFacts {
    std::uint32_t bootCount = 0;  // the kernel's count of boots, KUSER_SHARED_DATA.BootId
    std::string machineGuid;      // the installation the count belongs to
    std::int64_t bootTime = 0;    // the clock at boot, in 100 ns since 1601
};

BootFacts CurrentBootFacts();

// BootId() made of the facts: the boot count of this installation, or else the boot time.
std::string BootIdFrom(const BootFacts& facts);

}  // namespace kv::win32
