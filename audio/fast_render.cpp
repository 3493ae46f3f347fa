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
//   3. the two-thread crew
//   4. renderSong
#include "audio/fast_render.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <typeinfo>
#include <vector>

#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"

bool renderUseVectors = true;
int renderThreads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;

// ---- 1. kernels, voice kinds -----------------------------------------------------

const RenderKernels& chosenKernels() {
    if (!renderUseVectors) return scalarKernels;
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")) return avx512Kernels;
    if (__builtin_cpu_supports("avx2")) return avx2Kernels;
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

struct Scratch {
    std::vector<double> in, state;
    Scratch() : in(RunFrames + RunSlack), state(RunFrames + RunSlack) {}
};

struct ChannelJob {
    Kind kind = Kind::Unknown;
    double* out = nullptr;    // RunFrames + RunSlack values
    uint32_t noiseSeed = 0;   // drawn on the main thread for the noise drum's run
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

// The filter: state = float32(0.9 state + 0.1 input), each new state kept.
static float lowPassRun(float s, const double* in, int len, double* state) {
    for (int i = 0; i < len; ++i) {
        s = float(C09 * double(s) + C01 * in[i]);
        state[i] = double(s);
    }
    return s;
}

static void filteredRun(const RenderKernels& k, Kind kind, Instrument& voice, double gain, int frames,
                        Scratch& sc, double* out) {
    const int64_t n0 = voice.time;
    double scale = 0.5, decay = 0.0005;
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
            k.arpeggio(double(arp.freq.load()), n, len, sc.in.data() + i);
            i += len;
        }
        scale = 1.5;
    } else {
        double f = double(voice.freq.load());
        if (kind == Kind::PulseStack) {
            k.pulseStack(f, n0, frames, sc.in.data());
            scale = 4.0;
            decay = 0.0001;
        } else if (kind == Kind::Warp) {
            k.warp(f, n0, frames, sc.in.data());
            scale = 2.0;
        } else {
            k.squares(f, n0, frames, sc.in.data());
        }
    }
    voice.state = lowPassRun(voice.state.load(), sc.in.data(), frames, sc.state.data());
    k.finish(scale, decay, n0, frames, sc.state.data(), gain, out);
    voice.time = int32_t(n0 + frames);
}

// Drum envelope: rises over 1000 samples, silent from T = 10000 on.
static double drumEnvelope(double T) {
    return std::fmin(0.001 * T, 1.0) * std::fmax(1.0 - 0.0001 * T, 0.0);
}

// The drum memory converges within a few dozen samples, so a silent stretch
// only runs the recurrence over its last samples, to leave a true state.
static constexpr int DrumSettle = 64;

static void drumRun(const RenderKernels& k, Instrument& voice, double gain, int frames, uint32_t seed,
                    Scratch& sc, double* out) {
    const int64_t n0 = voice.time;
    const int32_t m = voice.note.load() % 12;
    // Samples before `audible` may sound; the envelope is 0 from T = 10000 (n = 9999) on.
    int audible = int(std::clamp<int64_t>(9999 - n0 + 1, 0, frames));
    int settleFrom = std::max(audible, frames - DrumSettle);
    for (int i = audible; i < frames; ++i) out[i] = 0.0 * gain;

    if (m == 3) {
        const double f = double(voice.freq.load());
        // Vector sines for the audible head and the settling tail (aligned down to a lane).
        k.toneDrum(f, n0, audible, sc.in.data());
        int tail = settleFrom - settleFrom % k.lanes;
        if (tail < audible) tail = audible - audible % k.lanes;
        if (tail < frames) k.toneDrum(f, n0 + tail, frames - tail, sc.in.data() + tail);
        float s = voice.state.load();
        for (int i = 0; i < frames; ++i) {
            if (i >= audible && i < settleFrom) continue;
            double c = (sc.in[i] + double(s)) * 0.5;
            s = float(c);
            if (i < audible) {
                double v = c * drumEnvelope(double(n0 + i) + 1.0);
                if (v > 1.0) v = 1.0;
                if (v < -1.0) v = -1.0;
                if (v != v) v = 0.0;
                out[i] = v * gain;
            }
        }
        voice.state = s;
    } else if (m == 5) {
        // Uniform 15-bit values from a generator of the same kind, seeded per run.
        uint32_t r = seed;
        double c = double(voice.state.load());
        for (int i = 0; i < frames; ++i) {
            if (i >= audible && i != frames - 1) continue;
            r = r * 1103515245u + 12345u;
            c = int32_t((r >> 16) & 0x7FFF) * (1.0 / 32768.0) - 0.5;
            if (i < audible) out[i] = c * drumEnvelope(double(n0 + i) + 1.0) * gain;
        }
        if (frames > 0) voice.state = float(c);
    } else {
        for (int i = 0; i < audible; ++i) out[i] = 0.0 * gain;
    }
    voice.time = int32_t(n0 + frames);
}

// One channel, `frames` frames after its row trigger (if any) was applied.
static void channelRun(const RenderKernels& k, int c, const ChannelJob& job, int frames, Scratch& sc) {
    Channel& ch = song.channels[c];
    Instrument& voice = *instruments[c];
    const double gain = double(ch.gain.load());
    double* out = job.out;
    if (voice.note <= -1) {
        for (int i = 0; i < frames; ++i) out[i] = 0.0 * gain;
    } else if (job.kind == Kind::Unknown || int64_t(voice.time) + frames > INT32_MAX) {
        perSampleRun(voice, gain, frames, out);
    } else if (job.kind == Kind::Drum) {
        drumRun(k, voice, gain, frames, job.noiseSeed, sc, out);
    } else {
        filteredRun(k, job.kind, voice, gain, frames, sc, out);
    }
    // Only the last ScopeLength values survive in the ring.
    ScopeBuffer& scope = ch.scope;
    int32_t w = scope.writeIndex;
    if (w < 0 || w >= ScopeLength) w = 0;
    for (int i = std::max(0, frames - ScopeLength); i < frames; ++i)
        scope.samples[(w + i) % ScopeLength] = float(out[i]);
    scope.writeIndex = int32_t((int64_t(w) + frames) % ScopeLength);
}

// ---- 3. the crew ---------------------------------------------------------------

// Dearest channels first, so the two threads finish close together.
static const int TaskOrder[ChannelCount] = {0, 4, 2, 6, 7, 3, 5, 1};

struct Crew {
    const RenderKernels* kernels = nullptr;
    ChannelJob jobs[ChannelCount];
    int frames = 0;
    std::atomic<uint32_t> generation{0};  // a new block is ready
    std::atomic<uint32_t> workerSeen{0};  // the worker has left the block of this generation
    std::atomic<int> nextTask{0};
    std::atomic<int> doneTasks{0};
    std::atomic<bool> quit{false};
};

static void runTasks(Crew& crew, Scratch& sc) {
    for (;;) {
        int t = crew.nextTask.fetch_add(1, std::memory_order_acq_rel);
        if (t >= ChannelCount) return;
        int c = TaskOrder[t];
        channelRun(*crew.kernels, c, crew.jobs[c], crew.frames, sc);
        crew.doneTasks.fetch_add(1, std::memory_order_release);
    }
}

// Short spins, then yield: the other thread is normally only microseconds away.
template <class Ready>
static void waitUntil(Ready ready) {
    for (int spins = 0; !ready(); ++spins) {
        if (spins < 2000)
            __builtin_ia32_pause();
        else
            std::this_thread::yield();
    }
}

static void workerLoop(Crew* crew) {
    Scratch sc;
    uint32_t seen = 0;
    for (;;) {
        waitUntil([&] {
            return crew->quit.load(std::memory_order_acquire) ||
                   crew->generation.load(std::memory_order_acquire) != seen;
        });
        if (crew->generation.load(std::memory_order_acquire) == seen) return;  // quit
        seen = crew->generation.load(std::memory_order_acquire);
        runTasks(*crew, sc);
        crew->workerSeen.store(seen, std::memory_order_release);
    }
}

// ---- 4. renderSong ---------------------------------------------------------------

// The row trigger of renderChannel for every channel, in channel order.
static void triggerRow(int32_t pattern, int32_t row) {
    if (pattern < 0 || pattern >= PatternCount) return;  // 64..255 play as an empty pattern
    for (int c = 0; c < ChannelCount; ++c) {
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
}

static constexpr uint64_t ProgressEvery = 44100;  // about one report per second of song

uint64_t renderSong(SampleSink sink, void* context) {
    playing = false;
    currentRow = 0;
    tick = 0;
    tickFrame = 0;
    orderPos = 0;
    currentPattern = song.orders[0].load();
    exporting = true;  // rows trigger; the audio callback stays silent

    int slots = 0;
    while (slots < OrderSlots && song.orders[slots] != OrderEmpty) ++slots;
    const int32_t speed = song.speed;
    const int rowFrames = (speed < 1 ? 1 : speed) * FramesPerTick;
    const uint64_t total = exportFrameCount();

    Crew crew;
    crew.kernels = &chosenKernels();
    std::vector<double> buffers(size_t(ChannelCount) * (RunFrames + RunSlack), 0.0);
    const double* channelOut[ChannelCount];
    bool ownVoices = true;  // every channel plays its own voice: runs are independent
    for (int c = 0; c < ChannelCount; ++c) {
        crew.jobs[c].kind = kindOf(instruments[c]);
        crew.jobs[c].out = buffers.data() + size_t(c) * (RunFrames + RunSlack);
        channelOut[c] = crew.jobs[c].out;
        if (song.channels[c].instrumentSlot != c) ownVoices = false;
    }
    if (!ownVoices)  // a damaged slot sharing a voice: one thread, sample by sample
        for (ChannelJob& job : crew.jobs) job.kind = Kind::Unknown;

    std::thread worker;
    if (renderThreads >= 2 && ownVoices && slots > 0) {
        try {
            worker = std::thread(workerLoop, &crew);
        } catch (...) {
            // No second thread: the main thread renders every channel.
        }
    }
    Scratch sc;
    std::vector<int16_t> samples(RunFrames + RunSlack);
    uint64_t done = 0;
    bool stopped = false;
    uint32_t generation = 0;

    for (int slot = 0; slot < slots && !stopped; ++slot) {
        const int32_t pattern = song.orders[slot];
        orderPos = slot;
        currentPattern = pattern;
        for (int row = 0; row < RowsPerPattern && !stopped; ++row) {
            currentRow = row;
            if (ownVoices) {
                triggerRow(pattern, row);
            }
            for (int at = 0; at < rowFrames && !stopped; at += RunFrames) {
                const int frames = std::min(RunFrames, rowFrames - at);
                if (!ownVoices) {
                    // Shared voices: exactly the per-frame order of renderChannel.
                    std::vector<double>& b = buffers;
                    for (int i = 0; i < frames; ++i) {
                        tick = (at + i) / FramesPerTick;
                        tickFrame = (at + i) % FramesPerTick;
                        for (int c = 0; c < ChannelCount; ++c)
                            b[size_t(c) * (RunFrames + RunSlack) + i] = renderChannel(c);
                    }
                } else {
                    for (int c = 0; c < ChannelCount; ++c) {
                        Instrument& v = *instruments[c];
                        crew.jobs[c].noiseSeed = 0;
                        if (crew.jobs[c].kind == Kind::Drum && v.note > -1 && v.note % 12 == 5) {
                            uint32_t high = uint32_t(nextNoise());
                            crew.jobs[c].noiseSeed = high << 15 | uint32_t(nextNoise());
                        }
                    }
                    crew.frames = frames;
                    crew.doneTasks.store(0, std::memory_order_relaxed);
                    crew.nextTask.store(0, std::memory_order_relaxed);
                    ++generation;
                    crew.generation.store(generation, std::memory_order_release);
                    runTasks(crew, sc);
                    waitUntil([&] { return crew.doneTasks.load(std::memory_order_acquire) == ChannelCount; });
                    // The worker must be out of this block before the counters are reset.
                    if (worker.joinable())
                        waitUntil([&] { return crew.workerSeen.load(std::memory_order_acquire) == generation; });
                }
                crew.kernels->mix(channelOut, frames, samples.data());
                const uint64_t before = done;
                done += uint64_t(frames);
                if (!sink(samples.data(), frames, context)) stopped = true;
                if (exportProgress && done / ProgressEvery != before / ProgressEvery) exportProgress(done, total);
            }
        }
    }
    crew.quit.store(true, std::memory_order_release);
    if (worker.joinable()) worker.join();

    // The end marker's slot, or slot 0 after a full order list (no marker to stand on).
    orderPos = slots < OrderSlots ? slots : 0;
    currentPattern = song.orders[orderPos].load();
    playing = false;
    currentPattern = 0;
    currentRow = 0;
    tick = 0;
    tickFrame = 0;
    exporting = false;
    return done;
}
