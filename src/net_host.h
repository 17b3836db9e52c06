// IPv4 host addresses: an address and a port as the platform's socket address record, and the
// resolution of a host name or dotted address into one.
#pragma once

#include <string>

#include "net_stdafx.h"
#include "system.h"

namespace Net {

// The error type of host addresses. Nothing in the program throws it today; the network branch of
// the menu catches it around the slave's set-up.
class HostException : public System::Exception {
public:
    HostException();
    HostException(const HostException& e);
    ~HostException();
    // Keeps message as it is (it is not a format).
    explicit HostException(const char* message);
};

// One end of a TCP connection: an IPv4 address and a port, both in network byte order. A plain
// value; only the low 16 bits of a port count.
class Host {
public:
    // The zero address with port 0.
    Host();
    explicit Host(sockaddr_in s);
    Host(sockaddr_in s, unsigned port);
    // The family and address of h with a new port.
    Host(const Host& h, unsigned port);
    // Resolves host (a name or a dotted address). Never fails: a text that does not resolve and
    // is no dotted address becomes 255.255.255.255, which fails later, at the connect. Blocks for
    // as long as the resolver takes, so the games look names up with HostLookup instead; one
    // thread only (the resolver's result is shared storage).
    Host(const char* host, unsigned port);

    void getSin(sockaddr_in* s) const;
    // The address as a dotted text, without the port.
    std::string address() const;

private:
    void setPort(unsigned port);

    sockaddr_in sin;
};

}  // namespace Net
