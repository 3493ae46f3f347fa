#pragma once
// The main loop's state, apart from the loop itself: the key commands read
// the held key and end the loop through it (F12), the prompts clear its
// repeat, and the loop (app/main_loop.cpp) runs on it. The main thread's alone.
#include <cstdint>

struct SDL_Surface;

// A copy of the key record of the last key-down, field by field.
struct KeyRecord {
    uint8_t scanCode = 0;  // PC set-1 scan code (translated from the X keycode)
    int symbol = 0;        // SDL key symbol, an SDLK_ value
    int modifiers = 0;     // SDL modifier mask, KMOD_ bits
    uint16_t unicode = 0;  // translated character; no command reads it
};

struct MainLoop {
    bool running = false;           // the loop repeats while set
    bool keyHeld = false;           // heldKey is down and acts on repeat
    KeyRecord heldKey;              // the last key pressed
    int repeatCount = 0;            // ticks since heldKey went down
    uint32_t tickMark = 0;          // time of the last tick, +10 per tick
    SDL_Surface* screen = nullptr;  // the window surface
    bool quitByKey = false;         // the request to end came from F12, not the window
};

extern MainLoop mainLoop;  // app/loop_state.cpp
