// Host addresses and their resolution.
#include "net_host.h"

#include "output_line.h"

namespace Net {

namespace {
constexpr unsigned kPortMask = 0xFFFF;
}  // namespace

HostException::HostException() {}

HostException::HostException(const HostException& e) : System::Exception(e) {}

HostException::~HostException() {}

HostException::HostException(const char* message) {
    errorMessage = message;
}

Host::Host() {
    memset(&sin, 0, sizeof sin);
    sin.sin_family = AF_INET;
}

Host::Host(sockaddr_in s) : sin(s) {}

Host::Host(sockaddr_in s, unsigned port) : sin(s) {
    setPort(port);
}

Host::Host(const Host& h, unsigned port) {
    h.getSin(&sin);
    setPort(port);
}

Host::Host(const char* host, unsigned port) {
    memset(&sin, 0, sizeof sin);
    sin.sin_family = AF_INET;
    hostent* entry = gethostbyname(host);
    if (entry != nullptr && entry->h_addrtype == AF_INET &&
        entry->h_length == static_cast<int>(sizeof sin.sin_addr)) {
        // The entry is the resolver's static storage: copy the address out at once.
        memcpy(&sin.sin_addr, entry->h_addr_list[0], sizeof sin.sin_addr);
        System::err() << "Found host " << host;
    } else {
        System::err() << "Trying IP adrress " << host;
        sin.sin_addr.s_addr = inet_addr(host);
    }
    setPort(port);
}

void Host::getSin(sockaddr_in* s) const {
    *s = sin;
}

std::string Host::address() const {
    char text[INET_ADDRSTRLEN];
    return inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text) ? text : "";
}

void Host::setPort(unsigned port) {
    sin.sin_port = htons(static_cast<uint16_t>(port & kPortMask));
}

}  // namespace Net
