// Waiting for a key, the line editor, the prompt and the centred notice.
#include "text_entry.h"

#include <allegro.h>

#include <cctype>
#include <memory>

#include "back_buffer.h"
#include "frame.h"
#include "input.h"
#include "platform.h"
#include "prompt_choices.h"
#include "quit_request.h"
#include "system.h"

namespace System {

namespace {

// waitForKey(), beside choices under a prompt: returns 0 instead of a key when the choices have
// changed, or when a click has been made (in clicks; clicked says where).
int waitForKeyBeside(TypedKeys& keys, PromptChoices* choices, MousePresses* clicks, bool& clicked,
                     int& x, int& y) {
    clicked = false;
    for (;;) {
        checkQuit();
        followPointer();
        int scancode, character;
        if (keys.next(scancode, character)) {
            return scancode << 8 | character;
        }
        int rest = Platform::kForever;
        Platform::SocketWatch watch;
        if (choices != nullptr) {
            if (clicks->take(1, x, y)) {
                clicked = true;
                return 0;
            }
            if (choices->update()) {
                return 0;
            }
            // Its socket joins the one wait, and its next query or expiry ends it.
            watch = choices->watch();
            rest = choices->restMs();
        }
        Platform::waitForWake(rest, watch);
    }
}

// A field this narrow or narrower beside its prompt gets this width instead.
constexpr int kNarrowField = 7;
constexpr int kFallbackField = 80;

// The library's textout(): the background is its current text mode.
void writeText(const std::string& str, int x, int y, int colour) {
    textout_ex(_screen, font, str.c_str(), x, y, colour, _textmode);
}

// The first character from which the rest of the text fits in maxW pixels; 0 when nothing
// but the whole text could be shown.
size_t firstVisible(const std::string& text, int maxW) {
    for (size_t i = 0; i < text.size(); i++) {
        if (text_length(font, text.c_str() + i) <= maxW) {
            return i;
        }
    }
    return 0;
}

// The character a key press adds, or 0. The key's own character comes first, so Shift and Caps
// Lock do not matter; where the driver names none (X11 here gives letters and digits only), the
// character that readkey() reports stands in. Only printable ASCII reaches the text.
char typedChar(int scancode, int reported) {
    int c = scancode_to_ascii(scancode);
    if (c < ' ' || c > '~') {
        c = reported;
    }
    if (c < ' ' || c > '~') {
        return 0;
    }
    return static_cast<char>(tolower(c));
}

}  // namespace

int waitForKey(TypedKeys& keys) {
    bool clicked;
    int x, y;
    return waitForKeyBeside(keys, nullptr, nullptr, clicked, x, y);
}

std::string readText(TypedKeys& keys, int x, int y, int maxW, size_t maxLength,
                     PromptChoices* choices) {
    std::string text;
    std::unique_ptr<BITMAP, void (*)(BITMAP*)> snapshot(
        create_bitmap(Layout::kScreenW, Layout::kScreenH), destroy_bitmap);
    if (snapshot == nullptr) {
        throw Exception("Cannot create the editor's snapshot");
    }
    blit(_screen, snapshot.get(), 0, 0, 0, 0, Layout::kScreenW, Layout::kScreenH);
    MousePresses clicks;
    for (;;) {
        size_t from = firstVisible(text, maxW);
        _textmode = -1;  // text_mode(-1), which the library marks deprecated
        blit(snapshot.get(), _screen, 0, 0, 0, 0, Layout::kScreenW, Layout::kScreenH);
        writeText(text.substr(from), x, y, colour(Layout::kWhite));
        if (choices != nullptr) {
            choices->update();
            choices->draw();
        }
        present();
        bool clicked;
        int cx, cy;
        int k = waitForKeyBeside(keys, choices, &clicks, clicked, cx, cy);
        int scancode = k >> 8;
        if (clicked) {
            // A click on a choice takes it as Enter takes what was typed.
            if (choices->click(cx, cy, text)) {
                break;
            }
        } else if (k == 0) {
            // The choices changed: drawn again.
        } else if ((scancode == KEY_UP || scancode == KEY_DOWN) && choices != nullptr) {
            std::string chosen;
            if (choices->step(scancode == KEY_UP ? -1 : 1, chosen) && chosen.size() <= maxLength) {
                text = chosen;
            }
        } else if (scancode == KEY_BACKSPACE) {
            if (!text.empty()) {
                text.pop_back();
            }
        } else if (scancode == KEY_ENTER || scancode == KEY_ENTER_PAD) {
            break;
        } else if (scancode == KEY_ESC) {
            text.clear();
            break;
        } else if (char c = typedChar(scancode, k & 0xff)) {
            if (text.size() < maxLength) {
                text += c;
            }
        }
    }
    return text;
}

std::string askForText(TypedKeys& keys, int x, int y, int maxW, std::string prompt,
                       size_t maxLength, PromptChoices* choices) {
    int rx = x - maxW / 2;
    int ry = y - Layout::kPromptHalfHeight;
    int offset = text_length(font, prompt.c_str());
    int length = maxW - offset;
    if (length <= kNarrowField) {
        length = kFallbackField;
    }
    writeText(prompt, rx, ry, colour(Layout::kPromptOrange));
    return readText(keys, rx + offset, ry, length, maxLength, choices);
}

void say(std::string str) {
    say(str, Layout::kScreenH / 2 - Layout::kNoticeHalfHeight, Layout::kPromptOrange);
}

void say(const std::string& str, int y, Layout::Rgb c) {
    int w = text_length(font, str.c_str());
    writeText(str, Layout::kScreenW / 2 - w / 2, y, colour(c));
}

}  // namespace System
