#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/dialup_links.h"
#include "platform/linux/media_players.h"
#include "platform/linux/netlink_if_table.h"
#include "platform/platform.h"

namespace kv {

// The Linux backend: rtnetlink for the interface table, NetworkManager and pppd for dial-up
// links, MPRIS for the player, Qt for windows.
class LinuxPlatform : public Platform {
  public:
    explicit LinuxPlatform(std::string runDirectory = "/run");

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
    NetlinkIfTable ifTable_;
    DialUpLinks dialUp_;
    std::map<std::uint32_t, DialUpLinks::Link> connections_;
    std::uint32_t nextConnection_ = 1;
    std::unique_ptr<MediaPlayers> players_;
    std::string titleCache_;
};

}  // namespace kv
