// One filename-prompt frame: the whole screen with every panel, the grey pass
// over all 640x480 pixels, the box and its texts. It must fit well inside the
// 16 ms frame it is paced to.
#include <benchmark/benchmark.h>

#include <SDL.h>

#include "song/song.h"
#include "tests/support/engine.h"
#include "tests/support/surfaces.h"
#include "ui/draw.h"
#include "ui/frame.h"
#include "ui/palette.h"
#include "ui/prompt.h"

static void BM_PromptFrame(benchmark::State& state) {
    initSong();
    restingScreen();
    fullPatternZero();  // the grid behind the box draws every glyph
    SDL_Surface* screen = newScreen();
    for (auto _ : state) {
        drawPromptFrame(screen, "ENTER FILENAME TO SAVE", "MY_SONG_01");
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(screen);
}
BENCHMARK(BM_PromptFrame)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
