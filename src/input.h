// What the player does, kept in order where it arrives: the library's input thread puts every key
// press and release and every mouse press and release into one small queue and wakes the main
// thread, so that a loop that rests between its passes still sees each press, once, where it was
// made. Each screen reads the queue from where it opened.
#pragma once

#include <cstdint>

namespace System {

// One thing the player did.
struct InputEvent {
    enum Kind { kKeyPress, kKeyRelease, kMousePress, kMouseRelease };
    Kind kind;
    // A key's scancode (without the release bit); for the mouse, the buttons (mouse_b bits) that
    // this press brought down or this release let up.
    int code;
    // Where the pointer was at a mouse press, as the library gives it (mouse_x, mouse_y).
    int x;
    int y;
};

// Makes the library's keyboard and mouse callbacks queue what happens and wake the main thread.
// After install_keyboard() and install_mouse(); main thread.
void queueInput();

// What the library's input thread tells the queue (its keyboard_lowlevel_callback and
// mouse_callback): a key's scancode, with bit 7 set for a release; the mouse's change flags, read
// together with mouse_x, mouse_y and mouse_b, which the library has updated already. Tests call
// them as the library would. Any thread but a signal handler's.
void keyEvent(int scancode);
void mouseEvent(int flags);
// The library's keyboard_ucallback: called with a key just before it goes into the key buffer.
// Counts it, wakes the main thread and lets the key through unchanged.
int keyBuffered(int key, int* scancode);

// How many keys have been announced to the key buffer since the program started. A key counted
// here is in the buffer a moment later.
unsigned keysBuffered();

// One screen's place in the queue: made when the screen opens, it reads only what comes later.
// Main thread only.
class InputReader {
public:
    InputReader();
    // The next event after the reader's place, moving the place past it; false when there is
    // none yet. When more follow, the main thread's next wait ends at once, so that a screen
    // that reads one event a pass rests only once it has read them all. Should the reader fall
    // further behind than the queue holds, it goes on from the oldest event still kept.
    bool next(InputEvent& event);

private:
    uint64_t seen;
};

// Escape as one screen sees it: made when the screen opens, it counts only later presses.
// Main thread only.
class EscapeKey {
public:
    EscapeKey();
    // Whether Escape is down now, or has been pressed since the screen opened and not reported
    // yet: each press between two passes is reported once.
    bool pressed();

private:
    InputReader events;
    // Escape was seen down before its press reached the queue: that press belongs to the
    // screens before.
    bool pressAhead;
};

// The mouse buttons' presses as one screen sees them: made when the screen opens, it counts only
// later presses. Main thread only.
class MousePresses {
public:
    MousePresses();
    // Whether one of the buttons (mouse_b bits) has been pressed since the screen opened or the
    // press that the last call reported, with the pointer's place in the frame (see
    // System::toFrame) at that press. Presses are reported one a call, in order; a press of other
    // buttons is passed over. A button held now is not looked at here.
    bool take(int buttons, int& x, int& y);

private:
    InputReader events;
    // Buttons seen down before their press reached the queue: those presses belong to the
    // screens before.
    int pressAhead;
};

}  // namespace System
