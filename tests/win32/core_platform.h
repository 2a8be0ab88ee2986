#pragma once

#include "platform/win32/win32_core.h"
#include "support/null_platform.h"

namespace kv::test {

// The Qt-free part of the Windows backend behind the program's platform interface, so the reader
// and the ticker run on the real calls; the window operations are not part of it.
class CorePlatform : public NullPlatform {
  public:
    win32::Core core;

    std::uint32_t GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order) override {
        return core.GetIfTable(table, size, order);
    }
    std::uint32_t RasEnumConnectionsA(std::uint8_t* b, std::uint32_t* s,
                                      std::uint32_t* c) override {
        return core.RasEnumConnectionsA(b, s, c);
    }
    std::uint32_t RasHangUpA(std::uint32_t connection) override {
        return core.RasHangUpA(connection);
    }
    PlayerHandle FindWindowA(const char* className, const char* windowName) override {
        return core.FindWindowA(className, windowName);
    }
    int GetWindowTextLengthA(PlayerHandle window) override {
        return core.GetWindowTextLengthA(window);
    }
    int GetWindowTextA(PlayerHandle window, char* buffer, int size) override {
        return core.GetWindowTextA(window, buffer, size);
    }
};

}  // namespace kv::test
