#include "app/main_loop.h"

#include <SDL.h>

#include <cstdio>
#include <string>

#include "app/recovery.h"
#include "app/scancode.h"
#include "app/signals.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "ui/frame.h"
#include "ui/scale_frame.h"
#include "ui/status.h"

bool running = false;
bool keyHeld = false;
KeyRecord heldKey;
int repeatCount = 0;
uint32_t tickMark = 0;
SDL_Surface* screen = nullptr;

static uint32_t sdlNow() { return SDL_GetTicks(); }

// An idle editor shows the same frame again and again: it is drawn and
// sent to the window only when something it shows has changed.
static void sdlDraw() {
    if (drawFrameIfChanged(screen)) showScreen(screen);
}

static void sdlSleep(uint32_t ms) { SDL_Delay(ms); }

// One decimal line per key-down, flushed at once so a reader sees it live.
static void printScanCode(int scanCode) {
    std::printf("%d\n", scanCode);
    std::fflush(stdout);
}

const LoopIo sdlLoopIo = {sdlNow, SDL_PollEvent, dispatchKey, sdlDraw, sdlSleep, printScanCode};
LoopIo loopIo = sdlLoopIo;

// The message that nothing can be heard is given once a run.
static bool toldNoSound = false;

void startLoop() {
    running = true;
    tickMark = loopIo.now();
    keyHeld = false;
    repeatCount = 0;
    startTimeWithoutStream(tickMark);
    toldNoSound = false;
}

void handleEvent(const SDL_Event& event) {
    switch (event.type) {
    case SDL_KEYDOWN: {
        const SDL_keysym& k = event.key.keysym;
        // A newer key-down replaces the held key.
        heldKey.scanCode = setOneScanCode(k.scancode);
        heldKey.symbol = k.sym;
        heldKey.modifiers = k.mod;
        heldKey.unicode = k.unicode;
        loopIo.echo(heldKey.scanCode);
        keyHeld = true;
        repeatCount = 0;
        break;
    }
    case SDL_KEYUP:
        // Only the release of the held key stops its repeat.
        if (event.key.keysym.sym == heldKey.symbol) {
            keyHeld = false;
            repeatCount = 0;
        }
        break;
    case SDL_QUIT:
        running = false;
        break;
    case SDL_VIDEOEXPOSE:
        frameStale = true;  // the window must be painted again
        break;
    default:
        break;
    }
}

void runTick() {
    SDL_Event event;
    while (loopIo.poll(&event)) handleEvent(event);
    if (quitSignalled) running = false;  // also when the quit event could not be posted
    // At once, then after 440 ms, then every 40 ms.
    if (keyHeld && (repeatCount == 0 ||
                    (repeatCount > RepeatDelayTicks && repeatCount % RepeatEveryTicks == 0)))
        loopIo.act();
    // Without sound the song still plays here: pattern view, play position.
    if (keepTimeWithoutStream(tickMark) && playing && !toldNoSound) {
        toldNoSound = true;
        showStatus("NO SOUND OUTPUT");
    }
    recoveryTick(tickMark);
    if (statusTimer >= 1) --statusTimer;
    // Only its passing 300 matters; stopping far above keeps a months-long run from overflowing.
    if (fadeCounter < 1000000) fadeCounter += 2;
    // Counts on while no key is held; wrapping to 48 (same phase of the 4-tick repeat) keeps it defined.
    if (++repeatCount >= (1 << 30)) repeatCount = 48;
    tickMark += TickMs;
}

int runDueTicks(uint32_t frameStart) {
    // Compared against the frame's start, so time spent blocked inside a
    // tick (export, save, prompt) is made up by back-to-back ticks next frame.
    int ran = 0;
    while (static_cast<uint32_t>(frameStart - tickMark) > TickMs) {
        runTick();
        ++ran;
    }
    return ran;
}

void runFrame() {
    const uint32_t frameStart = loopIo.now();
    runDueTicks(frameStart);
    loopIo.draw();
    const uint32_t elapsed = loopIo.now() - frameStart;
    if (elapsed < FrameMs) loopIo.sleep(FrameMs - elapsed);
}

void runMainLoop() {
    do runFrame();
    while (running);
}

static bool progressShown = false;
static uint32_t progressShownAt = 0;

void showExportProgress(uint64_t framesDone, uint64_t framesTotal) {
    if (framesTotal == 0) return;
    const uint32_t now = loopIo.now();
    if (progressShown && now - progressShownAt < ExportProgressEveryMs) return;
    progressShown = true;
    progressShownAt = now;
    const uint64_t percent = (framesDone >= framesTotal ? framesTotal : framesDone) * 100 / framesTotal;
    showStatus("EXPORTING " + std::to_string(percent) + "%");
    loopIo.draw();
}
