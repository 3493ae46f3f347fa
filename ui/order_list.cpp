// The order list column right of the pattern view.
#include "song/song.h"
#include "ui/draw.h"
#include "ui/frame_signature.h"
#include "ui/palette.h"
#include "ui/panels.h"

void drawOrderList(SDL_Surface* screen) {
    drawBox(screen, 539, 77, 636, 85, palette[frameColour]);   // the title
    drawBox(screen, 539, 85, 553, 471, palette[frameColour]);  // the slots

    const bool focused = editor.cursorChannel < 0;
    fillRect(screen, 540, 78, 96, 7, palette[focused ? panelLit : panel]);
    drawText(screen, palette[textBright], 541, 79, "ORDER(CTRL+TAB)");

    const int pos = transport.orderPos;
    fillRect(screen, 540, 86 + 6 * pos, 13, 7, palette[panel]);
    if (focused) fillRect(screen, 540 + 6 * (editor.cursorColumn & 1), 86 + 6 * pos, 7, 7, palette[cursorColour]);

    for (int k = 0; k < OrderSlots; ++k) {
        const int value = song.orders[k];
        // Every byte a file can hold has a text; anything else is shown as unknown.
        const char* chars = value == OrderEmpty ? ".." : (value >= 0 && value <= 255) ? hexByteText + 2 * value : "??";
        drawChars(screen, chars, 2, 541, 87 + 6 * k, palette[textBright]);
    }
}

void signOrderList(FrameSignature& sig) {
    const bool focused = editor.cursorChannel < 0;
    sig.put(focused ? 1u : 0u);
    sig.put(focused ? uint32_t(editor.cursorColumn & 1) : 0u);  // the digit the cursor box stands on
    sig.put(uint32_t(transport.orderPos.load()));
    for (int k = 0; k < OrderSlots; ++k) sig.put(uint32_t(song.orders[k].load()));
}
