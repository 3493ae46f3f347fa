// The MENU panel: a fixed legend of the function keys.
#include "ui/draw.h"
#include "ui/frame_signature.h"
#include "ui/palette.h"
#include "ui/panels.h"

void drawMenu(SDL_Surface* screen) {
    drawBox(screen, 3, 118, 101, 186, palette[frameColour]);
    drawLine(screen, 3, 126, 101, 126, palette[frameColour]);  // under the title
    fillRect(screen, 4, 119, 97, 7, palette[panel]);
    drawText(screen, palette[textBright], 5, 120, "MENU");
    // The entries are 8 pixels apart; F7..F9 lead with a space so the key
    // names line up at the right with F10..F12.
    static const char* const entries[] = {"PAU MUTE", " F7 COPY", " F8 PASTE", " F9 EXPORT",
                                          "F10 LOAD", "F11 SAVE", "F12 QUIT"};
    for (int i = 0; i < 7; ++i) drawText(screen, palette[textBright], 5, 130 + 8 * i, entries[i]);
}

// The legend never changes: only the palette, which the frame adds, colours it.
void signMenu(FrameSignature&) {}
