// The sequencer: row triggers, gains, the mix, row timing and the order list,
// and the live blocks: what the main thread changes counts from the next
// block, previews included.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

#include "audio/fast_render.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "tests/support/test_support.h"

namespace {

void freshState() {
    resetEngine();
    engine.outputLevel = 0.0;
}

// A sounding voice whose filter memory is so far out that every sample clamps to sign.
void saturate(int channel, int note, float sign) {
    noteOn(*instruments[channel], note);
    instruments[channel]->state = sign * 1e6f;
}

// Drum notes need pitch class 3 to use their memory; the others take any note.
int loudNote(int channel) { return channel >= 6 ? 39 : 40; }

}  // namespace

TEST(Sequencer, NeverTriggeredVoiceYieldsZeroAndKeepsTimeAtZero) {
    // A voice whose note is -1 is not evaluated: the channel gives 0 and its time stays 0.
    freshState();
    for (int f = 0; f < 100; ++f)
        for (int c = 0; c < ChannelCount; ++c) ASSERT_EQ(renderChannel(c), 0.0);
    for (Instrument* v : instruments) EXPECT_EQ(v->time, 0);
}

TEST(Sequencer, RowTriggerStartsNotesAndSetsGainFromNoteAndVolume) {
    // At tick 0 frame 0 of a row: a note starts the voice with gain 0.75; a volume v > 9 then sets (v-16)/64.
    freshState();
    transport.playing = true;
    cellAt(0, 0, 0).note = 40;
    cellAt(1, 0, 0).note = 41;
    cellAt(1, 0, 0).volume = 48;
    cellAt(2, 0, 0).volume = 80;
    cellAt(3, 0, 0).volume = 10;
    cellAt(4, 0, 0).volume = 9;
    frame();
    EXPECT_EQ(instruments[0]->note, 40);
    EXPECT_EQ(instruments[0]->time, 1);
    EXPECT_EQ(song.channels[0].gain, 0.75f);
    EXPECT_EQ(instruments[1]->note, 41);
    EXPECT_EQ(song.channels[1].gain, 0.5f);
    EXPECT_EQ(instruments[2]->note, -1);  // a volume alone starts nothing
    EXPECT_EQ(song.channels[2].gain, 1.0f);
    EXPECT_EQ(song.channels[3].gain, -0.09375f);  // 10..15: a small negative gain
    EXPECT_EQ(song.channels[4].gain, 1.0f);       // 9 and below are no volume
    // Only the row's first frame triggers.
    for (int f = 1; f < 500; ++f) frame();
    EXPECT_EQ(instruments[0]->time, 500);
}

TEST(Sequencer, VolumeWithoutNoteChangesGainOfTheSoundingNote) {
    // A volume-only cell rescales the note already sounding; an empty cell changes nothing; 16 silences.
    freshState();
    song.speed = 1;
    transport.playing = true;
    cellAt(3, 0, 0).note = 40;
    cellAt(3, 0, 2).volume = 48;
    cellAt(3, 0, 3).volume = 16;
    saturate(3, 40, 1);
    for (int f = 0; f < 1000; ++f) frame();  // row 0
    instruments[3]->state = 1e6f;
    for (int f = 0; f < 1000; ++f) frame();  // row 1: empty, keeps 0.75
    EXPECT_EQ(song.channels[3].gain, 0.75f);
    EXPECT_EQ(instruments[3]->time, 2000);
    ASSERT_EQ(transport.currentRow, 2);  // first frame of row 2: its volume applies now
    instruments[3]->state = 1e6f;
    EXPECT_EQ(renderChannel(3), 0.5);
    EXPECT_EQ(instruments[3]->time, 2001);  // not restarted
    transport.currentRow = 3;
    EXPECT_EQ(renderChannel(3), 0.0);
}

TEST(Sequencer, ClampGainAndScopeRing) {
    // Voice output is clamped to [-1, 1], multiplied by the gain, and written to the scope ring after the gain.
    freshState();
    saturate(5, 40, -1);
    song.channels[5].gain = 0.25f;
    ScopeBuffer& scope = song.channels[5].scope;
    scope.writeIndex = 78;
    EXPECT_EQ(renderChannel(5), -0.25);
    EXPECT_EQ(scope.samples[78], -0.25f);
    EXPECT_EQ(renderChannel(5), -0.25);
    EXPECT_EQ(scope.samples[79], -0.25f);
    EXPECT_EQ(scope.writeIndex, 0);  // wraps after 80
}

TEST(Sequencer, PreviewSoundsAtTheChannelsCurrentGain) {
    // A note started outside playback sounds at the gain left by the last trigger, 1.0 before any.
    freshState();
    saturate(0, 40, 1);
    EXPECT_EQ(renderChannel(0), 1.0);
    song.channels[0].gain = 0.5f;
    EXPECT_EQ(renderChannel(0), 0.5);
}

TEST(Sequencer, MixIsTheMeanOfEightWithMutedChannelsLeftOut) {
    // Output = sum of unmuted channels / 8: all eight at full scale give +-1, one gives +-0.125.
    freshState();
    for (int c = 0; c < ChannelCount; ++c) saturate(c, loudNote(c), 1);
    EXPECT_EQ(frame(), 1.0);
    for (int c = 0; c < ChannelCount; ++c) saturate(c, loudNote(c), -1);
    EXPECT_EQ(frame(), -1.0);

    freshState();
    saturate(2, 40, -1);
    EXPECT_EQ(frame(), -0.125);
    // Muted: still rendered (time advances, scope written), but out of the mix and the level.
    transport.muted[2] = true;
    double level = engine.outputLevel;
    EXPECT_EQ(frame(), 0.0);
    EXPECT_EQ(instruments[2]->time, 2);
    EXPECT_EQ(song.channels[2].scope.samples[1], -1.0f);
    EXPECT_DOUBLE_EQ(engine.outputLevel, level * 0.999);
    transport.muted[2] = false;
    EXPECT_EQ(frame(), -0.125);
}

TEST(Sequencer, OutputLevelIsSmoothedMeanAbsoluteValue) {
    // level = (sum of |v| / 8) * 0.001 + level * 0.999.
    freshState();
    engine.outputLevel = 0.5;
    saturate(1, 40, -1);
    saturate(3, 40, 1);
    frame();
    EXPECT_DOUBLE_EQ(engine.outputLevel, 0.25 * 0.001 + 0.5 * 0.999);
}

TEST(Sequencer, RowLastsSpeedTicksOfThousandFrames) {
    // Speed 1: 1000 frames a row; 15: 15000 (damaged speeds: damaged_song_test).
    freshState();
    transport.playing = true;
    for (int speed : {1, 3, 15}) {
        song.speed = speed;
        framesInRow();  // align to a row start
        EXPECT_EQ(framesInRow(), 1000 * speed) << "speed " << speed;
    }
    transport.playing = false;
    int row = transport.currentRow;
    for (int f = 0; f < 2000; ++f) frame();
    EXPECT_EQ(transport.currentRow, row);  // stopped: no advance
}

TEST(Sequencer, LoweringSpeedBelowTickEndsRowAtNextTick) {
    // Speed lowered below the current tick: the row ends when the next tick begins, never stalls.
    freshState();
    transport.playing = true;
    song.speed = 8;
    for (int f = 0; f < 5 * 1000 + 300; ++f) frame();
    ASSERT_EQ(transport.tick, 5);
    song.speed = 2;
    EXPECT_EQ(framesInRow(), 700);
    EXPECT_EQ(transport.tick, 0);
    EXPECT_EQ(transport.tickFrame, 0);
}

TEST(Sequencer, OrderListWrapsAtEmptySlotAndAfterSlot63) {
    // After row 63: next slot; an empty next slot or the end of the list returns to slot 0.
    freshState();
    transport.playing = true;
    song.speed = 1;
    song.orders[0] = 5;
    song.orders[1] = 7;
    transport.currentPattern = 5;
    for (int i = 0; i < 64 * 1000; ++i) advancePlayPosition();
    EXPECT_EQ(transport.orderPos, 1);
    EXPECT_EQ(transport.currentPattern, 7);
    for (int i = 0; i < 64 * 1000; ++i) advancePlayPosition();
    EXPECT_EQ(transport.orderPos, 0);
    EXPECT_EQ(transport.currentPattern, 5);
    EXPECT_EQ(transport.currentRow, 0);

    for (int s = 0; s < OrderSlots; ++s) song.orders[s] = 63 - s;
    transport.orderPos = 63;
    transport.currentPattern = 0;
    transport.currentRow = 63;
    for (int i = 0; i < 1000; ++i) advancePlayPosition();
    EXPECT_EQ(transport.orderPos, 0);
    EXPECT_EQ(transport.currentPattern, 63);
}

TEST(Sequencer, ShownPatternPlaysFirstThenTheSlotAfterOrderPos) {
    // Starting with a pattern other than orders[orderPos] plays it, then continues at orderPos + 1.
    freshState();
    transport.playing = true;
    song.speed = 1;
    song.orders[1] = 1;
    song.orders[2] = 2;
    transport.currentPattern = 2;
    for (int i = 0; i < 64 * 1000; ++i) advancePlayPosition();
    EXPECT_EQ(transport.orderPos, 1);
    EXPECT_EQ(transport.currentPattern, 1);
}

TEST(Sequencer, BlockIsSilentAndTouchesNothingWhileExporting) {
    // While exporting, fillBlock writes n zeros for any n (0, odd, even), marks exportSeen, advances nothing.
    freshState();
    transport.playing = true;
    saturate(0, 40, 1);
    transport.tickFrame = 17;
    engine.outputLevel = 0.3;
    engine.exporting = true;
    double block[513];
    for (unsigned n : {0u, 1u, 7u, 512u, 513u}) {
        for (double& x : block) x = 9.0;
        engine.exportSeen = false;
        fillBlock(block, n);
        for (unsigned i = 0; i < n; ++i) ASSERT_EQ(block[i], 0.0);
        if (n < 513) {
            EXPECT_EQ(block[n], 9.0);  // nothing past the block
        }
        EXPECT_TRUE(engine.exportSeen);
    }
    EXPECT_EQ(transport.tickFrame, 17);
    EXPECT_EQ(instruments[0]->time, 0);
    EXPECT_EQ(engine.outputLevel, 0.3);
    EXPECT_EQ(song.channels[0].scope.writeIndex, 0);

    // Not exporting: one mixed frame per sample, the position moves n frames.
    engine.exporting = false;
    engine.exportSeen = false;
    fillBlock(block, 100);
    EXPECT_EQ(block[0], 0.125);
    EXPECT_EQ(block[99], 0.125);
    EXPECT_EQ(transport.tickFrame, 117);
    EXPECT_FALSE(engine.exportSeen);
}

TEST(Sequencer, VoiceLeftSoundingForHoursNeverOverflowsItsTime) {
    // time counts samples since the note-on; at the largest index it stays there instead of wrapping negative.
    freshState();
    noteOn(*instruments[2], 40);
    instruments[2]->time = INT32_MAX - 1;
    renderChannel(2);
    EXPECT_EQ(instruments[2]->time, INT32_MAX);
    double v = renderChannel(2);
    EXPECT_EQ(instruments[2]->time, INT32_MAX);
    EXPECT_LT(std::fabs(v), 1e-3);  // the envelope is long gone: no burst from a wrapped index
}

namespace {

// A block with every channel's values kept.
struct Block {
    std::vector<double> mix, values[ChannelCount];
    double* channels[ChannelCount];
    explicit Block(unsigned frames) : mix(frames) {
        for (int c = 0; c < ChannelCount; ++c) values[c].resize(frames), channels[c] = values[c].data();
    }
    void fill() { fillBlock(mix.data(), unsigned(mix.size()), channels); }
};

}  // namespace

TEST(Sequencer, RowStartingInsideABlockTriggersAtItsOwnFirstFrame) {
    // A block is cut at row starts: a note on row 1 (frame 1000 at speed 1) sounds from frame 1000, not from the block's start.
    freshState();
    song.speed = 1;
    cellAt(0, 0, 1).note = 40;
    transport.playing = true;
    Block first(600), second(600);
    first.fill();
    second.fill();  // frames 600..1199
    for (int i = 0; i < 400; ++i) ASSERT_EQ(second.values[0][i], 0.0) << i;
    EXPECT_NE(second.values[0][400], 0.0);
    EXPECT_EQ(instruments[0]->note, 40);
    EXPECT_EQ(instruments[0]->time, 200);
    EXPECT_EQ(transport.currentRow, 1);
    EXPECT_EQ(transport.tickFrame, 200);
}

TEST(Sequencer, PreviewStartsItsVoiceAtTheNextBlockAndTheLatestWins) {
    // A preview is handed over, not started: the voice is untouched until the next block, which starts
    // it on its first frame; of two previews before a block the later sounds; voices outside 0..7 are ignored.
    freshState();
    previewNote(2, 40);
    previewNote(2, 52);
    previewNote(8, 40);
    previewNote(-1, 40);
    EXPECT_EQ(instruments[2]->note, -1);
    Block block(64);
    block.fill();
    EXPECT_EQ(instruments[2]->note, 52);
    EXPECT_EQ(instruments[2]->freq, float(pitchOf(52)));
    EXPECT_EQ(instruments[2]->time, 64);
    EXPECT_NE(block.values[2][0], 0.0);
    for (int c : {0, 1, 3, 4, 5, 6, 7}) EXPECT_EQ(instruments[c]->note, -1) << c;
    block.fill();
    EXPECT_EQ(instruments[2]->time, 128);  // handed over once: not started again
}

TEST(Sequencer, PreviewWithoutAStreamSoundsInTheNextExport) {
    // With no callback running, a preview reaches its voice when the export starts and is heard in the file.
    freshState();
    song.speed = 1;
    previewNote(3, 45);
    static double first;
    renderSong(
        [](const int16_t*, const double* const* channels, int, void*) {
            first = channels[3][0];
            return false;  // one block is enough
        },
        nullptr);
    EXPECT_EQ(instruments[3]->note, 45);
    EXPECT_NE(first, 0.0);
}

TEST(Sequencer, PreviewDuringAnExportWaitsForTheNextBlockAfterIt) {
    // A preview handed over while an export renders stays out of the file and starts its voice at the first block after the export.
    freshState();
    song.speed = 1;  // 64000 frames: one progress report at 44100
    cellAt(0, 0, 0).note = 40;
    static std::vector<int16_t> samples;
    const SampleSink collect = [](const int16_t* mix, const double* const*, int n, void*) {
        samples.insert(samples.end(), mix, mix + n);
        return true;
    };
    seedNoise(3);
    samples.clear();
    renderSong(collect, nullptr);
    const std::vector<int16_t> alone = samples;

    resetEngine();
    song.speed = 1;
    cellAt(0, 0, 0).note = 40;
    seedNoise(3);
    samples.clear();
    exportProgress = [](uint64_t, uint64_t) { previewNote(3, 45); };
    renderSong(collect, nullptr);
    exportProgress = nullptr;
    EXPECT_EQ(samples, alone);
    EXPECT_EQ(instruments[3]->note, -1);
    Block block(16);
    block.fill();
    EXPECT_EQ(instruments[3]->note, 45);
    EXPECT_EQ(instruments[3]->time, 16);
}

TEST(Sequencer, CursorMovedWhileABlockRendersIsKept) {
    // The block writes the position back only where the main thread left it alone: a row set during a
    // block is where the next block plays from, never overwritten by the block's own end.
    freshState();
    song.speed = 1;
    transport.playing = true;
    std::atomic<bool> run{true};
    std::atomic<int> requested{0}, completed{0};
    engine.streamActive = true;
    std::thread callback([&] {
        std::vector<double> out(8192);  // eight rows and more per block
        while (run) {
            if (completed.load() == requested.load()) {
                std::this_thread::yield();
                continue;
            }
            fillBlock(out.data(), unsigned(out.size()));
            ++completed;
        }
    });
    auto oneBlock = [&] {
        ++requested;
        while (completed.load() < requested.load()) std::this_thread::yield();
    };
    int lost = 0;
    for (int trial = 0; trial < 40; ++trial) {
        const int target = (transport.currentRow + 32) % RowsPerPattern;  // far from where the block will end
        ++requested;
        std::this_thread::sleep_for(std::chrono::microseconds(40 * (trial % 8)));
        transport.currentRow = target;  // during the block, or just after it
        while (completed.load() < requested.load()) std::this_thread::yield();
        oneBlock();
        // At most two blocks (8192 frames, nine rows each) after the target, when it was
        // written before the first began; a lost target leaves the row 16 behind it.
        const int moved = (transport.currentRow - target + RowsPerPattern) % RowsPerPattern;
        if (moved > 18) ++lost;
    }
    run = false;
    callback.join();
    engine.streamActive = false;
    transport.playing = false;
    EXPECT_EQ(lost, 0);
}

// ---- the effect column ----------------------------------------------------------------

namespace {

// A cell as typed: note (0: none), volume as shown (00..40; -1: none), effect digit, parameter.
struct Typed {
    int row, note, shownVolume, effect, param;
    int channel = 0;
};

void type(const Typed& t, int pattern = 0) {
    Cell& cell = cellAt(t.channel, pattern, t.row);
    cell.note = t.note;
    cell.volume = t.shownVolume < 0 ? 0 : t.shownVolume + 16;
    cell.effect = t.effect;
    cell.effectParam = t.param;
}

// Live playback from slot 0 row 0 through `frames` frames.
void playFrames(int64_t frames) {
    std::vector<double> block(4096);
    transport.playing = true;
    for (int64_t done = 0; done < frames; done += 4096)
        fillBlock(block.data(), unsigned(std::min<int64_t>(4096, frames - done)));
}

// Worked out from the rule: 27.5 x 2^(note / 12) x 2^(s / 192) in double, rounded to float32 once.
float pitch(int note, double sixteenths) {
    return float(27.5 * std::pow(2.0, note * (1.0 / 12.0)) * std::pow(2.0, sixteenths / 192.0));
}

// Sine of a phase given in 64ths of a cycle.
double sine64(int phase) { return std::sin(2.0 * M_PI * phase / 64.0); }

enum class Look { Pitch, Gain, Time, Note };

struct EffectCase {
    const char* rule;
    int speed;
    std::vector<Typed> cells;
    int row, tick;  // looked at on the first frame of this tick, after the row's work there
    Look look;
    double expected;  // Pitch: the offset in sixteenths of the sounding note; Gain: the gain
    int channel = 0;
};

}  // namespace

TEST(Effects, EachEffectGivesThePitchGainAndNoteWorkedOutFromItsRule) {
    // Per effect, at chosen ticks (1000 frames each; tick 0 = the row's first frame): the pitch value
    // pitchOf(note) x 2^(s / 192), the gain (volume steps / 64), the voice's time or note.
    const double v8 = 15 * sine64(8);  // vibrato depth 15 at 8/64 of a cycle
    const EffectCase cases[] = {
        {"1xx: offset + xx at every tick after tick 0", 3, {{0, 40, -1, 1, 0x10}}, 0, 2, Look::Pitch, 32},
        {"1xx: nothing at tick 0", 3, {{0, 40, -1, 1, 0x10}}, 0, 0, Look::Pitch, 0},
        {"1FF: 255 a tick", 3, {{0, 40, -1, 1, 0xFF}}, 0, 2, Look::Pitch, 510},
        {"100: no slide", 3, {{0, 40, -1, 1, 0x00}}, 0, 2, Look::Pitch, 0},
        {"2xx without a note slides the sounding note",
         3,
         {{0, 40, -1, 0, 0}, {1, 0, -1, 2, 0x08}},
         1,
         2,
         Look::Pitch,
         -16},
        {"the offset stays on the rows after", 3, {{0, 40, -1, 1, 0x10}}, 2, 1, Look::Pitch, 32},
        {"a new note resets the offset", 3, {{0, 40, -1, 1, 0x10}, {1, 40, -1, 0, 0}}, 1, 0, Look::Pitch, 0},
        {"3xx moves toward the row's note", 3, {{0, 40, -1, 0, 0}, {1, 44, -1, 3, 0x20}}, 1, 1, Look::Pitch, 32},
        {"3xx stops on the note, not past it", 3, {{0, 40, -1, 0, 0}, {1, 44, -1, 3, 0x30}}, 1, 2, Look::Pitch, 64},
        {"3xx downward", 3, {{0, 40, -1, 0, 0}, {1, 36, -1, 3, 0x40}}, 1, 2, Look::Pitch, -64},
        {"3FF reaches a far note in one tick", 3, {{0, 40, -1, 0, 0}, {1, 52, -1, 3, 0xFF}}, 1, 1, Look::Pitch, 192},
        {"300 continues the last speed toward the last note",
         3,
         {{0, 40, -1, 0, 0}, {1, 44, -1, 3, 0x10}, {2, 0, -1, 3, 0x00}},
         2,
         1,
         Look::Pitch,
         48},
        {"3xx does not retrigger: time runs on", 3, {{0, 40, -1, 0, 0}, {1, 44, -1, 3, 0x10}}, 1, 2, Look::Time, 5001},
        {"3xx keeps the gain: no note-on gain", 3, {{0, 40, 0x20, 0, 0}, {1, 44, -1, 3, 0x10}}, 1, 0, Look::Gain, 0.5},
        {"3xx with nothing sounding starts the note", 3, {{0, 40, -1, 3, 0x10, 2}}, 0, 1, Look::Gain, 0.75, 2},
        {"4xy: y sin(2 pi phase), phase + x/64 a tick", 3, {{0, 40, -1, 4, 0x8F}}, 0, 1, Look::Pitch, v8},
        {"4xy: phase 0 at the new note", 3, {{0, 40, -1, 4, 0x8F}}, 0, 0, Look::Pitch, 0},
        {"4xy: a quarter cycle", 3, {{0, 40, -1, 4, 0x8F}}, 0, 2, Look::Pitch, 15},
        {"400 continues the phase and both values",
         3,
         {{0, 40, -1, 4, 0x8F}, {1, 0, -1, 4, 0x00}},
         1,
         0,
         Look::Pitch,
         15 * sine64(24)},
        {"4x0 keeps the depth, takes the new speed",
         3,
         {{0, 40, -1, 4, 0x8F}, {1, 0, -1, 4, 0x40}},
         1,
         1,
         Look::Pitch,
         15 * sine64(28)},
        {"the phase runs on over a row without vibrato",
         3,
         {{0, 40, -1, 4, 0x81}, {2, 0, -1, 4, 0x00}},
         2,
         0,
         Look::Pitch,
         sine64(24)},
        {"vibrato ends on the next row without it", 3, {{0, 40, -1, 4, 0x8F}}, 1, 0, Look::Pitch, 0},
        {"vibrato swings around a slid pitch",
         3,
         {{0, 40, -1, 1, 0x10}, {1, 0, -1, 4, 0x8F}},
         1,
         1,
         Look::Pitch,
         32 + v8},
        {"4FF", 3, {{0, 40, -1, 4, 0xFF}}, 0, 2, Look::Pitch, 15 * sine64(30)},
        {"400 with nothing remembered: no vibrato", 3, {{0, 40, -1, 4, 0x00}}, 0, 2, Look::Pitch, 0},
        {"5xy: tick 1 + x semitones", 6, {{0, 40, -1, 0, 0}, {1, 0, -1, 5, 0x47}}, 1, 1, Look::Pitch, 64},
        {"5xy: tick 2 + y semitones", 6, {{0, 40, -1, 0, 0}, {1, 0, -1, 5, 0x47}}, 1, 2, Look::Pitch, 112},
        {"5xy: tick 3 the note again", 6, {{0, 40, -1, 0, 0}, {1, 0, -1, 5, 0x47}}, 1, 3, Look::Pitch, 0},
        {"5xy: tick 4 + x again", 6, {{0, 40, -1, 0, 0}, {1, 0, -1, 5, 0x47}}, 1, 4, Look::Pitch, 64},
        {"5xy ends with its row", 6, {{0, 40, -1, 0, 0}, {1, 0, -1, 5, 0x47}}, 2, 0, Look::Pitch, 0},
        {"5FF", 3, {{0, 40, -1, 5, 0xFF}}, 0, 1, Look::Pitch, 240},
        {"5xy on top of a slide", 3, {{0, 40, -1, 1, 0x10}, {1, 0, -1, 5, 0x47}}, 1, 1, Look::Pitch, 32 + 64},
        {"6xy: restarted every y ticks", 6, {{0, 40, 0x20, 6, 0xA2}}, 0, 2, Look::Time, 1},
        {"6xy: volume + (x - 8) at each restart", 6, {{0, 40, 0x20, 6, 0xA2}}, 0, 4, Look::Gain, 36 / 64.0},
        {"6xy: x = 0 lowers by 8", 3, {{0, 40, -1, 6, 0x01}}, 0, 2, Look::Gain, 32 / 64.0},
        {"6Fx: + 7, held at 40", 4, {{0, 40, -1, 6, 0xF1}}, 0, 3, Look::Gain, 1.0},
        {"6x0: no restart", 3, {{0, 40, -1, 6, 0x80}}, 0, 2, Look::Time, 2001},
        {"6xy without a note restarts at tick 0 too", 3, {{0, 40, -1, 0, 0}, {1, 0, -1, 6, 0xA1}}, 1, 0, Look::Time, 1},
        {"6xy without a note: its volume moves at tick 0",
         3,
         {{0, 40, -1, 0, 0}, {1, 0, -1, 6, 0xA1}},
         1,
         0,
         Look::Gain,
         50 / 64.0},
        {"7xy: gain x (1 - y/15 (1 + sin) / 2) at tick 0", 3, {{0, 40, 0x40, 7, 0x8F}}, 0, 0, Look::Gain, 0.5},
        {"7xy: an eighth cycle on", 3, {{0, 40, 0x40, 7, 0x8F}}, 0, 1, Look::Gain, 1 - (1 + sine64(8)) / 2},
        {"7xy: a quarter cycle: silent", 3, {{0, 40, 0x40, 7, 0x8F}}, 0, 2, Look::Gain, 0},
        {"7xy ends with its row", 3, {{0, 40, 0x40, 7, 0x8F}}, 1, 0, Look::Gain, 1},
        {"7x5: a third of the depth", 3, {{0, 40, 0x20, 7, 0x85}}, 0, 0, Look::Gain, 0.5 * (1 - 5 / 15.0 / 2)},
        {"tremolo's phase is its own, not vibrato's",
         3,
         {{0, 40, 0x40, 4, 0x8F}, {1, 0, -1, 7, 0x8F}},
         1,
         0,
         Look::Gain,
         0.5},
        {"8xx: gain 0 at tick xx", 3, {{0, 40, -1, 8, 0x02}}, 0, 2, Look::Gain, 0},
        {"8xx: not before", 3, {{0, 40, -1, 8, 0x02}}, 0, 1, Look::Gain, 0.75},
        {"800 silences the note just started", 3, {{0, 40, -1, 8, 0x00}}, 0, 0, Look::Gain, 0},
        {"800 still starts the note", 3, {{0, 40, -1, 8, 0x00}}, 0, 0, Look::Note, 40},
        {"8xx beyond the row: nothing", 3, {{0, 40, -1, 8, 0x03}}, 1, 0, Look::Gain, 0.75},
        {"8FF: nothing", 3, {{0, 40, -1, 8, 0xFF}}, 0, 2, Look::Gain, 0.75},
        {"9xx: nothing before tick xx", 3, {{0, 40, 0x20, 9, 0x02}}, 0, 1, Look::Note, -1},
        {"9xx: the note at tick xx", 3, {{0, 40, 0x20, 9, 0x02}}, 0, 2, Look::Time, 1},
        {"9xx: the volume at tick xx", 3, {{0, 40, 0x20, 9, 0x02}}, 0, 2, Look::Gain, 0.5},
        {"9xx beyond the row: never played", 3, {{0, 40, 0x20, 9, 0x03}}, 1, 0, Look::Note, -1},
        {"900: at tick 0", 3, {{0, 40, -1, 9, 0x00}}, 0, 0, Look::Note, 40},
        {"Axy: + x a tick after tick 0, held at 40", 3, {{0, 40, 0x3E, 0xA, 0x40}}, 0, 1, Look::Gain, 1.0},
        {"Axy: - y a tick", 3, {{0, 40, 0x20, 0xA, 0x03}}, 0, 2, Look::Gain, 26 / 64.0},
        {"Axy: x wins over y", 3, {{0, 40, 0x20, 0xA, 0x43}}, 0, 2, Look::Gain, 40 / 64.0},
        {"Axy: held at 00", 3, {{0, 40, 0x04, 0xA, 0x0F}}, 0, 1, Look::Gain, 0},
        {"A00: nothing", 3, {{0, 40, -1, 0xA, 0x00}}, 0, 2, Look::Gain, 0.75},
        {"AFF", 3, {{0, 40, -1, 0xA, 0xFF}}, 0, 1, Look::Gain, 63 / 64.0},
        {"Axy without a note, over two rows",
         3,
         {{0, 40, 0x20, 0, 0}, {1, 0, -1, 0xA, 0x10}, {2, 0, -1, 0xA, 0x10}},
         2,
         1,
         Look::Gain,
         35 / 64.0},
        {"Cxx above 40 is 40", 3, {{0, 40, -1, 0xC, 0x50}}, 0, 0, Look::Gain, 1.0},
        {"Cxx overrides the volume column", 3, {{0, 40, 0x10, 0xC, 0x20}}, 0, 0, Look::Gain, 0.5},
        {"C00", 3, {{0, 40, -1, 0xC, 0x00}}, 0, 0, Look::Gain, 0},
        {"Cxx without a note", 3, {{0, 40, -1, 0, 0}, {1, 0, -1, 0xC, 0x10}}, 1, 0, Look::Gain, 0.25},
        {"E is reserved: nothing", 3, {{0, 40, -1, 0xE, 0x12}}, 0, 2, Look::Gain, 0.75},
        {"an effect byte above 15 does nothing", 3, {{0, 40, -1, 0x11, 0x10}}, 0, 2, Look::Pitch, 0},
        {"the tone drum slides its rate, keeps its drum", 3, {{0, 39, -1, 1, 0x10, 6}}, 0, 2, Look::Pitch, 32, 6},
        {"the noise drum restarts for a roll", 3, {{0, 41, -1, 6, 0x81, 7}}, 0, 2, Look::Time, 1, 7},
        {"an effect with nothing sounding starts nothing", 3, {{0, 0, -1, 1, 0x10, 2}}, 0, 2, Look::Note, -1, 2},
    };
    for (const EffectCase& k : cases) {
        SCOPED_TRACE(k.rule);
        freshState();
        song.speed = k.speed;
        for (const Typed& t : k.cells) type(t);
        playFrames((int64_t(k.row) * k.speed + k.tick) * FramesPerTick + 1);
        const Instrument& voice = *instruments[k.channel];
        switch (k.look) {
        case Look::Pitch: EXPECT_EQ(voice.freq, pitch(voice.note, k.expected)); break;
        case Look::Gain: EXPECT_EQ(song.channels[k.channel].gain, float(k.expected)); break;
        case Look::Time: EXPECT_EQ(voice.time, int32_t(k.expected)); break;
        case Look::Note: EXPECT_EQ(voice.note, int32_t(k.expected)); break;
        }
        if (k.channel == 6) {
            EXPECT_EQ(voice.note, 39);  // the drum still chosen from its note
        }
    }
}

TEST(Effects, TheArpeggiatingVoiceKeepsSteppingOnTopOfTheOffset) {
    // The arpeggiating voice (index 1) doubles its pitch at n = 999 and 1999 of a note: a slide moves the pitch it steps from.
    freshState();
    song.speed = 3;
    type({0, 40, -1, 1, 0x10, 1});
    playFrames(1000 + 1);  // tick 1: offset 16, the first step already taken
    EXPECT_EQ(instruments[1]->freq, 2.0f * pitch(40, 16));
    playFrames(1000);  // tick 2: 32, after the second step
    EXPECT_EQ(instruments[1]->freq, 4.0f * pitch(40, 32));
}

TEST(Effects, JumpsAndBreaksChooseTheNextRowAndLivePlaybackLoopsAtTheEnd) {
    // After a row with B xx: row 0 of slot xx; D xx: row xx (at most 63) of the next slot; both: row D of slot B;
    // the highest channel's of each. Past the end (an empty or missing slot) live playback starts again at slot 0.
    struct Case {
        const char* rule;
        std::vector<Typed> cells;  // on row 5 of pattern 0
        int slot, row;
    };
    const Case cases[] = {
        {"B02", {{5, 0, -1, 0xB, 0x02}}, 2, 0},
        {"D10", {{5, 0, -1, 0xD, 0x10}}, 1, 16},
        {"D3F: row 63", {{5, 0, -1, 0xD, 0x3F}}, 1, 63},
        {"DFF: held at row 63", {{5, 0, -1, 0xD, 0xFF}}, 1, 63},
        {"B and D", {{5, 0, -1, 0xB, 0x02, 1}, {5, 0, -1, 0xD, 0x10, 6}}, 2, 16},
        {"the highest channel's B", {{5, 0, -1, 0xB, 0x01, 0}, {5, 0, -1, 0xB, 0x02, 3}}, 2, 0},
        {"the highest channel's D", {{5, 0, -1, 0xD, 0x05, 0}, {5, 0, -1, 0xD, 0x07, 7}}, 1, 7},
        {"B to an empty slot: from the top", {{5, 0, -1, 0xB, 0x05}}, 0, 0},
        {"B out of the list: from the top", {{5, 0, -1, 0xB, 0x40}}, 0, 0},
        {"B back to slot 0", {{5, 0, -1, 0xB, 0x00}}, 0, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.rule);
        freshState();
        song.speed = 1;
        song.orders[1] = 1;
        song.orders[2] = 2;
        for (const Typed& t : k.cells) type(t);
        playFrames(6 * 1000 + 1);  // rows 0..5, then the first frame after them
        EXPECT_EQ(transport.orderPos, k.slot);
        EXPECT_EQ(transport.currentPattern, k.slot);
        EXPECT_EQ(transport.currentRow, k.row);
    }

    // D on the last slot: from the top too.
    freshState();
    song.speed = 1;
    type({5, 0, -1, 0xD, 0x08}, 0);
    playFrames(6 * 1000 + 1);
    EXPECT_EQ(transport.orderPos, 0);
    EXPECT_EQ(transport.currentRow, 0);
}

TEST(Effects, SpeedEffectSetsTheRowLengthFromItsRowOnUntilPlaybackStartsAgain) {
    // Fxx (1..15): this row and the next last xx ticks; the song's speed stays; 00 and above 15 change nothing;
    // stopping and starting again plays at the song's speed; the highest channel wins; F3/F4 take over.
    freshState();
    song.speed = 3;
    type({2, 0, -1, 0xF, 0x06});
    type({4, 0, -1, 0xF, 0x00});
    type({5, 0, -1, 0xF, 0x10});
    type({6, 0, -1, 0xF, 0x02, 1});
    type({6, 0, -1, 0xF, 0x05, 4});
    transport.playing = true;
    std::vector<int> rows;
    for (int r = 0; r < 7; ++r) rows.push_back(framesInRow());
    EXPECT_EQ(rows, (std::vector<int>{3000, 3000, 6000, 6000, 6000, 6000, 5000}));
    EXPECT_EQ(song.speed, 3);
    EXPECT_EQ(framesInRow(), 5000);

    transport.playing = false;
    frame();
    transport.currentRow = 0, transport.tick = 0, transport.tickFrame = 0;
    transport.playing = true;
    EXPECT_EQ(framesInRow(), 3000);

    transport.currentRow = 2;  // its speed effect: 6
    EXPECT_EQ(framesInRow(), 6000);
    song.speed = 4;  // F4 during playback
    EXPECT_EQ(framesInRow(), 4000);
}
