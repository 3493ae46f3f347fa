// Recovery copies.
//
//   1. the copy's bytes: song file + trailer
//   2. places: the folders copies live in, opened without following links
//   3. sessions: the lock that marks a running editor's copies
//   4. the writer thread: jobs, writes, removals, syncs
//   5. the main thread: taking copies, flushing, start and end
//   6. start-up: finding, adopting and opening the newest copy
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

#include "app/file_commands.h"
#include "app/history.h"
#include "song/bytes.h"
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

// ---- 1. the copy's bytes ------------------------------------------------------

// After the song file: "VORNAREC", version, time written, then (version 2)
// the state of the song's file, then name and folder. Version 1 copies have
// no file state and are still read.
static const uint8_t TrailerMagic[8] = {'V', 'O', 'R', 'N', 'A', 'R', 'E', 'C'};
constexpr uint32_t TrailerVersion = 2;
constexpr std::size_t TrailerFixed = 8 + 4 + 8;  // magic, version, time
// Known flag (4), size (8), modification seconds (8) and nanoseconds (4), device (8), inode (8).
constexpr std::size_t FileStateSize = 4 + 8 + 8 + 4 + 8 + 8;

static void putText(std::vector<uint8_t>& out, const std::string& text) {
    uint8_t length[4];
    putLe32(length, uint32_t(text.size()));  // byte count, then the bytes
    out.insert(out.end(), length, length + 4);
    out.insert(out.end(), text.begin(), text.end());
}

static bool getText(const uint8_t*& p, const uint8_t* end, std::string& text) {
    if (end - p < 4) return false;
    const uint32_t n = getLe32(p);
    p += 4;
    if (n > RecoveryNameMax || uint64_t(end - p) < n) return false;
    text.assign(reinterpret_cast<const char*>(p), n);
    p += n;
    return text.find('\0') == std::string::npos;  // a NUL would cut a path short
}

static void putFileState(std::vector<uint8_t>& out, const FileState& f) {
    uint8_t b[FileStateSize];
    putLe32(b, f.known ? 1 : 0);
    putLe64(b + 4, f.size);
    putLe64(b + 12, uint64_t(f.modifiedSec));
    putLe32(b + 20, f.modifiedNsec);
    putLe64(b + 24, f.device);
    putLe64(b + 32, f.inode);
    out.insert(out.end(), b, b + FileStateSize);
}

static bool getFileState(const uint8_t*& p, const uint8_t* end, FileState& f) {
    if (std::size_t(end - p) < FileStateSize) return false;
    const uint32_t known = getLe32(p);
    f.known = known == 1;
    f.size = getLe64(p + 4);
    f.modifiedSec = int64_t(getLe64(p + 12));
    f.modifiedNsec = getLe32(p + 20);
    f.device = getLe64(p + 24);
    f.inode = getLe64(p + 32);
    p += FileStateSize;
    // An unknown state is all zeros; nanoseconds stay below a second.
    return known <= 1 && f.modifiedNsec < 1000000000u && (f.known || FileState() == f);
}

std::vector<uint8_t> encodeRecoveryCopy(const RecoveryCopy& copy) {
    std::vector<uint8_t> out = encodeSongFile(copy.image.data());
    uint8_t fixed[TrailerFixed];
    std::memcpy(fixed, TrailerMagic, 8);
    putLe32(fixed + 8, TrailerVersion);
    putLe32(fixed + 12, uint32_t(copy.writtenNs));  // time: low word, then high word
    putLe32(fixed + 16, uint32_t(copy.writtenNs >> 32));
    out.insert(out.end(), fixed, fixed + TrailerFixed);
    putFileState(out, copy.file.known ? copy.file : FileState());
    putText(out, copy.name);
    putText(out, copy.folder);
    return out;
}

bool decodeRecoveryCopy(const uint8_t* data, std::size_t size, RecoveryCopy& copy) {
    std::size_t songBytes = 0;
    if (!decodeSongFile(data, size, copy.image, &songBytes)) return false;
    const uint8_t* p = data + songBytes;
    const uint8_t* end = data + size;
    if (std::size_t(end - p) < TrailerFixed || std::memcmp(p, TrailerMagic, 8) != 0) return false;
    const uint32_t version = getLe32(p + 8);
    if (version != 1 && version != TrailerVersion) return false;
    copy.writtenNs = uint64_t(getLe32(p + 12)) | uint64_t(getLe32(p + 16)) << 32;
    p += TrailerFixed;
    copy.file = FileState();
    if (version >= 2 && !getFileState(p, end, copy.file)) return false;
    return getText(p, end, copy.name) && getText(p, end, copy.folder) && p == end;
}

// The largest copy: the largest song file and two texts of the longest kind.
constexpr std::size_t MaxCopySize = MaxSongFileSize + TrailerFixed + FileStateSize + 2 * (4 + RecoveryNameMax);

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

// Opens a place as a folder of this user's own, never through a symbolic
// link (a link could lead the copies onto someone's files) and never one
// another user could plant files in. With `create`, makes it (mode 0700).
static int openPlace(const std::string& path, bool create) {
    if (path.empty()) return -1;
    if (create) {
        // Every missing parent too, for the fall-back place.
        for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
            mkdir(path.substr(0, slash).c_str(), 0700);
        mkdir(path.c_str(), 0700);
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 022) != 0) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

static bool endsWith(const std::string& text, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// "<pid>-<start>-<work>.recovery" and "<pid>-<start>-<work>.tmp" belong to
// session "<pid>-<start>"; "<pid>-<start>.lock" (made as ".lock.tmp") is its lock.
static std::string sessionOf(const std::string& entry) {
    const std::string stem = entry.substr(0, entry.find('.'));
    const std::size_t first = stem.find('-'), last = stem.rfind('-');
    if (first == std::string::npos || first == 0) return "";
    return first == last ? stem : stem.substr(0, last);
}

// Reads a whole file of a place, never through a link and never blocking.
static bool readInPlace(int dir, const std::string& name, std::vector<uint8_t>& bytes) {
    const int fd = openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) <= MaxCopySize;
    if (ok) {
        bytes.resize(std::size_t(st.st_size));
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += std::size_t(n);
        }
        ok = got == bytes.size();
    }
    close(fd);
    return ok;
}

// ---- 3. sessions ----------------------------------------------------------------

// A session is running while its lock file is locked; the lock goes with
// the process, however it ends.
static bool sessionRunning(int dir, const std::string& session) {
    const int fd = openat(dir, (session + LockSuffix).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

// Takes this session's lock in a place: made under another name, locked,
// then renamed into place, so no one ever sees it unlocked.
static int takeLock(int dir, const std::string& session) {
    const std::string temp = session + LockSuffix + TempSuffix;
    unlinkat(dir, temp.c_str(), 0);
    const int fd = openat(dir, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || renameat(dir, temp.c_str(), dir, (session + LockSuffix).c_str()) != 0) {
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
    bool failed = false;
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
    Place places[2];                      // the working folder's, then the fall-back
    int current = 0;                      // the place copies go to now
    bool toldFallback = false, toldNowhere = false;
    std::vector<std::pair<uint64_t, int>> copies;  // works with a copy on disk, and its place
    std::vector<uint64_t> unsynced;       // copies written but not yet synced
    std::chrono::steady_clock::time_point unsyncedSince, lastSync;
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

}  // namespace

static std::string copyName(uint64_t work) { return session + "-" + std::to_string(work) + CopySuffix; }

static int* copyPlace(uint64_t work) {
    for (auto& c : writer.copies)
        if (c.first == work) return &c.second;
    return nullptr;
}

// Opens a place and takes this session's lock in it; false leaves it closed.
static bool openWithLock(Place& p, bool create) {
    p.dir = openPlace(p.path, create);
    if (p.dir >= 0) p.lock = takeLock(p.dir, session);
    if (p.dir >= 0 && p.lock < 0) {
        close(p.dir);
        p.dir = -1;
    }
    return p.dir >= 0;
}

// Opens place i on first use, with this session's lock in it.
static bool readyPlace(int i) {
    Place& p = writer.places[i];
    if (p.dir >= 0) return true;
    if (p.failed) return false;
    p.failed = !openWithLock(p, true);
    return !p.failed;
}

// Writes one copy into place i: a temporary file with the process id in
// its name, then a rename over the copy (never onto anything but a copy).
static bool writeIn(int i, const std::vector<uint8_t>& bytes, uint64_t work, bool sync) {
    if (!readyPlace(i)) return false;
    const int dir = writer.places[i].dir;
    const std::string temp = session + "-" + std::to_string(work) + TempSuffix;
    unlinkat(dir, temp.c_str(), 0);
    const int fd = openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::size_t put = 0;
    while (put < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + put, bytes.size() - put);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        put += std::size_t(n);
    }
    bool ok = put == bytes.size() && (!sync || fsync(fd) == 0);
    ok = close(fd) == 0 && ok;
    ok = ok && renameat(dir, temp.c_str(), dir, copyName(work).c_str()) == 0;
    if (!ok) unlinkat(dir, temp.c_str(), 0);
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

static void writeCopy(const Job& job, bool sync) {
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
    bool ok = writeIn(writer.current, bytes, job.work, sync);
    if (!ok && writer.current == 0 && writeIn(1, bytes, job.work, sync)) {
        writer.current = 1;
        ok = true;
        if (!writer.toldFallback)
            std::fprintf(stderr, "vornatracker: cannot keep recovery copies in %s; keeping them in %s\n",
                         writer.places[0].path.c_str(), writer.places[1].path.c_str());
        writer.toldFallback = true;
    }
    if (!ok) {
        if (!writer.toldNowhere)
            std::fprintf(stderr, "vornatracker: cannot write a recovery copy in %s or %s: %s\n",
                         writer.places[0].path.c_str(), writer.places[1].path.c_str(), std::strerror(errno));
        writer.toldNowhere = true;
        return;
    }
    // An older copy of the same work in the other place is out of date.
    int* at = copyPlace(job.work);
    if (at && *at != writer.current && writer.places[*at].dir >= 0)
        unlinkat(writer.places[*at].dir, copyName(job.work).c_str(), 0);
    if (at)
        *at = writer.current;
    else
        writer.copies.emplace_back(job.work, writer.current);
    if (sync) {
        fsync(writer.places[writer.current].dir);  // the rename itself
        writer.lastSync = now;
        writer.unsynced.erase(std::remove(writer.unsynced.begin(), writer.unsynced.end(), job.work), writer.unsynced.end());
    } else if (std::find(writer.unsynced.begin(), writer.unsynced.end(), job.work) == writer.unsynced.end()) {
        if (writer.unsynced.empty()) writer.unsyncedSince = now;
        writer.unsynced.push_back(job.work);
    }
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

static void writerLoop() {
    std::unique_lock<std::mutex> lock(writer.mutex);
    for (;;) {
        const auto deadline = writer.unsyncedSince + std::chrono::milliseconds(RecoverySyncMs);
        if (writer.jobs.empty() && !writer.stop && !writer.syncAll) {
            if (writer.unsynced.empty())
                writer.wake.wait(lock);
            else
                writer.wake.wait_until(lock, deadline);
        }
        std::vector<Job> batch;
        batch.swap(writer.jobs);
        for (const auto& a : writer.adopted) {
            writer.copies.push_back(a);
            writer.current = a.second;  // recovered work goes on where its copy was
        }
        writer.adopted.clear();
        const bool syncAll = writer.syncAll;
        writer.syncAll = false;
        const uint64_t batchNumber = writer.posted;
        const bool stop = writer.stop;
        lock.unlock();

        for (const Job& job : batch) {
            if (job.remove)
                removeCopy(job.work);
            else
                writeCopy(job, syncAll);
        }
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
        job.name = songName;
        job.file = knownFileState(songName);
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

void recoveryTick(uint32_t nowMs) {
    if (!started || historyVersion() == copiedVersion) return;
    // Changes are gathered for a moment, so a burst of keys makes a few
    // copies, not one per key; a change still reaches a copy well within 0.5 s.
    if (copiedOnce && nowMs - copiedAt < RecoverySnapshotMs) return;
    copiedOnce = true;
    copiedAt = nowMs;
    takeCopy();
}

void recoveryWorkEnds() {
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
    writer.current = 0;
    writer.lastSync = std::chrono::steady_clock::now();
    writer.stop = false;
    // Places that exist get this session's lock before anything of it can
    // appear there; the writer makes a missing place when it first needs it.
    for (Place& p : writer.places) openWithLock(p, false);
    try {
        writer.thread = std::thread(writerLoop);
    } catch (const std::system_error&) {
        return false;
    }
    started = true;
    copiedVersion = historyVersion();  // the song at start holds nothing unsaved
    copiedOnce = false;
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
    // The lock goes; the copies stay for the next start to find.
    for (Place& p : writer.places) {
        if (p.lock >= 0) {
            unlinkat(p.dir, (session + LockSuffix).c_str(), 0);
            close(p.lock);
        }
        if (p.dir >= 0) close(p.dir);
        p = Place{p.path};
    }
    writer.copies.clear();
    writer.unsynced.clear();
    writer.jobs.clear();
    writer.spare.clear();
}

// ---- 6. start-up -------------------------------------------------------------------

namespace {
struct Found {
    int place;
    std::string entry;
    uint64_t writtenNs;
};
}  // namespace

// Looks through one place: the copies of ended sessions that belong to this
// working folder, newest first. Tidies as it goes: temporary files and locks
// of ended sessions go, and copies beyond the newest RecoveryCopiesKept.
static void gather(int placeIndex, int dir, std::vector<Found>& found) {
    DIR* d = fdopendir(dup(dir));
    if (!d) return;
    rewinddir(d);  // the duplicate shares the folder's reading position
    std::vector<Found> here;
    std::vector<std::string> stale;
    while (dirent* e = readdir(d)) {
        const std::string entry = e->d_name;
        if (entry[0] == '.') continue;
        const std::string owner = sessionOf(entry);
        if (owner.empty() || owner == session || sessionRunning(dir, owner)) continue;
        if (endsWith(entry, TempSuffix) || endsWith(entry, LockSuffix)) {
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
        if (!readInPlace(dir, entry, bytes) || !decodeRecoveryCopy(bytes.data(), bytes.size(), copy)) {
            std::fprintf(stderr, "vornatracker: recovery copy %s is damaged; left as it is\n", entry.c_str());
            continue;
        }
        // The fall-back place holds the copies of every folder.
        if (placeIndex == 1 && copy.folder != folder) continue;
        here.push_back(Found{placeIndex, entry, copy.writtenNs});
    }
    closedir(d);
    for (const std::string& entry : stale) unlinkat(dir, entry.c_str(), 0);
    std::sort(here.begin(), here.end(), [](const Found& a, const Found& b) {
        return a.writtenNs != b.writtenNs ? a.writtenNs > b.writtenNs : a.entry > b.entry;
    });
    for (std::size_t i = RecoveryCopiesKept; i < here.size(); ++i) unlinkat(dir, here[i].entry.c_str(), 0);
    if (here.size() > std::size_t(RecoveryCopiesKept)) here.resize(RecoveryCopiesKept);
    found.insert(found.end(), here.begin(), here.end());
}

bool recoverAtStart() {
    if (!started) return false;
    std::vector<Found> found;
    // Only places this session holds its lock in: a copy renamed to one of
    // its names must never look ended to another editor.
    for (int i = 0; i < 2; ++i)
        if (writer.places[i].dir >= 0) gather(i, writer.places[i].dir, found);
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.writtenNs > b.writtenNs; });
    for (const Found& f : found) {
        const int dir = writer.places[f.place].dir;
        // Taken over by a rename into this session's names: if another editor
        // starting now took it first, the rename fails and the next one is tried.
        const std::string adopting = session + "-0" + TempSuffix;
        if (renameat(dir, f.entry.c_str(), dir, adopting.c_str()) != 0) continue;
        std::vector<uint8_t> bytes;
        RecoveryCopy copy;
        if (!readInPlace(dir, adopting, bytes) || !decodeRecoveryCopy(bytes.data(), bytes.size(), copy)) {
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
