#pragma once
// Offscreen 32-bit surfaces, reading their pixels back, and the screen's
// state after the start-up fade, for the drawing tests and benchmarks.
#include <SDL.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "ui/draw.h"
#include "ui/frame.h"
#include "ui/palette.h"

// A 32-bit surface in the window's layout (0x00RRGGBB), 640x480 unless told.
inline SDL_Surface* newScreen(int w = 640, int h = 480) {
    return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 32, 0xFF0000, 0x00FF00, 0x0000FF, 0);
}

// The text tables built and the default theme's palette, the start-up fade
// over: what every frame after the first five seconds draws with.
inline void restingScreen() {
    buildTextTables();
    setPalette(60, 70, 80);
    fadeCounter = 300;
}

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
