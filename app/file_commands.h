#pragma once
// The file commands: open (F10), save (F11) and export (F9), with their
// prompts and messages. The storage and audio layers only read, write and
// render; what the user sees of it is done here.
#include <cstddef>
#include <cstdint>
#include <string>

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
