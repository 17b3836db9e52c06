// Headless graphics library start-up for the unit tests.
#include "allegro_fixture.h"

#include <allegro.h>

#include <cerrno>
#include <cstdlib>

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

}  // namespace Testing
