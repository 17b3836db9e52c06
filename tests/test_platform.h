// What the tests need of the system beyond src/platform.h: the error numbers they expect, socket
// states and options that only they read or set, the environment, and allocations made to fail.
// One source per system, as for the program (test_platform_posix.cpp, test_platform_win32.cpp);
// the tests themselves are written once.
#pragma once

#include <chrono>

namespace Testing {

// ---- Error numbers, as Platform::lastError() gives them ----

// A call on a descriptor that is no socket at all (-1).
extern const int kNoSocket;
// The peer reset the connection.
extern const int kConnectionReset;
// Nothing listens where a connect went.
extern const int kConnectionRefused;
// Another socket listens on the port a bind asked for.
extern const int kAddressInUse;
// Whether error says that the peer of a connection has gone: it reset the connection, or it had
// closed it when this side sent.
bool peerGone(int error);
// Whether this is the Windows build run by wine, whose sockets (wine 8) differ from Windows' and
// Linux's where the peer resets a connection: a receive reads the end of the connection rather
// than failing with kConnectionReset, and a send that waits for room may never return.
bool underWine();

// ---- Sockets ----

// Receives on socket give up once they have waited deadline.
void boundReceives(int socket, std::chrono::milliseconds deadline);
// Whether receives on socket wait for data rather than fail at once. Only for a socket with
// nothing to read; afterwards it is fit for closing only (Windows can tell only by a receive that
// times out).
bool blocking(int socket);
// The count of bytes that socket has received and nobody has read yet.
int pendingBytes(int socket);
// Ends what this side sends on socket (the peer reads the end of the connection); receiving goes
// on.
void shutdownSending(int socket);

// The keep-alive times of a socket, and how long its sent data may stay unacknowledged (0 for
// the system's own time).
struct KeepAliveTimes {
    int idle;
    int interval;
    int count;
    unsigned userTimeoutMs;
};
// Reads them into times; false when the system does not say (wine sets them, but has no option
// to read them back).
bool keepAliveTimes(int socket, KeepAliveTimes& times);

// ---- The process ----

// Sets the environment variable name to value, or removes it when value is null.
void setEnvironment(const char* name, const char* value);

// How many descriptors the process has open, sockets included; -1 where the system does not say.
int openDescriptors();

// Whether limitAddressSpace can make large allocations return null here: not under a sanitizer,
// whose allocator aborts instead, nor where the system has no such limit.
bool canLimitAddressSpace();
// For a death test's child only: caps the address space at what the process maps now plus `room`
// bytes, so that a larger allocation fails. False when it could not.
bool limitAddressSpace(long room);

}  // namespace Testing
