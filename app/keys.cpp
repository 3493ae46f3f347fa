// Keyboard commands and pattern editing.
//
//   1. note key table
//   2. small helpers: digits, recorded field writes, advance, select
//   3. channel-focus and order-focus actions
//   4. typing into a cell or an order slot
//   5. undo, redo, theme, quit
//   6. marking, block commands, solo, edit step
//   7. the command table and dispatchKey
#include "app/keys.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/blocks.h"
#include "app/file_commands.h"
#include "app/history.h"
#include "app/loop_state.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "song/song_file.h"
#include "ui/palette.h"
#include "ui/status.h"

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

static bool shiftHeld() { return mainLoop.heldKey.modifiers & KMOD_SHIFT; }
static bool ctrlHeld() { return mainLoop.heldKey.modifiers & KMOD_CTRL; }

// Main keyboard digits only (symbols 48..57); anything else is out of 0..9.
static int typedDigit() { return mainLoop.heldKey.symbol - SDLK_0; }

// 0..15 from 0-9 and a-f; -1 for any other key.
static int typedHexDigit() {
    const int s = mainLoop.heldKey.symbol;
    if (s >= SDLK_0 && s <= SDLK_9) return s - SDLK_0;
    if (s >= SDLK_a && s <= SDLK_f) return s - SDLK_a + 10;
    return -1;
}

// Every edit goes through the history, so it can be undone.
static void setWord(uint32_t offset, int32_t value) { changeSongWord(offset, value); }

enum Field { NoteField, VolumeField, EffectField, ParamField };

static int wrap64(int v) { return (v + 64) % 64; }
static int clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

// A song file can hold any byte in the order list; only real pattern numbers
// are ever shown or edited.
static bool isPattern(int value) { return value >= 0 && value < PatternCount; }

static bool editableCell() {
    return editor.cursorChannel >= 0 && editor.cursorChannel < ChannelCount && isPattern(transport.currentPattern);
}
static Cell& cursorCell() { return cellAt(editor.cursorChannel, transport.currentPattern, transport.currentRow); }
static uint32_t cursorField(Field f) {
    return cellOffset(editor.cursorChannel, transport.currentPattern, transport.currentRow, f);
}

// After a delete or an accepted typed edit: the edit step's rows on a
// channel, one slot in the order list. While playing the edit lands in the
// row being played and the cursor stays.
static void advance() {
    if (transport.playing) return;
    if (editor.cursorChannel >= 0)
        transport.currentRow = wrap64(transport.currentRow + editor.editStep);
    else
        transport.orderPos = wrap64(transport.orderPos + 1);
}

// The audio thread moves orderPos too; never index with a stray value.
static bool validSlot(int slot) { return slot >= 0 && slot < OrderSlots; }

// The pattern of the slot at orderPos becomes the shown one, unless empty.
static void selectSlot(int slot) {
    if (!validSlot(slot)) return;
    const int value = song.orders[slot];
    if (value != OrderEmpty && isPattern(value)) transport.currentPattern = value;
}
static void thenSelect() { selectSlot(transport.orderPos); }

// ---- 3. movement and the other per-focus actions ----------------------------

// Each ends a marking: the next Shift move starts a new block (a Shift move
// runs these too, and marks after).
static void rowUp() {
    transport.currentRow = wrap64(transport.currentRow - 1);
    endMarking();
}
static void rowDown() {
    transport.currentRow = wrap64(transport.currentRow + 1);
    endMarking();
}
static void rowPageUp() {
    transport.currentRow = clamp(transport.currentRow - 16, 0, 63);
    endMarking();
}
static void rowPageDown() {
    transport.currentRow = clamp(transport.currentRow + 16, 0, 63);
    endMarking();
}
static void slotUp() {
    transport.orderPos = wrap64(transport.orderPos - 1);
    thenSelect();
}
static void slotDown() {
    transport.orderPos = wrap64(transport.orderPos + 1);
    thenSelect();
}
static void slotPageUp() {
    transport.orderPos = clamp(transport.orderPos - 16, 0, 63);
    thenSelect();
}
static void slotPageDown() {
    transport.orderPos = clamp(transport.orderPos + 16, 0, 63);
    thenSelect();
}

static void columnRight() {
    endMarking();
    if (++editor.cursorColumn > 5) {
        editor.cursorColumn = 0;
        editor.cursorChannel = (editor.cursorChannel + 1) % ChannelCount;
    }
}
static void columnLeft() {
    endMarking();
    if (--editor.cursorColumn < 0) {
        editor.cursorColumn = 5;
        editor.cursorChannel = (editor.cursorChannel + ChannelCount - 1) % ChannelCount;
    }
}
// In the order list the column only says which digit is typed.
static void digitRight() { editor.cursorColumn = editor.cursorColumn >= 5 ? 0 : editor.cursorColumn + 1; }
static void digitLeft() { editor.cursorColumn = editor.cursorColumn <= 0 ? 5 : editor.cursorColumn - 1; }

static void tabFromChannel() {
    if (ctrlHeld()) {
        editor.lastChannel = editor.cursorChannel;
        editor.cursorChannel = -1;
        return;
    }
    editor.cursorChannel = (editor.cursorChannel + (shiftHeld() ? ChannelCount - 1 : 1)) % ChannelCount;
    editor.cursorColumn = 0;
}
static void tabFromOrders() {
    if (ctrlHeld()) editor.cursorChannel = editor.lastChannel;  // plain Tab does nothing here
}

static void playOrStop() {
    if (transport.playing) {
        transport.playing = false;
        return;
    }
    // The audio thread starts from these once it sees playing set.
    if (!shiftHeld()) transport.currentRow = 0;
    transport.tick = 0;
    transport.tickFrame = 0;
    // With Ctrl the shown pattern plays over and over; the order list waits.
    transport.loopPattern = ctrlHeld();
    transport.playing = true;
    if (ctrlHeld()) {
        char text[32];
        std::snprintf(text, sizeof text, "LOOPING PATTERN %02X", unsigned(transport.currentPattern.load()) & 0xFFu);
        showStatus(text);
    }
}

static void toggleMute() { transport.muted[editor.cursorChannel] = !transport.muted[editor.cursorChannel]; }

static void deleteInCell() {
    if (!editableCell()) return;
    if (shiftHeld()) {
        for (Field f : {NoteField, VolumeField, EffectField, ParamField}) setWord(cursorField(f), 0);
    } else {
        switch (editor.cursorColumn) {
        case 0: setWord(cursorField(NoteField), 0); break;
        case 1:
        case 2: setWord(cursorField(VolumeField), 0); break;
        case 3: setWord(cursorField(EffectField), 0); break;
        default: setWord(cursorField(ParamField), 0); break;
        }
    }
    advance();
}
static void deleteSlot() {
    if (!validSlot(transport.orderPos)) return;
    setWord(orderOffset(transport.orderPos), OrderEmpty);
    advance();
}

static void setSpeed(int value) { setWord(SpeedOffset, clamp(value, 1, 15)); }
static void speedDown() { setSpeed(song.speed - 1); }
static void speedUp() { setSpeed(song.speed + 1); }
static void octaveDown() { editor.octave = clamp(editor.octave - 1, 0, 15); }
static void octaveUp() { editor.octave = clamp(editor.octave + 1, 0, 15); }

static void copyAt() {
    editor.copyPattern = transport.currentPattern;
    editor.copyChannel = editor.cursorChannel;  // -1 from the order list: all channels
}

// Reads the source cells now; the clipboard holds only the two numbers.
static void paste() {
    if (!isPattern(editor.copyPattern) || !isPattern(transport.currentPattern)) return;
    int first = 0, last = ChannelCount - 1, from = -1;
    if (editor.copyChannel >= 0) {
        // One channel copied but no channel under the cursor: nowhere to paste.
        if (editor.cursorChannel < 0) return;
        first = last = editor.cursorChannel;
        from = editor.copyChannel;
    }
    for (int r = 0; r < RowsPerPattern; ++r)
        for (int c = first; c <= last; ++c) {
            const int source = from < 0 ? c : from;
            for (int f = NoteField; f <= ParamField; ++f)
                setWord(cellOffset(c, transport.currentPattern, r, f),
                        readSongWord(cellOffset(source, editor.copyPattern, r, f)));
        }
}

// ---- 4. typing --------------------------------------------------------------

static void typeNote() {
    const int k = noteKeyOffset(mainLoop.heldKey.scanCode);
    const int n = k + 12 * editor.octave;
    if (k < 1 || n > HighestNote) return;
    const int slot = song.channels[editor.cursorChannel].instrumentSlot;
    // The preview sounds from the next audio block on, playing or not.
    if (slot >= 0 && slot < ChannelCount) previewNote(slot, n);
    setWord(cursorField(NoteField), n);
    advance();
}

static void typeVolumeHigh(Cell& cell) {
    const int d = typedDigit();
    if (d < 0 || d > 4) return;
    setWord(cursorField(VolumeField), clamp(cell.volume % 16 + (d + 1) * 16, 0, VolumeMax));
    advance();
}

static void typeVolumeLow(Cell& cell) {
    const int d = typedDigit();
    if (d < 0 || d > 9) return;
    int v = cell.volume / 16 * 16 + d;
    if (v < VolumeBase) v += VolumeBase;  // an empty volume counts as level 0
    setWord(cursorField(VolumeField), clamp(v, 0, VolumeMax));
    advance();
}

// Effect numbers are 1..F (0 means no effect: Delete clears it).
static void typeEffect() {
    const int h = typedHexDigit();
    if (h < 1) return;
    setWord(cursorField(EffectField), h);
    advance();
}

static void typeParamHigh(Cell& cell) {
    const int h = typedHexDigit();
    if (h < 0) return;
    setWord(cursorField(ParamField), (cell.effectParam & 0x0F) + h * 16);
    advance();
}

static void typeParamLow(Cell& cell) {
    const int h = typedHexDigit();
    if (h < 0) return;
    setWord(cursorField(ParamField), (cell.effectParam & 0xF0) + h);
    advance();
}

static void typeIntoCell() {
    if (!editableCell()) return;
    Cell& cell = cursorCell();
    switch (editor.cursorColumn) {
    case 0: typeNote(); break;
    case 1: typeVolumeHigh(cell); break;
    case 2: typeVolumeLow(cell); break;
    case 3: typeEffect(); break;
    case 4: typeParamHigh(cell); break;
    case 5: typeParamLow(cell); break;
    default: break;
    }
}

// Pattern numbers are typed as two digits, 0..3 then 0..9.
static void typeIntoSlot() {
    const int slot = transport.orderPos;
    if (!validSlot(slot)) return;
    const int32_t entry = song.orders[slot];
    const int d = typedDigit();
    const bool first = editor.cursorColumn % 2 == 0;
    if (first ? (d >= 0 && d <= 3) : (d >= 0 && d <= 9)) {
        int v = entry == OrderEmpty ? 0 : entry;
        v = first ? v % 16 + d * 16 : v / 16 * 16 + d;
        setWord(orderOffset(slot), v);
        advance();
    }
    // Any key reaching here shows the pattern of the slot it was typed on.
    selectSlot(slot);
}

// ---- 5. undo, redo, theme, quit ---------------------------------------------

static void undoKey() {
    StepKind kind;
    showStatus(undoStep(&kind) ? std::string("UNDONE: ") + stepName(kind) : std::string("NOTHING TO UNDO"));
}
static void redoKey() {
    StepKind kind;
    showStatus(redoStep(&kind) ? std::string("REDONE: ") + stepName(kind) : std::string("NOTHING TO REDO"));
}

static void randomTheme() {
    // Three calls in this order, each 30..149.
    const int red = std::rand() % 120 + 30;
    const int green = std::rand() % 120 + 30;
    const int blue = std::rand() % 120 + 30;
    setWord(0, red);  // theme bytes 0..2 of the image
    setWord(1, green);
    setWord(2, blue);
    setPalette(red, green, blue);
}

// A held F12's repeats are no second request to quit (see QuitAgainMs).
static void quit() {
    if (mainLoop.repeatCount > 0) return;
    mainLoop.quitByKey = true;
    mainLoop.running = false;
}
static void nothing() {}

// ---- 6. marking, block commands, solo, edit step ------------------------------

// Shift with a movement key: the same move, marking a block.
static void markUp() { markWith(rowUp); }
static void markDown() { markWith(rowDown); }
static void markPageUp() { markWith(rowPageUp); }
static void markPageDown() { markWith(rowPageDown); }
static void markRight() { markWith(columnRight); }
static void markLeft() { markWith(columnLeft); }

// Shift: an octave instead of a semitone; into empty fields only; all channels.
static void transposeUp() { transposeBlock(shiftHeld() ? 12 : 1); }
static void transposeDown() { transposeBlock(shiftHeld() ? -12 : -1); }
static void pasteKey() { pasteBlock(shiftHeld()); }
static void insertRowKey() { insertRow(shiftHeld()); }
static void removeRowKey() { removeRow(shiftHeld()); }

// The mutes before a solo, given back when the soloed channel is soloed
// again; while the mutes are still the ones a solo set, soloing another
// channel keeps them.
static bool mutesBeforeSolo[ChannelCount];
static int soloed = -1;

static bool soloStands(int channel) {
    if (channel < 0) return false;
    for (int c = 0; c < ChannelCount; ++c)
        if (transport.muted[c] != (c != channel)) return false;
    return true;
}

static void solo() {
    const int channel = editor.cursorChannel;
    if (channel == soloed && soloStands(channel)) {
        for (int c = 0; c < ChannelCount; ++c) transport.muted[c] = mutesBeforeSolo[c];
        soloed = -1;
        showStatus("SOLO OFF");
        return;
    }
    if (!soloStands(soloed))
        for (int c = 0; c < ChannelCount; ++c) mutesBeforeSolo[c] = transport.muted[c];
    for (int c = 0; c < ChannelCount; ++c) transport.muted[c] = c != channel;
    soloed = channel;
    showStatus("SOLO CHANNEL " + std::to_string(channel + 1));
}

// Ctrl+0..9: rows the cursor moves after an entry or a Delete.
static void setEditStep() {
    editor.editStep = typedDigit();
    showStatus("EDIT STEP " + std::to_string(editor.editStep));
}

// ---- 7. the command table ---------------------------------------------------

// The modifiers a command asks for. The first entry of a key whose
// modifiers are held wins, so the Ctrl entries come first, then Shift.
enum Held : uint8_t { AnyModifiers, Ctrl, Shift };

struct Command {
    int symbol;
    void (*inChannel)();  // cursorChannel >= 0
    void (*inOrders)();   // cursorChannel == -1
    StepKind kind;        // what undo calls the changes it makes
    Held held = AnyModifiers;
};

static const Command commands[] = {
    {SDLK_UP, transposeUp, slotUp, StepKind::Transpose, Ctrl},
    {SDLK_DOWN, transposeDown, slotDown, StepKind::Transpose, Ctrl},
    {SDLK_a, markChannelOrPattern, blockInOrderList, StepKind::Edit, Ctrl},
    {SDLK_c, copyBlock, blockInOrderList, StepKind::Edit, Ctrl},
    {SDLK_x, cutBlock, blockInOrderList, StepKind::Cut, Ctrl},
    {SDLK_v, pasteKey, blockInOrderList, StepKind::Paste, Ctrl},
    {SDLK_i, interpolateBlock, blockInOrderList, StepKind::Interpolate, Ctrl},
    {SDLK_0, setEditStep, setEditStep, StepKind::Edit, Ctrl},
    {SDLK_1, setEditStep, setEditStep, StepKind::Edit, Ctrl},
    {SDLK_2, setEditStep, setEditStep, StepKind::Edit, Ctrl},
    {SDLK_3, setEditStep, setEditStep, StepKind::Edit, Ctrl},
    {SDLK_4, setEditStep, setEditStep, StepKind::Edit, Ctrl},
    {SDLK_5, setEditStep, setEditStep, StepKind::Edit, Ctrl},
    {SDLK_6, setEditStep, setEditStep, StepKind::Edit, Ctrl},
    {SDLK_7, setEditStep, setEditStep, StepKind::Edit, Ctrl},
    {SDLK_8, setEditStep, setEditStep, StepKind::Edit, Ctrl},
    {SDLK_9, setEditStep, setEditStep, StepKind::Edit, Ctrl},
    {SDLK_UP, markUp, slotUp, StepKind::Edit, Shift},
    {SDLK_DOWN, markDown, slotDown, StepKind::Edit, Shift},
    {SDLK_PAGEUP, markPageUp, slotPageUp, StepKind::Edit, Shift},
    {SDLK_PAGEDOWN, markPageDown, slotPageDown, StepKind::Edit, Shift},
    {SDLK_RIGHT, markRight, digitRight, StepKind::Edit, Shift},
    {SDLK_LEFT, markLeft, digitLeft, StepKind::Edit, Shift},
    {SDLK_PAUSE, solo, nothing, StepKind::Edit, Shift},
    {SDLK_UP, rowUp, slotUp, StepKind::Edit},
    {SDLK_DOWN, rowDown, slotDown, StepKind::Edit},
    {SDLK_PAGEUP, rowPageUp, slotPageUp, StepKind::Edit},
    {SDLK_PAGEDOWN, rowPageDown, slotPageDown, StepKind::Edit},
    {SDLK_RIGHT, columnRight, digitRight, StepKind::Edit},
    {SDLK_LEFT, columnLeft, digitLeft, StepKind::Edit},
    {SDLK_TAB, tabFromChannel, tabFromOrders, StepKind::Edit},
    {SDLK_RETURN, playOrStop, playOrStop, StepKind::Edit},
    {SDLK_SPACE, playOrStop, playOrStop, StepKind::Edit},
    {SDLK_PAUSE, toggleMute, nothing, StepKind::Edit},
    {SDLK_DELETE, deleteInCell, deleteSlot, StepKind::Delete},
    {SDLK_F3, speedDown, speedDown, StepKind::Speed},
    {SDLK_F4, speedUp, speedUp, StepKind::Speed},
    {SDLK_F5, octaveDown, octaveDown, StepKind::Edit},
    {SDLK_F6, octaveUp, octaveUp, StepKind::Edit},
    {SDLK_F7, copyAt, copyAt, StepKind::Edit},
    {SDLK_F8, paste, paste, StepKind::Paste},
    {SDLK_F9, exportCommand, exportCommand, StepKind::Edit},
    {SDLK_F10, openCommand, openCommand, StepKind::Edit},
    {SDLK_F11, saveCommand, saveCommand, StepKind::Edit},
    {SDLK_F12, quit, quit, StepKind::Edit},
    {SDLK_SCROLLOCK, randomTheme, randomTheme, StepKind::Theme},
    {SDLK_ESCAPE, dropBlock, typeIntoSlot, StepKind::Order},
    {SDLK_INSERT, insertRowKey, blockInOrderList, StepKind::InsertRow},
    {SDLK_BACKSPACE, removeRowKey, blockInOrderList, StepKind::RemoveRow},
};

static bool heldFor(const Command& c) {
    switch (c.held) {
    case Ctrl: return ctrlHeld();
    case Shift: return shiftHeld();
    default: return true;
    }
}

// What a typed key changes, by focus and sub-column.
static StepKind typingKind() {
    if (editor.cursorChannel < 0) return StepKind::Order;
    static const StepKind byColumn[6] = {StepKind::Note,   StepKind::Volume,    StepKind::Volume,
                                         StepKind::Effect, StepKind::Parameter, StepKind::Parameter};
    return byColumn[clamp(editor.cursorColumn, 0, 5)];
}

// Ctrl+Z undoes; Ctrl+Y and Ctrl+Shift+Z redo, in either focus.
static bool undoOrRedo() {
    if (!ctrlHeld()) return false;
    if (mainLoop.heldKey.symbol == SDLK_z && !shiftHeld())
        undoKey();
    else if (mainLoop.heldKey.symbol == SDLK_y || mainLoop.heldKey.symbol == SDLK_z)
        redoKey();
    else
        return false;
    return true;
}

void dispatchKey() {
    settleBlock();
    if (undoOrRedo()) return;
    const bool inOrders = editor.cursorChannel < 0;
    for (const Command& c : commands)
        if (c.symbol == mainLoop.heldKey.symbol && heldFor(c)) {
            beginStep(c.kind);
            (inOrders ? c.inOrders : c.inChannel)();
            endStep();
            return;
        }
    // F1, F2 and every other key type at the cursor.
    beginStep(typingKind());
    if (inOrders)
        typeIntoSlot();
    else
        typeIntoCell();
    endStep();
}
