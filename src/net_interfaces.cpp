// Broadcast targets, near senders and own addresses from a list of interfaces.
#include "net_interfaces.h"

#include <algorithm>

namespace Net {

namespace {
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
        // Windows names 255.255.255.255 for every interface, which would leave by one link.
        uint32_t directed = i.broadcast;
        if (directed == 0 || directed == kAllOnes) {
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
    for (const Platform::Interface& i : list) {
        if (i.up && !i.loopback && i.address != 0 &&
            (i.pointToPoint ? address == i.broadcast || address == i.address
                            : (address & i.mask) == (i.address & i.mask))) {
            return true;
        }
    }
    return false;
}

std::vector<uint32_t> ownAddresses(const Interfaces& list, size_t count) {
    std::vector<uint32_t> own;
    for (const Platform::Interface& i : list) {
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
