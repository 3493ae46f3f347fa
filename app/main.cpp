// VornaTracker: start-up, the main loop, shutdown.
//
//   1. The command line
//   2. The window
//   3. main
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>
#include <string>

#include "app/command_line.h"
#include "app/config.h"
#include "app/file_commands.h"
#include "app/main_loop.h"
#include "app/recovery.h"
#include "app/signals.h"
#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/stream.h"
#include "platform/platform.h"
#include "song/song.h"
#include "ui/draw.h"
#include "ui/scale_frame.h"
#include "ui/splash.h"

// ---------------------------------------------------------------------------
// 1. The command line

// Returns the exit status when the command line ends the program (help,
// version, a mistake), or -1 to start the editor. Standard output belongs to
// the scan codes, so everything here goes to standard error.
static int handleCommandLine(const EditorArguments& args) {
    if (!args.error.empty()) {
        std::fprintf(stderr, "vornatracker: %s (usage: vornatracker [SONG[.vorna]], see --help)\n", args.error.c_str());
        return 2;
    }
    if (args.help) {
        std::fputs(EditorUsage, stderr);
        return 0;
    }
    if (args.version) {
        std::fprintf(stderr, "vornatracker %s\n", EditorVersion);
        return 0;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// 2. The window

// Opens SDL and the window: the scale, full screen, the title, typed
// characters. False, having said why and ended SDL, when either cannot open.
static bool openWindow() {
#if defined(__unix__) && !defined(__APPLE__)
    // Without an X display SDL would fall back to drawing text art in the
    // terminal; unless the user asks for a driver, only a real window will do.
    setenv("SDL_VIDEODRIVER", "x11", 0);
#endif
    // The clock and delays work without SDL's timer subsystem, whose thread
    // would wake a thousand times a second for timers nothing here sets.
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "vornatracker: cannot start SDL: %s\n", SDL_GetError());
        return false;
    }
    const bool fullscreen = configFullscreen();
    bool plain = false;
    mainLoop.screen = openFrameWindow(fullscreen, configScale(), plain);
    if (plain) std::fprintf(stderr, "vornatracker: cannot show the frame larger (%s); using 640x480\n", SDL_GetError());
    if (!mainLoop.screen) {
        std::fprintf(stderr, "vornatracker: cannot open the 640x480 window: %s\n", SDL_GetError());
        SDL_Quit();
        return false;
    }
    if (fullscreen) SDL_ShowCursor(SDL_DISABLE);
    SDL_WM_SetCaption(("VornaTracker " + std::string(EditorVersion)).c_str(), nullptr);
    SDL_EnableUNICODE(1);  // the filename prompt reads typed characters
    return true;
}

// ---------------------------------------------------------------------------
// 3. main

// A song named on the command line opens as the open key would load it, and
// unsaved work of an earlier run then stays for a later start; without one,
// that work comes back.
static void openFirstSong(const EditorArguments& args) {
    if (args.song.empty()) {
        recoverAtStart();
        return;
    }
    const bool opened = openSongNamed(songNameFromArgument(args.song));
    if (!opened)
        std::fprintf(stderr, "vornatracker: cannot open \"%s\" (missing, unreadable or not a song file)\n",
                     args.song.c_str());
    // Earlier unsaved work is not opened, but the user hears of it;
    // after a failed open, once its message has been read.
    tellRecoveryWaiting(opened);
}

int main(int argc, char** argv) {
    installQuitSignals();  // before the audio thread starts, so it leaves them alone
    // UTF-8 whatever the system hands over, so any song name opens.
    const std::vector<std::string> given = programArguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& arg : given) pointers.push_back(arg.c_str());
    const EditorArguments args = parseEditorArguments(int(pointers.size()), pointers.data());
    const int early = handleCommandLine(args);
    if (early >= 0) return early;

    buildTextTables();
    std::srand(static_cast<unsigned>(std::time(nullptr)));  // for the random theme key
    seedNoise(static_cast<uint32_t>(std::time(nullptr)));
    initSong();

    const std::string driver = configDriver();
    const unsigned bufferFrames = configBufferFrames();
    // Without a stream the editor runs silent; startAudio says why on stderr.
    startAudio(driver, bufferFrames);

    if (!openWindow()) {
        stopAudio();
        return 1;
    }
    exportProgress = showExportProgress;  // a long export shows how far it got

    mainLoop.running = true;
    if (configSplash() && showSplash(mainLoop.screen, dataFilePath("splash.dat").c_str()) == -1)
        mainLoop.running = false;  // window closed

    const bool quitFromSplash = !mainLoop.running;
    // From here on changes are copied.
    startRecovery();
    if (!quitFromSplash) openFirstSong(args);
    startLoop();
    if (!quitFromSplash) runMainLoop();

    // However the loop ended, unsaved work stays in its recovery copy.
    finishRecovery();

    stopAudio();
    SDL_Quit();
    return 0;
}
