// The recovery writer thread.
//
//   1. places ready for a copy: open, still there, this session's lock held
//   2. one copy: written in the preferred place or the fall-back, removed, synced
//   3. the rounds: new jobs, failed copies tried again, the thread's loop
#include "app/recovery_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    if (p.lock >= 0) close(p.lock);
    if (p.dir >= 0) close(p.dir);
    p.lock = p.dir = -1;
}

bool openWithLock(CopyPlace& p, bool create, std::string& problem) {
    p.dir = openPlace(p.path, create, problem);
    if (p.dir >= 0) p.lock = takeLock(p.dir, p.path, writer.session, problem);
    if (p.dir >= 0 && p.lock < 0) closePlace(p);
    return p.dir >= 0;
}

// Place i, ready for a copy: open, still there, and holding this session's
// lock. A place that failed is tried again each time, a removed folder is
// made again and a removed lock taken again.
static bool readyPlace(int i, std::string& problem) {
    CopyPlace& p = writer.places[i];
    struct stat st, held;
    if (p.dir >= 0 && (fstat(p.dir, &st) != 0 || st.st_nlink == 0)) closePlace(p);  // the folder was removed
    if (p.dir < 0) return openWithLock(p, true, problem);
    const std::string lockName = "." + writer.session + LockSuffix;
    if (fstat(p.lock, &held) == 0 && fstatat(p.dir, lockName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        st.st_ino == held.st_ino && st.st_dev == held.st_dev)
        return true;
    const int lock = takeLock(p.dir, p.path, writer.session, problem);
    if (lock < 0) return false;
    close(p.lock);
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
    unlinkat(p.dir, temp.c_str(), 0);
    const int fd = openat(p.dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        problem = failure("create", p.path + "/" + temp);
        return false;
    }
    bool ok = writeFully(fd, bytes.data(), bytes.size());
    if (!ok) problem = failure("write", p.path + "/" + temp);
    if (ok && sync && fsync(fd) != 0) {
        problem = failure("sync", p.path + "/" + temp);
        ok = false;
    }
    if (close(fd) != 0 && ok) {
        problem = failure("write", p.path + "/" + temp);
        ok = false;
    }
    if (ok && renameat(p.dir, temp.c_str(), p.dir, copyName(work).c_str()) != 0) {
        problem = failure("rename", p.path + "/" + temp);
        ok = false;
    }
    if (!ok) unlinkat(p.dir, temp.c_str(), 0);
    return ok;
}

static void removeCopy(uint64_t work) {
    auto c = std::find_if(writer.copies.begin(), writer.copies.end(), [&](const auto& x) { return x.first == work; });
    if (c == writer.copies.end()) return;
    const CopyPlace& p = writer.places[c->second];
    if (p.dir >= 0) unlinkat(p.dir, copyName(work).c_str(), 0);
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
                     writer.places[0].path.c_str(), why[0].c_str(), writer.places[1].path.c_str());
    writer.toldFallback = writer.toldFallback || in == 1;
    // An older copy of the same work in the other place is out of date.
    int* at = copyPlace(job.work);
    if (at && *at != in && writer.places[*at].dir >= 0) unlinkat(writer.places[*at].dir, copyName(job.work).c_str(), 0);
    if (at)
        *at = in;
    else
        writer.copies.emplace_back(job.work, in);
    if (sync) {
        fsync(writer.places[in].dir);  // the rename itself
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
        if (!at || writer.places[*at].dir < 0) continue;
        const int fd = openat(writer.places[*at].dir, copyName(work).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            fsync(fd);
            close(fd);
        }
    }
    for (const CopyPlace& p : writer.places)
        if (p.dir >= 0) fsync(p.dir);
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
            where = writer.places[*copyPlace(job.work)].path;
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
