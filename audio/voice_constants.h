#pragma once
// The numbers of the voices, shared by the per-sample voices and the vector
// kernels so both compute the same formulas.

namespace voice {

constexpr double R = 44100.0;  // samples per second; pitch values are angular rates per R

// Single-precision constants, used with their float32 values widened to double.
constexpr double C001 = double(0.01f);             // 0.009999999776482582
constexpr double C00001 = double(0.0001f);         // 9.999999747378752e-05
constexpr double Pi = double(3.14159265358979f);   // 3.1415927410125732
constexpr double InvPi = double(0.318309886f);     // 0.31830987334251404
constexpr double C09 = double(0.9f);               // 0.8999999761581421: the low-pass keeps this much
constexpr double C01 = double(1.0f - 0.9f);        // 0.10000002384185791: and takes this much input
constexpr double Inv15 = double(1.0f / 15.0f);     // 0.06666667014360428

// Ins0_0: pulse width 0.5 (1 + 0.9 sin), time warped by 300 sin, the sine
// term 0.3 sin, each of the fifteen pulses +-0.7.
constexpr double PulseWidthDepth = 0.9, PulseWarpDepth = 300.0, PulseSineLevel = 0.3, PulseLevel = 0.7;
// Ins0_1: the width swings at 0.01 of the pitch.
constexpr double ArpeggioWidthRate = 0.01;
// Ins0_2: two warps of depth 100, fading by 1 + 0.002 T and 1 + 0.001 T.
constexpr double WarpDepth = 100.0, WarpFirstFade = 0.002, WarpSecondFade = 0.001;
// Ins0_3: each of the five squares +-2.
constexpr double SquareLevel = 2.0;

// Output scale and hyperbolic decay constant of the four filtered voices.
constexpr double PulseStackScale = 4.0, PulseStackDecay = 0.0001;
constexpr double ArpeggioScale = 1.5, ArpeggioDecay = 0.0005;
constexpr double WarpScale = 2.0, WarpDecay = 0.0005;
constexpr double SquaresScale = 0.5, SquaresDecay = 0.0005;

// The tone drum's memory: c = (a + state) x 0.5; its rates: the sweep
// f / (0.00001 n + 0.0000001) and the fall f - 0.01 n, the latter at 20 times the level.
constexpr double DrumKeep = 0.5;
constexpr double ToneSweepSlope = 0.00001, ToneSweepStart = 0.0000001, ToneFall = 0.01, ToneFallLevel = 20.0;
// Both drums: the envelope min(0.001 T, 1) x max(1 - 0.0001 T, 0).
constexpr double DrumAttack = 0.001, DrumDecay = 0.0001;

// The arpeggio steps its pitch every this many samples.
constexpr int ArpeggioStep = 1000;

// Drum pitch classes (note mod 12).
constexpr int ToneDrumClass = 3, NoiseDrumClass = 5;

}  // namespace voice
