#include "platform/win32/win32_platform.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cstdio>

#include "common/units.h"

namespace kv {

namespace {

HWND Native(Platform::WindowHandle window) {
    return window == nullptr ? nullptr : reinterpret_cast<HWND>(window->winId());
}

}  // namespace

std::uint32_t Win32Platform::GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order) {
    return core_.GetIfTable(table, size, order);
}

std::uint32_t Win32Platform::RasEnumConnectionsA(std::uint8_t* buffer, std::uint32_t* size,
                                                 std::uint32_t* count) {
    return core_.RasEnumConnectionsA(buffer, size, count);
}

std::uint32_t Win32Platform::RasHangUpA(std::uint32_t connection) {
    return core_.RasHangUpA(connection);
}

void Win32Platform::SetWindowPos(WindowHandle window, std::intptr_t insertAfter, int x, int y,
                                 int cx, int cy, std::uint32_t flags) {
    if (const HWND hwnd = Native(window)) {
        ::SetWindowPos(hwnd, reinterpret_cast<HWND>(insertAfter), x, y, cx, cy, flags);
    }
}

std::int32_t Win32Platform::GetWindowLongA(WindowHandle window, int index) {
    const HWND hwnd = Native(window);
    return hwnd == nullptr ? 0 : std::int32_t(::GetWindowLongA(hwnd, index));
}

void Win32Platform::SetWindowLongA(WindowHandle window, int index, std::int32_t value) {
    if (const HWND hwnd = Native(window)) {
        ::SetWindowLongA(hwnd, index, LONG(value));
    }
}

void Win32Platform::SetLayeredWindowAttributes(WindowHandle window, std::uint32_t colorKey,
                                               std::uint8_t alpha, std::uint32_t flags) {
    if (const HWND hwnd = Native(window)) {
        ::SetLayeredWindowAttributes(hwnd, COLORREF(colorKey), alpha, flags);
    }
}

// The program compares the pointer with window places it set through Qt, which are in Qt's
// device-independent pixels; ::GetCursorPos gives physical pixels once the display is scaled.
Platform::Point Win32Platform::GetCursorPos() {
    const QPoint p = QCursor::pos();
    return {p.x(), p.y()};
}

Platform::PlayerHandle Win32Platform::FindWindowA(const char* className, const char* windowName) {
    return core_.FindWindowA(className, windowName);
}

int Win32Platform::GetWindowTextLengthA(PlayerHandle window) {
    return core_.GetWindowTextLengthA(window);
}

int Win32Platform::GetWindowTextA(PlayerHandle window, char* buffer, int size) {
    return core_.GetWindowTextA(window, buffer, size);
}

// No owner window: the browser is not tied to the About window.
void Win32Platform::ShellExecuteA(WindowHandle, const char* operation, const char* file,
                                  const char* parameters, const char* directory, int show) {
    core_.ShellExecuteA(operation, file, parameters, directory, show);
}

// In Qt's pixels for the same reason as the pointer.
Platform::Rect Win32Platform::PrimaryScreenTwips() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return {};
    }
    const QRect geometry = screen->geometry();
    return {{PixelsToTwips(geometry.x()), PixelsToTwips(geometry.y())},
            {PixelsToTwips(geometry.width()), PixelsToTwips(geometry.height())}};
}

// The wide call: the text is UTF-8 and the title Cyrillic, which the ANSI call would take in the
// system code page.
void Win32Platform::ShowMessageBox(const std::string& text, int style) {
    const std::wstring body = win32::Widen(text.c_str());
    const std::wstring title = win32::Widen("Квотомер");
    ::MessageBoxW(nullptr, body.c_str(), title.c_str(), MB_OK | UINT(style));
}

void Win32Platform::ExitProcess(int code) {
    std::fflush(nullptr);
    ::ExitProcess(UINT(code));
}

}  // namespace kv
