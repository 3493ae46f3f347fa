// The document shown, and the states of the song files.
//
//   1. showing a document
//   2. the states of song files
#include "app/document.h"

#include <map>

#include "platform/platform.h"
#include "song/song.h"
#include "song/song_file.h"
#include "ui/frame.h"
#include "ui/palette.h"

// ---- 1. showing a document ---------------------------------------------------

void showDocument(const uint8_t* image, const std::string& name) {
    applySongImage(image);
    setPalette(song.themeRed, song.themeGreen, song.themeBlue);
    fadeCounter = 300;  // the start-up fade would paint over the song's theme
    editor.songName = name;
}

void showFirstSlot() {
    transport.orderPos = 0;
    const int32_t first = song.orders[0];
    // A damaged first slot stays in the order list but never becomes the
    // pattern shown and played.
    if (first >= 0 && first < PatternCount) transport.currentPattern = first;
}

// ---- 2. the states of song files ----------------------------------------------

// By the file's whole path, so a name means one file however the folder is
// reached; the working folder does not change while the editor runs.
static std::map<std::string, FileState> knownFiles;

static std::string fileKey(const std::string& name) {
    const std::string path = songFileName(name);
    if (!path.empty() && path[0] == '/') return path;
    const std::string folder = workingFolder();
    return (folder.empty() ? "." : folder) + "/" + path;
}

FileState knownFileState(const std::string& name) {
    const auto found = knownFiles.find(fileKey(name));
    return found == knownFiles.end() ? FileState() : found->second;
}

void rememberFileState(const std::string& name, const FileState& state) {
    if (state.known)
        knownFiles[fileKey(name)] = state;
    else
        knownFiles.erase(fileKey(name));
}

bool fileChangedOnDisk(const std::string& name) {
    const FileState now = fileStateOf(songFileName(name));
    // A missing file holds no one's work; one never seen here may hold anyone's.
    return now.known && !(now == knownFileState(name));
}
