// vorna-render: renders a song file to a WAV file without a window or a sound
// device, with the editor's own loader and export, so the file is the one the
// editor's export would write right after start-up.
//
//   1. Usage text and messages
//   2. Command line
//   3. Progress bar
//   4. main
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/safe_file.h"
#include "song/song.h"
#include "song/song_file.h"

// ---------------------------------------------------------------------------
// 1. Usage text and messages

static const char* const Version = "pre8";
static const uint32_t DefaultSeed = 1;  // fixed: the same song renders to the same file every time

static const char* const Usage =
    "usage: vorna-render SONG[.vorna] [-o OUT.wav] [--seed N] [--quiet]\n"
    "\n"
    "Renders a song to a 16-bit mono 44100 Hz WAV file, exactly as the editor's\n"
    "export does right after start-up: from order slot 0 to the end of the order\n"
    "list, mutes ignored, no looping.\n"
    "\n"
    "  SONG           the song file; a name without \".vorna\" gets it appended,\n"
    "                 as in the editor's load prompt\n"
    "  -o, --output OUT.wav\n"
    "                 where to write (default: SONG with \".wav\" in place of\n"
    "                 \".vorna\"); an existing file is replaced only once the new\n"
    "                 one is complete\n"
    "  --seed N       start value of the noise drum's generator, 0..4294967295\n"
    "                 (default 1, so a song renders to the same file every time)\n"
    "  -q, --quiet    no progress bar, no summary\n"
    "  -h, --help     this text\n"
    "  --version      the program's version\n"
    "\n"
    "Exit status: 0 written; 1 the song cannot be read or is refused, or the\n"
    "output cannot be written; 2 wrong command line.\n";

static int usageError(const std::string& what) {
    std::fprintf(stderr, "vorna-render: %s\nTry 'vorna-render --help'.\n", what.c_str());
    return 2;
}

// ---------------------------------------------------------------------------
// 2. Command line

struct Options {
    std::string song;    // as given
    std::string output;  // "" = derived from the song
    uint32_t seed = DefaultSeed;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Whole decimal numbers 0..2^32-1 only: "12x", "-1", "" and overflow are refused.
static bool parseSeed(const std::string& text, uint32_t& seed) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + uint64_t(c - '0');
    }
    if (value > 0xFFFFFFFFull) return false;
    seed = uint32_t(value);
    return true;
}

// Fills `options`; returns "" or the reason the command line is wrong.
static std::string parseArguments(int argc, char** argv, Options& options) {
    bool songGiven = false;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (songGiven) return "more than one song given (\"" + options.song + "\", \"" + arg + "\")";
            options.song = arg;
            songGiven = true;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name=value" is the same as "--name value".
        std::string value;
        bool inlineValue = false;
        if (arg.compare(0, 2, "--") == 0) {
            size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                inlineValue = true;
            }
        }
        bool wantsValue = arg == "-o" || arg == "--output" || arg == "--seed";
        if (inlineValue && !wantsValue) return "option " + arg + " takes no value";
        if (wantsValue && !inlineValue) {
            if (i + 1 >= argc) return "option " + arg + " needs a value";
            value = argv[++i];
        }
        if (arg == "-o" || arg == "--output") {
            if (value.empty()) return "option " + arg + " needs a file name";
            options.output = value;
        } else if (arg == "--seed") {
            if (!parseSeed(value, options.seed)) return "bad seed \"" + value + "\" (a whole number 0..4294967295)";
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else {
            return "unknown option " + arg;
        }
    }
    if (!options.help && !options.version && !songGiven) return "no song given";
    return "";
}

static bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// ---------------------------------------------------------------------------
// 3. Progress bar

static int lastShown = -1;  // permille last drawn, so the terminal is not flooded

static void showProgress(uint64_t done, uint64_t total) {
    int permille = total == 0 ? 1000 : int(done * 1000 / total);
    if (permille > 1000) permille = 1000;
    if (permille == lastShown) return;
    lastShown = permille;
    const int width = 40;
    char bar[width + 1];
    int filled = permille * width / 1000;
    for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
    bar[width] = '\0';
    std::fprintf(stderr, "\r[%s] %3d.%d%%", bar, permille / 10, permille % 10);
    std::fflush(stderr);
}

// ---------------------------------------------------------------------------
// 4. main

int main(int argc, char** argv) {
    safeFileSignals();  // an interrupted render leaves no temporary file; a size limit is a failed write
    Options options;
    std::string wrong = parseArguments(argc, argv, options);
    if (!wrong.empty()) return usageError(wrong);
    if (options.help) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("vorna-render %s\n", Version);
        return 0;
    }

    // The loader takes the name without its extension, like the editor's prompt.
    std::string name = options.song;
    if (endsWith(name, ".vorna")) name.resize(name.size() - 6);
    const std::string path = name + ".vorna";
    const std::string output = options.output.empty() ? name + ".wav" : options.output;

    // Tell a file that cannot be read from one that is refused; a FIFO or a
    // device is refused without being opened in a way that could wait.
    const int probe = openRegularFile(path);
    if (probe < 0) {
        const char* why = errno == EINVAL ? "not a regular file" : std::strerror(errno);
        std::fprintf(stderr, "vorna-render: cannot read \"%s\": %s\n", path.c_str(), why);
        return 1;
    }
    close(probe);
    // However it is spelled (links, "./", another name of the same file).
    if (sameFile(path, output)) {
        std::fprintf(stderr, "vorna-render: refusing to write \"%s\": it is the song being rendered\n", output.c_str());
        return 1;
    }

    // The state of a freshly started editor: song cleared, voices never
    // triggered, every gain 1.0.
    initSong();
    seedNoise(options.seed);
    if (!loadSong(name)) {
        std::fprintf(stderr,
                     "vorna-render: \"%s\" is not a song file this version can load"
                     " (damaged, or for a different version)\n",
                     path.c_str());
        return 1;
    }

    const bool bar = !options.quiet && isatty(STDERR_FILENO);
    if (bar) exportProgress = showProgress;
    const uint64_t frames = exportFrameCount();
    const auto begin = std::chrono::steady_clock::now();
    std::string why;
    const bool written = exportWav(output, &why);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (bar) std::fputc('\n', stderr);
    if (!written) {
        std::fprintf(stderr, "vorna-render: cannot write \"%s\": %s; nothing was changed there\n", output.c_str(),
                     why.c_str());
        return 1;
    }

    if (!options.quiet) {
        const double audioSeconds = double(frames) / SampleRate;
        std::printf("%s: %llu frames, %.2f s of audio, rendered in %.2f s (%.0fx real time)\n",
                    output.c_str(), static_cast<unsigned long long>(frames), audioSeconds, seconds,
                    seconds > 0 ? audioSeconds / seconds : 0.0);
    }
    return 0;
}
