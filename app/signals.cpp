#include "app/signals.h"

#include <SDL.h>

#include "audio/export.h"
#include "platform/platform.h"

Relaxed<bool> quitSignalled{false};

// On the platform's own thread at the first request to quit.
static void quitRequested() {
    quitSignalled = true;
    exportStop = true;  // a running export ends and removes its temporary file
    // The main loop and the filename prompt both end on a quit event.
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    SDL_PushEvent(&quit);
}

void installQuitSignals() {
    ignoreFileSizeLimit();  // a file-size limit is a failed write, not a dead process
    ignoreClosedOutput();   // a closed standard output is no reason to lose work
    watchQuitRequests(quitRequested);
}
