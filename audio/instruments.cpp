// The eight built-in voices.
//
// Sections:
//   1. constants and shared building blocks (pulse, low-pass, envelopes)
//   2. the five voice classes
//   3. the voice table, pitch, note-on, the noise generator
//
// Every voice is a pure function of the sample index, the float32 pitch and
// its float32 memory. Arithmetic is double; only the values stored in fields
// (freq, state) and the few sums marked below are rounded to float32, so a
// render matches any other faithful rendering sample for sample.
#include "audio/instruments.h"

#include <cmath>
#include <cstring>

// ---- 1. constants and building blocks ---------------------------------------

static constexpr double R = 44100.0;  // samples per second; pitch values are angular rates per R

// Single-precision constants, used with their float32 values widened to double.
static constexpr double C001 = double(0.01f);             // 0.009999999776482582
static constexpr double C00001 = double(0.0001f);         // 9.999999747378752e-05
static constexpr double Pi = double(3.14159265358979f);   // 3.1415927410125732
static constexpr double InvPi = double(0.318309886f);     // 0.31830987334251404
static constexpr double C09 = double(0.9f);               // 0.8999999761581421
static constexpr double C01 = double(1.0f - 0.9f);        // 0.10000002384185791
static constexpr double Inv15 = double(1.0f / 15.0f);     // 0.06666667014360428

static double frac(double x) { return x - std::trunc(x); }

// +1 when the phase at time T of the rate whose divisor R / r is `period`
// lies strictly above the threshold.
static double pulseOver(double T, double period, double threshold) {
    double p = frac((T / period + Pi) * InvPi);
    return p > threshold ? 1.0 : -1.0;
}

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
    float s = float(C09 * double(v.state.load()) + C01 * input);
    v.state = s;
    return double(s);
}

static double hyperbolic(double T, double c) {
    double env = 1.0 / (1.0 + c * T);
    return env < 0.0 ? 0.0 : env;
}

// ---- 2. the voices -----------------------------------------------------------

// Detuned pulse stack over a frequency-modulated sine.
double Ins0_0::nextSample(int32_t n) {
    double T = double(n) + 1.0;
    const float pitch = freq.load();
    double f = double(pitch);
    // d[0..2]: the sine rates; d[3..17]: the fifteen pulses' R / r, r = (1 + 0.01 i) f k / 2.
    double* d = periods.period;
    if (stale(periods, pitch)) {
        d[0] = R / (f * C00001);
        d[1] = R / (f * 0.5);
        d[2] = R / f;
        int j = 3;
        for (double k = 0.5; k <= 8.0; k *= 2.0)
            for (int i = -1; i <= 1; ++i) d[j++] = R / ((1.0 + C001 * i) * f * k * 0.5);
    }
    float w = float(0.5 * (1.0 + 0.9 * std::sin(T / d[0])));
    double W = double(w);
    double u = std::trunc(T + 300.0 * std::sin(T / d[1]));
    double S = 0.3 * std::sin(u / d[2]);
    // The fifteen pulses do not depend on each other: all first, then the
    // float32 running sum in the same order as ever.
    double v[15];
    for (int j = 0; j < 15; ++j) v[j] = pulseOver(T, d[3 + j], W);
    float sum = 0.0f;
    for (int j = 0; j < 15; ++j) sum = float((0.7 * v[j] + double(sum)) + S);  // the running sum is float32
    double s = lowPass(*this, double(sum) * Inv15);
    return 4.0 * s * hyperbolic(T, 0.0001);
}

// Pulse with full-depth width modulation, stepping base, x2, x4 every 1000 samples.
double Ins0_1::nextSample(int32_t n) {
    double T = double(n) + 1.0;
    if (n == 0) arpStep = 0;
    if ((int64_t(n) + 1) % 1000 == 0) {
        int32_t step = arpStep.load();
        float f = freq.load();
        freq = step == 2 ? 0.25f * f : 2.0f * f;  // back to the base pitch after two doublings
        arpStep = (step + 1) % 3;
    }
    double f = double(freq.load());
    double p = frac((T / (R / f) + Pi) * InvPi);
    double W = 0.5 * (1.0 + std::sin(T / (R / (f * 0.01))));
    double v = p > W ? 1.0 : -1.0;
    double s = lowPass(*this, v);
    return 1.5 * s * hyperbolic(T, 0.0005);
}

// Sine read through two stages of decaying time warp.
double Ins0_2::nextSample(int32_t n) {
    double T = double(n) + 1.0;
    const float pitch = freq.load();
    double f = double(pitch);
    double* d = periods.period;
    if (stale(periods, pitch)) {
        d[0] = R / (8.0 * f);
        d[1] = R / (4.0 * f);
        d[2] = R / f;
    }
    double u1 = std::trunc(T + 100.0 * std::sin(T / d[0]) / (1.0 + 0.002 * T));
    double u2 = std::trunc(T + 100.0 * std::sin(u1 / d[1]) / (1.0 + 0.001 * T));
    double raw = std::sin(u2 / d[2]);
    double s = lowPass(*this, raw);
    return 2.0 * s * hyperbolic(T, 0.0005);
}

// Five octave-stacked squares, overdriven: the caller's clamp shapes it.
double Ins0_3::nextSample(int32_t n) {
    double T = double(n) + 1.0;
    const float pitch = freq.load();
    double f = double(pitch);
    double* d = periods.period;  // R / (f k), k = 0.5, 1, 2, 4, 8
    if (stale(periods, pitch)) {
        int j = 0;
        for (double k = 0.5; k <= 8.0; k *= 2.0) d[j++] = R / (f * k);
    }
    double v[5];
    for (int j = 0; j < 5; ++j) v[j] = pulseOver(T, d[j], 0.5);
    float sum = 0.0f;
    for (int j = 0; j < 5; ++j) sum = float(double(sum) + 2.0 * v[j]);
    double s = lowPass(*this, double(sum));
    return 0.5 * s * hyperbolic(T, 0.0005);
}

// Tone drum on pitch class 3, noise drum on 5, silence otherwise.
double Ins_Drum::nextSample(int32_t n) {
    double T = double(n) + 1.0;
    double attack = std::fmin(0.001 * T, 1.0);
    double decay = std::fmax(1.0 - 0.0001 * T, 0.0);
    double E = attack * decay;
    int32_t m = note.load() % 12;
    if (m == 3) {
        double f = double(freq.load());
        double sweep = f / (0.00001 * n + 0.0000001);  // falls with n, not T
        double h = std::sin(T / (R / sweep));
        double g = f - 0.01 * n;
        // Once the falling rate reaches 0 its sine is 0 (R / 0 would be infinite).
        double b = g > 0.0 ? std::sin(T / (R / g)) : 0.0;
        double c = (h + 20.0 * b + double(state.load())) * 0.5;
        state = float(c);
        return c * E;
    }
    if (m == 5) {
        double c = nextNoise() * (1.0 / 32768.0) - 0.5;
        state = float(c);
        return c * E;
    }
    return 0.0;
}

// ---- 3. table, pitch, note-on, noise -----------------------------------------

static Ins0_0 voice0;
static Ins0_1 voice1;
static Ins0_2 voice2;
static Ins0_3 voice3;
static Ins0_0 voice4;
static Ins0_3 voice5;
static Ins_Drum voice6;
static Ins_Drum voice7;

Instrument* const instruments[8] = {&voice0, &voice1, &voice2, &voice3,
                                    &voice4, &voice5, &voice6, &voice7};

double pitchOf(int32_t note) { return 27.5 * std::pow(2.0, note * (1.0 / 12.0)); }

void noteOn(Instrument& voice, int32_t note) {
    voice.note = note;
    voice.freq = float(pitchOf(note));
    voice.time = 0;
}

// A 32-bit linear congruential generator; its high bits are well spread, so
// bits 16..30 give the 15-bit value. Only the thread that renders draws from it.
static Relaxed<uint32_t> noiseState{1};

void seedNoise(uint32_t seed) { noiseState = seed; }

int32_t nextNoise() {
    uint32_t s = noiseState.load() * 1103515245u + 12345u;
    noiseState = s;
    return int32_t((s >> 16) & 0x7FFF);
}
