// The pattern grid: row numbers, frame, channel headers, the current-row bar,
// the cursor box and the cell texts of the current pattern.
#include "song/song.h"
#include "ui/draw.h"
#include "ui/frame_signature.h"
#include "ui/palette.h"
#include "ui/panels.h"

// The cell shown at (c, r). An empty order slot can leave the pattern number
// at 255: such a pattern has no cells and shows as empty.
static const Cell& shownCell(int c, int pattern, int r) {
    static const Cell emptyCell{};
    return pattern >= 0 && pattern < PatternCount ? cellAt(c, pattern, r) : emptyCell;
}

static int channelX(int c) { return 122 + 50 * c; }
static int rowTextY(int r) { return 87 + 6 * r; }

// The row numbers of one side, beat rows brighter.
static void drawRowNumbers(SDL_Surface* screen, int x) {
    for (int r = 0; r < RowsPerPattern; ++r)
        drawChars(screen, hexByteText + 2 * r, 2, x, rowTextY(r), palette[r % 4 == 0 ? beatColour : textDim]);
}

// One cell's eight characters. Values a song file can carry but the editor
// never makes show as question marks rather than reading past a table.
static void drawCell(SDL_Surface* screen, const Cell& cell, int x, int y) {
    const int note = cell.note, volume = cell.volume, effect = cell.effect, param = cell.effectParam;

    const char* noteChars = note <= 0 ? "..." : note <= 255 ? noteText + 4 * note : "???";
    drawChars(screen, noteChars, 3, x, y, palette[textBright]);

    const char* volumeChars = volume <= 9                       ? ".."
                              : (volume >= 16 && volume <= 271) ? hexByteText + 2 * (volume - 16)
                                                                : "??";
    drawChars(screen, volumeChars, 2, x + 18, y, palette[volumeColour]);

    const char* effectChars = effect <= 0 ? "." : effect <= 15 ? hexDigitText + effect : "?";
    drawChars(screen, effectChars, 1, x + 30, y, palette[effectColour]);

    const char* paramChars;
    if (effect <= 0 && param <= 0)
        paramChars = "..";
    else if (param >= 0 && param <= 255)
        paramChars = hexByteText + 2 * param;
    else
        paramChars = "??";
    drawChars(screen, paramChars, 2, x + 36, y, palette[paramColour]);
}

// Where each field's patch begins and ends, from the cursor box's left edge
// of its channel: the four fields tile the channel up to its separator.
static const int fieldLeft[4] = {0, 18, 30, 36};
static const int fieldRight[4] = {18, 30, 36, 49};
static int fieldX(int field, const int (&edge)[4]) { return 121 + 50 * (field / 4) + edge[field % 4]; }

// The marked block, one patch over the row bar; fields run on across
// channels, and the separators are drawn over it.
static void drawBlock(SDL_Surface* screen) {
    const BlockRange b = blockRange(editor.block);
    const int x = fieldX(b.firstField, fieldLeft);
    fillRect(screen, x, 86 + 6 * b.firstRow, fieldX(b.lastField, fieldRight) - x, 6 * (b.lastRow - b.firstRow) + 7,
             palette[blockColour]);
}

void drawPatternView(SDL_Surface* screen) {
    const int row = transport.currentRow;
    fillRect(screen, 107, 86, 13, 385, palette[panel]);
    fillRect(screen, 107, 86 + 6 * row, 414, 7, palette[panel]);
    if (blockVisible()) drawBlock(screen);
    if (editor.cursorChannel >= 0) {
        const int k = editor.cursorColumn;
        const int x = 121 + 50 * editor.cursorChannel + (k == 0 ? 0 : 6 * k + 12);
        fillRect(screen, x, 86 + 6 * row, k == 0 ? 19 : 7, 7, palette[cursorColour]);
    }
    drawRowNumbers(screen, 108);
    fillRect(screen, 521, 86, 13, 385, palette[panel]);
    drawRowNumbers(screen, 522);

    drawBox(screen, 106, 77, 534, 471, palette[frameColour]);
    drawLine(screen, 120, 77, 120, 471, palette[frameColour]);  // right of the row numbers
    drawLine(screen, 106, 85, 534, 85, palette[frameColour]);   // under the channel headers

    const int pattern = transport.currentPattern;
    for (int c = 0; c < ChannelCount; ++c) {
        const int x = channelX(c);
        drawLine(screen, x + 48, 77, x + 48, 471, palette[frameColour]);
        fillRect(screen, x - 1, 78, 49, 7, palette[c == editor.cursorChannel ? panelLit : panel]);
        drawText(screen, palette[transport.muted[c] ? panel : textBright], x, 79, "CHANNEL");
        for (int r = 0; r < RowsPerPattern; ++r) drawCell(screen, shownCell(c, pattern, r), x, rowTextY(r));
    }
}

void signPatternView(FrameSignature& sig) {
    sig.put(uint32_t(transport.currentRow.load()));
    sig.put(uint32_t(editor.cursorChannel));
    sig.put(uint32_t(editor.cursorColumn));
    const int32_t pattern = transport.currentPattern.load();
    sig.put(uint32_t(pattern));
    const BlockRange b = blockRange(editor.block);
    sig.put(blockVisible() ? uint32_t(b.firstRow | b.lastRow << 8 | b.firstField << 16 | b.lastField << 24) : ~0u);
    for (int c = 0; c < ChannelCount; ++c) sig.put(transport.muted[c] ? 1u : 0u);
    for (int c = 0; c < ChannelCount; ++c)
        for (int r = 0; r < RowsPerPattern; ++r) {
            const Cell& cell = shownCell(c, pattern, r);
            sig.put(uint32_t(cell.note.load()));
            sig.put(uint32_t(cell.volume.load()));
            sig.put(uint32_t(cell.effect.load()));
            sig.put(uint32_t(cell.effectParam.load()));
        }
}
