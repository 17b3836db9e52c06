// Where the game draws what, and in which colours: the window, the board, the status column, the
// menus' buttons and the prompts. The window tests read this file too
// (tests/window/harness/geometry.py), so every value stays a plain "constexpr int kName = N;" or
// "constexpr Rgb kName{R, G, B};" line.
#pragma once

namespace Layout {

// The window.
constexpr int kScreenW = 800;
constexpr int kScreenH = 600;

// The board: kCells x kCells cells of kCellSize pixels, its frame's top-left corner at
// (kBoardX, kBoardY).
constexpr int kCells = 16;
constexpr int kBoardX = 50;
constexpr int kBoardY = 50;
constexpr int kCellSize = 16;

// Status texts stand in a column kStatusRight pixels left of the screen's right edge; the
// remote turn's longer text starts kWaitingRight pixels left of it. The turn and "End of game"
// stand at kStatusY, the result under it, the key prompt under that.
constexpr int kStatusRight = 200;
constexpr int kWaitingRight = 300;
constexpr int kStatusY = 200;
constexpr int kResultY = 220;
constexpr int kPressKeyY = 240;

// The menus' buttons: their top-left corners, all in one row.
constexpr int kMenuY = 500;
constexpr int kLocalX = 120;
constexpr int kNetX = 368;
constexpr int kExitX = 616;
constexpr int kSlaveX = 200;
constexpr int kMasterX = 636;

// A prompt and its field fill the screen's width but kPromptMargin pixels, centred; its text
// line starts kPromptHalfHeight above the middle. A notice's line starts kNoticeHalfHeight above.
constexpr int kPromptMargin = 200;
constexpr int kPromptHalfHeight = 8;
constexpr int kNoticeHalfHeight = 4;

// The master's waiting screen: its addresses on a line under the notice, centred, and under
// them what its router opened to the internet. The slave's waiting screen: what its router opened,
// on the line under the notice.
constexpr int kJoinAtY = 316;
constexpr int kInternetY = 332;
constexpr int kSlavePortY = 316;

// The games found on the network, under the address prompt: a heading at (kListX, kListHeadingY),
// then a row of kListRowHeight pixels for each game, its nick at kListX and its address at
// kListAddressX. A click on a row, from kListX to kListRight, takes it.
constexpr int kListX = 100;
constexpr int kListAddressX = 260;
constexpr int kListRight = 500;
constexpr int kListHeadingY = 332;
constexpr int kListFirstRowY = 352;
constexpr int kListRowHeight = 16;
constexpr int kListRows = 8;

struct Rgb {
    int r, g, b;
};

// The grid, the marks and typed text.
constexpr Rgb kWhite{255, 255, 255};
// The winning line.
constexpr Rgb kRed{255, 0, 0};
// The turns of the hot-seat game and the local turn, the result.
constexpr Rgb kStatusGrey{127, 127, 127};
constexpr Rgb kRemoteGreen{127, 192, 127};
constexpr Rgb kEndPink{192, 127, 127};
constexpr Rgb kPressKeyOrange{192, 127, 63};
// Prompts and notices.
constexpr Rgb kPromptOrange{255, 127, 0};
// The addresses the master is joined at, what the routers opened, and the games found but the
// one chosen (white).
constexpr Rgb kListGrey{127, 127, 127};

}  // namespace Layout
