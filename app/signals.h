#pragma once
// Quit requests (SIGTERM, SIGINT and SIGHUP; on Windows Ctrl+C, closing the
// console, log-off and shut-down) end the editor the normal way (the recovery
// copy is written, the window closes); a second one ends it at once.
// A file-size limit makes a write fail instead of killing the process, and a
// closed standard output does not kill it either.
#include "song/relaxed.h"

// Set by the signal thread when a quit signal came; the main loop then ends.
extern Relaxed<bool> quitSignalled;  // app/signals.cpp

// Must run before any other thread starts, so every thread leaves these
// signals to the one thread that waits for them.
void installQuitSignals();
