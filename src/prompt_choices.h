// Choices that a text prompt shows under its line and that the player may take instead of typing
// (the games found on the network, at the master's address prompt). The prompt calls it on the
// main thread on every pass.
#pragma once

#include <string>

#include "platform.h"

namespace System {

class PromptChoices {
public:
    virtual ~PromptChoices() {}
    // Does what the choices need done while the prompt waits (reads, sends); true when draw()
    // would now show something else. Never blocks.
    virtual bool update() = 0;
    // Draws the choices into the back buffer; nothing at all while there are none.
    virtual void draw() = 0;
    // What ends the prompt's rest besides keys and clicks: a socket, and a time in milliseconds
    // (Platform::kForever for none).
    virtual Platform::SocketWatch watch() const = 0;
    virtual int restMs() const = 0;
    // Up (direction -1) or Down (+1): chooses the choice before or after the one chosen; true,
    // with its text, when there is one to choose.
    virtual bool step(int direction, std::string& text) = 0;
    // A click at (x, y) of the frame: true, with its text, on a choice.
    virtual bool click(int x, int y, std::string& text) = 0;
};

}  // namespace System
