#pragma once
// Screen composition: the start-up fade, the panels, one whole frame, and
// the signature that lets an unchanged frame go undrawn.
#include "song/song.h"
#include "ui/frame_signature.h"
#include "ui/palette.h"
#include "ui/panels.h"

struct SDL_Surface;

extern int fadeCounter;  // ui/frame.cpp: start-up fade progress; 300 or more ends it

void fadeStep();                       // sets the palette while the fade runs
void drawPanels(SDL_Surface* screen);  // scopes, pattern view, parameters, menu, order list, status
void drawFrame(SDL_Surface* screen);   // fade step, background fill, drawPanels, level meter (no flip)

// Takes the signature of the frame that drawFrame would draw now (runs the
// fade step first): the palette, then every section's own words.
void takeFrameSignature(FrameSignature& out);

// Set when something other than the main frame drew on the screen (the
// prompt, an export's progress frames) or the window needs repainting: the
// next frame is drawn whatever its signature.
extern bool frameStale;  // ui/frame.cpp

// Draws the frame unless it would be identical to the last one drawn here;
// returns whether it drew (and so the screen needs a flip).
bool drawFrameIfChanged(SDL_Surface* screen);
