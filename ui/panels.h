#pragma once
// The screen sections, each drawn whole every frame over the background fill.
struct SDL_Surface;

void drawScopes(SDL_Surface* screen);       // ui/scopes.cpp: eight channel oscilloscopes, y 20..70
void drawPatternView(SDL_Surface* screen);  // ui/pattern_view.cpp: the 64-row grid, x 106..534
void drawParameters(SDL_Surface* screen);   // ui/parameters.cpp: speed and octave, x 3..101, y 77..113
void drawMenu(SDL_Surface* screen);         // ui/menu.cpp: the function-key legend, y 118..186
void drawOrderList(SDL_Surface* screen);    // ui/order_list.cpp: the 64 order slots, x 539..553
void drawLevelMeter(SDL_Surface* screen);   // ui/level_meter.cpp: output level bar, x 558..636

// What the scopes and the meter will draw, for the frame signature.
constexpr int ScopeTraceLength = 80;
void scopeTrace(int channel, int ys[ScopeTraceLength]);  // ui/scopes.cpp: trace end y per column, oldest first
bool levelBar(int& y, int& height);                      // ui/level_meter.cpp: false when no bar is drawn
