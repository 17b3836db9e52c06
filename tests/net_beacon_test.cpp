// The master's answers: only to valid queries from unprivileged ports, never longer than the
// query, and within the limits per sender and in all.
#include "net_beacon.h"

#include <gtest/gtest.h>

namespace {

using Net::Datagram;
using Clock = Net::DiscoveryClock;
using Bytes = std::vector<unsigned char>;

constexpr uint32_t kSender = 0x0a070002;

Bytes query(uint32_t token) {
    Datagram d;
    d.kind = Datagram::kQuery;
    d.token = token;
    return Net::build(d);
}

TEST(NetBeaconTest, AValidQueryIsAnsweredWithTheNickAndHosting) {
    Net::Beacon beacon("alice in wonderland, long");
    Bytes q = query(0x12345678);
    Bytes reply = beacon.replyTo(q.data(), q.size(), kSender, 31212, Clock::now());
    ASSERT_FALSE(reply.empty());
    EXPECT_LE(reply.size(), q.size());
    Datagram d;
    ASSERT_TRUE(Net::parse(reply.data(), reply.size(), d));
    EXPECT_EQ(d.kind, Datagram::kReply);
    EXPECT_EQ(d.token, 0x12345678u);
    EXPECT_EQ(d.hosting, beacon.hosting());
    EXPECT_NE(d.hosting, 0u);
    EXPECT_EQ(d.nick, "alice in wonderl");
    EXPECT_NE(Net::Beacon("x").hosting(), beacon.hosting());
}

TEST(NetBeaconTest, AnythingButAValidQueryFromAnUnprivilegedPortIsDropped) {
    Net::Beacon beacon("");
    Clock::time_point now = Clock::now();
    Bytes q = query(5);
    EXPECT_TRUE(beacon.replyTo(q.data(), q.size(), kSender, 1023, now).empty());
    EXPECT_TRUE(beacon.replyTo(q.data(), q.size(), kSender, 53, now).empty());
    EXPECT_TRUE(beacon.replyTo(q.data(), q.size() - 1, kSender, 40000, now).empty());
    Bytes longer = q;
    longer.push_back(0);
    EXPECT_TRUE(beacon.replyTo(longer.data(), longer.size(), kSender, 40000, now).empty());
    Bytes wrong = q;
    wrong[4] = 9;
    EXPECT_TRUE(beacon.replyTo(wrong.data(), wrong.size(), kSender, 40000, now).empty());
    // Replies and announcements of other masters are not queries.
    Datagram other;
    other.kind = Datagram::kAnnouncement;
    other.hosting = 3;
    Bytes announcement = Net::build(other);
    EXPECT_TRUE(
        beacon.replyTo(announcement.data(), announcement.size(), kSender, 31211, now).empty());
    EXPECT_FALSE(beacon.replyTo(q.data(), q.size(), kSender, 1024, now).empty());
}

// Replies given to count queries spread evenly over seconds, from the senders of sender(i).
template <typename Sender>
int answered(Net::Beacon& beacon, int count, double seconds, Sender sender) {
    Bytes q = query(1);
    Clock::time_point start = Clock::now();
    int replies = 0;
    for (int i = 0; i < count; i++) {
        auto at = start + std::chrono::duration_cast<Clock::duration>(
                              std::chrono::duration<double>(seconds * i / count));
        replies += !beacon.replyTo(q.data(), q.size(), sender(i), 40000, at).empty();
    }
    return replies;
}

TEST(NetBeaconTest, OneSenderGetsAboutFiveRepliesASecond) {
    Net::Beacon beacon("m");
    // 1,000 queries a second for 4 s: the full bucket, then five a second.
    int replies = answered(beacon, 4000, 4.0, [](int) { return kSender; });
    EXPECT_GE(replies, 20);
    EXPECT_LE(replies, 5 + 5 * 4);
}

TEST(NetBeaconTest, AllSendersTogetherGetAboutFiftyRepliesASecond) {
    Net::Beacon beacon("m");
    // Spoofed senders, each new: only the limit in all holds them.
    int replies = answered(beacon, 20000, 4.0, [](int i) { return 0x0a000000u + i; });
    EXPECT_GE(replies, 200);
    EXPECT_LE(replies, 50 + 50 * 4);
}

}  // namespace
