#include "platform/linux/netlink_if_table.h"

#include <fcntl.h>
#include <libmnl/libmnl.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/utf8_prefix.h"

namespace kv {

namespace {

constexpr int kMaxDumpAttempts = 4;
// Dumps come in chunks of up to 32 KiB; a single link message with many VFs can be larger.
constexpr std::size_t kReceiveBufferSize = 64 * 1024;

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

TableRead NetlinkIfTable::Read(InterfaceTable& table) {
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
    table.counterBits = 64;
    table.rows.resize(rowCount_);
    auto row = table.rows.begin();
    for (std::size_t i = 0; i < counters_.size(); ++i) {
        const Link* link = rowLinks_[i];
        if (link == nullptr) {
            continue;
        }
        row->index = counters_[i].index;
        row->description = link->description;
        row->received = counters_[i].received;
        row->sent = counters_[i].sent;
        row->speed = link->speed;
        row->address = link->address;
        row->addressLength = link->addressLength;
        ++row;
    }
    return TableRead::kRead;
}

TableRead NetlinkIfTable::Failure() const {
    switch (lastErrno_) {
        case EOPNOTSUPP:
        case EAFNOSUPPORT:
        case EPROTONOSUPPORT:
            return TableRead::kNotSupported;
        default:
            return TableRead::kFailed;
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
        if (length < offsetof(rtnl_link_stats64, tx_bytes) + 8) {
            return false;
        }
        counters_.push_back(Counters{ifsm->ifindex,
                                     StatField(s, length, offsetof(rtnl_link_stats64, rx_bytes)),
                                     StatField(s, length, offsetof(rtnl_link_stats64, tx_bytes))});
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
    link.flags = ifi->ifi_flags;
    link.arpType = ifi->ifi_type;
    std::string alias;
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
                alias = AttrString(attr);
                break;
            case IFLA_ADDRESS:
                addressLength = length;
                std::memcpy(link.address.data(), mnl_attr_get_payload(attr),
                            std::min(length, link.address.size()));
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
    link.description = alias.empty() ? link.name : link.name + " (" + alias + ")";
    link.description.resize(Utf8PrefixLength(link.description, kMaxDescriptionBytes));
    const bool noAddress = link.arpType == ARPHRD_LOOPBACK || link.arpType == ARPHRD_NONE ||
                           link.arpType == ARPHRD_PPP;
    // A longer address (InfiniBand) cut to 8 bytes would name another device.
    if (noAddress || addressLength > link.address.size()) {
        link.address.fill(0);
    } else {
        link.addressLength = std::uint8_t(addressLength);
    }
    incoming_.insert_or_assign(std::uint32_t(ifi->ifi_index), std::move(link));
    return true;
}

bool NetlinkIfTable::LoadLinks() {
    if (!Dump(RTM_GETLINK, &NetlinkIfTable::OnLink)) {
        return false;
    }
    for (auto& [index, link] : incoming_) {
        const auto old = links_.find(index);
        const bool same = old != links_.end() && old->second.name == link.name &&
                          old->second.operState == link.operState &&
                          old->second.flags == link.flags;
        link.speed = same ? old->second.speed : ReadSpeed(link.name);
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

}  // namespace kv
