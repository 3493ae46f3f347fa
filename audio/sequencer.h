#pragma once
// The sequencer and the one engine that plays and exports: play position,
// row trigger, the effect column, each channel's stretch of frames rendered
// in runs cut at row triggers and at the ticks where an effect acts, the
// song's course (jumps, breaks, speeds, loops), the live block, the
// hand-over of note previews.
// Knows nothing of the output library: the stream, the export, the headless
// renderer and the tests all drive these same routines.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/instruments.h"
#include "audio/kernels.h"
#include "song/relaxed.h"
#include "song/song.h"

constexpr int SampleRate = 44100;
constexpr int FramesPerTick = 1000;

// The engine's own words. The play position and the mutes are the
// transport's (song/song.h).
struct Engine {
    // The voices' hand-over between the audio callback and the export: not
    // Relaxed, each publishes the writes made before it (routines below).
    std::atomic<bool> exporting{false};   // set by the export: the callback outputs silence and lets go of the voices
    std::atomic<bool> exportSeen{false};  // set by the callback: it has let go of the voices
    // Set by startAudio, cleared by stopAudio and by the stream's threads
    // when the sound stops: a live stream is calling fillBlock, so an export
    // waits for its answer.
    Relaxed<bool> streamActive{false};
    // Set by startAudio until stopAudio: a stream is open and may call
    // fillBlock, so the main thread never keeps time for it.
    Relaxed<bool> streamOpen{false};
    Relaxed<double> outputLevel{0.0};  // written by the audio thread once a block: smoothed output level for the meter
};

extern Engine engine;  // audio/sequencer.cpp

// The voices' hand-over. One thread at a time renders the voices: the audio
// callback, or the export while it runs. The export asks for them and waits
// until the callback has let go; when done it hands them back. Each step is
// a release store read by the other side with an acquire load, so what one
// side last wrote into the voices (and into the channels' gain and scope)
// is seen by the other before it renders.

// The export's side. exportSeen is cleared before exporting is set
// (release), so the callback's answer can only come after the clear.
void askCallbackForVoices();
// Whether the callback has let go (acquire: its last writes to the voices are seen).
bool callbackHasLetGo();
// exporting cleared (release): the export's writes to the voices are seen by
// the callback's next block.
void handVoicesBackToCallback();

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
// and the cells of (pattern, row) trigger there; when `tickStart`, it is the
// first of tick `tick` (1 or more) and the row's effects act there.
struct Stretch {
    int frames = 0;
    bool rowStart = false;
    bool tickStart = false;
    int32_t tick = 0;
    int32_t pattern = 0, row = 0;
};

// ---- the effect column ----

// A channel's effect state: what its effects have done to the sounding note
// and what they remember. Owned by whichever thread renders the channel,
// handed over with the voices.
struct ChannelEffects {
    int32_t volume = 64;     // volume steps (0..64) behind the gain; 64 = the start gain 1.0
    int32_t offset = 0;      // slides' and glides' pitch offset, sixteenths of a semitone
    double passing = 0.0;    // this row's vibrato or arpeggio offset on top of it
    bool tremolo = false;    // this row's tremolo scales the gain
    int32_t glideNote = 0;   // the note glides move toward (0: none yet)
    int32_t glideSpeed = 0;  // sixteenths per tick
    int32_t vibratoSpeed = 0, vibratoDepth = 0, vibratoPhase = 0;  // phase in 64ths of a cycle
    int32_t tremoloSpeed = 0, tremoloDepth = 0, tremoloPhase = 0;
};

struct EffectState {
    ChannelEffects channels[ChannelCount];
    // Live playback's row length set by a speed effect (0: the song's
    // speed), with the song speed it was set over; the callback's alone.
    int32_t speed = 0, speedOver = 0;
    bool wasPlaying = false;
};
extern EffectState effectState;  // audio/effects.cpp

// The speed a row's speed effect sets (1..15, the highest channel's), 0 when none.
int32_t rowSpeedEffect(int32_t pattern, int32_t row);

// Frames from frame `frame` of tick `tick` of row (pattern, row), `speed`
// ticks long, to where a run must end: the row's end (a tick at or past the
// speed ends it with that tick) or the next tick at which an effect acts.
int64_t framesToCut(int32_t pattern, int32_t row, int32_t speed, int32_t tick, int32_t frame);

// One row as an export plays it.
struct PlayedRow {
    int32_t slot, pattern, row;
    int32_t speed;  // ticks in the row (a damaged speed 0 still plays one)
};

// The rows an export plays, from slot 0 row 0 at the song's speed: each
// row's jump and break, each speed effect, to the end of the order list
// (an empty or missing slot) or to the first return to a (slot, row)
// already played with the same speed at its start. Reads only the song.
class SongWalk {
public:
    SongWalk();
    // The next row, false once the song has ended.
    bool next(PlayedRow& row);
    // After the end: the slot play would go on at, or 0 when outside the list.
    int32_t endSlot() const { return end; }

private:
    int32_t slot = 0, row = 0, speed = 0;  // where play stands, with the speed in force before the row
    int32_t end = 0;
    bool ended = false;
    uint64_t seen[OrderSlots * RowsPerPattern * 16 / 64] =
        {};  // a bit per slot, row and speed (1..15, or 0: the song's damaged one)
};

// One thread's channels over one stretch, rendered together: each channel is
// added (row trigger, the voice's inputs), then all are finished at once (the
// voices' memories side by side, their values, clamp, gain, scope). out[c]
// receives channel c's values and needs RunSlack doubles beyond the stretch.
// Each channel depends only on its own voice, so groups of other channels
// may run on other threads at the same time.
class ChannelGroup {
public:
    ChannelGroup(const Stretch& toRender, double* const* channelOut, RenderScratch& scratchSpace);
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

// A whole list of channels (no channel twice) as one group.
void renderChannels(const int* list, int count, const Stretch& stretch, double* const* out, RenderScratch& scratch);

// The render step for one frame of one channel: row trigger (while playing or
// exporting, on the row's first frame), one voice sample, clamp, gain, scope.
double renderChannel(int channel);

// Advances tickFrame / tick / row / order slot by one frame at the speed in
// force, following jumps and breaks, looping the order list.
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
// Relaxed: a mailbox carries only the note number, and only the thread that
// renders touches the voice, so nothing else is published with it.
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
