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

// Output scale and hyperbolic decay constant of the four filtered voices.
constexpr double PulseStackScale = 4.0, PulseStackDecay = 0.0001;
constexpr double ArpeggioScale = 1.5, ArpeggioDecay = 0.0005;
constexpr double WarpScale = 2.0, WarpDecay = 0.0005;
constexpr double SquaresScale = 0.5, SquaresDecay = 0.0005;

// The tone drum's memory: c = (a + state) x 0.5.
constexpr double DrumKeep = 0.5;

// The arpeggio steps its pitch every this many samples.
constexpr int ArpeggioStep = 1000;

// Drum pitch classes (note mod 12).
constexpr int ToneDrumClass = 3, NoiseDrumClass = 5;

}  // namespace voice
