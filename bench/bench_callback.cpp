// The audio callback's worst blocks: many blocks of 64, 128 and 512 frames
// of a busy song while it plays (and of the same song with an effect on
// every channel of every row), each timed on its own, reported as p50 /
// p99 / p99.9 in microseconds and as a share of the block's playing time.
// Target: p99.9 at most 2 % of a 128-frame block (2.9 ms), about 58 us.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "tests/support/engine.h"

static double percentile(std::vector<double>& sorted, double q) {
    if (sorted.empty()) return 0.0;
    size_t i = size_t(q * double(sorted.size() - 1) + 0.5);
    return sorted[std::min(i, sorted.size() - 1)];
}

static double threadMicros() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) * 1e-3;
}

// Every iteration is one callback block, timed by itself twice: wall time
// (what the device waits for, including any preemption by other processes)
// and the thread's own CPU time (the callback's cost alone, which is what
// matters on a machine where the audio thread is not crowded out).
// The busy song, with an effect on every channel of every row when `effects`.
static void makeSong(bool effects) {
    busySong();
    if (effects) effectsEverywhere(2);
}

static void BM_CallbackBlock(benchmark::State& state) {
    const bool effects = state.range(1) != 0;
    makeSong(effects);
    transport.playing = true;
    const unsigned frames = unsigned(state.range(0));
    std::vector<double> block(frames);
    std::vector<double> wall, cpu;
    wall.reserve(size_t(state.max_iterations));
    cpu.reserve(size_t(state.max_iterations));
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        const double c0 = threadMicros();
        const auto t0 = Clock::now();
        fillBlock(block.data(), frames);
        const auto t1 = Clock::now();
        const double c1 = threadMicros();
        benchmark::DoNotOptimize(block[0]);
        const double us = std::chrono::duration<double, std::micro>(t1 - t0).count();
        state.SetIterationTime(us * 1e-6);
        wall.push_back(us);
        cpu.push_back(c1 - c0);
    }
    transport.playing = false;
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    state.counters["wall_p50_us"] = percentile(wall, 0.50);
    state.counters["wall_p99_us"] = percentile(wall, 0.99);
    state.counters["wall_p999_us"] = percentile(wall, 0.999);
    state.counters["cpu_p50_us"] = percentile(cpu, 0.50);
    state.counters["cpu_p99_us"] = percentile(cpu, 0.99);
    state.counters["cpu_p999_us"] = percentile(cpu, 0.999);
    // The share of the block's playing time that the p99.9 block takes, in percent.
    const double blockMicros = frames * 1e6 / SampleRate;
    state.counters["cpu_p999_pct"] = percentile(cpu, 0.999) / blockMicros * 100.0;
    state.counters["wall_p999_pct"] = percentile(wall, 0.999) / blockMicros * 100.0;

    // The same blocks again from the same start, four times over, keeping each
    // block's least CPU time: what the code itself costs, without the time
    // other processes on a crowded machine take from the core (caches, the
    // other hyperthread).
    std::vector<double> least(cpu.size(), 1e30);
    for (int pass = 0; pass < 4; ++pass) {
        makeSong(effects);
        transport.playing = true;
        for (double& t : least) {
            const double c0 = threadMicros();
            fillBlock(block.data(), frames);
            t = std::min(t, threadMicros() - c0);
        }
    }
    transport.playing = false;
    std::sort(least.begin(), least.end());
    state.counters["quiet_p50_us"] = percentile(least, 0.50);
    state.counters["quiet_p999_us"] = percentile(least, 0.999);
    state.counters["quiet_p999_pct"] = percentile(least, 0.999) / blockMicros * 100.0;
}
// 20000 blocks = 29 to 232 s of song: every row of the loop many times over.
// Second argument: 1 with effects.
BENCHMARK(BM_CallbackBlock)
    ->Args({64, 0})
    ->Args({128, 0})
    ->Args({512, 0})
    ->Args({128, 1})
    ->UseManualTime()
    ->Iterations(20000)
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
