// Keyboard commands and pattern editing.
//
//   1. note key table
//   2. small helpers: digits, field writes that mark the song changed, advance, select
//   3. channel-focus and order-focus actions
//   4. typing into a cell or an order slot
//   5. file commands and the rest
//   6. the command table and dispatchKey
#include "app/keys.h"

#include <SDL.h>

#include <cstdlib>
#include <string>

#include "app/main_loop.h"
#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "song/song_file.h"
#include "ui/palette.h"
#include "ui/prompt.h"

// ---- 1. note key table ------------------------------------------------------

// Two piano rows: Z S X D C V G B H N J M , L . ; / from C, and
// Q 2 W 3 E R 5 T 6 Y 7 U I 9 O 0 P [ = ] from the C an octave up.
const uint8_t NoteKeyTable[NoteKeyCount] = {
    0,  0,  0,  16, 18, 0,  21, 23, 25, 0,   // 0x00-0x09: keys 2 3 5 6 7
    28, 30, 0,  33, 0,  0,  15, 17, 19, 20,  // 0x0A-0x13: keys 9 0 = Q W E R
    22, 24, 26, 27, 29, 31, 32, 34, 0,  0,   // 0x14-0x1D: keys T Y U I O P [ ]
    0,  4,  6,  0,  9,  11, 13, 0,  16, 18,  // 0x1E-0x27: keys S D G H J L ;
    0,  0,  0,  0,  3,  5,  7,  8,  10, 12,  // 0x28-0x31: keys Z X C V B N
    14, 15, 17, 19,                          // 0x32-0x35: keys M , . /
};

int noteKeyOffset(uint8_t scanCode) { return scanCode < NoteKeyCount ? NoteKeyTable[scanCode] : 0; }

// ---- 2. helpers -------------------------------------------------------------

static constexpr int HighestNote = 194;  // notes of 195 and above are refused
static constexpr int VolumeMax = 80;     // shown as 40
static constexpr int VolumeBase = 16;    // stored level = typed level + 16

static bool shiftHeld() { return heldKey.modifiers & KMOD_SHIFT; }
static bool ctrlHeld() { return heldKey.modifiers & KMOD_CTRL; }

// Main keyboard digits only (symbols 48..57); anything else is out of 0..9.
static int typedDigit() { return heldKey.symbol - SDLK_0; }

// 0..15 from 0-9 and a-f; -1 for any other key.
static int typedHexDigit() {
    const int s = heldKey.symbol;
    if (s >= SDLK_0 && s <= SDLK_9) return s - SDLK_0;
    if (s >= SDLK_a && s <= SDLK_f) return s - SDLK_a + 10;
    return -1;
}

// Every edit goes through here so that a changed song is known at quit.
static void setField(Relaxed<int32_t>& field, int32_t value) {
    if (field.load() == value) return;
    field = value;
    songModified = true;
}

static int wrap64(int v) { return (v + 64) % 64; }
static int clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// A song file can hold any byte in the order list; only real pattern numbers
// are ever shown or edited.
static bool isPattern(int value) { return value >= 0 && value < PatternCount; }

static bool editableCell() { return cursorChannel >= 0 && cursorChannel < ChannelCount && isPattern(currentPattern); }
static Cell& cursorCell() { return cellAt(cursorChannel, currentPattern, currentRow); }

// After a delete or an accepted typed edit; while playing the edit lands in
// the row being played and the cursor stays.
static void advance() {
    if (playing) return;
    if (cursorChannel >= 0)
        currentRow = wrap64(currentRow + 1);
    else
        orderPos = wrap64(orderPos + 1);
}

// The audio thread moves orderPos too; never index with a stray value.
static bool validSlot(int slot) { return slot >= 0 && slot < OrderSlots; }

// The pattern of the slot at orderPos becomes the shown one, unless empty.
static void selectSlot(int slot) {
    if (!validSlot(slot)) return;
    const int value = song.orders[slot];
    if (value != OrderEmpty && isPattern(value)) currentPattern = value;
}
static void thenSelect() { selectSlot(orderPos); }

// ---- 3. movement and the other per-focus actions ----------------------------

static void rowUp() { currentRow = wrap64(currentRow - 1); }
static void rowDown() { currentRow = wrap64(currentRow + 1); }
static void rowPageUp() { currentRow = clamp(currentRow - 16, 0, 63); }
static void rowPageDown() { currentRow = clamp(currentRow + 16, 0, 63); }
static void slotUp() { orderPos = wrap64(orderPos - 1); thenSelect(); }
static void slotDown() { orderPos = wrap64(orderPos + 1); thenSelect(); }
static void slotPageUp() { orderPos = clamp(orderPos - 16, 0, 63); thenSelect(); }
static void slotPageDown() { orderPos = clamp(orderPos + 16, 0, 63); thenSelect(); }

static void columnRight() {
    if (++cursorColumn > 5) {
        cursorColumn = 0;
        cursorChannel = (cursorChannel + 1) % ChannelCount;
    }
}
static void columnLeft() {
    if (--cursorColumn < 0) {
        cursorColumn = 5;
        cursorChannel = (cursorChannel + ChannelCount - 1) % ChannelCount;
    }
}
// In the order list the column only says which digit is typed.
static void digitRight() { cursorColumn = cursorColumn >= 5 ? 0 : cursorColumn + 1; }
static void digitLeft() { cursorColumn = cursorColumn <= 0 ? 5 : cursorColumn - 1; }

static void tabFromChannel() {
    if (ctrlHeld()) {
        lastChannel = cursorChannel;
        cursorChannel = -1;
        return;
    }
    cursorChannel = (cursorChannel + (shiftHeld() ? ChannelCount - 1 : 1)) % ChannelCount;
    cursorColumn = 0;
}
static void tabFromOrders() {
    if (ctrlHeld()) cursorChannel = lastChannel;  // plain Tab does nothing here
}

static void playOrStop() {
    if (playing) {
        playing = false;
        return;
    }
    // The audio thread starts from these once it sees playing set.
    if (!shiftHeld()) currentRow = 0;
    tick = 0;
    tickFrame = 0;
    playing = true;
}

static void toggleMute() { muted[cursorChannel] = !muted[cursorChannel]; }

static void deleteInCell() {
    if (!editableCell()) return;
    Cell& cell = cursorCell();
    if (shiftHeld()) {
        setField(cell.note, 0);
        setField(cell.volume, 0);
        setField(cell.effect, 0);
        setField(cell.effectParam, 0);
    } else {
        switch (cursorColumn) {
        case 0: setField(cell.note, 0); break;
        case 1: case 2: setField(cell.volume, 0); break;
        case 3: setField(cell.effect, 0); break;
        default: setField(cell.effectParam, 0); break;
        }
    }
    advance();
}
static void deleteSlot() {
    if (!validSlot(orderPos)) return;
    setField(song.orders[orderPos], OrderEmpty);
    advance();
}

static void setSpeed(int value) { setField(song.speed, clamp(value, 1, 15)); }
static void speedDown() { setSpeed(song.speed - 1); }
static void speedUp() { setSpeed(song.speed + 1); }
static void octaveDown() { octave = clamp(octave - 1, 0, 15); }
static void octaveUp() { octave = clamp(octave + 1, 0, 15); }

static void copyAt() {
    copyPattern = currentPattern;
    copyChannel = cursorChannel;  // -1 from the order list: all channels
}

// Reads the source cells now; the clipboard holds only the two numbers.
static void paste() {
    if (!isPattern(copyPattern) || !isPattern(currentPattern)) return;
    int first = 0, last = ChannelCount - 1, from = -1;
    if (copyChannel >= 0) {
        // One channel copied but no channel under the cursor: nowhere to paste.
        if (cursorChannel < 0) return;
        first = last = cursorChannel;
        from = copyChannel;
    }
    for (int r = 0; r < RowsPerPattern; ++r)
        for (int c = first; c <= last; ++c) {
            const Cell& src = cellAt(from < 0 ? c : from, copyPattern, r);
            Cell& dst = cellAt(c, currentPattern, r);
            setField(dst.note, src.note);
            setField(dst.volume, src.volume);
            setField(dst.effect, src.effect);
            setField(dst.effectParam, src.effectParam);
        }
}

// ---- 4. typing --------------------------------------------------------------

static void typeNote(Cell& cell) {
    const int k = noteKeyOffset(heldKey.scanCode);
    const int n = k + 12 * octave;
    if (k < 1 || n > HighestNote) return;
    const int slot = song.channels[cursorChannel].instrumentSlot;
    // The preview sounds from the next audio block on, playing or not.
    if (slot >= 0 && slot < ChannelCount) previewNote(slot, n);
    setField(cell.note, n);
    advance();
}

static void typeVolumeHigh(Cell& cell) {
    const int d = typedDigit();
    if (d < 0 || d > 4) return;
    setField(cell.volume, clamp(cell.volume % 16 + (d + 1) * 16, 0, VolumeMax));
    advance();
}

static void typeVolumeLow(Cell& cell) {
    const int d = typedDigit();
    if (d < 0 || d > 9) return;
    int v = cell.volume / 16 * 16 + d;
    if (v < VolumeBase) v += VolumeBase;  // an empty volume counts as level 0
    setField(cell.volume, clamp(v, 0, VolumeMax));
    advance();
}

// Effect numbers are 1..F (0 means no effect: Delete clears it).
static void typeEffect(Cell& cell) {
    const int h = typedHexDigit();
    if (h < 1) return;
    setField(cell.effect, h);
    advance();
}

static void typeParamHigh(Cell& cell) {
    const int h = typedHexDigit();
    if (h < 0) return;
    setField(cell.effectParam, (cell.effectParam & 0x0F) + h * 16);
    advance();
}

static void typeParamLow(Cell& cell) {
    const int h = typedHexDigit();
    if (h < 0) return;
    setField(cell.effectParam, (cell.effectParam & 0xF0) + h);
    advance();
}

static void typeIntoCell() {
    if (!editableCell()) return;
    Cell& cell = cursorCell();
    switch (cursorColumn) {
    case 0: typeNote(cell); break;
    case 1: typeVolumeHigh(cell); break;
    case 2: typeVolumeLow(cell); break;
    case 3: typeEffect(cell); break;
    case 4: typeParamHigh(cell); break;
    case 5: typeParamLow(cell); break;
    default: break;
    }
}

// Pattern numbers are typed as two digits, 0..3 then 0..9.
static void typeIntoSlot() {
    const int slot = orderPos;
    if (!validSlot(slot)) return;
    Relaxed<int32_t>& entry = song.orders[slot];
    const int d = typedDigit();
    const bool first = cursorColumn % 2 == 0;
    if (first ? (d >= 0 && d <= 3) : (d >= 0 && d <= 9)) {
        int v = entry == OrderEmpty ? 0 : entry.load();
        v = first ? v % 16 + d * 16 : v / 16 * 16 + d;
        setField(entry, v);
        advance();
    }
    // Any key reaching here shows the pattern of the slot it was typed on.
    selectSlot(slot);
}

// ---- 5. files, theme, quit --------------------------------------------------

// The keys typed into the prompt must not act on the editor afterwards.
static std::string askName(const char* title) {
    const std::string name = promptFilename(screen, title, running);
    keyHeld = false;
    repeatCount = 0;
    return name;
}

static void openSong() {
    const std::string name = askName("ENTER FILENAME TO OPEN");
    if (!name.empty()) loadSong(name);
}

// Saving does not name the song: an unnamed song is asked for at every save.
static void saveCurrent() {
    const std::string name = songName.empty() ? askName("ENTER FILENAME TO SAVE") : songName;
    if (!name.empty()) saveSong(name);
}

static void exportCurrent() { exportWav(songName + ".wav"); }

static void randomTheme() {
    // Three calls in this order, each 30..149.
    const int red = std::rand() % 120 + 30;
    const int green = std::rand() % 120 + 30;
    const int blue = std::rand() % 120 + 30;
    if (song.themeRed != red || song.themeGreen != green || song.themeBlue != blue) songModified = true;
    song.themeRed = red;
    song.themeGreen = green;
    song.themeBlue = blue;
    setPalette(red, green, blue);
}

static void quit() { running = false; }
static void nothing() {}

// ---- 6. the command table ---------------------------------------------------

struct Command {
    int symbol;
    void (*inChannel)();  // cursorChannel >= 0
    void (*inOrders)();   // cursorChannel == -1
};

static const Command commands[] = {
    {SDLK_UP, rowUp, slotUp},
    {SDLK_DOWN, rowDown, slotDown},
    {SDLK_PAGEUP, rowPageUp, slotPageUp},
    {SDLK_PAGEDOWN, rowPageDown, slotPageDown},
    {SDLK_RIGHT, columnRight, digitRight},
    {SDLK_LEFT, columnLeft, digitLeft},
    {SDLK_TAB, tabFromChannel, tabFromOrders},
    {SDLK_RETURN, playOrStop, playOrStop},
    {SDLK_SPACE, playOrStop, playOrStop},
    {SDLK_PAUSE, toggleMute, nothing},
    {SDLK_DELETE, deleteInCell, deleteSlot},
    {SDLK_F3, speedDown, speedDown},
    {SDLK_F4, speedUp, speedUp},
    {SDLK_F5, octaveDown, octaveDown},
    {SDLK_F6, octaveUp, octaveUp},
    {SDLK_F7, copyAt, copyAt},
    {SDLK_F8, paste, paste},
    {SDLK_F9, exportCurrent, exportCurrent},
    {SDLK_F10, openSong, openSong},
    {SDLK_F11, saveCurrent, saveCurrent},
    {SDLK_F12, quit, quit},
    {SDLK_SCROLLOCK, randomTheme, randomTheme},
};

void dispatchKey() {
    const bool inOrders = cursorChannel < 0;
    for (const Command& c : commands)
        if (c.symbol == heldKey.symbol) {
            (inOrders ? c.inOrders : c.inChannel)();
            return;
        }
    // F1, F2 and every other key type at the cursor.
    if (inOrders)
        typeIntoSlot();
    else
        typeIntoCell();
}
