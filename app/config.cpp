#include "app/config.h"

#include <fstream>

// Each read opens the key's file afresh: nothing is cached, so an edit made
// between two reads is seen by the second.
static std::string configPath(const std::string& key) { return "conf/" + key + ".conf"; }

std::string readConfigText(const std::string& key) {
    std::ifstream in(configPath(key));
    std::string token;
    // A folder, an unreadable or empty file all leave the token empty.
    if (in) in >> token;
    return token;
}

std::optional<int32_t> readConfigInt(const std::string& key) {
    std::ifstream in(configPath(key));
    if (!in) return std::nullopt;
    int32_t value = 0;
    // The stream's own rules: optional sign, digits up to the first other
    // character; no digits or a number beyond 32 bits sets failbit.
    in >> value;
    if (in.fail()) return std::nullopt;
    return value;
}

std::optional<bool> readConfigFlag(const std::string& key) {
    std::ifstream in(configPath(key));
    if (!in) return std::nullopt;
    bool value = false;
    // Numeric bool extraction: 0 and 1 are flags, any other number or a word fails.
    in >> value;
    if (in.fail()) return std::nullopt;
    return value;
}

std::string configDriver() {
    std::string driver = readConfigText("audio/driver");
    return driver.empty() ? "dsound" : driver;
}

unsigned configBufferFrames() {
    constexpr int32_t fallback = 512;
    std::optional<int32_t> frames = readConfigInt("audio/dsound_buffersize");
    // Outside this range the audio library either refuses the stream or
    // gives absurd latency; the usual size is safer.
    if (!frames || *frames < 16 || *frames > 8192) return fallback;
    return unsigned(*frames);
}

bool configFullscreen() { return readConfigFlag("video/sdl_fullscreen").value_or(false); }

bool configSplash() { return readConfigFlag("video/splashscreen").value_or(true); }
