// The master's answers: only to valid queries from unprivileged ports, never longer than the
// query, and within the limits per sender and in all.
#include "net_beacon.h"

#include <gtest/gtest.h>

namespace {

using Net::Datagram;
using Clock = Net::DiscoveryClock;
using Bytes = std::vector<unsigned char>;

constexpr uint32_t kSender = 0x0a070002;

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
        EXPECT_TRUE(beacon.replyTo(b.data(), b.size(), kSender, 40000, now).empty());
    }
    EXPECT_TRUE(beacon.replyTo(q.data(), q.size(), kSender, 1023, now).empty());

    Bytes reply = beacon.replyTo(q.data(), q.size(), kSender, 1024, now);
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
                                 start + std::chrono::milliseconds(i))
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

}  // namespace
