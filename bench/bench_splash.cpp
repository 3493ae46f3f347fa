// One splash frame: the black fill and 300x300 picture pixels moved, clipped
// and blended, in the wave phase and in the burst phase. It must fit well
// inside the 16 ms frame it is paced to.
#include <benchmark/benchmark.h>

#include <SDL.h>

#include "tests/support/surfaces.h"
#include "ui/splash.h"

static void splashFrame(benchmark::State& state, float c, int phase) {
    SDL_Surface* screen = newScreen(640, 480);
    SDL_Surface* picture = newScreen(300, 300);
    uint32_t* p = static_cast<uint32_t*>(picture->pixels);
    for (int i = 0; i < 300 * 300; ++i) p[i] = uint32_t(i) * 2654435761u & 0xFFFFFF;
    for (auto _ : state) {
        drawSplashFrame(screen, picture, c, phase);
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(picture);
    SDL_FreeSurface(screen);
}

static void BM_SplashWave(benchmark::State& state) { splashFrame(state, 197, 0); }
static void BM_SplashBurst(benchmark::State& state) { splashFrame(state, 250, 1); }
BENCHMARK(BM_SplashWave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplashBurst)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
