#pragma once
// The numbers of the voices, shared by the per-sample voices and the vector
// kernels so both compute the same formulas. Grouped by sound, as the
// kernels are named: pulse stack (Ins0_0), arpeggio (Ins0_1), warp (Ins0_2),
// squares (Ins0_3), the tone and noise drums (Ins_Drum). Values written
// double(...f) are single-precision numbers widened to double, used exactly
// so; their decimal value is beside them.

namespace voice {

constexpr double R = 44100.0;  // samples per second; pitch values are angular rates per R

// Note n sounds at LowestPitch x 2^(n / 12); n mod 12 is its pitch class.
constexpr double LowestPitch = 27.5;
constexpr int SemitonesPerOctave = 12;

// A pulse's phase at time T for rate r: frac((T / (R / r) + Pi) x InvPi), so
// one period lasts pi R / r samples and starts half a turn in.
constexpr double Pi = double(3.14159265358979f);  // 3.1415927410125732
constexpr double InvPi = double(0.318309886f);    // 0.31830987334251404
// A pulse is high while its phase is above its width; widths swing around half a period.
constexpr double WidthCentre = 0.5;

// The one-pole low-pass of the four filtered voices: state = keep x state + take x input.
constexpr double LowPassKeep = double(0.9f);         // 0.8999999761581421
constexpr double LowPassTake = double(1.0f - 0.9f);  // 0.10000002384185791

// The stacked voices sound at k = 0.5, 1, 2, 4, 8 times the pitch.
constexpr double OctaveLowest = 0.5, OctaveHighest = 8.0;
constexpr int StackOctaves = 5;

// Pulse stack: in each octave three pulses detuned by (1 + PulseDetune i),
// i = -1, 0, +1, each at half the octave's rate and +-PulseLevel; a width
// swinging by PulseWidthDepth at PulseWidthRate of the pitch; time warped by
// PulseWarpDepth x sin at PulseWarpRate of the pitch, read by a sine of
// level PulseSineLevel added with every pulse; the sum brought back to one
// pulse's range.
constexpr double PulseDetune = double(0.01f);  // 0.009999999776482582
constexpr int PulseDetunes = 3;
constexpr int StackPulses = StackOctaves * PulseDetunes;
constexpr double PulseRateRatio = 0.5;
constexpr double PulseWidthRate = double(0.0001f);  // 9.999999747378752e-05
constexpr double PulseWarpRate = 0.5;
constexpr double PulseWidthDepth = 0.9, PulseWarpDepth = 300.0, PulseSineLevel = 0.3, PulseLevel = 0.7;
constexpr double PulseStackAverage = double(1.0f / 15.0f);  // 0.06666667014360428: 1 / StackPulses
// Arpeggio: the width swings at ArpeggioWidthRate of the pitch, full depth.
constexpr double ArpeggioWidthRate = 0.01;
// Warp: a sine read through time warped at 8, then 4 times the pitch, both
// of depth 100, fading by 1 + 0.002 T and 1 + 0.001 T.
constexpr double WarpFirstRate = 8.0, WarpSecondRate = 4.0;
constexpr double WarpDepth = 100.0, WarpFirstFade = 0.002, WarpSecondFade = 0.001;
// Squares: one per octave, high half the period, each +-2.
constexpr double SquareWidth = 0.5;
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
// The noise drum's values: NoiseBits-bit whole numbers, scaled to [-0.5, 0.5).
constexpr int NoiseBits = 15;
constexpr double NoiseCentre = 0.5;

// The arpeggio steps its pitch every ArpeggioStep samples: up an octave,
// up another, then back down the two, and round again.
constexpr int ArpeggioStep = 1000;
constexpr int ArpeggioSteps = 3;
constexpr float ArpeggioUp = 2.0f, ArpeggioBack = 0.25f;

// Drum pitch classes (note mod 12).
constexpr int ToneDrumClass = 3, NoiseDrumClass = 5;

}  // namespace voice
