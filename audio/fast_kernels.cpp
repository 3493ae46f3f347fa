// Which kernel set renders: the widest one this processor runs.
#include "audio/kernels.h"

#include "song/relaxed.h"

// Read before main() too (the voices' memories ask for the fused
// multiply-add while the statics are made): the features are read first.
bool processorHasFma() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("fma");
}

static bool processorHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

static bool processorHasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
}

const RenderKernels& widestKernels(int maxLanes) {
    if (maxLanes >= 8 && processorHasAvx512()) return avx512Kernels;
    if (maxLanes >= 4 && processorHasAvx2()) return avx2Kernels;
    return scalarKernels;
}

static Relaxed<const RenderKernels*> activeKernels{&widestKernels(8)};  // read by the audio thread

void useKernels(int maxLanes) { activeKernels = &widestKernels(maxLanes); }
const RenderKernels& kernels() { return *activeKernels.load(); }
