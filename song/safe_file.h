#pragma once
// Files that are either the old version or the complete new one: everything is
// written to a temporary file beside the target, flushed to disk, and renamed
// over the target only when every write succeeded. The new file keeps what
// the old one had: its permission bits, its owner and group where the
// process may set them, and its place behind a symbolic link. A target that
// is no plain file, or that the user may not write, is refused untouched.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// What a file looked like when this program last read or wrote it: enough
// to tell that someone else has written it since (a save of another program
// makes a new inode or a new time; an edit in place a new time or size).
struct FileState {
    bool known = false;  // false: no file seen, nothing to compare
    uint64_t size = 0;
    int64_t modifiedSec = 0;
    uint32_t modifiedNsec = 0;
    uint64_t device = 0, inode = 0;
};
bool operator==(const FileState& a, const FileState& b);
// The state of the file at path now (links followed); unknown when it is missing.
FileState fileStateOf(const std::string& path);

struct SafeFile {
    std::FILE* file = nullptr;
    std::string tempPath;
    std::string target;   // the file replaced: behind any symbolic links
    bool failed = false;  // a write failed; commit will refuse
    std::string why;      // after a refusal or failure: the reason, in lower-case words
    FileState written;    // after a commit: the state of the new file
};

// Creates the temporary file; false (and nothing on disk) when it cannot, or
// when the target exists and is a folder, a FIFO, a device or a socket, or
// is write-protected. Removes temporary files left by dead processes there.
bool safeOpen(SafeFile& f, const std::string& target);
// Writes all bytes or marks the file failed.
bool safeWrite(SafeFile& f, const void* data, std::size_t size);
// Writes at an absolute offset (used to patch a header); marks failure.
bool safeWriteAt(SafeFile& f, long offset, const void* data, std::size_t size);
// Flushes, syncs, closes and renames over the target. On any failure removes
// the temporary file, leaves the target untouched and returns false.
bool safeCommit(SafeFile& f);
// Throws the temporary file away.
void safeAbandon(SafeFile& f);

// The signals that ask a program to quit. One that was ignored when the
// program started (nohup, a background job) is left ignored.
extern const int QuitSignals[3];  // song/safe_file.cpp: SIGINT, SIGTERM, SIGHUP
bool signalIgnoredAtStart(int sig);
// Installs handler for each quit signal not ignored at start.
void handleQuitSignals(void (*handler)(int));

// For programs without an event loop: SIGINT, SIGTERM and SIGHUP remove the
// temporary files still open and end the process as the signal would; a
// file-size limit makes a write fail instead of killing the process.
void safeFileSignals();

// The prefix of every temporary file, followed by the process id and a dash.
extern const char* const SafeTempPrefix;  // song/safe_file.cpp: ".vorna-tmp-"

// Opens path for reading without ever blocking: -1 with errno set unless it
// is a regular file (a FIFO, a device, a socket or a folder gives EINVAL or
// EISDIR). The descriptor is blocking again once returned.
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
// Both paths name one existing file (same device and inode, links followed).
bool sameFile(const std::string& a, const std::string& b);
