// The output level meter at the right.
#include <cmath>

#include "audio/sequencer.h"
#include "ui/draw.h"
#include "ui/frame_signature.h"
#include "ui/palette.h"
#include "ui/panels.h"

// The bar as drawn; false when there is none.
static bool levelBar(int& y, int& height) {
    // The bar grows up from y 471. A level above 1 reaches past the meter and
    // is cut at the screen's top by the fill; the bound keeps the int conversion defined.
    double v = engine.outputLevel.load() * 380.0;
    if (!std::isfinite(v) || v <= 0.0) return false;
    if (v > 100000.0) v = 100000.0;
    y = int(472.0 - v);
    height = int(v);
    return height > 0;  // a bar under one pixel high fills nothing
}

void drawLevelMeter(SDL_Surface* screen) {
    drawBox(screen, 558, 90, 636, 471, palette[frameColour]);
    fillRect(screen, 559, 91, 77, 380, palette[panel]);

    int y, height;
    if (levelBar(y, height)) fillRect(screen, 559, y, 77, height, palette[textDim]);
}

void signLevelMeter(FrameSignature& sig) {
    int y = 0, height = 0;
    sig.put(levelBar(y, height) ? 1u : 0u);
    sig.put(uint32_t(y));
    sig.put(uint32_t(height));
}
