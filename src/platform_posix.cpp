// The platform calls on POSIX systems (Linux): BSD sockets that need no start-up, errno and
// strerror, signals, '/' paths, and the window's place on an X11 desktop.
#include "platform.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <signal.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "net_stdafx.h"
#include "window_icon.h"

// The graphics library's X11 side: its display and window, its lock, its input hook.
#include <allegro.h>
#include <xalleg.h>
#include <X11/Xatom.h>
#include <X11/Xresource.h>

// The library's icon for its windows, an XPM picture that it reads as it makes a window; its own
// unless the program gives another. Not declared in its headers.
extern "C" void* allegro_icon;

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

std::vector<Interface> interfaces() {
    std::vector<Interface> found;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return found;
    }
    for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        auto ipv4 = [](const sockaddr* a) {
            return a == nullptr || a->sa_family != AF_INET
                       ? 0u
                       : ntohl(reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr);
        };
        Interface one;
        one.address = ipv4(i->ifa_addr);
        one.mask = ipv4(i->ifa_netmask);
        one.up = (i->ifa_flags & IFF_UP) != 0 && (i->ifa_flags & IFF_RUNNING) != 0;
        one.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        one.pointToPoint = (i->ifa_flags & IFF_POINTOPOINT) != 0;
        one.canBroadcast = (i->ifa_flags & IFF_BROADCAST) != 0;
        // The same field holds the far end of a point-to-point link.
        if (one.canBroadcast) {
            one.broadcast = ipv4(i->ifa_broadaddr);
        }
        found.push_back(one);
    }
    freeifaddrs(list);
    return found;
}

void prepareDatagramSocket(int socket) {
    // Without SO_REUSEADDR nobody else binds the port while this socket holds it.
    int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
}

bool sendDatagram(int socket, const char* data, int size, uint32_t address, unsigned port) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    to.sin_port = htons(static_cast<uint16_t>(port));
    return sendto(socket, data, size, MSG_DONTWAIT | MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&to),
                  sizeof to) == size;
}

long receiveDatagram(int socket, char* data, int size, uint32_t& fromAddress, unsigned& fromPort) {
    sockaddr_in from = {};
    socklen_t length = sizeof from;
    // MSG_TRUNC: the datagram's own length, so that one too long is seen as such.
    long n = recvfrom(socket, data, size, MSG_DONTWAIT | MSG_TRUNC,
                      reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) {
        return -1;
    }
    fromAddress = from.sin_family == AF_INET ? ntohl(from.sin_addr.s_addr) : 0;
    fromPort = ntohs(from.sin_port);
    return n;
}

const char* const kWindowClass = "fiveinarow";

namespace {

// The library's input handling, on its input thread under its lock: a pointer that leaves or
// enters the window changes nothing the library tells the program of, but the arrow the game
// draws goes or comes with it.
void handleInputWatchingPointer() {
    int before = mouse_on_screen();
    _xwin_private_handle_input();
    if (mouse_on_screen() != before) {
        wakeMain();
    }
}

// A 32-bit property of the window: count values of data.
void setCardinals(Display* display, Window window, const char* name, const unsigned long* data,
                  size_t count) {
    Atom property = XInternAtom(display, name, False);
    XChangeProperty(display, window, property, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data), static_cast<int>(count));
}

}  // namespace

void prepareWindow() {
    xwin_set_window_name(kWindowClass, kWindowClass);
    allegro_icon = const_cast<char**>(WindowIcon::kXpm);
}

void dressWindow() {
    XLOCK();
    Display* display = _xwin.display;
    Window window = _xwin.wm_window;
    if (display != nullptr && window != None) {
        setCardinals(display, window, "_NET_WM_ICON", WindowIcon::kNetWmIcon,
                     WindowIcon::kNetWmIconLength);
        const unsigned long pid = static_cast<unsigned long>(getpid());
        setCardinals(display, window, "_NET_WM_PID", &pid, 1);
        // The process's id means something only beside the machine it runs on.
        char host[256];
        if (gethostname(host, sizeof host) == 0) {
            host[sizeof host - 1] = '\0';
            char* names[] = {host};
            XTextProperty machine;
            if (XStringListToTextProperty(names, 1, &machine) != 0) {
                XSetWMClientMachine(display, window, &machine);
                XFree(machine.value);
            }
        }
        XFlush(display);
    }
    _xwin_input_handler = handleInputWatchingPointer;
    XUNLOCK();
}

bool pointerOverWindow() {
    // The library follows the pointer's leaving and entering the window (and wakes the main
    // thread for it, see dressWindow).
    return mouse_on_screen() != 0;
}

double desktopDpi() {
    std::string resources;
    XLOCK();
    // The resources as they were when the library opened the display, as other programs read them.
    if (_xwin.display != nullptr && XResourceManagerString(_xwin.display) != nullptr) {
        resources = XResourceManagerString(_xwin.display);
    }
    XUNLOCK();
    if (resources.empty()) {
        return 0;
    }
    XrmInitialize();
    XrmDatabase database = XrmGetStringDatabase(resources.c_str());
    if (database == nullptr) {
        return 0;
    }
    double dpi = 0;
    char* type = nullptr;
    XrmValue value;
    if (XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr != nullptr) {
        char* end = nullptr;
        double read = std::strtod(value.addr, &end);
        dpi = end != value.addr ? read : 0;
    }
    XrmDestroyDatabase(database);
    return dpi;
}

bool startDetachedThread(std::function<void()> work) {
    try {
        std::thread(std::move(work)).detach();
    } catch (std::system_error&) {
        return false;
    }
    return true;
}

namespace {

// The main thread's wake-up: a pipe whose reading end it polls. Made before main() runs, so that
// a signal handler never finds it missing; both ends never block.
struct WakePipe {
    int read = -1;
    int write = -1;
    WakePipe() {
        int fds[2];
        if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            read = fds[0];
            write = fds[1];
        }
    }
};
const WakePipe wakePipe;
// How long a wait rests at most when the system gave no pipe.
constexpr int kNoPipeRestMs = 20;

}  // namespace

void wakeMain() {
    // A full pipe already wakes the reader: the byte that did not fit is not missed.
    const char byte = 0;
    int saved = errno;
    ssize_t ignored = ::write(wakePipe.write, &byte, 1);
    (void)ignored;
    errno = saved;
}

void waitForWake(int milliseconds, SocketWatch watch) {
    if (wakePipe.read == -1 && milliseconds == kForever) {
        // Nothing could wake this wait: loops look again now and then instead.
        milliseconds = kNoPipeRestMs;
    }
    pollfd p[2] = {{wakePipe.read, POLLIN, 0}, {-1, 0, 0}};
    if (watch.socket != -1) {
        // A connect that ends, either way, makes the socket writable; a failed one also shows
        // as an error, which poll reports whatever was asked.
        short events = watch.event == SocketEvent::kConnectEnds ? POLLOUT : POLLIN;
        p[1] = {watch.socket, events, 0};
    }
    if (poll(p, 2, milliseconds) > 0 && (p[0].revents & POLLIN) != 0) {
        char drain[64];
        while (::read(wakePipe.read, drain, sizeof drain) > 0) {
        }
    }
}

void watchSignals(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // Any thread may take the signal: blocking reads and accepts must go on as if nothing
    // happened, not fail with EINTR.
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(number, &action, nullptr);
    }
}

void endAsSignal(int number) {
    // The signal stays blocked while its handler runs, and is delivered with this action once
    // the handler returns.
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(number, &action, nullptr);
    raise(number);
}

long writeSome(int fd, const char* data, size_t size) {
    return write(fd, data, size);
}

std::string nativePath(const std::string& path) {
    return path;
}

std::string executablePath() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof path) {
        return "";
    }
    return std::string(path, static_cast<size_t>(n));
}

bool picturesBesideExecutable() {
    // Installed games read them from the folder the build names (see picture_folder.h).
    return false;
}

}  // namespace Platform
