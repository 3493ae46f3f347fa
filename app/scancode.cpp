#include "app/scancode.h"

// X keycodes 9..96 are set-1 codes 1..88 (Escape .. F12) moved up by 8.
static constexpr int FirstPlainKeycode = 9;
static constexpr int LastPlainKeycode = 96;
static constexpr int KeycodeOffset = 8;

// The keys a PC keyboard sends with an E0 (or E1) prefix have keycodes of
// their own above 96. The byte that follows the prefix is what a set-1 scan
// code of these keys means, as on a PC.
struct ExtendedKey {
    uint8_t keycode;
    uint8_t scanCode;
};
static const ExtendedKey extendedKeys[] = {
    {104, 0x1C},  // keypad Enter
    {105, 0x1D},  // right Ctrl
    {106, 0x35},  // keypad /
    {107, 0x37},  // Print Screen
    {108, 0x38},  // right Alt
    {110, 0x47},  // Home
    {111, 0x48},  // Up
    {112, 0x49},  // Page Up
    {113, 0x4B},  // Left
    {114, 0x4D},  // Right
    {115, 0x4F},  // End
    {116, 0x50},  // Down
    {117, 0x51},  // Page Down
    {118, 0x52},  // Insert
    {119, 0x53},  // Delete
    {127, 0x45},  // Pause (E1 1D 45)
    {133, 0x5B},  // left Windows key
    {134, 0x5C},  // right Windows key
    {135, 0x5D},  // Menu
};

uint8_t setOneScanCode(uint8_t xKeycode) {
    if (xKeycode >= FirstPlainKeycode && xKeycode <= LastPlainKeycode)
        return static_cast<uint8_t>(xKeycode - KeycodeOffset);
    for (const ExtendedKey& k : extendedKeys)
        if (k.keycode == xKeycode) return k.scanCode;
    // Below 9 X has no keys; anything else has no set-1 code.
    return 0;
}
