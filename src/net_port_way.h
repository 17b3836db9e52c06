// The ways of asking a router to forward a port that PortMapping tries side by side, each on a
// thread of its own: UPnP-IGD (miniupnpc) and NAT-PMP (libnatpmp).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace Net {

using PortClock = std::chrono::steady_clock;
// Whether the asking is to stop (another way has won, or the mapping is no longer wanted).
using Stop = std::function<bool()>;
// For what must go on to its end: a renewal, a deletion.
inline const Stop kNeverStop = [] { return false; };

// What came of asking a router to forward a port.
enum class Asked {
    // It forwards exactly that port.
    kOpened,
    // It does not: it said no, or the request never went.
    kNot,
    // A request that may have opened it went unanswered (given up at the deadline or at a
    // stop, or cut off): to be deleted as if it had.
    kUnanswered,
};

// One way of asking the router.
class PortWay {
public:
    virtual ~PortWay() = default;
    virtual const char* name() const = 0;
    // Asks the router to forward port for a lease (again, to renew it). Gives up at deadline,
    // or as soon as stop() says so.
    virtual Asked open(unsigned port, PortClock::time_point deadline, const Stop& stop) = 0;
    // Deletes what open made.
    virtual void close(unsigned port) = 0;

    // What the last open learnt: the router's outside address (host byte order) and the lease
    // it gave, in seconds (0: without end).
    uint32_t outside = 0;
    unsigned granted = 0;
};

// A way by UPnP-IGD.
std::shared_ptr<PortWay> upnpWay();
// A way by NAT-PMP; none in a build without its library (the Windows build: no source of it
// could be had, see scripts/windows/miniupnpc.sh).
std::shared_ptr<PortWay> natPmpWay();

}  // namespace Net
