#pragma once
// The reference the engine is measured against: the formulas frame by frame,
// written out apart from the engine's block code. Each frame of each channel
// is the row trigger, one nextSample of the channel's voice, the clamp, the
// gain and the scope, as the render step describes them. Shared by the unit
// tests and the render benchmark (the per-frame figure beside the engine's).
#include <climits>
#include <cstdint>
#include <vector>

#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"

namespace reference {

// One frame of channel c; `trigger`: the frame is the first of row (pattern, row).
inline double channelFrame(int c, bool trigger, int32_t pattern, int32_t row) {
    Channel& ch = song.channels[c];
    const int32_t slot = ch.instrumentSlot;
    Instrument& voice = *instruments[slot >= 0 && slot < ChannelCount ? slot : c];
    if (trigger && pattern >= 0 && pattern < PatternCount && row >= 0 && row < RowsPerPattern) {
        const Cell& cell = ch.cells[pattern * RowsPerPattern + row];
        if (cell.note > 0) {
            noteOn(voice, cell.note);
            ch.gain = 0.75f;
        }
        if (cell.volume > 9) ch.gain = float(cell.volume - 16) * 0.015625f;
    }
    double v = 0.0;
    if (voice.note > -1) {
        const int32_t n = voice.time;
        if (n < INT32_MAX) voice.time = n + 1;
        v = voice.nextSample(n);
    }
    if (v > 1.0) v = 1.0;
    if (v < -1.0) v = -1.0;
    if (v != v) v = 0.0;
    v *= double(ch.gain.load());
    ScopeBuffer& scope = ch.scope;
    scope.samples[scope.writeIndex] = float(v);
    scope.writeIndex = (scope.writeIndex + 1) % ScopeLength;
    return v;
}

// The export's 16-bit sample of a float32 sum of the eight channels.
inline int16_t exportSample(float sum) {
    double s = double(sum / ChannelCount) * 32767.5;
    if (s > 32767.0) s = 32767.0;
    if (s < -32767.0) s = -32767.0;
    return int16_t(s);
}

// The whole song as the export plays it, slot 0 to the end marker, frame by
// frame; leaves the voices, gains and scopes as the export would, and the
// order position on the slot that ended the song. `channels` (optional)
// receives each channel's values.
inline std::vector<int16_t> renderExport(std::vector<double>* channels = nullptr) {
    std::vector<int16_t> out;
    takePreviews();  // the export starts them too
    int slots = 0;
    while (slots < OrderSlots && song.orders[slots] != OrderEmpty) ++slots;
    const int32_t ticks = song.speed < 1 ? 1 : song.speed.load();
    for (int slot = 0; slot < slots; ++slot) {
        const int32_t pattern = song.orders[slot];
        for (int32_t row = 0; row < RowsPerPattern; ++row)
            for (int32_t frame = 0; frame < ticks * FramesPerTick; ++frame) {
                float sum = 0.0f;
                for (int c = 0; c < ChannelCount; ++c) {
                    const double v = channelFrame(c, frame == 0, pattern, row);
                    if (channels) channels[c].push_back(v);
                    sum = float(double(sum) + v);
                }
                out.push_back(exportSample(sum));
            }
    }
    transport.orderPos = slots < OrderSlots ? slots : 0;
    return out;
}

}  // namespace reference
