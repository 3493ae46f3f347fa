#include "app/command_line.h"

#include "song/names.h"

const char* const EditorVersion = VORNA_VERSION;  // from CMakeLists.txt

const char* const EditorUsage =
    "usage: vornatracker [SONG[.vorna]]\n"
    "\n"
    "Starts the editor, with SONG opened as F10 would open it (the name may be\n"
    "a path; F11 then saves back to it).\n"
    "\n"
    "  -h, --help     this text\n"
    "  --version      the program's version\n"
    "\n"
    "Settings are read from conf/ in the working folder, then from\n"
    "$XDG_CONFIG_HOME/vornatracker/conf/ (~/.config/vornatracker/conf/), then\n"
    "from the installed share folder; see the manual page vornatracker(1).\n";

EditorArguments parseEditorArguments(int argc, const char* const* argv) {
    EditorArguments args;
    bool songGiven = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // "-" alone and anything after "--" are names, so any file can be opened.
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (songGiven) {
                args.error = "more than one song given (\"" + args.song + "\", \"" + arg + "\")";
                return args;
            }
            args.song = arg;
            songGiven = true;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            args.help = true;
        } else if (arg == "--version") {
            args.version = true;
        } else {
            args.error = "unknown option " + arg;
            return args;
        }
    }
    return args;
}

std::string songNameFromArgument(const std::string& argument) {
    // A file named ".vorna" alone keeps its name: a song's name is never empty.
    return argument == SongExtension ? argument : withoutSongExtension(argument);
}
