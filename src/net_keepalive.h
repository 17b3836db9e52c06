// How long the game's connections ride out a network drop-out, and how soon they notice a peer
// whose machine has vanished: their TCP keep-alive times and the user time-out derived from them.
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
    // milliseconds: as long as the probes take to give up an idle one, idle + interval * count
    // seconds, held to the largest time the socket option takes.
    unsigned userTimeoutMs() const;
};

// The shipped times: idle 10 s, interval 5 s, 9 probes, and so a user time-out of 55 s. A drop-out
// of the network of half a minute ends no game, whether a move is in flight or not, and a peer
// that has really gone is noticed within 55 s, on both sides; net_keepalive.cpp says why.
constexpr KeepAlive kShippedKeepAlive = {10, 5, 9};

// Reads "idle,interval,count" (decimal seconds: idle and interval 1 to 3600, count 1 to 127, the
// most probes Linux takes) into k. False, with k untouched, for anything else.
bool parseKeepAlive(const char* text, KeepAlive& k);

// The times in force: the shipped ones, or, for tests, those of FIVEINAROW_KEEPALIVE
// ("idle,interval,count"), read once. A setting that does not parse, or that the system refuses,
// is reported once with an "Error: " line naming it, and the shipped times are used instead. Any
// thread.
KeepAlive keepAlive();

// Turns on keep-alive with the times in force for the socket descriptor fd, and for a sending end
// also the user time-out, which ends the connection when sent data stays unacknowledged
// (keep-alive does not probe then). Should the system refuse them, the first refusal is reported
// (see keepAlive()) and the connection goes on with what it took. Any thread.
void setKeepAlive(int fd, bool sending);

}  // namespace Net
