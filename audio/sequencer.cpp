// The sequencer and the one engine.
//
// Sections:
//   1. shared play state, previews
//   2. the row trigger and the channels' stretches
//   3. the play position
//   4. the live block
//   5. without a stream: the main thread keeps time
//
// Runs on the audio thread (fillBlock), during an export on the export's
// threads, and without a stream on the main thread. No allocation, locks,
// I/O or text anywhere in this file.
#include "audio/sequencer.h"

#include <climits>

#include "audio/instruments.h"
#include "song/song.h"

// ---- 1. shared play state, previews ---------------------------------------------

Relaxed<bool> exporting{false};
Relaxed<bool> exportSeen{false};
Relaxed<bool> streamActive{false};
Relaxed<bool> streamOpen{false};
Relaxed<int32_t> tick{0};
Relaxed<int32_t> tickFrame{0};
Relaxed<double> outputLevel{0.0};

// One mailbox per voice: written by the main thread, emptied by the thread
// that renders, so a note-on never lands in the middle of a run.
static constexpr int32_t NoPreview = INT32_MIN;
static Relaxed<int32_t> previews[ChannelCount] = {NoPreview, NoPreview, NoPreview, NoPreview,
                                                  NoPreview, NoPreview, NoPreview, NoPreview};

void previewNote(int voice, int32_t note) {
    if (voice >= 0 && voice < ChannelCount) previews[voice] = note;
}

void takePreviews() {
    for (int v = 0; v < ChannelCount; ++v) {
        const int32_t note = previews[v].value.exchange(NoPreview, std::memory_order_relaxed);
        if (note != NoPreview) noteOn(*instruments[v], note);
    }
}

// ---- 2. row trigger, stretches -------------------------------------------------------

// Gain of a triggered note, and of a stored volume v: (v - 16) / 64.
static constexpr float TriggerGain = 0.75f;

RenderScratch::RenderScratch(int capacity)
    : frames(capacity), stride(size_t(capacity) + RunSlack), buffer(2 * ChannelCount * stride, 0.0) {}

// Channel i always plays voice i; the slot is kept only as the document says.
static Instrument& voiceOf(int channel) {
    const int32_t slot = song.channels[channel].instrumentSlot;
    return *instruments[(slot >= 0 && slot < ChannelCount) ? slot : channel];
}

bool channelsHaveOwnVoices() {
    for (int a = 0; a < ChannelCount; ++a)
        for (int b = a + 1; b < ChannelCount; ++b)
            if (&voiceOf(a) == &voiceOf(b)) return false;
    return true;
}

// The row trigger on the first frame of a row. A damaged song can name a
// pattern 64..255 (255 after an empty slot 0): that plays as an empty
// pattern, nothing outside the 4096 cells is read.
static void triggerRow(int channel, int32_t pattern, int32_t row) {
    if (pattern < 0 || pattern >= PatternCount || row < 0 || row >= RowsPerPattern) return;
    Channel& ch = song.channels[channel];
    const Cell& cell = ch.cells[pattern * RowsPerPattern + row];
    const int32_t note = cell.note;
    const int32_t volume = cell.volume;
    if (note > 0) {
        noteOn(voiceOf(channel), note);
        ch.gain = TriggerGain;
    }
    if (volume > 9) ch.gain = float(volume - 16) * 0.015625f;
}

// Only the last ScopeLength values survive in the ring.
static void keepScope(Channel& ch, const double* out, int frames) {
    ScopeBuffer& scope = ch.scope;
    int32_t w = scope.writeIndex;
    if (w < 0 || w >= ScopeLength) w = 0;
    for (int i = frames > ScopeLength ? frames - ScopeLength : 0; i < frames; ++i)
        scope.samples[(w + i) % ScopeLength] = float(out[i]);
    scope.writeIndex = int32_t((int64_t(w) + frames) % ScopeLength);
}

// A voice about to pass the largest index: the runs up to it, then the
// reference's last index over and over (its time stays there).
static void runToLastIndex(Instrument& voice, int frames, RenderScratch& scratch, int c, double* out) {
    const int before = int(INT32_MAX - int64_t(voice.time));
    if (before > 0) {
        VoiceRun run;
        run.count = before;
        run.in = scratch.in(c);
        run.mem = scratch.mem(c);
        renderRun(voice, run, out);
    }
    for (int i = before; i < frames; ++i) out[i] = voice.nextSample(INT32_MAX);
}

// Channels sharing a voice take their samples in turn, frame by frame.
static void renderFrameByFrame(const int* list, int count, const Stretch& stretch, double* const* out,
                               RenderScratch& scratch) {
    double value[ChannelCount][1 + RunSlack];
    double* one[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c) one[c] = value[c];
    for (int i = 0; i < stretch.frames; ++i) {
        Stretch frame = stretch;
        frame.frames = 1;
        frame.rowStart = stretch.rowStart && i == 0;
        for (int k = 0; k < count; ++k) {
            renderChannels(&list[k], 1, frame, one, scratch);
            out[list[k]][i] = value[list[k]][0];
        }
    }
}

ChannelGroup::ChannelGroup(const Stretch& stretch, double* const* out, RenderScratch& scratch)
    : stretch(stretch), out(out), scratch(scratch) {}

void ChannelGroup::add(int c) {
    const int frames = stretch.frames;
    channels[count++] = c;
    if (stretch.rowStart) triggerRow(c, stretch.pattern, stretch.row);
    Instrument& voice = voiceOf(c);
    if (voice.note <= -1) {
        // Never started: not evaluated, its time stays.
        for (int f = 0; f < frames; ++f) out[c][f] = 0.0;
    } else if (int64_t(voice.time) + frames > INT32_MAX) {
        runToLastIndex(voice, frames, scratch, c, out[c]);
    } else {
        VoiceRun& run = runs[joined];
        run.count = frames;
        run.in = scratch.in(c);
        run.mem = scratch.mem(c);
        voice.beginRun(run);
        voices[joined] = &voice;
        runList[joined] = &run;
        runChannel[joined] = c;
        ++joined;
    }
}

void ChannelGroup::finish() {
    runMemories(voices, runList, joined);
    for (int j = 0; j < joined; ++j) voices[j]->endRun(runs[j], out[runChannel[j]]);
    const RenderKernels& k = kernels();
    for (int i = 0; i < count; ++i) {
        const int c = channels[i];
        Channel& ch = song.channels[c];
        k.clampGain(out[c], stretch.frames, double(ch.gain.load()), out[c]);
        keepScope(ch, out[c], stretch.frames);
    }
    count = 0;
    joined = 0;
}

void renderChannels(const int* list, int count, const Stretch& stretch, double* const* out, RenderScratch& scratch) {
    if (stretch.frames <= 0 || count <= 0) return;
    if (count > 1 && !channelsHaveOwnVoices()) {
        renderFrameByFrame(list, count, stretch, out, scratch);
        return;
    }
    ChannelGroup group(stretch, out, scratch);
    for (int i = 0; i < count; ++i) group.add(list[i]);
    group.finish();
}

double renderChannel(int channel) {
    static RenderScratch scratch(1);
    static double value[1 + RunSlack];
    double* out[ChannelCount] = {};
    out[channel] = value;
    Stretch frame;
    frame.frames = 1;
    frame.rowStart = (playing || exporting) && tick == 0 && tickFrame == 0;
    frame.pattern = currentPattern;
    frame.row = currentRow;
    renderChannels(&channel, 1, frame, out, scratch);
    return value[0];
}

// ---- 3. play position -------------------------------------------------------------------

struct PlayPosition {
    int32_t slot, pattern, row, tick, frame;
};

static PlayPosition loadPosition() { return PlayPosition{orderPos, currentPattern, currentRow, tick, tickFrame}; }

// Frames left in the current tick: at least one, even for a damaged frame count.
static int64_t framesLeftInTick(const PlayPosition& p) { return p.frame < FramesPerTick ? FramesPerTick - int64_t(p.frame) : 1; }

// Frames from here to the next row's first frame. The row ends when the tick
// reaches or passes the speed: a speed lowered below the tick, or 0, ends it
// at the end of this tick.
static int64_t framesToRowEnd(const PlayPosition& p, int32_t speed) {
    int64_t frames = framesLeftInTick(p);
    if (int64_t(p.tick) + 1 < speed) frames += (int64_t(speed) - p.tick - 1) * FramesPerTick;
    return frames;
}

// After row 63 the next order slot; an empty slot or the end of the list
// returns to slot 0. Even 255 (slot 0 empty) is taken: the render treats it
// as an empty pattern.
static void nextRow(PlayPosition& p) {
    const int32_t row = p.row + 1;
    if (row < RowsPerPattern && row >= 0) {
        p.row = row;
        return;
    }
    p.row = 0;
    int32_t slot = p.slot + 1;
    if (slot < 0 || slot >= OrderSlots || song.orders[slot] == OrderEmpty) slot = 0;
    p.slot = slot;
    p.pattern = song.orders[slot].load();
}

// `frames` frames further, one tick at a time.
static void advanceBy(PlayPosition& p, int64_t frames, int32_t speed) {
    while (frames > 0) {
        const int64_t step = frames < framesLeftInTick(p) ? frames : framesLeftInTick(p);
        frames -= step;
        if (p.frame + step < FramesPerTick) {
            p.frame = int32_t(p.frame + step);
            continue;
        }
        p.frame = 0;
        p.tick = p.tick + 1;
        if (p.tick < speed) continue;
        p.tick = 0;
        nextRow(p);
    }
}

void advancePlayPosition() {
    PlayPosition p = loadPosition();
    advanceBy(p, 1, song.speed);
    orderPos = p.slot;
    currentPattern = p.pattern;
    currentRow = p.row;
    tick = p.tick;
    tickFrame = p.frame;
}

// Writes a position word the block moved, unless the main thread has written
// it meanwhile (a cursor move, a restart): then the main thread's value stands.
static void storeMoved(Relaxed<int32_t>& word, int32_t was, int32_t now) {
    if (now != was) word.value.compare_exchange_strong(was, now, std::memory_order_relaxed);
}

static void storePosition(const PlayPosition& was, const PlayPosition& now) {
    storeMoved(orderPos, was.slot, now.slot);
    storeMoved(currentPattern, was.pattern, now.pattern);
    storeMoved(currentRow, was.row, now.row);
    storeMoved(tick, was.tick, now.tick);
    storeMoved(tickFrame, was.frame, now.frame);
}

// ---- 4. the live block ----------------------------------------------------------------------

// The callback's buffers, made before the stream starts.
static RenderScratch liveScratch(RunFrames);
static double liveOut[ChannelCount][RunFrames + RunSlack];
static double liveAbs[RunFrames];
static const int allChannels[ChannelCount] = {0, 1, 2, 3, 4, 5, 6, 7};

// The two hand-overs of the voices between the threads: the callback's last
// writes must be visible to the export once it sees `exportSeen`, and the
// export's last writes to the callback once it sees `exporting` clear. Each
// side therefore pairs a release store with an acquire load; every other
// shared word stands on its own and stays relaxed.
static bool exportStarted() { return exporting.value.load(std::memory_order_acquire); }
static void handVoicesToExport() { exportSeen.value.store(true, std::memory_order_release); }

void fillBlock(double* out, unsigned frames, double* const* channels) {
    if (exportStarted()) {
        for (unsigned i = 0; i < frames; ++i) out[i] = 0.0;
        if (channels)
            for (int c = 0; c < ChannelCount; ++c)
                for (unsigned i = 0; i < frames; ++i) channels[c][i] = 0.0;
        handVoicesToExport();
        return;
    }
    takePreviews();
    const bool play = playing;
    const int32_t speed = song.speed;
    const PlayPosition start = loadPosition();
    PlayPosition p = start;
    unsigned mask = 0;
    for (int c = 0; c < ChannelCount; ++c)
        if (!muted[c]) mask |= 1u << c;
    double* outs[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c) outs[c] = liveOut[c];
    double level = outputLevel;
    const RenderKernels& k = kernels();

    for (unsigned done = 0; done < frames;) {
        int64_t n = frames - done < unsigned(RunFrames) ? frames - done : unsigned(RunFrames);
        Stretch stretch;
        if (play) {
            // Cut at the next row's first frame: its cells are read there.
            stretch.rowStart = p.tick == 0 && p.frame == 0;
            const int64_t toRow = framesToRowEnd(p, speed);
            if (toRow < n) n = toRow;
        }
        stretch.frames = int(n);
        stretch.pattern = p.pattern;
        stretch.row = p.row;
        renderChannels(allChannels, ChannelCount, stretch, outs, liveScratch);
        k.mixDown(outs, mask, stretch.frames, out + done, liveAbs);
        // Muted channels still count in N, so one channel at full scale is 1/8.
        for (int i = 0; i < stretch.frames; ++i) level = liveAbs[i] * 0.001 + level * 0.999;
        if (channels)
            for (int c = 0; c < ChannelCount; ++c)
                for (int i = 0; i < stretch.frames; ++i) channels[c][done + i] = liveOut[c][i];
        if (play) advanceBy(p, n, speed);
        done += unsigned(n);
    }
    outputLevel = level;
    if (play) storePosition(start, p);
    // Seen after the last frame (or in an empty block): this block is done with the voices.
    if (exportStarted()) handVoicesToExport();
}

// ---- 5. without a stream ---------------------------------------------------------------------
//
// Main thread only. 44.1 frames a millisecond: the tenths of a frame not yet
// rendered carry over, so the frames add up exactly over any run of calls.

static uint32_t keptUntilMs = 0;
static uint32_t frameTenths = 0;
static bool timeStarted = false;
// A thread held up longer than this was stopped, not busy: the rest is dropped.
constexpr uint32_t MaxCatchUpMs = 10000;

void startTimeWithoutStream(uint32_t nowMs) {
    keptUntilMs = nowMs;
    frameTenths = 0;
    timeStarted = true;
}

bool keepTimeWithoutStream(uint32_t nowMs) {
    // An open stream renders, or has died and might still call back: the
    // voices are never rendered by two threads at once.
    if (streamOpen || streamActive) {
        timeStarted = false;
        return false;
    }
    if (!timeStarted) startTimeWithoutStream(nowMs);
    const int32_t ms = int32_t(nowMs - keptUntilMs);
    if (ms <= 0) return true;
    keptUntilMs = nowMs;
    const uint32_t counted = uint32_t(ms) < MaxCatchUpMs ? uint32_t(ms) : MaxCatchUpMs;
    const uint64_t tenths = uint64_t(counted) * (SampleRate / 100) + frameTenths;
    uint64_t frames = tenths / 10;
    frameTenths = uint32_t(tenths % 10);
    static double silent[RunFrames];  // heard by no one
    while (frames > 0) {
        const unsigned n = frames < uint64_t(RunFrames) ? unsigned(frames) : unsigned(RunFrames);
        fillBlock(silent, n);
        frames -= n;
    }
    return true;
}
