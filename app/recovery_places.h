#pragma once
// The places recovery copies live in and the sessions that own them: folders
// of this user's own, opened without following links; the names of the
// entries in them; each session's lock; reading and renaming inside a place.
// No state of its own: the writer and the start-up pass their places in.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// Copies end in this, never in ".vorna": no song name the user can give
// (the editor always appends ".vorna") reaches them.
constexpr const char* CopySuffix = ".recovery";
constexpr const char* LockSuffix = ".lock";
constexpr const char* TempSuffix = ".tmp";

// $XDG_STATE_HOME/vornatracker/recovery (or ~/.local/state/...;
// %LOCALAPPDATA%\vornatracker\recovery on Windows); "" when none is known.
std::string recoveryFallbackFolder();

// "cannot <what> <path>: <the reason errno gives>", said right after the failing call.
std::string failure(const char* what, const std::string& path);

// Holds the folder at place.path as a place, or false with `problem` saying
// why; with `create`, made first (for this user alone, parents too).
bool openPlace(HeldFolder& place, bool create, std::string& problem);

// The session an entry of a place belongs to; "" for an entry of none.
std::string sessionOf(const std::string& entry);

// How reading a copy went: read, not a plain copy at all (a link, a folder,
// a device, far too large: set aside like a damaged one), or a failing read.
enum class PlaceRead { Ok, Strange, Failed };
// Reads a whole copy of a place, never through a link and never blocking.
PlaceRead readInPlace(const HeldFolder& dir, const std::string& name, std::vector<uint8_t>& bytes);

// Renames inside a place, never over an entry already there.
bool renameFresh(const HeldFolder& dir, const std::string& from, const std::string& to);

// Whether the session's lock in a place is held by a running editor.
bool sessionRunning(const HeldFolder& dir, const std::string& session);
// Takes the session's lock in a place: its handle, or -1 with `problem` saying why.
intptr_t takeLock(const HeldFolder& dir, const std::string& session, std::string& problem);
