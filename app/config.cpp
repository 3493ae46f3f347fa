#include "app/config.h"

#include <cctype>
#include <sstream>
#include <vector>

#include "audio/stream.h"
#include "platform/platform.h"

// ---- where the files are ------------------------------------------------------

std::string userDataFolder() {
    const std::string base = userSettingsFolder();
    return base.empty() ? "" : base + "/vornatracker";
}

std::string shareFolder() {
    // Relative to the program itself, so an install moved or staged under
    // another root (DESTDIR) still finds its own files.
    const std::string folder = programFolder();
    return folder.empty() ? "" : folder + "/" + ShareFromBinary;
}

std::string dataFilePath(const std::string& relative) {
    // The first place where the name exists wins, even when it is a folder
    // or unreadable: a file the user put in the way is never skipped silently.
    PathKind kind;
    const auto exists = [&kind](const std::string& path) { return pathKind(path, kind) && kind != PathKind::Missing; };
    if (exists(relative)) return relative;  // the working folder
    for (const std::string& folder : {userDataFolder(), shareFolder()}) {
        if (folder.empty()) continue;  // that place is unknown here
        const std::string path = folder + "/" + relative;
        if (exists(path)) return path;
    }
    return relative;  // nowhere: the working folder's name, which then fails to open
}

// Each read opens the key's file afresh: nothing is cached, so an edit made
// between two reads is seen by the second.
std::string configPath(const std::string& key) { return dataFilePath("conf/" + key + ".conf"); }

// ---- the readers --------------------------------------------------------------

constexpr std::size_t TokenMax = 256;       // longer than any setting; the rest is never read
constexpr std::size_t BlankMax = 64 * 1024;  // white space skipped before giving up

// The first token of the key's file, read without blocking (only a regular
// file is opened at all) and with bounded memory and time; nullopt when the
// file cannot be opened. A huge file or one of endless blanks costs no more
// than BlankMax + TokenMax bytes.
static std::optional<std::string> readToken(const std::string& key) {
    std::vector<uint8_t> bytes;
    if (!readRegularFileStart(configPath(key), BlankMax + TokenMax, bytes)) return std::nullopt;
    std::string token;
    for (uint8_t byte : bytes) {
        const bool blank = std::isspace(byte);
        if (blank && !token.empty()) break;
        if (!blank && token.size() == TokenMax) break;
        if (!blank) token += char(byte);
    }
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
    const std::optional<int32_t> frames = readConfigInt("audio/dsound_buffersize");
    return usableBufferFrames(frames ? *frames : 0);
}

bool configFullscreen() { return readConfigFlag("video/sdl_fullscreen").value_or(false); }

bool configSplash() { return readConfigFlag("video/splashscreen").value_or(true); }

int configScale() {
    // Read as a word: "auto", or exactly one digit 1..4; anything else is 1.
    const std::string scale = readConfigText("video/scale");
    if (scale == "auto") return ScaleAuto;
    if (scale.size() == 1 && scale[0] >= '1' && scale[0] <= '0' + MaxScale) return scale[0] - '0';
    return 1;
}
