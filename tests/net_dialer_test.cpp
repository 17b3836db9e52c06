// Connects polled between frames: the reason of a refused or unanswered address, again on every
// later poll; the next address after ones that fail; a name that does not resolve. Ports
// 24500-24502.
#include "net_dialer.h"

#include <gtest/gtest.h>

#include "peer_helpers.h"
#include "platform.h"

using namespace Testing;

namespace {

constexpr unsigned kRefusedPort = 24500;
constexpr unsigned kSilentPort = 24501;
constexpr unsigned kOpenPort = 24502;
constexpr std::chrono::milliseconds kShort{300};
const std::string kCannot = "ClinetSocket: Cannot connect to server - ";

Net::Host loopback(unsigned port) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return Net::Host(sin, port);
}

// Listens on 127.0.0.1:port but answers no connection request: its accept queue is full.
struct Silent {
    explicit Silent(unsigned port)
        : server(listenLoopback(port, 0)), filler(connectLoopback(port)) {}
    ~Silent() {
        Platform::closeSocket(filler);
        Platform::closeSocket(server);
    }
    int server;
    int filler;
};

// Polls until dialer connects (""), fails (its message) or the deadline passes; its standard
// error goes to err.
std::string dial(Net::Dialer& dialer, std::string& err) {
    StderrCapture capture;
    std::string result = "no end";
    waitUntil(
        [&] {
            try {
                if (!dialer.poll()) {
                    return false;
                }
                result = "";
                return true;
            } catch (Net::ConnectionException& e) {
                result = e.message();
                return true;
            }
        },
        std::chrono::seconds(15));
    err = capture.take();
    return result;
}

}  // namespace

TEST(DialerTest, LastAddressesReasonAndTheSameOnEveryLaterPoll) {
    Silent silent(kSilentPort);
    ASSERT_TRUE(refused(kRefusedPort));
    for (auto [port, error] : {std::make_pair(kRefusedPort, kConnectionRefused),
                               std::make_pair(kSilentPort, Platform::kTimedOut)}) {
        Net::Dialer dialer({loopback(port)}, "127.0.0.1", kShort);
        std::string err;
        EXPECT_EQ(dial(dialer, err), kCannot + Platform::errorText(error));
        EXPECT_EQ(err, "Found host 127.0.0.1\n");
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(dial(dialer, err), kCannot + Platform::errorText(error));
            EXPECT_EQ(err, "");
        }
    }
}

TEST(DialerTest, NextAddressAfterOnesThatFail) {
    Silent silent(kSilentPort);
    Net::ServerSocket server(kOpenPort);
    Net::Dialer dialer({loopback(kSilentPort), loopback(kRefusedPort), loopback(kOpenPort)},
                       "twohomed", kShort);
    auto start = std::chrono::steady_clock::now();
    std::string err;
    EXPECT_EQ(dial(dialer, err), "");
    EXPECT_GE(std::chrono::steady_clock::now() - start, kShort);
    EXPECT_EQ(err, "Found host twohomed\n");
    Net::SocketOwner connection = dialer.take();
    Net::AcceptedSocket accepted = server.wait();
    server.destroy();
    EXPECT_EQ(connection->peerName(), "127.0.0.1");
    accepted.destroy();
}

TEST(DialerTest, NameThatDoesNotResolve) {
    // A configured name server that does not answer gets one short try.
    setEnvironment("RES_OPTIONS", "timeout:1 attempts:1");
    Net::Dialer unknown("no-such-host.invalid", kRefusedPort);
    std::string err;
    // No name server here says "not known"; none reachable, "temporary failure".
    std::string message = dial(unknown, err);
    EXPECT_TRUE(message == kCannot + Platform::lookupErrorText(EAI_NONAME) ||
                message == kCannot + Platform::lookupErrorText(EAI_AGAIN))
        << message;
    EXPECT_EQ(err, "Trying IP adrress no-such-host.invalid\n");

    // A dotted address that the resolver refuses is still connected to.
    Net::Dialer dotted("127.0.0.1 x", kRefusedPort);
    EXPECT_EQ(dial(dotted, err), kCannot + Platform::errorText(kConnectionRefused));
    EXPECT_EQ(err, "Trying IP adrress 127.0.0.1 x\n");
}
