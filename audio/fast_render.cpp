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

static Stretch stretchOf(const Block& b) {
    Stretch s;
    s.frames = b.frames;
    s.rowStart = b.rowStart;
    s.pattern = b.pattern;
    s.row = b.row;
    return s;
}

// ---- 3. two threads ------------------------------------------------------------------------
//
// Both threads work through the blocks in order, each rendering its share
// of a block's channels together (their memories side by side). The shares
// follow the cost of each voice measured while the export runs: the dearest
// channel first, each to the thread with less so far, the main thread's
// share counting its mixing and writing too. No order of the voices is
// assumed; until the first costs are in, the channels alternate. The main
// thread settles each block's shares before the worker may start it, so
// both see the same. When the main thread has done its share of the block
// it must mix next and the worker has not started some of its own (it has
// lost its core on a crowded machine), the main thread takes them over. A
// channel's blocks are rendered in order: a thread waits for the channel's
// previous block, which the other thread is then about to finish.

// Blocks rendered ahead of the mix: the worker may run this many blocks
// ahead of the main thread's mixing; each needs its own slot.
static constexpr int RingBlocks = 4;
static constexpr size_t Stride = RunFrames + RunSlack;

struct Shared {
    Plan plan;
    double* ring = nullptr;                              // RingBlocks x ChannelCount x Stride
    std::atomic<uint32_t> workerShare[RingBlocks] = {}; // bit c: the worker renders channel c of the slot's block
    std::atomic<uint64_t> claimed[ChannelCount] = {};   // blocks of each channel a thread has taken
    std::atomic<uint64_t> finished[ChannelCount] = {};  // blocks of each channel rendered
    std::atomic<uint64_t> mixed{0};                     // blocks the main thread has mixed
    std::atomic<bool> quit{false};
    // Nanoseconds per 1000 frames, smoothed: each voice's rendering, kept by
    // whichever thread renders it; the main thread's mixing and writing, and
    // the worker's share in force, kept by the main thread alone.
    std::atomic<uint32_t> cost[ChannelCount] = {};
    uint32_t mixCost = 0;
    uint32_t share = 0;
};

static double* blockChannel(const Shared& sh, uint64_t k, int c) {
    return sh.ring + (size_t(k % RingBlocks) * ChannelCount + size_t(c)) * Stride;
}

// Short spins, then yields, then short sleeps: the other thread is normally
// only microseconds away, but on a crowded machine it may have lost its core,
// and a waiter that keeps spinning only keeps it from getting one back.
template <class Ready>
static void waitUntil(const Shared& sh, Ready ready) {
    for (int spins = 0; !ready() && !sh.quit.load(std::memory_order_acquire); ++spins) {
        if (spins < 200)
            __builtin_ia32_pause();
        else if (spins < 300)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
}

// A smoothed cost: the first measurement as it is, then an eighth of each
// new one, a measurement far above the estimate (the thread lost its core
// meanwhile) counting as twice the estimate.
static uint32_t smoothed(uint32_t old, double nanoseconds, int frames) {
    double sample = nanoseconds * 1000.0 / frames;
    if (old == 0) return uint32_t(std::min(sample, 4e9));
    sample = std::min(sample, 2.0 * old);
    return uint32_t(old - old / 8 + sample / 8);
}

// Shares by cost: each channel, dearest first, to the thread with less so
// far. A new share replaces the one in force only when it shortens the
// longer of the two by a tenth: every change of hands costs a wait.
static void settleShare(Shared& sh) {
    uint32_t cost[ChannelCount];
    int order[ChannelCount];
    bool measured = true;
    for (int c = 0; c < ChannelCount; ++c) {
        cost[c] = sh.cost[c].load(std::memory_order_relaxed), order[c] = c;
        measured = measured && cost[c] > 0;
    }
    if (!measured) {
        sh.share = 0xAAu;  // odd channels to the worker until every voice has been timed
        return;
    }
    auto longer = [&](uint32_t share) {
        uint64_t load[2] = {sh.mixCost, 0};
        for (int c = 0; c < ChannelCount; ++c) load[share >> c & 1u] += cost[c];
        return std::max(load[0], load[1]);
    };
    // Dearest first, equal costs in channel order (eight: an insertion sort, nothing allocated).
    for (int i = 1; i < ChannelCount; ++i)
        for (int j = i; j > 0 && cost[order[j]] > cost[order[j - 1]]; --j) std::swap(order[j], order[j - 1]);
    uint64_t load[2] = {sh.mixCost, 0};
    uint32_t share = 0;
    for (int c : order) {
        const int to = load[0] <= load[1] ? 0 : 1;
        load[to] += cost[c];
        if (to == 1) share |= 1u << c;
    }
    if (longer(share) * 10 < longer(sh.share) * 9) sh.share = share;
}

// Takes channel c's block k, unless another thread has.
static bool claim(Shared& sh, int c, uint64_t k) {
    uint64_t expected = k;
    return sh.claimed[c].compare_exchange_strong(expected, k + 1, std::memory_order_acq_rel);
}

// Renders the channels in `wanted` of block k that this thread can take,
// together. `wait`: a channel whose previous block is not yet taken or done
// is waited for (the thread's own share); otherwise it is left to its owner
// (taking over). Returns whether any was rendered.
static bool renderBlock(Shared& sh, uint32_t wanted, bool wait, uint64_t k, RenderScratch& scratch) {
    using Clock = std::chrono::steady_clock;
    const Block b = sh.plan.at(k);
    const Stretch stretch = stretchOf(b);
    double* out[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c) out[c] = blockChannel(sh, k, c);
    ChannelGroup group(stretch, out, scratch);
    uint32_t taken = 0;
    for (int c = 0; c < ChannelCount; ++c) {
        if (!(wanted >> c & 1u)) continue;
        if (wait) {
            waitUntil(sh, [&] { return sh.claimed[c].load(std::memory_order_acquire) >= k; });
            if (!claim(sh, c, k)) continue;  // taken over meanwhile
            waitUntil(sh, [&] { return sh.finished[c].load(std::memory_order_acquire) == k; });
        } else if (sh.finished[c].load(std::memory_order_acquire) != k || !claim(sh, c, k)) {
            continue;
        }
        const auto t0 = Clock::now();
        group.add(c);
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
        sh.cost[c].store(smoothed(sh.cost[c].load(std::memory_order_relaxed), ns, b.frames), std::memory_order_relaxed);
        taken |= 1u << c;
    }
    group.finish();
    for (int c = 0; c < ChannelCount; ++c)
        if (taken >> c & 1u) sh.finished[c].store(k + 1, std::memory_order_release);
    return taken != 0;
}

static void workerLoop(Shared* sh) {
    RenderScratch scratch(RunFrames);
    const uint64_t blocks = sh->plan.blocks();
    for (uint64_t k = 0; k < blocks; ++k) {
        // Its slot is free, and its share settled, once block k - RingBlocks is mixed.
        waitUntil(*sh, [&] { return k < sh->mixed.load(std::memory_order_acquire) + RingBlocks; });
        if (sh->quit.load(std::memory_order_acquire)) return;
        renderBlock(*sh, sh->workerShare[k % RingBlocks].load(std::memory_order_relaxed), true, k, scratch);
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
    settleShare(sh);
    for (int slot = 0; slot < RingBlocks; ++slot) sh.workerShare[slot].store(sh.share, std::memory_order_relaxed);
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
            const uint32_t theirs = sh.workerShare[b % RingBlocks].load(std::memory_order_relaxed);
            renderBlock(sh, ~theirs & 0xFFu, true, b, scratch);
            // What the worker has not started yet, as soon as it may be started.
            while (renderBlock(sh, theirs, false, b, scratch)) {
            }
            for (int c = 0; c < ChannelCount; ++c)
                waitUntil(sh, [&] { return sh.finished[c].load(std::memory_order_acquire) > b; });
        } else {
            double* out[ChannelCount];
            for (int c = 0; c < ChannelCount; ++c) out[c] = blockChannel(sh, b, c);
            renderChannels(all, ChannelCount, stretchOf(block), out, scratch);
        }
        // Every channel counts, muted or not.
        const auto mixStart = std::chrono::steady_clock::now();
        for (int c = 0; c < ChannelCount; ++c) channelOut[c] = blockChannel(sh, b, c);
        k.mixDown(channelOut, 0xFFu, block.frames, mean.data(), absMean.data());
        k.quantise(mean.data(), block.frames, samples.data());
        const uint64_t before = done;
        done += uint64_t(block.frames);
        const bool more = sink(samples.data(), channelOut, block.frames, context);
        sh.mixCost = smoothed(
            sh.mixCost, std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - mixStart).count(),
            block.frames);
        // The slot is free again (the sink has had it): the shares of the block it takes next.
        settleShare(sh);
        sh.workerShare[b % RingBlocks].store(sh.share, std::memory_order_relaxed);
        sh.mixed.store(b + 1, std::memory_order_release);
        if (!more) break;
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
