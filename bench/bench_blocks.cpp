// The block commands on a whole pattern marked (64 rows x 8 channels), each
// through the key table with its undo record (target 0.2 ms), and the memory
// its undo step takes against the fields it changed.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <vector>

#include "app/blocks.h"
#include "app/history.h"
#include "app/keys.h"
#include "app/main_loop.h"
#include "song/song.h"
#include "song/song_file.h"
#include "tests/support/engine.h"

namespace {

void press(int symbol, int modifiers) {
    mainLoop.heldKey = KeyRecord{};
    mainLoop.heldKey.symbol = symbol;
    mainLoop.heldKey.modifiers = modifiers;
    dispatchKey();
}

// Pattern 0 full in every field, with a volume on every row to interpolate
// between; pattern 1 busy too, copied as the clipboard; the whole of
// pattern 0 marked.
void fullBlock() {
    initSong();
    resetHistory();
    clearClipboard();
    busyPatterns(2);
    fullPatternZero();
    for (int c = 0; c < ChannelCount; ++c) {
        cellAt(c, 0, 0).volume = 80;  // off the straight lines the rows below are on
        cellAt(c, 0, 0).effectParam = 255;
    }
    transport.currentPattern = 1;
    press(SDLK_a, KMOD_LCTRL);
    press(SDLK_a, KMOD_LCTRL);
    press(SDLK_c, KMOD_LCTRL);
    transport.currentPattern = 0;
    press(SDLK_a, KMOD_LCTRL);
    press(SDLK_a, KMOD_LCTRL);
}

int fieldsChanged(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int n = 0;
    for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
    return n;
}

// One command per iteration on the fresh full block; the set-up is not timed.
void blockCommand(benchmark::State& state, int symbol, int modifiers, bool emptyPattern = false) {
    fullBlock();
    std::vector<uint8_t> before(SongImageSize), after(SongImageSize);
    for (auto _ : state) {
        state.PauseTiming();
        fullBlock();
        if (emptyPattern)
            for (int c = 0; c < ChannelCount; ++c)
                for (int r = 0; r < RowsPerPattern; ++r)
                    for (int f = 0; f < 4; ++f) writeSongWord(cellOffset(c, 0, r, f), 0);
        buildSongImage(before.data());
        state.ResumeTiming();
        press(symbol, modifiers);
    }
    buildSongImage(after.data());
    const int changed = fieldsChanged(before, after);
    state.counters["fields_changed"] = changed;
    state.counters["undo_bytes"] = double(historyBytes());
    state.counters["undo_bytes_per_field"] = changed ? double(historyBytes()) / changed : 0.0;
}

}  // namespace

static void BM_Copy(benchmark::State& s) { blockCommand(s, SDLK_c, KMOD_LCTRL); }
static void BM_Cut(benchmark::State& s) { blockCommand(s, SDLK_x, KMOD_LCTRL); }
static void BM_Paste(benchmark::State& s) { blockCommand(s, SDLK_v, KMOD_LCTRL); }
static void BM_PasteIntoEmptyFields(benchmark::State& s) { blockCommand(s, SDLK_v, KMOD_LCTRL | KMOD_LSHIFT, true); }
static void BM_TransposeSemitone(benchmark::State& s) { blockCommand(s, SDLK_UP, KMOD_LCTRL); }
static void BM_TransposeOctaveDown(benchmark::State& s) { blockCommand(s, SDLK_DOWN, KMOD_LCTRL | KMOD_LSHIFT); }
static void BM_Interpolate(benchmark::State& s) { blockCommand(s, SDLK_i, KMOD_LCTRL); }
static void BM_InsertRow(benchmark::State& s) { blockCommand(s, SDLK_INSERT, 0); }
static void BM_RemoveRowAllChannels(benchmark::State& s) { blockCommand(s, SDLK_BACKSPACE, KMOD_LSHIFT); }
BENCHMARK(BM_Copy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Cut)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Paste)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PasteIntoEmptyFields)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TransposeSemitone)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TransposeOctaveDown)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Interpolate)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InsertRow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RemoveRowAllChannels)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
