#include "app/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

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

int configScale() {
    // Read as a word: "auto", or exactly one digit 1..4; anything else is 1.
    const std::string scale = readConfigText("video/scale");
    if (scale == "auto") return ScaleAuto;
    if (scale.size() == 1 && scale[0] >= '1' && scale[0] <= '0' + MaxScale) return scale[0] - '0';
    return 1;
}
