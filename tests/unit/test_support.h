#pragma once
// Set-up shared by the unit tests: a scratch working folder, the engine
// state at start-up and the reference the engine is measured against, so
// each test file does not repeat them.
#include <gtest/gtest.h>
#include <SDL/SDL.h>
#include <ftw.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "app/history.h"
#include "song/song.h"
#include "tests/unit/reference_render.h"

// A fresh folder under /tmp as the working directory for the object's life;
// afterwards the old working directory is back and the folder is gone.
struct ScratchDir {
    std::string dir, oldDir;

    explicit ScratchDir(const char* tag) { open(tag); }
    ~ScratchDir() {
        if (dir.empty()) return;  // mkdtemp failed: nothing to undo
        EXPECT_EQ(chdir(oldDir.c_str()), 0);
        // Depth first and without following links, like rm -rf.
        EXPECT_EQ(nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS), 0) << dir;
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

private:
    // Apart from the constructor, since gtest's ASSERT needs a void function.
    void open(const char* tag) {
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        oldDir = cwd;
        std::string pattern = std::string("/tmp/vorna-") + tag + "-XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        dir = pattern;
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    static int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }
};

// Every voice silent and as at start-up, arpeggio position and note count
// included, and no preview waiting for it.
inline void silenceVoices() {
    takePreviews();
    for (Instrument* v : instruments) {
        v->note = -1;
        v->time = 0;
        v->freq = 0.0f;
        v->state = 0.0f;
        v->notesStarted = 0;
    }
    static_cast<Ins0_1*>(instruments[1])->arpStep = 0;
}

// An empty song, silent voices, the row clock at its start, and no export
// or live stream in progress: the state a test expects to begin from.
inline void resetEngine() {
    initSong();
    resetHistory();
    silenceVoices();
    useKernels(8);
    tick = 0;
    tickFrame = 0;
    exporting = false;
    exportSeen = false;
    streamActive = false;
    exportProgress = nullptr;
}

// A real video mode on SDL's dummy driver: the event queue works without a display.
struct DummyVideo {
    SDL_Surface* screen = nullptr;
    const char* old = std::getenv("SDL_VIDEODRIVER");
    std::string saved = old ? old : "";
    DummyVideo() {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) == 0) screen = SDL_SetVideoMode(640, 480, 32, 0);
    }
    ~DummyVideo() {
        SDL_Quit();
        old ? setenv("SDL_VIDEODRIVER", saved.c_str(), 1) : unsetenv("SDL_VIDEODRIVER");
    }
};
