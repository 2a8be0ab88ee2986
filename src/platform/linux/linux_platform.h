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
// links, MPRIS for the player.
class LinuxPlatform : public Platform {
  public:
    LinuxPlatform();

    TableRead ReadInterfaceTable(InterfaceTable& table) override;
    std::vector<DialUpLink> ListDialUpLinks(LinkResult& result) override;
    LinkResult HangUp(const DialUpLink& link) override;
    std::optional<std::string> PlayerTitle() override;

  private:
    NetlinkIfTable ifTable_;
    DialUpLinks dialUp_;
    std::map<std::uint32_t, DialUpLinks::Link> links_;
    std::uint32_t nextToken_ = 1;
    std::unique_ptr<MediaPlayers> players_;
};

}  // namespace kv
