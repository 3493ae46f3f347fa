#pragma once
// Start-up: the copies that ended sessions left for this working folder,
// found in the places this session holds its lock in, newest first, and
// taken over one at a time by renaming them into this session's names.
#include <cstdint>
#include <string>
#include <vector>

#include "song/recovery_copy.h"

constexpr int RecoveryCopiesKept = 10;  // copies of ended sessions kept per working folder

// A copy of an ended session: its place (0 the working folder's, 1 the
// fall-back), its entry there and when it was written.
struct FoundCopy {
    int place;
    std::string entry;
    uint64_t writtenNs;
};
// The copies of ended sessions for this folder in both places, newest first.
// With `tidy`, temporary files and locks of ended sessions go, and copies
// beyond the newest RecoveryCopiesKept.
std::vector<FoundCopy> findCopies(bool tidy);

// Takes over a found copy and reads it into `copy`. False when another
// editor took it first, or it cannot be read (it then keeps its name).
bool adoptCopy(const FoundCopy& f, RecoveryCopy& copy);
// The copy taken over becomes this session's copy of `work` (the writer
// keeps it from then on), or goes back under its old name.
void keepAdopted(const FoundCopy& f, uint64_t work);

// Called while a copy being taken over is between its two names; tests stop
// the process there.
extern void (*recoveryAdoptHook)();  // app/recovery_startup.cpp
