#pragma once
// The screen sections, each drawn whole every frame over the background fill.
// Beside each draw routine, its sign routine adds every input the section's
// pixels are made from to the frame signature (ui/frame_signature.h).
struct SDL_Surface;
struct FrameSignature;

void drawScopes(SDL_Surface* screen);       // ui/scopes.cpp: eight channel oscilloscopes, y 20..70
void drawPatternView(SDL_Surface* screen);  // ui/pattern_view.cpp: the 64-row grid, x 106..534
void drawParameters(SDL_Surface* screen);   // ui/parameters.cpp: speed and octave, x 3..101, y 77..113
void drawMenu(SDL_Surface* screen);         // ui/menu.cpp: the function-key legend, y 118..186
void drawOrderList(SDL_Surface* screen);    // ui/order_list.cpp: the 64 order slots, x 539..553
void drawLevelMeter(SDL_Surface* screen);   // ui/level_meter.cpp: output level bar, x 558..636

void signScopes(FrameSignature& sig);       // ui/scopes.cpp
void signPatternView(FrameSignature& sig);  // ui/pattern_view.cpp
void signParameters(FrameSignature& sig);   // ui/parameters.cpp
void signMenu(FrameSignature& sig);         // ui/menu.cpp
void signOrderList(FrameSignature& sig);    // ui/order_list.cpp
void signLevelMeter(FrameSignature& sig);   // ui/level_meter.cpp
