#pragma once
// The message line: one upper-case message that fades out over 500 ticks.
#include <string>

struct SDL_Surface;
struct FrameSignature;

extern std::string statusText;  // ui/status.cpp
extern int statusTimer;         // ui/status.cpp: ticks left; lowered by the main loop

void showStatus(const std::string& text);
void drawStatus(SDL_Surface* screen);
void signStatus(FrameSignature& sig);  // the message and its fade step, for the frame signature
