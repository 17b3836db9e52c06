// The datagrams by which a slave finds the games hosted on its network: a query that a waiting
// master answers with its nick and the number of its hosting, the same reply sent unasked when it
// starts to host, and word that it is gone when it stops waiting. Built and read here, with what
// the master's and the slave's sides of the exchange share (their clock, the random numbers that
// tell one hosting or one search from another), nothing more: no sockets, so that tests and the
// fuzzer feed the reader anything.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Net {

using DiscoveryClock = std::chrono::steady_clock;

// The UDP ports: masters answer on the master's TCP port, slaves ask from the slave's.
constexpr unsigned kDiscoveryMasterPort = 31211;
constexpr unsigned kDiscoverySlavePort = 31212;
// The ports one search uses: the fixed ones above, or a test's own.
struct DiscoveryPorts {
    unsigned master = kDiscoveryMasterPort;
    unsigned slave = kDiscoverySlavePort;
};
// Every datagram has this length, the query too: a reply is never longer than what asked for it,
// so that nobody can make a master send more than it was sent.
constexpr size_t kDatagramSize = 32;
// A nick as the list shows it: at most this many printable ASCII characters.
constexpr size_t kListedNickLength = 16;

struct Datagram {
    enum Kind : uint8_t {
        kQuery = 1,
        // The answer to a query: token is the query's.
        kReply = 2,
        // A master that starts to host: token 0.
        kAnnouncement = 3,
        // A master that stops waiting: token 0, nick empty.
        kGone = 4,
    };
    Kind kind = kQuery;
    // The slave's number for one search; replies without it belong to another search.
    uint32_t token = 0;
    // The master's number for one hosting, never 0: a master heard by several ways is one game.
    uint32_t hosting = 0;
    std::string nick;
};

// The bytes of datagram, kDatagramSize of them; the nick as listedNick() makes it, but for one of
// blanks alone, which stays.
std::vector<unsigned char> build(const Datagram& datagram);
// Reads size bytes into datagram; false, with datagram unspecified, for anything that is not a
// datagram build() could have made (a wrong length, magic, version or kind, a nick too long or not
// printable, bytes where there must be none, a query with a hosting number, a reply without one,
// an announcement or word of going with a token).
bool parse(const unsigned char* bytes, size_t size, Datagram& datagram);

// The nick as the list shows it: its printable ASCII characters, cut to kListedNickLength;
// "Master" for one that is empty or blanks alone.
std::string listedNick(const std::string& nick);

// A random number for a hosting or a search, never 0.
uint32_t randomNumber();

}  // namespace Net
