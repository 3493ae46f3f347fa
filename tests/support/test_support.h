#pragma once
// Set-up shared by the unit tests on top of the test framework: a scratch
// working folder that must go away whole, environment variables set for a
// while, what a routine writes on standard error, work done in a child
// process, and SDL's dummy video.
// The engine state and the files (engine.h, files.h) come with it.
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/engine.h"
#include "tests/support/files.h"

// A fresh scratch folder (files.h) as the working directory for the object's life;
// afterwards the old working directory is back and the folder is gone.
struct ScratchDir {
    TempFolder folder;
    const std::string dir;

    explicit ScratchDir(const char* tag) : folder(tag, true), dir(folder.path()) {
        EXPECT_FALSE(dir.empty()) << "no scratch folder for " << tag;
    }
    ~ScratchDir() { EXPECT_TRUE(folder.close()) << dir; }
};

// Environment variables set (a null value: removed) for the object's life;
// the old values come back at the end, the last set first.
class EnvSettings {
public:
    EnvSettings() = default;
    EnvSettings(const char* name, const char* value) { set(name, value); }
    EnvSettings(const EnvSettings&) = delete;
    EnvSettings& operator=(const EnvSettings&) = delete;
    void set(const std::string& name, const char* value) {
        const char* old = std::getenv(name.c_str());
        saved_.push_back({name, old ? old : "", old != nullptr});
        setEnvironment(name, value);
    }
    void set(const std::string& name, const std::string& value) { set(name, value.c_str()); }
    ~EnvSettings() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            setEnvironment(it->name, it->had ? it->value.c_str() : nullptr);
    }

private:
    struct Saved {
        std::string name, value;
        bool had;
    };
    std::vector<Saved> saved_;
};

// Everything f writes to file descriptor 2.
inline std::string stderrOf(const std::function<void()>& f) {
    std::fflush(stderr);
    std::fflush(stdout);
    TempFolder folder("err");
    const std::string path = folder.path() + "/err.txt";
    const int saved = dup(2), fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    close(fd);
    f();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    return readText(path);
}

// A real video mode on SDL's dummy driver: the event queue works without a display.
struct DummyVideo {
    EnvSettings driver{"SDL_VIDEODRIVER", "dummy"};
    SDL_Surface* screen = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) == 0 ? SDL_SetVideoMode(640, 480, 32, 0) : nullptr;
    ~DummyVideo() { SDL_Quit(); }
};
