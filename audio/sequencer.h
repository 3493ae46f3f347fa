#pragma once
// The sequencer and the one engine that plays and exports: play position,
// row trigger, each channel's stretch of frames rendered in runs cut at row
// triggers, the live block, the hand-over of note previews.
// Knows nothing of the output library: the stream, the export, the headless
// renderer and the tests all drive these same routines.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/instruments.h"
#include "audio/kernels.h"
#include "song/relaxed.h"

constexpr int SampleRate = 44100;
constexpr int FramesPerTick = 1000;

extern Relaxed<bool> exporting;        // audio/sequencer.cpp: export runs; the callback outputs silence
extern Relaxed<bool> exportSeen;       // audio/sequencer.cpp: the callback has let go of the voices
extern Relaxed<bool> streamActive;     // audio/sequencer.cpp: a live stream is calling fillBlock
extern Relaxed<bool> streamOpen;       // audio/sequencer.cpp: a stream was opened (and may call fillBlock) until closed
extern Relaxed<int32_t> tick;          // audio/sequencer.cpp: ticks elapsed in the row
extern Relaxed<int32_t> tickFrame;     // audio/sequencer.cpp: frames elapsed in the tick, 0..999
extern Relaxed<double> outputLevel;    // audio/sequencer.cpp: smoothed output level for the meter

// The voices' working buffers of one rendering thread, for stretches of up
// to `capacity` frames. Made once, before rendering: the engine allocates nothing.
class RenderScratch {
public:
    explicit RenderScratch(int capacity);
    int capacity() const { return frames; }
    double* in(int channel) { return &buffer[size_t(2 * channel) * stride]; }
    double* mem(int channel) { return &buffer[size_t(2 * channel + 1) * stride]; }

private:
    int frames;
    size_t stride;
    std::vector<double> buffer;
};

// Frames inside one row. When `rowStart`, the first frame is the row's first
// and the cells of (pattern, row) trigger there.
struct Stretch {
    int frames = 0;
    bool rowStart = false;
    int32_t pattern = 0, row = 0;
};

// One thread's channels over one stretch, rendered together: each channel is
// added (row trigger, the voice's inputs), then all are finished at once (the
// voices' memories side by side, their values, clamp, gain, scope). out[c]
// receives channel c's values and needs RunSlack doubles beyond the stretch.
// Each channel depends only on its own voice, so groups of other channels
// may run on other threads at the same time.
class ChannelGroup {
public:
    ChannelGroup(const Stretch& stretch, double* const* out, RenderScratch& scratch);
    void add(int channel);
    void finish();

private:
    const Stretch& stretch;
    double* const* out;
    RenderScratch& scratch;
    int channels[8];
    int count = 0;
    Instrument* voices[8];
    VoiceRun runs[8];
    VoiceRun* runList[8];
    int runChannel[8];
    int joined = 0;
};

// A whole list of channels (no channel twice) as one group; channels that
// share a voice, frame by frame.
void renderChannels(const int* list, int count, const Stretch& stretch, double* const* out, RenderScratch& scratch);

// Whether each channel plays its own voice. A damaged slot can make two
// channels share one; their samples then interleave frame by frame, and
// their channels must be rendered in one list.
bool channelsHaveOwnVoices();

// The render step for one frame of one channel: row trigger (while playing or
// exporting, on the row's first frame), one voice sample, clamp, gain, scope.
double renderChannel(int channel);

// Advances tickFrame / tick / row / order slot by one frame, looping the order list.
void advancePlayPosition();

// What the audio callback does for one block: the export guard (silence,
// nothing touched), then the previews, then the block: every channel
// rendered, mixed (muted ones left out), the level kept, the position
// advanced. The song, position, speed and mutes are read at the block's
// start; changes made meanwhile count from the next block. `channels`
// (optional) receives each channel's values as they enter the mix.
void fillBlock(double* out, unsigned frames, double* const* channels = nullptr);

// Hands a note preview to whoever renders the voice next: the callback at its
// next block, or the export when it starts. The latest preview per voice wins.
void previewNote(int voice, int32_t note);
// Starts the previews handed over since the last call (the rendering thread only).
void takePreviews();

// Without a stream the main thread keeps the song's time instead, through
// this same engine and silently: each call renders the frames a stream at
// SampleRate would have asked for since the last call (`nowMs` on one
// millisecond clock; a time behind the last call renders nothing). Returns
// false, doing nothing, while a stream is open or active.
bool keepTimeWithoutStream(uint32_t nowMs);
// Where that clock starts: nothing is rendered for the time before nowMs.
void startTimeWithoutStream(uint32_t nowMs);
