// The finished frame on its way to the window: showing the back buffer (enlarged by the window's
// factor, with the arrow where the game draws it), clearing it, and the pace at which frames are
// shown and loops rest. Main thread only.
#pragma once

#include "platform.h"

namespace System {

// Makes the copy to the library's screen enlarge the frame factor times (1: no enlarging), as
// init() does for its window; the screen must be that many times 800 x 600. For init() and for
// tests with a screen of their own. Throws System::Exception when there is no memory for it.
void setScale(int factor);
// Shows the back buffer in the window unless the window shows that frame already, and clears the
// back buffer (where the system refuses to show the arrow as the window's cursor, the arrow is
// drawn into the frame first, while the pointer is over the window); then rests until something a
// loop looks at happens (a key, the mouse, the peer, a request to quit; see Platform::wakeMain),
// the watched socket does what it is watched for, or restMs milliseconds have passed
// (Platform::kForever: no limit, for loops that look only at what wakes them). Frames reach the
// window at most 60 times a second. For the passes of a loop. Throws System::QuitRequest instead
// once the program has been asked to end.
void flip(int restMs = Platform::kForever, Platform::SocketWatch watch = Platform::SocketWatch());
// flip() without the rest: for a screen drawn once that then waits for a key.
void present();
// Whether flip() rests and shows only changed frames (the default). Off, every flip() shows its
// frame and returns at once, as tests without a window want: one frame for each pass.
void setPaced(bool on);
// Forgets the frame the window shows: the next one is shown whatever it holds (for tests that
// change the screen behind the program's back).
void forgetShown();
// How many times flip() or present() has run since the program started.
unsigned long frames();
// How many frames have reached the window since the program started.
unsigned long framesShown();
// For a frame drawn once that then waits, where the game draws the arrow: shows the frame again
// with the arrow where the pointer is now, if it has moved. The back buffer must be free, as
// present() leaves it.
void followPointer();

}  // namespace System
