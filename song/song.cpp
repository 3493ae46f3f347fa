#include "song/song.h"

Song song;

int octave = 3;
std::string songName;
Relaxed<int32_t> currentPattern{0};
Relaxed<int32_t> orderPos{0};
Relaxed<int32_t> currentRow{0};
int cursorChannel = 0;
int cursorColumn = 0;
int lastChannel = 0;
int copyPattern = 0;
int copyChannel = -1;
Relaxed<bool> muted[ChannelCount];
Relaxed<bool> playing{false};

void initSong() {
    song.themeRed = 60;
    song.themeGreen = 70;
    song.themeBlue = 80;
    song.speed = 3;
    song.orders[0] = 0;
    for (int i = 1; i < OrderSlots; ++i) song.orders[i] = OrderEmpty;
    for (int c = 0; c < ChannelCount; ++c) {
        Channel& ch = song.channels[c];
        for (auto& s : ch.scope.samples) s = 0.0f;
        ch.scope.writeIndex = 0;
        ch.scope.length = ScopeLength;
        for (Cell& cell : ch.cells) {
            cell.note = 0;
            cell.volume = 0;
            cell.effect = 0;
            cell.effectParam = 0;
        }
        ch.instrumentSlot = c;
        ch.gain = 1.0f;
        muted[c] = false;
    }
    octave = 3;
    songName.clear();
    currentPattern = 0;
    orderPos = 0;
    currentRow = 0;
    cursorChannel = 0;
    cursorColumn = 0;
    lastChannel = 0;
    copyPattern = 0;
    copyChannel = -1;
    playing = false;
}
