// Arbitrary bytes from a peer, fed through a socket pair into the listener's read loop. The loop
// must end (the connection ends with the input), never crash, and leave exactly the state that
// the complete messages it accepted make: a refused or cut message changes nothing.
//
// The first input byte chooses the peer's player (its value modulo 3; 0 checks no turns); the
// rest is the stream.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "board.h"
#include "listener.h"

namespace {

constexpr int kCells = 256;
constexpr uint32_t kMaxNick = 64;
constexpr uint32_t kMaxSkipped = 4096;
// Larger inputs might not fit into the socket pair's buffers before the loop reads them.
constexpr size_t kMaxInput = 64 * 1024;

using Bytes = std::vector<unsigned char>;

// Reaches the second half of the thread's body, after the accept.
class FuzzListener final : public System::Listener {
public:
    using System::Listener::serve;
};

// Swallows the traces: they would cost more than the reading itself.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
};

// What the state must look like afterwards, worked out from the bytes alone.
struct Expected {
    bool ready = false;
    std::string nick;
    bool newData = false;
    Bytes board = Bytes(kCells, 0);
    bool localInterrupt = false;
    bool remoteInterrupt = false;
    bool failed = false;
};

bool acceptableBoard(const Bytes& last, const unsigned char* cells, unsigned char peer) {
    int ones = 0;
    int twos = 0;
    int marks = 0;
    for (int i = 0; i < kCells; i++) {
        if (cells[i] > 2) {
            return false;
        }
        ones += last[i] == 1;
        twos += last[i] == 2;
        if (peer != 0 && cells[i] != last[i]) {
            if (last[i] != 0 || cells[i] != peer) {
                return false;
            }
            marks++;
        }
    }
    if (peer == 0) {
        return true;
    }
    bool peersTurn = peer == 1 ? ones == twos : ones == twos + 1;
    return peersTurn && marks == 1;
}

Expected predict(const unsigned char* in, size_t size, unsigned char peer) {
    Expected e;
    size_t pos = 0;
    while (!e.remoteInterrupt && !e.localInterrupt) {
        if (size - pos < 5) {
            e.failed = true;
            break;
        }
        unsigned char type = in[pos];
        uint32_t length = uint32_t(in[pos + 1]) << 24 | uint32_t(in[pos + 2]) << 16 |
                          uint32_t(in[pos + 3]) << 8 | in[pos + 4];
        pos += 5;
        bool fits = type == Games::NickMessage   ? length <= kMaxNick
                    : type == Games::DataMessage ? length == kCells
                                                 : length <= kMaxSkipped;
        if (!fits || size - pos < length) {
            e.failed = true;
            break;
        }
        const unsigned char* payload = in + pos;
        pos += length;
        if (type == Games::NickMessage) {
            e.nick.clear();
            for (uint32_t i = 0; i < length && payload[i] != 0; i++) {
                e.nick += static_cast<char>(payload[i]);
            }
            e.ready = true;
        } else if (type == Games::DataMessage) {
            if (!acceptableBoard(e.board, payload, peer)) {
                e.failed = true;
                break;
            }
            e.board.assign(payload, payload + kCells);
            e.localInterrupt = Games::Board::eval(e.board.data()) != 0;
            e.newData = true;
        } else if (type == Games::InterruptMessage) {
            e.remoteInterrupt = true;
        }
    }
    if (e.failed && !e.localInterrupt) {
        e.remoteInterrupt = true;
    }
    return e;
}

void check(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "listener_fuzzer: %s differs from the messages sent\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static NullBuffer null;
    std::cerr.rdbuf(&null);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > kMaxInput) {
        return -1;
    }
    unsigned char peer = data[0] % 3;
    const unsigned char* stream = data + 1;
    size_t length = size - 1;

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
        abort();
    }
    int sndbuf = 2 * kMaxInput;
    setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
    size_t sent = 0;
    while (sent < length) {
        ssize_t n = send(fds[1], stream + sent, length - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            abort();
        }
        sent += n;
    }
    // The end of the input is the end of the connection.
    close(fds[1]);

    FuzzListener listener;
    listener.setup(0, kCells, peer);
    listener.serve(Net::Owner<Net::AcceptedSocket>(Net::AcceptedSocket(Net::Host(), fds[0])));

    Expected e = predict(stream, length, peer);
    Games::GameState& state = listener.state;
    unsigned char* ptr = *state.data;
    Bytes board(ptr, ptr + state.getDataSize());
    check(state.getDataSize() == kCells, "the board size");
    check(*state.ready == e.ready, "ready");
    check(*state.remoteNick == e.nick, "the nick");
    check(*state.newData == e.newData, "newData");
    check(board == e.board, "the board");
    check(*state.localInterrupt == e.localInterrupt, "localInterrupt");
    check(*state.remoteInterrupt == e.remoteInterrupt, "remoteInterrupt");
    check(state.failure.get().empty() != e.failed, "the failure");
    return 0;
}
