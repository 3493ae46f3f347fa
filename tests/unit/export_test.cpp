// WAV export: length and header, what is heard, where the order cursor ends,
// bounded memory, failures that leave existing files alone, and the progress
// on the message line (at most every 100 ms, no event polled).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "app/file_commands.h"
#include "app/history.h"
#include "app/main_loop.h"
#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "tests/support/alloc_watch.h"
#include "tests/support/test_support.h"
#include "ui/status.h"

namespace {

// Each test works in its own scratch folder.
class Export : public ::testing::Test {
protected:
    ScratchDir scratch{"export"};
    void SetUp() override {
        resetEngine();
        statusText.clear();
    }
};

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t le16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
int16_t sampleAt(const std::vector<uint8_t>& b, size_t frame) { return int16_t(le16(b, 44 + 2 * frame)); }
std::string text(const std::vector<uint8_t>& b, size_t at, size_t n) {
    return std::string(b.begin() + at, b.begin() + at + n);
}
// Progress frames of an export go to a recording loopIo.
uint32_t fakeClock = 0;
uint32_t clockStep = 0;  // added after every reading, to stand for time spent rendering
int polls = 0;
std::vector<std::string> drawnMessages;

uint32_t fakeNow() {
    const uint32_t t = fakeClock;
    fakeClock += clockStep;
    return t;
}
int countingPoll(SDL_Event*) {
    ++polls;
    return 0;
}
void recordDraw() { drawnMessages.push_back(statusText); }

// The clock jumps far ahead so the previous test's last frame is long past.
struct FakeLoop {
    LoopIo saved = loopIo;
    FakeLoop() {
        loopIo.now = fakeNow;
        loopIo.poll = countingPoll;
        loopIo.draw = recordDraw;
        fakeClock += 1000000;
        clockStep = 0;
        polls = 0;
        drawnMessages.clear();
    }
    ~FakeLoop() { loopIo = saved; }
};

}  // namespace

TEST_F(Export, OnePatternAtSpeed3Gives192000FramesAndTheCanonicalHeader) {
    // One pattern then the end marker at speed 3: 192000 frames, data size 384000, RIFF size 384036, PCM mono 16-bit 44100.
    transport.playing = true;
    transport.orderPos = 0;
    transport.currentRow = 17;
    ASSERT_TRUE(exportWavNamed("song.wav"));
    std::vector<uint8_t> b = readFile("song.wav");
    ASSERT_EQ(b.size(), 44u + 384000u);
    EXPECT_EQ(text(b, 0, 4), "RIFF");
    EXPECT_EQ(le32(b, 4), 384036u);
    EXPECT_EQ(text(b, 8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(b, 16), 16u);
    EXPECT_EQ(le16(b, 20), 1);
    EXPECT_EQ(le16(b, 22), 1);
    EXPECT_EQ(le32(b, 24), 44100u);
    EXPECT_EQ(le32(b, 28), 88200u);
    EXPECT_EQ(le16(b, 32), 2);
    EXPECT_EQ(le16(b, 34), 16);
    EXPECT_EQ(text(b, 36, 4), "data");
    EXPECT_EQ(le32(b, 40), 384000u);
    EXPECT_EQ(statusText, "SUCCESSFULLY EXPORTED");
    // Stopped at pattern 0 row 0; the order cursor on the end marker.
    EXPECT_FALSE(transport.playing);
    EXPECT_FALSE(engine.exporting);
    EXPECT_EQ(transport.currentPattern, 0);
    EXPECT_EQ(transport.currentRow, 0);
    EXPECT_EQ(transport.tick, 0);
    EXPECT_EQ(transport.tickFrame, 0);
    EXPECT_EQ(transport.orderPos, 1);
}

TEST_F(Export, MutedChannelsAreHeardAtGainOverEight) {
    // Mute flags are ignored; a full-scale voice at trigger gain 0.75 gives trunc(0.75/8 * 32767.5) = 3071.
    song.orders[0] = 2;
    song.orders[1] = 2;
    song.speed = 1;
    cellAt(3, 2, 0).note = 40;
    transport.muted[3] = true;
    ASSERT_TRUE(exportWavNamed("m.wav"));
    std::vector<uint8_t> b = readFile("m.wav");
    ASSERT_EQ(b.size(), 44u + 2u * 128000u);
    int peak = 0;
    for (size_t f = 0; f < 128000; ++f) peak = std::max(peak, std::abs(int(sampleAt(b, f))));
    EXPECT_EQ(peak, 3071);
    EXPECT_EQ(transport.orderPos, 2);
}

TEST_F(Export, FullScaleMeanGives32767AndLouderIsClipped) {
    // All eight channels at +-1 with volume 80 give +-32767; a damaged volume above 80 is clipped, not wrapped.
    song.speed = 1;
    for (int c = 0; c < ChannelCount; ++c) {
        cellAt(c, 0, 0).note = c >= 6 ? 39 : 40;  // drums: the tone drum uses its memory
        cellAt(c, 0, 0).volume = c == 0 ? 255 : 80;
        instruments[c]->state = c % 2 ? -1e6f : 1e6f;  // carried into the note, so it clamps at once
    }
    ASSERT_TRUE(exportWavNamed("a.wav"));
    // 0: +3.73, 1: -1, 2: +1, ... 7: -1 -> mean (3.73 - 1) / 8 * 32767.5 = 11174.
    EXPECT_EQ(sampleAt(readFile("a.wav"), 0), int16_t((239.0 / 64 - 1) / 8 * 32767.5));

    for (int c = 0; c < ChannelCount; ++c) {
        cellAt(c, 0, 0).volume = c < 4 ? 255 : 80;
        instruments[c]->state = 1e6f;
    }
    ASSERT_TRUE(exportWavNamed("b.wav"));
    EXPECT_EQ(sampleAt(readFile("b.wav"), 0), 32767);
    for (int c = 0; c < ChannelCount; ++c) {
        cellAt(c, 0, 0).volume = 80;
        instruments[c]->state = -1e6f;
    }
    ASSERT_TRUE(exportWavNamed("c.wav"));
    EXPECT_EQ(sampleAt(readFile("c.wav"), 0), -32767);
}

TEST_F(Export, EmptyFirstSlotGivesEmptyDataChunk) {
    // Slot 0 empty: no pattern to render, a valid file with 0 data bytes; the cursor stays on slot 0.
    song.orders[0] = OrderEmpty;
    EXPECT_EQ(exportFrameCount(), 0u);
    ASSERT_TRUE(exportWavNamed("empty.wav"));
    std::vector<uint8_t> b = readFile("empty.wav");
    ASSERT_EQ(b.size(), 44u);
    EXPECT_EQ(le32(b, 4), 36u);
    EXPECT_EQ(le32(b, 40), 0u);
    EXPECT_EQ(transport.orderPos, 0);
    EXPECT_EQ(transport.currentPattern, 0);
}

TEST_F(Export, FullOrderListEndsAfterSlot63WithBoundedMemory) {
    // 64 slots, no end marker: the export stops after slot 63 and leaves the cursor on slot 0;
    // a render of minutes never holds the song in memory; progress ends at done == total.
    for (int s = 0; s < OrderSlots; ++s) song.orders[s] = s % 3 == 0 ? 70 + s : s;  // 64..254 play as empty
    song.speed = 1;
    const uint64_t frames = 64ull * 64 * 1000;  // 4096000 frames, over a minute and a half
    EXPECT_EQ(exportFrameCount(), frames);
    static uint64_t lastDone, lastTotal, calls;
    lastDone = lastTotal = calls = 0;
    exportProgress = [](uint64_t done, uint64_t total) {
        EXPECT_GE(done, lastDone);
        lastDone = done;
        lastTotal = total;
        ++calls;
    };
    largestBlock = 0;
    bytesRequested = 0;
    watching = true;
    bool ok = exportWavNamed("long.wav");
    watching = false;
    ASSERT_TRUE(ok);
    std::ifstream in("long.wav", std::ios::binary | std::ios::ate);
    EXPECT_EQ(uint64_t(in.tellg()), 44 + 2 * frames);
    EXPECT_EQ(transport.orderPos, 0);
    EXPECT_EQ(lastDone, frames);
    EXPECT_EQ(lastTotal, frames);
    EXPECT_GT(calls, 10u);  // reported along the way, not only at the end
    EXPECT_LT(largestBlock.load(), size_t(1) << 20);
    EXPECT_LT(bytesRequested.load(), size_t(4) << 20);
}

TEST_F(Export, FrameCountFollowsTheSlotsBeforeTheEndMarkerAndTheSpeed) {
    // Frames = slots before the end marker x 64 x speed x 1000 (damaged speeds: damaged_song_test).
    song.orders[1] = 1;
    song.orders[2] = 1;
    for (int speed : {1, 15}) {
        song.speed = speed;
        EXPECT_EQ(exportFrameCount(), 3ull * 64 * speed * 1000);
    }
}

TEST_F(Export, JumpsBreaksAndSpeedsSetTheLengthAndTheFileEndsBeforeALoopRepeats) {
    // The export follows B (row 0 of slot xx), D (row xx of the next slot) and F (ticks per row from its
    // row on); it ends at an empty or missing slot, or before a return to a (slot, row) already played
    // at the same speed; the order cursor then stands on the slot play would go on at (0 outside the list).
    struct Mark {
        int slot, row, channel, effect, param;
    };
    struct Case {
        const char* rule;
        int slots;  // patterns 0, 1, ... in slots 0, 1, ...
        std::vector<Mark> marks;
        uint64_t frames;
        int endSlot;
    };
    const Case cases[] = {
        {"a jump back makes a loop", 3, {{2, 10, 4, 0xB, 1}}, (64 + 64 + 11) * 3000, 1},
        // Back in slot 1 at speed 4 (it was 3): played again, then slot 2 up to row 5, the first row that
        // began at speed 4 before, (2, 6).
        {"a loop must come back at the same speed",
         3,
         {{2, 5, 0, 0xF, 4}, {2, 10, 4, 0xB, 1}},
         64 * 3000 + 64 * 3000 + 5 * 3000 + 6 * 4000 + 64 * 4000 + 6 * 4000,
         2},
        {"a jump to its own row", 1, {{0, 0, 7, 0xB, 0}}, 3000, 0},
        {"a jump to an empty slot ends the song", 2, {{0, 10, 0, 0xB, 5}}, 11 * 3000, 5},
        {"a jump out of the list ends the song", 2, {{0, 10, 0, 0xB, 0x40}}, 11 * 3000, 0},
        {"a break on the last slot ends the song", 1, {{0, 10, 3, 0xD, 0}}, 11 * 3000, 1},
        {"a break to row 63", 2, {{0, 0, 3, 0xD, 0x3F}}, 2 * 3000, 2},
        {"a speed change mid-pattern", 1, {{0, 32, 6, 0xF, 6}}, 32 * 3000 + 32 * 6000, 1},
        {"a speed of 0 or above 15 changes nothing", 1, {{0, 32, 6, 0xF, 0}, {0, 33, 6, 0xF, 0x10}}, 64 * 3000, 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.rule);
        resetEngine();
        for (int s = 0; s < k.slots; ++s) song.orders[s] = s;
        for (const Mark& m : k.marks) {
            cellAt(m.channel, m.slot, m.row).effect = m.effect;
            cellAt(m.channel, m.slot, m.row).effectParam = m.param;
        }
        cellAt(0, 0, 0).note = 40;
        EXPECT_EQ(exportFrameCount(), k.frames);
        ASSERT_TRUE(exportWavNamed("course.wav"));
        EXPECT_EQ(readFile("course.wav").size(), 44 + 2 * k.frames);
        EXPECT_EQ(transport.orderPos, k.endSlot);
    }
}

TEST_F(Export, FailuresReportAndLeaveExistingFilesAlone) {
    // A missing folder or a write failing part way: "COULDN'T EXPORT", the old file intact, playback
    // stopped and the cursor back. (A target that is a folder, a read-only folder: kill_test's failures.)
    transport.playing = true;
    EXPECT_FALSE(exportWavNamed("missing/x.wav"));
    EXPECT_EQ(statusText, "COULDN'T EXPORT \"MISSING/X.WAV\"");
    EXPECT_FALSE(engine.exporting);
    EXPECT_FALSE(transport.playing);

    // A file-size limit below the song's size makes a write fail part way.
    { std::ofstream("song.wav") << "old contents"; }
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 100000;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool ok = exportWavNamed("song.wav");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_EQ(statusText, "COULDN'T EXPORT \"SONG.WAV\"");
    std::vector<uint8_t> b = readFile("song.wav");
    EXPECT_EQ(std::string(b.begin(), b.end()), "old contents");
    EXPECT_EQ(transport.currentPattern, 0);
    EXPECT_EQ(transport.currentRow, 0);
    EXPECT_FALSE(engine.exporting);
    EXPECT_EQ(folderEntries("."), std::vector<std::string>{"song.wav"});  // no temporary file left behind
}

TEST_F(Export, WaitsForTheCallbackToSeeTheExportAndGivesUpOnAStalledOne) {
    // With a live stream the render starts only after a silent block was delivered; a stream that
    // never calls back delays the export by the timeout, never hangs it. Without a stream there is no wait.
    song.speed = 1;
    std::atomic<bool> run{true};
    std::atomic<int> blocks{0};
    engine.streamActive = true;
    std::thread callback([&] {
        double buf[64];
        while (run) {
            fillBlock(buf, 64);
            ++blocks;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    while (blocks == 0) std::this_thread::yield();
    EXPECT_TRUE(exportWavNamed("live.wav"));
    EXPECT_TRUE(engine.exportSeen);
    run = false;
    callback.join();

    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    EXPECT_TRUE(exportWavNamed("stalled.wav"));
    double waited = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GE(waited, 0.45);
    EXPECT_LT(waited, 30.0);

    engine.streamActive = false;
    start = Clock::now();
    EXPECT_TRUE(exportWavNamed("none.wav"));
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), waited);
    engine.streamActive = false;
}

TEST_F(Export, ProgressMessageShowsPercentDoneAtMostEvery100Ms) {
    // A report draws "EXPORTING n%" (n rounded down) unless the last progress frame is under 100 ms old.
    FakeLoop loop;
    const uint32_t t0 = fakeClock;
    showExportProgress(0, 1000);
    fakeClock = t0 + 50;
    showExportProgress(300, 1000);
    fakeClock = t0 + 99;
    showExportProgress(400, 1000);
    fakeClock = t0 + 100;
    showExportProgress(999, 1000);
    fakeClock = t0 + 150;
    showExportProgress(1000, 1000);
    fakeClock = t0 + 260;
    showExportProgress(1000, 1000);
    EXPECT_EQ(drawnMessages, (std::vector<std::string>{"EXPORTING 0%", "EXPORTING 99%", "EXPORTING 100%"}));
    EXPECT_EQ(statusTimer, 500);  // a fresh message, full colour
    EXPECT_EQ(polls, 0);

    // An export of nothing reports nothing.
    fakeClock += 1000;
    showExportProgress(0, 0);
    EXPECT_EQ(drawnMessages.size(), 3u);
}

TEST_F(Export, ProgressRisesThenTheResultShowsWithoutTouchingEvents) {
    // A real export with the handler installed: progress frames with rising
    // percentages, no event polled, and "SUCCESSFULLY EXPORTED" at the end.
    for (int k = 0; k < 4; ++k) song.orders[k] = 0;  // 4 slots x 64 rows x 3 ticks: 17 s of song
    cellAt(0, 0, 0).note = 40;
    FakeLoop loop;
    clockStep = 40;  // each clock reading is 40 ms after the previous one
    exportProgress = showExportProgress;
    const bool ok = exportWavNamed("progress.wav");
    exportProgress = nullptr;

    EXPECT_TRUE(ok);
    EXPECT_EQ(statusText, "SUCCESSFULLY EXPORTED");
    EXPECT_EQ(polls, 0);
    ASSERT_GE(drawnMessages.size(), 2u);
    int last = -1;
    for (const std::string& m : drawnMessages) {
        ASSERT_EQ(m.rfind("EXPORTING ", 0), 0u) << m;
        const int percent = std::atoi(m.c_str() + 10);
        EXPECT_GE(percent, last) << m;
        EXPECT_LE(percent, 100);
        last = percent;
    }
}
