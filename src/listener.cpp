// The listener thread: one accepted connection, its messages checked and stored in the state.
#include "listener.h"

#include <algorithm>
#include <vector>

#include "board.h"
#include "output_line.h"
#include "platform.h"

namespace System {

namespace {
// Messages of a type this program does not know (or an interrupt) are skipped up to this length.
constexpr uint32_t kMaxSkipped = 4096;
// Board::eval reads a whole 16 x 16 board.
constexpr size_t kEvalCells = 256;

typedef std::lock_guard<std::mutex> Lock;
}  // namespace

Listener::Listener() : port(0), size(0), stopping(false), peerPlayer(0), screened(false) {}

Listener::Listener(unsigned port, int size)
    : port(port), size(size), state(size), stopping(false), peerPlayer(0), screened(false) {}

Listener::~Listener() {
    stop();
}

void Listener::setup(unsigned port, int size, unsigned char peerPlayer, bool screened) {
    stop();
    this->port = port;
    this->size = size;
    this->peerPlayer = peerPlayer;
    state.reset(size);
    {
        Lock hold(screen);
        this->screened = screened;
        admittedAddresses.clear();
    }
    Lock lock(descriptors);
    stopping = false;
}

void Listener::open() {
    Net::Owner<Net::ServerSocket> opened{Net::ServerSocket(port)};
    Lock lock(descriptors);
    // Stopped meanwhile, or opened already: the new socket closes as it goes.
    if (!stopping && !server->isOpen()) {
        server = std::move(opened);
    }
}

void Listener::stop() {
    {
        Lock lock(descriptors);
        stopping = true;
        // Wakes the thread from its accept or receive. The thread closes what it has opened or
        // accepted; what remains (an opened socket of a thread never started) is closed below.
        server->shutdown();
        socket->shutdown();
    }
    wait4();
    Lock lock(descriptors);
    server.destroy();
    socket.destroy();
}

std::string Listener::peerName() {
    Lock lock(descriptors);
    return socket->peerName();
}

Net::Host Listener::peerHost() {
    Lock lock(descriptors);
    return socket->host;
}

void* Listener::tmain(void*) {
    Net::Owner<Net::AcceptedSocket> accepted;
    bool connected = guarded([&] { accepted = acceptPeer(); });
    {
        // One connection only (or none, after a failure): nobody else may connect to this
        // listener.
        Lock lock(descriptors);
        server.destroy();
    }
    if (connected) {
        serve(std::move(accepted));
    }
    return nullptr;
}

void Listener::serve(Net::Owner<Net::AcceptedSocket> connection) {
    if (!adopt(std::move(connection))) {
        return;
    }
    guarded([&] {
        System::err() << "Listner: accepted socket from " << peerName();
        while (!*state.remoteInterrupt && !*state.localInterrupt) {
            dispatchMessage();
            // The game thread may rest between its passes: what the message changed shows now.
            Platform::wakeMain();
        }
    });
    Lock lock(descriptors);
    socket.destroy();
}

Net::Owner<Net::AcceptedSocket> Listener::acceptPeer() {
    bool opened;
    {
        Lock lock(descriptors);
        opened = server->isOpen();
    }
    if (!opened) {
        open();
    }
    // A stop() meanwhile has shut the socket down (or kept open() from opening it): the accept
    // then fails at once.
    for (;;) {
        Net::Owner<Net::AcceptedSocket> connection(server->wait());
        // A stop wakes the accept on Windows with a connection of its own, from this machine: no
        // stranger, and no peer either (adopt() closes it).
        if (admitted(connection->host) || isStopping()) {
            return connection;
        }
        // A stranger who came first must not be taken for the peer; it goes as connection does.
        System::err() << "Listener: refused connection from " << connection->host.address();
    }
}

void Listener::admit(const std::string& address) {
    Lock hold(screen);
    admittedAddresses.push_back(address);
}

bool Listener::admitted(const Net::Host& host) {
    Lock hold(screen);
    return !screened || std::find(admittedAddresses.begin(), admittedAddresses.end(),
                                  host.address()) != admittedAddresses.end();
}

bool Listener::adopt(Net::Owner<Net::AcceptedSocket> connection) {
    Lock lock(descriptors);
    // When the owner is stopping, connection closes as it goes.
    if (stopping) {
        return false;
    }
    socket = std::move(connection);
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
        System::err() << "Listener: connection closed by peer";
    } else {
        e.print();
    }
    state.failure = e.message();
    // A game still in progress must end: nothing more will come from the peer.
    if (!*state.localInterrupt) {
        state.remoteInterrupt = true;
    }
    Platform::wakeMain();
}

void Listener::checkLength(unsigned char type, uint32_t length) {
    switch (type) {
        case Games::NickMessage:
            if (length > Games::kMaxNick) {
                throw Exception("Listener: refused nick message of %u bytes (at most %u)", length,
                                Games::kMaxNick);
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
        std::lock_guard hold(state.data);
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
    socket->get(reinterpret_cast<char*>(&msgType), 1);
    uint32_t msgSize = 0;
    socket->get(reinterpret_cast<char*>(&msgSize), sizeof msgSize);
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
    socket->get(reinterpret_cast<char*>(msgBody.data()), msgSize);
    System::err() << "Listener: recieved message: type " << static_cast<int>(msgType)
                  << " size: " << msgSize;
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
            System::err() << "Listener: Remote interrupt recieved";
            state.remoteInterrupt = true;
            break;
        default:
            System::err() << "Listener: wrong message! ";
            break;
    }
}

}  // namespace System
