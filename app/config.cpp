#include "app/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <sstream>

#include "audio/stream.h"
#include "song/safe_file.h"

// ---- where the files are ------------------------------------------------------

std::string userDataFolder() {
    // Only an absolute $XDG_CONFIG_HOME counts; a relative one is to be ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return std::string(xdg) + "/vornatracker";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.config/vornatracker";
    return "";
}

std::string shareFolder() {
    // Relative to the program itself, so an install moved or staged under
    // another root (DESTDIR) still finds its own files.
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    std::string path(exe, size_t(n));
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    return path.substr(0, slash) + "/" + ShareFromBinary;
}

std::string dataFilePath(const std::string& relative) {
    // The first place where the name exists wins, even when it is a folder
    // or unreadable: a file the user put in the way is never skipped silently.
    struct stat info;
    if (stat(relative.c_str(), &info) == 0) return relative;  // the working folder
    for (const std::string& folder : {userDataFolder(), shareFolder()}) {
        if (folder.empty()) continue;  // that place is unknown here
        const std::string path = folder + "/" + relative;
        if (stat(path.c_str(), &info) == 0) return path;
    }
    return relative;  // nowhere: the working folder's name, which then fails to open
}

// Each read opens the key's file afresh: nothing is cached, so an edit made
// between two reads is seen by the second.
std::string configPath(const std::string& key) { return dataFilePath("conf/" + key + ".conf"); }

// ---- the readers --------------------------------------------------------------

constexpr std::size_t TokenMax = 256;        // longer than any setting; the rest is never read
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
            if (blank && !token.empty())
                done = true;
            else if (!blank && (token.size() < TokenMax))
                token += buf[i];
            else if (!blank)
                done = true;
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
