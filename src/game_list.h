// The games hosted on the network, as the address prompt lists them: a heading and a row of nick
// and address for each game that answered, one of them chosen by Up and Down or a click. It shows
// Layout::kListRows rows at most and scrolls to keep the chosen one in sight. Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "net_finder.h"
#include "prompt_choices.h"

namespace Games {

class GameList : public System::PromptChoices {
public:
    // Starts search at once and shows its rows for as long as the list lives; without a socket
    // for it, the list stays empty.
    explicit GameList(Net::GameFinder& search);

    bool update() override;
    void draw() override;
    Platform::SocketWatch watch() const override;
    int restMs() const override;
    bool step(int direction, std::string& text) override;
    bool click(int x, int y, std::string& text) override;

private:
    // Where the chosen game is among all the search has, -1 for none.
    int chosenIndex() const;
    int shownRows() const;
    // Scrolls as little as brings the game at index among all into the rows shown.
    void keepInSight(size_t index);
    // Chooses the game at index among all: true, with its address as text.
    bool choose(int index, std::string& text);

    Net::GameFinder& search;
    // The chosen game's hosting number, 0 for none: it stays chosen while rows come and go.
    uint32_t chosen = 0;
    // Which game the first row shows.
    size_t top = 0;
};

}  // namespace Games
