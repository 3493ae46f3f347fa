#pragma once
// Screen composition: the start-up fade, the panels, one whole frame, and
// the signature that lets an unchanged frame go undrawn.
#include <cstdint>
#include <string>

#include "song/song.h"
#include "ui/palette.h"
#include "ui/panels.h"

struct SDL_Surface;

extern int fadeCounter;  // ui/frame.cpp: start-up fade progress; 300 or more ends it

void fadeStep();                       // sets the palette while the fade runs
void drawPanels(SDL_Surface* screen);  // scopes, pattern view, parameters, menu, order list, status
void drawFrame(SDL_Surface* screen);   // fade step, background fill, drawPanels, level meter (no flip)

// Every input a frame's pixels are made from, as the drawing routines read
// them. Two equal signatures mean two identical frames.
struct FrameSignature {
    static constexpr int Words = PaletteSize + 10 + ChannelCount + ChannelCount * RowsPerPattern * 4 +
                                 OrderSlots + ChannelCount * ScopeTraceLength + 3;
    uint32_t words[Words];
    std::string status;  // the message text while it shows, else empty
};
bool operator==(const FrameSignature& a, const FrameSignature& b);
// Takes the signature of the frame that drawFrame would draw now (runs the fade step first).
void takeFrameSignature(FrameSignature& out);

// Set when something other than the main frame drew on the screen (the
// prompt, an export's progress frames) or the window needs repainting: the
// next frame is drawn whatever its signature.
extern bool frameStale;  // ui/frame.cpp

// Draws the frame unless it would be identical to the last one drawn here;
// returns whether it drew (and so the screen needs a flip).
bool drawFrameIfChanged(SDL_Surface* screen);
