// Undo and recovery: the cost of one edit with its undo record (target 5 us),
// the memory 100,000 recorded steps take (budget 32 MB), and the frame time
// while recovery copies are written (target: p99 within 2 ms of the idle frame).
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "app/history.h"
#include "app/keys.h"
#include "app/main_loop.h"
#include "app/recovery.h"
#include "song/song.h"
#include "song/song_file.h"
#include "tests/support/engine.h"
#include "tests/support/files.h"
#include "tests/support/surfaces.h"
#include "ui/draw.h"
#include "ui/frame.h"
#include "ui/palette.h"

// A note typed through the key table: the full path of an edit, the step
// opened, the field written and recorded, the step closed.
static void BM_EditWithUndoRecord(benchmark::State& state) {
    initSong();
    resetHistory();
    mainLoop.heldKey = KeyRecord{};
    mainLoop.heldKey.symbol = SDLK_z;
    int n = 0;
    for (auto _ : state) {
        mainLoop.heldKey.scanCode = uint8_t(n % 2 ? 0x2C : 0x1F);  // Z and S in turn, so every key changes the cell
        transport.currentRow = n / 2 % 64;
        dispatchKey();
        ++n;
    }
    state.counters["steps_kept"] = double(historyUndoable());
}
BENCHMARK(BM_EditWithUndoRecord);

// The same edit without the key table: one recorded field change.
static void BM_RecordOneChange(benchmark::State& state) {
    initSong();
    resetHistory();
    uint32_t i = 0;
    for (auto _ : state) {
        beginStep(StepKind::Note);
        changeSongWord(cellOffset(i % 8, 0, i / 8 % 64, 0), int32_t(1 + i % 190));
        endStep();
        ++i;
    }
}
BENCHMARK(BM_RecordOneChange);

// Heap taken by 100,000 single-field steps, as the allocator counts it.
static void BM_MemoryOf100000Steps(benchmark::State& state) {
    for (auto _ : state) {
        initSong();
        resetHistory();
        malloc_trim(0);
        const size_t before = mallinfo2().uordblks;
        for (uint32_t i = 0; i < 100000; ++i) {
            beginStep(StepKind::Note);
            changeSongWord(cellOffset(i % 8, i / 512 % 64, i / 8 % 64, 0), int32_t(1 + i % 190));
            endStep();
        }
        const size_t after = mallinfo2().uordblks;
        state.counters["MB"] = double(after - before) / (1 << 20);
        state.counters["bytes_per_step"] = double(after - before) / 100000;
        state.counters["steps_kept"] = double(historyUndoable());
    }
}
BENCHMARK(BM_MemoryOf100000Steps)->Iterations(1)->Unit(benchmark::kMillisecond);

// What a recovery copy costs the main thread: the song image built from the cells.
static void BM_SongSnapshot(benchmark::State& state) {
    initSong();
    std::vector<uint8_t> image(SongImageSize);
    for (auto _ : state) {
        buildSongImage(image.data());
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(BM_SongSnapshot)->Unit(benchmark::kMicrosecond);

static double percentile(std::vector<double> v, double q) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
}

// One frame as the main loop makes it: a key's edit (when `editing`), the
// recovery tick, the whole frame drawn. Frames run back to back with a clock
// that advances 16 ms a frame, so copies are taken ten times as often as in
// the editor and the writer thread competes for the cores throughout.
static std::vector<double> frames(SDL_Surface* surface, bool editing, int count, uint32_t& clock) {
    std::vector<double> ms;
    for (int f = 0; f < count; ++f) {
        const auto t0 = std::chrono::steady_clock::now();
        if (editing) {
            beginStep(StepKind::Note);
            changeSongWord(cellOffset(f % 8, 0, f / 8 % 64, 0), 1 + f % 190);
            endStep();
        }
        clock += 16;
        recoveryTick(clock);
        drawFrame(surface);
        benchmark::ClobberMemory();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    return ms;
}

static void BM_FrameWhileRecoveryWrites(benchmark::State& state) {
    TempFolder folder("bench", true);
    if (folder.path().empty()) {
        state.SkipWithError("no scratch folder");
        return;
    }
    initSong();
    resetHistory();
    restingScreen();
    fullPatternZero(false);  // a busy pattern to draw, and a song that packs to a realistic size
    SDL_Surface* surface = newScreen();
    startRecovery();
    uint32_t clock = 0;
    std::vector<double> idle, writing;
    for (auto _ : state) {
        // Idle and writing frames interleaved in rounds, so a change in the
        // machine's load falls on both alike.
        for (int round = 0; round < 10; ++round) {
            const std::vector<double> a = frames(surface, false, 300, clock);
            const std::vector<double> b = frames(surface, true, 300, clock);
            idle.insert(idle.end(), a.begin(), a.end());
            writing.insert(writing.end(), b.begin(), b.end());
        }
    }
    finishRecovery();
    SDL_FreeSurface(surface);
    state.counters["idle_p50_ms"] = percentile(idle, 0.5);
    state.counters["idle_p99_ms"] = percentile(idle, 0.99);
    state.counters["writing_p50_ms"] = percentile(writing, 0.5);
    state.counters["writing_p99_ms"] = percentile(writing, 0.99);
    state.counters["p99_extra_ms"] = percentile(writing, 0.99) - percentile(idle, 0.99);
    state.counters["writing_max_ms"] = percentile(writing, 1.0);
}
BENCHMARK(BM_FrameWhileRecoveryWrites)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
