#pragma once
// The export's block renderer: each channel renders a whole run of frames
// between two row triggers at once, with the sample loops vectorised, and
// the eight channels of a block are shared out over two threads. Produces
// what renderChannel gives frame by frame (only the sine's last bits and
// the drums' noise may differ) and leaves voices, gains and scopes as it
// would.
#include <cstdint>

// Vector bodies for one instruction set; `lanes` samples per step.
struct RenderKernels {
    // Filter input of Ins0_0 / Ins0_1 (constant pitch) / Ins0_2 / Ins0_3 for samples n0 .. n0+len-1.
    void (*pulseStack)(double f, int64_t n0, int len, double* in);
    void (*arpeggio)(double f, int64_t n0, int len, double* in);
    void (*warp)(double f, int64_t n0, int len, double* in);
    void (*squares)(double f, int64_t n0, int len, double* in);
    // out = clamp(scale x state x 1 / (1 + decay T)) x gain.
    void (*finish)(double scale, double decay, int64_t n0, int len, const double* state, double gain,
                   double* out);
    // The tone drum's h + 20 b.
    void (*toneDrum)(double f, int64_t n0, int len, double* a);
    // A drum's raw values times its envelope, clamped, times the gain.
    void (*drumFinish)(int64_t n0, int len, const double* c, double gain, double* out);
    // a[i] / q for i < len (rounded up to whole vectors), as the kernels divide.
    void (*divide)(const double* a, double q, int len, double* out);
    // float32 sum over channels 0..7 in order, then the 16-bit sample.
    void (*mix)(const double* const* channels, int frames, int16_t* out);
    int lanes;
};

extern const RenderKernels scalarKernels;  // audio/fast_kernels_scalar.cpp: the plain C library sine
extern const RenderKernels avx2Kernels;    // audio/fast_kernels_avx2.cpp
extern const RenderKernels avx512Kernels;  // audio/fast_kernels_avx512.cpp

// The widest set this processor runs, up to renderMaxLanes samples per step.
const RenderKernels& chosenKernels();
extern int renderMaxLanes;     // audio/fast_render.cpp: 8 (default), 4, or 1 = scalar kernels (tests)
extern int renderThreads;      // audio/fast_render.cpp: 1 or 2 (default: 2 when the machine has two cores)

// Longest run one channel renders at once; buffers hold this plus a vector's slack.
constexpr int RunFrames = 2048;
constexpr int RunSlack = 64;  // four vectors of eight

// Receives the export in order, a block at a time: mix[i] is the 16-bit sample
// of frame i and channels[c][i] channel c's value as it enters the mix (after
// clamp and gain). False stops the render.
using SampleSink = bool (*)(const int16_t* mix, const double* const* channels, int count, void* context);

// Renders the song from order slot 0 to the end marker, with the export's
// play state reset and restore, handing each block to sink and reporting to
// exportProgress from this thread. Returns the frames delivered.
uint64_t renderSong(SampleSink sink, void* context);
