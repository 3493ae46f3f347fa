#pragma once
// Screen composition: the start-up fade, the panels, one whole frame.
struct SDL_Surface;

extern int fadeCounter;  // ui/frame.cpp: start-up fade progress; 300 or more ends it

void fadeStep();                       // sets the palette while the fade runs
void drawPanels(SDL_Surface* screen);  // scopes, pattern view, parameters, menu, order list, status
void drawFrame(SDL_Surface* screen);   // fade step, background fill, drawPanels, level meter (no flip)
