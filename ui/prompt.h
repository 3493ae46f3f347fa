#pragma once
#include <string>
struct SDL_Surface;
union SDL_Event;

// The modal filename box. Returns the typed name, or "" on Escape, on an empty
// Enter, or when the window is closed (which also clears `running`).
std::string promptFilename(SDL_Surface* screen, const std::string& title, bool& running);

// The pieces of the prompt, usable without a window.

constexpr int PromptMaxLength = 32;  // the field shows 32 characters

enum class PromptAction { Continue, Confirm, Cancel };

// Applies one event to the typed text: Enter confirms, Escape and a window
// close cancel (the close also clears `running`), Backspace removes the last
// character, and a typed A-Z, a-z (upper-cased), 0-9 or _ is appended.
PromptAction promptHandleEvent(const SDL_Event& event, std::string& typed, bool& running);

// One prompt frame without the flip: the screen with every panel, greyed, and
// the box with the title, the typed text and the text cursor.
void drawPromptFrame(SDL_Surface* screen, const std::string& title, const std::string& typed);
