// Crash-safe replacement of files, and reads that never block.
//
//   1. paths: folder, symbolic links, what may be replaced
//   2. temporary files: names with the process id, the list a signal empties, stale ones
//   3. safeOpen / safeWrite / safeCommit / safeAbandon
//   4. reading and writing whole buffers, reading regular files
//   5. file states
#include "song/safe_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

const char* const SafeTempPrefix = ".vorna-tmp-";

// ---- 1. paths ---------------------------------------------------------------

// The folder part of a path, for the temporary file and the directory sync.
static std::string folderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Follows symbolic links of the last component, so the file they point to is
// replaced in its own folder and the links stay links. A dangling link gives
// the path it names (a new file is made there).
static bool followLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {  // the kernel's own limit on a chain
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        char link[PATH_MAX];
        const ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
        if (n <= 0) return false;
        const std::string to(link, std::size_t(n));
        path = to[0] == '/' ? to : folderOf(path) + "/" + to;
    }
    errno = ELOOP;
    return false;
}

// Write permission as the user would expect it: root may write anything, but
// a file without any write bit was protected on purpose and is kept.
static bool mayReplace(const std::string& path, const struct stat& st) {
    if ((st.st_mode & 0222) == 0) return false;
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// ---- 2. temporary files -------------------------------------------------------

// Temporary files still open, for a signal handler to remove. Fixed slots of
// plain characters: the handler may only read memory and unlink.
namespace {
constexpr int TempSlots = 8;
enum SlotState { Free, Filling, Ready };  // a handler reads only Ready slots
struct TempSlot {
    std::atomic<int> state{Free};
    char path[PATH_MAX];
};
TempSlot tempSlots[TempSlots];
}  // namespace

static void rememberTemp(const std::string& path) {
    if (path.size() >= PATH_MAX) return;
    for (TempSlot& s : tempSlots) {
        int expected = Free;
        if (!s.state.compare_exchange_strong(expected, Filling, std::memory_order_acq_rel)) continue;
        std::memcpy(s.path, path.c_str(), path.size() + 1);
        s.state.store(Ready, std::memory_order_release);
        return;
    }
    // More than eight at once: the ordinary paths still remove it.
}

static void forgetTemp(const std::string& path) {
    for (TempSlot& s : tempSlots)
        if (s.state.load(std::memory_order_acquire) == Ready && path == s.path)
            s.state.store(Free, std::memory_order_release);
}

static void removeTempsAndDie(int sig) {
    for (TempSlot& s : tempSlots)
        if (s.state.load(std::memory_order_acquire) == Ready) unlink(s.path);
    // Ended as the signal ends a program, so the caller sees which one.
    signal(sig, SIG_DFL);
    raise(sig);
}

const int QuitSignals[3] = {SIGINT, SIGTERM, SIGHUP};

bool signalIgnoredAtStart(int sig) {
    struct sigaction old {};
    return sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
}

void handleQuitSignals(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    for (int sig : QuitSignals)
        if (!signalIgnoredAtStart(sig)) sigaction(sig, &sa, nullptr);
}

void safeFileSignals() {
    handleQuitSignals(removeTempsAndDie);
    signal(SIGXFSZ, SIG_IGN);  // a file-size limit is a failed write, not a dead process
}

// Removes the temporary files of processes that no longer exist in folder:
// a save killed half-way leaves one, and nothing else would ever remove it.
static void removeStaleTemps(const std::string& folder) {
    DIR* d = opendir(folder.c_str());
    if (!d) return;
    const std::size_t prefix = std::strlen(SafeTempPrefix);
    while (dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, SafeTempPrefix, prefix) != 0) continue;
        char* end = nullptr;
        const long pid = std::strtol(e->d_name + prefix, &end, 10);
        if (pid <= 0 || *end != '-' || pid == long(getpid())) continue;
        // EPERM means the process exists under another user: keep its file.
        if (kill(pid_t(pid), 0) == 0 || errno != ESRCH) continue;
        unlinkat(dirfd(d), e->d_name, 0);
    }
    closedir(d);
}

// ---- 3. safe replacement --------------------------------------------------------

static FileState stateOf(const struct stat& st);

static bool refuse(SafeFile& f, const std::string& why) {
    f.why = why;
    return false;
}

bool safeOpen(SafeFile& f, const std::string& target) {
    f = SafeFile();
    f.target = target;
    // A NUL would cut the path short and write some other file.
    if (target.empty() || target.find('\0') != std::string::npos) return refuse(f, "not a file name");
    if (!followLinks(f.target)) return refuse(f, std::strerror(errno));

    struct stat old;
    const bool exists = stat(f.target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) return refuse(f, std::strerror(errno));
    if (exists && S_ISDIR(old.st_mode)) return refuse(f, "is a folder");
    // FIFOs, devices and sockets are never opened (that could block) nor replaced.
    if (exists && !S_ISREG(old.st_mode)) return refuse(f, "is not a regular file");
    if (exists && !mayReplace(f.target, old)) return refuse(f, "is write-protected");

    const std::string folder = folderOf(f.target);
    removeStaleTemps(folder);
    std::string pattern = folder + "/" + SafeTempPrefix + std::to_string(getpid()) + "-XXXXXX";
    const int fd = mkstemp(&pattern[0]);
    if (fd < 0) return refuse(f, std::strerror(errno));
    f.tempPath = pattern;
    rememberTemp(f.tempPath);
    if (exists) {
        // Owner and group first: changing them clears set-id bits the mode then restores.
        if (fchown(fd, old.st_uid, old.st_gid) != 0 && fchown(fd, uid_t(-1), old.st_gid) != 0) {
            // Not allowed to give the file away: it stays the user's own.
        }
        fchmod(fd, old.st_mode & 07777);
    } else {
        // mkstemp makes the file 0600; a new file gets the usual mode.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    f.file = fdopen(fd, "wb");
    if (!f.file) {
        const int err = errno;
        close(fd);
        unlink(f.tempPath.c_str());
        forgetTemp(f.tempPath);
        f.tempPath.clear();
        return refuse(f, std::strerror(err));
    }
    return true;
}

bool safeWrite(SafeFile& f, const void* data, std::size_t size) {
    if (!f.file || f.failed) return false;
    if (size && std::fwrite(data, 1, size, f.file) != size) {
        f.failed = true;
        f.why = std::strerror(errno);
    }
    return !f.failed;
}

bool safeWriteAt(SafeFile& f, long offset, const void* data, std::size_t size) {
    if (!f.file || f.failed) return false;
    if (std::fseek(f.file, offset, SEEK_SET) != 0) {
        f.failed = true;
        f.why = std::strerror(errno);
    }
    return safeWrite(f, data, size);
}

void safeAbandon(SafeFile& f) {
    if (f.file) std::fclose(f.file);
    f.file = nullptr;
    if (!f.tempPath.empty()) {
        unlink(f.tempPath.c_str());
        forgetTemp(f.tempPath);
    }
    f.tempPath.clear();
}

bool safeCommit(SafeFile& f) {
    if (!f.file) return false;
    bool ok = !f.failed && std::fflush(f.file) == 0 && fsync(fileno(f.file)) == 0;
    if (!ok && f.why.empty()) f.why = std::strerror(errno);
    // Taken before the rename, which keeps the inode, size and time.
    struct stat st;
    if (ok && fstat(fileno(f.file), &st) == 0) f.written = stateOf(st);
    ok = (std::fclose(f.file) == 0) && ok;
    f.file = nullptr;
    if (ok) {
        ok = std::rename(f.tempPath.c_str(), f.target.c_str()) == 0;
        if (!ok) f.why = std::strerror(errno);
    }
    if (!ok) {
        if (f.why.empty()) f.why = "the data could not be written";
        unlink(f.tempPath.c_str());
    }
    forgetTemp(f.tempPath);
    f.tempPath.clear();
    if (!ok) return false;
    // Make the rename itself durable; a failure here no longer loses data.
    int dir = open(folderOf(f.target).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

// ---- 4. reading -------------------------------------------------------------------

int openRegularFile(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        errno = ENOENT;
        return -1;
    }
    // Looked at before opening: a device is never opened at all.
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    // O_NONBLOCK: should a FIFO take the name meanwhile, opening it must not wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool readFully(int fd, uint8_t* data, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size) {
        const ssize_t n = read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // the end of the file
        got += std::size_t(n);
    }
    return true;
}

bool writeFully(int fd, const uint8_t* data, std::size_t size) {
    std::size_t put = 0;
    while (put < size) {
        const ssize_t n = write(fd, data + put, size - put);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;  // no progress and no reason given
        if (n <= 0) return false;
        put += std::size_t(n);
    }
    return true;
}

bool readRegularFile(const std::string& path, std::size_t maxSize, std::vector<uint8_t>& bytes, FileState* state) {
    bytes.clear();
    if (state) *state = FileState();
    const int fd = openRegularFile(path);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && uint64_t(st.st_size) <= maxSize;
    // Taken before the reading: a writer that comes in between shows as a change later.
    if (ok && state) *state = stateOf(st);
    if (ok) {
        // One byte more than allowed shows a file that grew since fstat.
        bytes.resize(maxSize + 1);
        std::size_t got = 0;
        ok = readFully(fd, bytes.data(), bytes.size(), got);
        bytes.resize(got);
        ok = ok && got <= maxSize;
    }
    close(fd);
    if (!ok) bytes.clear();
    if (!ok && state) *state = FileState();
    return ok;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// ---- 5. file states -----------------------------------------------------------------

static FileState stateOf(const struct stat& st) {
    FileState s;
    s.known = true;
    s.size = uint64_t(st.st_size);
    s.modifiedSec = int64_t(st.st_mtim.tv_sec);
    s.modifiedNsec = uint32_t(st.st_mtim.tv_nsec);
    s.device = uint64_t(st.st_dev);
    s.inode = uint64_t(st.st_ino);
    return s;
}

bool operator==(const FileState& a, const FileState& b) {
    return a.known == b.known && a.size == b.size && a.modifiedSec == b.modifiedSec &&
           a.modifiedNsec == b.modifiedNsec && a.device == b.device && a.inode == b.inode;
}

FileState fileStateOf(const std::string& path) {
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) return FileState();
    return stateOf(st);
}
