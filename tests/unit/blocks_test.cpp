// Composing keys: the marked block and its commands, solo, the pattern loop
// and the edit step, through the key table, on small hand-made patterns.
#include <gtest/gtest.h>

#include <SDL.h>

#include <array>
#include <string>
#include <vector>

#include "tests/support/keys.h"
#include "tests/support/test_support.h"
#include "ui/status.h"

namespace {

struct Blocks : ::testing::Test {
    void SetUp() override {
        freshKeys();
        statusText.clear();
    }
};

using Fields = std::array<int, 4>;  // note, volume, effect, parameter
struct Place {
    int c, r;
    Fields f;
};

Fields cellFields(int c, int r, int p = 0) {
    const Cell& k = cellAt(c, p, r);
    return {k.note, k.volume, k.effect, k.effectParam};
}
void setCells(const std::vector<Place>& cells) {
    for (const Place& k : cells) {
        Cell& cell = cellAt(k.c, 0, k.r);
        cell.note = k.f[0], cell.volume = k.f[1], cell.effect = k.f[2], cell.effectParam = k.f[3];
    }
}
// Every cell of pattern 0 is the listed one, or empty.
void expectPattern(const std::vector<Place>& cells, const char* what) {
    for (int c = 0; c < ChannelCount; ++c)
        for (int r = 0; r < RowsPerPattern; ++r) {
            Fields want{};
            for (const Place& k : cells)
                if (k.c == c && k.r == r) want = k.f;
            EXPECT_EQ(cellFields(c, r), want) << what << ": channel " << c << " row " << r;
        }
}
void cursorAt(int channel, int column, int row) {
    editor.cursorChannel = channel, editor.cursorColumn = column, transport.currentRow = row;
}
// From (channel c0, sub-column col0, row r0) to (c1, col1, r1) with Shift and the arrows, as a user marks.
void mark(int c0, int col0, int r0, int c1, int col1, int r1) {
    cursorAt(c0, col0, r0);
    press(SDLK_ESCAPE);
    for (int r = r0; r < r1; ++r) press(SDLK_DOWN, KMOD_LSHIFT);
    for (int n = (c1 - c0) * 6 + col1 - col0; n > 0; --n) press(SDLK_RIGHT, KMOD_RSHIFT);
}
// The block shown: first and last row, first and last field; all -1 for none.
std::array<int, 4> shown() {
    const BlockRange b = blockRange(editor.block);
    if (!blockVisible()) return {-1, -1, -1, -1};
    return {b.firstRow, b.lastRow, b.firstField, b.lastField};
}

}  // namespace

TEST_F(Blocks, ShiftMovesMarkFromTheAnchorPlainMovesStartANewOneCtrlAWidensEscapeDrops) {
    // Shift with a movement key moves as the plain key and marks from where the marking began to the cursor,
    // fields in reading order; after a plain move the next Shift move starts anew at the cursor; Ctrl+A marks
    // the channel, again the whole pattern; Escape drops the block; marking records no undo step.
    struct Step {
        int symbol, modifiers;
        std::array<int, 4> block;
        int row;
    } const steps[] = {
        {SDLK_DOWN, KMOD_LSHIFT, {5, 6, 0, 0}, 6},
        {SDLK_DOWN, KMOD_RSHIFT, {5, 7, 0, 0}, 7},
        {SDLK_RIGHT, KMOD_LSHIFT, {5, 7, 0, 1}, 7},
        {SDLK_RIGHT, KMOD_LSHIFT, {5, 7, 0, 1}, 7},  // both volume digits
        {SDLK_DOWN, 0, {5, 7, 0, 1}, 8},
        {SDLK_UP, 0, {5, 7, 0, 1}, 7},  // kept, back at its end
        {SDLK_DOWN, KMOD_LSHIFT, {7, 8, 1, 1}, 8},
        {SDLK_UP, KMOD_LSHIFT, {7, 7, 1, 1}, 7},  // a new anchor
        {SDLK_UP, KMOD_LSHIFT, {6, 7, 1, 1}, 6},
        {SDLK_LEFT, KMOD_LSHIFT, {6, 7, 1, 1}, 6},
        {SDLK_LEFT, KMOD_LSHIFT, {6, 7, 0, 1}, 6},
        {SDLK_PAGEDOWN, KMOD_LSHIFT, {7, 22, 0, 1}, 22},
        {SDLK_PAGEUP, KMOD_LSHIFT, {6, 7, 0, 1}, 6},
        {SDLK_a, KMOD_LCTRL, {0, 63, 0, 3}, 6},
        {SDLK_a, KMOD_LCTRL, {0, 63, 0, 31}, 6},
        {SDLK_a, KMOD_LCTRL, {0, 63, 0, 3}, 6},
        {SDLK_ESCAPE, 0, {-1, -1, -1, -1}, 6},
        {SDLK_LEFT, KMOD_LSHIFT, {6, 6, 0, 31}, 6},  // wraps to channel 7
    };
    cursorAt(0, 0, 5);
    for (const Step& s : steps) {
        press(s.symbol, s.modifiers);
        EXPECT_EQ(shown(), s.block) << "key " << s.symbol << " modifiers " << s.modifiers;
        EXPECT_EQ(transport.currentRow, s.row) << "key " << s.symbol;
    }
    EXPECT_EQ(historyUndoable(), 0u);
    EXPECT_EQ(statusText, "");
}

TEST_F(Blocks, MovingToAnotherPatternOrToTheOrderListDropsTheBlock) {
    // A block belongs to its pattern and the channel focus: leaving either drops it for good.
    mark(2, 0, 3, 3, 0, 6);
    press(SDLK_TAB, KMOD_LCTRL);
    press(SDLK_TAB, KMOD_LCTRL);
    EXPECT_EQ(shown()[0], -1);
    mark(2, 0, 3, 3, 0, 6);
    transport.currentPattern = 1;  // the song played on
    press(SDLK_LSHIFT);
    transport.currentPattern = 0;
    EXPECT_EQ(shown()[0], -1);
}

TEST_F(Blocks, PasteAlignsTheClipboardByFieldKindAndClipsAtRow63AndChannel7) {
    // Ctrl+V puts the block's first field on the cursor channel's field of the same kind and its first row on the
    // cursor row; Ctrl+Shift+V fills only fields shown empty (a parameter beside an effect is not); what passes
    // row 63 or the last channel is dropped; Ctrl+X clears the block too; without a block: the cursor's cell.
    const std::vector<Place> start = {{0, 0, {39, 80, 3, 0x20}},
                                      {0, 1, {41, 64, 0, 0x11}},
                                      {1, 1, {50, 48, 0, 0}},
                                      {2, 0, {0, 32, 0, 0}},
                                      {2, 1, {0, 0, 5, 0}}};
    const Place a = start[0], b = start[1], c = start[2], d = start[3], e = start[4];
    struct Case {
        const char* what;
        int c0, col0, r0, c1, col1, r1;  // the block; c0 < 0: none, the cursor at (c1, col1, r1)
        int copy, to, toColumn, toRow, paste;
        std::vector<Place> want;
        const char* message;
    } const cases[] = {
        {"volumes onto a note column",
         0,
         1,
         0,
         0,
         2,
         1,
         SDLK_c,
         3,
         0,
         10,
         KMOD_LCTRL,
         {a, b, c, d, e, {3, 10, {0, 80, 0, 0}}, {3, 11, {0, 64, 0, 0}}},
         "PASTED 2 ROWS"},
        {"volume to next note, at channel 7 row 63",
         0,
         1,
         0,
         1,
         0,
         1,
         SDLK_c,
         7,
         4,
         63,
         KMOD_LCTRL,
         {a, b, c, d, e, {7, 63, {0, 80, 3, 0x20}}},
         "PASTED 1 ROW"},
        {"overwriting",
         0,
         1,
         0,
         0,
         5,
         1,
         SDLK_c,
         2,
         1,
         0,
         KMOD_LCTRL,
         {a, b, c, {2, 0, {0, 80, 3, 0x20}}, {2, 1, {0, 64, 0, 0x11}}},
         "PASTED 2 ROWS"},
        {"into empty fields",
         0,
         1,
         0,
         0,
         5,
         1,
         SDLK_c,
         2,
         1,
         0,
         KMOD_LCTRL | KMOD_LSHIFT,
         {a, b, c, {2, 0, {0, 32, 3, 0x20}}, {2, 1, {0, 64, 5, 0}}},
         "PASTED 2 ROWS INTO EMPTY FIELDS"},
        {"no block: the cell",
         -1,
         0,
         0,
         1,
         3,
         1,
         SDLK_c,
         4,
         3,
         5,
         KMOD_LCTRL,
         {a, b, c, d, e, {4, 5, {50, 48, 0, 0}}},
         "PASTED 1 ROW"},
        {"cut notes",
         0,
         0,
         0,
         0,
         0,
         1,
         SDLK_x,
         5,
         2,
         2,
         KMOD_RCTRL,
         {{0, 0, {0, 80, 3, 0x20}}, {0, 1, {0, 64, 0, 0x11}}, c, d, e, {5, 2, {39, 0, 0, 0}}, {5, 3, {41, 0, 0, 0}}},
         "PASTED 2 ROWS"},
    };
    for (const Case& k : cases) {
        freshKeys();
        setCells(start);
        k.c0 >= 0 ? mark(k.c0, k.col0, k.r0, k.c1, k.col1, k.r1) : cursorAt(k.c1, k.col1, k.r1);
        press(k.copy, KMOD_LCTRL);
        const int rows = k.c0 >= 0 ? k.r1 - k.r0 + 1 : 1;
        EXPECT_EQ(statusText,
                  (k.copy == SDLK_c ? "COPIED " : "CUT ") + std::to_string(rows) + (rows > 1 ? " ROWS" : " ROW"));
        cursorAt(k.to, k.toColumn, k.toRow);
        press(SDLK_v, k.paste);
        EXPECT_EQ(statusText, k.message) << k.what;
        expectPattern(k.want, k.what);
        EXPECT_EQ(transport.currentRow, k.toRow) << k.what;  // no advance
    }
}

TEST_F(Blocks, CommandsWithNothingToActOnChangeNothingAndSaySo) {
    // An empty clipboard, empty fields, too few rows, the order-list focus: no change, no undo step, a short
    // message; copying empty fields keeps what was copied before.
    setCells({{0, 0, {39, 80, 0, 0}}});
    struct Case {
        int channel, row, symbol, modifiers;
        const char* message;
    } const cases[] = {
        {0, 0, SDLK_v, KMOD_LCTRL, "NOTHING TO PASTE"},
        {0, 5, SDLK_c, KMOD_LCTRL, "NOTHING TO COPY"},
        {0, 5, SDLK_x, KMOD_LCTRL, "NOTHING TO CUT"},
        {1, 0, SDLK_UP, KMOD_LCTRL, "NO NOTES TO TRANSPOSE"},
        {0, 0, SDLK_i, KMOD_LCTRL, "INTERPOLATION NEEDS 3 ROWS"},
        {3, 0, SDLK_INSERT, 0, "NOTHING TO MOVE"},
        {3, 10, SDLK_BACKSPACE, KMOD_LSHIFT, "NOTHING TO MOVE"},
        {-1, 0, SDLK_c, KMOD_LCTRL, "NO BLOCKS IN THE ORDER LIST"},
        {-1, 0, SDLK_v, KMOD_LCTRL, "NO BLOCKS IN THE ORDER LIST"},
        {-1, 0, SDLK_i, KMOD_LCTRL, "NO BLOCKS IN THE ORDER LIST"},
        {-1, 0, SDLK_a, KMOD_LCTRL, "NO BLOCKS IN THE ORDER LIST"},
        {-1, 0, SDLK_INSERT, 0, "NO BLOCKS IN THE ORDER LIST"},
    };
    const Bytes before = currentImage();
    for (const Case& k : cases) {
        cursorAt(k.channel, 0, k.row);
        press(k.symbol, k.modifiers);
        EXPECT_EQ(statusText, k.message) << "key " << k.symbol << " on channel " << k.channel;
        EXPECT_TRUE(currentImage() == before && historyUndoable() == 0) << "key " << k.symbol;
    }
    cursorAt(0, 0, 0);
    press(SDLK_c, KMOD_LCTRL);
    cursorAt(0, 0, 9);
    press(SDLK_c, KMOD_LCTRL);
    press(SDLK_v, KMOD_LCTRL);
    EXPECT_EQ(cellFields(0, 9), (Fields{39, 80, 0, 0}));
}

TEST_F(Blocks, TransposeMovesTheBlocksNotesAndLeavesThoseThatWouldLeaveTheRange) {
    // Ctrl+Up/Down: a semitone, with Shift twelve; empty notes stay empty, a note that would leave 1..194 stays and
    // the message counts it; volumes and notes outside the block are untouched; all out of range: no undo step.
    struct Case {
        int symbol, modifiers;
        std::array<int, 5> notes;
        const char* message;
    } const cases[] = {
        {SDLK_UP, KMOD_LCTRL, {2, 13, 0, 184, 194}, "TRANSPOSED +1, 1 NOTE OUT OF RANGE"},
        {SDLK_DOWN, KMOD_RCTRL, {1, 11, 0, 182, 193}, "TRANSPOSED -1, 1 NOTE OUT OF RANGE"},
        {SDLK_UP, KMOD_LCTRL | KMOD_LSHIFT, {13, 24, 0, 183, 194}, "TRANSPOSED +12, 2 NOTES OUT OF RANGE"},
        {SDLK_DOWN, KMOD_LCTRL | KMOD_RSHIFT, {1, 12, 0, 171, 182}, "TRANSPOSED -12, 2 NOTES OUT OF RANGE"},
    };
    for (const Case& k : cases) {
        freshKeys();
        setCells({{1, 0, {1, 80, 0, 0}},
                  {1, 1, {12, 0, 0, 0}},
                  {1, 3, {183, 0, 0, 0}},
                  {1, 4, {194, 0, 0, 0}},
                  {0, 1, {40, 0, 0, 0}}});
        mark(1, 0, 0, 1, 2, 4);
        press(k.symbol, k.modifiers);
        for (int r = 0; r < 5; ++r) EXPECT_EQ(cellAt(1, 0, r).note, k.notes[r]) << k.message << ", row " << r;
        EXPECT_EQ(statusText, k.message);
        EXPECT_EQ(cellAt(1, 0, 0).volume + cellAt(0, 0, 1).note, 80 + 40);
        EXPECT_EQ(historyUndoable(), 1u);
    }
    freshKeys();
    cellAt(0, 0, 0).note = 194;
    press(SDLK_UP, KMOD_LCTRL);
    EXPECT_EQ(statusText, "1 NOTE OUT OF RANGE");
    EXPECT_EQ(cellAt(0, 0, 0).note + int(historyUndoable()), 194);
}

TEST_F(Blocks, InterpolationPutsTheRowsBetweenOnTheStraightLineRoundedToNearest) {
    // Ctrl+I: in each volume or parameter field of the block the rows strictly between the first and the last get
    // the value on the line between theirs, rounded to the nearest (halves away from the first value, so a fade
    // down mirrors the fade up), rows without a note too; notes and effects untouched; an empty end: no line.
    struct Case {
        int column;  // 1: volume, 4: parameter (the ends with effect A)
        int from, to;
        std::vector<int> between;
    } const cases[] = {
        {1, 16, 19, {18}},     {1, 19, 16, {17}},           {1, 16, 80, {37, 59}},
        {1, 80, 16, {59, 37}}, {4, 0, 255, {64, 128, 191}}, {4, 255, 0, {191, 127, 64}},
    };
    for (const Case& k : cases) {
        freshKeys();
        const int last = 11 + int(k.between.size());
        const bool volume = k.column == 1;
        setCells({{2, 10, {39, volume ? k.from : 0, volume ? 0 : 10, volume ? 0 : k.from}},
                  {2, last, {0, volume ? k.to : 0, volume ? 0 : 10, volume ? 0 : k.to}}});
        mark(2, k.column, 10, 2, k.column + 1, last);
        press(SDLK_i, KMOD_LCTRL);
        EXPECT_EQ(statusText, "INTERPOLATED " + std::to_string(last - 9) + " ROWS");
        for (int r = 11; r < last; ++r)
            EXPECT_EQ(cellFields(2, r), (Fields{0, volume ? k.between[r - 11] : 0, 0, volume ? 0 : k.between[r - 11]}))
                << k.from << " to " << k.to << ", row " << r;
        EXPECT_EQ(cellFields(2, 10)[0], 39);
    }
    freshKeys();
    cellAt(0, 0, 0).volume = 40;
    mark(0, 1, 0, 0, 2, 5);
    press(SDLK_i, KMOD_LCTRL);
    EXPECT_EQ(statusText, "NOTHING TO INTERPOLATE");
    EXPECT_EQ(historyUndoable(), 0u);
}

TEST_F(Blocks, InsertAndBackspaceMoveTheRowsBelowTheCursorInTheBlocksChannelsOrAllWithShift) {
    // Insert: an empty row at the cursor, the rows below down, row 63 drops off; Backspace: the cursor row out,
    // the rows below up, row 63 empty; in the block's channels, else the cursor's, with Shift all eight.
    const std::vector<Place> start = {{0, 0, {39, 0, 0, 0}},
                                      {0, 1, {41, 0, 0, 0}},
                                      {0, 63, {50, 0, 0, 0}},
                                      {1, 0, {60, 0, 0, 0}},
                                      {2, 0, {70, 0, 0, 0}}};
    const Place moved39{0, 1, {39, 0, 0, 0}}, moved41{0, 2, {41, 0, 0, 0}}, up41{0, 0, {41, 0, 0, 0}},
        up50{0, 62, {50, 0, 0, 0}};
    struct Case {
        const char* what;
        int channel, row, symbol, modifiers;
        bool block;  // marked over channels 1 and 2
        std::vector<Place> want;
    } const cases[] = {
        {"insert at 0", 0, 0, SDLK_INSERT, 0, false, {moved39, moved41, start[3], start[4]}},
        {"remove at 0", 0, 0, SDLK_BACKSPACE, 0, false, {up41, up50, start[3], start[4]}},
        {"insert at 63", 0, 63, SDLK_INSERT, 0, false, {start[0], start[1], start[3], start[4]}},
        {"remove at 63", 0, 63, SDLK_BACKSPACE, 0, false, {start[0], start[1], start[3], start[4]}},
        {"insert on all",
         0,
         0,
         SDLK_INSERT,
         KMOD_LSHIFT,
         false,
         {moved39, moved41, {1, 1, {60, 0, 0, 0}}, {2, 1, {70, 0, 0, 0}}}},
        {"remove on all", 0, 0, SDLK_BACKSPACE, KMOD_RSHIFT, false, {up41, up50}},
        {"insert in the block's channels",
         2,
         0,
         SDLK_INSERT,
         0,
         true,
         {start[0], start[1], start[2], {1, 1, {60, 0, 0, 0}}, {2, 1, {70, 0, 0, 0}}}},
    };
    for (const Case& k : cases) {
        freshKeys();
        setCells(start);
        if (k.block) mark(1, 0, k.row, 2, 0, k.row);
        cursorAt(k.channel, 0, k.row);
        press(k.symbol, k.modifiers);
        expectPattern(k.want, k.what);
        EXPECT_EQ(statusText, k.symbol == SDLK_INSERT ? "ROW INSERTED" : "ROW REMOVED");
        EXPECT_EQ(historyUndoable() * 100 + transport.currentRow, 100u + k.row) << k.what;
    }
}

TEST_F(Blocks, EachCommandIsOneUndoStepGivingBackTheSongTheCursorAndTheBlock) {
    // Undo after a block command brings back the song byte for byte, with the cursor and the block as they were;
    // redo the song after it.
    const int commands[][2] = {{SDLK_x, KMOD_LCTRL},
                               {SDLK_v, KMOD_LCTRL},
                               {SDLK_v, KMOD_LCTRL | KMOD_LSHIFT},
                               {SDLK_UP, KMOD_LCTRL},
                               {SDLK_DOWN, KMOD_LCTRL | KMOD_LSHIFT},
                               {SDLK_i, KMOD_LCTRL},
                               {SDLK_INSERT, 0},
                               {SDLK_BACKSPACE, KMOD_LSHIFT}};
    for (const auto& key : commands) {
        freshKeys();
        busyPatterns(1);
        setCells({{6, 20, {60, 50, 4, 0x33}}, {3, 8, {0, 20, 0, 0}}, {3, 30, {0, 70, 0, 0}}, {4, 30, {44, 0, 0, 0}}});
        cursorAt(6, 0, 20);
        press(SDLK_c, KMOD_LCTRL);
        mark(2, 1, 8, 4, 0, 30);
        const Bytes before = currentImage();
        const auto block = shown();
        press(key[0], key[1]);
        ASSERT_EQ(historyUndoable(), 1u) << "key " << key[0];
        const Bytes after = currentImage();
        cursorAt(0, 3, 50);
        press(SDLK_ESCAPE);
        press(SDLK_z, KMOD_LCTRL);
        EXPECT_TRUE(currentImage() == before && !(after == before)) << "key " << key[0];
        EXPECT_EQ(shown(), block) << "key " << key[0];
        EXPECT_EQ(editor.cursorChannel * 1000 + editor.cursorColumn * 100 + transport.currentRow, 4030);
        press(SDLK_y, KMOD_LCTRL);
        EXPECT_TRUE(currentImage() == after) << "key " << key[0];
    }
}

TEST_F(Blocks, HeldKeysNeverReachOutsideThePattern) {
    // Every command repeated as auto-repeat does, at the last row and channel with a whole pattern copied:
    // pattern 1, which follows pattern 0 in memory, stays empty.
    fullPatternZero();
    for (int i = 0; i < 2; ++i) press(SDLK_a, KMOD_LCTRL);
    press(SDLK_c, KMOD_LCTRL);
    EXPECT_EQ(statusText, "COPIED 64 ROWS");
    const int held[][2] = {{SDLK_v, KMOD_LCTRL},
                           {SDLK_v, KMOD_LCTRL | KMOD_LSHIFT},
                           {SDLK_UP, KMOD_LCTRL | KMOD_LSHIFT},
                           {SDLK_DOWN, KMOD_LCTRL},
                           {SDLK_i, KMOD_LCTRL},
                           {SDLK_INSERT, KMOD_LSHIFT},
                           {SDLK_BACKSPACE, 0},
                           {SDLK_DOWN, KMOD_LSHIFT},
                           {SDLK_RIGHT, KMOD_LSHIFT},
                           {SDLK_x, KMOD_LCTRL}};
    for (const auto& key : held) {
        cursorAt(7, 5, 63);
        for (int i = 0; i < 40; ++i) press(key[0], key[1]);
    }
    for (int c = 0; c < ChannelCount; ++c)
        for (int r = 0; r < RowsPerPattern; ++r) ASSERT_EQ(cellFields(c, r, 1), Fields{}) << c << " " << r;
}

TEST_F(Blocks, ShiftPauseSolosTheCursorChannelAndAgainGivesBackTheMutesAsTheyWere) {
    // Shift+Pause mutes every other channel, on another channel solos that one, on the soloed channel gives back
    // the mutes from before the first solo; plain Pause still flips one mute; the order list: nothing.
    transport.muted[2] = true;
    transport.muted[5] = true;
    struct Step {
        int channel, modifiers;
        const char *mutes, *message;  // channel 0 first, 'x' muted
    } const steps[] = {
        {0, KMOD_LSHIFT, ".xxxxxxx", "SOLO CHANNEL 1"},
        {3, KMOD_RSHIFT, "xxx.xxxx", "SOLO CHANNEL 4"},
        {3, KMOD_LSHIFT, "..x..x..", "SOLO OFF"},
        {-1, KMOD_LSHIFT, "..x..x..", "SOLO OFF"},
        {6, 0, "..x..xx.", "SOLO OFF"},
        {6, KMOD_LSHIFT, "xxxxxx.x", "SOLO CHANNEL 7"},
        {6, KMOD_LSHIFT, "..x..xx.", "SOLO OFF"},
    };
    for (const Step& s : steps) {
        editor.cursorChannel = s.channel;
        press(SDLK_PAUSE, s.modifiers);
        std::string mutes;
        for (int c = 0; c < ChannelCount; ++c) mutes += transport.muted[c] ? 'x' : '.';
        EXPECT_EQ(mutes + " " + statusText, std::string(s.mutes) + " " + s.message) << "channel " << s.channel;
    }
}

TEST_F(Blocks, CtrlReturnLoopsTheShownPatternTheOrderListWaitsAndAnExportIsNotLooped) {
    // Ctrl+Return (Ctrl+Space) plays the shown pattern from row 0, Ctrl+Shift+Return from the cursor row; after
    // row 63 it is row 0 of the same pattern, the slot unchanged; plain Return follows the order list. An export
    // started meanwhile plays the whole order list.
    struct Case {
        int symbol, modifiers, shownPattern, slotAfter, patternAfter;
    } const cases[] = {
        {SDLK_RETURN, KMOD_LCTRL | KMOD_LSHIFT, 0, 0, 0},
        {SDLK_SPACE, KMOD_RCTRL | KMOD_RSHIFT, 0, 0, 0},
        {SDLK_RETURN, KMOD_LCTRL | KMOD_LSHIFT, 5, 0, 5},
        {SDLK_RETURN, KMOD_LSHIFT, 0, 1, 1},
        {SDLK_RETURN, KMOD_LSHIFT, 5, 1, 1},
    };
    std::vector<double> out(64000);
    for (const Case& k : cases) {
        freshKeys();
        song.orders[1] = 1;
        song.speed = 1;  // a row is 1000 frames
        transport.currentPattern = k.shownPattern;
        cursorAt(0, 0, 63);
        press(k.symbol, k.modifiers);
        fillBlock(out.data(), 999);
        EXPECT_EQ(transport.currentRow, 63);
        fillBlock(out.data(), 1);
        EXPECT_EQ(transport.currentRow * 10000 + transport.orderPos * 100 + transport.currentPattern,
                  k.slotAfter * 100 + k.patternAfter)
            << "key " << k.symbol << " modifiers " << k.modifiers;
    }
    freshKeys();
    song.orders[1] = 1;
    song.speed = 1;
    transport.currentPattern = 0x1A;
    press(SDLK_RETURN, KMOD_LCTRL);
    EXPECT_EQ(statusText, "LOOPING PATTERN 1A");
    fillBlock(out.data(), 63999);
    EXPECT_EQ(transport.currentRow, 63);
    fillBlock(out.data(), 1);
    EXPECT_EQ(transport.currentRow + transport.orderPos, 0);
    EXPECT_EQ(transport.currentPattern, 0x1A);
    EXPECT_EQ(renderSong([](const int16_t*, const double* const*, int, void*) { return true; }, nullptr), 128000u);
}

TEST_F(Blocks, CtrlDigitSetsTheEditStepTheCursorMovesAfterAnEntryOrADelete) {
    // Ctrl+0..9 sets how many rows an accepted entry or a Delete moves the cursor on a channel (0: it stays,
    // wrapping past 63) and shows it; movement keys and the order list still move by one; it types nothing.
    struct Case {
        int step, column, row, symbol;
        uint8_t scanCode;
        int rowAfter;
    } const cases[] = {
        {4, 0, 10, SDLK_z, 0x2C, 14}, {0, 0, 10, SDLK_z, 0x2C, 10}, {9, 0, 60, SDLK_DELETE, 0, 5},
        {3, 1, 0, SDLK_2, 0, 3},      {7, 1, 0, SDLK_9, 0, 0},      {5, 0, 10, SDLK_DOWN, 0, 11},
    };
    for (const Case& k : cases) {
        press(SDLK_0 + k.step, KMOD_LCTRL);
        EXPECT_EQ(statusText, "EDIT STEP " + std::to_string(k.step));
        cursorAt(0, k.column, k.row);
        press(k.symbol, 0, k.scanCode);
        EXPECT_EQ(transport.currentRow, k.rowAfter) << "step " << k.step << " key " << k.symbol;
    }
    cursorAt(0, 2, 40);
    press(SDLK_3, KMOD_RCTRL);
    EXPECT_EQ(cellAt(0, 0, 40).volume + transport.currentRow, 40);
    cursorAt(-1, 1, 0);
    transport.orderPos = 3;
    press(SDLK_2);
    EXPECT_EQ(transport.orderPos, 4);
}
