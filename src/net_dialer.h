// Connecting to a peer without blocking the game thread: the look-up of its name and the connects
// to its addresses advance a step each time the owner polls, between two frames.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "net_host.h"
#include "net_lookup.h"
#include "net_socket.h"

namespace Net {

// One connection to a peer, made while the owner keeps drawing: the peer's name is looked up on a
// helper thread, then each of its IPv4 addresses is tried in the resolver's order, each for at
// most the time-out, until one answers. A name that does not resolve is read as a dotted address
// (255.255.255.255 when it is none, whose connect then fails). The trace line of the address
// actually used ("Found host " or "Trying IP adrress " and the host's text) goes to standard
// error once the connect has succeeded or the last address has failed. Dropping the dialer
// abandons the connect and closes its socket at once. Owner's thread only.
class Dialer {
public:
    // What a connect that gets no answer may take, per address.
    static constexpr std::chrono::milliseconds kTimeout{10000};

    // To every address of name (a host name or dotted address) on port.
    Dialer(const std::string& name, unsigned port, std::chrono::milliseconds timeout = kTimeout);
    // To addresses in their order; text names them in the trace line.
    Dialer(const std::vector<Host>& addresses, const std::string& text,
           std::chrono::milliseconds timeout = kTimeout);
    Dialer(const Dialer&) = delete;
    Dialer& operator=(const Dialer&) = delete;
    ~Dialer();

    // Takes the next step without blocking: true once connected (socket() then holds the
    // connection, in blocking mode). Throws ConnectionException, with the last address's reason
    // (for a time-out the system's text for ETIMEDOUT), when no address answered.
    bool poll();
    // The connection, once poll() has returned true; its descriptor is then the caller's to close.
    ClientSocket socket() const { return current; }

private:
    // Without an address, the text itself stands in as a dotted address.
    void readAsDotted();
    // Advances the connects; true once one has succeeded.
    bool connected();
    void trace();

    using Clock = std::chrono::steady_clock;

    std::string text;
    unsigned port;
    std::chrono::milliseconds timeout;
    std::unique_ptr<HostLookup> lookup;
    std::vector<Host> addresses;
    // Whether the addresses came from the look-up, not from the text read as a dotted address.
    bool found;
    size_t next;
    ClientSocket current;
    Clock::time_point deadline;
    bool done;
};

}  // namespace Net
