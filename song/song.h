#pragma once
// The one song document and, kept beside it and not saved, the transport
// (where playback stands, shared with the audio thread) and the editor's
// own state (the main thread's alone).
#include <cstdint>
#include <string>

#include "song/relaxed.h"

constexpr int ChannelCount = 8;
constexpr int PatternCount = 64;
constexpr int RowsPerPattern = 64;
constexpr int CellsPerChannel = PatternCount * RowsPerPattern;  // 4096
constexpr int OrderSlots = 64;
constexpr int OrderEmpty = 255;  // an empty order slot, and the end of the song
constexpr int ScopeLength = 80;

// One note cell. Fields are whole 32-bit words: the audio thread reads them
// while the editor writes them. A file can carry any byte in any field.
struct Cell {
    Relaxed<int32_t> note;         // 0 empty, 1..194
    Relaxed<int32_t> volume;       // 0 empty, 16..80 (level + 16)
    Relaxed<int32_t> effect;       // 0 empty, 1..15
    Relaxed<int32_t> effectParam;  // 0..255
};

// The last ScopeLength output samples of a channel; writeIndex is the oldest.
// Written by the thread that renders the channel, read by the scope drawing.
struct ScopeBuffer {
    Relaxed<float> samples[ScopeLength];
    Relaxed<int32_t> writeIndex{0};
    int32_t length = ScopeLength;
};

struct Channel {
    ScopeBuffer scope;
    Cell cells[CellsPerChannel];  // index pattern * 64 + row
    int32_t instrumentSlot = 0;   // channel i always uses voice i
    Relaxed<float> gain{1.0f};    // set by row triggers, read by every frame
};

// The document. The main thread edits it (keys, load, undo); the thread
// that renders (the audio callback, or the export's two threads) reads the
// cells, the order list and the speed meanwhile, and writes each channel's
// gain and scope.
struct Song {
    int32_t themeRed = 60;  // the theme: main thread only
    int32_t themeGreen = 70;
    int32_t themeBlue = 80;
    Relaxed<int32_t> speed{3};            // ticks per row; a file may hold 0..255 (read by the renderer)
    Relaxed<int32_t> orders[OrderSlots];  // read by the renderer
    Channel channels[ChannelCount];
};

extern Song song;  // song/song.cpp

// Where playback stands, and what it leaves out. The play position is the
// editor's cursor: the main thread moves it (cursor keys, play, stop, load,
// export) and the audio thread advances it while playing. A block stores
// only the words it moved, and only where the main thread has not written
// meanwhile, so a cursor move always stands. Every word crosses threads and
// stands on its own.
struct Transport {
    // The whole play position.
    Relaxed<int32_t> orderPos{0};        // order slot played = the order cursor
    Relaxed<int32_t> currentPattern{0};  // pattern shown, edited and played
    Relaxed<int32_t> currentRow{0};      // row edited = row played
    Relaxed<int32_t> tick{0};            // ticks elapsed in the row
    Relaxed<int32_t> tickFrame{0};       // frames elapsed in the tick, 0..999
    Relaxed<bool> playing{false};        // set and cleared by the main thread: rows trigger, the position advances
    Relaxed<bool> muted[ChannelCount];   // toggled by the main thread: left out of the audio thread's mix
    Relaxed<bool> loopPattern{false};    // set with playing: the shown pattern repeats, the order list waits
};

extern Transport transport;  // song/song.cpp

// A marked block of one pattern: the rows and the fields between two
// corners, fields counted in reading order (channel * 4 + 0 note, 1 volume,
// 2 effect, 3 parameter).
struct MarkedBlock {
    bool shown = false;
    uint8_t pattern = 0;
    uint8_t anchorRow = 0, anchorField = 0;  // where the marking began
    uint8_t endRow = 0, endField = 0;        // where it has reached
    bool marking = false;                    // the last move marked it: the next Shift move goes on from the anchor
};

// The editor's own state: the main thread's alone (keys, drawing, file
// commands).
struct Editor {
    int octave = 3;         // entry octave 0..15
    std::string songName;   // last song loaded, without extension
    int cursorChannel = 0;  // 0..7, or -1 while the order list has the focus
    int cursorColumn = 0;   // 0 note, 1-2 volume, 3 effect, 4-5 parameter
    int lastChannel = 0;    // where Ctrl+Tab returns from the order list
    int copyPattern = 0;    // clipboard pattern
    int copyChannel = -1;   // clipboard channel, -1 = all channels
    MarkedBlock block;      // the marked block, if shown
    int editStep = 1;       // rows the cursor moves after an entry, 0..9
};

extern Editor editor;  // song/song.cpp

// A block shows and acts only on its own pattern, while a channel has the focus.
inline bool blockVisible() {
    return editor.block.shown && editor.block.pattern == transport.currentPattern && editor.cursorChannel >= 0;
}

// The block's rows and fields, first to last.
struct BlockRange {
    int firstRow, lastRow, firstField, lastField;
};
inline BlockRange blockRange(const MarkedBlock& b) {
    const int r0 = b.anchorRow, r1 = b.endRow, f0 = b.anchorField, f1 = b.endField;
    return BlockRange{r0 < r1 ? r0 : r1, r0 < r1 ? r1 : r0, f0 < f1 ? f0 : f1, f0 < f1 ? f1 : f0};
}

// The document at its start value: an empty song.
void clearSong();
// The transport at its start value: stopped at slot 0, row 0, nothing muted.
void resetTransport();

// A new session: the document, the transport and the editor at their start values.
void initSong();

// The cell of channel c, pattern p, row r; the caller keeps p inside 0..63.
inline Cell& cellAt(int c, int p, int r) { return song.channels[c].cells[p * RowsPerPattern + r]; }
