// The line editor, the prompt and the centred notice: the text they return and what each frame
// shows, with scripted keys and a stand-in screen.
#include <allegro.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "allegro_fixture.h"
#include "back_buffer.h"
#include "input.h"
#include "prompt_choices.h"
#include "system.h"
#include "test_platform.h"
#include "text_entry.h"

namespace {

using Testing::Rgb;
using Testing::ScriptedKeyboard;

constexpr int kEnter = KEY_ENTER << 8 | 13;
constexpr int kEscape = KEY_ESC << 8 | 27;
constexpr int kBackspace = KEY_BACKSPACE << 8 | 8;

using Picture = std::unique_ptr<BITMAP, void (*)(BITMAP*)>;

// A black one.
Picture newPicture() {
    Picture picture(create_bitmap(800, 600), destroy_bitmap);
    clear_bitmap(picture.get());
    return picture;
}

std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<int> keys(const std::string& text) {
    return ScriptedKeyboard::keysFor(text);
}

int white() {
    return makecol(255, 255, 255);
}

int orange() {
    return makecol(255, 127, 0);
}

class TextEntry : public ::testing::Test {
protected:
    void SetUp() override {
        fake.onFrame([this](int) {
            Picture copy = newPicture();
            blit(screen, copy.get(), 0, 0, 0, 0, 800, 600);
            frames.push_back(std::move(copy));
        });
    }

    // The number of pixels where two pictures differ; reports the first few.
    static int differences(BITMAP* got, BITMAP* want, const std::string& what) {
        return Testing::countPixels(got, [&, shown = 0](int x, int y, Rgb c) mutable {
            bool differs = getpixel(got, x, y) != getpixel(want, x, y);
            if (differs && shown++ < 3) {
                ADD_FAILURE() << what << ": pixel " << x << "," << y << " is " << c << ", want "
                              << Testing::pixel(want, x, y);
            }
            return differs;
        });
    }

    // What a frame must look like: `behind` with `text` written over it, transparent.
    static Picture frameWith(BITMAP* behind, const std::string& text, int x, int y) {
        Picture want = newPicture();
        blit(behind, want.get(), 0, 0, 0, 0, 800, 600);
        textout_ex(want.get(), font, text.c_str(), x, y, white(), -1);
        return want;
    }

    // Fills the back buffer with something for the editor to keep behind its text.
    static void drawBackground() {
        clear_to_color(System::_screen, makecol(0, 60, 0));
        rectfill(System::_screen, 90, 280, 300, 310, makecol(30, 30, 120));
    }

    static Picture copyOfBackBuffer() {
        Picture copy = newPicture();
        blit(System::_screen, copy.get(), 0, 0, 0, 0, 800, 600);
        return copy;
    }

    static bool backBufferIsBlack() {
        return Testing::countPixels(System::_screen, [](int x, int y, Rgb) {
                   return getpixel(System::_screen, x, y) != 0;
               }) == 0;
    }

    Testing::FakeScreen fake{100};
    ScriptedKeyboard keyboard;
    System::TypedKeys typed;
    std::vector<Picture> frames;
};

TEST_F(TextEntry, TypedAddressesAndNamesComeBackExactly) {
    // '.' and '-' have no character from this platform's scancode_to_ascii.
    for (std::string text : {"127.0.0.1", "my-host", "a b/c:d,e=f", "x_y"}) {
        keyboard.type(keys(text) + std::vector<int>{kEnter});
        EXPECT_EQ(System::readText(typed, 100, 292, 600), text);
        EXPECT_EQ(keyboard.left(), 0);
    }
}

TEST_F(TextEntry, EnterAtOnceGivesTheEmptyText) {
    keyboard.type({kEnter});
    EXPECT_EQ(System::readText(typed, 100, 292, 600), "");
    EXPECT_EQ(frames.size(), 1u);
}

TEST_F(TextEntry, EscapeThrowsTheTextAway) {
    keyboard.type(keys("host") + std::vector<int>{kEscape, kEnter});
    EXPECT_EQ(System::readText(typed, 100, 292, 600), "");
    EXPECT_EQ(keyboard.left(), 1) << "the edit ends at Escape";
}

TEST_F(TextEntry, KeypadEnterFinishesTheEditAsEnterDoes) {
    keyboard.type(keys("host") + std::vector<int>{KEY_ENTER_PAD << 8 | 13} + keys("x"));
    EXPECT_EQ(System::readText(typed, 100, 292, 600), "host");
    EXPECT_EQ(keyboard.left(), 1);
}

TEST_F(TextEntry, BackspaceRemovesTheLastCharacterAndNothingOnEmptyText) {
    keyboard.type(keys("ab") + std::vector<int>{kBackspace, kBackspace, kBackspace, kBackspace} +
                  keys("xyz") + std::vector<int>{kBackspace, kEnter});
    EXPECT_EQ(System::readText(typed, 100, 292, 600), "xy");
    EXPECT_EQ(keyboard.left(), 0);
}

TEST_F(TextEntry, CharactersBeyondTheLimitAreIgnoredButEditingGoesOn) {
    keyboard.type(keys("abcdef") + std::vector<int>{kBackspace} + keys("xy") +
                  std::vector<int>{kEnter});
    EXPECT_EQ(System::askForText(typed, 400, 300, 600, "Nick: ", 4), "abcx");
    EXPECT_EQ(frames.size(), 10u) << "every key but Enter redraws, ignored ones too";
}

TEST_F(TextEntry, TheKeysOwnCharacterWinsOverShiftAndControl) {
    // Shift+2 reports '@' and Ctrl+A reports 1, but the keys' own characters are '2' and 'a'.
    keyboard.type(keys("MyHost@1") + std::vector<int>{KEY_A << 8 | 1, kEnter});
    EXPECT_EQ(System::readText(typed, 100, 292, 600), "myhost21a");
}

TEST_F(TextEntry, ReportedCharactersStandInOnlyWhenPrintableAndStayLowerCase) {
    // Keys the driver names no character for: what readkey() reported is used instead.
    keyboard.type({KEY_UNKNOWN1 << 8 | 'Q', KEY_UNKNOWN2 << 8 | '#', KEY_UNKNOWN3 << 8 | 200,
                   KEY_UNKNOWN4 << 8 | 31, KEY_UNKNOWN5 << 8 | '~', kEnter});
    EXPECT_EQ(System::readText(typed, 100, 292, 600), "q#~");
}

TEST_F(TextEntry, KeysWithoutACharacterOnlyRedraw) {
    std::vector<int> silent = {KEY_LEFT << 8, KEY_F1 << 8, KEY_TAB << 8 | 9, KEY_LSHIFT << 8,
                               KEY_DEL << 8 | 127};
    drawBackground();
    Picture behind = copyOfBackBuffer();
    keyboard.type(keys("ok") + silent + std::vector<int>{kEnter});
    EXPECT_EQ(System::readText(typed, 100, 292, 600), "ok");
    // One frame before the first key and one after each key but Enter.
    ASSERT_EQ(frames.size(), 1 + 2 + silent.size());
    Picture want = frameWith(behind.get(), "ok", 100, 292);
    for (size_t i = 2; i < frames.size(); i++) {
        EXPECT_EQ(differences(frames[i].get(), want.get(), "frame " + std::to_string(i)), 0);
    }
}

TEST_F(TextEntry, EveryFrameShowsTheTextOverTheCallersPicture) {
    drawBackground();
    Picture behind = copyOfBackBuffer();
    keyboard.type(keys("abc") + std::vector<int>{kBackspace, kEnter});
    EXPECT_EQ(System::readText(typed, 100, 292, 600), "ab");
    const char* shownText[] = {"", "a", "ab", "abc", "ab"};
    ASSERT_EQ(frames.size(), 5u);
    for (size_t i = 0; i < frames.size(); i++) {
        Picture want = frameWith(behind.get(), shownText[i], 100, 292);
        EXPECT_EQ(differences(frames[i].get(), want.get(), "frame " + std::to_string(i)), 0);
    }
    // The last flip() cleared the back buffer, and later text is transparent.
    EXPECT_TRUE(backBufferIsBlack());
    EXPECT_EQ(_textmode, -1);
}

TEST_F(TextEntry, WideTextShowsTheLongestEndThatFits) {
    const std::string text = "abcdefghijkl";
    const int maxW = text_length(font, "abcde");
    keyboard.type(keys(text) + std::vector<int>{kEnter});
    EXPECT_EQ(System::readText(typed, 200, 100, maxW), text);
    ASSERT_EQ(frames.size(), text.size() + 1);
    Picture black = newPicture();
    for (size_t n = 0; n <= text.size(); n++) {
        std::string typed = text.substr(0, n);
        std::string tail = typed.size() > 5 ? typed.substr(typed.size() - 5) : typed;
        ASSERT_LE(text_length(font, tail.c_str()), maxW);
        Picture want = frameWith(black.get(), tail, 200, 100);
        EXPECT_EQ(differences(frames[n].get(), want.get(), "after " + typed), 0);
    }
}

TEST_F(TextEntry, TextShownWholeWhenNotEvenOneCharacterFits) {
    keyboard.type(keys("wx") + std::vector<int>{kEnter});
    EXPECT_EQ(System::readText(typed, 10, 10, text_length(font, "w") - 1), "wx");
    Picture want = frameWith(newPicture().get(), "wx", 10, 10);
    EXPECT_EQ(differences(frames.back().get(), want.get(), "last frame"), 0);
}

TEST_F(TextEntry, KeysTypedBeforeThePromptsOpenedAreDroppedAndLaterOnesKeptForTheNext) {
    keyboard.typeNow({kEscape, KEY_Q << 8 | 'q'});
    System::TypedKeys prompts;
    // Typed ahead: the second prompt's text after the first one's Enter, before it opens.
    keyboard.typeNow(keys("host") + std::vector<int>{kEnter} + keys("ni"));
    EXPECT_EQ(System::readText(prompts, 100, 292, 600), "host");
    keyboard.type(keys("ck") + std::vector<int>{kEnter});
    EXPECT_EQ(System::readText(prompts, 100, 292, 600), "nick");
    EXPECT_EQ(keyboard.left(), 0);
}

TEST_F(TextEntry, PromptStandsBeforeTheFieldOnTheCentredLine) {
    drawBackground();
    Picture behind = copyOfBackBuffer();
    textout_ex(behind.get(), font, "Nick: ", 100, 292, orange(), _textmode);
    keyboard.type(keys("joe") + std::vector<int>{kEnter});
    EXPECT_EQ(System::askForText(typed, 400, 300, 600, "Nick: "), "joe");
    ASSERT_EQ(frames.size(), 4u);
    int fieldX = 100 + text_length(font, "Nick: ");
    Picture want = frameWith(behind.get(), "joe", fieldX, 292);
    EXPECT_EQ(differences(frames[3].get(), want.get(), "last frame"), 0);
}

TEST_F(TextEntry, PromptLeavingSevenPixelsOrLessGetsAnEightyPixelField) {
    const std::string prompt = "Address of the master: ";
    const int offset = text_length(font, prompt.c_str());
    const std::string text = std::string(20, 'm');
    const int eighty = 80;
    // The longest tail of `text` that fits in `width` pixels.
    auto tailFor = [&](int width) {
        size_t from = 0;
        while (text_length(font, text.c_str() + from) > width) {
            from++;
        }
        return text.substr(from);
    };
    struct Case {
        int maxW, fieldWidth;
    };
    for (Case c : {Case{offset + 7, eighty}, Case{offset, eighty}, Case{offset + 8, 8},
                   Case{offset - 50, eighty}}) {
        frames.clear();
        keyboard.type(keys(text) + std::vector<int>{kEnter});
        EXPECT_EQ(System::askForText(typed, 400, 300, c.maxW, prompt), text);
        Picture want = newPicture();
        int rx = 400 - c.maxW / 2;
        textout_ex(want.get(), font, prompt.c_str(), rx, 292, orange(), -1);
        textout_ex(want.get(), font, tailFor(c.fieldWidth).c_str(), rx + offset, 292, white(), -1);
        EXPECT_EQ(differences(frames.back().get(), want.get(), "maxW " + std::to_string(c.maxW)),
                  0);
    }
}

TEST_F(TextEntry, NoticeIsCentredAndNotFlipped) {
    const std::string notice = "Waitng for the other side";
    for (int mode : {-1, makecol(0, 0, 90)}) {
        _textmode = mode;
        drawBackground();
        Picture want = copyOfBackBuffer();
        int w = text_length(font, notice.c_str());
        textout_ex(want.get(), font, notice.c_str(), 400 - w / 2, 296, orange(), mode);
        System::say(notice);
        EXPECT_EQ(differences(System::_screen, want.get(), "mode " + std::to_string(mode)), 0);
    }
    EXPECT_EQ(fake.frames(), 0);
}

TEST_F(TextEntry, EmptyNoticeDrawsNothing) {
    drawBackground();
    Picture before = copyOfBackBuffer();
    System::say("");
    EXPECT_EQ(differences(System::_screen, before.get(), "empty notice"), 0);
    EXPECT_EQ(fake.frames(), 0);
}

// ---- A snapshot that cannot be made ----

constexpr int kThrewAsExpected = 0;
constexpr int kNoCap = 2;

TEST_F(TextEntry, MissingSnapshotIsAnError) {
    if (!Testing::canLimitAddressSpace()) {
        GTEST_SKIP() << "allocations cannot be made to fail here";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto edit = [this] {
        keyboard.type({kEnter});
        // The 800 x 600 x 4-byte snapshot cannot fit in 1 MiB.
        if (!Testing::limitAddressSpace(1 << 20)) {
            std::_Exit(kNoCap);
        }
        try {
            System::readText(typed, 0, 0, 100);
        } catch (System::Exception e) {
            std::_Exit(e.message() == "Cannot create the editor's snapshot" ? kThrewAsExpected : 3);
        }
        std::_Exit(4);
    };
    EXPECT_EXIT(edit(), ::testing::ExitedWithCode(kThrewAsExpected), "");
    keyboard.type({kEnter});
    EXPECT_EQ(System::readText(typed, 0, 0, 100), "") << "and works again with memory to spare";
}

}  // namespace

// Choices as a prompt is given them: two texts, a mark drawn for them.
class TwoChoices : public System::PromptChoices {
public:
    bool update() override { return false; }
    void draw() override { rectfill(System::_screen, 100, 400, 109, 409, makecol(1, 2, 3)); }
    Platform::SocketWatch watch() const override { return Platform::SocketWatch(); }
    int restMs() const override { return Platform::kForever; }
    bool step(int direction, std::string& text) override {
        row = std::min(std::max(row + direction, 0), 1);
        text = row == 0 ? "10.7.0.1" : "10.8.0.1";
        return true;
    }
    bool click(int, int, std::string&) override { return false; }

    int row = -1;
};

TEST_F(TextEntry, UpAndDownPutTheChosenTextInTheFieldAndTypingGoesOn) {
    TwoChoices choices;
    keyboard.type({KEY_DOWN << 8, KEY_DOWN << 8, KEY_UP << 8, kEnter});
    EXPECT_EQ(System::readText(typed, 100, 292, 600, std::string::npos, &choices), "10.7.0.1");
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(Testing::pixel(frames.back().get(), 105, 405), (Rgb{1, 2, 3}))
        << "the choices are drawn under the prompt";
    keyboard.type({KEY_DOWN << 8, KEY_DOWN << 8});
    keyboard.type(keys("9") + std::vector<int>{kEnter});
    EXPECT_EQ(System::readText(typed, 100, 292, 600, std::string::npos, &choices), "10.8.0.19");
    // Without choices the arrows type nothing, as ever.
    keyboard.type({KEY_DOWN << 8, KEY_UP << 8, kEnter});
    EXPECT_EQ(System::readText(typed, 100, 292, 600), "");
}
