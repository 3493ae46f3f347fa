// The real-time output stream: one mono stream of doubles at 44100 frames per
// second, filled block by block by the sequencer on the library's thread.
//
//   1. State shared with the library's threads
//   2. The callbacks: audio blocks, error reports
//   3. Choosing the back end
//   4. The watchdog: a stream that goes quiet without an error
//   5. startAudio / stopAudio and the read-outs
//
// The library's chatter and the guarded close: audio/stream_library.cpp.
#include "audio/stream.h"

#include <RtAudio.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/sequencer.h"
#include "audio/stream_library.h"
#include "platform/platform.h"
#include "song/relaxed.h"

// ---------------------------------------------------------------------------
// 1. State shared with the library's threads

static RtAudio* audio = nullptr;  // owned from a successful startAudio to stopAudio
static std::string backendName;   // main thread only
static unsigned grantedFrames = 0;

static Relaxed<uint64_t> blocks{0};      // written by the audio thread alone
static Relaxed<uint64_t> underflows{0};  // written by the audio thread alone
static Relaxed<bool> started{false};     // from here on a stream error means the sound stopped
static Relaxed<bool> closing{false};     // stopAudio runs: errors while closing are not news
static Relaxed<bool> stopReported{false};
static Relaxed<bool> failing{false};    // the back end lost its device: end the stream from its own thread
static Relaxed<bool> firstBlock{true};  // the next block is the stream's first
static Relaxed<bool> realtime{false};   // the callback's thread runs under a real-time policy

// A failure reported through the error callback while opening or starting;
// the callback may run on the library's thread, hence the lock (never taken
// on the per-block path).
static std::mutex openErrorLock;
static std::string openError;

// ---------------------------------------------------------------------------
// 2. The callbacks

static int audioCallback(void* out, void*, unsigned int nFrames, double, RtAudioStreamStatus status, void*) {
    if (failing) return 2;  // abort: the library parks its thread instead of spinning on a dead device
    if (firstBlock) {
        firstBlock = false;
        realtime = threadIsRealtime();  // once per stream, for the read-out
    }
    if (status & RTAUDIO_OUTPUT_UNDERFLOW) underflows.store(underflows.load() + 1);
    fillBlock(static_cast<double*>(out), nFrames);
    blocks.store(blocks.load() + 1);
    return 0;  // keep streaming
}

// Library messages can span lines; ours is always one.
static std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    while (!text.empty() && text.front() == ' ') text.erase(text.begin());
    return text;
}

// A settings file can hold any bytes: quote it as plain text, and not at length.
static std::string printable(const std::string& text) {
    constexpr size_t limit = 40;
    std::string shown;
    for (unsigned char c : text.substr(0, limit)) shown += (c >= 0x20 && c < 0x7f) ? char(c) : '?';
    if (text.size() > limit) shown += "...";
    return shown;
}

static void reportStopped(const std::string& text) {
    // Exports must no longer wait for a callback that will not come.
    engine.streamActive = false;
    if (!stopReported.value.exchange(true)) {
        std::fprintf(stderr, "audio: sound stopped: %s\n", oneLine(text).c_str());
        std::fflush(stderr);
    }
}

// Installed with the stream: the library then reports through here instead of
// throwing or printing.
static void streamError(RtAudioError::Type type, const std::string& text) {
    if (closing) return;
    bool warning = type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING;
    if (!started) {
        if (warning) return;  // probing chatter
        std::lock_guard<std::mutex> hold(openErrorLock);
        if (openError.empty()) openError = oneLine(text);
        return;
    }
    if (!warning) {
        failing = true;  // the library aborts the stream itself; make sure it stays ended
        reportStopped(text);
        return;
    }
    // A running stream hears of a lost server or device only as a "write
    // error" warning, once per block, while the library's thread spins on the
    // dead connection. An underrun is the one warning a healthy stream gives.
    if (text.find("underrun") != std::string::npos) return;
    failing = true;
    reportStopped(text);
}

// ---------------------------------------------------------------------------
// 3. Choosing the back end

struct NamedBackend {
    const char* word;  // the value in conf/audio/driver.conf
    RtAudio::Api api;
};
static const NamedBackend namedBackends[] = {
    {"pulse", RtAudio::LINUX_PULSE},
    {"alsa", RtAudio::LINUX_ALSA},
    {"jack", RtAudio::UNIX_JACK},
};

static bool compiledIn(RtAudio::Api api) {
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    for (RtAudio::Api a : apis)
        if (a == api) return true;
    return false;
}

// A library object for the back end, quiet, or null when it has no output.
static RtAudio* openBackend(RtAudio::Api api, std::string& why) {
    RtAudio* candidate = new RtAudio(api);
    candidate->showWarnings(false);
    try {
        if (candidate->getDeviceCount() == 0) {
            why = "no output device found";
        } else {
            RtAudio::DeviceInfo info = candidate->getDeviceInfo(candidate->getDefaultOutputDevice());
            if (info.outputChannels > 0) return candidate;
            why = "the default device has no output channels";
        }
    } catch (RtAudioError& e) {
        why = oneLine(e.getMessage());
    }
    delete candidate;
    return nullptr;
}

// "dsound": the first compiled back end, in the library's own order of
// preference, whose default device can play.
static RtAudio* defaultBackend(std::string& why) {
    std::vector<RtAudio::Api> apis;
    RtAudio::getCompiledApi(apis);
    std::string tried;
    for (RtAudio::Api api : apis) {
        if (api == RtAudio::RTAUDIO_DUMMY) continue;  // a back end that never plays
        std::string ignored;
        if (RtAudio* found = openBackend(api, ignored)) return found;
        tried += (tried.empty() ? "" : ", ") + RtAudio::getApiName(api);
    }
    why = "no output device found on any back end (" + (tried.empty() ? std::string("none compiled in") : tried) + ")";
    return nullptr;
}

// ---------------------------------------------------------------------------
// 4. The watchdog
//
// Some back ends end the stream without telling the error callback (the JACK
// server shutting down closes the stream from the library's own thread). A
// live stream asks for a block at least every 8192 / 44100 s, so a count that
// stands still for seconds means the sound has stopped.

static std::thread watchdog;
static std::mutex watchLock;
static std::condition_variable watchWake;
static bool watchQuit = false;  // guarded by watchLock
constexpr auto StallLimit = std::chrono::seconds(3);

static void watchStream() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> hold(watchLock);
    uint64_t lastCount = blocks;
    Clock::time_point lastChange = Clock::now();
    bool stalled = false;
    while (!watchWake.wait_for(hold, std::chrono::milliseconds(250), [] { return watchQuit; })) {
        uint64_t count = blocks;
        Clock::time_point now = Clock::now();
        if (count != lastCount) {
            lastCount = count;
            lastChange = now;
            if (stalled && !failing) engine.streamActive = true;  // it came back after all
            stalled = false;
        } else if (!stalled && !failing && now - lastChange > StallLimit) {
            stalled = true;
            reportStopped("the audio library stopped asking for sound");
        }
    }
}

static void startWatchdog() {
    {
        std::lock_guard<std::mutex> hold(watchLock);
        watchQuit = false;
    }
    try {
        watchdog = std::thread(watchStream);
    } catch (std::exception&) {
        // No thread: the stream still plays, only a silent stop goes unnoticed.
    }
}

static void stopWatchdog() {
    {
        std::lock_guard<std::mutex> hold(watchLock);
        watchQuit = true;
    }
    watchWake.notify_all();
    if (watchdog.joinable()) watchdog.join();
}

// ---------------------------------------------------------------------------
// 5. startAudio / stopAudio

static bool giveUp(const std::string& name, const std::string& why) {
    std::fprintf(stderr, "audio: %s: %s; running without sound\n", name.c_str(), why.c_str());
    std::fflush(stderr);
    return false;
}

// Closes and frees a stream that failed half-way; reports nothing.
static void discard(RtAudio* failed) {
    closing = true;
    try {
        if (failed->isStreamOpen()) failed->closeStream();
    } catch (...) {}
    delete failed;
    closing = false;
}

// The table entry of a driver word other than "dsound"; null for an unknown word.
static const NamedBackend* namedBackend(const std::string& driver) {
    for (const NamedBackend& b : namedBackends)
        if (driver == b.word) return &b;
    return nullptr;
}

// The library object for a driver: the named back end (`named`), or for
// "dsound" (`named` null) the first that can play. Null with the reason in
// `why`. `name` becomes the driver as the messages name it, `backend` the
// library's word for the back end.
static RtAudio* openDriver(const std::string& driver, const NamedBackend* named, std::string& name,
                           std::string& backend, std::string& why) {
    RtAudio* chosen = nullptr;
    try {
        if (!named) {
            chosen = defaultBackend(why);
            if (chosen) backend = RtAudio::getApiName(chosen->getCurrentApi());
            if (chosen) name = "dsound (" + backend + ")";
        } else if (!compiledIn(named->api)) {
            why = "not built into the audio library";
        } else {
            chosen = openBackend(named->api, why);
            backend = driver;
        }
    } catch (RtAudioError& e) {
        why = oneLine(e.getMessage());
    } catch (std::exception& e) {
        why = oneLine(e.what());
    }
    return chosen;
}

// A new stream's words, before it opens.
static void resetStreamWords() {
    {
        std::lock_guard<std::mutex> hold(openErrorLock);
        openError.clear();
    }
    closing = false;
    started = false;
    stopReported = false;
    failing = false;
    firstBlock = true;
    realtime = false;
}

// Opens and starts the stream on a chosen back end; false with the reason
// in `why` (the caller discards the object). `frames` is the block size the
// library granted.
static bool openAndStart(RtAudio* chosen, unsigned bufferFrames, unsigned& frames, std::string& why) {
    try {
        RtAudio::StreamParameters out;
        out.deviceId = chosen->getDefaultOutputDevice();
        out.nChannels = 1;  // mono
        out.firstChannel = 0;
        frames = bufferFrames;  // the library may round it
        RtAudio::StreamOptions options;
        options.streamName = "VornaTracker";  // how the sound server lists us
        // Ahead of every ordinary process, so a busy machine does not make
        // blocks late; where that is not permitted the stream runs as before.
        // (The JACK server schedules its clients' threads itself.)
        options.flags = RTAUDIO_SCHEDULE_REALTIME;
        options.priority = 10;
        // Left to itself the PulseAudio back end buffers about 150 ms whatever
        // the block size, and a previewed note lags behind its key. Four blocks
        // keep the block size the latency control it is on the other back ends;
        // tiny blocks get at least 1024 frames (23 ms), below which the server
        // runs dry.
        if (chosen->getCurrentApi() == RtAudio::LINUX_PULSE) {
            unsigned count = (1024 + bufferFrames - 1) / bufferFrames;
            options.numberOfBuffers = count < 4 ? 4 : count;
        }
        chosen->openStream(&out, nullptr, RTAUDIO_FLOAT64, SampleRate, &frames, &audioCallback, nullptr, &options,
                           &streamError);
        chosen->startStream();
        // With an error callback installed the library reports a failed
        // start through it instead of throwing.
        std::string failed;
        {
            std::lock_guard<std::mutex> hold(openErrorLock);
            failed = openError;
        }
        if (!failed.empty() || !chosen->isStreamRunning()) {
            why = failed.empty() ? "the stream did not start" : failed;
            return false;
        }
    } catch (RtAudioError& e) {
        why = oneLine(e.getMessage());
        return false;
    } catch (std::exception& e) {
        why = oneLine(e.what());
        return false;
    }
    return true;
}

bool startAudio(const std::string& driver, unsigned bufferFrames) {
    if (audio) return true;  // one stream per run
    if (driver == "none") return false;

    quietAudioLibrary();
    const NamedBackend* named = driver == "dsound" ? nullptr : namedBackend(driver);
    if (driver != "dsound" && !named) {
        std::fprintf(stderr,
                     "audio: unknown driver \"%s\" (use dsound, pulse, alsa, jack or none);"
                     " running without sound\n",
                     printable(driver).c_str());
        std::fflush(stderr);
        return false;
    }
    std::string name = driver;  // for messages
    std::string backend;        // the library's word for the back end in use
    std::string why;
    RtAudio* chosen = openDriver(driver, named, name, backend, why);
    if (!chosen) return giveUp(name, why.empty() ? "no output device found" : why);

    resetStreamWords();
    unsigned frames = 0;
    if (!openAndStart(chosen, usableBufferFrames(bufferFrames), frames, why)) {
        discard(chosen);
        return giveUp(name, why);
    }
    grantedFrames = frames;
    audio = chosen;
    backendName = backend;
    started = true;
    engine.streamActive = true;
    engine.streamOpen = true;
    startWatchdog();
    return true;
}

// Soak runs read how the stream fared from the editor's last words.
static void reportStats() {
    const char* stats = std::getenv("VORNA_AUDIO_STATS");
    if (stats && std::string(stats) == "1") {
        std::fprintf(stderr, "audio: %llu blocks, %llu underflows (%s, %u frames per block)\n",
                     static_cast<unsigned long long>(blocks.load()), static_cast<unsigned long long>(underflows.load()),
                     backendName.c_str(), grantedFrames);
        std::fflush(stderr);
    }
}

void stopAudio() {
    if (!audio) return;
    stopWatchdog();
    reportStats();
    closing = true;  // stays set: a close still running later must not report
    engine.streamActive = false;
    engine.streamOpen = false;
    RtAudio* object = audio;
    const bool died = stopReported;
    audio = nullptr;
    backendName.clear();
    grantedFrames = 0;
    started = false;
    closeStream(object, died);
}

uint64_t streamBlocks() { return blocks; }
std::string streamBackend() { return backendName; }
unsigned streamBlockFrames() { return grantedFrames; }
bool streamRealtime() { return realtime; }
