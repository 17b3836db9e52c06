// The platform calls on Windows: Winsock, which must be started and has its own error numbers,
// the console's control events in place of most signals, the C runtime's descriptors, '\' paths
// and the pictures beside the executable.
#include "platform.h"

#include "net_stdafx.h"

#include <io.h>
#include <mstcpip.h>
#include <mswsock.h>
#include <process.h>
#include <signal.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <vector>

namespace Platform {

const int kTimedOut = WSAETIMEDOUT;

namespace {

// The version of Winsock the program asks for: 1.1 has all it uses.
const WORD kWinsockVersion = MAKEWORD(1, 1);
// Main thread only, like startSockets and stopSockets.
bool socketsStarted = false;

// Where the console's control events go; set before they are watched.
std::atomic<void (*)(int)> signalHandler{nullptr};

SOCKET handle(int socket) {
    // -1 becomes INVALID_SOCKET.
    return static_cast<SOCKET>(socket);
}

std::string toUtf8(const wchar_t* text, int length) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return "";
    }
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &utf8[0], size, nullptr, nullptr);
    return utf8;
}

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

unsigned __stdcall runDetached(void* job) noexcept {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(job));
    (*work)();
    return 0;
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    void (*handler)(int) = signalHandler.load();
    if (handler == nullptr) {
        return FALSE;
    }
    switch (event) {
        case CTRL_C_EVENT:
            handler(SIGINT);
            return TRUE;
        case CTRL_BREAK_EVENT:
            handler(SIGBREAK);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            handler(SIGTERM);
            // The system ends the process as soon as this returns: wait here instead, so that
            // the main thread has the few seconds the system allows to end the game and tell
            // the peer. The end of the program ends this thread too.
            Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
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
    u_long nonBlocking = blocking ? 0 : 1;
    ioctlsocket(handle(socket), FIONBIO, &nonBlocking);
}

std::vector<Interface> interfaces() {
    std::vector<Interface> found;
    // The system's list of interfaces with their masks (wine has it too); no other library.
    SOCKET asking = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (asking == INVALID_SOCKET) {
        return found;
    }
    INTERFACE_INFO list[64];
    DWORD bytes = 0;
    if (WSAIoctl(asking, SIO_GET_INTERFACE_LIST, nullptr, 0, list, sizeof list, &bytes, nullptr,
                 nullptr) == 0) {
        for (DWORD i = 0; i < bytes / sizeof list[0]; i++) {
            const INTERFACE_INFO& info = list[i];
            if (info.iiAddress.AddressIn.sin_family != AF_INET) {
                continue;
            }
            Interface one;
            one.address = ntohl(info.iiAddress.AddressIn.sin_addr.s_addr);
            one.mask = ntohl(info.iiNetmask.AddressIn.sin_addr.s_addr);
            // Always 255.255.255.255 here: the directed broadcast is made from address and mask.
            one.broadcast = ntohl(info.iiBroadcastAddress.AddressIn.sin_addr.s_addr);
            one.up = (info.iiFlags & IFF_UP) != 0;
            one.loopback = (info.iiFlags & IFF_LOOPBACK) != 0;
            one.pointToPoint = (info.iiFlags & IFF_POINTTOPOINT) != 0;
            one.canBroadcast = (info.iiFlags & IFF_BROADCAST) != 0;
            found.push_back(one);
        }
    }
    closesocket(asking);
    return found;
}

void prepareDatagramSocket(int socket) {
    BOOL on = TRUE;
    setsockopt(handle(socket), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
               sizeof on);
    // Without it another program may bind the same port with SO_REUSEADDR and take a share of
    // what comes to it.
    setsockopt(handle(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
    // Otherwise a "port unreachable" answer to one datagram sent makes a later receive fail with
    // WSAECONNRESET. Wine refuses the option; receiveDatagram passes over that error too.
    BOOL off = FALSE;
    DWORD bytes = 0;
    WSAIoctl(handle(socket), SIO_UDP_CONNRESET, &off, sizeof off, nullptr, 0, &bytes, nullptr,
             nullptr);
}

bool sendDatagram(int socket, const char* data, int size, uint32_t address, unsigned port) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    to.sin_port = htons(static_cast<u_short>(port));
    // The main thread's wait leaves a watched socket blocking: a send must never wait.
    setBlocking(socket, false);
    return sendto(handle(socket), data, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
           size;
}

long receiveDatagram(int socket, char* data, int size, uint32_t& fromAddress, unsigned& fromPort) {
    // Earlier "port unreachable" answers, each reported once, stand before a datagram.
    constexpr int kTries = 16;
    for (int i = 0; i < kTries && readableNow(socket); i++) {
        sockaddr_in from = {};
        int length = sizeof from;
        long n =
            recvfrom(handle(socket), data, size, 0, reinterpret_cast<sockaddr*>(&from), &length);
        int error = n < 0 ? WSAGetLastError() : 0;
        if (n < 0 && error != WSAEMSGSIZE) {
            if (error == WSAECONNRESET) {
                continue;
            }
            return -1;
        }
        fromAddress = ntohl(from.sin_addr.s_addr);
        fromPort = ntohs(from.sin_port);
        // A datagram cut to size was longer: it reads as longer than size.
        return n < 0 ? size + 1 : n;
    }
    return -1;
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

// The program's resources name its icon allegro_icon, which the library loads for its window.
// Windows has no class hint; wine gives the X11 window of a Windows program the executable's name
// as its class, which is what this names. The program declares no awareness of
// the screen's resolution (its manifest says nothing of it), so Windows enlarges its window on a
// screen at more than 100 %, as it does for every such program.
const char* const kWindowClass = "fiveinarow.exe";

// The graphics library's, declared here as its headers cannot be included beside windows.h.
extern "C" HWND win_get_window(void);
extern "C" int mouse_on_screen(void);
extern "C" void win_set_msg_pre_proc(int (*proc)(HWND, UINT, WPARAM, LPARAM, int*));

namespace {

// Whether the window has asked for word of the pointer's leaving; the library's window thread
// only, where the window's messages arrive.
bool trackingPointer = false;

// Sees the window's messages before the library does, on its window thread. The library's mouse
// driver is told of no move once the pointer is off the window (so under wine): the system's own
// word of the leaving wakes the main thread, as does the first move back over the window.
int watchPointer(HWND window, UINT message, WPARAM, LPARAM, int*) {
    if (message == WM_MOUSEMOVE && !trackingPointer) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
        trackingPointer = TrackMouseEvent(&track) != 0;
        wakeMain();
    } else if (message == WM_MOUSELEAVE) {
        trackingPointer = false;
        wakeMain();
    }
    // The library goes on to handle every message as before.
    return 1;
}

}  // namespace

void prepareWindow() {}

bool pointerOverWindow() {
    if (!mouse_on_screen()) {
        return false;
    }
    // The library's mouse driver sees the pointer leave only by moves it is told of: ask the
    // system where the pointer is.
    HWND window = win_get_window();
    POINT p;
    RECT client;
    if (window == nullptr || !GetCursorPos(&p) || !ScreenToClient(window, &p) ||
        !GetClientRect(window, &client)) {
        return true;
    }
    return PtInRect(&client, p) != 0;
}

void dressWindow() {
    win_set_msg_pre_proc(watchPointer);
}

double desktopDpi() {
    return 0;
}

bool startDetachedThread(std::function<void()> work) {
    // The system's own thread, not std::thread: with mingw's threads library (winpthreads 10), a
    // thread started while a detached one ends now and then runs without its argument (and
    // crashes), or not at all.
    auto job = std::make_unique<std::function<void()>>(std::move(work));
    uintptr_t thread = _beginthreadex(nullptr, 0, runDetached, job.get(), 0, nullptr);
    if (thread == 0) {
        return false;
    }
    job.release();
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

namespace {
// The main thread's wake-up: an event that resets itself when a wait takes it. Made before main()
// runs, so that a console event or a signal never finds it missing.
const HANDLE wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
// How long a wait rests at most when the system gave no event.
constexpr DWORD kNoEventRestMs = 20;
}  // namespace

void wakeMain() {
    SetEvent(wakeEvent);
}

namespace {
// Whether the socket has done what it is watched for; never blocks.
bool happened(const SocketWatch& watch) {
    return watch.event == SocketEvent::kConnectEnds ? connectFinished(watch.socket)
                                                    : readableNow(watch.socket);
}
}  // namespace

void waitForWake(int milliseconds, SocketWatch watch) {
    DWORD timeout = milliseconds == kForever ? INFINITE : static_cast<DWORD>(milliseconds);
    if (wakeEvent == nullptr) {
        // Nothing could wake this wait: loops look again now and then instead.
        Sleep(milliseconds == kForever ? kNoEventRestMs : timeout);
        return;
    }
    WSAEVENT socketEvent = watch.socket == -1 ? WSA_INVALID_EVENT : WSACreateEvent();
    if (socketEvent == WSA_INVALID_EVENT) {
        WaitForSingleObject(wakeEvent, timeout);
        return;
    }
    long events = watch.event == SocketEvent::kConnectEnds ? FD_CONNECT : FD_READ | FD_CLOSE;
    SOCKET socket = handle(watch.socket);
    // The system records only what happens once the socket is watched: what happened before
    // is looked at after, so that nothing falls between the two.
    if (WSAEventSelect(socket, socketEvent, events) != 0) {
        // Not watched after all: the loop looks at the socket again soon.
        WaitForSingleObject(wakeEvent, std::min<DWORD>(timeout, kNoEventRestMs));
    } else {
        if (!happened(watch)) {
            HANDLE both[2] = {wakeEvent, socketEvent};
            WaitForMultipleObjects(2, both, FALSE, timeout);
        }
        // Watching made the socket non-blocking; a connected one goes back to blocking, which
        // the system allows only once the watch is off. A socket left non-blocking would read
        // "nothing yet" as an error: say so, once.
        static bool restoreFailed = false;
        u_long blocking = 0;
        bool restored =
            WSAEventSelect(socket, nullptr, 0) == 0 &&
            (watch.event != SocketEvent::kReadable || ioctlsocket(socket, FIONBIO, &blocking) == 0);
        if (!restored && !restoreFailed) {
            restoreFailed = true;
            std::string line =
                "Cannot make the socket blocking again: " + errorText(WSAGetLastError()) + "\n";
            writeSome(2, line.data(), line.size());
        }
    }
    WSACloseEvent(socketEvent);
}

void watchSignals(void (*handler)(int)) {
    signalHandler.store(handler);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    // The C runtime's own request to end; the system never sends the others as signals.
    signal(SIGTERM, handler);
}

void endAsSignal(int number) {
    signal(number, SIG_DFL);
    raise(number);
}

long writeSome(int fd, const char* data, size_t size) {
    return _write(fd, data, static_cast<unsigned>(std::min<size_t>(size, INT_MAX)));
}

std::string nativePath(const std::string& path) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '/', '\\');
    return native;
}

std::string executablePath() {
    // Paths may be longer than MAX_PATH; the longest the system knows is 32767 characters.
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) {
            return "";
        }
        if (n < path.size()) {
            return toUtf8(path.data(), static_cast<int>(n));
        }
        if (path.size() > SHRT_MAX) {
            return "";
        }
        path.resize(path.size() * 2);
    }
}

bool picturesBesideExecutable() {
    return true;
}

}  // namespace Platform
