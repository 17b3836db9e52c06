// Connecting to a peer without blocking the game thread: the look-up of its name and the connects
// to its addresses advance a step each time the owner polls, between two frames.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "net_host.h"
#include "net_lookup.h"
#include "net_socket.h"
#include "platform.h"

namespace Net {

// One connection to a peer, made while the owner keeps drawing: the peer's name is looked up on a
// helper thread, then each of its IPv4 addresses is tried in the resolver's order, each for at
// most the time-out, until one answers. A name that does not resolve is read as a dotted address
// (inet_aton's forms, 255.255.255.255 included); when it is none either, nothing is connected and
// poll() fails with the resolver's reason. The trace line of the address actually used ("Found
// host " or "Trying IP adrress " and the host's text) goes to standard error once the connect
// has succeeded or failed for good. Dropping the dialer abandons the connect and closes its
// socket at once. Owner's thread only.
class Dialer {
public:
    // What a connect that gets no answer may take, per address.
    static constexpr std::chrono::milliseconds kTimeout{10000};

    // To every address of name (a host name or dotted address) on port.
    Dialer(const std::string& name, unsigned port, std::chrono::milliseconds timeout = kTimeout);
    // To addresses in their order; text names them in the trace line (and is read as a dotted
    // address when there are none).
    Dialer(const std::vector<Host>& addresses, const std::string& text,
           std::chrono::milliseconds timeout = kTimeout);
    Dialer(const Dialer&) = delete;
    Dialer& operator=(const Dialer&) = delete;

    // Takes the next step without blocking: true once connected (take() then hands over the
    // connection, in blocking mode). Throws ConnectionException "ClinetSocket: Cannot connect to
    // server - " and the reason when no connection can be made: the resolver's, for a name that
    // is no dotted address either; else the last address's (for a time-out the system's text for
    // ETIMEDOUT). Once it has thrown, every later call throws the same again and tries nothing.
    bool poll();
    // Once poll() has returned true: the connection, whose owner now closes it. The dialer holds
    // none afterwards.
    SocketOwner take() { return std::move(current); }
    // What a wait between two polls watches beside the main thread's wake-up: the socket of the
    // connect in progress, which wakes the wait when the connect ends, or none while the look-up
    // runs (its thread wakes the main thread itself).
    Platform::SocketWatch watch() const;
    // How long a wait between two polls may take at most, in milliseconds: until the connect in
    // progress times out, or Platform::kForever when nothing will time out.
    int restMs() const;

private:
    // Whether the addresses to try are known (the look-up has finished). Throws when there are
    // none, reason saying why.
    bool addressesKnown();
    // For want of an address, the text itself stands in as a dotted address; throws with reason
    // when it is none.
    void readAsDotted(const std::string& reason);
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
    SocketOwner current;
    Clock::time_point deadline;
    bool done;
    // The message of the failure once poll() has thrown; "" before.
    std::string failure;
};

}  // namespace Net
