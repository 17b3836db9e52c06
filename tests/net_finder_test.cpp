// The slave's search: which datagrams make a row, one row per hosting, rows that go, and the
// whole exchange with a beacon over loopback on ports of the test's own.
#include "net_finder.h"

#include <gtest/gtest.h>

#include "peer_helpers.h"

namespace {

using Net::Datagram;
using Clock = Net::DiscoveryClock;
using Bytes = std::vector<unsigned char>;

constexpr uint32_t kMasterA = 0xc0a80114;  // 192.168.1.20
constexpr uint32_t kMasterB = 0x0a070005;  // 10.7.0.5
constexpr uint32_t kFarAway = 0xc0a80214;  // 192.168.2.20

Platform::Interface card(uint32_t address, uint32_t mask) {
    Platform::Interface i;
    i.address = address;
    i.mask = mask;
    i.up = true;
    i.canBroadcast = true;
    return i;
}

const Net::Interfaces kNear = {card(0xc0a80101, 0xffffff00), card(0x0a070001, 0xffff0000)};

Bytes datagram(Datagram::Kind kind, uint32_t token, uint32_t hosting, const char* nick = "") {
    Datagram d;
    d.kind = kind;
    d.token = token;
    d.hosting = hosting;
    d.nick = nick;
    return Net::build(d);
}

struct Fed {
    Net::GameFinder finder;
    Clock::time_point now = Clock::now();
    bool take(const Bytes& b, uint32_t from, unsigned port = 31211) {
        return finder.take(b.data(), b.size(), from, port, now, kNear);
    }
};

TEST(NetFinderTest, OnlyRepliesWithTheTokenAndAnnouncementsFromNearMastersCount) {
    Fed f;
    uint32_t token = f.finder.searchToken();
    Bytes reply = datagram(Datagram::kReply, token, 9, "alice");
    EXPECT_FALSE(f.take(datagram(Datagram::kReply, token + 1, 9, "alice"), kMasterA));
    EXPECT_FALSE(f.take(reply, kMasterA, 31212));
    EXPECT_FALSE(f.take(reply, kMasterA, 40000));
    EXPECT_FALSE(f.take(reply, kFarAway));
    EXPECT_FALSE(f.take(datagram(Datagram::kQuery, token, 0), kMasterA));
    Bytes cut(reply.begin(), reply.end() - 1);
    EXPECT_FALSE(f.take(cut, kMasterA));
    EXPECT_TRUE(f.finder.games().empty());

    EXPECT_TRUE(f.take(reply, kMasterA));
    EXPECT_TRUE(f.take(datagram(Datagram::kAnnouncement, 0, 10, "bob"), 0x7f000001));
    ASSERT_EQ(f.finder.games().size(), 2u);
    EXPECT_EQ(f.finder.games()[0].nick, "alice");
    EXPECT_EQ(f.finder.games()[0].address, kMasterA);
    EXPECT_EQ(f.finder.games()[1].nick, "bob");
    EXPECT_EQ(f.finder.games()[1].address, 0x7f000001u);
}

TEST(NetFinderTest, AHostingHeardByTwoWaysIsOneRowWithTheFirstAddress) {
    Fed f;
    Bytes reply = datagram(Datagram::kReply, f.finder.searchToken(), 9, "alice");
    EXPECT_TRUE(f.take(reply, kMasterB));
    EXPECT_FALSE(f.take(reply, 0x7f000001));
    EXPECT_FALSE(f.take(datagram(Datagram::kAnnouncement, 0, 9, "alice"), kMasterA));
    ASSERT_EQ(f.finder.games().size(), 1u);
    EXPECT_EQ(f.finder.games()[0].address, kMasterB);
    EXPECT_EQ(f.finder.games()[0].otherAddresses, (std::vector<uint32_t>{0x7f000001, kMasterA}));
}

TEST(NetFinderTest, RowsGoWhenTheirMasterIsGoneOrSilent) {
    Fed f;
    EXPECT_TRUE(f.take(datagram(Datagram::kAnnouncement, 0, 1, "a"), kMasterA));
    EXPECT_TRUE(f.take(datagram(Datagram::kAnnouncement, 0, 2, "b"), kMasterB));
    EXPECT_FALSE(f.take(datagram(Datagram::kGone, 0, 3), kMasterA));
    EXPECT_TRUE(f.take(datagram(Datagram::kGone, 0, 1), kMasterA));
    ASSERT_EQ(f.finder.games().size(), 1u);
    EXPECT_EQ(f.finder.games()[0].hosting, 2u);

    // Heard again 15 s later: it stays 20 s from then.
    Clock::time_point start = f.now;
    f.now = start + std::chrono::seconds(15);
    EXPECT_FALSE(f.take(datagram(Datagram::kAnnouncement, 0, 2, "b"), kMasterB));
    EXPECT_FALSE(f.finder.expire(start + std::chrono::seconds(34)));
    EXPECT_EQ(f.finder.games().size(), 1u);
    EXPECT_TRUE(f.finder.expire(start + std::chrono::seconds(35)));
    EXPECT_TRUE(f.finder.games().empty());
}

std::vector<uint32_t> loopbackOnly() {
    return {Net::kLoopbackAddress};
}

// Polls finder until it lists a game or the deadline passes.
bool listsWithin(Net::GameFinder& finder, Net::Beacon* beacon, std::chrono::milliseconds limit) {
    return Testing::waitUntil(
        [&] {
            if (beacon != nullptr) {
                beacon->answer();
            }
            finder.poll();
            return !finder.games().empty();
        },
        limit);
}

TEST(NetFinderTest, FindsABeaconOverLoopbackAndLosesItWhenItStops) {
    const Net::DiscoveryPorts ports{24511, 24512};
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

    // The announcement lists it; so does the reply to the first query.
    ASSERT_TRUE(listsWithin(finder, &beacon, std::chrono::seconds(5)));
    ASSERT_EQ(finder.games().size(), 1u);
    EXPECT_EQ(finder.games()[0].nick, "alice");
    EXPECT_EQ(finder.games()[0].address, Net::kLoopbackAddress);
    EXPECT_GT(finder.restMs(), 0);
    EXPECT_LE(finder.restMs(), 1000);

    beacon.stop();
    EXPECT_TRUE(Testing::waitUntil(
        [&] {
            finder.poll();
            return finder.games().empty();
        },
        std::chrono::seconds(5)));

    // A new search finds a master that answers queries only.
    Net::Beacon late("carol", ports, loopbackOnly);
    late.start();
    Net::GameFinder again(ports, loopbackOnly);
    ASSERT_TRUE(again.open());
    EXPECT_TRUE(listsWithin(again, &late, std::chrono::seconds(5)));
}

}  // namespace
