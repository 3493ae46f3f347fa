// The row trigger and the effect column: what a row's cells do to their
// channels at its first frame, and its effects at the ticks after.
//
// Runs wherever the sequencer runs (audio/sequencer.cpp): no allocation,
// locks, I/O or text.
#include "audio/effects.h"

#include <climits>
#include <cmath>

#include "audio/instruments.h"
#include "song/song.h"

EffectState effectState;

// Gain of a triggered note, and of a stored volume v: (v - 16) / 64.
static constexpr float TriggerGain = 0.75f;
// The same in volume steps: gain = steps / 64.
static constexpr int32_t TriggerVolume = 48, FullVolume = 64;
// Slides stop 32 octaves either way: the pitch value stays finite (an
// infinite one would leave a voice's memory not-a-number for good).
static constexpr int32_t OffsetLimit = 32 * 192;

static constexpr int32_t NoTick = INT32_MAX;

// The voice the channel's slot names: always the channel's own (nothing sets
// the slot otherwise), so no two channels share a voice.
Instrument& channelVoice(int channel) {
    const int32_t slot = song.channels[channel].instrumentSlot;
    return *instruments[(slot >= 0 && slot < ChannelCount) ? slot : channel];
}

// The cell of (pattern, row) on channel c. A damaged song can name a pattern
// 64..255 (255 after an empty slot 0): that plays as an empty pattern,
// nothing outside the 4096 cells is read.
const Cell* cellOf(int c, int32_t pattern, int32_t row) {
    if (pattern < 0 || pattern >= PatternCount || row < 0 || row >= RowsPerPattern) return nullptr;
    return &song.channels[c].cells[pattern * RowsPerPattern + row];
}

// Digits above 15 (a crafted file) do nothing; parameters are one byte.
int32_t effectOf(const Cell& cell) {
    const int32_t e = cell.effect;
    return e >= 1 && e <= 15 ? e : 0;
}
int32_t paramOf(const Cell& cell) { return cell.effectParam & 0xFF; }
static int32_t high(int32_t param) { return param >> 4; }
static int32_t low(int32_t param) { return param & 0xF; }

// Whether an effect acts at tick `tick` (1 or more) of its row.
static bool actsAt(int32_t effect, int32_t param, int32_t tick) {
    switch (effect) {
    case SlideUp:
    case SlideDown:
    case Arpeggio:
    case VolumeSlide: return param != 0;
    case Glide:
    case Vibrato:
    case Tremolo: return true;
    case Retrigger: return low(param) != 0 && tick % low(param) == 0;
    case NoteCut:
    case NoteDelay: return tick == param;
    default: return false;
    }
}

// The first tick after `tick` at which an effect acts (as actsAt says), NoTick if none.
static int32_t nextActingTick(int32_t effect, int32_t param, int32_t tick) {
    switch (effect) {
    case SlideUp:
    case SlideDown:
    case Arpeggio:
    case VolumeSlide: return param != 0 ? tick + 1 : NoTick;
    case Glide:
    case Vibrato:
    case Tremolo: return tick + 1;
    case Retrigger: return low(param) != 0 ? (tick / low(param) + 1) * low(param) : NoTick;
    case NoteCut:
    case NoteDelay: return param > tick ? param : NoTick;
    default: return NoTick;
    }
}

static int32_t clampTo(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// A sine of a phase in 64ths of a cycle.
static double phaseSine(int32_t phase) { return std::sin(2.0 * M_PI * (double(phase) / 64.0)); }

// A new note: its pitch has no offset and the waves start at phase 0.
void startNoteEffects(ChannelEffects& fx) {
    fx.offset = 0;
    fx.passing = 0.0;
    fx.vibratoPhase = 0;
    fx.tremoloPhase = 0;
}

// The sounding note's pitch value with the channel's offsets (nothing sounding: nothing to tune).
static void tune(Instrument& voice, const ChannelEffects& fx) {
    if (voice.note.load() < 0) return;
    retune(voice, pitchOf(voice.note, double(fx.offset) + fx.passing));
}

// The channel gain of a volume in steps, as the volume column gives it.
static void setVolume(Channel& ch, ChannelEffects& fx, int32_t volume) {
    fx.volume = volume;
    ch.gain = float(volume) * 0.015625f;
}

// The note and volume columns. A glide's note, with a note sounding, only
// says where the glide goes: no new note, no note-on gain.
static void noteAndVolume(int c, const Cell& cell, bool glide) {
    Channel& ch = song.channels[c];
    ChannelEffects& fx = effectState.channels[c];
    Instrument& voice = channelVoice(c);
    const int32_t note = cell.note;
    const int32_t volume = cell.volume;
    if (note > 0) {
        if (glide) fx.glideNote = note;
        if (!glide || voice.note.load() < 0) {
            noteOn(voice, note);
            startNoteEffects(fx);
            ch.gain = TriggerGain;
            fx.volume = TriggerVolume;
        }
    }
    if (volume > 9) setVolume(ch, fx, volume - 16);
}

// x and y of a vibrato or tremolo: 0 keeps the channel's last value.
static void remember(int32_t param, int32_t& speed, int32_t& depth) {
    if (high(param)) speed = high(param);
    if (low(param)) depth = low(param);
}

static void vibratoTick(Instrument& voice, ChannelEffects& fx) {
    fx.passing = fx.vibratoDepth * phaseSine(fx.vibratoPhase);
    fx.vibratoPhase = (fx.vibratoPhase + fx.vibratoSpeed) % 64;
    tune(voice, fx);
}

// The gain times 1 - (y / 15) x (1 + sin) / 2 for this tick.
static void tremoloTick(Channel& ch, ChannelEffects& fx) {
    const double factor = 1.0 - (fx.tremoloDepth / 15.0) * (1.0 + phaseSine(fx.tremoloPhase)) / 2.0;
    fx.tremoloPhase = (fx.tremoloPhase + fx.tremoloSpeed) % 64;
    fx.tremolo = true;
    ch.gain = float(fx.volume * 0.015625 * factor);
}

static void slide(Instrument& voice, ChannelEffects& fx, int32_t sixteenths) {
    fx.offset = clampTo(fx.offset + sixteenths, -OffsetLimit, OffsetLimit);
    tune(voice, fx);
}

// Toward the glide's note, stopping on it.
static void glideTick(Instrument& voice, ChannelEffects& fx) {
    if (fx.glideNote <= 0 || voice.note.load() < 0) return;
    const int32_t target = (fx.glideNote - voice.note) * 16;
    if (fx.offset < target)
        fx.offset = fx.offset + fx.glideSpeed < target ? fx.offset + fx.glideSpeed : target;
    else
        fx.offset = fx.offset - fx.glideSpeed > target ? fx.offset - fx.glideSpeed : target;
    tune(voice, fx);
}

// The sounding note started again at its pitch; its volume moves by x - 8.
static void retrigger(Channel& ch, Instrument& voice, ChannelEffects& fx, int32_t x) {
    if (voice.note.load() < 0) return;
    noteOn(voice, voice.note);
    tune(voice, fx);
    if (x != 8) setVolume(ch, fx, clampTo(fx.volume + x - 8, 0, FullVolume));
}

// The first frame of a row: the note and volume apply (unless delayed), what
// the last row's vibrato, arpeggio or tremolo did ends, then the effect's tick 0.
void startRow(int c, int32_t pattern, int32_t row) {
    const Cell* cell = cellOf(c, pattern, row);
    Channel& ch = song.channels[c];
    ChannelEffects& fx = effectState.channels[c];
    Instrument& voice = channelVoice(c);
    const int32_t effect = cell ? effectOf(*cell) : 0;
    const int32_t param = cell ? paramOf(*cell) : 0;
    if (cell && !(effect == NoteDelay && param > 0)) noteAndVolume(c, *cell, effect == Glide);
    if (fx.passing != 0.0) {
        fx.passing = 0.0;
        tune(voice, fx);
    }
    if (fx.tremolo) {
        fx.tremolo = false;
        setVolume(ch, fx, fx.volume);
    }
    switch (effect) {
    case Glide:
        if (param) fx.glideSpeed = param;
        break;
    case Vibrato:
        remember(param, fx.vibratoSpeed, fx.vibratoDepth);
        vibratoTick(voice, fx);
        break;
    case Tremolo:
        remember(param, fx.tremoloSpeed, fx.tremoloDepth);
        tremoloTick(ch, fx);
        break;
    case Retrigger:
        // Every y ticks from the row's start: at tick 0 a note of the row is that start.
        if (low(param) && cell->note <= 0) retrigger(ch, voice, fx, high(param));
        break;
    case NoteCut:
        if (param == 0) setVolume(ch, fx, 0);
        break;
    case SetVolume: setVolume(ch, fx, param < FullVolume ? param : FullVolume); break;
    default: break;
    }
}

// The first frame of tick `tick` (1 or more) of a row: its effect, when it acts then.
void effectTick(int c, int32_t pattern, int32_t row, int32_t tick) {
    const Cell* cell = cellOf(c, pattern, row);
    if (!cell) return;
    const int32_t effect = effectOf(*cell), param = paramOf(*cell);
    if (!actsAt(effect, param, tick)) return;
    Channel& ch = song.channels[c];
    ChannelEffects& fx = effectState.channels[c];
    Instrument& voice = channelVoice(c);
    switch (effect) {
    case SlideUp: slide(voice, fx, param); break;
    case SlideDown: slide(voice, fx, -param); break;
    case Glide: glideTick(voice, fx); break;
    case Vibrato: vibratoTick(voice, fx); break;
    case Arpeggio: {
        const int32_t step = tick % 3;  // the note, + x, + y semitones
        fx.passing = 16.0 * (step == 0 ? 0 : step == 1 ? high(param) : low(param));
        tune(voice, fx);
        break;
    }
    case Retrigger: retrigger(ch, voice, fx, high(param)); break;
    case Tremolo: tremoloTick(ch, fx); break;
    case NoteCut: setVolume(ch, fx, 0); break;
    case NoteDelay: noteAndVolume(c, *cell, false); break;
    case VolumeSlide: {
        const int32_t step = high(param) ? high(param) : -low(param);  // up wins
        setVolume(ch, fx, clampTo(fx.volume + step, 0, FullVolume));
        break;
    }
    default: break;
    }
}

int32_t rowSpeedEffect(int32_t pattern, int32_t row) {
    int32_t speed = 0;
    for (int c = 0; c < ChannelCount; ++c) {
        const Cell* cell = cellOf(c, pattern, row);
        if (!cell || effectOf(*cell) != SetSpeed) continue;
        const int32_t ticks = cell->effectParam;
        if (ticks >= 1 && ticks <= 15) speed = ticks;  // 0 and above 15: no change
    }
    return speed;
}

// The first tick after `tick` at which some channel's effect acts, NoTick if none.
int32_t nextEffectTick(int32_t pattern, int32_t row, int32_t tick) {
    int32_t next = NoTick;
    for (int c = 0; c < ChannelCount; ++c) {
        const Cell* cell = cellOf(c, pattern, row);
        if (!cell) return NoTick;
        const int32_t t = nextActingTick(effectOf(*cell), paramOf(*cell), tick);
        if (t < next) next = t;
    }
    return next;
}
