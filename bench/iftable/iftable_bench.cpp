// Cost of one interface table refresh against the bare kernel interfaces it could be built on.
// Needs root: each size gets its own namespace holding N veth ends (their peers live in a second
// namespace), made before anything is timed and removed after everything is.

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <libmnl/libmnl.h>
#include <linux/if_link.h>
#include <linux/rtnetlink.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/netlink_if_table.h"
#include "platform/netns.h"

namespace {

using kv::test::Inside;
using kv::test::Namespaces;
using kv::test::RunProgram;

constexpr std::size_t kDumpBuffer = 32 * 1024;

std::map<long, std::string> namespaces;

bool MakeNamespace(long pairs) {
    const std::string ns = Namespaces::Unique(("b" + std::to_string(pairs)).c_str());
    const std::string peer = Namespaces::Unique(("p" + std::to_string(pairs)).c_str());
    if (!Namespaces::Add(ns) || !Namespaces::Add(peer)) {
        return false;
    }
    for (const std::string& name : {ns, peer}) {
        if (!RunProgram({"ip", "netns", "exec", name, "sysctl", "-qw",
                         "net.ipv6.conf.all.disable_ipv6=1",
                         "net.ipv6.conf.default.disable_ipv6=1"})) {
            return false;
        }
    }
    const std::string batch = "/tmp/" + ns + ".batch";
    const std::string peerBatch = "/tmp/" + peer + ".batch";
    FILE* out = std::fopen(batch.c_str(), "w");
    FILE* peerOut = std::fopen(peerBatch.c_str(), "w");
    for (long i = 0; i < pairs; ++i) {
        std::fprintf(out, "link add name v%ld type veth peer name p%ld netns %s\n", i, i,
                     peer.c_str());
        std::fprintf(out, "link set dev v%ld up\n", i);
        std::fprintf(peerOut, "link set dev p%ld up\n", i);
    }
    std::fprintf(out, "link set dev lo up\n");
    std::fclose(out);
    std::fclose(peerOut);
    const bool ok = RunProgram({"ip", "-n", ns, "-batch", batch}) &&
                    RunProgram({"ip", "-n", peer, "-batch", peerBatch});
    std::remove(batch.c_str());
    std::remove(peerBatch.c_str());
    namespaces[pairs] = ns;
    return ok;
}

// A plain libmnl dump: request, then receive and walk every message until the end.
class BareDump {
  public:
    BareDump() : buffer_(kDumpBuffer) {
        nl_ = mnl_socket_open(NETLINK_ROUTE);
        mnl_socket_bind(nl_, 0, MNL_SOCKET_AUTOPID);
        portId_ = mnl_socket_get_portid(nl_);
    }
    ~BareDump() { mnl_socket_close(nl_); }

    // Returns the number of interfaces seen, or -1.
    long Run(std::uint16_t type) {
        char request[64] = {};
        nlmsghdr* nlh = mnl_nlmsg_put_header(request);
        nlh->nlmsg_type = type;
        nlh->nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        nlh->nlmsg_seq = ++seq_;
        if (type == RTM_GETSTATS) {
            auto* ifsm =
                static_cast<if_stats_msg*>(mnl_nlmsg_put_extra_header(nlh, sizeof(if_stats_msg)));
            ifsm->filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
        } else {
            mnl_nlmsg_put_extra_header(nlh, sizeof(ifinfomsg));
        }
        if (mnl_socket_sendto(nl_, nlh, nlh->nlmsg_len) < 0) {
            return -1;
        }
        Seen seen;
        for (;;) {
            const ssize_t n = mnl_socket_recvfrom(nl_, buffer_.data(), buffer_.size());
            if (n <= 0) {
                return -1;
            }
            const int ret = mnl_cb_run(buffer_.data(), n, seq_, portId_, OnMessage, &seen);
            if (ret < 0) {
                return -1;
            }
            if (ret == MNL_CB_STOP) {
                benchmark::DoNotOptimize(seen.sum);
                return seen.count;
            }
        }
    }

  private:
    struct Seen {
        long count = 0;
        std::uint64_t sum = 0;
    };
    static int OnMessage(const nlmsghdr* nlh, void* data) {
        auto* seen = static_cast<Seen*>(data);
        ++seen->count;
        const unsigned offset =
            nlh->nlmsg_type == RTM_NEWSTATS ? sizeof(if_stats_msg) : sizeof(ifinfomsg);
        const auto* attr = static_cast<const nlattr*>(mnl_nlmsg_get_payload_offset(nlh, offset));
        const auto* tail = static_cast<const char*>(mnl_nlmsg_get_payload_tail(nlh));
        for (; mnl_attr_ok(attr, int(tail - reinterpret_cast<const char*>(attr)));
             attr = mnl_attr_next(attr)) {
            if (nlh->nlmsg_type == RTM_NEWSTATS && mnl_attr_get_type(attr) == IFLA_STATS_LINK_64) {
                std::uint64_t rx = 0;
                std::memcpy(&rx,
                            static_cast<const char*>(mnl_attr_get_payload(attr)) +
                                offsetof(rtnl_link_stats64, rx_bytes),
                            sizeof rx);
                seen->sum += rx;
            } else if (mnl_attr_get_type(attr) == IFLA_IFNAME) {
                seen->sum += mnl_attr_get_payload_len(attr);
            }
        }
        return MNL_CB_OK;
    }

    mnl_socket* nl_ = nullptr;
    std::uint32_t portId_ = 0;
    std::uint32_t seq_ = 0;
    std::vector<char> buffer_;
};

#define ENTER_NAMESPACE(state)                                \
    const Inside inside(namespaces[(state).range(0)], false); \
    if (!inside.ok()) {                                       \
        (state).SkipWithError("cannot enter the namespace");  \
        return;                                               \
    }

void TableRefresh(benchmark::State& state) {
    ENTER_NAMESPACE(state);
    kv::NetlinkIfTable table;
    kv::InterfaceTable rows;
    for (auto _ : state) {
        if (table.Read(rows) != kv::TableRead::kRead) {
            state.SkipWithError("the table could not be read");
            return;
        }
    }
    state.counters["interfaces"] = double(rows.rows.size());
}

// Without the storage of an earlier read: every row's description allocated anew.
void TableRefreshFreshRows(benchmark::State& state) {
    ENTER_NAMESPACE(state);
    kv::NetlinkIfTable table;
    for (auto _ : state) {
        kv::InterfaceTable rows;
        if (table.Read(rows) != kv::TableRead::kRead) {
            state.SkipWithError("the table could not be read");
            return;
        }
        benchmark::DoNotOptimize(rows.rows.data());
    }
}

void BareStatsDump(benchmark::State& state) {
    ENTER_NAMESPACE(state);
    BareDump dump;
    long seen = 0;
    for (auto _ : state) {
        seen = dump.Run(RTM_GETSTATS);
    }
    state.counters["interfaces"] = double(seen);
}

void BareLinkDump(benchmark::State& state) {
    ENTER_NAMESPACE(state);
    BareDump dump;
    long seen = 0;
    for (auto _ : state) {
        seen = dump.Run(RTM_GETLINK);
    }
    state.counters["interfaces"] = double(seen);
}

void ProcNetDev(benchmark::State& state) {
    ENTER_NAMESPACE(state);
    std::vector<char> text(1 << 20);
    long seen = 0;
    for (auto _ : state) {
        const int fd = open("/proc/net/dev", O_RDONLY | O_CLOEXEC);
        std::size_t length = 0;
        for (ssize_t n; (n = read(fd, text.data() + length, text.size() - 1 - length)) > 0;) {
            length += std::size_t(n);
        }
        close(fd);
        text[length] = '\0';
        std::uint64_t sum = 0;
        seen = 0;
        char* line = std::strchr(text.data(), '\n');
        line = line ? std::strchr(line + 1, '\n') : nullptr;  // two header lines
        while (line != nullptr && line[1] != '\0') {
            char* colon = std::strchr(line + 1, ':');
            if (colon == nullptr) {
                break;
            }
            char* field = colon + 1;
            std::uint64_t values[16];
            for (std::uint64_t& value : values) {
                value = std::strtoull(field, &field, 10);
            }
            sum += values[0] + values[8];  // rx and tx bytes
            ++seen;
            line = std::strchr(field, '\n');
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["interfaces"] = double(seen);
}

// How per-interface sysfs readers see the table: list the class folder, then open, read and
// close two counter files per interface on every refresh.
void SysfsPerInterface(benchmark::State& state) {
    const Inside inside(namespaces[state.range(0)], true);
    if (!inside.ok()) {
        state.SkipWithError("cannot enter the namespace with its sysfs");
        return;
    }
    long seen = 0;
    char path[320];
    char text[32];
    for (auto _ : state) {
        DIR* dir = opendir("/sys/class/net");
        if (dir == nullptr) {
            state.SkipWithError("no /sys/class/net");
            return;
        }
        std::uint64_t sum = 0;
        seen = 0;
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') {
                continue;
            }
            for (const char* counter : {"rx_bytes", "tx_bytes"}) {
                std::snprintf(path, sizeof path, "/sys/class/net/%s/statistics/%s", entry->d_name,
                              counter);
                const int fd = open(path, O_RDONLY | O_CLOEXEC);
                if (fd < 0) {
                    continue;
                }
                const ssize_t n = read(fd, text, sizeof text - 1);
                close(fd);
                text[n > 0 ? n : 0] = '\0';
                sum += std::strtoull(text, nullptr, 10);
            }
            ++seen;
        }
        closedir(dir);
        benchmark::DoNotOptimize(sum);
    }
    state.counters["interfaces"] = double(seen);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // KV_IFTABLE_SIZES="1 10" picks fewer sizes for a quick look.
    std::vector<long> sizes = {1, 10, 100, 1000, 4000};
    if (const char* picked = std::getenv("KV_IFTABLE_SIZES")) {
        sizes.clear();
        for (char* end = nullptr; *picked != '\0'; picked = end) {
            const long n = std::strtol(picked, &end, 10);
            if (end == picked) {
                break;
            }
            sizes.push_back(n);
        }
    }
    for (const long pairs : sizes) {
        if (!MakeNamespace(pairs)) {
            std::fprintf(stderr, "cannot build a namespace with %ld veth pairs (needs root)\n",
                         pairs);
            Namespaces::RemoveAll();
            return 1;
        }
    }
    for (auto* run :
         {benchmark::RegisterBenchmark("table/refresh", TableRefresh),
          benchmark::RegisterBenchmark("table/refresh_fresh_rows", TableRefreshFreshRows),
          benchmark::RegisterBenchmark("RTM_GETSTATS/dump", BareStatsDump),
          benchmark::RegisterBenchmark("RTM_GETLINK/dump", BareLinkDump),
          benchmark::RegisterBenchmark("proc_net_dev/parse", ProcNetDev),
          benchmark::RegisterBenchmark("sysfs/per_interface", SysfsPerInterface)}) {
        for (const long pairs : sizes) {
            run->Arg(pairs);
        }
        run->Unit(benchmark::kMicrosecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Namespaces::RemoveAll();
    return 0;
}
