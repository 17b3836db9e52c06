// What the discovery reads from the machine's list of interfaces: where a query or an
// announcement goes, which senders count as near, and the addresses a master shows to be joined
// at. Pure: the list comes from Platform::interfaces(), or from a test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform.h"

namespace Net {

using Interfaces = std::vector<Platform::Interface>;

constexpr uint32_t kLoopbackAddress = 0x7f000001;
constexpr uint32_t kAllOnes = 0xffffffff;

// Where a datagram for everyone nearby goes, each address once: the directed broadcast of every
// interface that is up and can broadcast (loopback and point-to-point links are passed over; where
// the system names no broadcast address, the all-ones one or the interface's own, address | ~mask
// stands in), then
// 255.255.255.255 (which leaves by the default route's link alone, if any) and 127.0.0.1 (a
// master or slave on this machine).
std::vector<uint32_t> broadcastTargets(const Interfaces& list);
// Where the discovery sends what is for everyone: broadcastTargets() of the machine's interfaces,
// or a test's own list.
using TargetList = std::vector<uint32_t> (*)();
std::vector<uint32_t> machineTargets();
// Whether address is this machine's loopback or a machine on a network that one of the interfaces
// that are up is directly on (the far end of a point-to-point link, not the first or last address
// of a broadcast network, which name the network and everyone on it): the only senders whose
// datagrams count, and the only ones answered.
bool nearby(uint32_t address, const Interfaces& list);
// This machine's addresses that are up and not loopback, at most count, those a neighbour most
// likely reaches first: the default route's interface, then those that can broadcast, then the
// others, and bridges to containers (docker*, virbr*, br-*, veth*) last; otherwise in the list's
// order.
std::vector<uint32_t> ownAddresses(const Interfaces& list, size_t count);
// The dotted text of an address in host byte order.
std::string dotted(uint32_t address);

}  // namespace Net
