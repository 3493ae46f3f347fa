// The scale step between the drawn 640x480 frame and the window.
//
// Sections: choosing the layout, the frame surface and the window, scaling, showing.
#include "ui/scale_frame.h"

#include <SDL.h>

#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

SDL_Surface* windowSurface = nullptr;
FrameLayout frameLayout;

// ---- choosing the layout --------------------------------------------------

FrameLayout chooseLayout(int setting, bool fullscreen, int desktopWidth, int desktopHeight) {
    const bool known = desktopWidth > 0 && desktopHeight > 0;
    // A window also needs room for its title bar; full screen has the whole desktop.
    const int roomHeight = fullscreen ? desktopHeight : desktopHeight - WindowMargin;
    auto fits = [&](int n) { return FrameWidth * n <= desktopWidth && FrameHeight * n <= roomHeight; };

    FrameLayout layout;
    int n = setting >= 1 ? (setting < MaxScale ? setting : MaxScale) : MaxScale;
    if (setting < 1 && !known) n = 1;  // nothing to fit: the plain frame
    while (n > 1 && known && !fits(n)) --n;
    layout.scale = n;
    layout.width = FrameWidth * n;
    layout.height = FrameHeight * n;
    // A larger frame leaves the display's mode alone.
    if (fullscreen && known && n > 1) {
        layout.width = desktopWidth;
        layout.height = desktopHeight;
        layout.x = (desktopWidth - FrameWidth * n) / 2;
        layout.y = (desktopHeight - FrameHeight * n) / 2;
    }
    return layout;
}

// ---- the frame surface and the window ----------------------------------------------------

SDL_Surface* frameSurfaceFor(SDL_Surface* window, const FrameLayout& layout) {
    windowSurface = window;
    frameLayout = layout;
    if (!window) return nullptr;
    SDL_FillRect(window, nullptr, SDL_MapRGB(window->format, 0, 0, 0));  // the border stays black
    // The plain case draws straight into the window, as without any scaling.
    if (layout.scale == 1 && layout.x == 0 && layout.y == 0 && window->w == FrameWidth && window->h == FrameHeight)
        return window;
    const SDL_PixelFormat* f = window->format;
    return SDL_CreateRGBSurface(SDL_SWSURFACE, FrameWidth, FrameHeight, 32, f->Rmask, f->Gmask, f->Bmask, 0);
}

SDL_Surface* openFrameWindow(bool fullscreen, int scale, bool& fellBack) {
    fellBack = false;
    // Asked before the first mode is set, this is the desktop's own size.
    const SDL_VideoInfo* info = SDL_GetVideoInfo();
    const int desktopWidth = info ? info->current_w : 0, desktopHeight = info ? info->current_h : 0;
    const Uint32 flags = fullscreen ? SDL_FULLSCREEN : 0;
    const FrameLayout layout = chooseLayout(scale, fullscreen, desktopWidth, desktopHeight);
    SDL_Surface* frame = frameSurfaceFor(SDL_SetVideoMode(layout.width, layout.height, 32, flags), layout);
    if (frame || (layout.width == FrameWidth && layout.height == FrameHeight)) return frame;
    fellBack = true;
    return frameSurfaceFor(SDL_SetVideoMode(FrameWidth, FrameHeight, 32, flags), FrameLayout());
}

// ---- scaling --------------------------------------------------------------

static inline uint32_t* rowOf(SDL_Surface* s, int y) {
    return reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(s->pixels) + ptrdiff_t(y) * s->pitch);
}
static inline const uint32_t* rowOf(const SDL_Surface* s, int y) {
    return reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(s->pixels) + ptrdiff_t(y) * s->pitch);
}

// One source row repeated N times across; the count is a constant here, so
// the inner loop unrolls into plain stores.
template <int N>
static void widenRow(const uint32_t* src, int count, uint32_t* out) {
    for (int x = 0; x < count; ++x) {
        const uint32_t p = src[x];
        for (int k = 0; k < N; ++k) out[N * x + k] = p;
    }
}

// Window columns [from, to) of the scaled row whose frame column 0 starts at x0.
static void widenClipped(const uint32_t* src, int scale, int x0, int from, int to, uint32_t* out) {
    for (int dx = from; dx < to; ++dx) out[dx] = src[(dx - x0) / scale];
}

// Copies one finished window row into place. The window is written once and
// read next by the display, never by us: streaming stores skip reading each
// line into the cache first, which is most of the cost of a large window.
static void putRow(uint32_t* to, const uint32_t* from, size_t bytes) {
#if defined(__SSE2__)
    if ((reinterpret_cast<uintptr_t>(to) & 15) == 0 && (reinterpret_cast<uintptr_t>(from) & 15) == 0 &&
        bytes % 64 == 0) {
        auto* d = reinterpret_cast<__m128i*>(to);
        const auto* s = reinterpret_cast<const __m128i*>(from);
        for (size_t i = 0; i < bytes / 16; i += 4) {
            _mm_stream_si128(d + i, _mm_load_si128(s + i));
            _mm_stream_si128(d + i + 1, _mm_load_si128(s + i + 1));
            _mm_stream_si128(d + i + 2, _mm_load_si128(s + i + 2));
            _mm_stream_si128(d + i + 3, _mm_load_si128(s + i + 3));
        }
        return;
    }
#endif
    std::memcpy(to, from, bytes);
}

void scaleFrame(const SDL_Surface* frame, SDL_Surface* window, int scale, int x, int y) {
    if (!frame || !window || scale < 1 || frame->format->BytesPerPixel != 4 || window->format->BytesPerPixel != 4)
        return;
    // The window columns and rows the scaled frame covers, clipped to the window.
    const long right = long(x) + long(frame->w) * scale, bottom = long(y) + long(frame->h) * scale;
    const int from = x < 0 ? 0 : (x > window->w ? window->w : x);
    const int to = right > window->w ? window->w : (right < 0 ? 0 : int(right));
    if (from >= to || y >= window->h || bottom <= 0) return;
    const bool whole = from == x && to == right;
    const size_t rowBytes = size_t(to - from) * 4;

    // Each frame row is widened once into this buffer (it stays in the cache),
    // laid out like the window row from column `from`, then put on its N rows.
    static std::vector<uint32_t> wide;  // kept between frames: the main thread's alone
    wide.resize(size_t(to - from) + 4);
    uint32_t* row = wide.data();
    while ((reinterpret_cast<uintptr_t>(row) & 15) != (reinterpret_cast<uintptr_t>(rowOf(window, 0) + from) & 15))
        ++row;  // same alignment as the window row, so whole vectors line up
    for (int sy = 0; sy < frame->h; ++sy) {
        const long top = long(y) + long(sy) * scale;
        if (top + scale <= 0 || top >= window->h) continue;
        const uint32_t* src = rowOf(frame, sy);
        if (whole && scale == 1)
            std::memcpy(row, src, size_t(frame->w) * 4);
        else if (whole && scale == 2)
            widenRow<2>(src, frame->w, row);
        else if (whole && scale == 3)
            widenRow<3>(src, frame->w, row);
        else if (whole && scale == 4)
            widenRow<4>(src, frame->w, row);
        else
            widenClipped(src, scale, x, from, to, row - from);
        for (int k = 0; k < scale; ++k) {
            const long wy = top + k;
            if (wy >= 0 && wy < window->h) putRow(rowOf(window, int(wy)) + from, row, rowBytes);
        }
    }
#if defined(__SSE2__)
    _mm_sfence();  // the streamed rows are complete before the display reads them
#endif
}

// ---- showing --------------------------------------------------------------

void showScreen(SDL_Surface* frame) {
    if (!windowSurface || frame == windowSurface) {
        SDL_Flip(frame);
        return;
    }
    // A hardware window must be locked while its pixels are written.
    const bool lock = SDL_MUSTLOCK(windowSurface);
    if (lock && SDL_LockSurface(windowSurface) < 0) return;
    scaleFrame(frame, windowSurface, frameLayout.scale, frameLayout.x, frameLayout.y);
    if (lock) SDL_UnlockSurface(windowSurface);
    SDL_Flip(windowSurface);
}
