// The discovery's network calls on POSIX systems: the machine's interfaces from getifaddrs, and
// UDP sends and receives that never block.
#include "platform.h"

#include <ifaddrs.h>
#include <net/if.h>

#include <fstream>
#include <sstream>

#include "net_stdafx.h"

namespace Platform {

namespace {
// RTF_UP in the table's flags: the route is in use.
constexpr unsigned kRouteUp = 0x1;

// The interface of the default route, from Linux's table of routes; "" elsewhere or without one.
std::string defaultRouteInterface() {
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line);
    while (std::getline(routes, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, mask;
        unsigned flags = 0;
        int refCount, use, metric;
        fields >> name >> destination >> gateway >> std::hex >> flags >> std::dec >> refCount >>
            use >> metric >> mask;
        if (fields && destination == "00000000" && mask == "00000000" && (flags & kRouteUp) != 0) {
            return name;
        }
    }
    return "";
}
}  // namespace

std::vector<Interface> interfaces() {
    std::string routed = defaultRouteInterface();
    std::vector<Interface> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return found;
    }
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        auto ipv4 = [](const sockaddr* a) {
            return a == nullptr || a->sa_family != AF_INET
                       ? 0u
                       : ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr);
        };
        Interface one;
        one.address = ipv4(i->ifa_addr);
        one.mask = ipv4(i->ifa_netmask);
        one.up = (i->ifa_flags & IFF_UP) != 0 && (i->ifa_flags & IFF_RUNNING) != 0;
        one.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        one.pointToPoint = (i->ifa_flags & IFF_POINTOPOINT) != 0;
        one.canBroadcast = (i->ifa_flags & IFF_BROADCAST) != 0;
        // One field of the system's holds either, told apart by the flags.
        if (one.pointToPoint) {
            one.broadcast = ipv4(i->ifa_dstaddr);
        } else if (one.canBroadcast) {
            one.broadcast = ipv4(i->ifa_broadaddr);
        }
        one.name = i->ifa_name != nullptr ? i->ifa_name : "";
        one.defaultRoute = !routed.empty() && one.name == routed;
        found.push_back(one);
    }
    freeifaddrs(list);
    return found;
}

void prepareDatagramSocket(int socket) {
    // Without SO_REUSEADDR nobody else binds the port while this socket holds it.
    int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
}

bool sendDatagram(int socket, const char* data, int size, uint32_t address, unsigned port) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    to.sin_port = htons(static_cast<uint16_t>(port));
    return sendto(socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to),
                  sizeof to) == size;
}

long receiveDatagram(int socket, char* data, int size, uint32_t& fromAddress, unsigned& fromPort) {
    sockaddr_in from = {};
    socklen_t length = sizeof from;
    // MSG_TRUNC: the datagram's own length, so that one too long is seen as such.
    long n = recvfrom(socket, data, size, MSG_DONTWAIT | MSG_TRUNC,
                      reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) {
        return -1;
    }
    fromAddress = from.sin_family == AF_INET ? ntohl(from.sin_addr.s_addr) : 0;
    fromPort = ntohs(from.sin_port);
    return n;
}

}  // namespace Platform
