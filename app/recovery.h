#pragma once
// Recovery copies: while the song holds changes not saved under a name, a
// complete copy of it (song file, its name, the folder it belongs to) is kept
// on disk, written by a thread of its own within half a second of a change.
// A copy is removed once its work is saved or undone back to its saved state;
// the copies a session leaves at its end, or at a kill or crash, are opened
// by the next start in the same working folder. A copy that cannot be
// written is tried again, in the preferred place first, until one is kept.
// The bytes of a copy are song/recovery_copy.h's.
#include <cstdint>
#include <string>

// Where the copies live: this folder inside the working folder, or the
// fall-back place under $XDG_STATE_HOME when that one cannot be written
// (recoveryFallbackFolder, app/recovery_places.h).
extern const char* const RecoveryFolderName;  // app/recovery.cpp: ".vorna-recovery"

// How soon a copy reaches the disk, how often a failed one is tried again
// (app/recovery_writer.h) and how many copies of ended sessions are kept
// (app/recovery_startup.h) are the writer's and the start-up's.
constexpr uint32_t RecoverySnapshotMs = 150;  // changes are gathered this long before a copy is taken

// On the message line while some unsaved work has no copy on disk (standard
// error says why): "UNSAVED WORK HAS NO RECOVERY COPY".
extern const char* const NoCopyMessage;  // app/recovery.cpp
// At a start with a song while copies of earlier unsaved work wait here.
extern const char* const CopiesWaitingMessage;  // app/recovery.cpp

// Starts the session: its lock (copies of a running editor are never taken
// by another) and the writer thread. False when the writer cannot run. From
// then on the copy of a piece of work is taken just before the song becomes
// another one (the history's workEndsHook).
bool startRecovery();
// At start-up: opens the newest copy of this working folder left by an
// ended session, as an undo step from the empty song, with a message.
// Returns whether it did.
bool recoverAtStart();
// At a start with a song named: when copies of unsaved work of ended sessions
// wait for this folder, says so on standard error and the message line (at
// once, or with `now` false once the message showing has had its time), and
// leaves them all. Returns how many wait.
int tellRecoveryWaiting(bool now);
// From each tick of the main loop: takes a copy when one is due, and keeps
// NoCopyMessage on the message line while a copy is missing.
void recoveryTick(uint32_t nowMs);
// Takes a copy of anything not yet copied and waits until every copy is on
// the disk (synced). Used at quit and by tests.
void recoveryFlush();
// Whether all unsaved work has its copy on disk, after a flush (which also
// tries again any copy that failed). Asked before quitting.
bool unsavedWorkHasCopy();
// At the end of the program: the last copy, then the writer stops and the
// session's lock is let go. The copies stay for the next start.
void finishRecovery();
