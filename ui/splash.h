#pragma once
struct SDL_Surface;

// The start-up splash from "splash.dat". 0: ended or a key was pressed (also
// when there is no usable picture); -1: the window was closed.
int showSplash(SDL_Surface* screen);
