#pragma once
// Files that are either the old version or the complete new one: everything is
// written to a temporary file beside the target, flushed to disk, and renamed
// over the target only when every write succeeded.
#include <cstddef>
#include <cstdio>
#include <string>

struct SafeFile {
    std::FILE* file = nullptr;
    std::string tempPath;
    std::string target;
    bool failed = false;  // a write failed; commit will refuse
};

// Creates the temporary file; false (and nothing on disk) when it cannot.
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
