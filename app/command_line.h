#pragma once
// The editor's command line: `vornatracker [SONG]`, --help, --version.
#include <string>

struct EditorArguments {
    std::string song;  // as given; empty when none
    bool help = false;
    bool version = false;
    std::string error;  // why the command line is wrong; empty when it is right
};

extern const char* const EditorVersion;  // app/command_line.cpp
extern const char* const EditorUsage;    // app/command_line.cpp: the --help text

EditorArguments parseEditorArguments(int argc, const char* const* argv);

// The song name the loader takes for a song given on the command line:
// the argument without a trailing ".vorna" (a path stays a path).
std::string songNameFromArgument(const std::string& argument);
