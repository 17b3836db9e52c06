// Helpers for the peer-link tests: bounded waits, raw loopback connections and socket pairs whose
// every read has a deadline, and the bytes of peer messages.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "test_platform.h"

namespace Games {
class GameState;
}

namespace Testing {

using Bytes = std::vector<unsigned char>;

constexpr std::chrono::milliseconds kDeadline{5000};

// Polls cond until it holds or the deadline passes; returns whether it held.
bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds deadline = kDeadline);

// Runs work on a thread of its own and waits for it at most deadline; false when it has not
// finished by then (the thread is then left behind, blocked: whatever it uses must outlive the
// test program).
bool finishesWithin(const std::function<void()>& work,
                    std::chrono::milliseconds deadline = kDeadline);

// Runs action once on a thread of its own after the delay, unless the object is gone before:
// a wait that nothing else ends still ends, late, and the test sees how late.
class Later {
public:
    Later(std::chrono::milliseconds delay, std::function<void()> action);
    ~Later();
    Later(const Later&) = delete;
    Later& operator=(const Later&) = delete;

private:
    struct State;
    std::shared_ptr<State> state;
    std::thread thread;
};

// A TCP connection to 127.0.0.1:port (retried until the deadline while refused), or -1. Its
// receives time out after the deadline.
int connectLoopback(unsigned port);
// True when a connection to 127.0.0.1:port is refused.
bool refused(unsigned port);
// A socket listening on 127.0.0.1:port (0: a port the system picks), or -1.
int listenLoopback(unsigned port, int backlog = 1);

// Two connected stream sockets of this process; receives on both time out after the deadline.
struct SocketPair {
    SocketPair();
    ~SocketPair();
    void closeFirst();
    void closeSecond();
    int first;
    int second;
};

// Writes all of bytes to fd; false on a failure.
bool sendAll(int fd, const Bytes& bytes);
// Reads exactly n bytes (fewer when the connection ends or the deadline passes).
Bytes receive(int fd, size_t n);
// True when nothing is waiting to be read on fd right now.
bool nothingPending(int fd);
// True when the peer of fd has closed its end (a receive ends) before the deadline.
bool closedByPeer(int fd);

// A message as it travels: type, length (big-endian), payload.
Bytes message(unsigned char type, const Bytes& payload);
// Only the type and the length field, whatever follows.
Bytes header(unsigned char type, uint32_t length);
Bytes text(const std::string& s);
// A 16 x 16 board with the given cells set to player pl (cells as row * 16 + column).
Bytes board(std::initializer_list<std::pair<int, unsigned char>> marks);
// Concatenation.
Bytes operator+(Bytes a, const Bytes& b);

// Captures standard error (of every thread) from construction until take() or destruction.
class StderrCapture {
public:
    StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    ~StderrCapture();
    std::string take();

private:
    bool taken;
};

// What work writes on standard error, or on standard output.
std::string stderrOf(const std::function<void()>& work);
std::string stdoutOf(const std::function<void()>& work);

// The bytes of a state's shared buffer, read under its lock.
Bytes bufferOf(Games::GameState& state);

// The lines of a captured text.
std::vector<std::string> lines(const std::string& text);
// How many lines of text are exactly line.
int countLines(const std::string& text, const std::string& line);

}  // namespace Testing
