// One whole frame: the start-up fade, the background fill and every section.
#include "ui/frame.h"

#include <SDL/SDL.h>

#include "song/song.h"
#include "ui/draw.h"
#include "ui/palette.h"
#include "ui/panels.h"
#include "ui/status.h"

int fadeCounter = 0;

// The theme fades in from black to the default base colour.
static const int fadeStart[3] = {0, 0, 0};
static const int fadeTarget[3] = {60, 70, 80};

void fadeStep() {
    if (fadeCounter >= 300) return;
    // Single precision throughout, components truncated toward zero.
    const float t = float(fadeCounter) * (1.0f / 300.0f);
    int c[3];
    for (int i = 0; i < 3; ++i) c[i] = int(float(fadeTarget[i]) * t + float(fadeStart[i]) * (1.0f - t));
    setPalette(c[0], c[1], c[2]);
}

void drawPanels(SDL_Surface* screen) {
    drawScopes(screen);
    drawPatternView(screen);
    drawParameters(screen);
    drawMenu(screen);
    drawOrderList(screen);
    drawStatus(screen);
}

void drawFrame(SDL_Surface* screen) {
    fadeStep();
    fillSurface(screen, palette[background]);
    // A hardware surface must be locked while its pixels are written directly.
    const bool lock = SDL_MUSTLOCK(screen);
    if (lock && SDL_LockSurface(screen) < 0) return;
    drawPanels(screen);
    drawLevelMeter(screen);
    if (lock) SDL_UnlockSurface(screen);
}
