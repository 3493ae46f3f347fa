// One frame in a real 640x480x32 SDL window, read back from the X server by a
// second client. Runs only when VORNA_XVFB_DISPLAY names a (virtual) X display
// (tests/scripts/window_pixels.sh starts one); skipped otherwise.
#include <gtest/gtest.h>

#include <SDL/SDL.h>
#include <SDL/SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

#include <cstdlib>

#include "audio/sequencer.h"
#include "song/song.h"
#include "ui/draw.h"
#include "ui/frame.h"
#include "ui/palette.h"
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
std::ostream& operator<<(std::ostream& os, const Rgb& c) { return os << "(" << c.r << ", " << c.g << ", " << c.b << ")"; }

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
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[size_t(y) * 640 + x]; }
};

bool capture(Xlib& x, Display* d, Window w, Capture& out) {
    XImage* image = x.getImage(d, w, 0, 0, 640, 480, AllPlanes, ZPixmap);
    if (!image) return false;
    out.pixels.resize(640 * 480);
    for (int yy = 0; yy < 480; ++yy)
        for (int xx = 0; xx < 640; ++xx) {
            const unsigned long p = XGetPixel(image, xx, yy);
            out.pixels[size_t(yy) * 640 + xx] = {channel(p, image->red_mask), channel(p, image->green_mask),
                                                 channel(p, image->blue_mask)};
        }
    XDestroyImage(image);
    return true;
}

class WindowPixels : public ::testing::Test {
protected:
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
        screen = SDL_SetVideoMode(640, 480, 32, SDL_SWSURFACE);
        ASSERT_NE(screen, nullptr) << SDL_GetError();
        ASSERT_EQ(screen->format->BitsPerPixel, 32);
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        ASSERT_EQ(SDL_GetWMInfo(&info), 1);
        window = info.info.x11.window;
        display = xlib.openDisplay(name);  // a second client, as a screen grabber would be
        ASSERT_NE(display, nullptr);

        initSong();
        buildTextTables();
        setPalette(60, 70, 80);
        fadeCounter = 300;
        statusText = "SAVED";
        statusTimer = 500;
        outputLevel = 0.5;
    }
    void TearDown() override {
        if (display) xlib.closeDisplay(display);
        if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_Quit();
        statusTimer = 0;
        outputLevel = 0.0;
    }

    // Draws and flips until the server shows the frame (the window may take a moment to map).
    Capture showFrame(Rgb expectAtOrigin) {
        Capture c;
        for (int attempt = 0; attempt < 30; ++attempt) {
            drawFrame(screen);
            SDL_Flip(screen);
            SDL_PumpEvents();
            SDL_Delay(100);
            if (capture(xlib, display, window, c) && c.at(0, 0) == expectAtOrigin) break;
        }
        return c;
    }
};

}  // namespace

TEST_F(WindowPixels, FrameReachesTheWindowAtTheLayoutPositions) {
    // A drawn and flipped frame shows on the server with the default theme's colours at the section positions.
    const Capture c = showFrame({60, 70, 80});
    ASSERT_FALSE(c.pixels.empty());
    EXPECT_EQ(c.at(0, 0), (Rgb{60, 70, 80}));        // background
    EXPECT_EQ(c.at(106, 77), (Rgb{132, 151, 171}));  // pattern frame corner
    EXPECT_EQ(c.at(108, 87), (Rgb{216, 255, 255}));  // row 00, beat colour
    EXPECT_EQ(c.at(122, 79), (Rgb{240, 245, 252}));  // "CHANNEL" of channel 0
    EXPECT_EQ(c.at(121, 78), (Rgb{102, 110, 120}));  // header band of the cursor channel
    EXPECT_EQ(c.at(121, 86), (Rgb{132, 140, 148}));  // cursor box, row 0 column 0
    EXPECT_EQ(c.at(41, 30), (Rgb{102, 110, 120}));   // scope of the cursor channel
    EXPECT_EQ(c.at(50, 45), (Rgb{180, 186, 194}));   // silent trace on the centre line
    EXPECT_EQ(c.at(7, 7), (Rgb{240, 245, 252}));     // fresh message, top-left of S
    EXPECT_EQ(c.at(95, 97), (Rgb{216, 255, 255}));   // speed 3
    EXPECT_EQ(c.at(540, 78), (Rgb{84, 93, 102}));    // order title band, no focus
    EXPECT_EQ(c.at(600, 200), (Rgb{84, 93, 102}));   // meter background
    EXPECT_EQ(c.at(600, 300), (Rgb{180, 186, 194})); // meter bar at level 0.5 (from y 282)
}

TEST_F(WindowPixels, StartUpFadeHalfwayShowsHalfTheTheme) {
    // At fadeCounter 150 the base colour is (30, 35, 40); the frame lines are 2.2, 2.17, 2.14 times that.
    fadeCounter = 150;
    const Capture c = showFrame({30, 35, 40});
    ASSERT_FALSE(c.pixels.empty());
    EXPECT_EQ(c.at(0, 0), (Rgb{30, 35, 40}));
    EXPECT_EQ(c.at(106, 77), (Rgb{66, 75, 85}));
}
