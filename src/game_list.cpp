// The list of games under the address prompt.
#include "game_list.h"

#include <allegro.h>

#include <algorithm>

#include "back_buffer.h"

namespace Games {

namespace {
const char* const kHeading = "Games on this network:";
}

GameList::GameList(Net::GameFinder& search) : search(search) {
    search.open();
}

bool GameList::update() {
    bool changed = search.poll();
    if (chosen != 0 && chosenRow() < 0) {
        chosen = 0;
    }
    return changed;
}

int GameList::shownRows() const {
    return static_cast<int>(std::min<size_t>(search.games().size(), Layout::kListRows));
}

int GameList::chosenRow() const {
    for (int i = 0; i < shownRows(); i++) {
        if (search.games()[i].hosting == chosen) {
            return i;
        }
    }
    return -1;
}

void GameList::draw() {
    if (shownRows() == 0) {
        return;
    }
    textout_ex(System::_screen, font, kHeading, Layout::kListX, Layout::kListHeadingY,
               System::colour(Layout::kPromptOrange), -1);
    for (int i = 0; i < shownRows(); i++) {
        const Net::FoundGame& g = search.games()[i];
        int colour = System::colour(g.hosting == chosen ? Layout::kWhite : Layout::kListGrey);
        int y = Layout::kListFirstRowY + i * Layout::kListRowHeight;
        textout_ex(System::_screen, font, g.nick.c_str(), Layout::kListX, y, colour, -1);
        textout_ex(System::_screen, font, Net::dotted(g.address).c_str(), Layout::kListAddressX, y,
                   colour, -1);
    }
}

Platform::SocketWatch GameList::watch() const {
    return search.watch();
}

int GameList::restMs() const {
    return search.restMs();
}

bool GameList::step(int direction, std::string& text) {
    int rows = shownRows();
    if (rows == 0) {
        return false;
    }
    int row = chosenRow();
    row =
        row < 0 ? (direction > 0 ? 0 : rows - 1) : std::min(std::max(row + direction, 0), rows - 1);
    return choose(row, text);
}

bool GameList::choose(int row, std::string& text) {
    chosen = search.games()[row].hosting;
    text = Net::dotted(search.games()[row].address);
    return true;
}

bool GameList::click(int x, int y, std::string& text) {
    int row = (y - Layout::kListFirstRowY) / Layout::kListRowHeight;
    if (x < Layout::kListX || x >= Layout::kListRight || y < Layout::kListFirstRowY ||
        row >= shownRows()) {
        return false;
    }
    return choose(row, text);
}

}  // namespace Games
