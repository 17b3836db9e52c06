// The turns of a network game, played against the test as the peer over loopback: what a local
// move sends, what a remote move loads, and how either side's end, a refused board or a vanished
// peer ends a turn. The screen and the input are stand-ins, driven frame by frame.
#include <allegro.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "allegro_fixture.h"
#include "layout.h"
#include "net_stdafx.h"
#include "network_game.h"
#include "peer_helpers.h"
#include "platform.h"

using namespace Testing;

namespace {

// Ports of these tests only: the game's listener, and the test's own for the game's socket.
constexpr unsigned kGamePort = 24411;
constexpr unsigned kPeerPort = 24412;
constexpr unsigned char kMe = 1;
constexpr unsigned char kPeer = 2;

// Cell (c, r) of the game board: its centre pixel and its index.
int centreX(int c) {
    return Layout::kBoardX + Layout::kCellSize * c + Layout::kCellSize / 2;
}
int centreY(int r) {
    return Layout::kBoardY + Layout::kCellSize * r + Layout::kCellSize / 2;
}
int cell(int c, int r) {
    return c + Layout::kCells * r;
}

// A network game whose peer is the test: player kMe here, kPeer there.
class LinkedGame : public Games::NetworkGame {
public:
    LinkedGame() {
        startListener(kGamePort, 256, kPeer);
        socket = Net::SocketOwner(Net::ClientSocket(Net::Host("127.0.0.1", kPeerPort)));
        running = true;
    }
    using NetworkGame::isInterrupted;
    using NetworkGame::localPlayer;
    using NetworkGame::remotePlayer;
    using NetworkGame::run;
    unsigned char* cells() { return board->getData(); }
    Games::GameState& state() { return listener.state; }

protected:
    bool playerOne() override { return localPlayer(kMe); }
    bool playerTwo() override { return remotePlayer(kPeer); }
};

class NetworkGameTest : public ::testing::Test {
protected:
    void SetUp() override {
        mouse_b = 0;
        mouse_x = 0;
        mouse_y = 0;
        key[KEY_ESC] = 0;
        fake = std::make_unique<FakeScreen>(20000);
        int server = listenLoopback(kPeerPort);
        ASSERT_NE(server, -1) << "port " << kPeerPort << " is taken";
        game = std::make_unique<LinkedGame>();
        fromGame = static_cast<int>(accept(server, nullptr, nullptr));
        Platform::closeSocket(server);
        toGame = connectLoopback(kGamePort);
        ASSERT_NE(fromGame, -1);
        ASSERT_NE(toGame, -1);
    }

    void TearDown() override {
        game.reset();
        closeFd(fromGame);
        closeFd(toGame);
        fake.reset();
        key[KEY_ESC] = 0;
        mouse_b = 0;
    }

    static void closeFd(int& fd) {
        if (fd != -1) {
            Platform::closeSocket(fd);
            fd = -1;
        }
    }

    // Clicks cell (c, r) once the turn has drawn a frame with the button up; `also` runs on every
    // frame.
    void clickOnFrame(
        int c, int r, std::function<void()> also = [] {}) {
        int start = fake->frames();
        fake->onFrame([c, r, start, also](int frame) {
            mouse_x = centreX(c);
            mouse_y = centreY(r);
            mouse_b = frame - start >= 2 ? 1 : 0;
            also();
        });
    }

    // The game's move at (c, r) on `board`, with the bytes it sends checked.
    void playLocal(int c, int r) {
        clickOnFrame(c, r);
        ASSERT_TRUE(game->localPlayer(kMe));
        mouse_b = 0;
        board[cell(c, r)] = kMe;
        EXPECT_EQ(receive(fromGame, 261), message(Games::DataMessage, board));
    }

    // The peer's move at (c, r) on `board`, sent and then taken by the game's remote turn.
    void playRemote(int c, int r) {
        board[cell(c, r)] = kPeer;
        ASSERT_TRUE(sendAll(toGame, message(Games::DataMessage, board)));
        EXPECT_EQ(remoteTurn(true), "");
    }

    // The game's run() from its local turn, which clicks (c, r); once that board has come, the
    // peer sends `answer`. A key ends the end screen: Space, typed at every frame from then on, as
    // the end screen counts only the keys typed once it shows. Returns run()'s result.
    int runUntilAnswered(int c, int r, const Bytes& answer) {
        ScriptedKeyboard keys;
        bool answered = false;
        clickOnFrame(c, r, [&] {
            if (answered) {
                keys.typeNow({KEY_SPACE << 8 | ' '});
            } else if (!nothingPending(fromGame)) {
                receive(fromGame, 261);
                answered = sendAll(toGame, answer);
            }
        });
        int result = 0;
        stdoutOf([&] { result = game->run(); });
        EXPECT_TRUE(answered);
        return result;
    }

    // Runs the remote turn, which must go on (true) or end the game (false); gives what it wrote
    // on standard output.
    std::string remoteTurn(bool goesOn) {
        bool result = !goesOn;
        std::string out = stdoutOf([&] { result = game->remotePlayer(kPeer); });
        EXPECT_EQ(result, goesOn);
        return out;
    }

    // The game's first move, at (0, 0), and the peer's answer at (1, 0), which the listener has
    // taken but the game has not loaded yet.
    void answerWaiting() {
        playLocal(0, 0);
        board[cell(1, 0)] = kPeer;
        ASSERT_TRUE(sendAll(toGame, message(Games::DataMessage, board)));
        ASSERT_TRUE(waitUntil([&] { return *game->state().newData; }));
    }

    std::unique_ptr<FakeScreen> fake;
    std::unique_ptr<LinkedGame> game;
    Bytes board = Bytes(256, 0);  // the board as the peer sees it
    int fromGame = -1;            // the game's outgoing connection, as the peer reads it
    int toGame = -1;              // the peer's connection to the game's listener
};

TEST_F(NetworkGameTest, LocalMoveGoesIntoTheSharedBufferAndToThePeer) {
    playLocal(3, 4);
    EXPECT_EQ(bufferOf(game->state()), board);
    // Copied directly: the peer's mailbox flag is not touched.
    EXPECT_FALSE(*game->state().newData);
    EXPECT_FALSE(game->isInterrupted());
}

TEST_F(NetworkGameTest, ClicksOffTheGridOrOnATakenCellSendNothing) {
    playLocal(0, 0);
    // Peer's answer, so that it is this side's turn again.
    playRemote(1, 1);

    fake->onFrame([](int frame) {
        // Frames 2-20 press on the taken cell, 21-40 beside the grid, then on a free cell.
        mouse_b = frame % 2 == 0 ? 1 : 0;
        mouse_x = frame <= 20 ? centreX(0) : frame <= 40 ? 20 : centreX(5);
        mouse_y = frame <= 20 ? centreY(0) : frame <= 40 ? 20 : centreY(5);
    });
    ASSERT_TRUE(game->localPlayer(kMe));
    EXPECT_GT(fake->frames(), 40);
    board[cell(5, 5)] = kMe;
    EXPECT_EQ(receive(fromGame, 261), message(Games::DataMessage, board));
}

TEST_F(NetworkGameTest, AButtonHeldFromThePreviousTurnPlacesNoMark) {
    // Held over an empty cell from the start: nothing until it has been seen up.
    mouse_b = 1;
    fake->onFrame([](int frame) {
        mouse_x = centreX(frame < 10 ? 7 : 8);
        mouse_y = centreY(7);
        mouse_b = frame == 10 ? 0 : 1;
    });
    ASSERT_TRUE(game->localPlayer(kMe));
    board[cell(8, 7)] = kMe;
    EXPECT_EQ(receive(fromGame, 261), message(Games::DataMessage, board));
}

TEST_F(NetworkGameTest, EscapeInALocalTurnTellsThePeerWithoutATraceLine) {
    key[KEY_ESC] = 1;
    std::string err = stderrOf([&] { EXPECT_FALSE(game->localPlayer(kMe)); });
    EXPECT_EQ(countLines(err, "NetworkGame::localPlayer interrupt"), 0);
    EXPECT_EQ(receive(fromGame, 8), message(Games::InterruptMessage, text("bye")));
    EXPECT_TRUE(*game->state().localInterrupt);
    EXPECT_TRUE(game->isInterrupted());
}

TEST_F(NetworkGameTest, RemoteMoveIsLoadedIntoTheBoard) {
    playLocal(0, 0);
    playRemote(15, 15);
    EXPECT_EQ(Bytes(game->cells(), game->cells() + 256), board);
    EXPECT_FALSE(*game->state().newData);
    EXPECT_FALSE(game->isInterrupted());
}

TEST_F(NetworkGameTest, AWinningRemoteMoveEndsTheGameRightAfterLoadingIt) {
    for (int i = 0; i < 4; i++) {
        playLocal(i, 0);
        playRemote(i, 1);
    }
    EXPECT_FALSE(game->isInterrupted());
    playLocal(15, 15);
    playRemote(4, 1);
    EXPECT_TRUE(game->isInterrupted());
    EXPECT_EQ(Bytes(game->cells(), game->cells() + 256), board);
}

TEST_F(NetworkGameTest, TheLosingSideShowsTheWinnerAndItsLine) {
    for (int i = 0; i < 4; i++) {
        playLocal(i, 0);
        playRemote(i, 1);
    }
    board[cell(15, 15)] = kMe;
    board[cell(4, 1)] = kPeer;
    EXPECT_EQ(runUntilAnswered(15, 15, message(Games::DataMessage, board)), kPeer);
    // The end screen's red line over the peer's five in row 1, from (0, 1) to (4, 1).
    for (int c = 0; c < 5; c++) {
        EXPECT_EQ(pixel(screen, centreX(c), centreY(1)), (Rgb{255, 0, 0})) << "cell " << c;
    }
}

TEST_F(NetworkGameTest, ThePeersEscapeAfterABoardWithoutALineIsAnInterrupt) {
    playLocal(0, 0);
    playRemote(0, 1);
    board[cell(1, 0)] = kMe;
    Bytes answer = board;
    answer[cell(1, 1)] = kPeer;
    EXPECT_EQ(runUntilAnswered(1, 0,
                               message(Games::DataMessage, answer) +
                                   message(Games::InterruptMessage, text("bye"))),
              -1);
    EXPECT_EQ(pixel(screen, centreX(0), centreY(1)), (Rgb{255, 255, 255}));
}

TEST_F(NetworkGameTest, PeerInterruptEndsEitherTurn) {
    ASSERT_TRUE(sendAll(toGame, message(Games::InterruptMessage, text("bye"))));
    EXPECT_EQ(remoteTurn(false), "Remote interrupt\n");
    EXPECT_TRUE(game->isInterrupted());

    std::string err = stderrOf([&] { EXPECT_FALSE(game->localPlayer(kMe)); });
    EXPECT_EQ(countLines(err, "NetworkGame::localPlayer interrupt"), 1);
    EXPECT_TRUE(nothingPending(fromGame));
}

TEST_F(NetworkGameTest, PeerInterruptWinsOverANewBoard) {
    ASSERT_NO_FATAL_FAILURE(answerWaiting());
    game->state().remoteInterrupt = true;
    EXPECT_EQ(remoteTurn(false), "Remote interrupt\n");
    EXPECT_EQ(game->cells()[cell(1, 0)], 0) << "the board was loaded";
}

TEST_F(NetworkGameTest, EscapeInARemoteTurnWinsOverANewBoard) {
    ASSERT_NO_FATAL_FAILURE(answerWaiting());
    key[KEY_ESC] = 1;
    EXPECT_EQ(remoteTurn(false), "Local interrupt\n");
    EXPECT_EQ(receive(fromGame, 8), message(Games::InterruptMessage, text("bye")));
    EXPECT_TRUE(*game->state().localInterrupt);
}

TEST_F(NetworkGameTest, APeerThatVanishesEndsTheRemoteTurn) {
    closeFd(toGame);
    closeFd(fromGame);
    EXPECT_EQ(remoteTurn(false), "Remote interrupt\n");
    EXPECT_TRUE(game->isInterrupted());
}

TEST_F(NetworkGameTest, ARefusedBoardEndsTheGameAndLeavesTheBoardAsItWas) {
    playLocal(0, 0);
    Bytes cheat = board;
    cheat[cell(1, 0)] = kPeer;
    cheat[cell(2, 0)] = kPeer;
    ASSERT_TRUE(sendAll(toGame, message(Games::DataMessage, cheat)));
    EXPECT_EQ(remoteTurn(false), "Remote interrupt\n");
    EXPECT_EQ(Bytes(game->cells(), game->cells() + 256), board);
    EXPECT_NE(*game->state().failure, "");
}

TEST_F(NetworkGameTest, AFailedSendEndsTheGameAsInterruptedInsteadOfTheProgram) {
    // The peer stops reading this side's connection but keeps its own open: only the send can
    // tell that it has gone.
    closeFd(fromGame);
    clickOnFrame(2, 2);
    std::string err = stderrOf([&] { EXPECT_FALSE(game->localPlayer(kMe)); });
    EXPECT_TRUE(game->isInterrupted());
    EXPECT_NE(err.find("Error: Socket::write() error no. "), std::string::npos);
}

TEST_F(NetworkGameTest, DestroyingTheGameEndsItsListenerAndFreesItsPort) {
    game.reset();
    EXPECT_TRUE(closedByPeer(fromGame)) << "the game's connection stays open";
    EXPECT_TRUE(refused(kGamePort));
    // A new game can listen on the same port at once.
    int server = listenLoopback(kPeerPort);
    ASSERT_NE(server, -1);
    EXPECT_NO_THROW(game = std::make_unique<LinkedGame>());
    Platform::closeSocket(server);
}

}  // namespace
