// The sequencer and the one engine.
//
// Sections:
//   1. the engine's words, the voices' hand-over, previews
//   2. (the row trigger and the effect column: audio/effects.cpp)
//   3. the channels' stretches
//   4. the play position and the song's course
//   5. the live block
//   6. without a stream: the main thread keeps time
//
// Runs on the audio thread (fillBlock), during an export on the export's
// threads, and without a stream on the main thread. No allocation, locks,
// I/O or text anywhere in this file.
#include "audio/sequencer.h"

#include <climits>

#include "audio/effects.h"
#include "audio/instruments.h"
#include "song/song.h"

// ---- 1. engine's words, hand-over, previews ------------------------------------

Engine engine;

// The export's side of the voices' hand-over (audio/sequencer.h).
void askCallbackForVoices() {
    engine.exportSeen.store(false, std::memory_order_relaxed);
    engine.exporting.store(true, std::memory_order_release);
}

bool callbackHasLetGo() { return engine.exportSeen.load(std::memory_order_acquire); }

void handVoicesBackToCallback() { engine.exporting.store(false, std::memory_order_release); }

// The callback's side. Whether an export has asked for the voices (acquire:
// pairs with the export's release when it asks and when it hands them back,
// so its writes to the voices are seen here).
static bool exportStarted() { return engine.exporting.load(std::memory_order_acquire); }
// The callback has let go of the voices (release: its last writes to them
// are seen by the export once it reads exportSeen set).
static void handVoicesToExport() { engine.exportSeen.store(true, std::memory_order_release); }

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
        if (note == NoPreview) continue;
        noteOn(*instruments[v], note);
        startNoteEffects(effectState.channels[v]);  // a new note: no offset carried over
    }
}

// ---- 3. stretches ----------------------------------------------------------------------------

RenderScratch::RenderScratch(int capacity)
    : frames(capacity), stride(size_t(capacity) + RunSlack), buffer(2 * ChannelCount * stride, 0.0) {}

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

ChannelGroup::ChannelGroup(const Stretch& toRender, double* const* channelOut, RenderScratch& scratchSpace)
    : stretch(toRender), out(channelOut), scratch(scratchSpace) {}

void ChannelGroup::add(int c) {
    const int frames = stretch.frames;
    channels[count++] = c;
    if (stretch.rowStart)
        startRow(c, stretch.pattern, stretch.row);
    else if (stretch.tickStart)
        effectTick(c, stretch.pattern, stretch.row, stretch.tick);
    Instrument& voice = channelVoice(c);
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
    const bool rows = transport.playing || engine.exporting;
    frame.rowStart = rows && transport.tick == 0 && transport.tickFrame == 0;
    frame.tickStart = rows && transport.tick > 0 && transport.tickFrame == 0;
    frame.tick = transport.tick;
    frame.pattern = transport.currentPattern;
    frame.row = transport.currentRow;
    renderChannels(&channel, 1, frame, out, scratch);
    return value[0];
}

// ---- 4. play position, the song's course -----------------------------------------------------

struct PlayPosition {
    int32_t slot, pattern, row, tick, frame;
};

static PlayPosition loadPosition() {
    return PlayPosition{transport.orderPos, transport.currentPattern, transport.currentRow, transport.tick,
                        transport.tickFrame};
}

// Frames left in the current tick: at least one, even for a damaged frame count.
static int64_t framesLeftInTick(const PlayPosition& p) {
    return p.frame < FramesPerTick ? FramesPerTick - int64_t(p.frame) : 1;
}

// Frames from here to the next row's first frame. The row ends when the tick
// reaches or passes the speed: a speed lowered below the tick, or 0, ends it
// at the end of this tick.
static int64_t framesToRowEnd(const PlayPosition& p, int32_t speed) {
    int64_t frames = framesLeftInTick(p);
    if (int64_t(p.tick) + 1 < speed) frames += (int64_t(speed) - p.tick - 1) * FramesPerTick;
    return frames;
}

int64_t framesToCut(int32_t pattern, int32_t row, int32_t speed, int32_t tick, int32_t frame) {
    const PlayPosition p{0, pattern, row, tick, frame};
    const int64_t toRow = framesToRowEnd(p, speed);
    const int32_t next = nextEffectTick(pattern, row, tick);
    if (next >= speed) return toRow;
    const int64_t toTick = framesLeftInTick(p) + (int64_t(next) - tick - 1) * FramesPerTick;
    return toTick < toRow ? toTick : toRow;
}

// Where play goes after a row.
enum class Course { SamePattern, NewSlot, End };

// After row (slot, pattern, row): the row's jump (B: row 0 of a slot) and
// break (D: a row of the next slot; both: that row of that slot), the
// highest channel's of each; else the next row, after row 63 row 0 of the
// next slot. End when that slot is empty or outside the list.
static Course followRow(int32_t slot, int32_t pattern, int32_t row, int32_t& toSlot, int32_t& toRow) {
    int32_t jump = -1, breakRow = -1;
    for (int c = 0; c < ChannelCount; ++c) {
        const Cell* cell = cellOf(c, pattern, row);
        if (!cell) break;
        const int32_t effect = effectOf(*cell);
        if (effect == PositionJump) jump = paramOf(*cell);
        if (effect == PatternBreak) breakRow = paramOf(*cell) < RowsPerPattern ? paramOf(*cell) : RowsPerPattern - 1;
    }
    if (jump < 0 && breakRow < 0 && row + 1 < RowsPerPattern && row + 1 >= 0) {
        toSlot = slot;
        toRow = row + 1;
        return Course::SamePattern;
    }
    toSlot = jump >= 0 ? jump : slot + 1;
    toRow = breakRow >= 0 ? breakRow : 0;
    const bool inList = toSlot >= 0 && toSlot < OrderSlots && song.orders[toSlot] != OrderEmpty;
    return inList ? Course::NewSlot : Course::End;
}

// Live playback goes on past the song's end at slot 0, row 0. Even 255
// (slot 0 empty) is taken: the render treats it as an empty pattern.
static void nextRow(PlayPosition& p) {
    int32_t slot = 0, row = 0;
    const Course course = followRow(p.slot, p.pattern, p.row, slot, row);
    if (course == Course::End) slot = 0, row = 0;
    if (course != Course::SamePattern) {
        p.slot = slot;
        p.pattern = song.orders[slot].load();
    }
    p.row = row;
}

SongWalk::SongWalk() : speed(song.speed) {}

bool SongWalk::next(PlayedRow& played) {
    if (ended) return false;
    const int32_t speedCode = speed >= 1 && speed <= 15 ? speed : 0;  // only the song's own speed lies outside
    const bool inList = slot >= 0 && slot < OrderSlots && song.orders[slot] != OrderEmpty;
    const uint32_t bit = inList ? uint32_t((slot * RowsPerPattern + row) * 16 + speedCode) : 0;
    if (!inList || (seen[bit / 64] >> (bit % 64) & 1u)) {
        ended = true;
        end = slot >= 0 && slot < OrderSlots ? slot : 0;
        return false;
    }
    seen[bit / 64] |= uint64_t(1) << (bit % 64);
    const int32_t pattern = song.orders[slot];
    const int32_t set = rowSpeedEffect(pattern, row);
    if (set) speed = set;  // from this row on
    played = PlayedRow{slot, pattern, row, speed};
    int32_t toSlot = 0, toRow = 0;
    followRow(slot, pattern, row, toSlot, toRow);
    slot = toSlot;
    row = toRow;
    return true;
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
        const PlayPosition from = p;
        nextRow(p);
        // A looped pattern never leaves itself: wherever the song would go
        // next but its following row, row 0 of the same pattern and slot.
        if (transport.loopPattern &&
            !(p.slot == from.slot && p.pattern == from.pattern && int64_t(p.row) == int64_t(from.row) + 1)) {
            p = from;
            p.row = 0;
        }
    }
}

// Live playback's ticks per row: a speed effect's from its row on, until
// playback starts again or the song's own speed is changed (F3/F4), which
// then rules.
static int32_t liveSpeed(int32_t songSpeed) {
    if (effectState.speed && songSpeed != effectState.speedOver) effectState.speed = 0;
    return effectState.speed ? effectState.speed : songSpeed;
}

// A row's first frame in live playback: its speed effect counts from it.
static void settleRowSpeed(const PlayPosition& p, int32_t songSpeed) {
    const int32_t set = rowSpeedEffect(p.pattern, p.row);
    if (!set) return;
    effectState.speed = set;
    effectState.speedOver = songSpeed;
}

void advancePlayPosition() {
    PlayPosition p = loadPosition();
    advanceBy(p, 1, liveSpeed(song.speed));
    transport.orderPos = p.slot;
    transport.currentPattern = p.pattern;
    transport.currentRow = p.row;
    transport.tick = p.tick;
    transport.tickFrame = p.frame;
}

// Writes a position word the block moved, unless the main thread has written
// it meanwhile (a cursor move, a restart): then the main thread's value stands.
static void storeMoved(Relaxed<int32_t>& word, int32_t was, int32_t now) {
    if (now != was) word.value.compare_exchange_strong(was, now, std::memory_order_relaxed);
}

static void storePosition(const PlayPosition& was, const PlayPosition& now) {
    storeMoved(transport.orderPos, was.slot, now.slot);
    storeMoved(transport.currentPattern, was.pattern, now.pattern);
    storeMoved(transport.currentRow, was.row, now.row);
    storeMoved(transport.tick, was.tick, now.tick);
    storeMoved(transport.tickFrame, was.frame, now.frame);
}

// ---- 5. the live block ----------------------------------------------------------------------

// The callback's buffers, made before the stream starts.
static RenderScratch liveScratch(RunFrames);
static double liveOut[ChannelCount][RunFrames + RunSlack];
static double liveAbs[RunFrames];
static const int allChannels[ChannelCount] = {0, 1, 2, 3, 4, 5, 6, 7};

void fillBlock(double* out, unsigned frames, double* const* channels) {
    if (exportStarted()) {
        for (unsigned i = 0; i < frames; ++i) out[i] = 0.0;
        if (channels)
            for (int c = 0; c < ChannelCount; ++c)
                for (unsigned i = 0; i < frames; ++i) channels[c][i] = 0.0;
        handVoicesToExport();
        effectState.wasPlaying = false;  // the export stops playback
        return;
    }
    takePreviews();
    const bool play = transport.playing;
    if (play && !effectState.wasPlaying) effectState.speed = 0;  // started again: at the song's speed
    effectState.wasPlaying = play;
    const int32_t songSpeed = song.speed;
    const PlayPosition start = loadPosition();
    PlayPosition p = start;
    unsigned mask = 0;
    for (int c = 0; c < ChannelCount; ++c)
        if (!transport.muted[c]) mask |= 1u << c;
    double* outs[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c) outs[c] = liveOut[c];
    double level = engine.outputLevel;
    const RenderKernels& k = kernels();

    for (unsigned done = 0; done < frames;) {
        int64_t n = frames - done < unsigned(RunFrames) ? frames - done : unsigned(RunFrames);
        Stretch stretch;
        int32_t speed = songSpeed;
        if (play) {
            // Cut at the next row's first frame, where its cells are read,
            // and at the next tick where an effect acts.
            stretch.rowStart = p.tick == 0 && p.frame == 0;
            if (stretch.rowStart) settleRowSpeed(p, songSpeed);
            speed = liveSpeed(songSpeed);
            stretch.tickStart = p.tick > 0 && p.frame == 0;
            stretch.tick = p.tick;
            const int64_t toCut = framesToCut(p.pattern, p.row, speed, p.tick, p.frame);
            if (toCut < n) n = toCut;
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
    engine.outputLevel = level;
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
    if (engine.streamOpen || engine.streamActive) {
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
