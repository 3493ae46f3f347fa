// Audio engine speed: how many times real time a busy song renders (live mix
// and WAV export), and what one 512-frame block of the audio callback costs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"

// Every channel plays: a note every second row, a volume on the others; the
// two drum channels alternate the tone drum (pitch class 3) and the noise
// drum (pitch class 5), so all five voice kinds run on every frame.
static void busySong() {
    initSong();
    seedNoise(1);
    song.orders[1] = 1;
    for (int p = 0; p < 2; ++p)
        for (int r = 0; r < RowsPerPattern; ++r)
            for (int c = 0; c < ChannelCount; ++c) {
                Cell& cell = cellAt(c, p, r);
                if (r % 2 == 0) {
                    int drum = (r / 2 + c) % 2 ? 3 : 5;
                    cell.note = c >= 6 ? 12 * (2 + c - 6) + drum : 24 + (r * 5 + c * 7) % 48;
                } else {
                    cell.volume = 16 + (r * 3 + c) % 65;
                }
            }
    tick = 0;
    tickFrame = 0;
    playing = true;
}

// Live playback of one second of song per iteration, in 128-frame blocks.
static void BM_LiveMix(benchmark::State& state) {
    busySong();
    double block[128];
    for (auto _ : state)
        for (int done = 0; done < SampleRate; done += 128) {
            fillBlock(block, unsigned(std::min(128, SampleRate - done)));
            benchmark::DoNotOptimize(block[0]);
        }
    state.counters["x_realtime"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    playing = false;
}
BENCHMARK(BM_LiveMix)->Unit(benchmark::kMillisecond);

// One block as the audio callback fills it during playback.
static void BM_FillBlock512(benchmark::State& state) {
    busySong();
    double block[512];
    for (auto _ : state) {
        fillBlock(block, 512);
        benchmark::DoNotOptimize(block[0]);
    }
    // The block plays for 512 / 44100 s = 11.6 ms: the share of that budget one block takes.
    state.counters["budget_share"] = benchmark::Counter(double(state.iterations()) * 512.0 / SampleRate,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    playing = false;
}
BENCHMARK(BM_FillBlock512)->Unit(benchmark::kMicrosecond);

// A whole export of two busy patterns at speed 3 (8.7 s of song) to a file.
static void BM_ExportWav(benchmark::State& state) {
    char tmpl[] = "/tmp/vorna-bench-XXXXXX";
    if (!mkdtemp(tmpl)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    std::string file = std::string(tmpl) + "/bench.wav";
    busySong();
    const double seconds = double(exportFrameCount()) / SampleRate;
    for (auto _ : state) {
        if (!exportWav(file)) state.SkipWithError("export failed");
    }
    state.counters["x_realtime"] =
        benchmark::Counter(seconds * double(state.iterations()), benchmark::Counter::kIsRate);
    std::remove(file.c_str());
    rmdir(tmpl);
}
BENCHMARK(BM_ExportWav)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
