#pragma once
// The eleven theme colours, all derived from the song's base colour.
#include <cstdint>

enum PaletteRole {
    background,
    textBright,
    textDim,
    panel,
    panelLit,
    volumeColour,
    effectColour,
    paramColour,
    frameColour,
    beatColour,
    cursorColour,
    PaletteSize
};

// Packed 0xAARRGGBB, alpha 0xFF. Drawing code converts to the surface's format.
extern uint32_t palette[PaletteSize];  // ui/palette.cpp

uint32_t packColour(int r, int g, int b);
void setPalette(int red, int green, int blue);
