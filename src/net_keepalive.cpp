// The keep-alive times of the game's connections.
//
// Why idle 10 s, interval 5 s, 9 probes and a user time-out of 55 s. Two demands pull apart: a
// drop-out of the network of up to 30 s (a router restarting, a wireless hand-over) must end no
// game, and a peer whose machine has really gone must be noticed within a minute, on both sides.
//
// - A connection with nothing in flight probes: on each side the one it only reads, and, between
//   two moves, the one it writes. It is given up idle + interval * count = 55 s after the peer
//   last answered, so a vanished peer is noticed within 55 s. At worst a drop-out begins just as
//   the first probe goes: the probes then go 0, 5, ..., 40 s into it and the connection ends at
//   45 s, so a drop-out shorter than 40 s always leaves a probe that is answered once it is over.
//   (With 3 probes the end came 15 s after the first lost probe: a 20 s drop-out ended games.)
// - A connection with a move in flight does not probe: the system sends the move again, first as
//   a tail-loss probe after about 0.2 s, then backing off from its retransmission time-out (0.2 s
//   and the round trip, on loopback and on a local network): at about 0.2, 0.4, 0.8, 1.7, 3.3,
//   6.7, 13.4, 26.7 and 53.5 s after the move first went (measured on loopback). The user
//   time-out gives the connection up when the move stays unacknowledged that long. A move sent
//   just as a 30 s drop-out begins is lost again at 26.7 s and gets through at 53.5 s, so the
//   user time-out must come after that, and 55 s does, within the minute. (25 s gave up before
//   any retransmission after the drop-out.) Over a round trip longer than about 15 ms the
//   retransmissions spread out, and the one at 53.5 s comes past 55 s: there, a move sent in the
//   first seconds of a 30 s drop-out is lost. Waiting for it too would take a user time-out that
//   notices a vanished peer only after a minute.
// - With a user time-out set, Linux gives up an idle connection by it rather than by the count of
//   probes; as idle + interval * count, the two rules agree.
#include "net_keepalive.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform.h"
#include "system.h"

namespace Net {

namespace {

const char* const kSetting = "FIVEINAROW_KEEPALIVE";
constexpr int64_t kMsPerSecond = 1000;
// Longer times would only hide a vanished peer.
constexpr long kLongest = 3600;
// Linux refuses more probes than this.
constexpr long kMostProbes = 127;

bool operator==(const KeepAlive& a, const KeepAlive& b) {
    return a.idle == b.idle && a.interval == b.interval && a.count == b.count;
}

// One decimal number from low to high at p, which is then moved past it. No sign, no blanks.
bool readNumber(const char*& p, long low, long high, int& number) {
    if (*p < '0' || *p > '9') {
        return false;
    }
    errno = 0;
    char* end;
    long value = strtol(p, &end, 10);
    if (errno == ERANGE || value < low || value > high) {
        return false;
    }
    number = static_cast<int>(value);
    p = end;
    return true;
}

// The times in force and whether a refusal has been reported, shared by both threads.
struct InForce {
    std::mutex mutex;
    KeepAlive times = kShippedKeepAlive;
    bool overridden = false;
    bool refusalReported = false;

    InForce() {
        const char* text = getenv(kSetting);
        if (text == nullptr) {
            return;
        }
        overridden = parseKeepAlive(text, times);
        if (!overridden) {
            System::Exception(
                "%s=\"%s\" is not idle,interval,count (1-%ld, 1-%ld, 1-%ld): using %d,%d,%d",
                kSetting, text, kLongest, kLongest, kMostProbes, times.idle, times.interval,
                times.count)
                .print();
        }
    }
};

InForce& inForce() {
    static InForce state;
    return state;
}

// Sets the options of k on fd; on a refusal, says which (with the system's reason) in refused.
bool apply(int fd, const KeepAlive& k, bool sending, std::string& refused) {
    return Platform::setKeepAlive(fd, k.idle, k.interval, k.count, sending ? k.userTimeoutMs() : 0,
                                  refused);
}

}  // namespace

unsigned KeepAlive::userTimeoutMs() const {
    int64_t ms =
        (static_cast<int64_t>(idle) + static_cast<int64_t>(interval) * count) * kMsPerSecond;
    // The option is an int of milliseconds on Linux.
    return static_cast<unsigned>(std::max<int64_t>(0, std::min<int64_t>(ms, INT_MAX)));
}

bool parseKeepAlive(const char* text, KeepAlive& k) {
    if (text == nullptr) {
        return false;
    }
    KeepAlive read;
    const char* p = text;
    if (!readNumber(p, 1, kLongest, read.idle) || *p++ != ',' ||
        !readNumber(p, 1, kLongest, read.interval) || *p++ != ',' ||
        !readNumber(p, 1, kMostProbes, read.count) || *p != '\0') {
        return false;
    }
    k = read;
    return true;
}

KeepAlive keepAlive() {
    InForce& state = inForce();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.times;
}

void setKeepAlive(int fd, bool sending) {
    KeepAlive k = keepAlive();
    std::string refused;
    if (apply(fd, k, sending, refused)) {
        return;
    }
    InForce& state = inForce();
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (!state.refusalReported) {
            state.refusalReported = true;
            if (state.overridden) {
                System::Exception("%s=\"%d,%d,%d\": the system refused %s: using %d,%d,%d",
                                  kSetting, k.idle, k.interval, k.count, refused.c_str(),
                                  kShippedKeepAlive.idle, kShippedKeepAlive.interval,
                                  kShippedKeepAlive.count)
                    .print();
            } else {
                System::Exception("Keep-alive: the system refused %s", refused.c_str()).print();
            }
        }
        state.times = kShippedKeepAlive;
        state.overridden = false;
    }
    if (!(k == kShippedKeepAlive)) {
        apply(fd, kShippedKeepAlive, sending, refused);
    }
}

}  // namespace Net
