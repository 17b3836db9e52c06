// The playing grid: cells, the placing rule, the winner scan, drawing and pixel-to-cell mapping.
#include "board.h"

#include <allegro.h>

#include <algorithm>
#include <cstring>

#include "back_buffer.h"
#include "system.h"

namespace Games {

namespace {
constexpr int kLine = 5;
// What at() reports off the grid: never a player, so an off-grid cell never joins a line.
constexpr unsigned char kOffGrid = 3;

bool isPlayer(unsigned char p) {
    return p == 1 || p == 2;
}

// The cell index under pixel offset d from the grid's edge, or -1 outside n cells of size fw.
int cellAt(int d, int fw, int n) {
    if (d < 0) {
        return -1;
    }
    int c = d / fw;
    return c < n ? c : -1;
}
}  // namespace

Board::Board()
    : w(Layout::kCells),
      h(Layout::kCells),
      x(Layout::kBoardX),
      y(Layout::kBoardY),
      fw(Layout::kCellSize),
      wx1(-1),
      wx2(-1),
      wy1(-1),
      wy2(-1),
      pl1(nullptr),
      pl2(nullptr),
      data(new unsigned char[Layout::kCells * Layout::kCells]) {
    // eval() overwrites every cell and draws nothing: no clearing, and no pictures, so that the
    // listener thread never creates a bitmap.
}

Board::Board(int w, int h, int x, int y, int fw)
    : w(w),
      h(h),
      x(x),
      y(y),
      fw(fw),
      wx1(-1),
      wx2(-1),
      wy1(-1),
      wy2(-1),
      pl1(nullptr),
      pl2(nullptr),
      data(new unsigned char[w * h]()) {
    try {
        initPls();
    } catch (...) {
        // The destructor does not run for a constructor that throws.
        delete[] data;
        throw;
    }
}

Board::~Board() {
    delete[] data;
    if (pl1 != nullptr) {
        destroy_bitmap(pl1);
    }
    if (pl2 != nullptr) {
        destroy_bitmap(pl2);
    }
}

void Board::initPls() {
    pl1 = create_bitmap(fw, fw);
    pl2 = create_bitmap(fw, fw);
    if (pl1 == nullptr || pl2 == nullptr) {
        if (pl1 != nullptr) {
            destroy_bitmap(pl1);
        }
        if (pl2 != nullptr) {
            destroy_bitmap(pl2);
        }
        pl1 = pl2 = nullptr;
        throw System::Exception("Cannot create mark pictures");
    }
    // The mask colour is left out by masked_blit: only the strokes cover the grid.
    clear_to_color(pl1, makecol(255, 0, 255));
    clear_to_color(pl2, makecol(255, 0, 255));
    int white = System::colour(Layout::kWhite);
    circle(pl1, fw / 2, fw / 2, fw / 2 - 2, white);
    line(pl2, 2, 2, fw - 2, fw - 2, white);
    line(pl2, fw - 2, 2, 2, fw - 2, white);
}

unsigned char Board::at(int x, int y) {
    if (x < 0 || x >= w || y < 0 || y >= h) {
        return kOffGrid;
    }
    return data[x + y * w];
}

bool Board::isLine(int i, int j, int di, int dj, unsigned char p) {
    for (int k = 0; k < kLine; k++) {
        if (at(i + k * di, j + k * dj) != p) {
            return false;
        }
    }
    return true;
}

unsigned char Board::foundLine(int i1, int j1, int i2, int j2, unsigned char p) {
    wx1 = i1;
    wy1 = j1;
    wx2 = i2;
    wy2 = j2;
    return p;
}

unsigned char Board::winner() {
    wx1 = wx2 = wy1 = wy2 = -1;
    // Every 5 x 5 window: its top row, left column and both diagonals. This finds every diagonal
    // line and every straight line that is some window's top row or left column.
    for (int i = 0; i <= w - kLine; i++) {
        for (int j = 0; j <= h - kLine; j++) {
            unsigned char p = at(i, j);
            if (isPlayer(p)) {
                if (isLine(i, j, 1, 0, p)) {
                    return foundLine(i, j, i + 4, j, p);
                }
                if (isLine(i, j, 0, 1, p)) {
                    return foundLine(i, j, i, j + 4, p);
                }
                if (isLine(i, j, 1, 1, p)) {
                    return foundLine(i, j, i + 4, j + 4, p);
                }
            }
            unsigned char q = at(i + 4, j);
            if (isPlayer(q) && isLine(i + 4, j, -1, 1, q)) {
                return foundLine(i + 4, j, i, j + 4, q);
            }
        }
    }
    // The windows leave out the rows below the last window's top row and the columns right of
    // the last window's left column (all rows and columns on a grid narrower than five).
    for (int i = 0; i <= w - kLine; i++) {
        for (int j = std::max(0, h - kLine + 1); j < h; j++) {
            unsigned char p = at(i, j);
            if (isPlayer(p) && isLine(i, j, 1, 0, p)) {
                return foundLine(i, j, i + 4, j, p);
            }
        }
    }
    for (int i = std::max(0, w - kLine + 1); i < w; i++) {
        for (int j = 0; j <= h - kLine; j++) {
            unsigned char p = at(i, j);
            if (isPlayer(p) && isLine(i, j, 0, 1, p)) {
                return foundLine(i, j, i, j + 4, p);
            }
        }
    }
    return 0;
}

bool Board::move(int x, int y, unsigned char pl) {
    if (x < 0 || x > w - 1 || y < 0 || y > h - 1) {
        return false;
    }
    if (pl == 0 || pl > 2) {
        return false;
    }
    if (data[x + y * w] != 0) {
        return false;
    }
    data[x + y * w] = pl;
    return true;
}

void Board::draw() {
    BITMAP* dest = System::_screen;
    int white = System::colour(Layout::kWhite);
    rect(dest, x, y, x + w * fw, y + h * fw, white);
    for (int i = 1; i < w; i++) {
        vline(dest, x + i * fw, y, y + h * fw, white);
    }
    for (int j = 1; j < h; j++) {
        hline(dest, x, y + j * fw, x + w * fw, white);
    }
    for (int i = 0; i < w; i++) {
        for (int j = 0; j < h; j++) {
            unsigned char c = data[i + j * w];
            if (c == 1) {
                masked_blit(pl1, dest, 0, 0, x + i * fw, y + j * fw, fw, fw);
            } else if (c == 2) {
                masked_blit(pl2, dest, 0, 0, x + i * fw, y + j * fw, fw, fw);
            }
        }
    }
    if (wx1 >= 0 && wx2 >= 0 && wy1 >= 0 && wy2 >= 0) {
        line(dest, x + wx1 * fw + fw / 2, y + wy1 * fw + fw / 2, x + wx2 * fw + fw / 2,
             y + wy2 * fw + fw / 2, System::colour(Layout::kRed));
    }
}

unsigned char* Board::getData() {
    return data;
}

int Board::getSize() {
    return w * h;
}

int Board::atX(int mx) {
    return cellAt(mx - x, fw, w);
}

int Board::atY(int my) {
    return cellAt(my - y, fw, h);
}

int Board::eval(unsigned char* data) {
    Board board;
    memcpy(board.data, data, board.getSize());
    return board.winner();
}

}  // namespace Games
