// The port mapping's rules that are easy to get wrong: only the very port asked for counts, a
// router whose outside address is private or shared is behind another one, the lease is renewed
// at half of what the router gave, and no wait for an answer runs past the attempt's deadline.
#include "net_port_mapping.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
namespace Rules = Net::PortRules;

TEST(PortRulesTest, OnlyTheAskedPortOnBothSides) {
    EXPECT_TRUE(Rules::exactPort(31212, 31212, 31212));
    // NAT-PMP's answer for a taken port: this machine's port as asked, another on the router.
    EXPECT_FALSE(Rules::exactPort(31212, 31212, 31213));
    EXPECT_FALSE(Rules::exactPort(31212, 31213, 31212));
}

TEST(PortRulesTest, PrivateAndSharedRangesToTheirEdges) {
    const auto at = [](unsigned a, unsigned b, unsigned c, unsigned d) {
        return Rules::reservedAddress(a << 24 | b << 16 | c << 8 | d);
    };
    EXPECT_TRUE(at(10, 0, 0, 0));
    EXPECT_TRUE(at(10, 255, 255, 255));
    EXPECT_TRUE(at(172, 16, 0, 0));
    EXPECT_TRUE(at(172, 31, 255, 255));
    EXPECT_TRUE(at(192, 168, 0, 1));
    EXPECT_TRUE(at(100, 64, 0, 0));
    EXPECT_TRUE(at(100, 127, 255, 255));
    EXPECT_FALSE(at(9, 255, 255, 255));
    EXPECT_FALSE(at(11, 0, 0, 0));
    EXPECT_FALSE(at(172, 15, 255, 255));
    EXPECT_FALSE(at(172, 32, 0, 0));
    EXPECT_FALSE(at(192, 167, 255, 255));
    EXPECT_FALSE(at(192, 169, 0, 0));
    EXPECT_FALSE(at(100, 63, 255, 255));
    EXPECT_FALSE(at(100, 128, 0, 0));
    EXPECT_FALSE(at(203, 0, 113, 7));
}

TEST(PortRulesTest, RenewedAtHalfOfTheLeaseGiven) {
    EXPECT_EQ(Rules::renewalAfter(Rules::kLease), 1800s);
    // A router may give less than was asked: its figure counts.
    EXPECT_EQ(Rules::renewalAfter(120), 60s);
    EXPECT_EQ(Rules::renewalAfter(1), 1s);
    // A lease without end is never renewed.
    EXPECT_EQ(Rules::renewalAfter(0), 0s);
}

TEST(PortRulesTest, NoAnswerWaitPastTheDeadline) {
    const auto now = std::chrono::steady_clock::now();
    EXPECT_EQ(Rules::answerWait(250ms, now + 10s, now), 250ms);
    // libnatpmp's later tries wait up to 64 s.
    EXPECT_EQ(Rules::answerWait(64000ms, now + 3s, now), 3000ms);
    EXPECT_EQ(Rules::answerWait(500ms, now, now + 1s), 0ms);
    EXPECT_EQ(Rules::answerWait(-5ms, now + 1s, now), 0ms);
}
