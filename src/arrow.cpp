// The arrow as the window's cursor, and the arrow the game draws where the system refuses that.
#include "arrow.h"

#include <allegro.h>

#include "back_buffer.h"
#include "platform.h"
#include "window_scale.h"

namespace System {

BITMAP* mousePtr = nullptr;

namespace {
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
}  // namespace

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

bool arrowIsCursor() {
    return cursor != nullptr;
}

void drawArrow() {
    keepCopy(bare);
    arrowPlace(arrowX, arrowY);
    if (arrowX != kNoArrow) {
        masked_blit(mousePtr, _screen, 0, 0, arrowX, arrowY, mousePtr->w, mousePtr->h);
    }
}

bool frameWithoutArrow() {
    if (cursor != nullptr || bare == nullptr) {
        return false;
    }
    int x, y;
    arrowPlace(x, y);
    if (x == arrowX && y == arrowY) {
        return false;
    }
    blit(bare, _screen, 0, 0, 0, 0, _screen->w, _screen->h);
    return true;
}

void releaseArrow() {
    release(cursor);
    release(bare);
    release(mousePtr);
}

}  // namespace System
