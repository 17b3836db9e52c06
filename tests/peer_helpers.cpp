// Bounded waits, loopback connections and message bytes for the peer-link tests.
#include "peer_helpers.h"

#include "listener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

namespace Testing {

namespace {
constexpr int kBoardCells = 256;

void boundReceives(int fd) {
    timeval tv{};
    tv.tv_sec = kDeadline.count() / 1000;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

int tryConnect(unsigned port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    boundReceives(fd);
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
    std::thread([work, done] {
        work();
        done->set_value();
    }).detach();
    return finished.wait_for(deadline) == std::future_status::ready;
}

int connectLoopback(unsigned port) {
    int fd = -1;
    waitUntil([&] { return (fd = tryConnect(port)) != -1; });
    return fd;
}

bool refused(unsigned port) {
    int fd = tryConnect(port);
    if (fd != -1) {
        close(fd);
        return false;
    }
    return errno == ECONNREFUSED;
}

SocketPair::SocketPair() : first(-1), second(-1) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
        first = fds[0];
        second = fds[1];
        boundReceives(first);
        boundReceives(second);
    }
}

SocketPair::~SocketPair() {
    closeFirst();
    closeSecond();
}

void SocketPair::closeFirst() {
    if (first != -1) {
        close(first);
        first = -1;
    }
}

void SocketPair::closeSecond() {
    if (second != -1) {
        close(second);
        second = -1;
    }
}

bool sendAll(int fd, const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
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
        ssize_t r = recv(fd, bytes.data() + got, n - got, 0);
        if (r <= 0) {
            break;
        }
        got += r;
    }
    bytes.resize(got);
    return bytes;
}

bool nothingPending(int fd) {
    unsigned char byte;
    ssize_t r = recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    return r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

bool closedByPeer(int fd) {
    unsigned char buffer[256];
    for (;;) {
        ssize_t r = recv(fd, buffer, sizeof buffer, 0);
        if (r == 0) {
            return true;
        }
        if (r < 0) {
            // ECONNRESET also means the other end has gone; a time-out does not.
            return errno == ECONNRESET;
        }
    }
}

int pendingBytes(int fd) {
    int n = 0;
    ioctl(fd, FIONREAD, &n);
    return n;
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

Bytes bufferOf(Games::GameState& state) {
    unsigned char* ptr = *state.data;
    std::lock_guard hold(state.data);
    return Bytes(ptr, ptr + state.getDataSize());
}

}  // namespace Testing
