#pragma once
// vorna-render's command line: the usage text, the options and their checks,
// and the names of the stem files they give.
#include <cstdint>
#include <string>
#include <vector>

#include "render/render_output.h"

extern const char* const Usage;  // render/render_options.cpp: the --help text

constexpr uint32_t DefaultSeed = 1;  // fixed: the same song renders to the same file every time

struct Options {
    std::vector<std::string> songs;   // as given
    std::vector<std::string> inputs;  // their files, NAME.vorna: never an output
    std::string output;               // "" = beside each song
    Format format = Format::Wav16;
    bool formatGiven = false;
    std::string formatWord;           // as given, for a child's command line
    bool stems = false;
    bool info = false;
    uint32_t seed = DefaultSeed;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Fills `options`; returns "" or the reason the command line is wrong.
// Everything is checked here, before the first song: a wrong command line
// writes nothing.
std::string parseArguments(int argc, char** argv, Options& options);

// A stem name pattern for channel `channel` (0..7): "%c" is the channel
// number 1..8, "%%" one "%", any other "%" stays as it is. `marks` counts the
// "%c" in the pattern.
std::string stemPath(const std::string& pattern, int channel, int* marks = nullptr);
// Text that a stem name pattern keeps as it is: each "%" doubled.
std::string literalInPattern(const std::string& text);
