#pragma once
// The eight built-in voices: the one class hierarchy of the program.
#include <cstdint>

#include "song/relaxed.h"

class Instrument {
public:
    Relaxed<int32_t> time{0};    // samples since the last note-on (written by both threads)
    Relaxed<int32_t> note{-1};   // -1: silent, never evaluated
    Relaxed<float> freq{0.0f};   // pitchOf(note) as float32
    Relaxed<float> state{0.0f};  // one-pole filter memory, or the drum's last raw value
    virtual double nextSample(int32_t n) = 0;
};

// The divisors R / r of a voice's fixed rates, kept by the rendering thread
// and recomputed only when the pitch's bits change: the same doubles, once per note.
template <int N>
struct RatePeriods {
    uint32_t freqBits = 0;
    bool valid = false;
    double period[N] = {};
};

class Ins0_0 : public Instrument {
public:
    double nextSample(int32_t n) override;
private:
    RatePeriods<18> periods;
};
class Ins0_1 : public Instrument {
public:
    Relaxed<int32_t> arpStep{0};
    double nextSample(int32_t n) override;
};
class Ins0_2 : public Instrument {
public:
    double nextSample(int32_t n) override;
private:
    RatePeriods<3> periods;
};
class Ins0_3 : public Instrument {
public:
    double nextSample(int32_t n) override;
private:
    RatePeriods<5> periods;
};
class Ins_Drum : public Instrument { public: double nextSample(int32_t n) override; };

extern Instrument* const instruments[8];  // audio/instruments.cpp: voice i plays channel i

double pitchOf(int32_t note);
void noteOn(Instrument& voice, int32_t note);

// The noise drum's generator: uniform 15-bit values, safe on the audio thread.
void seedNoise(uint32_t seed);
int32_t nextNoise();
