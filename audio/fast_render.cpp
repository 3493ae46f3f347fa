// The export's renderer.
//
// An export never loops (it ends before a repeat), so its blocks are known
// in advance from the song alone: each lies inside one row, the first of a
// row triggers it, and they are cut where the engine cuts runs (at most
// RunFrames, at each tick where an effect acts). Each block of each channel
// goes through the engine's channel groups, as live playback does.
//
// Sections:
//   1. slots played, frame count, the export's play state
//   2. the block plan
//   3. two threads
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

// ---- 1. slots, frame count, play state -------------------------------------------------

int playedSlots() {
    int slots = 0;
    while (slots < OrderSlots && song.orders[slots] != OrderEmpty) ++slots;
    return slots;
}

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
    askCallbackForVoices();
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(500);
    while (engine.streamActive && !callbackHasLetGo() && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(1));
}

// Stopped, the voices taken, at the first row of slot 0.
static void startExportPlayState() {
    transport.playing = false;
    takeVoicesFromCallback();
    transport.currentRow = 0;
    transport.tick = 0;
    transport.tickFrame = 0;
    transport.orderPos = 0;
    transport.currentPattern = song.orders[0].load();
    // A note previewed just before the export sounds on into it, as it would have played on.
    takePreviews();
}

void endExportPlayState() {
    transport.playing = false;
    transport.currentPattern = 0;
    transport.currentRow = 0;
    transport.tick = 0;
    transport.tickFrame = 0;
    handVoicesBackToCallback();
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
        last = Block{row.slot,
                     row.pattern,
                     row.row,
                     int(std::min<int64_t>(RunFrames, cut)),
                     tick == 0 && frame == 0,
                     tick > 0 && frame == 0,
                     tick};
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
// The worker renders a fixed share of each block's channels, up to
// RingBlocks blocks ahead; the main thread renders the other channels, then
// mixes the block. A block's share goes to whichever thread claims it
// first: when the main thread is done with its own channels and the worker
// has not yet taken the block's share (it has lost its core on a crowded
// machine), the main thread renders the share itself. Shares are claimed in
// block order and each waits for the previous block's to be finished, so a
// channel's blocks are rendered in order whoever renders them.
//
// The worker's share: the two pulse stacks, the dearest voices by far
// (about a quarter of a busy song's render each); the main thread renders
// the six others, mixes and hands each block on. Every channel the worker
// renders also costs the main thread a read from the other core: a third
// channel on the worker made the benchmark slower.

static const int workerChannels[] = {0, 4};
static const int mainChannels[] = {1, 2, 3, 5, 6, 7};
static constexpr int WorkerCount = sizeof workerChannels / sizeof workerChannels[0];
static constexpr int MainCount = sizeof mainChannels / sizeof mainChannels[0];
static_assert(WorkerCount + MainCount == ChannelCount, "every channel rendered by one side");

// Blocks rendered ahead of the mix: the worker may run this many blocks
// ahead of the main thread's mixing; each needs its own slot.
static constexpr int RingBlocks = 4;
static constexpr size_t Stride = RunFrames + RunSlack;

// The words each thread writes on cache lines of their own: on some machines
// a line moving between the cores costs as much as a few hundred frames of
// one voice.
struct Shared {
    uint64_t blocks = 0;                            // in the whole export
    double* ring = nullptr;                         // RingBlocks x ChannelCount x Stride
    double* workerOut = nullptr;                    // ChannelCount x Stride: the worker renders here first
    alignas(64) std::atomic<uint64_t> mixed{0};     // blocks mixed: their ring slots are free again (main thread)
    std::atomic<bool> quit{false};                  // main thread
    alignas(64) std::atomic<uint64_t> claimed{0};   // blocks whose worker share a thread has taken
    alignas(64) std::atomic<uint64_t> finished{0};  // blocks whose worker share is rendered
};

// The ring slot of block k: each channel's values of that block.
static void ringSlot(const Shared& sh, uint64_t k, double** out) {
    for (int c = 0; c < ChannelCount; ++c)
        out[c] = sh.ring + (size_t(k % RingBlocks) * ChannelCount + size_t(c)) * Stride;
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

// Takes block k's worker share unless the other thread has, then waits
// until block k - 1's share is finished. False when taken already, or when
// the export ended meanwhile.
static bool claimShare(Shared& sh, uint64_t k) {
    uint64_t expected = k;
    if (!sh.claimed.compare_exchange_strong(expected, k + 1, std::memory_order_acq_rel)) return false;
    waitUntil(sh, [&] { return sh.finished.load(std::memory_order_acquire) == k; });
    return sh.finished.load(std::memory_order_acquire) == k;
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

static void workerLoop(Shared* sh, RenderScratch* scratch) {
    Plan plan;  // the worker's own walk through the blocks
    double* out[ChannelCount];
    double* ring[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c) out[c] = sh->workerOut + size_t(c) * Stride;
    for (;;) {
        const uint64_t k = sh->claimed.load(std::memory_order_acquire);
        if (k >= sh->blocks) return;
        // Its ring slot is free once block k - RingBlocks is mixed.
        waitUntil(*sh, [&] { return k < sh->mixed.load(std::memory_order_acquire) + RingBlocks; });
        if (sh->quit.load(std::memory_order_acquire)) return;
        if (!claimShare(*sh, k)) {
            if (sh->quit.load(std::memory_order_acquire)) return;
            continue;  // the main thread took it
        }
        Block b{};
        if (!plan.at(k, b)) return;
        renderChannels(workerChannels, WorkerCount, stretchOf(b), out, *scratch);
        ringSlot(*sh, k, ring);
        for (int c : workerChannels) handOver(ring[c], out[c], b.frames);
        sh->finished.store(k + 1, std::memory_order_release);
    }
}

// ---- 4. renderSong ------------------------------------------------------------------------

static constexpr uint64_t ProgressEvery = 44100;  // about one report per second of song

// The export's own buffers, untouched (no pages) until the first export.
static struct {
    alignas(64) double ring[size_t(RingBlocks) * ChannelCount * Stride];
    alignas(64) double workerOut[size_t(ChannelCount) * Stride];
    int16_t samples[RunFrames];
    double mean[RunFrames], absMean[RunFrames];
} buffers;

// Made at the first export and kept: a fresh megabyte of pages costs each
// export milliseconds of faults on some machines.
static RenderScratch& mainScratch() {
    static RenderScratch scratch(RunFrames);
    return scratch;
}

static std::thread startWorker(Shared& sh) {
    static RenderScratch workerScratch(RunFrames);
    if (renderThreads < 2 || sh.blocks <= 1) return std::thread();
    try {
        return std::thread(workerLoop, &sh, &workerScratch);
    } catch (...) {
        return std::thread();  // no second thread: the main thread renders every channel
    }
}

// Every channel of block b into its ring slot: the main thread's own, then
// the worker's share, rendered here when the worker has not taken it.
static void renderBlock(Shared& sh, bool twoThreads, uint64_t b, const Stretch& stretch, double* const* out) {
    static const int all[ChannelCount] = {0, 1, 2, 3, 4, 5, 6, 7};
    if (!twoThreads) {
        renderChannels(all, ChannelCount, stretch, out, mainScratch());
        return;
    }
    renderChannels(mainChannels, MainCount, stretch, out, mainScratch());
    if (claimShare(sh, b)) {
        renderChannels(workerChannels, WorkerCount, stretch, out, mainScratch());
        sh.finished.store(b + 1, std::memory_order_release);
    } else {
        waitUntil(sh, [&] { return sh.finished.load(std::memory_order_acquire) > b; });
    }
}

// Every channel counts, muted or not. Returns the sink's answer.
static bool mixBlock(const double* const* channels, int frames, SampleSink sink, void* context) {
    const RenderKernels& k = kernels();
    k.mixDown(channels, 0xFFu, frames, buffers.mean, buffers.absMean);
    k.quantise(buffers.mean, frames, buffers.samples);
    return sink(buffers.samples, channels, frames, context);
}

uint64_t renderSong(SampleSink sink, void* context) {
    startExportPlayState();
    Shared sh;
    Plan whole;  // walked to the end first: the number of blocks, where the song ends
    for (Block b; whole.at(sh.blocks, b);) ++sh.blocks;
    sh.ring = buffers.ring;
    sh.workerOut = buffers.workerOut;
    const uint64_t blocks = sh.blocks;
    const uint64_t total = exportFrameCount();
    std::thread worker = startWorker(sh);
    Plan plan;  // the main thread's own walk through the blocks

    uint64_t done = 0;
    for (uint64_t b = 0; b < blocks; ++b) {
        Block block{};
        plan.at(b, block);
        transport.orderPos = block.slot;
        transport.currentPattern = block.pattern;
        transport.currentRow = block.row;
        double* out[ChannelCount];
        ringSlot(sh, b, out);
        renderBlock(sh, worker.joinable(), b, stretchOf(block), out);
        const uint64_t before = done;
        done += uint64_t(block.frames);
        const bool more = mixBlock(out, block.frames, sink, context);
        sh.mixed.store(b + 1, std::memory_order_release);  // the sink has had the slot: free again
        if (!more) break;
        if (exportProgress && done / ProgressEvery != before / ProgressEvery) exportProgress(done, total);
    }
    sh.quit.store(true, std::memory_order_release);
    if (worker.joinable()) worker.join();

    // The slot play would go on at: the end marker's, a loop's, or slot 0
    // after a full order list or a jump out of it (no slot to stand on).
    transport.orderPos = whole.endSlot();
    endExportPlayState();
    return done;
}
