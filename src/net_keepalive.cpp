// The keep-alive times of the game's connections.
#include "net_keepalive.h"

#include <cstdio>
#include <cstdlib>

namespace Net {

namespace {

constexpr KeepAlive kShipped = {10, 5, 3};
constexpr int kMsPerSecond = 1000;
// Longer times would only hide a vanished peer (and overflow the user time-out).
constexpr int kLongest = 3600;

bool fits(int seconds) {
    return seconds >= 1 && seconds <= kLongest;
}

KeepAlive fromEnvironment() {
    const char* text = getenv("FIVEINAROW_KEEPALIVE");
    KeepAlive k;
    char rest;
    if (text == nullptr || sscanf(text, "%d,%d,%d%c", &k.idle, &k.interval, &k.count, &rest) != 3 ||
        !fits(k.idle) || !fits(k.interval) || !fits(k.count)) {
        return kShipped;
    }
    return k;
}

}  // namespace

unsigned KeepAlive::userTimeoutMs() const {
    return static_cast<unsigned>(idle + interval * count) * kMsPerSecond;
}

const KeepAlive& keepAlive() {
    static const KeepAlive inForce = fromEnvironment();
    return inForce;
}

}  // namespace Net
