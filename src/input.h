// What the player does, kept in order where it arrives: the library's input thread puts every
// press that a screen reads (mouse buttons, Escape, typed keys) into one small queue and wakes
// the main thread, so that a loop that rests between its passes still sees each press, once,
// where it was made. Each screen reads the queue from where it opened.
#pragma once

#include <cstdint>

namespace System {

// One thing the player did.
struct InputEvent {
    enum Kind {
        // Escape went down (the one key read as a press; its repeats are no new press).
        kEscapePress,
        // A key typed as the library's key buffer would get it, its repeats included.
        kKeyTyped,
        kMousePress,
        // The reader fell behind further than the queue holds: code events were lost here.
        kMissed,
    };
    Kind kind;
    // A typed key's scancode; for the mouse, the buttons (mouse_b bits) that this press brought
    // down; for kMissed, how many events were lost.
    int code;
    // Where the pointer was at a mouse press, as the library gives it (mouse_x, mouse_y).
    int x;
    int y;
    // A typed key's character as readkey() reports it (0 for keys without one).
    int character;
};

// Makes the library's keyboard and mouse callbacks queue what happens and wake the main thread.
// Typed keys then go into the queue instead of the library's key buffer, which stays empty.
// After install_keyboard() and install_mouse(); main thread.
void queueInput();

// What the library's input thread tells the queue (its keyboard_lowlevel_callback,
// keyboard_ucallback and mouse_callback): a key's scancode, with bit 7 set for a release; a
// typed key, its character and scancode (returns 0 with *scancode 0, so that the library keeps
// no copy); the mouse's change flags, read together with mouse_x, mouse_y and mouse_b, which the
// library has updated already. Tests call them as the library would. Any thread but a signal
// handler's.
void keyEvent(int scancode);
int keyTyped(int character, int* scancode);
void mouseEvent(int flags);

// One screen's place in the queue: made when the screen opens, it reads only what comes later.
// Main thread only.
class InputReader {
public:
    InputReader();
    // The next event after the reader's place, moving the place past it; false when there is
    // none yet. When more follow, the main thread's next wait ends at once, so that a screen
    // that reads one event a pass rests only once it has read them all. A reader that has
    // fallen further behind than the queue holds gets one kMissed event, then the oldest event
    // still kept, and one trace line with the count goes to standard error.
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
    // press that the last call reported, with the pointer's place in the frame at that press.
    // Presses are reported one a call, in order; a press of other buttons is passed over. A
    // button held now is not looked at here (see heldAt).
    bool take(int buttons, int& x, int& y);

private:
    InputReader events;
    // Buttons seen down before their press reached the queue: those presses belong to the
    // screens before.
    int pressAhead;
};

// Whether one of the buttons (mouse_b bits) is held now, with the pointer's place in the frame.
// Main thread.
bool heldAt(int buttons, int& x, int& y);

// The keys typed as one screen, or one run of prompts, reads them: made when it opens, it reads
// only keys typed later, each once, in order; keys typed while the prompts before read theirs
// wait for the next prompt. Main thread only.
class TypedKeys {
public:
    // The next typed key: its scancode and its character as readkey() reports it. False when
    // none is there yet.
    bool next(int& scancode, int& character);

private:
    InputReader events;
};

}  // namespace System
