// Drawing primitives.
//
// Sections: font rows and the expanded font; text tables; colour mapping;
// glyphs and text; lines; fills.
#include "ui/draw.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

// ---------------------------------------------------------------- font

// Five rows per glyph, top first; bit 0x10 is the leftmost pixel.
static constexpr uint8_t fontRows[GlyphCount][GlyphSize] = {
    {0x00, 0x00, 0x00, 0x00, 0x00},  // 32 space
    {0x04, 0x04, 0x04, 0x00, 0x04},  // 33 !
    {0x0A, 0x0A, 0x00, 0x00, 0x00},  // 34 "
    {0x0A, 0x1F, 0x0A, 0x1F, 0x0A},  // 35 #
    {0x1F, 0x14, 0x1F, 0x05, 0x1F},  // 36 $
    {0x11, 0x02, 0x04, 0x08, 0x11},  // 37 %
    {0x1F, 0x1F, 0x1F, 0x1F, 0x1F},  // 38 & (solid block)
    {0x04, 0x04, 0x00, 0x00, 0x00},  // 39 '
    {0x04, 0x08, 0x08, 0x08, 0x04},  // 40 (
    {0x04, 0x02, 0x02, 0x02, 0x04},  // 41 )
    {0x0A, 0x04, 0x0A, 0x00, 0x00},  // 42 *
    {0x00, 0x04, 0x0E, 0x04, 0x00},  // 43 +
    {0x00, 0x00, 0x00, 0x04, 0x04},  // 44 ,
    {0x00, 0x00, 0x0E, 0x00, 0x00},  // 45 -
    {0x00, 0x00, 0x00, 0x00, 0x04},  // 46 .
    {0x01, 0x02, 0x04, 0x08, 0x10},  // 47 /
    {0x1F, 0x11, 0x15, 0x11, 0x1F},  // 48 0
    {0x02, 0x06, 0x0A, 0x02, 0x02},  // 49 1
    {0x1F, 0x01, 0x1F, 0x10, 0x1F},  // 50 2
    {0x1F, 0x01, 0x0F, 0x01, 0x1F},  // 51 3
    {0x11, 0x11, 0x1F, 0x01, 0x01},  // 52 4
    {0x1F, 0x10, 0x1F, 0x01, 0x1F},  // 53 5
    {0x1F, 0x10, 0x1F, 0x11, 0x1F},  // 54 6
    {0x1F, 0x01, 0x01, 0x01, 0x01},  // 55 7
    {0x1F, 0x11, 0x1F, 0x11, 0x1F},  // 56 8
    {0x1F, 0x11, 0x1F, 0x01, 0x1F},  // 57 9
    {0x00, 0x04, 0x00, 0x04, 0x00},  // 58 :
    {0x00, 0x04, 0x00, 0x04, 0x04},  // 59 ;
    {0x02, 0x04, 0x08, 0x04, 0x02},  // 60 <
    {0x00, 0x0E, 0x00, 0x0E, 0x00},  // 61 =
    {0x08, 0x04, 0x02, 0x04, 0x08},  // 62 >
    {0x1F, 0x01, 0x07, 0x00, 0x04},  // 63 ?
    {0x1F, 0x11, 0x17, 0x15, 0x17},  // 64 @
    {0x1F, 0x11, 0x1F, 0x11, 0x11},  // 65 A
    {0x1E, 0x11, 0x1E, 0x11, 0x1E},  // 66 B
    {0x1F, 0x10, 0x10, 0x10, 0x1F},  // 67 C
    {0x1E, 0x11, 0x11, 0x11, 0x1E},  // 68 D
    {0x1F, 0x10, 0x1E, 0x10, 0x1F},  // 69 E
    {0x1F, 0x10, 0x1E, 0x10, 0x10},  // 70 F
    {0x1F, 0x10, 0x17, 0x11, 0x1F},  // 71 G
    {0x11, 0x11, 0x1F, 0x11, 0x11},  // 72 H
    {0x1F, 0x04, 0x04, 0x04, 0x1F},  // 73 I
    {0x1F, 0x01, 0x01, 0x11, 0x0E},  // 74 J
    {0x11, 0x12, 0x1C, 0x12, 0x11},  // 75 K
    {0x10, 0x10, 0x10, 0x10, 0x1F},  // 76 L
    {0x11, 0x1B, 0x15, 0x11, 0x11},  // 77 M
    {0x11, 0x19, 0x15, 0x13, 0x11},  // 78 N
    {0x1F, 0x11, 0x11, 0x11, 0x1F},  // 79 O
    {0x1F, 0x11, 0x1F, 0x10, 0x10},  // 80 P
    {0x1F, 0x11, 0x11, 0x15, 0x1F},  // 81 Q
    {0x1F, 0x11, 0x1F, 0x12, 0x11},  // 82 R
    {0x1F, 0x10, 0x1F, 0x01, 0x1F},  // 83 S
    {0x1F, 0x04, 0x04, 0x04, 0x04},  // 84 T
    {0x11, 0x11, 0x11, 0x11, 0x1F},  // 85 U
    {0x11, 0x11, 0x0A, 0x0A, 0x04},  // 86 V
    {0x11, 0x11, 0x15, 0x1B, 0x11},  // 87 W
    {0x11, 0x0A, 0x04, 0x0A, 0x11},  // 88 X
    {0x11, 0x11, 0x1F, 0x04, 0x04},  // 89 Y
    {0x1F, 0x02, 0x04, 0x08, 0x1F},  // 90 Z
    {0x07, 0x04, 0x04, 0x04, 0x07},  // 91 [
    {0x10, 0x08, 0x04, 0x02, 0x01},  // 92 backslash
    {0x1C, 0x04, 0x04, 0x04, 0x1C},  // 93 ]
    {0x04, 0x0A, 0x11, 0x00, 0x00},  // 94 ^
    {0x00, 0x00, 0x00, 0x00, 0x1F},  // 95 _
};

// The rows expanded to one byte per pixel, built at compile time.
static constexpr std::array<uint8_t, GlyphCount * GlyphSize * GlyphSize> expandFont() {
    std::array<uint8_t, GlyphCount * GlyphSize * GlyphSize> out{};
    for (int g = 0; g < GlyphCount; ++g)
        for (int j = 0; j < GlyphSize; ++j)
            for (int i = 0; i < GlyphSize; ++i) out[g * 25 + j * 5 + i] = (fontRows[g][j] >> (4 - i)) & 1;
    return out;
}
static constexpr auto fontPixels = expandFont();

const uint8_t* glyphPixels(int code) {
    if (code < FirstGlyph || code >= FirstGlyph + GlyphCount) return nullptr;
    return fontPixels.data() + (code - FirstGlyph) * GlyphSize * GlyphSize;
}

// ---------------------------------------------------------------- text tables

char hexByteText[512];
char hexDigitText[16];
char noteText[256 * 4];

void buildTextTables() {
    static const char* const noteNames[12] = {"A-", "A#", "B-", "C-", "C#", "D-", "D#", "E-", "F-", "F#", "G-", "G#"};
    char buf[16];
    for (int v = 0; v < 256; ++v) {
        std::snprintf(buf, sizeof buf, "%02X", v);
        hexByteText[2 * v] = buf[0];
        hexByteText[2 * v + 1] = buf[1];
    }
    for (int v = 0; v < 16; ++v) {
        std::snprintf(buf, sizeof buf, "%X", v);
        hexDigitText[v] = buf[0];
    }
    for (int n = 0; n < 256; ++n) {
        // The octave digit is the first hex digit of (n - 3) / 12, truncated
        // toward zero: notes 0..2 share octave 0 with 3..14, and from 195 on
        // only the leading digit of two is kept.
        std::snprintf(buf, sizeof buf, "%X", (n - 3) / 12);
        noteText[4 * n] = noteNames[n % 12][0];
        noteText[4 * n + 1] = noteNames[n % 12][1];
        noteText[4 * n + 2] = buf[0];
        noteText[4 * n + 3] = '\0';  // never read by the views
    }
}

// ---------------------------------------------------------------- colours

static uint32_t channelBits(uint32_t v8, uint32_t mask, int shift, int loss) { return ((v8 >> loss) << shift) & mask; }

uint32_t mapColour(const SDL_PixelFormat* f, uint32_t argb) {
    if (f->Rmask == 0xFF0000u && f->Gmask == 0xFF00u && f->Bmask == 0xFFu) return argb;
    uint32_t out = channelBits((argb >> 16) & 0xFF, f->Rmask, f->Rshift, f->Rloss) |
                   channelBits((argb >> 8) & 0xFF, f->Gmask, f->Gshift, f->Gloss) |
                   channelBits(argb & 0xFF, f->Bmask, f->Bshift, f->Bloss);
    if (f->Amask) out |= channelBits(argb >> 24, f->Amask, f->Ashift, f->Aloss);
    return out;
}

// ---------------------------------------------------------------- glyphs and text

static bool drawable(const SDL_Surface* s) { return s && s->pixels && s->format && s->format->BytesPerPixel == 4; }

static inline void putPixel(SDL_Surface* s, int x, int y, uint32_t pixel) {
    std::memcpy(static_cast<uint8_t*>(s->pixels) + size_t(y) * s->pitch + 4 * size_t(x), &pixel, 4);
}

// n copies of a pixel, four to a store where the processor has 16-byte stores.
static inline void fillSpan(uint8_t* p, size_t n, uint32_t pixel) {
#ifdef __SSE2__
    const __m128i four = _mm_set1_epi32(int(pixel));
    for (; n >= 4; n -= 4, p += 16) _mm_storeu_si128(reinterpret_cast<__m128i*>(p), four);
#endif
    for (; n > 0; --n, p += 4) std::memcpy(p, &pixel, 4);
}

#ifdef __SSE2__
// Lane masks for the four left pixels of a glyph row, indexed by the row's bits 0x10..0x02.
static constexpr std::array<std::array<uint32_t, 4>, 16> laneMasks() {
    std::array<std::array<uint32_t, 4>, 16> out{};
    for (int m = 0; m < 16; ++m)
        for (int i = 0; i < 4; ++i) out[m][i] = (m >> (3 - i)) & 1 ? 0xFFFFFFFFu : 0u;
    return out;
}
alignas(16) static constexpr auto leftLanes = laneMasks();
#endif

// A glyph wholly inside the surface: straight from the row masks, no per-pixel
// bounds test and no branch on the font's bits (set pixels are blended in,
// clear ones written back unchanged).
static inline void glyphInside(SDL_Surface* s, const uint8_t* rows, int x, int y, uint32_t pixel) {
    uint8_t* line = static_cast<uint8_t*>(s->pixels) + size_t(y) * s->pitch + 4 * size_t(x);
#ifdef __SSE2__
    const __m128i ink = _mm_set1_epi32(int(pixel));
#endif
    for (int j = 0; j < GlyphSize; ++j, line += s->pitch) {
        const unsigned m = rows[j];
#ifdef __SSE2__
        const __m128i mask = _mm_load_si128(reinterpret_cast<const __m128i*>(leftLanes[m >> 1].data()));
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line),
                         _mm_or_si128(_mm_and_si128(mask, ink), _mm_andnot_si128(mask, old)));
#else
        for (int i = 0; i < 4; ++i)
            if (m & (0x10u >> i)) std::memcpy(line + 4 * i, &pixel, 4);
#endif
        uint32_t last;
        std::memcpy(&last, line + 16, 4);
        last = (m & 1) ? pixel : last;
        std::memcpy(line + 16, &last, 4);
    }
}

// Draws with an already mapped pixel value; a glyph crossing an edge is
// clipped pixel by pixel.
static inline void glyphMapped(SDL_Surface* s, int code, int x, int y, uint32_t pixel) {
    if (code < FirstGlyph || code >= FirstGlyph + GlyphCount) return;  // no glyph: nothing drawn
    const int w = s->w, h = s->h;
    if (x >= 0 && y >= 0 && x <= w - GlyphSize && y <= h - GlyphSize) {
        glyphInside(s, fontRows[code - FirstGlyph], x, y, pixel);
        return;
    }
    const uint8_t* g = glyphPixels(code);
    for (int j = 0; j < GlyphSize; ++j) {
        const int py = y + j;
        if (py < 0 || py >= h) continue;
        for (int i = 0; i < GlyphSize; ++i) {
            const int px = x + i;
            if (g[j * 5 + i] && px >= 0 && px < w) putPixel(s, px, py, pixel);
        }
    }
}

void drawChars(SDL_Surface* surface, const char* chars, int count, int x, int y, uint32_t argb) {
    if (!drawable(surface)) return;
    const uint32_t pixel = mapColour(surface->format, argb);
    for (int i = 0; i < count; ++i)
        glyphMapped(surface, static_cast<signed char>(chars[i]), x + GlyphAdvance * i, y, pixel);
}

void drawText(SDL_Surface* surface, uint32_t argb, int x, int y, const char* text) {
    if (!text) return;
    drawChars(surface, text, int(std::strlen(text)), x, y, argb);
}

void drawText(SDL_Surface* surface, uint32_t argb, int x, int y, const std::string& text) {
    drawChars(surface, text.data(), int(text.size()), x, y, argb);
}

// ---------------------------------------------------------------- lines

// Axis-aligned lines are every pixel between the end points (what the
// stepping below gives for them), written as one clipped run.
static void verticalRun(SDL_Surface* s, int x, int ya, int yb, uint32_t pixel) {
    if (ya > yb) std::swap(ya, yb);
    if (x < 0 || x >= s->w) return;
    if (ya < 0) ya = 0;
    if (yb >= s->h) yb = s->h - 1;
    uint8_t* p = static_cast<uint8_t*>(s->pixels) + size_t(ya) * s->pitch + 4 * size_t(x);
    for (int y = ya; y <= yb; ++y, p += s->pitch) std::memcpy(p, &pixel, 4);
}

static void horizontalRun(SDL_Surface* s, int xa, int xb, int y, uint32_t pixel) {
    if (xa > xb) std::swap(xa, xb);
    if (y < 0 || y >= s->h) return;
    if (xa < 0) xa = 0;
    if (xb >= s->w) xb = s->w - 1;
    if (xa > xb) return;
    fillSpan(static_cast<uint8_t*>(s->pixels) + size_t(y) * s->pitch + 4 * size_t(xa), size_t(xb - xa + 1), pixel);
}

void drawLine(SDL_Surface* surface, int x0, int y0, int x1, int y1, uint32_t argb) {
    if (!drawable(surface)) return;
    const uint32_t pixel = mapColour(surface->format, argb);
    if (x0 == x1) return verticalRun(surface, x0, y0, y1, pixel);
    if (y0 == y1) return horizontalRun(surface, x0, x1, y0, pixel);
    const bool steep = std::abs(y1 - y0) > std::abs(x1 - x0);
    if (steep) {
        std::swap(x0, y0);
        std::swap(x1, y1);
    }
    if (x0 > x1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const int dx = x1 - x0;
    const int dy = std::abs(y1 - y0);
    int error = -(dx / 2);
    const int ystep = y0 < y1 ? 1 : -1;
    int y = y0;
    const int w = surface->w, h = surface->h;
    for (int x = x0; x <= x1; ++x) {
        const int px = steep ? y : x;
        const int py = steep ? x : y;
        if (px >= 0 && py >= 0 && px < w && py < h) putPixel(surface, px, py, pixel);
        error += dy;
        if (error > 0) {
            y += ystep;
            error -= dx;
        }
    }
}

void drawBox(SDL_Surface* surface, int left, int top, int right, int bottom, uint32_t argb) {
    drawLine(surface, left, top, right, top, argb);
    drawLine(surface, left, bottom, right, bottom, argb);
    drawLine(surface, left, top, left, bottom, argb);
    drawLine(surface, right, top, right, bottom, argb);
}

// ---------------------------------------------------------------- fills

// SDL's own fill stores one pixel at a time; a 32-bit surface that needs no
// lock is filled here a row at a time instead, inside the same clip rectangle.
static void fillClipped(SDL_Surface* s, long x0, long y0, long x1, long y1, uint32_t pixel) {
    const SDL_Rect& c = s->clip_rect;
    if (x0 < c.x) x0 = c.x;
    if (y0 < c.y) y0 = c.y;
    if (x1 > long(c.x) + c.w) x1 = long(c.x) + c.w;
    if (y1 > long(c.y) + c.h) y1 = long(c.y) + c.h;
    if (x0 >= x1 || y0 >= y1) return;
    uint8_t* row = static_cast<uint8_t*>(s->pixels) + size_t(y0) * s->pitch + 4 * size_t(x0);
    const size_t n = size_t(x1 - x0);
    for (long y = y0; y < y1; ++y, row += s->pitch) fillSpan(row, n, pixel);
}

static bool ownFill(const SDL_Surface* s) { return drawable(s) && !SDL_MUSTLOCK(s); }

void fillSurface(SDL_Surface* surface, uint32_t argb) {
    if (!surface || !surface->format) return;
    const uint32_t pixel = mapColour(surface->format, argb);
    if (!ownFill(surface)) {
        SDL_FillRect(surface, nullptr, pixel);
        return;
    }
    fillClipped(surface, 0, 0, surface->w, surface->h, pixel);
}

void fillRect(SDL_Surface* surface, int x, int y, int w, int h, uint32_t argb) {
    if (!surface || !surface->format || w <= 0 || h <= 0) return;
    // Clip in int first: SDL's rectangle holds 16-bit fields.
    long x0 = x, y0 = y, x1 = long(x) + w, y1 = long(y) + h;
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > surface->w) x1 = surface->w;
    if (y1 > surface->h) y1 = surface->h;
    if (x0 >= x1 || y0 >= y1) return;
    if (ownFill(surface)) return fillClipped(surface, x0, y0, x1, y1, mapColour(surface->format, argb));
    SDL_Rect r;
    r.x = Sint16(x0);
    r.y = Sint16(y0);
    r.w = Uint16(x1 - x0);
    r.h = Uint16(y1 - y0);
    SDL_FillRect(surface, &r, mapColour(surface->format, argb));
}
