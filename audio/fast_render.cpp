// The export's renderer.
//
// An export never loops (it ends before a repeat), so its blocks are known
// in advance from the song alone: each lies inside one row, the first of a
// row triggers it, and they are cut where the engine cuts runs (at most
// RunFrames, at each tick where an effect acts). Each block of each channel
// goes through the engine's channel groups, as live playback does.
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
#include <cstring>
#include <thread>

#include "audio/sequencer.h"
#include "song/song.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

ExportProgress exportProgress = nullptr;
int renderThreads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;

// ---- 1. frame count, hand-over ------------------------------------------------------

// A row ends when the tick reaches or passes its speed: at least one tick.
static int64_t rowFrames(const PlayedRow& row) { return (row.speed < 1 ? 1 : int64_t(row.speed)) * FramesPerTick; }

uint64_t exportFrameCount() {
    SongWalk walk;
    PlayedRow row;
    uint64_t frames = 0;
    while (walk.next(row)) frames += uint64_t(rowFrames(row));
    return frames;
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
    bool rowStart, tickStart;
    int32_t tick;
};

// The blocks in order, walked by each thread on its own.
class Plan {
public:
    // Block k, for k no lower than the last asked for; false past the end.
    bool at(uint64_t k, Block& b) {
        while (made <= k) {
            if (!step()) return false;
            ++made;
        }
        b = last;
        return true;
    }
    // After the end: the slot play would go on at.
    int32_t endSlot() const { return walk.endSlot(); }

private:
    SongWalk walk;
    PlayedRow row{};
    bool inRow = false;
    int32_t tick = 0, frame = 0;  // where the next block begins in the row
    uint64_t made = 0;
    Block last{};

    bool step() {
        if (!inRow) {
            if (!walk.next(row)) return false;
            inRow = true;
            tick = 0;
            frame = 0;
        }
        const int64_t cut = framesToCut(row.pattern, row.row, row.speed, tick, frame);
        last = Block{row.slot, row.pattern, row.row, int(std::min<int64_t>(RunFrames, cut)),
                     tick == 0 && frame == 0, tick > 0 && frame == 0, tick};
        frame += last.frames;
        tick += frame / FramesPerTick;
        frame %= FramesPerTick;
        if (int64_t(tick) * FramesPerTick >= rowFrames(row)) inRow = false;
        return true;
    }
};

static Stretch stretchOf(const Block& b) {
    Stretch s;
    s.frames = b.frames;
    s.rowStart = b.rowStart;
    s.tickStart = b.tickStart;
    s.tick = b.tick;
    s.pattern = b.pattern;
    s.row = b.row;
    return s;
}

// ---- 3. two threads ------------------------------------------------------------------------
//
// Both threads work through the blocks in order, each rendering its share
// of a block's channels together (their memories side by side). The main
// thread settles each block's shares before the worker may start it, so
// both see the same. A channel's blocks are rendered in order: a thread
// waits for the channel's previous block, which the other thread is then
// about to finish. When the main thread has done its share of the block it
// must mix next and the worker has not started some of its own (it has lost
// its core on a crowded machine), the main thread takes them over.
//
// The shares follow costs measured while the export runs by the thread that
// renders each channel: its inputs, and an equal part of its group's
// memories and values. Each channel the worker renders costs the main
// thread's mix a read from the other core: the mix's cost is measured by the
// number of them. Every way of splitting the eight channels is weighed
// against these figures, the main thread's mixing and writing counted on its
// side; no order of the voices is assumed. Of the splits nearly as short as
// the shortest, the one moving fewest channels wins, and a share is kept
// until another shortens the longer side by a tenth, since every change of
// hands costs a wait.

// Blocks rendered ahead of the mix: the worker may run this many blocks
// ahead of the main thread's mixing; each needs its own slot.
static constexpr int RingBlocks = 4;
static constexpr size_t Stride = RunFrames + RunSlack;
enum Side { MainThread = 0, WorkerThread = 1 };

// Each group of words is written by one thread (or, for the per-channel
// counters, by the one that holds the channel), on its own cache line: on
// some machines a line moving between the cores costs as much as a few
// hundred frames of one voice.
struct Shared {
    uint64_t blocks = 0;
    Plan plan[2];  // each side's
    double* ring = nullptr;  // RingBlocks x ChannelCount x Stride
    double* workerOut = nullptr;  // ChannelCount x Stride: the worker renders here first
    // Written by the main thread.
    alignas(64) std::atomic<uint32_t> workerShare[RingBlocks] = {};  // bit c: the worker renders channel c of the slot's block
    std::atomic<uint64_t> mixed{0};                                  // blocks the main thread has mixed
    std::atomic<bool> quit{false};
    alignas(64) std::atomic<uint64_t> claimed[ChannelCount] = {};   // blocks of each channel a thread has taken
    alignas(64) std::atomic<uint64_t> finished[ChannelCount] = {};  // blocks of each channel rendered
    // Nanoseconds per 1000 frames, smoothed, as each side measured them (0: not yet).
    struct alignas(64) Costs {
        std::atomic<uint32_t> of[ChannelCount] = {};
    } cost[2];
    uint32_t mixCost[ChannelCount + 1] = {};  // the main thread's mixing and writing, by the worker's channel count; its own
    uint32_t share = 0;    // the worker's share in force, kept by the main thread
};

static double* blockChannel(const Shared& sh, uint64_t k, int c) {
    return sh.ring + (size_t(k % RingBlocks) * ChannelCount + size_t(c)) * Stride;
}

// Spins while the other thread is normally only a block or so away; then
// short sleeps: on a crowded machine it may have lost its core, and a waiter
// that keeps spinning only keeps it from getting one back.
template <class Ready>
static void waitUntil(const Shared& sh, Ready ready) {
    using Clock = std::chrono::steady_clock;
    if (ready()) return;
    const auto spinUntil = Clock::now() + std::chrono::microseconds(200);
    bool spinning = true;
    for (int spins = 1; !ready() && !sh.quit.load(std::memory_order_acquire); ++spins) {
        if (spinning && spins % 64 == 0) spinning = Clock::now() < spinUntil;
        if (spinning)
            __builtin_ia32_pause();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(50));
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

// Each channel's cost as the thread rendering it under the share in force
// measured it last (the other thread's figure is older, from its first cold
// blocks perhaps), or the other's if that one has none. False until every
// channel has been measured somewhere.
static bool estimateCosts(const Shared& sh, double (&cost)[ChannelCount]) {
    for (int c = 0; c < ChannelCount; ++c) {
        const int owner = sh.share >> c & 1u ? WorkerThread : MainThread;
        uint32_t seen = sh.cost[owner].of[c].load(std::memory_order_relaxed);
        if (seen == 0) seen = sh.cost[1 - owner].of[c].load(std::memory_order_relaxed);
        if (seen == 0) return false;
        cost[c] = seen;
    }
    return true;
}

// The main thread's mixing and writing for n channels from the worker: a
// line through the points measured so far (least squares, rising or flat).
static double mixFor(const Shared& sh, int n) {
    double count = 0, sumN = 0, sumC = 0, sumNN = 0, sumNC = 0;
    for (int m = 0; m <= ChannelCount; ++m) {
        const double cost = sh.mixCost[m];
        if (cost == 0) continue;
        count += 1, sumN += m, sumC += cost, sumNN += m * m, sumNC += m * cost;
    }
    if (count == 0) return 0.0;
    const double spread = count * sumNN - sumN * sumN;
    const double slope = spread > 0 ? std::max(0.0, (count * sumNC - sumN * sumC) / spread) : 0.0;
    return (sumC - slope * sumN) / count + slope * n;
}

// Among all 256 splits, those whose longer side is within a twentieth of
// the shortest; of these the one with the fewest channels on the worker
// (each must travel to the other core), then the shortest. Subset sums
// built one channel at a time, nothing allocated.
static void settleShare(Shared& sh) {
    double cost[ChannelCount];
    if (!estimateCosts(sh, cost)) {
        sh.share = 0xAAu;  // half the channels each until every one has been timed
        return;
    }
    constexpr uint32_t All = (1u << ChannelCount) - 1;
    double onWorker[All + 1], mix[ChannelCount + 1];  // the same channels cost the same on either side
    onWorker[0] = 0.0;
    for (uint32_t s = 1; s <= All; ++s) {
        const int c = __builtin_ctz(s);
        onWorker[s] = onWorker[s & (s - 1)] + cost[c];
    }
    for (int n = 0; n <= ChannelCount; ++n) mix[n] = mixFor(sh, n);
    auto longer = [&](uint32_t s) { return std::max(onWorker[s], mix[__builtin_popcount(s)] + onWorker[All & ~s]); };
    double shortest = longer(0);
    for (uint32_t s = 1; s <= All; ++s) shortest = std::min(shortest, longer(s));
    uint32_t best = All;
    for (uint32_t s = 0; s <= All; ++s) {
        if (longer(s) > 1.05 * shortest) continue;
        const int fewer = __builtin_popcount(s) - __builtin_popcount(best);
        if (fewer < 0 || (fewer == 0 && longer(s) < longer(best))) best = s;
    }
    const double now = longer(sh.share);
    if (longer(best) < 0.9 * now ||
        (__builtin_popcount(best) < __builtin_popcount(sh.share) && longer(best) <= now))
        sh.share = best;
}

// Takes channel c's block k, unless another thread has.
static bool claim(Shared& sh, int c, uint64_t k) {
    uint64_t expected = k;
    return sh.claimed[c].compare_exchange_strong(expected, k + 1, std::memory_order_acq_rel);
}

// The worker's values reach the main thread's mix through memory: streaming
// stores, which do not first fetch each line from the main thread's cache,
// where its last mix of the slot left it. Fenced before the block is
// published as finished.
static void handOver(double* to, const double* from, int frames) {
#if defined(__SSE2__)
    for (int i = 0; i < frames; i += 2) _mm_stream_pd(to + i, _mm_load_pd(from + i));
    _mm_sfence();
#else
    std::memcpy(to, from, size_t(frames) * sizeof(double));
#endif
}

// Renders the channels in `wanted` of block k that this thread can take,
// together. `wait`: a channel whose previous block is not yet taken or done
// is waited for (the thread's own share); otherwise it is left to its owner
// (taking over). Returns the channels rendered.
static uint32_t renderBlock(Shared& sh, Side side, uint32_t wanted, bool wait, uint64_t k, RenderScratch& scratch) {
    using Clock = std::chrono::steady_clock;
    Block b{};
    if (!sh.plan[side].at(k, b)) return 0;
    const Stretch stretch = stretchOf(b);
    double* out[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c)
        out[c] = side == WorkerThread ? sh.workerOut + size_t(c) * Stride : blockChannel(sh, k, c);
    ChannelGroup group(stretch, out, scratch);
    uint32_t taken = 0;
    int count = 0;
    double inputs[ChannelCount];
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
        inputs[c] = std::chrono::duration<double, std::nano>(Clock::now() - t0).count();
        taken |= 1u << c;
        ++count;
    }
    if (!taken) return 0;
    const auto t0 = Clock::now();
    group.finish();
    if (side == WorkerThread)
        for (int c = 0; c < ChannelCount; ++c)
            if (taken >> c & 1u) handOver(blockChannel(sh, k, c), out[c], b.frames);
    const double shareOfRest = std::chrono::duration<double, std::nano>(Clock::now() - t0).count() / count;
    std::atomic<uint32_t>* cost = sh.cost[side].of;
    for (int c = 0; c < ChannelCount; ++c)
        if (taken >> c & 1u)
            cost[c].store(smoothed(cost[c].load(std::memory_order_relaxed), inputs[c] + shareOfRest, b.frames),
                          std::memory_order_relaxed);
    for (int c = 0; c < ChannelCount; ++c)
        if (taken >> c & 1u) sh.finished[c].store(k + 1, std::memory_order_release);
    return taken;
}

static void workerLoop(Shared* sh, RenderScratch* scratch) {
    for (uint64_t k = 0; k < sh->blocks; ++k) {
        // Its slot is free, and its share settled, once block k - RingBlocks is mixed.
        waitUntil(*sh, [&] { return k < sh->mixed.load(std::memory_order_acquire) + RingBlocks; });
        if (sh->quit.load(std::memory_order_acquire)) return;
        renderBlock(*sh, WorkerThread, sh->workerShare[k % RingBlocks].load(std::memory_order_relaxed), true, k,
                    *scratch);
    }
}

// ---- 4. renderSong ------------------------------------------------------------------------

static constexpr uint64_t ProgressEvery = 44100;  // about one report per second of song
static constexpr uint64_t SettleEvery = 8;

// The export's own buffers, untouched (no pages) until the first export.
static struct {
    alignas(64) double ring[size_t(RingBlocks) * ChannelCount * Stride];
    alignas(64) double workerOut[size_t(ChannelCount) * Stride];
    int16_t samples[RunFrames];
    double mean[RunFrames], absMean[RunFrames];
} buffers;

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
    Plan whole;  // walked to the end first: the number of blocks, where the song ends
    for (Block b; whole.at(sh.blocks, b);) ++sh.blocks;
    const uint64_t blocks = sh.blocks;
    const uint64_t total = exportFrameCount();
    // Made at the first export and kept: a fresh megabyte of pages costs
    // each export milliseconds of faults on some machines.
    static RenderScratch scratch(RunFrames), workerScratch(RunFrames);
    sh.ring = buffers.ring;
    sh.workerOut = buffers.workerOut;

    // Channels sharing a voice (a damaged slot) must stay in one thread's group.
    std::thread worker;
    settleShare(sh);
    for (int slot = 0; slot < RingBlocks; ++slot) sh.workerShare[slot].store(sh.share, std::memory_order_relaxed);
    if (renderThreads >= 2 && channelsHaveOwnVoices() && blocks > 1) {
        try {
            worker = std::thread(workerLoop, &sh, &workerScratch);
        } catch (...) {
            // No second thread: the main thread renders every channel.
        }
    }

    int16_t* samples = buffers.samples;
    double *mean = buffers.mean, *absMean = buffers.absMean;
    const RenderKernels& k = kernels();
    const double* channelOut[ChannelCount];
    const int all[ChannelCount] = {0, 1, 2, 3, 4, 5, 6, 7};
    uint64_t done = 0;
    for (uint64_t b = 0; b < blocks; ++b) {
        Block block{};
        sh.plan[MainThread].at(b, block);
        orderPos = block.slot;
        currentPattern = block.pattern;
        currentRow = block.row;
        uint32_t rendered = 0;  // by the worker
        if (worker.joinable()) {
            const uint32_t theirs = sh.workerShare[b % RingBlocks].load(std::memory_order_relaxed);
            uint32_t mine = renderBlock(sh, MainThread, ~theirs & 0xFFu, true, b, scratch);
            // What the worker has not started yet, as soon as it may be started.
            while (const uint32_t taken = renderBlock(sh, MainThread, theirs & ~mine, false, b, scratch)) mine |= taken;
            rendered = 0xFFu & ~mine;
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
        k.mixDown(channelOut, 0xFFu, block.frames, mean, absMean);
        k.quantise(mean, block.frames, samples);
        const uint64_t before = done;
        done += uint64_t(block.frames);
        const bool more = sink(samples, channelOut, block.frames, context);
        uint32_t& mixCost = sh.mixCost[__builtin_popcount(rendered)];
        mixCost = smoothed(
            mixCost, std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - mixStart).count(),
            block.frames);
        // The slot is free again (the sink has had it): the shares of the block it takes next,
        // weighed anew every few blocks, as often as the smoothed costs move by much; weighing
        // takes microseconds, and the main thread's time is the export's.
        if (b % SettleEvery == 0) settleShare(sh);
        sh.workerShare[b % RingBlocks].store(sh.share, std::memory_order_relaxed);
        sh.mixed.store(b + 1, std::memory_order_release);
        if (!more) break;
        if (exportProgress && done / ProgressEvery != before / ProgressEvery) exportProgress(done, total);
    }
    sh.quit.store(true, std::memory_order_release);
    if (worker.joinable()) worker.join();

    // The slot play would go on at: the end marker's, a loop's, or slot 0
    // after a full order list or a jump out of it (no slot to stand on).
    orderPos = whole.endSlot();
    playing = false;
    currentPattern = 0;
    currentRow = 0;
    tick = 0;
    tickFrame = 0;
    exporting.value.store(false, std::memory_order_release);  // hands the voices back to the callback
    return done;
}
