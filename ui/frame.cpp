// One whole frame: the start-up fade, the background fill and every section.
#include "ui/frame.h"

#include <SDL.h>

#include "song/song.h"
#include "ui/draw.h"
#include "ui/palette.h"
#include "ui/panels.h"
#include "ui/status.h"

int fadeCounter = 0;
bool frameStale = true;

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

// The sections in drawing order, each with the routine that adds what it
// shows to the frame signature: a section drawn is a section signed.
struct ScreenSection {
    void (*draw)(SDL_Surface* screen);
    void (*sign)(FrameSignature& sig);
};
static const ScreenSection panelSections[] = {
    {drawScopes, signScopes}, {drawPatternView, signPatternView}, {drawParameters, signParameters},
    {drawMenu, signMenu},     {drawOrderList, signOrderList},     {drawStatus, signStatus},
};
// Drawn after the panels, and not behind the prompt.
static const ScreenSection levelMeter = {drawLevelMeter, signLevelMeter};

void drawPanels(SDL_Surface* screen) {
    for (const ScreenSection& section : panelSections) section.draw(screen);
}

bool operator==(const FrameSignature& a, const FrameSignature& b) {
    if (a.overflowed || b.overflowed || a.count != b.count) return false;
    for (int i = 0; i < a.count; ++i)
        if (a.words[i] != b.words[i]) return false;
    return a.status == b.status;
}

void takeFrameSignature(FrameSignature& out) {
    fadeStep();  // the palette as the frame will use it
    out.clear();
    for (int i = 0; i < PaletteSize; ++i) out.put(palette[i]);
    for (const ScreenSection& section : panelSections) section.sign(out);
    levelMeter.sign(out);
}

bool drawFrameIfChanged(SDL_Surface* screen) {
    static FrameSignature shown, now;
    takeFrameSignature(now);
    if (!frameStale && now == shown) return false;
    drawFrame(screen);
    shown = now;
    frameStale = false;
    return true;
}

void drawFrame(SDL_Surface* screen) {
    fadeStep();
    fillSurface(screen, palette[background]);
    // A hardware surface must be locked while its pixels are written directly.
    const bool lock = SDL_MUSTLOCK(screen);
    if (lock && SDL_LockSurface(screen) < 0) return;
    drawPanels(screen);
    levelMeter.draw(screen);
    if (lock) SDL_UnlockSurface(screen);
}
