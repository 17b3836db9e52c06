// The window on Windows: its class, the pointer's leaving and entering through the window's
// messages, and the desktop's resolution, which the system applies itself.
#include "platform.h"

#include <windows.h>

namespace Platform {

// The program's resources name its icon allegro_icon, which the library loads for its window.
// Windows has no class hint; wine gives the X11 window of a Windows program the executable's name
// as its class, which is what this names. The program declares no awareness of
// the screen's resolution (its manifest says nothing of it), so Windows enlarges its window on a
// screen at more than 100 %, as it does for every such program.
const char* const kWindowClass = "fiveinarow.exe";

// The graphics library's, declared here as its headers cannot be included beside windows.h.
extern "C" HWND win_get_window(void);
extern "C" int mouse_on_screen(void);
extern "C" void win_set_msg_pre_proc(int (*proc)(HWND, UINT, WPARAM, LPARAM, int*));

namespace {

// Whether the window has asked for word of the pointer's leaving; the library's window thread
// only, where the window's messages arrive.
bool trackingPointer = false;

// Sees the window's messages before the library does, on its window thread. The library's mouse
// driver is told of no move once the pointer is off the window (so under wine): the system's own
// word of the leaving wakes the main thread, as does the first move back over the window.
int watchPointer(HWND window, UINT message, WPARAM, LPARAM, int*) {
    if (message == WM_MOUSEMOVE && !trackingPointer) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
        trackingPointer = TrackMouseEvent(&track) != 0;
        wakeMain();
    } else if (message == WM_MOUSELEAVE) {
        trackingPointer = false;
        wakeMain();
    }
    // The library goes on to handle every message as before.
    return 1;
}

}  // namespace

void prepareWindow() {}

bool pointerOverWindow() {
    if (!mouse_on_screen()) {
        return false;
    }
    // The library's mouse driver sees the pointer leave only by moves it is told of: ask the
    // system where the pointer is.
    HWND window = win_get_window();
    POINT p;
    RECT client;
    if (window == nullptr || !GetCursorPos(&p) || !ScreenToClient(window, &p) ||
        !GetClientRect(window, &client)) {
        return true;
    }
    return PtInRect(&client, p) != 0;
}

void dressWindow() {
    win_set_msg_pre_proc(watchPointer);
}

double desktopDpi() {
    return 0;
}

}  // namespace Platform
