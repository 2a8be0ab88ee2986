#include "platform/win32/boot_id.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/boot_id.h"

namespace kv::win32 {
namespace {

constexpr const char* kGuid = "c0a5ae30-a46e-49f3-8d5d-bbced8693af4";
constexpr std::int64_t kHour = 3600LL * 10'000'000;
// 2024-12-12 05:33:20 UTC, in 100 ns since 1601.
constexpr std::int64_t kBootTime = 13'378'455'200LL * 10'000'000;

struct Case {
    const char* name;
    BootFacts facts;
    std::string expected;
};

// Marks of paid traffic hold only within one boot: a name that changes while the system runs
// has this boot's paid traffic charged again, one shared by two boots keeps marks past a restart.
TEST(BootIdFrom, NamesTheBootByItsCountAndMachineAndOnlyWithoutACountByTheBootTime) {
    const std::string guid = kGuid;
    const std::vector<Case> cases = {
        {"boot 57 of this machine", {57, guid, kBootTime}, "bootid-57-" + guid},
        // Windows moves its boot time with the clock (it is the clock less the uptime).
        {"the clock set an hour on", {57, guid, kBootTime + kHour}, "bootid-57-" + guid},
        {"the clock set a day back", {57, guid, kBootTime - 24 * kHour}, "bootid-57-" + guid},
        {"no boot time at all", {57, guid, 0}, "bootid-57-" + guid},
        {"the next boot", {58, guid, kBootTime + 2 * kHour}, "bootid-58-" + guid},
        {"boot 57 of another machine",
         {57, "0d4c9b1e-2f3a-4b5c-8d7e-6f8091a2b3c4", kBootTime},
         "bootid-57-0d4c9b1e-2f3a-4b5c-8d7e-6f8091a2b3c4"},
        {"the last count there is", {4294967295u, guid, kBootTime}, "bootid-4294967295-" + guid},
        {"no machine GUID", {57, "", kBootTime}, "bootid-57"},
        {"a machine GUID in braces", {57, "{" + guid + "}", kBootTime}, "bootid-57"},
        {"a machine GUID that would make the name too long",
         {4294967295u, guid + "-0123456789abcdef", kBootTime},
         "bootid-4294967295"},
        {"no count: the boot time", {0, guid, kBootTime}, "boot-13378455200"},
        {"no count: the boot time with a fraction",
         {0, "", kBootTime + 9'999'999},
         "boot-13378455200"},
        {"no count, no boot time", {0, guid, 0}, ""},
        {"no count, a boot time before 1601", {0, "", -kHour}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string id = BootIdFrom(c.facts);
        EXPECT_EQ(id, c.expected);
        EXPECT_TRUE(IsPlainBootId(id)) << id;
    }
}

// Windows 10 counts boots. Wine 8 does not, whichever Windows it plays, and it refuses to set the
// clock more than half a second away (SetSystemTime fails with ERROR_PRIVILEGE_NOT_HELD), so the
// table above stands for a clock that was set.
TEST(BootId, NamesThisBootTheSameWayEveryTime) {
    const std::string first = BootId();
    ASSERT_FALSE(first.empty());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(BootId(), first);
    }
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    ASSERT_NE(ntdll, nullptr);
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto getVersion = reinterpret_cast<GetVersion>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    ASSERT_NE(getVersion, nullptr);
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_EQ(getVersion(&version), 0);
    if (GetProcAddress(ntdll, "wine_get_version") != nullptr) {
        EXPECT_EQ(CurrentBootFacts().bootCount, 0u);
        EXPECT_EQ(first.rfind("boot-", 0), 0u) << first;
    } else if (version.dwMajorVersion >= 10) {
        EXPECT_NE(CurrentBootFacts().bootCount, 0u);
        EXPECT_EQ(first.rfind("bootid-", 0), 0u) << first;
    }
}

// Wine makes a machine GUID with every prefix, as Windows does at installation.
TEST(CurrentBootFacts, ReadsTheMachineGuid) {
    const std::string guid = CurrentBootFacts().machineGuid;
    EXPECT_EQ(guid.size(), 36u) << guid;
    EXPECT_TRUE(IsPlainBootId(guid)) << guid;
    EXPECT_EQ(guid.find_first_not_of("0123456789abcdefABCDEF-"), std::string::npos) << guid;
}

}  // namespace
}  // namespace kv::win32
