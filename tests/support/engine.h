#pragma once
// The engine's state for the tests and benchmarks: back to start-up, the
// song as its file image, and the busy songs they play. No test framework
// here, so the benchmarks measure the very songs the tests use.
#include <cstdint>

#include "app/history.h"
#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "song/song_file.h"
#include "tests/support/files.h"

// Every voice silent and as at start-up, arpeggio position and note count
// included, and no preview waiting for it.
inline void silenceVoices() {
    takePreviews();
    for (Instrument* v : instruments) {
        v->note = -1;
        v->time = 0;
        v->freq = 0.0f;
        v->state = 0.0f;
        v->notesStarted = 0;
    }
    static_cast<Ins0_1*>(instruments[1])->arpStep = 0;
}

// The engine's words at their start: no export, no live stream, no level.
inline void resetEngineWords() {
    engine.exporting = false;
    engine.exportSeen = false;
    engine.streamActive = false;
    engine.outputLevel = 0.0;
}

// An empty song, stopped at its start, the editor as at start-up, silent
// voices, and no export or live stream in progress: the state a test
// expects to begin from.
inline void resetEngine() {
    clearSong();
    resetTransport();
    editor = Editor{};
    resetEngineWords();
    resetHistory();
    silenceVoices();
    effectState = EffectState{};
    useKernels(8);
    exportProgress = nullptr;
}

// One frame of live playback: a block of one.
inline double frame() {
    double out = 0.0;
    fillBlock(&out, 1);
    return out;
}

// Frames until currentRow leaves its value, with playback running (at most
// a million, so a row that never ends shows as a wrong count).
inline int framesInRow() {
    const int start = transport.currentRow;
    int frames = 0;
    while (transport.currentRow == start && frames < 1000000) frame(), ++frames;
    return frames;
}

// The song as its file stores it.
inline Bytes currentImage() {
    Bytes image(SongImageSize);
    buildSongImage(image.data());
    return image;
}

// The one pseudo-random sequence of the generated songs, a 32-bit linear
// congruential one: a seed gives the same song on every machine, so figures
// measured on it stay comparable. next(m) is 0..m-1.
struct Lcg {
    uint32_t r;
    uint32_t next(uint32_t m) {
        r = r * 1664525u + 1013904223u;
        return (r >> 8) % m;
    }
};

// Every channel sounds: a note every second row, a volume on the rows
// between; the drum channels alternate the tone drum (pitch class 3) and the
// noise drum (5), so all five voice kinds run on every frame. Two patterns
// looping at `speed`, from the start, voices silent, the noise seeded.
// Playback is left to the caller.
inline void busySong(int speed = 3, uint32_t noiseSeed = 1) {
    resetEngine();
    seedNoise(noiseSeed);
    song.orders[1] = 1;
    song.speed = speed;
    for (int p = 0; p < 2; ++p)
        for (int r = 0; r < RowsPerPattern; ++r)
            for (int c = 0; c < ChannelCount; ++c) {
                Cell& cell = cellAt(c, p, r);
                if (r % 2 == 0) {
                    const int drum = (r / 2 + c) % 2 ? 3 : 5;
                    cell.note = c >= 6 ? 12 * (2 + c - 6) + drum : 24 + (r * 5 + c * 7) % 48;
                } else {
                    cell.volume = 16 + (r * 3 + c) % 65;
                }
            }
}

// Patterns 0..patterns-1 filled at random: notes on half the rows of every
// channel, volumes on a third of the cells; the drum channels mix the tone
// drum (pitch class 3) and the noise drum (5). The order list is left alone.
inline void busyPatterns(int patterns, uint32_t seed = 12345) {
    Lcg lcg{seed};
    for (int p = 0; p < patterns; ++p)
        for (int row = 0; row < RowsPerPattern; ++row)
            for (int c = 0; c < ChannelCount; ++c) {
                Cell& cell = cellAt(c, p, row);
                if ((row + c) % 2 == 0)
                    cell.note =
                        c >= 6 ? int32_t(12 * (1 + lcg.next(6)) + (lcg.next(2) ? 3 : 5)) : int32_t(20 + lcg.next(70));
                if (lcg.next(3) == 0) cell.volume = int32_t(40 + lcg.next(41));
            }
}

// Pattern 0 full on every channel, so a drawn grid has a glyph in every
// place; `effects` fills the effect columns too.
inline void fullPatternZero(bool effects = true) {
    for (int c = 0; c < ChannelCount; ++c)
        for (int r = 0; r < RowsPerPattern; ++r) {
            cellAt(c, 0, r).note = 1 + (r * 7 + c) % 96;
            cellAt(c, 0, r).volume = 16 + r % 64;
            if (!effects) continue;
            cellAt(c, 0, r).effect = 1 + r % 15;
            cellAt(c, 0, r).effectParam = r * 4;
        }
}

// An effect on every channel of every row of patterns 0..patterns-1, drawn
// from those that act within a row (1..A and C), with any parameter: the
// song's course and length stay as they were.
inline void effectsEverywhere(int patterns, uint32_t seed = 777) {
    static const int32_t digits[] = {0x1, 0x2, 0x3, 0x4, 0x5, 0x6, 0x7, 0x8, 0x9, 0xA, 0xC};
    Lcg lcg{seed};
    for (int p = 0; p < patterns; ++p)
        for (int row = 0; row < RowsPerPattern; ++row)
            for (int c = 0; c < ChannelCount; ++c) {
                Cell& cell = cellAt(c, p, row);
                cell.effect = digits[lcg.next(sizeof digits / sizeof digits[0])];
                cell.effectParam = int32_t(lcg.next(256));
            }
}
