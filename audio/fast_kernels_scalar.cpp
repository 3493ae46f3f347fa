// The voices' vector bodies with one sample per step and the C library's
// sine: for processors without vector units, and as the exact twin of the
// per-sample voices.
#include <cmath>

#include "audio/kernels.h"
#include "audio/voice_constants.h"

namespace {
typedef double V;
constexpr int L = 1;
inline V vset(double x) { return x; }
inline V vindex() { return 0.0; }
inline V vtrunc(V x) { return std::trunc(x); }
inline V vsin(V x) { return std::sin(x); }
inline V vfloat(V x) { return double(float(x)); }
inline V vload(const double* p) { return *p; }
inline void vstore(double* p, V x) { *p = x; }
inline void vstoreInt16(int16_t* p, V x) { *p = int16_t(x); }
inline V vquotient(V a, double q, double) { return a / q; }
#include "audio/fast_kernels.inc"
}  // namespace

const RenderKernels scalarKernels = {inputPulseStack, inputArpeggio, inputWarp, inputSquares, shapeRun,
                                     toneDrum,        drumEnvelope,  clampGain, mixDown,      quantise,
                                     divideAll,       sineAll,       L};
