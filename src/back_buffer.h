// The back buffer: the 800 x 600 bitmap into which every screen draws its frame, the colours drawn
// into it, and the copies kept of it. Main thread only.
#pragma once

#include "layout.h"

struct BITMAP;

namespace System {

// The back buffer (800 x 600) into which everything is drawn; only flip() shows it.
extern BITMAP* _screen;

// The colour c in the screen's colour depth.
int colour(Layout::Rgb c);

// A copy of the back buffer into copy, made or remade in its size and depth; null when there is
// no memory for it.
void keepCopy(BITMAP*& copy);

// Destroys bitmap, if there is one, and leaves it null.
void release(BITMAP*& bitmap);

}  // namespace System
