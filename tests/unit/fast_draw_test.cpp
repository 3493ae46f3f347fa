// The quick drawing paths (whole glyphs, straight lines, row fills) against
// plain per-pixel references, everywhere on a small surface with padded rows:
// inside, across every edge and wholly outside.
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ui/draw.h"

namespace {

constexpr int W = 23, H = 17, Pitch = 4 * W + 12;  // padded rows: pitch is not 4 * width
constexpr uint32_t Back = 0x11223344u, Ink = 0xFFA0B0C0u, Pad = 0xDEADBEEFu;

// A surface over our own memory, so the padding after each row can be checked.
struct Canvas {
    std::vector<uint32_t> words = std::vector<uint32_t>(size_t(Pitch / 4) * H, Pad);
    SDL_Surface* s;
    Canvas(uint32_t r = 0xFF0000, uint32_t g = 0xFF00, uint32_t b = 0xFF)
        : s(SDL_CreateRGBSurfaceFrom(words.data(), W, H, 32, Pitch, r, g, b, 0)) {
        clear();
    }
    ~Canvas() { SDL_FreeSurface(s); }
    Canvas(const Canvas&) = delete;
    void clear() {
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) at(x, y) = Back;
    }
    uint32_t& at(int x, int y) { return words[size_t(y) * (Pitch / 4) + x]; }
    // The reference's one primitive: one pixel, skipped when off the surface.
    void plot(int x, int y, uint32_t v) {
        if (x >= 0 && y >= 0 && x < W && y < H) at(x, y) = v;
    }
};

}  // namespace

TEST(FastDraw, GlyphsEverywhereMatchPixelByPixelDrawing) {
    // A glyph sets exactly the font's pixels of its 5x5 box that fall on the surface, whatever its position.
    Canvas fast, ref;
    for (int code = 28; code < 100; ++code)
        for (int y = -6; y <= H + 1; ++y)
            for (int x = -6; x <= W + 1; ++x) {
                fast.clear();
                ref.clear();
                drawGlyph(fast.s, static_cast<signed char>(code), x, y, Ink);
                if (const uint8_t* g = glyphPixels(code))
                    for (int j = 0; j < GlyphSize; ++j)
                        for (int i = 0; i < GlyphSize; ++i)
                            if (g[j * GlyphSize + i]) ref.plot(x + i, y + j, Ink);
                ASSERT_EQ(fast.words, ref.words) << "code " << code << " at " << x << "," << y;
            }
}

TEST(FastDraw, TextRunsAcrossTheRightEdgeMatchGlyphByGlyph) {
    // A text is its characters six pixels apart, each clipped on its own.
    Canvas fast, ref;
    const char* text = "AZ09?_&";
    for (int x = -40; x <= W; x += 3) {
        fast.clear();
        ref.clear();
        drawText(fast.s, Ink, x, 6, text);
        for (int i = 0; text[i]; ++i) {
            const uint8_t* g = glyphPixels(text[i]);
            for (int j = 0; j < GlyphSize; ++j)
                for (int k = 0; k < GlyphSize; ++k)
                    if (g[j * GlyphSize + k]) ref.plot(x + GlyphAdvance * i + k, 6 + j, Ink);
        }
        ASSERT_EQ(fast.words, ref.words) << "x " << x;
    }
}

TEST(FastDraw, StraightLinesAreEveryPixelBetweenTheirEndPoints) {
    // A vertical or horizontal line covers both end points and all between, clipped at the surface.
    Canvas fast, ref;
    for (int a = -4; a <= H + 3; ++a)
        for (int b = -4; b <= H + 3; ++b)
            for (int x : {-1, 0, 5, W - 1, W}) {
                fast.clear();
                ref.clear();
                drawLine(fast.s, x, a, x, b, Ink);
                for (int y = std::min(a, b); y <= std::max(a, b); ++y) ref.plot(x, y, Ink);
                ASSERT_EQ(fast.words, ref.words) << "vertical x " << x << " from " << a << " to " << b;
            }
    for (int a = -4; a <= W + 3; ++a)
        for (int b = -4; b <= W + 3; ++b)
            for (int y : {-1, 0, 7, H - 1, H}) {
                fast.clear();
                ref.clear();
                drawLine(fast.s, a, y, b, y, Ink);
                for (int x = std::min(a, b); x <= std::max(a, b); ++x) ref.plot(x, y, Ink);
                ASSERT_EQ(fast.words, ref.words) << "horizontal y " << y << " from " << a << " to " << b;
            }
}

TEST(FastDraw, FillsMatchSdlsOwnFillInsideTheClipRectangle) {
    // A fill covers its rectangle cut to the surface and its clip rectangle, as SDL_FillRect does.
    Canvas fast, ref(0xFF, 0xFF00, 0xFF0000);  // and a second colour layout below
    Canvas fastBgr(0xFF, 0xFF00, 0xFF0000);
    const SDL_Rect clips[] = {{0, 0, W, H}, {3, 2, 11, 9}};
    for (const SDL_Rect& clip : clips) {
        SDL_Rect c = clip;
        SDL_SetClipRect(fast.s, &c);
        SDL_SetClipRect(fastBgr.s, &c);
        SDL_SetClipRect(ref.s, &c);
        for (int x = -5; x <= W + 2; x += 2)
            for (int y = -5; y <= H + 2; y += 3)
                for (int w : {0, 1, 4, 9, 40})
                    for (int h : {1, 3, 30}) {
                        fast.clear();
                        fastBgr.clear();
                        ref.clear();
                        fillRect(fast.s, x, y, w, h, Ink);
                        fillRect(fastBgr.s, x, y, w, h, Ink);
                        // Reference: the clipped rectangle through SDL, colour mapped by SDL.
                        const int x0 = std::max(x, 0), y0 = std::max(y, 0);
                        const int x1 = std::min(x + w, W), y1 = std::min(y + h, H);
                        if (x0 < x1 && y0 < y1) {
                            SDL_Rect r{Sint16(x0), Sint16(y0), Uint16(x1 - x0), Uint16(y1 - y0)};
                            SDL_FillRect(ref.s, &r, SDL_MapRGB(ref.s->format, 0xA0, 0xB0, 0xC0));
                        }
                        ASSERT_EQ(fastBgr.words, ref.words) << x << "," << y << " " << w << "x" << h;
                        // The standard layout takes the colour word unchanged.
                        for (int py = 0; py < H; ++py)
                            for (int px = 0; px < W; ++px)
                                ASSERT_EQ(fast.at(px, py), ref.at(px, py) == Back ? Back : Ink);
                    }
        fast.clear();
        ref.clear();
        fillSurface(fast.s, Ink);
        SDL_FillRect(ref.s, nullptr, 0xFFA0B0C0u);  // same layout for the whole-surface fill
        for (int py = 0; py < H; ++py)
            for (int px = 0; px < W; ++px) ASSERT_EQ(fast.at(px, py), ref.at(px, py) == Back ? Back : 0xFFA0B0C0u);
    }
    // The padding after each row is never written.
    for (int y = 0; y < H; ++y)
        for (int k = W; k < Pitch / 4; ++k) EXPECT_EQ(fast.words[size_t(y) * (Pitch / 4) + k], Pad);
}
