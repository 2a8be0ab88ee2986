#include "platform/boot_id.h"

#include <windows.h>

#include <cstdint>

namespace kv {

namespace {

// The leading fields of ntdll's SYSTEM_TIMEOFDAY_INFORMATION.
struct TimeOfDay {
    LARGE_INTEGER bootTime;
    LARGE_INTEGER currentTime;
    LARGE_INTEGER timeZoneBias;
    ULONG timeZoneId;
    ULONG reserved;
    ULONGLONG bootTimeBias;
    ULONGLONG sleepTimeBias;
};

constexpr ULONG kSystemTimeOfDayInformation = 3;
constexpr std::int64_t kTicksPerSecond = 10'000'000;

}  // namespace

// The boot time as the kernel keeps it, in whole seconds: the uptime subtracted from the clock
// would move with every tick of drift.
std::string BootId() {
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return {};
    }
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    TimeOfDay info{};
    if (query == nullptr || query(kSystemTimeOfDayInformation, &info, sizeof info, nullptr) < 0 ||
        info.bootTime.QuadPart <= 0) {
        return {};
    }
    return "boot-" + std::to_string(info.bootTime.QuadPart / kTicksPerSecond);
}

}  // namespace kv
