// How soon a peer whose machine has vanished is noticed: the TCP keep-alive times of the game's
// connections and the user time-out derived from them.
#pragma once

namespace Net {

// TCP keep-alive times, in seconds: probes begin after idle seconds without traffic, go interval
// seconds apart, and count unanswered probes end the connection. A live peer's system answers
// the probes however long its player thinks, so only a vanished peer is ever taken for dead.
struct KeepAlive {
    int idle;
    int interval;
    int count;

    // How long data sent may stay unacknowledged before the connection is given up, in
    // milliseconds: as long as the probes take to give up an idle one.
    unsigned userTimeoutMs() const;
};

// The times in force: idle 10 s, interval 5 s, 3 probes, so that a vanished peer is noticed in
// about 25 s. Tests may shorten them with FIVEINAROW_KEEPALIVE="idle,interval,count" (seconds,
// each 1 to 3600); anything else there is ignored. Read once; any thread.
const KeepAlive& keepAlive();

}  // namespace Net
