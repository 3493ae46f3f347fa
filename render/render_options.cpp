// vorna-render's command line.
#include "render/render_options.h"

#include "platform/platform.h"
#include "song/names.h"
#include "song/song_file.h"

const char* const Usage =
    "usage: vorna-render [OPTION]... SONG[.vorna]...\n"
    "\n"
    "Renders songs as the editor's export does right after start-up: from order\n"
    "slot 0 to the end of the order list, mutes ignored, no looping, 44100 Hz mono.\n"
    "Each song is written beside it, named after it: SONG.wav (SONG.flac, SONG.ogg).\n"
    "\n"
    "  SONG           a song file; a name without \".vorna\" gets it appended,\n"
    "                 as in the editor's load prompt\n"
    "  -o, --output OUT\n"
    "                 where to write (one song only); \"-\" is standard output,\n"
    "                 but never a terminal; an existing file is replaced only\n"
    "                 once the new one is complete, and never when it is a song\n"
    "                 of this call (under any name)\n"
    "  -f, --format NAME\n"
    "                 wav (16-bit, the default), wav24, wav32f (32-bit float),\n"
    "                 flac (16-bit, the same samples as wav) or ogg (Vorbis);\n"
    "                 without it the output's extension decides (.flac, .ogg/.oga,\n"
    "                 in any case), anything else is the 16-bit WAV\n"
    "  --stems        one file per channel, each the channel as it enters the mix,\n"
    "                 scaled as the mix is: SONG.ch1.wav ... SONG.ch8.wav, or the\n"
    "                 -o name with %c for the channel number (1..8) and %% for a %\n"
    "  --info         print each song's speed, slots played, length and the\n"
    "                 channels that play notes; renders nothing\n"
    "  --seed N       start value of the noise drum's generator, 0..4294967295\n"
    "                 (default 1, so a song renders to the same file every time)\n"
    "  -q, --quiet    no progress bar, no summary\n"
    "  -h, --help     this text\n"
    "  --version      the program's version\n"
    "\n"
    "Several songs are rendered one after another, each as if on its own.\n"
    "Exit status: 0 all written; 1 a song cannot be read or is refused, or an\n"
    "output (standard output too) cannot be written (the worst of all the songs);\n"
    "2 wrong command line, and then nothing is written.\n";

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

// The file of a song as given: a name without ".vorna" gets it, as in the
// editor's load prompt.
static std::string songFile(const std::string& given) { return songFileName(withoutSongExtension(given)); }

// A stem name pattern for channel `channel` (0..7): "%c" is the channel
// number 1..8, "%%" one "%", any other "%" stays as it is. `marks` counts the
// "%c" in the pattern.
std::string stemPath(const std::string& pattern, int channel, int* marks) {
    std::string path;
    int found = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && next == 'c') {
            path += std::to_string(channel + 1);
            ++found;
            ++i;
        } else if (pattern[i] == '%' && next == '%') {
            path += '%';
            ++i;
        } else {
            path += pattern[i];
        }
    }
    if (marks) *marks = found;
    return path;
}

// Text that a stem name pattern keeps as it is: each "%" doubled.
std::string literalInPattern(const std::string& text) {
    std::string pattern;
    for (char c : text) {
        if (c == '%') pattern += '%';
        pattern += c;
    }
    return pattern;
}

// One option and its value (when it takes one); "" or the reason it is wrong.
static std::string takeOption(const std::string& arg, const std::string& value, Options& options) {
    if (arg == "-o" || arg == "--output") {
        if (value.empty()) return "option " + arg + " needs a file name";
        options.output = value;
    } else if (arg == "-f" || arg == "--format") {
        if (!formatByName(value, options.format))
            return "unknown format \"" + value + "\" (one of " + formatNames() + ")";
        options.formatGiven = true;
        options.formatWord = value;
    } else if (arg == "--seed") {
        if (!parseSeed(value, options.seed)) return "bad seed \"" + value + "\" (a whole number 0..4294967295)";
    } else if (arg == "--stems") {
        options.stems = true;
    } else if (arg == "--info") {
        options.info = true;
    } else if (arg == "-q" || arg == "--quiet") {
        options.quiet = true;
    } else if (arg == "-h" || arg == "--help") {
        options.help = true;
    } else if (arg == "--version") {
        options.version = true;
    } else {
        return "unknown option " + arg;
    }
    return "";
}

// The options together, once all are read; "" or the reason they do not go together.
static std::string checkOptions(Options& options) {
    if (options.songs.empty()) return "no song given";
    if (!options.output.empty() && options.songs.size() > 1)
        return "-o names the output of one song; several songs are each written beside their song";
    if (options.stems && options.output == "-") return "--stems writes eight files, not standard output";
    int marks = 0;
    if (options.stems && !options.output.empty()) stemPath(options.output, 0, &marks);
    if (options.stems && !options.output.empty() && marks == 0)
        return "with --stems the output name needs %c for the channel number (such as mix.ch%c.wav; %% is a %)";
    if (options.info && (!options.output.empty() || options.stems || options.formatGiven))
        return "--info renders nothing; it takes no -o, --format or --stems";
    // Sound is no text: a terminal would only be garbled by it.
    if (options.output == "-" && isTerminal(1))
        return "standard output is a terminal; -o - writes sound only into a pipe or a file";
    if (!options.formatGiven && !options.output.empty() && options.output != "-")
        options.format = formatOfName(options.output);
    for (const std::string& given : options.songs) options.inputs.push_back(songFile(given));
    return "";
}

std::string parseArguments(int argc, char** argv, Options& options) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            options.songs.push_back(arg);
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
        const bool wantsValue = arg == "-o" || arg == "--output" || arg == "--seed" || arg == "-f" || arg == "--format";
        if (inlineValue && !wantsValue) return "option " + arg + " takes no value";
        if (wantsValue && !inlineValue) {
            if (i + 1 >= argc) return "option " + arg + " needs a value";
            value = argv[++i];
        }
        const std::string wrong = takeOption(arg, value, options);
        if (!wrong.empty()) return wrong;
    }
    if (options.help || options.version) return "";
    // Everything is checked here, before the first song: a wrong command line writes nothing.
    return checkOptions(options);
}
