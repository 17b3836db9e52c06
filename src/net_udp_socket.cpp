// The discovery's UDP socket.
#include "net_udp_socket.h"

#include <algorithm>

#include "net_stdafx.h"

namespace Net {

DatagramSocket::DatagramSocket() : descriptor(-1) {}

DatagramSocket::~DatagramSocket() {
    close();
}

DatagramSocket::DatagramSocket(DatagramSocket&& other) noexcept : descriptor(other.descriptor) {
    other.descriptor = -1;
}

DatagramSocket& DatagramSocket::operator=(DatagramSocket&& other) noexcept {
    if (this != &other) {
        close();
        descriptor = other.descriptor;
        other.descriptor = -1;
    }
    return *this;
}

bool DatagramSocket::open(unsigned port) {
    close();
    int made = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (made < 0) {
        return false;
    }
    descriptor = made;
    Platform::prepareDatagramSocket(descriptor);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    return true;
}

void DatagramSocket::close() {
    if (descriptor != -1) {
        Platform::closeSocket(descriptor);
        descriptor = -1;
    }
}

unsigned DatagramSocket::port() const {
    sockaddr_in address = {};
    socklen_t length = sizeof address;
    if (descriptor == -1 ||
        getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

bool DatagramSocket::sendTo(uint32_t address, unsigned port,
                            const std::vector<unsigned char>& bytes) {
    if (descriptor == -1) {
        return false;
    }
    return Platform::sendDatagram(descriptor, reinterpret_cast<const char*>(bytes.data()),
                                  static_cast<int>(bytes.size()), address, port);
}

bool DatagramSocket::receive(std::vector<unsigned char>& bytes, size_t maxSize, uint32_t& address,
                             unsigned& port) {
    if (descriptor == -1) {
        return false;
    }
    bytes.resize(maxSize + 1);
    long n = Platform::receiveDatagram(descriptor, reinterpret_cast<char*>(bytes.data()),
                                       static_cast<int>(bytes.size()), address, port);
    if (n < 0) {
        return false;
    }
    bytes.resize(std::min(static_cast<size_t>(n), maxSize + 1));
    return true;
}

Platform::SocketWatch DatagramSocket::watch() const {
    Platform::SocketWatch w;
    w.socket = descriptor;
    w.event = Platform::SocketEvent::kReadable;
    return w;
}

}  // namespace Net
