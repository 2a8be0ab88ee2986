#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kv::test {

// Thrown by FakePlatform::ExitProcess so a test can see a fatal stop without losing the process.
struct ProcessExit {
    int code;
};

// A scripted stand-in for the operating system: the test sets the interface table, the pointer,
// the screen, the player and the dial-up connections, and reads back what the program did.
class FakePlatform : public Platform {
  public:
    struct Interface {
        std::uint32_t index = 1;
        std::string description;
        std::uint32_t inOctets = 0;
        std::uint32_t outOctets = 0;
        std::uint32_t speed = 0;
        std::vector<std::uint8_t> physAddr;
        std::optional<std::uint32_t> descrLen;     // default: description length
        std::optional<std::uint32_t> physAddrLen;  // default: physAddr size
    };

    struct Message {
        std::string text;
        int style;
    };

    struct RasConnection {
        std::uint32_t handle;
        std::string name;
        std::uint32_t hangUpResult = 0;
    };

    // The interface table and ways to break it.
    std::vector<Interface> interfaces;
    std::optional<std::uint32_t> sizeQueryResult;  // replaces the usual 122
    std::optional<std::uint32_t> sizeQuerySize;    // replaces the size the query reports
    std::optional<std::uint32_t> fillResult;       // replaces the usual 0
    std::optional<std::uint32_t> declaredRows;     // replaces the row count written
    int getIfTableCalls = 0;

    Interface& Add(std::uint32_t index, std::string description, std::uint32_t in = 0,
                   std::uint32_t out = 0);
    Interface* Find(std::uint32_t index);
    void Remove(std::uint32_t index);

    // Window system.
    Point cursor;
    Rect screenTwips{{0, 0}, {1920 * 15, 1080 * 15}};
    std::vector<Message> messages;
    // Runs while a box is open, where a real box would run its own event loop.
    std::function<void(const Message&)> whileBoxIsOpen;
    std::map<WindowHandle, bool> topmost;
    std::map<WindowHandle, std::int32_t> exStyle;
    std::map<WindowHandle, int> alpha;
    std::vector<std::string> opened;

    // Player window: 0 when no player.
    PlayerHandle player = 0;
    std::string playerTitle;

    // Dial-up.
    std::vector<RasConnection> connections;
    std::optional<std::uint32_t> enumResult;
    std::vector<std::uint32_t> hungUp;

    std::uint32_t GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order) override;
    std::uint32_t RasEnumConnectionsA(std::uint8_t* buffer, std::uint32_t* size,
                                      std::uint32_t* count) override;
    std::uint32_t RasHangUpA(std::uint32_t connection) override;
    void SetWindowPos(WindowHandle window, std::intptr_t insertAfter, int x, int y, int cx, int cy,
                      std::uint32_t flags) override;
    std::int32_t GetWindowLongA(WindowHandle window, int index) override;
    void SetWindowLongA(WindowHandle window, int index, std::int32_t value) override;
    void SetLayeredWindowAttributes(WindowHandle window, std::uint32_t colorKey, std::uint8_t a,
                                    std::uint32_t flags) override;
    Point GetCursorPos() override { return cursor; }
    PlayerHandle FindWindowA(const char* className, const char* windowName) override;
    int GetWindowTextLengthA(PlayerHandle window) override;
    int GetWindowTextA(PlayerHandle window, char* buffer, int size) override;
    void ShellExecuteA(WindowHandle owner, const char* operation, const char* file,
                       const char* parameters, const char* directory, int show) override;
    Rect PrimaryScreenTwips() override { return screenTwips; }
    void ShowMessageBox(const std::string& text, int style) override;
    [[noreturn]] void ExitProcess(int code) override;
};

}  // namespace kv::test
