#pragma once
// What differs between the systems the programs run on, behind one set of
// routines: POSIX in platform/platform_posix.cpp, Windows in
// platform/platform_windows.cpp; the build compiles the one for its target.
// Paths are UTF-8 text throughout the program; on Windows they become UTF-16
// here, at the system's boundary, and only here. Failures leave errno set,
// so callers can say why with strerror.
//
//   1. paths and folders
//   2. files: what a path names, replacing, flushing, reading
//   3. processes and quit requests
//   4. threads and standard output
//   5. folders held open: entries, their reads, writes, renames and locks
//   6. keyboard
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// ---- 1. paths and folders -------------------------------------------------------

// The folder part of a path: "." for a bare name, "/" for one in the root.
std::string folderOf(const std::string& path);
// Follows symbolic links of the last component, so the file they point to
// is replaced in its own folder and the links stay links. A dangling link
// gives the path it names. False (errno set) for a loop or an unreadable link.
bool followLinks(std::string& path);
// A name the system keeps for a device in every folder (on Windows CON, PRN,
// AUX, NUL, COM1-9 and LPT1-9, with any extension): never to be opened.
bool isReservedName(const std::string& path);
// The names in a folder, without "." and ".."; empty when it cannot be read.
std::vector<std::string> listFolder(const std::string& folder);

std::string workingFolder();       // "" when it cannot be told
std::string programFolder();       // the folder of the running program; "" when it cannot be told
// The base of the user's settings: $XDG_CONFIG_HOME, else ~/.config (only
// absolute values count); %APPDATA% on Windows. "" when none is known.
std::string userSettingsFolder();
// The base of the user's kept state: $XDG_STATE_HOME, else ~/.local/state;
// %LOCALAPPDATA% on Windows. "" when none is known.
std::string userStateFolder();

// ---- 2. files ----------------------------------------------------------------------

enum class PathKind { Missing, File, Folder, Other };  // Other: a FIFO, a device, a socket
// What a path names, links followed; false (errno set) when that cannot be told.
bool pathKind(const std::string& path, PathKind& kind);
// Whether the user may replace an existing file: root may write anything,
// but a file without any write permission was protected on purpose.
bool mayReplace(const std::string& path);
// Makes and opens ("wb") a new file in folder, named prefix + the process id
// + "-" + a unique part. With `like` it takes that file's permissions (and
// owner and group, where the process may set them), else a new file's. Null
// (errno set) when it cannot.
std::FILE* createTempFile(const std::string& folder, const std::string& prefix, const std::string& like,
                          std::string& path);
// Everything written so far reaches the disk.
bool flushToDisk(std::FILE* file);
// Puts the file `from` in the place of `to` in one step, replacing it, and
// makes the change durable. False (errno set) leaves `to` as it was.
bool replaceFile(const std::string& from, const std::string& to);
// Removes a file. Safe in a signal handler: nothing allocated on POSIX.
bool removeFile(const char* path);

// What a file looked like when this program last read or wrote it: enough
// to tell that someone else has written it since (a save of another program
// makes a new file or a new time; an edit in place a new time or size).
struct FileState {
    bool known = false;  // false: no file seen, nothing to compare
    uint64_t size = 0;
    int64_t modifiedSec = 0;
    uint32_t modifiedNsec = 0;
    uint64_t device = 0, inode = 0;  // on Windows the volume and the file's index
};
bool operator==(const FileState& a, const FileState& b);
// The state of the file at path now (links followed); unknown when it is missing.
FileState fileStateOf(const std::string& path);
// The state of an open file, as written so far.
FileState fileStateOfOpen(std::FILE* file);

// Opens path for reading without ever blocking: -1 with errno set unless it
// is a regular file (a FIFO, a device, a socket or a folder gives EINVAL or
// EISDIR). Read and close it with the C library's read and close.
int openRegularFile(const std::string& path);
// The one loop for reading and writing whole buffers through a descriptor.
// readFully reads until `size` bytes are in, the file ends or a read fails
// (an interrupted read is taken again); `got` says how many came, and false
// means a read failed. writeFully writes all bytes (an interrupted write is
// taken again); false, with errno set, when a write fails or makes no progress.
bool readFully(int fd, uint8_t* data, std::size_t size, std::size_t& got);
bool writeFully(int fd, const uint8_t* data, std::size_t size);
// Reads a whole regular file of at most maxSize bytes; false when it is
// missing, not a regular file, larger, or unreadable. With `state`, the
// state of the file that was read.
bool readRegularFile(const std::string& path, std::size_t maxSize, std::vector<uint8_t>& bytes,
                     FileState* state = nullptr);
// Reads at most the first maxSize bytes of a regular file of any size.
bool readRegularFileStart(const std::string& path, std::size_t maxSize, std::vector<uint8_t>& bytes);
// Both paths name one existing file (links followed).
bool sameFile(const std::string& a, const std::string& b);

// ---- 3. processes and quit requests ---------------------------------------------------

long processId();
// Sets an environment variable of this process; a null value removes it.
void setEnvironment(const std::string& name, const char* value);
// Whether a process of that id exists (one of another user counts).
bool processRunning(long pid);

// The requests to quit: SIGINT, SIGTERM and SIGHUP, each unless it was
// ignored when the program started (nohup, a background job); on Windows
// Ctrl+C, Ctrl+Break, closing the console, log-off and shut-down.
//
// For a program with an event loop; to be called before any other thread
// starts. onQuit runs on a thread of its own at the first request (it may
// take locks and post events); a second request ends the process at once, as
// the request would have. A request that ends the session (closing the
// console, log-off, shut-down) waits for the program to end by itself.
void watchQuitRequests(void (*onQuit)());
// For programs without an event loop: handler runs at each request, inside a
// signal handler on POSIX (only async-signal-safe work), with the request.
void handleQuitRequests(void (*handler)(int request));
// Ends the process as the request would have ended it (from handleQuitRequests).
[[noreturn]] void endByQuitRequest(int request);
// The running child of runChild hears the request too (on Windows the
// console tells every process attached to it by itself).
void forwardQuitRequest(int request);

// How a child of runChild ended.
enum class ChildEnd { Exited, ClosedOutput, Abnormal, NotStarted, Lost };
// Runs one piece of work in a process of its own and waits for it; with
// Exited, `status` is its exit status. On POSIX the child is a fork: it calls
// prepare (quit requests are held back until then, so one always finds the
// child it must reach, and a parent killed outright takes the child along),
// then work, and exits with work's result. On Windows the child is this
// program started again with `arguments`, which must ask it for that work.
ChildEnd runChild(void (*prepare)(), int (*work)(void*), void* data, const std::vector<std::string>& arguments,
                  int& status);

// The command line as UTF-8 text (on Windows read again as UTF-16, so names
// in any script survive), argument 0 first.
std::vector<std::string> programArguments(int argc, char** argv);

// A file-size limit makes a write fail instead of ending the process.
void ignoreFileSizeLimit();
// A closed standard output makes a write fail instead of ending the process.
void ignoreClosedOutput();

// ---- 4. threads and standard output ------------------------------------------------

// Whether the calling thread runs under a real-time (time-critical) priority.
bool threadIsRealtime();
// Silences the system sound library's own diagnostics (ALSA's "cannot find
// card '0'", ...), which would bury the one line the program prints.
void quietSoundSystem();
// Standard output carries bytes as they are (no line-end translation).
void binaryStandardOutput();
// Whether a standard stream (1 output, 2 error) is a terminal.
bool isTerminal(int stream);

// ---- 5. folders held open ---------------------------------------------------------

// A folder held open for the files of a program of its own (the recovery
// copies). Its entries are named relative to it and never reached through a
// symbolic link. Failures leave errno set, as everywhere here.
struct HeldFolder {
    std::string path;
    intptr_t handle = -1;  // a descriptor on POSIX, a folder handle on Windows; -1 while not held
};
// Holds the folder at folder.path: one of this user's own that no other user
// may plant files in, never through a symbolic link. With `create`, makes it
// and its missing parents, for this user alone. `problem` says why not.
bool holdPrivateFolder(HeldFolder& folder, bool create, std::string& problem);
void releaseFolder(HeldFolder& folder);
// The held folder was removed meanwhile.
bool folderRemoved(const HeldFolder& folder);
std::vector<std::string> entriesOf(const HeldFolder& folder);

// How reading an entry went: read, not a plain file at all (a link, a folder,
// a device, larger than allowed), or a failing read.
enum class EntryRead { Ok, Strange, Failed };
EntryRead readEntry(const HeldFolder& folder, const std::string& name, std::size_t maxSize,
                    std::vector<uint8_t>& bytes);
// Writes a new entry, removing one of that name first; synced to the disk
// when asked. On failure `step` names what failed ("create", "write", "sync").
bool writeEntry(const HeldFolder& folder, const std::string& name, const std::vector<uint8_t>& bytes, bool sync,
                const char*& step);
// Renames an entry, replacing one of the new name.
bool renameEntry(const HeldFolder& folder, const std::string& from, const std::string& to);
// Renames an entry, never over one already there (errno EEXIST).
bool renameEntryFresh(const HeldFolder& folder, const std::string& from, const std::string& to);
bool removeEntry(const HeldFolder& folder, const std::string& name);
bool entryExists(const HeldFolder& folder, const std::string& name);
// Seconds since the entry was last written; -1 when that cannot be told.
int64_t entryAgeSeconds(const HeldFolder& folder, const std::string& name);
// An entry's bytes, and the folder's list of names, reach the disk.
void syncEntry(const HeldFolder& folder, const std::string& name);
void syncFolder(const HeldFolder& folder);

// Locks that last as long as the process that took them, however it ends.
// Takes one as entry `name`: made as `temp`, locked, then renamed into
// place, so no one ever sees it unlocked. -1 (problem said) when it cannot.
intptr_t takeEntryLock(const HeldFolder& folder, const std::string& name, const std::string& temp,
                       std::string& problem);
// Whether entry `name` is a lock some running process holds.
bool entryLockHeld(const HeldFolder& folder, const std::string& name);
// Whether entry `name` is still the lock taken as `lock`.
bool entryIsLock(const HeldFolder& folder, const std::string& name, intptr_t lock);
void releaseLock(intptr_t lock);

// ---- 6. keyboard ---------------------------------------------------------------------

// The PC set-1 scan code of the scan code SDL's window reports, whatever the
// keyboard layout; 0 for a key that has none. Under X11 that is the X
// keycode (the set-1 code plus 8 for the main block, codes of their own for
// the keys sent with an E0 prefix); on Windows the set-1 code itself.
uint8_t setOneScanCode(uint8_t windowScanCode);
