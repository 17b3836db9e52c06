// The turn loop shared by every game, the hot-seat game, and the mouse handling of one turn that
// the network games share. Main thread only.
#pragma once

#include "board.h"
#include "input.h"
#include "layout.h"

namespace Games {

class TurnInput;

// A two-player game on a 16 x 16 board. Subclasses say who the players are; run() alternates
// them, player one first, and shows the end screen. Main thread only.
class Game {
public:
    Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;
    // Plays the game to its end and waits for a key on the end screen. Returns the winner (1 or
    // 2) whenever the board holds five in a line, on both sides of a network game: the end screen
    // then names the winner and draws the line. Otherwise -1 when the game was not set up or was
    // interrupted (a network game ended by Escape on either side or by the peer's leaving), 0
    // when a hot-seat player ended it with Escape. Lets System::QuitRequest through, after
    // abandon() when it came during a turn.
    virtual int run();

protected:
    // Destroyed only as the subclass it is; never through a Game pointer.
    ~Game();

    // One turn of player one (two): true once the mark is on the board, false to end the game.
    virtual bool playerOne() = 0;
    virtual bool playerTwo() = 0;
    // Told once, at the very end of run(), that the game is over.
    virtual void interrupt();
    virtual bool isInterrupted() = 0;
    // Told when the program is asked to end in the middle of a turn (run() then lets the
    // System::QuitRequest go on). Does nothing here.
    virtual void abandon();

    // Whether Escape is down or was pressed during the turn of input; the turns end the game with
    // it. Once seen, the game counts as ended by its player here.
    bool escapeDown(TurnInput& input);

    bool running;
    Board* board;

private:
    bool escaped;
};

// The keyboard and the mouse over one turn, made as the turn opens: presses from before do not
// count. A press counts only once the button has been up during the turn, so that a button still
// held from the previous turn cannot place this turn's mark; a press and release between two
// passes counts once, where it was made.
class TurnInput {
public:
    // Goes on to the next turn at this machine: presses made since the last one was taken count
    // there, in order (two quick clicks are two players' marks), a button held on does not.
    void nextTurn() { released = false; }
    // Whether Escape is down or has been pressed during the turn (once for each press).
    bool escape() { return esc.pressed(); }
    // True, with the cell under the pointer, when a press of this turn is over the grid.
    bool cell(Board* board, int& x, int& y);

private:
    System::EscapeKey esc;
    System::MousePresses presses;
    bool released = false;
};

// Both players at this machine, taking turns with the mouse.
class LocalGame : public Game {
public:
    LocalGame();

protected:
    bool playerOne() override;
    bool playerTwo() override;
    bool isInterrupted() override;
    // One turn of player pl: true once a mark is placed, false on Escape.
    bool playerMove(unsigned char pl);

private:
    // Both players' turns read the same presses: one made during the other's turn is theirs.
    TurnInput input;
};

// Writes a status text into the back buffer, right pixels left of the screen's right edge.
void drawStatus(const char* text, int y, Layout::Rgb colour, int right = Layout::kStatusRight);

}  // namespace Games
