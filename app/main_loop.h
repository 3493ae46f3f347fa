#pragma once
// The main loop: fixed 10 ms ticks (input, auto-repeat, timers) with catch-up,
// then one frame paced to 16 ms. Time, events, drawing and the key action
// come through loopIo, so a test can drive the loop with a fake clock.
#include <cstdint>

#include "app/loop_state.h"
#include "ui/pacing.h"

union SDL_Event;

// With unsaved work that has no recovery copy, a request to quit (F12, the
// window's close) only says so on the message line; a second one within
// this time quits. Quit signals never wait.
constexpr uint32_t QuitAgainMs = 3000;

constexpr int RepeatDelayTicks = 40;  // first repeat at 44 ticks, then every 4
constexpr int RepeatEveryTicks = 4;

// What the loop uses of the outside world. Defaults: SDL's clock and event
// queue, dispatchKey, drawFrame + SDL_Flip, SDL_Delay, and the scan code
// written to standard output.
struct LoopIo {
    uint32_t (*now)();
    int (*poll)(SDL_Event* event);
    void (*act)();
    void (*draw)();
    void (*sleep)(uint32_t ms);
    void (*echo)(int scanCode);
};
extern LoopIo loopIo;           // app/main_loop.cpp
extern const LoopIo sdlLoopIo;  // app/main_loop.cpp: the defaults above

// Clears the loop state for a new run: running set, no key held,
// tickMark = now (also where the song's time starts without a stream).
void startLoop();
// Handles one polled event (key-down, key-up, quit; others ignored).
void handleEvent(const SDL_Event& event);
// One tick: poll all events (and a quit signal), auto-repeat, the song's
// time when no stream keeps it, the recovery copy when due, timers,
// counters, tickMark += 10.
void runTick();
// Runs every tick due at frameStart; returns how many ran.
int runDueTicks(uint32_t frameStart);
// One pass: due ticks, the frame, the pacing delay; when running was
// cleared, the quit is confirmed or refused (QuitAgainMs).
void runFrame();
// Passes until running is cleared.
void runMainLoop();

// The export's progress handler: at most every 100 ms (loopIo's clock) the
// message line says "EXPORTING n%" and one frame is drawn and shown. Events
// are not polled: keys typed meanwhile wait for the ticks that catch up after.
constexpr uint32_t ExportProgressEveryMs = 100;
void showExportProgress(uint64_t framesDone, uint64_t framesTotal);
