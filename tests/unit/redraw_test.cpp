// An unchanged frame is not drawn again: the frame signature changes with
// every input the screen shows, equal signatures mean equal pixels, and the
// first frame, a window expose and the end of the prompt force a redraw.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/main_loop.h"
#include "tests/support/surfaces.h"
#include "tests/support/test_support.h"
#include "ui/prompt.h"
#include "ui/scale_frame.h"
#include "ui/status.h"

namespace {

struct Offscreen {
    SDL_Surface* s = newScreen();
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
    restingScreen();
    statusText = "READY";
    statusTimer = 300;
    engine.outputLevel = 0.0;
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
    EXPECT_FALSE(s.overflowed) << "the sections' words outgrew the signature";
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
        {"cursor channel", [] { editor.cursorChannel = 4; }},
        {"cursor column", [] { editor.cursorColumn = 3; }},
        {"order list focus", [] { editor.cursorChannel = -1; }},
        {"row", [] { transport.currentRow = 17; }},
        {"pattern shown", [] { transport.currentPattern = 1; }},
        {"pattern outside the song", [] { transport.currentPattern = 255; }},
        {"order position", [] { transport.orderPos = 9; }},
        {"speed", [] { song.speed = 11; }},
        {"octave", [] { editor.octave = 7; }},
        {"mute", [] { transport.muted[5] = true; }},
        {"note", [] { cellAt(0, 0, 63).note = 77; }},
        {"volume", [] { cellAt(7, 0, 0).volume = 20; }},
        {"effect", [] { cellAt(3, 0, 30).effect = 12; }},
        {"parameter", [] { cellAt(3, 0, 31).effectParam = 0xAB; }},
        {"order slot", [] { song.orders[40] = 3; }},
        {"scope sample", [] { song.channels[6].scope.samples[50] = 0.5f; }},
        {"scope ring position", [] { song.channels[1].scope.writeIndex = 2; }},
        {"level meter", [] { engine.outputLevel = 0.2; }},
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
        case 0:
            cellAt(std::rand() % 8, std::rand() % 2, std::rand() % 64).note = std::rand() % 3 ? 0 : std::rand() % 300;
            break;
        case 1: transport.currentRow = std::rand() % 64; break;
        case 2:
            song.channels[std::rand() % 8].scope.samples[std::rand() % ScopeLength] = float(std::rand() % 5) * 0.01f;
            break;
        case 3: engine.outputLevel = (std::rand() % 3) * 0.0013; break;  // some below one pixel of bar
        case 4: statusTimer = std::rand() % 2 ? 0 : std::rand() % 600; break;
        case 5: transport.currentPattern = std::rand() % 3; break;
        case 6: break;  // nothing at all
        case 7: transport.muted[std::rand() % 8] = std::rand() % 2; break;
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
    // The first frame is drawn; the same frame again is not; a change or a window
    // expose draws it again (the prompt's mark: the next test).
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
}

TEST(Redraw, MainFrameIsRepaintedAfterThePromptCloses) {
    // The prompt draws its box over the screen; once it returns, the next main frame is drawn
    // even though nothing the frame shows has changed.
    quietEditor();
    DummyVideo video;
    SDL_Surface* window = video.screen;
    ASSERT_NE(window, nullptr);
    frameStale = true;
    EXPECT_TRUE(drawFrameIfChanged(window));
    EXPECT_FALSE(drawFrameIfChanged(window));

    SDL_Event escape{};
    escape.type = SDL_KEYDOWN;
    escape.key.keysym.sym = SDLK_ESCAPE;
    ASSERT_EQ(SDL_PushEvent(&escape), 0);
    bool stillRunning = true;
    EXPECT_EQ(promptFilename(window, "ENTER FILENAME TO OPEN", stillRunning), "");
    EXPECT_TRUE(drawFrameIfChanged(window));
}

TEST(Redraw, ASignatureThatRanOutOfRoomNeverMatchesSoTheFrameIsDrawn) {
    // A section adding more words than the signature holds loses them: the signature then
    // equals nothing, not even itself, and the frame is drawn every time rather than skipped.
    quietEditor();
    FrameSignature a = signatureNow(), b = signatureNow();
    ASSERT_TRUE(a == b);
    const int room = FrameSignature::Capacity - a.count;
    for (int i = 0; i < room; ++i) a.put(7), b.put(7);
    EXPECT_TRUE(a == b) << "a full signature still compares";
    EXPECT_FALSE(a.overflowed);
    a.put(7);
    b.put(8);  // the two differ only in the lost words
    EXPECT_TRUE(a.overflowed);
    EXPECT_EQ(a.count, FrameSignature::Capacity);
    EXPECT_FALSE(a == b);
    EXPECT_FALSE(a == a);
    b.clear();
    EXPECT_FALSE(b.overflowed);
    EXPECT_EQ(b.count, 0);
}

// ---- the scale step ---------------------------------------------------------

namespace {

// Scales the frame into a guarded window at (x0, y0) and expects each frame pixel as an NxN block
// there, cut at the window's edges, and every other word of the window and around it untouched.
void expectScaled(const SDL_Surface* frame, int n, int x0, int y0, int windowW, int windowH) {
    GuardedSurface window(windowW, windowH, GuardedSurface::Guard);
    scaleFrame(frame, window.s, n, x0, y0);
    int wrong = 0;
    for (int y = 0; y < window.h; ++y)
        for (int x = 0; x < window.w; ++x) {
            const bool inBlock = x >= x0 && x < x0 + frame->w * n && y >= y0 && y < y0 + frame->h * n;
            wrong += window.at(x, y) != (inBlock ? pixelAt(frame, (x - x0) / n, (y - y0) / n) : GuardedSurface::Guard);
        }
    EXPECT_EQ(wrong, 0) << "scale " << n << " at " << x0 << "," << y0;
    EXPECT_EQ(window.outsideWritten(), 0) << "scale " << n << " at " << x0 << "," << y0;
}

}  // namespace

TEST(ScaleStep, EachFramePixelBecomesAnNxNBlockClippedAtTheWindowAndNothingElseIsWritten) {
    // Scale N shows frame pixel (x, y) on window pixels x0 + N x .. + N - 1, y0 + N y .. + N - 1; the rest
    // stays. Blocks that fall off the window are cut at its edges; no byte past a row or past the last
    // row is written.
    quietEditor();
    cellAt(5, 0, 20).note = 90;
    showStatus("SCALED");
    Offscreen frame;
    drawFrame(frame.s);
    for (int n = 1; n <= 4; ++n)  // away from the corner, so every border is checked
        expectScaled(frame.s, n, 3 * n, 2 * n + 1, 640 * n + 7 * n, 480 * n + 5 * n);
    GuardedSurface small(5, 3, 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) small.at(x, y) = 0xFF000000u | uint32_t(y * 16 + x);
    for (const auto& [x0, y0] : std::vector<std::pair<int, int>>{
             {-4, -2}, {5, 4}, {-14, 0}, {0, -8}, {7, 5}, {-100, -100}, {100, 1}, {1, 100}})
        expectScaled(small.s, 3, x0, y0, 8, 6);
}

TEST(ScaleStep, LayoutFitsTheDesktopAndCentresFullScreen) {
    // The largest scale up to 4 that fits (a window keeps 48 rows for its title bar); a larger full screen centres on the desktop.
    struct Case {
        int setting;
        bool fullscreen;
        int desktopW, desktopH;
        FrameLayout want;
    };
    const Case cases[] = {
        // Windows: the mode is the scaled frame itself.
        {1, false, 1920, 1080, {640, 480, 1, 0, 0}},
        {ScaleAuto, false, 1920, 1080, {1280, 960, 2, 0, 0}},  // 3 x 480 > 1080
        {ScaleAuto, false, 2560, 1440, {1280, 960, 2, 0, 0}},  // 1440 + 48 > 1440
        {ScaleAuto, false, 3840, 2160, {2560, 1920, 4, 0, 0}},
        {ScaleAuto, false, 1366, 768, {640, 480, 1, 0, 0}},
        {ScaleAuto, false, 0, 0, {640, 480, 1, 0, 0}},  // desktop unknown
        {4, false, 1920, 1080, {1280, 960, 2, 0, 0}},   // lowered until it fits
        {3, false, 0, 0, {1920, 1440, 3, 0, 0}},        // nothing to fit against
        {9, false, 7680, 4320, {2560, 1920, 4, 0, 0}},  // never above 4
        {2, false, 1280, 1024, {1280, 960, 2, 0, 0}},   // 960 + 48 = 1008
        // Full screen: 640x480 asked for as always, a larger frame centred on the desktop.
        {1, true, 1920, 1080, {640, 480, 1, 0, 0}},
        {ScaleAuto, true, 1920, 1080, {1920, 1080, 2, 320, 60}},
        {ScaleAuto, true, 2560, 1440, {2560, 1440, 3, 320, 0}},
        {4, true, 3840, 2160, {3840, 2160, 4, 640, 120}},
        {ScaleAuto, true, 800, 600, {640, 480, 1, 0, 0}},
        {2, true, 0, 0, {1280, 960, 2, 0, 0}},
    };
    for (const Case& c : cases) {
        const FrameLayout got = chooseLayout(c.setting, c.fullscreen, c.desktopW, c.desktopH);
        const std::string what = "setting " + std::to_string(c.setting) +
                                 (c.fullscreen ? " full screen " : " window ") + std::to_string(c.desktopW) + "x" +
                                 std::to_string(c.desktopH);
        EXPECT_EQ(got.width, c.want.width) << what;
        EXPECT_EQ(got.height, c.want.height) << what;
        EXPECT_EQ(got.scale, c.want.scale) << what;
        EXPECT_EQ(got.x, c.want.x) << what;
        EXPECT_EQ(got.y, c.want.y) << what;
    }
}

TEST(ScaleStep, OnlyAScaledOrCentredFrameIsDrawnOffTheWindow) {
    // A plain 640x480 window is drawn on directly, as without scaling; otherwise a 640x480 surface in the window's format.
    SDL_Surface* plain = SDL_CreateRGBSurface(SDL_SWSURFACE, 640, 480, 32, 0xFF, 0xFF00, 0xFF0000, 0);
    EXPECT_EQ(frameSurfaceFor(plain, FrameLayout()), plain);
    EXPECT_EQ(windowSurface, plain);

    SDL_Surface* big = SDL_CreateRGBSurface(SDL_SWSURFACE, 1280, 960, 32, 0xFF, 0xFF00, 0xFF0000, 0);
    SDL_FillRect(big, nullptr, 0x123456);
    FrameLayout twice;
    twice.width = 1280;
    twice.height = 960;
    twice.scale = 2;
    SDL_Surface* frame = frameSurfaceFor(big, twice);
    ASSERT_NE(frame, nullptr);
    EXPECT_NE(frame, big);
    EXPECT_EQ(frame->w, 640);
    EXPECT_EQ(frame->h, 480);
    EXPECT_EQ(frame->format->BitsPerPixel, 32);
    EXPECT_EQ(frame->format->Rmask, 0xFFu);  // the window's own layout, so scaling is a plain copy
    EXPECT_EQ(frame->format->Bmask, 0xFF0000u);
    EXPECT_EQ(pixelAt(big, 1279, 959), 0u);  // the window starts black
    EXPECT_EQ(frameLayout.scale, 2);

    frameSurfaceFor(nullptr, FrameLayout());  // no window is left behind for later tests
    SDL_FreeSurface(frame);
    SDL_FreeSurface(big);
    SDL_FreeSurface(plain);
}
