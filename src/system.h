// The application shell's services: the error type, start-up and shutdown of the graphics library
// and input, the back buffer and its presentation, picture loading, and the small text widgets
// (line editor, prompt, centred notice). Everything here runs on the main thread only.
#pragma once

#include <cstdarg>
#include <string>

#include "layout.h"
#include "platform.h"

struct BITMAP;

namespace System {

class PromptChoices;
class TypedKeys;

// The back buffer (800 x 600) into which everything is drawn; only flip() shows it.
extern BITMAP* _screen;
// The arrow's picture; its top-left pixel is the tip.
extern BITMAP* mousePtr;

// The program's one error type: a plain value carrying a formatted message, thrown and caught by
// value. Derived types add no data.
class Exception {
public:
    Exception();
    Exception(const Exception& e);
    // printf-style; the message keeps at most its first 255 characters.
    explicit Exception(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Writes "Error: " and the message to standard error.
    void print();
    const std::string& message() const { return errorMessage; }

protected:
    // Formats into errorMessage with the same 255-character limit; for derived constructors.
    void format(const char* format, va_list args) __attribute__((format(printf, 2, 0)));

    std::string errorMessage;
};

// Starts the graphics library, the window at 32-bit colour titled "Five in a row" with the
// program's class and icon, the back buffer, the arrow (the window's cursor where the system
// takes it, see flip), timer, keyboard and mouse with their presses and typed keys queued (see
// input.h), and the watch for the close button
// and the signals that end the program (see quit_request.h), and the sockets library where the
// system has one to start. Throws System::Exception when the window, a picture or the sockets
// library fails.
//
// The window shows the 800 x 600 frame enlarged by a whole factor (see window_scale.h): the one
// the variable FIVEINAROW_SCALE names, else the one the desktop's resolution asks for, lowered
// until the window fits the desktop; 1 where nothing asks for more.
void init();
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
// Removes keyboard and mouse, releases the back buffer and the arrow and ends the sockets
// library; safe after a failed init.
void done();
// A newly allocated copy of path (release with delete[]) in the platform's separators.
char* translatePath(const char* path);
// Loads a picture, "data/<file>", from the pictures' folder (see picture_folder.h); the caller
// owns it. Throws System::Exception "Load bitmap <path looked for>" on failure.
BITMAP* loadBitmap(const char* path);
// Waits for the next of the keys and returns it as readkey() does (scancode << 8 | character),
// as soon as it is typed. Rests while it waits; a drawn arrow follows the pointer over the frame
// shown meanwhile. Throws System::QuitRequest when the program is asked to end meanwhile.
int waitForKey(TypedKeys& keys);

// One-line editor at (x, y), showing at most maxW pixels of the text's end. Reads the keys until
// Enter or keypad Enter (returns the text) or Escape (returns ""); the keys typed after that wait
// in keys for the next editor. The text takes at most maxLength characters; further characters
// are ignored. Throws System::Exception when it cannot make its snapshot of the back buffer,
// System::QuitRequest when the program is asked to end.
// With choices, they are drawn under the line and kept up to date while it waits: Up and Down
// put the text of the choice before or after into the field, and a click on a choice returns its
// text at once, as Enter would.
std::string readText(TypedKeys& keys, int x, int y, int maxW, size_t maxLength = std::string::npos,
                     PromptChoices* choices = nullptr);
// Writes prompt in orange and runs readText beside it; the line is maxW pixels centred on x.
std::string askForText(TypedKeys& keys, int x, int y, int maxW, std::string prompt,
                       size_t maxLength = std::string::npos, PromptChoices* choices = nullptr);
// Writes str in orange, centred on the screen, into the back buffer; does not flip.
void say(std::string str);
// The same in colour c, centred on the line at y.
void say(const std::string& str, int y, Layout::Rgb c);
// The colour c in the screen's colour depth.
int colour(Layout::Rgb c);

}  // namespace System
