// The network games: a game whose two players sit at two machines, its turns, and the set-up of
// each side (master and slave). Main thread only, apart from the listener thread each game owns.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "game.h"
#include "listener.h"
#include "net_beacon.h"
#include "net_dialer.h"
#include "net_host.h"
#include "net_port_mapping.h"
#include "net_socket.h"
#include "slave_port.h"

namespace Games {

// The TCP ports the master and the slave listen on.
constexpr unsigned kMasterPort = 31211;
constexpr unsigned kSlavePort = 31212;

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
    // The program is ending during a turn: a game still in progress ends here, and the peer is
    // told, so that its game ends at once too.
    void abandon() override;

    // Builds the listener for port and a board of size cells, its socket listening on return,
    // and starts its thread. peerPlayer is the number the peer plays, for checking its moves;
    // screened, whether only the addresses admitted to the listener may connect.
    void startListener(unsigned port, unsigned size, unsigned char peerPlayer,
                       bool screened = false);
    // Shows "Waiting for connection" until the peer's nick has arrived (true) or Escape is pressed
    // (false). Throws Net::ConnectionException when the listener ended before the nick came, or
    // when the peer left the connection this side has opened to it. A master gives its beacon:
    // the wait answers the slaves' queries meanwhile, and shows where the master may be joined.
    bool waitForPeer(System::EscapeKey& escape, Net::Beacon* beacon = nullptr);
    // Shows "Waiting for connection" while dialer looks the peer up and connects, then admits
    // the peer's address to the listener and sends nick on the connection: true once sent,
    // false when Escape abandoned the connect. With port, the nick also waits for the router's
    // answer about it, at most SlavePort::kGrace from the call. A failure is a
    // Net::ConnectionException.
    bool connectAndAnnounce(Net::Dialer& dialer, const std::string& nick, System::EscapeKey& escape,
                            SlavePort* port = nullptr);
    // Draws what the router in front of this side opened for the peer, if anything, under the
    // waiting screen's notice.
    virtual void drawPortLine() {}

    System::Listener listener;
    // This side's outgoing connection, from the dialer of the set-up; closed with the game.
    Net::SocketOwner socket;

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
    void drawPortLine() override;

private:
    // The router's forwarding of the master's port, while the master waits for a slave.
    std::unique_ptr<Net::PortMapping> mapping;
};

// Connects to a master, waits for its connection back on kSlavePort, and plays player two.
class SlaveGame : public NetworkGame {
public:
    // host is what the player typed or chose; ways, when not empty, the master's addresses to
    // try in turn instead of host's (a master listed on several networks; their ports are
    // replaced by the master's). Only the master may connect back: from the address dialled,
    // or one of ways. port, made for host and ways, is given up once the master has connected
    // back or the set-up has ended otherwise.
    SlaveGame(std::string nick, std::string host, unsigned size,
              const std::vector<Net::Host>& ways = {}, std::unique_ptr<SlavePort> port = nullptr);
    ~SlaveGame() override;

protected:
    bool playerOne() override;
    bool playerTwo() override;
    void drawPortLine() override;

private:
    std::unique_ptr<SlavePort> port;
};

}  // namespace Games
