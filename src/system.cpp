// Start-up and shutdown, the back buffer and its presentation, picture loading, the error type,
// and the text widgets.
#include "system.h"

#include <allegro.h>

#include <algorithm>
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
// At most this many frames a second reach the window: a frame that changes on every pass (the
// pointer in motion) waits for its turn.
constexpr std::chrono::microseconds kFrameTime{1000000 / 60};
// A key is announced (see keysBuffered) just before the library puts it into its buffer: until it
// is there, the key wait takes short rests, for at most the bound.
constexpr int kKeyComingMs = 1;
constexpr std::chrono::milliseconds kKeyComingBound{50};

using Clock = std::chrono::steady_clock;

// Main thread only, like flip() itself.
unsigned long flips = 0;
unsigned long shownFrames = 0;
bool paced = true;
// A copy of the frame on the window, pointer included; null before the first.
BITMAP* shown = nullptr;
Clock::time_point shownAt;

// The factor by which the window enlarges the frame, and above 1 the enlarged frame on its way to
// the window.
int factor = 1;
BITMAP* enlarged = nullptr;

// Where the pointer was drawn into the back buffer, and what it covers there; the same for the
// frame on the window.
struct Pointer {
    bool drawn = false;
    int x = 0;
    int y = 0;
    BITMAP* under = nullptr;
};
Pointer drawnPointer;
Pointer shownPointer;

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

// A bitmap for what the pointer covers, in the back buffer's depth.
void keepUnder(Pointer& p) {
    if (p.under == nullptr || p.under->w != mousePtr->w || p.under->h != mousePtr->h ||
        bitmap_color_depth(p.under) != bitmap_color_depth(_screen)) {
        if (p.under != nullptr) {
            destroy_bitmap(p.under);
        }
        p.under = create_bitmap_ex(bitmap_color_depth(_screen), mousePtr->w, mousePtr->h);
    }
}

void releaseUnder(Pointer& p) {
    if (p.under != nullptr) {
        destroy_bitmap(p.under);
        p.under = nullptr;
    }
    p.drawn = false;
}

void keepShown() {
    if (!shownFits()) {
        forgetShown();
        shown = create_bitmap_ex(bitmap_color_depth(_screen), _screen->w, _screen->h);
    }
    if (shown != nullptr) {
        blit(_screen, shown, 0, 0, 0, 0, _screen->w, _screen->h);
    }
    shownPointer.drawn = drawnPointer.drawn && drawnPointer.under != nullptr;
    if (shownPointer.drawn) {
        shownPointer.x = drawnPointer.x;
        shownPointer.y = drawnPointer.y;
        keepUnder(shownPointer);
        if (shownPointer.under == nullptr) {
            shownPointer.drawn = false;
        } else {
            blit(drawnPointer.under, shownPointer.under, 0, 0, 0, 0, mousePtr->w, mousePtr->h);
        }
    }
}

// The back buffer to the window: at factor 1 as it is, else enlarged.
void toWindow() {
    if (enlarged == nullptr) {
        blit(_screen, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        return;
    }
    enlarge(_screen, enlarged, factor);
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
    queueInput();
    // After the library, which installs signal handlers of its own that would end the program
    // without telling a peer.
    watchForQuit();
    System::out() << "Initing net";
    if (!Platform::startSockets()) {
        throw Exception("Cannot initialize WinSock32 library");
    }
}

int scale() {
    return factor;
}

void setScale(int newFactor) {
    if (enlarged != nullptr) {
        destroy_bitmap(enlarged);
        enlarged = nullptr;
    }
    factor = 1;
    if (newFactor > 1) {
        enlarged = create_bitmap(Layout::kScreenW * newFactor, Layout::kScreenH * newFactor);
        if (enlarged == nullptr) {
            throw Exception("Cannot create the back buffer");
        }
        factor = newFactor;
    }
}

void toFrame(int& x, int& y) {
    x = std::min(std::max(x / factor, 0), Layout::kScreenW - 1);
    y = std::min(std::max(y / factor, 0), Layout::kScreenH - 1);
}

void handleMouse() {
    drawnPointer.drawn = false;
    // Outside the window the desktop shows its own pointer; this one would stay where it left.
    if (!Platform::pointerOverWindow()) {
        return;
    }
    int x = mouse_x, y = mouse_y;
    toFrame(x, y);
    keepUnder(drawnPointer);
    if (drawnPointer.under != nullptr) {
        blit(_screen, drawnPointer.under, x, y, 0, 0, mousePtr->w, mousePtr->h);
        drawnPointer.drawn = true;
        drawnPointer.x = x;
        drawnPointer.y = y;
    }
    masked_blit(mousePtr, _screen, 0, 0, x, y, mousePtr->w, mousePtr->h);
}

namespace {

// For a frame drawn once that then waits: the frame again, without its pointer once the pointer
// has left the window, with it where the pointer is once it has come back. Moves within the
// window leave such a frame as it is. The back buffer is free here: present() has cleared it.
void followPointerInOrOut() {
    if (!paced || shown == nullptr || !shownFits() ||
        Platform::pointerOverWindow() == shownPointer.drawn) {
        return;
    }
    blit(shown, _screen, 0, 0, 0, 0, _screen->w, _screen->h);
    if (shownPointer.drawn) {
        blit(shownPointer.under, _screen, 0, 0, shownPointer.x, shownPointer.y, mousePtr->w,
             mousePtr->h);
    }
    present();
}

}  // namespace

void present() {
    // Every screen polls or waits through here, so this is where a request to quit ends them.
    checkQuit();
    ++flips;
    handleMouse();
    if (!paced) {
        toWindow();
        ++shownFrames;
    } else if (!sameAsShown()) {
        Clock::duration since = Clock::now() - shownAt;
        if (since < kFrameTime) {
            std::this_thread::sleep_for(kFrameTime - since);
        }
        toWindow();
        keepShown();
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
    if (shown != nullptr) {
        destroy_bitmap(shown);
        shown = nullptr;
    }
    shownPointer.drawn = false;
}

unsigned long frames() {
    return flips;
}

unsigned long framesShown() {
    return shownFrames;
}

void done() {
    remove_keyboard();
    remove_mouse();
    forgetShown();
    releaseUnder(shownPointer);
    releaseUnder(drawnPointer);
    setScale(1);
    if (_screen != nullptr) {
        destroy_bitmap(_screen);
        _screen = nullptr;
    }
    if (mousePtr != nullptr) {
        destroy_bitmap(mousePtr);
        mousePtr = nullptr;
    }
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
int waitForKeyBeside(PromptChoices* choices, MousePresses* clicks, bool& clicked, int& x, int& y) {
    unsigned announced = keysBuffered();
    Clock::time_point comingSince;
    bool coming = false;
    clicked = false;
    for (;;) {
        checkQuit();
        if (keypressed()) {
            return readkey();
        }
        if (choices != nullptr) {
            if (clicks->take(1, x, y)) {
                clicked = true;
                return 0;
            }
            if (choices->update()) {
                return 0;
            }
        }
        followPointerInOrOut();
        if (keysBuffered() != announced) {
            announced = keysBuffered();
            coming = true;
            comingSince = Clock::now();
        }
        coming = coming && Clock::now() - comingSince < kKeyComingBound;
        int rest = paced && !coming ? Platform::kForever : kKeyComingMs;
        Platform::SocketWatch watch;
        if (choices != nullptr) {
            watch = choices->watch();
            int choicesRest = choices->restMs();
            if (choicesRest != Platform::kForever &&
                (rest == Platform::kForever || choicesRest < rest)) {
                rest = choicesRest;
            }
        }
        Platform::waitForWake(rest, watch);
    }
}

}  // namespace

int waitForKey() {
    bool clicked;
    int x, y;
    return waitForKeyBeside(nullptr, nullptr, clicked, x, y);
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
// character readkey() reported stands in. Only printable ASCII reaches the text.
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

std::string readText(int x, int y, int maxW, size_t maxLength, PromptChoices* choices) {
    std::string text;
    std::unique_ptr<BITMAP, void (*)(BITMAP*)> snapshot(
        create_bitmap(Layout::kScreenW, Layout::kScreenH), destroy_bitmap);
    if (snapshot == nullptr) {
        throw Exception("Cannot create the editor's snapshot");
    }
    blit(_screen, snapshot.get(), 0, 0, 0, 0, Layout::kScreenW, Layout::kScreenH);
    // A key read earlier only through key[] (the Escape that left a menu) is still buffered.
    clear_keybuf();
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
        int k = waitForKeyBeside(choices, &clicks, clicked, cx, cy);
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

std::string askForText(int x, int y, int maxW, std::string prompt, size_t maxLength,
                       PromptChoices* choices) {
    int rx = x - maxW / 2;
    int ry = y - Layout::kPromptHalfHeight;
    int offset = text_length(font, prompt.c_str());
    int length = maxW - offset;
    if (length <= kNarrowField) {
        length = kFallbackField;
    }
    writeText(prompt, rx, ry, colour(Layout::kPromptOrange));
    return readText(rx + offset, ry, length, maxLength, choices);
}

void say(std::string str) {
    int w = text_length(font, str.c_str());
    writeText(str, Layout::kScreenW / 2 - w / 2, Layout::kScreenH / 2 - Layout::kNoticeHalfHeight,
              colour(Layout::kPromptOrange));
}

int colour(Layout::Rgb c) {
    return makecol(c.r, c.g, c.b);
}

}  // namespace System
