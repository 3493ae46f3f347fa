// The one engine against the formulas: the export and live playback through
// blocks of any size give every channel the same values, and those are
// within one 16-bit step of the reference render written out frame by frame
// (tests/support/reference_render.h), exactly equal with the scalar kernels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/fast_render.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "tests/support/reference_render.h"
#include "tests/support/test_support.h"

namespace {

// ---- the export, collected --------------------------------------------------------

struct Collected {
    std::vector<int16_t> mix;
    std::vector<double> channels[ChannelCount];
};

Collected exportRender() {
    Collected out;
    renderSong(
        [](const int16_t* mix, const double* const* channels, int n, void* ctx) {
            Collected& o = *static_cast<Collected*>(ctx);
            o.mix.insert(o.mix.end(), mix, mix + n);
            for (int c = 0; c < ChannelCount; ++c)
                o.channels[c].insert(o.channels[c].end(), channels[c], channels[c] + n);
            return true;
        },
        &out);
    return out;
}

// ---- voices, gains and scopes before and after -------------------------------

struct Snapshot {
    int32_t time[8], note[8], arpStep;
    uint32_t notes[8];
    float freq[8], state[8], gain[8], scope[8][ScopeLength];
    int32_t scopeIndex[8];
    EffectState effects;
};

Snapshot take() {
    Snapshot s;
    for (int c = 0; c < 8; ++c) {
        Instrument& v = *instruments[c];
        s.time[c] = v.time, s.note[c] = v.note, s.freq[c] = v.freq, s.state[c] = v.state, s.notes[c] = v.notesStarted;
        s.gain[c] = song.channels[c].gain;
        s.scopeIndex[c] = song.channels[c].scope.writeIndex;
        for (int i = 0; i < ScopeLength; ++i) s.scope[c][i] = song.channels[c].scope.samples[i];
    }
    s.arpStep = static_cast<Ins0_1*>(instruments[1])->arpStep;
    s.effects = effectState;
    return s;
}

void restore(const Snapshot& s) {
    for (int c = 0; c < 8; ++c) {
        Instrument& v = *instruments[c];
        v.time = s.time[c], v.note = s.note[c], v.freq = s.freq[c], v.state = s.state[c], v.notesStarted = s.notes[c];
        song.channels[c].gain = s.gain[c];
        song.channels[c].scope.writeIndex = s.scopeIndex[c];
        for (int i = 0; i < ScopeLength; ++i) song.channels[c].scope.samples[i] = s.scope[c][i];
    }
    static_cast<Ins0_1*>(instruments[1])->arpStep = s.arpStep;
    effectState = s.effects;
}

struct Outcome {
    std::vector<int16_t> reference, fast;
    Snapshot after, fastAfter;
    int32_t orderPos, fastOrderPos;
};

// Renders the current song both ways from the same starting voices and seed.
Outcome renderBoth() {
    Outcome o;
    Snapshot before = take();
    seedNoise(7);
    o.reference = reference::renderExport();
    o.after = take();
    o.orderPos = transport.orderPos;
    restore(before);
    seedNoise(7);
    o.fast = exportRender().mix;
    o.fastAfter = take();
    o.fastOrderPos = transport.orderPos;
    return o;
}

// Largest |difference| between the two renders, or a huge value when the lengths differ.
int worstStep(const Outcome& o) {
    if (o.reference.size() != o.fast.size()) return 1 << 30;
    int worst = 0;
    for (size_t i = 0; i < o.fast.size(); ++i) worst = std::max(worst, std::abs(o.fast[i] - o.reference[i]));
    return worst;
}

void expectSameVoices(const Snapshot& a, const Snapshot& b, std::initializer_list<int> channels) {
    for (int c : channels) {
        SCOPED_TRACE("channel " + std::to_string(c));
        EXPECT_EQ(a.time[c], b.time[c]);
        EXPECT_EQ(a.note[c], b.note[c]);
        EXPECT_EQ(a.freq[c], b.freq[c]);
        EXPECT_NEAR(a.state[c], b.state[c], 1e-5);
        EXPECT_EQ(a.gain[c], b.gain[c]);
        EXPECT_EQ(a.scopeIndex[c], b.scopeIndex[c]);
        for (int i = 0; i < ScopeLength; ++i) EXPECT_NEAR(a.scope[c][i], b.scope[c][i], 1e-5) << i;
    }
}

// A busy song on channels 0..5 (and drums when asked): notes on most rows,
// retriggers on neighbouring rows, volume-only cells, a few long held notes.
void fillSong(int patterns, bool drums, uint32_t seed) {
    Lcg lcg{seed};
    for (int p = 0; p < patterns; ++p) {
        song.orders[p] = p;
        for (int row = 0; row < RowsPerPattern; ++row)
            for (int c = 0; c < (drums ? 8 : 6); ++c) {
                Cell& cell = cellAt(c, p, row);
                uint32_t pick = lcg.next(10);
                if (c >= 6)
                    cell.note = pick < 4 ? int32_t(12 * (1 + lcg.next(8)) + (pick % 2 ? 3 : 5)) : 0;
                else if (c == 1 && row % 16 != 0)
                    continue;  // the arpeggio holds its notes across many blocks
                else if (pick < 5)
                    cell.note = int32_t(3 + lcg.next(100));
                if (pick >= 3 && pick < 7) cell.volume = int32_t(16 + lcg.next(65));
            }
    }
    if (patterns < OrderSlots) song.orders[patterns] = OrderEmpty;
}

class FastRender : public ::testing::Test {
protected:
    void SetUp() override {
        resetEngine();
        renderThreads = 2;
    }
    void TearDown() override {
        useKernels(8);
        renderThreads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;
        exportProgress = nullptr;
        transport.playing = false;
    }
};

// Live playback of the song from its first row, in blocks of `block` frames,
// for as many frames as the export renders (no muted channel).
Collected playbackRender(unsigned block) {
    Collected out;
    const uint64_t frames = exportFrameCount();
    transport.orderPos = 0, transport.currentPattern = song.orders[0].load(), transport.currentRow = 0,
    transport.tick = 0, transport.tickFrame = 0;
    transport.playing = true;
    std::vector<double> mix(block), values[ChannelCount];
    double* channels[ChannelCount];
    for (int c = 0; c < ChannelCount; ++c) values[c].resize(block), channels[c] = values[c].data();
    for (uint64_t done = 0; done < frames; done += block) {
        const unsigned n = unsigned(std::min<uint64_t>(block, frames - done));
        fillBlock(mix.data(), n, channels);
        for (unsigned i = 0; i < n; ++i) out.mix.push_back(reference::exportSample(float(mix[i] * ChannelCount)));
        for (int c = 0; c < ChannelCount; ++c)
            out.channels[c].insert(out.channels[c].end(), channels[c], channels[c] + n);
    }
    transport.playing = false;
    return out;
}

// Every kernel set this processor can run: the scalar one and the vector ones it supports.
std::vector<const RenderKernels*> kernelsOfThisMachine() {
    std::vector<const RenderKernels*> sets;
    for (int lanes : {1, 4, 8})
        if (sets.empty() || sets.back() != &widestKernels(lanes)) sets.push_back(&widestKernels(lanes));
    return sets;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

}  // namespace

// Every effect on every channel, and the course effects: a speed change, a
// break, a jump back that makes the loop ending the export.
void fillEffects() {
    fillSong(3, true, 21);
    effectsEverywhere(3, 5);
    song.orders[3] = 1;  // pattern 1 twice: the second time at another speed
    cellAt(2, 0, 7).effect = 0xF, cellAt(2, 0, 7).effectParam = 3;
    cellAt(5, 0, 40).effect = 0xD, cellAt(5, 0, 40).effectParam = 0x30;  // to row 48 of slot 1
    cellAt(4, 1, 20).effect = 0xF, cellAt(4, 1, 20).effectParam = 1;
    cellAt(0, 2, 10).effect = 0xE, cellAt(0, 2, 10).effectParam = 0x55;   // reserved: nothing
    cellAt(7, 2, 12).effect = 0x1B, cellAt(7, 2, 12).effectParam = 0x00;  // above 15: nothing
    cellAt(3, 1, 30).effect = 0xB, cellAt(3, 1, 30).effectParam = 3;      // slot 3 (pattern 1) at speed 1
    cellAt(6, 2, 63).effect = 0xB, cellAt(6, 2, 63).effectParam = 1;      // back to slot 1
}

TEST_F(FastRender, PlaybackInBlocksOfAnySizeAndTheExportGiveTheSameValues) {
    // From the same voices and seed, playback through blocks of 64, 128, 512 and odd sizes and
    // the export give every channel the same values bit for bit, and the export's samples are
    // the playback mix quantised the export's way; with every effect too.
    for (bool withEffects : {false, true}) {
        SCOPED_TRACE(withEffects ? "every effect" : "no effects");
        resetEngine();
        renderThreads = 2;
        song.speed = 2;
        if (withEffects)
            fillEffects();
        else
            fillSong(2, true, 21);
        const Snapshot start = take();
        seedNoise(5);
        const Collected exported = exportRender();
        // With effects: slot 0 rows 0-6 at speed 2 and 7-40 at 3 (F03), the break to row 48 of
        // slot 1, slot 2 whole, its jump to slot 1 row 0, rows 20-30 at 1 (F01), the jump to slot 3
        // (pattern 1 again) rows 0-30 at 1, then the jump back to slot 3 row 0 at speed 1: a loop.
        const uint64_t frames =
            withEffects ? 7 * 2000 + 34 * 3000 + 16 * 3000 + 64 * 3000 + 20 * 3000 + 11 * 1000 + 20 * 1000 + 11 * 1000
                        : 2 * 64 * 2000;
        ASSERT_EQ(exported.mix.size(), frames);
        ASSERT_EQ(exportFrameCount(), frames);
        EXPECT_EQ(transport.orderPos, withEffects ? 3 : 2);
        const Snapshot exportedAfter = take();
        for (unsigned block : {64u, 128u, 512u, 1u, 77u, 1001u, 4099u}) {
            SCOPED_TRACE("blocks of " + std::to_string(block));
            restore(start);
            seedNoise(5);
            const Collected played = playbackRender(block);
            for (int c = 0; c < ChannelCount; ++c)
                EXPECT_TRUE(sameBits(played.channels[c], exported.channels[c])) << "channel " << c;
            EXPECT_EQ(played.mix, exported.mix);
            const Snapshot after = take();
            for (int c = 0; c < ChannelCount; ++c) {
                EXPECT_EQ(after.time[c], exportedAfter.time[c]);
                EXPECT_EQ(after.state[c], exportedAfter.state[c]);
            }
        }
        double loud = 0;
        for (double v : exported.channels[7]) loud = std::max(loud, std::fabs(v));
        EXPECT_GT(loud, 0.1);  // the noise drum really played
    }
}

TEST_F(FastRender, BusySongsStayWithinOneStepOfTheReferenceAtSpeedsOneThreeAndFifteen) {
    // Every 16-bit sample within 1 of the per-frame formulas, drums included; voices, gains and scopes left alike.
    for (int speed : {1, 3, 15}) {
        SCOPED_TRACE("speed " + std::to_string(speed));
        resetEngine();
        song.speed = speed;
        fillSong(speed == 15 ? 1 : 3, true, uint32_t(speed));
        noteOn(*instruments[2], 40);  // sounding before the export, on a channel without a first-row note
        cellAt(2, 0, 0).note = 0;
        Outcome o = renderBoth();
        ASSERT_EQ(o.fast.size(), exportFrameCount());
        EXPECT_LE(worstStep(o), 1);
        expectSameVoices(o.after, o.fastAfter, {0, 1, 2, 3, 4, 5, 6, 7});
        EXPECT_EQ(o.after.arpStep, o.fastAfter.arpStep);
        EXPECT_EQ(o.orderPos, o.fastOrderPos);
    }
}

TEST_F(FastRender, ScalarKernelsGiveTheReferenceExactlyOnOneOrTwoThreads) {
    // With the C library sine the engine rounds like the voices: identical samples and state, drums included.
    useKernels(1);
    for (int threads : {1, 2}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        resetEngine();
        useKernels(1);
        song.speed = 2;
        fillSong(2, true, 11);
        renderThreads = threads;
        Outcome o = renderBoth();
        EXPECT_EQ(worstStep(o), 0);
        for (int c = 0; c < ChannelCount; ++c) EXPECT_EQ(o.after.state[c], o.fastAfter.state[c]) << c;
        expectSameVoices(o.after, o.fastAfter, {0, 1, 2, 3, 4, 5, 6, 7});
    }
}

TEST_F(FastRender, EveryEffectPlaysAsTheReferenceTickByTick) {
    // A song with every effect on every channel and a course of speed changes, a break and jumps: with
    // the C library sine the same samples as the per-frame reference, and within one step with the vector
    // kernels; voices, gains and scopes left alike, and the order position.
    for (int lanes : {1, 8}) {
        SCOPED_TRACE(std::to_string(lanes) + " lanes");
        resetEngine();
        useKernels(lanes);
        song.speed = 2;
        fillEffects();
        Outcome o = renderBoth();
        ASSERT_EQ(o.reference.size(), o.fast.size());
        EXPECT_LE(worstStep(o), lanes == 1 ? 0 : 1);
        expectSameVoices(o.after, o.fastAfter, {0, 1, 2, 3, 4, 5, 6, 7});
        EXPECT_EQ(o.orderPos, o.fastOrderPos);
    }
}

TEST_F(FastRender, ArpeggioStepsLandOnTheSameSamplesAcrossBlocks) {
    // Ins0_1 doubles its pitch at n = 999 and 1999 and returns at 2999, wherever the blocks split.
    song.speed = 7;  // 7000-frame rows: blocks of 2048 cut the steps at odd places
    cellAt(1, 0, 0).note = 50;
    cellAt(1, 0, 5).note = 62;  // retrigger: the arpeggio restarts at the base pitch
    cellAt(1, 0, 9).volume = 60;
    noteOn(*instruments[1], 30);
    instruments[1]->time = 1500;  // mid-arpeggio before the export starts
    static_cast<Ins0_1*>(instruments[1])->arpStep = 1;
    Outcome o = renderBoth();
    EXPECT_LE(worstStep(o), 1);
    expectSameVoices(o.after, o.fastAfter, {1});
    EXPECT_EQ(o.after.arpStep, o.fastAfter.arpStep);
}

TEST_F(FastRender, DamagedValuesRenderAsTheReferenceDoes) {
    // Speed 0 is one tick per row, orders 64..254 are empty patterns, volumes above 80 clip at 32767.
    song.speed = 0;
    fillSong(4, false, 5);
    song.orders[1] = 64;
    song.orders[2] = 254;
    for (int c = 0; c < 6; ++c) cellAt(c, 0, 0).note = 60, cellAt(c, 0, 0).volume = 255;
    Outcome o = renderBoth();
    ASSERT_EQ(o.fast.size(), 4u * 64 * 1000);
    EXPECT_LE(worstStep(o), 1);
    EXPECT_EQ(*std::max_element(o.fast.begin(), o.fast.end()), 32767);
    expectSameVoices(o.after, o.fastAfter, {0, 1, 2, 3, 4, 5});
}

TEST_F(FastRender, FullOrderListEndsOnSlotZero) {
    // 64 slots and no end marker: the render stops after slot 63 and leaves a valid slot behind.
    song.speed = 1;
    for (int s = 0; s < OrderSlots; ++s) song.orders[s] = s % 2 ? 200 : 0;
    cellAt(3, 0, 0).note = 30;
    Outcome o = renderBoth();
    EXPECT_EQ(o.fast.size(), 64u * 64 * 1000);
    EXPECT_LE(worstStep(o), 1);
    EXPECT_EQ(o.fastOrderPos, 0);
    EXPECT_EQ(o.orderPos, o.fastOrderPos);
}

TEST_F(FastRender, VoiceNearTheEndOfItsIndexStaysOnItsLastIndex) {
    // A voice whose time would pass INT32_MAX stops counting there, as in the per-frame step.
    song.speed = 1;
    noteOn(*instruments[0], 40);
    noteOn(*instruments[3], 40);
    instruments[0]->time = INT32_MAX - 100;
    instruments[3]->time = INT32_MAX - 3000;
    Outcome o = renderBoth();
    EXPECT_LE(worstStep(o), 1);
    EXPECT_EQ(o.fastAfter.time[0], INT32_MAX);
    expectSameVoices(o.after, o.fastAfter, {0, 3});
}

TEST_F(FastRender, ToneDrumAfterASilentStretchStartsFromTheSameMemory) {
    // Past T = 10000 the drum is silent but its memory runs on; the next note starts from it.
    song.speed = 15;
    cellAt(6, 0, 0).note = 12 * 3 + 3;
    cellAt(6, 0, 3).note = 12 * 4 + 3;  // 45000 frames later
    cellAt(6, 0, 5).note = 12 * 2 + 3;
    Outcome o = renderBoth();
    EXPECT_LE(worstStep(o), 1);
    EXPECT_NEAR(o.fastAfter.state[6], o.after.state[6], 1e-5);
    EXPECT_EQ(o.fastAfter.time[6], o.after.time[6]);
}

TEST_F(FastRender, ProgressIsReportedFromTheCallingThreadAtLeastEverySecondOfSong) {
    // exportProgress runs on the thread that renders, never a helper thread, and never falls far behind.
    song.speed = 5;
    fillSong(3, true, 3);
    static std::thread::id caller;
    static uint64_t last, widestGap;
    static bool otherThread;
    caller = std::this_thread::get_id();
    last = widestGap = 0;
    otherThread = false;
    exportProgress = [](uint64_t done, uint64_t) {
        if (std::this_thread::get_id() != caller) otherThread = true;
        widestGap = std::max(widestGap, done - last);
        last = done;
    };
    const Collected out = exportRender();
    EXPECT_FALSE(otherThread);
    EXPECT_LE(widestGap, 44100u + RunFrames);
    EXPECT_GT(last + 44100, out.mix.size());
}

TEST(RenderKernels, QuotientsByAFixedDivisorAreTheDivisionsOwn) {
    // The vector kernels divide by a run's fixed divisor through its reciprocal and two
    // corrections; every quotient must equal the correctly rounded division bit for bit.
    const std::vector<const RenderKernels*> sets = kernelsOfThisMachine();
    uint64_t r = 99;
    auto next = [&r] {
        r = r * 6364136223846793005ull + 1442695040888963407ull;
        return r >> 11;  // 53 random bits
    };
    const int n = 1024;
    std::vector<double> a(n + RunSlack), q(n + RunSlack);
    for (int trial = 0; trial < 3000; ++trial) {
        // Divisors as the voices make them: 44100 over rates from 1e-4 to 1e9.
        double rate = std::ldexp(double(next()) / 9007199254740992.0 + 0.5, int(next() % 44) - 14);
        double divisor = 44100.0 / rate;
        for (int i = 0; i < n; ++i)  // sample times (whole numbers) and warped, fractional ones
            a[i] = i % 2 ? double(next() % 2000000000 + 1)
                         : double(next() % 100000000) + double(next()) / 9007199254740992.0;
        for (const RenderKernels* k : sets) {
            k->divide(a.data(), divisor, n, q.data());
            for (int i = 0; i < n; ++i)
                ASSERT_EQ(q[i], a[i] / divisor) << a[i] << " / " << divisor << ", " << k->lanes << " lanes";
        }
    }
}

TEST(RenderKernels, SinesAreWithinTwoUlpOfTheLibrarysForEveryArgumentTheVoicesMake) {
    // The vector kernels take their own sine: within 2 ulp of the C library's sine from 10^-3
    // to 10^10.5 and near multiples of pi (where the result is tiny), with no slow arguments.
    const std::vector<const RenderKernels*> sets = kernelsOfThisMachine();
    uint64_t r = 7;
    auto uniform = [&r] {
        r = r * 6364136223846793005ull + 1442695040888963407ull;
        return double(r >> 11) / 9007199254740992.0;
    };
    const int n = 1 << 18;
    std::vector<double> a(n + RunSlack), s(n + RunSlack);
    for (int i = 0; i < n; ++i) a[i] = std::pow(10.0, -3.0 + 13.5 * uniform()) * (i % 2 ? -1.0 : 1.0);
    for (int i = 0; i < 2000; ++i) a[i] = std::nearbyint(a[i + 2000] / M_PI) * M_PI;  // sin close to 0
    for (const RenderKernels* k : sets) {
        k->sine(a.data(), n, s.data());
        for (int i = 0; i < n; ++i) {
            const double expected = std::sin(a[i]);
            const double ulp = std::nextafter(std::fabs(expected), 1.0) - std::fabs(expected);
            ASSERT_LE(std::fabs(s[i] - expected), 2.0 * ulp) << "sin(" << a[i] << "), " << k->lanes << " lanes";
        }
    }
}
