#pragma once
// The row trigger and the effect column, for the sequencer: the note and
// volume columns at a row's first frame, each effect at the ticks it acts
// at, and the cells and digits the song's course reads (jumps, breaks).
// Internal to the engine; audio/sequencer.h declares what others use.
#include <cstdint>

#include "audio/sequencer.h"

struct Cell;
class Instrument;

// The effect digits, as typed; E is reserved (kept in the file, does nothing).
enum : int32_t {
    SlideUp = 0x1,
    SlideDown = 0x2,
    Glide = 0x3,
    Vibrato = 0x4,
    Arpeggio = 0x5,
    Retrigger = 0x6,
    Tremolo = 0x7,
    NoteCut = 0x8,
    NoteDelay = 0x9,
    VolumeSlide = 0xA,
    PositionJump = 0xB,
    SetVolume = 0xC,
    PatternBreak = 0xD,
    SetSpeed = 0xF,
};

// The voice of channel c.
Instrument& channelVoice(int channel);
// The cell of (pattern, row) on channel c; null outside the song's cells.
const Cell* cellOf(int c, int32_t pattern, int32_t row);
// A cell's effect digit (0 for none or a digit above 15) and its parameter byte.
int32_t effectOf(const Cell& cell);
int32_t paramOf(const Cell& cell);

// A new note on a channel: no pitch offset, the waves at phase 0.
void startNoteEffects(ChannelEffects& fx);
// The first frame of a row on channel c: its note and volume, then its effect's tick 0.
void startRow(int c, int32_t pattern, int32_t row);
// The first frame of tick `tick` (1 or more) of a row on channel c.
void effectTick(int c, int32_t pattern, int32_t row, int32_t tick);
// The first tick after `tick` at which some channel's effect acts; INT32_MAX if none.
int32_t nextEffectTick(int32_t pattern, int32_t row, int32_t tick);
