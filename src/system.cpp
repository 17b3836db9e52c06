// Start-up and shutdown, the back buffer and its presentation, picture loading, the error type,
// and the text widgets.
#include "system.h"

#include <allegro.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

namespace System {

BITMAP* _screen = nullptr;
BITMAP* mousePtr = nullptr;

namespace {
constexpr int kScreenW = 800;
constexpr int kScreenH = 600;
constexpr int kColorDepth = 32;
constexpr int kMaxMessage = 255;
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
    std::cerr << "Error: " << errorMessage << std::endl;
}

void init() {
    install_allegro(SYSTEM_AUTODETECT, &errno, atexit);
    set_color_depth(kColorDepth);
    if (set_gfx_mode(GFX_AUTODETECT_WINDOWED, kScreenW, kScreenH, 0, 0) != 0) {
        throw Exception("Init graphix mode 800x600x24");
    }
    _screen = create_bitmap(SCREEN_W, SCREEN_H);
    if (_screen == nullptr) {
        throw Exception("Cannot create the back buffer");
    }
    mousePtr = loadBitmap("data/ptr.tga");
    install_timer();
    install_keyboard();
    install_mouse();
    std::cout << "Initing net" << std::endl;
    // POSIX sockets need no start-up call.
}

void handleMouse() {
    masked_blit(mousePtr, _screen, 0, 0, mouse_x, mouse_y, mousePtr->w, mousePtr->h);
}

void flip() {
    handleMouse();
    blit(_screen, screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
    clear_bitmap(_screen);
}

void done() {
    remove_keyboard();
    remove_mouse();
    if (_screen != nullptr) {
        destroy_bitmap(_screen);
        _screen = nullptr;
    }
    if (mousePtr != nullptr) {
        destroy_bitmap(mousePtr);
        mousePtr = nullptr;
    }
}

char* translatePath(const char* path) {
    // '/' is already the native separator here: the copy is unchanged.
    size_t n = strlen(path) + 1;
    char* copy = new char[n];
    memcpy(copy, path, n);
    return copy;
}

BITMAP* loadBitmap(const char* path) {
    char* native = translatePath(path);
    BITMAP* bmp = load_bitmap(native, nullptr);
    delete[] native;
    if (bmp == nullptr) {
        throw Exception("Load bitmap %s", path);
    }
    return bmp;
}

// ---- Text entry and notices ----

}  // namespace System
