// One filename-prompt frame: the whole screen with every panel, the grey pass
// over all 640x480 pixels, the box and its texts. It must fit well inside the
// 16 ms frame it is paced to.
#include <benchmark/benchmark.h>

#include <SDL.h>

#include "song/song.h"
#include "ui/draw.h"
#include "ui/frame.h"
#include "ui/palette.h"
#include "ui/prompt.h"

static void BM_PromptFrame(benchmark::State& state) {
    initSong();
    buildTextTables();
    setPalette(60, 70, 80);
    fadeCounter = 300;
    // A full pattern, so the grid behind the box draws every glyph.
    for (int c = 0; c < ChannelCount; ++c)
        for (int r = 0; r < RowsPerPattern; ++r) {
            cellAt(c, 0, r).note = 1 + (r * 7 + c) % 96;
            cellAt(c, 0, r).volume = 16 + r % 64;
            cellAt(c, 0, r).effect = 1 + r % 15;
            cellAt(c, 0, r).effectParam = r * 4;
        }
    SDL_Surface* screen = SDL_CreateRGBSurface(SDL_SWSURFACE, 640, 480, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    for (auto _ : state) {
        drawPromptFrame(screen, "ENTER FILENAME TO SAVE", "MY_SONG_01");
        benchmark::DoNotOptimize(screen->pixels);
        benchmark::ClobberMemory();
    }
    SDL_FreeSurface(screen);
}
BENCHMARK(BM_PromptFrame)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
