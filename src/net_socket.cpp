// Stream sockets: reading and writing exact lengths, connecting, listening, accepting.
#include "net_socket.h"

#include <cstdarg>
#include <cstdio>

#include "frame.h"
#include "net_keepalive.h"
#include "output_line.h"
#include "platform.h"
#include "text_entry.h"

namespace Net {

namespace {
constexpr int kBacklog = 5;
}  // namespace

ConnectionException::ConnectionException(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    format(fmt, args);
    va_end(args);
}

ConnectionException::ConnectionException(const ConnectionException& e) : System::Exception(e) {}

ConnectionException::~ConnectionException() {}

void ConnectionException::show() {
    System::say(errorMessage);
    System::present();
}

ConnectionClosedException::ConnectionClosedException()
    : System::Exception("Socket::get: connection closed by peer") {}

Socket::Socket() : sockId(-1) {}

void Socket::get(char* buffer, int size) {
    System::err() << "Socket::get begin";
    int toRecv = size;
    int recved = 0;
    for (;;) {
        System::err() << "Waitng for " << toRecv << " bytes";
        if (toRecv <= 0) {
            return;
        }
        long ret = Platform::receiveSome(sockId, buffer + recved, toRecv);
        // Before the trace, whose own system calls may overwrite it.
        int error = Platform::lastError();
        System::err() << "( ret: " << ret << " )";
        if (ret == 0) {
            // The peer may close between the fields of a message: what has not come must not be
            // taken for data.
            throw ConnectionClosedException();
        }
        if (ret < 0) {
            throw System::Exception("Socket::read() error no. %d", error);
        }
        recved += ret;
        toRecv -= ret;
    }
}

int Socket::getOnce(char* buffer, int size) {
    System::err() << "Socket::getOnce: entry point";
    long ret = Platform::receiveSome(sockId, buffer, size);
    System::err() << "\tread " << ret << " bytes";
    if (ret < 0) {
        throw System::Exception("Socket::read error%s", "");
    }
    return static_cast<int>(ret);
}

void Socket::set(const char* buffer, int size) {
    int sent = 0;
    for (;;) {
        long ret = Platform::sendSome(sockId, buffer + sent, size - sent);
        int error = Platform::lastError();
        System::err() << "[ ret: " << ret << " ] ";
        if (ret < 0) {
            throw System::Exception("Socket::write() error no. %d", error);
        }
        sent += ret;
        if (ret == 0) {
            return;
        }
    }
}

std::string Socket::leftBecause() {
    if (sockId == -1) {
        return "";
    }
    if (!Platform::readableNow(sockId)) {
        return "";
    }
    // Something waits, so the peek returns at once.
    char byte;
    long ret = Platform::peekSome(sockId, &byte, 1);
    if (ret == 0) {
        return ConnectionClosedException().message();
    }
    if (ret < 0) {
        return System::Exception("Socket::read() error no. %d", Platform::lastError()).message();
    }
    // Nothing, or bytes the peer should not have sent here: the connection still stands.
    return "";
}

void Socket::destroy() {
    if (sockId != -1) {
        Platform::closeSocket(sockId);
        sockId = -1;
    }
}

void Socket::shutdown() {
    if (sockId != -1) {
        Platform::shutdownSocket(sockId);
    }
}

std::string Socket::peerName() {
    sockaddr_in peer;
    socklen_t length = sizeof peer;
    if (getpeername(sockId, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
        peer.sin_family != AF_INET) {
        return "[error get peer name]";
    }
    char text[INET_ADDRSTRLEN];
    // inet_ntop rather than inet_ntoa: the listener thread and the game thread may both ask.
    if (inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) == nullptr) {
        return "[error get peer name]";
    }
    return text;
}

void Socket::setLinkOptions(bool sending) {
    // Without it the connection only waits longer for a message's last write.
    Platform::sendAtOnce(sockId);
    setKeepAlive(sockId, sending);
}

void Socket::open(const char* errorFormat) {
    sockId = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (sockId < 0) {
        sockId = -1;
        throw ConnectionException(errorFormat, Platform::errorText(Platform::lastError()).c_str());
    }
}

ClientSocket::ClientSocket() {}

ClientSocket::ClientSocket(Host host) {
    open("ClientSocket: cannot create socket - %s");
    sockaddr_in address;
    host.getSin(&address);
    if (connect(sockId, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
        connectFailed(Platform::lastError());
    }
    setLinkOptions(true);
}

bool ClientSocket::startConnect(const Host& host) {
    open("ClientSocket: cannot create socket - %s");
    Platform::setBlocking(sockId, false);
    sockaddr_in address;
    host.getSin(&address);
    if (connect(sockId, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        connected();
        return true;
    }
    int error = Platform::lastError();
    if (!Platform::connectInProgress(error)) {
        connectFailed(error);
    }
    return false;
}

bool ClientSocket::connectDone() {
    if (!Platform::connectFinished(sockId)) {
        return false;
    }
    int error = Platform::connectError(sockId);
    if (error != 0) {
        connectFailed(error);
    }
    connected();
    return true;
}

void ClientSocket::connectFailed(int error) {
    ConnectionException e(kCannotConnect, Platform::errorText(error).c_str());
    destroy();
    throw e;
}

void ClientSocket::connected() {
    Platform::setBlocking(sockId, true);
    // Only now: the user time-out would otherwise also cut short the connect, whose own
    // time-out is its owner's.
    setLinkOptions(true);
}

ServerSocket::ServerSocket() {}

ServerSocket::ServerSocket(unsigned port) {
    open("ServerSocket: cannot create socket - %s");
    // Address reuse lets a new game listen while connections of the last one are in TIME_WAIT;
    // a port on which another socket listens still cannot be bound.
    Platform::reuseAddress(sockId);
    sockaddr_in any;
    memset(&any, 0, sizeof any);
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    sockaddr_in address;
    Host(any, port).getSin(&address);
    if (bind(sockId, reinterpret_cast<sockaddr*>(&address), sizeof address) == -1) {
        ConnectionException e("ServerSocket: cannot bind to port %d - %s", port,
                              Platform::errorText(Platform::lastError()).c_str());
        destroy();
        throw e;
    }
    if (listen(sockId, kBacklog) == -1) {
        System::Exception e("ClientSocket: %s", Platform::errorText(Platform::lastError()).c_str());
        destroy();
        throw e;
    }
}

AcceptedSocket ServerSocket::wait() {
    Host host;
    return wait(host);
}

AcceptedSocket ServerSocket::wait(Host& host) {
    sockaddr_in peer;
    memset(&peer, 0, sizeof peer);
    socklen_t length = sizeof peer;
    int fd = accept(sockId, reinterpret_cast<sockaddr*>(&peer), &length);
    if (fd == -1) {
        throw ConnectionException("ServerSocket::wait accepting connection down%s", "");
    }
    host = Host(peer);
    AcceptedSocket accepted(host, fd);
    accepted.setLinkOptions(false);
    return accepted;
}

AcceptedSocket::AcceptedSocket() {}

AcceptedSocket::AcceptedSocket(Host h, int fd) : host(h) {
    sockId = fd;
}

}  // namespace Net
