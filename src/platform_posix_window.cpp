// The window's place on an X11 desktop on POSIX systems: its class, icon and process, the pointer's
// leaving and entering, and the desktop's resolution.
#include "platform.h"

#include <unistd.h>

#include <cstdlib>

#include "window_icon.h"

// The graphics library's X11 side: its display and window, its lock, its input hook.
#include <allegro.h>
#include <xalleg.h>
#include <X11/Xatom.h>
#include <X11/Xresource.h>

// The library's icon for its windows, an XPM picture that it reads as it makes a window; its own
// unless the program gives another. Not declared in its headers.
extern "C" void* allegro_icon;

namespace Platform {

const char* const kWindowClass = "fiveinarow";

namespace {

// The library's input handling, on its input thread under its lock: a pointer that leaves or
// enters the window changes nothing the library tells the program of, but the arrow the game
// draws goes or comes with it.
void handleInputWatchingPointer() {
    int before = mouse_on_screen();
    _xwin_private_handle_input();
    if (mouse_on_screen() != before) {
        wakeMain();
    }
}

// A 32-bit property of the window: count values of data.
void setCardinals(Display* display, Window window, const char* name, const unsigned long* data,
                  size_t count) {
    Atom property = XInternAtom(display, name, False);
    XChangeProperty(display, window, property, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data), static_cast<int>(count));
}

}  // namespace

void prepareWindow() {
    xwin_set_window_name(kWindowClass, kWindowClass);
    allegro_icon = const_cast<char**>(WindowIcon::kXpm);
}

void dressWindow() {
    XLOCK();
    Display* display = _xwin.display;
    Window window = _xwin.wm_window;
    if (display != nullptr && window != None) {
        setCardinals(display, window, "_NET_WM_ICON", WindowIcon::kNetWmIcon,
                     WindowIcon::kNetWmIconLength);
        const unsigned long pid = static_cast<unsigned long>(getpid());
        setCardinals(display, window, "_NET_WM_PID", &pid, 1);
        // The process's id means something only beside the machine it runs on.
        char host[256];
        if (gethostname(host, sizeof host) == 0) {
            host[sizeof host - 1] = '\0';
            char* names[] = {host};
            XTextProperty machine;
            if (XStringListToTextProperty(names, 1, &machine) != 0) {
                XSetWMClientMachine(display, window, &machine);
                XFree(machine.value);
            }
        }
        XFlush(display);
    }
    _xwin_input_handler = handleInputWatchingPointer;
    XUNLOCK();
}

bool pointerOverWindow() {
    // The library follows the pointer's leaving and entering the window (and wakes the main
    // thread for it, see dressWindow).
    return mouse_on_screen() != 0;
}

double desktopDpi() {
    std::string resources;
    XLOCK();
    // The resources as they were when the library opened the display, as other programs read them.
    if (_xwin.display != nullptr && XResourceManagerString(_xwin.display) != nullptr) {
        resources = XResourceManagerString(_xwin.display);
    }
    XUNLOCK();
    if (resources.empty()) {
        return 0;
    }
    XrmInitialize();
    XrmDatabase database = XrmGetStringDatabase(resources.c_str());
    if (database == nullptr) {
        return 0;
    }
    double dpi = 0;
    char* type = nullptr;
    XrmValue value;
    if (XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr != nullptr) {
        char* end = nullptr;
        double read = std::strtod(value.addr, &end);
        dpi = end != value.addr ? read : 0;
    }
    XrmDestroyDatabase(database);
    return dpi;
}

}  // namespace Platform
