// Connects polled between frames: the reason of a refused or unanswered address, again on every
// later poll; the next address after ones that fail; a name that does not resolve; the main
// thread's wait between two polls, which the connect itself ends. Ports 24500-24503.
#include "net_dialer.h"

#include <gtest/gtest.h>

#include <thread>

#include "peer_helpers.h"
#include "platform.h"

using namespace Testing;

namespace {

constexpr unsigned kRefusedPort = 24500;
constexpr unsigned kSilentPort = 24501;
constexpr unsigned kOpenPort = 24502;
constexpr unsigned kOtherSilentPort = 24503;
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
        if (server != -1) {
            Platform::closeSocket(server);
        }
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

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kLate{8000};

// Runs the owner's loop: a poll, then a wait for whatever the dialer says may end it. The
// result as dial() gives it; passes counts the waits.
std::string dialResting(Net::Dialer& dialer, int& passes) {
    Later late(kLate, Platform::wakeMain);
    passes = 0;
    StderrCapture capture;
    try {
        while (!dialer.poll()) {
            Platform::waitForWake(dialer.restMs(), dialer.watch());
            passes++;
        }
        return "";
    } catch (Net::ConnectionException& e) {
        return e.message();
    }
}

}  // namespace

TEST(DialerTest, TheWaitBetweenPollsEndsWithTheConnectOrItsTimeOut) {
    // The silent listener goes while the connect waits for its answer: the system tries again
    // about a second later, is refused, and that end alone ends the wait.
    Silent silent(kSilentPort);
    Net::Dialer dialer({loopback(kSilentPort)}, "127.0.0.1", std::chrono::seconds(20));
    std::thread gone([&silent] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        Platform::closeSocket(silent.server);
        silent.server = -1;
    });
    auto start = Clock::now();
    int passes = 0;
    EXPECT_EQ(dialResting(dialer, passes), kCannot + Platform::errorText(kConnectionRefused));
    gone.join();
    EXPECT_LT(Clock::now() - start, kLate / 2);
    EXPECT_LE(passes, 3);
    EXPECT_EQ(dialer.watch().socket, -1);
    EXPECT_EQ(dialer.restMs(), Platform::kForever);

    // Unanswered: the wait ends at the time-out, which nothing announces.
    Silent again(kOtherSilentPort);
    Net::Dialer unanswered({loopback(kOtherSilentPort)}, "127.0.0.1", kShort);
    start = Clock::now();
    EXPECT_EQ(dialResting(unanswered, passes), kCannot + Platform::errorText(Platform::kTimedOut));
    EXPECT_GE(Clock::now() - start, kShort);
    EXPECT_LT(Clock::now() - start, kLate / 2);
    EXPECT_LE(passes, 3);
}

TEST(DialerTest, AWaitWatchingAConnectionEndsWhenThePeerLeaves) {
    SocketPair pair;
    std::thread leave([&pair] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pair.closeSecond();
    });
    Later late(kLate, Platform::wakeMain);
    auto start = Clock::now();
    Platform::SocketWatch watch;
    watch.socket = pair.first;
    Platform::waitForWake(Platform::kForever, watch);
    auto waited = Clock::now() - start;
    leave.join();
    EXPECT_GE(waited, std::chrono::milliseconds(40));
    EXPECT_LT(waited, kLate / 2);
    // Left blocking: the end of the connection reads as an end, not as "nothing yet".
    char byte;
    EXPECT_EQ(Platform::receiveSome(pair.first, &byte, 1), 0);
}

TEST(DialerTest, AWaitWatchingAConnectionLeavesItBlocking) {
    SocketPair pair;
    // Woken beforehand, the wait ends at once, with nothing to read.
    Platform::wakeMain();
    Platform::SocketWatch watch;
    watch.socket = pair.first;
    Platform::waitForWake(Platform::kForever, watch);
    std::thread send([&pair] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(Platform::sendSome(pair.second, "x", 1), 1);
    });
    // A receive blocks until the byte comes; on a socket left non-blocking it fails at once.
    auto start = Clock::now();
    char byte = 0;
    EXPECT_EQ(Platform::receiveSome(pair.first, &byte, 1), 1);
    EXPECT_EQ(byte, 'x');
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
    send.join();
}

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
