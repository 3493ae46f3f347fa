#pragma once
// Hardware scan codes. Under X11, SDL 1.2 hands over the X keycode, which for
// the keys of the main block is the PC set-1 scan code plus 8; note entry and
// the key echo want the set-1 code itself, whatever the keyboard layout.
#include <cstdint>

// The set-1 scan code of an X keycode; 0 for keycodes that have none.
uint8_t setOneScanCode(uint8_t xKeycode);
