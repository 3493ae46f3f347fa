// The PARAMETERS panel: speed and entry octave.
#include <cstdio>
#include <cstring>

#include "song/song.h"
#include "ui/draw.h"
#include "ui/frame_signature.h"
#include "ui/palette.h"
#include "ui/panels.h"

// A value in hex without leading zeros, its last digit at x 95. Values of 16
// and more (a song file's speed byte) keep all their digits and grow to the
// left, so they stay inside the panel's frame; values beyond a byte show "??".
static void drawValue(SDL_Surface* screen, int value, int y) {
    char text[8];
    if (value >= 0 && value <= 255)
        std::snprintf(text, sizeof text, "%X", unsigned(value));
    else
        std::snprintf(text, sizeof text, "??");
    const int digits = int(std::strlen(text));
    drawText(screen, palette[beatColour], 95 - GlyphAdvance * (digits - 1), y, text);
}

void drawParameters(SDL_Surface* screen) {
    drawBox(screen, 3, 77, 101, 113, palette[frameColour]);
    drawLine(screen, 3, 85, 101, 85, palette[frameColour]);  // under the title
    fillRect(screen, 4, 78, 97, 7, palette[panel]);
    drawText(screen, palette[textBright], 5, 79, "PARAMETERS");
    drawText(screen, palette[textBright], 5, 89, "F1/F2 BPM:");
    drawText(screen, palette[beatColour], 83, 89, "N/A");
    drawText(screen, palette[textBright], 5, 97, "F3/F4 SPEED:");
    drawValue(screen, song.speed, 97);
    drawText(screen, palette[textBright], 5, 105, "F5/F6 OCTAVE:");
    drawValue(screen, editor.octave, 105);
}

void signParameters(FrameSignature& sig) {
    sig.put(uint32_t(song.speed.load()));
    sig.put(uint32_t(editor.octave));
}
