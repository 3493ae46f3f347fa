// The platform layer on Windows. Names arrive as UTF-8 and go to the system
// as UTF-16 (the "W" calls); errno carries the reason of a failure, as on
// POSIX, so messages read the same.
//
//   1. text: UTF-8 and UTF-16, errno from the system's error codes
//   2. paths and folders
//   3. files
//   4. processes and quit requests
//   5. threads and standard output
//   6. folders held open
//   7. keyboard
#include "platform/platform.h"

#include <windows.h>
#include <fcntl.h>
#include <shellapi.h>
#include <io.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

// The C library's descriptors take at most 2^31 bytes a call.
static unsigned chunk(std::size_t size) { return unsigned(size > (1u << 30) ? (1u << 30) : size); }

bool readFully(int fd, uint8_t* data, std::size_t size, std::size_t& got) {
    got = 0;
    while (got < size) {
        const int n = _read(fd, data + got, chunk(size - got));
        if (n < 0) return false;
        if (n == 0) break;  // the end of the file
        got += std::size_t(n);
    }
    return true;
}

bool writeFully(int fd, const uint8_t* data, std::size_t size) {
    std::size_t put = 0;
    while (put < size) {
        const int n = _write(fd, data + put, chunk(size - put));
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

static FileState stateOf(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info;
    FileState s;
    if (!GetFileInformationByHandle(h, &info)) return s;
    s.known = true;
    s.size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    // 100 ns ticks since 1601.
    const uint64_t ticks = uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
    s.modifiedSec = int64_t(ticks / 10000000);
    s.modifiedNsec = uint32_t(ticks % 10000000 * 100);
    s.device = info.dwVolumeSerialNumber;
    s.inode = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return s;
}

bool operator==(const FileState& a, const FileState& b) {
    return a.known == b.known && a.size == b.size && a.modifiedSec == b.modifiedSec &&
           a.modifiedNsec == b.modifiedNsec && a.device == b.device && a.inode == b.inode;
}

FileState fileStateOf(const std::string& path) {
    if (path.empty() || isReservedName(path)) return FileState();
    HANDLE h = CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return FileState();
    const FileState s = stateOf(h);
    CloseHandle(h);
    return s;
}

FileState fileStateOfOpen(std::FILE* file) {
    std::fflush(file);  // the size as written so far
    return stateOf(HANDLE(_get_osfhandle(_fileno(file))));
}

bool readRegularFile(const std::string& path, std::size_t maxSize, std::vector<uint8_t>& bytes, FileState* state) {
    bytes.clear();
    if (state) *state = FileState();
    const int fd = openRegularFile(path);
    if (fd < 0) return false;
    struct _stat64 st;
    bool ok = _fstat64(fd, &st) == 0 && uint64_t(st.st_size) <= maxSize;
    // Taken before the reading: a writer that comes in between shows as a change later.
    if (ok && state) *state = stateOf(HANDLE(_get_osfhandle(fd)));
    // One byte more than allowed shows a file that grew since the size was read.
    ok = ok && readUpTo(fd, maxSize + 1, bytes) && bytes.size() <= maxSize;
    _close(fd);
    if (!ok) bytes.clear();
    if (!ok && state) *state = FileState();
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

// ---- 4. processes and quit requests ---------------------------------------------------

long processId() { return long(GetCurrentProcessId()); }

// An empty value removes the variable on Windows.
void setEnvironment(const std::string& name, const char* value) { _putenv_s(name.c_str(), value ? value : ""); }

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

void forwardQuitRequest(int) {}  // the console tells the child itself

// One argument as the C run-time library reads it back: in quotes, with the
// backslashes before a quote doubled.
static std::wstring quoted(const std::wstring& arg) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

ChildEnd runChild(void (*)(), int (*)(void*), void*, const std::vector<std::string>& arguments, int& status) {
    wchar_t exe[32768];
    const DWORD n = GetModuleFileNameW(nullptr, exe, 32768);
    if (n == 0 || n >= 32768) return ChildEnd::NotStarted;
    std::wstring line = quoted(exe);
    for (const std::string& arg : arguments) line += L" " + quoted(wide(arg));
    STARTUPINFOW start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION child{};
    std::fflush(stdout);
    std::fflush(stderr);
    if (!CreateProcessW(exe, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &child)) {
        setErrnoFromSystem();
        return ChildEnd::NotStarted;
    }
    CloseHandle(child.hThread);
    DWORD code = 1;
    const bool waited = WaitForSingleObject(child.hProcess, INFINITE) == WAIT_OBJECT_0 &&
                        GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hProcess);
    if (!waited) return ChildEnd::Lost;
    if (code >= 0xC0000000u) return ChildEnd::Abnormal;  // an exception or Ctrl+C, not an exit
    status = int(code);
    return ChildEnd::Exited;
}

std::vector<std::string> programArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wideArgs = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wideArgs) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(narrow(wideArgs[i]));
    LocalFree(wideArgs);
    return args;
}

// Windows has no signal for either: a write simply fails.
void ignoreFileSizeLimit() {}
void ignoreClosedOutput() {}

// ---- 5. threads and standard output ------------------------------------------------

bool threadIsRealtime() { return GetThreadPriority(GetCurrentThread()) >= THREAD_PRIORITY_HIGHEST; }

void quietSoundSystem() {}  // DirectSound prints nothing of its own

void binaryStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }

bool isTerminal(int stream) { return _isatty(stream) != 0; }

// ---- 6. folders held open ---------------------------------------------------------
//
// The folder stays open (so it cannot be removed or renamed meanwhile) and
// its entries are reached by their paths in it; a link (a reparse point) is
// never followed. Locks are byte-range locks, which end with the process.

static std::wstring entryPath(const HeldFolder& folder, const std::string& name) {
    return wide(folder.path + "\\" + name);
}

static std::string failure(const char* what, const std::string& path) {
    return std::string("cannot ") + what + " " + path + ": " + std::strerror(errno);
}

bool holdPrivateFolder(HeldFolder& folder, bool create, std::string& problem) {
    const std::string& path = folder.path;
    std::string unmade;
    if (create) {
        // Every missing parent too, past the drive ("C:\\") or the server and share ("\\\\host\\share").
        std::size_t from = path.size() > 2 && path[1] == ':' ? 3 : 1;
        if (path.compare(0, 2, "\\\\") == 0) {
            const std::size_t server = path.find_first_of("/\\", 2);
            from = server == std::string::npos ? path.size() : path.find_first_of("/\\", server + 1);
            if (from == std::string::npos) from = path.size();
        }
        for (std::size_t slash = path.find_first_of("/\\", from);; slash = path.find_first_of("/\\", slash + 1)) {
            const std::string part = path.substr(0, slash);
            if (!CreateDirectoryW(wide(part).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
                unmade.empty()) {
                setErrnoFromSystem();
                unmade = failure("make folder", part);
            }
            if (slash == std::string::npos) break;
        }
    }
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        problem = "will not use " + path + ": a symbolic link";
        return false;
    }
    HANDLE h = CreateFileW(wide(path).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (h == INVALID_HANDLE_VALUE) {
            setErrnoFromSystem();
        } else {
            CloseHandle(h);
            errno = ENOTDIR;
        }
        problem = errno == ENOENT && !unmade.empty() ? unmade : failure("open folder", path);
        return false;
    }
    folder.handle = intptr_t(h);
    return true;
}

void releaseFolder(HeldFolder& folder) {
    if (folder.handle != -1) CloseHandle(HANDLE(folder.handle));
    folder.handle = -1;
}

// Held open without sharing deletion, the folder cannot go; still asked, as
// a network share may not keep that promise.
bool folderRemoved(const HeldFolder& folder) {
    return GetFileAttributesW(wide(folder.path).c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> entriesOf(const HeldFolder& folder) { return listFolder(folder.path); }

// Opens an entry that is a plain file, never a link; INVALID_HANDLE_VALUE
// (errno set, ELOOP for a link or a folder) when it is not.
static HANDLE openEntry(const HeldFolder& folder, const std::string& name, DWORD access, DWORD disposition) {
    const std::wstring path = entryPath(folder, name);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        errno = ELOOP;
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) setErrnoFromSystem();
    return h;
}

EntryRead readEntry(const HeldFolder& folder, const std::string& name, std::size_t maxSize,
                    std::vector<uint8_t>& bytes) {
    if (isReservedName(name)) return EntryRead::Strange;
    HANDLE h = openEntry(folder, name, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return errno == ELOOP ? EntryRead::Strange : EntryRead::Failed;
    LARGE_INTEGER size;
    EntryRead result = GetFileSizeEx(h, &size) ? EntryRead::Ok : EntryRead::Failed;
    if (result == EntryRead::Ok && uint64_t(size.QuadPart) > maxSize) result = EntryRead::Strange;
    if (result == EntryRead::Ok) {
        bytes.resize(std::size_t(size.QuadPart));
        std::size_t got = 0;
        while (got < bytes.size()) {
            DWORD n = 0;
            if (!ReadFile(h, bytes.data() + got, DWORD(bytes.size() - got), &n, nullptr) || n == 0) break;
            got += n;
        }
        if (got != bytes.size()) result = EntryRead::Failed;
    }
    CloseHandle(h);
    return result;
}

bool writeEntry(const HeldFolder& folder, const std::string& name, const std::vector<uint8_t>& bytes, bool sync,
                const char*& step) {
    DeleteFileW(entryPath(folder, name).c_str());
    step = "create";
    HANDLE h = openEntry(folder, name, GENERIC_WRITE, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) return false;
    step = "write";
    std::size_t put = 0;
    bool ok = true;
    while (ok && put < bytes.size()) {
        DWORD n = 0;
        ok = WriteFile(h, bytes.data() + put, DWORD(bytes.size() - put), &n, nullptr) && n > 0;
        put += n;
    }
    if (!ok) setErrnoFromSystem();
    if (ok && sync && !FlushFileBuffers(h)) {
        setErrnoFromSystem();
        step = "sync";
        ok = false;
    }
    CloseHandle(h);
    return ok;
}

bool renameEntry(const HeldFolder& folder, const std::string& from, const std::string& to) {
    if (MoveFileExW(entryPath(folder, from).c_str(), entryPath(folder, to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    setErrnoFromSystem();
    return false;
}

bool renameEntryFresh(const HeldFolder& folder, const std::string& from, const std::string& to) {
    if (MoveFileExW(entryPath(folder, from).c_str(), entryPath(folder, to).c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    setErrnoFromSystem();
    return false;
}

bool removeEntry(const HeldFolder& folder, const std::string& name) {
    if (DeleteFileW(entryPath(folder, name).c_str())) return true;
    setErrnoFromSystem();
    return false;
}

bool entryExists(const HeldFolder& folder, const std::string& name) {
    return GetFileAttributesW(entryPath(folder, name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int64_t entryAgeSeconds(const HeldFolder& folder, const std::string& name) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(entryPath(folder, name).c_str(), GetFileExInfoStandard, &data)) return -1;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& t) { return int64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime; };
    return (ticks(now) - ticks(data.ftLastWriteTime)) / 10000000;  // 100 ns ticks
}

void syncEntry(const HeldFolder& folder, const std::string& name) {
    HANDLE h = openEntry(folder, name, GENERIC_WRITE, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return;
    FlushFileBuffers(h);
    CloseHandle(h);
}

// Renames are written through (MOVEFILE_WRITE_THROUGH): nothing is left to sync.
void syncFolder(const HeldFolder&) {}

intptr_t takeEntryLock(const HeldFolder& folder, const std::string& name, const std::string& temp,
                       std::string& problem) {
    DeleteFileW(entryPath(folder, temp).c_str());
    HANDLE h = openEntry(folder, temp, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) {
        problem = failure("create", folder.path + "/" + temp);
        return -1;
    }
    OVERLAPPED at{};
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) ||
        !MoveFileExW(entryPath(folder, temp).c_str(), entryPath(folder, name).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        setErrnoFromSystem();
        problem = failure("lock", folder.path + "/" + name);
        CloseHandle(h);
        DeleteFileW(entryPath(folder, temp).c_str());
        return -1;
    }
    return intptr_t(h);
}

bool entryLockHeld(const HeldFolder& folder, const std::string& name) {
    HANDLE h = openEntry(folder, name, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED at{};
    const bool free = LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
    const bool held = !free && GetLastError() == ERROR_LOCK_VIOLATION;
    if (free) UnlockFileEx(h, 0, 1, 0, &at);
    CloseHandle(h);
    return held;
}

bool entryIsLock(const HeldFolder& folder, const std::string& name, intptr_t lock) {
    BY_HANDLE_FILE_INFORMATION held, named;
    // Both in one folder, so on one volume: the file index alone tells them
    // apart. (Wine reports volume 0 for a handle whose file was renamed.)
    return lock != -1 && GetFileInformationByHandle(HANDLE(lock), &held) &&
           fileIdentity(folder.path + "/" + name, named) && held.nFileIndexHigh == named.nFileIndexHigh &&
           held.nFileIndexLow == named.nFileIndexLow;
}

void releaseLock(intptr_t lock) {
    if (lock != -1) CloseHandle(HANDLE(lock));
}

// ---- 7. keyboard ---------------------------------------------------------------------

// SDL's Windows driver reports the scan code byte of the key's message: the
// set-1 code, for the keys sent with an E0 prefix the byte after it.
uint8_t setOneScanCode(uint8_t windowScanCode) { return windowScanCode; }
