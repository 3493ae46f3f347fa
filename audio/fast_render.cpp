// The export's renderer.
//
// An export never loops, so its blocks are known in advance: each lies
// inside one row and the first of a row triggers it. Each block of each
// channel goes through the engine's channel groups, as live playback does.
//
// Sections:
//   1. frame count, the hand-over from the callback
//   2. the block plan
//   3. sharing the channels between two threads
//   4. renderSong
#include "audio/fast_render.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "audio/sequencer.h"
#include "song/song.h"

ExportProgress exportProgress = nullptr;
int renderThreads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;

// ---- 1. frame count, hand-over ------------------------------------------------------

uint64_t exportFrameCount() {
    uint64_t slots = 0;
    while (slots < OrderSlots && song.orders[slots] != OrderEmpty) ++slots;
    int32_t speed = song.speed;
    // A row ends when the tick reaches or passes speed: at least one tick.
    uint64_t ticksPerRow = speed < 1 ? 1 : uint64_t(speed);
    return slots * RowsPerPattern * ticksPerRow * FramesPerTick;
}

// Silences the callback and waits (bounded) until it has let go of the
// voices, so no voice is ever rendered by two threads at once. A stream
// that never calls back delays the export, never hangs it.
static void takeVoicesFromCallback() {
    exportSeen = false;
    exporting = true;
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(500);
    while (streamActive && !exportSeen.value.load(std::memory_order_acquire) && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(1));
}

// ---- 2. the block plan ------------------------------------------------------------------

struct Block {
    int32_t slot, pattern, row;
    int frames;
    bool rowStart;
};

struct Plan {
    int slots = 0;
    int rowFrames = 0;
    int blocksPerRow = 1;
    uint64_t blocks() const { return uint64_t(slots) * RowsPerPattern * uint64_t(blocksPerRow); }
    Block at(uint64_t k) const {
        const uint64_t rowIndex = k / uint64_t(blocksPerRow);
        const int within = int(k % uint64_t(blocksPerRow));
        Block b;
        b.slot = int32_t(rowIndex / RowsPerPattern);
        b.row = int32_t(rowIndex % RowsPerPattern);
        b.pattern = song.orders[b.slot].load();
        b.frames = std::min(RunFrames, rowFrames - within * RunFrames);
        b.rowStart = within == 0;
        return b;
    }
};

// ---- 3. two threads ------------------------------------------------------------------------
//
// Both threads work through the blocks in order. In each block a thread
// takes one free channel at a time, the dearest first by the cost measured
// so far, and works out its voice's inputs; when no channel is left it runs
// the memories of all it took side by side and finishes them. So the threads
// share the work as it comes, whatever the voices cost, and a thread that is
// held up (the main thread mixes and writes too) simply takes fewer. A
// channel's blocks are rendered in order: a block waits for the channel's
// previous one, which the other thread is always about to finish.

// Blocks rendered ahead of the mix: the main thread mixes block k while the
// worker renders block k + 1; the slot of k - 1 is free again.
static constexpr int RingBlocks = 3;
static constexpr int WorkerLead = 2;  // the worker stays within this many blocks of the mix
static constexpr size_t Stride = RunFrames + RunSlack;

struct Shared {
    Plan plan;
    double* ring = nullptr;                              // RingBlocks x ChannelCount x Stride
    std::atomic<uint64_t> claimed[ChannelCount] = {};   // blocks of each channel a thread has taken
    std::atomic<uint64_t> finished[ChannelCount] = {};  // blocks of each channel rendered
    std::atomic<uint32_t> cost[ChannelCount] = {};      // nanoseconds per 1000 frames of the voice's inputs, smoothed
    std::atomic<uint64_t> mixed{0};                     // blocks the main thread has mixed
    std::atomic<bool> quit{false};
};

static double* blockChannel(const Shared& sh, uint64_t k, int c) {
    return sh.ring + (size_t(k % RingBlocks) * ChannelCount + size_t(c)) * Stride;
}

// Short spins, then yield: the other thread is normally only microseconds away.
template <class Ready>
static void waitUntil(const Shared& sh, Ready ready) {
    for (int spins = 0; !ready() && !sh.quit.load(std::memory_order_acquire); ++spins) {
        if (spins < 200)
            __builtin_ia32_pause();
        else
            std::this_thread::yield();
    }
}

// The channels, dearest first.
static void byCost(const Shared& sh, int* order) {
    uint32_t cost[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c) cost[c] = sh.cost[c].load(std::memory_order_relaxed), order[c] = c;
    std::stable_sort(order, order + ChannelCount, [&](int a, int b) { return cost[a] > cost[b]; });
}

// Takes channel c's block k, unless another thread has.
static bool claim(Shared& sh, int c, uint64_t k) {
    uint64_t expected = k;
    return sh.claimed[c].compare_exchange_strong(expected, k + 1, std::memory_order_acq_rel);
}

// The next free channel of block k, by cost, preferring one whose previous
// block is done; -1 when every channel of the block is taken.
static int claimNext(Shared& sh, const int* order, uint64_t k) {
    for (int pass = 0; pass < 2; ++pass)
        for (int i = 0; i < ChannelCount; ++i) {
            const int c = order[i];
            if (sh.claimed[c].load(std::memory_order_acquire) != k) continue;
            if (pass == 0 && sh.finished[c].load(std::memory_order_acquire) != k) continue;
            if (claim(sh, c, k)) return c;
        }
    return -1;
}

// This thread's part of block k.
static void renderBlock(Shared& sh, uint64_t k, RenderScratch& scratch) {
    using Clock = std::chrono::steady_clock;
    const Block b = sh.plan.at(k);
    Stretch stretch;
    stretch.frames = b.frames;
    stretch.rowStart = b.rowStart;
    stretch.pattern = b.pattern;
    stretch.row = b.row;
    double* out[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c) out[c] = blockChannel(sh, k, c);
    int order[ChannelCount];
    byCost(sh, order);

    ChannelGroup group(stretch, out, scratch);
    int mine[ChannelCount];
    int count = 0;
    for (int c; (c = claimNext(sh, order, k)) >= 0;) {
        waitUntil(sh, [&] { return sh.finished[c].load(std::memory_order_acquire) == k; });
        const auto t0 = Clock::now();
        group.add(c);
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
        const uint32_t sample = uint32_t(std::min(ns * 1000.0 / b.frames, 4e9));
        const uint32_t old = sh.cost[c].load(std::memory_order_relaxed);
        sh.cost[c].store(old == 0 ? sample : (old / 8) * 7 + sample / 8, std::memory_order_relaxed);
        mine[count++] = c;
    }
    group.finish();
    for (int i = 0; i < count; ++i) sh.finished[mine[i]].store(k + 1, std::memory_order_release);
}

static void workerLoop(Shared* sh) {
    RenderScratch scratch(RunFrames);
    const uint64_t blocks = sh->plan.blocks();
    for (uint64_t k = 0; k < blocks; ++k) {
        waitUntil(*sh, [&] { return k < sh->mixed.load(std::memory_order_acquire) + WorkerLead; });
        if (sh->quit.load(std::memory_order_acquire)) return;
        renderBlock(*sh, k, scratch);
    }
}

// ---- 4. renderSong ------------------------------------------------------------------------

static constexpr uint64_t ProgressEvery = 44100;  // about one report per second of song

uint64_t renderSong(SampleSink sink, void* context) {
    playing = false;
    takeVoicesFromCallback();
    currentRow = 0;
    tick = 0;
    tickFrame = 0;
    orderPos = 0;
    currentPattern = song.orders[0].load();
    // A note previewed just before the export sounds on into it, as it would have played on.
    takePreviews();

    Shared sh;
    while (sh.plan.slots < OrderSlots && song.orders[sh.plan.slots] != OrderEmpty) ++sh.plan.slots;
    const int32_t speed = song.speed;
    sh.plan.rowFrames = (speed < 1 ? 1 : speed) * FramesPerTick;
    sh.plan.blocksPerRow = (sh.plan.rowFrames + RunFrames - 1) / RunFrames;
    const uint64_t blocks = sh.plan.blocks();
    const uint64_t total = exportFrameCount();
    std::vector<double> ring(size_t(RingBlocks) * ChannelCount * Stride, 0.0);
    sh.ring = ring.data();

    // Channels sharing a voice (a damaged slot) must stay in one thread's group.
    std::thread worker;
    if (renderThreads >= 2 && channelsHaveOwnVoices() && blocks > 1) {
        try {
            worker = std::thread(workerLoop, &sh);
        } catch (...) {
            // No second thread: the main thread renders every channel.
        }
    }

    RenderScratch scratch(RunFrames);
    std::vector<int16_t> samples(RunFrames);
    std::vector<double> mean(RunFrames), absMean(RunFrames);
    const RenderKernels& k = kernels();
    const double* channelOut[ChannelCount];
    const int all[ChannelCount] = {0, 1, 2, 3, 4, 5, 6, 7};
    uint64_t done = 0;
    for (uint64_t b = 0; b < blocks; ++b) {
        const Block block = sh.plan.at(b);
        orderPos = block.slot;
        currentPattern = block.pattern;
        currentRow = block.row;
        if (worker.joinable()) {
            renderBlock(sh, b, scratch);
            for (int c = 0; c < ChannelCount; ++c)
                waitUntil(sh, [&] { return sh.finished[c].load(std::memory_order_acquire) > b; });
        } else {
            Stretch stretch;
            stretch.frames = block.frames;
            stretch.rowStart = block.rowStart;
            stretch.pattern = block.pattern;
            stretch.row = block.row;
            double* out[ChannelCount];
            for (int c = 0; c < ChannelCount; ++c) out[c] = blockChannel(sh, b, c);
            renderChannels(all, ChannelCount, stretch, out, scratch);
        }
        // Every channel counts, muted or not.
        for (int c = 0; c < ChannelCount; ++c) channelOut[c] = blockChannel(sh, b, c);
        k.mixDown(channelOut, 0xFFu, block.frames, mean.data(), absMean.data());
        k.quantise(mean.data(), block.frames, samples.data());
        sh.mixed.store(b + 1, std::memory_order_release);
        const uint64_t before = done;
        done += uint64_t(block.frames);
        if (!sink(samples.data(), channelOut, block.frames, context)) break;
        if (exportProgress && done / ProgressEvery != before / ProgressEvery) exportProgress(done, total);
    }
    sh.quit.store(true, std::memory_order_release);
    if (worker.joinable()) worker.join();

    // The end marker's slot, or slot 0 after a full order list (no marker to stand on).
    orderPos = sh.plan.slots < OrderSlots ? sh.plan.slots : 0;
    playing = false;
    currentPattern = 0;
    currentRow = 0;
    tick = 0;
    tickFrame = 0;
    exporting.value.store(false, std::memory_order_release);  // hands the voices back to the callback
    return done;
}
