// The few calls that differ between the systems the game runs on: the sockets library's start and
// end, the socket calls whose names, flags or error reporting differ, threads nobody waits for,
// the signals or console events that ask the program to end, the main thread's wake-up, raw writes
// to the standard descriptors, and where the program's files are. Each system has its sources
// behind this header, one a subsystem, which the sections below name (platform_posix_*.cpp,
// platform_win32_*.cpp); everything else in the program is written once for all of them.
//
// Sockets are plain ints here as everywhere in the program, -1 for none. Windows socket handles
// fit: the system keeps handles below 2^32 so that 32-bit and 64-bit programs can share them, and
// its invalid socket becomes -1.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Platform {

// ---- Sockets (platform_*_net.cpp) ----

// Starts the sockets library where the system has one to start; false when it refuses. Once,
// before the first socket, on the main thread.
bool startSockets();
// Ends what startSockets started (nothing when it did not start). Once, after the last socket.
void stopSockets();

// The error number that the last failed socket call of this thread left, in the system's own
// numbering (errno, or the sockets library's numbers). Read it right after the failure.
int lastError();
// The system's text for an error number of lastError(): one line without a final full stop,
// e.g. "Connection refused".
std::string errorText(int error);
// An error number the program names, in the system's numbering: a connect that timed out.
extern const int kTimedOut;

// Closes a socket.
void closeSocket(int socket);
// Stops all traffic on a socket, both ways, without closing it: a receive or accept blocked in
// another thread returns, and so do later ones. An accept may then fail, or return a connection
// made for the purpose (on Windows, where nothing else wakes it): the caller, who knows it has
// asked for the end, closes that at once.
void shutdownSocket(int socket);
// One send of at most size bytes; the count sent, or -1 (lastError()). A peer that has gone
// gives an error, never a signal that would end the program.
long sendSome(int socket, const char* data, int size);
// One receive of at most size bytes; the count received, 0 at the end of the connection, or -1
// (lastError()). A socket that shutdownSocket has shut down reads as ended.
long receiveSome(int socket, char* data, int size);
// The same, but what it reads stays waiting for the next receive.
long peekSome(int socket, char* data, int size);
// Whether a receive would return at once: data, the end of the connection or an error waits.
// Never blocks.
bool readableNow(int socket);
// Lets a listening socket bind a port that connections of an earlier game still hold while they
// time out (TIME_WAIT), but never a port on which another socket listens. Before the bind.
void reuseAddress(int socket);

// Sends small writes at once (no Nagle delay): a message goes out in several writes.
void sendAtOnce(int socket);
// Turns on keep-alive with its times in seconds: probes after idle seconds without traffic,
// interval seconds apart, count of them unanswered end the connection. userTimeoutMs, when not 0,
// is how long sent data may stay unacknowledged before the connection is given up. False when the
// system refuses one of them: refused then names that setting, its value and the system's reason,
// e.g. "TCP_KEEPCNT 200 (Invalid argument)"; the settings before it stay in force. A system
// that lacks an option altogether is no refusal: Windows before 10 (1709) and wine take idle and
// interval only together and keep their own count, and wine has no user time-out.
bool setKeepAlive(int socket, int idle, int interval, int count, unsigned userTimeoutMs,
                  std::string& refused);

// Reads a dotted IPv4 address as inet_addr reads it (short forms such as "127.1" too) into
// address, in network byte order. False when text is no address; unlike inet_addr, this tells
// "255.255.255.255" from a text that is none.
bool readDotted(const char* text, unsigned long& address);
// The resolver's text for a failed getaddrinfo's status (for a failure of the system itself,
// the system's reason).
std::string lookupErrorText(int status);

// Switches a socket between blocking and non-blocking mode.
void setBlocking(int socket, bool blocking);
// Whether an error of a connect on a non-blocking socket only says that it goes on in the
// background.
bool connectInProgress(int error);
// Whether the connect going on in the background has ended, for better or worse. Never blocks.
bool connectFinished(int socket);
// The error that ended that connect, 0 when it succeeded.
int connectError(int socket);

// ---- Datagrams and the machine's interfaces (platform_*_datagram.cpp) ----

// One IPv4 interface of this machine; addresses in host byte order.
struct Interface {
    uint32_t address = 0;
    uint32_t mask = 0;
    // The broadcast address the system names for it, or the far end of a point-to-point link; 0
    // where it names none.
    uint32_t broadcast = 0;
    bool up = false;
    bool loopback = false;
    bool pointToPoint = false;
    bool canBroadcast = false;
    // The system's name for it ("" where it gives none), and whether the default route leaves by
    // it.
    std::string name;
    bool defaultRoute = false;
};
// The machine's IPv4 interfaces as the system lists them; empty when it does not say.
std::vector<Interface> interfaces();

// Makes a new UDP socket fit for the game's discovery, before its bind: it may send broadcasts,
// its port is its own alone (no other socket shares it, on Windows not even one that asks to), and
// a send that the far side answered with "port unreachable" leaves its receives working.
void prepareDatagramSocket(int socket);
// Sends one datagram of size bytes to address and port (host byte order), never blocking: a
// datagram that finds no room (the system still holds earlier ones for a neighbour that does not
// answer) is dropped. False when it did not go.
bool sendDatagram(int socket, const char* data, int size, uint32_t address, unsigned port);
// Takes one datagram waiting on socket into data, never blocking: its full length (more than
// size for one that was cut), its sender's address and port in host byte order. -1 when none
// waits or the receive failed.
long receiveDatagram(int socket, char* data, int size, uint32_t& fromAddress, unsigned& fromPort);

// ---- Waking the main thread (platform_*_process.cpp) ----

// Wakes the main thread from waitForWake(), or ends its next wait at once when it is not waiting:
// whoever changes something that the main thread's loops look at (a key, the mouse, a message
// from the peer, a request to end) calls it. Several calls before a wait count as one. Any
// thread; safe in a signal handler.
void wakeMain();

// What a socket may do that ends the main thread's wait as wakeMain() does.
enum class SocketEvent {
    // A connect going on in the background (the socket is non-blocking) ends, for better or
    // worse.
    kConnectEnds,
    // Data, the end of the connection or an error waits to be read (the socket is blocking and
    // is left so).
    kReadable,
};
// A socket to watch beside wakeMain(); none by default.
struct SocketWatch {
    int socket = -1;
    SocketEvent event = SocketEvent::kReadable;
};
// A wait without a time limit.
constexpr int kForever = -1;

// The milliseconds of a wait that ends at deadline: rounded up, so that the wait never ends
// before it; 0 once it has passed.
inline int restUntil(std::chrono::steady_clock::time_point deadline,
                     std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now()) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<int>(left > 0 ? left : 0);
}

// Sleeps until wakeMain() has been called since the last wait began, the watched socket does
// what it is watched for, or milliseconds have passed (kForever: no limit). Returns at once when
// the socket has done so already. Main thread only.
void waitForWake(int milliseconds, SocketWatch watch = SocketWatch());

// ---- The window on the desktop (platform_*_window.cpp) ----

// The class the program's window names itself by (WM_CLASS on X11), which the desktop entry's
// StartupWMClass names too: docks and task switchers tie the window to the entry, its name and
// its icon by it.
extern const char* const kWindowClass;
// Before the graphics library starts, as it makes its window while it starts: where the system
// takes them from the window, gives the library the window's class and the program's icon. Main
// thread.
void prepareWindow();
// Once the library has started and made its window, before it is shown: gives the window what
// the library does not on this system (the icon in the sizes desktops read, the process's id), and
// makes the pointer's leaving or entering the window wake the main thread (wakeMain), as moves
// do: where the system takes no cursor from the game, the arrow the game draws goes and comes
// with the pointer. Main thread.
void dressWindow();
// Whether the pointer is over the window's drawing area, where a drawn arrow belongs (the desktop
// shows its own pointer elsewhere). Main thread. Without a window, what the library says.
bool pointerOverWindow();
// The resolution in dots per inch at which the desktop asks programs to draw (96 is 100 %), as it
// tells them (the Xft.dpi resource on X11); 0 where it says nothing, and on a system that
// enlarges the windows of programs that draw at one size itself (Windows). After the library has
// started.
double desktopDpi();

// ---- The program and its files (platform_*_process.cpp) ----

// Runs work on a thread of its own that nobody waits for: it ends by itself, and may outlive
// whoever started it. False, with work not run, when no thread could be made.
bool startDetachedThread(std::function<void()> work);

// Makes the events that ask a program to end from outside call handler with a signal number:
// SIGINT, SIGTERM and SIGHUP on POSIX systems; on Windows the console's Ctrl+C (SIGINT),
// Ctrl+Break (SIGBREAK) and its closing, the user's logging off or the system shutting down
// (SIGTERM), and raise(SIGTERM). The handler may run on any thread, or as a signal handler:
// it may only touch lock-free atomics. Blocking calls of other threads are not interrupted.
void watchSignals(void (*handler)(int));
// Gives signal number back its default action and raises it: the program ends as that signal
// ends programs. Safe in the handler given to watchSignals (async-signal-safe calls only).
void endAsSignal(int number);

// One write of at most size bytes to a file descriptor of the C runtime (1 standard output, 2
// standard error); the count written, or -1 with errno set.
long writeSome(int fd, const char* data, size_t size);

// path, in the program's form with '/' between the folders, as the system writes it.
std::string nativePath(const std::string& path);
// The full path of the running program's executable, in UTF-8; "" when the system does not say.
std::string executablePath();
// Whether the program's pictures are installed beside its executable (data/ in the executable's
// folder, wherever the program is started from) rather than where the build says.
bool picturesBesideExecutable();

}  // namespace Platform
