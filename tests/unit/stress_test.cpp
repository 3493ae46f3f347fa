// The editor and the audio callback share the song without a lock: a thread
// standing in for the callback fills blocks while the main thread edits,
// plays, loads, saves, exports and draws. Run under ThreadSanitizer this
// proves every shared word is an atomic one; in every build it checks that
// the results stay whole. VORNA_STRESS_SECONDS sets the length (default 3).
#include <gtest/gtest.h>

#include <SDL/SDL.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/file_commands.h"
#include "app/history.h"
#include "app/keys.h"
#include "app/main_loop.h"
#include "app/recovery.h"
#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/bytes.h"
#include "song/song.h"
#include "song/song_file.h"
#include "tests/support/keys.h"
#include "tests/support/surfaces.h"
#include "tests/support/test_support.h"
#include "ui/frame.h"
#include "ui/palette.h"
#include "ui/status.h"

namespace {

double stressSeconds() {
    const char* s = std::getenv("VORNA_STRESS_SECONDS");
    const double v = s ? std::atof(s) : 0.0;
    return v > 0.0 ? v : 3.0;
}

// Stands in for the audio library's callback thread: one 512-frame block
// after another, a short pause between them, as long as `run` is set.
struct FakeCallback {
    std::atomic<bool> run{true};
    std::atomic<long> blocks{0};
    std::atomic<bool> sane{true};  // every sample a finite value inside [-1, 1]
    std::thread thread;

    void start() {
        engine.streamActive = true;
        thread = std::thread([this] {
            double buf[512];
            while (run.load()) {
                fillBlock(buf, 512);
                for (double v : buf)
                    if (!(v >= -1.0 && v <= 1.0)) sane = false;
                blocks.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
        });
    }
    void stop() {
        run = false;
        thread.join();
        engine.streamActive = false;
    }
};

struct Stress : ::testing::Test {
    ScratchDir scratch{"stress"};  // each test works in its own folder
    SDL_Surface* surface = nullptr;
    void SetUp() override {
        resetEngine();
        restingScreen();
        mainLoop.running = true;
        surface = newScreen();
        ASSERT_NE(surface, nullptr);
    }
    void TearDown() override {
        finishRecovery();  // also when a check ended the test early
        SDL_FreeSurface(surface);
        engine.streamActive = false;
        engine.exporting = false;
        transport.playing = false;
    }
};

// Two small songs on disk: one pattern then the end marker at speed 1, so an
// export after loading either is 64000 frames; "long" plays four slots.
void writeSongs() {
    initSong();
    song.speed = 1;
    for (int r = 0; r < RowsPerPattern; r += 4) {
        cellAt(r % ChannelCount, 0, r).note = 40 + r;
        cellAt(r % ChannelCount, 0, r).volume = 60;
    }
    ASSERT_TRUE(saveSongNamed("short"));
    song.speed = 4;
    for (int i = 0; i < 4; ++i) song.orders[i] = i;
    for (int c = 0; c < ChannelCount; ++c)
        for (int p = 1; p < 4; ++p) cellAt(c, p, (c * 7 + p) % 64).note = 30 + c + p;
    ASSERT_TRUE(saveSongNamed("long"));
    initSong();
}

}  // namespace

TEST_F(Stress, EditorAndCallbackShareTheSongWithoutLocks) {
    // Editing, undoing, playing, loading, saving, exporting and drawing while the
    // callback renders and recovery copies are written never tear a value, never
    // leave the tables, and every export and save still succeeds with a whole file.
    writeSongs();
    setPalette(60, 70, 80);
    std::mt19937 rng(12345);
    FakeCallback cb;
    cb.start();

    const auto begin = std::chrono::steady_clock::now();
    const auto end = begin + std::chrono::duration<double>(stressSeconds());
    ASSERT_TRUE(startRecovery());
    int exports = 0, saves = 0, loads = 0, draws = 0, keys = 0;
    bool allExportsWhole = true, allSavesOk = true, allLoadsOk = true;
    const uint8_t noteScanCodes[] = {0x2C, 0x1F, 0x2D, 0x10, 0x11, 0x17, 0x34};
    while (std::chrono::steady_clock::now() < end) {
        const unsigned action = rng() % 100;
        recoveryTick(uint32_t(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begin).count()));
        if (action < 35) {
            // Type a note, a volume digit or an effect at a random cell.
            editor.cursorChannel = int(rng() % ChannelCount);
            editor.cursorColumn = int(rng() % 6);
            editor.octave = int(rng() % 8);
            if (editor.cursorColumn == 0)
                press(SDLK_z, 0, noteScanCodes[rng() % sizeof noteScanCodes]);
            else
                press(SDLK_0 + int(rng() % 10));
        } else if (action < 55) {
            static const int moves[] = {SDLK_UP,   SDLK_DOWN,  SDLK_PAGEUP, SDLK_PAGEDOWN,
                                        SDLK_LEFT, SDLK_RIGHT, SDLK_TAB};
            press(moves[rng() % 7]);
        } else if (action < 62) {
            press(rng() % 2 ? SDLK_F3 : SDLK_F4);
        } else if (action < 65) {
            press(rng() % 2 ? SDLK_z : SDLK_y, KMOD_LCTRL);  // undo or redo
        } else if (action < 67) {
            editor.cursorChannel = int(rng() % ChannelCount);
            press(SDLK_PAUSE);
        } else if (action < 73) {
            press(SDLK_SPACE, rng() % 2 ? KMOD_LSHIFT : 0);
        } else if (action < 78) {
            // The order list: type a pattern digit or clear the slot.
            editor.cursorChannel = -1;
            editor.cursorColumn = int(rng() % 2);
            press(rng() % 3 ? SDLK_0 + int(rng() % 4) : SDLK_DELETE);
            press(rng() % 2 ? SDLK_UP : SDLK_DOWN);
            editor.cursorChannel = 0;
        } else if (action < 81) {
            press(SDLK_F7);
            press(SDLK_F8);
        } else if (action < 88) {
            drawFrame(surface);
            ++draws;
            continue;
        } else if (action < 92) {
            allSavesOk = saveSongNamed("edited") && allSavesOk;
            ++saves;
            continue;
        } else if (action < 97) {
            allLoadsOk = openSongNamed(rng() % 2 ? "long" : "edited") && allLoadsOk;
            ++loads;
            continue;
        } else {
            // Exports are the one place both threads hand the voices over.
            allLoadsOk = openSongNamed("short") && allLoadsOk;
            const std::string name = "take" + std::to_string(exports % 3) + ".wav";
            const bool ok = exportWavNamed(name);
            const std::vector<uint8_t> wav = readFile(name);
            allExportsWhole = allExportsWhole && ok && wav.size() == 44 + 2 * 64000u &&
                              getLe32(wav.data() + 40) == 2 * 64000u && getLe32(wav.data() + 4) == 36 + 2 * 64000u;
            ++exports;
            continue;
        }
        ++keys;
        // Whatever the callback moved, the position stays a real one.
        ASSERT_GE(transport.currentRow, 0);
        ASSERT_LT(transport.currentRow, RowsPerPattern);
        ASSERT_GE(transport.orderPos, 0);
        ASSERT_LT(transport.orderPos, OrderSlots);
    }
    // One export at the end in any case: the handoff is what the test is about.
    ASSERT_TRUE(openSongNamed("short"));
    EXPECT_TRUE(exportWavNamed("last.wav"));
    EXPECT_EQ(readFile("last.wav").size(), 44 + 2 * 64000u);
    EXPECT_EQ(statusText, "SUCCESSFULLY EXPORTED");
    // The callback goes back to playing after the export.
    const long before = cb.blocks.load();
    while (cb.blocks.load() < before + 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    cb.stop();

    EXPECT_TRUE(cb.sane.load());
    EXPECT_GT(cb.blocks.load(), 10);
    EXPECT_GT(keys, 0);
    EXPECT_GT(draws, 0);
    EXPECT_TRUE(allExportsWhole);
    EXPECT_TRUE(allSavesOk);
    EXPECT_TRUE(allLoadsOk);
    EXPECT_EQ(engine.exporting.load(), false);
    for (int c = 0; c < ChannelCount; ++c) {
        const int32_t w = song.channels[c].scope.writeIndex;
        EXPECT_TRUE(w >= 0 && w < ScopeLength) << "channel " << c;
    }
}

TEST_F(Stress, CallbackStaysSilentWhileExportRenders) {
    // While an export renders, the callback outputs silence and touches nothing:
    // blocks filled during the export are all zero, and the export's own frames
    // come out the same as with no callback at all once the voices start alike,
    // even when the export begins in the middle of a block.
    writeSongs();
    ASSERT_TRUE(openSongNamed("short"));
    silenceVoices();
    for (int c = 0; c < ChannelCount; ++c) song.channels[c].gain = 1.0f;
    seedNoise(7);
    ASSERT_TRUE(exportWavNamed("alone.wav"));
    const std::vector<uint8_t> alone = readFile("alone.wav");

    // Same start again, now with the callback running and the song stopped.
    ASSERT_TRUE(openSongNamed("short"));
    silenceVoices();
    for (int c = 0; c < ChannelCount; ++c) song.channels[c].gain = 1.0f;
    seedNoise(7);
    std::atomic<bool> run{true};
    std::atomic<bool> loudDuringExport{false};
    std::atomic<int> blocks{0};
    engine.streamActive = true;
    std::thread callback([&] {
        std::vector<double> buf(16384);
        while (run.load()) {
            // Set before and after the block: the block saw it set too.
            const bool before = engine.exporting;
            fillBlock(buf.data(), unsigned(buf.size()));
            if (before && engine.exporting)
                for (double v : buf)
                    if (v != 0.0) loudDuringExport = true;
            blocks.fetch_add(1);
            // Back to back until the export: it begins inside a block.
            if (before) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    // The callback is well under way when the export begins.
    while (blocks.load() < 3) std::this_thread::sleep_for(std::chrono::microseconds(100));
    ASSERT_TRUE(exportWavNamed("shared.wav"));
    run = false;
    callback.join();
    engine.streamActive = false;

    EXPECT_FALSE(loudDuringExport.load());
    // Every voice was silent when both exports began, and the block the
    // callback was filling stops at the next frame without touching the
    // export's first row: the files are equal.
    const std::vector<uint8_t> shared = readFile("shared.wav");
    ASSERT_EQ(shared.size(), alone.size());
    size_t firstDiff = 0;
    while (firstDiff < shared.size() && shared[firstDiff] == alone[firstDiff]) ++firstDiff;
    EXPECT_EQ(firstDiff, shared.size()) << "first differing byte";
}
