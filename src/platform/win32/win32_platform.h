#pragma once

#include "platform/platform.h"
#include "platform/win32/win32_core.h"

namespace kv {

// The Windows backend: the real Windows calls, with Qt supplying the native window handles.
class Win32Platform : public Platform {
  public:
    Win32Platform() = default;

    std::uint32_t GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order) override;
    std::uint32_t RasEnumConnectionsA(std::uint8_t* buffer, std::uint32_t* size,
                                      std::uint32_t* count) override;
    std::uint32_t RasHangUpA(std::uint32_t connection) override;
    void SetWindowPos(WindowHandle window, std::intptr_t insertAfter, int x, int y, int cx, int cy,
                      std::uint32_t flags) override;
    std::int32_t GetWindowLongA(WindowHandle window, int index) override;
    void SetWindowLongA(WindowHandle window, int index, std::int32_t value) override;
    void SetLayeredWindowAttributes(WindowHandle window, std::uint32_t colorKey, std::uint8_t alpha,
                                    std::uint32_t flags) override;
    Point GetCursorPos() override;
    PlayerHandle FindWindowA(const char* className, const char* windowName) override;
    int GetWindowTextLengthA(PlayerHandle window) override;
    int GetWindowTextA(PlayerHandle window, char* buffer, int size) override;
    void ShellExecuteA(WindowHandle owner, const char* operation, const char* file,
                       const char* parameters, const char* directory, int show) override;
    Rect PrimaryScreenTwips() override;
    void ShowMessageBox(const std::string& text, int style) override;
    [[noreturn]] void ExitProcess(int code) override;

  private:
    win32::Core core_;
};

}  // namespace kv
