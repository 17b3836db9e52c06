// The turn loop, the hot-seat game, and the network games with their shared state, peer messages
// and listener thread.
#include "game.h"

#include <allegro.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <vector>

#include "system.h"

namespace Games {

namespace {
constexpr int kCells = 16;
constexpr int kBoardX = 50;
constexpr int kBoardY = 50;
constexpr int kCellSize = 16;
constexpr int kTextRight = 200;  // status texts stand this far left of the screen's right edge

// Status texts stand in a column kTextRight pixels left of the screen's right edge.
void drawStatus(const char* text, int y, int color, int right = kTextRight) {
    textout_ex(System::_screen, font, text, SCREEN_W - right, y, color, -1);
}

// The mouse over one turn. A press counts only once the button has been seen up during the
// turn, so that a button still held from the previous turn cannot place this turn's mark.
class TurnClick {
public:
    // True, with the cell under the pointer, when a press of this turn is over the grid.
    bool cell(Board* board, int& x, int& y) {
        if (mouse_b == 0) {
            released = true;
            return false;
        }
        if (!released) {
            return false;
        }
        x = board->atX(mouse_x);
        y = board->atY(mouse_y);
        return x >= 0 && y >= 0;
    }

private:
    bool released = false;
};
}  // namespace

Game::Game() : running(false), board(new Board(kCells, kCells, kBoardX, kBoardY, kCellSize)) {}

Game::~Game() {
    delete board;
}

void Game::interrupt() {}

int Game::run() {
    if (!running) {
        interrupt();
        return -1;
    }
    // Keys pressed before the game (an Escape in a menu, or the one that abandoned a wait) would
    // otherwise end the end screen's wait at once and hide who won.
    clear_keybuf();
    unsigned char won = 0;
    for (;;) {
        if ((won = board->winner()) != 0 || !playerOne() || isInterrupted()) {
            break;
        }
        if ((won = board->winner()) != 0 || !playerTwo() || isInterrupted()) {
            break;
        }
    }
    bool interrupted = isInterrupted();

    board->draw();
    drawStatus("End of game", 200, makecol(192, 127, 127));
    const char* result = won == 1   ? "Player one wins"
                         : won == 2 ? "Player two wins"
                                    : "Game interrupted";
    drawStatus(result, 220, makecol(127, 127, 127));
    drawStatus("Press any key...", 240, makecol(192, 127, 63));
    System::flip();
    readkey();

    interrupt();
    return interrupted ? -1 : won;
}

LocalGame::LocalGame() {
    running = true;
}

bool LocalGame::playerOne() {
    return playerMove(1);
}

bool LocalGame::playerTwo() {
    return playerMove(2);
}

bool LocalGame::isInterrupted() {
    return false;
}

bool LocalGame::playerMove(unsigned char pl) {
    TurnClick click;
    for (;;) {
        board->draw();
        drawStatus(pl == 1 ? "Player one turns" : "Player two turns", 200, makecol(127, 127, 127));
        System::flip();
        if (key[KEY_ESC]) {
            return false;
        }
        int x, y;
        if (click.cell(board, x, y) && board->move(x, y, pl)) {
            return true;
        }
    }
}

}  // namespace Games

// ---- Network games: the shared state, the peer messages and the listener thread ----

namespace Games {

namespace {
constexpr char kByeMsg[] = "bye";
constexpr uint32_t kByeLength = 3;

// Holds a pointer value's mutex for a pass over the bytes behind it, also when the pass throws.
class Holding {
public:
    explicit Holding(System::Mutexed<unsigned char*>& m) : m(m) { m.lock(); }
    Holding(const Holding&) = delete;
    Holding& operator=(const Holding&) = delete;
    ~Holding() { m.unlock(); }

private:
    System::Mutexed<unsigned char*>& m;
};

void sendLength(Net::Socket& socket, uint32_t length) {
    uint32_t msgSize = htonl(length);
    socket.set(reinterpret_cast<const char*>(&msgSize), sizeof msgSize);
}
}  // namespace

GameState::GameState() : dataSize(0) {}

GameState::GameState(int size) : dataSize(0) {
    reset(size);
}

GameState::~GameState() {
    delete[] * data;
}

void GameState::reset(int size) {
    delete[] * data;
    dataSize = std::max(size, 0);
    data = new unsigned char[dataSize]();
    localInterrupt = false;
    remoteInterrupt = false;
    newData = false;
    localNick = "";
    remoteNick = "";
    ready = false;
    failure = "";
}

void GameState::getData(unsigned char* ptr) {
    unsigned char* srcPtr = *data;
    data.lock();
    std::cerr << "Output copy: [";
    for (int i = 0; i < dataSize; i++) {
        ptr[i] = srcPtr[i];
        std::cerr << static_cast<int>(srcPtr[i]) << ' ';
    }
    std::cerr << std::endl;
    data.unlock();
    newData = false;
}

void GameState::setData(const unsigned char* ptr) {
    unsigned char* destPtr = *data;
    data.lock();
    std::copy(ptr, ptr + dataSize, destPtr);
    data.unlock();
    // Only now: whoever sees newData finds the whole board in the buffer.
    newData = true;
}

void GameState::print() {
    std::cout << "Game state:" << std::endl;
    std::cout << "Local nick: " << *localNick << std::endl;
    std::cout << "Remote nick: " << *remoteNick << std::endl;
    std::cout << "Local interrupt: " << *localInterrupt << std::endl;
    std::cout << "Remote interrupt: " << *remoteInterrupt << std::endl;
    unsigned char* ptr = *data;
    std::cout << "Data: [ ";
    data.lock();
    for (int i = 0; i < dataSize; i++) {
        std::cout << static_cast<int>(ptr[i]) << ' ';
    }
    data.unlock();
    std::cout << "]" << std::endl;
}

void GameState::sendMessage(Net::Socket socket, unsigned char type) {
    const char* typeByte = reinterpret_cast<const char*>(&type);
    switch (type) {
        case NickMessage: {
            socket.set(typeByte, 1);
            std::string nick = *localNick;
            sendLength(socket, nick.size());
            socket.set(nick.data(), nick.size());
            break;
        }
        case DataMessage: {
            socket.set(typeByte, 1);
            sendLength(socket, dataSize);
            unsigned char* ptr = *data;
            // Held for the whole payload: the listener must not store a peer board into the
            // buffer while it is on its way out.
            Holding hold(data);
            socket.set(reinterpret_cast<const char*>(ptr), dataSize);
            break;
        }
        case InterruptMessage:
            socket.set(typeByte, 1);
            sendLength(socket, kByeLength);
            socket.set(kByeMsg, kByeLength);
            break;
        default:
            std::cerr << "sendMessge: wrong message type (" << static_cast<int>(type) << ")"
                      << std::endl;
            break;
    }
}

}  // namespace Games

namespace System {

namespace {
// A nick longer than this is no nick.
constexpr uint32_t kMaxNick = 64;
// Messages of a type this program does not know (or an interrupt) are skipped up to this length.
constexpr uint32_t kMaxSkipped = 4096;
// Board::eval reads a whole 16 x 16 board.
constexpr size_t kEvalCells = 256;

typedef std::lock_guard<std::mutex> Lock;
}  // namespace

Listener::Listener() : port(0), size(0), stopping(false), peerPlayer(0) {}

Listener::Listener(unsigned port, int size)
    : port(port), size(size), state(size), stopping(false), peerPlayer(0) {}

Listener::~Listener() {
    stop();
}

void Listener::setup(unsigned port, int size, unsigned char peerPlayer) {
    stop();
    this->port = port;
    this->size = size;
    this->peerPlayer = peerPlayer;
    state.reset(size);
    Lock lock(descriptors);
    stopping = false;
}

void Listener::open() {
    Net::ServerSocket s(port);
    Lock lock(descriptors);
    if (stopping || server.isOpen()) {
        s.destroy();
        return;
    }
    server = s;
}

void Listener::stop() {
    {
        Lock lock(descriptors);
        stopping = true;
        // Wakes the thread from its accept or receive. The thread closes what it has opened or
        // accepted; what remains (an opened socket of a thread never started) is closed below.
        server.shutdown();
        socket.shutdown();
    }
    wait4();
    Lock lock(descriptors);
    server.destroy();
    socket.destroy();
}

std::string Listener::peerName() {
    Lock lock(descriptors);
    return socket.peerName();
}

void* Listener::tmain(void*) {
    Net::AcceptedSocket accepted;
    bool connected = guarded([&] { accepted = acceptPeer(); });
    {
        // One connection only (or none, after a failure): nobody else may connect to this
        // listener.
        Lock lock(descriptors);
        server.destroy();
    }
    if (connected) {
        serve(accepted);
    }
    return nullptr;
}

void Listener::serve(Net::AcceptedSocket connection) {
    if (!adopt(connection)) {
        return;
    }
    guarded([&] {
        std::cerr << "Listner: accepted socket from " << peerName() << std::endl;
        while (!*state.remoteInterrupt && !*state.localInterrupt) {
            dispatchMessage();
        }
    });
    Lock lock(descriptors);
    socket.destroy();
}

Net::AcceptedSocket Listener::acceptPeer() {
    bool opened;
    {
        Lock lock(descriptors);
        opened = server.isOpen();
    }
    if (!opened) {
        open();
    }
    // A stop() meanwhile has shut the socket down (or kept open() from opening it): the accept
    // then fails at once.
    return server.wait();
}

bool Listener::adopt(Net::AcceptedSocket connection) {
    Lock lock(descriptors);
    if (stopping) {
        connection.destroy();
        return false;
    }
    socket = connection;
    return true;
}

bool Listener::isStopping() {
    Lock lock(descriptors);
    return stopping;
}

template <typename Work>
bool Listener::guarded(Work work) {
    try {
        work();
        return true;
    } catch (Net::ConnectionClosedException& e) {
        fail(e, true);
    } catch (System::Exception& e) {
        fail(e, false);
    } catch (std::exception& e) {
        System::Exception wrapped("%s", e.what());
        fail(wrapped, false);
    }
    return false;
}

void Listener::fail(System::Exception& e, bool closed) {
    // Woken by stop(): the owner is ending the link, nothing failed.
    if (isStopping()) {
        return;
    }
    if (closed) {
        std::cerr << "Listener: connection closed by peer" << std::endl;
    } else {
        e.print();
    }
    state.failure = e.message();
    // A game still in progress must end: nothing more will come from the peer.
    if (!*state.localInterrupt) {
        state.remoteInterrupt = true;
    }
}

void Listener::checkLength(unsigned char type, uint32_t length) {
    switch (type) {
        case Games::NickMessage:
            if (length > kMaxNick) {
                throw Exception("Listener: refused nick message of %u bytes (at most %u)", length,
                                kMaxNick);
            }
            break;
        case Games::DataMessage:
            if (length != static_cast<uint32_t>(state.getDataSize())) {
                throw Exception("Listener: refused data message of %u bytes (a board has %d)",
                                length, state.getDataSize());
            }
            break;
        default:
            if (length > kMaxSkipped) {
                throw Exception("Listener: refused message of type %u and %u bytes (at most %u)",
                                type, length, kMaxSkipped);
            }
            break;
    }
}

void Listener::checkBoard(const unsigned char* cells) {
    int count = state.getDataSize();
    for (int i = 0; i < count; i++) {
        if (cells[i] > 2) {
            throw Exception("Listener: refused data message: cell %d holds %d, not 0, 1 or 2", i,
                            cells[i]);
        }
    }
    if (peerPlayer == 0) {
        return;
    }
    // The buffer holds the last board of the game, whoever made it: the peer's board must be
    // that one plus one mark of its own, in its turn.
    unsigned char* ptr = *state.data;
    std::vector<unsigned char> last;
    {
        Games::Holding hold(state.data);
        last.assign(ptr, ptr + count);
    }
    long ones = std::count(last.begin(), last.end(), 1);
    long twos = std::count(last.begin(), last.end(), 2);
    unsigned char turn = ones == twos ? 1 : ones == twos + 1 ? 2 : 0;
    if (turn != peerPlayer) {
        throw Exception("Listener: refused data message: not player %d's turn", peerPlayer);
    }
    int marked = 0;
    bool others = false;
    for (int i = 0; i < count; i++) {
        if (cells[i] != last[i]) {
            if (last[i] == 0 && cells[i] == peerPlayer) {
                marked++;
            } else {
                others = true;
            }
        }
    }
    if (marked != 1 || others) {
        throw Exception(
            "Listener: refused data message: not one new mark of player %d in an empty cell",
            peerPlayer);
    }
}

void Listener::dispatchMessage() {
    unsigned char msgType = 0;
    socket.get(reinterpret_cast<char*>(&msgType), 1);
    uint32_t msgSize = 0;
    socket.get(reinterpret_cast<char*>(&msgSize), sizeof msgSize);
    msgSize = ntohl(msgSize);
    // Before anything is allocated from a length that came from the network.
    checkLength(msgType, msgSize);
    // One byte more for a nick's terminating zero; a data body at least a whole board long, as
    // Board::eval reads one whatever the board size.
    size_t bodySize = msgSize + 1;
    if (msgType == Games::DataMessage) {
        bodySize = std::max(bodySize, kEvalCells);
    }
    std::vector<unsigned char> msgBody(bodySize, 0);
    socket.get(reinterpret_cast<char*>(msgBody.data()), msgSize);
    std::cerr << "Listener: recieved message: type " << static_cast<int>(msgType)
              << " size: " << msgSize << std::endl;
    switch (msgType) {
        case Games::NickMessage:
            msgBody[msgSize] = 0;
            state.remoteNick = std::string(reinterpret_cast<const char*>(msgBody.data()));
            state.ready = true;
            break;
        case Games::DataMessage:
            // Checked whole before the state is touched: a refused board leaves it as it was.
            checkBoard(msgBody.data());
            // The flag goes up before newData: when the game thread sees the board, it sees the
            // game's end too.
            if (Games::Board::eval(msgBody.data()) != 0) {
                state.localInterrupt = true;
            }
            state.setData(msgBody.data());
            break;
        case Games::InterruptMessage:
            std::cerr << "Listener: Remote interrupt recieved" << std::endl;
            state.remoteInterrupt = true;
            break;
        default:
            std::cerr << "Listener: wrong message! " << std::endl;
            break;
    }
}

}  // namespace System

// ---- Network games: turns and set-up ----

namespace Games {

namespace {
constexpr unsigned kMasterPort = 31211;
constexpr unsigned kSlavePort = 31212;
const char* const kMasterNick = "Master";
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
        listener.state.sendMessage(socket, type);
        return true;
    } catch (System::Exception e) {
        // The peer has gone (killed, or its connection closed): this side's game ends as
        // interrupted instead of the whole program.
        e.print();
        listener.state.remoteInterrupt = true;
        return false;
    }
}

void NetworkGame::endHere() {
    listener.state.localInterrupt = true;
    send(InterruptMessage);
}

bool NetworkGame::localPlayer(unsigned char pl) {
    TurnClick click;
    for (;;) {
        if (*listener.state.remoteInterrupt) {
            std::cerr << "NetworkGame::localPlayer interrupt" << std::endl;
            return false;
        }
        board->draw();
        drawStatus("Local player turns", 200, makecol(127, 127, 127));
        System::flip();
        if (key[KEY_ESC]) {
            endHere();
            return false;
        }
        int x, y;
        if (!click.cell(board, x, y) || !board->move(x, y, pl)) {
            continue;
        }
        board->draw();
        System::flip();
        unsigned char* destPtr = *listener.state.data;
        listener.state.data.lock();
        memcpy(destPtr, board->getData(), board->getSize());
        listener.state.data.unlock();
        return send(DataMessage);
    }
}

bool NetworkGame::remotePlayer(unsigned char /*pl*/) {
    while (!*listener.state.remoteInterrupt) {
        if (key[KEY_ESC]) {
            std::cout << "Local interrupt" << std::endl;
            endHere();
            return false;
        }
        if (*listener.state.newData) {
            listener.state.getData(board->getData());
            return true;
        }
        board->draw();
        drawStatus("Waiting for remote player turn", 200, makecol(127, 192, 127), 300);
        System::flip();
    }
    std::cout << "Remote interrupt" << std::endl;
    return false;
}

void NetworkGame::startListener(unsigned port, unsigned size, unsigned char peerPlayer) {
    // The shared buffer and the board are copied into each other whole: they must agree.
    if (size != static_cast<unsigned>(board->getSize())) {
        throw System::Exception("Network game: %u cells asked for a board of %d", size,
                                board->getSize());
    }
    listener.setup(port, size, peerPlayer);
    listener.open();
    listener.start(nullptr);
}

bool NetworkGame::waitForPeer() {
    for (;;) {
        if (*listener.state.ready) {
            return true;
        }
        std::string failure = *listener.state.failure;
        if (!failure.empty()) {
            throw Net::ConnectionException("%s", failure.c_str());
        }
        System::say("Waiting for connection");
        System::flip();
        if (key[KEY_ESC]) {
            return false;
        }
    }
}

void NetworkGame::connectAndAnnounce(const Net::Host& host, const std::string& nick) {
    socket = Net::ClientSocket(host);
    listener.state.localNick = nick;
    try {
        listener.state.sendMessage(socket, NickMessage);
    } catch (System::Exception e) {
        // The peer vanished between its connect and our nick: a connection failure like the others.
        throw Net::ConnectionException("%s", e.message().c_str());
    }
}

MasterGame::MasterGame(std::string /*nick*/, unsigned size) {
    startListener(kMasterPort, size, 2);
    if (!waitForPeer()) {
        return;
    }
    std::string slave = listener.peerName();
    connectAndAnnounce(Net::Host(slave.c_str(), kSlavePort), kMasterNick);
    running = true;
}

MasterGame::~MasterGame() {}

bool MasterGame::playerOne() {
    return localPlayer(1);
}

bool MasterGame::playerTwo() {
    return remotePlayer(2);
}

SlaveGame::SlaveGame(std::string nick, std::string host, unsigned size) {
    // Listen before the nick goes out: the master connects back as soon as it has it.
    startListener(kSlavePort, size, 1);
    connectAndAnnounce(Net::Host(host.c_str(), kMasterPort), nick);
    running = waitForPeer();
}

SlaveGame::~SlaveGame() {}

bool SlaveGame::playerOne() {
    return remotePlayer(1);
}

bool SlaveGame::playerTwo() {
    return localPlayer(2);
}

}  // namespace Games
