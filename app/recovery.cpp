// Recovery copies.
//
//   (the copy's bytes: song/recovery_copy.cpp)
//   2. places: the folders copies live in, opened without following links
//   3. sessions: the lock that marks a running editor's copies
//   4. the writer thread: jobs, writes, removals, syncs, failed copies tried again
//   5. the main thread: taking copies, flushing, the missing-copy message, start and end
//   6. start-up: finding, adopting and opening the newest copy; damaged ones set aside
#include "app/recovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "app/document.h"
#include "app/history.h"
#include "song/names.h"
#include "song/relaxed.h"
#include "song/recovery_copy.h"
#include "song/safe_file.h"
#include "song/song.h"
#include "song/song_file.h"
#include "ui/status.h"

const char* const RecoveryFolderName = ".vorna-recovery";

// Copies end in this, never in ".vorna": no song name the user can give
// (the editor always appends ".vorna") reaches them.
static const char* const CopySuffix = ".recovery";
static const char* const LockSuffix = ".lock";
static const char* const TempSuffix = ".tmp";

// ---- 2. places ------------------------------------------------------------------

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
static std::string failure(const char* what, const std::string& path) {
    return std::string("cannot ") + what + " " + path + ": " + std::strerror(errno);
}

// Opens a place as a folder of this user's own, never through a symbolic
// link (a link could lead the copies onto someone's files) and never one
// another user could plant files in. With `create`, makes it (mode 0700).
// `problem` says why not, naming the call that failed.
static int openPlace(const std::string& path, bool create, std::string& problem) {
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
static std::string sessionOf(const std::string& entry) {
    const std::size_t from = entry[0] == '.' ? 1 : 0;
    const std::string stem = entry.substr(from, entry.find('.', from) - from);
    const std::size_t first = stem.find('-'), last = stem.rfind('-');
    if (first == std::string::npos || first == 0) return "";
    return first == last ? stem : stem.substr(0, last);
}

// How reading a copy went: read, not a plain copy at all (a link, a folder,
// a device, far too large: set aside like a damaged one), or a failing read.
enum class Read { Ok, Strange, Failed };

// Reads a whole file of a place, never through a link and never blocking.
static Read readInPlace(int dir, const std::string& name, std::vector<uint8_t>& bytes) {
    const int fd = openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP || errno == ENXIO ? Read::Strange : Read::Failed;
    struct stat st;
    Read result = fstat(fd, &st) != 0 ? Read::Failed : Read::Ok;
    if (result == Read::Ok && (!S_ISREG(st.st_mode) || uint64_t(st.st_size) > MaxRecoveryCopySize)) result = Read::Strange;
    if (result == Read::Ok) {
        bytes.resize(std::size_t(st.st_size));
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += std::size_t(n);
        }
        if (got != bytes.size()) result = Read::Failed;
    }
    close(fd);
    return result;
}

// Renames inside a place, never over an entry already there.
static bool renameFresh(int dir, const std::string& from, const std::string& to) {
    if (renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without that flag: a second name, then the first goes.
    if (linkat(dir, from.c_str(), dir, to.c_str(), 0) != 0) return false;
    unlinkat(dir, from.c_str(), 0);
    return true;
}

// ---- 3. sessions ----------------------------------------------------------------

// A session is running while its lock file is locked; the lock goes with
// the process, however it ends.
static bool sessionRunning(int dir, const std::string& session) {
    const int fd = openat(dir, ("." + session + LockSuffix).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

// Takes this session's lock in a place: made under another name, locked,
// then renamed into place, so no one ever sees it unlocked.
static int takeLock(int dir, const std::string& path, const std::string& session, std::string& problem) {
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

// ---- 4. the writer thread --------------------------------------------------------

namespace {

// The newest state of one piece of work, to be written or removed.
struct Job {
    uint64_t work = 0;
    bool remove = false;               // the work is saved: its copy goes
    std::vector<uint8_t> image;        // else the song to copy
    std::string name;
    FileState file;                    // the state its file was opened or saved in
};

struct Place {
    std::string path;
    int dir = -1;    // open folder, or -1 until first used
    int lock = -1;   // this session's lock there
};

struct Writer {
    std::mutex mutex;
    std::condition_variable wake, idle;
    std::vector<Job> jobs;                        // newest per work; guarded by mutex
    std::vector<std::pair<uint64_t, int>> adopted;  // copies taken over at start-up, and their place; guarded by mutex
    std::vector<std::vector<uint8_t>> spare;      // image buffers to reuse; guarded by mutex
    uint64_t posted = 0, finished = 0;            // job batches; guarded by mutex
    bool syncAll = false;                         // a flush waits for the disk; guarded by mutex
    bool stop = false;                            // guarded by mutex
    std::thread thread;

    // Writer thread only, once started:
    Place places[2];                      // the working folder's (preferred), then the fall-back
    bool toldFallback = false;
    std::vector<std::pair<uint64_t, int>> copies;  // works with a copy on disk, and its place
    std::vector<uint64_t> unsynced;       // copies written but not yet synced
    std::chrono::steady_clock::time_point unsyncedSince, lastSync;
    std::vector<Job> failed;              // the newest state of each work whose copy could not be written
    std::chrono::steady_clock::time_point failedAt;  // the last attempt that left one of them unwritten
    std::string problem;                  // why the last failed copy failed, in both places
};

// Never destroyed: a process ending by exit() somewhere else (a library's
// crash handler) must not run into a writer thread still joinable.
Writer& writer = *new Writer;
bool started = false;
std::string session;      // "<pid>-<start time>"
std::string folder;       // the working folder
uint64_t copiedVersion = ~uint64_t(0);  // history version of the last copy taken
uint32_t copiedAt = 0;
bool copiedOnce = false;
// Set by the writer while some unsaved work has no copy on disk.
Relaxed<bool> copyMissing{false};

}  // namespace

void (*recoveryAdoptHook)() = nullptr;

static std::string copyName(uint64_t work) { return session + "-" + std::to_string(work) + CopySuffix; }

static int* copyPlace(uint64_t work) {
    for (auto& c : writer.copies)
        if (c.first == work) return &c.second;
    return nullptr;
}

static void closePlace(Place& p) {
    if (p.lock >= 0) close(p.lock);
    if (p.dir >= 0) close(p.dir);
    p.lock = p.dir = -1;
}

// Opens a place and takes this session's lock in it; false leaves it closed.
static bool openWithLock(Place& p, bool create, std::string& problem) {
    p.dir = openPlace(p.path, create, problem);
    if (p.dir >= 0) p.lock = takeLock(p.dir, p.path, session, problem);
    if (p.dir >= 0 && p.lock < 0) closePlace(p);
    return p.dir >= 0;
}

// Place i, ready for a copy: open, still there, and holding this session's
// lock. A place that failed is tried again each time, a removed folder is
// made again and a removed lock taken again.
static bool readyPlace(int i, std::string& problem) {
    Place& p = writer.places[i];
    struct stat st, held;
    if (p.dir >= 0 && (fstat(p.dir, &st) != 0 || st.st_nlink == 0)) closePlace(p);  // the folder was removed
    if (p.dir < 0) return openWithLock(p, true, problem);
    const std::string lockName = "." + session + LockSuffix;
    if (fstat(p.lock, &held) == 0 && fstatat(p.dir, lockName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        st.st_ino == held.st_ino && st.st_dev == held.st_dev)
        return true;
    const int lock = takeLock(p.dir, p.path, session, problem);
    if (lock < 0) return false;
    close(p.lock);
    p.lock = lock;
    return true;
}

// Writes one copy into place i: a temporary file with the process id in
// its name, then a rename over the copy (never onto anything but a copy).
static bool writeIn(int i, const std::vector<uint8_t>& bytes, uint64_t work, bool sync, std::string& problem) {
    if (!readyPlace(i, problem)) return false;
    const Place& p = writer.places[i];
    const std::string temp = session + "-" + std::to_string(work) + TempSuffix;
    unlinkat(p.dir, temp.c_str(), 0);
    const int fd = openat(p.dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        problem = failure("create", p.path + "/" + temp);
        return false;
    }
    std::size_t put = 0;
    while (put < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + put, bytes.size() - put);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;  // no progress and no reason given
        if (n <= 0) break;
        put += std::size_t(n);
    }
    bool ok = put == bytes.size();
    if (!ok) problem = failure("write", p.path + "/" + temp);
    if (ok && sync && fsync(fd) != 0) {
        problem = failure("sync", p.path + "/" + temp);
        ok = false;
    }
    if (close(fd) != 0 && ok) {
        problem = failure("write", p.path + "/" + temp);
        ok = false;
    }
    if (ok && renameat(p.dir, temp.c_str(), p.dir, copyName(work).c_str()) != 0) {
        problem = failure("rename", p.path + "/" + temp);
        ok = false;
    }
    if (!ok) unlinkat(p.dir, temp.c_str(), 0);
    return ok;
}

static void removeCopy(uint64_t work) {
    auto c = std::find_if(writer.copies.begin(), writer.copies.end(), [&](const auto& x) { return x.first == work; });
    if (c == writer.copies.end()) return;
    const Place& p = writer.places[c->second];
    if (p.dir >= 0) unlinkat(p.dir, copyName(work).c_str(), 0);
    writer.copies.erase(c);
    writer.unsynced.erase(std::remove(writer.unsynced.begin(), writer.unsynced.end(), work), writer.unsynced.end());
}

// Writes a copy in the preferred place, else in the fall-back; false when
// neither took it (writer.problem says why).
static bool writeCopy(const Job& job, bool sync) {
    RecoveryCopy copy;
    copy.image = job.image;
    copy.name = job.name;
    copy.file = job.file;
    copy.folder = folder;
    copy.writtenNs = uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count());
    const std::vector<uint8_t> bytes = encodeRecoveryCopy(copy);
    const auto now = std::chrono::steady_clock::now();
    // Synced now when the last sync is getting old; otherwise soon after.
    sync = sync || now - writer.lastSync >= std::chrono::milliseconds(RecoverySyncMs);
    std::string why[2];
    int in = 0;
    while (in < 2 && !writeIn(in, bytes, job.work, sync, why[in])) ++in;
    if (in == 2) {
        writer.problem = why[0] + "; " + why[1];
        return false;
    }
    if (in == 1 && !writer.toldFallback)
        std::fprintf(stderr, "vornatracker: cannot keep recovery copies in %s (%s); keeping them in %s\n",
                     writer.places[0].path.c_str(), why[0].c_str(), writer.places[1].path.c_str());
    writer.toldFallback = writer.toldFallback || in == 1;
    // An older copy of the same work in the other place is out of date.
    int* at = copyPlace(job.work);
    if (at && *at != in && writer.places[*at].dir >= 0)
        unlinkat(writer.places[*at].dir, copyName(job.work).c_str(), 0);
    if (at)
        *at = in;
    else
        writer.copies.emplace_back(job.work, in);
    if (sync) {
        fsync(writer.places[in].dir);  // the rename itself
        writer.lastSync = now;
        writer.unsynced.erase(std::remove(writer.unsynced.begin(), writer.unsynced.end(), job.work), writer.unsynced.end());
    } else if (std::find(writer.unsynced.begin(), writer.unsynced.end(), job.work) == writer.unsynced.end()) {
        if (writer.unsynced.empty()) writer.unsyncedSince = now;
        writer.unsynced.push_back(job.work);
    }
    return true;
}

// Copies written without a sync reach the disk here.
static void syncPending() {
    for (uint64_t work : writer.unsynced) {
        int* at = copyPlace(work);
        if (!at || writer.places[*at].dir < 0) continue;
        const int fd = openat(writer.places[*at].dir, copyName(work).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            fsync(fd);
            close(fd);
        }
    }
    for (const Place& p : writer.places)
        if (p.dir >= 0) fsync(p.dir);
    writer.unsynced.clear();
    writer.lastSync = std::chrono::steady_clock::now();
}

// One round of copies: the batch of new jobs, and the copies that failed
// before, tried again with any new job, at a flush and every RecoveryRetryMs.
// Standard error hears when copies stop being kept, and when they are again.
static void writeRound(std::vector<Job>& batch, bool syncAll) {
    const auto now = std::chrono::steady_clock::now();
    const bool hadFailed = !writer.failed.empty();
    // A failed state that a newer job of its work replaces is not tried again.
    auto replaced = [&](const Job& f) {
        return std::any_of(batch.begin(), batch.end(), [&](const Job& j) { return j.work == f.work; });
    };
    writer.failed.erase(std::remove_if(writer.failed.begin(), writer.failed.end(), replaced), writer.failed.end());
    const bool attempt = !batch.empty() || syncAll || now >= writer.failedAt + std::chrono::milliseconds(RecoveryRetryMs);
    std::vector<Job> tries;
    if (attempt) tries.swap(writer.failed);
    for (Job& job : batch) {
        if (job.remove)
            removeCopy(job.work);
        else
            tries.push_back(std::move(job));
    }
    std::string where;
    for (Job& job : tries) {
        if (!writeCopy(job, syncAll)) {
            writer.failed.push_back(std::move(job));
        } else {
            where = writer.places[*copyPlace(job.work)].path;
            if (!job.image.empty()) batch.push_back(std::move(job));  // its buffer goes back to the spares
        }
    }
    if (!tries.empty() && !writer.failed.empty()) writer.failedAt = now;
    if (!hadFailed && !writer.failed.empty())
        std::fprintf(stderr, "vornatracker: unsaved work has no recovery copy (%s); trying again every %u s\n",
                     writer.problem.c_str(), unsigned(RecoveryRetryMs / 1000));
    if (hadFailed && writer.failed.empty() && !where.empty())
        std::fprintf(stderr, "vornatracker: recovery copies are kept again, in %s\n", where.c_str());
    copyMissing = !writer.failed.empty();
}

static void writerLoop() {
    std::unique_lock<std::mutex> lock(writer.mutex);
    for (;;) {
        if (writer.jobs.empty() && !writer.stop && !writer.syncAll) {
            // Asleep until a job comes, copies are due for the disk, or a failed copy for another try.
            auto due = std::chrono::steady_clock::time_point::max();
            if (!writer.unsynced.empty()) due = writer.unsyncedSince + std::chrono::milliseconds(RecoverySyncMs);
            if (!writer.failed.empty())
                due = std::min(due, writer.failedAt + std::chrono::milliseconds(RecoveryRetryMs));
            if (due == std::chrono::steady_clock::time_point::max())
                writer.wake.wait(lock);
            else
                writer.wake.wait_until(lock, due);
        }
        std::vector<Job> batch;
        batch.swap(writer.jobs);
        for (const auto& a : writer.adopted) writer.copies.push_back(a);
        writer.adopted.clear();
        const bool syncAll = writer.syncAll;
        writer.syncAll = false;
        const uint64_t batchNumber = writer.posted;
        const bool stop = writer.stop;
        lock.unlock();

        writeRound(batch, syncAll);
        // Due once the oldest copy not yet synced has waited RecoverySyncMs.
        if (!writer.unsynced.empty() &&
            (syncAll || std::chrono::steady_clock::now() >= writer.unsyncedSince + std::chrono::milliseconds(RecoverySyncMs)))
            syncPending();

        lock.lock();
        for (Job& job : batch)
            if (!job.image.empty()) writer.spare.push_back(std::move(job.image));
        writer.finished = batchNumber;
        writer.idle.notify_all();
        if (stop && writer.jobs.empty()) return;
    }
}

// ---- 5. the main thread ----------------------------------------------------------

const char* const NoCopyMessage = "UNSAVED WORK HAS NO RECOVERY COPY";
const char* const CopiesWaitingMessage = "EARLIER UNSAVED WORK IS KEPT: START WITHOUT A SONG TO RECOVER IT";

namespace {
bool noticeShown = false;   // NoCopyMessage was put on the message line
std::string noticeLater;    // shown once the message line is free
}  // namespace

// Hands the song as it is now to the writer: its copy, or the copy's removal
// once nothing in it is unsaved. A snapshot costs one pass over the cells.
static void takeCopy() {
    Job job;
    job.work = historyWork();
    job.remove = !songModified();
    std::vector<uint8_t> image;
    if (!job.remove) {
        {
            std::lock_guard<std::mutex> lock(writer.mutex);
            if (!writer.spare.empty()) {
                image = std::move(writer.spare.back());
                writer.spare.pop_back();
            }
        }
        image.resize(SongImageSize);
        buildSongImage(image.data());
        job.image = std::move(image);
        job.name = editor.songName;
        job.file = knownFileState(editor.songName);
    }
    std::lock_guard<std::mutex> lock(writer.mutex);
    auto same = std::find_if(writer.jobs.begin(), writer.jobs.end(), [&](const Job& j) { return j.work == job.work; });
    if (same != writer.jobs.end()) {
        if (!same->image.empty()) writer.spare.push_back(std::move(same->image));
        *same = std::move(job);
    } else {
        writer.jobs.push_back(std::move(job));
    }
    ++writer.posted;
    writer.wake.notify_one();
    copiedVersion = historyVersion();
}

// The message line while unsaved work has no copy: at once when it happens,
// held (not fading) while it lasts, back after any other message has had its
// time, and gone as soon as a copy is kept again.
static void showCopyMissing() {
    if (copyMissing) {
        if (!noticeShown || statusTimer <= 0)
            showStatus(NoCopyMessage);
        else if (statusText == NoCopyMessage)
            statusTimer = 500;
        noticeShown = true;
    } else if (noticeShown) {
        if (statusText == NoCopyMessage) statusTimer = 0;
        noticeShown = false;
    }
    if (!noticeLater.empty() && statusTimer <= 0) {
        showStatus(noticeLater);
        noticeLater.clear();
    }
}

void recoveryTick(uint32_t nowMs) {
    if (!started) return;
    showCopyMissing();
    if (historyVersion() == copiedVersion) return;
    // Changes are gathered for a moment, so a burst of keys makes a few
    // copies, not one per key; a change still reaches a copy well within 0.5 s.
    if (copiedOnce && nowMs - copiedAt < RecoverySnapshotMs) return;
    copiedOnce = true;
    copiedAt = nowMs;
    takeCopy();
}

// The history's workEndsHook while the session runs: the copy of the work
// so far is taken now, before the song becomes another piece of work.
static void recoveryWorkEnds() {
    if (started && historyVersion() != copiedVersion) takeCopy();
}

void recoveryFlush() {
    if (!started) return;
    if (historyVersion() != copiedVersion) takeCopy();
    std::unique_lock<std::mutex> lock(writer.mutex);
    writer.syncAll = true;
    const uint64_t wanted = ++writer.posted;
    writer.wake.notify_one();
    writer.idle.wait(lock, [&] { return writer.finished >= wanted; });
}

bool unsavedWorkHasCopy() {
    if (!started) return !songModified();
    recoveryFlush();
    showCopyMissing();  // now, so that a message the caller shows next stays
    return !copyMissing;
}

bool startRecovery() {
    if (started) return true;
    char cwd[4096];
    folder = getcwd(cwd, sizeof cwd) ? cwd : ".";
    const uint64_t startNs = uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
    char id[64];
    std::snprintf(id, sizeof id, "%ld-%llx", long(getpid()), static_cast<unsigned long long>(startNs));
    session = id;
    writer.places[0] = Place{(folder == "/" ? "" : folder) + "/" + RecoveryFolderName};
    writer.places[1] = Place{recoveryFallbackFolder()};
    writer.lastSync = std::chrono::steady_clock::now();
    writer.stop = false;
    // Places that exist get this session's lock before anything of it can
    // appear there; the writer makes a missing place when it first needs it.
    std::string unused;
    for (Place& p : writer.places) openWithLock(p, false, unused);
    try {
        writer.thread = std::thread(writerLoop);
    } catch (const std::system_error&) {
        return false;
    }
    started = true;
    copiedVersion = historyVersion();  // the song at start holds nothing unsaved
    copiedOnce = false;
    workEndsHook = recoveryWorkEnds;
    return true;
}

void finishRecovery() {
    if (!started) return;
    recoveryFlush();
    {
        std::lock_guard<std::mutex> lock(writer.mutex);
        writer.stop = true;
        writer.wake.notify_one();
    }
    writer.thread.join();
    started = false;
    workEndsHook = nullptr;
    // The lock goes; the copies stay for the next start to find.
    for (Place& p : writer.places) {
        if (p.lock >= 0) unlinkat(p.dir, ("." + session + LockSuffix).c_str(), 0);
        closePlace(p);
    }
    writer.copies.clear();
    writer.unsynced.clear();
    writer.jobs.clear();
    writer.spare.clear();
    writer.failed.clear();
    writer.toldFallback = false;
    copyMissing = false;
    noticeShown = false;
    noticeLater.clear();
}

// ---- 6. start-up -------------------------------------------------------------------

namespace {
struct Found {
    int place;
    std::string entry;
    uint64_t writtenNs;
};
}  // namespace

// A damaged copy is said once and set aside under another name, never
// removed: the work in it may still be worth something to someone.
static void setAside(int dir, const std::string& path, const std::string& entry) {
    std::string aside = entry + ".damaged";
    for (int n = 2; !renameFresh(dir, entry, aside) && errno == EEXIST && n < 100; ++n)
        aside = entry + ".damaged-" + std::to_string(n);
    struct stat st;
    if (fstatat(dir, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        std::fprintf(stderr, "vornatracker: recovery copy %s/%s is damaged; left as it is\n", path.c_str(),
                     entry.c_str());
    else
        std::fprintf(stderr, "vornatracker: recovery copy %s/%s is damaged; set aside as %s\n", path.c_str(),
                     entry.c_str(), aside.c_str());
}

// Looks through one place: the copies of ended sessions that belong to this
// working folder, newest first; copies of other folders stay as they are.
// With `tidy`, temporary files and locks of ended sessions go, and copies
// beyond the newest RecoveryCopiesKept.
static void gather(int placeIndex, bool tidy, std::vector<Found>& found) {
    const int dir = writer.places[placeIndex].dir;
    const std::string& path = writer.places[placeIndex].path;
    DIR* d = fdopendir(dup(dir));
    if (!d) return;
    rewinddir(d);  // the duplicate shares the folder's reading position
    std::vector<Found> here;
    std::vector<std::string> stale;
    int foreign = 0;
    while (dirent* e = readdir(d)) {
        const std::string entry = e->d_name;
        const bool lock = endsWith(entry, LockSuffix) || endsWith(entry, (std::string(LockSuffix) + TempSuffix).c_str());
        if (entry[0] == '.' && !lock) continue;  // only locks are hidden
        const std::string owner = sessionOf(entry);
        if (owner.empty() || owner == session || sessionRunning(dir, owner)) continue;
        if (lock || endsWith(entry, TempSuffix)) {
            // A lock is made under a temporary name just before it is locked:
            // only temporary files older than a minute are surely left over.
            struct stat st;
            if (endsWith(entry, LockSuffix) ||
                (fstatat(dir, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && std::time(nullptr) - st.st_mtime > 60))
                stale.push_back(entry);
            continue;
        }
        if (!endsWith(entry, CopySuffix)) continue;
        std::vector<uint8_t> bytes;
        RecoveryCopy copy;
        const Read read = readInPlace(dir, entry, bytes);
        if (read == Read::Failed) {
            std::fprintf(stderr, "vornatracker: %s; left as it is\n", failure("read", path + "/" + entry).c_str());
            continue;
        }
        if (read == Read::Strange || !decodeRecoveryCopy(bytes.data(), bytes.size(), copy)) {
            setAside(dir, path, entry);
            continue;
        }
        // A place may hold copies of other folders (the fall-back place holds
        // every folder's, a copied folder brings the original's along).
        if (copy.folder != folder) {
            ++foreign;
            continue;
        }
        here.push_back(Found{placeIndex, entry, copy.writtenNs});
    }
    closedir(d);
    if (foreign > 0 && placeIndex == 0)
        std::fprintf(stderr, "vornatracker: %d recovery cop%s in %s belong%s to another folder; left as %s\n", foreign,
                     foreign == 1 ? "y" : "ies", path.c_str(), foreign == 1 ? "s" : "", foreign == 1 ? "it is" : "they are");
    std::sort(here.begin(), here.end(), [](const Found& a, const Found& b) {
        return a.writtenNs != b.writtenNs ? a.writtenNs > b.writtenNs : a.entry > b.entry;
    });
    if (tidy) {
        for (const std::string& entry : stale) unlinkat(dir, entry.c_str(), 0);
        for (std::size_t i = RecoveryCopiesKept; i < here.size(); ++i) unlinkat(dir, here[i].entry.c_str(), 0);
        if (here.size() > std::size_t(RecoveryCopiesKept)) here.resize(RecoveryCopiesKept);
    }
    found.insert(found.end(), here.begin(), here.end());
}

// The copies of ended sessions for this folder in both places, newest first.
// Only places this session holds its lock in: a copy renamed to one of its
// names must never look ended to another editor.
static std::vector<Found> findCopies(bool tidy) {
    std::vector<Found> found;
    for (int i = 0; i < 2; ++i)
        if (writer.places[i].dir >= 0) gather(i, tidy, found);
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.writtenNs > b.writtenNs; });
    return found;
}

bool recoverAtStart() {
    if (!started) return false;
    for (const Found& f : findCopies(true)) {
        const int dir = writer.places[f.place].dir;
        // Taken over by a rename into this session's names: if another editor
        // starting now took it first, the rename fails and the next one is
        // tried. Every name it passes through is a copy's, so a kill on the
        // way leaves a copy the next start opens, never a temporary file.
        const std::string adopting = session + "-adopting" + CopySuffix;
        if (renameat(dir, f.entry.c_str(), dir, adopting.c_str()) != 0) continue;
        if (recoveryAdoptHook) recoveryAdoptHook();
        std::vector<uint8_t> bytes;
        RecoveryCopy copy;
        if (readInPlace(dir, adopting, bytes) != Read::Ok || !decodeRecoveryCopy(bytes.data(), bytes.size(), copy)) {
            renameat(dir, adopting.c_str(), dir, f.entry.c_str());
            continue;
        }
        recordDocumentStep(StepKind::Recovery, copy.image, copy.name, false);
        // A save asks nothing only while the file is as this work last saw it.
        rememberFileState(copy.name, copy.file);
        // The copy is now the copy of this session's recovered work.
        const std::string mine = copyName(historyWork());
        if (renameat(dir, adopting.c_str(), dir, mine.c_str()) == 0) {
            std::lock_guard<std::mutex> lock(writer.mutex);
            writer.adopted.emplace_back(historyWork(), f.place);
        } else {
            renameat(dir, adopting.c_str(), dir, f.entry.c_str());
        }
        copiedVersion = historyVersion();  // the copy on disk holds this state
        std::fprintf(stderr, "vornatracker: recovered unsaved work from %s/%s\n", writer.places[f.place].path.c_str(),
                     f.entry.c_str());
        showStatus("RECOVERED UNSAVED WORK");
        return true;
    }
    return false;
}

int tellRecoveryWaiting(bool now) {
    if (!started) return 0;
    const std::vector<Found> found = findCopies(false);
    if (found.empty()) return 0;
    std::fprintf(stderr,
                 "vornatracker: unsaved work of an earlier run is kept in %zu recovery cop%s (newest %s/%s); "
                 "a start without a song in this folder opens it\n",
                 found.size(), found.size() == 1 ? "y" : "ies", writer.places[found[0].place].path.c_str(),
                 found[0].entry.c_str());
    if (now || statusTimer <= 0)
        showStatus(CopiesWaitingMessage);
    else
        noticeLater = CopiesWaitingMessage;
    return int(found.size());
}
