// The UDP socket of the discovery: bound to one port of every address, sending to an address and
// reading what waits without ever blocking. Main thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "platform.h"

namespace Net {

// Owns its descriptor: closed with the object, moved but never copied.
class DatagramSocket {
public:
    DatagramSocket();
    ~DatagramSocket();
    DatagramSocket(DatagramSocket&& other) noexcept;
    DatagramSocket& operator=(DatagramSocket&& other) noexcept;
    DatagramSocket(const DatagramSocket&) = delete;
    DatagramSocket& operator=(const DatagramSocket&) = delete;

    // Binds port (host byte order; 0 for any free one) on every address, for this socket alone.
    // False, with no socket, when the port is taken or no socket could be made.
    bool open(unsigned port);
    void close();
    bool isOpen() const { return descriptor != -1; }
    // The port it is bound to; 0 without a socket.
    unsigned port() const;
    // Sends bytes to address and port (host byte order); false when the system refused (no
    // route, say). A send to a broadcast address goes to every machine on that network.
    bool sendTo(uint32_t address, unsigned port, const std::vector<unsigned char>& bytes);
    // Takes one waiting datagram into bytes (at most maxSize + 1 of it: one longer reads as
    // maxSize + 1 bytes), its sender into address and port; false when none waits.
    bool receive(std::vector<unsigned char>& bytes, size_t maxSize, uint32_t& address,
                 unsigned& port);
    // For the main thread's wait: wakes it when a datagram waits.
    Platform::SocketWatch watch() const;

private:
    int descriptor;
};

}  // namespace Net
