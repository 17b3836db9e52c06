// Name look-up that never blocks its caller: the resolver runs on a helper thread while the game
// thread goes on drawing and reading the keyboard.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "net_host.h"

namespace Net {

// The IPv4 addresses of a host name or dotted address, looked up on a helper thread of their own.
// A resolver that hangs cannot be cancelled: the helper thread owns a share of the result and
// touches nothing else, so the look-up may be dropped at any time (Escape) and the thread ends by
// itself once the resolver returns. Owner's thread only.
class HostLookup {
public:
    // Starts looking name up. Should no thread be available, looks it up at once instead.
    explicit HostLookup(const std::string& name);
    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

    // Whether the resolver has answered; never blocks.
    bool done() const;
    // Once done(): every IPv4 address of the name, in the resolver's order, each with port;
    // empty when the name did not resolve.
    std::vector<Host> addresses(unsigned port) const;
    // Once done(): why the name did not resolve, in the resolver's own words ("Name or service
    // not known", "Temporary failure in name resolution" when no name server answers ...); ""
    // when it did.
    std::string error() const;

private:
    struct Result;
    std::shared_ptr<Result> result;
};

// The resolver's words for a name that it does not know.
std::string unknownName();

}  // namespace Net
