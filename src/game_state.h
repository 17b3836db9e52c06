// The state that the game thread and the listener thread of a network game share, and the peer
// messages built from it. Which thread may call what is said at each member.
#pragma once

#include <cstdint>
#include <string>

#include "net_socket.h"
#include "thread.h"

namespace Games {

// The type byte of a peer message. On the wire a message is this byte, the payload's length as an
// unsigned 32-bit count in network byte order, then the payload.
enum MessageType : unsigned char { NickMessage = 0, DataMessage = 1, InterruptMessage = 2 };

// The longest nick, in bytes, that a listener takes.
constexpr uint32_t kMaxNick = 64;

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
