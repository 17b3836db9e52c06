// The master's side of the discovery: while it waits for a slave, it answers the queries of
// slaves on its network with its nick and the number of this hosting, announces the hosting when
// it starts and says that it is gone when it stops. Main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "net_discovery_datagram.h"
#include "net_interfaces.h"
#include "net_udp_socket.h"

namespace Net {

// Keeps a master's replies within bounds however many queries come, spoofed ones too: about
// kPerSender a second to one sender, about kInAll a second in all (buckets that fill again at that
// rate).
class ReplyLimit {
public:
    static constexpr double kPerSender = 5;
    static constexpr double kInAll = 50;

    // Whether a reply to sender may go at now; counts it when it may.
    bool allow(uint32_t sender, DiscoveryClock::time_point now);

private:
    struct Bucket {
        double tokens;
        DiscoveryClock::time_point at;
    };
    static void refill(Bucket& bucket, double rate, DiscoveryClock::time_point now);

    Bucket all{kInAll, DiscoveryClock::time_point()};
    std::map<uint32_t, Bucket> senders;
};

class Beacon {
public:
    // nick as its player typed it (the list shows listedNick(nick)); a fresh random hosting
    // number. Announcements go to targets.
    explicit Beacon(const std::string& nick, DiscoveryPorts ports = DiscoveryPorts(),
                    TargetList targets = machineTargets);
    // stop().
    ~Beacon();
    Beacon(const Beacon&) = delete;
    Beacon& operator=(const Beacon&) = delete;

    // Takes UDP kDiscoveryMasterPort for itself and announces the hosting on every interface.
    // When the port is taken (another master on this machine), says so in one trace line and
    // does nothing more: the game is hosted all the same, only not listed.
    void start();
    // Answers the queries that wait, at most a bounded number a pass; never blocks.
    void answer(DiscoveryClock::time_point now = DiscoveryClock::now());
    // Tells every interface that the hosting has gone and lets the port go. Nothing when it was
    // not started or has stopped already.
    void stop();
    // The reply to one datagram of size bytes from address and port (host byte order), or
    // nothing for one that is not a valid query from an unprivileged port of a sender near by
    // interfaceList, or would go past the limits.
    std::vector<unsigned char> replyTo(const unsigned char* bytes, size_t size, uint32_t address,
                                       unsigned port, DiscoveryClock::time_point now,
                                       const Interfaces& interfaceList);
    // For the wait: wakes it when a query waits; no socket when not started.
    Platform::SocketWatch watch() const { return socket.watch(); }
    bool listed() const { return socket.isOpen(); }
    uint32_t hosting() const { return number; }

private:
    void toEveryone(Datagram::Kind kind);

    std::string nick;
    uint32_t number;
    DiscoveryPorts ports;
    TargetList targets;
    DatagramSocket socket;
    ReplyLimit limit;
};

}  // namespace Net
