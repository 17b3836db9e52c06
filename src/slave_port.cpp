// The slave's port forwarded by its router for a far master.
#include "slave_port.h"

#include "net_interfaces.h"
#include "platform.h"

namespace Games {

namespace {
uint32_t hostAddress(const Net::Host& host) {
    sockaddr_in sin;
    host.getSin(&sin);
    return ntohl(sin.sin_addr.s_addr);
}
}  // namespace

SlavePort::SlavePort(const std::string& master, const std::vector<Net::Host>& ways, unsigned port)
    : port(port) {
    if (!ways.empty()) {
        askUnlessNear(hostAddress(ways.front()));
    } else if (!master.empty()) {
        lookup = std::make_unique<Net::HostLookup>(master);
        update();
    }
}

bool SlavePort::update() {
    if (lookup != nullptr && lookup->done()) {
        std::vector<Net::Host> found = lookup->addresses(port);
        lookup.reset();
        // A name that does not resolve is never dialled.
        if (!found.empty()) {
            askUnlessNear(hostAddress(found.front()));
        }
    }
    return false;
}

void SlavePort::askUnlessNear(uint32_t address) {
    if (!Net::nearby(address, Platform::interfaces())) {
        mapping = std::make_unique<Net::PortMapping>(port);
    }
}

bool SlavePort::answered() {
    update();
    return lookup == nullptr &&
           (mapping == nullptr || mapping->state() != Net::PortMapping::State::kAsking);
}

std::string SlavePort::line() const {
    if (mapping == nullptr) {
        return "";
    }
    std::string number = std::to_string(port);
    switch (mapping->state()) {
        case Net::PortMapping::State::kOpen:
            return "Your router opened port " + number +
                   (mapping->behindAnotherRouter() ? ", behind another router" : "");
        case Net::PortMapping::State::kRefused:
            return "No router opened port " + number + ": the master may not reach you";
        default:
            return "";
    }
}

void SlavePort::release() {
    lookup.reset();
    mapping.reset();
}

}  // namespace Games
