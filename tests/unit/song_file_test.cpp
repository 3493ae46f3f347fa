// Song files: exact bytes on disk, round trips, all-or-nothing loads, safe saves.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "app/file_commands.h"
#include "tests/support/song_reference.h"
#include "tests/support/test_support.h"
#include "ui/frame.h"
#include "ui/palette.h"
#include "ui/status.h"

namespace {

Bytes header() { return {'V', 'O', 'R', 'N', 'A', 'D', 'E', 'V', 0, 0, 0, 2}; }

// The file a fresh song saves to: header, L = 25, then the 25 packed bytes.
Bytes freshFile() {
    Bytes f = header();
    f.insert(f.end(), {0x19, 0, 0, 0, 0x01, 0x3C, 0x46, 0x50, 0x03, 0x00, 0x01, 0x3E, 0xFF});
    for (int i = 0; i < 4; ++i) f.insert(f.end(), {0x01, 0xFF, 0xFF, 0x00});
    return f;
}

// Any byte in any field, including values no command can enter.
void randomSong(std::mt19937& rng) {
    song.themeRed = rng() & 0xFF, song.themeGreen = rng() & 0xFF, song.themeBlue = rng() & 0xFF;
    song.speed = rng() & 0xFF;
    for (auto& o : song.orders) o = rng() % 3 == 0 ? OrderEmpty : int(rng() & 0xFF);
    for (auto& ch : song.channels)
        for (Cell& cell : ch.cells) {
            bool busy = rng() % 4 == 0;  // mostly empty, like real songs
            cell.note = busy ? rng() & 0xFF : 0;
            cell.volume = busy ? rng() & 0xFF : 0;
            cell.effect = busy ? rng() & 0xFF : 0;
            cell.effectParam = busy ? rng() & 0xFF : 0;
        }
}

class SongFile : public ::testing::Test {
protected:
    ScratchDir scratch{"songfile"};  // each test works in its own folder
    void SetUp() override {
        initSong();
        resetHistory();
        setPalette(60, 70, 80);
        fadeCounter = 0;
    }

    // Loads `file` (or nothing, when null) under the name "x" into a changed
    // song and expects the refusal message with nothing else changed.
    void expectRefused(const char* label, const Bytes* file) {
        SCOPED_TRACE(label);
        std::mt19937 rng(7);
        randomSong(rng);
        editor.songName = "earlier";
        transport.orderPos = 9, transport.currentPattern = 40, transport.currentRow = 12, fadeCounter = 120;
        changeSongWord(SpeedOffset, song.speed + 1);
        unlink("x.vorna");
        if (file) writeFile("x.vorna", *file);
        const Bytes before = currentImage();
        const uint32_t colour = palette[background];
        EXPECT_FALSE(openSongNamed("x"));
        EXPECT_EQ(statusText,
                  "FILE \"X\" COULDN'T BE LOADED. IT'S EITHER INVALID OR FOR A DIFFERENT VERSION OF VORNATRACKER");
        EXPECT_TRUE(currentImage() == before);
        EXPECT_EQ(editor.songName, "earlier");
        EXPECT_EQ(palette[background], colour);
        EXPECT_EQ(fadeCounter, 120);
        EXPECT_EQ(transport.orderPos, 9);
        EXPECT_EQ(transport.currentPattern, 40);
        EXPECT_EQ(transport.currentRow, 12);
        EXPECT_TRUE(songModified());
    }
};

}  // namespace

TEST_F(SongFile, FreshSongSavesThe41ByteFileUnderTheTypedNamePlusTheExtension) {
    // The song as created at start-up saves as header, L = 25 and the 25 packed bytes. The name typed as
    // "b.vorna" writes "b.vorna.vorna"; the message keeps the typed name. A save clears the modified
    // mark and gives the song the name it was saved under.
    EXPECT_TRUE(saveSongNamed("a"));
    EXPECT_EQ(readFile("a.vorna"), freshFile());
    EXPECT_EQ(statusText, "FILE \"A\" SUCCESSFULLY SAVED");
    EXPECT_TRUE(saveSongNamed("b.vorna"));
    EXPECT_EQ(readFile("b.vorna.vorna"), freshFile());
    EXPECT_EQ(statusText, "FILE \"B.VORNA\" SUCCESSFULLY SAVED");
    changeSongWord(cellOffset(0, 0, 0, 0), 3);
    EXPECT_TRUE(songModified());
    EXPECT_TRUE(saveSongNamed("c"));
    EXPECT_FALSE(songModified());
    EXPECT_EQ(editor.songName, "c");
}

TEST_F(SongFile, OneCellSongSavesThe47ByteFile) {
    // Channel 0, pattern 0, row 0 with note 3 and volume 80 saves as a 47-byte file with L = 31.
    cellAt(0, 0, 0).note = 3;
    cellAt(0, 0, 0).volume = 80;
    EXPECT_TRUE(saveSongNamed("one"));
    Bytes expected = header();
    expected.insert(expected.end(), {0x1F, 0,    0,    0,    0x01, 0x3C, 0x46, 0x50, 0x03, 0x00, 0x01, 0x3E,
                                     0xFF, 0x03, 0x01, 0x8F, 0xFE, 0x00, 0x50, 0x01, 0xFF, 0xFF, 0x00, 0x01,
                                     0xFF, 0xFF, 0x00, 0x01, 0xFF, 0xFF, 0x00, 0x01, 0xEF, 0xFE, 0x00});
    EXPECT_EQ(readFile("one.vorna"), expected);
}

TEST_F(SongFile, CellBytesLieAtTheirPlaneOffsets) {
    // The byte of channel c, field f, pattern p, row r is at 68 + 16384c + 4096f + 64p + r.
    cellAt(5, 10, 7).effect = 0xAB;
    cellAt(7, 63, 63).effectParam = 0x1CD;  // only the low eight bits are kept
    song.orders[63] = 17;
    EXPECT_TRUE(saveSongNamed("layout"));
    Bytes image;
    size_t used = 0;
    std::string error;
    ASSERT_TRUE(reference::readSong(readFile("layout.vorna"), image, used, error)) << error;
    EXPECT_EQ(image[68 + 16384 * 5 + 4096 * 2 + 64 * 10 + 7], 0xAB);
    EXPECT_EQ(image[68 + 16384 * 7 + 4096 * 3 + 64 * 63 + 63], 0xCD);
    EXPECT_EQ(image[4 + 63], 17);
    EXPECT_EQ(std::count_if(image.begin() + 68, image.end(), [](uint8_t b) { return b != 0; }), 2);
}

TEST_F(SongFile, SaveThenLoadGivesBackEverySavedField) {
    // Every field of every cell, the orders, speed and theme come back exactly, whatever their values
    // (speeds 0 and 255 of a damaged file too).
    std::mt19937 rng(99);
    for (int trial = 0; trial < 4; ++trial) {
        randomSong(rng);
        if (trial < 2) song.speed = 255 * trial;
        const Bytes saved = currentImage();
        ASSERT_TRUE(saveSongNamed("round"));
        initSong();
        ASSERT_TRUE(openSongNamed("round"));
        EXPECT_TRUE(currentImage() == saved) << "trial " << trial;
    }
}

TEST_F(SongFile, LoadSetsThemeOrderAndNameButLeavesPlaybackAndCursor) {
    // A load rebuilds the palette, ends the fade, resets the order slot, shows slot 0's pattern and
    // names the song; row, play state, octave, mutes, cursor and gains stay as they were.
    song.themeRed = 10, song.themeGreen = 20, song.themeBlue = 30;
    song.orders[0] = 12;
    ASSERT_TRUE(saveSongNamed("Tune"));
    initSong();
    transport.currentRow = 17, transport.playing = true, editor.octave = 5, transport.muted[3] = true;
    editor.cursorChannel = 2, editor.cursorColumn = 4, song.channels[1].gain = 0.5f;
    transport.orderPos = 9, transport.currentPattern = 5, fadeCounter = 3;
    changeSongWord(cellOffset(0, 0, 0, 0), 3);

    EXPECT_TRUE(openSongNamed("Tune"));
    EXPECT_EQ(statusText, "FILE \"TUNE\" SUCCESSFULLY LOADED");
    EXPECT_EQ(editor.songName, "Tune");
    EXPECT_EQ(palette[background], packColour(10, 20, 30));
    EXPECT_EQ(fadeCounter, 300);
    EXPECT_EQ(transport.orderPos, 0);
    EXPECT_EQ(transport.currentPattern, 12);
    EXPECT_FALSE(songModified());
    EXPECT_EQ(transport.currentRow, 17);
    EXPECT_TRUE(transport.playing);
    EXPECT_EQ(editor.octave, 5);
    EXPECT_TRUE(transport.muted[3]);
    EXPECT_EQ(editor.cursorChannel, 2);
    EXPECT_EQ(editor.cursorColumn, 4);
    EXPECT_EQ(song.channels[1].gain, 0.5f);
}

TEST_F(SongFile, FilesThatAreNoSongFileOfThisVersionAreRefusedWhole) {
    // A missing file, a folder, a file whose first twelve bytes are not the header, a length word
    // that disagrees with the file's end (longer or shorter), a token cut off, or a stream standing
    // for fewer or more than 131140 bytes: refused whole.
    const auto fresh = [](const std::function<void(Bytes&)>& change) {
        Bytes f = freshFile();
        change(f);
        return f;
    };
    const std::pair<const char*, Bytes> cases[] = {
        {"empty", {}},
        {"eleven bytes", fresh([](Bytes& f) { f.resize(11); })},
        {"header only", header()},
        {"other signature", fresh([](Bytes& f) { f[7] = 'W'; })},
        {"version 3", fresh([](Bytes& f) { f[11] = 3; })},
        {"length word too big", fresh([](Bytes& f) { f[12] = 26; })},
        {"length word too small", fresh([](Bytes& f) { f[12] = 24; })},
        // A complete stream, then a byte the length word does not count.
        {"bytes after the packed image", fresh([](Bytes& f) { f.push_back(0x00); })},
        {"larger than any song", fresh([](Bytes& f) {  // L = 500000, all of it present
             f.resize(12);
             f.insert(f.end(), {0x20, 0xA1, 0x07, 0x00});
             f.resize(16 + 500000, 0x00);
         })},
        {"truncated token", fresh([](Bytes& f) { f.pop_back(), f[12] = 24; })},
        {"unpacks short", fresh([](Bytes& f) { f.resize(f.size() - 4), f[12] = 21; })},
        {"unpacks long", fresh([](Bytes& f) { f.push_back(0x00), f[12] = 26; })},
    };
    expectRefused("missing", nullptr);
    for (const auto& [label, file] : cases) expectRefused(label, &file);
    unlink("x.vorna");
    ASSERT_EQ(mkdir("x.vorna", 0755), 0);
    expectRefused("folder", nullptr);
    rmdir("x.vorna");
    // The unchanged file still loads, so the refusals above came from the damage alone.
    writeFile("x.vorna", freshFile());
    EXPECT_TRUE(openSongNamed("x"));
}

TEST_F(SongFile, FailedSaveReportsItAndKeepsTheOldFile) {
    // A save that cannot complete says so and leaves whatever was there; no stray files remain.
    // (A target that is a folder, a full disk, a read-only folder: kill_test's failures.)
    cellAt(2, 0, 0).note = 40;
    ASSERT_TRUE(saveSongNamed("keep"));
    const Bytes old = readFile("keep.vorna");
    changeSongWord(cellOffset(2, 0, 0, 0), 41);

    // The folder of the target does not exist.
    EXPECT_FALSE(saveSongNamed("nowhere/song"));
    EXPECT_EQ(statusText, "FILE \"NOWHERE/SONG\" COULDN'T BE SAVED");

    // A name with a NUL in it would name some other file.
    EXPECT_FALSE(saveSongNamed(std::string("keep\0x", 6)));
    EXPECT_EQ(readFile("keep.vorna"), old);

    EXPECT_TRUE(songModified());
    auto entries = folderEntries(".");
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"keep.vorna"}));
}
