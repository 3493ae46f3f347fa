#pragma once
// Set-up shared by the unit tests on top of the test framework: a scratch
// working folder that must go away whole, and SDL's dummy video. The engine
// state and the files (engine.h, files.h) come with it.
#include <gtest/gtest.h>
#include <SDL/SDL.h>

#include <cstdlib>
#include <string>

#include "tests/support/engine.h"
#include "tests/support/files.h"

// A fresh folder under /tmp as the working directory for the object's life;
// afterwards the old working directory is back and the folder is gone.
struct ScratchDir {
    TempFolder folder;
    const std::string dir;

    explicit ScratchDir(const char* tag) : folder(tag, true), dir(folder.path()) {
        EXPECT_FALSE(dir.empty()) << "no scratch folder for " << tag;
    }
    ~ScratchDir() { EXPECT_TRUE(folder.close()) << dir; }
};

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
