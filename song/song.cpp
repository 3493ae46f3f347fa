#include "song/song.h"

Song song;
Transport transport;
Editor editor;

void clearSong() {
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
    }
}

void resetTransport() {
    transport.orderPos = 0;
    transport.currentPattern = 0;
    transport.currentRow = 0;
    transport.tick = 0;
    transport.tickFrame = 0;
    transport.playing = false;
    transport.loopPattern = false;
    for (auto& m : transport.muted) m = false;
}

void initSong() {
    clearSong();
    resetTransport();
    editor = Editor{};
}
