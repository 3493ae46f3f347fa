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
