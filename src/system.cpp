// Start-up and shutdown, paths in the system's form, and the error type.
#include "system.h"

#include <allegro.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arrow.h"
#include "back_buffer.h"
#include "frame.h"
#include "input.h"
#include "layout.h"
#include "output_line.h"
#include "picture_folder.h"
#include "platform.h"
#include "quit_request.h"
#include "window_scale.h"

namespace System {

namespace {
constexpr int kColorDepth = 32;
constexpr int kMaxMessage = 255;
const char* const kTitle = "Five in a row";
}  // namespace

Exception::Exception() {}

Exception::Exception(const Exception& e) : errorMessage(e.errorMessage) {}

Exception::Exception(const char* format, ...) {
    va_list args;
    va_start(args, format);
    this->format(format, args);
    va_end(args);
}

void Exception::format(const char* format, va_list args) {
    char buffer[kMaxMessage + 1];
    vsnprintf(buffer, sizeof buffer, format, args);
    buffer[kMaxMessage] = '\0';
    errorMessage = buffer;
}

void Exception::print() {
    System::err() << "Error: " << errorMessage;
}

void init() {
    // The library makes its window as it starts.
    Platform::prepareWindow();
    // Without a display the library itself does not start here (it does not get as far as the
    // mode): the same failure for the player, and nothing after it may touch the library.
    if (install_allegro(SYSTEM_AUTODETECT, &errno, atexit) != 0) {
        throw Exception("Init graphix mode 800x600x24");
    }
    // Before the window is shown, so that it never appears under the executable's name.
    set_window_title(kTitle);
    Platform::dressWindow();
    set_color_depth(kColorDepth);
    int chosen = chosenScale();
    // A window too large for the system to give is shown at the frame's own size instead.
    if (chosen > 1 && set_gfx_mode(GFX_AUTODETECT_WINDOWED, Layout::kScreenW * chosen,
                                   Layout::kScreenH * chosen, 0, 0) != 0) {
        chosen = 1;
    }
    if (chosen == 1 &&
        set_gfx_mode(GFX_AUTODETECT_WINDOWED, Layout::kScreenW, Layout::kScreenH, 0, 0) != 0) {
        throw Exception("Init graphix mode 800x600x24");
    }
    // With another window in front the game runs on, as it always does under X: a network game
    // goes on, and a request to close the window (from the taskbar) is seen. Windows' window
    // drivers would stop the program there until it came back to the front.
    set_display_switch_mode(SWITCH_BACKGROUND);
    _screen = create_bitmap(Layout::kScreenW, Layout::kScreenH);
    if (_screen == nullptr) {
        throw Exception("Cannot create the back buffer");
    }
    setScale(chosen);
    mousePtr = loadBitmap("data/ptr.tga");
    install_timer();
    install_keyboard();
    install_mouse();
    arrowAsCursor();
    queueInput();
    // After the library, which installs signal handlers of its own that would end the program
    // without telling a peer.
    watchForQuit();
    System::out() << "Initing net";
    if (!Platform::startSockets()) {
        throw Exception("Cannot initialize WinSock32 library");
    }
}

void done() {
    remove_keyboard();
    // The library shows the cursor's picture until its mouse is gone.
    remove_mouse();
    releaseArrow();
    forgetShown();
    setScale(1);
    release(_screen);
    Platform::stopSockets();
}

char* translatePath(const char* path) {
    const std::string native = Platform::nativePath(path);
    char* copy = new char[native.size() + 1];
    memcpy(copy, native.c_str(), native.size() + 1);
    return copy;
}

}  // namespace System
