#include "app/main_loop.h"

#include <SDL.h>

#include <cstdio>
#include <string>

#include "app/keys.h"
#include "app/recovery.h"
#include "app/signals.h"
#include "audio/sequencer.h"
#include "platform/platform.h"
#include "song/song.h"
#include "ui/frame.h"
#include "ui/scale_frame.h"
#include "ui/status.h"

static bool quitRefused = false;    // the last request to quit was refused ...
static uint32_t quitRefusedAt = 0;  // ... at this time

static uint32_t sdlNow() { return SDL_GetTicks(); }

// An idle editor shows the same frame again and again: it is drawn and
// sent to the window only when something it shows has changed.
static void sdlDraw() {
    if (drawFrameIfChanged(mainLoop.screen)) showScreen(mainLoop.screen);
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
    mainLoop.running = true;
    mainLoop.tickMark = loopIo.now();
    mainLoop.keyHeld = false;
    mainLoop.repeatCount = 0;
    startTimeWithoutStream(mainLoop.tickMark);
    toldNoSound = false;
}

void handleEvent(const SDL_Event& event) {
    switch (event.type) {
    case SDL_KEYDOWN: {
        const SDL_keysym& k = event.key.keysym;
        // A newer key-down replaces the held key.
        mainLoop.heldKey.scanCode = setOneScanCode(k.scancode);
        mainLoop.heldKey.symbol = k.sym;
        mainLoop.heldKey.modifiers = k.mod;
        mainLoop.heldKey.unicode = k.unicode;
        loopIo.echo(mainLoop.heldKey.scanCode);
        mainLoop.keyHeld = true;
        mainLoop.repeatCount = 0;
        break;
    }
    case SDL_KEYUP:
        // Only the release of the held key stops its repeat.
        if (event.key.keysym.sym == mainLoop.heldKey.symbol) {
            mainLoop.keyHeld = false;
            mainLoop.repeatCount = 0;
        }
        break;
    case SDL_QUIT: mainLoop.running = false; break;
    case SDL_VIDEOEXPOSE:
        frameStale = true;  // the window must be painted again
        break;
    default: break;
    }
}

void runTick() {
    SDL_Event event;
    while (loopIo.poll(&event)) handleEvent(event);
    if (quitSignalled) mainLoop.running = false;  // also when the quit event could not be posted
    // At once, then after 440 ms, then every 40 ms.
    if (mainLoop.keyHeld && (mainLoop.repeatCount == 0 ||
                             (mainLoop.repeatCount > RepeatDelayTicks && mainLoop.repeatCount % RepeatEveryTicks == 0)))
        loopIo.act();
    // Without sound the song still plays here: pattern view, play position.
    if (keepTimeWithoutStream(mainLoop.tickMark) && transport.playing && !toldNoSound) {
        toldNoSound = true;
        showStatus("NO SOUND OUTPUT");
    }
    recoveryTick(mainLoop.tickMark);
    if (statusTimer >= 1) --statusTimer;
    // Only its passing 300 matters; stopping far above keeps a months-long run from overflowing.
    if (fadeCounter < 1000000) fadeCounter += 2;
    // Counts on while no key is held; wrapping to 48 (same phase of the 4-tick repeat) keeps it defined.
    if (++mainLoop.repeatCount >= (1 << 30)) mainLoop.repeatCount = 48;
    mainLoop.tickMark += TickMs;
}

int runDueTicks(uint32_t frameStart) {
    // Compared against the frame's start, so time spent blocked inside a
    // tick (export, save, prompt) is made up by back-to-back ticks next frame.
    int ran = 0;
    while (static_cast<uint32_t>(frameStart - mainLoop.tickMark) > TickMs) {
        runTick();
        ++ran;
    }
    return ran;
}

// The loop was told to end (running cleared). Unsaved work without a
// recovery copy would be lost: the first request is refused with a message
// naming the way it came; a second within QuitAgainMs, or a signal, ends it.
static void confirmQuit() {
    const bool byKey = mainLoop.quitByKey;
    mainLoop.quitByKey = false;
    if (quitSignalled || unsavedWorkHasCopy()) return;
    const uint32_t now = loopIo.now();
    if (quitRefused && now - quitRefusedAt <= QuitAgainMs) {
        std::fprintf(stderr, "vornatracker: quit asked twice; unsaved work without a recovery copy is lost\n");
        return;
    }
    quitRefused = true;
    quitRefusedAt = now;
    mainLoop.running = true;
    showStatus(byKey ? "NOT SAVED: F12 AGAIN TO QUIT" : "NOT SAVED: CLOSE AGAIN TO QUIT");
}

void runFrame() {
    const uint32_t frameStart = loopIo.now();
    runDueTicks(frameStart);
    loopIo.draw();
    const uint32_t elapsed = loopIo.now() - frameStart;
    if (elapsed < FrameMs) loopIo.sleep(FrameMs - elapsed);
    if (!mainLoop.running) confirmQuit();
}

void runMainLoop() {
    do runFrame();
    while (mainLoop.running);
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
