// The marked block and the commands on it.
//
//   1. fields: reading order, values, what counts as empty
//   2. marking
//   3. copy, cut, paste
//   4. transpose, interpolate
//   5. row insert and remove
#include "app/blocks.h"

#include <string>

#include "app/history.h"
#include "song/song.h"
#include "song/song_file.h"
#include "ui/status.h"

// ---- 1. fields ----------------------------------------------------------------

namespace {

enum Kind { NoteKind, VolumeKind, EffectKind, ParamKind };

constexpr int LowestNote = 1, HighestNote = 194;
constexpr int VolumeLow = 16, VolumeHigh = 80;  // levels 00..40
constexpr int ParamHigh = 255;

// The copied values, row by row, and the kind of their first field.
struct Clipboard {
    int rows = 0;  // 0: nothing copied
    int fields = 0;
    int firstKind = 0;
    int32_t values[RowsPerPattern][FieldsPerRow];
};
Clipboard clip;

}  // namespace

void clearClipboard() { clip.rows = clip.fields = 0; }

static int kindOf(int field) { return field % 4; }
static uint32_t offsetOf(int row, int field) {
    return cellOffset(field / 4, transport.currentPattern, row, kindOf(field));
}
static int32_t valueAt(int row, int field) { return readSongWord(offsetOf(row, field)); }

// Writes through the history; 1 when the value changed.
static int put(int row, int field, int32_t value) {
    const uint32_t offset = offsetOf(row, field);
    if (readSongWord(offset) == value) return 0;
    changeSongWord(offset, value);
    return 1;
}

// A field is empty when the pattern view shows it as dots: a parameter only
// when its cell has no effect either.
static bool emptyAt(int row, int field) {
    const int32_t v = valueAt(row, field);
    switch (kindOf(field)) {
    case NoteKind: return v <= 0;
    case VolumeKind: return v <= 9;
    case EffectKind: return v <= 0;
    default: return v <= 0 && valueAt(row, field - 1) <= 0;
    }
}

// The sub-columns 0..5 as fields: note, volume twice, effect, parameter twice.
int cursorField() {
    static const int kinds[6] = {NoteKind, VolumeKind, VolumeKind, EffectKind, ParamKind, ParamKind};
    const int column = editor.cursorColumn;
    return editor.cursorChannel * 4 + kinds[column >= 0 && column < 6 ? column : 0];
}

// A channel has the focus and a real pattern is shown: there is something to act on.
static bool inPattern() {
    const int p = transport.currentPattern, r = transport.currentRow;
    return editor.cursorChannel >= 0 && editor.cursorChannel < ChannelCount && p >= 0 && p < PatternCount && r >= 0 &&
           r < RowsPerPattern;
}

// What a command acts on: the block, or the cell under the cursor.
static BlockRange working() {
    if (blockVisible()) return blockRange(editor.block);
    const int row = transport.currentRow, first = editor.cursorChannel * 4;
    return BlockRange{row, row, first, first + 3};
}

static std::string counted(int n, const char* thing) { return std::to_string(n) + " " + thing + (n == 1 ? "" : "S"); }

// ---- 2. marking -----------------------------------------------------------------

static void setBlock(int anchorRow, int anchorField, int endRow, int endField) {
    MarkedBlock& b = editor.block;
    b.shown = true;
    b.pattern = uint8_t(transport.currentPattern);
    b.anchorRow = uint8_t(anchorRow);
    b.anchorField = uint8_t(anchorField);
    b.endRow = uint8_t(endRow);
    b.endField = uint8_t(endField);
    b.marking = false;
}

void markWith(void (*move)()) {
    if (!inPattern()) {
        move();
        return;
    }
    const MarkedBlock& b = editor.block;
    const bool goesOn = blockVisible() && b.marking && b.endRow == transport.currentRow && b.endField == cursorField();
    const int anchorRow = goesOn ? int(b.anchorRow) : transport.currentRow.load();
    const int anchorField = goesOn ? b.anchorField : cursorField();
    move();
    if (!inPattern()) return;
    setBlock(anchorRow, anchorField, transport.currentRow, cursorField());
    editor.block.marking = true;
}

void endMarking() { editor.block.marking = false; }

void markChannelOrPattern() {
    if (!inPattern()) return;
    const int first = editor.cursorChannel * 4;
    const BlockRange now = blockRange(editor.block);
    const bool channelMarked = blockVisible() && now.firstRow == 0 && now.lastRow == RowsPerPattern - 1 &&
                               now.firstField == first && now.lastField == first + 3;
    if (channelMarked)
        setBlock(0, 0, RowsPerPattern - 1, FieldsPerRow - 1);
    else
        setBlock(0, first, RowsPerPattern - 1, first + 3);
}

void dropBlock() { editor.block.shown = false; }

void settleBlock() {
    if (editor.block.shown && !blockVisible()) editor.block.shown = false;
}

void blockInOrderList() { showStatus("NO BLOCKS IN THE ORDER LIST"); }

// ---- 3. copy, cut, paste ------------------------------------------------------------

// Takes the values of the range; false (the clipboard kept) when all are empty.
static bool copyRange(const BlockRange& b) {
    bool any = false;
    for (int r = b.firstRow; r <= b.lastRow && !any; ++r)
        for (int f = b.firstField; f <= b.lastField && !any; ++f) any = !emptyAt(r, f);
    if (!any) return false;
    clip.rows = b.lastRow - b.firstRow + 1;
    clip.fields = b.lastField - b.firstField + 1;
    clip.firstKind = kindOf(b.firstField);
    for (int r = 0; r < clip.rows; ++r)
        for (int f = 0; f < clip.fields; ++f) clip.values[r][f] = valueAt(b.firstRow + r, b.firstField + f);
    return true;
}

void copyBlock() {
    if (!inPattern()) return;
    if (!copyRange(working())) return showStatus("NOTHING TO COPY");
    showStatus("COPIED " + counted(clip.rows, "ROW"));
}

void cutBlock() {
    if (!inPattern()) return;
    const BlockRange b = working();
    if (!copyRange(b)) return showStatus("NOTHING TO CUT");
    for (int r = b.firstRow; r <= b.lastRow; ++r)
        for (int f = b.firstField; f <= b.lastField; ++f) put(r, f, 0);
    showStatus("CUT " + counted(clip.rows, "ROW"));
}

void pasteBlock(bool intoEmptyOnly) {
    if (!inPattern()) return;
    if (clip.rows == 0) return showStatus("NOTHING TO PASTE");
    const int row = transport.currentRow;
    const int field = editor.cursorChannel * 4 + clip.firstKind;  // kinds line up from here on
    const int rows = clip.rows < RowsPerPattern - row ? clip.rows : RowsPerPattern - row;
    const int fields = clip.fields < FieldsPerRow - field ? clip.fields : FieldsPerRow - field;
    // Which fields were empty before the paste: a parameter's depends on its
    // effect, which the paste may fill first.
    bool takes[RowsPerPattern][FieldsPerRow];
    int fillable = 0;
    for (int r = 0; r < rows; ++r)
        for (int f = 0; f < fields; ++f) fillable += takes[r][f] = !intoEmptyOnly || emptyAt(row + r, field + f);
    if (fillable == 0) return showStatus("NO EMPTY FIELDS TO PASTE INTO");
    for (int r = 0; r < rows; ++r)
        for (int f = 0; f < fields; ++f)
            if (takes[r][f]) put(row + r, field + f, clip.values[r][f]);
    showStatus("PASTED " + counted(rows, "ROW") + (intoEmptyOnly ? " INTO EMPTY FIELDS" : ""));
}

// ---- 4. transpose, interpolate ----------------------------------------------------------

void transposeBlock(int semitones) {
    if (!inPattern()) return;
    const BlockRange b = working();
    int notes = 0, stayed = 0;
    for (int r = b.firstRow; r <= b.lastRow; ++r)
        for (int f = b.firstField; f <= b.lastField; ++f) {
            if (kindOf(f) != NoteKind) continue;
            const int32_t note = valueAt(r, f);
            if (note <= 0) continue;  // empty stays empty
            ++notes;
            const int64_t to = int64_t(note) + semitones;
            if (note > HighestNote || to < LowestNote || to > HighestNote)
                ++stayed;
            else
                put(r, f, int32_t(to));
        }
    if (notes == 0) return showStatus("NO NOTES TO TRANSPOSE");
    const std::string outside = counted(stayed, "NOTE") + " OUT OF RANGE";
    if (stayed == notes) return showStatus(outside);
    const std::string moved = "TRANSPOSED " + std::string(semitones > 0 ? "+" : "") + std::to_string(semitones);
    showStatus(stayed ? moved + ", " + outside : moved);
}

// d * i / n rounded to the nearest whole number, halves away from zero, so
// a fade down is the mirror image of the same fade up.
static int32_t share(int32_t d, int i, int n) {
    const int64_t twice = int64_t(2) * d * i;
    return int32_t(twice >= 0 ? (twice + n) / (2 * n) : -((-twice + n) / (2 * n)));
}

void interpolateBlock() {
    if (!inPattern()) return;
    const BlockRange b = working();
    const int n = b.lastRow - b.firstRow;
    if (n < 2) return showStatus("INTERPOLATION NEEDS 3 ROWS");
    int lines = 0;
    for (int f = b.firstField; f <= b.lastField; ++f) {
        const int kind = kindOf(f);
        if (kind != VolumeKind && kind != ParamKind) continue;
        if (emptyAt(b.firstRow, f) || emptyAt(b.lastRow, f)) continue;  // no line without both ends
        const int32_t from = valueAt(b.firstRow, f), to = valueAt(b.lastRow, f);
        const int32_t low = kind == VolumeKind ? VolumeLow : 0, high = kind == VolumeKind ? VolumeHigh : ParamHigh;
        for (int i = 1; i < n; ++i) {
            const int32_t v = from + share(to - from, i, n);
            put(b.firstRow + i, f, v < low ? low : v > high ? high : v);
        }
        ++lines;
    }
    if (lines == 0) return showStatus("NOTHING TO INTERPOLATE");
    showStatus("INTERPOLATED " + counted(n + 1, "ROW"));
}

// ---- 5. rows ----------------------------------------------------------------------------

// The channels a row command moves: all, the block's, or the cursor's.
static void rowChannels(bool all, int& first, int& last) {
    if (all) {
        first = 0, last = ChannelCount - 1;
    } else if (blockVisible()) {
        const BlockRange b = blockRange(editor.block);
        first = b.firstField / 4, last = b.lastField / 4;
    } else {
        first = last = editor.cursorChannel;
    }
}

// Rows below the cursor move one row by `step` (+1 down, -1 up): the row
// moving in from the far end of the pattern is empty, the one pushed past it
// drops off.
static void moveRows(bool allChannels, int step, const char* done) {
    if (!inPattern()) return;
    int first, last;
    rowChannels(allChannels, first, last);
    const int row = transport.currentRow;
    const int from = step > 0 ? RowsPerPattern - 1 : row;  // filled first, so no value is read after it moved
    const int to = step > 0 ? row : RowsPerPattern - 1;    // left empty
    int changed = 0;
    for (int f = first * 4; f < last * 4 + 4; ++f) {
        for (int r = from; r != to; r -= step) changed += put(r, f, valueAt(r - step, f));
        changed += put(to, f, 0);
    }
    showStatus(changed ? done : "NOTHING TO MOVE");
}

void insertRow(bool allChannels) { moveRows(allChannels, +1, "ROW INSERTED"); }
void removeRow(bool allChannels) { moveRows(allChannels, -1, "ROW REMOVED"); }
