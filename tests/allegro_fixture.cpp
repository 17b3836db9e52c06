// Headless graphics library start-up for the unit tests.
#include "allegro_fixture.h"

#include <allegro.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "arrow.h"
#include "back_buffer.h"
#include "frame.h"
#include "input.h"

namespace Testing {

void startAllegroWithoutDisplay() {
    static bool started = false;
    if (!started) {
        install_allegro(SYSTEM_NONE, &errno, atexit);
        set_color_depth(32);
        started = true;
    }
}

void freshBackBuffer() {
    startAllegroWithoutDisplay();
    if (System::_screen != nullptr) {
        destroy_bitmap(System::_screen);
    }
    System::_screen = create_bitmap(800, 600);
    clear_bitmap(System::_screen);
}

Rgb pixel(BITMAP* bmp, int x, int y) {
    int c = getpixel(bmp, x, y);
    return {getr32(c), getg32(c), getb32(c)};
}

int countPixels(BITMAP* bmp, const std::function<bool(int x, int y, Rgb colour)>& test) {
    int n = 0;
    for (int y = 0; y < 600; y++) {
        for (int x = 0; x < 800; x++) {
            n += test(x, y, pixel(bmp, x, y));
        }
    }
    return n;
}

// ---- Stand-ins for the window and the keyboard ----

namespace {

// Reports the failure at once and ends the process: the loop under test would never return.
[[noreturn]] void giveUp(const std::string& why) {
    ADD_FAILURE() << why;
    fflush(stdout);
    fflush(stderr);
    std::_Exit(EXIT_FAILURE);
}

using BlitMethod = void (*)(BITMAP*, BITMAP*, int, int, int, int, int, int);

struct ScreenState {
    GFX_DRIVER driver;
    GFX_VTABLE vtable;
    GFX_VTABLE* memoryVtable;
    BlitMethod blitFromMemory;
    std::function<void(int)> hook;
    int frames;
    int limit;
    bool ownPointer;
};
ScreenState* screenState = nullptr;

// The scripted keyboard's turn at a frame (below).
void typeAtFrame();

void presentFrame(BITMAP* src, BITMAP* dest, int sx, int sy, int dx, int dy, int w, int h) {
    screenState->blitFromMemory(src, dest, sx, sy, dx, dy, w, h);
    int frame = ++screenState->frames;
    if (frame > screenState->limit) {
        giveUp("still presenting frames after " + std::to_string(screenState->limit));
    }
    if (screenState->hook) {
        screenState->hook(frame);
    }
    typeAtFrame();
}

}  // namespace

FakeScreen::FakeScreen(int frameLimit, int scale) {
    startAllegroWithoutDisplay();
    screenState = new ScreenState();
    ScreenState& st = *screenState;
    st.limit = frameLimit;
    // SCREEN_W and SCREEN_H read the driver's size; nothing else of it is used by memory
    // bitmaps.
    st.driver.name = st.driver.desc = st.driver.ascii_name = "Test screen";
    st.driver.w = 800 * scale;
    st.driver.h = 600 * scale;
    st.driver.windowed = 1;
    gfx_driver = &st.driver;

    screen = create_bitmap(800 * scale, 600 * scale);
    System::setScale(scale);
    clear_bitmap(screen);
    // Marked as a system bitmap, the screen gets memory blits through its own vtable's
    // blit_from_memory, which counts the frame.
    st.memoryVtable = screen->vtable;
    st.vtable = *screen->vtable;
    st.blitFromMemory = st.vtable.blit_from_memory;
    st.vtable.blit_from_memory = presentFrame;
    screen->vtable = &st.vtable;
    screen->id |= BMP_ID_SYSTEM;

    freshBackBuffer();
    // One frame for each pass, at once: the tests drive the loops frame by frame.
    System::setPaced(false);
    if (System::mousePtr == nullptr) {
        System::mousePtr = create_bitmap(1, 1);
        clear_to_color(System::mousePtr, makecol(255, 0, 255));
        st.ownPointer = true;
    }
}

FakeScreen::~FakeScreen() {
    System::setPaced(true);
    System::setScale(1);
    screen->id &= ~BMP_ID_SYSTEM;
    screen->vtable = screenState->memoryVtable;
    destroy_bitmap(screen);
    screen = nullptr;
    gfx_driver = nullptr;
    if (screenState->ownPointer) {
        destroy_bitmap(System::mousePtr);
        System::mousePtr = nullptr;
    }
    delete screenState;
    screenState = nullptr;
}

void FakeScreen::onFrame(std::function<void(int frame)> hook) {
    screenState->hook = std::move(hook);
}

int FakeScreen::frames() const {
    return screenState->frames;
}

namespace {

// Longer than any test's screens take between two frames or keys.
constexpr std::chrono::seconds kQuiet{20};

struct KeyboardState {
    KEYBOARD_DRIVER driver;
    std::deque<int> typed;
    // The library's callbacks as they were before.
    void (*lowLevel)(int);
    int (*typedKey)(int, int*);
    void (*mouse)(int);
    // The watch for a reader that waits for a key that never comes.
    std::mutex mutex;
    std::condition_variable changed;
    std::chrono::steady_clock::time_point lastSign;
    bool ending = false;
    std::thread watch;
};
KeyboardState* keyboardState = nullptr;

// Something happened that a waiting reader would see.
void signOfLife() {
    std::lock_guard<std::mutex> hold(keyboardState->mutex);
    keyboardState->lastSign = std::chrono::steady_clock::now();
}

// As the library's input thread types a key, through the callback the game has given it:
// scancode << 8 | character. The game's callback keeps nothing for the library's buffer.
void typeKey(int k) {
    int scancode = k >> 8;
    keyboard_ucallback(k & 0xff, &scancode);
    signOfLife();
}

void typeAtFrame() {
    if (keyboardState == nullptr) {
        return;
    }
    signOfLife();
    if (!keyboardState->typed.empty()) {
        int k = keyboardState->typed.front();
        keyboardState->typed.pop_front();
        typeKey(k);
    }
}

// Fails the test once neither a frame nor a key has come for kQuiet: the main thread waits for a
// key beyond the script.
void watchForStall(KeyboardState& st) {
    std::unique_lock<std::mutex> hold(st.mutex);
    while (!st.ending) {
        auto deadline = st.lastSign + kQuiet;
        if (std::chrono::steady_clock::now() >= deadline) {
            giveUp("keys still awaited after the script ended");
        }
        st.changed.wait_until(hold, deadline);
    }
}

// This platform's X11 driver: letters and digits, without Shift; nothing for the rest.
int x11ScancodeToAscii(int scancode) {
    if (scancode >= KEY_A && scancode <= KEY_Z) {
        return 'a' + scancode - KEY_A;
    }
    if (scancode >= KEY_0 && scancode <= KEY_9) {
        return '0' + scancode - KEY_0;
    }
    return 0;
}

}  // namespace

ScriptedKeyboard::ScriptedKeyboard() {
    startAllegroWithoutDisplay();
    keyboardState = new KeyboardState();
    keyboardState->driver.name = keyboardState->driver.desc = "Test keyboard";
    keyboardState->driver.ascii_name = "Test keyboard";
    keyboardState->driver.scancode_to_ascii = x11ScancodeToAscii;
    keyboard_driver = &keyboardState->driver;
    keyboardState->lowLevel = keyboard_lowlevel_callback;
    keyboardState->typedKey = keyboard_ucallback;
    keyboardState->mouse = mouse_callback;
    // The callbacks the game gives the library as it starts.
    System::queueInput();
    keyboardState->lastSign = std::chrono::steady_clock::now();
    keyboardState->watch = std::thread(watchForStall, std::ref(*keyboardState));
}

ScriptedKeyboard::~ScriptedKeyboard() {
    {
        std::lock_guard<std::mutex> hold(keyboardState->mutex);
        keyboardState->ending = true;
    }
    keyboardState->changed.notify_one();
    keyboardState->watch.join();
    keyboard_lowlevel_callback = keyboardState->lowLevel;
    keyboard_ucallback = keyboardState->typedKey;
    mouse_callback = keyboardState->mouse;
    keyboard_driver = nullptr;
    delete keyboardState;
    keyboardState = nullptr;
}

void ScriptedKeyboard::typeNow(std::vector<int> keys) {
    for (int k : keys) {
        typeKey(k);
    }
}

void ScriptedKeyboard::type(std::vector<int> keys) {
    keyboardState->typed.insert(keyboardState->typed.end(), keys.begin(), keys.end());
}

int ScriptedKeyboard::left() const {
    return static_cast<int>(keyboardState->typed.size());
}

std::vector<int> ScriptedKeyboard::keysFor(const std::string& text) {
    // Keys whose character is not the key's own; Shift is in the character only.
    static const struct {
        char c;
        int scancode;
    } others[] = {{'.', KEY_STOP},  {',', KEY_COMMA}, {'-', KEY_MINUS}, {'_', KEY_MINUS},
                  {' ', KEY_SPACE}, {'/', KEY_SLASH}, {':', KEY_COLON}, {'@', KEY_2},
                  {'!', KEY_1},     {'=', KEY_EQUALS}};
    std::vector<int> keys;
    for (char c : text) {
        int scancode = 0;
        if (c >= 'a' && c <= 'z') {
            scancode = KEY_A + c - 'a';
        } else if (c >= 'A' && c <= 'Z') {
            scancode = KEY_A + c - 'A';
        } else if (c >= '0' && c <= '9') {
            scancode = KEY_0 + c - '0';
        } else {
            for (const auto& o : others) {
                if (o.c == c) {
                    scancode = o.scancode;
                }
            }
        }
        if (scancode == 0) {
            ADD_FAILURE() << "no key for '" << c << "'";
        }
        keys.push_back(scancode << 8 | static_cast<unsigned char>(c));
    }
    return keys;
}

}  // namespace Testing
