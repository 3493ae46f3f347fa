#pragma once
// A key press handed to the key commands as the main loop hands on a
// key-down: a fresh key record, then dispatchKey.
#include <cstdint>

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
