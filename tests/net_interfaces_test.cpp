// What the discovery reads from a list of interfaces.
#include "net_interfaces.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return a << 24 | b << 16 | c << 8 | d;
}

TEST(NetInterfacesTest, TargetsOwnAddressesAndNearSendersComeFromTheInterfacesThatAreUp) {
    // Address, mask, broadcast, up, loopback, point-to-point, can broadcast.
    auto card = [](uint32_t address, uint32_t mask, uint32_t broadcast) {
        return Platform::Interface{address, mask, broadcast, true, false, false, true};
    };
    Platform::Interface loopback{ip(127, 0, 0, 1), ip(255, 0, 0, 0), 0, true, true, false, false};
    Net::Interfaces list = {
        loopback,
        card(ip(192, 168, 1, 20), ip(255, 255, 255, 0), ip(192, 168, 1, 255)),
        // Windows names the all-ones address for every interface.
        card(ip(10, 7, 3, 4), ip(255, 255, 0, 0), ip(255, 255, 255, 255)),
        card(ip(172, 16, 5, 6), ip(255, 240, 0, 0), 0),
        {ip(10, 8, 0, 2), ip(255, 255, 255, 255), ip(10, 8, 0, 1), true, false, true, true},
        {ip(10, 9, 0, 2), ip(255, 255, 0, 0), ip(10, 9, 255, 255), false, false, false, true},
        card(ip(192, 168, 1, 21), ip(255, 255, 255, 0), ip(192, 168, 1, 255)),
    };
    std::vector<uint32_t> expected = {ip(192, 168, 1, 255), ip(10, 7, 255, 255),
                                      ip(172, 31, 255, 255), ip(255, 255, 255, 255),
                                      ip(127, 0, 0, 1)};
    EXPECT_EQ(Net::broadcastTargets(list), expected);
    EXPECT_EQ(Net::broadcastTargets({}),
              (std::vector<uint32_t>{ip(255, 255, 255, 255), ip(127, 0, 0, 1)}));

    std::vector<uint32_t> own = {ip(192, 168, 1, 20), ip(10, 7, 3, 4), ip(172, 16, 5, 6)};
    EXPECT_EQ(Net::ownAddresses(list, 3), own);
    EXPECT_EQ(Net::ownAddresses({loopback}, 3), std::vector<uint32_t>());
    EXPECT_EQ(Net::dotted(ip(192, 168, 1, 20)), "192.168.1.20");

    EXPECT_TRUE(Net::nearby(ip(127, 3, 0, 1), {}));
    EXPECT_TRUE(Net::nearby(ip(192, 168, 1, 77), list));
    EXPECT_FALSE(Net::nearby(ip(192, 168, 2, 77), list));
    EXPECT_FALSE(Net::nearby(ip(10, 9, 0, 7), list));
    EXPECT_FALSE(Net::nearby(ip(8, 8, 8, 8), list));
}

}  // namespace
