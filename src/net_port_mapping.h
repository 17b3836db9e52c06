// Asking the router in front of this machine to forward a TCP port to it, so that a player in
// another home can reach this one: UPnP-IGD (miniupnpc) and NAT-PMP (libnatpmp) side by side, on a
// thread of its own, with a lease that is renewed while the mapping is needed and deleted as soon
// as it is not.
#pragma once

#include <memory>
#include <string>

namespace Net {

// Asks the router in front of this machine to forward a TCP port to it, on a thread of its own.
class PortMapping {
public:
    enum class State { kAsking, kOpen, kRefused, kOff };
    // Starts asking for port at once, on a thread of its own; kOff without asking when
    // FIVEINAROW_PORT_MAPPING=0 is in the environment. Each change of state wakes the main
    // thread (Platform::wakeMain()). Never blocks.
    explicit PortMapping(unsigned port);
    // Gives the mapping up: deleted on the router as soon as possible, never blocking the
    // caller for more than a few ms (the deletion may finish on the thread; see finishAll).
    ~PortMapping();
    PortMapping(const PortMapping&) = delete;
    PortMapping& operator=(const PortMapping&) = delete;

    State state() const;
    // The router's outside address (dotted), once kOpen.
    std::string outsideAddress() const;
    // Whether that address is private or shared (10/8, 172.16/12, 192.168/16, 100.64/10):
    // the router sits behind another one, so the internet may not reach it.
    bool behindAnotherRouter() const;
    // At the program's end: waits, at most about 1 s, for every mapping given up to be deleted.
    static void finishAll();

    // What the thread shares with its owner; it outlives the owner while a deletion finishes.
    struct Shared;

private:
    std::shared_ptr<Shared> shared;
};

}  // namespace Net
