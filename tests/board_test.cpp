// The board's rules (placing, the winner and its line ends, pixel-to-cell mapping) and its
// drawing, read back from a memory back buffer.
#include <allegro.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <vector>

#include "allegro_fixture.h"
#include "back_buffer.h"
#include "board.h"
#include "layout.h"
#include "system.h"
#include "test_platform.h"

namespace Games {

// Reads what the board keeps private: the recorded line ends, at() and the pictures.
class BoardTest {
public:
    struct Ends {
        int x1, y1, x2, y2;
        bool operator==(const Ends& o) const {
            return x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2;
        }
        friend std::ostream& operator<<(std::ostream& os, const Ends& e) {
            return os << "(" << e.x1 << "," << e.y1 << ")-(" << e.x2 << "," << e.y2 << ")";
        }
    };
    static Ends ends(const Board& b) { return {b.wx1, b.wy1, b.wx2, b.wy2}; }
    static unsigned char at(Board& b, int x, int y) { return b.at(x, y); }
    static bool hasPictures(const Board& b) { return b.pl1 != nullptr && b.pl2 != nullptr; }
};

}  // namespace Games

namespace {

using Games::Board;
using Games::BoardTest;
using Ends = BoardTest::Ends;
using Testing::Rgb;

constexpr int kSide = 16;
constexpr int kOrigin = 50;
constexpr int kCell = 16;
constexpr Ends kNoLine{-1, -1, -1, -1};
const Rgb kBlack{0, 0, 0};
const Rgb kWhite{255, 255, 255};
const Rgb kRed{255, 0, 0};
const Rgb kMask{255, 0, 255};

// The four directions of a line and where winner() puts its first end: straight lines and the
// falling diagonal start at their top-left cell, the rising diagonal at its top-right cell.
struct Direction {
    const char* name;
    int dx, dy;
};
const Direction kDirections[] = {
    {"row", 1, 0}, {"column", 0, 1}, {"falling diagonal", 1, 1}, {"rising diagonal", -1, 1}};

// Puts n marks of pl from (x, y) in steps of (dx, dy).
void place(Board& b, int x, int y, int dx, int dy, int n, unsigned char pl) {
    for (int k = 0; k < n; k++) {
        ASSERT_TRUE(b.move(x + k * dx, y + k * dy, pl))
            << "cell " << x + k * dx << "," << y + k * dy;
    }
}

// What winner() finds (0: nobody), with the line ends it records.
using Outcome = std::pair<int, Ends>;
Outcome outcome(Board& b) {
    int pl = b.winner();
    return {pl, BoardTest::ends(b)};
}

std::vector<unsigned char> cells(Board& b) {
    return std::vector<unsigned char>(b.getData(), b.getData() + b.getSize());
}

// Starts the library before the fixture's board member makes its pictures.
struct WithAllegro {
    WithAllegro() { Testing::startAllegroWithoutDisplay(); }
};

class BoardRules : public ::testing::Test, WithAllegro {
protected:
    Board board{kSide, kSide, kOrigin, kOrigin, kCell};
};

TEST_F(BoardRules, NewGameBoardIsEmptyWithoutWinner) {
    ASSERT_EQ(board.getSize(), 256);
    EXPECT_EQ(cells(board), std::vector<unsigned char>(256, 0));
    EXPECT_EQ(outcome(board), (Outcome{0, kNoLine}));
    EXPECT_TRUE(BoardTest::hasPictures(board));
}

TEST_F(BoardRules, MovePlacesOnceAndRefusesTheRestWithoutChange) {
    EXPECT_TRUE(board.move(3, 4, 1));
    EXPECT_EQ(board.getData()[3 + 4 * kSide], 1);
    EXPECT_TRUE(board.move(15, 15, 2));
    EXPECT_EQ(board.getData()[255], 2);
    std::vector<unsigned char> before = cells(board);

    EXPECT_FALSE(board.move(3, 4, 1)) << "own mark";
    EXPECT_FALSE(board.move(3, 4, 2)) << "other player's mark";
    EXPECT_FALSE(board.move(0, 0, 0));
    EXPECT_FALSE(board.move(0, 0, 3));
    EXPECT_FALSE(board.move(0, 0, 255));
    EXPECT_FALSE(board.move(-1, 0, 1));
    EXPECT_FALSE(board.move(16, 0, 1));
    EXPECT_FALSE(board.move(0, -1, 1));
    EXPECT_FALSE(board.move(0, 16, 1));
    EXPECT_FALSE(board.move(16, 16, 2));
    EXPECT_EQ(cells(board), before);
}

TEST_F(BoardRules, AtReadsCellsAndThreeOffTheGrid) {
    board.move(15, 0, 2);
    board.move(0, 15, 1);
    EXPECT_EQ(BoardTest::at(board, 15, 0), 2);
    EXPECT_EQ(BoardTest::at(board, 0, 15), 1);
    EXPECT_EQ(BoardTest::at(board, 1, 1), 0);
    for (auto [x, y] : {std::pair{-1, 0}, {0, 16}, {16, 16}, {0, -1}, {16, 0}, {-1, -1}}) {
        EXPECT_EQ(BoardTest::at(board, x, y), 3) << x << "," << y;
    }
}

TEST_F(BoardRules, PixelsMapToCellsUpToTheFarEdge) {
    const std::pair<int, int> cases[] = {{49, -1},  {50, 0},   {65, 0},    {66, 1},
                                         {305, 15}, {306, -1}, {-100, -1}, {10000, -1}};
    for (auto [pixel, cell] : cases) {
        EXPECT_EQ(board.atX(pixel), cell) << "x " << pixel;
        EXPECT_EQ(board.atY(pixel), cell) << "y " << pixel;
    }
    // Columns and rows, x and y, kept apart on a board that is neither square nor at the origin.
    Board odd(3, 2, 10, 20, 7);
    EXPECT_EQ(odd.atX(9), -1);
    EXPECT_EQ(odd.atX(10), 0);
    EXPECT_EQ(odd.atX(30), 2);
    EXPECT_EQ(odd.atX(31), -1);
    EXPECT_EQ(odd.atY(19), -1);
    EXPECT_EQ(odd.atY(20), 0);
    EXPECT_EQ(odd.atY(33), 1);
    EXPECT_EQ(odd.atY(34), -1);
}

// Every line of five that fits on the grid, in every direction, for both players: found, with
// its ends where the scan records them. This covers every edge, and the last four rows and
// columns that no 5 x 5 window has as its top row or left column.
TEST_F(BoardRules, EveryLineOfFiveAnywhereWinsWithItsEnds) {
    for (const Direction& d : kDirections) {
        for (unsigned char pl = 1; pl <= 2; pl++) {
            for (int y = 0; y < kSide; y++) {
                for (int x = 0; x < kSide; x++) {
                    int lastX = x + 4 * d.dx;
                    int lastY = y + 4 * d.dy;
                    if (lastX < 0 || lastX >= kSide || lastY >= kSide) {
                        continue;
                    }
                    Board b(kSide, kSide, kOrigin, kOrigin, kCell);
                    place(b, x, y, d.dx, d.dy, 5, pl);
                    SCOPED_TRACE(::testing::Message()
                                 << d.name << " from " << x << "," << y << " player " << int(pl));
                    ASSERT_EQ(b.winner(), pl);
                    EXPECT_EQ(BoardTest::ends(b), (Ends{x, y, lastX, lastY}));
                    EXPECT_EQ(Board::eval(b.getData()), pl);
                }
            }
        }
    }
}

TEST_F(BoardRules, LinesOfSixCountWithTheFirstFiveTheScanMeets) {
    struct Case {
        int x, y, dx, dy;
        Ends ends;
    };
    const Case cases[] = {
        {0, 0, 1, 0, {0, 0, 4, 0}},
        {10, 15, 1, 0, {10, 15, 14, 15}},
        {15, 10, 0, 1, {15, 10, 15, 14}},
        {0, 10, 0, 1, {0, 10, 0, 14}},
        {3, 2, 1, 1, {3, 2, 7, 6}},
        // Windows go column by column from the left: the rising diagonal's lower five, in the
        // window at column 10, come before its upper five, in the window at column 11.
        {15, 0, -1, 1, {14, 1, 10, 5}},
    };
    for (const Case& c : cases) {
        Board b(kSide, kSide, kOrigin, kOrigin, kCell);
        place(b, c.x, c.y, c.dx, c.dy, 6, 2);
        SCOPED_TRACE(::testing::Message() << "six from " << c.x << "," << c.y);
        ASSERT_EQ(b.winner(), 2);
        EXPECT_EQ(BoardTest::ends(b), c.ends);
    }
}

TEST_F(BoardRules, FirstLineInScanOrderWins) {
    // Windows go column by column: the column at x = 0 comes before the row starting at x = 5.
    place(board, 5, 0, 1, 0, 5, 1);
    place(board, 0, 1, 0, 1, 5, 2);
    EXPECT_EQ(outcome(board), (Outcome{2, {0, 1, 0, 5}}));

    // A line some window finds comes before one in the last four rows, wherever it lies.
    Board b(kSide, kSide, kOrigin, kOrigin, kCell);
    place(b, 0, 15, 1, 0, 5, 1);
    place(b, 11, 11, 1, 0, 5, 2);
    EXPECT_EQ(outcome(b), (Outcome{2, {11, 11, 15, 11}}));

    // Among the late lines, the rows of the last four come before the columns of the last four.
    Board late(kSide, kSide, kOrigin, kOrigin, kCell);
    place(late, 15, 0, 0, 1, 5, 1);
    place(late, 11, 14, 1, 0, 5, 2);
    EXPECT_EQ(outcome(late), (Outcome{2, {11, 14, 15, 14}}));
    // The same cells give the same answer every time.
    EXPECT_EQ(outcome(late), (Outcome{2, {11, 14, 15, 14}}));
}

TEST_F(BoardRules, NoLineGivesNoWinner) {
    // Four in a row, in every direction, and at the grid's last row and column.
    place(board, 0, 0, 1, 0, 4, 1);
    place(board, 6, 0, 0, 1, 4, 1);
    place(board, 8, 8, 1, 1, 4, 2);
    place(board, 15, 4, -1, 1, 4, 2);
    place(board, 12, 15, 1, 0, 4, 1);
    place(board, 15, 11, 0, 1, 4, 2);
    EXPECT_EQ(outcome(board), (Outcome{0, kNoLine}));

    // A mixed line: four of player one and one of player two.
    Board mixed(kSide, kSide, kOrigin, kOrigin, kCell);
    place(mixed, 2, 13, 1, 0, 4, 1);
    mixed.move(6, 13, 2);
    EXPECT_EQ(mixed.winner(), 0);

    // Five consecutive bytes that wrap from one row's end to the next row's start.
    Board wrap(kSide, kSide, kOrigin, kOrigin, kCell);
    place(wrap, 13, 14, 1, 0, 3, 1);
    place(wrap, 0, 15, 1, 0, 2, 1);
    EXPECT_EQ(wrap.winner(), 0);
}

TEST_F(BoardRules, WinnerForgetsAnEarlierLine) {
    place(board, 2, 15, 1, 0, 5, 1);
    ASSERT_EQ(board.winner(), 1);
    memset(board.getData(), 0, board.getSize());
    EXPECT_EQ(outcome(board), (Outcome{0, kNoLine}));
}

TEST_F(BoardRules, BoardsNarrowerThanFiveFindOnlyWhatFits) {
    // Full of one player's marks: four in every row, column and diagonal.
    Board tiny(4, 4, 0, 0, 8);
    memset(tiny.getData(), 1, tiny.getSize());
    EXPECT_EQ(outcome(tiny), (Outcome{0, kNoLine}));

    Board wide(5, 3, 0, 0, 8);
    place(wide, 0, 2, 1, 0, 5, 2);
    EXPECT_EQ(outcome(wide), (Outcome{2, {0, 2, 4, 2}}));

    Board tall(3, 5, 0, 0, 8);
    place(tall, 2, 0, 0, 1, 5, 1);
    EXPECT_EQ(outcome(tall), (Outcome{1, {2, 0, 2, 4}}));

    Board one(1, 1, 0, 0, 8);
    EXPECT_TRUE(one.move(0, 0, 1));
    EXPECT_EQ(one.winner(), 0);
}

TEST(BoardEval, OnlyPlayersFormLines) {
    // Bytes from the network may hold anything; only 1 and 2 are marks.
    for (unsigned char junk : {3, 7, 255}) {
        std::vector<unsigned char> cells(256, 0);
        for (int k = 0; k < 5; k++) {
            cells[k * 17] = junk;
            cells[240 + k] = junk;
        }
        EXPECT_EQ(Board::eval(cells.data()), 0) << int(junk);
    }
}

TEST(BoardEval, EvaluationBoardCreatesNoPictures) {
    // No graphics library started in this process (each test runs on its own): creating a
    // picture here would crash.
    Board b;
    EXPECT_FALSE(BoardTest::hasPictures(b));
    EXPECT_EQ(b.getSize(), 256);
    EXPECT_EQ(b.atX(Layout::kBoardX + Layout::kCells * Layout::kCellSize - 1), 15);
}

// ---- Drawing ----

class BoardDrawing : public BoardRules {
protected:
    void SetUp() override { Testing::freshBackBuffer(); }
    Rgb at(int x, int y) { return Testing::pixel(System::_screen, x, y); }

    // Whether (px, py) lies on the grid of a w x h board of fw-pixel cells at (x, y).
    static bool onGrid(int px, int py, int w, int h, int x, int y, int fw) {
        bool inX = px >= x && px <= x + w * fw;
        bool inY = py >= y && py <= y + h * fw;
        bool onVertical = (px - x) % fw == 0 && inX;
        bool onHorizontal = (py - y) % fw == 0 && inY;
        return (onVertical && inY) || (onHorizontal && inX);
    }

    // Compares the whole back buffer with a white grid on black.
    void expectOnlyGrid(int w, int h, int x, int y, int fw) {
        int wrong =
            Testing::countPixels(System::_screen, [&, shown = 0](int px, int py, Rgb c) mutable {
                bool bad = c != (onGrid(px, py, w, h, x, y, fw) ? kWhite : kBlack);
                if (bad && shown++ < 5) {
                    ADD_FAILURE() << "pixel " << px << "," << py;
                }
                return bad;
            });
        EXPECT_EQ(wrong, 0);
    }
};

TEST_F(BoardDrawing, EmptyBoardShowsOnlyTheWhiteGrid) {
    board.draw();
    expectOnlyGrid(kSide, kSide, kOrigin, kOrigin, kCell);
}

TEST_F(BoardDrawing, GridFollowsTheBoardsGeometry) {
    Board odd(3, 2, 10, 20, 7);
    odd.draw();
    expectOnlyGrid(3, 2, 10, 20, 7);
}

TEST_F(BoardDrawing, MarksAreMaskedOverTheGrid) {
    board.move(0, 0, 1);
    board.move(3, 2, 2);
    board.draw();
    // Circle of radius 6 around the cell's centre (58, 58).
    EXPECT_EQ(at(64, 58), kWhite);
    EXPECT_EQ(at(52, 58), kWhite);
    EXPECT_EQ(at(58, 52), kWhite);
    EXPECT_EQ(at(58, 64), kWhite);
    EXPECT_EQ(at(58, 58), kBlack);
    // Cross in the cell whose corner is (98, 82): both strokes and where they meet.
    for (auto [dx, dy] : {std::pair{2, 2}, {14, 14}, {14, 2}, {2, 14}, {8, 8}}) {
        EXPECT_EQ(at(98 + dx, 82 + dy), kWhite) << dx << "," << dy;
    }
    EXPECT_EQ(at(98 + 8, 82 + 3), kBlack);
    // The mask colour is never drawn, so the grid lines under the pictures still show.
    for (int k = 0; k <= 16; k++) {
        EXPECT_EQ(at(50 + k, 50), kWhite);
        EXPECT_EQ(at(50, 50 + k), kWhite);
        EXPECT_EQ(at(98 + k, 82), kWhite);
        EXPECT_EQ(at(98, 82 + k), kWhite);
    }
    EXPECT_EQ(Testing::countPixels(System::_screen, [](int, int, Rgb c) { return c == kMask; }), 0);
}

TEST_F(BoardDrawing, WinningRowGetsARedLineBetweenItsEndCentres) {
    place(board, 0, 0, 1, 0, 5, 1);
    board.draw();
    for (int px = 0; px < 800; px++) {
        EXPECT_NE(at(px, 58), kRed) << "no winner() call yet, x " << px;
    }

    ASSERT_EQ(board.winner(), 1);
    board.draw();
    for (int px = 58; px <= 122; px++) {
        EXPECT_EQ(at(px, 58), kRed) << px;
    }
    EXPECT_NE(at(57, 58), kRed);
    EXPECT_NE(at(123, 58), kRed);
    EXPECT_NE(at(90, 57), kRed);
    EXPECT_NE(at(90, 59), kRed);
}

TEST_F(BoardDrawing, DiagonalLineRunsBetweenCellCentres) {
    place(board, 15, 11, -1, 1, 5, 2);
    ASSERT_EQ(board.winner(), 2);
    board.draw();
    // From the centre of (15, 11) to the centre of (11, 15).
    for (int k = 0; k <= 64; k++) {
        EXPECT_EQ(at(298 - k, 234 + k), kRed) << k;
    }
}

// ---- Pictures that cannot be made ----

constexpr int kThrewAsExpected = 0;
constexpr int kNoCap = 2;

// 1024 x 1024 x 4 bytes per picture; `room` decides how many of the two fit.
[[noreturn]] void constructWithRoomFor(long room) {
    if (!Testing::limitAddressSpace(room)) {
        std::_Exit(kNoCap);
    }
    try {
        Board b(2, 2, 0, 0, 1024);
    } catch (System::Exception e) {
        std::_Exit(e.message() == "Cannot create mark pictures" ? kThrewAsExpected : 3);
    }
    std::_Exit(4);
}

TEST(BoardPictures, MissingPicturesThrowInsteadOfBeingUsed) {
    if (!Testing::canLimitAddressSpace()) {
        GTEST_SKIP() << "allocations cannot be made to fail here";
    }
    Testing::startAllegroWithoutDisplay();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Neither picture fits; then only the first one does.
    EXPECT_EXIT(constructWithRoomFor(1 << 20), ::testing::ExitedWithCode(kThrewAsExpected), "");
    EXPECT_EXIT(constructWithRoomFor(6 << 20), ::testing::ExitedWithCode(kThrewAsExpected), "");
}

}  // namespace
