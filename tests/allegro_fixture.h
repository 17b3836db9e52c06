// Starts the graphics library without a display, at 32-bit colour, so that tests can draw into
// memory bitmaps and read the pixels back.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

struct BITMAP;

namespace Testing {

// Idempotent; call at the start of any test that draws or creates bitmaps.
void startAllegroWithoutDisplay();

// A fresh 800 x 600 back buffer in System::_screen (the previous one is destroyed).
void freshBackBuffer();

// The colour at (x, y) of bmp as r, g, b.
struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
    friend std::ostream& operator<<(std::ostream& os, const Rgb& c) {
        return os << "rgb(" << c.r << ", " << c.g << ", " << c.b << ")";
    }
};
Rgb pixel(BITMAP* bmp, int x, int y);
// How many of the 800 x 600 pixels of bmp pass test, given each one's place and colour.
int countPixels(BITMAP* bmp, const std::function<bool(int x, int y, Rgb colour)>& test);

// ---- Stand-ins for the window and the keyboard ----

// Lets flip() run without a display: while it lives, the library reports an 800 x 600 screen (or,
// with a scale, the window that enlarges the frame that many times, as System::setScale says),
// `screen` is a memory bitmap, the back buffer is fresh and, if there was none, the pointer
// picture is a single pixel of the mask colour (drawn as nothing). Every frame that reaches
// `screen` calls the frame hook with the frame's number (from 1), after the frame is there, so a
// test can read it and change the input (mouse_b, mouse_x, mouse_y, key[]) for the next pass:
// flip() shows every frame and does not rest meanwhile.
// A frame beyond the limit fails the test and ends the process: every polling loop is bounded.
// One at a time; main thread only.
class FakeScreen {
public:
    explicit FakeScreen(int frameLimit = 1000, int scale = 1);
    ~FakeScreen();
    FakeScreen(const FakeScreen&) = delete;
    FakeScreen& operator=(const FakeScreen&) = delete;

    void onFrame(std::function<void(int frame)> hook);
    int frames() const;
};

// Types keys without a keyboard, as the library's input thread would: through the callbacks the
// game gives the library (System::queueInput installs them; they are put back as they were at the
// end). Keys given to typeNow() are typed at once; those given to type() come later, one at each
// frame that reaches the stand-in screen (FakeScreen), after its frame hook, as a player types
// once the screen shows that it waits. Twenty seconds without a frame or a key while it lives
// fail the test and end the process: a reader waits for a key that never comes.
// scancode_to_ascii() answers as this platform's X11 driver does, for letters and digits only.
// Keys are readkey() values: scancode << 8 | character. One at a time; main thread only.
class ScriptedKeyboard {
public:
    ScriptedKeyboard();
    ~ScriptedKeyboard();
    ScriptedKeyboard(const ScriptedKeyboard&) = delete;
    ScriptedKeyboard& operator=(const ScriptedKeyboard&) = delete;

    void typeNow(std::vector<int> keys);
    void type(std::vector<int> keys);
    // The key presses that type text on a US keyboard, capitals with Shift.
    static std::vector<int> keysFor(const std::string& text);
    // How many of the keys given to type() have not been typed yet.
    int left() const;
};

}  // namespace Testing
