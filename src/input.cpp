// The presses of Escape and of the mouse buttons, latched on the library's input thread.
#include "input.h"

#include <allegro.h>

#include <atomic>
#include <cstdint>

#include "platform.h"
#include "system.h"

namespace System {

namespace {

// Escape: the count of its presses in the high bits, whether it is down in bit 0. One atomic
// word, so that the main thread never sees a count without the state that goes with it.
std::atomic<uint32_t> escape{0};
std::atomic<unsigned> keys{0};

// The mouse in one word, for the same reason: the count of presses (bits 0-23), the buttons
// down (24-26), the buttons that the latest press brought down (27-29), and the pointer's place
// at that press (x in bits 32-47, y in 48-63).
std::atomic<uint64_t> mouse{0};
static_assert(std::atomic<uint64_t>::is_always_lock_free, "the mouse latch must be lock-free");

constexpr int kButtons = 7;
constexpr uint32_t kCountMask = 0xffffff;

uint32_t mouseCount(uint64_t m) {
    return static_cast<uint32_t>(m) & kCountMask;
}
int mouseDown(uint64_t m) {
    return static_cast<int>(m >> 24) & kButtons;
}
int mousePressed(uint64_t m) {
    return static_cast<int>(m >> 27) & kButtons;
}

uint64_t packMouse(uint32_t count, int down, int pressed, int x, int y) {
    return (count & kCountMask) | static_cast<uint64_t>(down & kButtons) << 24 |
           static_cast<uint64_t>(pressed & kButtons) << 27 |
           static_cast<uint64_t>(static_cast<uint16_t>(x)) << 32 |
           static_cast<uint64_t>(static_cast<uint16_t>(y)) << 48;
}

}  // namespace

void keyEvent(int scancode) {
    if ((scancode & 0x80) == 0) {
        keys++;
    }
    if ((scancode & 0x7f) == KEY_ESC) {
        uint32_t e = escape.load();
        bool down = (scancode & 0x80) == 0;
        uint32_t next;
        do {
            // The library repeats a held key's press: a press while down is no new one.
            next = down ? (e & 1 ? e : (e | 1) + 2) : e & ~1u;
        } while (!escape.compare_exchange_weak(e, next));
    }
    Platform::wakeMain();
}

void mouseEvent(int /*flags*/) {
    // The library has updated mouse_b, mouse_x and mouse_y before it calls here.
    int down = mouse_b & kButtons;
    uint64_t m = mouse.load();
    uint64_t next;
    do {
        int fresh = down & ~mouseDown(m);
        next = fresh != 0 ? packMouse(mouseCount(m) + 1, down, fresh, mouse_x, mouse_y)
                          : (m & ~(static_cast<uint64_t>(kButtons) << 24)) |
                                static_cast<uint64_t>(down) << 24;
    } while (!mouse.compare_exchange_weak(m, next));
    Platform::wakeMain();
}

unsigned keyPresses() {
    return keys.load();
}

void latchInput() {
    escape = key[KEY_ESC] ? 1 : 0;
    mouse = packMouse(0, mouse_b, 0, mouse_x, mouse_y);
    keyboard_lowlevel_callback = keyEvent;
    mouse_callback = mouseEvent;
}

// The library sets key[] and mouse_b before it calls the callbacks. A press that a screen sees
// held before the callback has counted it belongs to the screens before: it is counted in
// advance, so that it cannot reach the next screen as a new press.

EscapeKey::EscapeKey() {
    uint32_t e = escape.load();
    seen = (e >> 1) + (key[KEY_ESC] && !(e & 1) ? 1 : 0);
}

bool EscapeKey::pressed() {
    unsigned count = escape.load() >> 1;
    bool fresh = count != seen && count - seen < (1u << 30);
    if (fresh) {
        seen = count;
    }
    return fresh || key[KEY_ESC];
}

MousePresses::MousePresses() {
    uint64_t m = mouse.load();
    seen = mouseCount(m) + ((mouse_b & kButtons & ~mouseDown(m)) != 0 ? 1 : 0);
    seen &= kCountMask;
}

bool MousePresses::take(int buttons, int& x, int& y) {
    uint64_t m = mouse.load();
    unsigned count = mouseCount(m);
    // A press counted in advance has not come yet while the count is behind.
    if (((count - seen) & kCountMask) == 0 || ((seen - count) & kCountMask) == 1) {
        return false;
    }
    seen = count;
    if ((mousePressed(m) & buttons) == 0) {
        return false;
    }
    x = static_cast<int16_t>(m >> 32);
    y = static_cast<int16_t>(m >> 48);
    toFrame(x, y);
    return true;
}

}  // namespace System
