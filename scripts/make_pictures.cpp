// Draws the game's pictures (menu background, menu buttons, mouse pointer) and saves them as TGA
// files into the folder given as the argument (default data/); with "--icon SIZE FILE" it draws
// instead the program's icon for desktops, SIZE pixels square, as a PNG file, and with
// "--ico FILE" the same icon in the sizes Windows shows, as one Windows icon file, and with
// "--icon-source FILE" the icon for X11 windows as C++ source, which the build compiles into the
// program (see src/window_icon.h). Runs without a display. Built without libpng (MAKE_PICTURES_PNG
// unset), as the game alone is, it writes everything but the PNG icons and the Windows icon.
//
// Shapes are drawn from signed distances and text from the library's 8 x 8 font, enlarged with
// supersampling and smoothing, so that the pictures have soft edges instead of jagged ones.
#include <allegro.h>
#if MAKE_PICTURES_PNG
#include <png.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../src/layout.h"

namespace {

using Layout::kScreenH;
using Layout::kScreenW;
constexpr int kButtonW = 160;
constexpr int kButtonH = 48;

struct Colour {
    float r, g, b;
};

Colour hex(unsigned v) {
    return {float((v >> 16) & 255), float((v >> 8) & 255), float(v & 255)};
}

Colour mix(Colour a, Colour b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

float clamp01(float v) {
    return std::min(1.0f, std::max(0.0f, v));
}

// Coverage of a pixel whose centre lies d pixels outside a shape's edge (negative inside).
float coverage(float d) {
    return clamp01(0.5f - d);
}

// A grey-level picture: how much of each pixel a shape covers, 0 to 1.
struct Mask {
    Mask(int w, int h) : w(w), h(h), a(size_t(w) * h, 0.0f) {}
    float get(int x, int y) const {
        return x < 0 || y < 0 || x >= w || y >= h ? 0.0f : a[size_t(y) * w + x];
    }
    float& at(int x, int y) { return a[size_t(y) * w + x]; }

    int w, h;
    std::vector<float> a;
};

using Paint = std::function<Colour(int x, int y)>;

Paint solid(Colour c) {
    return [c](int, int) { return c; };
}

// A top-to-bottom gradient over the rows y0 .. y1.
Paint vertical(Colour top, Colour bottom, int y0, int y1) {
    return [=](int, int y) { return mix(top, bottom, clamp01(float(y - y0) / float(y1 - y0))); };
}

void blend(BITMAP* bmp, int x, int y, Colour c, float a) {
    if (a <= 0.0f || x < 0 || y < 0 || x >= bmp->w || y >= bmp->h) {
        return;
    }
    int old = getpixel(bmp, x, y);
    auto channel = [a](int o, float n) { return int(std::lround(o + (n - o) * a)); };
    putpixel(bmp, x, y,
             makecol(channel(getr(old), c.r), channel(getg(old), c.g), channel(getb(old), c.b)));
}

// Lays the mask over bmp with its top-left corner at (ox, oy); paint gets bitmap coordinates.
void paint(BITMAP* bmp, const Mask& m, int ox, int oy, const Paint& colour, float opacity = 1.0f) {
    for (int y = 0; y < m.h; y++) {
        for (int x = 0; x < m.w; x++) {
            float a = m.get(x, y) * opacity;
            if (a > 0.0f) {
                blend(bmp, ox + x, oy + y, colour(ox + x, oy + y), a);
            }
        }
    }
}

// Fills the box (x0, y0) .. (x1, y1) of bmp with whatever the signed distance sdf covers.
void fillShape(BITMAP* bmp, int x0, int y0, int x1, int y1,
               const std::function<float(float, float)>& sdf, const Paint& colour,
               float opacity = 1.0f) {
    for (int y = std::max(0, y0); y <= std::min(bmp->h - 1, y1); y++) {
        for (int x = std::max(0, x0); x <= std::min(bmp->w - 1, x1); x++) {
            float a = coverage(sdf(x + 0.5f, y + 0.5f)) * opacity;
            if (a > 0.0f) {
                blend(bmp, x, y, colour(x, y), a);
            }
        }
    }
}

float segmentDistance(float px, float py, float ax, float ay, float bx, float by) {
    float dx = bx - ax, dy = by - ay;
    float t = clamp01(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy));
    return std::hypot(px - ax - t * dx, py - ay - t * dy);
}

void strokeSegment(BITMAP* bmp, float ax, float ay, float bx, float by, float width, Colour c,
                   float opacity) {
    int m = int(width) + 2;
    fillShape(
        bmp, int(std::min(ax, bx)) - m, int(std::min(ay, by)) - m, int(std::max(ax, bx)) + m,
        int(std::max(ay, by)) + m,
        [=](float x, float y) { return segmentDistance(x, y, ax, ay, bx, by) - width / 2; },
        solid(c), opacity);
}

void strokeCircle(BITMAP* bmp, float cx, float cy, float r, float width, Colour c, float opacity) {
    int m = int(r + width) + 2;
    fillShape(
        bmp, int(cx) - m, int(cy) - m, int(cx) + m, int(cy) + m,
        [=](float x, float y) { return std::fabs(std::hypot(x - cx, y - cy) - r) - width / 2; },
        solid(c), opacity);
}

// The two strokes of a cross inside the square of side `side` centred at (cx, cy).
void strokeCross(BITMAP* bmp, float cx, float cy, float side, float width, Colour c,
                 float opacity) {
    float h = side / 2;
    strokeSegment(bmp, cx - h, cy - h, cx + h, cy + h, width, c, opacity);
    strokeSegment(bmp, cx + h, cy - h, cx - h, cy + h, width, c, opacity);
}

// Signed distance to the rectangle (x0, y0) .. (x1, y1) with corners rounded by r.
std::function<float(float, float)> roundedBox(float x0, float y0, float x1, float y1, float r) {
    return [=](float x, float y) {
        float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
        float qx = std::fabs(x - cx) - ((x1 - x0) / 2 - r);
        float qy = std::fabs(y - cy) - ((y1 - y0) / 2 - r);
        float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
        return outside + std::min(std::max(qx, qy), 0.0f) - r;
    };
}

// Three box blurs of radius r, close to a Gaussian.
Mask blur(const Mask& src, int r) {
    Mask m = src;
    if (r <= 0) {
        return m;
    }
    std::vector<float> line;
    auto pass = [&](int n, int count, const std::function<float&(int, int)>& cell) {
        line.resize(n);
        for (int k = 0; k < count; k++) {
            for (int i = 0; i < n; i++) {
                line[i] = cell(k, i);
            }
            float sum = 0;
            for (int i = -r; i <= r; i++) {
                sum += i >= 0 && i < n ? line[i] : 0.0f;
            }
            for (int i = 0; i < n; i++) {
                cell(k, i) = sum / float(2 * r + 1);
                int in = i + r + 1, out = i - r;
                sum += (in < n ? line[in] : 0.0f) - (out >= 0 ? line[out] : 0.0f);
            }
        }
    };
    for (int round = 0; round < 3; round++) {
        pass(m.w, m.h, [&](int row, int i) -> float& { return m.at(i, row); });
        pass(m.h, m.w, [&](int col, int i) -> float& { return m.at(col, i); });
    }
    return m;
}

// The mask grown by r pixels in every direction (for outlines).
Mask grow(const Mask& src, int r) {
    Mask m(src.w, src.h);
    for (int y = 0; y < m.h; y++) {
        for (int x = 0; x < m.w; x++) {
            float best = 0;
            for (int dy = -r; dy <= r && best < 1.0f; dy++) {
                for (int dx = -r; dx <= r; dx++) {
                    float edge = coverage(std::hypot(float(dx), float(dy)) - r);
                    best = std::max(best, src.get(x + dx, y + dy) * edge);
                }
            }
            m.at(x, y) = best;
        }
    }
    return m;
}

// `text` in the library's 8 x 8 font, set closer than the font's fixed 8-pixel steps: each
// letter takes only the columns it uses plus one blank one. 1 where a letter is, else 0.
Mask layoutText(const std::string& text) {
    constexpr int kSpace = 4;
    int th = text_height(font);
    BITMAP* glyph = create_bitmap(text_length(font, "W"), th);
    std::vector<std::vector<bool>> columns;
    for (char ch : text) {
        char s[2] = {ch, 0};
        clear_to_color(glyph, makecol(0, 0, 0));
        textout_ex(glyph, font, s, 0, 0, makecol(255, 255, 255), -1);
        std::vector<std::vector<bool>> own;
        for (int x = 0; x < glyph->w; x++) {
            std::vector<bool> col(th);
            bool any = false;
            for (int y = 0; y < th; y++) {
                col[y] = getr(getpixel(glyph, x, y)) > 127;
                any = any || col[y];
            }
            if (any || !own.empty()) {
                own.push_back(col);
            }
        }
        while (!own.empty() &&
               std::find(own.back().begin(), own.back().end(), true) == own.back().end()) {
            own.pop_back();
        }
        if (own.empty()) {
            own.assign(kSpace - 1, std::vector<bool>(th));
        }
        columns.insert(columns.end(), own.begin(), own.end());
        columns.emplace_back(th);
    }
    destroy_bitmap(glyph);
    columns.pop_back();

    Mask m(int(columns.size()), th);
    for (int x = 0; x < m.w; x++) {
        for (int y = 0; y < th; y++) {
            m.at(x, y) = columns[x][y] ? 1.0f : 0.0f;
        }
    }
    return m;
}

// The laid-out text with each font pixel `scale` x `scale` pixels large, with a margin of
// `margin` pixels around it. Above scale 1 the blocky letters are enlarged four times more,
// blurred and cut at half height, which rounds their corners, then reduced again for soft edges.
Mask textMask(const std::string& text, int scale, int margin) {
    constexpr int kSuper = 4;
    Mask glyphs = layoutText(text);
    int k = scale > 1 ? kSuper : 1;
    int s = scale * k, pad = margin * k;
    Mask big(glyphs.w * s + 2 * pad, glyphs.h * s + 2 * pad);
    for (int y = 0; y < big.h; y++) {
        for (int x = 0; x < big.w; x++) {
            bool inside = x >= pad && y >= pad;
            big.at(x, y) = inside ? glyphs.get((x - pad) / s, (y - pad) / s) : 0.0f;
        }
    }
    if (k == 1) {
        return big;
    }
    big = blur(big, std::max(1, s / 4));

    Mask m(big.w / k, big.h / k);
    for (int y = 0; y < m.h; y++) {
        for (int x = 0; x < m.w; x++) {
            float sum = 0;
            for (int dy = 0; dy < k; dy++) {
                for (int dx = 0; dx < k; dx++) {
                    sum += big.get(x * k + dx, y * k + dy) >= 0.5f ? 1.0f : 0.0f;
                }
            }
            m.at(x, y) = sum / float(k * k);
        }
    }
    return m;
}

struct TextStyle {
    int scale;
    Colour top, bottom;  // the letters' fill, a gradient from their top to their bottom
    Colour outline;      // drawn when outlineWidth > 0
    int outlineWidth;
    int shadowOffset;  // a soft shadow down and to the right, when > 0
    float shadowOpacity;
};

// Draws `text` centred on the column cx with the top of its letters at y.
void drawText(BITMAP* bmp, const std::string& text, int cx, int y, const TextStyle& st) {
    int margin = st.outlineWidth + st.shadowOffset * 2 + 2;
    Mask letters = textMask(text, st.scale, margin);
    int ox = cx - letters.w / 2, oy = y - margin;
    if (st.shadowOffset > 0) {
        Mask shadow = blur(grow(letters, st.outlineWidth), st.shadowOffset / 2);
        paint(bmp, shadow, ox + st.shadowOffset, oy + st.shadowOffset, solid(hex(0x000000)),
              st.shadowOpacity);
    }
    if (st.outlineWidth > 0) {
        paint(bmp, grow(letters, st.outlineWidth), ox, oy, solid(st.outline));
    }
    paint(bmp, letters, ox, oy, vertical(st.top, st.bottom, y, y + 7 * st.scale));
}

void save(BITMAP* bmp, const std::string& folder, const char* name) {
    // 24-bit files: the library's 32-bit colours carry an alpha of 0, which other programs read
    // as fully transparent.
    BITMAP* rgb = create_bitmap_ex(24, bmp->w, bmp->h);
    blit(bmp, rgb, 0, 0, 0, 0, bmp->w, bmp->h);
    std::string path = folder + "/" + name;
    if (save_tga(path.c_str(), rgb, nullptr) != 0) {
        std::fprintf(stderr, "Cannot write %s\n", path.c_str());
        std::exit(1);
    }
    destroy_bitmap(rgb);
    std::printf("%s\n", path.c_str());
}

// ---- The mouse pointer ----

// B black, W white, anything else see-through; the top-left pixel is the hot spot.
// clang-format off
const char* const kPointer[] = {
    "B...........",
    "BB..........",
    "BWB.........",
    "BWWB........",
    "BWWWB.......",
    "BWWWWB......",
    "BWWWWWB.....",
    "BWWWWWWB....",
    "BWWWWWWWB...",
    "BWWWWWWWWB..",
    "BWWWWWWWWWB.",
    "BWWWWWWBBBBB",
    "BWWWBWWB....",
    "BWWBBWWB....",
    "BWB..BWWB...",
    "BB...BWWB...",
    "B.....BWWB..",
    "......BWWB..",
    ".......BB...",
};
// clang-format on

BITMAP* makePointer() {
    int h = sizeof kPointer / sizeof kPointer[0], w = int(std::string(kPointer[0]).size());
    BITMAP* bmp = create_bitmap(w, h);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            char c = kPointer[y][x];
            putpixel(bmp, x, y,
                     c == 'B'   ? makecol(0, 0, 0)
                     : c == 'W' ? makecol(255, 255, 255)
                                : makecol(255, 0, 255));
        }
    }
    return bmp;
}

// ---- The menu background ----

const Colour kSkyTop = hex(0x0d1526);
const Colour kSkyBottom = hex(0x1c2d4a);
const Colour kMarkWhite = hex(0xf2f4f8);
const Colour kWinRed = hex(0xe8413c);

// A small board with a game in progress and a winning line of five circles, as in the game.
void drawBoardEmblem(BITMAP* bmp) {
    constexpr int kCols = 11, kRows = 6, kCell = 36;
    constexpr int x0 = (kScreenW - kCols * kCell) / 2, y0 = 212;
    constexpr int x1 = x0 + kCols * kCell, y1 = y0 + kRows * kCell;

    fillShape(bmp, x0 - 30, y0 - 30, x1 + 30, y1 + 30,
              roundedBox(x0 - 14 + 6, y0 - 14 + 8, x1 + 14 + 6, y1 + 14 + 8, 14),
              solid(hex(0x000000)), 0.35f);
    fillShape(bmp, x0 - 20, y0 - 20, x1 + 20, y1 + 20,
              roundedBox(x0 - 14, y0 - 14, x1 + 14, y1 + 14, 14),
              vertical(hex(0x0b0f18), hex(0x121a2a), y0, y1), 0.92f);
    fillShape(
        bmp, x0 - 20, y0 - 20, x1 + 20, y1 + 20,
        [=](float x, float y) {
            return std::fabs(roundedBox(x0 - 14, y0 - 14, x1 + 14, y1 + 14, 14)(x, y)) - 0.75f;
        },
        solid(hex(0x5b7bb0)), 0.8f);

    for (int i = 0; i <= kCols; i++) {
        strokeSegment(bmp, x0 + i * kCell, y0, x0 + i * kCell, y1, 1.2f, kMarkWhite, 0.55f);
    }
    for (int j = 0; j <= kRows; j++) {
        strokeSegment(bmp, x0, y0 + j * kCell, x1, y0 + j * kCell, 1.2f, kMarkWhite, 0.55f);
    }

    auto centre = [&](int c, int r, float& cx, float& cy) {
        cx = x0 + c * kCell + kCell / 2.0f;
        cy = y0 + r * kCell + kCell / 2.0f;
    };
    const int circles[][2] = {{2, 0}, {3, 1}, {4, 2}, {5, 3}, {6, 4}, {7, 2}, {3, 3}};
    const int crosses[][2] = {{3, 0}, {5, 1}, {4, 1}, {6, 2}, {2, 2}, {7, 4}, {8, 1}, {4, 4}};
    for (auto& p : circles) {
        float cx, cy;
        centre(p[0], p[1], cx, cy);
        strokeCircle(bmp, cx, cy, kCell * 0.32f, 3.0f, kMarkWhite, 1.0f);
    }
    for (auto& p : crosses) {
        float cx, cy;
        centre(p[0], p[1], cx, cy);
        strokeCross(bmp, cx, cy, kCell * 0.56f, 3.0f, kMarkWhite, 1.0f);
    }
    float ax, ay, bx, by;
    centre(2, 0, ax, ay);
    centre(6, 4, bx, by);
    strokeSegment(bmp, ax, ay, bx, by, 9.0f, kWinRed, 0.25f);
    strokeSegment(bmp, ax, ay, bx, by, 4.0f, kWinRed, 1.0f);
}

// Faint marks on a faint grid over the whole picture, fading towards the bottom.
void drawBackdrop(BITMAP* bmp) {
    constexpr int kCell = 40;
    for (int x = 0; x <= kScreenW; x += kCell) {
        strokeSegment(bmp, x + 0.5f, 0, x + 0.5f, kScreenH, 1.0f, hex(0x8fb0e0), 0.07f);
    }
    for (int y = 0; y <= kScreenH; y += kCell) {
        strokeSegment(bmp, 0, y + 0.5f, kScreenW, y + 0.5f, 1.0f, hex(0x8fb0e0), 0.07f);
    }
    // Cells of the grid, left and right of the emblem, away from the title and the buttons.
    const int circles[][2] = {{1, 1}, {17, 2}, {2, 7}, {16, 9}, {0, 10}, {19, 5}, {3, 4}};
    const int crosses[][2] = {{18, 0}, {2, 2}, {16, 4}, {1, 9}, {18, 10}, {0, 5}, {17, 7}};
    for (auto& p : circles) {
        strokeCircle(bmp, p[0] * kCell + kCell / 2.0f, p[1] * kCell + kCell / 2.0f, 12, 3,
                     hex(0x9fc0f0), 0.13f);
    }
    for (auto& p : crosses) {
        strokeCross(bmp, p[0] * kCell + kCell / 2.0f, p[1] * kCell + kCell / 2.0f, 22, 3,
                    hex(0x9fc0f0), 0.13f);
    }
}

BITMAP* makeMenu() {
    BITMAP* bmp = create_bitmap(kScreenW, kScreenH);
    for (int y = 0; y < kScreenH; y++) {
        Colour c = mix(kSkyTop, kSkyBottom, float(y) / kScreenH);
        hline(bmp, 0, y, kScreenW - 1, makecol(int(c.r), int(c.g), int(c.b)));
    }
    drawBackdrop(bmp);

    // A soft glow behind the title.
    for (int y = 0; y < 200; y++) {
        for (int x = 0; x < kScreenW; x++) {
            float dx = (x - kScreenW / 2.0f) / 360.0f, dy = (y - 95.0f) / 85.0f;
            float glow = std::max(0.0f, 1.0f - (dx * dx + dy * dy));
            blend(bmp, x, y, hex(0x35598f), glow * glow * 0.45f);
        }
    }

    drawText(bmp, "Five in a row", kScreenW / 2, 58,
             {8, hex(0xfff1b8), hex(0xf0a53a), hex(0x2a1604), 3, 6, 0.6f});
    drawText(bmp, "a game for two players", kScreenW / 2, 152,
             {2, hex(0xc9d8f0), hex(0x9fb5d8), hex(0x000000), 0, 2, 0.5f});

    drawBoardEmblem(bmp);

    // The shelf on which the buttons sit: plain, so that any button fits anywhere on it.
    fillShape(bmp, 0, 478, kScreenW - 1, 572, roundedBox(-20, 482, kScreenW + 20, 568, 0),
              solid(hex(0x000000)), 0.28f);
    strokeSegment(bmp, 0, 482, kScreenW, 482, 1.0f, hex(0x7d9cd0), 0.35f);
    strokeSegment(bmp, 0, 568, kScreenW, 568, 1.0f, hex(0x7d9cd0), 0.35f);

    drawText(bmp, "choose with the left mouse button", kScreenW / 2, 582,
             {1, hex(0x6e80a0), hex(0x6e80a0), hex(0x000000), 0, 0, 0.0f});
    return bmp;
}

// ---- The buttons ----

struct Button {
    const char* file;
    int x;  // where the menus place it, so that its rounded corners match the background
    const char* label;
    const char* hint;
    unsigned light, dark;  // face colours, top and bottom
};

BITMAP* makeButton(BITMAP* menu, const Button& b) {
    BITMAP* bmp = create_bitmap(kButtonW, kButtonH);
    blit(menu, bmp, b.x, Layout::kMenuY, 0, 0, kButtonW, kButtonH);
    const float w = kButtonW, h = kButtonH, r = 11;
    Colour light = hex(b.light), dark = hex(b.dark);

    fillShape(bmp, 0, 0, kButtonW, kButtonH, roundedBox(1, 2, w - 1, h, r), solid(hex(0x000000)),
              0.45f);
    fillShape(bmp, 0, 0, kButtonW, kButtonH, roundedBox(0.5f, 0.5f, w - 1.5f, h - 2, r),
              solid(mix(dark, hex(0x000000), 0.55f)));
    fillShape(bmp, 0, 0, kButtonW, kButtonH, roundedBox(2, 2, w - 3, h - 3.5f, r - 1.5f),
              vertical(light, dark, 2, kButtonH - 4));
    // A gloss over the upper half and a thin highlight along the top edge.
    fillShape(bmp, 0, 0, kButtonW, kButtonH / 2, roundedBox(3, 3, w - 4, h / 2, r - 2.5f),
              solid(hex(0xffffff)), 0.13f);
    strokeSegment(bmp, r, 3, w - r - 1, 3, 1.0f, hex(0xffffff), 0.45f);

    drawText(bmp, b.label, kButtonW / 2, 8,
             {2, hex(0xffffff), hex(0xe6ecf5), mix(dark, hex(0x000000), 0.5f), 1, 1, 0.5f});
    Colour hint = mix(light, hex(0xffffff), 0.75f);
    drawText(bmp, b.hint, kButtonW / 2, 31, {1, hint, hint, hex(0x000000), 0, 1, 0.45f});
    return bmp;
}

// ---- The icon ----

// A rounded tile with a small board on it: a diagonal of circles struck through in red, as a won
// game shows it, between a few crosses. Small icons get a board of three cells a side, so that
// the marks stay readable; from 64 pixels on, five. Where the tile does not cover, the icon is
// see-through. Returns its pixels row by row, 4 bytes each: red, green, blue, alpha.
std::vector<uint8_t> drawIcon(int size) {
    const float s = float(size);
    const int cells = size < 64 ? 3 : 5;
    const float edge = s * 0.03f, radius = s * 0.2f;
    const float board = s * (cells == 3 ? 0.12f : 0.15f), cell = (s - 2 * board) / cells;
    auto tile = roundedBox(edge, edge, s - edge, s - edge, radius);

    BITMAP* bmp = create_bitmap(size, size);
    for (int y = 0; y < size; y++) {
        Colour c = mix(hex(0x2a4470), hex(0x0d1526), float(y) / s);
        hline(bmp, 0, y, size - 1, makecol(int(c.r), int(c.g), int(c.b)));
    }
    // The tile's rim, just inside its edge.
    float rim = std::max(1.0f, s / 40);
    fillShape(
        bmp, 0, 0, size - 1, size - 1,
        [&](float x, float y) { return std::fabs(tile(x, y) + rim / 2) - rim / 2; },
        solid(hex(0x7d9cd0)), 0.8f);

    float line = std::max(1.0f, s / 96);
    for (int i = 0; i <= cells && size >= 24; i++) {
        float at = board + i * cell;
        strokeSegment(bmp, at, board, at, s - board, line, kMarkWhite, 0.35f);
        strokeSegment(bmp, board, at, s - board, at, line, kMarkWhite, 0.35f);
    }
    auto centre = [&](int i) { return board + (i + 0.5f) * cell; };
    float mark = std::max(1.3f, cell * 0.13f);
    for (int i = 0; i < cells; i++) {
        strokeCircle(bmp, centre(i), centre(i), cell * 0.3f, mark, kMarkWhite, 1.0f);
    }
    const int crosses3[][2] = {{2, 0}, {0, 2}};
    const int crosses5[][2] = {{2, 0}, {4, 1}, {0, 2}, {3, 4}, {1, 3}};
    auto cross = [&](const int(&p)[2]) {
        strokeCross(bmp, centre(p[0]), centre(p[1]), cell * 0.52f, mark, kMarkWhite, 1.0f);
    };
    if (cells == 3) {
        std::for_each(std::begin(crosses3), std::end(crosses3), cross);
    } else {
        std::for_each(std::begin(crosses5), std::end(crosses5), cross);
    }
    float strike = std::max(1.0f, cell * 0.16f);
    float a = centre(0), b = centre(cells - 1);
    if (cells > 3) {
        strokeSegment(bmp, a, a, b, b, strike * 2.5f, kWinRed, 0.25f);
    }
    strokeSegment(bmp, a, a, b, b, strike, kWinRed, 1.0f);

    std::vector<uint8_t> rgba(size_t(size) * size * 4);
    for (int y = 0; y < size; y++) {
        for (int x = 0; x < size; x++) {
            int c = getpixel(bmp, x, y);
            uint8_t* p = &rgba[(size_t(y) * size + x) * 4];
            p[0] = uint8_t(getr(c));
            p[1] = uint8_t(getg(c));
            p[2] = uint8_t(getb(c));
            p[3] = uint8_t(std::lround(255 * coverage(tile(x + 0.5f, y + 0.5f))));
        }
    }
    destroy_bitmap(bmp);
    return rgba;
}

// Writes size bytes to the file path and names it on standard output; ends the program when it
// cannot.
void writeFile(const char* path, const void* data, size_t size) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::fprintf(stderr, "Cannot write %s\n", path);
        std::exit(1);
    }
    std::printf("%s\n", path);
}

// The icon's pixels (drawIcon) as a PNG file's bytes.
std::vector<uint8_t> encodePng(int size, [[maybe_unused]] const std::vector<uint8_t>& rgba) {
#if MAKE_PICTURES_PNG
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = size;
    image.height = size;
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t bytes = 0;
    std::vector<uint8_t> png;
    if (png_image_write_to_memory(&image, nullptr, &bytes, 0, rgba.data(), 0, nullptr)) {
        png.resize(bytes);
        if (png_image_write_to_memory(&image, png.data(), &bytes, 0, rgba.data(), 0, nullptr)) {
            png.resize(bytes);
            return png;
        }
    }
    std::fprintf(stderr, "Cannot make the %d pixel PNG: %s\n", size, image.message);
#else
    std::fprintf(stderr, "Cannot make the %d pixel PNG: make_pictures was built without libpng\n",
                 size);
#endif
    std::exit(1);
}

void saveIcon(int size, const char* path) {
    std::vector<uint8_t> png = encodePng(size, drawIcon(size));
    writeFile(path, png.data(), png.size());
}

// ---- The Windows icon ----

void put16(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

// One image of an icon file as Windows reads it everywhere: a device-independent bitmap of
// 32-bit pixels (blue, green, red, alpha), bottom row first, twice as high as the picture because
// a 1-bit mask (set where the picture is see-through) follows the pixels.
std::vector<uint8_t> iconBitmap(int size, const std::vector<uint8_t>& rgba) {
    const int maskRow = (size + 31) / 32 * 4;
    std::vector<uint8_t> out;
    put32(out, 40);  // the size of this header
    put32(out, size);
    put32(out, 2 * size);
    put16(out, 1);   // planes
    put16(out, 32);  // bits per pixel
    put32(out, 0);   // no compression
    put32(out, size * size * 4 + maskRow * size);
    for (int i = 0; i < 4; i++) {
        put32(out, 0);  // resolution and palette: unused
    }
    for (int y = size - 1; y >= 0; y--) {
        for (int x = 0; x < size; x++) {
            const uint8_t* p = &rgba[(size_t(y) * size + x) * 4];
            out.insert(out.end(), {p[2], p[1], p[0], p[3]});
        }
    }
    for (int y = size - 1; y >= 0; y--) {
        std::vector<uint8_t> row(maskRow, 0);
        for (int x = 0; x < size; x++) {
            if (rgba[(size_t(y) * size + x) * 4 + 3] == 0) {
                row[x / 8] |= uint8_t(0x80 >> (x % 8));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// The icon in the sizes Windows asks for, in one icon file: the small ones as bitmaps, the
// largest as PNG (which Windows reads from Vista on, and which keeps the file small).
void saveWindowsIcon(const char* path) {
    const int sizes[] = {16, 24, 32, 48, 64, 256};
    std::vector<std::vector<uint8_t>> images;
    for (int size : sizes) {
        std::vector<uint8_t> rgba = drawIcon(size);
        images.push_back(size >= 256 ? encodePng(size, rgba) : iconBitmap(size, rgba));
    }
    std::vector<uint8_t> out;
    put16(out, 0);  // reserved
    put16(out, 1);  // an icon, not a cursor
    put16(out, unsigned(images.size()));
    size_t offset = 6 + 16 * images.size();
    for (size_t i = 0; i < images.size(); i++) {
        out.push_back(uint8_t(sizes[i] % 256));  // width and height, 0 for 256
        out.push_back(uint8_t(sizes[i] % 256));
        out.push_back(0);  // no palette
        out.push_back(0);  // reserved
        put16(out, 1);     // planes
        put16(out, 32);    // bits per pixel
        put32(out, uint32_t(images[i].size()));
        put32(out, uint32_t(offset));
        offset += images[i].size();
    }
    for (const auto& image : images) {
        out.insert(out.end(), image.begin(), image.end());
    }
    writeFile(path, out.data(), out.size());
}

// ---- The icon for X11 desktops ----

// The sizes of the icon that the game gives its X11 window as _NET_WM_ICON, and the size of the
// XPM picture that the graphics library gives the window's WM_HINTS.
const int kWindowIconSizes[] = {16, 24, 32, 48, 64};
constexpr int kXpmSize = 32;

// The XPM: pixels at least half covered keep their colour, the others are see-through ("None").
// Two characters a pixel, from a set that needs no escaping in a C string.
std::vector<std::string> iconXpm(int size) {
    static const char kCodes[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789#$%&()*+,-./:;<=>@[]^_{|}~";
    const size_t base = sizeof kCodes - 1;
    std::vector<uint8_t> rgba = drawIcon(size);
    std::vector<uint32_t> colours;
    std::vector<int> index(size_t(size) * size, -1);
    for (size_t i = 0; i < index.size(); i++) {
        const uint8_t* p = &rgba[i * 4];
        if (p[3] < 128) {
            continue;
        }
        uint32_t c = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        auto at = std::find(colours.begin(), colours.end(), c);
        index[i] = int(at - colours.begin());
        if (at == colours.end()) {
            colours.push_back(c);
        }
    }
    // Code 0 is the see-through one.
    auto code = [&](int n) { return std::string{kCodes[(n + 1) / base], kCodes[(n + 1) % base]}; };
    if (colours.size() + 1 > base * base) {
        std::fprintf(stderr, "The %d pixel icon has too many colours for its XPM\n", size);
        std::exit(1);
    }
    std::vector<std::string> lines;
    lines.push_back(std::to_string(size) + " " + std::to_string(size) + " " +
                    std::to_string(colours.size() + 1) + " 2");
    lines.push_back(code(-1) + " c None");
    for (size_t n = 0; n < colours.size(); n++) {
        char hexColour[8];
        std::snprintf(hexColour, sizeof hexColour, "#%06X", unsigned(colours[n]));
        lines.push_back(code(int(n)) + " c " + hexColour);
    }
    for (int y = 0; y < size; y++) {
        std::string row;
        for (int x = 0; x < size; x++) {
            row += code(index[size_t(y) * size + x]);
        }
        lines.push_back(row);
    }
    return lines;
}

// Writes the C++ source that holds the icon for X11 desktops (src/window_icon.h): the XPM and the
// _NET_WM_ICON data, each size as its width, its height and its pixels as 0xAARRGGBB, row by row.
void saveIconSource(const char* path) {
    std::string out =
        "// The program's icon for X11 desktops, drawn by scripts/make_pictures.cpp at build time\n"
        "// (make_pictures --icon-source): do not edit.\n"
        "#include \"window_icon.h\"\n\nnamespace WindowIcon {\n\n"
        "// clang-format off\nconst char* const kXpm[] = {\n";
    for (const std::string& line : iconXpm(kXpmSize)) {
        out += "\"" + line + "\",\n";
    }
    out += "};\n\nconst unsigned long kNetWmIcon[] = {\n";
    for (int size : kWindowIconSizes) {
        std::vector<uint8_t> rgba = drawIcon(size);
        out += std::to_string(size) + ", " + std::to_string(size) + ",\n";
        for (int y = 0; y < size; y++) {
            for (int x = 0; x < size; x++) {
                const uint8_t* p = &rgba[(size_t(y) * size + x) * 4];
                char pixel[16];
                std::snprintf(pixel, sizeof pixel, "0x%02X%02X%02X%02X,", p[3], p[0], p[1], p[2]);
                out += pixel;
            }
            out += "\n";
        }
    }
    out +=
        "};\n// clang-format on\n\n"
        "const size_t kNetWmIconLength = sizeof kNetWmIcon / sizeof kNetWmIcon[0];\n\n"
        "}  // namespace WindowIcon\n";
    writeFile(path, out.data(), out.size());
}

}  // namespace

int main(int argc, char** argv) {
    install_allegro(SYSTEM_NONE, &errno, atexit);
    set_color_depth(32);

    if (argc > 1 && std::strcmp(argv[1], "--icon") == 0) {
        int size = argc == 4 ? std::atoi(argv[2]) : 0;
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "usage: make_pictures --icon SIZE FILE (SIZE 16 to 1024)\n");
            return 2;
        }
        saveIcon(size, argv[3]);
        return 0;
    }
    // The options that write one file.
    const struct {
        const char* option;
        void (*write)(const char* path);
    } oneFile[] = {{"--ico", saveWindowsIcon}, {"--icon-source", saveIconSource}};
    for (const auto& o : oneFile) {
        if (argc > 1 && std::strcmp(argv[1], o.option) == 0) {
            if (argc != 3) {
                std::fprintf(stderr, "usage: make_pictures %s FILE\n", o.option);
                return 2;
            }
            o.write(argv[2]);
            return 0;
        }
    }

    std::string folder = argc > 1 ? argv[1] : "data";

    BITMAP* pointer = makePointer();
    save(pointer, folder, "ptr.tga");
    destroy_bitmap(pointer);

    BITMAP* menu = makeMenu();
    save(menu, folder, "menu.tga");

    const Button buttons[] = {
        {"mi_local.tga", Layout::kLocalX, "Play here", "two at one machine", 0x3fb57a, 0x1c6e47},
        {"mi_net.tga", Layout::kNetX, "Network", "on two machines", 0x4a86d8, 0x22508f},
        {"mi_exit.tga", Layout::kExitX, "Exit", "leave the game", 0xcf5a5a, 0x862b31},
        {"net_slave.tga", Layout::kSlaveX, "Join game", "connect as slave", 0x35aeb5, 0x176a72},
        {"net_master.tga", Layout::kMasterX, "Host game", "wait as master", 0xdba23c, 0x8f5e12},
    };
    for (const Button& b : buttons) {
        BITMAP* bmp = makeButton(menu, b);
        save(bmp, folder, b.file);
        destroy_bitmap(bmp);
    }
    destroy_bitmap(menu);
    return 0;
}
END_OF_MAIN()
