// The back buffer shown in the window, at a pace, enlarged by the window's factor.
#include "frame.h"

#include <allegro.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "arrow.h"
#include "back_buffer.h"
#include "layout.h"
#include "quit_request.h"
#include "system.h"
#include "window_scale.h"

namespace System {

namespace {
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

// The back buffer to the window: at factor 1 as it is, else enlarged.
void toWindow() {
    if (enlarged == nullptr) {
        blit(_screen, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        return;
    }
    enlarge(_screen, enlarged, scale());
    blit(enlarged, screen, 0, 0, 0, 0, enlarged->w, enlarged->h);
}
}  // namespace

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
    if (!arrowIsCursor()) {
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

void followPointer() {
    if (paced && frameWithoutArrow()) {
        present();
    }
}

}  // namespace System
