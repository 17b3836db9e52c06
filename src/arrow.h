// The arrow, the pointer's picture over the window: handed to the system as the window's cursor,
// or, where the system refuses it, drawn by the game into its frames. Main thread only.
#pragma once

struct BITMAP;

namespace System {

// The arrow's picture; its top-left pixel is the tip.
extern BITMAP* mousePtr;

// Hands the arrow, enlarged as the frame is, to the system as the window's cursor: the system
// moves it at the desktop's rate whatever the game is doing, and hides it off the window. Where
// the system refuses, the frames carry the arrow instead.
void arrowAsCursor();
// Whether the system shows the arrow as the window's cursor; if not, the frames carry it.
bool arrowIsCursor();
// Where the system refuses the arrow as the window's cursor: keeps the back buffer without it, and
// draws it there where the pointer is.
void drawArrow();
// For a frame drawn once that then waits, where the game draws the arrow: when the pointer has
// moved since the arrow was drawn, puts the last frame shown back into the back buffer without the
// arrow, to be shown again with the arrow where the pointer is now, and returns true. The back
// buffer must be free (present() has cleared it).
bool frameWithoutArrow();
// Releases the arrow's pictures and the frame kept without it; after the mouse is removed, as the
// library shows the cursor's picture until then.
void releaseArrow();

}  // namespace System
