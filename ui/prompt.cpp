// The modal filename prompt: its own event loop over the greyed screen.
//
// Sections: typing, drawing a frame, the prompt loop.
#include "ui/prompt.h"

#include <SDL.h>

#include "audio/sequencer.h"
#include "ui/draw.h"
#include "ui/frame.h"
#include "ui/pacing.h"
#include "ui/palette.h"
#include "ui/scale_frame.h"

// ---- typing ---------------------------------------------------------------

// Only characters that can form a file name on every system.
static bool nameCharacter(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'; }

PromptAction promptHandleEvent(const SDL_Event& event, std::string& typed, bool& running) {
    if (event.type == SDL_QUIT) {
        running = false;  // the main loop ends once the caller returns
        return PromptAction::Cancel;
    }
    if (event.type != SDL_KEYDOWN) return PromptAction::Continue;
    const SDL_keysym& key = event.key.keysym;
    if (key.sym == SDLK_RETURN) return PromptAction::Confirm;
    if (key.sym == SDLK_ESCAPE) return PromptAction::Cancel;
    if (key.sym == SDLK_BACKSPACE && !typed.empty()) {
        typed.pop_back();
        return PromptAction::Continue;
    }
    // Anything beyond 7-bit ASCII (accented letters ...) is dropped.
    if ((key.unicode & ~0x7F) != 0 || typed.size() >= size_t(PromptMaxLength)) return PromptAction::Continue;
    char c = char(key.unicode & 0x7F);
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (nameCharacter(c)) typed += c;
    return PromptAction::Continue;
}

// ---- drawing a frame ------------------------------------------------------

// Every pixel becomes the grey (r + g + b) / 5; the fourth byte is kept.
static void greyOut(SDL_Surface* screen) {
    const SDL_PixelFormat* f = screen->format;
    if (f->BytesPerPixel != 4) return;
    const uint32_t colourBits = f->Rmask | f->Gmask | f->Bmask;
    for (int y = 0; y < screen->h; ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(screen->pixels) + y * screen->pitch);
        for (int x = 0; x < screen->w; ++x) {
            const uint32_t p = row[x];
            const uint32_t grey = ((p >> f->Rshift & 0xFF) + (p >> f->Gshift & 0xFF) + (p >> f->Bshift & 0xFF)) / 5;
            row[x] = (p & ~colourBits) | grey << f->Rshift | grey << f->Gshift | grey << f->Bshift;
        }
    }
}

// Pixels are written directly only while a surface that needs it is locked.
static bool lockScreen(SDL_Surface* screen) { return !SDL_MUSTLOCK(screen) || SDL_LockSurface(screen) == 0; }
static void unlockScreen(SDL_Surface* screen) {
    if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
}

void drawPromptFrame(SDL_Surface* screen, const std::string& title, const std::string& typed) {
    SDL_FillRect(screen, nullptr, mapColour(screen->format, palette[background]));
    if (!lockScreen(screen)) return;
    drawPanels(screen);  // no level meter behind the prompt
    greyOut(screen);
    unlockScreen(screen);

    fillRect(screen, 222, 231, 195, 17, palette[frameColour]);  // the box's outline
    fillRect(screen, 223, 232, 193, 7, palette[panel]);         // title band
    fillRect(screen, 223, 240, 193, 7, palette[background]);    // input field

    if (!lockScreen(screen)) return;
    drawText(screen, palette[textBright], 224, 233, title);
    drawText(screen, palette[textBright], 224, 241, typed);
    unlockScreen(screen);
    // The cursor stands after the text until the field is full.
    if (typed.size() < size_t(PromptMaxLength))
        fillRect(screen, 224 + GlyphAdvance * int(typed.size()), 241, 5, 5, palette[textBright]);
}

// ---- the prompt loop ------------------------------------------------------

std::string promptFilename(SDL_Surface* screen, const std::string& title, bool& running) {
    std::string typed;
    // The greyed frame is drawn again only when the name or the frame behind changes.
    FrameSignature shown, now;
    std::string shownTyped;
    bool stale = true;
    // Whatever way the prompt ends, the main loop repaints over its box.
    struct Repaint {
        ~Repaint() { frameStale = true; }
    } repaint;
    for (;;) {
        const Uint32 frameStart = SDL_GetTicks();
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_VIDEOEXPOSE) stale = true;
            switch (promptHandleEvent(event, typed, running)) {
            case PromptAction::Confirm: return typed;
            case PromptAction::Cancel: return std::string();
            case PromptAction::Continue: break;
            }
        }
        // Without a stream the song plays on behind the box, as it would with one.
        keepTimeWithoutStream(SDL_GetTicks());
        takeFrameSignature(now);
        if (stale || typed != shownTyped || !(now == shown)) {
            drawPromptFrame(screen, title, typed);
            showScreen(screen);
            shown = now;
            shownTyped = typed;
            stale = false;
        }
        // Paced like the main loop's frames instead of spinning a whole core.
        const Uint32 elapsed = SDL_GetTicks() - frameStart;
        if (elapsed < FrameMs) SDL_Delay(FrameMs - elapsed);
    }
}
