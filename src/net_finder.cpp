// The slave's search for the games hosted on its network.
#include "net_finder.h"

#include <algorithm>

#include "net_host.h"
#include "net_stdafx.h"
#include "platform.h"

namespace Net {

namespace {
constexpr int kMaxPerPass = 1000;
// A master on many networks at once is still reached by its first few.
constexpr size_t kMaxOtherAddresses = 4;
// The first queries come soon after each other, as a datagram may be lost; then the list is kept
// fresh at a slower pace, well within the silence that ends a game.
const std::chrono::milliseconds kFirstQueries[] = {
    std::chrono::milliseconds(0), std::chrono::milliseconds(1000), std::chrono::milliseconds(3000)};
constexpr std::chrono::milliseconds kQueryEvery{4000};
constexpr size_t kFirstQueryCount = sizeof kFirstQueries / sizeof kFirstQueries[0];
}  // namespace

GameFinder::GameFinder(DiscoveryPorts ports, TargetList targets)
    : token(randomNumber()), ports(ports), targets(targets) {}

bool GameFinder::open() {
    return socket.open(ports.slave) || socket.open(0);
}

// When the query numbered n goes, counted from the search's start.
static std::chrono::milliseconds queryTime(unsigned n) {
    if (n < kFirstQueryCount) {
        return kFirstQueries[n];
    }
    return kFirstQueries[kFirstQueryCount - 1] + kQueryEvery * (n - kFirstQueryCount + 1);
}

void GameFinder::query(DiscoveryClock::time_point now) {
    if (!started) {
        started = true;
        startedAt = now;
    }
    if (now < startedAt + queryTime(queriesSent)) {
        return;
    }
    // Skipped queries (a long pause of the program) are not made up for.
    while (now >= startedAt + queryTime(queriesSent)) {
        queriesSent++;
    }
    // Interfaces come and go: a laptop joins a Wi-Fi while the prompt is open.
    interfaces = Platform::interfaces();
    Datagram d;
    d.kind = Datagram::kQuery;
    d.token = token;
    std::vector<unsigned char> bytes = build(d);
    for (uint32_t to : targets()) {
        // 255.255.255.255 fails where there is no default route: the others still go.
        socket.sendTo(to, ports.master, bytes);
    }
}

bool GameFinder::poll(DiscoveryClock::time_point now) {
    if (!socket.isOpen()) {
        return false;
    }
    query(now);
    bool changed = false;
    std::vector<unsigned char> bytes;
    uint32_t address;
    unsigned port;
    for (int i = 0; i < kMaxPerPass && socket.receive(bytes, kDatagramSize, address, port); i++) {
        changed = take(bytes.data(), bytes.size(), address, port, now, interfaces) || changed;
    }
    return expire(now) || changed;
}

int GameFinder::restMs(DiscoveryClock::time_point now) const {
    if (!socket.isOpen()) {
        return Platform::kForever;
    }
    if (!started) {
        return 0;
    }
    DiscoveryClock::time_point next = startedAt + queryTime(queriesSent);
    for (const FoundGame& g : found) {
        next = std::min(next, g.heard + kSilence);
    }
    return Platform::restUntil(next, now);
}

bool GameFinder::take(const unsigned char* bytes, size_t size, uint32_t address, unsigned port,
                      DiscoveryClock::time_point now, const Interfaces& interfaceList) {
    Datagram d;
    if (port != ports.master || !parse(bytes, size, d) || d.kind == Datagram::kQuery ||
        (d.kind == Datagram::kReply && d.token != token) || !nearby(address, interfaceList)) {
        return false;
    }
    auto same = std::find_if(found.begin(), found.end(),
                             [&](const FoundGame& g) { return g.hosting == d.hosting; });
    if (d.kind == Datagram::kGone) {
        // Only from where the game was heard: any neighbour may know another's hosting number.
        if (same == found.end() ||
            (address != same->address &&
             std::find(same->otherAddresses.begin(), same->otherAddresses.end(), address) ==
                 same->otherAddresses.end())) {
            return false;
        }
        found.erase(same);
        return true;
    }
    if (same != found.end()) {
        // Heard again, perhaps by another way: the row stays as it was first heard.
        same->heard = now;
        if (address != same->address && same->otherAddresses.size() < kMaxOtherAddresses &&
            std::find(same->otherAddresses.begin(), same->otherAddresses.end(), address) ==
                same->otherAddresses.end()) {
            same->otherAddresses.push_back(address);
        }
        return false;
    }
    if (found.size() >= kMaxGames) {
        return false;
    }
    found.push_back(FoundGame{d.hosting, listedNick(d.nick), address, {}, now});
    return true;
}

bool GameFinder::expire(DiscoveryClock::time_point now) {
    size_t before = found.size();
    found.erase(std::remove_if(found.begin(), found.end(),
                               [&](const FoundGame& g) { return now - g.heard >= kSilence; }),
                found.end());
    return found.size() != before;
}

std::vector<Host> GameFinder::waysTo(const std::string& address) const {
    std::vector<Host> ways;
    for (const FoundGame& g : found) {
        if (dotted(g.address) != address) {
            continue;
        }
        std::vector<uint32_t> all = {g.address};
        all.insert(all.end(), g.otherAddresses.begin(), g.otherAddresses.end());
        for (uint32_t a : all) {
            sockaddr_in s = {};
            s.sin_family = AF_INET;
            s.sin_addr.s_addr = htonl(a);
            ways.push_back(Host(s, 0));
        }
        break;
    }
    return ways;
}

}  // namespace Net
