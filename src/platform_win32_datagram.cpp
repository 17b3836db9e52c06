// The discovery's network calls on Windows: the machine's interfaces from Winsock's list, and UDP
// sends and receives that never block.
#include "platform.h"

#include "platform_win32_internal.h"

#include <iphlpapi.h>
#include <mswsock.h>

#include <algorithm>

namespace Platform {

namespace {
// The addresses of the interface that the default route leaves by; none when there is no such
// route.
std::vector<uint32_t> defaultRouteAddresses() {
    std::vector<uint32_t> addresses;
    DWORD routed = 0;
    if (GetBestInterface(INADDR_ANY, &routed) != NO_ERROR) {
        return addresses;
    }
    ULONG size = 0;
    if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER) {
        return addresses;
    }
    std::vector<unsigned char> bytes(size);
    auto table = reinterpret_cast<MIB_IPADDRTABLE*>(bytes.data());
    if (GetIpAddrTable(table, &size, FALSE) != NO_ERROR) {
        return addresses;
    }
    for (DWORD i = 0; i < table->dwNumEntries; i++) {
        if (table->table[i].dwIndex == routed) {
            addresses.push_back(ntohl(table->table[i].dwAddr));
        }
    }
    return addresses;
}
}  // namespace

std::vector<Interface> interfaces() {
    std::vector<Interface> found;
    // The system's list of interfaces with their masks (wine has it too); it names none of them.
    SOCKET asking = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (asking == INVALID_SOCKET) {
        return found;
    }
    std::vector<uint32_t> routed = defaultRouteAddresses();
    INTERFACE_INFO list[64];
    DWORD bytes = 0;
    if (WSAIoctl(asking, SIO_GET_INTERFACE_LIST, nullptr, 0, list, sizeof list, &bytes, nullptr,
                 nullptr) == 0) {
        for (DWORD i = 0; i < bytes / sizeof list[0]; i++) {
            const INTERFACE_INFO& info = list[i];
            if (info.iiAddress.AddressIn.sin_family != AF_INET) {
                continue;
            }
            Interface one;
            one.address = ntohl(info.iiAddress.AddressIn.sin_addr.s_addr);
            one.mask = ntohl(info.iiNetmask.AddressIn.sin_addr.s_addr);
            // Always 255.255.255.255 here: the directed broadcast is made from address and mask.
            one.broadcast = ntohl(info.iiBroadcastAddress.AddressIn.sin_addr.s_addr);
            one.up = (info.iiFlags & IFF_UP) != 0;
            one.loopback = (info.iiFlags & IFF_LOOPBACK) != 0;
            one.pointToPoint = (info.iiFlags & IFF_POINTTOPOINT) != 0;
            one.canBroadcast = (info.iiFlags & IFF_BROADCAST) != 0;
            one.defaultRoute = std::find(routed.begin(), routed.end(), one.address) != routed.end();
            found.push_back(one);
        }
    }
    closesocket(asking);
    return found;
}

void prepareDatagramSocket(int socket) {
    // Non-blocking for good: its sends and receives must never wait, and the main thread's wait
    // leaves it so.
    setBlocking(socket, false);
    BOOL on = TRUE;
    setsockopt(handle(socket), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
               sizeof on);
    // Without it another program may bind the same port with SO_REUSEADDR and take a share of
    // what comes to it.
    setsockopt(handle(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
    // Otherwise a "port unreachable" answer to one datagram sent makes a later receive fail with
    // WSAECONNRESET. Wine refuses the option; receiveDatagram passes over that error too.
    BOOL off = FALSE;
    DWORD bytes = 0;
    WSAIoctl(handle(socket), SIO_UDP_CONNRESET, &off, sizeof off, nullptr, 0, &bytes, nullptr,
             nullptr);
}

bool sendDatagram(int socket, const char* data, int size, uint32_t address, unsigned port) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    to.sin_port = htons(static_cast<u_short>(port));
    return sendto(handle(socket), data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           size;
}

long receiveDatagram(int socket, char* data, int size, uint32_t& fromAddress, unsigned& fromPort) {
    // Earlier "port unreachable" answers, each reported once, stand before a datagram.
    constexpr int kTries = 16;
    for (int i = 0; i < kTries; i++) {
        sockaddr_in from = {};
        int length = sizeof from;
        long n =
            recvfrom(handle(socket), data, size, 0, reinterpret_cast<sockaddr*>(&from), &length);
        int error = n < 0 ? WSAGetLastError() : 0;
        if (n < 0 && error != WSAEMSGSIZE) {
            if (error == WSAECONNRESET) {
                continue;
            }
            // WSAEWOULDBLOCK: none waits.
            return -1;
        }
        fromAddress = ntohl(from.sin_addr.s_addr);
        fromPort = ntohs(from.sin_port);
        // A datagram cut to size was longer: it reads as longer than size.
        return n < 0 ? size + 1 : n;
    }
    return -1;
}

}  // namespace Platform
