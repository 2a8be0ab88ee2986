#pragma once

#include <cstdint>
#include <string>

class QWidget;

namespace kv {

// The operating-system services the program uses, shaped after the Windows calls it was designed
// on, so that the logic runs unchanged on the real calls, on the Linux backend or on a test fake.
// Everything is called on the user-interface thread.
class Platform {
  public:
    using WindowHandle = QWidget*;
    using PlayerHandle = std::uintptr_t;  // 0 = none

    static constexpr std::intptr_t kHwndTopmost = -1;
    static constexpr std::intptr_t kHwndNoTopmost = -2;
    static constexpr std::uint32_t kSwpNoSize = 1;
    static constexpr std::uint32_t kSwpNoMove = 2;
    static constexpr int kGwlExStyle = -20;
    static constexpr std::int32_t kWsExLayered = 0x80000;
    static constexpr std::uint32_t kLwaAlpha = 2;
    static constexpr int kSwShowMaximized = 3;
    static constexpr int kMbIconCritical = 16;

    struct Point {
        std::int32_t x = 0;
        std::int32_t y = 0;
    };
    struct Rect {
        Point origin;  // top-left corner on the whole desktop, which may lie left of or above 0
        Point size;
    };

    virtual ~Platform() = default;

    // iphlpapi. With no buffer: returns 122 and the size needed (50 when unsupported). With a
    // buffer: fills the MIB_IFTABLE layout of iftable_layout.h and returns 0, or 122 with the new
    // size when the buffer is too small.
    virtual std::uint32_t GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order) = 0;

    // rasapi32. The buffer holds RASCONN entries (ras_layout.h); the first entry's dwSize is set.
    virtual std::uint32_t RasEnumConnectionsA(std::uint8_t* connections, std::uint32_t* size,
                                              std::uint32_t* count) = 0;
    virtual std::uint32_t RasHangUpA(std::uint32_t connection) = 0;

    // user32.
    virtual void SetWindowPos(WindowHandle window, std::intptr_t insertAfter, int x, int y, int cx,
                              int cy, std::uint32_t flags) = 0;
    virtual std::int32_t GetWindowLongA(WindowHandle window, int index) = 0;
    virtual void SetWindowLongA(WindowHandle window, int index, std::int32_t value) = 0;
    virtual void SetLayeredWindowAttributes(WindowHandle window, std::uint32_t colorKey,
                                            std::uint8_t alpha, std::uint32_t flags) = 0;
    virtual Point GetCursorPos() = 0;
    virtual PlayerHandle FindWindowA(const char* className, const char* windowName) = 0;
    virtual int GetWindowTextLengthA(PlayerHandle window) = 0;
    virtual int GetWindowTextA(PlayerHandle window, char* buffer, int size) = 0;

    // shell32.
    virtual void ShellExecuteA(WindowHandle owner, const char* operation, const char* file,
                               const char* parameters, const char* directory, int show) = 0;

    // Window-system facilities.
    virtual Rect PrimaryScreenTwips() = 0;
    // Modal message box titled "Квотомер" with an OK button; style 16 adds the critical icon.
    virtual void ShowMessageBox(const std::string& text, int style) = 0;
    // Ends the process at once, without saving; never returns.
    [[noreturn]] virtual void ExitProcess(int code) = 0;
};

}  // namespace kv
