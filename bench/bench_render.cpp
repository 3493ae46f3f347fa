// Offline render speed: the per-frame reference (each voice's nextSample for
// each channel of each frame, as the export once ran) against the engine's
// export on two threads and on one, on the same busy eight-channel song,
// all into memory; and the engine on that song with an effect on every
// channel of every row.
//
//   bench_render                               the benchmarks
//   bench_render --write-largest-song NAME     writes NAME.vorna: 64 slots at
//       speed 15 (61,440,000 frames, 23 minutes), busy on all eight channels,
//       for timing `vorna-render NAME` with /usr/bin/time -v
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/export.h"
#include "audio/fast_render.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "song/song_file.h"
#include "tests/support/engine.h"
#include "tests/support/reference_render.h"

// Two busy patterns at speed 3: 384,000 frames, 8.7 s of song.
static void benchSong() {
    resetEngine();
    seedNoise(1);
    busyPatterns(2);
    song.orders[0] = 0;
    song.orders[1] = 1;
    song.orders[2] = OrderEmpty;
}

// The benchmark song with an effect on every channel of every row (runs cut at every tick).
static void benchSongWithEffects() {
    benchSong();
    effectsEverywhere(2);
}

// The per-frame reference: the whole song, every frame through nextSample.
static uint64_t renderStraight(std::vector<int16_t>& out) {
    out = reference::renderExport();
    return out.size();
}

static bool collect(const int16_t* s, const double* const*, int n, void* ctx) {
    auto& out = *static_cast<std::vector<int16_t>*>(ctx);
    out.insert(out.end(), s, s + n);
    return true;
}

static uint64_t renderFast(std::vector<int16_t>& out) {
    out.clear();
    return renderSong(collect, &out);
}

static void report(benchmark::State& state, uint64_t framesPerIteration) {
    double frames = double(framesPerIteration) * double(state.iterations());
    state.counters["frames_per_s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["x_realtime"] = benchmark::Counter(frames / SampleRate, benchmark::Counter::kIsRate);
}

// The benchmark song rendered into memory once per iteration, on `threads`
// render threads (0: as many as the export takes).
static void timeRender(benchmark::State& state, uint64_t (*render)(std::vector<int16_t>&), int threads = 0,
                       void (*makeSong)() = benchSong) {
    makeSong();
    std::vector<int16_t> out;
    out.reserve(exportFrameCount());
    uint64_t frames = 0;
    const int usual = renderThreads;
    if (threads) renderThreads = threads;
    for (auto _ : state) frames = render(out);
    renderThreads = usual;
    report(state, frames);
}

static void BM_RenderStraight(benchmark::State& state) { timeRender(state, renderStraight); }
BENCHMARK(BM_RenderStraight)->Unit(benchmark::kMillisecond)->UseRealTime();

static void BM_RenderBlocks(benchmark::State& state) { timeRender(state, renderFast); }
BENCHMARK(BM_RenderBlocks)->Unit(benchmark::kMillisecond)->UseRealTime();

// The block renderer on the calling thread alone: what one core does.
static void BM_RenderBlocksOneThread(benchmark::State& state) { timeRender(state, renderFast, 1); }
BENCHMARK(BM_RenderBlocksOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// The engine with an effect on every channel of every row, on two threads and on one.
static void BM_RenderBlocksEffects(benchmark::State& state) { timeRender(state, renderFast, 0, benchSongWithEffects); }
BENCHMARK(BM_RenderBlocksEffects)->Unit(benchmark::kMillisecond)->UseRealTime();
static void BM_RenderBlocksEffectsOneThread(benchmark::State& state) {
    timeRender(state, renderFast, 1, benchSongWithEffects);
}
BENCHMARK(BM_RenderBlocksEffectsOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reference and the engine in each iteration, timed on the wall clock:
// the speed-up with two threads, and on one thread (the fair figure when
// other work shares the cores).
static void BM_RenderSpeedup(benchmark::State& state) {
    benchSong();
    std::vector<int16_t> out;
    out.reserve(exportFrameCount());
    double straight = 0, blocks = 0, oneThread = 0;
    uint64_t frames = 0;
    const int threads = renderThreads;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        auto t0 = Clock::now();
        frames = renderStraight(out);
        auto t1 = Clock::now();
        renderFast(out);
        auto t2 = Clock::now();
        renderThreads = 1;
        renderFast(out);
        renderThreads = threads;
        auto t3 = Clock::now();
        straight += std::chrono::duration<double>(t1 - t0).count();
        blocks += std::chrono::duration<double>(t2 - t1).count();
        oneThread += std::chrono::duration<double>(t3 - t2).count();
    }
    const double n = double(state.iterations()), seconds = double(frames) / SampleRate;
    state.counters["straight_x_realtime"] = seconds / (straight / n);
    state.counters["blocks_x_realtime"] = seconds / (blocks / n);
    state.counters["one_thread_x_realtime"] = seconds / (oneThread / n);
    state.counters["speedup"] = straight / blocks;
    state.counters["speedup_one_thread"] = straight / oneThread;
}
BENCHMARK(BM_RenderSpeedup)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

// The largest song the file format allows, busy throughout.
static int writeLargestSong(const char* name) {
    initSong();
    busyPatterns(PatternCount);
    song.speed = 15;
    for (int s = 0; s < OrderSlots; ++s) song.orders[s] = s;  // no end marker: all 64 slots play
    if (!saveSong(name)) {
        std::fprintf(stderr, "bench_render: cannot write %s.vorna\n", name);
        return 1;
    }
    std::printf("%s.vorna: %llu frames\n", name, static_cast<unsigned long long>(exportFrameCount()));
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-largest-song") == 0) return writeLargestSong(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
