// The eight built-in voices.
//
// Sections:
//   1. shared building blocks (pulse, low-pass, envelopes, arpeggio step, noise)
//   2. the five voices, sample by sample: the reference (pulse stack Ins0_0,
//      arpeggio Ins0_1, warp Ins0_2, squares Ins0_3, drums Ins_Drum)
//   3. the five voices, run by run: what the engine plays
//   4. the memories side by side
//   5. the voice table, pitch, note-on, the noise seed
//
// Every voice is a pure function of the sample index, the float32 pitch and
// its float32 memory. Arithmetic is double; only the values stored in fields
// (freq, state) and the few sums marked below are rounded to float32, so a
// render matches any other faithful rendering sample for sample.
#include "audio/instruments.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/kernels.h"
#include "audio/voice_constants.h"

using namespace voice;

// ---- 1. building blocks ------------------------------------------------------

static double frac(double x) { return x - std::trunc(x); }

// +1 when the phase at time T of the rate whose divisor R / r is `period`
// lies strictly above the threshold.
static double pulseOver(double T, double period, double threshold) {
    double p = frac((T / period + Pi) * InvPi);
    return p > threshold ? 1.0 : -1.0;
}

// A pulse width from a swing of -1 .. +1: around half a period, up to all of it.
static double widthOf(double swing) { return WidthCentre * (1.0 + swing); }

// Whether the divisors must be worked out again for pitch f. Compared bit for
// bit: +0 and -0 give divisors of opposite sign, and a NaN pitch still hits.
template <int N>
static bool stale(RatePeriods<N>& p, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    if (p.valid && p.freqBits == bits) return false;
    p.freqBits = bits;
    p.valid = true;
    return true;
}

// One-pole low-pass; returns the new memory as the voice sees it (float32).
static double lowPass(Instrument& v, double input) {
    float s = float(LowPassKeep * double(v.state.load()) + LowPassTake * input);
    v.state = s;
    return double(s);
}

static double hyperbolic(double T, double c) {
    double env = 1.0 / (1.0 + c * T);
    return env < 0.0 ? 0.0 : env;
}

// Before sample n of the arpeggio: a note restarts it; at every 1000th
// sample the pitch steps x2, x2, then x1/4 back to the base.
static void arpeggioStep(Ins0_1& v, int64_t n) {
    if (n == 0) v.arpStep = 0;
    if ((n + 1) % ArpeggioStep == 0) {
        int32_t step = v.arpStep.load();
        float f = v.freq.load();
        v.freq = step == ArpeggioSteps - 1 ? ArpeggioBack * f : ArpeggioUp * f;
        v.arpStep = (step + 1) % ArpeggioSteps;
    }
}

// A 32-bit integer hash with every input bit reaching every output bit (the
// shifts and odd multipliers of a published low-bias 32-bit mixer).
static uint32_t mix32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

static Relaxed<uint32_t> noiseSeed{1};  // set by the main thread, read by whichever thread renders

// Steps a key by 2^32 / golden ratio per index or voice: consecutive values
// land far apart before the hash.
static constexpr uint32_t GoldenStep = 0x9E3779B9u;

// The top 15 bits of the hash of the note's key and the index: a value that
// depends on nothing else, so runs cut anywhere draw the same noise.
int32_t noiseValue(uint32_t key, int64_t n) {
    return int32_t(mix32(key + uint32_t(n) * GoldenStep) >> (32 - NoiseBits));
}

// The noise drum's raw value c in [-0.5, 0.5).
static double noiseSample(uint32_t key, int64_t n) {
    return noiseValue(key, n) * (1.0 / (1 << NoiseBits)) - NoiseCentre;
}

// Drum envelope: rises over 1000 samples, falls to nothing at T = 10000.
static double drumEnvelope(double T) { return std::fmin(DrumAttack * T, 1.0) * std::fmax(1.0 - DrumDecay * T, 0.0); }

// Samples n with T = n + 1 below 10000 may sound; from there on a drum is silent.
static constexpr int64_t DrumSilentFrom = 9999;

// ---- 2. the voices, sample by sample -------------------------------------------

// Pulse stack: fifteen detuned pulses over a sine read through warped time.
double Ins0_0::nextSample(int32_t n) {
    double T = double(n) + 1.0;
    const float pitch = freq.load();
    double f = double(pitch);
    // The sines' R / r, then the fifteen pulses', r = (1 + 0.01 i) f k / 2.
    double* d = periods.period;
    enum { WidthSine, WarpSine, ReadSine };
    double* pulse = d + Sines;
    if (stale(periods, pitch)) {
        d[WidthSine] = R / (f * PulseWidthRate);
        d[WarpSine] = R / (f * PulseWarpRate);
        d[ReadSine] = R / f;
        int j = 0;
        for (double k = OctaveLowest; k <= OctaveHighest; k *= 2.0)
            for (int i = -1; i <= 1; ++i) pulse[j++] = R / ((1.0 + PulseDetune * i) * f * k * PulseRateRatio);
    }
    float w = float(widthOf(PulseWidthDepth * std::sin(T / d[WidthSine])));
    double W = double(w);
    double u = std::trunc(T + PulseWarpDepth * std::sin(T / d[WarpSine]));
    double S = PulseSineLevel * std::sin(u / d[ReadSine]);
    // The fifteen pulses do not depend on each other: all first, then the
    // float32 running sum in the same order as ever.
    double v[StackPulses];
    for (int j = 0; j < StackPulses; ++j) v[j] = pulseOver(T, pulse[j], W);
    float sum = 0.0f;
    for (int j = 0; j < StackPulses; ++j) sum = float((PulseLevel * v[j] + double(sum)) + S);  // a float32 sum
    double s = lowPass(*this, double(sum) * PulseStackAverage);
    return PulseStackScale * s * hyperbolic(T, PulseStackDecay);
}

// Arpeggio: a pulse with full-depth width modulation, stepping base, x2, x4 every 1000 samples.
double Ins0_1::nextSample(int32_t n) {
    double T = double(n) + 1.0;
    arpeggioStep(*this, n);
    double f = double(freq.load());
    double W = widthOf(std::sin(T / (R / (f * ArpeggioWidthRate))));
    double v = pulseOver(T, R / f, W);
    double s = lowPass(*this, v);
    return ArpeggioScale * s * hyperbolic(T, ArpeggioDecay);
}

// Warp: a sine read through two stages of decaying time warp.
double Ins0_2::nextSample(int32_t n) {
    double T = double(n) + 1.0;
    const float pitch = freq.load();
    double f = double(pitch);
    double* d = periods.period;
    enum { FirstWarp, SecondWarp, ReadSine };
    if (stale(periods, pitch)) {
        d[FirstWarp] = R / (WarpFirstRate * f);
        d[SecondWarp] = R / (WarpSecondRate * f);
        d[ReadSine] = R / f;
    }
    double u1 = std::trunc(T + WarpDepth * std::sin(T / d[FirstWarp]) / (1.0 + WarpFirstFade * T));
    double u2 = std::trunc(T + WarpDepth * std::sin(u1 / d[SecondWarp]) / (1.0 + WarpSecondFade * T));
    double raw = std::sin(u2 / d[ReadSine]);
    double s = lowPass(*this, raw);
    return WarpScale * s * hyperbolic(T, WarpDecay);
}

// Squares: five octave-stacked squares, overdriven: the caller's clamp shapes it.
double Ins0_3::nextSample(int32_t n) {
    double T = double(n) + 1.0;
    const float pitch = freq.load();
    double f = double(pitch);
    double* d = periods.period;  // R / (f k), k = 0.5, 1, 2, 4, 8
    if (stale(periods, pitch)) {
        int j = 0;
        for (double k = OctaveLowest; k <= OctaveHighest; k *= 2.0) d[j++] = R / (f * k);
    }
    double v[StackOctaves];
    for (int j = 0; j < StackOctaves; ++j) v[j] = pulseOver(T, d[j], SquareWidth);
    float sum = 0.0f;
    for (int j = 0; j < StackOctaves; ++j) sum = float(double(sum) + SquareLevel * v[j]);
    double s = lowPass(*this, double(sum));
    return SquaresScale * s * hyperbolic(T, SquaresDecay);
}

// Drums: the tone drum on pitch class 3, the noise drum on 5, silence otherwise.
double Ins_Drum::nextSample(int32_t n) {
    double T = double(n) + 1.0;
    double E = drumEnvelope(T);
    int32_t m = note.load() % SemitonesPerOctave;
    if (m == ToneDrumClass) {
        double f = double(freq.load());
        double sweep = f / (ToneSweepSlope * n + ToneSweepStart);  // falls with n, not T
        double h = std::sin(T / (R / sweep));
        double g = f - ToneFall * n;
        // Once the falling rate reaches 0 its sine is 0 (R / 0 would be infinite).
        double b = g > 0.0 ? std::sin(T / (R / g)) : 0.0;
        double c = (h + ToneFallLevel * b + double(state.load())) * DrumKeep;
        state = float(c);
        return c * E;
    }
    if (m == NoiseDrumClass) {
        double c = noiseSample(noiseKey(), n);
        state = float(c);
        return c * E;
    }
    return 0.0;
}

uint32_t Ins_Drum::noiseKey() const {
    return mix32(noiseSeed.load() ^ mix32(stream * GoldenStep + notesStarted.load()));
}

// ---- 3. the voices, run by run ---------------------------------------------------

void Instrument::beginRun(VoiceRun& run) {
    run.first = time.load();
    run.recurs = false;
    runMemoryInput(run);
}

void Instrument::endRun(const VoiceRun& run, double* out) {
    runValues(run, out);
    time = int32_t(run.first + run.count);
}

// The four filtered voices share the memory: the one-pole low-pass.
static void lowPassRun(VoiceRun& run) {
    run.recurs = true;
    run.keep = LowPassKeep;
    run.take = LowPassTake;
}

void Ins0_0::runMemoryInput(VoiceRun& run) {
    kernels().pulseStack(double(freq.load()), run.first, run.count, run.in);
    lowPassRun(run);
}
void Ins0_0::runValues(const VoiceRun& run, double* out) {
    kernels().shape(PulseStackScale, PulseStackDecay, run.first, run.count, run.mem, out);
}

// The pitch steps inside the run: sub-runs of constant pitch, each to the next step.
void Ins0_1::runMemoryInput(VoiceRun& run) {
    const RenderKernels& k = kernels();
    int i = 0;
    while (i < run.count) {
        const int64_t n = run.first + i;
        arpeggioStep(*this, n);
        const int64_t nextStep =
            (n + 1) / ArpeggioStep * ArpeggioStep + ArpeggioStep - 1;  // next n with (n + 1) % 1000 == 0
        const int len = int(std::min<int64_t>(run.count - i, nextStep - n));
        k.arpeggio(double(freq.load()), n, len, run.in + i);  // its slack lands where the next sub-run writes
        i += len;
    }
    lowPassRun(run);
}
void Ins0_1::runValues(const VoiceRun& run, double* out) {
    kernels().shape(ArpeggioScale, ArpeggioDecay, run.first, run.count, run.mem, out);
}

void Ins0_2::runMemoryInput(VoiceRun& run) {
    kernels().warp(double(freq.load()), run.first, run.count, run.in);
    lowPassRun(run);
}
void Ins0_2::runValues(const VoiceRun& run, double* out) {
    kernels().shape(WarpScale, WarpDecay, run.first, run.count, run.mem, out);
}

void Ins0_3::runMemoryInput(VoiceRun& run) {
    kernels().squares(double(freq.load()), run.first, run.count, run.in);
    lowPassRun(run);
}
void Ins0_3::runValues(const VoiceRun& run, double* out) {
    kernels().shape(SquaresScale, SquaresDecay, run.first, run.count, run.mem, out);
}

// The tone drum's memory runs through silence too: in full, so that it
// comes out the same however the silence is cut up, and the next note
// starts from the value the reference leaves.
void Ins_Drum::runMemoryInput(VoiceRun& run) {
    if (note.load() % SemitonesPerOctave != ToneDrumClass) return;
    kernels().toneDrum(double(freq.load()), run.first, run.count, run.in);
    run.recurs = true;
    run.keep = DrumKeep;
    run.take = DrumKeep;
}

void Ins_Drum::runValues(const VoiceRun& run, double* out) {
    const RenderKernels& k = kernels();
    const int32_t m = note.load() % SemitonesPerOctave;
    // Samples before `audible` may sound; the envelope is 0 from T = 10000 on.
    const int audible = int(std::clamp<int64_t>(DrumSilentFrom - run.first, 0, run.count));
    if (m == ToneDrumClass) {
        k.drumEnvelope(run.first, audible, run.mem, out);
    } else if (m == NoiseDrumClass) {
        // Only the audible values are drawn, and the last one, which the memory keeps.
        const uint32_t key = noiseKey();
        double* c = run.in;
        for (int i = 0; i < audible; ++i) c[i] = noiseSample(key, run.first + i);
        k.drumEnvelope(run.first, audible, c, out);
        if (run.count > 0) state = float(noiseSample(key, run.first + run.count - 1));
    } else {
        for (int i = 0; i < audible; ++i) out[i] = 0.0;
    }
    // After the envelope, which writes whole vectors past `audible`.
    for (int i = audible; i < run.count; ++i) out[i] = 0.0;
}

// ---- 4. the memories side by side ---------------------------------------------------

// mem = keep x s + take x in, s = float32(mem). keep x s is a product of
// two 24-bit values, exact in a double, so the fused form below rounds the
// sum once, as this one does: both give the same bits.
template <int N>
static void memoryChains(float* s, const double* const* in, double* const* mem, const double* keep, const double* take,
                         int len) {
    for (int i = 0; i < len; ++i)
#pragma GCC unroll 8
        for (int j = 0; j < N; ++j) {
            const double x = keep[j] * double(s[j]) + take[j] * in[j][i];
            mem[j][i] = x;
            s[j] = float(x);
        }
}

template <int N>
__attribute__((target("fma"))) static void memoryChainsFused(float* s, const double* const* in, double* const* mem,
                                                             const double* keep, const double* take, int len) {
    for (int i = 0; i < len; ++i)
#pragma GCC unroll 8
        for (int j = 0; j < N; ++j) {
            const double x = __builtin_fma(keep[j], double(s[j]), take[j] * in[j][i]);
            mem[j][i] = x;
            s[j] = float(x);
        }
}

// Each memory is one long chain of dependent steps; N chains side by side
// let the processor overlap them.
static const bool fusedMemory = processorHasFma();

template <int N>
static void chains(float* s, const double* const* in, double* const* mem, const double* keep, const double* take,
                   int len) {
    if (fusedMemory)
        memoryChainsFused<N>(s, in, mem, keep, take, len);
    else
        memoryChains<N>(s, in, mem, keep, take, len);
}

// Chains run side by side at most; more than that gain nothing.
static constexpr int MaxChains = 8;

void runMemories(Instrument* const* voices, VoiceRun* const* runs, int count) {
    float s[MaxChains];
    const double* in[MaxChains];
    double* mem[MaxChains];
    double keep[MaxChains], take[MaxChains];
    Instrument* chained[MaxChains];
    int n = 0, len = 0;
    for (int j = 0; j < count; ++j) {
        if (!runs[j]->recurs) continue;
        if (n == MaxChains) {
            chains<MaxChains>(s, in, mem, keep, take, len);
            for (int k = 0; k < MaxChains; ++k) chained[k]->state = s[k];
            n = 0;
        }
        chained[n] = voices[j];
        s[n] = voices[j]->state.load();
        in[n] = runs[j]->in;
        mem[n] = runs[j]->mem;
        keep[n] = runs[j]->keep;
        take[n] = runs[j]->take;
        len = runs[j]->count;  // all runs of one call have the same length
        ++n;
    }
    static_assert(MaxChains == 8, "one case below for each count of chains");
    switch (n) {
    case 1: chains<1>(s, in, mem, keep, take, len); break;
    case 2: chains<2>(s, in, mem, keep, take, len); break;
    case 3: chains<3>(s, in, mem, keep, take, len); break;
    case 4: chains<4>(s, in, mem, keep, take, len); break;
    case 5: chains<5>(s, in, mem, keep, take, len); break;
    case 6: chains<6>(s, in, mem, keep, take, len); break;
    case 7: chains<7>(s, in, mem, keep, take, len); break;
    case 8: chains<8>(s, in, mem, keep, take, len); break;
    default: break;
    }
    for (int k = 0; k < n; ++k) chained[k]->state = s[k];
}

void renderRun(Instrument& voice, VoiceRun& run, double* out) {
    Instrument* v = &voice;
    VoiceRun* r = &run;
    voice.beginRun(run);
    runMemories(&v, &r, 1);
    voice.endRun(run, out);
}

// ---- 5. table, pitch, note-on, noise seed -------------------------------------------

static Ins0_0 voice0;
static Ins0_1 voice1;
static Ins0_2 voice2;
static Ins0_3 voice3;
static Ins0_0 voice4;
static Ins0_3 voice5;
static Ins_Drum voice6{0};
static Ins_Drum voice7{1};

Instrument* const instruments[8] = {&voice0, &voice1, &voice2, &voice3, &voice4, &voice5, &voice6, &voice7};

double pitchOf(int32_t note) { return LowestPitch * std::pow(2.0, note * (1.0 / SemitonesPerOctave)); }

float pitchOf(int32_t note, double sixteenths) {
    return float(pitchOf(note) * std::pow(2.0, sixteenths / 192.0));  // 192 sixteenths to the octave
}

// Before its first sample a note plays its base pitch (that sample sets the
// step back to 0); then base x 2, x 4, base by the step reached.
float Ins0_1::ownPitchFactor() const { return time.load() == 0 ? 1.0f : float(1 << (arpStep.load() % 3)); }

// A power of two times a float32: exact, as the arpeggio's own steps are.
void retune(Instrument& voice, float pitch) { voice.freq = pitch * voice.ownPitchFactor(); }

void noteOn(Instrument& voice, int32_t note) {
    voice.note = note;
    voice.freq = float(pitchOf(note));
    voice.time = 0;
    voice.notesStarted = voice.notesStarted.load() + 1;
}

void seedNoise(uint32_t seed) { noiseSeed = seed; }
