// One frame in a real 640x480x32 SDL window, read back from the X server by a
// second client. Runs only when VORNA_XVFB_DISPLAY names a (virtual) X display
// (tests/scripts/window_pixels.sh starts one); skipped otherwise.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

#include <cstdlib>

#include "audio/sequencer.h"
#include "song/song.h"
#include "tests/support/surfaces.h"
#include "ui/scale_frame.h"
#include "ui/status.h"

namespace {

// Xlib is loaded at run time, so the test binary needs no X library to link.
struct Xlib {
    void* handle = nullptr;
    Display* (*openDisplay)(const char*) = nullptr;
    int (*closeDisplay)(Display*) = nullptr;
    XImage* (*getImage)(Display*, Drawable, int, int, unsigned, unsigned, unsigned long, int) = nullptr;
    bool load() {
        handle = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (!handle) return false;
        openDisplay = reinterpret_cast<decltype(openDisplay)>(dlsym(handle, "XOpenDisplay"));
        closeDisplay = reinterpret_cast<decltype(closeDisplay)>(dlsym(handle, "XCloseDisplay"));
        getImage = reinterpret_cast<decltype(getImage)>(dlsym(handle, "XGetImage"));
        return openDisplay && closeDisplay && getImage;
    }
    ~Xlib() {
        if (handle) dlclose(handle);
    }
};

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
};
std::ostream& operator<<(std::ostream& os, const Rgb& c) {
    return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

int channel(unsigned long pixel, unsigned long mask) {
    if (!mask) return 0;
    while (!(mask & 1)) {
        mask >>= 1;
        pixel >>= 1;
    }
    return int(pixel & mask);
}

// The window's pixels as the X server holds them.
struct Capture {
    int width = 640;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

bool capture(Xlib& x, Display* d, Window w, Capture& out, int width = 640, int height = 480) {
    XImage* image = x.getImage(d, w, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    if (!image) return false;
    out.width = width;
    out.pixels.resize(size_t(width) * size_t(height));
    for (int yy = 0; yy < height; ++yy)
        for (int xx = 0; xx < width; ++xx) {
            const unsigned long p = XGetPixel(image, xx, yy);
            out.pixels[size_t(yy) * size_t(width) + size_t(xx)] = {
                channel(p, image->red_mask), channel(p, image->green_mask), channel(p, image->blue_mask)};
        }
    XDestroyImage(image);
    return true;
}

class WindowPixels : public ::testing::Test {
protected:
    virtual void openWindow() { screen = SDL_SetVideoMode(640, 480, 32, SDL_SWSURFACE); }

    Xlib xlib;
    Display* display = nullptr;
    SDL_Surface* screen = nullptr;
    Window window = 0;

    void SetUp() override {
        const char* name = std::getenv("VORNA_XVFB_DISPLAY");
        if (!name || !*name) GTEST_SKIP() << "VORNA_XVFB_DISPLAY not set";
        setenv("DISPLAY", name, 1);
        ASSERT_TRUE(xlib.load());
        // A fresh virtual server may refuse a connection for a moment (while it resets): retry briefly.
        int init = -1;
        for (int attempt = 0; attempt < 50 && init != 0; ++attempt) {
            init = SDL_Init(SDL_INIT_VIDEO);
            if (init != 0) SDL_Delay(100);
        }
        ASSERT_EQ(init, 0) << SDL_GetError();
        openWindow();
        ASSERT_NE(screen, nullptr) << SDL_GetError();
        ASSERT_EQ(screen->format->BitsPerPixel, 32);
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        ASSERT_EQ(SDL_GetWMInfo(&info), 1);
        window = info.info.x11.window;
        display = xlib.openDisplay(name);  // a second client, as a screen grabber would be
        ASSERT_NE(display, nullptr);

        initSong();
        restingScreen();
        statusText = "SAVED";
        statusTimer = 500;
        engine.outputLevel = 0.5;
    }
    void TearDown() override {
        if (screen && screen != windowSurface && windowSurface) SDL_FreeSurface(screen);  // an offscreen frame
        frameSurfaceFor(nullptr, FrameLayout());
        if (display) xlib.closeDisplay(display);
        if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_Quit();
        statusTimer = 0;
        engine.outputLevel = 0.0;
    }

    // Shows the frame until the server has it: `expect` at (x, y) of a capture of w x h (the window may
    // take a moment to map).
    Capture showUntil(Rgb expect, int x = 0, int y = 0, int w = 640, int h = 480) {
        Capture c;
        for (int attempt = 0; attempt < 30; ++attempt) {
            showScreen(screen);
            SDL_PumpEvents();
            SDL_Delay(100);
            if (capture(xlib, display, window, c, w, h) && c.at(x, y) == expect) break;
        }
        return c;
    }
    Capture showFrame(Rgb expectAtOrigin) {
        drawFrame(screen);
        return showUntil(expectAtOrigin);
    }
};

// The window as the editor opens it with scale "auto": on the 1280x1024
// virtual screen that is twice the frame.
class ScaledWindowPixels : public WindowPixels {
protected:
    void openWindow() override {
        bool fellBack = true;
        screen = openFrameWindow(false, ScaleAuto, fellBack);
        EXPECT_FALSE(fellBack);
    }
};

}  // namespace

TEST_F(WindowPixels, FrameReachesTheWindowAtTheLayoutPositions) {
    // A drawn and flipped frame shows on the server with the default theme's colours at the section positions.
    const Capture c = showFrame({60, 70, 80});
    ASSERT_FALSE(c.pixels.empty());
    EXPECT_EQ(c.at(0, 0), (Rgb{60, 70, 80}));         // background
    EXPECT_EQ(c.at(106, 77), (Rgb{132, 151, 171}));   // pattern frame corner
    EXPECT_EQ(c.at(108, 87), (Rgb{216, 255, 255}));   // row 00, beat colour
    EXPECT_EQ(c.at(122, 79), (Rgb{240, 245, 252}));   // "CHANNEL" of channel 0
    EXPECT_EQ(c.at(121, 78), (Rgb{102, 110, 120}));   // header band of the cursor channel
    EXPECT_EQ(c.at(121, 86), (Rgb{132, 140, 148}));   // cursor box, row 0 column 0
    EXPECT_EQ(c.at(41, 30), (Rgb{102, 110, 120}));    // scope of the cursor channel
    EXPECT_EQ(c.at(50, 45), (Rgb{180, 186, 194}));    // silent trace on the centre line
    EXPECT_EQ(c.at(7, 7), (Rgb{240, 245, 252}));      // fresh message, top-left of S
    EXPECT_EQ(c.at(95, 97), (Rgb{216, 255, 255}));    // speed 3
    EXPECT_EQ(c.at(540, 78), (Rgb{84, 93, 102}));     // order title band, no focus
    EXPECT_EQ(c.at(600, 200), (Rgb{84, 93, 102}));    // meter background
    EXPECT_EQ(c.at(600, 300), (Rgb{180, 186, 194}));  // meter bar at level 0.5 (from y 282)
}

TEST_F(WindowPixels, StartUpFadeHalfwayShowsHalfTheTheme) {
    // At fadeCounter 150 the base colour is (30, 35, 40); the frame lines are 2.2, 2.17, 2.14 times that.
    fadeCounter = 150;
    const Capture c = showFrame({30, 35, 40});
    ASSERT_FALSE(c.pixels.empty());
    EXPECT_EQ(c.at(0, 0), (Rgb{30, 35, 40}));
    EXPECT_EQ(c.at(106, 77), (Rgb{66, 75, 85}));
}

TEST_F(ScaledWindowPixels, ScaledWindowShowsEveryFramePixelAsATwoByTwoBlock) {
    // With scale auto on a 1280x1024 screen the window is 1280x960 and window pixel (x, y) is frame pixel (x/2, y/2).
    ASSERT_NE(windowSurface, nullptr);
    ASSERT_EQ(windowSurface->w, 1280);
    ASSERT_EQ(windowSurface->h, 960);
    ASSERT_EQ(frameLayout.scale, 2);
    ASSERT_NE(screen, windowSurface);  // drawn offscreen at 640x480
    ASSERT_EQ(screen->w, 640);
    cellAt(3, 0, 10).note = 60;
    drawFrame(screen);
    const Capture c = showUntil({60, 70, 80}, 1279, 959, 1280, 960);
    ASSERT_FALSE(c.pixels.empty());
    const SDL_PixelFormat* f = screen->format;
    int wrong = 0;
    for (int y = 0; y < 960; ++y)
        for (int x = 0; x < 1280; ++x) {
            const uint32_t p = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(screen->pixels) +
                                                                 (y / 2) * screen->pitch)[x / 2];
            const Rgb want{int(p >> f->Rshift & 0xFF), int(p >> f->Gshift & 0xFF), int(p >> f->Bshift & 0xFF)};
            if (!(c.at(x, y) == want) && ++wrong <= 5)
                ADD_FAILURE() << "at " << x << "," << y << ": " << c.at(x, y) << " wanted " << want;
        }
    EXPECT_EQ(wrong, 0);
    // Spot checks against the known layout, doubled: the pattern frame corner and the fresh message's S.
    EXPECT_EQ(c.at(212, 154), (Rgb{132, 151, 171}));
    EXPECT_EQ(c.at(213, 155), (Rgb{132, 151, 171}));
    EXPECT_EQ(c.at(14, 14), (Rgb{240, 245, 252}));
}

TEST_F(WindowPixels, AMarkedBlockChangesTheWindowOnlyInsideItsPatchOfThePatternView) {
    // Marking channel 2's volume to channel 3's effect, rows 10..20, changes the window's pixels only inside
    // x 239..306, y 146..212 of the pattern view, each of them to the highlight (30, 35, 40).
    cellAt(2, 0, 12).volume = 48;
    cellAt(3, 0, 15).note = 60;
    const Capture before = showFrame({60, 70, 80});
    ASSERT_FALSE(before.pixels.empty());
    editor.block = MarkedBlock{true, 0, 10, 9, 20, 14};
    drawFrame(screen);
    const Capture after = showUntil({30, 35, 40}, 239, 146);
    ASSERT_FALSE(after.pixels.empty());
    int changed = 0, outside = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            if (before.at(x, y) == after.at(x, y)) continue;
            ++changed;
            const bool inside = x >= 239 && x <= 306 && y >= 146 && y <= 212;
            if ((!inside || !(after.at(x, y) == Rgb{30, 35, 40})) && ++outside <= 5)
                ADD_FAILURE() << "at " << x << "," << y << ": " << before.at(x, y) << " became " << after.at(x, y);
        }
    EXPECT_GT(changed, 3000);
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(after.at(306, 212), (Rgb{30, 35, 40}));
    EXPECT_EQ(after.at(307, 212), before.at(307, 212));
}
