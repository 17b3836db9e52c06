// Host addresses: resolution of a dotted address and of a name that does not resolve, the low 16
// bits of a port, the copies of an address record, and the host error's text.
#include "net_host.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "peer_helpers.h"

using namespace Testing;

namespace {

sockaddr_in record(const char* address, uint16_t port) {
    sockaddr_in s;
    memset(&s, 0, sizeof s);
    s.sin_family = AF_INET;
    s.sin_addr.s_addr = inet_addr(address);
    s.sin_port = htons(port);
    return s;
}

sockaddr_in sinOf(const Net::Host& h) {
    sockaddr_in s;
    memset(&s, 0xAA, sizeof s);
    h.getSin(&s);
    return s;
}

}  // namespace

TEST(HostTest, DottedAddressResolvesThroughTheLookup) {
    sockaddr_in s;
    EXPECT_EQ(stderrOf([&] { s = sinOf(Net::Host("127.0.0.1", 31211)); }),
              "Found host 127.0.0.1\n");
    EXPECT_EQ(s.sin_family, AF_INET);
    EXPECT_EQ(s.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    const unsigned char* port = reinterpret_cast<const unsigned char*>(&s.sin_port);
    EXPECT_EQ(port[0], 0x79);
    EXPECT_EQ(port[1], 0xEB);
    for (unsigned char byte : s.sin_zero) {
        EXPECT_EQ(byte, 0);
    }
}

TEST(HostTest, NameThatDoesNotResolveBecomesAllOnes) {
    // Where a resolver is configured but does not answer, one short try is enough.
    setEnvironment("RES_OPTIONS", "timeout:1 attempts:1");
    auto err = std::make_shared<std::string>();
    auto s = std::make_shared<sockaddr_in>();
    ASSERT_TRUE(finishesWithin(
        [err, s] {
            *err = stderrOf([s] { Net::Host("no.such.host.invalid", 31211).getSin(s.get()); });
        },
        std::chrono::seconds(20)));
    EXPECT_EQ(*err, "Trying IP adrress no.such.host.invalid\n");
    EXPECT_EQ(s->sin_addr.s_addr, INADDR_NONE);
    EXPECT_EQ(ntohs(s->sin_port), 31211);
}

TEST(HostTest, OnlyTheLowSixteenBitsOfAPortCount) {
    Net::Host host(record("10.1.2.3", 1), 70000);
    EXPECT_EQ(ntohs(sinOf(host).sin_port), 70000 & 0xFFFF);
    EXPECT_EQ(ntohs(sinOf(host).sin_port), 4464);
    stderrOf(
        [] { EXPECT_EQ(ntohs(sinOf(Net::Host("127.0.0.1", 65536 + 31212)).sin_port), 31212); });
}

TEST(HostTest, NewPortKeepsFamilyAndAddress) {
    sockaddr_in s = record("192.168.7.9", 4242);
    Net::Host h(s);
    Net::Host moved(h, 31212);
    sockaddr_in out = sinOf(moved);
    EXPECT_EQ(out.sin_family, AF_INET);
    EXPECT_EQ(out.sin_addr.s_addr, s.sin_addr.s_addr);
    EXPECT_EQ(ntohs(out.sin_port), 31212);
    sockaddr_in original = sinOf(h);
    EXPECT_EQ(memcmp(&original, &s, sizeof s), 0);

    Net::Host fromRecord(s, 31211);
    EXPECT_EQ(sinOf(fromRecord).sin_addr.s_addr, s.sin_addr.s_addr);
    EXPECT_EQ(ntohs(sinOf(fromRecord).sin_port), 31211);
}

TEST(HostExceptionTest, KeepsItsTextUnformatted) {
    Net::HostException e("100% sure: %s %n %d");
    EXPECT_EQ(e.message(), "100% sure: %s %n %d");
    Net::HostException copy(e);
    EXPECT_EQ(copy.message(), e.message());
    EXPECT_EQ(Net::HostException().message(), "");
    try {
        throw Net::HostException("no host");
    } catch (System::Exception caught) {
        EXPECT_EQ(stderrOf([&] { caught.print(); }), "Error: no host\n");
    }
}
