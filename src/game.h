// The games: the turn loop shared by every game, the hot-seat game, and the network games with the
// state their two threads share, the peer messages and the listener thread.
#pragma once

#include "board.h"

namespace Games {

// A two-player game on a 16 x 16 board. Subclasses say who the players are; run() alternates
// them, player one first, and shows the end screen. Main thread only.
class Game {
public:
    Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;
    // Plays the game to its end and waits for a key on the end screen. Returns -1 when the game
    // was not set up or was interrupted, 0 when a player ended it without a winner, else the
    // winner.
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

    bool running;
    Board* board;
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
};

}  // namespace Games
