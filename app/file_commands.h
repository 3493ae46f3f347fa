#pragma once
// The file commands: open (F10), save (F11) and export (F9), with their
// prompts, messages, palette and fade. The storage and audio layers only
// read, write and render; what the user sees of it is done here.
#include <cstddef>
#include <cstdint>
#include <string>

#include "song/safe_file.h"

// The three key commands.
void openCommand();    // asks for a name, then openSongNamed
void saveCommand();    // saves under songName, or asks for a name when there is none or its file changed
void exportCommand();  // exports to songName + ".wav", or asks for a name when there is none

// Opens name + ".vorna" exactly as F10 does after its prompt: the song, its
// theme and name, order slot 0 shown, the fade ended, an undo step, the
// message. A refused file changes nothing but the message.
bool openSongNamed(const std::string& name);
// The same for a whole song file already in memory.
bool openSongBytes(const std::string& name, const uint8_t* data, std::size_t size);
// Saves to name + ".vorna", and the song takes that name; the message says how it went.
bool saveSongNamed(const std::string& name);
// Exports to fileName; the message says how it went.
bool exportWavNamed(const std::string& fileName);

// Shows a whole document: the song image, its theme on the screen (ending
// the start-up fade, which would paint over it) and its name.
void showDocument(const uint8_t* image, const std::string& name);
// Order slot 0 under the order cursor, and its pattern shown unless the slot is empty.
void showFirstSlot();

// The state each song file had when this editor last read or wrote it, by
// song name. A save that asks nothing goes only over a file still in that
// state (or a missing one): anything else was written by someone else since.
FileState knownFileState(const std::string& name);
void rememberFileState(const std::string& name, const FileState& state);
bool fileChangedOnDisk(const std::string& name);
