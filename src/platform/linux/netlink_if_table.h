#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/iftable_layout.h"

struct mnl_socket;
struct nlmsghdr;

namespace kv {

// GetIfTable over rtnetlink. One RTM_GETSTATS dump per refresh supplies the counters; interface
// details come from RTM_GETLINK and are re-read only when the kernel announces a link change or
// the set of interfaces changes, so an ordinary refresh costs one counters dump.
class NetlinkIfTable {
  public:
    NetlinkIfTable();
    virtual ~NetlinkIfTable();
    NetlinkIfTable(const NetlinkIfTable&) = delete;
    NetlinkIfTable& operator=(const NetlinkIfTable&) = delete;

    // The iphlpapi contract: 87 without a size; 122 and the size needed without a buffer or with
    // a short one; otherwise 0 and a filled MIB_IFTABLE. 31 when the kernel cannot be read, 50
    // when it lacks the interface.
    std::uint32_t GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order);

  protected:
    enum class Channel { kDump, kEvents };

    // Seam for fault injection; the defaults talk to the kernel.
    virtual ssize_t Send(const nlmsghdr* request);
    virtual ssize_t Receive(Channel channel, void* buffer, std::size_t size);

  private:
    struct Link {
        std::string name;
        std::string alias;
        std::array<std::uint8_t, iftable::kPhysAddrSize> address{};
        std::uint32_t addressLength = 0;
        std::uint32_t index = 0;
        std::uint32_t flags = 0;
        std::uint32_t mtu = 0;
        std::uint16_t arpType = 0;
        std::uint8_t operState = 0;
        bool wireless = false;
        std::uint32_t speed = 0;
        std::array<std::uint8_t, iftable::kRowSize> row{};  // every field but the counters
    };

    // Low 32 bits, as the row keeps them.
    struct Counters {
        std::uint32_t index;
        std::uint32_t inOctets, inUcast, inNUcast, inDiscards, inErrors, inUnknownProtos;
        std::uint32_t outOctets, outUcast, outDiscards, outErrors;
    };

    enum class DumpResult { kOk, kInterrupted, kFailed };
    using Handler = bool (NetlinkIfTable::*)(const nlmsghdr*);

    std::uint32_t Refresh();
    void DrainEvents();
    bool OpenDumpSocket();
    void CloseDumpSocket();
    bool Dump(std::uint16_t type, Handler handler);
    DumpResult DumpOnce(std::uint16_t type, Handler handler);
    bool OnStats(const nlmsghdr* message);
    bool OnLink(const nlmsghdr* message);
    bool LoadLinks();
    void MapRows();
    void Fill(std::uint8_t* table, bool order);
    std::uint32_t Failure() const;

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
    std::uint32_t rowCount_ = 0;
    std::vector<std::uint32_t> sorted_;

    bool primed_ = false;  // a snapshot was taken for a size query and not yet used
    std::int64_t primedAtNs_ = 0;
};

}  // namespace kv
