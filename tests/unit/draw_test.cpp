// Drawing primitives on offscreen surfaces with padded rows and guard rows
// after the last: the font against its table and against plain per-pixel
// drawing everywhere on the surface, lines, fills against SDL's own, colour
// layouts, text tables.
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "tests/support/surfaces.h"

namespace {

constexpr uint32_t Back = 0x11223344u, Ink = 0xFFA0B0C0u;

// A guarded surface of the background colour, with the references' one
// primitive (one pixel, skipped when off the surface) and the lit pixels.
struct Canvas : GuardedSurface {
    explicit Canvas(int width = 23, int height = 17, uint32_t r = 0xFF0000, uint32_t g = 0xFF00, uint32_t b = 0xFF,
                    uint32_t a = 0)
        : GuardedSurface(width, height, Back, r, g, b, a) {}
    void clear() { fillPixels(Back); }
    void plot(int x, int y, uint32_t v) {
        if (x >= 0 && y >= 0 && x < w && y < h) at(x, y) = v;
    }
    std::set<std::pair<int, int>> lit() {
        std::set<std::pair<int, int>> out;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (at(x, y) != Back) out.insert({x, y});
        return out;
    }
};

// Plain reference of one glyph: only codes 32..95 have one.
void plotGlyph(Canvas& c, int code, int x, int y) {
    if (code < 32 || code > 95) return;
    const uint8_t* g = glyphPixels(code);
    for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 5; ++i)
            if (g[j * 5 + i]) c.plot(x + i, y + j, Ink);
}

}  // namespace

TEST(Font, GlyphsMatchTheFontTableRows) {
    // Each glyph sets exactly the pixels of its five table rows (0x10 leftmost) and nothing around them.
    const std::pair<char, std::vector<int>> glyphs[] = {
        {'A', {0x1F, 0x11, 0x1F, 0x11, 0x11}},  {'?', {0x1F, 0x01, 0x07, 0x00, 0x04}},
        {'1', {0x02, 0x06, 0x0A, 0x02, 0x02}},  {'W', {0x11, 0x11, 0x15, 0x1B, 0x11}},
        {'\\', {0x10, 0x08, 0x04, 0x02, 0x01}}, {'&', {0x1F, 0x1F, 0x1F, 0x1F, 0x1F}},
        {'@', {0x1F, 0x11, 0x17, 0x15, 0x17}},  {'_', {0x00, 0x00, 0x00, 0x00, 0x1F}},
    };
    Canvas c(20, 20);
    for (const auto& [ch, rows] : glyphs) {
        c.clear();
        drawGlyph(c.s, ch, 7, 6, Ink);
        EXPECT_EQ(glyphRows(c.s, 7, 6, Ink), rows) << "glyph " << ch;
        int count = 0;
        for (int r : rows) count += __builtin_popcount(r);
        EXPECT_EQ(int(c.lit().size()), count) << "glyph " << ch << " drew outside its 5x5 box";
    }
}

TEST(Font, GlyphsEverywhereAreTheirTablePixelsOnTheSurfaceAndOtherCodesDrawNothing) {
    // A glyph of codes 32..95 sets exactly its table's pixels that fall on the surface, at any position;
    // other codes (lower case, controls, negative) draw nothing.
    Canvas fast, ref;
    for (int code = -128; code < 128; ++code)
        for (int y = -6; y <= ref.h + 1; ++y)
            for (int x = -6; x <= ref.w + 1; ++x) {
                fast.clear();
                ref.clear();
                drawGlyph(fast.s, static_cast<signed char>(code), x, y, Ink);
                plotGlyph(ref, code, x, y);
                ASSERT_EQ(fast.words, ref.words) << "code " << code << " at " << x << "," << y;
            }
}

TEST(Font, TextIsItsCharactersSixPixelsApartEachClippedOnItsOwn) {
    // Character i is drawn at x + 6i over what is behind it; characters outside the font leave a gap.
    Canvas fast, ref;
    const char* text = "AZ09?_&a{~";
    for (int x = -60; x <= ref.w; x += 3) {
        fast.clear();
        ref.clear();
        drawText(fast.s, Ink, x, 6, text);
        for (int i = 0; text[i]; ++i) plotGlyph(ref, text[i], x + 6 * i, 6);
        ASSERT_EQ(fast.words, ref.words) << "x " << x;
    }
}

TEST(Line, EndPointsIncludedAndDirectionDoesNotMatter) {
    // A line from (10,10) to (10,10) sets one pixel; (5,2)-(0,0) sets the same pixels as (0,0)-(5,2).
    Canvas c(20, 20);
    drawLine(c.s, 10, 10, 10, 10, Ink);
    EXPECT_EQ(c.lit(), (std::set<std::pair<int, int>>{{10, 10}}));

    // Worked by hand from the stepping rule: error starts at -(5/2), y steps once error > 0.
    const std::set<std::pair<int, int>> shallow{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}};
    // Steep lines step along y with x and y swapped.
    const std::set<std::pair<int, int>> steep{{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}, {2, 5}};
    const struct {
        int x0, y0, x1, y1;
        const std::set<std::pair<int, int>>& pixels;
    } lines[] = {{0, 0, 5, 2, shallow}, {5, 2, 0, 0, shallow}, {0, 0, 2, 5, steep}, {2, 5, 0, 0, steep}};
    for (const auto& l : lines) {
        c.clear();
        drawLine(c.s, l.x0, l.y0, l.x1, l.y1, Ink);
        EXPECT_EQ(c.lit(), l.pixels) << l.x0 << "," << l.y0 << " to " << l.x1 << "," << l.y1;
    }
}

TEST(Line, BoxIsItsFourSidesWithTheCornersIncluded) {
    // The box from (2, 3) to (6, 5) sets columns 2 and 6 on rows 3..5 and rows 3 and 5 on columns 2..6.
    Canvas c(10, 10);
    drawBox(c.s, 2, 3, 6, 5, Ink);
    std::set<std::pair<int, int>> expect;
    for (int x = 2; x <= 6; ++x) expect.insert({{x, 3}, {x, 5}});
    expect.insert({{2, 4}, {6, 4}});
    EXPECT_EQ(c.lit(), expect);
}

TEST(Line, StraightLinesAreEveryPixelBetweenTheirEndPointsClippedAndLinesOffTheSurfaceDrawNothing) {
    // A vertical or horizontal line covers both end points and all between, clipped at the surface;
    // a slanted line wholly off the surface draws nothing.
    Canvas fast, ref;
    for (bool vertical : {true, false}) {
        const int along = vertical ? ref.h : ref.w, across = vertical ? ref.w : ref.h;
        for (int a = -4; a <= along + 3; ++a)
            for (int b = -4; b <= along + 3; ++b)
                for (int k : {-1, 0, 5, across - 1, across}) {
                    fast.clear();
                    ref.clear();
                    if (vertical)
                        drawLine(fast.s, k, a, k, b, Ink);
                    else
                        drawLine(fast.s, a, k, b, k, Ink);
                    for (int t = std::min(a, b); t <= std::max(a, b); ++t)
                        vertical ? ref.plot(k, t, Ink) : ref.plot(t, k, Ink);
                    ASSERT_EQ(fast.words, ref.words)
                        << (vertical ? "vertical at " : "horizontal at ") << k << " from " << a << " to " << b;
                }
    }
    fast.clear();
    drawLine(fast.s, 25, -4, 40, -1, Ink);
    drawLine(fast.s, -9, 30, -1, 2, Ink);
    EXPECT_TRUE(fast.lit().empty());
}

TEST(Fill, FillsMatchSdlsOwnFillInsideTheClipRectangleAndEmptyOrHugeOnesNeverWrap) {
    // A fill covers its rectangle cut to the surface and its clip rectangle, as SDL_FillRect does;
    // zero or negative sizes draw nothing and coordinates beyond 16 bits never wrap onto the surface.
    Canvas fast, fastBgr(23, 17, 0xFF, 0xFF00, 0xFF0000), ref(23, 17, 0xFF, 0xFF00, 0xFF0000);  // a second layout too
    const SDL_Rect clips[] = {{0, 0, 23, 17}, {3, 2, 11, 9}};
    for (const SDL_Rect& clip : clips) {
        SDL_Rect c = clip;
        SDL_SetClipRect(fast.s, &c);
        SDL_SetClipRect(fastBgr.s, &c);
        SDL_SetClipRect(ref.s, &c);
        for (int x = -5; x <= ref.w + 2; x += 2)
            for (int y = -5; y <= ref.h + 2; y += 3)
                for (int w : {-3, 0, 1, 4, 9, 40})
                    for (int h : {1, 3, 30}) {
                        fast.clear();
                        fastBgr.clear();
                        ref.clear();
                        fillRect(fast.s, x, y, w, h, Ink);
                        fillRect(fastBgr.s, x, y, w, h, Ink);
                        // Reference: the clipped rectangle through SDL, colour mapped by SDL.
                        const int x0 = std::max(x, 0), y0 = std::max(y, 0);
                        const int x1 = std::min(x + w, ref.w), y1 = std::min(y + h, ref.h);
                        if (x0 < x1 && y0 < y1) {
                            SDL_Rect r{Sint16(x0), Sint16(y0), Uint16(x1 - x0), Uint16(y1 - y0)};
                            SDL_FillRect(ref.s, &r, SDL_MapRGB(ref.s->format, 0xA0, 0xB0, 0xC0));
                        }
                        ASSERT_EQ(fastBgr.words, ref.words) << x << "," << y << " " << w << "x" << h;
                        // The standard layout takes the colour word unchanged.
                        for (int py = 0; py < ref.h; ++py)
                            for (int px = 0; px < ref.w; ++px)
                                ASSERT_EQ(fast.at(px, py), ref.at(px, py) == Back ? Back : Ink);
                    }
        fast.clear();
        ref.clear();
        fillSurface(fast.s, Ink);
        SDL_FillRect(ref.s, nullptr, Ink);  // the word itself: same layout for the whole-surface fill
        for (int py = 0; py < ref.h; ++py)
            for (int px = 0; px < ref.w; ++px) ASSERT_EQ(fast.at(px, py), ref.at(px, py) == Back ? Back : Ink);
    }

    Canvas big(20, 10);
    fillRect(big.s, 5, 5, -100000, 100000, Ink);
    fillRect(big.s, 70000, 2, 5, 5, Ink);
    fillRect(big.s, 2, -70000, 5, 5, Ink);
    EXPECT_TRUE(big.lit().empty());
    fillRect(big.s, 18, -100000, 100000, 100003, Ink);
    std::set<std::pair<int, int>> expect;
    for (int x = 18; x < 20; ++x)
        for (int y = 0; y < 3; ++y) expect.insert({x, y});
    EXPECT_EQ(big.lit(), expect);
}

TEST(Surface, DrawingAtEveryEdgeTouchesNeitherPitchPaddingNorMemoryAroundTheSurface) {
    // Drawing respects the surface's pitch and edges: padding bytes and rows before and after it stay untouched.
    Canvas c(64, 40);
    for (int x : {-6, -4, -2, 0, c.w - 3, c.w - 1, c.w, c.w + 2})
        for (int y : {-6, -4, -2, 0, c.h - 3, c.h - 1, c.h, c.h + 2}) {
            drawGlyph(c.s, '&', x, y, Ink);
            drawText(c.s, Ink, x, y, "&&&&&&&&&&&&&&&&&&&&");
            fillRect(c.s, x, y, 7, 7, Ink);
            drawLine(c.s, x, y, x + 100, y + 3, Ink);
            drawLine(c.s, x, y, x - 3, y + 100, Ink);
        }
    drawLine(c.s, -1000, -1000, 1000, 1000, Ink);
    drawLine(c.s, 1000, -50, -1000, 80, Ink);
    fillRect(c.s, -1000, -1000, 5000, 5000, Ink);
    EXPECT_EQ(c.outsideWritten(), 0);
    EXPECT_EQ(c.lit().size(), size_t(c.w * c.h));
}

TEST(Colour, StandardLayoutKeepsTheWordOtherLayoutsGetTheirOwnChannelOrder) {
    // Colours are 0xAARRGGBB; a surface with another mask layout receives the same colour in its own layout.
    Canvas argb(4, 4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
    EXPECT_EQ(mapColour(argb.s->format, 0xFF102030u), 0xFF102030u);
    EXPECT_EQ(mapColour(argb.s->format, 0x00102030u), 0x00102030u);  // the message colour keeps alpha 0

    Canvas abgr(16, 16, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
    drawGlyph(abgr.s, '&', 0, 0, 0xFF102030u);
    drawLine(abgr.s, 0, 8, 15, 8, 0xFF405060u);
    fillRect(abgr.s, 0, 10, 4, 4, 0xFF708090u);
    EXPECT_EQ(abgr.at(2, 2), 0xFF302010u);
    EXPECT_EQ(abgr.at(15, 8), 0xFF605040u);
    EXPECT_EQ(abgr.at(3, 13), 0xFF908070u);

    // No alpha mask: the alpha byte is dropped.
    Canvas bgrx(4, 4, 0xFF00, 0xFF0000, 0xFF000000, 0);
    EXPECT_EQ(mapColour(bgrx.s->format, 0xFF102030u), 0x30201000u);

    // Not 32 bits per pixel: left alone.
    SDL_Surface* s16 = SDL_CreateRGBSurface(SDL_SWSURFACE, 4, 4, 16, 0xF800, 0x07E0, 0x001F, 0);
    drawGlyph(s16, '&', 0, 0, Ink);
    drawLine(s16, 0, 0, 3, 3, Ink);
    EXPECT_EQ(static_cast<const uint16_t*>(s16->pixels)[0], 0);
    SDL_FreeSurface(s16);
}

TEST(TextTables, HexAndNoteNamesFollowTheTableRules) {
    // hexByteText is two upper-case digits per value; noteText is name + first hex digit of (n - 3) / 12.
    buildTextTables();
    auto hex = [](int v) { return std::string(hexByteText + 2 * v, 2); };
    EXPECT_EQ(hex(0), "00");
    EXPECT_EQ(hex(0x3F), "3F");
    EXPECT_EQ(hex(0xA0), "A0");
    EXPECT_EQ(hex(255), "FF");
    EXPECT_EQ(std::string(hexDigitText, 16), "0123456789ABCDEF");

    const std::pair<int, const char*> notes[] = {{0, "A-0"},   {1, "A#0"},   {2, "B-0"},  {3, "C-0"},
                                                 {12, "A-0"},  {14, "B-0"},  {15, "C-1"}, {49, "A#3"},
                                                 {194, "B-F"}, {195, "C-1"},  // octave 0x10: only the leading digit
                                                 {255, "C-1"}};               // (255 - 3) / 12 = 21 = 0x15
    for (const auto& [n, name] : notes) EXPECT_EQ(std::string(noteText + 4 * n, 3), name) << "note " << n;
}
