// The discovery's datagrams: what build() makes, parse() reads back, and parse() refuses
// everything else.
#include "net_discovery.h"

#include <gtest/gtest.h>

namespace {

using Net::Datagram;
using Bytes = std::vector<unsigned char>;

Datagram made(Datagram::Kind kind, uint32_t token, uint32_t hosting, const std::string& nick) {
    Datagram d;
    d.kind = kind;
    d.token = token;
    d.hosting = hosting;
    d.nick = nick;
    return d;
}

bool parses(const Bytes& bytes) {
    Datagram d;
    return Net::parse(bytes.data(), bytes.size(), d);
}

TEST(NetDiscoveryTest, EveryKindRoundTrips) {
    for (const Datagram& d : {made(Datagram::kQuery, 0xdeadbeef, 0, ""),
                              made(Datagram::kReply, 0x01020304, 0xfffffffe, "alice"),
                              made(Datagram::kAnnouncement, 0, 7, "bob the builder"),
                              made(Datagram::kGone, 0, 7, "")}) {
        Bytes bytes = Net::build(d);
        ASSERT_EQ(bytes.size(), Net::kDatagramSize);
        Datagram back;
        ASSERT_TRUE(Net::parse(bytes.data(), bytes.size(), back)) << int(d.kind);
        EXPECT_EQ(back.kind, d.kind);
        EXPECT_EQ(back.token, d.token);
        EXPECT_EQ(back.hosting, d.hosting);
        EXPECT_EQ(back.nick, d.nick);
    }
}

TEST(NetDiscoveryTest, NicksAreCutToPrintableAsciiAndNamed) {
    EXPECT_EQ(Net::listedNick(""), "Master");
    EXPECT_EQ(Net::listedNick("\x01\xff\n"), "Master");
    EXPECT_EQ(Net::listedNick("a\tb\xc3\xa9"
                              "c"),
              "abc");
    EXPECT_EQ(Net::listedNick("abcdefghijklmnopqrstuvwxyz"), "abcdefghijklmnop");
    Datagram back;
    Bytes bytes = Net::build(made(Datagram::kReply, 1, 2, ""));
    ASSERT_TRUE(Net::parse(bytes.data(), bytes.size(), back));
    EXPECT_EQ(back.nick, "Master");
}

TEST(NetDiscoveryTest, MalformedDatagramsAreRefused) {
    const Bytes reply = Net::build(made(Datagram::kReply, 1, 2, "alice"));
    const Bytes query = Net::build(made(Datagram::kQuery, 1, 0, ""));
    ASSERT_TRUE(parses(reply));
    ASSERT_TRUE(parses(query));
    EXPECT_FALSE(parses({}));
    EXPECT_FALSE(parses(Bytes(reply.begin(), reply.end() - 1)));
    Bytes longer = reply;
    longer.push_back(0);
    EXPECT_FALSE(parses(longer));
    // One byte changed at a time: magic, version, kind, nick length, nick, padding.
    struct Change {
        size_t at;
        unsigned char value;
    };
    for (Change c : {Change{0, 'x'}, Change{3, 0}, Change{4, 2}, Change{4, 0}, Change{5, 0},
                     Change{5, 5}, Change{14, 0}, Change{14, 17}, Change{14, 6}, Change{15, 0x7f},
                     Change{16, '\n'}, Change{20, 'x'}, Change{31, 1}}) {
        Bytes changed = reply;
        changed[c.at] = c.value;
        EXPECT_FALSE(parses(changed)) << "byte " << c.at << " = " << int(c.value);
    }
    // A query must carry a token and nothing of a master's.
    EXPECT_FALSE(parses(Net::build(made(Datagram::kQuery, 0, 0, ""))));
    EXPECT_FALSE(parses(Net::build(made(Datagram::kQuery, 1, 5, ""))));
    Bytes namedQuery = query;
    namedQuery[14] = 1;
    namedQuery[15] = 'a';
    EXPECT_FALSE(parses(namedQuery));
    EXPECT_FALSE(parses(Net::build(made(Datagram::kReply, 1, 0, "alice"))));
}

}  // namespace
