#pragma once
// The theme colours, all derived from the song's base colour.
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
    blockColour,  // behind a marked block: darker than the background, so every digit reads at least as well
    PaletteSize
};

// Packed 0xAARRGGBB, alpha 0xFF. Drawing code converts to the surface's format.
extern uint32_t palette[PaletteSize];  // ui/palette.cpp

uint32_t packColour(int r, int g, int b);
void setPalette(int red, int green, int blue);
