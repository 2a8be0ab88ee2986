#pragma once

#include <QDBusConnection>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv {

// The paid links the "disconnect" button ends: NetworkManager's active connections of the
// dial-up kinds (over the system bus), then pppd links NetworkManager does not manage (found by
// their pid files in the run directory).
//
// Results: 0; win::kErrorCannotConnect when NetworkManager did not answer in time or failed;
// win::kErrorAccessDenied when the hang-up was refused (polkit, or pppd belongs to another user).
// A bus without NetworkManager, or no bus at all, simply adds no links. A link that is already
// down hangs up with 0.
class DialUpLinks {
  public:
    struct Link {
        std::string name;
        std::string nmActiveConnection;  // D-Bus path; empty for a pppd link
        int pppdPid = 0;
    };

    // Uses the system bus, connected on first use.
    explicit DialUpLinks(std::string runDirectory = "/run");
    DialUpLinks(QDBusConnection bus, std::string runDirectory);

    // 0 and the links, or an error number (the bus did not answer in time, ...).
    std::uint32_t List(std::vector<Link>& links);
    std::uint32_t HangUp(const Link& link);

  private:
    QDBusConnection Bus();
    std::uint32_t ListNetworkManager(std::vector<Link>& links);
    void ListPppd(std::vector<Link>& links) const;

    std::string runDirectory_;
    std::optional<QDBusConnection> bus_;
};

}  // namespace kv
