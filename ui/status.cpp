#include "ui/status.h"

#include <cctype>

#include "ui/draw.h"
#include "ui/frame_signature.h"
#include "ui/palette.h"

std::string statusText;
int statusTimer = 0;

void showStatus(const std::string& text) {
    std::string upper;
    for (char c : text) {
        if (c == '\0') break;  // a message ends at its first NUL
        upper += char(std::toupper(static_cast<unsigned char>(c)));
    }
    statusText = upper;
    statusTimer = 500;
}

// Quotient rounded toward minus infinity (the fade moves channels downward too).
static int floorDiv(int a, int b) {
    int q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

void drawStatus(SDL_Surface* screen) {
    if (statusTimer <= 0) return;
    // d runs from 0 for a fresh message towards 256 as it expires (single precision).
    const float t = float(statusTimer) * 0.002f;
    int d = int((1.0f - t) * 256.0f);
    if (d < 0) d = 0;  // a timer above 500 shows the full text colour
    const uint32_t text = palette[textBright], back = palette[background];
    uint32_t colour = 0;  // the alpha byte of the message colour is 0
    for (int shift = 16; shift >= 0; shift -= 8) {
        const int tc = int(text >> shift & 0xFF), bc = int(back >> shift & 0xFF);
        colour |= uint32_t(tc + floorDiv((bc - tc) * d, 256)) << shift;
    }
    drawText(screen, colour, 7, 7, statusText);
}

// The colour follows the timer; the text shows only while it runs.
void signStatus(FrameSignature& sig) {
    const int timer = statusTimer;
    sig.put(uint32_t(timer > 0 ? timer : 0));
    sig.status = timer > 0 ? statusText : std::string();
}
