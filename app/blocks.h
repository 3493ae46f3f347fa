#pragma once
// The marked block and the commands on it, in the channel focus: marking
// (Shift with a movement key, Ctrl+A, Escape), copy, cut, paste, transpose,
// interpolation, row insert and remove. Without a block a command acts on
// the cell under the cursor. Every song change goes through the history,
// so each command called inside one step is one undo step; each says on
// the message line what it did, or why it did nothing.
#include <cstdint>

constexpr int FieldsPerRow = 32;  // 8 channels x (note, volume, effect, parameter)

// The field of the cursor in reading order (channel * 4 + field kind).
int cursorField();

// Runs a plain movement and marks from where the cursor stood to where it
// goes. Right after a mark, from where it ended, the anchor stays; after
// anything else a new block starts at the cursor.
void markWith(void (*move)());
// A plain movement: the block stays in sight, the next mark starts anew.
void endMarking();
// The cursor's channel, rows 0 to 63; when that is already marked, the whole pattern.
void markChannelOrPattern();
void dropBlock();
// A block whose pattern is no longer shown, or with the order list focused, is gone.
void settleBlock();

void copyBlock();
void cutBlock();
// The clipboard with its first field on the cursor's channel's field of the
// same kind, its first row on the cursor row; clipped at row 63 and channel 8.
void pasteBlock(bool intoEmptyOnly);
void transposeBlock(int semitones);
void interpolateBlock();
// An empty row at the cursor row (the rows below move down, row 63 drops
// off), or the cursor row taken out (the rows below move up, row 63 empty),
// in the block's channels, the cursor's channel without one, or all eight.
void insertRow(bool allChannels);
void removeRow(bool allChannels);
// Any block command while the order list has the focus.
void blockInOrderList();

// Forgets what was copied (a new session; the tests).
void clearClipboard();
