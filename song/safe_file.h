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

// Also the readers that never block (openRegularFile, readRegularFile, ...),
// sameFile and FileState, which callers of this file use beside it.
#include "platform/platform.h"

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
// is write-protected, or names a device the system reserves (CON, NUL, ...
// on Windows). Removes temporary files left by dead processes there.
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

// For programs without an event loop: a quit request removes the temporary
// files still open and ends the process as the request would; a file-size
// limit makes a write fail instead of ending the process.
void safeFileSignals();

// The prefix of every temporary file, followed by the process id and a dash.
extern const char* const SafeTempPrefix;  // song/safe_file.cpp: ".vorna-tmp-"
