// Undo and redo through their keys: every command taken back and brought
// back byte for byte, the cursor put where the change happened, the theme
// and a load undone, and the history's limits.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "app/file_commands.h"
#include "app/history.h"
#include "song/song_file.h"
#include "tests/support/keys.h"
#include "tests/support/test_support.h"
#include "ui/palette.h"
#include "ui/status.h"

// ---- undo and redo ------------------------------------------------------------

namespace {

void undo() { press(SDLK_z, KMOD_LCTRL); }
void redo() { press(SDLK_y, KMOD_RCTRL); }

// One block command: copy, cut, paste (or into empty fields), transpose, interpolate, rows.
void blockCommand(std::mt19937& rng) {
    const int shift = rng() % 2 ? KMOD_LSHIFT : 0;
    switch (rng() % 6) {
    case 0: press(rng() % 2 ? SDLK_c : SDLK_x, KMOD_LCTRL); break;
    case 1: press(SDLK_v, KMOD_LCTRL | shift); break;
    case 2: press(rng() % 2 ? SDLK_UP : SDLK_DOWN, KMOD_RCTRL | shift); break;
    case 3: press(SDLK_i, KMOD_LCTRL); break;
    default: press(rng() % 2 ? SDLK_INSERT : SDLK_BACKSPACE, shift); break;
    }
}

// One random command of every kind that changes the song, at a random place.
void randomCommand(std::mt19937& rng) {
    static const uint8_t noteScans[] = {ScanZ, ScanS, ScanQ, ScanI, ScanSlash};
    transport.currentPattern = int(rng() % 3);
    transport.currentRow = int(rng() % 64);
    editor.cursorChannel = int(rng() % 8);
    editor.cursorColumn = int(rng() % 6);
    switch (rng() % 15) {
    case 0: press(SDLK_z, 0, noteScans[rng() % 5]); break;           // note, or a digit in the other columns
    case 1: press(SDLK_0 + int(rng() % 10)); break;                  // volume or parameter digit
    case 2: press(SDLK_a + int(rng() % 6)); break;                   // effect or parameter hex digit
    case 3: press(SDLK_DELETE, rng() % 2 ? KMOD_LSHIFT : 0); break;  // one field or the whole cell
    case 4:
        editor.copyPattern = int(rng() % 3);
        editor.copyChannel = int(rng() % 9) - 1;
        press(SDLK_F8);
        break;
    case 5:
        editor.cursorChannel = -1;
        transport.orderPos = int(rng() % 64);
        press(rng() % 3 ? SDLK_0 + int(rng() % 10) : SDLK_DELETE);
        break;
    case 6: press(rng() % 2 ? SDLK_F3 : SDLK_F4); break;
    case 7: press(SDLK_SCROLLOCK); break;
    case 8: {
        // A load of some other song, under a name of its own: any bytes, some third of the fields of the
        // patterns edited here filled.
        std::vector<uint8_t> other(SongImageSize);
        for (int i = 0; i < 2000; ++i)
            other[cellOffset(int(rng() % 8), int(rng() % 3), int(rng() % 64), int(rng() % 4))] = uint8_t(rng());
        other[SpeedOffset] = uint8_t(1 + rng() % 15);
        other[OrdersOffset] = uint8_t(rng() % 3);
        const std::vector<uint8_t> file = encodeSongFile(other.data());
        ASSERT_TRUE(openSongBytes("song" + std::to_string(rng() % 100), file.data(), file.size()));
        break;
    }
    case 9: {
        // A block marked with Shift and the movement keys, sometimes widened with Ctrl+A, and a block command
        // on it; the block stays for the commands after it while they fall on its pattern.
        static const int moves[] = {SDLK_UP, SDLK_DOWN, SDLK_PAGEUP, SDLK_PAGEDOWN, SDLK_LEFT, SDLK_RIGHT};
        for (int n = int(rng() % 8); n >= 0; --n) press(moves[rng() % 6], KMOD_LSHIFT);
        if (rng() % 4 == 0) press(SDLK_a, KMOD_LCTRL);
        blockCommand(rng);
        break;
    }
    case 10:
    case 11: blockCommand(rng); break;
    case 12: rng() % 3 ? press(SDLK_0 + int(rng() % 10), KMOD_LCTRL) : press(SDLK_ESCAPE); break;  // edit step, drop
    default: rng() % 2 ? undo() : redo(); break;
    }
}

}  // namespace

TEST_F(Keys, UndoingEverythingGivesBackTheStartingSongAndRedoingEverythingTheFinal) {
    // Random sequences of every undoable command (the block commands on blocks marked among them), undos and
    // redos among them: undoing all gives back every earlier song byte for byte (and name), redoing all gives
    // every later one up to the final.
    std::srand(5);
    for (uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        initSong();
        resetHistory();
        std::mt19937 rng(seed);
        // What the history should hold: the song and name after each kept step.
        std::vector<std::pair<std::vector<uint8_t>, std::string>> states{{currentImage(), editor.songName}};
        std::size_t at = 0;
        for (int i = 0; i < 2000; ++i) {
            const std::size_t before = historyUndoable();
            randomCommand(rng);
            const std::size_t after = historyUndoable();
            if (after == before + 1) {
                states.resize(at + 1);  // a new step drops the undone ones
                states.push_back({currentImage(), editor.songName});
                ++at;
            } else if (after + 1 == before) {
                --at;
            } else {
                ASSERT_EQ(after, before);
            }
            ASSERT_EQ(historyUndoable(), at);
            ASSERT_TRUE(currentImage() == states[at].first) << "after command " << i;
        }
        for (; at < states.size() - 1; ++at) ASSERT_TRUE(redoStep());
        const std::vector<uint8_t> final = currentImage();
        for (std::size_t k = states.size() - 1; k > 0; --k) {
            ASSERT_TRUE(undoStep());
            ASSERT_TRUE(currentImage() == states[k - 1].first) << "undo to " << k - 1;
            ASSERT_EQ(editor.songName, states[k - 1].second);
        }
        EXPECT_FALSE(undoStep());
        EXPECT_FALSE(songModified());  // back at the empty song of the start
        for (std::size_t k = 1; k < states.size(); ++k) ASSERT_TRUE(redoStep());
        EXPECT_TRUE(currentImage() == final);
        EXPECT_FALSE(redoStep());
        EXPECT_GT(states.size(), 100u);
    }
}

TEST_F(Keys, CtrlZUndoesCtrlYAndCtrlShiftZRedoInEitherFocusAndTypeNothing) {
    // Ctrl+Z takes back the last change, Ctrl+Y and Ctrl+Shift+Z bring it back; none of them types a note or a digit.
    press(SDLK_z, 0, ScanZ);
    EXPECT_EQ(cellAt(0, 0, 0).note, 39);
    undo();
    EXPECT_EQ(cellAt(0, 0, 0).note, 0);
    EXPECT_EQ(statusText, "UNDONE: NOTE");
    EXPECT_EQ(transport.currentRow, 0);  // nothing typed by the Z of Ctrl+Z
    redo();
    EXPECT_EQ(cellAt(0, 0, 0).note, 39);
    EXPECT_EQ(statusText, "REDONE: NOTE");
    undo();
    press(SDLK_z, KMOD_LCTRL | KMOD_RSHIFT, ScanZ);
    EXPECT_EQ(cellAt(0, 0, 0).note, 39);
    // In the order list, over a digit column: no digit is typed either.
    editor.cursorChannel = -1;
    editor.cursorColumn = 1;
    transport.orderPos = 4;
    press(SDLK_2);
    EXPECT_EQ(song.orders[4], 2);
    undo();
    EXPECT_EQ(song.orders[4], OrderEmpty);
    EXPECT_EQ(statusText, "UNDONE: ORDER");
    press(SDLK_y, KMOD_LCTRL);
    EXPECT_EQ(song.orders[4], 2);
    undo();
    undo();
    undo();
    EXPECT_EQ(statusText, "NOTHING TO UNDO");
    for (int i = 0; i < 3; ++i) redo();
    EXPECT_EQ(statusText, "NOTHING TO REDO");
}

TEST_F(Keys, UndoAndRedoPutTheCursorWhereTheChangeHappenedButNeverMoveThePlayPosition) {
    // The pattern, row, channel and sub-column (or the order slot with its focus) of the change come back;
    // while the song plays only the song changes.
    transport.currentPattern = 5, transport.currentRow = 20, editor.cursorChannel = 3, editor.cursorColumn = 1;
    press(SDLK_2);  // volume digit: advances to row 21
    EXPECT_EQ(cellAt(3, 5, 20).volume, 48);
    song.orders[9] = 3;
    editor.cursorChannel = -1, transport.orderPos = 9, editor.cursorColumn = 1;
    press(SDLK_DELETE);  // order slot 9 emptied, slot 10 next
    transport.currentPattern = 0, transport.currentRow = 0, editor.cursorChannel = 6, editor.cursorColumn = 4;
    undo();
    EXPECT_EQ(editor.cursorChannel, -1);
    EXPECT_EQ(transport.orderPos, 9);
    EXPECT_EQ(editor.lastChannel, 6);  // Ctrl+Tab goes back to the channel the user was on
    undo();
    EXPECT_EQ(cellAt(3, 5, 20).volume, 0);
    EXPECT_EQ(transport.currentPattern, 5);
    EXPECT_EQ(transport.currentRow, 20);
    EXPECT_EQ(editor.cursorChannel, 3);
    EXPECT_EQ(editor.cursorColumn, 1);

    transport.currentPattern = 1, transport.currentRow = 40, transport.orderPos = 2, editor.cursorChannel = 0;
    transport.playing = true;
    redo();
    EXPECT_EQ(cellAt(3, 5, 20).volume, 48);
    EXPECT_EQ(transport.currentPattern, 1);
    EXPECT_EQ(transport.currentRow, 40);
    EXPECT_EQ(transport.orderPos, 2);
    transport.playing = false;
}

TEST_F(Keys, UndoingTheThemeRepaintsAndUndoingALoadBringsBackSongNameAndTheme) {
    // The palette follows an undone theme; an undone load restores the song, its name and its theme,
    // and the saved state counts as unmodified again.
    press(SDLK_SCROLLOCK);
    EXPECT_TRUE(songModified());
    undo();
    EXPECT_EQ(palette[background], packColour(60, 70, 80));
    EXPECT_FALSE(songModified());  // back at the song as it started

    editor.songName = "first";
    press(SDLK_x, 0, 0x2D);  // an unsaved note: D-3 = 41
    std::vector<uint8_t> other(SongImageSize);
    other[0] = 100, other[1] = 20, other[2] = 30, other[SpeedOffset] = 7;
    const std::vector<uint8_t> file = encodeSongFile(other.data());
    ASSERT_TRUE(openSongBytes("second", file.data(), file.size()));
    EXPECT_FALSE(songModified());
    EXPECT_EQ(song.speed, 7);
    EXPECT_EQ(palette[background], packColour(100, 20, 30));
    undo();
    EXPECT_EQ(statusText, "UNDONE: LOAD");
    EXPECT_EQ(editor.songName, "first");
    EXPECT_EQ(cellAt(0, 0, 0).note, 41);
    EXPECT_EQ(song.speed, 3);
    EXPECT_EQ(palette[background], packColour(60, 70, 80));
    EXPECT_TRUE(songModified());  // the note was never saved
    redo();
    EXPECT_EQ(editor.songName, "second");
    EXPECT_FALSE(songModified());
}

TEST_F(Keys, HistoryKeepsTheLast100000StepsAndForgetsTheOldestBeyond32MB) {
    // 100,000 single edits all stay undoable; whole-song pastes past 32 MB drop the oldest steps first,
    // and undoing all that is left ends at the song after the oldest dropped step.
    for (int i = 0; i < 100000; ++i) changeSongWord(cellOffset(i % 8, 1, i / 8 % 64, i / 512 % 4), 1 + i % 200);
    EXPECT_EQ(historyUndoable(), 100000u);
    EXPECT_LE(historyBytes(), HistoryBudgetBytes);
    resetHistory();
    // Each paste changes all 2048 fields of a pattern: 2048 x 12 bytes of changes.
    for (int i = 0; i < 1500; ++i) {
        beginStep(StepKind::Paste);
        for (int r = 0; r < 64; ++r)
            for (int c = 0; c < 8; ++c)
                for (int f = 0; f < 4; ++f)
                    changeSongWord(cellOffset(c, 1, r, f), f == 0 ? 1 + (i + r + c) % 190 : 16 + (i + r) % 60);
        endStep();
    }
    EXPECT_LE(historyBytes(), HistoryBudgetBytes);
    EXPECT_LT(historyUndoable(), 1500u);
    EXPECT_GT(historyUndoable(), 1000u);
    const std::size_t kept = historyUndoable();
    while (undoStep()) {}
    // Pattern 1 as the last forgotten step (number 1500 - kept - 1) left it.
    const int i = int(1500 - kept - 1);
    EXPECT_EQ(cellAt(3, 1, 10).note, 1 + (i + 10 + 3) % 190);
    EXPECT_EQ(cellAt(3, 1, 10).volume, 16 + (i + 10) % 60);
}
