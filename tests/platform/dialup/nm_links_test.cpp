// NetworkManager's side of the hang-up against a stand-in (tests/support/nm_standin), only for
// what NetworkManager itself cannot show here: the gsm, cdma, pppoe and bluetooth kinds (no
// modem, PPPoE server or phone), an empty list of active connections (the real one always has
// loopback), a peer that never answers, and refused or failed hang-ups. The VPN kind beside the
// wired connection and loopback, a connection gone before its hang-up and NetworkManager
// stopped mid-run are tested against the real daemon (nm_real_links_test.cpp).

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialup/named_process.h"
#include "platform/dialup/private_bus.h"
#include "platform/linux/dialup_links.h"

namespace kv {
namespace {

using test::NmStandIn;
using test::PrivateBus;
using Link = DialUpLinks::Link;

std::vector<std::string> Names(const std::vector<Link>& links) {
    std::vector<std::string> names;
    for (const Link& link : links) {
        names.push_back(link.name);
    }
    return names;
}

class NmLinks : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!bus_.Started()) {
            GTEST_SKIP() << "dbus-daemon is not available";
        }
    }

    // Starts the stand-in; each "TYPE:ID" becomes one active connection, numbered from 1.
    NmStandIn& StandIn(const QStringList& connections, const QStringList& options = {}) {
        QStringList arguments = options;
        for (const QString& c : connections) {
            arguments << QStringLiteral("--connection") << c;
        }
        standIn_.reset();  // the name must be free for the next one
        standIn_ = std::make_unique<NmStandIn>(bus_, arguments);
        EXPECT_TRUE(standIn_->Ready());
        return *standIn_;
    }

    DialUpLinks Links() { return DialUpLinks(bus_.Connect(), run_.path().toStdString()); }

    PrivateBus bus_;
    std::unique_ptr<NmStandIn> standIn_;
    QTemporaryDir run_;
};

TEST_F(NmLinks, OnlyTheDialUpKindsAreListedInNetworkManagersOrder) {
    StandIn({"gsm:Beeline", "802-11-wireless:Home", "pppoe:Rostelecom", "wireguard:wg0",
             "cdma:Skylink", "bluetooth:Phone", "gsm:"});
    DialUpLinks links = Links();
    std::vector<Link> found;

    ASSERT_EQ(links.List(found), LinkFailure::kNone);

    EXPECT_EQ(Names(found),
              (std::vector<std::string>{"Beeline", "Rostelecom", "Skylink", "Phone", "7"}));
    EXPECT_EQ(found[0].nmActiveConnection, NmStandIn::Path(1).toStdString());
    EXPECT_EQ(found[1].nmActiveConnection, NmStandIn::Path(3).toStdString());
    EXPECT_EQ(found[0].pppdPid, 0);
}

TEST_F(NmLinks, AFailedHangUpGivesItsErrorAndTheNextLinkStillHangsUp) {
    NmStandIn& nm = StandIn({"gsm:Beeline", "pppoe:Rostelecom"}, {"--fail", "1"});
    DialUpLinks links = Links();
    std::vector<Link> found;
    ASSERT_EQ(links.List(found), LinkFailure::kNone);
    ASSERT_EQ(found.size(), 2u);

    EXPECT_EQ(links.HangUp(found[0]), LinkFailure::kFailed);
    EXPECT_EQ(links.HangUp(found[1]), LinkFailure::kNone);
    EXPECT_EQ(nm.Deactivated(), QStringList{NmStandIn::Path(2)});
}

TEST_F(NmLinks, HangUpResultFollowsNetworkManagersAnswer) {
    const struct {
        const char* error;
        LinkFailure expected;
    } cases[] = {
        {"org.freedesktop.NetworkManager.PermissionDenied", LinkFailure::kRefused},
        {"org.freedesktop.DBus.Error.AccessDenied", LinkFailure::kRefused},
        {"org.freedesktop.NetworkManager.Failed", LinkFailure::kFailed},
        {"org.freedesktop.NetworkManager.ConnectionNotActive", LinkFailure::kNone},
        {"org.freedesktop.DBus.Error.ServiceUnknown", LinkFailure::kNoService},
    };
    for (const auto& c : cases) {
        StandIn({"gsm:Beeline"}, {"--fail", QStringLiteral("1:") + QLatin1String(c.error)});
        DialUpLinks links = Links();

        EXPECT_EQ(links.HangUp({"Beeline", NmStandIn::Path(1).toStdString(), 0}), c.expected)
            << c.error;
    }
}

TEST_F(NmLinks, NoActiveConnectionGivesNoLinks) {
    StandIn({});
    DialUpLinks links = Links();
    std::vector<Link> found{{"stale", "/x", 0}};

    EXPECT_EQ(links.List(found), LinkFailure::kNone);
    EXPECT_TRUE(found.empty());
}

TEST_F(NmLinks, NoBusAtAllGivesNoLinksButAHangUpCannotReachNetworkManager) {
    DialUpLinks links(test::NoBus(), run_.path().toStdString());
    std::vector<Link> found{{"stale", "/x", 0}};

    EXPECT_EQ(links.List(found), LinkFailure::kNone);
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(links.HangUp({"Beeline", NmStandIn::Path(1).toStdString(), 0}),
              LinkFailure::kNoService);
}

// Without a limit of its own a call would wait out the bus's 25 seconds, with the window frozen.
TEST_F(NmLinks, ASilentNetworkManagerGivesAnErrorLongBeforeTheBusWouldGiveUp) {
    for (const char* silent : {"list", "details", "hangup"}) {
        StandIn({"gsm:Beeline", "pppoe:Rostelecom"}, {"--silent", QLatin1String(silent)});
        DialUpLinks links = Links();
        std::vector<Link> found;
        const auto start = std::chrono::steady_clock::now();

        const LinkFailure result =
            std::string(silent) == "hangup"
                ? links.HangUp({"Beeline", NmStandIn::Path(1).toStdString(), 0})
                : links.List(found);

        EXPECT_EQ(result, LinkFailure::kNoAnswer) << silent;
        EXPECT_TRUE(found.empty()) << silent;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << silent;
    }
}

TEST_F(NmLinks, NetworkManagerLinksComeBeforePppdLinks) {
    QTemporaryDir programs;
    test::NamedProcess pppd(programs.path().toStdString(), "pppd");
    test::WriteFile(run_.filePath(QStringLiteral("ppp0.pid")).toStdString(),
                    std::to_string(pppd.Pid()) + "\n");
    StandIn({"gsm:Beeline"});
    DialUpLinks links = Links();
    std::vector<Link> found;

    ASSERT_EQ(links.List(found), LinkFailure::kNone);

    EXPECT_EQ(Names(found), (std::vector<std::string>{"Beeline", "ppp0"}));
}

}  // namespace
}  // namespace kv
