// The start-up splash: the picture swims into place through a fading wave,
// rests, then bursts outward while it fades to black.
//
// Sections: loading the picture, progress and blending, drawing a frame,
// the splash loop.
#include "ui/splash.h"

#include <SDL.h>

#include <cmath>
#include <vector>

#include "platform/platform.h"
#include "ui/pacing.h"
#include "ui/scale_frame.h"

static const int PictureSide = 300;  // only the top-left 300x300 pixels are used
static const std::size_t PictureFileMax = 64 << 20;  // far above any 32-bit picture a screen shows

// ---- loading the picture --------------------------------------------------

SDL_Surface* loadSplashPicture(const char* path, SDL_PixelFormat* format) {
    // Read through the platform layer: SDL would take the name in Windows'
    // 8-bit code page, and would wait for a writer on a FIFO.
    std::vector<uint8_t> bytes;
    if (!readRegularFile(path, PictureFileMax, bytes) || bytes.empty()) return nullptr;
    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), int(bytes.size()));
    if (!rw) return nullptr;
    SDL_Surface* loaded = SDL_LoadBMP_RW(rw, 1);  // closes rw whatever happens
    if (!loaded) return nullptr;
    if (loaded->w < PictureSide || loaded->h < PictureSide) {
        SDL_FreeSurface(loaded);
        return nullptr;
    }
    SDL_Surface* converted = format ? SDL_ConvertSurface(loaded, format, SDL_SWSURFACE) : SDL_DisplayFormat(loaded);
    SDL_FreeSurface(loaded);
    if (!converted) return nullptr;
    // The blend reads 8-bit channels out of 32-bit words.
    if (converted->format->BytesPerPixel != 4 || converted->w < PictureSide || converted->h < PictureSide) {
        SDL_FreeSurface(converted);
        return nullptr;
    }
    return converted;
}

// ---- progress and blending ------------------------------------------------

void splashStep(float& c, int& phase) {
    if (c > 0) {
        c -= 3;
        if (c < 0) c = 0;
        // The burst's last frame (c below 100) is drawn as c = 0, which is the
        // same picture (spread 300, no wobble phase) and ends the phase next frame.
        if (phase == 1 && c < 100) c = 0;
    } else {
        ++phase;
        c = 600;
    }
}

// The burst's spread: 0 while resting, growing to 300.
static double burstSpread(float c) {
    float s = 400 - c;
    if (s < 0) s = 0;
    if (s > 300) s = 300;
    return s;
}

int splashAlpha(float c, int phase) {
    if (phase == 0) return int(double(c) * double(0.005f) * 256);
    return int(burstSpread(c) * double(1.0f / 300.0f) * 256);
}

int splashBlend(int s, int d, int alpha) {
    int x = (d - s) * alpha;
    int q = x / 256;
    if (x % 256 != 0 && x < 0) --q;  // the quotient goes toward minus infinity
    return s + q;
}

// ---- drawing a frame ------------------------------------------------------

struct PixelTarget {
    uint8_t* pixels;
    int pitch;
    int w, h;
    int rShift, gShift, bShift;
};

static PixelTarget targetOf(SDL_Surface* s) {
    const SDL_PixelFormat* f = s->format;
    return {static_cast<uint8_t*>(s->pixels), s->pitch, s->w, s->h, f->Rshift, f->Gshift, f->Bshift};
}

static inline uint32_t pixelAt(const PixelTarget& t, int x, int y) {
    return *reinterpret_cast<const uint32_t*>(t.pixels + y * t.pitch + 4 * x);
}

// Blends picture pixel (u, v) over screen pixel (x, y); off-screen pixels are dropped.
static inline void blendOnto(const PixelTarget& screen, const PixelTarget& pic, int u, int v, int x, int y, int alpha) {
    if (x < 0 || y < 0 || x >= screen.w || y >= screen.h) return;
    uint32_t s = pixelAt(pic, u, v);
    uint32_t* dp = reinterpret_cast<uint32_t*>(screen.pixels + y * screen.pitch + 4 * x);
    uint32_t d = *dp;
    int r = splashBlend(int(s >> pic.rShift & 0xFF), int(d >> screen.rShift & 0xFF), alpha);
    int g = splashBlend(int(s >> pic.gShift & 0xFF), int(d >> screen.gShift & 0xFF), alpha);
    int b = splashBlend(int(s >> pic.bShift & 0xFF), int(d >> screen.bShift & 0xFF), alpha);
    // Only the colour bytes are written: the fourth byte of the result is 0.
    *dp = uint32_t(r) << screen.rShift | uint32_t(g) << screen.gShift | uint32_t(b) << screen.bShift;
}

// Phase 0: a wave whose strength falls with c; undistorted at (170, 100) when c = 0.
static void drawWave(const PixelTarget& screen, const PixelTarget& pic, float c) {
    const double k = 0.0001f;
    const double cd = c;
    const int alpha = splashAlpha(c, 0);
    // The sine depends only on the row and the cosine only on the column.
    double shiftX[PictureSide], shiftY[PictureSide];
    for (int i = 0; i < PictureSide; ++i) {
        shiftX[i] = 100 * std::sin(i * cd * k);
        shiftY[i] = 100 * std::cos(i * cd * k);
    }
    for (int u = 0; u < PictureSide; ++u) {
        for (int v = 0; v < PictureSide; ++v) {
            int x = int(shiftX[v] + u + 170);
            int y = int(shiftY[u] + v);
            blendOnto(screen, pic, u, v, x, y, alpha);
        }
    }
}

// Phase 1: at rest while c >= 400, then spreads about (330, 220) with a wobble.
static void drawBurst(const PixelTarget& screen, const PixelTarget& pic, float c) {
    const double s = burstSpread(c);
    const double p = c < 100 ? 0.0 : double(c) * double(0.01f);
    const double k133 = 1.0f / 133.0f;
    const double k01 = 0.01f;
    const int alpha = splashAlpha(c, 1);
    double wobble[PictureSide];  // 0.1 * s * sin(i / 4 + p), the same along both axes
    for (int i = 0; i < PictureSide; ++i) wobble[i] = 0.1 * s * std::sin(i / 4.0 + p);
    for (int b = 0; b < PictureSide; ++b) {
        double w = (b - 160) * s * k01;
        double q = wobble[b];
        for (int a = 0; a < PictureSide; ++a) {
            int x = int(wobble[a] + w + b + 170);
            int y = int((a - 120) * s * k133 + a + q + 100);
            blendOnto(screen, pic, b, a, x, y, alpha);
        }
    }
}

void drawSplashFrame(SDL_Surface* screen, SDL_Surface* picture, float c, int phase) {
    SDL_FillRect(screen, nullptr, 0);
    if (phase != 0 && phase != 1) return;
    if (!picture || picture->w < PictureSide || picture->h < PictureSide || picture->format->BytesPerPixel != 4 ||
        screen->format->BytesPerPixel != 4)
        return;
    if (SDL_MUSTLOCK(screen) && SDL_LockSurface(screen) != 0) return;
    if (SDL_MUSTLOCK(picture) && SDL_LockSurface(picture) != 0) {
        if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
        return;
    }
    PixelTarget to = targetOf(screen);
    PixelTarget from = targetOf(picture);
    if (phase == 0)
        drawWave(to, from, c);
    else
        drawBurst(to, from, c);
    if (SDL_MUSTLOCK(picture)) SDL_UnlockSurface(picture);
    if (SDL_MUSTLOCK(screen)) SDL_UnlockSurface(screen);
}

// ---- the splash loop ------------------------------------------------------

static int runSplash(SDL_Surface* screen, SDL_Surface* picture) {
    float c = 200;
    int phase = 0;
    Uint32 lastTick = SDL_GetTicks();
    for (;;) {
        Uint32 frameStart = SDL_GetTicks();
        // Input in 10 ms ticks, like the main loop.
        while (frameStart - lastTick > TickMs) {
            SDL_Event event;
            while (SDL_PollEvent(&event)) {
                if (event.type == SDL_KEYDOWN) return 0;
                if (event.type == SDL_QUIT) return -1;
            }
            lastTick += TickMs;
        }
        splashStep(c, phase);
        if (phase >= 2) {
            SDL_FillRect(screen, nullptr, 0);
            return 0;
        }
        drawSplashFrame(screen, picture, c, phase);
        showScreen(screen);
        Uint32 elapsed = SDL_GetTicks() - frameStart;
        if (elapsed < FrameMs) SDL_Delay(FrameMs - elapsed);
    }
}

int showSplash(SDL_Surface* screen, const char* path) {
    // No usable picture: no splash, straight to the editor.
    SDL_Surface* picture = loadSplashPicture(path, nullptr);
    if (!picture) return 0;
    int result = runSplash(screen, picture);
    SDL_FreeSurface(picture);
    return result;
}
