// Name look-up on a helper thread: the addresses of a name or the resolver's reason for having
// none, and look-ups dropped while they run.
#include "net_lookup.h"

#include <gtest/gtest.h>

#include "peer_helpers.h"
#include "platform.h"

using namespace Testing;

TEST(HostLookupTest, AddressesOrTheResolversReason) {
    Net::HostLookup dotted("127.0.0.1");
    // A name with an empty label: no resolver asks a server about it.
    Net::HostLookup invalid("a..b");
    ASSERT_TRUE(waitUntil([&] { return dotted.done() && invalid.done(); }))
        << "done: 127.0.0.1 " << dotted.done() << ", a..b " << invalid.done();
    std::vector<Net::Host> found = dotted.addresses(31211);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].address(), "127.0.0.1");
    sockaddr_in sin;
    found[0].getSin(&sin);
    EXPECT_EQ(ntohs(sin.sin_port), 31211);
    EXPECT_EQ(dotted.error(), "");
    EXPECT_TRUE(invalid.addresses(31211).empty());
    EXPECT_EQ(invalid.error(), Platform::lookupErrorText(EAI_NONAME));
}

TEST(HostLookupTest, DroppedWhileItRuns) {
    // Their helper threads finish after them, touching only what they own (the sanitizer builds
    // watch that).
    for (int i = 0; i < 20; i++) {
        Net::HostLookup dropped("localhost");
    }
    Net::HostLookup kept("localhost");
    ASSERT_TRUE(waitUntil([&] { return kept.done(); }));
    EXPECT_EQ(kept.addresses(1).at(0).address(), "127.0.0.1");
}
