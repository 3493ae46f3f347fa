// The voices' vector bodies, eight samples per step (AVX-512). Built with
// -mavx512f and used only when the processor has it.
#include <immintrin.h>

#include "audio/kernels.h"
#include "audio/voice_constants.h"

namespace {
typedef __m512d V;
constexpr int L = 8;
inline V vset(double x) { return _mm512_set1_pd(x); }
inline V vindex() { return _mm512_setr_pd(0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0); }
inline V vtrunc(V x) { return _mm512_maskz_roundscale_pd(0xFF, x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC); }
inline V vround(V x) { return _mm512_maskz_roundscale_pd(0xFF, x, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC); }
inline V vfloor(V x) { return _mm512_maskz_roundscale_pd(0xFF, x, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }
inline V vfma(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
inline V vfloat(V x) {
    return _mm512_maskz_cvtps_pd(0xFF, _mm512_maskz_cvtpd_ps(0xFF, x));
}  // masked forms: no "undefined" source lanes
inline V vload(const double* p) { return _mm512_loadu_pd(p); }
inline void vstore(double* p, V x) { _mm512_storeu_pd(p, x); }
inline void vstoreInt16(int16_t* p, V x) {
    const __m256i whole = _mm512_maskz_cvttpd_epi32(0xFF, x);  // within +-32767: no saturation needed
    const __m128i packed = _mm_packs_epi32(_mm256_castsi256_si128(whole), _mm256_extracti128_si256(whole, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), packed);
}
// The correctly rounded a / q from y = 1/q rounded: a x y is within an ulp
// of a / q, its residual a - q (a y) is exact in a fused multiply-add, and
// one correction by it rounds to the quotient itself (Markstein); a
// division costs several times more.
inline V vquotient(V a, double q, double y) {
    const V vq = _mm512_set1_pd(q), vy = _mm512_set1_pd(y);
    const V q0 = a * vy;
    return _mm512_fmadd_pd(_mm512_fnmadd_pd(vq, q0, a), vy, q0);
}
#define VORNA_VECTOR_SINE  // vsin is the kernels' own
#include "audio/fast_kernels.inc"
}  // namespace

const RenderKernels avx512Kernels = {inputPulseStack, inputArpeggio, inputWarp, inputSquares, shapeRun,
                                     toneDrum,        drumEnvelope,  clampGain, mixDown,      quantise,
                                     divideAll,       sineAll,       L};
