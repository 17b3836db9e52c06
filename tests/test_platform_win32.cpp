// The tests' system calls on Windows: Winsock's error numbers and options, the C runtime's
// environment.
#include "test_platform.h"

#include <cstdlib>

#include "net_stdafx.h"

namespace Testing {

const int kNoSocket = WSAENOTSOCK;
const int kConnectionReset = WSAECONNRESET;
const int kConnectionRefused = WSAECONNREFUSED;
const int kAddressInUse = WSAEADDRINUSE;

bool peerGone(int error) {
    // Windows aborts the connection where Linux reports a broken pipe; wine passes on Linux's
    // broken pipe as a connection shut down.
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN;
}

bool underWine() {
    // Only wine's ntdll has this function.
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

namespace {

SOCKET handle(int socket) {
    return static_cast<SOCKET>(socket);
}

// SO_RCVTIMEO here is a count of milliseconds.
void setReceiveTimeout(int socket, DWORD ms) {
    setsockopt(handle(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms),
               sizeof ms);
}

}  // namespace

void boundReceives(int socket, std::chrono::milliseconds deadline) {
    setReceiveTimeout(socket, static_cast<DWORD>(deadline.count()));
}

bool blocking(int socket) {
    // Winsock cannot be asked: a receive with nothing to read fails at once, with
    // WSAEWOULDBLOCK, on a socket that does not block, and times out on one that does.
    setReceiveTimeout(socket, 1);
    char byte;
    bool wouldBlock = recv(handle(socket), &byte, 1, MSG_PEEK) == SOCKET_ERROR &&
                      WSAGetLastError() == WSAEWOULDBLOCK;
    return !wouldBlock;
}

int pendingBytes(int socket) {
    u_long n = 0;
    ioctlsocket(handle(socket), FIONREAD, &n);
    return static_cast<int>(n);
}

void shutdownSending(int socket) {
    shutdown(handle(socket), SD_SEND);
}

bool keepAliveTimes(int socket, KeepAliveTimes& times) {
    // TCP_KEEPIDLE, TCP_KEEPINTVL, TCP_KEEPCNT and TCP_MAXRT (seconds), which wine lacks.
    DWORD values[4] = {};
    const int names[4] = {3, 17, 16, 5};
    for (int i = 0; i < 4; i++) {
        int length = sizeof values[i];
        if (getsockopt(handle(socket), IPPROTO_TCP, names[i], reinterpret_cast<char*>(&values[i]),
                       &length) != 0) {
            return false;
        }
    }
    times = {static_cast<int>(values[0]), static_cast<int>(values[1]), static_cast<int>(values[2]),
             values[3] * 1000};
    return true;
}

void setEnvironment(const char* name, const char* value) {
    // An empty value removes the variable.
    _putenv_s(name, value == nullptr ? "" : value);
}

int openDescriptors() {
    // Sockets are handles among all the others here, and wine counts those its own way.
    return -1;
}

bool canLimitAddressSpace() {
    // A job's memory limit would come closest, but wine does not enforce it.
    return false;
}

bool limitAddressSpace(long /*room*/) {
    return false;
}

}  // namespace Testing
