// The discovery's datagrams (what build() makes, parse() reads back and refuses), the master's
// answers (only to valid queries from unprivileged ports, never longer than the query, within the
// limits per sender and in all) and what it reads from a list of interfaces.
#include <gtest/gtest.h>

#include "net_beacon.h"
#include "net_discovery_datagram.h"
#include "net_interfaces.h"

namespace {

using Net::Datagram;
using Bytes = std::vector<unsigned char>;

bool parses(const Bytes& bytes) {
    Datagram d;
    return Net::parse(bytes.data(), bytes.size(), d);
}

TEST(NetDiscoveryTest, EveryKindRoundTripsWithItsNickCutToPrintableAscii) {
    for (const Datagram& d : {Datagram{Datagram::kQuery, 0xdeadbeef, 0, ""},
                              Datagram{Datagram::kReply, 0x01020304, 0xfffffffe, "alice"},
                              Datagram{Datagram::kAnnouncement, 0, 7, "bob the builder"},
                              Datagram{Datagram::kGone, 0, 7, ""}}) {
        Bytes bytes = Net::build(d);
        ASSERT_EQ(bytes.size(), Net::kDatagramSize);
        Datagram back;
        ASSERT_TRUE(Net::parse(bytes.data(), bytes.size(), back)) << int(d.kind);
        EXPECT_EQ(back.kind, d.kind);
        EXPECT_EQ(back.token, d.token);
        EXPECT_EQ(back.hosting, d.hosting);
        EXPECT_EQ(back.nick, d.nick);
    }
    EXPECT_EQ(Net::listedNick("\x01\xff\n"), "Master");
    EXPECT_EQ(Net::listedNick(std::string(16, ' ')), "Master");
    EXPECT_EQ(Net::listedNick("a\tb\xc3\xa9_abcdefghijklmnopqrstuvwxyz"), "ab_abcdefghijklm");
    Bytes unnamed = Net::build({Datagram::kReply, 1, 2, ""});
    Datagram back;
    ASSERT_TRUE(Net::parse(unnamed.data(), unnamed.size(), back));
    EXPECT_EQ(back.nick, "Master");
}

TEST(NetDiscoveryTest, MalformedDatagramsAreRefused) {
    const Bytes reply = Net::build({Datagram::kReply, 1, 2, "alice"});
    ASSERT_TRUE(parses(reply));
    EXPECT_FALSE(parses({}));
    EXPECT_FALSE(parses(Bytes(reply.begin(), reply.end() - 1)));
    Bytes longer = reply;
    longer.push_back(0);
    EXPECT_FALSE(parses(longer));
    // One byte changed at a time: magic, version, kind, nick length, nick, padding.
    const std::pair<int, int> changes[] = {{0, 'x'},   {3, 0},    {4, 2},   {4, 0},  {5, 0},
                                           {5, 5},     {14, 0},   {14, 17}, {14, 6}, {15, 0x7f},
                                           {16, '\n'}, {20, 'x'}, {31, 1}};
    for (auto c : changes) {
        Bytes changed = reply;
        changed[c.first] = c.second;
        EXPECT_FALSE(parses(changed)) << "byte " << c.first << " = " << int(c.second);
    }
    // A query carries a token and nothing of a master's; a reply names its hosting.
    EXPECT_FALSE(parses(Net::build({Datagram::kQuery, 0, 0, ""})));
    EXPECT_FALSE(parses(Net::build({Datagram::kQuery, 1, 5, ""})));
    Bytes namedQuery = Net::build({Datagram::kQuery, 1, 0, ""});
    namedQuery[14] = 1;
    namedQuery[15] = 'a';
    EXPECT_FALSE(parses(namedQuery));
    EXPECT_FALSE(parses(Net::build({Datagram::kReply, 1, 0, "alice"})));
    EXPECT_FALSE(parses(Net::build({Datagram::kAnnouncement, 1, 2, "alice"})));
    EXPECT_FALSE(parses(Net::build({Datagram::kGone, 1, 2, ""})));
}

using Clock = Net::DiscoveryClock;
constexpr uint32_t kSender = 0x0a070002;
// The master's own network: 10.0.0.0/8.
const Net::Interfaces kNetwork = {{0x0a000001, 0xff000000, 0, true, false, false, true, "", false}};

TEST(NetBeaconTest, OnlyAValidQueryFromAnUnprivilegedPortIsAnsweredWithTheNickAndHosting) {
    Net::Beacon beacon("alice in wonderland, long");
    Clock::time_point now = Clock::now();
    Bytes q = Net::build({Datagram::kQuery, 0x12345678, 0, ""});
    Bytes longer = q;
    longer.push_back(0);
    Bytes wrong = q;
    wrong[4] = 9;
    for (const Bytes& b : {Bytes(q.begin(), q.end() - 1), longer, wrong,
                           Net::build({Datagram::kAnnouncement, 0, 3, "other"})}) {
        EXPECT_TRUE(beacon.replyTo(b.data(), b.size(), kSender, 40000, now, kNetwork).empty());
    }
    EXPECT_TRUE(beacon.replyTo(q.data(), q.size(), kSender, 1023, now, kNetwork).empty());
    // Routed from afar, or naming everyone on the network: no neighbour asks from there.
    for (uint32_t far : {0x08080808u, 0x0affffffu, 0x0a000000u}) {
        EXPECT_TRUE(beacon.replyTo(q.data(), q.size(), far, 40000, now, kNetwork).empty()) << far;
    }

    Bytes reply = beacon.replyTo(q.data(), q.size(), kSender, 1024, now, kNetwork);
    EXPECT_LE(reply.size(), q.size());
    Datagram d;
    ASSERT_TRUE(Net::parse(reply.data(), reply.size(), d));
    EXPECT_EQ(d.kind, Datagram::kReply);
    EXPECT_EQ(d.token, 0x12345678u);
    EXPECT_EQ(d.hosting, beacon.hosting());
    EXPECT_EQ(d.nick, "alice in wonderl");
    EXPECT_NE(Net::Beacon("x").hosting(), beacon.hosting());
}

// Replies to 1,000 queries a second for 4 s from sender(i): a full bucket, then the rate.
template <typename Sender>
int answered(Sender sender) {
    Net::Beacon beacon("m");
    Bytes q = Net::build({Datagram::kQuery, 1, 0, ""});
    Clock::time_point start = Clock::now();
    int replies = 0;
    for (int i = 0; i < 4000; i++) {
        replies += !beacon
                        .replyTo(q.data(), q.size(), sender(i), 40000,
                                 start + std::chrono::milliseconds(i), kNetwork)
                        .empty();
    }
    return replies;
}

TEST(NetBeaconTest, OneSenderGetsAboutFiveRepliesASecondAndAllTogetherAboutFifty) {
    int one = answered([](int) { return kSender; });
    EXPECT_GE(one, 20);
    EXPECT_LE(one, 5 + 5 * 4);
    // Spoofed senders, each new: only the limit in all holds them.
    int all = answered([](int i) { return 0x0a000000u + i; });
    EXPECT_GE(all, 200);
    EXPECT_LE(all, 50 + 50 * 4);
}

constexpr uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return a << 24 | b << 16 | c << 8 | d;
}

TEST(NetInterfacesTest, TargetsOwnAddressesAndNearSendersComeFromTheInterfacesThatAreUp) {
    // Address, mask, broadcast, up, loopback, point-to-point, can broadcast, name, default route.
    auto card = [](uint32_t address, uint32_t mask, uint32_t broadcast) {
        return Platform::Interface{address, mask, broadcast, true, false, false, true, "", false};
    };
    Platform::Interface loopback{
        ip(127, 0, 0, 1), ip(255, 0, 0, 0), 0, true, true, false, false, "lo", false};
    Net::Interfaces list = {
        loopback,
        card(ip(192, 168, 1, 20), ip(255, 255, 255, 0), ip(192, 168, 1, 255)),
        // Windows names the all-ones address for every interface.
        card(ip(10, 7, 3, 4), ip(255, 255, 0, 0), ip(255, 255, 255, 255)),
        card(ip(172, 16, 5, 6), ip(255, 240, 0, 0), 0),
        {ip(10, 8, 0, 2), ip(255, 255, 255, 255), ip(10, 8, 0, 1), true, false, true, false, "tun0",
         false},
        {ip(10, 9, 0, 2), ip(255, 255, 0, 0), ip(10, 9, 255, 255), false, false, false, true, "",
         false},
        card(ip(192, 168, 1, 21), ip(255, 255, 255, 0), ip(192, 168, 1, 255)),
        // Linux names the interface's own address where none was set.
        card(ip(10, 20, 0, 5), ip(255, 255, 255, 0), ip(10, 20, 0, 5)),
    };
    std::vector<uint32_t> expected = {ip(192, 168, 1, 255),   ip(10, 7, 255, 255),
                                      ip(172, 31, 255, 255),  ip(10, 20, 0, 255),
                                      ip(255, 255, 255, 255), ip(127, 0, 0, 1)};
    EXPECT_EQ(Net::broadcastTargets(list), expected);
    EXPECT_EQ(Net::broadcastTargets({}),
              (std::vector<uint32_t>{ip(255, 255, 255, 255), ip(127, 0, 0, 1)}));

    std::vector<uint32_t> own = {ip(192, 168, 1, 20), ip(10, 7, 3, 4), ip(172, 16, 5, 6)};
    EXPECT_EQ(Net::ownAddresses(list, 3), own);
    EXPECT_EQ(Net::ownAddresses({loopback}, 3), std::vector<uint32_t>());
    EXPECT_EQ(Net::dotted(ip(192, 168, 1, 20)), "192.168.1.20");
    // The default route's link first, then links with neighbours, then bridges to containers.
    auto named = [&](const char* name, uint32_t address, bool routed) {
        Platform::Interface i = card(address, ip(255, 255, 255, 0), 0);
        i.name = name;
        i.defaultRoute = routed;
        return i;
    };
    Net::Interfaces machine = {named("docker0", ip(172, 17, 0, 1), false), list[4],
                               named("eth1", ip(10, 1, 0, 2), false),
                               named("wlan0", ip(192, 168, 1, 9), true)};
    EXPECT_EQ(Net::ownAddresses(machine, 3),
              (std::vector<uint32_t>{ip(192, 168, 1, 9), ip(10, 1, 0, 2), ip(10, 8, 0, 2)}));

    EXPECT_TRUE(Net::nearby(ip(127, 3, 0, 1), {}));
    EXPECT_TRUE(Net::nearby(ip(192, 168, 1, 77), list));
    EXPECT_FALSE(Net::nearby(ip(192, 168, 2, 77), list));
    EXPECT_FALSE(Net::nearby(ip(10, 9, 0, 7), list));
    EXPECT_FALSE(Net::nearby(ip(8, 8, 8, 8), list));
    EXPECT_FALSE(Net::nearby(ip(192, 168, 1, 255), list));
    EXPECT_FALSE(Net::nearby(ip(172, 16, 0, 0), list));
    EXPECT_TRUE(Net::nearby(ip(10, 8, 0, 1), list)) << "the far end of a point-to-point link";
}

}  // namespace
