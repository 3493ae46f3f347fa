#pragma once
#include <string>
struct SDL_Surface;

// The modal filename box. Returns the typed name, or "" on Escape, on an empty
// Enter, or when the window is closed (which also clears `running`).
std::string promptFilename(SDL_Surface* screen, const std::string& title, bool& running);
