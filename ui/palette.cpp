#include "ui/palette.h"

uint32_t palette[PaletteSize];

static int clampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

uint32_t packColour(int r, int g, int b) {
    return 0xFF000000u | uint32_t(clampByte(r)) << 16 | uint32_t(clampByte(g)) << 8 | uint32_t(clampByte(b));
}

// Whole-number factors multiply as integers, the others in double and truncate.
static int scaled(int base, double factor) { return int(base * factor); }

void setPalette(int R, int G, int B) {
    palette[background] = packColour(R, G, B);
    palette[textBright] = packColour(4 * R, scaled(G, 3.5), scaled(B, 3.15));
    palette[textDim] = packColour(3 * R, scaled(G, 2.67), scaled(B, 2.43));
    palette[panel] = packColour(scaled(R, 1.4), scaled(G, 1.33), scaled(B, 1.286));
    palette[panelLit] = packColour(scaled(R, 1.7), scaled(G, 1.58), scaled(B, 1.5));
    palette[volumeColour] = packColour(scaled(R, 0.9), 4 * G, scaled(B, 0.715));
    palette[effectColour] = packColour(scaled(R, 4.8), scaled(G, 0.875), 3 * B);
    palette[paramColour] = packColour(scaled(R, 3.4), scaled(G, 3.67), B);
    palette[frameColour] = packColour(scaled(R, 2.2), scaled(G, 2.17), scaled(B, 2.14));
    palette[beatColour] = packColour(scaled(R, 3.6), 4 * G, scaled(B, 3.43));
    palette[cursorColour] = packColour(scaled(R, 2.2), 2 * G, scaled(B, 1.857));
    palette[blockColour] = packColour(R / 2, G / 2, B / 2);
}
