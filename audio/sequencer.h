#pragma once
// The sequencer: play position, per-channel render step, per-frame mix.
// Knows nothing of the output library: the stream, the export, the headless
// renderer and the tests all drive these same routines.
#include <cstdint>

#include "song/relaxed.h"

constexpr int SampleRate = 44100;
constexpr int FramesPerTick = 1000;

extern Relaxed<bool> exporting;        // audio/sequencer.cpp: export runs; the callback outputs silence
extern Relaxed<bool> exportSeen;       // audio/sequencer.cpp: the callback has seen `exporting` set
extern Relaxed<bool> streamActive;     // audio/sequencer.cpp: a live stream is calling fillBlock
extern Relaxed<int32_t> tick;          // audio/sequencer.cpp: ticks elapsed in the row
extern Relaxed<int32_t> tickFrame;     // audio/sequencer.cpp: frames elapsed in the tick, 0..999
extern Relaxed<double> outputLevel;    // audio/sequencer.cpp: smoothed output level for the meter

// Row trigger, one voice sample, clamp, gain, scope. Returns the channel's sample.
double renderChannel(int channel);

// One frame of live playback: all eight channels mixed, level kept, position advanced.
double mixFrame();

// Advances tickFrame / tick / row / order slot by one frame, looping the order list.
void advancePlayPosition();

// What the audio callback does for one block: the export guard (silence,
// nothing touched), then one mixFrame per frame.
void fillBlock(double* out, unsigned frames);
