// Picture menus: a full-screen background with picture buttons, chosen with the left mouse button.
// Main thread only.
#pragma once

struct BITMAP;

namespace System {

// A picture button. The item owns its picture: it can be moved, not copied, so that an item array
// releases every picture it has loaded however its life ends (also when a later item of the same
// array fails to load).
class MenuItem {
public:
    // Loads the button picture (throws System::Exception "Load bitmap ..." when it cannot).
    MenuItem(const char* filename, int x, int y);
    // The end item that closes an item array (used with true).
    explicit MenuItem(bool end);
    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;
    // The picture goes with the item; the item moved from has none.
    MenuItem(MenuItem&& other) noexcept;
    MenuItem& operator=(MenuItem&& other) noexcept;
    virtual ~MenuItem();

    // Copies the picture, opaque, to (x, y) in the back buffer.
    void draw();
    // The left and top edges belong to the button, the right and bottom ones do not.
    bool inside(int x, int y);
    bool isEnd();
    // Releases the picture at once; the item is then neither shown nor chosen.
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
