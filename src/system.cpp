// Start-up and shutdown, the back buffer and its presentation, picture loading, the error type,
// and the text widgets.
#include "system.h"

#include <allegro.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <memory>
#include <thread>

#include "input.h"
#include "output_line.h"
#include "picture_folder.h"
#include "platform.h"
#include "prompt_choices.h"
#include "quit_request.h"
#include "window_scale.h"

namespace System {

BITMAP* _screen = nullptr;
BITMAP* mousePtr = nullptr;

namespace {
constexpr int kColorDepth = 32;
constexpr int kMaxMessage = 255;
const char* const kTitle = "Five in a row";
// At most this many frames a second reach the window: a frame that changes on every pass (a
// drawn arrow in motion) waits for its turn.
constexpr std::chrono::microseconds kFrameTime{1000000 / 60};

using Clock = std::chrono::steady_clock;

// Main thread only, like flip() itself.
unsigned long flips = 0;
unsigned long shownFrames = 0;
bool paced = true;
// A copy of the frame on the window, a drawn arrow included; null before the first.
BITMAP* shown = nullptr;
Clock::time_point shownAt;

// Above factor 1, the enlarged frame on its way to the window.
BITMAP* enlarged = nullptr;

// The arrow enlarged as the frame is, which the system shows as the window's cursor; null where
// the system refuses it and the game draws the arrow into its frames instead.
BITMAP* cursor = nullptr;
// Where the game draws the arrow: the last frame shown without it, for screens drawn once whose
// arrow must follow the pointer, and where the arrow was drawn into it (kNoArrow: nowhere, the
// pointer being off the window).
BITMAP* bare = nullptr;
constexpr int kNoArrow = -1;
int arrowX = kNoArrow;
int arrowY = kNoArrow;

// Whether the copy of the shown frame has the back buffer's size and depth.
bool shownFits() {
    return shown != nullptr && shown->w == _screen->w && shown->h == _screen->h &&
           bitmap_color_depth(shown) == bitmap_color_depth(_screen);
}

bool sameAsShown() {
    if (!shownFits()) {
        return false;
    }
    size_t bytes = static_cast<size_t>(_screen->w) * ((bitmap_color_depth(_screen) + 7) / 8);
    for (int y = 0; y < _screen->h; y++) {
        if (memcmp(_screen->line[y], shown->line[y], bytes) != 0) {
            return false;
        }
    }
    return true;
}

// A copy of the back buffer into copy, made or remade in its size and depth; null when there is
// no memory for it.
void keepCopy(BITMAP*& copy) {
    if (copy != nullptr && (copy->w != _screen->w || copy->h != _screen->h ||
                            bitmap_color_depth(copy) != bitmap_color_depth(_screen))) {
        destroy_bitmap(copy);
        copy = nullptr;
    }
    if (copy == nullptr) {
        copy = create_bitmap_ex(bitmap_color_depth(_screen), _screen->w, _screen->h);
    }
    if (copy != nullptr) {
        blit(_screen, copy, 0, 0, 0, 0, _screen->w, _screen->h);
    }
}

void release(BITMAP*& bitmap) {
    if (bitmap != nullptr) {
        destroy_bitmap(bitmap);
        bitmap = nullptr;
    }
}

// Where the arrow belongs in the frame now: at the pointer while it is over the window (the
// desktop shows its own pointer elsewhere).
void arrowPlace(int& x, int& y) {
    x = y = kNoArrow;
    if (Platform::pointerOverWindow()) {
        x = mouse_x;
        y = mouse_y;
        toFrame(x, y);
    }
}

// Where the system refuses the arrow as the window's cursor: keeps the frame without it, and
// draws it where the pointer is.
void drawArrow() {
    keepCopy(bare);
    arrowPlace(arrowX, arrowY);
    if (arrowX != kNoArrow) {
        masked_blit(mousePtr, _screen, 0, 0, arrowX, arrowY, mousePtr->w, mousePtr->h);
    }
}

// For a frame drawn once that then waits, where the game draws the arrow: the frame again with
// the arrow where the pointer is now. The back buffer is free here: present() has cleared it.
void followPointer() {
    if (cursor != nullptr || bare == nullptr || !paced) {
        return;
    }
    int x, y;
    arrowPlace(x, y);
    if (x == arrowX && y == arrowY) {
        return;
    }
    blit(bare, _screen, 0, 0, 0, 0, _screen->w, _screen->h);
    present();
}

// Hands the arrow, enlarged as the frame is, to the system as the window's cursor: the system
// moves it at the desktop's rate whatever the game is doing, and hides it off the window. Where
// the system refuses, the frames carry the arrow instead.
void arrowAsCursor() {
    cursor = create_bitmap(mousePtr->w * scale(), mousePtr->h * scale());
    if (cursor == nullptr) {
        return;
    }
    enlarge(mousePtr, cursor, scale());
    set_mouse_sprite(cursor);
    // The picture's top-left pixel is the tip (the library's own arrow points from (1, 1)).
    set_mouse_sprite_focus(0, 0);
    if (show_os_cursor(MOUSE_CURSOR_ALLEGRO) != 0) {
        set_mouse_sprite(nullptr);
        release(cursor);
    }
}

// The back buffer to the window: at factor 1 as it is, else enlarged.
void toWindow() {
    if (enlarged == nullptr) {
        blit(_screen, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        return;
    }
    enlarge(_screen, enlarged, scale());
    blit(enlarged, screen, 0, 0, 0, 0, enlarged->w, enlarged->h);
}

// The factor the player or the desktop asks for, lowered until the window fits the desktop.
int chosenScale() {
    const char* text = getenv(kScaleVariable);
    int wanted = scaleFromText(text);
    if (wanted < 0) {
        System::err() << kScaleVariable << ": " << text << " is not a whole number from 1 to "
                      << kMaxScale << "; ignored";
    }
    if (wanted <= 0) {
        wanted = scaleForDpi(Platform::desktopDpi());
    }
    int w = 0, h = 0;
    if (get_desktop_resolution(&w, &h) != 0) {
        w = h = 0;
    }
    return fittingScale(wanted, w, h);
}
}  // namespace

Exception::Exception() {}

Exception::Exception(const Exception& e) : errorMessage(e.errorMessage) {}

Exception::Exception(const char* format, ...) {
    va_list args;
    va_start(args, format);
    this->format(format, args);
    va_end(args);
}

void Exception::format(const char* format, va_list args) {
    char buffer[kMaxMessage + 1];
    vsnprintf(buffer, sizeof buffer, format, args);
    buffer[kMaxMessage] = '\0';
    errorMessage = buffer;
}

void Exception::print() {
    System::err() << "Error: " << errorMessage;
}

void init() {
    // The library makes its window as it starts.
    Platform::prepareWindow();
    // Without a display the library itself does not start here (it does not get as far as the
    // mode): the same failure for the player, and nothing after it may touch the library.
    if (install_allegro(SYSTEM_AUTODETECT, &errno, atexit) != 0) {
        throw Exception("Init graphix mode 800x600x24");
    }
    // Before the window is shown, so that it never appears under the executable's name.
    set_window_title(kTitle);
    Platform::dressWindow();
    set_color_depth(kColorDepth);
    int chosen = chosenScale();
    // A window too large for the system to give is shown at the frame's own size instead.
    if (chosen > 1 && set_gfx_mode(GFX_AUTODETECT_WINDOWED, Layout::kScreenW * chosen,
                                   Layout::kScreenH * chosen, 0, 0) != 0) {
        chosen = 1;
    }
    if (chosen == 1 &&
        set_gfx_mode(GFX_AUTODETECT_WINDOWED, Layout::kScreenW, Layout::kScreenH, 0, 0) != 0) {
        throw Exception("Init graphix mode 800x600x24");
    }
    // With another window in front the game runs on, as it always does under X: a network game
    // goes on, and a request to close the window (from the taskbar) is seen. Windows' window
    // drivers would stop the program there until it came back to the front.
    set_display_switch_mode(SWITCH_BACKGROUND);
    _screen = create_bitmap(Layout::kScreenW, Layout::kScreenH);
    if (_screen == nullptr) {
        throw Exception("Cannot create the back buffer");
    }
    setScale(chosen);
    mousePtr = loadBitmap("data/ptr.tga");
    install_timer();
    install_keyboard();
    install_mouse();
    arrowAsCursor();
    queueInput();
    // After the library, which installs signal handlers of its own that would end the program
    // without telling a peer.
    watchForQuit();
    System::out() << "Initing net";
    if (!Platform::startSockets()) {
        throw Exception("Cannot initialize WinSock32 library");
    }
}

void setScale(int newFactor) {
    release(enlarged);
    useScale(1);
    if (newFactor > 1) {
        enlarged = create_bitmap(Layout::kScreenW * newFactor, Layout::kScreenH * newFactor);
        if (enlarged == nullptr) {
            throw Exception("Cannot create the back buffer");
        }
        useScale(newFactor);
    }
}

void present() {
    // Every screen polls or waits through here, so this is where a request to quit ends them.
    checkQuit();
    ++flips;
    if (cursor == nullptr) {
        drawArrow();
    }
    if (!paced) {
        toWindow();
        ++shownFrames;
    } else if (!sameAsShown()) {
        Clock::duration since = Clock::now() - shownAt;
        if (since < kFrameTime) {
            std::this_thread::sleep_for(kFrameTime - since);
        }
        toWindow();
        keepCopy(shown);
        shownAt = Clock::now();
        ++shownFrames;
    }
    clear_bitmap(_screen);
}

void flip(int restMs, Platform::SocketWatch watch) {
    present();
    if (paced) {
        Platform::waitForWake(restMs, watch);
    }
}

void setPaced(bool on) {
    paced = on;
    forgetShown();
}

void forgetShown() {
    release(shown);
}

unsigned long frames() {
    return flips;
}

unsigned long framesShown() {
    return shownFrames;
}

void done() {
    remove_keyboard();
    // The library shows the cursor's picture until its mouse is gone.
    remove_mouse();
    release(cursor);
    forgetShown();
    release(bare);
    setScale(1);
    release(_screen);
    release(mousePtr);
    Platform::stopSockets();
}

char* translatePath(const char* path) {
    const std::string native = Platform::nativePath(path);
    char* copy = new char[native.size() + 1];
    memcpy(copy, native.c_str(), native.size() + 1);
    return copy;
}

BITMAP* loadBitmap(const char* path) {
    // The error names the file looked for, which for an installed game is not under data/.
    const std::string file = picturePath(path);
    char* native = translatePath(file.c_str());
    BITMAP* bmp = load_bitmap(native, nullptr);
    delete[] native;
    if (bmp == nullptr) {
        throw Exception("Load bitmap %s", file.c_str());
    }
    return bmp;
}

namespace {

// waitForKey(), beside choices under a prompt: returns 0 instead of a key when the choices have
// changed, or when a click has been made (in clicks; clicked says where).
int waitForKeyBeside(TypedKeys& keys, PromptChoices* choices, MousePresses* clicks, bool& clicked,
                     int& x, int& y) {
    clicked = false;
    for (;;) {
        checkQuit();
        followPointer();
        int scancode, character;
        if (keys.next(scancode, character)) {
            return scancode << 8 | character;
        }
        int rest = Platform::kForever;
        Platform::SocketWatch watch;
        if (choices != nullptr) {
            if (clicks->take(1, x, y)) {
                clicked = true;
                return 0;
            }
            if (choices->update()) {
                return 0;
            }
            // Its socket joins the one wait, and its next query or expiry ends it.
            watch = choices->watch();
            rest = choices->restMs();
        }
        Platform::waitForWake(rest, watch);
    }
}

}  // namespace

int waitForKey(TypedKeys& keys) {
    bool clicked;
    int x, y;
    return waitForKeyBeside(keys, nullptr, nullptr, clicked, x, y);
}

// ---- Text entry and notices ----

namespace {

// A field this narrow or narrower beside its prompt gets this width instead.
constexpr int kNarrowField = 7;
constexpr int kFallbackField = 80;

// The library's textout(): the background is its current text mode.
void writeText(const std::string& str, int x, int y, int colour) {
    textout_ex(_screen, font, str.c_str(), x, y, colour, _textmode);
}

// The first character from which the rest of the text fits in maxW pixels; 0 when nothing
// but the whole text could be shown.
size_t firstVisible(const std::string& text, int maxW) {
    for (size_t i = 0; i < text.size(); i++) {
        if (text_length(font, text.c_str() + i) <= maxW) {
            return i;
        }
    }
    return 0;
}

// The character a key press adds, or 0. The key's own character comes first, so Shift and Caps
// Lock do not matter; where the driver names none (X11 here gives letters and digits only), the
// character that readkey() reports stands in. Only printable ASCII reaches the text.
char typedChar(int scancode, int reported) {
    int c = scancode_to_ascii(scancode);
    if (c < ' ' || c > '~') {
        c = reported;
    }
    if (c < ' ' || c > '~') {
        return 0;
    }
    return static_cast<char>(tolower(c));
}

}  // namespace

std::string readText(TypedKeys& keys, int x, int y, int maxW, size_t maxLength,
                     PromptChoices* choices) {
    std::string text;
    std::unique_ptr<BITMAP, void (*)(BITMAP*)> snapshot(
        create_bitmap(Layout::kScreenW, Layout::kScreenH), destroy_bitmap);
    if (snapshot == nullptr) {
        throw Exception("Cannot create the editor's snapshot");
    }
    blit(_screen, snapshot.get(), 0, 0, 0, 0, Layout::kScreenW, Layout::kScreenH);
    MousePresses clicks;
    for (;;) {
        size_t from = firstVisible(text, maxW);
        _textmode = -1;  // text_mode(-1), which the library marks deprecated
        blit(snapshot.get(), _screen, 0, 0, 0, 0, Layout::kScreenW, Layout::kScreenH);
        writeText(text.substr(from), x, y, colour(Layout::kWhite));
        if (choices != nullptr) {
            choices->update();
            choices->draw();
        }
        present();
        bool clicked;
        int cx, cy;
        int k = waitForKeyBeside(keys, choices, &clicks, clicked, cx, cy);
        int scancode = k >> 8;
        if (clicked) {
            // A click on a choice takes it as Enter takes what was typed.
            if (choices->click(cx, cy, text)) {
                break;
            }
        } else if (k == 0) {
            // The choices changed: drawn again.
        } else if ((scancode == KEY_UP || scancode == KEY_DOWN) && choices != nullptr) {
            std::string chosen;
            if (choices->step(scancode == KEY_UP ? -1 : 1, chosen) && chosen.size() <= maxLength) {
                text = chosen;
            }
        } else if (scancode == KEY_BACKSPACE) {
            if (!text.empty()) {
                text.pop_back();
            }
        } else if (scancode == KEY_ENTER || scancode == KEY_ENTER_PAD) {
            break;
        } else if (scancode == KEY_ESC) {
            text.clear();
            break;
        } else if (char c = typedChar(scancode, k & 0xff)) {
            if (text.size() < maxLength) {
                text += c;
            }
        }
    }
    return text;
}

std::string askForText(TypedKeys& keys, int x, int y, int maxW, std::string prompt,
                       size_t maxLength, PromptChoices* choices) {
    int rx = x - maxW / 2;
    int ry = y - Layout::kPromptHalfHeight;
    int offset = text_length(font, prompt.c_str());
    int length = maxW - offset;
    if (length <= kNarrowField) {
        length = kFallbackField;
    }
    writeText(prompt, rx, ry, colour(Layout::kPromptOrange));
    return readText(keys, rx + offset, ry, length, maxLength, choices);
}

void say(std::string str) {
    say(str, Layout::kScreenH / 2 - Layout::kNoticeHalfHeight, Layout::kPromptOrange);
}

void say(const std::string& str, int y, Layout::Rgb c) {
    int w = text_length(font, str.c_str());
    writeText(str, Layout::kScreenW / 2 - w / 2, y, colour(c));
}

int colour(Layout::Rgb c) {
    return makecol(c.r, c.g, c.b);
}

}  // namespace System
