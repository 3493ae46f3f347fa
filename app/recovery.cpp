// Recovery copies: the main thread's side.
//
//   1. taking copies, flushing, the missing-copy message
//   2. start and end of the session
//   3. start-up: the newest copy of an ended session opened, or its news told
//
// The copy's bytes are song/recovery_copy.cpp's, the places and locks
// app/recovery_places.cpp's, the writer thread app/recovery_writer.cpp's,
// finding and taking over copies at start-up app/recovery_startup.cpp's.
#include "app/recovery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/document.h"
#include "app/history.h"
#include "app/recovery_places.h"
#include "app/recovery_startup.h"
#include "app/recovery_writer.h"
#include "platform/platform.h"
#include "song/song.h"
#include "song/song_file.h"
#include "ui/status.h"

const char* const RecoveryFolderName = ".vorna-recovery";
const char* const NoCopyMessage = "UNSAVED WORK HAS NO RECOVERY COPY";
const char* const CopiesWaitingMessage = "EARLIER UNSAVED WORK IS KEPT: START WITHOUT A SONG TO RECOVER IT";

// The main thread's alone.
namespace {
bool started = false;
uint64_t copiedVersion = ~uint64_t(0);  // history version of the last copy taken
uint32_t copiedAt = 0;
bool copiedOnce = false;
bool noticeShown = false;  // NoCopyMessage was put on the message line
std::string noticeLater;   // shown once the message line is free
}  // namespace

// ---- 1. copies ------------------------------------------------------------------

// Hands the song as it is now to the writer: its copy, or the copy's removal
// once nothing in it is unsaved. A snapshot costs one pass over the cells.
static void takeCopy() {
    CopyJob job;
    job.work = historyWork();
    job.remove = !songModified();
    std::vector<uint8_t> image;
    if (!job.remove) {
        {
            std::lock_guard<std::mutex> lock(writer.mutex);
            if (!writer.spare.empty()) {
                image = std::move(writer.spare.back());
                writer.spare.pop_back();
            }
        }
        image.resize(SongImageSize);
        buildSongImage(image.data());
        job.image = std::move(image);
        job.name = editor.songName;
        job.file = knownFileState(editor.songName);
    }
    std::lock_guard<std::mutex> lock(writer.mutex);
    auto same =
        std::find_if(writer.jobs.begin(), writer.jobs.end(), [&](const CopyJob& j) { return j.work == job.work; });
    if (same != writer.jobs.end()) {
        if (!same->image.empty()) writer.spare.push_back(std::move(same->image));
        *same = std::move(job);
    } else {
        writer.jobs.push_back(std::move(job));
    }
    ++writer.posted;
    writer.wake.notify_one();
    copiedVersion = historyVersion();
}

// The message line while unsaved work has no copy: at once when it happens,
// held (not fading) while it lasts, back after any other message has had its
// time, and gone as soon as a copy is kept again.
static void showCopyMissing() {
    if (writer.copyMissing) {
        if (!noticeShown || statusTimer <= 0)
            showStatus(NoCopyMessage);
        else if (statusText == NoCopyMessage)
            statusTimer = 500;
        noticeShown = true;
    } else if (noticeShown) {
        if (statusText == NoCopyMessage) statusTimer = 0;
        noticeShown = false;
    }
    if (!noticeLater.empty() && statusTimer <= 0) {
        showStatus(noticeLater);
        noticeLater.clear();
    }
}

void recoveryTick(uint32_t nowMs) {
    if (!started) return;
    showCopyMissing();
    if (historyVersion() == copiedVersion) return;
    // Changes are gathered for a moment, so a burst of keys makes a few
    // copies, not one per key; a change still reaches a copy well within 0.5 s.
    if (copiedOnce && nowMs - copiedAt < RecoverySnapshotMs) return;
    copiedOnce = true;
    copiedAt = nowMs;
    takeCopy();
}

// The history's workEndsHook while the session runs: the copy of the work
// so far is taken now, before the song becomes another piece of work.
static void recoveryWorkEnds() {
    if (started && historyVersion() != copiedVersion) takeCopy();
}

void recoveryFlush() {
    if (!started) return;
    if (historyVersion() != copiedVersion) takeCopy();
    std::unique_lock<std::mutex> lock(writer.mutex);
    writer.syncAll = true;
    const uint64_t wanted = ++writer.posted;
    writer.wake.notify_one();
    writer.idle.wait(lock, [&] { return writer.finished >= wanted; });
}

bool unsavedWorkHasCopy() {
    if (!started) return !songModified();
    recoveryFlush();
    showCopyMissing();  // now, so that a message the caller shows next stays
    return !writer.copyMissing;
}

// ---- 2. start and end ------------------------------------------------------------

bool startRecovery() {
    if (started) return true;
    writer.folder = workingFolder();
    if (writer.folder.empty()) writer.folder = ".";
    const uint64_t startNs = uint64_t(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
    char id[64];
    std::snprintf(id, sizeof id, "%ld-%llx", processId(), static_cast<unsigned long long>(startNs));
    writer.session = id;
    writer.places[0] = CopyPlace{HeldFolder{(writer.folder == "/" ? "" : writer.folder) + "/" + RecoveryFolderName}};
    writer.places[1] = CopyPlace{HeldFolder{recoveryFallbackFolder()}};
    writer.lastSync = std::chrono::steady_clock::now();
    writer.stop = false;
    // Places that exist get this session's lock before anything of it can
    // appear there; the writer makes a missing place when it first needs it.
    std::string unused;
    for (CopyPlace& p : writer.places) openWithLock(p, false, unused);
    try {
        writer.thread = std::thread(writerLoop);
    } catch (const std::system_error&) {
        return false;
    }
    started = true;
    copiedVersion = historyVersion();  // the song at start holds nothing unsaved
    copiedOnce = false;
    workEndsHook = recoveryWorkEnds;
    return true;
}

void finishRecovery() {
    if (!started) return;
    recoveryFlush();
    {
        std::lock_guard<std::mutex> lock(writer.mutex);
        writer.stop = true;
        writer.wake.notify_one();
    }
    writer.thread.join();
    started = false;
    workEndsHook = nullptr;
    // The lock goes; the copies stay for the next start to find.
    for (CopyPlace& p : writer.places) {
        if (p.lock >= 0) removeEntry(p.dir, "." + writer.session + LockSuffix);
        closePlace(p);
    }
    writer.copies.clear();
    writer.unsynced.clear();
    writer.jobs.clear();
    writer.spare.clear();
    writer.failed.clear();
    writer.toldFallback = false;
    writer.copyMissing = false;
    noticeShown = false;
    noticeLater.clear();
}

// ---- 3. start-up -----------------------------------------------------------------

bool recoverAtStart() {
    if (!started) return false;
    for (const FoundCopy& f : findCopies(true)) {
        RecoveryCopy copy;
        if (!adoptCopy(f, copy)) continue;
        recordDocumentStep(StepKind::Recovery, copy.image, copy.name, false);
        // A save asks nothing only while the file is as this work last saw it.
        rememberFileState(copy.name, copy.file);
        // The copy is now the copy of this session's recovered work.
        keepAdopted(f, historyWork());
        copiedVersion = historyVersion();  // the copy on disk holds this state
        std::fprintf(stderr, "vornatracker: recovered unsaved work from %s/%s\n", writer.places[f.place].path().c_str(),
                     f.entry.c_str());
        showStatus("RECOVERED UNSAVED WORK");
        return true;
    }
    return false;
}

int tellRecoveryWaiting(bool now) {
    if (!started) return 0;
    const std::vector<FoundCopy> found = findCopies(false);
    if (found.empty()) return 0;
    std::fprintf(stderr,
                 "vornatracker: unsaved work of an earlier run is kept in %zu recovery cop%s (newest %s/%s); "
                 "a start without a song in this folder opens it\n",
                 found.size(), found.size() == 1 ? "y" : "ies", writer.places[found[0].place].path().c_str(),
                 found[0].entry.c_str());
    if (now || statusTimer <= 0)
        showStatus(CopiesWaitingMessage);
    else
        noticeLater = CopiesWaitingMessage;
    return int(found.size());
}
