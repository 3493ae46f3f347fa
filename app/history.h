#pragma once
// Undo and redo. Every change to what a song file stores is recorded as a
// step: one key's field changes (offset in the song image, old and new
// value) with the cursor and the marked block as they were; a load or a recovery keeps the
// whole document before and after it, packed. Steps live in bounded memory;
// the oldest are forgotten first.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a step did, for the message line.
enum class StepKind : uint8_t {
    Edit,
    Note,
    Volume,
    Effect,
    Parameter,
    Delete,
    Paste,
    Order,
    Speed,
    Theme,
    Load,
    Recovery,
    Cut,
    Transpose,
    Interpolate,
    InsertRow,
    RemoveRow,
};
const char* stepName(StepKind kind);  // "NOTE", "PASTE", ... in the message line's capitals

// The memory the history may take; beyond it the oldest steps are dropped.
constexpr std::size_t HistoryBudgetBytes = std::size_t(32) << 20;

// Empties the history: the song as it is now is the saved state.
void resetHistory();

// One key's changes: opened before the key acts, closed after; a step
// without changes is not kept, and leaves the redo steps alone.
void beginStep(StepKind kind);
// Sets the song value at an image offset and records it (nothing when equal).
void changeSongWord(uint32_t offset, int32_t value);
void endStep();

// A whole new document: records the song, its name and the cursor as they
// are, then shows image under name, on order slot 0 (see app/document.h).
// `saved`: the new document is the content of a song file.
void recordDocumentStep(StepKind kind, const std::vector<uint8_t>& image, const std::string& name, bool saved);

// Takes back / brings back one step; false when there is none. The cursor
// goes where the change happened, but the play position stays while playing.
bool undoStep(StepKind* kind = nullptr);
bool redoStep(StepKind* kind = nullptr);

// The song differs from the last state that was saved or loaded.
bool songModified();
// The song as it is now was saved under a name.
void markSaved();

// Counts every change of the song or of its saved state: a differing count
// means something to write to the recovery copy.
uint64_t historyVersion();
// The piece of work the song belongs to: a new one starts at each load or
// recovery and ends when it is undone. Each has its own recovery copy.
uint64_t historyWork();
// Called just before the song becomes another piece of work (a load, a
// recovery, or undoing or redoing one), while historyWork() still names the
// work so far. The recovery copies set it when they start (app/recovery.cpp),
// so the history needs nothing of them.
extern void (*workEndsHook)();  // app/history.cpp

// Sizes, for tests and the benchmark.
std::size_t historySteps();     // steps kept, done and undone
std::size_t historyUndoable();  // steps that undo can still take back
std::size_t historyBytes();     // memory the kept steps account for
