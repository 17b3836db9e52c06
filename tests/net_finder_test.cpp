// The slave's search: which datagrams make a row, one row per hosting, rows that go, and the
// whole exchange with a beacon over loopback on ports of the test's own.
#include "net_finder.h"

#include <gtest/gtest.h>

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
        // Address, mask, broadcast, up, loopback, point-to-point, can broadcast.
        return finder.take(b.data(), b.size(), from, port, now,
                           {{0xc0a80101, 0xffffff00, 0, true, false, false, true},
                            {0x0a070001, 0xffff0000, 0, true, false, false, true}});
    }
};

TEST(NetFinderTest, OnlyRepliesWithTheTokenAndAnnouncementsFromNearMastersCount) {
    Fed f;
    uint32_t token = f.finder.searchToken();
    Datagram reply{Datagram::kReply, token, 9, "alice"};
    EXPECT_FALSE(f.take({Datagram::kReply, token + 1, 9, "alice"}, kMasterA));
    EXPECT_FALSE(f.take(reply, kMasterA, 31212));
    EXPECT_FALSE(f.take(reply, 0xc0a80214));  // 192.168.2.20, off the subnets
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

}  // namespace
