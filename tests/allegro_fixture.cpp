// Headless graphics library start-up for the unit tests.
#include "allegro_fixture.h"

#include <allegro.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <deque>

#include "input.h"
#include "platform.h"
#include "system.h"

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

void presentFrame(BITMAP* src, BITMAP* dest, int sx, int sy, int dx, int dy, int w, int h) {
    screenState->blitFromMemory(src, dest, sx, sy, dx, dy, w, h);
    int frame = ++screenState->frames;
    if (frame > screenState->limit) {
        giveUp("still presenting frames after " + std::to_string(screenState->limit));
    }
    if (screenState->hook) {
        screenState->hook(frame);
    }
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

constexpr int kMaxWaitsPastScript = 500;

struct KeyboardState {
    KEYBOARD_DRIVER driver;
    std::deque<int> typed;
    int waitsPastScript;
};
KeyboardState* keyboardState = nullptr;

// As the library's input thread types a key: scancode << 8 | character.
void typeKey(int k) {
    int scancode = k >> 8;
    System::keyTyped(k & 0xff, &scancode);
}

// A reader found no key: the next scripted one comes.
void typeNext() {
    KeyboardState& st = *keyboardState;
    if (!st.typed.empty()) {
        typeKey(st.typed.front());
        st.typed.pop_front();
        return;
    }
    if (++st.waitsPastScript > kMaxWaitsPastScript) {
        giveUp("keys still awaited after the script ended");
    }
    // The wait that follows must end, for the reader to look again and give up.
    Platform::wakeMain();
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
    System::whenNoKeyTyped(typeNext);
}

ScriptedKeyboard::~ScriptedKeyboard() {
    System::whenNoKeyTyped(nullptr);
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
