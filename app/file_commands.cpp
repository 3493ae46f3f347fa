// The file commands and their messages.
//
//   1. showing a document
//   2. open, save, export by name
//   3. the key commands with their prompts
#include "app/file_commands.h"

#include <cstdio>
#include <vector>

#include "app/history.h"
#include "app/main_loop.h"
#include "audio/export.h"
#include "song/safe_file.h"
#include "song/song.h"
#include "song/song_file.h"
#include "ui/frame.h"
#include "ui/palette.h"
#include "ui/prompt.h"
#include "ui/status.h"

static const std::string LoadFailure =
    "\" COULDN'T BE LOADED. IT'S EITHER INVALID OR FOR A DIFFERENT VERSION OF VORNATRACKER";

// ---- 1. showing a document ----------------------------------------------------

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

// ---- 2. by name ------------------------------------------------------------------

bool openSongBytes(const std::string& name, const uint8_t* data, std::size_t size) {
    // Every check comes before the first change: a refused file leaves the
    // song, its name and the editor as they were.
    std::vector<uint8_t> image;
    if (!decodeSongFile(data, size, image)) {
        showStatus("File \"" + name + LoadFailure);
        return false;
    }
    recordDocumentStep(StepKind::Load, image, name, true);
    showStatus("File \"" + name + "\" SUCCESSFULLY LOADED");
    return true;
}

bool openSongNamed(const std::string& name) {
    std::vector<uint8_t> file;
    // Missing, not a plain file, or longer than any song file can be: an
    // empty buffer fails the header check with the usual message.
    readRegularFile(songFileName(name), MaxSongFileSize, file);
    return openSongBytes(name, file.data(), file.size());
}

bool saveSongNamed(const std::string& name) {
    std::vector<uint8_t> image(SongImageSize);
    buildSongImage(image.data());
    const std::string path = songFileName(name);
    SafeFile out;
    bool ok = safeOpen(out, path);
    if (ok) {
        const std::vector<uint8_t> file = encodeSongFile(image.data());
        safeWrite(out, file.data(), file.size());
        ok = safeCommit(out);  // refuses, and cleans up, after a failed write
    }
    if (!ok) {
        std::fprintf(stderr, "vornatracker: cannot save \"%s\": %s\n", path.c_str(), out.why.c_str());
        showStatus("File \"" + name + "\" COULDN'T BE SAVED");
        return false;
    }
    markSaved();
    showStatus("File \"" + name + "\" SUCCESSFULLY SAVED");
    return true;
}

bool exportWavNamed(const std::string& fileName) {
    // A link from the WAV name to the song file would turn the song into sound.
    bool ok = !sameFile(fileName, songFileName(editor.songName));
    if (ok) ok = exportWav(fileName);
    if (!ok) {
        showStatus("COULDN'T EXPORT \"" + fileName + "\"");
        return false;
    }
    showStatus("SUCCESSFULLY EXPORTED");
    return true;
}

// ---- 3. key commands ----------------------------------------------------------------

// The keys typed into the prompt must not act on the editor afterwards.
static std::string askName(const char* title) {
    const std::string name = promptFilename(mainLoop.screen, title, mainLoop.running);
    mainLoop.keyHeld = false;
    mainLoop.repeatCount = 0;
    return name;
}

// Unsaved changes need no question: they stay in their recovery copy and
// undo brings them back.
void openCommand() {
    const std::string name = askName("ENTER FILENAME TO OPEN");
    if (!name.empty()) openSongNamed(name);
}

// Saving does not name the song: an unnamed song is asked for at every save.
void saveCommand() {
    const std::string name = editor.songName.empty() ? askName("ENTER FILENAME TO SAVE") : editor.songName;
    if (!name.empty()) saveSongNamed(name);
}

void exportCommand() { exportWavNamed(editor.songName + ".wav"); }
