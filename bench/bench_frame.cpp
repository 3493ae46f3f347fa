// One main-loop frame (fade step, background fill, every section, level meter)
// on an offscreen 640x480x32 surface. It must fit well inside the 16 ms pacing.
// Also the scale step that shows the frame N times larger (target at 2x: 0.5 ms).
#include <benchmark/benchmark.h>

#include <SDL.h>

#include <cmath>

#include "audio/sequencer.h"
#include "song/song.h"
#include "tests/support/engine.h"
#include "tests/support/surfaces.h"
#include "ui/draw.h"
#include "ui/frame.h"
#include "ui/palette.h"
#include "ui/panels.h"
#include "ui/scale_frame.h"
#include "ui/status.h"

static SDL_Surface* setUp(bool fullPattern) {
    initSong();
    restingScreen();
    statusText = "FILE \"MY_SONG_01\" SUCCESSFULLY SAVED";
    statusTimer = 300;
    engine.outputLevel = 0.4;
    if (fullPattern) {
        fullPatternZero();
        // A loud sine in every scope: long trace lines.
        for (int c = 0; c < ChannelCount; ++c)
            for (int i = 0; i < ScopeLength; ++i) song.channels[c].scope.samples[i] = std::sin(i * 0.3f + c);
    }
    return newScreen();
}

// One drawing of the screen per iteration; the screen is freed after.
static void timeDrawing(benchmark::State& state, SDL_Surface* screen, void (*draw)(SDL_Surface*)) {
    for (auto _ : state) {
        draw(screen);
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(screen);
}

static void BM_FrameFullPattern(benchmark::State& state) { timeDrawing(state, setUp(true), drawFrame); }
BENCHMARK(BM_FrameFullPattern)->Unit(benchmark::kMicrosecond);

static void BM_FrameEmptySongDuringFade(benchmark::State& state) {
    SDL_Surface* screen = setUp(false);
    fadeCounter = 150;  // the fade step recomputes the palette every frame
    timeDrawing(state, screen, drawFrame);
}
BENCHMARK(BM_FrameEmptySongDuringFade)->Unit(benchmark::kMicrosecond);

static void BM_PatternViewOnly(benchmark::State& state) { timeDrawing(state, setUp(true), drawPatternView); }
BENCHMARK(BM_PatternViewOnly)->Unit(benchmark::kMicrosecond);

// The step before the flip of a scaled window: the drawn frame into the
// window's surface, each pixel an NxN block (argument: N).
static void BM_ScaleStep(benchmark::State& state) {
    const int n = int(state.range(0));
    SDL_Surface* frame = setUp(true);
    drawFrame(frame);
    SDL_Surface* window = newScreen(640 * n, 480 * n);
    for (auto _ : state) {
        scaleFrame(frame, window, n, 0, 0);
        benchmark::DoNotOptimize(window->pixels);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * window->pitch * window->h);
    SDL_FreeSurface(window);
    SDL_FreeSurface(frame);
}
BENCHMARK(BM_ScaleStep)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
