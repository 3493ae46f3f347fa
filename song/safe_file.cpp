#include "song/safe_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

// The folder part of a path, for the temporary file and the directory sync.
static std::string folderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool safeOpen(SafeFile& f, const std::string& target) {
    f = SafeFile();
    f.target = target;
    std::string pattern = folderOf(target) + "/.vorna-tmp-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return false;
    // mkstemp makes the file 0600; a saved song should get the usual mode.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    f.tempPath = name.data();
    f.file = fdopen(fd, "wb");
    if (!f.file) {
        close(fd);
        unlink(f.tempPath.c_str());
        return false;
    }
    return true;
}

bool safeWrite(SafeFile& f, const void* data, std::size_t size) {
    if (!f.file || f.failed) return false;
    if (size && std::fwrite(data, 1, size, f.file) != size) f.failed = true;
    return !f.failed;
}

bool safeWriteAt(SafeFile& f, long offset, const void* data, std::size_t size) {
    if (!f.file || f.failed) return false;
    if (std::fseek(f.file, offset, SEEK_SET) != 0) f.failed = true;
    return safeWrite(f, data, size);
}

void safeAbandon(SafeFile& f) {
    if (f.file) std::fclose(f.file);
    f.file = nullptr;
    if (!f.tempPath.empty()) unlink(f.tempPath.c_str());
    f.tempPath.clear();
}

bool safeCommit(SafeFile& f) {
    if (!f.file) return false;
    bool ok = !f.failed && std::fflush(f.file) == 0 && fsync(fileno(f.file)) == 0;
    ok = (std::fclose(f.file) == 0) && ok;
    f.file = nullptr;
    if (ok) ok = std::rename(f.tempPath.c_str(), f.target.c_str()) == 0;
    if (!ok) {
        unlink(f.tempPath.c_str());
        f.tempPath.clear();
        return false;
    }
    f.tempPath.clear();
    // Make the rename itself durable; a failure here no longer loses data.
    int dir = open(folderOf(f.target).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}
