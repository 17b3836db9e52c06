// The back buffer, its colours and the copies kept of it.
#include "back_buffer.h"

#include <allegro.h>

namespace System {

BITMAP* _screen = nullptr;

int colour(Layout::Rgb c) {
    return makecol(c.r, c.g, c.b);
}

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

}  // namespace System
