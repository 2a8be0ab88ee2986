// Prints every visible top-level window as Windows sees it, one line each, for the program
// scenarios under Wine (program_scenarios.py): what X11 cannot tell about a Windows window.
//   pid <TAB> title <TAB> window l,t,r,b <TAB> client x,y,w,h <TAB> topmost <TAB> alpha
// The title is UTF-8; alpha is 255 for a window that is not layered.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string Utf8(const wchar_t* text, int length) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

BOOL CALLBACK Print(HWND window, LPARAM) {
    if (!IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t title[512];
    const int length = GetWindowTextW(window, title, 512);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT outer{};
    GetWindowRect(window, &outer);
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    BYTE alpha = 255;
    DWORD flags = 0;
    if ((exStyle & WS_EX_LAYERED) != 0 &&
        (!GetLayeredWindowAttributes(window, nullptr, &alpha, &flags) ||
         (flags & LWA_ALPHA) == 0)) {
        alpha = 255;
    }
    std::printf("%lu\t%s\t%ld,%ld,%ld,%ld\t%ld,%ld,%ld,%ld\t%d\t%u\n", pid,
                Utf8(title, length).c_str(), outer.left, outer.top, outer.right, outer.bottom,
                origin.x, origin.y, client.right, client.bottom,
                (exStyle & WS_EX_TOPMOST) != 0 ? 1 : 0, unsigned(alpha));
    return TRUE;
}

}  // namespace

int main() {
    EnumWindows(Print, 0);
    return 0;
}
