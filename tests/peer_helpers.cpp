// Bounded waits, loopback connections and message bytes for the peer-link tests.
#include "peer_helpers.h"

#include "listener.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "net_stdafx.h"
#include "platform.h"

namespace Testing {

namespace {
constexpr int kBoardCells = 256;

sockaddr_in loopbackAddress(unsigned port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A connection to 127.0.0.1:port, or -1 with error set to the reason.
int tryConnect(unsigned port, int& error) {
    int fd = static_cast<int>(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = loopbackAddress(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = Platform::lastError();
        Platform::closeSocket(fd);
        return -1;
    }
    boundReceives(fd, kDeadline);
    return fd;
}
}  // namespace

bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool finishesWithin(const std::function<void()>& work, std::chrono::milliseconds deadline) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread thread([work, done] {
        work();
        done->set_value();
    });
    if (finished.wait_for(deadline) == std::future_status::ready) {
        // Ended before the program: wine can crash when a thread ends while its process does.
        thread.join();
        return true;
    }
    thread.detach();
    return false;
}

struct Later::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool gone = false;
};

Later::Later(std::chrono::milliseconds delay, std::function<void()> action)
    : state(std::make_shared<State>()), thread([st = state, delay, action] {
          std::unique_lock<std::mutex> lock(st->mutex);
          if (!st->changed.wait_for(lock, delay, [&st] { return st->gone; })) {
              action();
          }
      }) {}

Later::~Later() {
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->gone = true;
    }
    state->changed.notify_all();
    thread.join();
}

int connectLoopback(unsigned port) {
    int fd = -1;
    int error = 0;
    waitUntil([&] { return (fd = tryConnect(port, error)) != -1; });
    return fd;
}

bool refused(unsigned port) {
    int error = 0;
    int fd = tryConnect(port, error);
    if (fd != -1) {
        Platform::closeSocket(fd);
        return false;
    }
    return error == kConnectionRefused;
}

int listenLoopback(unsigned port, int backlog) {
    int fd = static_cast<int>(socket(AF_INET, SOCK_STREAM, 0));
    Platform::reuseAddress(fd);
    sockaddr_in address = loopbackAddress(port);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, backlog) != 0) {
        Platform::closeSocket(fd);
        return -1;
    }
    return fd;
}

SocketPair::SocketPair() : first(-1), second(-1) {
    // Over loopback, on a port the system picks.
    int server = listenLoopback(0);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (server != -1 && getsockname(server, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        first = connectLoopback(ntohs(address.sin_port));
        second = first == -1 ? -1 : static_cast<int>(accept(server, nullptr, nullptr));
        if (second != -1) {
            boundReceives(second, kDeadline);
        }
    }
    Platform::closeSocket(server);
}

SocketPair::~SocketPair() {
    closeFirst();
    closeSecond();
}

void SocketPair::closeFirst() {
    if (first != -1) {
        Platform::closeSocket(first);
        first = -1;
    }
}

void SocketPair::closeSecond() {
    if (second != -1) {
        Platform::closeSocket(second);
        second = -1;
    }
}

bool sendAll(int fd, const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        long n = Platform::sendSome(fd, reinterpret_cast<const char*>(bytes.data()) + sent,
                                    static_cast<int>(bytes.size() - sent));
        if (n <= 0) {
            return false;
        }
        sent += n;
    }
    return true;
}

Bytes receive(int fd, size_t n) {
    Bytes bytes(n);
    size_t got = 0;
    while (got < n) {
        long r = Platform::receiveSome(fd, reinterpret_cast<char*>(bytes.data()) + got,
                                       static_cast<int>(n - got));
        if (r <= 0) {
            break;
        }
        got += r;
    }
    bytes.resize(got);
    return bytes;
}

bool nothingPending(int fd) {
    return !Platform::readableNow(fd);
}

bool closedByPeer(int fd) {
    char buffer[256];
    for (;;) {
        long r = Platform::receiveSome(fd, buffer, sizeof buffer);
        if (r == 0) {
            return true;
        }
        if (r < 0) {
            // A reset also means the other end has gone; a time-out does not.
            return peerGone(Platform::lastError());
        }
    }
}

Bytes header(unsigned char type, uint32_t length) {
    return {type, static_cast<unsigned char>(length >> 24),
            static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 8),
            static_cast<unsigned char>(length)};
}

Bytes message(unsigned char type, const Bytes& payload) {
    return header(type, payload.size()) + payload;
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes board(std::initializer_list<std::pair<int, unsigned char>> marks) {
    Bytes cells(kBoardCells, 0);
    for (const auto& mark : marks) {
        cells.at(mark.first) = mark.second;
    }
    return cells;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        result.push_back(line);
    }
    return result;
}

int countLines(const std::string& text, const std::string& line) {
    int n = 0;
    for (const std::string& l : lines(text)) {
        n += l == line;
    }
    return n;
}

StderrCapture::StderrCapture() : taken(false) {
    testing::internal::CaptureStderr();
}

StderrCapture::~StderrCapture() {
    take();
}

std::string StderrCapture::take() {
    if (taken) {
        return "";
    }
    taken = true;
    return testing::internal::GetCapturedStderr();
}

std::string stderrOf(const std::function<void()>& work) {
    StderrCapture capture;
    work();
    return capture.take();
}

std::string stdoutOf(const std::function<void()>& work) {
    testing::internal::CaptureStdout();
    work();
    return testing::internal::GetCapturedStdout();
}

Bytes bufferOf(Games::GameState& state) {
    unsigned char* ptr = *state.data;
    std::lock_guard hold(state.data);
    return Bytes(ptr, ptr + state.getDataSize());
}

}  // namespace Testing
