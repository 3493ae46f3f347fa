#pragma once
// The eight built-in voices: the one class hierarchy of the program.
//
// A voice gives one sample at a time (nextSample, the reference) or a whole
// run of samples between two note-ons (beginRun / runMemories / endRun, what
// the engine uses). Its one recurrence, the memory, runs between the two
// halves of a run so that several voices' memories can run side by side.
#include <cstdint>

#include "audio/voice_constants.h"
#include "song/relaxed.h"

// One voice's share of a stretch of samples first .. first + count - 1.
struct VoiceRun {
    int64_t first = 0;  // n of the first sample (the voice's time)
    int count = 0;
    double* in = nullptr;   // the memory's inputs; RunFrames + RunSlack doubles (audio/kernels.h)
    double* mem = nullptr;  // the memory's values before rounding; as many
    // The memory, when the voice has one: mem[i] = keep x state + take x in[i], state = float32(mem[i]).
    bool recurs = false;
    double keep = 0.0, take = 0.0;
};

class Instrument {
public:
    Relaxed<int32_t> time{0};           // samples since the last note-on
    Relaxed<int32_t> note{-1};          // -1: silent, never evaluated
    Relaxed<float> freq{0.0f};          // pitchOf(note) as float32
    Relaxed<float> state{0.0f};         // one-pole filter memory, or the drum's last raw value
    Relaxed<uint32_t> notesStarted{0};  // note-ons so far: picks the noise drum's stream of values

    // The reference: the sample for index n (the render step has set time = n + 1).
    virtual double nextSample(int32_t n) = 0;

    // What the voice's own pitch changes make of its note's pitch value now
    // (the arpeggio's steps): a power of two, 1 for most voices.
    virtual float ownPitchFactor() const { return 1.0f; }

    // A run of `run.count` samples from the voice's time on (a sounding voice,
    // time + count <= INT32_MAX): beginRun fills the memory's inputs, endRun
    // the values (before the clamp; out needs RunSlack beyond count) and moves
    // time on. The memories run in between (runMemories).
    void beginRun(VoiceRun& run);
    void endRun(const VoiceRun& run, double* out);

protected:
    virtual void runMemoryInput(VoiceRun& run) = 0;
    virtual void runValues(const VoiceRun& run, double* out) = 0;
};

// Runs the memories of `count` runs of the same length side by side, from
// each voice's state, and leaves each voice's new state.
void runMemories(Instrument* const* voices, VoiceRun* const* runs, int count);

// beginRun, runMemories and endRun for one voice alone.
void renderRun(Instrument& voice, VoiceRun& run, double* out);

// The divisors R / r of a voice's fixed rates, kept by the rendering thread
// and recomputed only when the pitch's bits change: the same doubles, once per note.
template <int N>
struct RatePeriods {
    uint32_t freqBits = 0;
    bool valid = false;
    double period[N] = {};
};

// The five voices, by what they sound like (the kernels of each bear the
// same name). The class names are the product's own.

// Pulse stack: fifteen detuned pulses over five octaves, their width slowly
// swinging, over a sine read through warped time; the slowest to fade.
class Ins0_0 : public Instrument {
public:
    double nextSample(int32_t n) override;

protected:
    void runMemoryInput(VoiceRun& run) override;
    void runValues(const VoiceRun& run, double* out) override;

private:
    // Three sines (width, warp, the sine term) and the fifteen pulses.
    static constexpr int Sines = 3;
    RatePeriods<Sines + voice::StackPulses> periods;
};

// Arpeggio: one pulse whose width sweeps its whole period, stepping base,
// an octave up, two octaves up every 1000 samples.
class Ins0_1 : public Instrument {
public:
    Relaxed<int32_t> arpStep{0};  // 0..2: where the pitch is in its three steps
    double nextSample(int32_t n) override;
    float ownPitchFactor() const override;

protected:
    void runMemoryInput(VoiceRun& run) override;
    void runValues(const VoiceRun& run, double* out) override;
};

// Warp: a sine read through two stages of time warp that fade as the note
// goes on, so the tone bends at first and settles to a plain sine.
class Ins0_2 : public Instrument {
public:
    double nextSample(int32_t n) override;

protected:
    void runMemoryInput(VoiceRun& run) override;
    void runValues(const VoiceRun& run, double* out) override;

private:
    RatePeriods<3> periods;  // the two warps' sines and the sine read
};

// Squares: five octave-stacked square waves, overdriven into the clamp.
class Ins0_3 : public Instrument {
public:
    double nextSample(int32_t n) override;

protected:
    void runMemoryInput(VoiceRun& run) override;
    void runValues(const VoiceRun& run, double* out) override;

private:
    RatePeriods<voice::StackOctaves> periods;
};

// Drums: a tone drum (a sweeping and a falling sine) on pitch class 3, a
// noise drum on pitch class 5, silence on the others.
class Ins_Drum : public Instrument {
public:
    explicit Ins_Drum(uint32_t noiseStream) : stream(noiseStream) {}
    double nextSample(int32_t n) override;
    // Picks the noise drum's values for the current note: seed, voice and note count.
    uint32_t noiseKey() const;

protected:
    void runMemoryInput(VoiceRun& run) override;
    void runValues(const VoiceRun& run, double* out) override;

private:
    const uint32_t stream;  // tells the two drum voices' noise apart
};

extern Instrument* const instruments[8];  // audio/instruments.cpp: voice i plays channel i

double pitchOf(int32_t note);
// The pitch value of a note moved by `sixteenths` sixteenths of a semitone:
// pitchOf(note) x 2^(sixteenths / 192) in double, rounded to float32 once.
float pitchOf(int32_t note, double sixteenths);
// Gives a sounding voice a new pitch value for its note; its own pitch
// changes (the arpeggio's steps) go on on top of it.
void retune(Instrument& voice, float pitch);
// Starts a note on the rendering thread (row triggers, previews handed over by the engine).
void noteOn(Instrument& voice, int32_t note);

// The noise drum's generator: a uniform 15-bit value for each sample index of
// a note, the same however the samples are cut into runs. The seed is the
// program's (the clock at start-up, or a render's --seed).
void seedNoise(uint32_t seed);
int32_t noiseValue(uint32_t key, int64_t n);
