#pragma once
// The recovery writer thread and the state it shares with the main thread:
// the jobs the main thread posts (the newest state of each piece of work),
// the places the copies go to, the copies on disk, and those that could not
// be written and wait for another try.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"

#include "song/relaxed.h"
#include "song/safe_file.h"

constexpr uint32_t RecoverySyncMs = 4000;   // a copy reaches the disk at the latest this long after it is written
constexpr uint32_t RecoveryRetryMs = 2000;  // a copy that could not be written is tried again this often

// The newest state of one piece of work, to be written or removed.
struct CopyJob {
    uint64_t work = 0;
    bool remove = false;         // the work is saved: its copy goes
    std::vector<uint8_t> image;  // else the song to copy
    std::string name;
    FileState file;  // the state its file was opened or saved in
};

struct CopyPlace {
    HeldFolder dir;      // its path, and held open once first used
    intptr_t lock = -1;  // this session's lock there
    const std::string& path() const { return dir.path; }
    bool open() const { return dir.handle >= 0; }
};

struct CopyWriter {
    // Set by startRecovery before the thread starts; read by both threads after.
    std::string session;  // "<pid>-<start time>"
    std::string folder;   // the working folder

    std::mutex mutex;
    std::condition_variable wake, idle;
    std::vector<CopyJob> jobs;                      // newest per work; guarded by mutex
    std::vector<std::pair<uint64_t, int>> adopted;  // copies taken over at start-up, and their place; guarded by mutex
    std::vector<std::vector<uint8_t>> spare;        // image buffers to reuse; guarded by mutex
    uint64_t posted = 0, finished = 0;              // job batches; guarded by mutex
    bool syncAll = false;                           // a flush waits for the disk; guarded by mutex
    bool stop = false;                              // guarded by mutex
    std::thread thread;

    // Writer thread only, once started:
    CopyPlace places[2];  // the working folder's (preferred), then the fall-back
    bool toldFallback = false;
    std::vector<std::pair<uint64_t, int>> copies;  // works with a copy on disk, and its place
    std::vector<uint64_t> unsynced;                // copies written but not yet synced
    std::chrono::steady_clock::time_point unsyncedSince, lastSync;
    std::vector<CopyJob> failed;                     // the newest state of each work whose copy could not be written
    std::chrono::steady_clock::time_point failedAt;  // the last attempt that left one of them unwritten
    std::string problem;                             // why the last failed copy failed, in both places

    // Set by the writer while some unsaved work has no copy on disk; read by the main thread.
    Relaxed<bool> copyMissing{false};
};

// Never destroyed: a process ending by exit() somewhere else (a library's
// crash handler) must not run into a writer thread still joinable.
extern CopyWriter& writer;  // app/recovery_writer.cpp

// The name of this session's copy of a piece of work.
std::string copyName(uint64_t work);
// Closes a place and its lock.
void closePlace(CopyPlace& p);
// Opens a place and takes this session's lock in it; false leaves it closed.
bool openWithLock(CopyPlace& p, bool create, std::string& problem);
// The writer thread: sleeps until jobs come, a sync is due or a failed copy
// is to be tried again; returns once told to stop and no job is left.
void writerLoop();
