#pragma once
#include <cstdint>

struct SDL_Surface;
struct SDL_PixelFormat;

// The start-up splash from the picture at `path`. 0: ended or a key was
// pressed (also when there is no usable picture); -1: the window was closed.
int showSplash(SDL_Surface* screen, const char* path = "splash.dat");

// The pieces of the splash, usable without a window.

// Loads a BMP and converts it to `format` (nullptr: the display's format, which
// needs a video mode). nullptr when the file is missing or unreadable, smaller
// than 300x300, or cannot be converted to 32-bit pixels.
SDL_Surface* loadSplashPicture(const char* path, SDL_PixelFormat* format);

// One frame's progress. Starts at c = 200, phase 0; phase 2 means done.
void splashStep(float& c, int& phase);

// The weight of the screen against the picture (0 = picture, 256 = screen).
int splashAlpha(float c, int phase);

// One colour channel: picture s over screen d, floor(s + (d - s) * alpha / 256).
int splashBlend(int s, int d, int alpha);

// Fills the screen black and draws the picture for c and phase (0 or 1).
void drawSplashFrame(SDL_Surface* screen, SDL_Surface* picture, float c, int phase);
