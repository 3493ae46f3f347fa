#include "app/config.h"

#include <unistd.h>

#include <cctype>
#include <sstream>

#include "song/safe_file.h"

// Each read opens the key's file afresh: nothing is cached, so an edit made
// between two reads is seen by the second.
static std::string configPath(const std::string& key) { return "conf/" + key + ".conf"; }

constexpr std::size_t TokenMax = 256;       // longer than any setting; the rest is never read
constexpr std::size_t BlankMax = 64 * 1024;  // white space skipped before giving up

// The first token of the key's file, read without blocking (only a regular
// file is opened at all) and with bounded memory and time; nullopt when the
// file cannot be opened. A huge file or one of endless blanks costs no more
// than BlankMax + TokenMax bytes.
static std::optional<std::string> readToken(const std::string& key) {
    const int fd = openRegularFile(configPath(key));
    if (fd < 0) return std::nullopt;
    std::string token;
    std::size_t seen = 0;
    char buf[4096];
    bool done = false;
    while (!done && seen < BlankMax + TokenMax) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n && !done; ++i, ++seen) {
            const bool blank = std::isspace(static_cast<unsigned char>(buf[i]));
            if (blank && !token.empty()) done = true;
            else if (!blank && (token.size() < TokenMax)) token += buf[i];
            else if (!blank) done = true;
        }
    }
    close(fd);
    return token;
}

std::string readConfigText(const std::string& key) {
    // A folder, an unreadable or empty file all leave the token empty.
    return readToken(key).value_or("");
}

std::optional<int32_t> readConfigInt(const std::string& key) {
    const std::optional<std::string> token = readToken(key);
    if (!token) return std::nullopt;
    std::istringstream in(*token);
    int32_t value = 0;
    // The stream's own rules: optional sign, digits up to the first other
    // character; no digits or a number beyond 32 bits sets failbit.
    in >> value;
    if (in.fail()) return std::nullopt;
    return value;
}

std::optional<bool> readConfigFlag(const std::string& key) {
    const std::optional<std::string> token = readToken(key);
    if (!token) return std::nullopt;
    std::istringstream in(*token);
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
