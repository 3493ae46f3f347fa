// The platform layer on Windows. Names arrive as UTF-8 and go to the system
// as UTF-16 (the "W" calls); errno carries the reason of a failure, as on
// POSIX, so messages read the same.
//
//   1. text: UTF-8 and UTF-16, errno from the system's error codes
//   2. paths and folders
//   3. files
//   4. processes and quit requests
//   5. threads and standard output
#include "platform/platform.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cwchar>

// ---- 1. text -------------------------------------------------------------------------

static std::wstring wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring out(std::size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0], n);
    return out;
}

static std::string narrow(const wchar_t* text) {
    if (!text || !*text) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(std::size_t(n - 1));  // without the terminator
    return out;
}

// errno for the last system error, so strerror tells the user why.
static void setErrnoFromSystem() {
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        errno = EACCES;
        break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    case ERROR_WRITE_PROTECT:
        errno = EROFS;
        break;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
        errno = EINVAL;
        break;
    default:
        errno = EIO;
    }
}

// ---- 2. paths and folders -------------------------------------------------------

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : ".";
    if (slash == 0) return path.substr(0, 1);
    if (slash == 2 && path[1] == ':') return path.substr(0, 3);  // "C:/": the drive's root
    return path.substr(0, slash);
}

// Links are rare on Windows and their targets resolve in place: the name
// given is the file replaced.
bool followLinks(std::string&) { return true; }

bool isReservedName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\:");
    std::string stem = path.substr(slash == std::string::npos ? 0 : slash + 1);
    // With any extension, and the blanks and dots the system drops at the end.
    stem = stem.substr(0, stem.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) c = char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) && stem[3] >= '1' &&
           stem[3] <= '9';
}

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(wide(folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = narrow(entry.cFileName);
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

// Made with the folder's inherited permissions: under the user's profile
// only the user may use it.
bool makePrivateFolder(const std::string& path) {
    if (CreateDirectoryW(wide(path).c_str(), nullptr)) return true;
    setErrnoFromSystem();
    return false;
}

std::string workingFolder() {
    wchar_t cwd[32768];
    const DWORD n = GetCurrentDirectoryW(32768, cwd);
    return n > 0 && n < 32768 ? narrow(cwd) : "";
}

std::string programFolder() {
    wchar_t exe[32768];
    const DWORD n = GetModuleFileNameW(nullptr, exe, 32768);
    if (n == 0 || n >= 32768) return "";
    const std::string path = narrow(exe);
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

static std::string environmentFolder(const wchar_t* variable) {
    const wchar_t* value = _wgetenv(variable);
    return value ? narrow(value) : "";
}

std::string userSettingsFolder() { return environmentFolder(L"APPDATA"); }
std::string userStateFolder() { return environmentFolder(L"LOCALAPPDATA"); }

// ---- 3. files ----------------------------------------------------------------------

bool pathKind(const std::string& path, PathKind& kind) {
    kind = PathKind::Missing;
    // CON, NUL, ...: a device in every folder, whatever the folder holds.
    if (isReservedName(path)) {
        kind = PathKind::Other;
        return true;
    }
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
        setErrnoFromSystem();
        return false;
    }
    kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::Folder : PathKind::File;
    return true;
}

bool mayReplace(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
}

std::FILE* createTempFile(const std::string& folder, const std::string& prefix, const std::string& like,
                          std::string& path) {
    // The attributes a user sets by hand (hidden, not indexed, ...) carry over.
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (!like.empty()) {
        const DWORD old = GetFileAttributesW(wide(like).c_str());
        const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        if (old != INVALID_FILE_ATTRIBUTES && (old & kept)) attributes = old & kept;
    }
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = folder + "/" + prefix + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(GetTickCount()) + "." + std::to_string(counter++);
        HANDLE h = CreateFileW(wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, attributes,
                               nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            setErrnoFromSystem();
            return nullptr;
        }
        const int fd = _open_osfhandle(intptr_t(h), _O_WRONLY | _O_BINARY);
        std::FILE* file = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
        if (!file) {
            if (fd >= 0)
                _close(fd);
            else
                CloseHandle(h);
            DeleteFileW(wide(name).c_str());
            errno = EIO;
            return nullptr;
        }
        path = name;
        return file;
    }
    errno = EEXIST;
    return nullptr;
}

bool flushToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    if (FlushFileBuffers(HANDLE(_get_osfhandle(_fileno(file))))) return true;
    setErrnoFromSystem();
    return false;
}

// std::rename does not replace an existing file on Windows; MoveFileEx does,
// and with write-through it returns only once the move is on the disk.
bool replaceFile(const std::string& from, const std::string& to) {
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    setErrnoFromSystem();
    return false;
}

bool removeFile(const char* path) { return DeleteFileW(wide(path).c_str()) != 0; }

int openRegularFile(const std::string& path) {
    PathKind kind;
    if (path.empty() || path.find('\0') != std::string::npos) {
        errno = ENOENT;
        return -1;
    }
    if (!pathKind(path, kind)) return -1;
    if (kind != PathKind::File) {
        errno = kind == PathKind::Missing ? ENOENT : kind == PathKind::Folder ? EISDIR : EINVAL;
        return -1;
    }
    return _wopen(wide(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

// Up to `limit` bytes of an open file.
static bool readUpTo(int fd, std::size_t limit, std::vector<uint8_t>& bytes) {
    bytes.resize(limit);
    std::size_t got = 0;
    bool ok = true;
    while (got < bytes.size()) {
        const std::size_t want = bytes.size() - got;
        const int n = _read(fd, bytes.data() + got, unsigned(want > (1u << 30) ? (1u << 30) : want));
        if (n < 0) ok = false;
        if (n <= 0) break;
        got += std::size_t(n);
    }
    bytes.resize(got);
    return ok;
}

bool readRegularFile(const std::string& path, std::size_t maxSize, std::vector<uint8_t>& bytes) {
    bytes.clear();
    const int fd = openRegularFile(path);
    if (fd < 0) return false;
    struct _stat64 st;
    // One byte more than allowed shows a file that grew since the size was read.
    bool ok = _fstat64(fd, &st) == 0 && uint64_t(st.st_size) <= maxSize && readUpTo(fd, maxSize + 1, bytes) &&
              bytes.size() <= maxSize;
    _close(fd);
    if (!ok) bytes.clear();
    return ok;
}

bool readRegularFileStart(const std::string& path, std::size_t maxSize, std::vector<uint8_t>& bytes) {
    bytes.clear();
    const int fd = openRegularFile(path);
    if (fd < 0) return false;
    const bool ok = readUpTo(fd, maxSize, bytes);
    _close(fd);
    return ok;
}

// The volume and the file's index name one file, whatever the path.
static bool fileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    if (isReservedName(path)) return false;
    HANDLE h = CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    return ok;
}

bool sameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    return fileIdentity(a, x) && fileIdentity(b, y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    if (isReservedName(path)) {
        errno = EINVAL;
        return nullptr;
    }
    return _wfopen(wide(path).c_str(), wide(mode).c_str());
}

// ---- 4. processes and quit requests ---------------------------------------------------

long processId() { return long(GetCurrentProcessId()); }

bool processRunning(long pid) {
    if (pid <= 0) return false;
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!h) return GetLastError() == ERROR_ACCESS_DENIED;  // another user's
    const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return running;
}

// The status of a process ended by Ctrl+C, as the console shows it.
constexpr UINT EndedByControlC = 0xC000013A;

static void (*quitCallback)() = nullptr;
static void (*quitHandler)(int) = nullptr;
static std::atomic<int> quitRequests{0};

// The system calls this on a thread of its own for every console event.
static BOOL WINAPI onConsoleEvent(DWORD event) {
    if (quitRequests.fetch_add(1) > 0) endByQuitRequest(int(event));  // a second request ends it now
    quitCallback();
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // Closing the console, log-off, shut-down: the system ends the process
    // as soon as this returns, so it waits while the program saves its work
    // and ends itself (the system allows a few seconds).
    Sleep(INFINITE);
    return TRUE;
}

void watchQuitRequests(void (*onQuit)()) {
    quitCallback = onQuit;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

static BOOL WINAPI passConsoleEvent(DWORD event) {
    quitHandler(int(event));
    return TRUE;
}

void handleQuitRequests(void (*handler)(int)) {
    quitHandler = handler;
    SetConsoleCtrlHandler(passConsoleEvent, TRUE);
}

void endByQuitRequest(int) { ExitProcess(EndedByControlC); }

// Windows has no signal for either: a write simply fails.
void ignoreFileSizeLimit() {}
void ignoreClosedOutput() {}

// ---- 5. threads and standard output ------------------------------------------------

bool threadIsRealtime() { return GetThreadPriority(GetCurrentThread()) >= THREAD_PRIORITY_HIGHEST; }

void quietSoundSystem() {}  // DirectSound prints nothing of its own

void binaryStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }

bool isTerminal(int stream) { return _isatty(stream) != 0; }
