// The discovery's datagrams: what build() makes, parse() reads back, and parse() refuses
// everything else.
#include "net_discovery.h"

#include <gtest/gtest.h>

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
}

}  // namespace
