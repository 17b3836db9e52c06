// The slave's side of the discovery: while the address prompt is open, it asks the network for
// the games hosted there and keeps the list of those that answered, with every way each one can be
// dialled at. Main thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net_discovery_datagram.h"
#include "net_interfaces.h"
#include "net_udp_socket.h"

namespace Net {

class Host;

// A hosting that answered.
struct FoundGame {
    uint32_t hosting;
    std::string nick;
    // Where it was first heard from: the datagram's sender, never what the datagram says.
    uint32_t address;
    // The other ways it has been heard by since, for a connect that tries them in turn.
    std::vector<uint32_t> otherAddresses;
    DiscoveryClock::time_point heard;
};

class GameFinder {
public:
    // At most this many games are kept; later ones wait until one goes.
    static constexpr size_t kMaxGames = 32;
    // A game that has not answered for this long has gone.
    static constexpr std::chrono::seconds kSilence{20};

    // A fresh random token for this search; queries go to targets.
    explicit GameFinder(DiscoveryPorts ports = DiscoveryPorts(),
                        TargetList targets = machineTargets);

    // Takes the slave's UDP port, or another port when that one is taken (then only replies
    // reach it, no announcements). False when no socket could be had: nothing is found then.
    bool open();
    // Sends the queries that are due (when the search starts, 1 s and 3 s later, then every
    // few seconds), reads what has come, at most a bounded number a pass, and forgets the games
    // that have been silent too long. True when the list changed. Never blocks.
    bool poll(DiscoveryClock::time_point now = DiscoveryClock::now());
    // How long the caller may rest before poll() has more to do, in milliseconds.
    int restMs(DiscoveryClock::time_point now = DiscoveryClock::now()) const;
    // For the wait: wakes it when a datagram waits.
    Platform::SocketWatch watch() const { return socket.watch(); }

    // One datagram from address and port (host byte order) as poll() takes it, near judged by
    // interfaceList: true when the list changed. Only replies with this search's token and
    // announcements, from the master's port on this machine or a network it is directly on,
    // count; word that a game is gone removes it when it comes from an address the game was heard
    // at.
    bool take(const unsigned char* bytes, size_t size, uint32_t address, unsigned port,
              DiscoveryClock::time_point now, const Interfaces& interfaceList);
    // Forgets the games silent since before now - kSilence; true when one went.
    bool expire(DiscoveryClock::time_point now);
    // The games in the order they were first heard.
    const std::vector<FoundGame>& games() const { return found; }
    // Every way the listed game at address (the address its row shows) has been heard by, that
    // one first, with port 0 (the caller sets the game's); none when no row shows address.
    std::vector<Host> waysTo(const std::string& address) const;
    uint32_t searchToken() const { return token; }

private:
    void query(DiscoveryClock::time_point now);

    uint32_t token;
    DiscoveryPorts ports;
    TargetList targets;
    DatagramSocket socket;
    Interfaces interfaces;
    std::vector<FoundGame> found;
    bool started = false;
    DiscoveryClock::time_point startedAt;
    // Which query of the schedule comes next.
    unsigned queriesSent = 0;
};

}  // namespace Net
