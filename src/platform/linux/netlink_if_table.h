#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

struct mnl_socket;
struct nlmsghdr;

namespace kv {

// The interface table over rtnetlink. One RTM_GETSTATS dump per refresh supplies the 64-bit
// counters; interface details come from RTM_GETLINK and are re-read only when the kernel
// announces a link change or the set of interfaces changes, so an ordinary refresh costs one
// counters dump.
class NetlinkIfTable {
  public:
    NetlinkIfTable();
    virtual ~NetlinkIfTable();
    NetlinkIfTable(const NetlinkIfTable&) = delete;
    NetlinkIfTable& operator=(const NetlinkIfTable&) = delete;

    // kNotSupported when the kernel lacks the interface, kFailed when it cannot be read.
    TableRead Read(InterfaceTable& table);

  protected:
    enum class Channel { kDump, kEvents };

    // Seam for fault injection; the defaults talk to the kernel.
    virtual ssize_t Send(const nlmsghdr* request);
    virtual ssize_t Receive(Channel channel, void* buffer, std::size_t size);

  private:
    struct Link {
        std::string name;
        std::string description;
        std::array<std::uint8_t, 8> address{};
        std::uint8_t addressLength = 0;
        std::uint32_t flags = 0;
        std::uint16_t arpType = 0;
        std::uint8_t operState = 0;
        std::uint32_t speed = 0;
    };

    struct Counters {
        std::uint32_t index;
        std::uint64_t received, sent;
    };

    enum class DumpResult { kOk, kInterrupted, kFailed };
    using Handler = bool (NetlinkIfTable::*)(const nlmsghdr*);

    void DrainEvents();
    bool OpenDumpSocket();
    void CloseDumpSocket();
    bool Dump(std::uint16_t type, Handler handler);
    DumpResult DumpOnce(std::uint16_t type, Handler handler);
    bool OnStats(const nlmsghdr* message);
    bool OnLink(const nlmsghdr* message);
    bool LoadLinks();
    void MapRows();
    TableRead Failure() const;

    mnl_socket* dump_ = nullptr;
    mnl_socket* events_ = nullptr;
    std::uint32_t portId_ = 0;
    std::uint32_t seq_ = 0;
    int lastErrno_ = 0;
    std::vector<std::uint8_t> buffer_;

    std::unordered_map<std::uint32_t, Link> links_;
    std::unordered_map<std::uint32_t, Link> incoming_;
    bool linksStale_ = true;

    std::vector<Counters> counters_;
    std::vector<std::uint32_t> mappedIndexes_;  // counters_ order the rows were mapped for
    std::vector<const Link*> rowLinks_;         // per counters_ entry; null: no details yet
    std::size_t rowCount_ = 0;
};

}  // namespace kv
