#pragma once

#include <cstdlib>

#include "platform/platform.h"

namespace kv::test {

// A platform where nothing is there: no table, no connections, no player, no windows. Test
// doubles derive from it and answer only the calls their test is about.
class NullPlatform : public Platform {
  public:
    std::uint32_t GetIfTable(std::uint8_t*, std::uint32_t*, bool) override { return 50; }
    std::uint32_t RasEnumConnectionsA(std::uint8_t*, std::uint32_t*, std::uint32_t*) override {
        return 0;
    }
    std::uint32_t RasHangUpA(std::uint32_t) override { return 0; }
    void SetWindowPos(WindowHandle, std::intptr_t, int, int, int, int, std::uint32_t) override {}
    std::int32_t GetWindowLongA(WindowHandle, int) override { return 0; }
    void SetWindowLongA(WindowHandle, int, std::int32_t) override {}
    void SetLayeredWindowAttributes(WindowHandle, std::uint32_t, std::uint8_t,
                                    std::uint32_t) override {}
    Point GetCursorPos() override { return {}; }
    PlayerHandle FindWindowA(const char*, const char*) override { return 0; }
    int GetWindowTextLengthA(PlayerHandle) override { return 0; }
    int GetWindowTextA(PlayerHandle, char*, int) override { return 0; }
    void ShellExecuteA(WindowHandle, const char*, const char*, const char*, const char*,
                       int) override {}
    Rect PrimaryScreenTwips() override { return {}; }
    void ShowMessageBox(const std::string&, int) override {}
    [[noreturn]] void ExitProcess(int code) override { std::exit(code); }
};

}  // namespace kv::test
