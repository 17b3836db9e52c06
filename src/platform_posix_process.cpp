// The process on POSIX systems: detached threads, the main thread's wake-up pipe and its wait,
// signals, the standard descriptors, '/' paths and where the executable is.
#include "platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <system_error>
#include <thread>

namespace Platform {

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
