// An unchanged frame is not drawn again: the frame signature changes with
// every input the screen shows, equal signatures mean equal pixels, and the
// first frame, a window expose and the end of the prompt force a redraw.
#include <gtest/gtest.h>

#include <SDL/SDL.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "ui/draw.h"
#include "ui/frame.h"
#include "ui/palette.h"
#include "ui/prompt.h"
#include "ui/status.h"

namespace {

struct Offscreen {
    SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, 640, 480, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    ~Offscreen() { SDL_FreeSurface(s); }
    std::vector<uint32_t> pixels() const {
        std::vector<uint32_t> out(size_t(s->w) * s->h);
        for (int y = 0; y < s->h; ++y)
            std::memcpy(&out[size_t(y) * s->w], static_cast<uint8_t*>(s->pixels) + y * s->pitch, 4 * size_t(s->w));
        return out;
    }
};

// A settled editor: fade over, a few cells, silent scopes, a message half faded.
void quietEditor() {
    initSong();
    buildTextTables();
    fadeCounter = 300;
    setPalette(60, 70, 80);
    statusText = "READY";
    statusTimer = 300;
    outputLevel = 0.0;
    cellAt(2, 0, 5).note = 40;
    cellAt(2, 0, 6).volume = 48;
    for (int c = 0; c < ChannelCount; ++c) {
        for (int i = 0; i < ScopeLength; ++i) song.channels[c].scope.samples[i] = 0.0f;
        song.channels[c].scope.writeIndex = 0;
    }
}

FrameSignature signatureNow() {
    FrameSignature s;
    takeFrameSignature(s);
    return s;
}

}  // namespace

TEST(Redraw, EveryShownInputChangesTheFrameAndItsSignature) {
    // Whatever the screen shows, changing it changes the pixels and the signature alike.
    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"theme colour", [] { setPalette(90, 20, 20); }},
        {"start-up fade", [] { fadeCounter = 120; }},
        {"message text", [] { showStatus("FILE SAVED"); }},
        {"message fading", [] { statusTimer = 250; }},
        {"message expired", [] { statusTimer = 0; }},
        {"cursor channel", [] { cursorChannel = 4; }},
        {"cursor column", [] { cursorColumn = 3; }},
        {"order list focus", [] { cursorChannel = -1; }},
        {"row", [] { currentRow = 17; }},
        {"pattern shown", [] { currentPattern = 1; }},
        {"pattern outside the song", [] { currentPattern = 255; }},
        {"order position", [] { orderPos = 9; }},
        {"speed", [] { song.speed = 11; }},
        {"octave", [] { octave = 7; }},
        {"mute", [] { muted[5] = true; }},
        {"note", [] { cellAt(0, 0, 63).note = 77; }},
        {"volume", [] { cellAt(7, 0, 0).volume = 20; }},
        {"effect", [] { cellAt(3, 0, 30).effect = 12; }},
        {"parameter", [] { cellAt(3, 0, 31).effectParam = 0xAB; }},
        {"order slot", [] { song.orders[40] = 3; }},
        {"scope sample", [] { song.channels[6].scope.samples[50] = 0.5f; }},
        {"scope ring position", [] { song.channels[1].scope.writeIndex = 2; }},
        {"level meter", [] { outputLevel = 0.2; }},
    };
    Offscreen before, after;
    for (const auto& [name, change] : changes) {
        quietEditor();
            song.channels[1].scope.samples[3] = -0.7f;  // something for the ring position to move
        drawFrame(before.s);
        const FrameSignature a = signatureNow();
        change();
        drawFrame(after.s);
        const FrameSignature b = signatureNow();
        EXPECT_NE(before.pixels(), after.pixels()) << name << ": the change is not shown";
        EXPECT_FALSE(a == b) << name << ": the signature missed a change on screen";
    }
}

TEST(Redraw, EqualSignaturesAlwaysMeanEqualFrames) {
    // Two states with the same signature draw the very same pixels; random edits of
    // what the frame reads never slip past it.
    quietEditor();
    std::srand(12345);
    Offscreen prev, cur;
    drawFrame(prev.s);
    FrameSignature last = signatureNow();
    int same = 0, differ = 0;
    for (int step = 0; step < 300; ++step) {
        switch (std::rand() % 8) {
        case 0: cellAt(std::rand() % 8, std::rand() % 2, std::rand() % 64).note = std::rand() % 3 ? 0 : std::rand() % 300; break;
        case 1: currentRow = std::rand() % 64; break;
        case 2: song.channels[std::rand() % 8].scope.samples[std::rand() % ScopeLength] = float(std::rand() % 5) * 0.01f; break;
        case 3: outputLevel = (std::rand() % 3) * 0.0013; break;  // some below one pixel of bar
        case 4: statusTimer = std::rand() % 2 ? 0 : std::rand() % 600; break;
        case 5: currentPattern = std::rand() % 3; break;
        case 6: break;  // nothing at all
        case 7: muted[std::rand() % 8] = std::rand() % 2; break;
        }
        drawFrame(cur.s);
        const FrameSignature now = signatureNow();
        if (now == last) {
            ++same;
            ASSERT_EQ(prev.pixels(), cur.pixels()) << "step " << step << ": same signature, different frame";
        } else {
            ++differ;
        }
        std::swap(prev.s, cur.s);
        last = now;
    }
    // Both outcomes occurred, so neither check above was idle.
    EXPECT_GT(same, 20);
    EXPECT_GT(differ, 20);
}

TEST(Redraw, UnchangedFrameIsSkippedUntilSomethingChangesOrAnExposeArrives) {
    // The first frame is drawn; the same frame again is not; a change, a window
    // expose or another drawer's mark draws it again.
    quietEditor();
    Offscreen screenA;
    frameStale = true;
    EXPECT_TRUE(drawFrameIfChanged(screenA.s));
    const std::vector<uint32_t> shown = screenA.pixels();
    EXPECT_FALSE(drawFrameIfChanged(screenA.s));
    EXPECT_FALSE(drawFrameIfChanged(screenA.s));

    cellAt(0, 0, 0).note = 50;
    EXPECT_TRUE(drawFrameIfChanged(screenA.s));
    EXPECT_NE(screenA.pixels(), shown);
    EXPECT_FALSE(drawFrameIfChanged(screenA.s));

    SDL_Event expose{};
    expose.type = SDL_VIDEOEXPOSE;
    handleEvent(expose);
    EXPECT_TRUE(drawFrameIfChanged(screenA.s));
    EXPECT_FALSE(drawFrameIfChanged(screenA.s));

    frameStale = true;  // as the prompt leaves it
    EXPECT_TRUE(drawFrameIfChanged(screenA.s));
}

TEST(Redraw, MainFrameIsRepaintedAfterThePromptCloses) {
    // The prompt draws its box over the screen; once it returns, the next main frame is drawn
    // even though nothing the frame shows has changed.
    quietEditor();
    const char* old = std::getenv("SDL_VIDEODRIVER");
    const std::string saved = old ? old : "";
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER), 0);
    SDL_Surface* screen = SDL_SetVideoMode(640, 480, 32, 0);
    ASSERT_NE(screen, nullptr);
    frameStale = true;
    EXPECT_TRUE(drawFrameIfChanged(screen));
    EXPECT_FALSE(drawFrameIfChanged(screen));

    SDL_Event escape{};
    escape.type = SDL_KEYDOWN;
    escape.key.keysym.sym = SDLK_ESCAPE;
    ASSERT_EQ(SDL_PushEvent(&escape), 0);
    bool running = true;
    EXPECT_EQ(promptFilename(screen, "ENTER FILENAME TO OPEN", running), "");
    EXPECT_TRUE(drawFrameIfChanged(screen));

    SDL_Quit();
    old ? setenv("SDL_VIDEODRIVER", saved.c_str(), 1) : unsetenv("SDL_VIDEODRIVER");
}
