// The window's factor on HiDPI desktops, its choice, and the enlarged copy of the frame.
#include "window_scale.h"

#include <allegro.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "layout.h"
#include "output_line.h"
#include "platform.h"

namespace System {

const char* const kScaleVariable = "FIVEINAROW_SCALE";

namespace {
// The resolution desktops call 100 %.
constexpr double kBaseDpi = 96;
// Room for one factor's worth of a window's frame and title bar beside and above the window, and
// of a desktop's panels: about what common desktops take at 100 %.
constexpr int kRoomW = 16;
constexpr int kRoomH = 72;

// Main thread only.
int factorInUse = 1;
}  // namespace

int scale() {
    return factorInUse;
}

void useScale(int factor) {
    factorInUse = factor;
}

void toFrame(int& x, int& y) {
    x = std::min(std::max(x / factorInUse, 0), Layout::kScreenW - 1);
    y = std::min(std::max(y / factorInUse, 0), Layout::kScreenH - 1);
}

int scaleForDpi(double dpi) {
    if (!(dpi > 0) || !std::isfinite(dpi)) {
        return 1;
    }
    long factor = std::lround(dpi / kBaseDpi);
    return factor < 1 ? 1 : factor > kMaxScale ? kMaxScale : static_cast<int>(factor);
}

int scaleFromText(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    while (*text == ' ' || *text == '\t') {
        text++;
    }
    if (*text == '\0') {
        return 0;
    }
    char* end = nullptr;
    long factor = std::strtol(text, &end, 10);
    while (*end == ' ' || *end == '\t') {
        end++;
    }
    if (end == text || *end != '\0' || factor < 1 || factor > kMaxScale) {
        return -1;
    }
    return static_cast<int>(factor);
}

int fittingScale(int wanted, int desktopW, int desktopH) {
    if (wanted < 1) {
        return 1;
    }
    if (desktopW <= 0 || desktopH <= 0) {
        return wanted;
    }
    int factor = wanted;
    while (factor > 1 && ((Layout::kScreenW + kRoomW) * factor > desktopW ||
                          (Layout::kScreenH + kRoomH) * factor > desktopH)) {
        factor--;
    }
    return factor;
}

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

void enlarge(BITMAP* frame, BITMAP* window, int factor) {
    if (factor == 1) {
        blit(frame, window, 0, 0, 0, 0, frame->w, frame->h);
        return;
    }
    if (bitmap_color_depth(frame) != 32 || bitmap_color_depth(window) != 32) {
        // The library's stretch is nearest neighbour too; the game's frames are all 32-bit.
        stretch_blit(frame, window, 0, 0, frame->w, frame->h, 0, 0, frame->w * factor,
                     frame->h * factor);
        return;
    }
    const size_t rowBytes = static_cast<size_t>(frame->w) * factor * sizeof(uint32_t);
    for (int y = 0; y < frame->h; y++) {
        const uint32_t* from = reinterpret_cast<const uint32_t*>(frame->line[y]);
        uint32_t* to = reinterpret_cast<uint32_t*>(window->line[y * factor]);
        for (int x = 0; x < frame->w; x++) {
            for (int i = 0; i < factor; i++) {
                *to++ = from[x];
            }
        }
        // The block's other rows are copies of its first.
        for (int i = 1; i < factor; i++) {
            std::memcpy(window->line[y * factor + i], window->line[y * factor], rowBytes);
        }
    }
}

}  // namespace System
