// How much the window enlarges the game's 800 x 600 frame on a desktop that asks programs to draw
// larger (a HiDPI screen): the factor's choice, and the enlargement itself. The game always draws
// at 800 x 600; only the copy to the window is enlarged, each pixel to a square block, and the
// pointer is mapped back. The factor in use, its choice and the mapping back are the main
// thread's; the rest are pure functions, for any thread.
#pragma once

struct BITMAP;

namespace System {

// The largest factor the window takes.
constexpr int kMaxScale = 4;
// The environment variable by which a player chooses the factor.
extern const char* const kScaleVariable;

// The whole factor a desktop of dpi dots per inch asks for: dpi / 96 rounded, from 1 to
// kMaxScale (144, a desktop at 150 %, gives 2). 1 when the desktop says nothing (dpi 0 or less, or
// not a number).
int scaleForDpi(double dpi);

// The factor a player's text asks for (the value of kScaleVariable): a whole number from 1 to
// kMaxScale, blanks around it allowed. 0 for none (null or empty), -1 for a text that is no such
// number.
int scaleFromText(const char* text);

// wanted, lowered until a window of that many times 800 x 600 fits a desktop of desktopW x
// desktopH pixels with room left for a window's frame and title bar and the desktop's panels
// (room that grows with the factor, as the desktop's own does). At least 1. A desktop of unknown
// size (0 or less) leaves wanted as it is.
int fittingScale(int wanted, int desktopW, int desktopH);

// The factor the player or the desktop asks for, lowered until the window fits the desktop. Once
// the graphics library has started; main thread.
int chosenScale();

// The factor by which the window enlarges the frame: 1 until useScale sets another.
int scale();
// Records the factor the window enlarges the frame by (System::setScale does, see frame.h).
void useScale(int factor);
// Turns a place in the window (the library's mouse_x, mouse_y, and the places of presses) into the
// place in the frame that shows there.
void toFrame(int& x, int& y);

// Copies frame into the top-left corner of window enlarged factor times: each pixel becomes a
// factor x factor block of its colour, nothing blended. window, a memory bitmap, must be at least
// factor times as large as frame, in the same colour depth; factor from 1.
void enlarge(BITMAP* frame, BITMAP* window, int factor);

}  // namespace System
