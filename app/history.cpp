// Undo and redo.
//
//   1. storage: steps, field changes, documents, memory accounting
//   2. recording: ordinary steps, document steps, dropping redo and old steps
//   3. undo and redo, the cursor
//   4. saved state and the piece of work
#include "app/history.h"

#include <algorithm>
#include <deque>
#include <memory>

#include "app/document.h"
#include "song/song.h"
#include "song/song_file.h"
#include "ui/palette.h"

// ---- 1. storage ---------------------------------------------------------------

namespace {

// Where the cursor stood when a change was made, and the block marked then.
struct Place {
    int8_t channel;  // -1: the order list had the focus
    int8_t column;
    uint8_t pattern, row, slot;
    MarkedBlock block;
};

struct Change {
    uint32_t offset;  // image offset: theme, speed, order slot or cell field
    int32_t before, after;
};

// A load or recovery: both documents as packed song files, both names.
struct Document {
    std::vector<uint8_t> before, after;
    std::string beforeName, afterName;
};

struct Step {
    uint64_t id;       // never reused, so a saved state is known by it
    uint32_t changes;  // consecutive entries of `changes`
    StepKind kind;
    Place at;
    std::unique_ptr<Document> document;  // loads and recoveries only
};

std::deque<Step> steps;       // oldest first; [0, done) are applied
std::deque<Change> changes;   // the steps' field changes in the same order
std::size_t done = 0;         // steps applied
std::size_t changesDone = 0;  // changes of the applied steps
std::size_t bytes = 0;        // memory accounted for the kept steps
uint64_t nextId = 1;
uint64_t baseId = 0;    // the state before the oldest kept step
uint64_t baseWork = 0;  // the piece of work of that state
uint64_t work = 0;      // the piece of work of the current state
uint64_t version = 0;
std::vector<uint64_t> savedIds{0};  // states equal to a file written or read; the empty song counts

// An ordinary step being recorded.
bool open = false;
StepKind openKind = StepKind::Edit;
Place openAt{};
uint32_t openChanges = 0;

const char* const Names[] = {"EDIT",  "NOTE",      "VOLUME",      "EFFECT",     "PARAMETER", "DELETE",
                             "PASTE", "ORDER",     "SPEED",       "THEME",      "LOAD",      "RECOVERY",
                             "CUT",   "TRANSPOSE", "INTERPOLATE", "INSERT ROW", "REMOVE ROW"};
static_assert(sizeof Names / sizeof *Names == std::size_t(StepKind::RemoveRow) + 1, "a name for every kind");

std::size_t sizeOf(const Step& s) {
    std::size_t n = sizeof(Step) + s.changes * sizeof(Change);
    if (s.document)
        n += sizeof(Document) + s.document->before.capacity() + s.document->after.capacity() +
             s.document->beforeName.capacity() + s.document->afterName.capacity();
    return n;
}

}  // namespace

const char* stepName(StepKind kind) { return Names[int(kind)]; }

void (*workEndsHook)() = nullptr;

static void workEnds() {
    if (workEndsHook) workEndsHook();
}

static uint64_t positionId() { return done > 0 ? steps[done - 1].id : baseId; }

static Place here() {
    return Place{int8_t(editor.cursorChannel),
                 int8_t(editor.cursorColumn),
                 uint8_t(transport.currentPattern.load()),
                 uint8_t(transport.currentRow.load()),
                 uint8_t(transport.orderPos.load()),
                 editor.block};
}

void resetHistory() {
    steps.clear();
    changes.clear();
    done = changesDone = bytes = 0;
    baseId = nextId++;
    baseWork = work = baseId;
    savedIds.assign(1, baseId);
    open = false;
    ++version;
}

// ---- 2. recording ---------------------------------------------------------------

// A new change after an undo: the undone steps can no longer come back.
static void dropRedo() {
    if (done == steps.size()) return;
    for (std::size_t i = done; i < steps.size(); ++i) bytes -= sizeOf(steps[i]);
    steps.resize(done);
    changes.resize(changesDone);
    const uint64_t now = positionId();
    savedIds.erase(std::remove_if(savedIds.begin(), savedIds.end(), [&](uint64_t id) { return id > now; }),
                   savedIds.end());
}

// Past the budget the oldest steps go; the newest is always kept.
static void dropOldest() {
    while (bytes > HistoryBudgetBytes && steps.size() > 1 && done > 1) {
        Step& oldest = steps.front();
        bytes -= sizeOf(oldest);
        changes.erase(changes.begin(), changes.begin() + oldest.changes);
        changesDone -= oldest.changes;
        baseId = oldest.id;
        if (oldest.document) baseWork = oldest.id;
        steps.pop_front();
        --done;
    }
    savedIds.erase(std::remove_if(savedIds.begin(), savedIds.end(), [](uint64_t id) { return id < baseId; }),
                   savedIds.end());
}

static void push(Step step) {
    bytes += sizeOf(step);
    changesDone += step.changes;
    steps.push_back(std::move(step));
    ++done;
    ++version;
    dropOldest();
}

void beginStep(StepKind kind) {
    open = true;
    openKind = kind;
    openAt = here();
    openChanges = 0;
}

void changeSongWord(uint32_t offset, int32_t value) {
    const int32_t before = readSongWord(offset);
    if (before == value) return;  // a key that changes nothing records nothing
    const bool alone = !open;
    if (alone) beginStep(StepKind::Edit);
    if (openChanges == 0) dropRedo();
    changes.push_back(Change{offset, before, value});
    ++openChanges;
    writeSongWord(offset, value);
    if (alone) endStep();
}

void endStep() {
    if (!open) return;
    open = false;
    if (openChanges == 0) return;
    push(Step{nextId++, openChanges, openKind, openAt, nullptr});
}

void recordDocumentStep(StepKind kind, const std::vector<uint8_t>& image, const std::string& name, bool saved) {
    auto doc = std::make_unique<Document>();
    std::vector<uint8_t> now(SongImageSize);
    buildSongImage(now.data());
    doc->before = encodeSongFile(now.data());
    doc->after = encodeSongFile(image.data());
    doc->before.shrink_to_fit();
    doc->after.shrink_to_fit();
    doc->beforeName = editor.songName;
    doc->afterName = name;
    // The work so far keeps its recovery copy; the new document is a new piece of work.
    workEnds();
    dropRedo();
    const uint64_t id = nextId++;
    push(Step{id, 0, kind, here(), std::move(doc)});
    work = id;
    if (saved) savedIds.push_back(id);
    showDocument(image.data(), name);
    showFirstSlot();
}

// ---- 3. undo and redo -------------------------------------------------------------

static void unpackInto(const std::vector<uint8_t>& file, std::vector<uint8_t>& image) {
    // Packed by this program a moment ago: it always decodes.
    decodeSongFile(file.data(), file.size(), image);
}

// The cursor and the block go back to where the change was made; while the
// song plays the row, pattern and slot are the play position and stay.
static void moveCursorTo(const Place& at) {
    if (at.channel < 0 && editor.cursorChannel >= 0) editor.lastChannel = editor.cursorChannel;
    editor.cursorChannel = at.channel;
    editor.cursorColumn = at.column;
    editor.block = at.block;
    if (transport.playing) return;
    transport.currentPattern = at.pattern;
    transport.currentRow = at.row;
    transport.orderPos = at.slot;
}

// The piece of work of the state after step i (or before all kept steps).
static uint64_t workAt(std::size_t count) {
    for (std::size_t i = count; i > 0; --i)
        if (steps[i - 1].document) return steps[i - 1].id;
    return baseWork;
}

static void applyChanges(std::size_t first, std::size_t count, bool forward) {
    bool theme = false;
    for (std::size_t k = 0; k < count; ++k) {
        // Backwards when undoing, so a value changed twice in a step ends as it began.
        const Change& c = changes[forward ? first + k : first + count - 1 - k];
        writeSongWord(c.offset, forward ? c.after : c.before);
        theme |= c.offset < SpeedOffset;
    }
    if (theme) setPalette(song.themeRed, song.themeGreen, song.themeBlue);
}

bool undoStep(StepKind* kind) {
    if (done == 0) return false;
    Step& s = steps[done - 1];
    if (s.document) {
        workEnds();
        std::vector<uint8_t> image;
        unpackInto(s.document->before, image);
        showDocument(image.data(), s.document->beforeName);
        work = workAt(done - 1);
    } else {
        applyChanges(changesDone - s.changes, s.changes, false);
    }
    moveCursorTo(s.at);
    changesDone -= s.changes;
    --done;
    ++version;
    if (kind) *kind = s.kind;
    return true;
}

bool redoStep(StepKind* kind) {
    if (done == steps.size()) return false;
    Step& s = steps[done];
    if (s.document) {
        workEnds();
        std::vector<uint8_t> image;
        unpackInto(s.document->after, image);
        showDocument(image.data(), s.document->afterName);
        work = s.id;
        if (!transport.playing) showFirstSlot();
    } else {
        applyChanges(changesDone, s.changes, true);
        moveCursorTo(s.at);
    }
    changesDone += s.changes;
    ++done;
    ++version;
    if (kind) *kind = s.kind;
    return true;
}

// ---- 4. saved state and work -------------------------------------------------------

bool songModified() { return std::find(savedIds.begin(), savedIds.end(), positionId()) == savedIds.end(); }

void markSaved() {
    if (!songModified()) return;
    savedIds.push_back(positionId());
    ++version;
}

uint64_t historyVersion() { return version; }
uint64_t historyWork() { return work; }
std::size_t historySteps() { return steps.size(); }
std::size_t historyUndoable() { return done; }
std::size_t historyBytes() { return bytes; }
