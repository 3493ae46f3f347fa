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

void drawPanels(SDL_Surface* screen) {
    drawScopes(screen);
    drawPatternView(screen);
    drawParameters(screen);
    drawMenu(screen);
    drawOrderList(screen);
    drawStatus(screen);
}

bool operator==(const FrameSignature& a, const FrameSignature& b) {
    for (int i = 0; i < FrameSignature::Words; ++i)
        if (a.words[i] != b.words[i]) return false;
    return a.status == b.status;
}

void takeFrameSignature(FrameSignature& out) {
    fadeStep();  // the palette as the frame will use it
    uint32_t* w = out.words;
    for (int i = 0; i < PaletteSize; ++i) *w++ = palette[i];
    // The message colour follows the timer; the text shows only while it runs.
    const int timer = statusTimer;
    *w++ = uint32_t(timer > 0 ? timer : 0);
    out.status = timer > 0 ? statusText : std::string();
    *w++ = uint32_t(cursorChannel);
    *w++ = uint32_t(cursorColumn);
    *w++ = uint32_t(currentRow.load());
    const int32_t pattern = currentPattern.load();
    *w++ = uint32_t(pattern);
    *w++ = uint32_t(orderPos.load());
    *w++ = uint32_t(song.speed.load());
    *w++ = uint32_t(octave);
    *w++ = 0;  // spare
    *w++ = 0;
    for (int c = 0; c < ChannelCount; ++c) *w++ = muted[c] ? 1u : 0u;
    // The cells of the pattern shown; a pattern number outside the song shows empty cells.
    const bool valid = pattern >= 0 && pattern < PatternCount;
    for (int c = 0; c < ChannelCount; ++c)
        for (int r = 0; r < RowsPerPattern; ++r) {
            if (!valid) {
                for (int k = 0; k < 4; ++k) *w++ = 0;
                continue;
            }
            const Cell& cell = song.channels[c].cells[pattern * RowsPerPattern + r];
            *w++ = uint32_t(cell.note.load());
            *w++ = uint32_t(cell.volume.load());
            *w++ = uint32_t(cell.effect.load());
            *w++ = uint32_t(cell.effectParam.load());
        }
    for (int k = 0; k < OrderSlots; ++k) *w++ = uint32_t(song.orders[k].load());
    for (int c = 0; c < ChannelCount; ++c) {
        int ys[ScopeTraceLength];
        scopeTrace(c, ys);
        for (int j = 0; j < ScopeTraceLength; ++j) *w++ = uint32_t(ys[j]);
    }
    int barY = 0, barHeight = 0;
    *w++ = levelBar(barY, barHeight) ? 1u : 0u;
    *w++ = uint32_t(barY);
    *w++ = uint32_t(barHeight);
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
    drawLevelMeter(screen);
    if (lock) SDL_UnlockSurface(screen);
}
