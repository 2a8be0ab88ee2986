// The hang-up's D-Bus side against NetworkManager itself: the ctest fixture nm_vpn
// (tests/e2e/nm_vpn.py, shared with the end-to-end suite) runs it in a network namespace on a
// private bus with a wired connection, loopback and two OpenVPN connections of type "vpn".
// What a real NetworkManager cannot show here stays with the stand-in (nm_links_test.cpp).

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/linux/dialup_links.h"

namespace kv {
namespace {

using Link = DialUpLinks::Link;
using Clock = std::chrono::steady_clock;

struct Active {
    std::string name, type, state, path;
};

std::map<std::string, std::vector<std::string>> ReadState() {
    std::map<std::string, std::vector<std::string>> state;
    std::ifstream in(KV_NM_VPN_STATE "/state");
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t space = line.find(' ');
        state[line.substr(0, space)].push_back(space == std::string::npos ? std::string()
                                                                          : line.substr(space + 1));
    }
    return state;
}

// nm_vpn.py with the fixture's state; its output, or the test fails.
std::string Fixture(const QStringList& command) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral("/usr/bin/python3"),
            QStringList{QStringLiteral(KV_NM_VPN_SCRIPT), QStringLiteral("--state"),
                        QStringLiteral(KV_NM_VPN_STATE)} +
                command);
    // Bringing NetworkManager and two tunnels back takes seconds; minutes on a loaded machine.
    const bool finished = p.waitForFinished(240'000);
    EXPECT_TRUE(finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        << "nm_vpn.py " << command.join(QLatin1Char(' ')).toStdString();
    return p.readAllStandardOutput().toStdString();
}

std::vector<Active> ActiveConnections() {
    std::vector<Active> active;
    std::istringstream out(Fixture({QStringLiteral("active")}));
    std::string line;
    while (std::getline(out, line)) {
        Active a;
        std::istringstream fields(line);
        std::getline(fields, a.name, ':');
        std::getline(fields, a.type, ':');
        std::getline(fields, a.state, ':');
        std::getline(fields, a.path);
        active.push_back(a);
    }
    return active;
}

bool HasType(const std::vector<Active>& active, const std::string& type) {
    for (const Active& a : active) {
        if (a.type == type && a.state == "activated") {
            return true;
        }
    }
    return false;
}

std::vector<std::string> Described(const std::vector<Link>& links) {
    std::vector<std::string> out;
    for (const Link& l : links) {
        out.push_back(l.name + " " + l.nmActiveConnection + " " + std::to_string(l.pppdPid));
    }
    return out;
}

class RealNetworkManager : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto state = ReadState();
        if (state.count("skip")) {
            GTEST_SKIP() << "NetworkManager for real: " << state.at("skip").front();
        }
        if (!state.count("bus")) {
            GTEST_SKIP() << "NetworkManager for real runs under the ctest fixture nm_vpn; "
                            "nothing is up in " KV_NM_VPN_STATE;
        }
        for (const std::string& vpn : state.at("vpn")) {
            vpns_.push_back(vpn.substr(0, vpn.find(' ')));
        }
        wired_ = state.at("wired").front();
        setenv("DBUS_SYSTEM_BUS_ADDRESS", state.at("bus").front().c_str(), 1);
        fixtureUp_ = true;
        active_ = ActiveConnections();
        for (const std::string& vpn : vpns_) {
            ASSERT_TRUE(IsActive(vpn)) << vpn << " is not up as the fixture left it";
        }
    }

    void TearDown() override {
        if (fixtureUp_) {
            Fixture({QStringLiteral("restore")});  // for the next test, whatever this one did
        }
    }

    bool IsActive(const std::string& name) const {
        for (const Active& a : active_) {
            if (a.name == name) {
                return a.state == "activated";
            }
        }
        return false;
    }

    // The VPNs as NetworkManager lists them, in its order: what the listing must give.
    std::vector<Link> ExpectedLinks() const {
        std::vector<Link> links;
        for (const Active& a : active_) {
            for (const std::string& vpn : vpns_) {
                if (a.name == vpn) {
                    links.push_back({a.name, a.path, 0});
                }
            }
        }
        return links;
    }

    // The links as listed before the test changes anything.
    std::vector<Link> Listed() {
        std::vector<Link> found;
        EXPECT_EQ(links_.List(found), LinkFailure::kNone);
        return found;
    }

    // Lists until no link is left, for 60 s at most (a loaded machine).
    bool NoLinkLeft() {
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        std::vector<Link> found;
        while (Clock::now() < deadline) {
            EXPECT_EQ(links_.List(found), LinkFailure::kNone);
            if (found.empty()) {
                return true;
            }
            QThread::msleep(100);
        }
        return false;
    }

    // An empty run folder: no pppd link of this machine joins the listing.
    QTemporaryDir run_;
    // The program's own constructor: the system bus, connected on first use (after SetUp).
    DialUpLinks links_{run_.path().toStdString()};
    std::vector<std::string> vpns_;
    std::string wired_;
    std::vector<Active> active_;
    bool fixtureUp_ = false;
};

TEST_F(RealNetworkManager, TheListingIsTheVpnsInNetworkManagersOrderAndNothingElse) {
    // What must be left out is there: the wired connection, loopback, the tunnels' devices.
    ASSERT_TRUE(HasType(active_, "802-3-ethernet"));
    ASSERT_TRUE(HasType(active_, "loopback"));
    ASSERT_TRUE(HasType(active_, "tun"));
    const std::vector<Link> expected = ExpectedLinks();
    ASSERT_EQ(expected.size(), 2u);
    std::vector<Link> found{{"stale", "/x", 1}};

    ASSERT_EQ(links_.List(found), LinkFailure::kNone);

    EXPECT_EQ(Described(found), Described(expected));
}

TEST_F(RealNetworkManager, HangingUpEachListedVpnEndsItAndLeavesTheWiredConnectionUp) {
    const std::vector<Link> listed = Listed();
    ASSERT_EQ(listed.size(), 2u);

    for (const Link& link : listed) {
        EXPECT_EQ(links_.HangUp(link), LinkFailure::kNone) << link.name;
    }

    EXPECT_TRUE(NoLinkLeft());
    active_ = ActiveConnections();
    for (const std::string& vpn : vpns_) {
        EXPECT_FALSE(IsActive(vpn)) << vpn;
    }
    EXPECT_TRUE(IsActive(wired_));
}

TEST_F(RealNetworkManager, AVpnDeactivatedBetweenTheListingAndTheHangUpIsAlreadyDown) {
    const std::vector<Link> listed = Listed();
    ASSERT_EQ(listed.size(), 2u);
    Fixture({QStringLiteral("vpn-down"), QString::fromStdString(listed[0].name)});

    EXPECT_EQ(links_.HangUp(listed[0]), LinkFailure::kNone);
    EXPECT_EQ(links_.HangUp(listed[1]), LinkFailure::kNone);

    EXPECT_TRUE(NoLinkLeft());
    active_ = ActiveConnections();
    EXPECT_TRUE(IsActive(wired_));
}

// Without NetworkManager's name on the bus every call is answered at once by the bus itself.
TEST_F(RealNetworkManager, NetworkManagerStoppedMidRunGivesNoLinksAndAHangUpThatCannotReachIt) {
    const std::vector<Link> listed = Listed();
    ASSERT_EQ(listed.size(), 2u);
    Fixture({QStringLiteral("nm-stop")});
    std::vector<Link> found;
    const auto start = Clock::now();

    EXPECT_EQ(links_.List(found), LinkFailure::kNone);
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(links_.HangUp(listed[0]), LinkFailure::kNoService);
    // Well under the bus's own 25 s, which would freeze the window.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace kv
