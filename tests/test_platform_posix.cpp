// The tests' system calls on POSIX systems (Linux).
#include "test_platform.h"

#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "net_stdafx.h"

namespace Testing {

const int kNoSocket = EBADF;
const int kConnectionReset = ECONNRESET;
const int kConnectionRefused = ECONNREFUSED;
const int kAddressInUse = EADDRINUSE;

bool peerGone(int error) {
    return error == ECONNRESET || error == EPIPE;
}

bool underWine() {
    return false;
}

void boundReceives(int socket, std::chrono::milliseconds deadline) {
    timeval tv{};
    tv.tv_sec = deadline.count() / 1000;
    tv.tv_usec = deadline.count() % 1000 * 1000;
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

bool blocking(int socket) {
    return (fcntl(socket, F_GETFL) & O_NONBLOCK) == 0;
}

int pendingBytes(int socket) {
    int n = 0;
    ioctl(socket, FIONREAD, &n);
    return n;
}

void shutdownSending(int socket) {
    shutdown(socket, SHUT_WR);
}

bool keepAliveTimes(int socket, KeepAliveTimes& times) {
    int timeout = 0;
    struct {
        int name;
        int* value;
    } options[] = {{TCP_KEEPIDLE, &times.idle},
                   {TCP_KEEPINTVL, &times.interval},
                   {TCP_KEEPCNT, &times.count},
                   {TCP_USER_TIMEOUT, &timeout}};
    for (const auto& o : options) {
        socklen_t length = sizeof *o.value;
        if (getsockopt(socket, IPPROTO_TCP, o.name, o.value, &length) != 0) {
            return false;
        }
    }
    times.userTimeoutMs = static_cast<unsigned>(timeout);
    return true;
}

void setEnvironment(const char* name, const char* value) {
    if (value == nullptr) {
        unsetenv(name);
    } else {
        setenv(name, value, 1);
    }
}

int openDescriptors() {
    std::error_code error;
    std::filesystem::directory_iterator fds("/proc/self/fd", error);
    if (error) {
        return -1;
    }
    // Less the one the listing itself holds open.
    return static_cast<int>(std::distance(fds, std::filesystem::directory_iterator())) - 1;
}

bool canLimitAddressSpace() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#else
    return true;
#endif
}

bool limitAddressSpace(long room) {
    long pages = 0;
    FILE* statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr) {
        return false;
    }
    bool read = fscanf(statm, "%ld", &pages) == 1;
    fclose(statm);
    if (!read) {
        return false;
    }
    rlim_t limit = pages * sysconf(_SC_PAGESIZE) + room;
    struct rlimit rl = {limit, limit};
    return setrlimit(RLIMIT_AS, &rl) == 0;
}

}  // namespace Testing
