#include "platform/linux/netlink_if_table.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/rtnetlink.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/netns.h"
#include "platform/utf8_prefix.h"

namespace kv {
namespace {

using test::RunProgram;

enum class Fault {
    kNone,
    kShort,
    kOverlong,
    kShortStats,
    kOtherSeq,
    kEperm,
    kUnknownRequest,
    kDoneError,
    kInterrupted,
    kReceiveError
};

// Counts the dumps asked for and damages the counter dump replies on request.
class ProbedTable : public NetlinkIfTable {
  public:
    int statsDumps = 0, linkDumps = 0;
    Fault fault = Fault::kNone;
    int faultyDumps = 1000;  // how many counter dumps the fault hits
    int eventsError = 0;     // reported once by the next read of the announcements

  protected:
    ssize_t Send(const nlmsghdr* request) override {
        inStats_ = request->nlmsg_type == RTM_GETSTATS;
        (inStats_ ? statsDumps : linkDumps)++;
        return NetlinkIfTable::Send(request);
    }
    ssize_t Receive(Channel channel, void* buffer, std::size_t size) override {
        if (channel == Channel::kEvents && eventsError != 0) {
            return errno = std::exchange(eventsError, 0), -1;
        }
        const ssize_t n = NetlinkIfTable::Receive(channel, buffer, size);
        const bool hit = channel == Channel::kDump && inStats_ && statsDumps <= faultyDumps;
        return hit && n > 0 ? Damage(static_cast<nlmsghdr*>(buffer), n) : n;
    }

  private:
    ssize_t Damage(nlmsghdr* first, ssize_t n) {
        auto error = [&](int code) {
            first->nlmsg_type = NLMSG_ERROR;
            first->nlmsg_len = NLMSG_LENGTH(sizeof(nlmsgerr));
            static_cast<nlmsgerr*>(NLMSG_DATA(first))->error = -code;
            return ssize_t(first->nlmsg_len);
        };
        int left = int(n);
        for (nlmsghdr* m = first; NLMSG_OK(m, left); m = NLMSG_NEXT(m, left)) {
            if (fault == Fault::kInterrupted) {
                m->nlmsg_flags |= NLM_F_DUMP_INTR;
            } else if (fault == Fault::kDoneError && m->nlmsg_type == NLMSG_DONE) {
                *static_cast<int*>(NLMSG_DATA(m)) = -EIO;
            }
        }
        auto* stats = reinterpret_cast<nlattr*>(static_cast<char*>(NLMSG_DATA(first)) +
                                                NLMSG_ALIGN(sizeof(if_stats_msg)));
        switch (fault) {
            case Fault::kShort:
                return 7;
            case Fault::kOverlong:
                return first->nlmsg_len = std::uint32_t(n + 64), n;
            case Fault::kShortStats:
                return stats->nla_len = NLA_HDRLEN + 8, n;
            case Fault::kOtherSeq:
                return ++first->nlmsg_seq, n;
            case Fault::kEperm:
                return error(EPERM);
            case Fault::kUnknownRequest:
                return error(EOPNOTSUPP);
            case Fault::kReceiveError:
                return errno = EIO, -1;
            default:
                return n;
        }
    }
    bool inStats_ = false;
};

InterfaceTable ReadTable(NetlinkIfTable& table, TableRead* result) {
    InterfaceTable read;
    *result = table.Read(read);
    return read;
}

const InterfaceRow* FindRow(const InterfaceTable& table, const std::string& name) {
    for (const InterfaceRow& row : table.rows) {
        if (row.description == name || row.description.rfind(name + " (", 0) == 0) {
            return &row;
        }
    }
    return nullptr;
}

std::string Sysfs(const std::string& device, const std::string& file) {
    std::string text;
    std::getline(std::ifstream("/sys/class/net/" + device + "/" + file), text);
    return text;
}

std::string Mac(const InterfaceRow& row) {
    std::string text;
    for (std::size_t i = 0; i < row.addressLength; ++i) {
        char part[4];
        std::snprintf(part, sizeof part, i ? ":%02x" : "%02x", row.address[i]);
        text += part;
    }
    return text;
}

// Sends datagrams to `to` from a socket made inside namespace `from`.
void SendUdp(const std::string& from, const char* to, int count, std::size_t bytes) {
    int sock = -1;
    {
        const test::Inside inside(from, false);
        sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    }
    sockaddr_in address{AF_INET, htons(9), {}, {}};
    inet_pton(AF_INET, to, &address.sin_addr);
    const std::vector<char> payload(bytes, 'k');
    for (int i = 0; i < count; ++i) {
        sendto(sock, payload.data(), bytes, 0, reinterpret_cast<sockaddr*>(&address),
               sizeof address);
    }
    close(sock);
}

// "near" holds lo, a veth "kvnear" with an alias and a tun; the veth's peer is in "far".
class IfTableInNamespace : public ::testing::Test {
  protected:
    static bool Ip(const std::string& ns, std::vector<std::string> args) {
        args.insert(args.begin(), {"ip", "-n", ns});
        return RunProgram(args);
    }
    static bool NoIpv6(const std::string& ns, const std::string& scope) {
        return RunProgram({"ip", "netns", "exec", ns, "sysctl", "-qw",
                           "net.ipv6.conf." + scope + ".disable_ipv6=1"});
    }

    static void SetUpTestSuite() {
        near_ = test::Namespaces::Unique("n");
        far_ = test::Namespaces::Unique("f");
        if (!test::Namespaces::Add(near_) || !test::Namespaces::Add(far_)) {
            skip_ = "cannot create network namespaces (needs root and `ip netns add`)";
            return;
        }
        const bool ok = NoIpv6(near_, "all") && NoIpv6(near_, "default") && NoIpv6(far_, "all") &&
                        NoIpv6(far_, "default") &&
                        Ip(near_, {"link", "add", "name", "kvnear", "type", "veth", "peer", "name",
                                   "kvfar", "netns", far_}) &&
                        NoIpv6(near_, "kvnear") && NoIpv6(far_, "kvfar") &&
                        Ip(near_, {"link", "set", "kvnear", "alias", "uplink ж"}) &&
                        Ip(near_, {"addr", "add", "10.77.0.1/24", "dev", "kvnear"}) &&
                        Ip(far_, {"addr", "add", "10.77.0.2/24", "dev", "kvfar"}) &&
                        Ip(near_, {"link", "set", "kvnear", "up"}) &&
                        Ip(far_, {"link", "set", "kvfar", "up"}) &&
                        Ip(near_, {"link", "set", "lo", "up"}) &&
                        Ip(near_, {"tuntap", "add", "name", "kvtun", "mode", "tun"}) &&
                        Ip(near_, {"link", "set", "kvtun", "up"});
        if (!ok) {
            skip_ = "cannot set up veth and tun devices in the test namespaces";
        }
    }
    static void TearDownTestSuite() { test::Namespaces::RemoveAll(); }

    void SetUp() override {
        if (!skip_.empty()) {
            GTEST_SKIP() << skip_;
        }
        inside_ = std::make_unique<test::Inside>(near_);
        ASSERT_TRUE(inside_->ok()) << "cannot enter namespace " << near_;
        // Carrier changes are announced up to a second late; counting dumps needs quiet.
        ProbedTable probe;
        TableRead result{};
        for (int i = 0; i < 500; ++i, usleep(20'000)) {
            probe.linkDumps = 0;
            ReadTable(probe, &result);
            if (i > 0 && probe.linkDumps == 0 && Sysfs("kvnear", "operstate") == "up") {
                return;
            }
        }
        FAIL() << "the namespace never settled";
    }

    static inline std::string near_, far_, skip_;
    std::unique_ptr<test::Inside> inside_;
};

TEST_F(IfTableInNamespace, EachInterfaceHasOneRowWithItsNameAliasAddressAndSpeed) {
    struct Case {
        const char* device;
        const char* descr;
        std::uint32_t speed;
        bool hasAddress;
    };
    const Case cases[] = {
        {"lo", "lo", 0, false},
        {"kvnear", "kvnear (uplink ж)", 4294967295u, true},
        {"kvtun", "kvtun", 4294967295u, false},
    };
    NetlinkIfTable table;
    TableRead result{};
    const InterfaceTable read = ReadTable(table, &result);
    ASSERT_EQ(result, TableRead::kRead);
    EXPECT_EQ(read.counterBits, 64);
    EXPECT_EQ(read.rows.size(),
              std::distance(std::filesystem::directory_iterator("/sys/class/net"), {}));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        const InterfaceRow* row = FindRow(read, c.device);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->description, c.descr);
        EXPECT_EQ(row->index, std::stoul(Sysfs(c.device, "ifindex")));
        EXPECT_EQ(Mac(*row), c.hasAddress ? Sysfs(c.device, "address") : "");
        EXPECT_EQ(row->speed, c.speed);
    }
}

TEST_F(IfTableInNamespace, CountersAfterTrafficAreWhatTheKernelReports) {
    NetlinkIfTable table;
    TableRead result{};
    const InterfaceTable before = ReadTable(table, &result);
    SendUdp(far_, "10.77.0.1", 40, 1200);
    SendUdp(near_, "10.77.0.2", 25, 700);
    usleep(50'000);
    // An ARP refresh may slip in between; take a reading that sysfs agrees held still.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::string rx = Sysfs("kvnear", "statistics/rx_bytes");
        const std::string tx = Sysfs("kvnear", "statistics/tx_bytes");
        const InterfaceTable after = ReadTable(table, &result);
        ASSERT_EQ(result, TableRead::kRead);
        if (rx != Sysfs("kvnear", "statistics/rx_bytes") ||
            tx != Sysfs("kvnear", "statistics/tx_bytes")) {
            continue;
        }
        const InterfaceRow* row = FindRow(after, "kvnear");
        EXPECT_EQ(row->received, std::stoull(rx));
        EXPECT_EQ(row->sent, std::stoull(tx));
        const InterfaceRow* old = FindRow(before, "kvnear");
        EXPECT_GE(row->received - old->received, 40u * 1200);
        EXPECT_GE(row->sent - old->sent, 25u * 700);
        return;
    }
    FAIL() << "the counters never held still";
}

TEST_F(IfTableInNamespace, RefreshesReadTheKernelOnlyAsMuchAsNeeded) {
    struct Case {
        const char* name;
        std::function<void(ProbedTable&)> before;
        int statsDumps, linkDumps;
        const char* tun;
    };
    const Case cases[] = {
        {"a refresh reads the counters once and nothing else", {}, 1, 0, "kvtun"},
        {"a lost link announcement makes the details be read again",
         [](ProbedTable& t) { t.eventsError = ENOBUFS; }, 1, 1, "kvtun"},
        {"an alias change is announced and picked up",
         [](ProbedTable&) {
             RunProgram({"ip", "link", "set", "kvtun", "alias", "renamed"});
         },
         1, 1, "kvtun (renamed)"},
        {"an interface added since is picked up",
         [](ProbedTable&) {
             RunProgram({"ip", "link", "add", "name", "kvlate", "type", "veth", "peer", "name",
                         "kvlatepeer", "netns", far_});
         },
         1, 1, "kvtun (renamed)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProbedTable table;
        TableRead result{};
        ReadTable(table, &result);
        table.statsDumps = table.linkDumps = 0;
        if (c.before) {
            c.before(table);
        }
        const InterfaceTable read = ReadTable(table, &result);
        ASSERT_EQ(result, TableRead::kRead);
        EXPECT_EQ(table.statsDumps, c.statsDumps);
        EXPECT_EQ(table.linkDumps, c.linkDumps);
        EXPECT_EQ(FindRow(read, "kvtun")->description, c.tun);
    }
    TableRead result{};
    NetlinkIfTable table;
    EXPECT_NE(FindRow(ReadTable(table, &result), "kvlate"), nullptr);
    RunProgram({"ip", "link", "del", "kvlate"});
    RunProgram({"ip", "link", "set", "kvtun", "alias", ""});
}

std::string Repeat(const std::string& text, int times) {
    std::string out;
    while (times-- > 0) {
        out += text;
    }
    return out;
}

TEST_F(IfTableInNamespace, ALongAliasIsCutOnACharacterBoundary) {
    // The kernel keeps at most 255 alias bytes (300 are refused), so the 256-byte description
    // limit is crossed with the help of the name and the parentheses.
    const struct {
        const char* name;
        std::string alias;
        std::size_t length;
    } cases[] = {
        {"two-byte letters cut in the middle of one", "x" + Repeat("ж", 126), 255},
        {"three-byte signs cut after the first byte", Repeat("€", 85), 254},
        {"four-byte emoji cut after two bytes", "xy" + Repeat("😀", 63), 254},
        {"an invalid byte is copied and the partial sign still dropped", "\xff" + Repeat("€", 84),
         255},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(RunProgram({"ip", "link", "set", "kvnear", "alias", c.alias}));
        NetlinkIfTable table;
        TableRead result{};
        const std::string descr = FindRow(ReadTable(table, &result), "kvnear")->description;
        const std::string full = "kvnear (" + c.alias + ")";
        EXPECT_EQ(descr.size(), c.length);
        EXPECT_EQ(full.substr(0, descr.size()), descr);
    }
    RunProgram({"ip", "link", "set", "kvnear", "alias", "uplink ж"});
}

// Runs in the namespace the test starts in; needs no root.
TEST(NetlinkIfTableFaults, DamagedRepliesFailTheRefreshAndTheNextOneRecovers) {
    const struct {
        const char* name;
        Fault fault;
        int faultyDumps;
        TableRead expected;
        int statsDumps;
    } cases[] = {
        {"a reply shorter than a message header", Fault::kShort, 1, TableRead::kFailed, 1},
        {"a message claiming more bytes than arrived", Fault::kOverlong, 1, TableRead::kFailed, 1},
        {"a counters attribute cut short", Fault::kShortStats, 1, TableRead::kFailed, 1},
        {"a reply to another request", Fault::kOtherSeq, 1, TableRead::kFailed, 1},
        {"an error reply", Fault::kEperm, 1, TableRead::kFailed, 1},
        {"an error reply for an unknown request", Fault::kUnknownRequest, 1,
         TableRead::kNotSupported, 1},
        {"an end of dump carrying an error", Fault::kDoneError, 1, TableRead::kFailed, 1},
        {"a failing receive", Fault::kReceiveError, 1, TableRead::kFailed, 1},
        {"a dump interrupted every time is given up", Fault::kInterrupted, 1000, TableRead::kFailed,
         4},
        {"a dump interrupted once is taken again", Fault::kInterrupted, 1, TableRead::kRead, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProbedTable table;
        TableRead result{};
        ReadTable(table, &result);
        ASSERT_EQ(result, TableRead::kRead) << "the undamaged table must read";
        table.statsDumps = 0;
        table.fault = c.fault;
        table.faultyDumps = c.faultyDumps;
        ReadTable(table, &result);
        EXPECT_EQ(result, c.expected);
        EXPECT_EQ(table.statsDumps, c.statsDumps);
        table.fault = Fault::kNone;
        ReadTable(table, &result);
        EXPECT_EQ(result, TableRead::kRead) << "no recovery";
    }
}

TEST(Utf8PrefixLength, NeverEndsInsideACharacter) {
    const struct {
        const char* text;
        std::size_t limit, expected;
    } cases[] = {
        {"a\xd0\xb6z", 3, 3},             // a cut after a whole character keeps it
        {"a\xf0\x9f\x98\x80", 3, 1},      // two bytes of a four-byte character are dropped
        {"ab\xe2z", 3, 2},                // a lead byte without continuation is not left last
        {"\x80\x80\x80\x80\x80z", 5, 5},  // stray continuation bytes are copied
        {"a\xff\xfez", 3, 3},             // invalid bytes are copied
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8PrefixLength(c.text, c.limit), c.expected) << c.text;
    }
}

}  // namespace
}  // namespace kv
