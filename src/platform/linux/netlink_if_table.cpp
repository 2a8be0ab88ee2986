#include "platform/linux/netlink_if_table.h"

#include <fcntl.h>
#include <libmnl/libmnl.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/utf8_prefix.h"
#include "platform/win_errors.h"

namespace kv {

namespace {

using namespace iftable;

constexpr int kMaxDumpAttempts = 4;
// Dumps come in chunks of up to 32 KiB; a single link message with many VFs can be larger.
constexpr std::size_t kReceiveBufferSize = 64 * 1024;
// A fill reuses the size query's snapshot only when it follows at once.
constexpr std::int64_t kSnapshotReuseNs = 100'000'000;

std::int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::uint64_t StatField(const std::uint8_t* stats, std::size_t length, std::size_t offset) {
    std::uint64_t value = 0;
    if (offset + sizeof value <= length) {
        std::memcpy(&value, stats + offset, sizeof value);
    }
    return value;
}

std::string AttrString(const nlattr* attr) {
    const char* text = static_cast<const char*>(mnl_attr_get_payload(attr));
    return std::string(text, strnlen(text, mnl_attr_get_payload_len(attr)));
}

// Mb/s from sysfs; drivers without a link speed answer EINVAL or -1.
std::uint32_t ReadSpeed(const std::string& name) {
    const std::string path = "/sys/class/net/" + name + "/speed";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    char text[32] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) {
        return 0;
    }
    const long long mbps = std::strtoll(text, nullptr, 10);
    if (mbps <= 0) {
        return 0;
    }
    const long long bits = std::min<long long>(mbps, 1'000'000'000) * 1'000'000;
    return std::uint32_t(std::min<long long>(bits, 4294967295LL));
}

bool IsWireless(const std::string& name) {
    return access(("/sys/class/net/" + name + "/wireless").c_str(), F_OK) == 0 ||
           access(("/sys/class/net/" + name + "/phy80211").c_str(), F_OK) == 0;
}

std::uint32_t IfType(std::uint16_t arpType, bool wireless) {
    switch (arpType) {
        case ARPHRD_ETHER:
            return wireless ? kTypeIeee80211 : kTypeEthernet;
        case ARPHRD_LOOPBACK:
            return kTypeLoopback;
        case ARPHRD_PPP:
            return kTypePpp;
        case ARPHRD_IEEE80211:
        case ARPHRD_IEEE80211_PRISM:
        case ARPHRD_IEEE80211_RADIOTAP:
            return kTypeIeee80211;
        case ARPHRD_NONE:
        case ARPHRD_TUNNEL:
        case ARPHRD_TUNNEL6:
        case ARPHRD_SIT:
        case ARPHRD_IPGRE:
        case ARPHRD_IP6GRE:
            return kTypeTunnel;
        default:
            return kTypeOther;
    }
}

std::uint32_t OperStatus(std::uint8_t operState, std::uint32_t flags) {
    switch (operState) {
        case IF_OPER_UP:
            return kOperOperational;
        case IF_OPER_DOWN:
        case IF_OPER_LOWERLAYERDOWN:
            return kOperDisconnected;
        case IF_OPER_DORMANT:
        case IF_OPER_TESTING:
            return kOperConnecting;
        case IF_OPER_NOTPRESENT:
            return kOperNonOperational;
        default:  // loopback and tun report "unknown" while working
            return (flags & IFF_UP) && (flags & IFF_RUNNING) ? kOperOperational : kOperUnreachable;
    }
}

// Windows keeps the name in UTF-16; invalid UTF-8 becomes U+FFFD.
void WriteUtf16Name(std::uint8_t* row, std::string_view name) {
    std::size_t units = 0;
    auto put = [&](std::uint32_t unit) {
        row[kNameOffset + 2 * units] = std::uint8_t(unit);
        row[kNameOffset + 2 * units + 1] = std::uint8_t(unit >> 8);
        ++units;
    };
    for (std::size_t i = 0; i < name.size() && units + 2 < 256;) {
        const auto lead = std::uint8_t(name[i]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        std::uint32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        bool valid = lead < 0x80 || (lead >= 0xC2 && lead <= 0xF4);
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = i + k < name.size() && (std::uint8_t(name[i + k]) & 0xC0) == 0x80;
            if (valid) {
                code = code << 6 | (std::uint8_t(name[i + k]) & 0x3F);
            }
        }
        if (!valid) {
            put(0xFFFD);
            ++i;
            continue;
        }
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            put(0xD800 | code >> 10);
            put(0xDC00 | (code & 0x3FF));
        } else {
            put(code);
        }
    }
}

}  // namespace

NetlinkIfTable::NetlinkIfTable() : buffer_(kReceiveBufferSize) {}

NetlinkIfTable::~NetlinkIfTable() {
    CloseDumpSocket();
    if (events_ != nullptr) {
        mnl_socket_close(events_);
    }
}

ssize_t NetlinkIfTable::Send(const nlmsghdr* request) {
    return mnl_socket_sendto(dump_, request, request->nlmsg_len);
}

ssize_t NetlinkIfTable::Receive(Channel channel, void* buffer, std::size_t size) {
    return mnl_socket_recvfrom(channel == Channel::kDump ? dump_ : events_, buffer, size);
}

std::uint32_t NetlinkIfTable::GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order) {
    if (size == nullptr) {
        return win::kErrorInvalidParameter;
    }
    bool usable = table != nullptr && primed_ && NowNs() - primedAtNs_ < kSnapshotReuseNs;
    if (usable) {
        DrainEvents();
        usable = !linksStale_;
    }
    if (!usable) {
        if (const std::uint32_t error = Refresh(); error != win::kNoError) {
            return error;
        }
    }
    const std::size_t needed = TableSize(rowCount_);
    if (table == nullptr || *size < needed) {
        *size = std::uint32_t(needed);
        return win::kErrorInsufficientBuffer;  // the snapshot stays primed for the fill
    }
    primed_ = false;
    Fill(table, order);
    return win::kNoError;
}

std::uint32_t NetlinkIfTable::Refresh() {
    primed_ = false;
    DrainEvents();
    if (!Dump(RTM_GETSTATS, &NetlinkIfTable::OnStats)) {
        return Failure();
    }
    const bool sameSet =
        std::equal(counters_.begin(), counters_.end(), mappedIndexes_.begin(), mappedIndexes_.end(),
                   [](const Counters& c, std::uint32_t i) { return c.index == i; });
    if (linksStale_ || !sameSet) {
        // Cleared first: MapRows marks it again for interfaces the details missed.
        linksStale_ = false;
        if (!LoadLinks()) {
            linksStale_ = true;
            mappedIndexes_.clear();
            return Failure();
        }
        MapRows();
    }
    primed_ = true;
    primedAtNs_ = NowNs();
    return win::kNoError;
}

std::uint32_t NetlinkIfTable::Failure() const {
    switch (lastErrno_) {
        case EOPNOTSUPP:
        case EAFNOSUPPORT:
        case EPROTONOSUPPORT:
            return win::kErrorNotSupported;
        default:
            return win::kErrorGenFailure;
    }
}

void NetlinkIfTable::DrainEvents() {
    if (events_ == nullptr) {
        // Whatever happened before the subscription is unknown.
        linksStale_ = true;
        events_ = mnl_socket_open2(NETLINK_ROUTE, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (events_ == nullptr) {
            return;
        }
        if (mnl_socket_bind(events_, RTMGRP_LINK, MNL_SOCKET_AUTOPID) < 0) {
            mnl_socket_close(events_);
            events_ = nullptr;
        }
        return;
    }
    for (;;) {
        const ssize_t n = Receive(Channel::kEvents, buffer_.data(), buffer_.size());
        if (n > 0) {
            linksStale_ = true;  // the socket carries nothing but link announcements
            continue;
        }
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            return;
        }
        if (errno == EINTR) {
            continue;
        }
        linksStale_ = true;  // ENOBUFS: announcements were lost; ENOSPC: one did not fit
        if (errno != ENOBUFS && errno != ENOSPC) {
            mnl_socket_close(events_);
            events_ = nullptr;
            return;
        }
    }
}

bool NetlinkIfTable::OpenDumpSocket() {
    if (dump_ != nullptr) {
        return true;
    }
    dump_ = mnl_socket_open2(NETLINK_ROUTE, SOCK_CLOEXEC);
    if (dump_ == nullptr) {
        lastErrno_ = errno;
        return false;
    }
    if (mnl_socket_bind(dump_, 0, MNL_SOCKET_AUTOPID) < 0) {
        lastErrno_ = errno;
        CloseDumpSocket();
        return false;
    }
    portId_ = mnl_socket_get_portid(dump_);
    return true;
}

void NetlinkIfTable::CloseDumpSocket() {
    if (dump_ != nullptr) {
        mnl_socket_close(dump_);
        dump_ = nullptr;
    }
}

bool NetlinkIfTable::Dump(std::uint16_t type, Handler handler) {
    for (int attempt = 0; attempt < kMaxDumpAttempts; ++attempt) {
        if (type == RTM_GETSTATS) {
            counters_.clear();
        } else {
            incoming_.clear();
        }
        switch (DumpOnce(type, handler)) {
            case DumpResult::kOk:
                return true;
            case DumpResult::kFailed:
                return false;
            case DumpResult::kInterrupted:
                break;
        }
    }
    lastErrno_ = EINTR;
    return false;
}

NetlinkIfTable::DumpResult NetlinkIfTable::DumpOnce(std::uint16_t type, Handler handler) {
    lastErrno_ = 0;
    if (!OpenDumpSocket()) {
        return DumpResult::kFailed;
    }
    alignas(nlmsghdr) std::uint8_t request[128] = {};
    nlmsghdr* nlh = mnl_nlmsg_put_header(request);
    nlh->nlmsg_type = type;
    nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    nlh->nlmsg_seq = ++seq_;
    if (type == RTM_GETSTATS) {
        auto* ifsm =
            static_cast<if_stats_msg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(if_stats_msg)));
        ifsm->family = AF_UNSPEC;
        ifsm->filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    } else {
        auto* ifi = static_cast<ifinfomsg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(ifinfomsg)));
        ifi->ifi_family = AF_UNSPEC;
        mnl_attr_put_u32(nlh, IFLA_EXT_MASK, RTEXT_FILTER_SKIP_STATS);
    }

    auto fail = [this](int error) {
        lastErrno_ = error;
        // Whatever is still queued belongs to the broken exchange.
        CloseDumpSocket();
        return DumpResult::kFailed;
    };
    if (Send(nlh) < 0) {
        return fail(errno);
    }
    bool interrupted = false;
    for (;;) {
        const ssize_t n = Receive(Channel::kDump, buffer_.data(), buffer_.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return fail(n == 0 ? EPROTO : errno);
        }
        int left = int(n);
        const auto* message = reinterpret_cast<const nlmsghdr*>(buffer_.data());
        if (!mnl_nlmsg_ok(message, left)) {
            return fail(EPROTO);
        }
        for (; mnl_nlmsg_ok(message, left); message = mnl_nlmsg_next(message, &left)) {
            if (message->nlmsg_seq != seq_ || message->nlmsg_pid != portId_) {
                return fail(EPROTO);
            }
            if (message->nlmsg_flags & NLM_F_DUMP_INTR) {
                interrupted = true;
            }
            if (message->nlmsg_type == NLMSG_DONE) {
                int error = 0;
                if (mnl_nlmsg_get_payload_len(message) >= sizeof error) {
                    std::memcpy(&error, mnl_nlmsg_get_payload(message), sizeof error);
                }
                if (error < 0) {
                    return fail(-error);
                }
                return interrupted ? DumpResult::kInterrupted : DumpResult::kOk;
            }
            if (message->nlmsg_type == NLMSG_ERROR) {
                int error = EPROTO;
                if (mnl_nlmsg_get_payload_len(message) >= sizeof(nlmsgerr)) {
                    const auto* err = static_cast<const nlmsgerr*>(mnl_nlmsg_get_payload(message));
                    error = err->error < 0 ? -err->error : EPROTO;
                }
                return fail(error);
            }
            if (message->nlmsg_type >= NLMSG_MIN_TYPE && !(this->*handler)(message)) {
                return fail(EPROTO);
            }
        }
        if (left > 0) {
            return fail(EPROTO);  // a truncated message
        }
    }
}

bool NetlinkIfTable::OnStats(const nlmsghdr* message) {
    if (message->nlmsg_type != RTM_NEWSTATS) {
        return true;
    }
    if (mnl_nlmsg_get_payload_len(message) < sizeof(if_stats_msg)) {
        return false;
    }
    const auto* ifsm = static_cast<const if_stats_msg*>(mnl_nlmsg_get_payload(message));
    const auto* attr =
        static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(message, sizeof(if_stats_msg)));
    const char* end = static_cast<const char*>(mnl_nlmsg_get_payload_tail(message));
    for (; mnl_attr_ok(attr, int(end - reinterpret_cast<const char*>(attr)));
         attr = mnl_attr_next(attr)) {
        if (mnl_attr_get_type(attr) != IFLA_STATS_LINK_64) {
            continue;
        }
        const auto* s = static_cast<const std::uint8_t*>(mnl_attr_get_payload(attr));
        const std::size_t length = mnl_attr_get_payload_len(attr);
        if (length < offsetof(rtnl_link_stats64, multicast) + 8) {
            return false;
        }
        auto field = [&](std::size_t offset) { return StatField(s, length, offset); };
        const std::uint64_t rxPackets = field(offsetof(rtnl_link_stats64, rx_packets));
        const std::uint64_t multicast = field(offsetof(rtnl_link_stats64, multicast));
        counters_.push_back(Counters{
            ifsm->ifindex,
            std::uint32_t(field(offsetof(rtnl_link_stats64, rx_bytes))),
            std::uint32_t(rxPackets - std::min(multicast, rxPackets)),
            std::uint32_t(multicast),
            std::uint32_t(field(offsetof(rtnl_link_stats64, rx_dropped))),
            std::uint32_t(field(offsetof(rtnl_link_stats64, rx_errors))),
            std::uint32_t(field(offsetof(rtnl_link_stats64, rx_nohandler))),
            std::uint32_t(field(offsetof(rtnl_link_stats64, tx_bytes))),
            std::uint32_t(field(offsetof(rtnl_link_stats64, tx_packets))),
            std::uint32_t(field(offsetof(rtnl_link_stats64, tx_dropped))),
            std::uint32_t(field(offsetof(rtnl_link_stats64, tx_errors))),
        });
        return true;
    }
    return false;
}

bool NetlinkIfTable::OnLink(const nlmsghdr* message) {
    if (message->nlmsg_type != RTM_NEWLINK) {
        return true;
    }
    if (mnl_nlmsg_get_payload_len(message) < sizeof(ifinfomsg)) {
        return false;
    }
    const auto* ifi = static_cast<const ifinfomsg*>(mnl_nlmsg_get_payload(message));
    Link link;
    link.index = std::uint32_t(ifi->ifi_index);
    link.flags = ifi->ifi_flags;
    link.arpType = ifi->ifi_type;
    std::size_t addressLength = 0;
    const auto* attr =
        static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(message, sizeof(ifinfomsg)));
    const char* end = static_cast<const char*>(mnl_nlmsg_get_payload_tail(message));
    for (; mnl_attr_ok(attr, int(end - reinterpret_cast<const char*>(attr)));
         attr = mnl_attr_next(attr)) {
        const std::size_t length = mnl_attr_get_payload_len(attr);
        switch (mnl_attr_get_type(attr)) {
            case IFLA_IFNAME:
                link.name = AttrString(attr);
                break;
            case IFLA_IFALIAS:
                link.alias = AttrString(attr);
                break;
            case IFLA_ADDRESS:
                addressLength = length;
                std::memcpy(link.address.data(), mnl_attr_get_payload(attr),
                            std::min(length, link.address.size()));
                break;
            case IFLA_MTU:
                if (length >= 4) {
                    link.mtu = mnl_attr_get_u32(attr);
                }
                break;
            case IFLA_OPERSTATE:
                if (length >= 1) {
                    link.operState = mnl_attr_get_u8(attr);
                }
                break;
            default:
                break;
        }
    }
    if (link.name.empty()) {
        return false;
    }
    const bool noAddress = link.arpType == ARPHRD_LOOPBACK || link.arpType == ARPHRD_NONE ||
                           link.arpType == ARPHRD_PPP;
    // A longer address (InfiniBand) cut to 8 bytes would name another device.
    if (noAddress || addressLength > link.address.size()) {
        link.address.fill(0);
    } else {
        link.addressLength = std::uint32_t(addressLength);
    }
    incoming_.insert_or_assign(link.index, std::move(link));
    return true;
}

bool NetlinkIfTable::LoadLinks() {
    if (!Dump(RTM_GETLINK, &NetlinkIfTable::OnLink)) {
        return false;
    }
    for (auto& [index, link] : incoming_) {
        const auto old = links_.find(index);
        if (old != links_.end() && old->second.name == link.name &&
            old->second.operState == link.operState && old->second.flags == link.flags) {
            link.speed = old->second.speed;
            link.wireless = old->second.wireless;
        } else {
            link.speed = ReadSpeed(link.name);
            link.wireless = link.arpType == ARPHRD_ETHER && IsWireless(link.name);
        }

        std::uint8_t* row = link.row.data();
        WriteUtf16Name(row, link.name);
        WriteU32(row + kIndexOffset, index);
        WriteU32(row + kTypeOffset, IfType(link.arpType, link.wireless));
        WriteU32(row + kMtuOffset, link.mtu);
        WriteU32(row + kSpeedOffset, link.speed);
        WriteU32(row + kPhysAddrLenOffset, link.addressLength);
        std::memcpy(row + kPhysAddrOffset, link.address.data(), kPhysAddrSize);
        WriteU32(row + kAdminStatusOffset, (link.flags & IFF_UP) ? 1 : 2);
        WriteU32(row + kOperStatusOffset, OperStatus(link.operState, link.flags));
        std::string description = link.name;
        if (!link.alias.empty()) {
            description.append(" (").append(link.alias).append(")");
        }
        const std::size_t descrLength = Utf8PrefixLength(description, kDescrSize);
        WriteU32(row + kDescrLenOffset, std::uint32_t(descrLength));
        std::memcpy(row + kDescrOffset, description.data(), descrLength);
    }
    links_.swap(incoming_);
    incoming_.clear();
    return true;
}

void NetlinkIfTable::MapRows() {
    mappedIndexes_.clear();
    rowLinks_.clear();
    rowCount_ = 0;
    for (const Counters& c : counters_) {
        mappedIndexes_.push_back(c.index);
        const auto found = links_.find(c.index);
        if (found == links_.end()) {
            // Appeared after the details were read; the next refresh re-reads them.
            rowLinks_.push_back(nullptr);
            linksStale_ = true;
        } else {
            rowLinks_.push_back(&found->second);
            ++rowCount_;
        }
    }
}

void NetlinkIfTable::Fill(std::uint8_t* table, bool order) {
    WriteU32(table, rowCount_);
    std::uint8_t* row = table + kHeaderSize;
    auto put = [&](std::size_t i) {
        const Link* link = rowLinks_[i];
        if (link == nullptr) {
            return;
        }
        const Counters& c = counters_[i];
        std::memcpy(row, link->row.data(), kRowSize);
        WriteU32(row + kInOctetsOffset, c.inOctets);
        WriteU32(row + kInUcastPktsOffset, c.inUcast);
        WriteU32(row + kInNUcastPktsOffset, c.inNUcast);
        WriteU32(row + kInDiscardsOffset, c.inDiscards);
        WriteU32(row + kInErrorsOffset, c.inErrors);
        WriteU32(row + kInUnknownProtosOffset, c.inUnknownProtos);
        WriteU32(row + kOutOctetsOffset, c.outOctets);
        WriteU32(row + kOutUcastPktsOffset, c.outUcast);
        WriteU32(row + kOutDiscardsOffset, c.outDiscards);
        WriteU32(row + kOutErrorsOffset, c.outErrors);
        row += kRowSize;
    };
    const auto byIndex = [](const Counters& a, const Counters& b) { return a.index < b.index; };
    if (!order || std::is_sorted(counters_.begin(), counters_.end(), byIndex)) {
        for (std::size_t i = 0; i < counters_.size(); ++i) {
            put(i);
        }
        return;
    }
    sorted_.resize(counters_.size());
    for (std::size_t i = 0; i < sorted_.size(); ++i) {
        sorted_[i] = std::uint32_t(i);
    }
    std::sort(sorted_.begin(), sorted_.end(), [&](std::uint32_t a, std::uint32_t b) {
        return counters_[a].index < counters_[b].index;
    });
    for (const std::uint32_t i : sorted_) {
        put(i);
    }
}

}  // namespace kv
