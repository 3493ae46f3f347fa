// Audio engine speed: how many times real time a busy song renders (live mix
// and WAV export), and what one 512-frame block of the audio callback costs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "tests/support/engine.h"
#include "tests/support/files.h"

// Live playback of one second of song per iteration, in 128-frame blocks.
static void BM_LiveMix(benchmark::State& state) {
    busySong();
    transport.playing = true;
    double block[128];
    for (auto _ : state)
        for (int done = 0; done < SampleRate; done += 128) {
            fillBlock(block, unsigned(std::min(128, SampleRate - done)));
            benchmark::DoNotOptimize(block[0]);
        }
    state.counters["x_realtime"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    transport.playing = false;
}
BENCHMARK(BM_LiveMix)->Unit(benchmark::kMillisecond);

// One block as the audio callback fills it during playback.
static void BM_FillBlock512(benchmark::State& state) {
    busySong();
    transport.playing = true;
    double block[512];
    for (auto _ : state) {
        fillBlock(block, 512);
        benchmark::DoNotOptimize(block[0]);
    }
    // The block plays for 512 / 44100 s = 11.6 ms: the share of that budget one block takes.
    state.counters["budget_share"] = benchmark::Counter(double(state.iterations()) * 512.0 / SampleRate,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    transport.playing = false;
}
BENCHMARK(BM_FillBlock512)->Unit(benchmark::kMicrosecond);

// A whole export of two busy patterns at speed 3 (8.7 s of song) to a file.
static void BM_ExportWav(benchmark::State& state) {
    TempFolder folder("bench");
    if (folder.path().empty()) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string file = folder.path() + "/bench.wav";
    busySong();
    transport.playing = true;  // as the editor exports: from a playing song
    const double seconds = double(exportFrameCount()) / SampleRate;
    for (auto _ : state) {
        if (!exportWav(file)) state.SkipWithError("export failed");
    }
    state.counters["x_realtime"] =
        benchmark::Counter(seconds * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ExportWav)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
