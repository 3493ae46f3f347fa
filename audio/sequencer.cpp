// The sequencer: row triggers, the per-channel step, the mix, the position.
//
// Runs on the audio thread (fillBlock) and, during an export, on the main
// thread. No allocation, locks, I/O or text anywhere in this file.
#include "audio/sequencer.h"

#include "audio/instruments.h"
#include "song/song.h"

Relaxed<bool> exporting{false};
Relaxed<bool> exportSeen{false};
Relaxed<bool> streamActive{false};
Relaxed<int32_t> tick{0};
Relaxed<int32_t> tickFrame{0};
Relaxed<double> outputLevel{0.0};

// Gain of a triggered note, and of a stored volume v: (v - 16) / 64.
static constexpr float TriggerGain = 0.75f;

double renderChannel(int channel) {
    Channel& ch = song.channels[channel];
    // Channel i always plays voice i; the slot is kept only as the document says.
    int32_t slot = ch.instrumentSlot;
    Instrument& voice = *instruments[(slot >= 0 && slot < ChannelCount) ? slot : channel];

    // Row trigger on the first frame of a row. A damaged song can name a
    // pattern 64..255 (255 after an empty slot 0): that plays as an empty
    // pattern, nothing outside the 4096 cells is read.
    if ((playing || exporting) && tick == 0 && tickFrame == 0) {
        int32_t pattern = currentPattern;
        int32_t row = currentRow;
        if (pattern >= 0 && pattern < PatternCount && row >= 0 && row < RowsPerPattern) {
            const Cell& cell = ch.cells[pattern * RowsPerPattern + row];
            int32_t note = cell.note;
            int32_t volume = cell.volume;
            if (note > 0) {
                noteOn(voice, note);
                ch.gain = TriggerGain;
            }
            if (volume > 9) ch.gain = float(volume - 16) * 0.015625f;
        }
    }

    double v = 0.0;
    if (voice.note > -1) {
        int32_t n = voice.time;
        // A voice left sounding for 13.5 hours would overflow; it stays on its last index.
        if (n < INT32_MAX) voice.time = n + 1;
        v = voice.nextSample(n);
    }
    if (v > 1.0) v = 1.0;
    if (v < -1.0) v = -1.0;
    if (v != v) v = 0.0;  // never let a NaN into the mix or the level
    v *= double(ch.gain.load());

    ScopeBuffer& scope = ch.scope;
    int32_t w = scope.writeIndex;
    if (w < 0 || w >= ScopeLength) w = 0;
    scope.samples[w] = float(v);
    scope.writeIndex = (w + 1) % ScopeLength;
    return v;
}

void advancePlayPosition() {
    int32_t frame = tickFrame + 1;
    if (frame < FramesPerTick) {
        tickFrame = frame;
        return;
    }
    tickFrame = 0;
    int32_t t = tick + 1;
    // "Reaches or passes": a speed lowered below the tick, or 0, ends the row now.
    if (t < song.speed) {
        tick = t;
        return;
    }
    tick = 0;
    int32_t row = currentRow + 1;
    if (row < RowsPerPattern && row >= 0) {
        currentRow = row;
        return;
    }
    currentRow = 0;
    int32_t slot = orderPos + 1;
    if (slot < 0 || slot >= OrderSlots || song.orders[slot] == OrderEmpty) slot = 0;
    orderPos = slot;
    // Even 255 (slot 0 empty): the render step treats it as an empty pattern.
    currentPattern = song.orders[slot].load();
}

double mixFrame() {
    float sum = 0.0f;
    float absSum = 0.0f;
    for (int c = 0; c < ChannelCount; ++c) {
        double v = renderChannel(c);
        if (!muted[c]) {
            sum = float(double(sum) + v);
            absSum = float(double(absSum) + (v < 0.0 ? -v : v));
        }
    }
    // Muted channels still count in N, so one channel at full scale is 1/8.
    double out = double(sum / ChannelCount);
    outputLevel = double(absSum / ChannelCount) * 0.001 + outputLevel * 0.999;
    if (playing) advancePlayPosition();
    return out;
}

// The two hand-overs of the voices between the threads: the callback's last
// writes must be visible to the export once it sees `exportSeen`, and the
// export's last writes to the callback once it sees `exporting` clear. Each
// side therefore pairs a release store with an acquire load; every other
// shared word stands on its own and stays relaxed.
static bool exportStarted() { return exporting.value.load(std::memory_order_acquire); }
static void handVoicesToExport() { exportSeen.value.store(true, std::memory_order_release); }

void fillBlock(double* out, unsigned frames) {
    // Checked before every frame, not once per block: frames rendered after an
    // export has begun would trigger its first row on the shared voices.
    for (unsigned i = 0; i < frames; ++i) {
        if (exportStarted()) {
            for (; i < frames; ++i) out[i] = 0.0;
            handVoicesToExport();
            return;
        }
        out[i] = mixFrame();
    }
    // Seen after the last frame (or in an empty block): this block is done with the voices.
    if (exportStarted()) handVoicesToExport();
}
