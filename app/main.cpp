// VornaTracker: start-up, the main loop, shutdown.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/config.h"
#include "app/main_loop.h"
#include "app/recovery.h"
#include "app/signals.h"
#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/stream.h"
#include "song/song.h"
#include "ui/draw.h"
#include "ui/splash.h"

// Command-line arguments are ignored.
int main(int, char**) {
    installQuitSignals();  // before the audio thread starts, so it leaves them alone
    buildTextTables();
    std::srand(static_cast<unsigned>(std::time(nullptr)));  // for the random theme key
    seedNoise(static_cast<uint32_t>(std::time(nullptr)));
    initSong();

    const std::string driver = configDriver();
    const unsigned bufferFrames = configBufferFrames();
    // Without a stream the editor runs silent; startAudio says why on stderr.
    startAudio(driver, bufferFrames);

#if defined(__unix__) && !defined(__APPLE__)
    // Without an X display SDL would fall back to drawing text art in the
    // terminal; unless the user asks for a driver, only a real window will do.
    setenv("SDL_VIDEODRIVER", "x11", 0);
#endif
    if (SDL_Init(SDL_INIT_TIMER | SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "vornatracker: cannot start SDL: %s\n", SDL_GetError());
        stopAudio();
        return 1;
    }
    const bool fullscreen = configFullscreen();
    screen = SDL_SetVideoMode(640, 480, 32, fullscreen ? SDL_FULLSCREEN : 0);
    if (!screen) {
        std::fprintf(stderr, "vornatracker: cannot open the 640x480 window: %s\n", SDL_GetError());
        stopAudio();
        SDL_Quit();
        return 1;
    }
    if (fullscreen) SDL_ShowCursor(SDL_DISABLE);
    SDL_WM_SetCaption("VornaTracker pre8", nullptr);
    SDL_EnableUNICODE(1);  // the filename prompt reads typed characters
    exportProgress = showExportProgress;  // a long export shows how far it got

    running = true;
    if (configSplash() && showSplash(screen) == -1) running = false;  // window closed

    const bool quitFromSplash = !running;
    // Unsaved work of an earlier run comes back; from here on changes are copied.
    startRecovery();
    if (!quitFromSplash) recoverAtStart();
    startLoop();
    if (!quitFromSplash) runMainLoop();

    // However the loop ended, unsaved work stays in its recovery copy.
    finishRecovery();

    stopAudio();
    SDL_Quit();
    return 0;
}
