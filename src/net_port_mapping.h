// Asking the router in front of this machine to forward a TCP port to it, so that a player in
// another home can reach this one: UPnP-IGD (miniupnpc) and NAT-PMP (libnatpmp) side by side, on a
// thread of its own, with a lease that is renewed while the mapping is needed and deleted as soon
// as it is not.
#pragma once

#include <chrono>
#include <cstdint>
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

// The rules that the mapping follows, apart so that they can be tried alone.
namespace PortRules {

// How long a lease is asked for, in seconds: a mapping that a crash leaves behind goes by itself.
constexpr unsigned kLease = 3600;
// How long asking may take in all before the port counts as refused.
constexpr std::chrono::seconds kAttempt{10};

// Whether a router's answer forwards the port asked for and no other: outside (the router's port)
// and inside (this machine's) must both be it. A router that finds the port taken may forward
// another one to it (NAT-PMP does so without complaint), which no player could reach.
bool exactPort(unsigned asked, unsigned inside, unsigned outside);
// Whether an outside address (host byte order) is private or shared (10/8, 172.16/12,
// 192.168/16, 100.64/10), as a router's is behind another router.
bool reservedAddress(uint32_t address);
// How long after a lease of granted seconds was given it is asked for again: at half-time, never
// sooner than a second; never (zero) for a lease without end (granted 0).
std::chrono::seconds renewalAfter(unsigned granted);
// How long to wait for a router's answer: what the library gives until its next try (0 or less:
// none, at once), but never past the deadline; zero once it has passed.
std::chrono::milliseconds answerWait(std::chrono::milliseconds library,
                                     std::chrono::steady_clock::time_point deadline,
                                     std::chrono::steady_clock::time_point now);

}  // namespace PortRules

}  // namespace Net
