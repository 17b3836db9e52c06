// Broadcast targets, near senders and own addresses from a list of interfaces.
#include "net_interfaces.h"

#include <algorithm>
#include <cstring>

namespace Net {

namespace {
constexpr uint32_t kTwoAddresses = 0xfffffffe;

void addOnce(std::vector<uint32_t>& to, uint32_t address) {
    if (std::find(to.begin(), to.end(), address) == to.end()) {
        to.push_back(address);
    }
}
}  // namespace

std::vector<uint32_t> broadcastTargets(const Interfaces& list) {
    std::vector<uint32_t> targets;
    for (const Platform::Interface& i : list) {
        if (!i.up || i.loopback || i.pointToPoint || !i.canBroadcast || i.mask == kAllOnes) {
            continue;
        }
        // Windows names 255.255.255.255 for every interface, which would leave by one link; Linux
        // names the interface's own address where none was set (`ip address add` without brd).
        uint32_t directed = i.broadcast;
        if (directed == 0 || directed == kAllOnes || directed == i.address) {
            directed = i.address | ~i.mask;
        }
        addOnce(targets, directed);
    }
    addOnce(targets, kAllOnes);
    addOnce(targets, kLoopbackAddress);
    return targets;
}

std::vector<uint32_t> machineTargets() {
    return broadcastTargets(Platform::interfaces());
}

bool nearby(uint32_t address, const Interfaces& list) {
    if (address >> 24 == kLoopbackAddress >> 24) {
        return true;
    }
    bool near = false;
    for (const Platform::Interface& i : list) {
        if (!i.up || i.loopback || i.address == 0) {
            continue;
        }
        if (i.pointToPoint) {
            near = near || address == i.broadcast || address == i.address;
            continue;
        }
        uint32_t network = i.address & i.mask;
        if ((address & i.mask) != network) {
            continue;
        }
        // Networks of two addresses or one have no such addresses to spare.
        if (i.mask < kTwoAddresses && (address == network || address == (network | ~i.mask))) {
            return false;
        }
        near = true;
    }
    return near;
}

namespace {
// Where a neighbour most likely reaches this machine, lower first: by the default route's link,
// by another link with neighbours, by any other, and last by a bridge to containers or virtual
// machines of this machine's own.
int reachRank(const Platform::Interface& i) {
    for (const char* bridge : {"docker", "virbr", "br-", "veth"}) {
        if (i.name.compare(0, strlen(bridge), bridge) == 0) {
            return 3;
        }
    }
    return i.defaultRoute ? 0 : i.canBroadcast && !i.pointToPoint ? 1 : 2;
}
}  // namespace

std::vector<uint32_t> ownAddresses(const Interfaces& list, size_t count) {
    Interfaces ranked = list;
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const Platform::Interface& a, const Platform::Interface& b) {
                         return reachRank(a) < reachRank(b);
                     });
    std::vector<uint32_t> own;
    for (const Platform::Interface& i : ranked) {
        if (own.size() < count && i.up && !i.loopback && i.address != 0 &&
            i.address >> 24 != kLoopbackAddress >> 24) {
            addOnce(own, i.address);
        }
    }
    return own;
}

std::string dotted(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xff) + "." +
           std::to_string(address >> 8 & 0xff) + "." + std::to_string(address & 0xff);
}

}  // namespace Net
