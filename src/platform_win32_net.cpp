// The socket calls on Windows: Winsock, which must be started and has its own error numbers and
// texts, stream sockets and their connects, keep-alives, and the resolver's texts.
#include "platform.h"

#include "platform_win32_internal.h"

#include <mstcpip.h>
#include <windows.h>

#include <mutex>
#include <set>

namespace Platform {

const int kTimedOut = WSAETIMEDOUT;

namespace {

// The version of Winsock the program asks for: 1.1 has all it uses.
const WORD kWinsockVersion = MAKEWORD(1, 1);
// Main thread only, like startSockets and stopSockets.
bool socketsStarted = false;

// The sockets that setBlocking made non-blocking: the system does not tell, and the main thread's
// wait must leave each socket as it found it. Any thread.
std::mutex nonBlockingLock;
std::set<SOCKET> nonBlocking;

// The system's message for error in the language asked for, or "" when it has none there.
std::string systemMessage(int error, WORD language) {
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), language, reinterpret_cast<wchar_t*>(&text), 0,
        nullptr);
    if (length == 0 || text == nullptr) {
        return "";
    }
    std::string message = toUtf8(text, static_cast<int>(length));
    LocalFree(text);
    return message;
}

// Messages end with a full stop and a line end; the program's lines add their own end.
std::string trimmed(std::string text) {
    auto dropSpace = [&text] {
        while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                                 text.back() == '\t')) {
            text.pop_back();
        }
    };
    dropSpace();
    if (!text.empty() && text.back() == '.') {
        text.pop_back();
        dropSpace();
    }
    return text;
}

bool isListening(SOCKET socket) {
    BOOL listening = FALSE;
    int length = sizeof listening;
    return getsockopt(socket, SOL_SOCKET, SO_ACCEPTCONN, reinterpret_cast<char*>(&listening),
                      &length) == 0 &&
           listening;
}

// Nothing but a connection wakes an accept here, and it must also end one that has not begun
// yet: connect to the listening socket from this side, over loopback, where it is made at once.
void knock(SOCKET listening) {
    sockaddr_in address;
    int length = sizeof address;
    if (getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        address.sin_family != AF_INET) {
        return;
    }
    if (address.sin_addr.s_addr == htonl(INADDR_ANY)) {
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    SOCKET knocker = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (knocker == INVALID_SOCKET) {
        return;
    }
    // The connection waits in the listening socket's queue even once this end is closed.
    connect(knocker, reinterpret_cast<sockaddr*>(&address), sizeof address);
    closesocket(knocker);
}

}  // namespace

bool startSockets() {
    WSADATA data;
    if (WSAStartup(kWinsockVersion, &data) != 0) {
        return false;
    }
    socketsStarted = true;
    return true;
}

void stopSockets() {
    if (socketsStarted) {
        WSACleanup();
        socketsStarted = false;
    }
}

int lastError() {
    return WSAGetLastError();
}

std::string errorText(int error) {
    // English as on every other system the game runs on; the user's language where the system
    // has no English messages.
    std::string text = systemMessage(error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (text.empty()) {
        text = systemMessage(error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));
    }
    text = trimmed(text);
    if (text.empty()) {
        return "Unknown error " + std::to_string(error);
    }
    return text;
}

void closeSocket(int socket) {
    {
        // Its handle may come again for a new socket, which is blocking.
        std::lock_guard<std::mutex> hold(nonBlockingLock);
        nonBlocking.erase(handle(socket));
    }
    closesocket(handle(socket));
}

void shutdownSocket(int socket) {
    if (isListening(handle(socket))) {
        knock(handle(socket));
        return;
    }
    // Later receives fail at once; one already waiting is not woken by that here, but by
    // cancelling it.
    shutdown(handle(socket), SD_BOTH);
    CancelIoEx(reinterpret_cast<HANDLE>(handle(socket)), nullptr);
}

long sendSome(int socket, const char* data, int size) {
    // Winsock raises no SIGPIPE: a peer that has gone gives an error anyway.
    return send(handle(socket), data, size, 0);
}

namespace {
long receive(int socket, char* data, int size, int flags) {
    long ret = recv(handle(socket), data, size, flags);
    if (ret < 0) {
        // A receive that shutdownSocket cancelled, or one after it: this side has ended the
        // connection, which reads as its end, as it does on POSIX systems.
        int error = WSAGetLastError();
        if (error == WSA_OPERATION_ABORTED || error == WSAESHUTDOWN) {
            return 0;
        }
    }
    return ret;
}
}  // namespace

long receiveSome(int socket, char* data, int size) {
    return receive(socket, data, size, 0);
}

long peekSome(int socket, char* data, int size) {
    return receive(socket, data, size, MSG_PEEK);
}

bool readableNow(int socket) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle(socket), &readable);
    timeval now = {0, 0};
    return select(0, &readable, nullptr, nullptr, &now) > 0;
}

void reuseAddress(int /*socket*/) {
    // Nothing: a plain bind here already takes a port whose old connections are in TIME_WAIT,
    // while SO_REUSEADDR would let this socket listen beside another one on the same port.
}

void setBlocking(int socket, bool blocking) {
    u_long mode = blocking ? 0 : 1;
    if (ioctlsocket(handle(socket), FIONBIO, &mode) != 0) {
        return;
    }
    std::lock_guard<std::mutex> hold(nonBlockingLock);
    if (blocking) {
        nonBlocking.erase(handle(socket));
    } else {
        nonBlocking.insert(handle(socket));
    }
}

bool madeNonBlocking(int socket) {
    std::lock_guard<std::mutex> hold(nonBlockingLock);
    return nonBlocking.count(handle(socket)) != 0;
}

bool connectInProgress(int error) {
    return error == WSAEWOULDBLOCK;
}

bool connectFinished(int socket) {
    // A connect that succeeded makes the socket writable; one that failed shows among the
    // exceptions, not the writable sockets (and WSAPoll of older systems misses it).
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(handle(socket), &writable);
    FD_SET(handle(socket), &failed);
    timeval now = {0, 0};
    return select(0, nullptr, &writable, &failed, &now) > 0;
}

int connectError(int socket) {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(handle(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                   &length) != 0) {
        return WSAGetLastError();
    }
    return error;
}

void sendAtOnce(int socket) {
    BOOL on = TRUE;
    setsockopt(handle(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
               sizeof on);
}

bool setKeepAlive(int socket, int idle, int interval, int count, unsigned userTimeoutMs,
                  std::string& refused) {
    // Windows 10 (1709) and later take the keep-alive times one by one, in seconds, like Linux;
    // the time sent data may stay unacknowledged is TCP_MAXRT, in whole seconds.
    const int kKeepIdle = 3;
    const int kMaxRetransmitTime = 5;
    const int kKeepCount = 16;
    const int kKeepInterval = 17;
    SOCKET s = handle(socket);
    // Sets one option; on a refusal, names it with its value and the system's reason.
    auto set = [s, &refused](int level, int name, const char* text, DWORD value) {
        if (setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0) {
            return true;
        }
        int error = lastError();
        refused = std::string(text) + " " + std::to_string(value) + " (" + errorText(error) + ")";
        WSASetLastError(error);
        return false;
    };
    // A system that does not know an option at all, rather than refusing its value.
    auto unknown = [] { return lastError() == WSAENOPROTOOPT; };

    if (!set(SOL_SOCKET, SO_KEEPALIVE, "SO_KEEPALIVE", 1)) {
        return false;
    }
    if (set(IPPROTO_TCP, kKeepIdle, "TCP_KEEPIDLE", static_cast<DWORD>(idle))) {
        if (!set(IPPROTO_TCP, kKeepInterval, "TCP_KEEPINTVL", static_cast<DWORD>(interval)) ||
            !set(IPPROTO_TCP, kKeepCount, "TCP_KEEPCNT", static_cast<DWORD>(count))) {
            return false;
        }
    } else if (unknown()) {
        // Older Windows, and wine, take the idle time and the interval only together, in
        // milliseconds, and keep their own count of probes: 10 on Windows, and under wine the
        // host's (9 on Linux).
        tcp_keepalive times = {1, static_cast<ULONG>(idle) * 1000,
                               static_cast<ULONG>(interval) * 1000};
        DWORD returned = 0;
        if (WSAIoctl(s, SIO_KEEPALIVE_VALS, &times, sizeof times, nullptr, 0, &returned, nullptr,
                     nullptr) != 0) {
            refused = "SIO_KEEPALIVE_VALS " + std::to_string(idle) + "," +
                      std::to_string(interval) + " (" + errorText(lastError()) + ")";
            return false;
        }
    } else {
        return false;
    }
    // Wine has no TCP_MAXRT (every Windows since Vista has): sent data then waits as long as the
    // system retransmits it.
    if (userTimeoutMs != 0 &&
        !set(IPPROTO_TCP, kMaxRetransmitTime, "TCP_MAXRT", (userTimeoutMs + 999) / 1000) &&
        !unknown()) {
        return false;
    }
    return true;
}

bool readDotted(const char* text, unsigned long& address) {
    unsigned long a = inet_addr(text);
    if (a == INADDR_NONE) {
        // The one address that reads as INADDR_NONE.
        in_addr all;
        if (InetPtonA(AF_INET, text, &all) != 1 || all.s_addr != INADDR_NONE) {
            return false;
        }
    }
    address = a;
    return true;
}

std::string lookupErrorText(int status) {
    // Winsock's look-up statuses are its error numbers.
    return errorText(status);
}

}  // namespace Platform
