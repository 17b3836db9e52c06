// The shared game state and the peer messages written from it.
#include "game_state.h"

#include <algorithm>
#include <iostream>
#include <mutex>

#include "output_line.h"

namespace Games {

namespace {
constexpr char kByeMsg[] = "bye";
constexpr uint32_t kByeLength = 3;

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
    {
        // The line is written when it goes, after the buffer's mutex has been given back.
        System::OutputLine line(std::cerr);
        line << "Output copy: [";
        std::lock_guard hold(data);
        for (int i = 0; i < dataSize; i++) {
            ptr[i] = srcPtr[i];
            line << static_cast<int>(srcPtr[i]) << ' ';
        }
    }
    newData = false;
}

void GameState::setData(const unsigned char* ptr) {
    unsigned char* destPtr = *data;
    {
        std::lock_guard hold(data);
        std::copy(ptr, ptr + dataSize, destPtr);
    }
    // Only now: whoever sees newData finds the whole board in the buffer.
    newData = true;
}

void GameState::print() {
    System::out() << "Game state:";
    System::out() << "Local nick: " << *localNick;
    System::out() << "Remote nick: " << *remoteNick;
    System::out() << "Local interrupt: " << *localInterrupt;
    System::out() << "Remote interrupt: " << *remoteInterrupt;
    unsigned char* ptr = *data;
    System::OutputLine line(std::cout);
    line << "Data: [ ";
    std::lock_guard hold(data);
    for (int i = 0; i < dataSize; i++) {
        line << static_cast<int>(ptr[i]) << ' ';
    }
    line << "]";
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
            std::lock_guard hold(data);
            socket.set(reinterpret_cast<const char*>(ptr), dataSize);
            break;
        }
        case InterruptMessage:
            socket.set(typeByte, 1);
            sendLength(socket, kByeLength);
            socket.set(kByeMsg, kByeLength);
            break;
        default:
            System::err() << "sendMessge: wrong message type (" << static_cast<int>(type) << ")";
            break;
    }
}

}  // namespace Games
