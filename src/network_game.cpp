// The network games' turns and the set-up of master and slave.
#include "network_game.h"

#include <allegro.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include "frame.h"
#include "net_interfaces.h"
#include "output_line.h"
#include "platform.h"
#include "system.h"
#include "text_entry.h"

namespace Games {

namespace {
const char* const kMasterNick = "Master";
// The master's addresses shown on its waiting screen at most: they must fit on one line.
constexpr size_t kJoinAddresses = 3;

// "Join at" and this machine's addresses, or "" where it has none to be joined at.
std::string joinAt() {
    std::string line;
    for (uint32_t a : Net::ownAddresses(Platform::interfaces(), kJoinAddresses)) {
        line += (line.empty() ? "Join at " : ", ") + Net::dotted(a);
    }
    return line;
}

// What the router opened for a master, or "" while that is not known.
std::string internetLine(const Net::PortMapping& mapping) {
    switch (mapping.state()) {
        case Net::PortMapping::State::kOpen:
            return "From the internet: " + mapping.outsideAddress() +
                   (mapping.behindAnotherRouter() ? ", behind another router" : "");
        case Net::PortMapping::State::kRefused:
            return "Only on this network: no router opened port " + std::to_string(kMasterPort);
        default:
            return "";
    }
}

}  // namespace

NetworkGame::NetworkGame() {}

NetworkGame::~NetworkGame() {
    socket.destroy();
    listener.stop();
}

void NetworkGame::interrupt() {
    listener.state.localInterrupt = true;
}

bool NetworkGame::isInterrupted() {
    return *listener.state.localInterrupt || *listener.state.remoteInterrupt;
}

bool NetworkGame::send(unsigned char type) {
    try {
        listener.state.sendMessage(*socket, type);
        return true;
    } catch (System::Exception e) {
        // The peer has gone (killed, or its connection closed): this side's game ends as
        // interrupted instead of the whole program.
        e.print();
        listener.state.remoteInterrupt = true;
        return false;
    }
}

void NetworkGame::abandon() {
    if (!isInterrupted()) {
        endHere();
    }
}

void NetworkGame::endHere() {
    listener.state.localInterrupt = true;
    send(InterruptMessage);
}

bool NetworkGame::localPlayer(unsigned char pl) {
    TurnInput input;
    for (;;) {
        if (*listener.state.remoteInterrupt) {
            System::err() << "NetworkGame::localPlayer interrupt";
            return false;
        }
        board->draw();
        drawStatus("Local player turns", Layout::kStatusY, Layout::kStatusGrey);
        System::flip();
        if (escapeDown(input)) {
            endHere();
            return false;
        }
        int x, y;
        if (!input.cell(board, x, y) || !board->move(x, y, pl)) {
            continue;
        }
        board->draw();
        System::present();
        unsigned char* destPtr = *listener.state.data;
        {
            std::lock_guard hold(listener.state.data);
            memcpy(destPtr, board->getData(), board->getSize());
        }
        return send(DataMessage);
    }
}

bool NetworkGame::remotePlayer(unsigned char /*pl*/) {
    TurnInput input;
    while (!*listener.state.remoteInterrupt) {
        if (escapeDown(input)) {
            System::out() << "Local interrupt";
            endHere();
            return false;
        }
        if (*listener.state.newData) {
            listener.state.getData(board->getData());
            return true;
        }
        board->draw();
        drawStatus("Waiting for remote player turn", Layout::kStatusY, Layout::kRemoteGreen,
                   Layout::kWaitingRight);
        System::flip();
    }
    System::out() << "Remote interrupt";
    return false;
}

void NetworkGame::startListener(unsigned port, unsigned size, unsigned char peerPlayer,
                                bool screened) {
    // The shared buffer and the board are copied into each other whole: they must agree.
    if (size != static_cast<unsigned>(board->getSize())) {
        throw System::Exception("Network game: %u cells asked for a board of %d", size,
                                board->getSize());
    }
    listener.setup(port, size, peerPlayer, screened);
    listener.open();
    listener.start(nullptr);
}

bool NetworkGame::waitForPeer(System::EscapeKey& escape, Net::Beacon* beacon) {
    std::string where = beacon != nullptr ? joinAt() : "";
    for (;;) {
        if (*listener.state.ready) {
            return true;
        }
        if (beacon != nullptr) {
            beacon->answer();
        }
        std::string failure = *listener.state.failure;
        if (failure.empty()) {
            // The slave has sent its nick and waits for the master's connection back: a master
            // that has left meanwhile would otherwise keep it waiting for ever.
            failure = socket->leftBecause();
        }
        if (!failure.empty()) {
            throw Net::ConnectionException("%s", failure.c_str());
        }
        System::say("Waiting for connection");
        if (!where.empty()) {
            System::say(where, Layout::kJoinAtY, Layout::kListGrey);
        }
        drawPortLine();
        // The listener wakes the wait when the peer comes; the slave's connection to the master
        // wakes it when the master leaves, a query the master's. Bytes the master should not have
        // sent would keep it awake: then only the listener's news count.
        Platform::SocketWatch watched =
            beacon != nullptr ? beacon->watch() : Platform::SocketWatch();
        if (socket->isOpen() && !Platform::readableNow(socket->descriptor())) {
            watched.socket = socket->descriptor();
        }
        System::flip(Platform::kForever, watched);
        if (escape.pressed()) {
            return false;
        }
    }
}

bool NetworkGame::connectAndAnnounce(Net::Dialer& dialer, const std::string& nick,
                                     System::EscapeKey& escape, SlavePort* port) {
    // The peer connects back as soon as it has the nick: through the router, once it has
    // forwarded the port, unless it keeps silent too long.
    auto grace = std::chrono::steady_clock::now() + SlavePort::kGrace;
    bool connected = false;
    // Drawn and polled like the waiting loop: an unanswering host or a hung resolver must not
    // freeze the window, and Escape abandons the connect at once.
    for (;;) {
        connected = connected || dialer.poll();
        bool waitingForRouter =
            port != nullptr && !port->answered() && Platform::restUntil(grace) > 0;
        if (connected && !waitingForRouter) {
            break;
        }
        System::say("Waiting for connection");
        drawPortLine();
        // The connect wakes the wait when it ends, the look-up's thread when it has finished,
        // the router's answer when it comes.
        int rest = connected ? Platform::kForever : dialer.restMs();
        if (waitingForRouter && (rest == Platform::kForever || rest > Platform::restUntil(grace))) {
            rest = Platform::restUntil(grace);
        }
        System::flip(rest, connected ? Platform::SocketWatch() : dialer.watch());
        if (escape.pressed()) {
            return false;
        }
    }
    socket = dialer.take();
    listener.admit(socket->peerName());
    listener.state.localNick = nick;
    try {
        listener.state.sendMessage(*socket, NickMessage);
    } catch (System::Exception e) {
        // The peer vanished between its connect and our nick: a connection failure like the others.
        throw Net::ConnectionException("%s", e.message().c_str());
    }
    return true;
}

MasterGame::MasterGame(std::string nick, unsigned size) {
    // One waiting screen from the listener's start to the connection back.
    System::EscapeKey escape;
    // Listed on the network from the moment it listens until a slave has come (or the wait
    // ends otherwise, when the beacon goes with the constructor).
    Net::Beacon beacon(nick);
    startListener(kMasterPort, size, 2);
    beacon.start();
    // Asked for as long as the master waits for a slave, here or from the internet.
    mapping = std::make_unique<Net::PortMapping>(kMasterPort);
    bool joined = waitForPeer(escape, &beacon);
    beacon.stop();
    mapping.reset();
    if (!joined) {
        return;
    }
    // Back to the address the slave's connection came from, as the accept recorded it.
    Net::Host slave(listener.peerHost(), kSlavePort);
    Net::Dialer dialer({slave}, slave.address());
    running = connectAndAnnounce(dialer, kMasterNick, escape);
}

MasterGame::~MasterGame() {}

void MasterGame::drawPortLine() {
    if (mapping != nullptr) {
        System::say(internetLine(*mapping), Layout::kInternetY, Layout::kListGrey);
    }
}

bool MasterGame::playerOne() {
    return localPlayer(1);
}

bool MasterGame::playerTwo() {
    return remotePlayer(2);
}

SlaveGame::SlaveGame(std::string nick, std::string host, unsigned size,
                     const std::vector<Net::Host>& ways, std::unique_ptr<SlavePort> asked)
    : port(std::move(asked)) {
    // Listen before the nick goes out: the master connects back as soon as it has it. Once the
    // port may be reachable from anywhere, a stranger who connects first must not be taken for
    // the master.
    System::EscapeKey escape;
    startListener(kSlavePort, size, 1, true);
    std::vector<Net::Host> master;
    for (const Net::Host& way : ways) {
        master.push_back(Net::Host(way, kMasterPort));
        listener.admit(way.address());
    }
    Net::Dialer dialer =
        master.empty() ? Net::Dialer(host, kMasterPort) : Net::Dialer(master, host);
    // A failure gives the port up as the object goes.
    running = connectAndAnnounce(dialer, nick, escape, port.get()) && waitForPeer(escape);
    port.reset();
}

SlaveGame::~SlaveGame() {}

void SlaveGame::drawPortLine() {
    if (port != nullptr) {
        System::say(port->line(), Layout::kSlavePortY, Layout::kListGrey);
    }
}

bool SlaveGame::playerOne() {
    return remotePlayer(1);
}

bool SlaveGame::playerTwo() {
    return localPlayer(2);
}

}  // namespace Games
