// Picture menus: a full-screen background with picture buttons, chosen with the left mouse button.
// Main thread only.
#pragma once

struct BITMAP;

namespace System {

class MenuItem {
public:
    // Loads the button picture (throws System::Exception "Load bitmap ..." when it cannot).
    MenuItem(const char* filename, int x, int y);
    // The end item that closes an item array (used with true).
    explicit MenuItem(bool end);
    virtual ~MenuItem();

    // Copies the picture, opaque, to (x, y) in the back buffer.
    void draw();
    // The left and top edges belong to the button, the right and bottom ones do not.
    bool inside(int x, int y);
    bool isEnd();
    // Releases the picture. The item does not do it by itself: copies share the picture.
    void release();

private:
    BITMAP* bmp;
    int x;
    int y;
    bool end;
};

class Menu {
public:
    // data: the caller's array closed by an end item; it must outlive the menu. Loads bg (throws
    // like MenuItem). esc: whether Escape leaves the menu.
    Menu(MenuItem* data, const char* bg, bool esc);
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;
    virtual ~Menu();

    // Shows the menu until the left button is down over an item (its index) or, when allowed,
    // Escape is down (-1).
    int exec();

private:
    void draw();

    MenuItem* data;
    BITMAP* background;
    bool canEscape;
};

}  // namespace System
