// The recovery writer thread.
//
//   1. places ready for a copy: open, still there, this session's lock held
//   2. one copy: written in the preferred place or the fall-back, removed, synced
//   3. the rounds: new jobs, failed copies tried again, the thread's loop
#include "app/recovery_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "app/recovery_places.h"
#include "song/recovery_copy.h"

CopyWriter& writer = *new CopyWriter;

// ---- 1. places ------------------------------------------------------------------

std::string copyName(uint64_t work) { return writer.session + "-" + std::to_string(work) + CopySuffix; }

static int* copyPlace(uint64_t work) {
    for (auto& c : writer.copies)
        if (c.first == work) return &c.second;
    return nullptr;
}

void closePlace(CopyPlace& p) {
    releaseLock(p.lock);
    releaseFolder(p.dir);
    p.lock = -1;
}

bool openWithLock(CopyPlace& p, bool create, std::string& problem) {
    if (openPlace(p.dir, create, problem)) p.lock = takeLock(p.dir, writer.session, problem);
    if (p.open() && p.lock < 0) closePlace(p);
    return p.open();
}

// Place i, ready for a copy: open, still there, and holding this session's
// lock. A place that failed is tried again each time, a removed folder is
// made again and a removed lock taken again.
static bool readyPlace(int i, std::string& problem) {
    CopyPlace& p = writer.places[i];
    if (p.open() && folderRemoved(p.dir)) closePlace(p);
    if (!p.open()) return openWithLock(p, true, problem);
    if (entryIsLock(p.dir, "." + writer.session + LockSuffix, p.lock)) return true;
    const intptr_t lock = takeLock(p.dir, writer.session, problem);
    if (lock < 0) return false;
    releaseLock(p.lock);
    p.lock = lock;
    return true;
}

// ---- 2. one copy -----------------------------------------------------------------

// Writes one copy into place i: a temporary file with the process id in
// its name, then a rename over the copy (never onto anything but a copy).
static bool writeIn(int i, const std::vector<uint8_t>& bytes, uint64_t work, bool sync, std::string& problem) {
    if (!readyPlace(i, problem)) return false;
    const CopyPlace& p = writer.places[i];
    const std::string temp = writer.session + "-" + std::to_string(work) + TempSuffix;
    const char* step = "write";
    bool ok = writeEntry(p.dir, temp, bytes, sync, step);
    if (!ok) problem = failure(step, p.path() + "/" + temp);
    if (ok && !renameEntry(p.dir, temp, copyName(work))) {
        problem = failure("rename", p.path() + "/" + temp);
        ok = false;
    }
    if (!ok) removeEntry(p.dir, temp);
    return ok;
}

static void removeCopy(uint64_t work) {
    auto c = std::find_if(writer.copies.begin(), writer.copies.end(), [&](const auto& x) { return x.first == work; });
    if (c == writer.copies.end()) return;
    const CopyPlace& p = writer.places[c->second];
    if (p.open()) removeEntry(p.dir, copyName(work));
    writer.copies.erase(c);
    writer.unsynced.erase(std::remove(writer.unsynced.begin(), writer.unsynced.end(), work), writer.unsynced.end());
}

// Writes a copy in the preferred place, else in the fall-back; false when
// neither took it (writer.problem says why).
static bool writeCopy(const CopyJob& job, bool sync) {
    RecoveryCopy copy;
    copy.image = job.image;
    copy.name = job.name;
    copy.file = job.file;
    copy.folder = writer.folder;
    copy.writtenNs = uint64_t(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
    const std::vector<uint8_t> bytes = encodeRecoveryCopy(copy);
    const auto now = std::chrono::steady_clock::now();
    // Synced now when the last sync is getting old; otherwise soon after.
    sync = sync || now - writer.lastSync >= std::chrono::milliseconds(RecoverySyncMs);
    std::string why[2];
    int in = 0;
    while (in < 2 && !writeIn(in, bytes, job.work, sync, why[in])) ++in;
    if (in == 2) {
        writer.problem = why[0] + "; " + why[1];
        return false;
    }
    if (in == 1 && !writer.toldFallback)
        std::fprintf(stderr, "vornatracker: cannot keep recovery copies in %s (%s); keeping them in %s\n",
                     writer.places[0].path().c_str(), why[0].c_str(), writer.places[1].path().c_str());
    writer.toldFallback = writer.toldFallback || in == 1;
    // An older copy of the same work in the other place is out of date.
    int* at = copyPlace(job.work);
    if (at && *at != in && writer.places[*at].open()) removeEntry(writer.places[*at].dir, copyName(job.work));
    if (at)
        *at = in;
    else
        writer.copies.emplace_back(job.work, in);
    if (sync) {
        syncFolder(writer.places[in].dir);  // the rename itself
        writer.lastSync = now;
        writer.unsynced.erase(std::remove(writer.unsynced.begin(), writer.unsynced.end(), job.work),
                              writer.unsynced.end());
    } else if (std::find(writer.unsynced.begin(), writer.unsynced.end(), job.work) == writer.unsynced.end()) {
        if (writer.unsynced.empty()) writer.unsyncedSince = now;
        writer.unsynced.push_back(job.work);
    }
    return true;
}

// Copies written without a sync reach the disk here.
static void syncPending() {
    for (uint64_t work : writer.unsynced) {
        int* at = copyPlace(work);
        if (at && writer.places[*at].open()) syncEntry(writer.places[*at].dir, copyName(work));
    }
    for (const CopyPlace& p : writer.places)
        if (p.open()) syncFolder(p.dir);
    writer.unsynced.clear();
    writer.lastSync = std::chrono::steady_clock::now();
}

// ---- 3. rounds -------------------------------------------------------------------

// One round of copies: the batch of new jobs, and the copies that failed
// before, tried again with any new job, at a flush and every RecoveryRetryMs.
// Standard error hears when copies stop being kept, and when they are again.
static void writeRound(std::vector<CopyJob>& batch, bool syncAll) {
    const auto now = std::chrono::steady_clock::now();
    const bool hadFailed = !writer.failed.empty();
    // A failed state that a newer job of its work replaces is not tried again.
    auto replaced = [&](const CopyJob& f) {
        return std::any_of(batch.begin(), batch.end(), [&](const CopyJob& j) { return j.work == f.work; });
    };
    writer.failed.erase(std::remove_if(writer.failed.begin(), writer.failed.end(), replaced), writer.failed.end());
    const bool attempt =
        !batch.empty() || syncAll || now >= writer.failedAt + std::chrono::milliseconds(RecoveryRetryMs);
    std::vector<CopyJob> tries;
    if (attempt) tries.swap(writer.failed);
    for (CopyJob& job : batch) {
        if (job.remove)
            removeCopy(job.work);
        else
            tries.push_back(std::move(job));
    }
    std::string where;
    for (CopyJob& job : tries) {
        if (!writeCopy(job, syncAll)) {
            writer.failed.push_back(std::move(job));
        } else {
            where = writer.places[*copyPlace(job.work)].path();
            if (!job.image.empty()) batch.push_back(std::move(job));  // its buffer goes back to the spares
        }
    }
    if (!tries.empty() && !writer.failed.empty()) writer.failedAt = now;
    if (!hadFailed && !writer.failed.empty())
        std::fprintf(stderr, "vornatracker: unsaved work has no recovery copy (%s); trying again every %u s\n",
                     writer.problem.c_str(), unsigned(RecoveryRetryMs / 1000));
    if (hadFailed && writer.failed.empty() && !where.empty())
        std::fprintf(stderr, "vornatracker: recovery copies are kept again, in %s\n", where.c_str());
    writer.copyMissing = !writer.failed.empty();
}

void writerLoop() {
    std::unique_lock<std::mutex> lock(writer.mutex);
    for (;;) {
        if (writer.jobs.empty() && !writer.stop && !writer.syncAll) {
            // Asleep until a job comes, copies are due for the disk, or a failed copy for another try.
            auto due = std::chrono::steady_clock::time_point::max();
            if (!writer.unsynced.empty()) due = writer.unsyncedSince + std::chrono::milliseconds(RecoverySyncMs);
            if (!writer.failed.empty())
                due = std::min(due, writer.failedAt + std::chrono::milliseconds(RecoveryRetryMs));
            if (due == std::chrono::steady_clock::time_point::max())
                writer.wake.wait(lock);
            else
                writer.wake.wait_until(lock, due);
        }
        std::vector<CopyJob> batch;
        batch.swap(writer.jobs);
        for (const auto& a : writer.adopted) writer.copies.push_back(a);
        writer.adopted.clear();
        const bool syncAll = writer.syncAll;
        writer.syncAll = false;
        const uint64_t batchNumber = writer.posted;
        const bool stop = writer.stop;
        lock.unlock();

        writeRound(batch, syncAll);
        // Due once the oldest copy not yet synced has waited RecoverySyncMs.
        if (!writer.unsynced.empty() &&
            (syncAll ||
             std::chrono::steady_clock::now() >= writer.unsyncedSince + std::chrono::milliseconds(RecoverySyncMs)))
            syncPending();

        lock.lock();
        for (CopyJob& job : batch)
            if (!job.image.empty()) writer.spare.push_back(std::move(job.image));
        writer.finished = batchNumber;
        writer.idle.notify_all();
        if (stop && writer.jobs.empty()) return;
    }
}
