// The platform layer on POSIX systems (Linux).
//
//   1. paths and folders
//   2. files
//   3. processes and quit requests
//   4. threads and standard output
//   5. folders held open
//   6. keyboard
#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

// ---- 1. paths and folders -------------------------------------------------------

std::string folderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool followLinks(std::string& path) {
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

bool isReservedName(const std::string&) { return false; }  // devices live in /dev, by their paths

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    DIR* d = opendir(folder.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    return names;
}

std::string workingFolder() {
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) ? cwd : "";
}

std::string programFolder() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    const std::string path(exe, std::size_t(n));
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

// An XDG folder: the variable when it holds an absolute path (relative values
// are to be ignored), else its place under $HOME.
static std::string xdgFolder(const char* variable, const char* underHome) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/" + underHome;
    return "";
}

std::string userSettingsFolder() { return xdgFolder("XDG_CONFIG_HOME", ".config"); }
std::string userStateFolder() { return xdgFolder("XDG_STATE_HOME", ".local/state"); }

// ---- 2. files ----------------------------------------------------------------------

bool pathKind(const std::string& path, PathKind& kind) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        kind = PathKind::Missing;
        return errno == ENOENT;
    }
    kind = S_ISDIR(st.st_mode) ? PathKind::Folder : S_ISREG(st.st_mode) ? PathKind::File : PathKind::Other;
    return true;
}

bool mayReplace(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || (st.st_mode & 0222) == 0) return false;
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

std::FILE* createTempFile(const std::string& folder, const std::string& prefix, const std::string& like,
                          std::string& path) {
    std::string pattern = folder + "/" + prefix + std::to_string(getpid()) + "-XXXXXX";
    const int fd = mkstemp(&pattern[0]);
    if (fd < 0) return nullptr;
    struct stat old;
    if (!like.empty() && stat(like.c_str(), &old) == 0) {
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
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        const int err = errno;
        close(fd);
        unlink(pattern.c_str());
        errno = err;
        return nullptr;
    }
    path = pattern;
    return file;
}

bool flushToDisk(std::FILE* file) { return std::fflush(file) == 0 && fsync(fileno(file)) == 0; }

bool replaceFile(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) return false;
    // Make the rename itself durable; a failure here no longer loses data.
    const int dir = open(folderOf(to).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

bool removeFile(const char* path) { return unlink(path) == 0; }

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

// Up to `limit` bytes of an open file.
static bool readUpTo(int fd, std::size_t limit, std::vector<uint8_t>& bytes) {
    bytes.resize(limit);
    std::size_t got = 0;
    const bool ok = readFully(fd, bytes.data(), bytes.size(), got);
    bytes.resize(got);
    return ok;
}

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

FileState fileStateOfOpen(std::FILE* file) {
    struct stat st;
    return fstat(fileno(file), &st) == 0 ? stateOf(st) : FileState();
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
    // One byte more than allowed shows a file that grew since fstat.
    ok = ok && readUpTo(fd, maxSize + 1, bytes) && bytes.size() <= maxSize;
    close(fd);
    if (!ok) bytes.clear();
    if (!ok && state) *state = FileState();
    return ok;
}

bool readRegularFileStart(const std::string& path, std::size_t maxSize, std::vector<uint8_t>& bytes) {
    bytes.clear();
    const int fd = openRegularFile(path);
    if (fd < 0) return false;
    const bool ok = readUpTo(fd, maxSize, bytes);
    close(fd);
    return ok;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// ---- 3. processes and quit requests ---------------------------------------------------

long processId() { return long(getpid()); }

void setEnvironment(const std::string& name, const char* value) {
    value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str());
}

// EPERM means the process exists under another user.
bool processRunning(long pid) { return pid > 0 && (kill(pid_t(pid), 0) == 0 || errno != ESRCH); }

static const int QuitSignals[3] = {SIGINT, SIGTERM, SIGHUP};

static bool signalIgnoredAtStart(int sig) {
    struct sigaction old {};
    return sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
}

// A signal ignored from the start (nohup, a background job) stays ignored.
static sigset_t quitSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : QuitSignals)
        if (!signalIgnoredAtStart(sig)) sigaddset(&set, sig);
    return set;
}

// Waits for the quit signals on a thread of its own: a handler could do
// almost nothing safely, this thread may post an event.
static void waitForSignals(sigset_t set, void (*onQuit)()) {
    for (int count = 0;; ++count) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        if (count > 0) {
            // A second request while the first is handled: end now, as the
            // signal would. The recovery copy on disk is at most 0.5 s old.
            endByQuitRequest(sig);
        }
        onQuit();
    }
}

void watchQuitRequests(void (*onQuit)()) {
    sigset_t set = quitSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);  // inherited by every thread started later
    std::thread(waitForSignals, set, onQuit).detach();
}

void handleQuitRequests(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    for (int sig : QuitSignals)
        if (!signalIgnoredAtStart(sig)) sigaction(sig, &sa, nullptr);
}

void endByQuitRequest(int request) {
    // Ended as the signal ends a program, so the caller sees which one; inside
    // its own handler the signal is blocked until let through here.
    signal(request, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, request);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(request);
    _exit(128 + request);  // not reached
}

static volatile sig_atomic_t runningChild = 0;

void forwardQuitRequest(int request) {
    if (runningChild > 0) kill(pid_t(runningChild), request);
}

ChildEnd runChild(void (*prepare)(), int (*work)(void*), void* data, const std::vector<std::string>&, int& status) {
    // Held back over the fork, so a quit signal always finds the child it must reach.
    sigset_t quits, before;
    sigemptyset(&quits);
    for (int sig : QuitSignals) sigaddset(&quits, sig);
    sigprocmask(SIG_BLOCK, &quits, &before);
    const pid_t child = fork();
    if (child != 0) {
        runningChild = child > 0 ? child : 0;
        sigprocmask(SIG_SETMASK, &before, nullptr);
    }
    if (child < 0) return ChildEnd::NotStarted;
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // a parent killed outright takes its child with it
        prepare();
        sigprocmask(SIG_SETMASK, &before, nullptr);
        const int result = work(data);
        std::fflush(stderr);
        _exit(result);
    }
    int wait = 0;
    while (waitpid(child, &wait, 0) < 0)
        if (errno != EINTR) return ChildEnd::Lost;
    runningChild = 0;
    if (WIFEXITED(wait)) {
        status = WEXITSTATUS(wait);
        return ChildEnd::Exited;
    }
    return WIFSIGNALED(wait) && WTERMSIG(wait) == SIGPIPE ? ChildEnd::ClosedOutput : ChildEnd::Abnormal;
}

std::vector<std::string> programArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void ignoreFileSizeLimit() { signal(SIGXFSZ, SIG_IGN); }
void ignoreClosedOutput() { signal(SIGPIPE, SIG_IGN); }

// ---- 4. threads and standard output ------------------------------------------------

// One system call, no lock: on Linux the policy is the thread's own.
bool threadIsRealtime() {
    const int policy = sched_getscheduler(0);
    return policy == SCHED_RR || policy == SCHED_FIFO;
}

// The handler is looked up at run time so that nothing here needs ALSA's
// headers or a link of its own.
extern "C" {
typedef void (*AlsaErrorHandler)(const char*, int, const char*, int, const char*, ...);
static void alsaQuiet(const char*, int, const char*, int, const char*, ...) {}
}
void quietSoundSystem() {
    using SetHandler = int (*)(AlsaErrorHandler);
    void* symbol = dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler");
    if (symbol) reinterpret_cast<SetHandler>(symbol)(alsaQuiet);
}

void binaryStandardOutput() {}  // POSIX streams never translate line ends

bool isTerminal(int stream) { return isatty(stream) == 1; }

// ---- 5. folders held open ---------------------------------------------------------

static int fdOf(const HeldFolder& folder) { return int(folder.handle); }

// "cannot <what> <path>: <the reason errno gives>", said right after the failing call.
static std::string failure(const char* what, const std::string& path) {
    return std::string("cannot ") + what + " " + path + ": " + std::strerror(errno);
}

bool holdPrivateFolder(HeldFolder& folder, bool create, std::string& problem) {
    const std::string& path = folder.path;
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
        return false;
    }
    if (fstat(fd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 022) != 0) {
        close(fd);
        problem = "will not use " + path + ": not a folder of this user's own closed to others";
        return false;
    }
    folder.handle = fd;
    return true;
}

void releaseFolder(HeldFolder& folder) {
    if (folder.handle >= 0) close(fdOf(folder));
    folder.handle = -1;
}

bool folderRemoved(const HeldFolder& folder) {
    struct stat st;
    return fstat(fdOf(folder), &st) != 0 || st.st_nlink == 0;
}

std::vector<std::string> entriesOf(const HeldFolder& folder) {
    std::vector<std::string> names;
    DIR* d = fdopendir(dup(fdOf(folder)));
    if (!d) return names;
    rewinddir(d);  // the duplicate shares the folder's reading position
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
    return names;
}

EntryRead readEntry(const HeldFolder& folder, const std::string& name, std::size_t maxSize,
                    std::vector<uint8_t>& bytes) {
    const int fd = openat(fdOf(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP || errno == ENXIO ? EntryRead::Strange : EntryRead::Failed;
    struct stat st;
    EntryRead result = fstat(fd, &st) != 0 ? EntryRead::Failed : EntryRead::Ok;
    if (result == EntryRead::Ok && (!S_ISREG(st.st_mode) || uint64_t(st.st_size) > maxSize))
        result = EntryRead::Strange;
    if (result == EntryRead::Ok) {
        bytes.resize(std::size_t(st.st_size));
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += std::size_t(n);
        }
        if (got != bytes.size()) result = EntryRead::Failed;
    }
    close(fd);
    return result;
}

bool writeEntry(const HeldFolder& folder, const std::string& name, const std::vector<uint8_t>& bytes, bool sync,
                const char*& step) {
    const int dir = fdOf(folder);
    unlinkat(dir, name.c_str(), 0);
    step = "create";
    const int fd = openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    std::size_t put = 0;
    while (put < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + put, bytes.size() - put);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;  // no progress and no reason given
        if (n <= 0) break;
        put += std::size_t(n);
    }
    step = "write";
    bool ok = put == bytes.size();
    if (ok && sync && fsync(fd) != 0) {
        step = "sync";
        ok = false;
    }
    if (close(fd) != 0 && ok) ok = false;  // step: "write"
    return ok;
}

bool renameEntry(const HeldFolder& folder, const std::string& from, const std::string& to) {
    return renameat(fdOf(folder), from.c_str(), fdOf(folder), to.c_str()) == 0;
}

bool renameEntryFresh(const HeldFolder& folder, const std::string& from, const std::string& to) {
    const int dir = fdOf(folder);
    if (renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without that flag: a second name, then the first goes.
    if (linkat(dir, from.c_str(), dir, to.c_str(), 0) != 0) return false;
    unlinkat(dir, from.c_str(), 0);
    return true;
}

bool removeEntry(const HeldFolder& folder, const std::string& name) {
    return unlinkat(fdOf(folder), name.c_str(), 0) == 0;
}

bool entryExists(const HeldFolder& folder, const std::string& name) {
    struct stat st;
    return fstatat(fdOf(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

int64_t entryAgeSeconds(const HeldFolder& folder, const std::string& name) {
    struct stat st;
    if (fstatat(fdOf(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    return int64_t(std::time(nullptr) - st.st_mtime);
}

void syncEntry(const HeldFolder& folder, const std::string& name) {
    const int fd = openat(fdOf(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

void syncFolder(const HeldFolder& folder) { fsync(fdOf(folder)); }

intptr_t takeEntryLock(const HeldFolder& folder, const std::string& name, const std::string& temp,
                       std::string& problem) {
    const int dir = fdOf(folder);
    unlinkat(dir, temp.c_str(), 0);
    const int fd = openat(dir, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        problem = failure("create", folder.path + "/" + temp);
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
        problem = failure("lock", folder.path + "/" + name);
        unlinkat(dir, temp.c_str(), 0);
        close(fd);
        return -1;
    }
    return fd;
}

bool entryLockHeld(const HeldFolder& folder, const std::string& name) {
    const int fd = openat(fdOf(folder), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

bool entryIsLock(const HeldFolder& folder, const std::string& name, intptr_t lock) {
    struct stat st, held;
    return fstat(int(lock), &held) == 0 && fstatat(fdOf(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           st.st_ino == held.st_ino && st.st_dev == held.st_dev;
}

void releaseLock(intptr_t lock) {
    if (lock >= 0) close(int(lock));
}

// ---- 6. keyboard ---------------------------------------------------------------------

// Under X11, SDL 1.2 hands over the X keycode, which for the keys of the main
// block is the PC set-1 scan code plus 8.
// X keycodes 9..96 are set-1 codes 1..88 (Escape .. F12) moved up by 8.
static constexpr int FirstPlainKeycode = 9;
static constexpr int LastPlainKeycode = 96;
static constexpr int KeycodeOffset = 8;

// The keys a PC keyboard sends with an E0 (or E1) prefix have keycodes of
// their own above 96. The byte that follows the prefix is what a set-1 scan
// code of these keys means, as on a PC.
struct ExtendedKey {
    uint8_t keycode;
    uint8_t scanCode;
};
static const ExtendedKey extendedKeys[] = {
    {104, 0x1C},  // keypad Enter
    {105, 0x1D},  // right Ctrl
    {106, 0x35},  // keypad /
    {107, 0x37},  // Print Screen
    {108, 0x38},  // right Alt
    {110, 0x47},  // Home
    {111, 0x48},  // Up
    {112, 0x49},  // Page Up
    {113, 0x4B},  // Left
    {114, 0x4D},  // Right
    {115, 0x4F},  // End
    {116, 0x50},  // Down
    {117, 0x51},  // Page Down
    {118, 0x52},  // Insert
    {119, 0x53},  // Delete
    {127, 0x45},  // Pause (E1 1D 45)
    {133, 0x5B},  // left Windows key
    {134, 0x5C},  // right Windows key
    {135, 0x5D},  // Menu
};

uint8_t setOneScanCode(uint8_t xKeycode) {
    if (xKeycode >= FirstPlainKeycode && xKeycode <= LastPlainKeycode)
        return static_cast<uint8_t>(xKeycode - KeycodeOffset);
    for (const ExtendedKey& k : extendedKeys)
        if (k.keycode == xKeycode) return k.scanCode;
    // Below 9 X has no keys; anything else has no set-1 code.
    return 0;
}
