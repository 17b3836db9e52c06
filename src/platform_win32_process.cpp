// The process on Windows: the system's own detached threads, the main thread's wake-up event and
// its wait, the console's control events in place of most signals, the C runtime's descriptors,
// '\' paths and the pictures beside the executable.
#include "platform.h"

#include "platform_win32_internal.h"

#include <io.h>
#include <process.h>
#include <signal.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <vector>

namespace Platform {

namespace {

// Where the console's control events go; set before they are watched.
std::atomic<void (*)(int)> signalHandler{nullptr};

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
        // Watching made the socket non-blocking; one that was blocking before goes back to it,
        // which the system allows only once the watch is off. A socket left non-blocking would
        // read "nothing yet" as an error: say so, once.
        static bool restoreFailed = false;
        u_long blocking = 0;
        bool restored =
            WSAEventSelect(socket, nullptr, 0) == 0 &&
            (madeNonBlocking(watch.socket) || ioctlsocket(socket, FIONBIO, &blocking) == 0);
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
