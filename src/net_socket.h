// Blocking IPv4 stream sockets as thin value handles around one descriptor: the exact-length read
// and write the peer messages are built on, the client that connects, the server that listens and
// the connection it accepts, and their errors.
#pragma once

#include <string>
#include <utility>

#include "net_host.h"
#include "system.h"

namespace Net {

// Failure to create, connect, bind or accept a socket: shown to the user as a notice.
class ConnectionException : public System::Exception {
public:
    explicit ConnectionException(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    ConnectionException(const ConnectionException& e);
    ~ConnectionException();
    // Draws the message as a centred notice into the back buffer and presents the frame. Main
    // thread only.
    void show();
};

// The peer closed the connection before all the bytes of a read had come.
class ConnectionClosedException : public System::Exception {
public:
    ConnectionClosedException();
};

// A socket descriptor, or -1 when there is none. Copies share the descriptor (and so the
// connection); nothing closes it but destroy(), which tells no other copy. Each socket object is
// used by one thread, except shutdown() and peerName(), which another thread may call while a
// read or accept is pending.
class Socket {
public:
    Socket();

    // Reads exactly size bytes into buffer, blocking until they have come, tracing each receive
    // on standard error. Throws ConnectionClosedException when the peer closes first (the bytes of
    // buffer not yet received are then undefined) and System::Exception when a receive fails.
    void get(char* buffer, int size);
    // One read of at most size bytes; returns the count read (0 at the end of the connection).
    // Throws System::Exception when the read fails.
    int getOnce(char* buffer, int size);
    // Writes all size bytes of buffer, tracing each send on standard error, and ends with a
    // zero-length send. Throws System::Exception when a send fails, also when the peer has gone
    // (no SIGPIPE is raised).
    void set(const char* buffer, int size);
    // Closes the descriptor, if any; the object then holds -1.
    void destroy();
    // Stops all traffic on the descriptor without closing it: a pending accept or receive on
    // another thread returns. Does nothing without a descriptor.
    void shutdown();
    // The peer's dotted IPv4 address (no port), or "[error get peer name]".
    std::string peerName();
    bool isOpen() const { return sockId != -1; }
    // The descriptor, -1 for none, for a wait that watches it; it stays this object's.
    int descriptor() const { return sockId; }
    // For a connection this side only writes on: why the peer has left it (it closed it, reset
    // it, or stopped answering the keep-alive probes), or "" while it stands or without a
    // descriptor. Never blocks and reads nothing.
    std::string leftBecause();
    // Sets what a game connection needs on a real network: no Nagle delay (a message goes out in
    // several writes), and keep-alive, for the sending end with the user time-out, as
    // Net::setKeepAlive() does, so that a peer whose machine has vanished ends the connection and
    // a drop-out of the network does not. A setting the system refuses is skipped (a refused
    // keep-alive reported once): the connection works without it.
    void setLinkOptions(bool sending);

protected:
    // Opens an IPv4 TCP socket into sockId; throws ConnectionException with errorFormat and the
    // system's text when it cannot.
    void open(const char* errorFormat);

    int sockId;
};

// How every failure to reach the peer reads, with the reason after the dash.
inline constexpr char kCannotConnect[] = "ClinetSocket: Cannot connect to server - %s";

// A socket connected to a server, by its constructor or by a connect that its owner polls.
// Connected sockets carry the link options (setLinkOptions(true)).
class ClientSocket : public Socket {
public:
    ClientSocket();
    // Opens and connects (blocking, with the system's time-out). Throws ConnectionException.
    explicit ClientSocket(Host host);

    // Starts connecting to host without waiting for the answer. True when connected at once.
    // Throws ConnectionException, with the descriptor closed, when the socket cannot be made or
    // the connect fails at once.
    bool startConnect(const Host& host);
    // Whether the connect that startConnect began has succeeded; never blocks. Once it has, the
    // socket blocks again, as every other socket of the program. Throws ConnectionException with
    // the system's reason, with the descriptor closed, when the connect failed.
    bool connectDone();

private:
    [[noreturn]] void connectFailed(int error);
    // Makes a socket that has just connected ready for the game.
    void connected();
};

class AcceptedSocket;

// A socket bound to a port of every local interface and listening.
class ServerSocket : public Socket {
public:
    // No descriptor.
    ServerSocket();
    // Opens, binds (address reuse on, so that connections of an earlier game in TIME_WAIT do not
    // block the port) and listens. Throws ConnectionException when the socket cannot be made or
    // bound, System::Exception when it cannot listen; the descriptor is then closed.
    explicit ServerSocket(unsigned port);

    // Blocks until a peer connects and returns its connection. Throws ConnectionException when
    // the accept fails (also when the socket is shut down meanwhile).
    AcceptedSocket wait();
    // The same, and stores the peer's address in host as well.
    AcceptedSocket wait(Host& host);
};

// A connection taken by ServerSocket::wait; host is the peer's address as the accept gave it.
class AcceptedSocket : public Socket {
public:
    AcceptedSocket();
    AcceptedSocket(Host h, int fd);

    Host host;
};

// The one owner of a socket's descriptor: it closes the descriptor when it goes (or on destroy()),
// unless the descriptor has been handed on, by moving the owner or by release(). Interfaces take
// the plain handle (*owner): such copies share the descriptor and must not be used after the
// owner has closed it. Owner's thread only, unless the owner's holder guards it.
template <typename Handle>
class Owner {
public:
    // Owns nothing.
    Owner() {}
    // Owns handle's descriptor from now on.
    explicit Owner(const Handle& handle) : handle(handle) {}
    Owner(Owner&& other) noexcept : handle(other.release()) {}
    // Closes what this owner held, then takes other's descriptor.
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other) {
            handle.destroy();
            handle = other.release();
        }
        return *this;
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    ~Owner() { handle.destroy(); }

    Handle& operator*() { return handle; }
    Handle* operator->() { return &handle; }
    const Handle* operator->() const { return &handle; }
    // Closes the descriptor now; the owner then holds none.
    void destroy() { handle.destroy(); }
    // Hands the descriptor on without closing it: the caller closes it. The owner holds none.
    Handle release() {
        Handle handed = handle;
        handle = Handle();
        return handed;
    }

private:
    Handle handle;
};

// The connection this side writes on.
using SocketOwner = Owner<ClientSocket>;

}  // namespace Net
