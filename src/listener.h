// The receiving half of a network game's link: the listener thread that accepts the peer's
// connection and reads its messages into the shared game state.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "game_state.h"
#include "net_socket.h"
#include "thread.h"

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
    // player in turn; 0 checks only the board's size and cell values. With screened, only a
    // connection from an admitted address is taken (see admit).
    void setup(unsigned port, int size, unsigned char peerPlayer = 0, bool screened = false);
    // Adds a dotted address from which a screened listener takes the connection; one from any
    // other is closed at once, unread, and the listener waits on. Any thread.
    void admit(const std::string& address);
    // Opens the listening socket on the caller's thread, before start(), so that a taken port is
    // reported at once and a peer can connect as soon as this returns. Throws
    // Net::ConnectionException. Optional: the thread opens the socket itself otherwise.
    void open();
    // Wakes the thread from its accept or read, joins it and closes both sockets. Idempotent;
    // safe when never started. Owner's thread only.
    void stop();
    // The dotted address of the accepted peer, or "[error get peer name]" before the accept.
    std::string peerName();
    // The accepted peer's address as the accept reported it (any port), valid once state.ready
    // is up, also after the connection has ended.
    Net::Host peerHost();

private:
    Net::Owner<Net::AcceptedSocket> socket;
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
    void serve(Net::Owner<Net::AcceptedSocket> connection);

private:
    // Opens the server socket unless the owner has, and waits for the peer.
    Net::Owner<Net::AcceptedSocket> acceptPeer();
    // Makes connection the listener's own, unless the owner is stopping (it is then closed).
    bool adopt(Net::Owner<Net::AcceptedSocket> connection);
    bool isStopping();
    // Whether a connection from host may be taken.
    bool admitted(const Net::Host& host);
    // Runs work; an exception from it ends up as a failure in state. False when one came.
    template <typename Work>
    bool guarded(Work work);
    void fail(System::Exception& e, bool closed);
    // Throws when a message of this type may not have this length; nothing is allocated before.
    void checkLength(unsigned char type, uint32_t length);
    // Throws unless cells (getDataSize() of them) form a board this listener may accept.
    void checkBoard(const unsigned char* cells);

    Net::Owner<Net::ServerSocket> server;
    // Guards server, socket and stopping, so that stop() never shuts down a descriptor that the
    // thread has closed meanwhile.
    std::mutex descriptors;
    bool stopping;
    unsigned char peerPlayer;
    // Guards the screen: the owner admits addresses while the thread waits for the peer.
    std::mutex screen;
    bool screened;
    std::vector<std::string> admittedAddresses;
};

}  // namespace System
