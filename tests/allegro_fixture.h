// Starts the graphics library without a display, at 32-bit colour, so that tests can draw into
// memory bitmaps and read the pixels back.
#pragma once

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
};
Rgb pixel(BITMAP* bmp, int x, int y);

}  // namespace Testing
