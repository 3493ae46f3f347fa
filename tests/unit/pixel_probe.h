#pragma once
// Reading pixels back from 32-bit test surfaces.
#include <SDL.h>

#include <cstdint>
#include <cstring>
#include <vector>

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
