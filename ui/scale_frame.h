#pragma once
// Showing the 640x480 frame: drawn as always at 640x480, then, just before
// the flip, either shown as it is or with each pixel as an NxN block,
// centred on black when the video mode is larger than the scaled frame.
#include <cstdint>

struct SDL_Surface;

constexpr int FrameWidth = 640;
constexpr int FrameHeight = 480;
constexpr int ScaleAuto = 0;  // scale setting: the largest that fits the desktop
constexpr int MaxScale = 4;
// Height a window leaves free for its title bar and the desktop's panels.
constexpr int WindowMargin = 48;

// The video mode to ask for and where the scaled frame sits in it.
struct FrameLayout {
    int width = FrameWidth, height = FrameHeight;  // the video mode
    int scale = 1;                                 // each frame pixel is scale x scale
    int x = 0, y = 0;                              // top-left of the scaled frame
};

// The layout for a scale setting (1..MaxScale, or ScaleAuto),
// full screen or not, on a desktop of the given size (0 x 0: not known).
// A scale that does not fit the desktop is lowered until it does. Full
// screen at scale 1 asks for 640x480 as always (SDL takes that mode where
// the display offers it, else centres the frame on black); a larger frame
// takes the desktop's own size, centred on black.
FrameLayout chooseLayout(int setting, bool fullscreen, int desktopWidth, int desktopHeight);

// The window (video mode) surface; null until a mode is set.
extern SDL_Surface* windowSurface;  // ui/scale_frame.cpp
extern FrameLayout frameLayout;     // ui/scale_frame.cpp: how frames reach windowSurface

// The surface frames are drawn on for the window and layout: the window
// itself when it shows the frame unscaled at (0, 0), else a new 640x480
// surface in the window's pixel format (null if it cannot be made). Sets
// windowSurface and frameLayout and paints the window black.
SDL_Surface* frameSurfaceFor(SDL_Surface* window, const FrameLayout& layout);

// Sets the video mode for a scale setting (as chooseLayout) and returns the
// surface frames are drawn on (frameSurfaceFor), or null when no window can
// be had. A scaled mode that cannot be set falls back to the plain 640x480
// one and sets `fellBack`. Asks SDL for the desktop's size, so it must run
// before any other video mode is set.
SDL_Surface* openFrameWindow(bool fullscreen, int scale, bool& fellBack);

// Copies `frame` into `window` with each pixel as a scale x scale block, its
// top-left at (x, y), clipped at the window's edges. Both surfaces are 32
// bits per pixel in the same format (others are left alone); the caller
// locks the window when it must be locked.
void scaleFrame(const SDL_Surface* frame, SDL_Surface* window, int scale, int x, int y);

// Puts a drawn frame on the display: a flip, with the scale step first when
// the frame is not the window itself.
void showScreen(SDL_Surface* frame);
