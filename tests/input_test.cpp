// Presses queued between two passes of a resting loop, keys seen as soon as the library has
// announced them, and the frames a resting loop shows. The library's input thread is played by
// calling its callbacks as it would, after it has set key[], mouse_b, mouse_x and mouse_y.
#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <thread>

#include "allegro_fixture.h"
#include "back_buffer.h"
#include "frame.h"
#include "game.h"
#include "input.h"
#include "peer_helpers.h"
#include "platform.h"
#include "quit_request.h"
#include "system.h"
#include "text_entry.h"

namespace {

constexpr int kRelease = 0x80;

void escapeDown(bool down) {
    key[KEY_ESC] = down ? -1 : 0;
    System::keyEvent(down ? KEY_ESC : KEY_ESC | kRelease);
}

void mouseAt(int x, int y, int buttons) {
    mouse_x = x;
    mouse_y = y;
    mouse_b = buttons;
    System::mouseEvent(0);
}

class InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        Testing::startAllegroWithoutDisplay();
        System::queueInput();
        escapeDown(false);
        mouseAt(0, 0, 0);
    }
    void TearDown() override {
        escapeDown(false);
        mouseAt(0, 0, 0);
    }
};

TEST_F(InputTest, EscapeTappedBetweenPassesCountsOnceAndOnlyOnTheScreenItWasMadeOn) {
    escapeDown(true);
    escapeDown(false);
    // A screen opened after the tap does not see it.
    System::EscapeKey screen;
    EXPECT_FALSE(screen.pressed());
    escapeDown(true);
    // The library repeats a held key: still one press.
    System::keyEvent(KEY_ESC);
    escapeDown(false);
    EXPECT_TRUE(screen.pressed());
    EXPECT_FALSE(screen.pressed());
    // Held, it is reported on every pass, as before.
    escapeDown(true);
    EXPECT_TRUE(screen.pressed());
    EXPECT_TRUE(screen.pressed());
    escapeDown(false);
    EXPECT_FALSE(screen.pressed());
}

TEST_F(InputTest, EveryPressBetweenTwoPassesCountsOnceInOrderWhereItWasMade) {
    System::EscapeKey escape;
    System::MousePresses presses;
    escapeDown(true);
    mouseAt(100, 110, 1);
    mouseAt(300, 310, 0);
    escapeDown(false);
    mouseAt(120, 130, 4);
    mouseAt(140, 150, 5);
    mouseAt(500, 500, 0);
    escapeDown(true);
    escapeDown(false);
    EXPECT_TRUE(escape.pressed());
    EXPECT_TRUE(escape.pressed());
    EXPECT_FALSE(escape.pressed());
    int x = -1, y = -1;
    Platform::waitForWake(0);
    ASSERT_TRUE(presses.take(1, x, y));
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(100, 110));
    {
        // The presses still queued end the next rest at once, their wake-up spent already.
        Testing::Later late(std::chrono::seconds(5), Platform::wakeMain);
        auto start = std::chrono::steady_clock::now();
        Platform::waitForWake(Platform::kForever);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    }
    // The middle button's press is passed over; the left one again, where it was made.
    ASSERT_TRUE(presses.take(1, x, y));
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(140, 150));
    EXPECT_FALSE(presses.take(7, x, y));
}

TEST_F(InputTest, AReaderFallenBehindTheQueueIsToldHowManyPressesItLostThenGetsTheNewest) {
    System::InputReader reader;
    System::MousePresses presses;
    System::TypedKeys keys;
    constexpr int kMade = 1000;
    // The queue keeps the newest 256 presses; releases take no place in it.
    constexpr int kKept = 256;
    for (int i = 0; i < kMade; i++) {
        mouseAt(i % 800, i / 800, 1);
        mouseAt(i % 800, i / 800, 0);
    }
    System::InputEvent e;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader.next(e));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Input read too late: 744 keys or presses lost\n");
    EXPECT_EQ(e.kind, System::InputEvent::kMissed);
    EXPECT_EQ(e.code, kMade - kKept);
    for (int i = kMade - kKept; i < kMade; i++) {
        ASSERT_TRUE(reader.next(e));
        EXPECT_EQ(e.kind, System::InputEvent::kMousePress);
        EXPECT_EQ(std::make_pair(e.x, e.y), std::make_pair(i % 800, i / 800));
    }
    EXPECT_FALSE(reader.next(e));
    // A screen that reads presses goes on with those it can still have, in order.
    int x = -1, y = -1, taken = 0;
    while (presses.take(1, x, y)) {
        int i = kMade - kKept + taken++;
        EXPECT_EQ(std::make_pair(x, y), std::make_pair(i % 800, i / 800));
    }
    EXPECT_EQ(taken, kKept);
    int scancode, character;
    EXPECT_FALSE(keys.next(scancode, character));
}

TEST_F(InputTest, EscapeSeenHeldBeforeItsCallbackDoesNotReachTheNextScreen) {
    // The library sets key[] first; one screen sees it and closes, the next opens; only then does
    // the callback count the press.
    key[KEY_ESC] = -1;
    System::EscapeKey next;
    System::keyEvent(KEY_ESC);
    key[KEY_ESC] = 0;
    System::keyEvent(KEY_ESC | kRelease);
    EXPECT_FALSE(next.pressed());
}

TEST_F(InputTest, MousePressesCountOnceWhereTheyWereMadeAndNotOnTheNextScreen) {
    mouseAt(10, 20, 1);
    mouseAt(10, 20, 0);
    System::MousePresses screen;
    int x = -1, y = -1;
    EXPECT_FALSE(screen.take(7, x, y));
    mouseAt(30, 40, 1);
    mouseAt(31, 41, 1);
    mouseAt(50, 60, 0);
    ASSERT_TRUE(screen.take(7, x, y));
    EXPECT_EQ(x, 30);
    EXPECT_EQ(y, 40);
    EXPECT_FALSE(screen.take(7, x, y));
    // A right click is no left one.
    mouseAt(70, 80, 2);
    mouseAt(70, 80, 0);
    EXPECT_FALSE(screen.take(1, x, y));
    // Seen held before its callback came: it belongs to the screen that saw it.
    mouse_b = 1;
    System::MousePresses next;
    System::mouseEvent(0);
    mouseAt(90, 90, 0);
    EXPECT_FALSE(next.take(7, x, y));
}

// A hot-seat turn driven frame by frame.
class Turns : public Games::LocalGame {
public:
    using LocalGame::playerMove;
    unsigned char at(int c, int r) { return board->getData()[c + 16 * r]; }
};

int centre(int cell) {
    return 50 + 16 * cell + 8;
}

TEST_F(InputTest, APressSeenOnlyAfterThePointerMovedOnPlacesTheMarkWhereItWasMade) {
    Testing::FakeScreen fake(50);
    Turns game;
    fake.onFrame([](int frame) {
        if (frame == 3) {
            mouseAt(centre(4), centre(5), 1);
            mouseAt(700, 500, 1);
        }
    });
    ASSERT_TRUE(game.playerMove(1));
    EXPECT_EQ(game.at(4, 5), 1);
    // Still held, moved onto an empty cell: nothing for the next player; released and tapped
    // over between two passes, a mark; then Escape ends a turn.
    mouseAt(centre(6), centre(6), 1);
    fake.onFrame([](int frame) {
        if (frame == 8) {
            mouseAt(centre(6), centre(6), 0);
        }
        if (frame == 10) {
            mouseAt(centre(7), centre(7), 1);
            mouseAt(centre(7), centre(7), 0);
            mouseAt(700, 500, 0);
        }
        if (frame == 14) {
            escapeDown(true);
            escapeDown(false);
        }
    });
    ASSERT_TRUE(game.playerMove(2));
    EXPECT_EQ(game.at(6, 6), 0);
    EXPECT_EQ(game.at(7, 7), 2);
    EXPECT_FALSE(game.playerMove(1));
}

TEST_F(InputTest, TwoClicksWithinOneFrameAreBothPlayersMarksInOrder) {
    Testing::FakeScreen fake(50);
    Turns game;
    fake.onFrame([](int frame) {
        if (frame == 2) {
            mouseAt(centre(3), centre(3), 1);
            mouseAt(centre(3), centre(3), 0);
            mouseAt(centre(9), centre(2), 1);
            mouseAt(centre(9), centre(2), 0);
        }
    });
    ASSERT_TRUE(game.playerMove(1));
    fake.onFrame([](int) {});
    ASSERT_TRUE(game.playerMove(2));
    EXPECT_EQ(game.at(3, 3), 1);
    EXPECT_EQ(game.at(9, 2), 2);
}

// Stands in for the library's keyboard thread as it types a key: the key goes down (the low-level
// callback), is announced to the key buffer (the keyboard_ucallback the game installed), and what
// the callback leaves for the buffer is written there only once the wait has returned the key, or
// after kHeld, as a thread that loses the processor there would. The key stays down: its release
// would wake a wait by itself.
constexpr std::chrono::seconds kHeld{1};

void typeLate(int scancode, char c, std::future<void> seen, std::atomic<bool>& announced,
              std::atomic<bool>& buffered) {
    key[scancode] = -1;
    System::keyEvent(scancode);
    int keptScancode = scancode;
    int kept = keyboard_ucallback(c, &keptScancode);
    announced = true;
    seen.wait_for(kHeld);
    if (kept != 0 || keptScancode != 0) {
        auto callback = keyboard_ucallback;
        keyboard_ucallback = nullptr;
        simulate_ukeypress(kept, keptScancode);
        keyboard_ucallback = callback;
    }
    buffered = true;
}

// Types K as the library does, announcing it before the wait began or while it rests, and says
// whether the key wait returned it before the library wrote it into its buffer. Order, not time:
// a loaded machine may hold either thread up for as long as it likes.
bool keySeenBeforeItIsBuffered(bool beforeTheWait) {
    System::TypedKeys keys;
    std::promise<void> seen;
    std::atomic<bool> announced{false};
    std::atomic<bool> buffered{false};
    std::thread library([&] {
        if (!beforeTheWait) {
            // The wait has most likely begun by then; if not, the key is simply announced early.
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        typeLate(KEY_K, 'k', seen.get_future(), announced, buffered);
    });
    while (beforeTheWait && !announced) {
        std::this_thread::yield();
    }
    int k = 0;
    {
        // A wait that nothing ends is ended by a request to quit, long past the buffering.
        Testing::Later watchdog(kHeld * 3, [] { System::requestQuit(SIGTERM); });
        try {
            k = System::waitForKey(keys);
        } catch (System::QuitRequest&) {
            ADD_FAILURE() << "no key " << (kHeld * 3).count() << " s after it was typed";
        }
    }
    bool early = !buffered;
    seen.set_value();
    library.join();
    key[KEY_K] = 0;
    System::keyEvent(KEY_K | kRelease);
    System::forgetQuitRequest();
    clear_keybuf();
    EXPECT_EQ(k, KEY_K << 8 | 'k');
    return early;
}

TEST_F(InputTest, AKeyIsSeenAsSoonAsTheLibraryAnnouncesItHoweverLateItBuffersIt) {
    // The library's buffer wants a keyboard driver; this one has nothing but the buffer.
    KEYBOARD_DRIVER buffer{};
    buffer.name = buffer.desc = buffer.ascii_name = "Key buffer";
    keyboard_driver = &buffer;
    clear_keybuf();
    System::setPaced(true);
    EXPECT_TRUE(keySeenBeforeItIsBuffered(false))
        << "announced while the wait rested, seen only once buffered";
    EXPECT_TRUE(keySeenBeforeItIsBuffered(true))
        << "announced before the wait began, seen only once buffered";
    System::setPaced(false);
    keyboard_driver = nullptr;
}

TEST_F(InputTest, ARestingLoopShowsAFrameOnlyWhenItChangesAndWakesWhenTold) {
    Testing::FakeScreen fake(50);
    System::setPaced(true);
    auto pass = [](int colour) {
        clear_to_color(System::_screen, colour);
        // Woken beforehand, the rest ends at once.
        Platform::wakeMain();
        System::flip();
    };
    pass(makecol(0, 0, 90));
    pass(makecol(0, 0, 90));
    EXPECT_EQ(fake.frames(), 1);
    pass(makecol(0, 90, 0));
    EXPECT_EQ(fake.frames(), 2);
    EXPECT_EQ(Testing::pixel(screen, 400, 300), (Testing::Rgb{0, 90, 0}));
    // A wake from another thread ends a long rest.
    auto start = std::chrono::steady_clock::now();
    std::thread waker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Platform::wakeMain();
    });
    Platform::waitForWake(30000);
    waker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    System::setPaced(false);
}

}  // namespace
