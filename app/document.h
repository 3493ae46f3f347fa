#pragma once
// The document: a whole song applied to the editor (a load, a recovery, an
// undo or redo of one), and what the editor knows of the song files
// documents are read from and written to.
#include <cstdint>
#include <string>

#include "song/safe_file.h"

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
