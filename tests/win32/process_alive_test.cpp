#include "platform/process_alive.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

TEST(ProcessIsGone, IsTrueOnlyForAnIdNoProcessHas) {
    EXPECT_FALSE(kv::ProcessIsGone(GetCurrentProcessId()));
    EXPECT_FALSE(kv::ProcessIsGone(0));
    EXPECT_FALSE(kv::ProcessIsGone(-1));
    EXPECT_FALSE(kv::ProcessIsGone(std::int64_t(1) << 40));

    wchar_t command[] = L"cmd.exe /c exit 0";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &child));
    CloseHandle(child.hThread);
    ASSERT_EQ(WaitForSingleObject(child.hProcess, 30000), WAIT_OBJECT_0);
    // Ended, though a handle still keeps its id from being given to another process.
    EXPECT_TRUE(kv::ProcessIsGone(child.dwProcessId));
    CloseHandle(child.hProcess);
    EXPECT_TRUE(kv::ProcessIsGone(child.dwProcessId));
}

}  // namespace
