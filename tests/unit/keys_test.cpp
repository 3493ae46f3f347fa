// The keyboard commands, driven through heldKey as the main loop leaves it.
// (Undo and redo: undo_test; the song named on the command line: command_line_test.)
#include <gtest/gtest.h>

#include <SDL.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/document.h"
#include "app/file_commands.h"
#include "tests/support/keys.h"
#include "tests/support/surfaces.h"
#include "tests/support/test_support.h"
#include "ui/palette.h"
#include "ui/status.h"

namespace {

Cell& cursor() { return cellAt(editor.cursorChannel, transport.currentPattern, transport.currentRow); }

// One key typed on channel 0 of pattern 0 at a row and sub-column, the value
// the field then holds on that row, and the row the cursor stands on after it.
struct TypedKey {
    int row, column, symbol, value, rowAfter;
};
void typeSteps(Relaxed<int32_t> Cell::*field, std::initializer_list<TypedKey> steps) {
    for (const TypedKey& k : steps) {
        transport.currentRow = k.row;
        editor.cursorColumn = k.column;
        press(k.symbol);
        EXPECT_EQ(cellAt(0, 0, k.row).*field, k.value) << "key " << k.symbol << " on row " << k.row;
        EXPECT_EQ(transport.currentRow, k.rowAfter) << "key " << k.symbol << " on row " << k.row;
    }
}

// The same for the order list: the key typed on a slot and digit column, the
// slot's entry then, and the order slot and pattern shown after it.
struct TypedSlot {
    int slot, column, symbol, value, slotAfter, patternAfter;
};
void typeSlots(std::initializer_list<TypedSlot> steps) {
    editor.cursorChannel = -1;
    for (const TypedSlot& k : steps) {
        transport.orderPos = k.slot;
        editor.cursorColumn = k.column;
        press(k.symbol);
        EXPECT_EQ(song.orders[k.slot], k.value) << "key " << k.symbol << " on slot " << k.slot;
        EXPECT_EQ(transport.orderPos, k.slotAfter) << "key " << k.symbol << " on slot " << k.slot;
        EXPECT_EQ(transport.currentPattern, k.patternAfter) << "key " << k.symbol << " on slot " << k.slot;
    }
}

// Where the cursor stands: channel (-1: the order list), sub-column, row,
// order slot, pattern shown, and the channel Ctrl+Tab returns to.
struct Spot {
    int channel, column, row, slot, pattern, last;
};
std::string text(const Spot& s) {
    char out[80];
    std::snprintf(out, sizeof out, "{%d, %d, %d, %d, %d, %d}", s.channel, s.column, s.row, s.slot, s.pattern, s.last);
    return out;
}
Spot spotNow() {
    return {editor.cursorChannel, editor.cursorColumn,      transport.currentRow,
            transport.orderPos,   transport.currentPattern, editor.lastChannel};
}

}  // namespace

TEST_F(Keys, NoteKeyTableFormsTwoPianoRows) {
    // Z is C (3) and the lower row climbs by semitones to / (19); Q is the C an octave up (15) and ] is 34.
    const uint8_t lower[] = {0x2C, 0x1F, 0x2D, 0x20, 0x2E, 0x2F, 0x22, 0x30, 0x23,
                             0x31, 0x24, 0x32, 0x33, 0x26, 0x34, 0x27, 0x35};
    const uint8_t upper[] = {0x10, 0x03, 0x11, 0x04, 0x12, 0x13, 0x06, 0x14, 0x07, 0x15,
                             0x08, 0x16, 0x17, 0x0A, 0x18, 0x0B, 0x19, 0x1A, 0x0D, 0x1B};
    for (int i = 0; i < 17; ++i) EXPECT_EQ(noteKeyOffset(lower[i]), 3 + i) << "lower key " << i;
    for (int i = 0; i < 20; ++i) EXPECT_EQ(noteKeyOffset(upper[i]), 15 + i) << "upper key " << i;
    int notes = 0;
    for (int s = 0; s < 256; ++s) notes += noteKeyOffset(uint8_t(s)) != 0;
    EXPECT_EQ(notes, 37);
    EXPECT_EQ(noteKeyOffset(ScanA), 0);
    EXPECT_EQ(noteKeyOffset(54), 0);
}

TEST_F(Keys, MovesWrapOnSingleStepsClampOnPagesAndCrossChannelsAtTheSubColumnEdges) {
    // Up on row 0 goes to 63, Down on 63 to 0, Page Up/Down move 16 rows stopping at 0 and 63; Right
    // from channel 7 sub-column 5 goes to channel 0 sub-column 0 and Left back. In the order list the
    // same keys move orderPos and show the slot's pattern (an empty slot keeps it) and only the
    // sub-column cycles. Tab goes to the next channel (Shift: previous) at sub-column 0; Ctrl+Tab goes
    // to the order list and back to the channel left; plain Tab does nothing there.
    song.orders[1] = 7;
    song.orders[17] = 12;
    song.orders[63] = 9;
    const struct {
        Spot from;
        int symbol, modifiers;
        Spot to;
    } moves[] = {
        {{0, 0, 0, 0, 0, 0}, SDLK_UP, 0, {0, 0, 63, 0, 0, 0}},
        {{0, 0, 63, 0, 0, 0}, SDLK_DOWN, 0, {0, 0, 0, 0, 0, 0}},
        {{0, 0, 10, 0, 0, 0}, SDLK_PAGEUP, 0, {0, 0, 0, 0, 0, 0}},
        {{0, 0, 20, 0, 0, 0}, SDLK_PAGEUP, 0, {0, 0, 4, 0, 0, 0}},
        {{0, 0, 50, 0, 0, 0}, SDLK_PAGEDOWN, 0, {0, 0, 63, 0, 0, 0}},
        {{0, 0, 5, 0, 0, 0}, SDLK_PAGEDOWN, 0, {0, 0, 21, 0, 0, 0}},
        {{7, 5, 0, 0, 0, 0}, SDLK_RIGHT, 0, {0, 0, 0, 0, 0, 0}},
        {{0, 0, 0, 0, 0, 0}, SDLK_LEFT, 0, {7, 5, 0, 0, 0, 0}},
        {{3, 2, 0, 0, 0, 0}, SDLK_RIGHT, 0, {3, 3, 0, 0, 0, 0}},
        {{-1, 5, 0, 0, 0, 0}, SDLK_RIGHT, 0, {-1, 0, 0, 0, 0, 0}},
        {{-1, 0, 0, 0, 0, 0}, SDLK_LEFT, 0, {-1, 5, 0, 0, 0, 0}},
        {{-1, 0, 0, 0, 5, 0}, SDLK_DOWN, 0, {-1, 0, 0, 1, 7, 0}},
        {{-1, 0, 0, 1, 5, 0}, SDLK_DOWN, 0, {-1, 0, 0, 2, 5, 0}},
        {{-1, 0, 0, 1, 5, 0}, SDLK_PAGEDOWN, 0, {-1, 0, 0, 17, 12, 0}},
        {{-1, 0, 0, 17, 5, 0}, SDLK_PAGEUP, 0, {-1, 0, 0, 1, 7, 0}},
        {{-1, 0, 0, 0, 5, 0}, SDLK_UP, 0, {-1, 0, 0, 63, 9, 0}},
        {{-1, 0, 0, 60, 5, 0}, SDLK_PAGEDOWN, 0, {-1, 0, 0, 63, 9, 0}},
        {{7, 4, 0, 0, 0, 0}, SDLK_TAB, 0, {0, 0, 0, 0, 0, 0}},
        {{0, 3, 0, 0, 0, 0}, SDLK_TAB, KMOD_LSHIFT, {7, 0, 0, 0, 0, 0}},
        {{7, 0, 0, 0, 0, 0}, SDLK_TAB, KMOD_RSHIFT, {6, 0, 0, 0, 0, 0}},
        {{6, 2, 0, 0, 0, 0}, SDLK_TAB, KMOD_LCTRL, {-1, 2, 0, 0, 0, 6}},
        {{-1, 2, 0, 0, 0, 6}, SDLK_TAB, 0, {-1, 2, 0, 0, 0, 6}},
        {{-1, 2, 0, 0, 0, 6}, SDLK_TAB, KMOD_RCTRL, {6, 2, 0, 0, 0, 6}},
    };
    for (const auto& m : moves) {
        editor.cursorChannel = m.from.channel, editor.cursorColumn = m.from.column, transport.currentRow = m.from.row;
        transport.orderPos = m.from.slot, transport.currentPattern = m.from.pattern, editor.lastChannel = m.from.last;
        press(m.symbol, m.modifiers);
        EXPECT_EQ(text(spotNow()), text(m.to)) << "key " << m.symbol << "+" << m.modifiers << " from " << text(m.from);
    }
}

TEST_F(Keys, NoteEntryWritesThePreviewedNoteAndAdvances) {
    // Z at octave 3 enters note 39 and hands it to the channel's voice, which the next block starts: note 39, time 0, float freq of 27.5*2^(39/12).
    editor.cursorChannel = 2;
    transport.currentRow = 5;
    press(SDLK_z, 0, ScanZ);
    EXPECT_EQ(cellAt(2, 0, 5).note, 39);
    EXPECT_EQ(transport.currentRow, 6);
    takePreviews();  // what the next block does first
    const Instrument& v = *instruments[2];
    EXPECT_EQ(v.note, 39);
    EXPECT_EQ(v.time, 0);
    EXPECT_EQ(v.freq, float(27.5 * std::pow(2.0, 39 / 12.0)));
    EXPECT_EQ(instruments[0]->note, -1);  // other voices untouched
    EXPECT_TRUE(songModified());
    press(SDLK_s, 0, ScanS);
    EXPECT_EQ(cellAt(2, 0, 6).note, 40);
    editor.octave = 0;
    press(SDLK_q, 0, ScanQ);
    EXPECT_EQ(cellAt(2, 0, 7).note, 15);
}

TEST_F(Keys, NotesAtOrAbove195AndNonNoteKeysAreRefused) {
    // At octave 15 only offsets 3..14 are accepted (183..194); Q (195) and non-note keys write, preview and advance nothing.
    editor.octave = 15;
    press(SDLK_q, 0, ScanQ);
    takePreviews();  // nothing was handed over either
    EXPECT_EQ(instruments[0]->note, -1);
    EXPECT_EQ(instruments[0]->time, 1234);
    press(SDLK_i, 0, ScanI);
    press(SDLK_SLASH, 0, ScanSlash);
    press(SDLK_a, 0, ScanA);
    press(SDLK_F1, 0, 0x3B);
    EXPECT_EQ(transport.currentRow, 0);
    EXPECT_EQ(cursor().note, 0);
    EXPECT_FALSE(songModified());
    press(SDLK_z, 0, ScanZ);
    EXPECT_EQ(cellAt(0, 0, 0).note, 183);
    transport.currentRow = 0;
    press(SDLK_m, 0, 0x32);  // offset 14
    EXPECT_EQ(cellAt(0, 0, 0).note, 194);
}

TEST_F(Keys, TypingWhilePlayingLandsOnThePlayedRowWithoutMoving) {
    // While playing an accepted edit does not move the cursor.
    transport.playing = true;
    transport.currentRow = 12;
    press(SDLK_z, 0, ScanZ);
    EXPECT_EQ(cellAt(0, 0, 12).note, 39);
    EXPECT_EQ(transport.currentRow, 12);
    press(SDLK_DELETE);
    EXPECT_EQ(cellAt(0, 0, 12).note, 0);
    EXPECT_EQ(transport.currentRow, 12);
    transport.playing = false;
}

TEST_F(Keys, VolumeIsTypedAsTwoDigitsOfLevelPlus16) {
    // Digit 4 then 9 stores 80 (shown 40, 89 is above it); 7 in the first sub-column is refused and the
    // cursor stays; 2 then 5 gives level 0x25: 16 + 37 = 53; the second digit on an empty volume counts
    // from 0; a first digit 4 over a second digit 5 stops at 80; keypad keys and letters are no digits.
    typeSteps(&Cell::volume, {{0, 1, SDLK_7, 0, 0},
                              {0, 1, SDLK_4, 80, 1},
                              {0, 2, SDLK_9, 80, 1},
                              {3, 1, SDLK_2, 48, 4},
                              {3, 2, SDLK_5, 53, 4},
                              {3, 1, SDLK_4, 80, 4},  // level 45 is above 40
                              {4, 2, SDLK_5, 21, 5},
                              {4, 2, SDLK_KP5, 21, 4},
                              {4, 2, SDLK_a, 21, 4}});
}

TEST_F(Keys, EffectColumnsTakeHexDigits) {
    // Sub-column 3 takes 1..F into effect (0 refused); 4 and 5 take 0..F into the high and low nibble of effectParam.
    typeSteps(
        &Cell::effect,
        {{0, 3, SDLK_0, 0, 0}, {0, 3, SDLK_c, 12, 1}, {1, 3, SDLK_7, 7, 2}, {2, 3, SDLK_g, 0, 2}});  // not a hex digit
    typeSteps(&Cell::effectParam, {{0, 4, SDLK_f, 0xF0, 1}, {0, 5, SDLK_3, 0xF3, 1}, {0, 4, SDLK_0, 0x03, 1}});
    press(SDLK_z, 0, ScanZ);  // no note entry outside sub-column 0
    EXPECT_EQ(cellAt(0, 0, 1).note, 0);
    EXPECT_EQ(transport.currentRow, 1);
}

TEST_F(Keys, DeleteClearsTheFieldUnderTheCursorOrWithShiftTheWholeCell) {
    // Delete clears the field of the sub-column and advances; Shift+Delete empties the whole cell and advances.
    for (int col = 0; col < 7; ++col) {
        initSong();
        Cell& c = cellAt(0, 0, 0);
        c.note = 40, c.volume = 50, c.effect = 3, c.effectParam = 0x44;
        editor.cursorColumn = col == 6 ? 2 : col;
        press(SDLK_DELETE, col == 6 ? KMOD_LSHIFT : 0);  // the last pass: Shift+Delete on the volume
        EXPECT_EQ(c.note, col == 0 || col == 6 ? 0 : 40) << col;
        EXPECT_EQ(c.volume, col == 1 || col == 2 || col == 6 ? 0 : 50) << col;
        EXPECT_EQ(c.effect, col == 3 || col == 6 ? 0 : 3) << col;
        EXPECT_EQ(c.effectParam, col >= 4 ? 0 : 0x44) << col;
        EXPECT_EQ(transport.currentRow, 1);
        EXPECT_TRUE(songModified());
    }
}

TEST_F(Keys, DeleteInTheOrderListEmptiesTheSlotAndAdvancesKeepingThePattern) {
    // Delete in the order list writes 255 at orderPos, moves the order cursor down (63 wraps to 0), currentPattern unchanged.
    song.orders[0] = 5;
    transport.currentPattern = 5;
    typeSlots({{0, 0, SDLK_DELETE, OrderEmpty, 1, 5}, {63, 0, SDLK_DELETE, OrderEmpty, 0, 5}});
    EXPECT_TRUE(songModified());
}

TEST_F(Keys, OrderSlotsAreTypedAsTwoDigitsAndAnyKeyReselectsTheSlotsPattern) {
    // First digit 0..3 (even sub-columns) and second 0..9 (odd) build the pattern number, 255 counting
    // as 0; any key reaching the order-list typing rule, a letter or F1 too, shows the pattern of the
    // slot it was typed on (an empty one keeps the pattern); typing while playing stays on the slot.
    song.orders[3] = 11;
    song.orders[5] = 20;
    transport.currentPattern = 2;
    typeSlots({{3, 0, SDLK_F1, 11, 3, 11}, {5, 1, SDLK_x, 20, 5, 20}, {6, 0, SDLK_x, OrderEmpty, 6, 20}});
    EXPECT_FALSE(songModified());
    typeSlots({{4, 0, SDLK_2, 0x20, 5, 0x20},
               {4, 1, SDLK_9, 0x29, 5, 0x29},
               {6, 3, SDLK_7, 7, 7, 7},           // on the empty slot 6
               {7, 2, SDLK_4, OrderEmpty, 7, 7},  // 4 is no first digit; slot 7 is empty: the pattern stays
               {5, 0, SDLK_a, 20, 5, 20}});
    transport.playing = true;
    typeSlots({{3, 1, SDLK_4, 4, 3, 4}});
    transport.playing = false;
}

TEST_F(Keys, ReturnPlaysFromRowZeroAndShiftReturnFromTheCursorRow) {
    // Return resets row, tick and tickFrame and starts; Shift+Return keeps the row; a second press stops and keeps the position.
    transport.currentRow = 20;
    transport.tick = 2;
    transport.tickFrame = 500;
    press(SDLK_RETURN);
    EXPECT_TRUE(transport.playing);
    EXPECT_EQ(transport.currentRow, 0);
    EXPECT_EQ(transport.tick, 0);
    EXPECT_EQ(transport.tickFrame, 0);
    transport.currentRow = 9;
    press(SDLK_SPACE);
    EXPECT_FALSE(transport.playing);
    EXPECT_EQ(transport.currentRow, 9);
    transport.tickFrame = 300;
    press(SDLK_RETURN, KMOD_RSHIFT);
    EXPECT_TRUE(transport.playing);
    EXPECT_EQ(transport.currentRow, 9);
    EXPECT_EQ(transport.tickFrame, 0);
    editor.cursorChannel = -1;
    press(SDLK_RETURN);
    EXPECT_FALSE(transport.playing);
}

TEST_F(Keys, PauseFlipsTheMuteOfTheCursorChannelOnlyAndF12EndsTheLoopInEitherFocus) {
    // Pause mutes and unmutes the cursor channel; in the order list it does nothing. F12 clears running.
    editor.cursorChannel = 4;
    press(SDLK_PAUSE);
    EXPECT_TRUE(transport.muted[4]);
    EXPECT_FALSE(transport.muted[3]);
    editor.cursorChannel = -1;
    press(SDLK_PAUSE);
    EXPECT_TRUE(transport.muted[4]);
    press(SDLK_F12);
    EXPECT_FALSE(mainLoop.running);
    mainLoop.running = true;
    editor.cursorChannel = 4;
    press(SDLK_PAUSE);
    EXPECT_FALSE(transport.muted[4]);
    press(SDLK_F12);
    EXPECT_FALSE(mainLoop.running);
}

TEST_F(Keys, SpeedAndOctaveAreClamped) {
    // Speed stays within 1..15 and octave within 0..15, in either focus.
    for (int i = 0; i < 20; ++i) press(SDLK_F4);
    EXPECT_EQ(song.speed, 15);
    EXPECT_TRUE(songModified());
    editor.cursorChannel = -1;
    for (int i = 0; i < 20; ++i) press(SDLK_F3);
    EXPECT_EQ(song.speed, 1);
    for (int i = 0; i < 20; ++i) press(SDLK_F6);
    EXPECT_EQ(editor.octave, 15);
    for (int i = 0; i < 20; ++i) press(SDLK_F5);
    EXPECT_EQ(editor.octave, 0);
    const std::size_t steps = historySteps();
    press(SDLK_F3);  // already 1: nothing changes, so nothing is recorded
    EXPECT_EQ(historySteps(), steps);
}

TEST_F(Keys, F7RecordsPatternAndChannelAndF8PastesIntoTheCursorChannelOrAllChannels) {
    // The clipboard starts as pattern 0, all channels; F7 records currentPattern and the cursor channel
    // (all channels from the order list); F8 pastes row by row without advancing; a one-channel
    // clipboard has no destination while the order list is focused: nothing changes.
    for (int c = 0; c < 8; ++c) cellAt(c, 0, 10).volume = 20 + c;
    transport.currentPattern = 6;
    press(SDLK_F8);
    for (int c = 0; c < 8; ++c) EXPECT_EQ(cellAt(c, 6, 10).volume, 20 + c);
    EXPECT_TRUE(songModified());

    for (int r = 0; r < 64; ++r) {
        cellAt(2, 3, r).note = r + 1;
        cellAt(2, 3, r).effectParam = r;
        cellAt(1, 3, r).note = 99;
    }
    transport.currentPattern = 3;
    editor.cursorChannel = 2;
    press(SDLK_F7);
    EXPECT_EQ(editor.copyPattern, 3);
    EXPECT_EQ(editor.copyChannel, 2);
    transport.currentPattern = 8;
    editor.cursorChannel = 5;
    press(SDLK_F8);
    for (int r = 0; r < 64; ++r) {
        EXPECT_EQ(cellAt(5, 8, r).note, r + 1);
        EXPECT_EQ(cellAt(5, 8, r).effectParam, r);
        EXPECT_EQ(cellAt(1, 8, r).note, 0);  // other channels untouched
    }
    EXPECT_EQ(transport.currentRow, 0);

    transport.currentPattern = 1;
    editor.cursorChannel = -1;
    const std::size_t steps = historySteps();
    press(SDLK_F8);
    EXPECT_EQ(historySteps(), steps);
    for (int c = 0; c < 8; ++c) EXPECT_EQ(cellAt(c, 1, 0).note, 0);
    press(SDLK_F7);
    EXPECT_EQ(editor.copyChannel, -1);
}

TEST_F(Keys, ScrollLockDrawsRedGreenAndBlueEachRand120Plus30AndRepaints) {
    // The three draws rand() % 120 + 30 (30..149) go to red, green and blue in that order, and the palette follows at once.
    for (unsigned seed : {99u, 12345u, 7u}) {
        std::srand(seed);
        const int r = std::rand() % 120 + 30, g = std::rand() % 120 + 30, b = std::rand() % 120 + 30;
        std::srand(seed);
        press(SDLK_SCROLLOCK);
        EXPECT_EQ(song.themeRed, r) << seed;
        EXPECT_EQ(song.themeGreen, g) << seed;
        EXPECT_EQ(song.themeBlue, b) << seed;
        EXPECT_EQ(palette[background], packColour(r, g, b)) << seed;
    }
    EXPECT_TRUE(songModified());
}

// ---- saving and exporting under a name ------------------------------------------

namespace {

// The prompt's own loop on SDL's dummy video, in a folder of its own.
struct Named : Keys {
    DummyVideo video;
    ScratchDir dir{"named"};
    void SetUp() override {
        Keys::SetUp();
        mainLoop.screen = video.screen;
        restingScreen();
    }
    void TearDown() override { mainLoop.screen = nullptr; }
};

// The note a song file holds on channel 0, pattern 0, row 0.
int firstNoteIn(const std::string& path) {
    std::vector<uint8_t> image;
    return readSongFile(path, image) ? image[cellOffset(0, 0, 0, 0)] : -1;
}

// A song file whose first note is `note`.
Bytes songWithNote(int note) {
    std::vector<uint8_t> image(SongImageSize, 0);
    image[cellOffset(0, 0, 0, 0)] = uint8_t(note);
    return encodeSongFile(image.data());
}

// TUNE.vorna saved as another program saves: a new file renamed over the old.
void saveFromElsewhere(int note) {
    writeFile("other", songWithNote(note));
    ASSERT_EQ(rename("other", "TUNE.vorna"), 0);
}

}  // namespace

TEST_F(Named, ASaveUnderATypedNameNamesTheSongAndF9WithoutANameAsks) {
    // After F11 under a typed name the song takes that name, as after opening it: F11 saves back to
    // NAME.vorna and F9 writes NAME.wav, neither asking. Before that F9 asks for the WAV file's name
    // (Escape or an empty name writes nothing, never a file called only ".wav"), which names no song.
    for (const char* cancel : {"\x1b", ""}) {
        answerPrompt(cancel);
        EXPECT_TRUE(pressAsks(SDLK_F9));
        EXPECT_TRUE(folderEntries(".").empty());
    }
    answerPrompt("take_2");
    EXPECT_TRUE(pressAsks(SDLK_F9));
    EXPECT_EQ(folderEntries("."), std::vector<std::string>{"TAKE_2.wav"});
    EXPECT_EQ(editor.songName, "");

    changeSongWord(cellOffset(0, 0, 0, 0), 40);
    answerPrompt("tune");
    EXPECT_TRUE(pressAsks(SDLK_F11));
    EXPECT_EQ(editor.songName, "TUNE");
    EXPECT_EQ(statusText, "FILE \"TUNE\" SUCCESSFULLY SAVED");
    changeSongWord(cellOffset(0, 0, 0, 0), 41);
    EXPECT_FALSE(pressAsks(SDLK_F11));
    EXPECT_EQ(firstNoteIn("TUNE.vorna"), 41);
    EXPECT_FALSE(pressAsks(SDLK_F9));
    EXPECT_TRUE(fileExists("TUNE.wav"));
}

TEST_F(Named, F11OverAFileChangedOnDiskSinceItWasOpenedOrSavedAsksForANameAndSaysWhy) {
    // F11 saves back without asking only over the file as this editor last read or wrote it, or when
    // it is gone. Written since by someone else (another file in its place, even of the same size and
    // time; the same file rewritten, even within the same second), or never seen here, it asks for a
    // name as for a song never saved and says why; cancelling leaves the other's file, and the name
    // then typed (the same one too) is saved to and asked for no more.
    struct stat opened {};
    // Rewrites TUNE.vorna in place (same size) and sets its time to the opened one's moved by seconds/ns.
    const auto rewriteAt = [&](long seconds, long ns) {
        writeFile("TUNE.vorna", songWithNote(31));
        const timespec t[2] = {opened.st_mtim, {opened.st_mtim.tv_sec + seconds, opened.st_mtim.tv_nsec + ns}};
        utimensat(AT_FDCWD, "TUNE.vorna", t, 0);
    };
    struct Change {
        const char* what;
        std::function<void()> apply;
        bool asks;
    };
    const Change changes[] = {
        {"nothing changed", [] {}, false},
        {"removed", [] { unlink("TUNE.vorna"); }, false},
        {"saved over by another program", [] { saveFromElsewhere(70); }, true},
        {"another file of the same size and time",
         [&] {
             saveFromElsewhere(31);
             const timespec t[2] = {opened.st_mtim, opened.st_mtim};
             utimensat(AT_FDCWD, "TUNE.vorna", t, 0);
         },
         true},
        {"rewritten in place, its time a minute back", [&] { rewriteAt(-60, 0); }, true},
        {"rewritten in place within the same second", [&] { rewriteAt(0, opened.st_mtim.tv_nsec > 0 ? -1 : 1); }, true},
        {"never opened here", [] { rememberFileState("TUNE", FileState()); }, true},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.what);
        saveFromElsewhere(30);
        ASSERT_TRUE(openSongNamed("TUNE"));
        ASSERT_EQ(stat("TUNE.vorna", &opened), 0);
        changeSongWord(cellOffset(0, 0, 0, 0), 50);
        c.apply();
        const Bytes before = readFile("TUNE.vorna");
        EXPECT_EQ(pressAsks(SDLK_F11), c.asks);
        if (!c.asks) {
            EXPECT_EQ(firstNoteIn("TUNE.vorna"), 50);
            continue;
        }
        EXPECT_EQ(statusText, "FILE CHANGED ON DISK: SAVE AS");
        EXPECT_EQ(readFile("TUNE.vorna"), before);
        answerPrompt("tune");
        EXPECT_TRUE(pressAsks(SDLK_F11));
        changeSongWord(cellOffset(0, 0, 0, 0), 51);
        EXPECT_FALSE(pressAsks(SDLK_F11));
        EXPECT_EQ(firstNoteIn("TUNE.vorna"), 51);
    }
}
