#include "app/signals.h"

#include <SDL.h>
#include <pthread.h>
#include <signal.h>

#include <thread>

#include "audio/export.h"
#include "song/safe_file.h"

Relaxed<bool> quitSignalled{false};

// A signal ignored from the start (nohup, a background job) stays ignored.
static sigset_t quitSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : QuitSignals)
        if (!signalIgnoredAtStart(sig)) sigaddset(&set, sig);
    return set;
}

// Waits for the quit signals on a thread of its own: a handler could do
// almost nothing safely, this thread may post an event.
static void waitForSignals(sigset_t set) {
    for (int count = 0;; ++count) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (count > 0) {
            // A second request while the first is handled: end now, as the
            // signal would. The recovery copy on disk is at most 0.5 s old.
            signal(sig, SIG_DFL);
            pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
            raise(sig);
        }
        quitSignalled = true;
        exportStop = true;  // a running export ends and removes its temporary file
        // The main loop and the filename prompt both end on a quit event.
        SDL_Event quit{};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
    }
}

void installQuitSignals() {
    signal(SIGXFSZ, SIG_IGN);  // a file-size limit is a failed write, not a dead process
    signal(SIGPIPE, SIG_IGN);  // a closed standard output is no reason to lose work
    sigset_t set = quitSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);  // inherited by every thread started later
    std::thread(waitForSignals, set).detach();
}
