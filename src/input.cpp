// The queue of presses and typed keys, filled on the library's input thread and read by the main
// thread's screens.
#include "input.h"

#include <allegro.h>

#include <mutex>

#include "output_line.h"
#include "platform.h"
#include "window_scale.h"

namespace System {

namespace {

constexpr int kButtons = 7;
constexpr int kRelease = 0x80;
constexpr int kScancodes = 0x80;
// The largest character readkey() hands out; it reports '^' for the others.
constexpr int kLargestReported = 0xff;
// Events kept; far more than a player makes between two passes of any loop, and more type-ahead
// than the library's own key buffer keeps.
constexpr uint64_t kKept = 256;

// The library calls in from its input thread, never from a signal handler: a mutex will do.
struct Queue {
    std::mutex mutex;
    InputEvent ring[kKept];
    // Number of the newest event; the first is 1, and 0 means none yet.
    uint64_t last = 0;
    // Whether Escape is down and which buttons are, as the events so far leave them: a press
    // is told from the library's repeats and from a move with the button held.
    bool escapeDown = false;
    int buttonsDown = 0;

    // Mutex held.
    void push(InputEvent::Kind kind, int code, int x = 0, int y = 0, int character = 0) {
        ring[++last % kKept] = InputEvent{kind, code, x, y, character};
    }
};
Queue queue;

}  // namespace

void keyEvent(int scancode) {
    if ((scancode & (kScancodes - 1)) != KEY_ESC) {
        return;
    }
    {
        std::lock_guard<std::mutex> hold(queue.mutex);
        bool down = (scancode & kRelease) == 0;
        if (down && !queue.escapeDown) {
            queue.push(InputEvent::kEscapePress, KEY_ESC);
        }
        queue.escapeDown = down;
    }
    Platform::wakeMain();
}

int keyTyped(int character, int* scancode) {
    {
        std::lock_guard<std::mutex> hold(queue.mutex);
        queue.push(InputEvent::kKeyTyped, *scancode, 0, 0,
                   character <= kLargestReported ? character : '^');
    }
    Platform::wakeMain();
    *scancode = 0;
    return 0;
}

void mouseEvent(int /*flags*/) {
    {
        std::lock_guard<std::mutex> hold(queue.mutex);
        // The library has updated mouse_b, mouse_x and mouse_y before it calls here.
        int down = mouse_b & kButtons;
        int pressed = down & ~queue.buttonsDown;
        queue.buttonsDown = down;
        if (pressed != 0) {
            queue.push(InputEvent::kMousePress, pressed, mouse_x, mouse_y);
        }
    }
    // Moves too: a drawn arrow follows the pointer.
    Platform::wakeMain();
}

void queueInput() {
    {
        std::lock_guard<std::mutex> hold(queue.mutex);
        queue.escapeDown = key[KEY_ESC] != 0;
        queue.buttonsDown = mouse_b & kButtons;
    }
    keyboard_lowlevel_callback = keyEvent;
    keyboard_ucallback = keyTyped;
    mouse_callback = mouseEvent;
}

InputReader::InputReader() {
    std::lock_guard<std::mutex> hold(queue.mutex);
    seen = queue.last;
}

bool InputReader::next(InputEvent& event) {
    bool more;
    int missed = 0;
    {
        std::lock_guard<std::mutex> hold(queue.mutex);
        if (seen == queue.last) {
            return false;
        }
        if (queue.last - seen > kKept) {
            missed = static_cast<int>(queue.last - kKept - seen);
            event = InputEvent{InputEvent::kMissed, missed, 0, 0, 0};
            seen = queue.last - kKept;
        } else {
            event = queue.ring[++seen % kKept];
        }
        more = seen != queue.last;
    }
    // The screen goes on with what it can still have; the player's lost keys or clicks are told
    // here, where whoever reads the trace can see why they did nothing.
    if (missed > 0) {
        err() << "Input read too late: " << missed << " keys or presses lost";
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
    pressAhead = key[KEY_ESC] && !queue.escapeDown;
}

bool EscapeKey::pressed() {
    InputEvent e;
    while (events.next(e)) {
        if (e.kind != InputEvent::kEscapePress) {
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

bool heldAt(int buttons, int& x, int& y) {
    if ((mouse_b & buttons) == 0) {
        return false;
    }
    x = mouse_x;
    y = mouse_y;
    toFrame(x, y);
    return true;
}

bool TypedKeys::next(int& scancode, int& character) {
    InputEvent e;
    while (events.next(e)) {
        if (e.kind == InputEvent::kKeyTyped) {
            scancode = e.code;
            character = e.character;
            return true;
        }
    }
    return false;
}

}  // namespace System
