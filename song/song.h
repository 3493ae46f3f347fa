#pragma once
// The one song document, its eight channels, and the editor and transport
// variables kept beside it (not saved).
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

struct Song {
    int32_t themeRed = 60;
    int32_t themeGreen = 70;
    int32_t themeBlue = 80;
    Relaxed<int32_t> speed{3};  // ticks per row; a file may hold 0..255
    Relaxed<int32_t> orders[OrderSlots];
    Channel channels[ChannelCount];
};

extern Song song;  // song/song.cpp

// Editor and transport state (not saved).
extern int octave;                 // song/song.cpp: entry octave 0..15
extern std::string songName;       // song/song.cpp: last song loaded, without extension
extern Relaxed<int32_t> currentPattern;  // song/song.cpp: shown, edited and played (audio thread writes)
extern Relaxed<int32_t> orderPos;        // song/song.cpp: order cursor = slot being played (audio thread writes)
extern Relaxed<int32_t> currentRow;      // song/song.cpp: row edited = row played (audio thread writes)
extern int cursorChannel;          // song/song.cpp: 0..7, or -1 while the order list has the focus
extern int cursorColumn;           // song/song.cpp: 0 note, 1-2 volume, 3 effect, 4-5 parameter
extern int lastChannel;            // song/song.cpp: where Ctrl+Tab returns from the order list
extern int copyPattern;            // song/song.cpp: clipboard pattern
extern int copyChannel;            // song/song.cpp: clipboard channel, -1 = all channels
extern Relaxed<bool> muted[ChannelCount];  // song/song.cpp: left out of the mix (audio thread reads)
extern Relaxed<bool> playing;              // song/song.cpp: rows trigger and the position advances

// Sets the document and every editor/transport variable above to its start value.
void initSong();

// The cell of channel c, pattern p, row r; the caller keeps p inside 0..63.
inline Cell& cellAt(int c, int p, int r) { return song.channels[c].cells[p * RowsPerPattern + r]; }
