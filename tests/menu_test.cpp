// The picture menu: its buttons' edges, its drawing and the choices of exec(), driven through
// the mouse and key globals while a stand-in screen counts the passes.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "allegro_fixture.h"
#include "back_buffer.h"
#include "frame.h"
#include "input.h"
#include "menu.h"
#include "system.h"

namespace {

using System::Menu;
using System::MenuItem;
using Testing::Rgb;

const Rgb kBackground{0, 0, 128};
const Rgb kFirst{200, 0, 0};
const Rgb kSecond{0, 200, 0};
const Rgb kThird{0, 0, 200};
const Rgb kMask{255, 0, 255};
constexpr int kLeft = 1;
constexpr int kRight = 2;
constexpr int kMiddle = 4;

// Button geometry: the second overlaps the first's lower right part.
struct Button {
    int x, y, w, h;
};
constexpr Button kButton0{100, 100, 100, 50};
constexpr Button kButton1{150, 130, 80, 40};
constexpr Button kButton2{500, 400, 60, 30};
constexpr Button kMaskSpot{700, 20, 20, 20};

class MenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("menu_test_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        mouse_b = 0;
        mouse_x = 0;
        mouse_y = 0;
        key[KEY_ESC] = 0;
    }

    void TearDown() override {
        mouse_b = 0;
        key[KEY_ESC] = 0;
        std::filesystem::remove_all(dir);
    }

    // Writes a w x h TGA picture of one colour, with `spot` in the mask colour, and returns its
    // path.
    std::string picture(const std::string& name, int w, int h, Rgb c, Button spot = {0, 0, 0, 0}) {
        BITMAP* bmp = create_bitmap(w, h);
        clear_to_color(bmp, makecol(c.r, c.g, c.b));
        if (spot.w > 0) {
            rectfill(bmp, spot.x, spot.y, spot.x + spot.w - 1, spot.y + spot.h - 1,
                     makecol(kMask.r, kMask.g, kMask.b));
        }
        std::string path = (dir / name).string();
        EXPECT_EQ(save_bitmap(path.c_str(), bmp, nullptr), 0) << path;
        destroy_bitmap(bmp);
        return path;
    }

    // The background, with a square of the mask colour that an opaque copy keeps.
    std::string background() { return picture("menu.tga", 800, 600, kBackground, kMaskSpot); }
    MenuItem item(const std::string& name, Button b, Rgb c) {
        return MenuItem(picture(name, b.w, b.h, c).c_str(), b.x, b.y);
    }

    // Presses the left button at (x, y).
    static void click(int x, int y, int buttons = kLeft) {
        mouse_x = x;
        mouse_y = y;
        mouse_b = buttons;
    }

    Rgb shown(int x, int y) { return Testing::pixel(screen, x, y); }

    std::filesystem::path dir;
    Testing::FakeScreen fake{200};
};

TEST_F(MenuTest, MissingPicturesThrowFromTheConstructors) {
    std::string missing = (dir / "none.tga").string();
    try {
        MenuItem bad(missing.c_str(), 0, 0);
        FAIL() << "no exception for the item";
    } catch (System::Exception e) {
        EXPECT_EQ(e.message(), "Load bitmap " + missing);
    }
    MenuItem items[] = {MenuItem(true)};
    try {
        Menu bad(items, missing.c_str(), true);
        FAIL() << "no exception for the background";
    } catch (System::Exception e) {
        EXPECT_EQ(e.message(), "Load bitmap " + missing);
    }
}

TEST_F(MenuTest, ItemOwnsItsLeftAndTopEdgesOnly) {
    MenuItem it = item("a.tga", kButton0, kFirst);
    const Button& b = kButton0;
    EXPECT_TRUE(it.inside(b.x, b.y));
    EXPECT_TRUE(it.inside(b.x + b.w - 1, b.y + b.h - 1));
    EXPECT_TRUE(it.inside(b.x + b.w - 1, b.y));
    EXPECT_TRUE(it.inside(b.x, b.y + b.h - 1));
    EXPECT_FALSE(it.inside(b.x + b.w, b.y));
    EXPECT_FALSE(it.inside(b.x, b.y + b.h));
    EXPECT_FALSE(it.inside(b.x - 1, b.y));
    EXPECT_FALSE(it.inside(b.x, b.y - 1));
    EXPECT_FALSE(it.isEnd());
    EXPECT_TRUE(MenuItem(true).isEnd());
}

TEST_F(MenuTest, ItemIsCopiedOpaque) {
    MenuItem it = item("mask.tga", kButton2, kMask);
    it.draw();
    const Button& b = kButton2;
    EXPECT_EQ(Testing::pixel(System::_screen, b.x, b.y), kMask);
    EXPECT_EQ(Testing::pixel(System::_screen, b.x + b.w - 1, b.y + b.h - 1), kMask);
    EXPECT_EQ(Testing::pixel(System::_screen, b.x + b.w, b.y), (Rgb{0, 0, 0}));
    EXPECT_EQ(Testing::pixel(System::_screen, b.x - 1, b.y), (Rgb{0, 0, 0}));
}

TEST_F(MenuTest, TheItemOwnsItsPicture) {
    MenuItem from = item("a.tga", kButton0, kFirst);
    MenuItem to(std::move(from));
    EXPECT_FALSE(from.inside(kButton0.x, kButton0.y));
    EXPECT_TRUE(to.inside(kButton0.x, kButton0.y));
    from = item("b.tga", kButton1, kSecond);
    to = std::move(from);
    EXPECT_TRUE(to.inside(kButton1.x + kButton1.w - 1, kButton1.y + kButton1.h - 1));
    EXPECT_FALSE(from.inside(kButton1.x, kButton1.y));
    // An array that fails part-way drops the pictures it has loaded (the sanitizer build's leak
    // check finds any left behind).
    std::string first = picture("c.tga", kButton0.w, kButton0.h, kFirst);
    std::string missing = (dir / "none.tga").string();
    auto build = [&] {
        MenuItem items[] = {MenuItem(first.c_str(), 0, 0), MenuItem(missing.c_str(), 0, 0),
                            MenuItem(true)};
    };
    EXPECT_THROW(build(), System::Exception);
}

class MenuExec : public MenuTest {
protected:
    void SetUp() override {
        MenuTest::SetUp();
        items[0] = item("first.tga", kButton0, kFirst);
        items[1] = item("second.tga", kButton1, kSecond);
        items[2] = item("third.tga", kButton2, kThird);
        bg = background();
    }
    // Runs a menu whose input the hook sets before each pass reads it.
    int run(bool canEscape, std::function<void(int)> hook) {
        Menu menu(items, bg.c_str(), canEscape);
        fake.onFrame(std::move(hook));
        return menu.exec();
    }

    MenuItem items[4] = {MenuItem(true), MenuItem(true), MenuItem(true), MenuItem(true)};
    std::string bg;
};

TEST_F(MenuExec, DrawsBackgroundThenItemsInOrder) {
    int result = run(true, [&](int frame) {
        if (frame == 1) {
            EXPECT_EQ(shown(0, 0), kBackground);
            EXPECT_EQ(shown(799, 599), kBackground);
            EXPECT_EQ(shown(kMaskSpot.x, kMaskSpot.y), kMask);
            EXPECT_EQ(shown(kMaskSpot.x + kMaskSpot.w - 1, kMaskSpot.y + kMaskSpot.h - 1), kMask);
            EXPECT_EQ(shown(kButton0.x, kButton0.y), kFirst);
            EXPECT_EQ(shown(kButton2.x + 1, kButton2.y + 1), kThird);
            // The later item covers the earlier one where they overlap.
            EXPECT_EQ(shown(kButton1.x, kButton1.y), kSecond);
            EXPECT_EQ(shown(kButton0.x + kButton0.w - 1, kButton0.y + kButton0.h - 1), kSecond);
            EXPECT_EQ(shown(kButton1.x + kButton1.w, kButton1.y), kBackground);
            key[KEY_ESC] = 1;
        }
    });
    EXPECT_EQ(result, -1);
    // flip() leaves the back buffer cleared.
    EXPECT_EQ(Testing::pixel(System::_screen, 0, 0), (Rgb{0, 0, 0}));
}

TEST_F(MenuExec, ButtonHeldWhenTheMenuOpensChoosesAtOnce) {
    click(kButton2.x + 5, kButton2.y + 5);
    EXPECT_EQ(run(false, nullptr), 2);
    EXPECT_EQ(fake.frames(), 1);
}

TEST_F(MenuExec, ClickOutsideEveryItemChangesNothing) {
    int result = run(false, [](int frame) {
        if (frame == 1) {
            click(10, 10);
        } else if (frame == 30) {
            click(kButton1.x + kButton1.w - 1, kButton1.y + kButton1.h - 1);
        }
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(fake.frames(), 30);
}

TEST_F(MenuExec, EdgesChooseAndThePixelsPastThemDoNot) {
    struct Case {
        int x, y, result;
    };
    const Case cases[] = {{kButton2.x, kButton2.y, 2},
                          {kButton2.x + kButton2.w - 1, kButton2.y + kButton2.h - 1, 2},
                          {kButton2.x + kButton2.w, kButton2.y, -1},
                          {kButton2.x, kButton2.y + kButton2.h, -1},
                          {kButton2.x - 1, kButton2.y, -1},
                          {kButton2.x, kButton2.y - 1, -1}};
    for (const Case& c : cases) {
        key[KEY_ESC] = 0;
        // Held over the pixel for five passes, then Escape.
        int start = fake.frames();
        int result = run(true, [&](int frame) {
            click(c.x, c.y);
            key[KEY_ESC] = frame - start == 5;
        });
        EXPECT_EQ(result, c.result) << c.x << "," << c.y;
    }
}

TEST_F(MenuExec, OnlyTheLeftButtonCounts) {
    int result = run(false, [](int frame) {
        int buttons = frame < 10 ? kRight : frame < 20 ? kMiddle : kLeft | kRight;
        click(kButton0.x + 1, kButton0.y + 1, buttons);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(fake.frames(), 20);
}

TEST_F(MenuExec, OverlapChoosesTheLowerIndex) {
    click(kButton1.x, kButton1.y);
    EXPECT_EQ(run(false, nullptr), 0);
}

TEST_F(MenuExec, EscapeLeavesOnlyWhenAllowed) {
    int result = run(true, [](int frame) { key[KEY_ESC] = frame >= 3; });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(fake.frames(), 3);

    int before = fake.frames();
    key[KEY_ESC] = 1;
    result = run(false, [&](int frame) {
        if (frame == before + 25) {
            click(kButton2.x, kButton2.y);
        }
    });
    EXPECT_EQ(result, 2);
    EXPECT_EQ(fake.frames(), before + 25);
}

TEST_F(MenuExec, ItemBeatsEscapeInTheSamePass) {
    key[KEY_ESC] = 1;
    click(kButton0.x, kButton0.y);
    EXPECT_EQ(run(true, nullptr), 0);
}

TEST_F(MenuExec, MenuCanBeShownAgain) {
    Menu menu(items, bg.c_str(), true);
    click(kButton1.x + 40, kButton1.y + 30);
    EXPECT_EQ(menu.exec(), 1);
    click(kButton0.x + 2, kButton0.y + 2);
    EXPECT_EQ(menu.exec(), 0);
}

TEST_F(MenuExec, ReleasedItemIsNeitherShownNorChosen) {
    items[2].release();
    click(kButton2.x, kButton2.y);
    int result = run(true, [](int frame) { key[KEY_ESC] = frame == 4; });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(shown(kButton2.x, kButton2.y), kBackground);
}

TEST_F(MenuTest, EndItemAloneShowsTheBackground) {
    MenuItem only[] = {MenuItem(true)};
    Menu menu(only, background().c_str(), true);
    fake.onFrame([&](int) {
        EXPECT_EQ(shown(0, 0), kBackground);
        EXPECT_EQ(shown(400, 300), kBackground);
        click(400, 300);
        key[KEY_ESC] = 1;
    });
    EXPECT_EQ(menu.exec(), -1);
    EXPECT_EQ(fake.frames(), 1);
}

constexpr int kStillOpen = 42;

TEST_F(MenuTest, WithoutItemsOrEscapeTheMenuNeverReturns) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    MenuItem only[] = {MenuItem(true)};
    std::string bg = background();
    auto show = [&] {
        Menu menu(only, bg.c_str(), false);
        // The child process that runs this ends without TearDown: its folder goes once the menu
        // has read its pictures.
        std::filesystem::remove_all(dir);
        fake.onFrame([](int frame) {
            click(400, 300);
            key[KEY_ESC] = 1;
            if (frame == 150) {
                std::_Exit(kStillOpen);
            }
        });
        menu.exec();
        std::_Exit(0);
    };
    EXPECT_EXIT(show(), ::testing::ExitedWithCode(kStillOpen), "");
}

TEST_F(MenuExec, InAnEnlargedWindowClicksChooseTheButtonShownThere) {
    // The window shows each pixel of the frame as a 2 x 2 block: its (x, y) is the frame's
    // (x / 2, y / 2), for a press seen by the input thread as for a button held on.
    System::setScale(2);
    struct Case {
        int x, y, result;
    };
    const Case cases[] = {
        {2 * kButton2.x, 2 * kButton2.y, 2},
        {2 * (kButton2.x + kButton2.w) - 1, 2 * (kButton2.y + kButton2.h) - 1, 2},
        {2 * (kButton2.x + kButton2.w), 2 * kButton2.y, -1},
        {2 * kButton2.x - 1, 2 * kButton2.y, -1},
        // At the frame's own size this pixel would be inside the third button.
        {kButton2.x + 5, kButton2.y + 5, -1},
        {2 * kButton0.x + 3, 2 * kButton0.y + 3, 0},
    };
    for (bool latched : {true, false}) {
        for (const Case& c : cases) {
            key[KEY_ESC] = 0;
            int start = fake.frames();
            int result = run(true, [&](int frame) {
                if (frame - start == 1) {
                    mouse_x = c.x;
                    mouse_y = c.y;
                    mouse_b = kLeft;
                    if (latched) {
                        // Pressed and let go between two passes.
                        System::mouseEvent(0);
                        mouse_b = 0;
                        System::mouseEvent(0);
                    }
                }
                key[KEY_ESC] = frame - start == 5;
            });
            EXPECT_EQ(result, c.result) << c.x << "," << c.y << (latched ? " latched" : " held");
            mouse_b = 0;
            System::mouseEvent(0);
        }
    }
    System::setScale(1);
}

}  // namespace
