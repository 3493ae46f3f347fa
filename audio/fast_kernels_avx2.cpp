// The voices' vector bodies, four samples per step (AVX2). Built with
// -mavx2 -mfma and used only when the processor has both.
#include <immintrin.h>

#include "audio/kernels.h"
#include "audio/voice_constants.h"

namespace {
typedef __m256d V;
constexpr int L = 4;
inline V vset(double x) { return _mm256_set1_pd(x); }
inline V vindex() { return _mm256_setr_pd(0.0, 1.0, 2.0, 3.0); }
inline V vtrunc(V x) { return _mm256_round_pd(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
inline V vround(V x) { return _mm256_round_pd(x, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC); }
inline V vfloor(V x) { return _mm256_floor_pd(x); }
inline V vfma(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
inline V vfloat(V x) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(x)); }
inline V vload(const double* p) { return _mm256_loadu_pd(p); }
inline void vstore(double* p, V x) { _mm256_storeu_pd(p, x); }
inline void vstoreInt16(int16_t* p, V x) {
    const __m128i whole = _mm256_cvttpd_epi32(x);  // within +-32767: no saturation needed
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packs_epi32(whole, whole));
}
// The correctly rounded a / q from y = 1/q rounded: a x y is within an ulp
// of a / q, its residual a - q (a y) is exact in a fused multiply-add, and
// one correction by it rounds to the quotient itself (Markstein); a
// division costs several times more.
inline V vquotient(V a, double q, double y) {
    const V vq = _mm256_set1_pd(q), vy = _mm256_set1_pd(y);
    const V q0 = a * vy;
    return _mm256_fmadd_pd(_mm256_fnmadd_pd(vq, q0, a), vy, q0);
}
#define VORNA_VECTOR_SINE  // vsin is the kernels' own
#include "audio/fast_kernels.inc"
}  // namespace

const RenderKernels avx2Kernels = {inputPulseStack, inputArpeggio, inputWarp, inputSquares, shapeRun,
                                   toneDrum,        drumEnvelope,  clampGain, mixDown,      quantise,
                                   divideAll,       sineAll,       L};
