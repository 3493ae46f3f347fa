// Drawing primitives on offscreen surfaces: font, clipping, lines, fills,
// colour layouts, text tables.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "pixel_probe.h"
#include "ui/draw.h"

namespace {

struct Surface {
    SDL_Surface* s;
    explicit Surface(int w = 640, int h = 480, uint32_t r = 0xFF0000, uint32_t g = 0xFF00, uint32_t b = 0xFF,
                     uint32_t a = 0xFF000000)
        : s(SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, r, g, b, a)) {}
    ~Surface() { SDL_FreeSurface(s); }
    uint32_t at(int x, int y) const { return pixelAt(s, x, y); }
    void clear(uint32_t v = 0) {
        for (int y = 0; y < s->h; ++y)
            for (int x = 0; x < s->w; ++x) std::memcpy(static_cast<uint8_t*>(s->pixels) + y * s->pitch + 4 * x, &v, 4);
    }
    std::set<std::pair<int, int>> lit(uint32_t background = 0) const {
        std::set<std::pair<int, int>> out;
        for (int y = 0; y < s->h; ++y)
            for (int x = 0; x < s->w; ++x)
                if (at(x, y) != background) out.insert({x, y});
        return out;
    }
};

const uint32_t ink = 0xFFF0F5FC;

}  // namespace

TEST(Font, GlyphsMatchTheFontTableRows) {
    // Each glyph sets exactly the pixels of its five table rows (0x10 leftmost) and nothing around them.
    const std::pair<char, std::vector<int>> glyphs[] = {
        {'A', {0x1F, 0x11, 0x1F, 0x11, 0x11}}, {'?', {0x1F, 0x01, 0x07, 0x00, 0x04}},
        {'1', {0x02, 0x06, 0x0A, 0x02, 0x02}}, {'W', {0x11, 0x11, 0x15, 0x1B, 0x11}},
        {'\\', {0x10, 0x08, 0x04, 0x02, 0x01}}, {'&', {0x1F, 0x1F, 0x1F, 0x1F, 0x1F}},
        {'@', {0x1F, 0x11, 0x17, 0x15, 0x17}},  {'_', {0x00, 0x00, 0x00, 0x00, 0x1F}},
    };
    Surface s(20, 20);
    for (const auto& [ch, rows] : glyphs) {
        s.clear();
        drawGlyph(s.s, ch, 7, 6, ink);
        EXPECT_EQ(glyphRows(s.s, 7, 6, ink), rows) << "glyph " << ch;
        int count = 0;
        for (int r : rows) count += __builtin_popcount(r);
        EXPECT_EQ(int(s.lit().size()), count) << "glyph " << ch << " drew outside its 5x5 box";
    }
}

TEST(Font, EveryGlyphStaysInItsBoxAndCodesOutsideTheFontDrawNothing) {
    // Codes 32..95 draw inside their 5x5 box; codes outside 32..95 (lower case, controls, negative) draw nothing.
    Surface s(20, 20);
    for (int code = -128; code < 128; ++code) {
        s.clear();
        drawGlyph(s.s, static_cast<signed char>(code), 5, 5, ink);
        for (auto [x, y] : s.lit()) {
            EXPECT_TRUE(x >= 5 && x < 10 && y >= 5 && y < 10) << "code " << code;
        }
        if (code < 32 || code > 95) {
            EXPECT_TRUE(s.lit().empty()) << "code " << code;
        }
    }
    s.clear();
    drawText(s.s, ink, 0, 0, "abc{~");
    EXPECT_TRUE(s.lit().empty());
}

TEST(Font, GlyphsClipAtTheSurfaceEdges) {
    // A glyph at x 637 draws its three leftmost columns; one at y -2 draws its lower three rows.
    Surface s;
    s.clear();
    drawGlyph(s.s, '&', 637, 100, ink);
    std::set<std::pair<int, int>> expect;
    for (int x = 637; x < 640; ++x)
        for (int y = 100; y < 105; ++y) expect.insert({x, y});
    EXPECT_EQ(s.lit(), expect);

    s.clear();
    drawGlyph(s.s, '&', 10, -2, ink);
    expect.clear();
    for (int x = 10; x < 15; ++x)
        for (int y = 0; y < 3; ++y) expect.insert({x, y});
    EXPECT_EQ(s.lit(), expect);
}

TEST(Font, TextAdvancesSixPixelsAndKeepsWhatIsBehindIt) {
    // Character i is drawn at x + 6i; pixels between the strokes keep the band colour underneath.
    Surface s(100, 20);
    s.clear();
    const uint32_t band = 0xFF545D66;
    fillRect(s.s, 0, 0, 100, 20, band);
    drawText(s.s, ink, 10, 3, "O1");
    EXPECT_EQ(glyphRows(s.s, 10, 3, ink), (std::vector<int>{0x1F, 0x11, 0x11, 0x11, 0x1F}));
    EXPECT_EQ(glyphRows(s.s, 16, 3, ink), (std::vector<int>{0x02, 0x06, 0x0A, 0x02, 0x02}));
    EXPECT_EQ(s.at(12, 5), band);  // inside the O
    EXPECT_EQ(s.at(15, 3), band);  // the spacing column
    EXPECT_EQ(s.at(16, 3), band);  // a clear pixel of the 1
    EXPECT_EQ(s.at(9, 3), band);
}

TEST(Line, EndPointsIncludedAndDirectionDoesNotMatter) {
    // A line from (10,10) to (10,10) sets one pixel; (5,2)-(0,0) sets the same pixels as (0,0)-(5,2).
    Surface s(20, 20);
    s.clear();
    drawLine(s.s, 10, 10, 10, 10, ink);
    EXPECT_EQ(s.lit(), (std::set<std::pair<int, int>>{{10, 10}}));

    // Worked by hand from the stepping rule: error starts at -(5/2), y steps once error > 0.
    const std::set<std::pair<int, int>> shallow{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}};
    s.clear();
    drawLine(s.s, 0, 0, 5, 2, ink);
    EXPECT_EQ(s.lit(), shallow);
    s.clear();
    drawLine(s.s, 5, 2, 0, 0, ink);
    EXPECT_EQ(s.lit(), shallow);

    // Steep lines step along y with x and y swapped.
    const std::set<std::pair<int, int>> steep{{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}, {2, 5}};
    s.clear();
    drawLine(s.s, 0, 0, 2, 5, ink);
    EXPECT_EQ(s.lit(), steep);
    s.clear();
    drawLine(s.s, 2, 5, 0, 0, ink);
    EXPECT_EQ(s.lit(), steep);
}

TEST(Line, PixelsOffTheSurfaceAreSkippedOneByOne) {
    // A line partly off the surface draws only its visible pixels; one wholly outside draws nothing.
    Surface s(20, 10);
    s.clear();
    drawLine(s.s, -5, 3, 30, 3, ink);
    std::set<std::pair<int, int>> row;
    for (int x = 0; x < 20; ++x) row.insert({x, 3});
    EXPECT_EQ(s.lit(), row);
    s.clear();
    drawLine(s.s, 25, -4, 40, -1, ink);
    drawLine(s.s, -1, 0, -1, 9, ink);
    drawLine(s.s, 0, 10, 19, 10, ink);
    EXPECT_TRUE(s.lit().empty());
}

TEST(Fill, RectanglesClipAndNonPositiveSizesDrawNothing) {
    // Fills are clipped at the surface; zero or negative sizes and huge values never wrap.
    Surface s(20, 10);
    s.clear();
    fillRect(s.s, 5, 5, 0, 3, ink);
    fillRect(s.s, 5, 5, 3, -3, ink);
    fillRect(s.s, 5, 5, -100000, 100000, ink);
    EXPECT_TRUE(s.lit().empty());
    fillRect(s.s, 18, -100000, 100000, 100003, ink);
    std::set<std::pair<int, int>> expect;
    for (int x = 18; x < 20; ++x)
        for (int y = 0; y < 3; ++y) expect.insert({x, y});
    EXPECT_EQ(s.lit(), expect);
    s.clear();
    fillRect(s.s, 70000, 2, 5, 5, ink);  // beyond a 16-bit coordinate
    fillRect(s.s, 2, -70000, 5, 5, ink);
    EXPECT_TRUE(s.lit().empty());
}

TEST(Surface, DrawingAtEveryEdgeTouchesNeitherPitchPaddingNorMemoryAfterTheSurface) {
    // Drawing respects the surface's pitch and edges: padding bytes and bytes past the last row stay untouched.
    const int w = 64, h = 40, pitch = 4 * w + 36, guardRows = 3;
    std::vector<uint8_t> memory(size_t(pitch) * (h + guardRows), 0xA5);
    SDL_Surface* s = SDL_CreateRGBSurfaceFrom(memory.data(), w, h, 32, pitch, 0xFF0000, 0xFF00, 0xFF, 0);
    ASSERT_NE(s, nullptr);
    for (int x : {-6, -4, -2, 0, w - 3, w - 1, w, w + 2})
        for (int y : {-6, -4, -2, 0, h - 3, h - 1, h, h + 2}) {
            drawGlyph(s, '&', x, y, ink);
            drawText(s, ink, x, y, "&&&&&&&&&&&&&&&&&&&&");
            fillRect(s, x, y, 7, 7, ink);
            drawLine(s, x, y, x + 100, y + 3, ink);
            drawLine(s, x, y, x - 3, y + 100, ink);
        }
    drawLine(s, -1000, -1000, 1000, 1000, ink);
    drawLine(s, 1000, -50, -1000, 80, ink);
    fillRect(s, -1000, -1000, 5000, 5000, ink);
    SDL_FreeSurface(s);

    int padTouched = 0, guardTouched = 0, inside = 0;
    for (int y = 0; y < h + guardRows; ++y)
        for (int b = 0; b < pitch; ++b) {
            const uint8_t v = memory[size_t(y) * pitch + b];
            if (y >= h) guardTouched += v != 0xA5;
            else if (b >= 4 * w) padTouched += v != 0xA5;
            else inside += v != 0xA5;
        }
    EXPECT_EQ(padTouched, 0);
    EXPECT_EQ(guardTouched, 0);
    EXPECT_GT(inside, 0);
}

TEST(Colour, StandardLayoutKeepsTheWordOtherLayoutsGetTheirOwnChannelOrder) {
    // Colours are 0xAARRGGBB; a surface with another mask layout receives the same colour in its own layout.
    Surface argb;
    EXPECT_EQ(mapColour(argb.s->format, 0xFF102030u), 0xFF102030u);
    EXPECT_EQ(mapColour(argb.s->format, 0x00102030u), 0x00102030u);  // the message colour keeps alpha 0

    Surface abgr(16, 16, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
    abgr.clear();
    drawGlyph(abgr.s, '&', 0, 0, 0xFF102030u);
    drawLine(abgr.s, 0, 8, 15, 8, 0xFF405060u);
    fillRect(abgr.s, 0, 10, 4, 4, 0xFF708090u);
    EXPECT_EQ(abgr.at(2, 2), 0xFF302010u);
    EXPECT_EQ(abgr.at(15, 8), 0xFF605040u);
    EXPECT_EQ(abgr.at(3, 13), 0xFF908070u);

    // No alpha mask: the alpha byte is dropped.
    Surface bgrx(4, 4, 0xFF00, 0xFF0000, 0xFF000000, 0);
    EXPECT_EQ(mapColour(bgrx.s->format, 0xFF102030u), 0x30201000u);

    // Not 32 bits per pixel: left alone.
    SDL_Surface* s16 = SDL_CreateRGBSurface(SDL_SWSURFACE, 4, 4, 16, 0xF800, 0x07E0, 0x001F, 0);
    drawGlyph(s16, '&', 0, 0, ink);
    drawLine(s16, 0, 0, 3, 3, ink);
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

    auto note = [](int n) { return std::string(noteText + 4 * n, 3); };
    EXPECT_EQ(note(0), "A-0");
    EXPECT_EQ(note(1), "A#0");
    EXPECT_EQ(note(2), "B-0");
    EXPECT_EQ(note(3), "C-0");
    EXPECT_EQ(note(12), "A-0");
    EXPECT_EQ(note(14), "B-0");
    EXPECT_EQ(note(15), "C-1");
    EXPECT_EQ(note(49), "A#3");
    EXPECT_EQ(note(194), "B-F");
    EXPECT_EQ(note(195), "C-1");  // octave 0x10: only the leading digit
    EXPECT_EQ(note(255), "C-1");  // (255 - 3) / 12 = 21 = 0x15
}
