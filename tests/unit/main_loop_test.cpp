// The main loop's ticks, auto-repeat, catch-up and pacing on a fake clock,
// and the scan code translation.
#include <gtest/gtest.h>

#include <SDL.h>

#include <deque>
#include <vector>

#include "app/keys.h"
#include "app/main_loop.h"
#include "app/signals.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"
#include "ui/frame.h"
#include "ui/status.h"

namespace {

// The fake world: a clock, an event queue, and records of what the loop did.
uint32_t fakeNow;
std::deque<SDL_Event> queue;
int ticksRun;                  // counted by the test around runTick
std::vector<int> actedAt;      // tick numbers at which dispatch ran
std::vector<int> actedSymbol;  // heldKey.symbol at each dispatch
std::vector<int> echoed;
std::vector<uint32_t> slept;
int frames;
uint32_t drawCost;  // ms each frame's drawing takes
uint32_t actCost;   // ms each dispatch takes (a blocking command)

uint32_t now() { return fakeNow; }
int poll(SDL_Event* e) {
    if (queue.empty()) return 0;
    *e = queue.front();
    queue.pop_front();
    return 1;
}
void act() {
    actedAt.push_back(ticksRun);
    actedSymbol.push_back(mainLoop.heldKey.symbol);
    fakeNow += actCost;
}
void draw() {
    ++frames;
    fakeNow += drawCost;
}
void sleepFor(uint32_t ms) {
    slept.push_back(ms);
    fakeNow += ms;
}
void echo(int scanCode) { echoed.push_back(scanCode); }

SDL_Event keyEvent(uint8_t type, int symbol, uint8_t xKeycode = 0) {
    SDL_Event e{};
    e.type = type;
    e.key.type = type;
    e.key.keysym.sym = SDLKey(symbol);
    e.key.keysym.scancode = xKeycode;
    return e;
}
void down(int symbol, uint8_t xKeycode = 0) { queue.push_back(keyEvent(SDL_KEYDOWN, symbol, xKeycode)); }
void up(int symbol) { queue.push_back(keyEvent(SDL_KEYUP, symbol)); }

struct Loop : ::testing::Test {
    void SetUp() override {
        resetEngine();  // nothing unsaved: quitting is not asked twice
        fakeNow = 1000;
        queue.clear();
        ticksRun = 0;
        actedAt.clear();
        actedSymbol.clear();
        echoed.clear();
        slept.clear();
        frames = 0;
        drawCost = 0;
        actCost = 0;
        statusTimer = 0;
        fadeCounter = 0;
        mainLoop.heldKey = KeyRecord{};
        loopIo = LoopIo{now, poll, act, draw, sleepFor, echo};
        startLoop();
    }
    void TearDown() override { loopIo = sdlLoopIo; }
    void tick() {
        runTick();
        ++ticksRun;
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) tick();
    }
};

}  // namespace

TEST_F(Loop, ATickActsOnTheKeyHeldWhenItsEventsArePolled) {
    // Both events of a key pressed and released in one tick are polled before the tick acts: the key is
    // no longer held and nothing is done (the key-down is still echoed). Of two key-downs in one tick
    // only the later acts.
    down(SDLK_a, 38);
    up(SDLK_a);
    ticks(50);
    EXPECT_TRUE(actedAt.empty());
    EXPECT_FALSE(mainLoop.keyHeld);
    EXPECT_EQ(echoed, std::vector<int>{30});
    down(SDLK_F3);
    down(SDLK_F4);
    tick();
    EXPECT_EQ(actedSymbol, std::vector<int>{SDLK_F4});
}

TEST_F(Loop, HeldKeyActsAtOnceThenAfter440msThenEvery40ms) {
    // Auto-repeat: ticks 0, 44, 48, 52 ... after the key-down, until the key is released.
    down(SDLK_RETURN, 36);
    ticks(61);
    EXPECT_EQ(actedAt, (std::vector<int>{0, 44, 48, 52, 56, 60}));
    up(SDLK_RETURN);
    ticks(100);
    EXPECT_EQ(actedAt.size(), 6u);
}

TEST_F(Loop, ReleasingAKeyOtherThanTheLastPressedKeepsTheRepeat) {
    // Only the release of the held key stops the repeat; a new key-down restarts the count.
    down(SDLK_a);
    tick();  // tick 0: a acts
    down(SDLK_b);
    tick();  // tick 1: b acts, count restarts
    up(SDLK_a);
    ticks(50);  // ticks 2..51
    EXPECT_EQ(actedAt, (std::vector<int>{0, 1, 45, 49}));
    EXPECT_EQ(actedSymbol.back(), SDLK_b);
    EXPECT_TRUE(mainLoop.keyHeld);
    up(SDLK_b);
    ticks(20);
    EXPECT_EQ(actedAt.size(), 4u);
}

TEST_F(Loop, EachTickLowersTheStatusTimerAndAdvancesTheFade) {
    // statusTimer drops by one per tick down to 0; fadeCounter grows by 2 without limit; tickMark by 10.
    statusTimer = 3;
    const uint32_t mark = mainLoop.tickMark;
    ticks(200);
    EXPECT_EQ(statusTimer, 0);
    EXPECT_EQ(fadeCounter, 400);
    EXPECT_EQ(mainLoop.tickMark, mark + 2000);
}

TEST_F(Loop, TicksRunOnlyWhenMoreThan10msAreDue) {
    // A frame starting exactly 10 ms after the last tick runs none; 11 ms runs one.
    EXPECT_EQ(runDueTicks(mainLoop.tickMark + 10), 0);
    EXPECT_EQ(runDueTicks(mainLoop.tickMark + 11), 1);
    // The unsigned difference also works across the clock's wrap.
    mainLoop.tickMark = 0xFFFFFFF0u;
    EXPECT_EQ(runDueTicks(20), 3);
}

TEST_F(Loop, ABlockingCommandIsMadeUpByBackToBackTicks) {
    // After a 2-second command the next frame first runs about 200 ticks: statusTimer and fadeCounter advance by that many.
    actCost = 2000;
    statusTimer = 500;
    fakeNow += 11;
    down(SDLK_F9);
    runFrame();  // one tick, whose dispatch blocks for 2 s
    EXPECT_EQ(actedAt.size(), 1u);
    EXPECT_EQ(slept.size(), 0u);  // a slow frame is not delayed
    up(SDLK_F9);
    const int before = fadeCounter;
    const int timer = statusTimer;
    const uint32_t frameStart = fakeNow;
    const int ran = runDueTicks(frameStart);
    EXPECT_GE(ran, 199);
    EXPECT_LE(ran, 201);
    EXPECT_EQ(fadeCounter - before, 2 * ran);
    EXPECT_EQ(timer - statusTimer, ran);
    EXPECT_EQ(actedAt.size(), 1u);  // released during the block: no repeat
}

TEST_F(Loop, AFiftyMillisecondFrameIsFollowedByFiveTicks) {
    // Steady frames whose drawing takes 50 ms run five ticks each.
    drawCost = 50;
    fakeNow += 16;
    runFrame();
    const uint32_t start = fakeNow;
    EXPECT_EQ(runDueTicks(start), 5);
    EXPECT_EQ(slept.size(), 0u);
}

TEST_F(Loop, FramesArePacedTo16ms) {
    // A frame that took 3 ms sleeps the remaining 13; one that took 20 ms does not sleep.
    drawCost = 3;
    runFrame();
    EXPECT_EQ(slept, std::vector<uint32_t>{13});
    drawCost = 20;
    runFrame();
    EXPECT_EQ(slept.size(), 1u);
    EXPECT_EQ(frames, 2);
}

TEST_F(Loop, QuitEventEndsTheLoopAfterTheCurrentFrame) {
    // SDL_QUIT clears running; the remaining due ticks still run and the frame is still drawn.
    SDL_Event q{};
    q.type = SDL_QUIT;
    queue.push_back(q);
    fakeNow += 35;  // three ticks due
    runMainLoop();
    EXPECT_FALSE(mainLoop.running);
    EXPECT_EQ(frames, 1);
    EXPECT_EQ(fadeCounter, 6);
}

TEST_F(Loop, QuittingWithUnsavedWorkThatHasNoCopyAsksForTheSameRequestAgain) {
    // F12 or the window's close with unsaved work that has no recovery copy (here none is kept at all) does
    // not quit at once: "NOT SAVED: F12 AGAIN TO QUIT" or "NOT SAVED: CLOSE AGAIN TO QUIT"; a second F12 or
    // close within 3 s quits; a held F12's repeats are no second request; a quit signal never waits.
    constexpr int Close = -1, Signal = -2;
    struct Request {
        uint32_t at;
        int heldMs;  // F12 pressed for this long, or Close or Signal
    };
    struct Case {
        const char* what;
        std::vector<Request> requests;
        uint32_t endsAt;  // ms after the start, to the 100 ms
        const char* asked;
    };
    const Case cases[] = {
        {"F12 twice", {{100, 60}, {1100, 60}}, 1100, "NOT SAVED: F12 AGAIN TO QUIT"},
        {"close, too late again, in time",
         {{100, Close}, {4200, Close}, {5200, Close}},
         5200,
         "NOT SAVED: CLOSE AGAIN TO QUIT"},
        {"close, then F12", {{100, Close}, {2900, 60}}, 2900, "NOT SAVED: CLOSE AGAIN TO QUIT"},
        {"F12 held 2 s, then a signal", {{100, 2000}, {3000, Signal}}, 3000, "NOT SAVED: F12 AGAIN TO QUIT"},
        {"a signal", {{100, Signal}}, 100, ""},
    };
    loopIo.act = dispatchKey;
    changeSongWord(cellOffset(0, 0, 0, 0), 40);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const uint32_t start = fakeNow += 10000;    // far from the last case's requests
        std::vector<std::pair<uint32_t, int>> due;  // time, F12 down (1), up (0), Close or Signal
        for (const Request& r : c.requests) {
            due.emplace_back(start + r.at, r.heldMs < 0 ? r.heldMs : 1);
            if (r.heldMs > 0) due.emplace_back(start + r.at + uint32_t(r.heldMs), 0);
        }
        std::sort(due.begin(), due.end());
        std::string asked;
        std::size_t next = 0;
        statusText.clear();
        mainLoop.running = true;
        while (mainLoop.running && fakeNow - start < 10000) {
            for (; next < due.size() && due[next].first <= fakeNow; ++next) {
                const int what = due[next].second;
                if (what == 1) down(SDLK_F12);
                if (what == 0) up(SDLK_F12);
                quitSignalled = quitSignalled || what == Signal;  // as the signal thread delivers it
                if (what < 0) queue.push_back(keyEvent(SDL_QUIT, 0));
            }
            runFrame();
            if (statusText.rfind("NOT SAVED", 0) == 0) asked = statusText;
        }
        quitSignalled = false;
        EXPECT_EQ((fakeNow - start) / 100 * 100, c.endsAt);
        EXPECT_EQ(asked, c.asked);
    }
}

TEST_F(Loop, WithoutASoundOutputTheTicksPlayTheSongAt44100FramesASecond) {
    // Without a stream each 10 ms tick renders 441 frames through the one engine, silently: rows
    // trigger their notes and the position moves as a stream would move it (the first tick after the
    // loop starts only starts the clock). The message line says "NO SOUND OUTPUT" once. Stopped, or
    // with a stream rendering, the ticks move nothing.
    struct Case {
        int speed, ticks;
        int32_t row, tick, frame;  // (ticks - 1) x 441 frames, worked out by hand
        bool rowOnePlayed;         // its note has started
    };
    const Case cases[] = {
        {3, 8, 1, 0, 87, true},       // 3087 frames: row 0 lasts 3000
        {15, 35, 0, 14, 994, false},  // 14994: one frame short of row 1
        {1, 147, 0, 0, 386, true},    // 64386: past row 63, slot 1 is empty, so slot 0 again
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "speed " << c.speed << ", " << c.ticks << " ticks");
        resetEngine();
        cellAt(0, 0, 1).note = 45;
        song.speed = c.speed;
        statusText.clear();
        startLoop();
        transport.playing = true;
        ticks(c.ticks);
        EXPECT_EQ(transport.currentRow, c.row);
        EXPECT_EQ(transport.tick, c.tick);
        EXPECT_EQ(transport.tickFrame, c.frame);
        EXPECT_EQ(transport.orderPos, 0);
        EXPECT_EQ(instruments[0]->note, c.rowOnePlayed ? 45 : -1);
        EXPECT_EQ(statusText, "NO SOUND OUTPUT");
        statusText.clear();
        tick();
        EXPECT_EQ(statusText, "");
    }
    transport.playing = false;
    const int32_t frame = transport.tickFrame;
    ticks(10);
    EXPECT_EQ(transport.tickFrame, frame);
    transport.playing = true;
    engine.streamActive = true;  // a stream renders
    ticks(10);
    EXPECT_EQ(transport.tickFrame, frame);
    engine.streamActive = false;
    transport.playing = false;
}

TEST_F(Loop, KeyDownRecordsTheSetOneScanCodeAndEchoesIt) {
    // The X keycode of Z (52) becomes scan code 44 in heldKey and on the echo line.
    SDL_Event e = keyEvent(SDL_KEYDOWN, SDLK_z, 52);
    e.key.keysym.mod = KMOD_LSHIFT;
    e.key.keysym.unicode = 'Z';
    handleEvent(e);
    EXPECT_EQ(mainLoop.heldKey.scanCode, 44);
    EXPECT_EQ(mainLoop.heldKey.symbol, SDLK_z);
    EXPECT_EQ(mainLoop.heldKey.modifiers, KMOD_LSHIFT);
    EXPECT_EQ(mainLoop.heldKey.unicode, 'Z');
    EXPECT_TRUE(mainLoop.keyHeld);
    EXPECT_EQ(echoed, std::vector<int>{44});
}

TEST(ScanCode, MainBlockKeycodesAreSetOneCodesPlusEight) {
    // X keycodes 9..96 map to set-1 codes 1..88; extended keys to their set-1 code; others to 0.
    const std::pair<int, int> codes[] = {
        {9, 0x01},   {24, 0x10},  {52, 0x2C}, {61, 0x35}, {65, 0x39}, {96, 0x58},  // Escape Q Z / space F12
        {111, 0x48}, {119, 0x53}, {97, 0},    {255, 0},                            // Up Delete
        {0, 0},      {1, 0},      {2, 0},     {3, 0},     {4, 0},     {5, 0},     {6, 0}, {7, 0}, {8, 0}};
    for (const auto& [keycode, scanCode] : codes) EXPECT_EQ(setOneScanCode(uint8_t(keycode)), scanCode) << keycode;
}
