// Stream sockets: exact reads and writes with their traces, the end of a connection, peer names,
// connecting, polled connects, the options of game connections, the server socket's single
// accept, its bind error and address reuse, the owner of a connection, and the connection error's
// text and notice. Ports 24100-24139.
#include "net_socket.h"

#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "allegro_fixture.h"
#include "back_buffer.h"
#include "peer_helpers.h"
#include "platform.h"

using namespace Testing;

namespace {

constexpr unsigned kAcceptPort = 24100;
constexpr unsigned kBindErrorPort = 24101;
constexpr unsigned kReusePort = 24102;
constexpr unsigned kRefusedPort = 24103;
constexpr unsigned kPeerNamePort = 24104;
constexpr unsigned kSigpipePort = 24105;
constexpr unsigned kTemporaryPort = 24106;
constexpr unsigned kPolledPort = 24107;
constexpr unsigned kResetPort = 24108;

// A socket object around a descriptor this test made (for instance one end of a socket pair).
Net::AcceptedSocket wrap(int fd) {
    return Net::AcceptedSocket(Net::Host(), fd);
}

Net::Host loopback(unsigned port) {
    Net::Host host;
    stderrOf([&] { host = Net::Host("127.0.0.1", port); });
    return host;
}

std::string bindError(unsigned port) {
    try {
        Net::ServerSocket s(port);
        s.destroy();
    } catch (Net::ConnectionException& e) {
        return e.message();
    }
    return "";
}

// A client socket object around a descriptor this test made.
struct Handle : Net::ClientSocket {
    explicit Handle(int fd) { sockId = fd; }
};

// Whether fd is an open socket.
bool isOpen(int fd) {
    int type = 0;
    socklen_t length = sizeof type;
    return getsockopt(fd, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0;
}

// Reads the options of a socket object's descriptor.
struct Options : Net::Socket {
    explicit Options(const Net::Socket& s) : Net::Socket(s) {}
    int get(int level, int name) const {
        int value = 0;
        socklen_t length = sizeof value;
        getsockopt(sockId, level, name, reinterpret_cast<char*>(&value), &length);
        return value;
    }
    bool blocking() const { return Testing::blocking(sockId); }
    bool keepAliveTimes(KeepAliveTimes& times) const {
        return Testing::keepAliveTimes(sockId, times);
    }
};

// What reaches `to` of the bytes sent from `from`.
std::string carried(Net::Socket& from, Net::Socket& to, const std::string& bytes) {
    std::string got(bytes.size(), '\0');
    stderrOf([&] {
        from.set(bytes.data(), bytes.size());
        to.get(got.data(), got.size());
    });
    return got;
}

// The text of a read or write that failed with error.
std::string failed(const char* call, int error) {
    return std::string("Socket::") + call + "() error no. " + std::to_string(error);
}

// A socket object on the first end of a socket pair; the test is the peer on the second end.
class OnAPair : public testing::Test {
protected:
    SocketPair pair;
    Net::AcceptedSocket end = wrap(pair.first);
};
class SocketGetTest : public OnAPair {};
class SocketGetOnceTest : public OnAPair {};
class SocketSetTest : public OnAPair {};

}  // namespace

TEST_F(SocketGetTest, ReadsExactlyAndTracesEachReceive) {
    ASSERT_TRUE(sendAll(pair.second, {1, 2, 3, 4, 5}));
    char buffer[5] = {};
    EXPECT_EQ(stderrOf([&] { end.get(buffer, 5); }),
              "Socket::get begin\nWaitng for 5 bytes\n( ret: 5 )\nWaitng for 0 bytes\n");
    EXPECT_EQ(memcmp(buffer, "\1\2\3\4\5", 5), 0);
}

TEST_F(SocketGetTest, ZeroBytesReceivesNothing) {
    ASSERT_TRUE(sendAll(pair.second, {9}));
    ASSERT_TRUE(waitUntil([&] { return pendingBytes(pair.first) == 1; }));
    char buffer[1] = {7};
    EXPECT_EQ(stderrOf([&] { end.get(buffer, 0); }), "Socket::get begin\nWaitng for 0 bytes\n");
    EXPECT_EQ(buffer[0], 7);
    EXPECT_EQ(pendingBytes(pair.first), 1);
}

TEST_F(SocketGetTest, PartialReadsAreJoined) {
    ASSERT_TRUE(sendAll(pair.second, {0x11}));
    ASSERT_TRUE(waitUntil([&] { return pendingBytes(pair.first) == 1; }));
    char buffer[4] = {};
    bool firstTaken = false;
    bool sent = false;
    std::string err = stderrOf([&] {
        std::thread getter([&] { end.get(buffer, 4); });
        // The rest goes out only once the first byte has been received on its own.
        firstTaken = waitUntil([&] { return pendingBytes(pair.first) == 0; });
        sent = sendAll(pair.second, {0x22, 0x33, 0x44});
        getter.join();
    });
    ASSERT_TRUE(firstTaken);
    ASSERT_TRUE(sent);
    EXPECT_EQ(err,
              "Socket::get begin\nWaitng for 4 bytes\n( ret: 1 )\nWaitng for 3 bytes\n"
              "( ret: 3 )\nWaitng for 0 bytes\n");
    EXPECT_EQ(memcmp(buffer, "\x11\x22\x33\x44", 4), 0);
}

TEST_F(SocketGetTest, PeerClosingMidReadIsReported) {
    ASSERT_TRUE(sendAll(pair.second, {0x5A}));
    pair.closeSecond();
    char buffer[4] = {'a', 'b', 'c', 'd'};
    std::string message;
    std::string err = stderrOf([&] {
        try {
            end.get(buffer, 4);
        } catch (Net::ConnectionClosedException& e) {
            message = e.message();
        }
    });
    EXPECT_EQ(message, "Socket::get: connection closed by peer");
    EXPECT_EQ(err,
              "Socket::get begin\nWaitng for 4 bytes\n( ret: 1 )\nWaitng for 3 bytes\n"
              "( ret: 0 )\n");
    EXPECT_EQ(buffer[0], 0x5A);
}

TEST_F(SocketGetTest, FailedReceiveThrows) {
    Net::Socket none;
    char buffer[2];
    StderrCapture capture;
    try {
        none.get(buffer, 2);
        ADD_FAILURE() << "no exception";
    } catch (Net::ConnectionClosedException&) {
        ADD_FAILURE() << "a failed receive is no closed connection";
    } catch (System::Exception& e) {
        EXPECT_EQ(e.message(), failed("read", kNoSocket));
    }
}

TEST_F(SocketGetOnceTest, ReadsWhatHasComeAndTraces) {
    ASSERT_TRUE(sendAll(pair.second, {1, 2, 3}));
    char buffer[8] = {};
    int n = 0;
    EXPECT_EQ(stderrOf([&] { n = end.getOnce(buffer, 8); }),
              "Socket::getOnce: entry point\n\tread 3 bytes\n");
    EXPECT_EQ(n, 3);
    EXPECT_EQ(memcmp(buffer, "\1\2\3", 3), 0);

    Net::Socket none;
    EXPECT_EQ(stderrOf([&] { EXPECT_THROW(none.getOnce(buffer, 1), System::Exception); }),
              "Socket::getOnce: entry point\n\tread -1 bytes\n");
}

TEST_F(SocketSetTest, WritesAllAndEndsWithAnEmptySend) {
    EXPECT_EQ(stderrOf([&] { end.set("hello", 5); }), "[ ret: 5 ] \n[ ret: 0 ] \n");
    EXPECT_EQ(receive(pair.second, 5), text("hello"));

    EXPECT_EQ(stderrOf([&] { end.set("", 0); }), "[ ret: 0 ] \n");
    EXPECT_TRUE(nothingPending(pair.second));
}

TEST_F(SocketSetTest, LargeWriteArrivesWhole) {
    std::string big(1 << 20, 'q');
    for (size_t i = 0; i < big.size(); i++) {
        big[i] = static_cast<char>(i * 7);
    }
    Bytes got;
    std::thread reader([&] { got = receive(pair.second, big.size()); });
    std::string err = stderrOf([&] { end.set(big.data(), big.size()); });
    reader.join();
    EXPECT_EQ(got, Bytes(big.begin(), big.end()));
    EXPECT_EQ(lines(err).back(), "[ ret: 0 ] ");
}

TEST_F(SocketSetTest, WriteToAGonePeerThrowsInsteadOfSigpipe) {
    Net::ServerSocket server(kSigpipePort);
    int peer = connectLoopback(kSigpipePort);
    ASSERT_NE(peer, -1);
    Net::AcceptedSocket connection = server.wait();
    server.destroy();
    Platform::closeSocket(peer);
    std::string message;
    StderrCapture capture;
    // The first writes may still be taken by the system; a later one must fail.
    for (int i = 0; i < 100 && message.empty(); i++) {
        try {
            connection.set("data", 4);
        } catch (System::Exception& e) {
            message = e.message();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    connection.destroy();
    const std::string head = "Socket::write() error no. ";
    EXPECT_TRUE(message.compare(0, head.size(), head) == 0 &&
                peerGone(atoi(message.c_str() + head.size())))
        << message;
}

TEST(SocketTest, DestroyClosesOnceAndOnlyItsOwnDescriptor) {
    Net::Socket none;
    none.destroy();
    EXPECT_FALSE(none.isOpen());

    SocketPair pair;
    Net::AcceptedSocket socket = wrap(pair.first);
    Net::AcceptedSocket copy = socket;
    socket.destroy();
    EXPECT_FALSE(socket.isOpen());
    EXPECT_TRUE(closedByPeer(pair.second));
    // The number may be handed out again: a second destroy must not close the new owner's.
    int reused = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
    socket.destroy();
    EXPECT_TRUE(isOpen(reused));
    Platform::closeSocket(reused);
    pair.first = -1;
    EXPECT_TRUE(copy.isOpen());
}

TEST(SocketOwnerTest, TheLastOwnerClosesOnce) {
    SocketPair a, b, c;
    {
        Net::SocketOwner first(Handle(a.first));
        Net::SocketOwner second(std::move(first));
        EXPECT_FALSE(first->isOpen());
        Net::SocketOwner third(Handle(b.first));
        // Taking another's descriptor closes its own.
        third = std::move(second);
        EXPECT_TRUE(closedByPeer(b.second));
        EXPECT_TRUE(isOpen(a.first));
        Net::ClientSocket handed = Net::SocketOwner(Handle(c.first)).release();
        EXPECT_TRUE(handed.isOpen());
    }
    EXPECT_TRUE(closedByPeer(a.second));
    EXPECT_TRUE(isOpen(c.first));
    a.first = b.first = -1;
}

TEST(SocketTest, PeerNameConnectedAndNot) {
    Net::Socket none;
    EXPECT_EQ(none.peerName(), "[error get peer name]");

    Net::ServerSocket server(kPeerNamePort);
    EXPECT_EQ(server.peerName(), "[error get peer name]");
    Net::ClientSocket client(loopback(kPeerNamePort));
    Net::AcceptedSocket accepted = server.wait();
    EXPECT_EQ(accepted.peerName(), "127.0.0.1");
    EXPECT_EQ(client.peerName(), "127.0.0.1");
    sockaddr_in peer;
    accepted.host.getSin(&peer);
    EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    accepted.destroy();
    client.destroy();
    server.destroy();
}

TEST(ServerSocketTest, AcceptsOneConnectionAndCarriesItsBytes) {
    Net::ServerSocket server(kAcceptPort);
    Net::ClientSocket client(loopback(kAcceptPort));
    Net::Host peer;
    Net::AcceptedSocket accepted = server.wait(peer);
    sockaddr_in s;
    peer.getSin(&s);
    EXPECT_EQ(s.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    server.destroy();
    EXPECT_TRUE(refused(kAcceptPort));

    EXPECT_EQ(carried(client, accepted, "abc"), "abc");
    accepted.destroy();
    client.destroy();
}

TEST(ServerSocketTest, PortWithAListenerCannotBeBound) {
    Net::ServerSocket first(kBindErrorPort);
    std::string message = bindError(kBindErrorPort);
    EXPECT_EQ(message, "ServerSocket: cannot bind to port " + std::to_string(kBindErrorPort) +
                           " - " + Platform::errorText(kAddressInUse));
    first.destroy();
    EXPECT_EQ(bindError(kBindErrorPort), "");
}

TEST(ServerSocketTest, PortIsReusedWhileOldConnectionsWait) {
    {
        Net::ServerSocket server(kReusePort);
        int peer = connectLoopback(kReusePort);
        ASSERT_NE(peer, -1);
        Net::AcceptedSocket accepted = server.wait();
        // This side closes first, so its end of the connection stays in TIME_WAIT on the port.
        accepted.destroy();
        EXPECT_TRUE(closedByPeer(peer));
        Platform::closeSocket(peer);
        server.destroy();
    }
    EXPECT_EQ(bindError(kReusePort), "");
}

TEST(ServerSocketTest, AcceptOnAClosedSocketThrows) {
    Net::ServerSocket none;
    try {
        none.wait();
        ADD_FAILURE() << "no exception";
    } catch (Net::ConnectionException& e) {
        EXPECT_EQ(e.message(), "ServerSocket::wait accepting connection down");
    }
}

TEST(ClientSocketTest, NothingListeningIsRefused) {
    ASSERT_TRUE(refused(kRefusedPort));
    try {
        Net::ClientSocket client(loopback(kRefusedPort));
        ADD_FAILURE() << "connected";
    } catch (Net::ConnectionException& e) {
        EXPECT_EQ(e.message(), "ClinetSocket: Cannot connect to server - " +
                                   Platform::errorText(kConnectionRefused));
    }
}

TEST(ClientSocketTest, TemporaryAssignedToAMemberStaysConnected) {
    Net::ServerSocket server(kTemporaryPort);
    Net::ClientSocket member;
    { member = Net::ClientSocket(loopback(kTemporaryPort)); }
    Net::AcceptedSocket accepted = server.wait();
    server.destroy();
    EXPECT_EQ(carried(member, accepted, "xy"), "xy");
    member.destroy();
    accepted.destroy();
}

TEST(ConnectionExceptionTest, FormatsAndKeepsAtMost255Characters) {
    Net::ConnectionException e("port %d - %s", 31211, "busy");
    EXPECT_EQ(e.message(), "port 31211 - busy");
    Net::ConnectionException copy(e);
    EXPECT_EQ(copy.message(), "port 31211 - busy");
    std::string longText(300, 'z');
    Net::ConnectionException cut("%s", longText.c_str());
    EXPECT_EQ(cut.message(), std::string(255, 'z'));
}

TEST(ConnectionExceptionTest, ShowPresentsTheMessageAsANotice) {
    FakeScreen window;
    Net::ConnectionException("ServerSocket: cannot bind to port %d", 31211).show();

    // One frame, with the notice in orange on the centre rows, and the back buffer left cleared.
    EXPECT_EQ(window.frames(), 1);
    int left = 800;
    int right = -1;
    int orange = countPixels(screen, [&](int x, int y, Rgb c) {
        if (c != Rgb{255, 127, 0}) {
            return false;
        }
        EXPECT_GE(y, 296);
        EXPECT_LT(y, 304);
        left = std::min(left, x);
        right = std::max(right, x);
        return true;
    });
    EXPECT_GT(orange, 50);
    EXPECT_NEAR((left + right) / 2, 400, 8);
    EXPECT_EQ(countPixels(System::_screen, [](int, int, Rgb c) { return c != Rgb{0, 0, 0}; }), 0);
}

TEST(ClientSocketTest, PolledConnectGivesABlockingConnectionWithTheGamesOptions) {
    setEnvironment("FIVEINAROW_KEEPALIVE", nullptr);
    Net::ServerSocket server(kPolledPort);
    Net::ClientSocket client;
    Net::Host host = loopback(kPolledPort);
    StderrCapture capture;
    bool connected = client.startConnect(host);
    ASSERT_TRUE(waitUntil([&] { return connected || (connected = client.connectDone()); }));
    Net::AcceptedSocket accepted = server.wait();
    server.destroy();
    // The system took every option, or had its own way to take the times (wine).
    EXPECT_EQ(capture.take(), "");
    // Only the sending end has data that can stay unacknowledged.
    for (auto [end, userTimeoutMs] :
         {std::make_pair(Options(client), 55000u), std::make_pair(Options(accepted), 0u)}) {
        EXPECT_EQ(end.get(IPPROTO_TCP, TCP_NODELAY), 1);
        EXPECT_EQ(end.get(SOL_SOCKET, SO_KEEPALIVE), 1);
        KeepAliveTimes times;
        if (end.keepAliveTimes(times)) {
            EXPECT_EQ(times.idle, 10);
            EXPECT_EQ(times.interval, 5);
            EXPECT_EQ(times.count, 9);
            EXPECT_EQ(times.userTimeoutMs, userTimeoutMs);
        }
        EXPECT_TRUE(end.blocking());
    }
    client.destroy();
    accepted.destroy();
}

TEST(ClientSocketTest, PolledConnectToNothingIsRefusedWithTheSystemsText) {
    Net::ClientSocket client;
    try {
        // Refused at once or a little later, as the system likes.
        if (!client.startConnect(loopback(kRefusedPort))) {
            waitUntil([&] { return client.connectDone(); });
        }
        FAIL() << "connected";
    } catch (Net::ConnectionException& e) {
        EXPECT_EQ(e.message(), "ClinetSocket: Cannot connect to server - " +
                                   Platform::errorText(kConnectionRefused));
    }
    EXPECT_FALSE(client.isOpen());
}

TEST(SocketTest, LeftBecauseSaysWhyThePeerLeftAndReadsNothing) {
    EXPECT_EQ(Net::AcceptedSocket().leftBecause(), "");
    SocketPair pair;
    Net::AcceptedSocket end = wrap(pair.first);
    EXPECT_EQ(end.leftBecause(), "");
    // Bytes the peer should not send on this connection leave it standing, and stay unread.
    ASSERT_TRUE(sendAll(pair.second, {7}));
    ASSERT_TRUE(waitUntil([&] { return pendingBytes(pair.first) == 1; }));
    EXPECT_EQ(end.leftBecause(), "");
    EXPECT_EQ(pendingBytes(pair.first), 1);
    receive(pair.first, 1);
    pair.closeSecond();
    EXPECT_TRUE(
        waitUntil([&] { return end.leftBecause() == "Socket::get: connection closed by peer"; }));

    // A peer that resets the connection.
    Net::ServerSocket server(kResetPort);
    int peer = connectLoopback(kResetPort);
    ASSERT_NE(peer, -1);
    Net::AcceptedSocket accepted = server.wait();
    server.destroy();
    linger abort = {1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof abort);
    Platform::closeSocket(peer);
    const std::string reset =
        underWine() ? "Socket::get: connection closed by peer" : failed("read", kConnectionReset);
    EXPECT_TRUE(waitUntil([&] { return accepted.leftBecause() == reset; }))
        << accepted.leftBecause();
    accepted.destroy();
}
