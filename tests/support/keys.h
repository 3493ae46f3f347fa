#pragma once
// A key press handed to the key commands as the main loop hands on a
// key-down: a fresh key record, then dispatchKey; the key tests' fixture and
// the scan codes they type.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/blocks.h"
#include "app/history.h"
#include "app/keys.h"
#include "app/main_loop.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"

inline void press(int symbol, int modifiers = 0, uint8_t scanCode = 0) {
    mainLoop.heldKey = KeyRecord{};
    mainLoop.heldKey.symbol = symbol;
    mainLoop.heldKey.modifiers = modifiers;
    mainLoop.heldKey.scanCode = scanCode;
    dispatchKey();
}

// Queues the answer to the next filename prompt on SDL's event queue (which
// needs a video mode, see DummyVideo): each character typed, then Return;
// "\x1b" alone queues Escape.
inline void answerPrompt(const std::string& typed) {
    auto key = [](SDLKey symbol, char c) {
        SDL_Event e{};
        e.type = SDL_KEYDOWN;
        e.key.keysym.sym = symbol;
        e.key.keysym.unicode = Uint16(static_cast<unsigned char>(c));
        SDL_PushEvent(&e);
    };
    if (typed == "\x1b") return key(SDLK_ESCAPE, 27);
    for (char c : typed) key(SDLKey(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c), c);
    key(SDLK_RETURN, 13);
}

// Presses a key and tells whether a filename prompt ran (it lets go of the
// held key). A prompt nobody answered meets an Escape, never an endless
// wait; answers left over are thrown away.
inline bool pressAsks(int symbol) {
    answerPrompt("\x1b");
    mainLoop.keyHeld = true;
    press(symbol);
    SDL_Event unused;
    while (SDL_PollEvent(&unused)) {}
    return !mainLoop.keyHeld;
}

// What a key test starts from: a fresh song, editor and history, nothing
// copied, the loop running with a key held, every voice silent at time 1234
// (so a preview shows as a time of 0), no preview waiting for them.
inline void freshKeys() {
    takePreviews();
    initSong();
    resetHistory();
    clearClipboard();
    mainLoop.running = true;
    mainLoop.keyHeld = true;
    mainLoop.repeatCount = 0;
    for (Instrument* v : instruments) {
        v->note = -1;
        v->time = 1234;
        v->freq = 0.0f;
    }
}

// Fresh song and editor, nothing held, the loop running.
struct Keys : ::testing::Test {
    void SetUp() override { freshKeys(); }
};

// Scan codes of a few keys (PC set 1).
constexpr uint8_t ScanZ = 0x2C, ScanS = 0x1F, ScanQ = 0x10, ScanI = 0x17, ScanA = 0x1E, ScanSlash = 0x35;
