// vorna-render: renders song files without a window or a sound device, with
// the editor's own loader and export renderer, so a 16-bit WAV is the file the
// editor's export would write right after start-up. Also other formats, one
// file per channel, standard output, and facts about a song.
//
//   1. Messages
//   2. Progress bar
//   3. One song: facts
//   4. One song: rendering
//   5. main: each song in a process of its own
//
// The command line and the usage text: render/render_options.cpp.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/export.h"
#include "audio/fast_render.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "platform/platform.h"
#include "render/render_options.h"
#include "render/render_output.h"
#include "song/names.h"
#include "song/safe_file.h"
#include "song/song.h"
#include "song/song_file.h"

// ---------------------------------------------------------------------------
// 1. Messages

static const char* const Version = VORNA_VERSION;  // from CMakeLists.txt

// The status, made at least 1 when what was printed on standard output (the
// help, the facts, the summary) did not all reach it, as into a full disk.
static int checkStdout(int status) {
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout)) return status;
    std::fprintf(stderr, "vorna-render: cannot write to standard output: %s\n",
                 flushed ? "a write failed" : std::strerror(error));
    return std::max(status, 1);
}

// One line, then exit 2: nothing has been written yet.
static int usageError(const std::string& what) {
    std::fprintf(stderr, "vorna-render: %s (see vorna-render --help)\n", what.c_str());
    return 2;
}

// ---------------------------------------------------------------------------
// 2. Progress bar

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
// 3. One song: facts

// "m:ss.hh" for a number of frames.
static std::string clockTime(uint64_t frames) {
    const uint64_t hundredths = frames * 100 / SampleRate;
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02llu.%02llu", static_cast<unsigned long long>(hundredths / 6000),
                  static_cast<unsigned long long>(hundredths / 100 % 60),
                  static_cast<unsigned long long>(hundredths % 100));
    return text;
}

static void printInfo(const std::string& path) {
    const int slots = playedSlots();
    std::string patterns, channels;
    bool plays[ChannelCount] = {};
    for (int k = 0; k < slots; ++k) {
        const int pattern = song.orders[k];
        char hex[8];
        std::snprintf(hex, sizeof hex, " %02X", pattern & 0xFF);  // as the order list shows it
        patterns += hex;
        if (pattern < 0 || pattern >= PatternCount) continue;  // a damaged slot plays nothing
        for (int c = 0; c < ChannelCount; ++c)
            for (int r = 0; r < RowsPerPattern; ++r)
                if (cellAt(c, pattern, r).note > 0) plays[c] = true;
    }
    for (int c = 0; c < ChannelCount; ++c)
        if (plays[c]) channels += " " + std::to_string(c + 1);
    const uint64_t frames = exportFrameCount();
    std::printf("%s\n", path.c_str());
    std::printf("  speed:            %d ticks per row\n", int(song.speed));
    std::printf("  slots played:     %d%s%s\n", slots, slots ? ":" : "", patterns.c_str());
    std::printf("  length:           %llu frames, %s\n", static_cast<unsigned long long>(frames),
                clockTime(frames).c_str());
    std::printf("  channels playing: %s\n", channels.empty() ? "none" : channels.c_str() + 1);
}

// ---------------------------------------------------------------------------
// 4. One song: rendering

// The outputs of one render and the scratch space of its sink.
struct RenderJob {
    std::array<Output, ChannelCount> outputs;  // the mix in [0], or one stem per channel
    int count = 1;
    std::vector<double> fine;
    std::vector<int16_t> exact;
};

static bool toOutputs(const int16_t* mix, const double* const* channels, int count, void* context) {
    RenderJob& job = *static_cast<RenderJob*>(context);
    job.fine.resize(size_t(count));
    job.exact.resize(size_t(count));
    if (job.count == 1) {
        for (int i = 0; i < count; ++i) job.fine[size_t(i)] = fineMix(channels, i);
        return writeOutput(job.outputs[0], mix, job.fine.data(), count);
    }
    for (int c = 0; c < ChannelCount; ++c) {
        for (int i = 0; i < count; ++i) {
            job.fine[size_t(i)] = fineStem(channels[c][i]);
            job.exact[size_t(i)] = stemSample(job.fine[size_t(i)]);
        }
        if (!writeOutput(job.outputs[size_t(c)], job.exact.data(), job.fine.data(), count)) return false;
    }
    return true;
}

// The files a render writes: the mix, or one per channel for --stems.
static std::vector<std::string> outputPaths(const Options& options, const std::string& name) {
    const std::string extension = extensionOf(options.format);
    std::vector<std::string> paths;
    if (options.stems) {
        const std::string pattern =
            options.output.empty() ? literalInPattern(name) + ".ch%c" + extension : options.output;
        for (int c = 0; c < ChannelCount; ++c) paths.push_back(stemPath(pattern, c));
    } else {
        paths.push_back(options.output.empty() ? name + extension : options.output);
    }
    return paths;
}

// However it is spelled (links, "./", another name of the same file), an
// output is never a song of this call: the one rendered or one still to
// come. True, having said so, when one is.
static bool outputIsASong(const Options& options, const std::string& name, const std::vector<std::string>& paths) {
    const std::string own = songFileName(name);
    for (const std::string& path : paths) {
        if (sameFile(own, path)) {
            std::fprintf(stderr, "vorna-render: refusing to write \"%s\": it is the song being rendered\n",
                         path.c_str());
            return true;
        }
        for (const std::string& input : options.inputs)
            if (sameFile(input, path)) {
                std::fprintf(stderr, "vorna-render: refusing to write \"%s\": it is the song \"%s\" of this call\n",
                             path.c_str(), input.c_str());
                return true;
            }
    }
    return false;
}

// Renders into outputs of any format through the output writers. False,
// having said so, when an output cannot be opened (those opened so far are
// thrown away); else `written` says whether every output was written, and
// `failedPath` names the one that failed.
static bool renderToOutputs(Format format, const std::vector<std::string>& paths, uint64_t frames, bool& written,
                            std::string& failedPath, std::string& why) {
    RenderJob job;
    job.count = int(paths.size());
    for (int i = 0; i < job.count; ++i)
        if (!openOutput(job.outputs[size_t(i)], paths[size_t(i)], format, frames, why)) {
            std::fprintf(stderr, "vorna-render: cannot write \"%s\": %s; nothing was changed there\n",
                         paths[size_t(i)].c_str(), why.c_str());
            return false;  // the outputs opened so far are thrown away with the job
        }
    const uint64_t done = renderSong(toOutputs, &job);
    written = done == frames;
    if (written && exportProgress) exportProgress(done, frames);
    for (int i = 0; i < job.count && written; ++i)
        if (!finishOutput(job.outputs[size_t(i)])) {
            written = false;
            failedPath = paths[size_t(i)];
        }
    for (int i = 0; i < job.count && !written; ++i)
        if (job.outputs[size_t(i)].failed) failedPath = paths[size_t(i)];
    return true;
}

// Renders the loaded song into its outputs; returns the exit status.
static int renderLoaded(const Options& options, const std::string& name) {
    const uint64_t frames = exportFrameCount();
    const std::vector<std::string> paths = outputPaths(options, name);
    if (outputIsASong(options, name, paths)) return 1;
    const bool toStdout = paths[0] == "-";
    // Standard output may carry the sound itself; the summary then goes with the messages.
    std::FILE* summary = toStdout ? stderr : stdout;
    const bool bar = !options.quiet && isTerminal(2);
    if (bar) exportProgress = showProgress;

    const auto begin = std::chrono::steady_clock::now();
    bool written = false;
    std::string failedPath = paths[0], why = "missing folder, no permission or disk full";
    if (!options.stems && options.format == Format::Wav16 && !toStdout)
        written = exportWav(paths[0], &why);  // the editor's own writer, byte for byte
    else if (!renderToOutputs(options.format, paths, frames, written, failedPath, why))
        return 1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (bar) std::fputc('\n', stderr);
    if (!written) {
        std::fprintf(stderr, "vorna-render: cannot write \"%s\": %s; nothing was changed there\n",
                     toStdout ? "standard output" : failedPath.c_str(), why.c_str());
        return 1;
    }
    if (!options.quiet) {
        const double audioSeconds = double(frames) / SampleRate;
        const std::string what = options.stems ? paths[0] + " ... " + paths.back() : paths[0];
        std::fprintf(summary, "%s: %llu frames, %.2f s of audio, rendered in %.2f s (%.0fx real time)\n",
                     toStdout ? "standard output" : what.c_str(), static_cast<unsigned long long>(frames), audioSeconds,
                     seconds, seconds > 0 ? audioSeconds / seconds : 0.0);
    }
    return 0;
}

// Loads one song and renders it or prints its facts; returns the exit status.
static int processSong(const Options& options, const std::string& given) {
    // The loader takes the name without its extension, like the editor's prompt.
    const std::string name = withoutSongExtension(given);
    const std::string path = songFileName(name);

    // Tell a file that cannot be read from one that is refused; a FIFO or a
    // device is refused without being opened in a way that could wait.
    const int probe = openRegularFile(path);
    if (probe < 0) {
        const char* why = errno == EINVAL ? "not a regular file" : std::strerror(errno);
        std::fprintf(stderr, "vorna-render: cannot read \"%s\": %s\n", path.c_str(), why);
        return 1;
    }
    close(probe);

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
    if (options.info) {
        printInfo(path);
        return 0;
    }
    return renderLoaded(options, name);
}

// ---------------------------------------------------------------------------
// 5. main

// Each song of several runs in a child process, so every song starts from a
// freshly started engine (voices never triggered, as in a call of its own)
// and one song's failure cannot touch the next.
static volatile sig_atomic_t quitSignal = 0;

// A quit signal goes on to the render under way, which removes its temporary
// file; the parent ends with the same signal once that render has ended.
static void passOn(int sig) {
    quitSignal = sig;
    forwardQuitRequest(sig);
}

struct ChildWork {
    const Options* options;
    const std::string* given;
};

// In the child, before a quit signal can reach it: an interrupted render
// leaves no temporary file.
static void prepareChild() { safeFileSignals(); }

static int renderInChild(void* data) {
    const ChildWork& work = *static_cast<ChildWork*>(data);
    return checkStdout(quitSignal ? 1 : processSong(*work.options, *work.given));
}

// The command line that makes this program render one song as the options
// say, for systems whose child is the program started again.
static std::vector<std::string> childArguments(const Options& options, const std::string& given) {
    std::vector<std::string> args = {"--seed", std::to_string(options.seed)};
    if (options.formatGiven) args.insert(args.end(), {"--format", options.formatWord});
    if (options.stems) args.push_back("--stems");
    if (options.info) args.push_back("--info");
    if (options.quiet) args.push_back("--quiet");
    args.insert(args.end(), {"--", given});
    return args;
}

static int processInChild(const Options& options, const std::string& given) {
    std::fflush(stdout);
    std::fflush(stderr);
    ChildWork work{&options, &given};
    int status = 1;
    switch (runChild(prepareChild, renderInChild, &work, childArguments(options, given), status)) {
    case ChildEnd::Exited:
        return status;
    case ChildEnd::NotStarted:
        std::fprintf(stderr, "vorna-render: cannot start the render of \"%s\": %s\n", given.c_str(),
                     std::strerror(errno));
        return 1;
    case ChildEnd::ClosedOutput:
        std::fprintf(stderr, "vorna-render: standard output was closed before \"%s\" was written\n", given.c_str());
        return 1;
    case ChildEnd::Abnormal:
        if (!quitSignal) std::fprintf(stderr, "vorna-render: the render of \"%s\" ended abnormally\n", given.c_str());
        return 1;
    case ChildEnd::Lost:
        break;
    }
    return 1;
}

int main(int argc, char** argv) {
    binaryStandardOutput();  // sound may go there
    // UTF-8 whatever the system hands over, so any song name opens.
    const std::vector<std::string> arguments = programArguments(argc, argv);
    std::vector<char*> pointers;
    for (const std::string& arg : arguments) pointers.push_back(const_cast<char*>(arg.c_str()));
    Options options;
    std::string wrong = parseArguments(int(pointers.size()), pointers.data(), options);
    if (!wrong.empty()) return usageError(wrong);
    if (options.help) {
        std::fputs(Usage, stdout);
        return checkStdout(0);
    }
    if (options.version) {
        std::printf("vorna-render %s\n", Version);
        return checkStdout(0);
    }
    if (options.songs.size() == 1) {
        safeFileSignals();  // an interrupted render leaves no temporary file; a size limit is a failed write
        return checkStdout(processSong(options, options.songs[0]));
    }
    handleQuitRequests(passOn);
    ignoreFileSizeLimit();
    int worst = 0;
    for (const std::string& given : options.songs) {
        if (quitSignal) break;
        worst = std::max(worst, processInChild(options, given));
    }
    if (quitSignal) endByQuitRequest(quitSignal);
    return worst;
}
