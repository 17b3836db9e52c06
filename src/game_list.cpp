// The list of games under the address prompt.
#include "game_list.h"

#include <allegro.h>

#include <algorithm>

#include "back_buffer.h"

namespace Games {

namespace {
const char* const kHeading = "Games on this network:";
constexpr size_t kRows = Layout::kListRows;
}  // namespace

GameList::GameList(Net::GameFinder& search) : search(search) {
    search.open();
}

bool GameList::update() {
    bool changed = search.poll();
    int index = chosenIndex();
    if (chosen != 0 && index < 0) {
        chosen = 0;
    }
    // Rows that went leave no gap at the end while there are more above, and the chosen game
    // stays in sight as rows above it go.
    size_t count = search.games().size();
    top = std::min(top, count > kRows ? count - kRows : 0);
    if (index >= 0) {
        keepInSight(static_cast<size_t>(index));
    }
    return changed;
}

void GameList::keepInSight(size_t index) {
    if (index < top) {
        top = index;
    } else if (index >= top + kRows) {
        top = index - kRows + 1;
    }
}

int GameList::shownRows() const {
    size_t count = search.games().size();
    return static_cast<int>(std::min<size_t>(count - std::min(top, count), kRows));
}

int GameList::chosenIndex() const {
    const std::vector<Net::FoundGame>& games = search.games();
    for (size_t i = 0; i < games.size(); i++) {
        if (games[i].hosting == chosen) {
            return static_cast<int>(i);
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
        const Net::FoundGame& g = search.games()[top + i];
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
    int count = static_cast<int>(search.games().size());
    if (count == 0) {
        return false;
    }
    int index = chosenIndex();
    index = index < 0
                ? (direction > 0 ? static_cast<int>(top) : static_cast<int>(top) + shownRows() - 1)
                : std::min(std::max(index + direction, 0), count - 1);
    // The list scrolls with the choice: every game can be had by keys.
    keepInSight(static_cast<size_t>(index));
    return choose(index, text);
}

bool GameList::choose(int index, std::string& text) {
    chosen = search.games()[index].hosting;
    text = Net::dotted(search.games()[index].address);
    return true;
}

bool GameList::click(int x, int y, std::string& text) {
    int row = (y - Layout::kListFirstRowY) / Layout::kListRowHeight;
    if (x < Layout::kListX || x >= Layout::kListRight || y < Layout::kListFirstRowY ||
        row >= shownRows()) {
        return false;
    }
    return choose(static_cast<int>(top) + row, text);
}

}  // namespace Games
