// The close button and the signals, reduced to one flag that the main thread acts on.
#include "quit_request.h"

#include <allegro.h>

#include <atomic>

#include "platform.h"

namespace System {

namespace {
// The cause of the request, 0 for none. A signal handler may only touch lock-free atomics.
std::atomic<int> quitCause{0};
static_assert(std::atomic<int>::is_always_lock_free, "the quit flag must be lock-free");
// Whether a signal has asked already. The clean end can take a while (a send to a peer that no
// longer reads waits for the link to give up); a second signal must not be ignored meanwhile.
std::atomic<bool> signalled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal flag must be lock-free");

// The library calls this from its own input thread.
void onCloseButton() {
    requestQuit(QuitRequest::kCloseButton);
}

void onSignal(int number) {
    if (!signalled.exchange(true)) {
        requestQuit(number);
        return;
    }
    // Asked twice: the signal's own action, at once.
    Platform::endAsSignal(number);
}
}  // namespace

QuitRequest::QuitRequest(int cause) : cause(cause) {}

std::string QuitRequest::reason() const {
    if (cause == kCloseButton) {
        return "close button";
    }
    return "signal " + std::to_string(cause);
}

void watchForQuit() {
    set_close_button_callback(onCloseButton);
    watchSignals();
}

void watchSignals() {
    Platform::watchSignals(onSignal);
}

void requestQuit(int cause) {
    int none = 0;
    quitCause.compare_exchange_strong(none, cause);
    // The main thread may be resting between two passes.
    Platform::wakeMain();
}

void checkQuit() {
    int cause = quitCause.load();
    if (cause != 0) {
        throw QuitRequest(cause);
    }
}

void forgetQuitRequest() {
    quitCause.store(0);
    signalled.store(false);
}

}  // namespace System
