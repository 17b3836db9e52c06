// Text entry and notices: waiting for a key, the one-line editor, the prompt beside it, and the
// centred notice. Main thread only.
#pragma once

#include <string>

#include "layout.h"

namespace System {

class PromptChoices;
class TypedKeys;

// Waits for the next of the keys and returns it as readkey() does (scancode << 8 | character),
// as soon as it is typed. Rests while it waits; a drawn arrow follows the pointer over the frame
// shown meanwhile. Throws System::QuitRequest when the program is asked to end meanwhile.
int waitForKey(TypedKeys& keys);

// One-line editor at (x, y), showing at most maxW pixels of the text's end. Reads the keys until
// Enter or keypad Enter (returns the text) or Escape (returns ""); the keys typed after that wait
// in keys for the next editor. The text takes at most maxLength characters; further characters
// are ignored. Throws System::Exception when it cannot make its snapshot of the back buffer,
// System::QuitRequest when the program is asked to end.
// With choices, they are drawn under the line and kept up to date while it waits: Up and Down
// put the text of the choice before or after into the field, and a click on a choice returns its
// text at once, as Enter would.
std::string readText(TypedKeys& keys, int x, int y, int maxW, size_t maxLength = std::string::npos,
                     PromptChoices* choices = nullptr);
// Writes prompt in orange and runs readText beside it; the line is maxW pixels centred on x.
std::string askForText(TypedKeys& keys, int x, int y, int maxW, std::string prompt,
                       size_t maxLength = std::string::npos, PromptChoices* choices = nullptr);
// Writes str in orange, centred on the screen, into the back buffer; does not flip.
void say(std::string str);
// The same in colour c, centred on the line at y.
void say(const std::string& str, int y, Layout::Rgb c);

}  // namespace System
