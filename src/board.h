// The playing grid: one mark per cell, the placing rule, the winner and its line, drawing into the
// back buffer, and the mapping of pointer pixels to cells. Used by the game thread; eval() also
// runs on a network game's listener thread and touches no picture there.
#pragma once

struct BITMAP;

namespace Games {

class Board {
public:
    // The 16 x 16 evaluation board of eval(): cells allocated but not cleared, no pictures.
    Board();
    // A w x h grid of fw-pixel cells whose frame starts at back-buffer pixel (x, y); all cells 0.
    // Creates the two mark pictures; throws System::Exception when they cannot be created.
    Board(int w, int h, int x, int y, int fw);
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;
    virtual ~Board();

    // 1 or 2 when that player has five (or more) in a line, else 0. Records the line's end cells
    // in wx1, wy1, wx2, wy2 (all -1 when there is no line).
    unsigned char winner();
    // Places pl (1 or 2) in column x, row y; false, and nothing changed, when refused.
    bool move(int x, int y, unsigned char pl);
    // Draws grid, marks and the winning line of the last winner() call into System::_screen.
    void draw();
    // The cell array itself (getSize() bytes, row by row); the board keeps it.
    unsigned char* getData();
    int getSize();
    // Column (row) under back-buffer x (y), or -1 off the grid.
    int atX(int mx);
    int atY(int my);
    // The winner of a 16 x 16 cell array (at least 256 bytes): 0, 1 or 2. Thread-safe: it creates
    // no picture.
    static int eval(unsigned char* data);

private:
    // Lets the unit tests read the recorded line ends and at().
    friend class BoardTest;

    unsigned char at(int x, int y);
    void initPls();
    // Whether the five cells from (i, j) in steps of (di, dj) all hold p.
    bool isLine(int i, int j, int di, int dj, unsigned char p);
    // Records the line's end cells and returns its player.
    unsigned char foundLine(int i1, int j1, int i2, int j2, unsigned char p);

    int w;
    int h;
    int x;
    int y;
    int fw;
    int wx1;
    int wx2;
    int wy1;
    int wy2;
    BITMAP* pl1;
    BITMAP* pl2;
    unsigned char* data;
};

}  // namespace Games
