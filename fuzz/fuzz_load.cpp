// Loads arbitrary bytes as a song file. A refused file must leave the song,
// its name and the editor exactly as they were; an accepted one must hold
// exactly the image the tests' own reader finds in it, and undo must give
// back the song before.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/file_commands.h"
#include "app/history.h"
#include "song/song.h"
#include "song/song_file.h"
#include "tests/support/song_reference.h"
#include "ui/frame.h"
#include "ui/status.h"

// A song that differs from what most inputs would load, set up once.
static std::vector<uint8_t> baseline;

static bool songChanged = true;  // the last input loaded; the baseline must be put back

static void resetSong() {
    if (songChanged) applySongImage(baseline.data());
    songChanged = false;
    editor.songName = "before";
    transport.orderPos = 7;
    transport.currentPattern = 21;
    fadeCounter = 5;
    // An unsaved edit: an accepted load replaces it, a refused one keeps it.
    resetHistory();
    changeSongWord(cellOffset(0, 0, 0, 0), baseline[cellOffset(0, 0, 0, 0)] ^ 1);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (baseline.empty()) {
        initSong();
        baseline.resize(SongImageSize);
        for (uint32_t i = 0; i < SongImageSize; ++i) baseline[i] = uint8_t(i * 37 + (i >> 9));
    }
    resetSong();

    const bool loaded = openSongBytes("fuzz", data, size);

    std::vector<uint8_t> image(SongImageSize);
    buildSongImage(image.data());
    if (!loaded) {
        image[cellOffset(0, 0, 0, 0)] ^= 1;
        if (image != baseline || editor.songName != "before" || transport.orderPos != 7 ||
            transport.currentPattern != 21 || fadeCounter != 5 || !songModified())
            std::abort();
        undoStep();  // the baseline again, without rewriting the whole song
        return 0;
    }
    songChanged = true;
    // Accepted: a song file ending right after its packed image, the song is
    // that image, and the editor took the load's settings.
    std::vector<uint8_t> expected;
    size_t used = 0;
    std::string error;
    if (!reference::readSong(std::vector<uint8_t>(data, data + size), expected, used, error) || used != size)
        std::abort();
    if (image != expected || editor.songName != "fuzz" || transport.orderPos != 0 || fadeCounter != 300 ||
        songModified())
        std::abort();
    const int first = expected[4];
    if (transport.currentPattern != (first < PatternCount ? first : 21)) std::abort();
    // Undo brings back the song and the name as they were, unsaved edit and all.
    if (!undoStep()) std::abort();
    buildSongImage(image.data());
    image[cellOffset(0, 0, 0, 0)] ^= 1;
    if (image != baseline || editor.songName != "before" || !songModified()) std::abort();
    undoStep();
    songChanged = false;
    return 0;
}
