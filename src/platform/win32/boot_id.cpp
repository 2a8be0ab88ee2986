#include "platform/win32/boot_id.h"

#include <windows.h>

#include <cstring>

#include "platform/boot_id.h"

namespace kv {

namespace win32 {

namespace {

// KUSER_SHARED_DATA, which Windows maps read-only into every process at this address. Its BootId
// at 0x2C4 (the WDK's ntddk.h: "Boot sequence, incremented for each boot attempt by the OS
// loader") is filled by Windows 10, the oldest Qt 6 runs on; Windows 7 had padding there, and
// Wine leaves it 0.
constexpr std::uintptr_t kUserSharedData = 0x7FFE0000;
constexpr std::uintptr_t kBootIdOffset = 0x2C4;

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

std::uint32_t KernelBootCount() {
    return *reinterpret_cast<const volatile std::uint32_t*>(kUserSharedData + kBootIdOffset);
}

// The 64-bit view: a 32-bit build would otherwise be sent to WOW6432Node, which lacks it.
std::string MachineGuid() {
    char text[kMaxBootIdSize + 1] = {};
    DWORD size = sizeof text;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", "MachineGuid",
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, text,
                     &size) != ERROR_SUCCESS) {
        return {};
    }
    return std::string(text, strnlen(text, sizeof text));
}

// The boot time as the kernel keeps it: the uptime subtracted from the clock would move with
// every tick of drift.
std::int64_t KernelBootTime() {
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return 0;
    }
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")));
    TimeOfDay info{};
    if (query == nullptr || query(kSystemTimeOfDayInformation, &info, sizeof info, nullptr) < 0) {
        return 0;
    }
    return info.bootTime.QuadPart;
}

}  // namespace

BootFacts CurrentBootFacts() {
    return {KernelBootCount(), MachineGuid(), KernelBootTime()};
}

// The count does not move when the clock is set, and user programs cannot change it while the
// system runs; the machine's GUID keeps boot 57 of one computer from being taken for boot 57 of
// another (a portable copy carries paid.dat along).
std::string BootIdFrom(const BootFacts& facts) {
    if (facts.bootCount != 0) {
        const std::string id = "bootid-" + std::to_string(facts.bootCount);
        const std::string onMachine = id + "-" + facts.machineGuid;
        return !facts.machineGuid.empty() && IsPlainBootId(onMachine) ? onMachine : id;
    }
    // Only without the count, the boot time in whole seconds, in the form earlier versions wrote.
    // Windows takes it as the clock less the uptime, so setting the clock moves it and this
    // boot's records are lost; a restart is still told apart.
    if (facts.bootTime <= 0) {
        return {};
    }
    return "boot-" + std::to_string(facts.bootTime / kTicksPerSecond);
}

}  // namespace win32

std::string BootId() {
    return win32::BootIdFrom(win32::CurrentBootFacts());
}

}  // namespace kv
