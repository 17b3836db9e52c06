// The window's factor on HiDPI desktops, the enlarged copy of the frame, the pointer mapped back
// to the frame, and the game's arrow only while the pointer is over the window.
#include <allegro.h>
#include <allegro/internal/aintern.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "allegro_fixture.h"
#include "arrow.h"
#include "back_buffer.h"
#include "frame.h"
#include "input.h"
#include "platform.h"
#include "text_entry.h"
#include "window_scale.h"

namespace {

using Testing::Rgb;

TEST(ScaleChoiceTest, TheDesktopsResolutionRoundedToAWholeFactor) {
    // 96 dots per inch is 100 %; GNOME and KDE say 144 at 150 % and 192 at 200 %.
    const std::pair<double, int> cases[] = {
        {96, 1},  {120, 1}, {143.9, 1}, {144, 2}, {192, 2}, {239, 2},  {240, 3},
        {288, 3}, {384, 4}, {960, 4},   {20, 1},  {0, 1},   {-192, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(System::scaleForDpi(c.first), c.second) << c.first << " dpi";
    }
    EXPECT_EQ(System::scaleForDpi(std::numeric_limits<double>::quiet_NaN()), 1);
    EXPECT_EQ(System::scaleForDpi(std::numeric_limits<double>::infinity()), 1);
}

TEST(ScaleChoiceTest, APlayersTextNamesAWholeFactorOrNothing) {
    EXPECT_EQ(System::scaleFromText(nullptr), 0);
    EXPECT_EQ(System::scaleFromText(""), 0);
    EXPECT_EQ(System::scaleFromText("  "), 0);
    EXPECT_EQ(System::scaleFromText("1"), 1);
    EXPECT_EQ(System::scaleFromText("2"), 2);
    EXPECT_EQ(System::scaleFromText(" 3\t"), 3);
    EXPECT_EQ(System::scaleFromText("4"), 4);
    for (const char* bad : {"0", "5", "-1", "2x", "1.5", "x", "two", "99999999999999999999"}) {
        EXPECT_EQ(System::scaleFromText(bad), -1) << bad;
    }
}

TEST(ScaleChoiceTest, TheFactorIsLoweredUntilTheWindowFitsTheDesktop) {
    // A 2560 x 1600 laptop at 200 % and a 2048 x 1536 screen take the window twice as large.
    EXPECT_EQ(System::fittingScale(2, 2560, 1600), 2);
    EXPECT_EQ(System::fittingScale(2, 2048, 1536), 2);
    // 1920 x 1080 at 150 % asks for 2, but 1200 rows do not fit.
    EXPECT_EQ(System::fittingScale(2, 1920, 1080), 1);
    // A window exactly as high as the screen leaves no room for a title bar or a panel.
    EXPECT_EQ(System::fittingScale(2, 4000, 1200), 1);
    EXPECT_EQ(System::fittingScale(2, 1600, 4000), 1);
    // 4K asked for 400 %: 3200 x 2400 does not fit under 2160 rows, 2400 x 1800 does.
    EXPECT_EQ(System::fittingScale(4, 3840, 2160), 3);
    // Never below 1, even on a screen smaller than the frame; an unknown desktop changes nothing.
    EXPECT_EQ(System::fittingScale(3, 640, 480), 1);
    EXPECT_EQ(System::fittingScale(1, 640, 480), 1);
    EXPECT_EQ(System::fittingScale(0, 2048, 1536), 1);
    EXPECT_EQ(System::fittingScale(3, 0, 0), 3);
    for (int w = 800; w <= 4000; w += 97) {
        for (int h = 600; h <= 3000; h += 89) {
            int s = System::fittingScale(System::kMaxScale, w, h);
            ASSERT_GE(s, 1);
            if (s > 1) {
                ASSERT_LT(800 * s, w) << w << " x " << h;
                ASSERT_LT(600 * s, h) << w << " x " << h;
            }
            // What fits at a factor fits at every smaller one.
            ASSERT_EQ(System::fittingScale(s, w, h), s);
        }
    }
}

// A frame whose every pixel differs from its neighbours, so that a shifted or blended copy shows.
BITMAP* patterned(int w, int h, int depth) {
    BITMAP* bmp = create_bitmap_ex(depth, w, h);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            putpixel(bmp, x, y,
                     makecol_depth(depth, (x * 37 + y) & 255, (y * 53 + x * 7) & 255,
                                   (x * y + 11) & 255));
        }
    }
    return bmp;
}

TEST(EnlargeTest, EachPixelBecomesABlockOfItsColourAndNothingElseChanges) {
    Testing::startAllegroWithoutDisplay();
    for (int depth : {32, 16}) {
        BITMAP* frame = patterned(61, 47, depth);
        for (int factor : {1, 2, 3, 4}) {
            // One column and row more than the enlarged frame: they keep their colour.
            BITMAP* window = create_bitmap_ex(depth, 61 * factor + 1, 47 * factor + 1);
            const int untouched = makecol_depth(depth, 1, 2, 3);
            clear_to_color(window, untouched);
            System::enlarge(frame, window, factor);
            int wrong = 0;
            for (int y = 0; y < window->h; y++) {
                for (int x = 0; x < window->w; x++) {
                    bool inside = x < 61 * factor && y < 47 * factor;
                    int want = inside ? getpixel(frame, x / factor, y / factor) : untouched;
                    wrong += getpixel(window, x, y) != want;
                }
            }
            EXPECT_EQ(wrong, 0) << depth << "-bit frame at factor " << factor;
            destroy_bitmap(window);
        }
        destroy_bitmap(frame);
    }
}

// The flip of a frame into a window that enlarges it, with a pointer picture of a few colours.
class ScaledWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        Testing::startAllegroWithoutDisplay();
        pointer = create_bitmap(3, 4);
        clear_to_color(pointer, makecol(255, 0, 255));
        putpixel(pointer, 0, 0, makecol(250, 250, 250));
        putpixel(pointer, 1, 1, makecol(0, 0, 0));
        putpixel(pointer, 2, 3, makecol(10, 200, 30));
        saved = System::mousePtr;
        System::mousePtr = pointer;
        _mouse_on = TRUE;
    }
    void TearDown() override {
        System::mousePtr = saved;
        destroy_bitmap(pointer);
        _mouse_on = TRUE;
        mouse_x = mouse_y = 0;
    }

    // Fills the back buffer with the pattern and flips it with the pointer at (x, y) of the window.
    void flipPattern(BITMAP* pattern, int x, int y) {
        blit(pattern, System::_screen, 0, 0, 0, 0, 800, 600);
        mouse_x = x;
        mouse_y = y;
        System::flip();
    }

    // How many pixels of the window differ from `want` enlarged `factor` times.
    static int differences(BITMAP* want, int factor) {
        int wrong = 0;
        for (int y = 0; y < screen->h; y++) {
            for (int x = 0; x < screen->w; x++) {
                wrong += getpixel(screen, x, y) != getpixel(want, x / factor, y / factor);
            }
        }
        return wrong;
    }

    BITMAP* pointer = nullptr;
    BITMAP* saved = nullptr;
};

TEST_F(ScaledWindowTest, TheWindowShowsTheFrameAndThePointerEnlargedWherePlaced) {
    BITMAP* pattern = patterned(800, 600, 32);
    BITMAP* want = create_bitmap(800, 600);
    for (int factor : {2, 3}) {
        Testing::FakeScreen fake(10, factor);
        EXPECT_EQ(System::scale(), factor);
        // The window's pixel (x, y) shows the frame's (x / factor, y / factor), the last pixel of
        // a block as well as the first.
        const int wx = 501 * factor + factor - 1, wy = 299 * factor;
        flipPattern(pattern, wx, wy);
        blit(pattern, want, 0, 0, 0, 0, 800, 600);
        masked_blit(pointer, want, 0, 0, 501, 299, 3, 4);
        EXPECT_EQ(differences(want, factor), 0) << "factor " << factor;
        int x = wx, y = wy;
        System::toFrame(x, y);
        EXPECT_EQ(x, 501);
        EXPECT_EQ(y, 299);
        // The last pixel of the window is the frame's last; past it (a window a desktop made
        // larger) stays on the frame.
        x = 800 * factor - 1, y = 600 * factor - 1;
        System::toFrame(x, y);
        EXPECT_EQ(x, 799);
        EXPECT_EQ(y, 599);
        x = 900 * factor, y = 700 * factor;
        System::toFrame(x, y);
        EXPECT_EQ(x, 799);
        EXPECT_EQ(y, 599);
    }
    EXPECT_EQ(System::scale(), 1);
    destroy_bitmap(want);
    destroy_bitmap(pattern);
}

TEST_F(ScaledWindowTest, NoArrowWhileThePointerIsOutsideTheWindow) {
    Testing::FakeScreen fake(10, 2);
    BITMAP* pattern = patterned(800, 600, 32);
    _mouse_on = FALSE;
    flipPattern(pattern, 40, 60);
    EXPECT_EQ(differences(pattern, 2), 0) << "an arrow drawn outside the window";
    _mouse_on = TRUE;
    flipPattern(pattern, 40, 60);
    masked_blit(pointer, pattern, 0, 0, 20, 30, 3, 4);
    EXPECT_EQ(differences(pattern, 2), 0) << "no arrow where the pointer came back";
    destroy_bitmap(pattern);
}

TEST_F(ScaledWindowTest, AFrameDrawnOnceHasItsDrawnArrowWhereThePointerIsWhileItWaits) {
    Testing::FakeScreen fake(10);
    Testing::ScriptedKeyboard keyboard;
    System::TypedKeys keys;
    // Only a frame on the window, as a resting screen keeps it, can be shown again.
    System::setPaced(true);
    BITMAP* pattern = patterned(800, 600, 32);
    blit(pattern, System::_screen, 0, 0, 0, 0, 800, 600);
    mouse_x = 100;
    mouse_y = 200;
    System::present();
    ASSERT_EQ(fake.frames(), 1);
    BITMAP* want = create_bitmap(800, 600);
    // The pointer's place while the screen waits for a key, and the frame it must then show.
    auto waitWithPointerAt = [&](bool over, int x, int y) {
        _mouse_on = over;
        mouse_x = x;
        mouse_y = y;
        blit(pattern, want, 0, 0, 0, 0, 800, 600);
        if (over) {
            masked_blit(pointer, want, 0, 0, x, y, 3, 4);
        }
        keyboard.typeNow({KEY_SPACE << 8 | ' '});
        EXPECT_EQ(System::waitForKey(keys), KEY_SPACE << 8 | ' ');
    };

    waitWithPointerAt(false, 100, 200);
    EXPECT_EQ(fake.frames(), 2);
    EXPECT_EQ(differences(want, 1), 0) << "the arrow stayed after the pointer left";
    waitWithPointerAt(true, 300, 310);
    EXPECT_EQ(fake.frames(), 3);
    EXPECT_EQ(differences(want, 1), 0) << "no arrow where the pointer came back";
    waitWithPointerAt(true, 500, 310);
    EXPECT_EQ(fake.frames(), 4);
    EXPECT_EQ(differences(want, 1), 0) << "the arrow did not follow the pointer over the window";
    waitWithPointerAt(true, 500, 310);
    EXPECT_EQ(fake.frames(), 4) << "a frame shown again without a move";
    destroy_bitmap(want);
    destroy_bitmap(pattern);
}

}  // namespace
