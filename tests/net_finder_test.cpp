// The slave's search: which datagrams make a row, one row per hosting, rows that go, the whole
// exchange with a beacon over loopback on ports of the test's own, the ways to a listed game; and
// the list that shows the rows at the address prompt, over a search of the test's own: Up and Down
// and clicks on rows (what it draws is read from the window by the LAN's window tests).
#include <gtest/gtest.h>

#include "game_list.h"
#include "layout.h"
#include "net_beacon.h"
#include "net_finder.h"
#include "net_host.h"
#include "peer_helpers.h"

namespace {

using Net::Datagram;
using Bytes = std::vector<unsigned char>;

constexpr uint32_t kMasterA = 0xc0a80114;  // 192.168.1.20
constexpr uint32_t kMasterB = 0x0a070005;  // 10.7.0.5

struct Fed {
    Net::GameFinder finder;
    Net::DiscoveryClock::time_point now = Net::DiscoveryClock::now();
    bool take(const Datagram& d, uint32_t from, unsigned port = 31211) {
        Bytes b = Net::build(d);
        // Address, mask, broadcast, up, loopback, point-to-point, can broadcast, name, default
        // route.
        return finder.take(b.data(), b.size(), from, port, now,
                           {{0xc0a80101, 0xffffff00, 0, true, false, false, true, "", false},
                            {0x0a070001, 0xffff0000, 0, true, false, false, true, "", false}});
    }
};

TEST(NetFinderTest, OnlyRepliesWithTheTokenAndAnnouncementsFromNearMastersCount) {
    Fed f;
    uint32_t token = f.finder.searchToken();
    Datagram reply{Datagram::kReply, token, 9, "alice"};
    EXPECT_FALSE(f.take({Datagram::kReply, token + 1, 9, "alice"}, kMasterA));
    EXPECT_FALSE(f.take(reply, kMasterA, 31212));
    EXPECT_FALSE(f.take(reply, 0xc0a80214));  // 192.168.2.20, off the subnets
    EXPECT_FALSE(f.take(reply, 0xc0a801ff));  // 192.168.1.255, everyone on one
    EXPECT_FALSE(f.take({Datagram::kQuery, token, 0, ""}, kMasterA));
    Bytes cut = Net::build(reply);
    EXPECT_FALSE(f.finder.take(cut.data(), cut.size() - 1, 0x7f000001, 31211, f.now, {}));
    EXPECT_TRUE(f.finder.games().empty());

    EXPECT_TRUE(f.take(reply, kMasterA));
    EXPECT_TRUE(f.take({Datagram::kAnnouncement, 0, 10, "bob"}, 0x7f000001));
    ASSERT_EQ(f.finder.games().size(), 2u);
    EXPECT_EQ(f.finder.games()[0].nick, "alice");
    EXPECT_EQ(f.finder.games()[0].address, kMasterA);
    EXPECT_EQ(f.finder.games()[1].nick, "bob");
    EXPECT_EQ(f.finder.games()[1].address, 0x7f000001u);
    EXPECT_TRUE(f.take({Datagram::kAnnouncement, 0, 11, "   "}, kMasterB));
    EXPECT_EQ(f.finder.games().back().nick, "Master");
}

TEST(NetFinderTest, AHostingHeardByTwoWaysIsOneRowThatGoesWhenItsMasterIsGoneOrSilent) {
    Fed f;
    EXPECT_TRUE(f.take({Datagram::kReply, f.finder.searchToken(), 9, "alice"}, kMasterB));
    EXPECT_FALSE(f.take({Datagram::kAnnouncement, 0, 9, "alice"}, kMasterA));
    EXPECT_TRUE(f.take({Datagram::kAnnouncement, 0, 2, "b"}, kMasterA));
    ASSERT_EQ(f.finder.games().size(), 2u);
    EXPECT_EQ(f.finder.games()[0].address, kMasterB);
    EXPECT_EQ(f.finder.games()[0].otherAddresses, std::vector<uint32_t>{kMasterA});

    EXPECT_FALSE(f.take({Datagram::kGone, 0, 3, ""}, kMasterA));
    EXPECT_FALSE(f.take({Datagram::kGone, 0, 9, ""}, kMasterA + 1)) << "not where it was heard";
    EXPECT_TRUE(f.take({Datagram::kGone, 0, 9, ""}, kMasterA));
    ASSERT_EQ(f.finder.games().size(), 1u);
    // Heard again 15 s later: it stays 20 s from then.
    auto start = f.now;
    f.now = start + std::chrono::seconds(15);
    EXPECT_FALSE(f.take({Datagram::kAnnouncement, 0, 2, "b"}, kMasterA));
    EXPECT_FALSE(f.finder.expire(start + std::chrono::seconds(34)));
    EXPECT_EQ(f.finder.games().size(), 1u);
    EXPECT_TRUE(f.finder.expire(start + std::chrono::seconds(35)));
    EXPECT_TRUE(f.finder.games().empty());
}

TEST(NetFinderTest, FindsABeaconOverLoopbackThatHoldsItsPortAlone) {
    const Net::DiscoveryPorts ports{24511, 24512};
    auto loopbackOnly = [] { return std::vector<uint32_t>{Net::kLoopbackAddress}; };
    Net::GameFinder finder(ports, loopbackOnly);
    ASSERT_TRUE(finder.open());
    EXPECT_EQ(finder.restMs(), 0);
    Net::Beacon beacon("alice", ports, loopbackOnly);
    beacon.start();
    ASSERT_TRUE(beacon.listed());
    // A second master on this machine does not share the port.
    Net::Beacon second("bob", ports, loopbackOnly);
    second.start();
    EXPECT_FALSE(second.listed());

    ASSERT_TRUE(Testing::waitUntil([&] {
        beacon.answer();
        finder.poll();
        return !finder.games().empty();
    }));
    ASSERT_EQ(finder.games().size(), 1u);
    EXPECT_EQ(finder.games()[0].nick, "alice");
    EXPECT_EQ(finder.games()[0].address, Net::kLoopbackAddress);
    EXPECT_GT(finder.restMs(), 0);
    EXPECT_LE(finder.restMs(), 1000);
}

TEST(NetFinderTest, TheMainThreadsWaitLeavesTheDiscoverySocketNeverBlocking) {
    Net::DatagramSocket socket, sender;
    ASSERT_TRUE(socket.open(0));
    ASSERT_TRUE(sender.open(0));
    Platform::waitForWake(0, socket.watch());
    // A receive that blocks after all is ended by a datagram, late.
    Testing::Later unblock(std::chrono::seconds(2), [&] {
        sender.sendTo(Net::kLoopbackAddress, socket.port(), Bytes(Net::kDatagramSize));
    });
    auto start = std::chrono::steady_clock::now();
    Bytes bytes;
    uint32_t address;
    unsigned port;
    EXPECT_FALSE(socket.receive(bytes, Net::kDatagramSize, address, port));
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000);
}

// An announcement of hosting from address (10.7.0.x or 10.8.0.x), as the search takes it.
void heard(Net::GameFinder& finder, uint32_t hosting, const char* nick, uint32_t address) {
    std::vector<unsigned char> b = Net::build({Datagram::kAnnouncement, 0, hosting, nick});
    finder.take(b.data(), b.size(), address, Net::kDiscoveryMasterPort, Net::DiscoveryClock::now(),
                {{address, 0xffffff00, 0, true, false, false, true, "", false}});
}

TEST(NetFinderTest, AListedGameIsReachedByEveryWayItWasHeardBy) {
    Net::GameFinder finder;
    heard(finder, 1, "alice", 0x0a070001);
    heard(finder, 1, "alice", 0x0a080001);
    std::vector<Net::Host> ways = finder.waysTo("10.7.0.1");
    ASSERT_EQ(ways.size(), 2u);
    EXPECT_EQ(ways[0].address(), "10.7.0.1");
    EXPECT_EQ(ways[1].address(), "10.8.0.1");
    EXPECT_TRUE(finder.waysTo("10.8.0.1").empty()) << "only the address the row shows";
    EXPECT_TRUE(finder.waysTo("alice").empty());
}

class GameListTest : public ::testing::Test {
protected:
    Net::GameFinder finder;
    Games::GameList list{finder};
};

TEST_F(GameListTest, RowsAreChosenByUpDownAndClicks) {
    int row0 = Layout::kListFirstRowY, row1 = row0 + Layout::kListRowHeight;
    std::string text = "typed";
    EXPECT_FALSE(list.step(1, text));
    EXPECT_FALSE(list.click(Layout::kListX + 2, row0 + 2, text));
    EXPECT_EQ(text, "typed") << "nothing is chosen while no game is found";
    heard(finder, 1, "alice", 0x0a070001);
    heard(finder, 2, "bob", 0x0a070002);
    // Down stays on the last row.
    const std::pair<int, const char*> steps[] = {
        {1, "10.7.0.1"}, {1, "10.7.0.2"}, {1, "10.7.0.2"}, {-1, "10.7.0.1"}};
    for (auto [direction, address] : steps) {
        ASSERT_TRUE(list.step(direction, text));
        EXPECT_EQ(text, address);
    }
    EXPECT_TRUE(list.click(Layout::kListAddressX + 5, row1 + 15, text));
    EXPECT_EQ(text, "10.7.0.2");
    EXPECT_FALSE(list.click(Layout::kListX - 1, row1 + 2, text));
    EXPECT_FALSE(list.click(Layout::kListRight, row1 + 2, text));
    EXPECT_FALSE(list.click(Layout::kListX + 2, row1 + Layout::kListRowHeight, text));
    EXPECT_FALSE(list.click(Layout::kListX + 2, row0 - 1, text));
    EXPECT_EQ(text, "10.7.0.2");
}

TEST_F(GameListTest, TwelveGamesScrollSoThatEachIsChosenByKeysAndClicksFollow) {
    for (uint32_t i = 1; i <= 12; i++) {
        heard(finder, i, "m", 0x0a070000 + i);
    }
    std::string text;
    for (int i = 1; i <= 12; i++) {
        ASSERT_TRUE(list.step(1, text));
        EXPECT_EQ(text, "10.7.0." + std::to_string(i));
    }
    // Rows show games 5 to 12 now: the first row is game 5, and Up from there scrolls back.
    EXPECT_TRUE(list.click(Layout::kListX + 2, Layout::kListFirstRowY + 2, text));
    EXPECT_EQ(text, "10.7.0.5");
    ASSERT_TRUE(list.step(-1, text));
    EXPECT_EQ(text, "10.7.0.4");
    EXPECT_TRUE(list.click(Layout::kListX + 2, Layout::kListFirstRowY + 2, text));
    EXPECT_EQ(text, "10.7.0.4");
}

}  // namespace
