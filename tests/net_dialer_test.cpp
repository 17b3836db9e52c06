// Connects that never block: each address tried in turn with its time-out, the trace line of the
// address used, and the connection as the game needs it. A host that does not answer is a
// listening socket whose accept queue is full: the system drops further requests unanswered.
#include "net_dialer.h"

#include <gtest/gtest.h>

#include <chrono>

#include "peer_helpers.h"

using namespace Testing;

namespace {

constexpr unsigned kPort = 24511;
constexpr std::chrono::milliseconds kShort{200};

int listenOn(const char* ip, int backlog) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = inet_addr(ip);
    sin.sin_port = htons(kPort);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0) << ip;
    listen(fd, backlog);
    return fd;
}

Net::Host at(const char* ip) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = inet_addr(ip);
    return Net::Host(sin, kPort);
}

// ip:kPort listens, but its queue is full with one connection nobody accepts.
struct Unanswering {
    explicit Unanswering(const char* ip) : server(listenOn(ip, 0)), filler(at(ip)) {}
    ~Unanswering() {
        filler.destroy();
        close(server);
    }
    int server;
    Net::ClientSocket filler;
};

// A client socket's descriptor, to read its options.
struct Descriptor : Net::ClientSocket {
    explicit Descriptor(const Net::ClientSocket& s) : Net::ClientSocket(s) {}
    int fd() const { return sockId; }
};

int option(int fd, int level, int name) {
    int value = -1;
    socklen_t length = sizeof value;
    getsockopt(fd, level, name, &value, &length);
    return value;
}

}  // namespace

TEST(DialerTest, TriesEachAddressInTurnAndTracesTheOneUsed) {
    unsetenv("FIVEINAROW_KEEPALIVE");
    Unanswering first("127.0.0.2");
    int second = listenOn("127.0.0.3", 1);
    StderrCapture err;
    Net::Dialer dialer({at("127.0.0.2"), at("127.0.0.3")}, "twohomed", kShort);
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitUntil([&] { return dialer.poll(); }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, kShort);
    EXPECT_EQ(err.take(), "Found host twohomed\n");
    int accepted = accept(second, nullptr, nullptr);
    EXPECT_NE(accepted, -1) << "connected to the second address";

    // Blocking, without Nagle, and with the keep-alive times the game ships with.
    Descriptor socket(dialer.socket());
    int fd = socket.fd();
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(option(fd, IPPROTO_TCP, TCP_NODELAY), 1);
    EXPECT_EQ(option(fd, SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(fd, IPPROTO_TCP, TCP_KEEPIDLE), 10);
    EXPECT_EQ(option(fd, IPPROTO_TCP, TCP_KEEPINTVL), 5);
    EXPECT_EQ(option(fd, IPPROTO_TCP, TCP_KEEPCNT), 3);
    EXPECT_EQ(option(fd, IPPROTO_TCP, TCP_USER_TIMEOUT), 25000);
    socket.destroy();
    close(accepted);
    close(second);
}

TEST(DialerTest, GivesUpWithTheSystemsTextWhenNoAddressAnswers) {
    Unanswering nobody("127.0.0.2");
    StderrCapture err;
    Net::Dialer dialer("127.0.0.2", kPort, kShort);
    std::string failure = "none";
    try {
        waitUntil([&] { return dialer.poll(); });
    } catch (Net::ConnectionException& e) {
        failure = e.message();
    }
    EXPECT_EQ(failure, "ClinetSocket: Cannot connect to server - Connection timed out");
    EXPECT_EQ(err.take(), "Found host 127.0.0.2\n");
}
