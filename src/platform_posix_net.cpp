// The socket calls on POSIX systems (Linux): BSD sockets that need no start-up, errno and
// strerror, stream sockets and their connects, keep-alives, and the resolver's texts.
#include "platform.h"

#include <algorithm>
#include <climits>

#include "net_stdafx.h"

namespace Platform {

const int kTimedOut = ETIMEDOUT;

bool startSockets() {
    return true;
}

void stopSockets() {}

int lastError() {
    return errno;
}

std::string errorText(int error) {
    return strerror(error);
}

void closeSocket(int socket) {
    close(socket);
}

void shutdownSocket(int socket) {
    shutdown(socket, SHUT_RDWR);
}

long sendSome(int socket, const char* data, int size) {
    // MSG_NOSIGNAL: a peer that has gone must give an error here, not kill the program.
    return send(socket, data, size, MSG_NOSIGNAL);
}

long receiveSome(int socket, char* data, int size) {
    return recv(socket, data, size, 0);
}

long peekSome(int socket, char* data, int size) {
    return recv(socket, data, size, MSG_PEEK);
}

bool readableNow(int socket) {
    pollfd p = {socket, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

void reuseAddress(int socket) {
    // Here the option never lets two sockets listen on one port.
    int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

void setBlocking(int socket, bool blocking) {
    int flags = fcntl(socket, F_GETFL, 0);
    if (flags == -1) {
        return;
    }
    fcntl(socket, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
}

bool connectInProgress(int error) {
    return error == EINPROGRESS;
}

bool connectFinished(int socket) {
    pollfd p = {socket, POLLOUT, 0};
    return poll(&p, 1, 0) > 0;
}

int connectError(int socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    return error;
}

void sendAtOnce(int socket) {
    int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool setKeepAlive(int socket, int idle, int interval, int count, unsigned userTimeoutMs,
                  std::string& refused) {
    int on = 1;
    int timeout = static_cast<int>(std::min<unsigned>(userTimeoutMs, INT_MAX));
    struct Option {
        int level;
        int name;
        const int* value;
        const char* text;
    } options[] = {
        {SOL_SOCKET, SO_KEEPALIVE, &on, "SO_KEEPALIVE"},
        {IPPROTO_TCP, TCP_KEEPIDLE, &idle, "TCP_KEEPIDLE"},
        {IPPROTO_TCP, TCP_KEEPINTVL, &interval, "TCP_KEEPINTVL"},
        {IPPROTO_TCP, TCP_KEEPCNT, &count, "TCP_KEEPCNT"},
        {IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, "TCP_USER_TIMEOUT"},
    };
    for (const Option& o : options) {
        if (o.name == TCP_USER_TIMEOUT && userTimeoutMs == 0) {
            continue;
        }
        if (setsockopt(socket, o.level, o.name, o.value, sizeof *o.value) != 0) {
            refused =
                std::string(o.text) + " " + std::to_string(*o.value) + " (" + strerror(errno) + ")";
            return false;
        }
    }
    return true;
}

bool readDotted(const char* text, unsigned long& address) {
    in_addr a;
    if (inet_aton(text, &a) == 0) {
        return false;
    }
    address = a.s_addr;
    return true;
}

std::string lookupErrorText(int status) {
    return status == EAI_SYSTEM ? strerror(errno) : gai_strerror(status);
}

}  // namespace Platform
