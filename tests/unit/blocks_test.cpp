// Composing keys: the marked block and its commands (copy, cut, paste,
// transpose, interpolation, rows), solo, the pattern loop and the edit step,
// driven through the key table as the main loop leaves the held key, on
// small patterns written out by hand.
#include <gtest/gtest.h>

#include <SDL.h>

#include <string>
#include <vector>

#include "app/blocks.h"
#include "ui/status.h"
#include "tests/support/keys.h"
#include "tests/support/test_support.h"

namespace {

struct Blocks : ::testing::Test {
    void SetUp() override {
        freshKeys();
        statusText.clear();
    }
};

// A cell's four fields as a test writes them down.
struct Fields {
    int note = 0, volume = 0, effect = 0, param = 0;
};
bool operator==(const Fields& a, const Fields& b) {
    return a.note == b.note && a.volume == b.volume && a.effect == b.effect && a.param == b.param;
}
std::ostream& operator<<(std::ostream& os, const Fields& f) {
    return os << "{" << f.note << ", " << f.volume << ", " << f.effect << ", " << f.param << "}";
}

// A cell of pattern 0 (or p) at channel c, row r.
struct Place {
    int c, r;
    Fields f;
};

Fields cellFields(int c, int r, int p = 0) {
    const Cell& cell = cellAt(c, p, r);
    return Fields{cell.note, cell.volume, cell.effect, cell.effectParam};
}
void setCells(const std::vector<Place>& cells, int p = 0) {
    for (const Place& k : cells) {
        Cell& cell = cellAt(k.c, p, k.r);
        cell.note = k.f.note;
        cell.volume = k.f.volume;
        cell.effect = k.f.effect;
        cell.effectParam = k.f.param;
    }
}

// Every cell of pattern 0 is the listed one, or empty.
void expectPattern(const std::vector<Place>& cells, const std::string& what) {
    for (int c = 0; c < ChannelCount; ++c)
        for (int r = 0; r < RowsPerPattern; ++r) {
            Fields want;
            for (const Place& k : cells)
                if (k.c == c && k.r == r) want = k.f;
            EXPECT_EQ(cellFields(c, r), want) << what << ": channel " << c << " row " << r;
        }
}

void cursorAt(int channel, int column, int row) {
    editor.cursorChannel = channel;
    editor.cursorColumn = column;
    transport.currentRow = row;
}

// Marks from (channel c0, sub-column col0, row r0) to (c1, col1, r1) with
// Shift and the arrow keys, as a user does: down the rows, then right.
void mark(int c0, int col0, int r0, int c1, int col1, int r1) {
    cursorAt(c0, col0, r0);
    press(SDLK_ESCAPE);
    for (int r = r0; r < r1; ++r) press(SDLK_DOWN, KMOD_LSHIFT);
    for (int steps = (c1 - c0) * 6 + col1 - col0; steps > 0; --steps) press(SDLK_RIGHT, KMOD_RSHIFT);
}

struct Range {
    bool shown;
    int firstRow, lastRow, firstField, lastField;
};
Range shownBlock() {
    const BlockRange b = blockRange(editor.block);
    return blockVisible() ? Range{true, b.firstRow, b.lastRow, b.firstField, b.lastField} : Range{false, 0, 0, 0, 0};
}
std::string text(const Range& r) {
    return r.shown ? "rows " + std::to_string(r.firstRow) + ".." + std::to_string(r.lastRow) + " fields " +
                         std::to_string(r.firstField) + ".." + std::to_string(r.lastField)
                   : "none";
}

}  // namespace

// ---- marking --------------------------------------------------------------------------

TEST_F(Blocks, ShiftMovesMarkFromTheAnchorAndPlainMovesStartANewOneCtrlAWidensEscapeDrops) {
    // Shift with a movement key moves as the plain key and marks from where the marking began to the
    // cursor, fields in reading order; a plain move keeps the block but the next Shift move starts anew
    // at the cursor; Ctrl+A marks the channel, again the whole pattern; Escape drops the block.
    struct Step {
        int symbol, modifiers;
        Range want;
        int rowAfter;
    };
    cursorAt(0, 0, 5);
    const Step steps[] = {
        {SDLK_DOWN, KMOD_LSHIFT, {true, 5, 6, 0, 0}, 6},
        {SDLK_DOWN, KMOD_RSHIFT, {true, 5, 7, 0, 0}, 7},
        {SDLK_RIGHT, KMOD_LSHIFT, {true, 5, 7, 0, 1}, 7},  // first volume digit: the volume field
        {SDLK_RIGHT, KMOD_LSHIFT, {true, 5, 7, 0, 1}, 7},  // second digit: the same field
        {SDLK_DOWN, 0, {true, 5, 7, 0, 1}, 8},             // kept, not moved
        {SDLK_UP, 0, {true, 5, 7, 0, 1}, 7},               // back where the marking ended
        {SDLK_DOWN, KMOD_LSHIFT, {true, 7, 8, 1, 1}, 8},   // yet a new anchor where the cursor stood
        {SDLK_UP, KMOD_LSHIFT, {true, 7, 7, 1, 1}, 7},
        {SDLK_UP, KMOD_LSHIFT, {true, 6, 7, 1, 1}, 6},
        {SDLK_LEFT, KMOD_LSHIFT, {true, 6, 7, 1, 1}, 6},
        {SDLK_LEFT, KMOD_LSHIFT, {true, 6, 7, 0, 1}, 6},   // on the note
        {SDLK_PAGEDOWN, KMOD_LSHIFT, {true, 7, 22, 0, 1}, 22},
        {SDLK_PAGEUP, KMOD_LSHIFT, {true, 6, 7, 0, 1}, 6},
        {SDLK_a, KMOD_LCTRL, {true, 0, 63, 0, 3}, 6},
        {SDLK_a, KMOD_LCTRL, {true, 0, 63, 0, 31}, 6},
        {SDLK_a, KMOD_LCTRL, {true, 0, 63, 0, 3}, 6},
        {SDLK_ESCAPE, 0, {false, 0, 0, 0, 0}, 6},
        {SDLK_LEFT, KMOD_LSHIFT, {true, 6, 6, 0, 31}, 6},  // Left from channel 0's note wraps to channel 7's parameter
    };
    for (const Step& s : steps) {
        press(s.symbol, s.modifiers);
        EXPECT_EQ(text(shownBlock()), text(s.want)) << "key " << s.symbol << " modifiers " << s.modifiers;
        EXPECT_EQ(transport.currentRow, s.rowAfter) << "key " << s.symbol;
    }
    EXPECT_EQ(historyUndoable(), 0u);  // marking changes no song
    EXPECT_EQ(statusText, "");         // and says nothing
}

TEST_F(Blocks, MovingToAnotherPatternOrToTheOrderListDropsTheBlock) {
    // A block belongs to its pattern: showing another pattern or focusing the order list drops it, and it
    // does not come back with the pattern.
    song.orders[1] = 1;
    mark(2, 0, 3, 3, 0, 6);
    ASSERT_TRUE(shownBlock().shown);
    press(SDLK_TAB, KMOD_LCTRL);  // to the order list
    EXPECT_FALSE(shownBlock().shown);
    press(SDLK_TAB, KMOD_LCTRL);  // and back
    EXPECT_FALSE(shownBlock().shown);

    mark(2, 0, 3, 3, 0, 6);
    transport.currentPattern = 1;  // the song played on
    press(SDLK_LSHIFT);
    transport.currentPattern = 0;
    EXPECT_FALSE(shownBlock().shown);
}

// ---- copy, cut, paste -------------------------------------------------------------------

TEST_F(Blocks, PasteAlignsTheClipboardByFieldKindAndClipsAtRow63AndChannel7) {
    // Ctrl+V puts the block's first field on the cursor channel's field of the same kind, its first row on the
    // cursor row, overwriting; Ctrl+Shift+V fills only fields shown empty (a parameter beside an effect is not);
    // what passes row 63 or the last channel is dropped; Ctrl+X also clears the block; no block: the cursor's cell.
    const std::vector<Place> start = {
        {0, 0, {39, 80, 3, 0x20}},
        {0, 1, {41, 64, 0, 0x11}},
        {1, 1, {50, 48, 0, 0}},
        {2, 0, {0, 32, 0, 0}},
        {2, 1, {0, 0, 5, 0}},
    };
    struct Case {
        const char* what;
        int c0, col0, r0, c1, col1, r1;  // the block; c0 < 0: none, the cursor at (c1, col1, r1)
        int copyKey;                     // SDLK_c or SDLK_x
        int toChannel, toColumn, toRow, pasteModifiers;
        std::vector<Place> want;  // the whole pattern after
        const char* message;
    };
    const Case cases[] = {
        {"a volume column onto a note column lands in the volume column", 0, 1, 0, 0, 2, 1, SDLK_c, 3, 0, 10, KMOD_LCTRL,
         {start[0], start[1], start[2], start[3], start[4], {3, 10, {0, 80, 0, 0}}, {3, 11, {0, 64, 0, 0}}},
         "PASTED 2 ROWS"},
        {"channel 0 volume to channel 1 note, pasted from channel 7's parameter on row 63", 0, 1, 0, 1, 0, 1, SDLK_c, 7, 4,
         63, KMOD_LCTRL, {start[0], start[1], start[2], start[3], start[4], {7, 63, {0, 80, 3, 0x20}}}, "PASTED 1 ROW"},
        {"overwriting", 0, 1, 0, 0, 5, 1, SDLK_c, 2, 1, 0, KMOD_LCTRL,
         {start[0], start[1], start[2], {2, 0, {0, 80, 3, 0x20}}, {2, 1, {0, 64, 0, 0x11}}}, "PASTED 2 ROWS"},
        {"into empty fields only", 0, 1, 0, 0, 5, 1, SDLK_c, 2, 1, 0, KMOD_LCTRL | KMOD_LSHIFT,
         {start[0], start[1], start[2], {2, 0, {0, 32, 3, 0x20}}, {2, 1, {0, 64, 5, 0}}},
         "PASTED 2 ROWS INTO EMPTY FIELDS"},
        {"no block: the cursor's cell, onto the next channel's effect column", -1, 0, 0, 1, 3, 1, SDLK_c, 4, 3, 5,
         KMOD_LCTRL, {start[0], start[1], start[2], start[3], start[4], {4, 5, {50, 48, 0, 0}}}, "PASTED 1 ROW"},
        {"cut notes, pasted lower down", 0, 0, 0, 0, 0, 1, SDLK_x, 5, 2, 2, KMOD_RCTRL,
         {{0, 0, {0, 80, 3, 0x20}}, {0, 1, {0, 64, 0, 0x11}}, start[2], start[3], start[4], {5, 2, {39, 0, 0, 0}},
          {5, 3, {41, 0, 0, 0}}},
         "PASTED 2 ROWS"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        freshKeys();
        setCells(start);
        if (k.c0 >= 0)
            mark(k.c0, k.col0, k.r0, k.c1, k.col1, k.r1);
        else
            cursorAt(k.c1, k.col1, k.r1);
        press(k.copyKey, KMOD_LCTRL);
        const int rows = k.c0 >= 0 ? k.r1 - k.r0 + 1 : 1;
        EXPECT_EQ(statusText, std::string(k.copyKey == SDLK_c ? "COPIED " : "CUT ") + std::to_string(rows) +
                                  (rows == 1 ? " ROW" : " ROWS"));
        cursorAt(k.toChannel, k.toColumn, k.toRow);
        press(SDLK_v, k.pasteModifiers);
        EXPECT_EQ(statusText, k.message);
        expectPattern(k.want, k.what);
        EXPECT_EQ(transport.currentRow, k.toRow);  // a paste does not advance
    }
}

TEST_F(Blocks, CommandsWithNothingToActOnChangeNothingAndSaySo) {
    // An empty clipboard, a block of empty fields, the order-list focus, too few rows: nothing changes, no undo
    // step, a short message; copying empty fields keeps what was copied before.
    setCells({{0, 0, {39, 80, 0, 0}}});
    struct Case {
        int channel, row, symbol, modifiers;
        const char* message;
    };
    const Case cases[] = {
        {0, 0, SDLK_v, KMOD_LCTRL, "NOTHING TO PASTE"},
        {0, 5, SDLK_c, KMOD_LCTRL, "NOTHING TO COPY"},
        {0, 5, SDLK_x, KMOD_LCTRL, "NOTHING TO CUT"},
        {1, 0, SDLK_UP, KMOD_LCTRL, "NO NOTES TO TRANSPOSE"},
        {0, 0, SDLK_i, KMOD_LCTRL, "INTERPOLATION NEEDS 3 ROWS"},
        {3, 0, SDLK_INSERT, 0, "NOTHING TO MOVE"},
        {3, 10, SDLK_BACKSPACE, KMOD_LSHIFT, "NOTHING TO MOVE"},
        {-1, 0, SDLK_c, KMOD_LCTRL, "NO BLOCKS IN THE ORDER LIST"},
        {-1, 0, SDLK_v, KMOD_LCTRL, "NO BLOCKS IN THE ORDER LIST"},
        {-1, 0, SDLK_x, KMOD_LCTRL, "NO BLOCKS IN THE ORDER LIST"},
        {-1, 0, SDLK_i, KMOD_LCTRL, "NO BLOCKS IN THE ORDER LIST"},
        {-1, 0, SDLK_a, KMOD_LCTRL, "NO BLOCKS IN THE ORDER LIST"},
        {-1, 0, SDLK_INSERT, 0, "NO BLOCKS IN THE ORDER LIST"},
        {-1, 0, SDLK_BACKSPACE, 0, "NO BLOCKS IN THE ORDER LIST"},
    };
    const Bytes before = currentImage();
    for (const Case& k : cases) {
        cursorAt(k.channel, 0, k.row);
        press(k.symbol, k.modifiers);
        EXPECT_EQ(statusText, k.message) << "key " << k.symbol << " on channel " << k.channel;
        EXPECT_TRUE(currentImage() == before) << "key " << k.symbol << " on channel " << k.channel;
        EXPECT_EQ(historyUndoable(), 0u) << "key " << k.symbol << " on channel " << k.channel;
    }
    // A copy of empty fields keeps the clipboard: the note copied first is still what pastes.
    cursorAt(0, 0, 0);
    press(SDLK_c, KMOD_LCTRL);
    cursorAt(0, 0, 9);
    press(SDLK_c, KMOD_LCTRL);
    EXPECT_EQ(statusText, "NOTHING TO COPY");
    press(SDLK_v, KMOD_LCTRL);
    EXPECT_EQ(cellFields(0, 9), (Fields{39, 80, 0, 0}));
}

// ---- transpose ------------------------------------------------------------------------------

TEST_F(Blocks, TransposeMovesTheBlocksNotesByASemitoneOrAnOctaveAndLeavesThoseThatWouldLeaveTheRange) {
    // Ctrl+Up/Down: one semitone, with Shift twelve; empty note fields stay empty, a note that would leave
    // 1..194 stays and the message counts it; volumes and other channels are untouched.
    const int notes[5] = {1, 12, 0, 183, 194};
    struct Case {
        int modifiers, symbol;
        int want[5];
        const char* message;
    };
    const Case cases[] = {
        {KMOD_LCTRL, SDLK_UP, {2, 13, 0, 184, 194}, "TRANSPOSED +1, 1 NOTE OUT OF RANGE"},
        {KMOD_RCTRL, SDLK_DOWN, {1, 11, 0, 182, 193}, "TRANSPOSED -1, 1 NOTE OUT OF RANGE"},
        {KMOD_LCTRL | KMOD_LSHIFT, SDLK_UP, {13, 24, 0, 183, 194}, "TRANSPOSED +12, 2 NOTES OUT OF RANGE"},
        {KMOD_LCTRL | KMOD_RSHIFT, SDLK_DOWN, {1, 12, 0, 171, 182}, "TRANSPOSED -12, 2 NOTES OUT OF RANGE"},
    };
    for (const Case& k : cases) {
        freshKeys();
        for (int r = 0; r < 5; ++r) cellAt(1, 0, r).note = notes[r];
        cellAt(1, 0, 0).volume = 80;
        cellAt(0, 0, 1).note = 40;
        mark(1, 0, 0, 1, 2, 4);
        press(k.symbol, k.modifiers);
        for (int r = 0; r < 5; ++r) EXPECT_EQ(cellAt(1, 0, r).note, k.want[r]) << k.message << ", row " << r;
        EXPECT_EQ(statusText, k.message);
        EXPECT_EQ(cellAt(1, 0, 0).volume, 80);
        EXPECT_EQ(cellAt(0, 0, 1).note, 40);
        EXPECT_EQ(historyUndoable(), 1u);
    }
    // Every note out of range: nothing changes, no undo step.
    freshKeys();
    cellAt(0, 0, 0).note = 194;
    press(SDLK_UP, KMOD_LCTRL);
    EXPECT_EQ(cellAt(0, 0, 0).note, 194);
    EXPECT_EQ(statusText, "1 NOTE OUT OF RANGE");
    EXPECT_EQ(historyUndoable(), 0u);
}

// ---- interpolation ----------------------------------------------------------------------------

TEST_F(Blocks, InterpolationPutsTheRowsBetweenOnTheStraightLineRoundedToNearest) {
    // Ctrl+I: in each volume or parameter field of the block, the rows strictly between the first and the last
    // get the value on the line between theirs, rounded to the nearest (halves away from the first value, so
    // a fade down mirrors the fade up); rows without a note get it too; notes and effects are untouched.
    struct Case {
        int column;  // 1: volume, 4: parameter (the end cells have effect A)
        int rows, from, to;
        std::vector<int> between;
    };
    const Case cases[] = {
        {1, 3, 16, 19, {18}},           // 17.5 up to 18
        {1, 3, 19, 16, {17}},           // 17.5 down to 17
        {1, 4, 16, 80, {37, 59}},       // 37.33, 58.67
        {1, 4, 80, 16, {59, 37}},
        {4, 5, 0, 255, {64, 128, 191}},  // 63.75, 127.5, 191.25
        {4, 5, 255, 0, {191, 127, 64}},
    };
    for (const Case& k : cases) {
        freshKeys();
        const int last = k.rows - 1;
        Cell& first = cellAt(2, 0, 10), &end = cellAt(2, 0, 10 + last);
        first.note = 39;
        (k.column == 1 ? first.volume : first.effectParam) = k.from;
        (k.column == 1 ? end.volume : end.effectParam) = k.to;
        if (k.column == 4) {
            first.effect = 10;
            end.effect = 10;
        }
        mark(2, k.column, 10, 2, k.column + 1, 10 + last);
        press(SDLK_i, KMOD_LCTRL);
        EXPECT_EQ(statusText, "INTERPOLATED " + std::to_string(k.rows) + " ROWS");
        for (int i = 0; i < last - 1; ++i) {
            const Cell& cell = cellAt(2, 0, 11 + i);
            EXPECT_EQ(k.column == 1 ? cell.volume : cell.effectParam, k.between[i])
                << k.from << " to " << k.to << " over " << k.rows << " rows, row " << i + 1;
            EXPECT_EQ(cell.note, 0);
            EXPECT_EQ(cell.effect, 0);
        }
        EXPECT_EQ(cellFields(2, 10), (Fields{39, k.column == 1 ? k.from : 0, k.column == 1 ? 0 : 10, k.column == 1 ? 0 : k.from}));
        EXPECT_EQ(historyUndoable(), 1u);
    }
    // An empty end gives no line.
    freshKeys();
    cellAt(0, 0, 0).volume = 40;
    mark(0, 1, 0, 0, 2, 5);
    press(SDLK_i, KMOD_LCTRL);
    EXPECT_EQ(statusText, "NOTHING TO INTERPOLATE");
    EXPECT_EQ(historyUndoable(), 0u);
}

// ---- rows -------------------------------------------------------------------------------------

TEST_F(Blocks, InsertAndBackspaceMoveTheRowsBelowTheCursorInTheBlocksChannelsOrAllWithShift) {
    // Insert: an empty row at the cursor, the rows below down, row 63 drops off; Backspace: the cursor row out,
    // the rows below up, row 63 empty. In the block's channels, without a block the cursor's, with Shift all eight.
    const std::vector<Place> start = {
        {0, 0, {39, 0, 0, 0}}, {0, 1, {41, 0, 0, 0}}, {0, 63, {50, 0, 0, 0}}, {1, 0, {60, 0, 0, 0}}, {2, 0, {70, 0, 0, 0}},
    };
    struct Case {
        const char* what;
        int channel, row, symbol, modifiers;
        bool blockOverChannels1And2;
        std::vector<Place> want;
    };
    const Case cases[] = {
        {"insert at row 0", 0, 0, SDLK_INSERT, 0, false,
         {{0, 1, {39, 0, 0, 0}}, {0, 2, {41, 0, 0, 0}}, start[3], start[4]}},
        {"remove at row 0", 0, 0, SDLK_BACKSPACE, 0, false, {{0, 0, {41, 0, 0, 0}}, {0, 62, {50, 0, 0, 0}}, start[3], start[4]}},
        {"insert at row 63", 0, 63, SDLK_INSERT, 0, false, {start[0], start[1], start[3], start[4]}},
        {"remove at row 63", 0, 63, SDLK_BACKSPACE, 0, false, {start[0], start[1], start[3], start[4]}},
        {"insert on all channels", 0, 0, SDLK_INSERT, KMOD_LSHIFT, false,
         {{0, 1, {39, 0, 0, 0}}, {0, 2, {41, 0, 0, 0}}, {1, 1, {60, 0, 0, 0}}, {2, 1, {70, 0, 0, 0}}}},
        {"remove on all channels", 0, 0, SDLK_BACKSPACE, KMOD_RSHIFT, false, {{0, 0, {41, 0, 0, 0}}, {0, 62, {50, 0, 0, 0}}}},
        {"insert in the block's channels", 2, 0, SDLK_INSERT, 0, true,
         {start[0], start[1], start[2], {1, 1, {60, 0, 0, 0}}, {2, 1, {70, 0, 0, 0}}}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        freshKeys();
        setCells(start);
        if (k.blockOverChannels1And2) mark(1, 0, k.row, 2, 0, k.row);
        cursorAt(k.channel, 0, k.row);
        press(k.symbol, k.modifiers);
        expectPattern(k.want, k.what);
        EXPECT_EQ(statusText, k.symbol == SDLK_INSERT ? "ROW INSERTED" : "ROW REMOVED");
        EXPECT_EQ(historyUndoable(), 1u);
        EXPECT_EQ(transport.currentRow, k.row);
    }
}

// ---- undo, and keys held down --------------------------------------------------------------------

TEST_F(Blocks, EachCommandIsOneUndoStepGivingBackTheSongTheCursorAndTheBlock) {
    // Undo after a block command brings back the song byte for byte with the cursor and the block as they
    // were; redo the song after it.
    struct Case {
        int symbol, modifiers;
    };
    const Case cases[] = {{SDLK_x, KMOD_LCTRL},     {SDLK_v, KMOD_LCTRL},         {SDLK_v, KMOD_LCTRL | KMOD_LSHIFT},
                          {SDLK_UP, KMOD_LCTRL},    {SDLK_DOWN, KMOD_LCTRL | KMOD_LSHIFT},
                          {SDLK_i, KMOD_LCTRL},     {SDLK_INSERT, 0},             {SDLK_BACKSPACE, KMOD_LSHIFT}};
    for (const Case& k : cases) {
        freshKeys();
        busyPatterns(1);
        setCells({{6, 20, {60, 50, 4, 0x33}}, {3, 8, {0, 20, 0, 0}}, {3, 30, {0, 70, 0, 0}}, {4, 30, {44, 0, 0, 0}}});
        cursorAt(6, 0, 20);
        press(SDLK_c, KMOD_LCTRL);  // something to paste: channel 6's cell on row 20
        mark(2, 1, 8, 4, 0, 30);
        const Bytes before = currentImage();
        const Range block = shownBlock();
        press(k.symbol, k.modifiers);
        ASSERT_EQ(historyUndoable(), 1u) << "key " << k.symbol;
        const Bytes after = currentImage();
        EXPECT_FALSE(after == before) << "key " << k.symbol;
        cursorAt(0, 3, 50);
        press(SDLK_ESCAPE);
        press(SDLK_z, KMOD_LCTRL);
        EXPECT_TRUE(currentImage() == before) << "key " << k.symbol;
        EXPECT_EQ(text(shownBlock()), text(block)) << "key " << k.symbol;
        EXPECT_EQ(editor.cursorChannel, 4);
        EXPECT_EQ(editor.cursorColumn, 0);
        EXPECT_EQ(transport.currentRow, 30);
        press(SDLK_y, KMOD_LCTRL);
        EXPECT_TRUE(currentImage() == after) << "key " << k.symbol;
    }
}

TEST_F(Blocks, HeldKeysNeverReachOutsideThePattern) {
    // Every command repeated as auto-repeat repeats it, at the last row and channel with a whole pattern
    // copied: pattern 1, which follows pattern 0 in memory, stays empty.
    fullPatternZero();
    press(SDLK_a, KMOD_LCTRL);
    press(SDLK_a, KMOD_LCTRL);
    press(SDLK_c, KMOD_LCTRL);
    EXPECT_EQ(statusText, "COPIED 64 ROWS");
    const int held[][2] = {{SDLK_v, KMOD_LCTRL},       {SDLK_v, KMOD_LCTRL | KMOD_LSHIFT}, {SDLK_UP, KMOD_LCTRL | KMOD_LSHIFT},
                           {SDLK_DOWN, KMOD_LCTRL},    {SDLK_i, KMOD_LCTRL},               {SDLK_INSERT, KMOD_LSHIFT},
                           {SDLK_BACKSPACE, 0},        {SDLK_DOWN, KMOD_LSHIFT},           {SDLK_RIGHT, KMOD_LSHIFT},
                           {SDLK_x, KMOD_LCTRL}};
    for (const auto& key : held) {
        cursorAt(7, 5, 63);
        for (int i = 0; i < 40; ++i) press(key[0], key[1]);
    }
    for (int c = 0; c < ChannelCount; ++c)
        for (int r = 0; r < RowsPerPattern; ++r) ASSERT_EQ(cellFields(c, r, 1), Fields{}) << "channel " << c << " row " << r;
}

// ---- solo -------------------------------------------------------------------------------------------

TEST_F(Blocks, ShiftPauseSolosTheCursorChannelAndAgainGivesBackTheMutesAsTheyWere) {
    // Shift+Pause mutes every other channel; on another channel it solos that one; on the soloed channel the
    // mutes come back as they were before the first solo. Plain Pause still flips one mute; the order list: nothing.
    transport.muted[2] = true;
    transport.muted[5] = true;
    struct Step {
        int channel, modifiers;
        const char* mutes;  // channel 0 first, 'x' muted
        const char* message;
    };
    const Step steps[] = {
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
        EXPECT_EQ(mutes, s.mutes) << "channel " << s.channel;
        EXPECT_EQ(statusText, s.message) << "channel " << s.channel;
    }
}

// ---- pattern loop ---------------------------------------------------------------------------------------

TEST_F(Blocks, CtrlReturnLoopsTheShownPatternAndTheOrderListWaits) {
    // Ctrl+Return (or Ctrl+Space) plays the shown pattern from row 0, Ctrl+Shift+Return from the cursor row; after
    // row 63 it is row 0 of the same pattern, the order slot unchanged. Plain Return follows the order list.
    struct Case {
        int symbol, modifiers, shownPattern;
        int rowAfter, slotAfter, patternAfter;
    };
    const Case cases[] = {
        {SDLK_RETURN, KMOD_LCTRL | KMOD_LSHIFT, 0, 0, 0, 0},
        {SDLK_SPACE, KMOD_RCTRL | KMOD_RSHIFT, 0, 0, 0, 0},
        {SDLK_RETURN, KMOD_LCTRL | KMOD_LSHIFT, 5, 0, 0, 5},  // the shown pattern, not the slot's
        {SDLK_RETURN, KMOD_LSHIFT, 0, 0, 1, 1},
        {SDLK_RETURN, KMOD_LSHIFT, 5, 0, 1, 1},
    };
    for (const Case& k : cases) {
        freshKeys();
        resetEngineWords();
        song.orders[1] = 1;
        song.speed = 1;  // a row is one tick, 1000 frames
        transport.currentPattern = k.shownPattern;
        cursorAt(0, 0, 63);
        press(k.symbol, k.modifiers);
        ASSERT_TRUE(transport.playing);
        EXPECT_EQ(transport.currentRow, 63);
        double out[1000];
        fillBlock(out, 999);
        EXPECT_EQ(transport.currentRow, 63);
        fillBlock(out, 1);
        EXPECT_EQ(transport.currentRow, k.rowAfter) << "key " << k.symbol << " modifiers " << k.modifiers;
        EXPECT_EQ(transport.orderPos, k.slotAfter) << "key " << k.symbol << " modifiers " << k.modifiers;
        EXPECT_EQ(transport.currentPattern, k.patternAfter) << "key " << k.symbol << " modifiers " << k.modifiers;
        press(SDLK_RETURN);
        EXPECT_FALSE(transport.playing);
    }
    // Ctrl+Return starts at row 0 and says what loops; a whole loop comes back to row 0 after 64 rows.
    freshKeys();
    song.orders[1] = 1;
    song.speed = 1;
    transport.currentPattern = 0x1A;
    cursorAt(0, 0, 30);
    press(SDLK_RETURN, KMOD_LCTRL);
    EXPECT_EQ(transport.currentRow, 0);
    EXPECT_EQ(statusText, "LOOPING PATTERN 1A");
    std::vector<double> out(64000);
    fillBlock(out.data(), 63999);
    EXPECT_EQ(transport.currentRow, 63);
    fillBlock(out.data(), 1);
    EXPECT_EQ(transport.currentRow, 0);
    EXPECT_EQ(transport.currentPattern, 0x1A);
    EXPECT_EQ(transport.orderPos, 0);
    transport.playing = false;
}

TEST_F(Blocks, AnExportIsNeverLooped) {
    // With the loop set, the export still plays the whole order list: two patterns at speed 1 are 128,000
    // frames, and the note on row 0 of the second pattern sounds in it.
    resetEngine();
    song.orders[1] = 1;
    song.speed = 1;
    cellAt(0, 1, 0).note = 39;
    press(SDLK_RETURN, KMOD_LCTRL);
    ASSERT_TRUE(transport.loopPattern);
    std::vector<int16_t> mix;
    renderSong(
        [](const int16_t* samples, const double* const*, int n, void* ctx) {
            auto& m = *static_cast<std::vector<int16_t>*>(ctx);
            m.insert(m.end(), samples, samples + n);
            return true;
        },
        &mix);
    ASSERT_EQ(mix.size(), 128000u);
    int sounding = 0;
    for (size_t i = 64000; i < 65000; ++i) sounding += mix[i] != 0;
    EXPECT_GT(sounding, 500);
    for (size_t i = 0; i < 64000; ++i) ASSERT_EQ(mix[i], 0) << "frame " << i;
}

// ---- edit step -------------------------------------------------------------------------------------------

TEST_F(Blocks, CtrlDigitSetsTheEditStepTheCursorMovesAfterAnEntryOrADelete) {
    // Ctrl+0..9 sets how many rows an accepted typed entry or a Delete moves the cursor on a channel (0: it stays,
    // wrapping past 63); the message line shows the step; movement keys and the order list still move by one.
    struct Case {
        int step, column, row, symbol;
        uint8_t scanCode;
        int rowAfter;
    };
    const uint8_t ScanZ = 0x2C;
    const Case cases[] = {
        {4, 0, 10, SDLK_z, ScanZ, 14},
        {0, 0, 10, SDLK_z, ScanZ, 10},
        {9, 0, 60, SDLK_DELETE, 0, 5},
        {3, 1, 0, SDLK_2, 0, 3},
        {7, 1, 0, SDLK_9, 0, 0},  // a refused digit does not move
        {5, 0, 10, SDLK_DOWN, 0, 11},
    };
    for (const Case& k : cases) {
        press(SDLK_0 + k.step, KMOD_LCTRL);
        EXPECT_EQ(statusText, "EDIT STEP " + std::to_string(k.step));
        EXPECT_EQ(editor.editStep, k.step);
        cursorAt(0, k.column, k.row);
        press(k.symbol, 0, k.scanCode);
        EXPECT_EQ(transport.currentRow, k.rowAfter) << "step " << k.step << " key " << k.symbol;
    }
    EXPECT_EQ(cellAt(0, 0, 10).note, 39);
    cursorAt(0, 2, 40);
    press(SDLK_3, KMOD_RCTRL);  // types no digit
    EXPECT_EQ(cellAt(0, 0, 40).volume, 0);
    EXPECT_EQ(transport.currentRow, 40);
    editor.cursorChannel = -1;
    transport.orderPos = 3;
    editor.cursorColumn = 1;
    press(SDLK_2);
    EXPECT_EQ(transport.orderPos, 4);
}
