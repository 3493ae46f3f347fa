#pragma once
// A key press handed to the key commands as the main loop hands on a
// key-down: a fresh key record, then dispatchKey.
#include <cstdint>

#include "app/keys.h"
#include "app/main_loop.h"

inline void press(int symbol, int modifiers = 0, uint8_t scanCode = 0) {
    mainLoop.heldKey = KeyRecord{};
    mainLoop.heldKey.symbol = symbol;
    mainLoop.heldKey.modifiers = modifiers;
    mainLoop.heldKey.scanCode = scanCode;
    dispatchKey();
}
