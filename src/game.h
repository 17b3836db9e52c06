// The games: the turn loop shared by every game, the hot-seat game, and the network games with the
// state their two threads share, the peer messages and the listener thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "board.h"
#include "net_socket.h"
#include "thread.h"

namespace Games {

// A two-player game on a 16 x 16 board. Subclasses say who the players are; run() alternates
// them, player one first, and shows the end screen. Main thread only.
class Game {
public:
    Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;
    // Plays the game to its end and waits for a key on the end screen. Returns -1 when the game
    // was not set up or was interrupted, 0 when a player ended it without a winner, else the
    // winner.
    virtual int run();

protected:
    // Destroyed only as the subclass it is; never through a Game pointer.
    ~Game();

    // One turn of player one (two): true once the mark is on the board, false to end the game.
    virtual bool playerOne() = 0;
    virtual bool playerTwo() = 0;
    // Told once, at the very end of run(), that the game is over.
    virtual void interrupt();
    virtual bool isInterrupted() = 0;

    bool running;
    Board* board;
};

// Both players at this machine, taking turns with the mouse.
class LocalGame : public Game {
public:
    LocalGame();

protected:
    bool playerOne() override;
    bool playerTwo() override;
    bool isInterrupted() override;
    // One turn of player pl: true once a mark is placed, false on Escape.
    bool playerMove(unsigned char pl);
};

}  // namespace Games

// ---- Network games: the shared state, the peer messages and the listener thread ----

namespace Games {

// The type byte of a peer message. On the wire a message is this byte, the payload's length as an
// unsigned 32-bit count in network byte order, then the payload.
enum MessageType : unsigned char { NickMessage = 0, DataMessage = 1, InterruptMessage = 2 };

// What the game thread and the listener thread of a network game share. Every member that changes
// while both run is guarded on its own; the cell buffer's bytes are guarded by the mutex of data.
// Built in place and never copied; the buffer is released with the state.
class GameState {
public:
    // A placeholder without a buffer (size 0): all flags false, nicks empty.
    GameState();
    // A zeroed buffer of size cells, all flags false, nicks empty.
    explicit GameState(int size);
    GameState(const GameState&) = delete;
    GameState& operator=(const GameState&) = delete;
    ~GameState();

    // Builds the state anew for size cells, as the sized constructor does. Only while no other
    // thread uses the state.
    void reset(int size);
    // Copies the buffer into ptr (at least getDataSize() bytes), tracing the cells on standard
    // error, then clears newData.
    void getData(unsigned char* ptr);
    // Copies getDataSize() bytes from ptr into the buffer, then raises newData.
    void setData(const unsigned char* ptr);
    // Writes the whole state to standard output (a diagnostic; not a consistent snapshot).
    void print();
    // Writes one message of the given type built from this state (localNick, the buffer, or
    // "bye") to socket; an unknown type writes nothing and is traced. Game thread only. Throws
    // System::Exception when a write fails.
    void sendMessage(Net::Socket socket, unsigned char type);
    int getDataSize() const { return dataSize; }

private:
    int dataSize;

public:
    System::Mutexed<unsigned char*> data;
    // This side's game is over (Escape here, the game's end, or a received winning board).
    System::Mutexed<bool> localInterrupt;
    // The peer has left: its interrupt message came, or the link failed.
    System::Mutexed<bool> remoteInterrupt;
    System::Mutexed<std::string> localNick;
    System::Mutexed<std::string> remoteNick;
    // A peer board is in the buffer and not yet taken.
    System::Mutexed<bool> newData;
    // The peer's nick has come.
    System::Mutexed<bool> ready;
    // Empty while the link is healthy; else why the listener thread ended (an error, the
    // connection closed, or a message refused).
    System::Mutexed<std::string> failure;
};

}  // namespace Games

namespace System {

// The receiving half of a network game's link: a thread that listens on a port, accepts exactly
// one connection and reads the peer's messages into state until an interrupt flag is up. Errors
// on the thread never leave it: they are written to standard error and put into state.failure,
// and remoteInterrupt is raised unless this side's game is already over. The owner stops the
// thread with stop() (also done by the destructor) before the state goes.
class Listener : public Thread {
public:
    // Not set up: port 0, no buffer. setup() before start().
    Listener();
    Listener(unsigned port, int size);
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    // Stops the thread first.
    ~Listener();

    // Stops the thread if it runs, then builds the listener anew for port and a board of size
    // cells. peerPlayer (1 or 2) makes every received board be checked as one move of that
    // player in turn; 0 checks only the board's size and cell values.
    void setup(unsigned port, int size, unsigned char peerPlayer = 0);
    // Opens the listening socket on the caller's thread, before start(), so that a taken port is
    // reported at once and a peer can connect as soon as this returns. Throws
    // Net::ConnectionException. Optional: the thread opens the socket itself otherwise.
    void open();
    // Wakes the thread from its accept or read, joins it and closes both sockets. Idempotent;
    // safe when never started. Owner's thread only.
    void stop();
    // The dotted address of the accepted peer, or "[error get peer name]" before the accept.
    std::string peerName();

private:
    Net::AcceptedSocket socket;
    unsigned port;
    int size;

public:
    Games::GameState state;

protected:
    void* tmain(void* args) override;
    // Reads and handles one message. Throws System::Exception when the message is refused (it
    // is then not applied at all) or the connection fails.
    void dispatchMessage();
    // Reads messages from connection until an interrupt flag is up or the link fails, then closes
    // it. The second half of tmain, after the accept.
    void serve(Net::AcceptedSocket connection);

private:
    // Opens the server socket unless the owner has, and waits for the peer.
    Net::AcceptedSocket acceptPeer();
    // Makes connection the listener's own, unless the owner is stopping (it is then closed).
    bool adopt(Net::AcceptedSocket connection);
    bool isStopping();
    // Runs work; an exception from it ends up as a failure in state. False when one came.
    template <typename Work>
    bool guarded(Work work);
    void fail(System::Exception& e, bool closed);
    // Throws when a message of this type may not have this length; nothing is allocated before.
    void checkLength(unsigned char type, uint32_t length);
    // Throws unless cells (getDataSize() of them) form a board this listener may accept.
    void checkBoard(const unsigned char* cells);

    Net::ServerSocket server;
    // Guards the descriptors of server and socket and stopping, so that stop() never shuts down
    // a descriptor that the thread has closed meanwhile.
    std::mutex descriptors;
    bool stopping;
    unsigned char peerPlayer;
};

}  // namespace System

// ---- Network games: turns and set-up ----

namespace Games {

// A game whose two players sit at two machines. Each side holds a listener thread that reads the
// peer's messages into listener.state, and a client socket on which this side writes its own.
// Main thread only, apart from the listener thread it owns.
class NetworkGame : public Game {
public:
    NetworkGame();
    // Closes the outgoing connection, then stops and joins the listener thread before its state
    // goes, however the game ended (finished, abandoned while waiting, failed part-way).
    virtual ~NetworkGame();

protected:
    // One turn of the local player pl: true once the mark is placed and sent, false when the game
    // is to end (the peer interrupted or left, or Escape here).
    bool localPlayer(unsigned char pl);
    // Waits for the peer's board: true once it is loaded into the board, false when the game is to
    // end. pl is not used.
    bool remotePlayer(unsigned char pl);
    void interrupt() override;
    bool isInterrupted() override;

    // Builds the listener for port and a board of size cells, its socket listening on return,
    // and starts its thread. peerPlayer is the number the peer plays, for checking its moves.
    void startListener(unsigned port, unsigned size, unsigned char peerPlayer);
    // Shows "Waiting for connection" until the peer's nick has arrived (true) or Escape is down
    // (false). Throws Net::ConnectionException when the listener ended before the nick came.
    bool waitForPeer();
    // Connects to host and sends nick; a failure is a Net::ConnectionException.
    void connectAndAnnounce(const Net::Host& host, const std::string& nick);

    System::Listener listener;
    Net::ClientSocket socket;

private:
    // Sends a message during play; false, with the game marked as left by the peer, when the peer
    // has gone.
    bool send(unsigned char type);
    // Ends the game from this side: raises localInterrupt and tells the peer.
    void endHere();
};

// Waits for a slave on kMasterPort, connects back to it, and plays player one, moving first.
class MasterGame : public NetworkGame {
public:
    MasterGame(std::string nick, unsigned size);
    ~MasterGame() override;

protected:
    bool playerOne() override;
    bool playerTwo() override;
};

// Connects to a master, waits for its connection back on kSlavePort, and plays player two.
class SlaveGame : public NetworkGame {
public:
    SlaveGame(std::string nick, std::string host, unsigned size);
    ~SlaveGame() override;

protected:
    bool playerOne() override;
    bool playerTwo() override;
};

}  // namespace Games
