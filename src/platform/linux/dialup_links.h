#pragma once

#include <QDBusConnection>
#include <optional>
#include <string>
#include <vector>

#include "platform/link_result.h"

namespace kv {

// The paid links the "disconnect" button ends: NetworkManager's active connections of the
// dial-up kinds (over the system bus), then pppd links NetworkManager does not manage (found by
// their pid files in the run directory). A bus without NetworkManager, or no bus at all, simply
// adds no links. A link already down hangs up successfully; one the user may not end (polkit,
// another user's pppd) is kRefused.
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

    // The links, or a failure and none.
    LinkFailure List(std::vector<Link>& links);
    LinkFailure HangUp(const Link& link);

  private:
    QDBusConnection Bus();
    LinkFailure ListNetworkManager(std::vector<Link>& links);
    void ListPppd(std::vector<Link>& links) const;

    std::string runDirectory_;
    std::optional<QDBusConnection> bus_;
};

}  // namespace kv
