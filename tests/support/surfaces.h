#pragma once
// Offscreen 32-bit surfaces, plain or guarded, reading their pixels back,
// and the screen's state after the start-up fade, for the drawing tests and
// benchmarks.
#include <SDL.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "ui/draw.h"
#include "ui/frame.h"
#include "ui/palette.h"

// A 32-bit surface in the window's layout (0x00RRGGBB), 640x480 unless told.
inline SDL_Surface* newScreen(int w = 640, int h = 480) {
    return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0xFF0000, 0x00FF00, 0x0000FF, 0);
}

// A surface freed with its owner.
using OwnedSurface = std::unique_ptr<SDL_Surface, void (*)(SDL_Surface*)>;
inline OwnedSurface owned(SDL_Surface* s) { return OwnedSurface(s, SDL_FreeSurface); }

// The text tables built and the default theme's palette, the start-up fade
// over: what every frame after the first five seconds draws with.
inline void restingScreen() {
    buildTextTables();
    setPalette(60, 70, 80);
    fadeCounter = 300;
}

// One glyph with its top-left pixel at (x, y), as text draws each character.
inline void drawGlyph(SDL_Surface* surface, signed char code, int x, int y, uint32_t argb) {
    const char c = char(code);
    drawChars(surface, &c, 1, x, y, argb);
}

// A 32-bit surface over memory of its own: spare words after each row and
// spare rows before and after it hold Guard until something writes them, so
// a write outside the pixels shows. The pixels start as `fill`.
struct GuardedSurface {
    static constexpr uint32_t Guard = 0xA5A5A5A5u;
    static constexpr int SpareWords = 3, SpareRows = 2;
    int w, h, stride;  // stride in words
    std::vector<uint32_t> words;
    SDL_Surface* s;
    GuardedSurface(int width, int height, uint32_t fill, uint32_t r = 0xFF0000, uint32_t g = 0xFF00, uint32_t b = 0xFF,
                   uint32_t a = 0)
        : w(width),
          h(height),
          stride(width + SpareWords),
          words(size_t(stride) * (height + 2 * SpareRows), Guard),
          s(SDL_CreateRGBSurfaceFrom(&at(0, 0), width, height, 32, 4 * stride, r, g, b, a)) {
        fillPixels(fill);
    }
    ~GuardedSurface() { SDL_FreeSurface(s); }
    GuardedSurface(const GuardedSurface&) = delete;
    GuardedSurface& operator=(const GuardedSurface&) = delete;
    uint32_t& at(int x, int y) { return words[size_t(y + SpareRows) * stride + x]; }
    uint32_t at(int x, int y) const { return words[size_t(y + SpareRows) * stride + x]; }
    void fillPixels(uint32_t v) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) at(x, y) = v;
    }
    // Words written outside the pixels: in the row padding or the rows around.
    int outsideWritten() const {
        int n = 0;
        for (int y = -SpareRows; y < h + SpareRows; ++y)
            for (int x = y >= 0 && y < h ? w : 0; x < stride; ++x) n += at(x, y) != Guard;
        return n;
    }
};

inline uint32_t pixelAt(const SDL_Surface* s, int x, int y) {
    uint32_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(s->pixels) + y * s->pitch + 4 * x, 4);
    return v;
}

// A 5x5 block as five row numbers (0x10 = leftmost pixel), counting only the
// pixels of the given colour: comparable with the font table's rows.
inline std::vector<int> glyphRows(const SDL_Surface* s, int x, int y, uint32_t colour) {
    std::vector<int> rows;
    for (int j = 0; j < 5; ++j) {
        int row = 0;
        for (int i = 0; i < 5; ++i)
            if (pixelAt(s, x + i, y + j) == colour) row |= 0x10 >> i;
        rows.push_back(row);
    }
    return rows;
}
