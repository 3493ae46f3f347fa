// The export's block renderer.
//
// An export cannot change the song while it runs and never loops, so every
// row trigger is known in advance: between two triggers each channel's voice
// runs on with fixed pitch and gain, and a whole run of its samples can be
// computed at once. Per run: the part of each sample that depends only on
// the sample index goes through the vector kernels; the voice's one
// recurrence (the one-pole filter, or the drum's memory) runs serially
// afterwards; envelope, clamp and gain are vectorised again.
//
// Sections:
//   1. kernel choice, voice kinds
//   2. one channel's run
//   3. the block plan and the two threads
//   4. renderSong
#include "audio/fast_render.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iterator>
#include <thread>
#include <typeinfo>
#include <vector>

#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"

int renderMaxLanes = 8;
int renderThreads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;

// ---- 1. kernels, voice kinds -----------------------------------------------------

const RenderKernels& chosenKernels() {
    __builtin_cpu_init();
    if (renderMaxLanes >= 8 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq"))
        return avx512Kernels;
    if (renderMaxLanes >= 4 && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return avx2Kernels;
    return scalarKernels;
}

enum class Kind { PulseStack, Arpeggio, Warp, Squares, Drum, Unknown };

static Kind kindOf(const Instrument* v) {
    const std::type_info& t = typeid(*v);
    if (t == typeid(Ins0_0)) return Kind::PulseStack;
    if (t == typeid(Ins0_1)) return Kind::Arpeggio;
    if (t == typeid(Ins0_2)) return Kind::Warp;
    if (t == typeid(Ins0_3)) return Kind::Squares;
    if (t == typeid(Ins_Drum)) return Kind::Drum;
    return Kind::Unknown;
}

// The filter constants of the voices, as single-precision values.
static constexpr double C09 = double(0.9f);
static constexpr double C01 = double(1.0f - 0.9f);

// ---- 2. one channel's run -------------------------------------------------------

// Per-thread buffers: filter inputs and states of the channels waiting for
// the joint filter pass, and one pair for a channel rendered on its own.
struct Scratch {
    std::vector<double> in[ChannelCount], state[ChannelCount];
    std::vector<double> ownIn, ownState;
    Scratch() : ownIn(RunFrames + RunSlack), ownState(RunFrames + RunSlack) {
        for (int c = 0; c < ChannelCount; ++c) in[c].resize(RunFrames + RunSlack), state[c].resize(RunFrames + RunSlack);
    }
};

// Exactly renderChannel's sample step, for what the kernels do not cover
// (a voice whose index is about to overflow, a voice of unknown kind).
static void perSampleRun(Instrument& voice, double gain, int frames, double* out) {
    for (int i = 0; i < frames; ++i) {
        double v = 0.0;
        if (voice.note > -1) {
            int32_t n = voice.time;
            if (n < INT32_MAX) voice.time = n + 1;
            v = voice.nextSample(n);
        }
        if (v > 1.0) v = 1.0;
        if (v < -1.0) v = -1.0;
        if (v != v) v = 0.0;
        out[i] = v * gain;
    }
}

static bool isFiltered(Kind kind) {
    return kind == Kind::PulseStack || kind == Kind::Arpeggio || kind == Kind::Warp || kind == Kind::Squares;
}

// The filter input of a run, for the four filtered voices.
static void filterInput(const RenderKernels& k, Kind kind, Instrument& voice, int frames, double* in) {
    const int64_t n0 = voice.time;
    if (kind == Kind::Arpeggio) {
        // The pitch steps at n + 1 = 1000, 2000, ...: sub-runs of constant pitch.
        Ins0_1& arp = static_cast<Ins0_1&>(voice);
        int i = 0;
        while (i < frames) {
            int64_t n = n0 + i;
            if (n == 0) arp.arpStep = 0;
            if ((n + 1) % 1000 == 0) {
                int32_t step = arp.arpStep.load();
                float f = arp.freq.load();
                arp.freq = step == 2 ? 0.25f * f : 2.0f * f;
                arp.arpStep = (step + 1) % 3;
            }
            int64_t nextStep = (n + 1) / 1000 * 1000 + 999;  // next n with (n + 1) % 1000 == 0
            int len = int(std::min<int64_t>(frames - i, nextStep - n));
            k.arpeggio(double(arp.freq.load()), n, len, in + i);
            i += len;
        }
        return;
    }
    const double f = double(voice.freq.load());
    if (kind == Kind::PulseStack)
        k.pulseStack(f, n0, frames, in);
    else if (kind == Kind::Warp)
        k.warp(f, n0, frames, in);
    else
        k.squares(f, n0, frames, in);
}

// Output scale and envelope constant of the filtered voices.
static void filterShape(Kind kind, double& scale, double& decay) {
    scale = kind == Kind::PulseStack ? 4.0 : kind == Kind::Arpeggio ? 1.5 : kind == Kind::Warp ? 2.0 : 0.5;
    decay = kind == Kind::PulseStack ? 0.0001 : 0.0005;
}

// A channel whose filter waits for the joint pass.
struct Pending {
    int channel;
    int64_t n0;
    const double* in;
    double* state;
    float s;
};

// The filter: state = float32(0.9 state + 0.1 input), each new state kept.
// The recurrence is one long dependency chain per voice; N voices side by
// side let the processor overlap N chains.
template <int N>
static void lowPassChains(Pending* p, int len) {
    float s[N];
    const double* in[N];
    double* state[N];
    for (int j = 0; j < N; ++j) s[j] = p[j].s, in[j] = p[j].in, state[j] = p[j].state;
    for (int i = 0; i < len; ++i)
#pragma GCC unroll 8
        for (int j = 0; j < N; ++j) {
            s[j] = float(C09 * double(s[j]) + C01 * in[j][i]);
            state[j][i] = double(s[j]);
        }
    for (int j = 0; j < N; ++j) p[j].s = s[j];
}

// The same with a fused multiply-add: 0.9(s) x state is a product of two
// 24-bit values, exact in a double, so fusing it with the sum rounds once,
// as the separate sum does; the chain gets one step shorter.
template <int N>
__attribute__((target("fma"))) static void lowPassChainsFused(Pending* p, int len) {
    float s[N];
    const double* in[N];
    double* state[N];
    for (int j = 0; j < N; ++j) s[j] = p[j].s, in[j] = p[j].in, state[j] = p[j].state;
    for (int i = 0; i < len; ++i)
#pragma GCC unroll 8
        for (int j = 0; j < N; ++j) {
            s[j] = float(__builtin_fma(C09, double(s[j]), C01 * in[j][i]));
            state[j][i] = double(s[j]);
        }
    for (int j = 0; j < N; ++j) p[j].s = s[j];
}

// All waiting chains in one pass: up to eight overlap in the processor.
template <template <int> class Chains>
static void lowPassEach(Pending* p, int count, int len) {
    switch (count) {
        case 1: Chains<1>::run(p, len); break;
        case 2: Chains<2>::run(p, len); break;
        case 3: Chains<3>::run(p, len); break;
        case 4: Chains<4>::run(p, len); break;
        case 5: Chains<5>::run(p, len); break;
        case 6: Chains<6>::run(p, len); break;
        case 7: Chains<7>::run(p, len); break;
        case 8: Chains<8>::run(p, len); break;
        default: break;
    }
}

template <int N>
struct Plain {
    static void run(Pending* p, int len) { lowPassChains<N>(p, len); }
};
template <int N>
struct Fused {
    static void run(Pending* p, int len) { lowPassChainsFused<N>(p, len); }
};

static void lowPassAll(Pending* p, int count, int len) {
    static const bool fused = __builtin_cpu_supports("fma");
    if (fused)
        lowPassEach<Fused>(p, count, len);
    else
        lowPassEach<Plain>(p, count, len);
}

// The drum memory converges within a few dozen samples, so a silent stretch
// only runs the recurrence over its last samples, to leave a true state.
static constexpr int DrumSettle = 64;

static void drumRun(const RenderKernels& k, Instrument& voice, double gain, int frames, uint32_t seed,
                    Scratch& sc, double* out) {
    const int64_t n0 = voice.time;
    const int32_t m = voice.note.load() % 12;
    // Samples before `audible` may sound: the envelope is 0 from T = 10000 on (that one still computed).
    int audible = int(std::clamp<int64_t>(9999 - n0 + 1, 0, frames));
    int settleFrom = std::max(audible, frames - DrumSettle);
    double* raw = sc.ownState.data();  // c of the audible samples

    if (m == 3) {
        const double f = double(voice.freq.load());
        // Vector sines for the audible head and the settling tail (aligned down to a lane).
        double* a = sc.ownIn.data();
        k.toneDrum(f, n0, audible, a);
        int tail = settleFrom - settleFrom % k.lanes;
        if (tail < audible) tail = audible - audible % k.lanes;
        if (tail < frames) k.toneDrum(f, n0 + tail, frames - tail, a + tail);
        float s = voice.state.load();
        for (int i = 0; i < frames; ++i) {
            if (i >= audible && i < settleFrom) continue;
            double c = (a[i] + double(s)) * 0.5;
            s = float(c);
            raw[i] = c;
        }
        voice.state = s;
        k.drumFinish(n0, audible, raw, gain, out);
    } else if (m == 5) {
        // Uniform 15-bit values from a generator of the same kind, seeded per run.
        uint32_t r = seed;
        double c = double(voice.state.load());
        for (int i = 0; i < frames; ++i) {
            if (i >= audible && i != frames - 1) continue;
            r = r * 1103515245u + 12345u;
            c = int32_t((r >> 16) & 0x7FFF) * (1.0 / 32768.0) - 0.5;
            raw[i] = c;
        }
        if (frames > 0) voice.state = float(c);
        k.drumFinish(n0, audible, raw, gain, out);
    } else {
        for (int i = 0; i < audible; ++i) out[i] = 0.0 * gain;
    }
    // After the finish, which writes whole vectors past `audible`.
    for (int i = audible; i < frames; ++i) out[i] = 0.0 * gain;
    voice.time = int32_t(n0 + frames);
}

// Envelope, clamp and gain after the filter; the voice's new state and time.
static void finishFiltered(const RenderKernels& k, Kind kind, const Pending& p, double gain, int frames,
                           double* out) {
    double scale, decay;
    filterShape(kind, scale, decay);
    k.finish(scale, decay, p.n0, frames, p.state, gain, out);
    Instrument& voice = *instruments[p.channel];
    voice.state = p.s;
    voice.time = int32_t(p.n0 + frames);
}

static void keepScope(Channel& ch, const double* out, int frames);

// One channel, `frames` frames after its row trigger (if any) was applied.
static void channelRun(const RenderKernels& k, int c, Kind kind, double* out, int frames, uint32_t noiseSeed,
                       Scratch& sc) {
    Channel& ch = song.channels[c];
    Instrument& voice = *instruments[c];
    const double gain = double(ch.gain.load());
    if (voice.note <= -1) {
        for (int i = 0; i < frames; ++i) out[i] = 0.0 * gain;
    } else if (kind == Kind::Unknown || int64_t(voice.time) + frames > INT32_MAX) {
        perSampleRun(voice, gain, frames, out);
    } else if (kind == Kind::Drum) {
        drumRun(k, voice, gain, frames, noiseSeed, sc, out);
    } else {
        Pending p{c, voice.time, sc.ownIn.data(), sc.ownState.data(), voice.state};
        filterInput(k, kind, voice, frames, sc.ownIn.data());
        lowPassAll(&p, 1, frames);
        finishFiltered(k, kind, p, gain, frames, out);
    }
    keepScope(ch, out, frames);
}

// Only the last ScopeLength values survive in the ring.
static void keepScope(Channel& ch, const double* out, int frames) {
    ScopeBuffer& scope = ch.scope;
    int32_t w = scope.writeIndex;
    if (w < 0 || w >= ScopeLength) w = 0;
    for (int i = std::max(0, frames - ScopeLength); i < frames; ++i)
        scope.samples[(w + i) % ScopeLength] = float(out[i]);
    scope.writeIndex = int32_t((int64_t(w) + frames) % ScopeLength);
}

// ---- 3. the block plan and the two threads ----------------------------------------

// The export's blocks in order: each lies inside one row, the first of a row triggers it.
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
        uint64_t rowIndex = k / uint64_t(blocksPerRow);
        int within = int(k % uint64_t(blocksPerRow));
        Block b;
        b.slot = int32_t(rowIndex / RowsPerPattern);
        b.row = int32_t(rowIndex % RowsPerPattern);
        b.pattern = song.orders[b.slot].load();
        b.frames = std::min(RunFrames, rowFrames - within * RunFrames);
        b.rowStart = within == 0;
        return b;
    }
};

// Blocks rendered ahead of the mix; each holds all eight channels' values.
static constexpr int RingBlocks = 4;
static constexpr size_t Stride = RunFrames + RunSlack;

// Channels are independent between mixes (each has its own voice, gain and
// scope): each thread renders its share of a block; the main thread, which
// must mix the block, then takes over the channels the worker has not
// reached yet (the worker moves on to the next block). Only the mix waits
// for a whole block. Shares measured on a busy song (the main thread also
// mixes and writes). The worker takes nothing over: it runs ahead of the
// mix and would take the main thread's channels before it gets to them.
static const int WorkerChannels[] = {0, 1, 2, 5, 6};
static const int MainShare[] = {3, 4, 7};
static const int MainTakesOver[] = {5, 1, 6, 2, 0};  // cheapest first
static const int AllChannels[] = {0, 1, 2, 3, 4, 5, 6, 7};

struct Shared {
    const RenderKernels* kernels = nullptr;
    Kind kinds[ChannelCount];
    Plan plan;
    double* ring = nullptr;       // RingBlocks x ChannelCount x Stride
    uint32_t noiseBase = 0;       // drawn once from the program's generator
    std::atomic<uint64_t> claimed[ChannelCount] = {};   // blocks of each channel a thread has taken
    std::atomic<uint64_t> finished[ChannelCount] = {};  // blocks of each channel rendered
    std::atomic<uint64_t> mixed{0};                     // blocks the main thread has mixed
    std::atomic<bool> quit{false};
};

// The row trigger of renderChannel, for one channel.
static void triggerChannel(int c, int32_t pattern, int32_t row) {
    if (pattern < 0 || pattern >= PatternCount) return;  // 64..255 play as an empty pattern
    Channel& ch = song.channels[c];
    const Cell& cell = ch.cells[pattern * RowsPerPattern + row];
    int32_t note = cell.note;
    int32_t volume = cell.volume;
    if (note > 0) {
        noteOn(*instruments[c], note);
        ch.gain = 0.75f;
    }
    if (volume > 9) ch.gain = float(volume - 16) * 0.015625f;
}

// A well-stirred seed for the noise drum's run of channel c in block k.
static uint32_t noiseSeed(uint32_t base, int c, uint64_t k) {
    uint32_t h = base ^ uint32_t(c) * 0x9E3779B9u ^ uint32_t(k) * 0x85EBCA6Bu ^ uint32_t(k >> 32);
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

static double* blockChannel(const Shared& sh, uint64_t k, int c) {
    return sh.ring + (size_t(k % RingBlocks) * ChannelCount + size_t(c)) * Stride;
}

static void renderShare(const Shared& sh, const int* channels, int count, uint64_t k, Scratch& sc) {
    const Block b = sh.plan.at(k);
    const RenderKernels& kern = *sh.kernels;
    Pending pending[ChannelCount];
    int waiting = 0;
    for (int i = 0; i < count; ++i) {
        int c = channels[i];
        if (b.rowStart) triggerChannel(c, b.pattern, b.row);
        Instrument& voice = *instruments[c];
        if (isFiltered(sh.kinds[c]) && voice.note > -1 && int64_t(voice.time) + b.frames <= INT32_MAX) {
            // Inputs now, the filters of all these channels together below.
            Pending& p = pending[waiting];
            p = Pending{c, voice.time, sc.in[waiting].data(), sc.state[waiting].data(), voice.state};
            filterInput(kern, sh.kinds[c], voice, b.frames, sc.in[waiting].data());
            ++waiting;
        } else {
            channelRun(kern, c, sh.kinds[c], blockChannel(sh, k, c), b.frames, noiseSeed(sh.noiseBase, c, k), sc);
        }
    }
    lowPassAll(pending, waiting, b.frames);
    for (int i = 0; i < waiting; ++i) {
        const int c = pending[i].channel;
        double* out = blockChannel(sh, k, c);
        finishFiltered(kern, sh.kinds[c], pending[i], double(song.channels[c].gain.load()), b.frames, out);
        keepScope(song.channels[c], out, b.frames);
    }
}

// Short spins, then yield: the other thread is normally only microseconds away.
template <class Ready>
static void waitUntil(Ready ready) {
    for (int spins = 0; !ready(); ++spins) {
        if (spins < 200)
            __builtin_ia32_pause();
        else
            std::this_thread::yield();
    }
}

// Takes channel c's block k for this thread, unless another thread has.
// A channel's blocks are rendered in order: with `waitForPrevious` the
// thread waits for block k - 1 (being finished by the other thread), else it
// takes the block only when k - 1 is already done.
static bool take(Shared& sh, int c, uint64_t k, bool waitForPrevious) {
    if (sh.claimed[c].load(std::memory_order_acquire) != k) return false;
    if (!waitForPrevious && sh.finished[c].load(std::memory_order_acquire) != k) return false;
    uint64_t expected = k;
    if (!sh.claimed[c].compare_exchange_strong(expected, k + 1, std::memory_order_acq_rel)) return false;
    waitUntil([&] { return sh.finished[c].load(std::memory_order_acquire) == k; });
    return true;
}

// This thread's part of block k: its share together, then the others still free.
static void renderBlock(Shared& sh, const int* share, int shareCount, const int* others, int otherCount,
                        uint64_t k, Scratch& sc) {
    int mine[ChannelCount];
    int count = 0;
    for (int i = 0; i < shareCount; ++i)
        if (take(sh, share[i], k, true)) mine[count++] = share[i];
    renderShare(sh, mine, count, k, sc);
    for (int i = 0; i < count; ++i) sh.finished[mine[i]].store(k + 1, std::memory_order_release);
    // The others still free, together: their filter chains then overlap too.
    count = 0;
    for (int i = 0; i < otherCount; ++i)
        if (take(sh, others[i], k, false)) mine[count++] = others[i];
    renderShare(sh, mine, count, k, sc);
    for (int i = 0; i < count; ++i) sh.finished[mine[i]].store(k + 1, std::memory_order_release);
}

static void workerLoop(Shared* sh) {
    Scratch sc;
    const uint64_t blocks = sh->plan.blocks();
    for (uint64_t k = 0; k < blocks; ++k) {
        // Ring space: block k reuses the buffers of block k - RingBlocks, which must be mixed.
        waitUntil([&] {
            return sh->quit.load(std::memory_order_acquire) ||
                   k < sh->mixed.load(std::memory_order_acquire) + RingBlocks;
        });
        if (sh->quit.load(std::memory_order_acquire)) return;
        renderBlock(*sh, WorkerChannels, int(std::size(WorkerChannels)), nullptr, 0, k, sc);
    }
}

// ---- 4. renderSong ---------------------------------------------------------------

static constexpr uint64_t ProgressEvery = 44100;  // about one report per second of song

uint64_t renderSong(SampleSink sink, void* context) {
    playing = false;
    currentRow = 0;
    tick = 0;
    tickFrame = 0;
    orderPos = 0;
    currentPattern = song.orders[0].load();
    exporting = true;  // rows trigger; the audio callback stays silent

    Shared sh;
    while (sh.plan.slots < OrderSlots && song.orders[sh.plan.slots] != OrderEmpty) ++sh.plan.slots;
    const int32_t speed = song.speed;
    sh.plan.rowFrames = (speed < 1 ? 1 : speed) * FramesPerTick;
    sh.plan.blocksPerRow = (sh.plan.rowFrames + RunFrames - 1) / RunFrames;
    const uint64_t blocks = sh.plan.blocks();
    const uint64_t total = exportFrameCount();

    sh.kernels = &chosenKernels();
    std::vector<double> ring(size_t(RingBlocks) * ChannelCount * Stride, 0.0);
    sh.ring = ring.data();
    bool ownVoices = true;  // every channel plays its own voice: channels are independent
    for (int c = 0; c < ChannelCount; ++c) {
        sh.kinds[c] = kindOf(instruments[c]);
        if (song.channels[c].instrumentSlot != c) ownVoices = false;
    }
    if (blocks > 0) {
        uint32_t high = uint32_t(nextNoise());
        sh.noiseBase = high << 15 | uint32_t(nextNoise());
    }

    std::thread worker;
    if (renderThreads >= 2 && ownVoices && blocks > 0) {
        try {
            worker = std::thread(workerLoop, &sh);
        } catch (...) {
            // No second thread: the main thread renders every channel.
        }
    }
    const bool two = worker.joinable();
    const int* mainChannels = two ? MainShare : AllChannels;
    const int mainCount = two ? int(std::size(MainShare)) : ChannelCount;
    const int takeOverCount = two ? int(std::size(MainTakesOver)) : 0;

    Scratch sc;
    std::vector<int16_t> samples(Stride);
    const double* channelOut[ChannelCount];
    uint64_t done = 0;
    for (uint64_t k = 0; k < blocks; ++k) {
        const Block b = sh.plan.at(k);
        orderPos = b.slot;
        currentPattern = b.pattern;
        currentRow = b.row;
        if (ownVoices) {
            renderBlock(sh, mainChannels, mainCount, MainTakesOver, takeOverCount, k, sc);
        } else {
            // A damaged slot makes two channels share a voice: exactly the per-frame order.
            const int at = int(k % uint64_t(sh.plan.blocksPerRow)) * RunFrames;
            for (int i = 0; i < b.frames; ++i) {
                tick = (at + i) / FramesPerTick;
                tickFrame = (at + i) % FramesPerTick;
                for (int c = 0; c < ChannelCount; ++c) blockChannel(sh, k, c)[i] = renderChannel(c);
            }
        }
        if (two)
            for (int c = 0; c < ChannelCount; ++c)
                waitUntil([&] { return sh.finished[c].load(std::memory_order_acquire) > k; });
        for (int c = 0; c < ChannelCount; ++c) channelOut[c] = blockChannel(sh, k, c);
        sh.kernels->mix(channelOut, b.frames, samples.data());
        const uint64_t before = done;
        done += uint64_t(b.frames);
        const bool more = sink(samples.data(), channelOut, b.frames, context);
        // The sink has read the channels too: only now may the worker reuse their buffers.
        sh.mixed.store(k + 1, std::memory_order_release);
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
