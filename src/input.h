// Keys and clicks held where they arrive, so that a loop that rests between its passes still sees
// a press that was over before its next pass. The library's input thread counts the presses of
// Escape and of the mouse buttons (with where the pointer was) and wakes the main thread on every
// key, button and move; each screen looks only at the presses made since it opened.
#pragma once

namespace System {

// Makes the library's keyboard and mouse callbacks count the presses and wake the main thread.
// After install_keyboard() and install_mouse(); main thread.
void latchInput();

// What the library's input thread tells the latches (its keyboard_lowlevel_callback and
// mouse_callback): a key's scancode, with bit 7 set for a release; the mouse's change flags, read
// together with mouse_x, mouse_y and mouse_b, which the library has updated already. Tests call
// them as the library would.
void keyEvent(int scancode);
void mouseEvent(int flags);

// How many keys have been pressed since the program started. The library counts a key here just
// before it puts it into its key buffer.
unsigned keyPresses();

// Escape as one screen sees it: made when the screen opens, it counts only later presses.
// Main thread only.
class EscapeKey {
public:
    EscapeKey();
    // Whether Escape is down now, or has been pressed since the screen opened and not reported
    // yet: a tap between two passes is reported once.
    bool pressed();

private:
    unsigned seen;
};

// The mouse buttons' presses as one screen sees them: made when the screen opens, it counts only
// later presses. Main thread only.
class MousePresses {
public:
    MousePresses();
    // Whether one of the buttons (mouse_b bits) has been pressed since the screen opened or the
    // last call, with the pointer's place in the frame (see System::toFrame) at the latest such
    // press. Several presses since then count as one, at the latest one's place. A button held
    // now is not looked at here.
    bool take(int buttons, int& x, int& y);

private:
    unsigned seen;
};

}  // namespace System
