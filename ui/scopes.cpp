// The eight channel oscilloscopes across the top of the screen.
#include <cmath>

#include "song/song.h"
#include "ui/draw.h"
#include "ui/frame_signature.h"
#include "ui/palette.h"
#include "ui/panels.h"

static constexpr int TraceLength = 80;  // one sample per pixel column of a scope box

// Trace end for one sample. Samples beyond +-1 draw past the box (the line
// routine clips at the screen); the bound only keeps the conversion defined.
static int traceY(float s) {
    if (!std::isfinite(s)) return 45;
    if (s > 1000.0f) s = 1000.0f;
    if (s < -1000.0f) s = -1000.0f;
    return int(s * 25.0f + 45.0f);
}

// The trace end y per column of one channel's box, oldest sample first.
static void scopeTrace(int channel, int ys[TraceLength]) {
    const ScopeBuffer& scope = song.channels[channel].scope;
    // The ring's own numbers are kept by the audio thread; stay inside the array whatever they hold.
    int length = scope.length;
    if (length <= 0 || length > ScopeLength) length = ScopeLength;
    int start = scope.writeIndex.load() % length;
    if (start < 0) start += length;
    for (int j = 0; j < TraceLength; ++j)  // oldest sample first
        ys[j] = traceY(scope.samples[(start + j) % length].load());
}

void drawScopes(SDL_Surface* screen) {
    for (int c = 0; c < ChannelCount; ++c) {
        const int x0 = 80 * c;
        fillRect(screen, x0, 20, 80, 50, palette[c == editor.cursorChannel ? panelLit : panel]);
        drawLine(screen, x0, 20, x0 + 80, 20, palette[frameColour]);
        drawLine(screen, x0, 70, x0 + 80, 70, palette[frameColour]);
        drawLine(screen, x0, 20, x0, 70, palette[frameColour]);

        int ys[TraceLength];
        scopeTrace(c, ys);
        for (int j = 0; j < TraceLength; ++j) drawLine(screen, x0 + j, 45, x0 + j, ys[j], palette[textDim]);
    }
    drawLine(screen, 639, 20, 639, 70, palette[frameColour]);  // closes the last box
}

// The lit box and every trace as drawn.
void signScopes(FrameSignature& sig) {
    sig.put(uint32_t(editor.cursorChannel));
    for (int c = 0; c < ChannelCount; ++c) {
        int ys[TraceLength];
        scopeTrace(c, ys);
        for (int j = 0; j < TraceLength; ++j) sig.put(uint32_t(ys[j]));
    }
}
