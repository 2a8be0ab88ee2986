#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <csignal>
#include <string>
#include <vector>

#include "platform/dialup/named_process.h"
#include "platform/dialup/private_bus.h"
#include "platform/linux/dialup_links.h"

namespace kv {
namespace {

using test::NamedProcess;
using test::WriteFile;

// pppd links alone: the bus is one nothing listens on.
class PppdLinks : public ::testing::Test {
  protected:
    std::string Run() const { return run_.path().toStdString(); }
    std::string Programs() const { return programs_.path().toStdString(); }
    void PidFile(const std::string& name, const std::string& text) const {
        WriteFile(Run() + "/" + name, text);
    }
    std::vector<DialUpLinks::Link> List(LinkFailure expected = LinkFailure::kNone) {
        std::vector<DialUpLinks::Link> links{{"stale", "", 1}};
        EXPECT_EQ(links_.List(links), expected);
        return links;
    }

    QTemporaryDir run_;
    QTemporaryDir programs_;
    DialUpLinks links_{test::NoBus(), Run()};
};

TEST_F(PppdLinks, ARunningPppdIsListedAndHangUpSendsItSigterm) {
    NamedProcess pppd(Programs(), "pppd");
    PidFile("ppp0.pid", std::to_string(pppd.Pid()) + "\n");

    const auto links = List();

    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].name, "ppp0");
    EXPECT_EQ(links[0].pppdPid, pppd.Pid());
    EXPECT_TRUE(links[0].nmActiveConnection.empty());
    EXPECT_EQ(links_.HangUp(links[0]), LinkFailure::kNone);
    EXPECT_EQ(pppd.WaitForEnd(), SIGTERM);
}

TEST_F(PppdLinks, APidFileNamingAnotherProgramIsNeitherListedNorSignalled) {
    NamedProcess sleeper(Programs(), "sleep");
    PidFile("ppp0.pid", std::to_string(sleeper.Pid()) + "\n");

    EXPECT_TRUE(List().empty());
    // A link listed while it was pppd, whose pid now belongs to another program.
    EXPECT_EQ(links_.HangUp({"ppp0", "", sleeper.Pid()}), LinkFailure::kNone);
    // A signal sent by the hang-up is pending before the sleeper reads its end of input.
    sleeper.Stop();
    EXPECT_EQ(sleeper.WaitForEnd(), 0);
}

TEST_F(PppdLinks, PidFilesThatNameNoLivePppdAreIgnored) {
    NamedProcess ended(Programs(), "pppd");
    const int deadPid = ended.Pid();
    ended.Stop();
    const std::vector<std::string> contents = {
        "",    "garbage\n",     "12abc\n", "-5\n",
        "0\n", "99999999999\n", " \n",     std::to_string(deadPid) + "\n",
    };
    for (std::size_t i = 0; i < contents.size(); ++i) {
        PidFile("ppp" + std::to_string(i) + ".pid", contents[i]);
    }

    EXPECT_TRUE(List().empty());
}

TEST_F(PppdLinks, EachPppdIsListedOnceInFileNameOrderUnderItsLinkName) {
    NamedProcess named(Programs(), "pppd");
    NamedProcess plain(Programs(), "pppd");
    // pppd writes both files for a link started with "linkname provider".
    PidFile("ppp1.pid", std::to_string(named.Pid()) + "\n");
    PidFile("ppp-provider.pid", std::to_string(named.Pid()) + "\nppp1\n");
    PidFile("ppp0.pid", std::to_string(plain.Pid()) + "\n");
    PidFile("pppoe.conf", std::to_string(plain.Pid()) + "\n");
    PidFile("other.pid", std::to_string(plain.Pid()) + "\n");

    const auto links = List();

    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0].name, "provider");
    EXPECT_EQ(links[0].pppdPid, named.Pid());
    EXPECT_EQ(links[1].name, "ppp0");
    EXPECT_EQ(links[1].pppdPid, plain.Pid());
}

TEST_F(PppdLinks, APppdRunByNetworkManagerIsLeftToTheBusListing) {
    NamedProcess managed(Programs(), "pppd",
                         {"nodetach", "plugin", "/usr/lib/pppd/2.4.9/nm-pppd-plugin.so"});
    PidFile("ppp0.pid", std::to_string(managed.Pid()) + "\n");

    EXPECT_TRUE(List().empty());
}

TEST_F(PppdLinks, HangingUpAPppdThatHasAlreadyExitedSucceeds) {
    NamedProcess pppd(Programs(), "pppd");
    PidFile("ppp0.pid", std::to_string(pppd.Pid()) + "\n");
    const auto links = List();
    ASSERT_EQ(links.size(), 1u);
    pppd.Stop();

    EXPECT_EQ(links_.HangUp(links[0]), LinkFailure::kNone);
}

// Pid 0 would be kill()'s whole process group, this test's own.
TEST_F(PppdLinks, ALinkWithoutAPidSignalsNoOne) {
    EXPECT_EQ(links_.HangUp({"ppp0", "", 0}), LinkFailure::kFailed);
}

TEST_F(PppdLinks, AMissingRunDirectoryGivesNoLinks) {
    DialUpLinks links(test::NoBus(), Run() + "/missing");
    std::vector<DialUpLinks::Link> found;

    EXPECT_EQ(links.List(found), LinkFailure::kNone);
    EXPECT_TRUE(found.empty());
}

}  // namespace
}  // namespace kv
