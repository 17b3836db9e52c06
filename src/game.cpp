// The turn loop and the hot-seat game.
#include "game.h"

#include <allegro.h>

#include "back_buffer.h"
#include "frame.h"
#include "input.h"
#include "quit_request.h"
#include "text_entry.h"

namespace Games {

namespace {
constexpr int kAnyButton = 7;
}  // namespace

void drawStatus(const char* text, int y, Layout::Rgb colour, int right) {
    textout_ex(System::_screen, font, text, Layout::kScreenW - right, y, System::colour(colour),
               -1);
}

bool TurnInput::cell(Board* board, int& x, int& y) {
    int px, py;
    // A press made during the turn (the button has been up since the turn opened) counts where
    // it was made, although the pointer may have moved on since.
    bool pressed = presses.take(kAnyButton, px, py);
    released = released || pressed || mouse_b == 0;
    // Held on: where the pointer is now, as it moves on with the button down.
    if (!pressed && !(released && System::heldAt(kAnyButton, px, py))) {
        return false;
    }
    x = board->atX(px);
    y = board->atY(py);
    return x >= 0 && y >= 0;
}

Game::Game()
    : running(false),
      board(new Board(Layout::kCells, Layout::kCells, Layout::kBoardX, Layout::kBoardY,
                      Layout::kCellSize)),
      escaped(false) {}

Game::~Game() {
    delete board;
}

void Game::interrupt() {}

void Game::abandon() {}

bool Game::escapeDown(TurnInput& input) {
    bool down = input.escape();
    escaped = escaped || down;
    return down;
}

int Game::run() {
    if (!running) {
        interrupt();
        return -1;
    }
    unsigned char won = 0;
    try {
        for (unsigned char pl = 1;; pl = 3 - pl) {
            if ((won = board->winner()) != 0 || !(pl == 1 ? playerOne() : playerTwo())) {
                break;
            }
            if (isInterrupted()) {
                // A turn that ended with the game: the board it brought may hold the end, as
                // the peer's winning board does (its listener ends this side's game on it). A
                // board without a line leaves the game interrupted.
                won = board->winner();
                break;
            }
        }
    } catch (System::QuitRequest&) {
        abandon();
        throw;
    }
    // Read before the end screen: interrupt() at the end raises the flag of every game.
    int result = won != 0 ? won : isInterrupted() ? -1 : 0;

    board->draw();
    drawStatus("End of game", Layout::kStatusY, Layout::kEndPink);
    const char* text = won == 1   ? "Player one wins"
                       : won == 2 ? "Player two wins"
                                  : "Game interrupted";
    drawStatus(text, Layout::kResultY, Layout::kStatusGrey);
    drawStatus("Press any key...", Layout::kPressKeyY, Layout::kPressKeyOrange);
    // Keys typed before or during the game would take the result away unseen: only a key typed
    // once it is shown counts. The Escape that ended the game here ends this screen at once, as
    // the player asked to leave the game.
    System::TypedKeys keys;
    System::present();
    if (!escaped) {
        System::waitForKey(keys);
    }

    interrupt();
    return result;
}

LocalGame::LocalGame() {
    running = true;
}

bool LocalGame::playerOne() {
    return playerMove(1);
}

bool LocalGame::playerTwo() {
    return playerMove(2);
}

bool LocalGame::isInterrupted() {
    return false;
}

bool LocalGame::playerMove(unsigned char pl) {
    input.nextTurn();
    for (;;) {
        board->draw();
        drawStatus(pl == 1 ? "Player one turns" : "Player two turns", Layout::kStatusY,
                   Layout::kStatusGrey);
        System::flip();
        if (escapeDown(input)) {
            return false;
        }
        int x, y;
        if (input.cell(board, x, y) && board->move(x, y, pl)) {
            return true;
        }
    }
}

}  // namespace Games
