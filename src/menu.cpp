// Picture menus: buttons drawn over a full-screen background, chosen with the left mouse button.
#include "menu.h"

#include <allegro.h>

#include "back_buffer.h"
#include "frame.h"
#include "input.h"
#include "picture_folder.h"

namespace System {

namespace {
constexpr int kLeftButton = 1;
}  // namespace

MenuItem::MenuItem(const char* filename, int x, int y)
    : bmp(loadBitmap(filename)), x(x), y(y), end(false) {}

MenuItem::MenuItem(bool end) : bmp(nullptr), x(0), y(0), end(end) {}

MenuItem::MenuItem(MenuItem&& other) noexcept
    : bmp(other.bmp), x(other.x), y(other.y), end(other.end) {
    other.bmp = nullptr;
}

MenuItem& MenuItem::operator=(MenuItem&& other) noexcept {
    if (this != &other) {
        release();
        bmp = other.bmp;
        x = other.x;
        y = other.y;
        end = other.end;
        other.bmp = nullptr;
    }
    return *this;
}

MenuItem::~MenuItem() {
    release();
}

void MenuItem::draw() {
    // A released item (or the end item) has no picture and is not shown.
    if (bmp != nullptr) {
        blit(bmp, _screen, 0, 0, x, y, bmp->w, bmp->h);
    }
}

bool MenuItem::inside(int x, int y) {
    return bmp != nullptr && x >= this->x && x < this->x + bmp->w && y >= this->y &&
           y < this->y + bmp->h;
}

bool MenuItem::isEnd() {
    return end;
}

void MenuItem::release() {
    if (bmp != nullptr) {
        destroy_bitmap(bmp);
        bmp = nullptr;
    }
}

Menu::Menu(MenuItem* data, const char* bg, bool esc)
    : data(data), background(loadBitmap(bg)), canEscape(esc) {}

Menu::~Menu() {
    destroy_bitmap(background);
}

void Menu::draw() {
    blit(background, _screen, 0, 0, 0, 0, Layout::kScreenW, Layout::kScreenH);
    for (int i = 0; !data[i].isEnd(); i++) {
        data[i].draw();
    }
}

int Menu::exec() {
    EscapeKey escape;
    MousePresses presses;
    for (;;) {
        draw();
        flip();
        int mx, my;
        // A press made since the last pass counts where it was made, although the pointer may
        // have moved on since; a button held on counts where the pointer is.
        if (presses.take(kLeftButton, mx, my) || heldAt(kLeftButton, mx, my)) {
            for (int i = 0; !data[i].isEnd(); i++) {
                if (data[i].inside(mx, my)) {
                    return i;
                }
            }
        }
        if (escape.pressed() && canEscape) {
            return -1;
        }
    }
}

}  // namespace System
