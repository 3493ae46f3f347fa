// The places recovery copies live in, and the sessions that own them.
//
//   1. places: the folders copies live in, opened without following links;
//      reading and renaming inside them
//   2. sessions: the lock that marks a running editor's copies
#include "app/recovery_places.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "song/recovery_copy.h"
#include "song/safe_file.h"

// ---- 1. places ------------------------------------------------------------------

std::string recoveryFallbackFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base;
    if (state && state[0] == '/') {
        base = state;
    } else {
        // Relative values are to be ignored, as for every XDG variable.
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') return "";
        base = std::string(home) + "/.local/state";
    }
    return base + "/vornatracker/recovery";
}

// "cannot <what> <path>: <the reason errno gives>", said right after the failing call.
std::string failure(const char* what, const std::string& path) {
    return std::string("cannot ") + what + " " + path + ": " + std::strerror(errno);
}

// Opens a place as a folder of this user's own, never through a symbolic
// link (a link could lead the copies onto someone's files) and never one
// another user could plant files in. With `create`, makes it (mode 0700).
// `problem` says why not, naming the call that failed.
int openPlace(const std::string& path, bool create, std::string& problem) {
    if (path.empty()) {
        problem = "no fall-back place: neither XDG_STATE_HOME nor HOME is an absolute path";
        return -1;
    }
    std::string unmade;  // the first folder that could not be made, and why
    if (create) {
        // Every missing parent too, for the fall-back place.
        for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
            const std::string part = path.substr(0, slash);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST && unmade.empty())
                unmade = failure("make folder", part);
            if (slash == std::string::npos) break;
        }
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0) {
        // Missing because it could not be made: that is the real reason.
        if (errno == ENOENT && !unmade.empty())
            problem = unmade;
        else if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            problem = "will not use " + path + ": a symbolic link";
        else
            problem = failure("open folder", path);
        return -1;
    }
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 022) != 0) {
        close(fd);
        problem = "will not use " + path + ": not a folder of this user's own closed to others";
        return -1;
    }
    return fd;
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
PlaceRead readInPlace(int dir, const std::string& name, std::vector<uint8_t>& bytes) {
    const int fd = openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP || errno == ENXIO ? PlaceRead::Strange : PlaceRead::Failed;
    struct stat st;
    PlaceRead result = fstat(fd, &st) != 0 ? PlaceRead::Failed : PlaceRead::Ok;
    if (result == PlaceRead::Ok && (!S_ISREG(st.st_mode) || uint64_t(st.st_size) > MaxRecoveryCopySize))
        result = PlaceRead::Strange;
    if (result == PlaceRead::Ok) {
        bytes.resize(std::size_t(st.st_size));
        std::size_t got = 0;
        if (!readFully(fd, bytes.data(), bytes.size(), got) || got != bytes.size()) result = PlaceRead::Failed;
    }
    close(fd);
    return result;
}

// Renames inside a place, never over an entry already there.
bool renameFresh(int dir, const std::string& from, const std::string& to) {
    if (renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without that flag: a second name, then the first goes.
    if (linkat(dir, from.c_str(), dir, to.c_str(), 0) != 0) return false;
    unlinkat(dir, from.c_str(), 0);
    return true;
}

// ---- 2. sessions ----------------------------------------------------------------

// A session is running while its lock file is locked; the lock goes with
// the process, however it ends.
bool sessionRunning(int dir, const std::string& session) {
    const int fd = openat(dir, ("." + session + LockSuffix).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

// Takes this session's lock in a place: made under another name, locked,
// then renamed into place, so no one ever sees it unlocked.
int takeLock(int dir, const std::string& path, const std::string& session, std::string& problem) {
    const std::string name = "." + session + LockSuffix, temp = name + TempSuffix;
    unlinkat(dir, temp.c_str(), 0);
    const int fd = openat(dir, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        problem = failure("create", path + "/" + temp);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
        problem = failure("lock", path + "/" + name);
        unlinkat(dir, temp.c_str(), 0);
        close(fd);
        return -1;
    }
    return fd;
}
