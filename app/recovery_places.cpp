// The places recovery copies live in, and the sessions that own them.
//
//   1. places: the folders copies live in, opened without following links;
//      reading and renaming inside them
//   2. sessions: the lock that marks a running editor's copies
#include "app/recovery_places.h"

#include <cerrno>
#include <cstring>

#include "song/recovery_copy.h"
#include "song/safe_file.h"

// ---- 1. places ------------------------------------------------------------------

std::string recoveryFallbackFolder() {
    const std::string base = userStateFolder();
    return base.empty() ? "" : base + "/vornatracker/recovery";
}

// "cannot <what> <path>: <the reason errno gives>", said right after the failing call.
std::string failure(const char* what, const std::string& path) {
    return std::string("cannot ") + what + " " + path + ": " + std::strerror(errno);
}

// Opens a place as a folder of this user's own, never through a symbolic
// link (a link could lead the copies onto someone's files) and never one
// another user could plant files in. With `create`, makes it (for this user
// alone). `problem` says why not, naming the call that failed.
bool openPlace(HeldFolder& place, bool create, std::string& problem) {
    if (place.path.empty()) {
        problem = "no fall-back place: no folder for the user's state is known (XDG_STATE_HOME, HOME)";
        return false;
    }
    return holdPrivateFolder(place, create, problem);
}

// "<pid>-<start>-<work>.recovery" and "<pid>-<start>-<work>.tmp" belong to
// session "<pid>-<start>"; ".<pid>-<start>.lock" (made as ".lock.tmp") is
// its lock, hidden so that removing the copies (rm .vorna-recovery/*)
// leaves it.
std::string sessionOf(const std::string& entry) {
    const std::size_t from = entry[0] == '.' ? 1 : 0;
    const std::string stem = entry.substr(from, entry.find('.', from) - from);
    const std::size_t first = stem.find('-'), last = stem.rfind('-');
    if (first == std::string::npos || first == 0) return "";
    return first == last ? stem : stem.substr(0, last);
}

// Reads a whole file of a place, never through a link and never blocking.
PlaceRead readInPlace(const HeldFolder& dir, const std::string& name, std::vector<uint8_t>& bytes) {
    switch (readEntry(dir, name, MaxRecoveryCopySize, bytes)) {
    case EntryRead::Ok:
        return PlaceRead::Ok;
    case EntryRead::Strange:
        return PlaceRead::Strange;
    case EntryRead::Failed:
        break;
    }
    return PlaceRead::Failed;
}

// Renames inside a place, never over an entry already there.
bool renameFresh(const HeldFolder& dir, const std::string& from, const std::string& to) {
    return renameEntryFresh(dir, from, to);
}

// ---- 2. sessions ----------------------------------------------------------------

// A session is running while its lock file is locked; the lock goes with
// the process, however it ends.
bool sessionRunning(const HeldFolder& dir, const std::string& session) {
    return entryLockHeld(dir, "." + session + LockSuffix);
}

// Takes this session's lock in a place: made under another name, locked,
// then renamed into place, so no one ever sees it unlocked.
intptr_t takeLock(const HeldFolder& dir, const std::string& session, std::string& problem) {
    const std::string name = "." + session + LockSuffix;
    return takeEntryLock(dir, name, name + TempSuffix, problem);
}
