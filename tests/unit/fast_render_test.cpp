// The export's block renderer against the straightforward engine: the
// reference below is the per-frame loop (renderChannel for channels 0..7,
// float32 sum, position advance without looping) that the export ran before.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "audio/export.h"
#include "audio/fast_render.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"

namespace {

// ---- the reference engine ----------------------------------------------------

int16_t referenceSample(float sum) {
    double s = double(sum / ChannelCount) * 32767.5;
    if (s > 32767.0) s = 32767.0;
    if (s < -32767.0) s = -32767.0;
    return int16_t(s);
}

// Advances one frame; false after the last frame of the song.
bool referenceAdvance() {
    if (tickFrame + 1 < FramesPerTick) return tickFrame = tickFrame + 1, true;
    tickFrame = 0;
    if (tick + 1 < song.speed) return tick = tick + 1, true;
    tick = 0;
    if (currentRow + 1 < RowsPerPattern) return currentRow = currentRow + 1, true;
    currentRow = 0;
    int slot = orderPos + 1;
    if (slot >= OrderSlots) return orderPos = 0, false;
    orderPos = slot;
    currentPattern = song.orders[slot].load();
    return song.orders[slot] != OrderEmpty;
}

std::vector<int16_t> referenceRender() {
    std::vector<int16_t> out;
    playing = false;
    currentRow = 0, tick = 0, tickFrame = 0, orderPos = 0;
    currentPattern = song.orders[0].load();
    exporting = true;
    bool more = song.orders[0] != OrderEmpty;
    while (more) {
        float sum = 0.0f;
        for (int c = 0; c < ChannelCount; ++c) sum = float(double(sum) + renderChannel(c));
        out.push_back(referenceSample(sum));
        more = referenceAdvance();
    }
    exporting = false;
    currentPattern = 0, currentRow = 0, tick = 0, tickFrame = 0;
    return out;
}

std::vector<int16_t> fastRender() {
    std::vector<int16_t> out;
    renderSong(
        [](const int16_t* s, const double* const*, int n, void* ctx) {
            static_cast<std::vector<int16_t>*>(ctx)->insert(static_cast<std::vector<int16_t>*>(ctx)->end(), s, s + n);
            return true;
        },
        &out);
    return out;
}

// ---- voices, gains and scopes before and after -------------------------------

struct Snapshot {
    int32_t time[8], note[8], arpStep;
    float freq[8], state[8], gain[8], scope[8][ScopeLength];
    int32_t scopeIndex[8];
};

Snapshot take() {
    Snapshot s;
    for (int c = 0; c < 8; ++c) {
        Instrument& v = *instruments[c];
        s.time[c] = v.time, s.note[c] = v.note, s.freq[c] = v.freq, s.state[c] = v.state;
        s.gain[c] = song.channels[c].gain;
        s.scopeIndex[c] = song.channels[c].scope.writeIndex;
        for (int i = 0; i < ScopeLength; ++i) s.scope[c][i] = song.channels[c].scope.samples[i];
    }
    s.arpStep = static_cast<Ins0_1*>(instruments[1])->arpStep;
    return s;
}

void restore(const Snapshot& s) {
    for (int c = 0; c < 8; ++c) {
        Instrument& v = *instruments[c];
        v.time = s.time[c], v.note = s.note[c], v.freq = s.freq[c], v.state = s.state[c];
        song.channels[c].gain = s.gain[c];
        song.channels[c].scope.writeIndex = s.scopeIndex[c];
        for (int i = 0; i < ScopeLength; ++i) song.channels[c].scope.samples[i] = s.scope[c][i];
    }
    static_cast<Ins0_1*>(instruments[1])->arpStep = s.arpStep;
}

void silenceVoices() {
    for (Instrument* v : instruments) v->note = -1, v->time = 0, v->freq = 0.0f, v->state = 0.0f;
    static_cast<Ins0_1*>(instruments[1])->arpStep = 0;
}

struct Outcome {
    std::vector<int16_t> reference, fast;
    Snapshot after, fastAfter;
    int32_t orderPos, fastOrderPos;
};

// Renders the current song both ways from the same starting voices.
Outcome renderBoth() {
    Outcome o;
    Snapshot before = take();
    seedNoise(7);
    o.reference = referenceRender();
    o.after = take();
    o.orderPos = orderPos;
    restore(before);
    seedNoise(7);
    o.fast = fastRender();
    o.fastAfter = take();
    o.fastOrderPos = orderPos;
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
    uint32_t r = seed;
    auto next = [&r](uint32_t m) {
        r = r * 1664525u + 1013904223u;
        return (r >> 8) % m;
    };
    for (int p = 0; p < patterns; ++p) {
        song.orders[p] = p;
        for (int row = 0; row < RowsPerPattern; ++row)
            for (int c = 0; c < (drums ? 8 : 6); ++c) {
                Cell& cell = cellAt(c, p, row);
                uint32_t pick = next(10);
                if (c >= 6)
                    cell.note = pick < 4 ? int32_t(12 * (1 + next(8)) + (pick % 2 ? 3 : 5)) : 0;
                else if (c == 1 && row % 16 != 0)
                    continue;  // the arpeggio holds its notes across many blocks
                else if (pick < 5)
                    cell.note = int32_t(3 + next(100));
                if (pick >= 3 && pick < 7) cell.volume = int32_t(16 + next(65));
            }
    }
    if (patterns < OrderSlots) song.orders[patterns] = OrderEmpty;
}

class FastRender : public ::testing::Test {
protected:
    void SetUp() override {
        initSong();
        silenceVoices();
        exporting = false;
        streamActive = false;
        exportProgress = nullptr;
        renderMaxLanes = 8;
        renderThreads = 2;
    }
    void TearDown() override {
        renderMaxLanes = 8;
        renderThreads = std::thread::hardware_concurrency() >= 2 ? 2 : 1;
        exportProgress = nullptr;
    }
};

}  // namespace

TEST_F(FastRender, SongsWithoutDrumsStayWithinOneStepAtSpeedsOneThreeAndFifteen) {
    // Every 16-bit sample within 1 of the per-frame engine; voices, gains and scopes left alike.
    for (int lanes : {4, 8}) {
        renderMaxLanes = lanes;
        if (chosenKernels().lanes != lanes) continue;  // this processor lacks that vector unit
        for (int speed : {1, 3, 15}) {
            SCOPED_TRACE("speed " + std::to_string(speed) + ", " + std::to_string(lanes) + " lanes");
            initSong();
            silenceVoices();
            song.speed = speed;
            fillSong(speed == 15 ? 1 : 3, false, uint32_t(speed));
            noteOn(*instruments[2], 40);  // sounding before the export, on a channel without a first-row note
            cellAt(2, 0, 0).note = 0;
            Outcome o = renderBoth();
            ASSERT_EQ(o.fast.size(), exportFrameCount());
            EXPECT_LE(worstStep(o), 1);
            expectSameVoices(o.after, o.fastAfter, {0, 1, 2, 3, 4, 5});
            EXPECT_EQ(o.after.arpStep, o.fastAfter.arpStep);
            EXPECT_EQ(o.orderPos, o.fastOrderPos);
        }
    }
}

TEST_F(FastRender, ScalarKernelsGiveTheReferenceExactlyOnOneOrTwoThreads) {
    // With the C library sine the block renderer rounds like the voices: identical samples and state.
    renderMaxLanes = 1;
    for (int threads : {1, 2}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        initSong();
        silenceVoices();
        song.speed = 2;
        fillSong(2, false, 11);
        renderThreads = threads;
        Outcome o = renderBoth();
        EXPECT_EQ(worstStep(o), 0);
        for (int c = 0; c < 6; ++c) EXPECT_EQ(o.after.state[c], o.fastAfter.state[c]) << c;
        expectSameVoices(o.after, o.fastAfter, {0, 1, 2, 3, 4, 5});
    }
}

TEST_F(FastRender, ArpeggioStepsLandOnTheSameSamplesAcrossBlocks) {
    // Ins0_1 doubles its pitch at n = 999 and 1999 and returns at 2999, wherever the blocks split.
    song.speed = 7;  // 7000-frame rows: runs of 2048 cut the steps at odd places
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

TEST_F(FastRender, ChannelsSharingAVoiceRenderFrameByFrame) {
    // A damaged instrument slot makes two channels pull from one voice, interleaved per frame.
    song.channels[4].instrumentSlot = 0;
    cellAt(0, 0, 0).note = 40;
    cellAt(4, 0, 10).note = 52;
    Outcome o = renderBoth();
    EXPECT_EQ(worstStep(o), 0);
    expectSameVoices(o.after, o.fastAfter, {0, 4});
}

TEST_F(FastRender, DrumsKeepTheReferenceEnvelope) {
    // Tone and noise drums: the RMS of every 500-frame stretch within a few percent of the reference.
    song.speed = 3;
    for (int row = 0; row < RowsPerPattern; row += 2) {
        cellAt(6, 0, row).note = 12 * (1 + row % 5) + 3;           // tone drum
        cellAt(7, 0, row).note = 12 * (1 + row % 3) + (row % 8 ? 5 : 3);  // mostly noise
        if (row % 6 == 0) cellAt(7, 0, row + 1).volume = 40;
    }
    Outcome o = renderBoth();
    ASSERT_EQ(o.fast.size(), o.reference.size());
    int loud = 0;
    for (size_t at = 0; at + 500 <= o.fast.size(); at += 500) {
        double a = 0, b = 0;
        for (size_t i = at; i < at + 500; ++i) a += double(o.reference[i]) * o.reference[i], b += double(o.fast[i]) * o.fast[i];
        a = std::sqrt(a / 500), b = std::sqrt(b / 500);
        if (a > 200) ++loud;
        EXPECT_NEAR(b, a, 0.06 * a + 3) << "frames from " << at;
    }
    EXPECT_GT(loud, 50);  // the song really is loud most of the time
    for (int c : {6, 7}) {
        EXPECT_EQ(o.after.time[c], o.fastAfter.time[c]);
        EXPECT_EQ(o.after.note[c], o.fastAfter.note[c]);
        EXPECT_EQ(o.after.gain[c], o.fastAfter.gain[c]);
        EXPECT_EQ(o.after.scopeIndex[c], o.fastAfter.scopeIndex[c]);
    }
}

TEST_F(FastRender, ToneDrumAfterASilentStretchStartsFromTheSameMemory) {
    // Past T = 10000 the drum is silent but its memory runs on; the next note starts from it.
    song.speed = 15;
    cellAt(6, 0, 0).note = 12 * 3 + 3;
    cellAt(6, 0, 3).note = 12 * 4 + 3;  // 45000 frames later
    cellAt(6, 0, 5).note = 12 * 2 + 3;
    song.orders[0] = 0;
    Outcome o = renderBoth();
    ASSERT_EQ(o.fast.size(), o.reference.size());
    for (int row : {3, 5}) {  // the first 2000 frames of each later note
        double a = 0, b = 0;
        for (size_t i = size_t(row) * 15000; i < size_t(row) * 15000 + 2000; ++i)
            a += double(o.reference[i]) * o.reference[i], b += double(o.fast[i]) * o.fast[i];
        EXPECT_GT(a, 0.0);
        EXPECT_NEAR(std::sqrt(b), std::sqrt(a), 0.02 * std::sqrt(a)) << "row " << row;
    }
    EXPECT_NEAR(o.fastAfter.state[6], o.after.state[6], 1e-3);
    EXPECT_EQ(o.fastAfter.time[6], o.after.time[6]);
}

TEST_F(FastRender, DrumsBesideTheOtherVoicesLeaveThemUntouched) {
    // With all eight channels busy, the six pitched voices end as in the per-frame engine.
    song.speed = 2;
    fillSong(2, true, 9);
    Outcome o = renderBoth();
    EXPECT_EQ(o.fast.size(), o.reference.size());
    expectSameVoices(o.after, o.fastAfter, {0, 1, 2, 3, 4, 5});
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
    std::vector<int16_t> out = fastRender();
    EXPECT_FALSE(otherThread);
    EXPECT_LE(widestGap, 44100u + RunFrames);
    EXPECT_GT(last + 44100, out.size());
}

TEST(RenderKernels, QuotientsByAFixedDivisorAreTheDivisionsOwn) {
    // The vector kernels divide by a run's fixed divisor through its reciprocal and two
    // corrections; every quotient must equal the correctly rounded division bit for bit.
    std::vector<const RenderKernels*> sets{&scalarKernels};
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) sets.push_back(&avx2Kernels);
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")) sets.push_back(&avx512Kernels);
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
            a[i] = i % 2 ? double(next() % 2000000000 + 1) : double(next() % 100000000) + double(next()) / 9007199254740992.0;
        for (const RenderKernels* k : sets) {
            k->divide(a.data(), divisor, n, q.data());
            for (int i = 0; i < n; ++i)
                ASSERT_EQ(q[i], a[i] / divisor) << a[i] << " / " << divisor << ", " << k->lanes << " lanes";
        }
    }
}
