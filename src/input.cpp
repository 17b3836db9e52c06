// The queue of key and mouse presses, filled on the library's input thread and read by the main
// thread's screens.
#include "input.h"

#include <allegro.h>

#include <atomic>
#include <bitset>
#include <mutex>

#include "platform.h"
#include "system.h"

namespace System {

namespace {

constexpr int kButtons = 7;
constexpr int kRelease = 0x80;
constexpr int kScancodes = 0x80;
// Events kept; far more than a player makes between two passes of any loop.
constexpr uint64_t kKept = 256;

// The library calls in from its input thread, never from a signal handler: a mutex will do.
struct Queue {
    std::mutex mutex;
    InputEvent ring[kKept];
    // Number of the newest event; the first is 1, and 0 means none yet.
    uint64_t last = 0;
    // What the events so far leave down, to tell a press from the library's repeats and from a
    // move with the button held.
    std::bitset<kScancodes> keysDown;
    int buttonsDown = 0;

    // Mutex held.
    void push(InputEvent::Kind kind, int code, int x = 0, int y = 0) {
        ring[++last % kKept] = InputEvent{kind, code, x, y};
    }
};
Queue queue;

std::atomic<unsigned> buffered{0};

}  // namespace

void keyEvent(int scancode) {
    {
        std::lock_guard<std::mutex> hold(queue.mutex);
        int code = scancode & (kScancodes - 1);
        bool down = (scancode & kRelease) == 0;
        // The library repeats a held key's press: a press while down is no new one.
        if (down != queue.keysDown[code]) {
            queue.keysDown[code] = down;
            queue.push(down ? InputEvent::kKeyPress : InputEvent::kKeyRelease, code);
        }
    }
    Platform::wakeMain();
}

void mouseEvent(int /*flags*/) {
    {
        std::lock_guard<std::mutex> hold(queue.mutex);
        // The library has updated mouse_b, mouse_x and mouse_y before it calls here.
        int down = mouse_b & kButtons;
        int released = queue.buttonsDown & ~down;
        int pressed = down & ~queue.buttonsDown;
        queue.buttonsDown = down;
        if (released != 0) {
            queue.push(InputEvent::kMouseRelease, released);
        }
        if (pressed != 0) {
            queue.push(InputEvent::kMousePress, pressed, mouse_x, mouse_y);
        }
    }
    // Moves too: the pointer is drawn where it is.
    Platform::wakeMain();
}

int keyBuffered(int key, int* /*scancode*/) {
    buffered++;
    Platform::wakeMain();
    return key;
}

unsigned keysBuffered() {
    return buffered.load();
}

void queueInput() {
    {
        std::lock_guard<std::mutex> hold(queue.mutex);
        queue.keysDown.reset();
        queue.keysDown[KEY_ESC] = key[KEY_ESC] != 0;
        queue.buttonsDown = mouse_b & kButtons;
    }
    keyboard_lowlevel_callback = keyEvent;
    keyboard_ucallback = keyBuffered;
    mouse_callback = mouseEvent;
}

InputReader::InputReader() {
    std::lock_guard<std::mutex> hold(queue.mutex);
    seen = queue.last;
}

bool InputReader::next(InputEvent& event) {
    bool more;
    {
        std::lock_guard<std::mutex> hold(queue.mutex);
        if (seen == queue.last) {
            return false;
        }
        if (queue.last - seen > kKept) {
            seen = queue.last - kKept;
        }
        event = queue.ring[++seen % kKept];
        more = seen != queue.last;
    }
    // The wake-up of the events still to read may have been spent on this one: a screen that
    // stops here must not rest before it has read them.
    if (more) {
        Platform::wakeMain();
    }
    return true;
}

// The library sets key[] and mouse_b before it calls the callbacks. A press that a screen sees
// held before the callback has queued it belongs to the screens before: the next screen passes
// over it when it comes.

EscapeKey::EscapeKey() {
    std::lock_guard<std::mutex> hold(queue.mutex);
    pressAhead = key[KEY_ESC] && !queue.keysDown[KEY_ESC];
}

bool EscapeKey::pressed() {
    InputEvent e;
    while (events.next(e)) {
        if (e.kind != InputEvent::kKeyPress || e.code != KEY_ESC) {
            continue;
        }
        if (!pressAhead) {
            return true;
        }
        pressAhead = false;
    }
    return key[KEY_ESC] != 0;
}

MousePresses::MousePresses() {
    std::lock_guard<std::mutex> hold(queue.mutex);
    pressAhead = mouse_b & kButtons & ~queue.buttonsDown;
}

bool MousePresses::take(int buttons, int& x, int& y) {
    InputEvent e;
    while (events.next(e)) {
        if (e.kind != InputEvent::kMousePress) {
            continue;
        }
        int fresh = e.code & ~pressAhead;
        pressAhead &= ~e.code;
        if ((fresh & buttons) != 0) {
            x = e.x;
            y = e.y;
            toFrame(x, y);
            return true;
        }
    }
    return false;
}

}  // namespace System
