// The file commands and their messages.
//
//   1. open, save, export by name
//   2. the key commands with their prompts
#include "app/file_commands.h"

#include <cstdio>
#include <vector>

#include "app/document.h"
#include "app/history.h"
#include "app/loop_state.h"
#include "audio/export.h"
#include "song/safe_file.h"
#include "song/song.h"
#include "song/song_file.h"
#include "ui/prompt.h"
#include "ui/status.h"

static const std::string LoadFailure =
    "\" COULDN'T BE LOADED. IT'S EITHER INVALID OR FOR A DIFFERENT VERSION OF VORNATRACKER";

// ---- 1. by name ------------------------------------------------------------------

static bool openFile(const std::string& name, const uint8_t* data, std::size_t size, const FileState& state) {
    // Every check comes before the first change: a refused file leaves the
    // song, its name and the editor as they were.
    std::vector<uint8_t> image;
    if (!decodeSongFile(data, size, image)) {
        showStatus("File \"" + name + LoadFailure);
        return false;
    }
    recordDocumentStep(StepKind::Load, image, name, true);
    rememberFileState(name, state);
    showStatus("File \"" + name + "\" SUCCESSFULLY LOADED");
    return true;
}

bool openSongBytes(const std::string& name, const uint8_t* data, std::size_t size) {
    return openFile(name, data, size, FileState());
}

bool openSongNamed(const std::string& name) {
    std::vector<uint8_t> file;
    FileState state;
    // Missing, not a plain file, or longer than any song file can be: an
    // empty buffer fails the header check with the usual message.
    readRegularFile(songFileName(name), MaxSongFileSize, file, &state);
    return openFile(name, file.data(), file.size(), state);
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
    // From now on the song is this file, as after opening it.
    editor.songName = name;
    rememberFileState(name, out.written);
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

// ---- 2. key commands ----------------------------------------------------------------

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

// A song with a name saves back to its file without asking, unless someone
// else has written that file since this editor opened or saved it: then the
// user picks the name, as for a song never saved (the same name included).
void saveCommand() {
    std::string name = editor.songName;
    if (!name.empty() && fileChangedOnDisk(name)) {
        std::fprintf(stderr, "vornatracker: %s changed on disk since it was opened or saved here; asking for a name\n",
                     songFileName(name).c_str());
        showStatus("FILE CHANGED ON DISK: SAVE AS");
        name.clear();
    }
    if (name.empty()) name = askName("ENTER FILENAME TO SAVE");
    if (!name.empty()) saveSongNamed(name);
}

// A song without a name asks for the WAV file's name: never a file called
// only ".wav". The answer names the WAV file, not the song.
void exportCommand() {
    const std::string name = editor.songName.empty() ? askName("ENTER FILENAME TO EXPORT") : editor.songName;
    if (!name.empty()) exportWavNamed(name + ".wav");
}
