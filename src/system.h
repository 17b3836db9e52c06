// The program's start-up and shutdown (graphics library, window, input and sockets), its paths in
// the system's form, and its one error type. Everything here runs on the main thread only.
#pragma once

#include <cstdarg>
#include <string>

namespace System {

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
// takes it, see arrow.h), timer, keyboard and mouse with their presses and typed keys queued (see
// input.h), and the watch for the close button
// and the signals that end the program (see quit_request.h), and the sockets library where the
// system has one to start. Throws System::Exception when the window, a picture or the sockets
// library fails.
//
// The window shows the 800 x 600 frame enlarged by a whole factor (see window_scale.h): the one
// the variable FIVEINAROW_SCALE names, else the one the desktop's resolution asks for, lowered
// until the window fits the desktop; 1 where nothing asks for more.
void init();
// Removes keyboard and mouse, releases the back buffer and the arrow and ends the sockets
// library; safe after a failed init.
void done();
// A newly allocated copy of path (release with delete[]) in the platform's separators.
char* translatePath(const char* path);

}  // namespace System
