#pragma once
// The vector bodies of the voices and the mix: whole runs of samples at once,
// one lane per sample. Each lane depends only on its own sample index and the
// run's fixed values, so a run cut anywhere gives the same samples.
#include <cstdint>

// Longest stretch the engine renders in one go; every buffer a kernel writes
// holds this plus a slack for its last whole vectors (four vectors of eight).
constexpr int RunFrames = 2048;
constexpr int RunSlack = 64;

struct RenderKernels {
    // Filter input of Ins0_0 / Ins0_1 (constant pitch) / Ins0_2 / Ins0_3 for samples n0 .. n0+len-1.
    void (*pulseStack)(double f, int64_t n0, int len, double* in);
    void (*arpeggio)(double f, int64_t n0, int len, double* in);
    void (*warp)(double f, int64_t n0, int len, double* in);
    void (*squares)(double f, int64_t n0, int len, double* in);
    // A filtered voice's value: scale x float32(mem) x 1 / (1 + decay T).
    void (*shape)(double scale, double decay, int64_t n0, int len, const double* mem, double* out);
    // The tone drum's h + 20 b.
    void (*toneDrum)(double f, int64_t n0, int len, double* a);
    // A drum's value: c x min(0.001 T, 1) x max(1 - 0.0001 T, 0).
    void (*drumEnvelope)(int64_t n0, int len, const double* c, double* out);
    // The channel step after the voice: clamp to [-1, 1] (NaN to 0), times the gain.
    void (*clampGain)(const double* in, int len, double gain, double* out);
    // Per frame, the float32 sums over the channels in `mask` in order 0..7:
    // mean = sum / 8, absMean = sum of |v| / 8. Writes exactly `frames` values.
    void (*mixDown)(const double* const* channels, unsigned mask, int frames, double* mean, double* absMean);
    // The 16-bit sample of a mean: trunc(mean x 32767.5), clipped to +-32767.
    void (*quantise)(const double* mean, int frames, int16_t* out);
    // a[i] / q for i < len (rounded up to whole vectors), as the kernels divide.
    void (*divide)(const double* a, double q, int len, double* out);
    // sin(a[i]) for i < len (rounded up to whole vectors), as the kernels take it.
    void (*sine)(const double* a, int len, double* out);
    int lanes;
};

extern const RenderKernels scalarKernels;  // audio/fast_kernels_scalar.cpp: the plain C library sine
extern const RenderKernels avx2Kernels;    // audio/fast_kernels_avx2.cpp
extern const RenderKernels avx512Kernels;  // audio/fast_kernels_avx512.cpp

// The widest set this processor runs, up to `maxLanes` samples per step (8,
// 4, or 1 for the scalar set).
const RenderKernels& widestKernels(int maxLanes);  // audio/fast_kernels.cpp
// Whether this processor has the fused multiply-add (the voices' memories use it then).
bool processorHasFma();  // audio/fast_kernels.cpp

// The set every render uses, playback and export alike, so that both give the
// same samples: widestKernels(maxLanes). Set it only while nothing renders.
void useKernels(int maxLanes);  // audio/fast_kernels.cpp
const RenderKernels& kernels();
