// The listener thread over loopback: one accepted peer, every message kind and its effect on the
// shared state, messages it must refuse (and that nothing of them is applied), the end of the
// connection, errors on the thread, stopping it wherever it waits, and strangers refused by a
// screened listener. Ports 24200-24259.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>

#include "listener.h"
#include "peer_helpers.h"
#include "platform.h"

using namespace Testing;

namespace {

constexpr int kCells = 256;

// What the game thread does after a local move: the board goes into the buffer, newData as is.
void localMove(Games::GameState& state, const Bytes& cells) {
    unsigned char* ptr = *state.data;
    std::lock_guard hold(state.data);
    std::copy(cells.begin(), cells.end(), ptr);
}

// A started listener on port and a raw peer connected to it. Standard error is captured for the
// whole life of the link; the listener is stopped before the capture ends.
class Link {
public:
    explicit Link(unsigned port, unsigned char peerPlayer = 0) {
        listener.setup(port, kCells, peerPlayer);
        listener.open();
        listener.start(nullptr);
        peer = connectLoopback(port);
    }
    ~Link() {
        closePeer();
        listener.stop();
    }
    Games::GameState& state() { return listener.state; }
    bool send(const Bytes& bytes) { return sendAll(peer, bytes); }
    // Sends bytes holding a nick and waits until the listener has taken it.
    bool sendUntilReady(const Bytes& bytes) {
        return send(bytes) && waitUntil([&] { return *state().ready; });
    }
    void closePeer() {
        if (peer != -1) {
            Platform::closeSocket(peer);
            peer = -1;
        }
    }
    // Everything written to standard error, once the listener has stopped.
    std::string trace() {
        closePeer();
        listener.stop();
        return capture.take();
    }

    StderrCapture capture;
    System::Listener listener;
    int peer = -1;
};

}  // namespace

TEST(ListenerTest, AcceptsOnePeerAndReadsItsNick) {
    constexpr unsigned kPort = 24200;
    StderrCapture capture;
    System::Listener listener(kPort, kCells);
    listener.open();
    listener.start(nullptr);
    EXPECT_EQ(listener.peerName(), "[error get peer name]");
    int peer = connectLoopback(kPort);
    ASSERT_NE(peer, -1);
    ASSERT_TRUE(sendAll(peer, message(Games::NickMessage, text("abc"))));
    ASSERT_TRUE(waitUntil([&] { return *listener.state.ready; }));
    EXPECT_EQ(*listener.state.remoteNick, "abc");
    EXPECT_EQ(listener.peerName(), "127.0.0.1");
    // The server socket is gone: nobody else can connect.
    EXPECT_TRUE(refused(kPort));
    EXPECT_FALSE(*listener.state.newData || *listener.state.localInterrupt ||
                 *listener.state.remoteInterrupt);
    Platform::closeSocket(peer);
    listener.stop();
    std::string err = capture.take();
    EXPECT_EQ(countLines(err, "Listner: accepted socket from 127.0.0.1"), 1);
    EXPECT_EQ(countLines(err, "Listener: recieved message: type 0 size: 3"), 1);
}

TEST(ListenerTest, ScreenedListenerTakesOnlyAnAdmittedAddress) {
    constexpr unsigned kPort = 24249;
    StderrCapture capture;
    System::Listener listener;
    listener.setup(kPort, kCells, 1, true);
    listener.admit("127.0.0.2");
    listener.open();
    listener.start(nullptr);
    // A stranger's nick and board are never read: its connection closes, and the port waits on.
    for (int i = 0; i < 3; i++) {
        int stranger = connectLoopback(kPort);
        ASSERT_NE(stranger, -1);
        sendAll(stranger, message(Games::NickMessage, text("eve")) +
                              message(Games::DataMessage, board({{0, 1}})));
        EXPECT_TRUE(closedByPeer(stranger));
        Platform::closeSocket(stranger);
    }
    EXPECT_FALSE(*listener.state.ready);
    listener.admit("127.0.0.1");
    int peer = connectLoopback(kPort);
    ASSERT_TRUE(sendAll(peer, message(Games::NickMessage, text("abc"))));
    ASSERT_TRUE(waitUntil([&] { return *listener.state.ready; }));
    EXPECT_EQ(*listener.state.remoteNick, "abc");
    EXPECT_EQ(bufferOf(listener.state), Bytes(kCells, 0));
    Platform::closeSocket(peer);
    listener.stop();
    std::string err = capture.take();
    EXPECT_EQ(countLines(err, "Listener: refused connection from 127.0.0.1"), 3);
    EXPECT_EQ(countLines(err, "Listner: accepted socket from 127.0.0.1"), 1);
    EXPECT_EQ(countLines(err, "Listener: recieved message: type 0 size: 3"), 1);
}

TEST(ListenerTest, NickVariants) {
    Link link(24201);
    Games::GameState& state = link.state();
    ASSERT_TRUE(link.sendUntilReady(message(Games::NickMessage, {})));
    EXPECT_EQ(*state.remoteNick, "");
    // A zero byte ends the text.
    ASSERT_TRUE(link.send(message(Games::NickMessage, text(std::string("ab\0cd", 5)))));
    ASSERT_TRUE(waitUntil([&] { return *state.remoteNick == "ab"; }));
    // The longest nick taken.
    std::string longest(64, 'n');
    ASSERT_TRUE(link.send(message(Games::NickMessage, text(longest))));
    ASSERT_TRUE(waitUntil([&] { return *state.remoteNick == longest; }));
    EXPECT_EQ(*state.failure, "");
    std::string err = link.trace();
    EXPECT_EQ(countLines(err, "Listener: recieved message: type 0 size: 0"), 1);
    EXPECT_EQ(countLines(err, "Listener: recieved message: type 0 size: 5"), 1);
    EXPECT_EQ(countLines(err, "Listener: recieved message: type 0 size: 64"), 1);
}

TEST(ListenerTest, BoardsAreStoredAndAWinningBoardEndsTheLoop) {
    Link link(24202);
    Games::GameState& state = link.state();
    Bytes first = board({{0, 1}});
    ASSERT_TRUE(
        link.send(message(Games::NickMessage, text("p")) + message(Games::DataMessage, first)));
    ASSERT_TRUE(waitUntil([&] { return *state.newData; }));
    EXPECT_EQ(bufferOf(state), first);
    EXPECT_FALSE(*state.localInterrupt);

    Bytes taken(kCells);
    state.getData(taken.data());
    EXPECT_EQ(taken, first);
    EXPECT_FALSE(*state.newData);

    // Five in a row for player two.
    Bytes won = board({{0, 1}, {1, 1}, {16, 2}, {17, 2}, {18, 2}, {19, 2}, {20, 2}});
    ASSERT_TRUE(link.send(message(Games::DataMessage, won)));
    ASSERT_TRUE(waitUntil([&] { return *state.newData; }));
    EXPECT_TRUE(*state.localInterrupt);
    EXPECT_EQ(bufferOf(state), won);
    // The loop has ended and the connection is closed; nothing went wrong.
    EXPECT_TRUE(closedByPeer(link.peer));
    EXPECT_FALSE(*state.remoteInterrupt);
    EXPECT_EQ(*state.failure, "");
    std::string err = link.trace();
    EXPECT_EQ(countLines(err, "Listener: recieved message: type 1 size: 256"), 2);
}

TEST(ListenerTest, InterruptEndsTheLoop) {
    Link link(24203);
    Games::GameState& state = link.state();
    ASSERT_TRUE(link.send(message(Games::NickMessage, text("p")) +
                          message(Games::InterruptMessage, text("bye"))));
    ASSERT_TRUE(waitUntil([&] { return *state.remoteInterrupt; }));
    EXPECT_TRUE(closedByPeer(link.peer));
    EXPECT_TRUE(*state.ready);
    EXPECT_FALSE(*state.localInterrupt || *state.newData);
    EXPECT_EQ(*state.failure, "");
    std::string err = link.trace();
    EXPECT_EQ(countLines(err, "Listener: Remote interrupt recieved"), 1);
    EXPECT_EQ(countLines(err, "Listener: recieved message: type 2 size: 3"), 1);
}

TEST(ListenerTest, UnknownTypesAreSkippedWhole) {
    Link link(24204);
    Games::GameState& state = link.state();
    // The payloads look like messages: they must be dropped, not decoded.
    Bytes disguised = message(Games::InterruptMessage, text("bye"));
    Bytes largest = disguised + Bytes(4096 - disguised.size(), 0);
    ASSERT_TRUE(link.send(message(7, {0x00, 0x01}) + message(200, largest) +
                          message(Games::NickMessage, text("next"))));
    ASSERT_TRUE(waitUntil([&] { return *state.ready; }));
    EXPECT_EQ(*state.remoteNick, "next");
    EXPECT_FALSE(*state.remoteInterrupt || *state.localInterrupt || *state.newData);
    EXPECT_EQ(bufferOf(state), Bytes(kCells, 0));
    std::string err = link.trace();
    EXPECT_EQ(countLines(err, "Listener: wrong message! "), 2);
    EXPECT_EQ(countLines(err, "Listener: recieved message: type 7 size: 2"), 1);
    EXPECT_EQ(countLines(err, "Listener: recieved message: type 200 size: 4096"), 1);
}

// The flag can only be set while the listener waits for the peer, not known to be waiting: now
// and then it still sees the flag right after the nick and ends there (the peer then finds the
// connection closed with the board unread). Such a try is made again on a link of its own; a
// listener that drops a message taken after the flag went up fails every try.
TEST(ListenerTest, FlagSetWhileWaitingTakesEffectAfterTheNextMessage) {
    Bytes cells = board({{5, 1}});
    bool taken = false;
    for (unsigned port = 24250; port < 24253 && !taken; port++) {
        Link link(port);
        Games::GameState& state = link.state();
        ASSERT_TRUE(link.sendUntilReady(message(Games::NickMessage, text("p"))));
        state.localInterrupt = true;
        link.send(message(Games::DataMessage, cells));
        // The loop ends either way; whatever it took is in the state by then.
        ASSERT_TRUE(closedByPeer(link.peer));
        taken = *state.newData;
        if (taken) {
            EXPECT_EQ(bufferOf(state), cells);
        }
        EXPECT_EQ(*state.failure, "");
        EXPECT_FALSE(*state.remoteInterrupt);
    }
    EXPECT_TRUE(taken);
}

// The same race as above: a try in which the loop ended on the flag before the close (no failure
// at all) is made again.
TEST(ListenerTest, PeerClosingAfterThisSideEndedIsNoInterrupt) {
    bool closeSeen = false;
    for (unsigned port = 24253; port < 24256 && !closeSeen; port++) {
        Link link(port);
        Games::GameState& state = link.state();
        ASSERT_TRUE(link.sendUntilReady(message(Games::NickMessage, text("p"))));
        state.localInterrupt = true;
        link.closePeer();
        ASSERT_TRUE(finishesWithin([&] { link.listener.wait4(); }));
        EXPECT_FALSE(*state.remoteInterrupt);
        std::string failure = *state.failure;
        std::string err = link.trace();
        closeSeen = !failure.empty();
        if (closeSeen) {
            EXPECT_EQ(failure, "Socket::get: connection closed by peer");
            EXPECT_EQ(countLines(err, "Listener: connection closed by peer"), 1);
        }
    }
    EXPECT_TRUE(closeSeen);
}

// A message the listener must refuse: the link fails with a text naming what was wrong, the
// game is ended from the peer's side, the connection is closed, and nothing of the message (or of
// what follows it) reaches the state.
struct Refusal {
    unsigned port;
    const char* name;
    Bytes bytes;
    std::string failure;
    bool peerCloses;
};

void PrintTo(const Refusal& refusal, std::ostream* os) {
    *os << refusal.name;
}

class RefusalTest : public testing::TestWithParam<Refusal> {};

TEST_P(RefusalTest, RefusesAndAppliesNothing) {
    const Refusal& refusal = GetParam();
    Link link(refusal.port);
    Games::GameState& state = link.state();
    Bytes late =
        message(Games::NickMessage, text("late")) + message(Games::DataMessage, board({{0, 1}}));
    ASSERT_TRUE(link.send(refusal.peerCloses ? refusal.bytes : refusal.bytes + late));
    if (refusal.peerCloses) {
        shutdownSending(link.peer);
    }
    ASSERT_TRUE(waitUntil([&] { return *state.remoteInterrupt; }));
    EXPECT_EQ(*state.failure, refusal.failure);
    EXPECT_TRUE(closedByPeer(link.peer));
    EXPECT_FALSE(*state.ready || *state.newData || *state.localInterrupt);
    EXPECT_EQ(*state.remoteNick, "");
    EXPECT_EQ(bufferOf(state), Bytes(kCells, 0));
    std::string err = link.trace();
    std::string line =
        refusal.peerCloses ? "Listener: connection closed by peer" : "Error: " + refusal.failure;
    EXPECT_EQ(countLines(err, line), 1) << err.substr(err.size() > 2000 ? err.size() - 2000 : 0);
}

Bytes cellsWith(int index, unsigned char value) {
    Bytes cells(kCells, 0);
    cells[index] = value;
    return cells;
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, RefusalTest,
    testing::Values(
        Refusal{24210u, "NickTooLong", message(Games::NickMessage, Bytes(65, 'x')),
                "Listener: refused nick message of 65 bytes (at most 64)", false},
        Refusal{24211u, "HugeNickLength", header(Games::NickMessage, 0xFFFFFFFFu),
                "Listener: refused nick message of 4294967295 bytes (at most 64)", false},
        Refusal{24212u, "ShortBoard", message(Games::DataMessage, Bytes(255, 0)),
                "Listener: refused data message of 255 bytes (a board has 256)", false},
        Refusal{24213u, "LongBoard", header(Games::DataMessage, 0x7FFFFFF0u),
                "Listener: refused data message of 2147483632 bytes (a board has "
                "256)",
                false},
        Refusal{24214u, "CellSeven", message(Games::DataMessage, cellsWith(3, 7)),
                "Listener: refused data message: cell 3 holds 7, not 0, 1 or 2", false},
        Refusal{24215u, "UnknownTooLong", message(9, Bytes(4097, 0)),
                "Listener: refused message of type 9 and 4097 bytes (at most 4096)", false},
        Refusal{24216u, "HugeInterrupt", header(Games::InterruptMessage, 1u << 30),
                "Listener: refused message of type 2 and 1073741824 bytes "
                "(at most 4096)",
                false},
        Refusal{24217u, "ClosedInTheLength", Bytes{Games::NickMessage, 0, 0},
                "Socket::get: connection closed by peer", true},
        Refusal{24218u, "ClosedInThePayload", header(Games::DataMessage, kCells) + Bytes(100, 1),
                "Socket::get: connection closed by peer", true},
        Refusal{24219u, "ClosedBeforeAnyMessage", Bytes{}, "Socket::get: connection closed by peer",
                true}),
    [](const testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// With the peer's player known, each board must be the last one plus one mark of the peer, in
// the peer's turn.
struct MoveCase {
    unsigned port;
    const char* name;
    unsigned char peerPlayer;
    Bytes lastBoard;
    Bytes peerBoard;
    bool accepted;
};

void PrintTo(const MoveCase& move, std::ostream* os) {
    *os << move.name;
}

class MoveTest : public testing::TestWithParam<MoveCase> {};

TEST_P(MoveTest, ChecksTheMove) {
    const MoveCase& move = GetParam();
    Link link(move.port, move.peerPlayer);
    Games::GameState& state = link.state();
    localMove(state, move.lastBoard);
    ASSERT_TRUE(link.send(message(Games::DataMessage, move.peerBoard)));
    if (move.accepted) {
        ASSERT_TRUE(waitUntil([&] { return *state.newData; }));
        EXPECT_EQ(bufferOf(state), move.peerBoard);
        EXPECT_EQ(*state.failure, "");
        EXPECT_FALSE(*state.remoteInterrupt);
    } else {
        ASSERT_TRUE(waitUntil([&] { return *state.remoteInterrupt; }));
        EXPECT_NE(state.failure.get().find("Listener: refused data message: "), std::string::npos)
            << *state.failure;
        EXPECT_FALSE(*state.newData);
        EXPECT_EQ(bufferOf(state), move.lastBoard);
        EXPECT_TRUE(closedByPeer(link.peer));
    }
}

INSTANTIATE_TEST_SUITE_P(
    PeerPlayer, MoveTest,
    testing::Values(
        MoveCase{24230u, "FirstMoveOfPlayerOne", 1, board({}), board({{40, 1}}), true},
        MoveCase{24231u, "AnswerOfPlayerTwo", 2, board({{40, 1}}), board({{40, 1}, {41, 2}}), true},
        MoveCase{24232u, "TwoMovesInOneMessage", 1, board({}), board({{40, 1}, {41, 1}}), false},
        MoveCase{24233u, "MoveOutOfTurn", 2, board({}), board({{41, 2}}), false},
        MoveCase{24234u, "SecondMoveBeforeTheAnswer", 2, board({{40, 1}, {41, 2}}),
                 board({{40, 1}, {41, 2}, {42, 2}}), false},
        MoveCase{24235u, "OverwritesAMark", 2, board({{40, 1}}), board({{40, 2}}), false},
        MoveCase{24236u, "RemovesAMark", 2, board({{40, 1}, {50, 1}, {41, 2}}),
                 board({{40, 1}, {41, 2}, {42, 2}}), false},
        MoveCase{24237u, "MarkOfTheWrongPlayer", 1, board({}), board({{40, 2}}), false},
        MoveCase{24238u, "SameBoardAgain", 2, board({{40, 1}}), board({{40, 1}}), false}),
    [](const testing::TestParamInfo<MoveCase>& info) { return std::string(info.param.name); });

TEST(ListenerTest, StopEndsAWaitInTheAcceptPromptly) {
    constexpr unsigned kPort = 24240;
    StderrCapture capture;
    // Static: a stop that hangs must not leave the thread with a destroyed listener.
    static System::Listener listener(kPort, kCells);
    listener.open();
    listener.start(nullptr);
    ASSERT_TRUE(finishesWithin([] { listener.stop(); }, std::chrono::seconds(1)));
    // Ended quietly, and the port is free for the next game.
    EXPECT_EQ(*listener.state.failure, "");
    EXPECT_FALSE(*listener.state.remoteInterrupt);
    EXPECT_TRUE(refused(kPort));
    listener.stop();
    listener.setup(kPort, kCells);
    EXPECT_NO_THROW(listener.open());
    listener.stop();
    // The same for a listener that takes its master alone, whom nobody has named yet.
    listener.setup(kPort, kCells, 1, true);
    listener.open();
    listener.start(nullptr);
    ASSERT_TRUE(finishesWithin([] { listener.stop(); }, std::chrono::seconds(1)));
    std::string err = capture.take();
    EXPECT_EQ(countLines(err, "Listener: connection closed by peer"), 0);
    EXPECT_EQ(countLines(err, "Listener: refused connection from 127.0.0.1"), 0);
}

TEST(ListenerTest, StopEndsAWaitInAReadPromptly) {
    Link link(24241);
    Games::GameState& state = link.state();
    // Half a message: the listener waits in the middle of it.
    ASSERT_TRUE(
        link.sendUntilReady(message(Games::NickMessage, text("p")) + Bytes{Games::DataMessage}));
    System::Listener* listener = &link.listener;
    ASSERT_TRUE(finishesWithin([listener] { listener->stop(); }, std::chrono::seconds(1)));
    EXPECT_EQ(*state.failure, "");
    EXPECT_FALSE(*state.remoteInterrupt || *state.newData);
    EXPECT_TRUE(closedByPeer(link.peer));
}

TEST(ListenerTest, StopWithoutStartClosesTheOpenedPort) {
    constexpr unsigned kPort = 24242;
    System::Listener unset;
    EXPECT_TRUE(finishesWithin([&unset] { unset.stop(); }));
    System::Listener listener(kPort, kCells);
    listener.open();
    EXPECT_FALSE(refused(kPort));
    ASSERT_TRUE(finishesWithin([&listener] { listener.stop(); }));
    EXPECT_TRUE(refused(kPort));
}

TEST(ListenerTest, DestroyingAWaitingListenerStopsIt) {
    constexpr unsigned kPort = 24243;
    ASSERT_TRUE(finishesWithin([] {
        System::Listener listener(kPort, kCells);
        listener.open();
        listener.start(nullptr);
    }));
    EXPECT_TRUE(refused(kPort));
}

TEST(ListenerTest, TakenPortIsReportedToTheOpener) {
    constexpr unsigned kPort = 24244;
    Net::ServerSocket blocker(kPort);
    System::Listener listener(kPort, kCells);
    try {
        listener.open();
        ADD_FAILURE() << "opened a taken port";
    } catch (Net::ConnectionException& e) {
        EXPECT_EQ(e.message(), "ServerSocket: cannot bind to port " + std::to_string(kPort) +
                                   " - " + Platform::errorText(kAddressInUse));
    }
    blocker.destroy();
}

TEST(ListenerTest, TakenPortOnTheThreadBecomesAFailure) {
    constexpr unsigned kPort = 24245;
    StderrCapture capture;
    Net::ServerSocket blocker(kPort);
    System::Listener listener(kPort, kCells);
    listener.start(nullptr);
    ASSERT_TRUE(waitUntil([&] { return *listener.state.remoteInterrupt; }));
    std::string expected = "ServerSocket: cannot bind to port " + std::to_string(kPort) + " - " +
                           Platform::errorText(kAddressInUse);
    EXPECT_EQ(*listener.state.failure, expected);
    listener.stop();
    blocker.destroy();
    EXPECT_EQ(countLines(capture.take(), "Error: " + expected), 1);
}

TEST(ListenerTest, SetupRebuildsAUsedListener) {
    Link link(24246);
    ASSERT_TRUE(link.send(message(Games::NickMessage, text("p")) +
                          message(Games::DataMessage, board({{3, 1}}))));
    ASSERT_TRUE(waitUntil([&] { return *link.state().newData; }));
    link.closePeer();
    link.listener.setup(24247, 100);
    Games::GameState& state = link.state();
    EXPECT_EQ(state.getDataSize(), 100);
    EXPECT_EQ(bufferOf(state), Bytes(100, 0));
    EXPECT_FALSE(*state.ready || *state.newData || *state.remoteInterrupt);
    EXPECT_EQ(*state.remoteNick + *state.failure, "");
    link.listener.open();
    link.listener.start(nullptr);
    link.peer = connectLoopback(24247);
    ASSERT_TRUE(link.sendUntilReady(message(Games::NickMessage, text("again"))));
    EXPECT_EQ(*state.remoteNick, "again");
}

TEST(ListenerTest, EveryDescriptorIsClosedWhereverTheListenerEnds) {
    constexpr unsigned kPort = 24248;
    StderrCapture capture;
    int before = openDescriptors();
    if (before < 0) {
        GTEST_SKIP() << "the system does not count open descriptors";
    }
    {
        System::Listener listener(kPort, kCells);
        // Opened, never started; then stopped in the accept.
        listener.open();
        listener.stop();
        listener.setup(kPort, kCells);
        listener.open();
        listener.start(nullptr);
        listener.stop();
        // Stopped in a read, on a port the thread opened itself.
        listener.setup(kPort, kCells);
        listener.start(nullptr);
        int peer = connectLoopback(kPort);
        EXPECT_TRUE(sendAll(peer, message(Games::NickMessage, text("p"))));
        EXPECT_TRUE(waitUntil([&] { return *listener.state.ready; }));
        listener.stop();
        Platform::closeSocket(peer);
        // The port taken, for the opener and for the thread.
        Net::ServerSocket blocker(kPort);
        listener.setup(kPort, kCells);
        EXPECT_THROW(listener.open(), Net::ConnectionException);
        listener.start(nullptr);
        EXPECT_TRUE(waitUntil([&] { return *listener.state.remoteInterrupt; }));
        blocker.destroy();
        // Destroyed while in the accept.
        listener.setup(kPort, kCells);
        listener.open();
        listener.start(nullptr);
    }
    EXPECT_EQ(openDescriptors(), before);
}
