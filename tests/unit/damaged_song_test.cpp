// Songs from damaged files: any byte in any field (order slots 64..254, an
// empty slot 0, speed 0 or 255, volumes 10..15 and 81..255, effects above 15,
// notes 195..255) is loaded as it is, and playing, drawing, editing,
// exporting and the command-line renderer all stay inside their tables. The
// sanitizer build is what catches a stray read; the checks here pin what each
// part makes of such values.
//
//   load      an empty or damaged slot 0 (any byte comes back as saved: song_file_test)
//   play      speeds 0 and 255, non-patterns, a whole damaged song
//   draw, edit, export, render
#include <gtest/gtest.h>

#include <SDL.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/file_commands.h"
#include "song/bytes.h"
#include "tests/support/keys.h"
#include "tests/support/surfaces.h"
#include "tests/support/test_support.h"
#include "ui/status.h"

namespace {

// Image offsets of the file format: theme and speed, orders, then per channel
// four 4096-byte planes (note, volume, effect, parameter).
constexpr uint32_t SpeedAt = 3;
constexpr uint32_t OrdersAt = 4;
uint32_t cellByte(int channel, int field, int pattern, int row) {
    return 68 + 16384 * channel + 4096 * field + 64 * pattern + row;
}

// Pattern 0 holds every out-of-range value on some channel; the order list
// plays it, then three patterns that do not exist, then loops.
Bytes damagedImage(uint8_t speed) {
    Bytes image(SongImageSize, 0);
    image[0] = 200, image[1] = 0, image[2] = 255, image[SpeedAt] = speed;
    for (int i = 0; i < OrderSlots; ++i) image[OrdersAt + i] = OrderEmpty;
    image[OrdersAt + 0] = 0;
    image[OrdersAt + 1] = 200;
    image[OrdersAt + 2] = 64;
    image[OrdersAt + 3] = 254;
    for (int c = 0; c < ChannelCount; ++c)
        for (int r = 0; r < RowsPerPattern; ++r) {
            const int k = c * RowsPerPattern + r;  // 0..511 over the pattern
            image[cellByte(c, 0, 0, r)] =
                uint8_t(r % 2 ? 195 + k % 61 : 1 + k % 194);  // notes 195..255 between real ones
            image[cellByte(c, 1, 0, r)] = uint8_t(r % 3 == 0 ? 10 + k % 6 : 81 + k % 175);  // volumes 10..15, 81..255
            image[cellByte(c, 2, 0, r)] = uint8_t(16 + k % 240);                            // effects 16..255
            image[cellByte(c, 3, 0, r)] = uint8_t(k * 7);
        }
    return image;
}

struct Damaged : ::testing::Test {
    ScratchDir scratch{"damaged"};  // each test works in its own folder
    void SetUp() override {
        resetEngine();
        restingScreen();
        engine.outputLevel = 0.0;
    }
    void TearDown() override { transport.playing = false; }
    // Writes the image as a song file through the saver and loads it back.
    void loadImage(const Bytes& image, const std::string& name) {
        applySongImage(image.data());
        ASSERT_TRUE(saveSong(name));
        initSong();
        ASSERT_TRUE(openSongNamed(name));
    }
};

}  // namespace

TEST_F(Damaged, EmptyOrDamagedFirstSlotLoadsAsItIsAndKeepsTheCurrentPattern) {
    // An empty slot 0, or one naming no pattern, is loaded as it is; the order cursor goes to 0 and
    // the pattern shown stays.
    for (int first : {OrderEmpty, 64, 200}) {
        SCOPED_TRACE(first);
        initSong();
        song.orders[0] = first;
        ASSERT_TRUE(saveSongNamed("slot"));
        initSong();
        transport.currentPattern = 33, transport.orderPos = 5;
        EXPECT_TRUE(openSongNamed("slot"));
        EXPECT_EQ(song.orders[0], first);
        EXPECT_EQ(transport.currentPattern, 33);
        EXPECT_EQ(transport.orderPos, 0);
    }
}

TEST_F(Damaged, SpeedZeroHoldsARowForOneTickAnd255For255Ticks) {
    // A damaged speed 0 counts as one tick per row, 255 as 255 ticks: 1000 and 255000 frames.
    transport.playing = true;
    for (int speed : {0, 255}) {
        song.speed = speed;
        framesInRow();  // align to a row start
        EXPECT_EQ(framesInRow(), 1000 * std::max(speed, 1)) << "speed " << speed;
    }
}

TEST_F(Damaged, NonPatternsPlayAsEmptyPatterns) {
    // Slot 0 empty (the wrap selects 255) or slots naming 64..254: nothing is read outside the 4096
    // cells, nothing triggers, and the rows go on.
    transport.playing = true;
    song.speed = 1;
    song.orders[0] = OrderEmpty;
    transport.currentRow = 63;
    transport.tickFrame = 999;
    advancePlayPosition();
    EXPECT_EQ(transport.orderPos, 0);
    EXPECT_EQ(transport.currentPattern, OrderEmpty);
    for (int c = 0; c < ChannelCount; ++c) cellAt(c, 0, 0).note = 40;  // would be read by a wrapped index
    for (int p : {255, 64, 128, 254, -1}) {
        transport.currentPattern = p;
        transport.currentRow = 0;
        transport.tick = 0;
        transport.tickFrame = 0;
        for (int f = 0; f < 3000; ++f) frame();
        for (Instrument* v : instruments) ASSERT_EQ(v->note, -1) << "pattern " << p;
    }
    EXPECT_EQ(transport.currentRow, 3);
}

TEST_F(Damaged, PlayingDamagedSongStaysInsideTheTables) {
    // Playing a whole damaged song stays finite and bounded, walks through the
    // order list's non-patterns and comes back to slot 0.
    loadImage(damagedImage(0), "damaged");
    transport.playing = true;
    transport.currentRow = 0;
    bool sawPatterns[256] = {};
    bool finite = true;
    double largest = 0.0;
    std::vector<double> block(512);
    // Four slots of 64 rows at one tick per row, and some more: a whole loop.
    const int blocks = (4 * 64 * 1000) / 512 + 200;
    for (int b = 0; b < blocks; ++b) {
        fillBlock(block.data(), unsigned(block.size()));
        for (double v : block) {
            if (!std::isfinite(v)) finite = false;
            largest = std::fmax(largest, std::fabs(v));
        }
        const int p = transport.currentPattern;
        ASSERT_TRUE(p >= 0 && p <= 255) << p;
        sawPatterns[p] = true;
        ASSERT_TRUE(transport.currentRow >= 0 && transport.currentRow < RowsPerPattern);
        ASSERT_TRUE(transport.orderPos >= 0 && transport.orderPos < 4);
    }
    EXPECT_TRUE(finite);
    // A volume of 255 is a gain of (255 - 16) / 64 on a voice clamped to 1.
    EXPECT_LE(largest, 239.0 / 64.0);
    EXPECT_GT(largest, 0.0);
    EXPECT_TRUE(sawPatterns[0] && sawPatterns[200] && sawPatterns[64] && sawPatterns[254]);
    EXPECT_TRUE(std::isfinite(engine.outputLevel.load()));
}

TEST_F(Damaged, DrawingDamagedSongShowsNonPatternsAsEmpty) {
    // Drawing a damaged song stays inside the text tables; a pattern number
    // beyond the song shows exactly as an empty pattern does.
    loadImage(damagedImage(255), "damaged");
    const OwnedSurface surface = owned(newScreen());
    // Extreme levels and scope values a damaged volume can produce.
    engine.outputLevel = 5.0;
    for (int c = 0; c < ChannelCount; ++c)
        for (int i = 0; i < ScopeLength; ++i) song.channels[c].scope.samples[i] = (i % 2 ? 3.7f : -3.7f);
    transport.currentPattern = 0;
    drawFrame(surface.get());
    for (int p : {64, 200, 254, 255, -1}) {
        SCOPED_TRACE(p);
        transport.currentPattern = p;
        drawFrame(surface.get());
        const std::vector<uint8_t> shown(static_cast<uint8_t*>(surface->pixels),
                                         static_cast<uint8_t*>(surface->pixels) + surface->pitch * 480);
        transport.currentPattern = 5;  // a real pattern left empty by the damaged image
        drawFrame(surface.get());
        EXPECT_EQ(std::memcmp(shown.data(), surface->pixels, shown.size()), 0);
    }
}

TEST_F(Damaged, EditingDamagedValuesClampsIntoRange) {
    // Editing keys on damaged values bring them back into the editor's ranges.
    loadImage(damagedImage(255), "damaged");
    press(SDLK_F3);
    EXPECT_EQ(song.speed, 15);  // from 255, one step down is clamped to 15

    transport.currentPattern = 0;
    transport.currentRow = 1;
    editor.cursorChannel = 0;
    editor.cursorColumn = 1;  // volume, high digit
    ASSERT_GT(cellAt(0, 0, 1).volume, 80);
    press(SDLK_4);
    EXPECT_LE(cellAt(0, 0, 1).volume, 80);
    EXPECT_GE(cellAt(0, 0, 1).volume, 16);

    // A damaged slot typed over becomes a real pattern number.
    editor.cursorChannel = -1;
    transport.orderPos = 1;
    editor.cursorColumn = 0;
    press(SDLK_3);
    EXPECT_LT(song.orders[1], PatternCount);

    // Slots holding non-patterns are never selected as the shown pattern.
    transport.currentPattern = 7;
    transport.orderPos = 1;
    press(SDLK_DOWN);
    EXPECT_EQ(transport.orderPos, 2);
    EXPECT_EQ(transport.currentPattern, 7);
}

TEST_F(Damaged, ExportOfDamagedSongHasConsistentSizes) {
    // Exporting a damaged song: speed 0 counts as one tick per row, non-patterns
    // render as silence, and the file's sizes match its length; speed 255 would
    // make a long file whose length still fits the header's 32-bit sizes.
    loadImage(damagedImage(0), "damaged");
    EXPECT_EQ(exportFrameCount(), 4u * 64 * 1000);
    ASSERT_TRUE(exportWav("damaged.wav"));
    const Bytes wav = readFile("damaged.wav");
    ASSERT_EQ(wav.size(), 44u + 2 * 4 * 64 * 1000);
    EXPECT_EQ(getLe32(wav.data() + 4), wav.size() - 8);
    EXPECT_EQ(getLe32(wav.data() + 40), wav.size() - 44);
    EXPECT_EQ(transport.orderPos, 4);  // the end marker's slot
    EXPECT_EQ(transport.currentPattern, 0);

    // All 64 slots used at speed 255: the longest song a file can describe.
    for (int i = 0; i < OrderSlots; ++i) song.orders[i] = 64 + i;
    song.speed = 255;
    const uint64_t frames = exportFrameCount();
    EXPECT_EQ(frames, 64ull * 64 * 255 * 1000);
    EXPECT_LT(36 + 2 * frames, 1ull << 32);
}

TEST_F(Damaged, RendererWritesDamagedSong) {
    // The command-line renderer takes a damaged song like the editor does.
    const std::string renderer = std::string(VORNA_BINARY_DIR) + "/vorna-render";
    if (access(renderer.c_str(), X_OK) != 0) GTEST_SKIP() << "vorna-render not built in this tree";
    Bytes image = damagedImage(0);
    image[OrdersAt + 1] = OrderEmpty;  // one slot of pattern 0: 64000 frames
    applySongImage(image.data());
    ASSERT_TRUE(saveSong("damaged"));
    const std::string command = "'" + renderer + "' damaged.vorna -o out.wav --quiet";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const Bytes wav = readFile("out.wav");
    ASSERT_EQ(wav.size(), 44u + 2 * 64000);
    EXPECT_EQ(getLe32(wav.data() + 40), 2u * 64000);
}
