// Crash-safe replacement of files; what differs between systems is in
// platform/.
//
//   1. temporary files: names with the process id, the list a signal empties, stale ones
//   2. safeOpen / safeWrite / safeCommit / safeAbandon
#include "song/safe_file.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

const char* const SafeTempPrefix = ".vorna-tmp-";

// ---- 1. temporary files -------------------------------------------------------

// Temporary files still open, for a signal handler to remove. Fixed slots of
// plain characters: the handler may only read memory and unlink.
namespace {
constexpr int TempSlots = 8;
constexpr std::size_t TempPathMax = 4096;  // longer paths are not remembered
enum SlotState { Free, Filling, Ready };  // a handler reads only Ready slots
struct TempSlot {
    std::atomic<int> state{Free};
    char path[TempPathMax];
};
TempSlot tempSlots[TempSlots];
}  // namespace

static void rememberTemp(const std::string& path) {
    if (path.size() >= TempPathMax) return;
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
        if (s.state.load(std::memory_order_acquire) == Ready && path == s.path) s.state.store(Free, std::memory_order_release);
}

static void removeTempsAndDie(int request) {
    for (TempSlot& s : tempSlots)
        if (s.state.load(std::memory_order_acquire) == Ready) removeFile(s.path);
    endByQuitRequest(request);
}

void safeFileSignals() {
    handleQuitRequests(removeTempsAndDie);
    ignoreFileSizeLimit();  // a file-size limit is a failed write, not a dead process
}

// Removes the temporary files of processes that no longer exist in folder:
// a save killed half-way leaves one, and nothing else would ever remove it.
static void removeStaleTemps(const std::string& folder) {
    const std::size_t prefix = std::strlen(SafeTempPrefix);
    for (const std::string& name : listFolder(folder)) {
        if (name.compare(0, prefix, SafeTempPrefix) != 0) continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix, &end, 10);
        if (pid <= 0 || *end != '-' || pid == processId() || processRunning(pid)) continue;
        removeFile((folder + "/" + name).c_str());
    }
}

// ---- 2. safe replacement --------------------------------------------------------

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

    if (isReservedName(f.target)) return refuse(f, "is a device name");

    PathKind kind;
    if (!pathKind(f.target, kind)) return refuse(f, std::strerror(errno));
    const bool exists = kind != PathKind::Missing;
    if (kind == PathKind::Folder) return refuse(f, "is a folder");
    // FIFOs, devices and sockets are never opened (that could block) nor replaced.
    if (kind == PathKind::Other) return refuse(f, "is not a regular file");
    if (exists && !mayReplace(f.target)) return refuse(f, "is write-protected");

    const std::string folder = folderOf(f.target);
    removeStaleTemps(folder);
    // The new file keeps what the old one had: permissions, owner and group.
    f.file = createTempFile(folder, SafeTempPrefix, exists ? f.target : "", f.tempPath);
    if (!f.file) {
        f.tempPath.clear();
        return refuse(f, std::strerror(errno));
    }
    rememberTemp(f.tempPath);
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
        removeFile(f.tempPath.c_str());
        forgetTemp(f.tempPath);
    }
    f.tempPath.clear();
}

bool safeCommit(SafeFile& f) {
    if (!f.file) return false;
    bool ok = !f.failed && flushToDisk(f.file);
    if (!ok && f.why.empty()) f.why = std::strerror(errno);
    // Taken before the rename, which keeps the file, its size and its time.
    if (ok) f.written = fileStateOfOpen(f.file);
    ok = (std::fclose(f.file) == 0) && ok;
    f.file = nullptr;
    if (ok) {
        ok = replaceFile(f.tempPath, f.target);
        if (!ok) f.why = std::strerror(errno);
    }
    if (!ok) {
        if (f.why.empty()) f.why = "the data could not be written";
        removeFile(f.tempPath.c_str());
    }
    forgetTemp(f.tempPath);
    f.tempPath.clear();
    return ok;
}
