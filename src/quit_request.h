// The request to end the program from outside its menus: the window's close button or a signal
// (SIGINT, SIGTERM, SIGHUP). Whoever asks only raises a flag; the main thread finds it in flip()
// and in every key wait, and leaves the screen it is on by throwing QuitRequest up to _main.
#pragma once

#include <string>

namespace System {

// Thrown on the main thread once the program has been asked to end. Deliberately not a
// System::Exception: the handlers of errors (which show or print them and go on) must let it pass
// all the way to _main. Whoever catches it on the way to release or tell something rethrows it.
class QuitRequest {
public:
    // cause: a signal number, or kCloseButton.
    explicit QuitRequest(int cause);
    // "close button" or "signal N", for the trace of the program's end.
    std::string reason() const;

    static constexpr int kCloseButton = -1;

private:
    int cause;
};

// Makes the window's close button and SIGINT, SIGTERM and SIGHUP (on Windows the console's
// events, see Platform::watchSignals) request the end, in place of the graphics library's own
// signal handlers: call after the library and its window have started.
void watchForQuit();
// The signals' part of watchForQuit(): the first of them requests the end; a second one ends the
// program at once, with that signal's default action (for a clean end that takes too long).
void watchSignals();
// Raises the request (the first cause is kept). Safe in a signal handler and from any thread.
void requestQuit(int cause);
// Throws QuitRequest when the end has been requested. Main thread only.
void checkQuit();
// Forgets a request and the signals seen, for tests that make one and go on in the same process.
void forgetQuitRequest();

}  // namespace System
