#pragma once
// The reference the engine is measured against: the formulas frame by frame,
// written out apart from the engine's block code. Each frame of each channel
// is the row trigger and the effect column at each tick's first frame, one
// nextSample of the channel's voice, the clamp, the gain and the scope, as
// the render step and the effects' rules describe them. Shared by the unit
// tests and the render benchmark (the per-frame figure beside the engine's).
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"

namespace reference {

// ---- the effect column, as the rules say it, tick by tick ----

// What a channel's effects have left: written here apart from the engine.
struct EffectMemory {
    int volume = 64;       // 0..64 steps, gain = volume / 64 (64: the start gain 1.0)
    int slid = 0;          // sixteenths from slides and glides, 0 at each new note
    double swing = 0.0;    // this row's vibrato or arpeggio sixteenths
    double tremble = 1.0;  // this row's tremolo factor
    int glideTo = 0, glideStep = 0;
    int vibratoX = 0, vibratoY = 0, vibratoPhase = 0;
    int tremoloX = 0, tremoloY = 0, tremoloPhase = 0;
};
inline EffectMemory memory[ChannelCount];

inline Instrument& voiceOf(int c) {
    const int32_t slot = song.channels[c].instrumentSlot;
    return *instruments[slot >= 0 && slot < ChannelCount ? slot : c];
}

// The pitch value: pitchOf(note) x 2^(s / 192) rounded once, the arpeggiating voice's own steps on top.
inline void setPitch(int c) {
    Instrument& voice = voiceOf(c);
    if (voice.note < 0) return;
    const EffectMemory& m = memory[c];
    const double s = m.slid + m.swing;
    float f = float(27.5 * std::pow(2.0, voice.note * (1.0 / 12.0)) * std::pow(2.0, s / 192.0));
    if (auto* arp = dynamic_cast<Ins0_1*>(&voice); arp && voice.time > 0) f *= float(1 << arp->arpStep);
    voice.freq = f;
}

inline void setGain(int c) {
    const EffectMemory& m = memory[c];
    song.channels[c].gain = float(m.volume / 64.0 * m.tremble);
}

inline double cycle(int phase64) { return std::sin(2.0 * M_PI * phase64 / 64.0); }

inline void newNote(int c, int note) {
    noteOn(voiceOf(c), note);
    EffectMemory& m = memory[c];
    m.slid = 0;
    m.swing = 0.0;
    m.vibratoPhase = 0;
    m.tremoloPhase = 0;
}

// Tick `tick` of the row begins on channel c: the note and volume (at tick 0, or at a delay's tick),
// then the effect.
inline void tickBegins(int c, const Cell& cell, int tick) {
    EffectMemory& m = memory[c];
    Channel& ch = song.channels[c];
    Instrument& voice = voiceOf(c);
    const int e = cell.effect >= 1 && cell.effect <= 15 ? int(cell.effect) : 0;
    const int xx = cell.effectParam & 0xFF, x = xx >> 4, y = xx & 15;
    if (tick == 0) {
        if (m.swing != 0.0) m.swing = 0.0, setPitch(c);
        if (m.tremble != 1.0) m.tremble = 1.0, setGain(c);
    }
    const bool notesNow = e == 9 ? tick == xx : tick == 0;
    if (notesNow) {
        if (cell.note > 0 && e == 3) m.glideTo = cell.note;
        if (cell.note > 0 && (e != 3 || voice.note < 0)) {
            newNote(c, cell.note);
            ch.gain = 0.75f;
            m.volume = 48;
        }
        if (cell.volume > 9) {
            m.volume = cell.volume - 16;
            ch.gain = float(cell.volume - 16) * 0.015625f;
        }
    }
    auto clampVolume = [](int v) { return v < 0 ? 0 : v > 64 ? 64 : v; };
    switch (e) {
    case 1:
    case 2:
        if (tick > 0 && xx) {
            m.slid += e == 1 ? xx : -xx;
            m.slid = std::max(-6144, std::min(6144, m.slid));
            setPitch(c);
        }
        break;
    case 3:
        if (tick == 0 && xx) m.glideStep = xx;
        if (tick > 0 && m.glideTo > 0 && voice.note >= 0) {
            const int target = 16 * (m.glideTo - voice.note);
            m.slid = m.slid < target ? std::min(target, m.slid + m.glideStep) : std::max(target, m.slid - m.glideStep);
            setPitch(c);
        }
        break;
    case 4:
        if (tick == 0 && x) m.vibratoX = x;
        if (tick == 0 && y) m.vibratoY = y;
        m.swing = m.vibratoY * cycle(m.vibratoPhase);
        m.vibratoPhase = (m.vibratoPhase + m.vibratoX) % 64;
        setPitch(c);
        break;
    case 5:
        if (xx) {
            m.swing = tick % 3 == 0 ? 0.0 : 16.0 * (tick % 3 == 1 ? x : y);
            setPitch(c);
        }
        break;
    case 6:
        if (y && tick % y == 0 && (tick > 0 || cell.note <= 0) && voice.note >= 0) {
            noteOn(voice, voice.note);
            setPitch(c);
            if (x != 8) m.volume = clampVolume(m.volume + x - 8), setGain(c);
        }
        break;
    case 7:
        if (tick == 0 && x) m.tremoloX = x;
        if (tick == 0 && y) m.tremoloY = y;
        m.tremble = 1.0 - (m.tremoloY / 15.0) * (1.0 + cycle(m.tremoloPhase)) / 2.0;
        m.tremoloPhase = (m.tremoloPhase + m.tremoloX) % 64;
        setGain(c);
        break;
    case 8:
        if (tick == xx) m.volume = 0, setGain(c);
        break;
    case 0xA:
        if (tick > 0 && xx) m.volume = clampVolume(m.volume + (x ? x : -y)), setGain(c);
        break;
    case 0xC:
        if (tick == 0) m.volume = std::min(xx, 64), setGain(c);
        break;
    default: break;
    }
}

// One frame of channel c; `tickStart`: the frame is the first of tick `tick` of row (pattern, row).
inline double channelFrame(int c, bool tickStart, int tick, int32_t pattern, int32_t row) {
    Channel& ch = song.channels[c];
    Instrument& voice = voiceOf(c);
    if (tickStart && pattern >= 0 && pattern < PatternCount && row >= 0 && row < RowsPerPattern)
        tickBegins(c, ch.cells[pattern * RowsPerPattern + row], tick);
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

// The whole song as the export plays it, frame by frame: slot 0 row 0 at the
// song's speed; after each row its jump (B) and break (D), else the next row
// or slot; each row's speed effect (F) from that row on; the end at an empty
// or missing slot, or before a (slot, row) already begun at the same speed.
// Leaves the voices, gains and scopes as the export would, and the order
// position on the slot play would go on at. `channels` (optional) receives
// each channel's values. The effect memory starts afresh.
inline std::vector<int16_t> renderExport(std::vector<double>* channels = nullptr) {
    std::vector<int16_t> out;
    takePreviews();  // the export starts them too
    for (EffectMemory& m : memory) m = EffectMemory{};
    std::vector<bool> begun(64 * 64 * 256);
    int slot = 0, row = 0, speed = song.speed;
    while (slot >= 0 && slot < OrderSlots && song.orders[slot] != OrderEmpty) {
        const size_t key = size_t((slot * 64 + row) * 256 + (speed & 255));
        if (begun[key]) break;
        begun[key] = true;
        const int32_t pattern = song.orders[slot];
        const bool cells = pattern >= 0 && pattern < PatternCount;
        int jump = -1, breakTo = -1;
        for (int c = 0; cells && c < ChannelCount; ++c) {
            const Cell& cell = cellAt(c, pattern, row);
            if (cell.effect == 0xF && cell.effectParam >= 1 && cell.effectParam <= 15) speed = cell.effectParam;
            if (cell.effect == 0xB) jump = cell.effectParam & 0xFF;
            if (cell.effect == 0xD) breakTo = std::min(cell.effectParam & 0xFF, 63);
        }
        const int ticks = speed < 1 ? 1 : speed;
        for (int32_t frame = 0; frame < ticks * FramesPerTick; ++frame) {
            float sum = 0.0f;
            for (int c = 0; c < ChannelCount; ++c) {
                const double v = channelFrame(c, frame % FramesPerTick == 0, frame / FramesPerTick, pattern, row);
                if (channels) channels[c].push_back(v);
                sum = float(double(sum) + v);
            }
            out.push_back(exportSample(sum));
        }
        if (jump >= 0 || breakTo >= 0) {
            slot = jump >= 0 ? jump : slot + 1;
            row = breakTo >= 0 ? breakTo : 0;
        } else if (++row == RowsPerPattern) {
            row = 0;
            ++slot;
        }
    }
    transport.orderPos = slot >= 0 && slot < OrderSlots ? slot : 0;
    return out;
}

}  // namespace reference
