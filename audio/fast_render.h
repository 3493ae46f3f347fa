#pragma once
// The export's renderer: the whole song, from order slot 0 along its course
// (jumps, breaks, speed changes) to the end marker or the first repeat, in
// blocks through the engine that plays it live (audio/sequencer.h), so the
// export gives each channel the values playback gives it. The eight channels
// of a block are shared out over two threads.
#include <cstdint>

// Called now and then during an export with frames rendered and frames in all.
using ExportProgress = void (*)(uint64_t framesDone, uint64_t framesTotal);
extern ExportProgress exportProgress;  // audio/fast_render.cpp: null = no progress report

// The order list's slots: those before the end marker, all 64 when there is
// none. Jumps and breaks may play fewer of them, or some again.
int playedSlots();

// Frames an export of the current song renders: its course walked row by
// row (without rendering), each row its ticks (its speed, at least 1) x 1000.
uint64_t exportFrameCount();

extern int renderThreads;  // audio/fast_render.cpp: 1 or 2 (default: 2 when the machine has two cores)

// Receives the export block by block, in order: mix[i] is the 16-bit sample
// of frame i, channels[c][i] channel c's value for it as it enters the mix
// (after clamp and gain). Returning false stops the render.
using SampleSink = bool (*)(const int16_t* mix, const double* const* channels, int count, void* context);

// Takes the voices over from the audio callback (waiting until it has let
// go), renders the song with the export's play state reset and restored,
// hands each block to sink and reports to exportProgress from this thread,
// then hands the voices back. Returns the frames delivered.
uint64_t renderSong(SampleSink sink, void* context);

// The play state an export leaves: stopped on row 0 of pattern 0, the voices
// handed back to the callback (the order position is the caller's). renderSong
// ends with it; an export that renders nothing (its file would not open) calls
// it itself.
void endExportPlayState();
