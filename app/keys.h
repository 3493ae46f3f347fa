#pragma once
// The keyboard commands: one routine acts on the held key once, through a
// table of commands; every key without a command types into the cell or the
// order slot under the cursor.
#include <cstdint>

// Note offset of each scan code 0..53 (3 = C); 0 means not a note key.
constexpr int NoteKeyCount = 54;
extern const uint8_t NoteKeyTable[NoteKeyCount];  // app/keys.cpp

// The note offset of a scan code; 0 for scan codes of 54 or more.
int noteKeyOffset(uint8_t scanCode);

// Acts on mainLoop.heldKey (app/loop_state.h) once: a command, or typing at the cursor.
void dispatchKey();
