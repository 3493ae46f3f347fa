// Start-up: the copies of ended sessions for this working folder, found and
// taken over.
//
//   1. finding: the copies of ended sessions, newest first; damaged ones set
//      aside; left-overs tidied
//   2. taking over: a rename into this session's names
#include "app/recovery_startup.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "app/recovery_places.h"
#include "app/recovery_writer.h"
#include "song/names.h"

void (*recoveryAdoptHook)() = nullptr;

// ---- 1. finding -------------------------------------------------------------------

// A damaged copy is said once and set aside under another name, never
// removed: the work in it may still be worth something to someone.
static void setAside(const HeldFolder& dir, const std::string& entry) {
    const std::string& path = dir.path;
    std::string aside = entry + ".damaged";
    for (int n = 2; !renameFresh(dir, entry, aside) && errno == EEXIST && n < 100; ++n)
        aside = entry + ".damaged-" + std::to_string(n);
    if (entryExists(dir, entry))
        std::fprintf(stderr, "vornatracker: recovery copy %s/%s is damaged; left as it is\n", path.c_str(),
                     entry.c_str());
    else
        std::fprintf(stderr, "vornatracker: recovery copy %s/%s is damaged; set aside as %s\n", path.c_str(),
                     entry.c_str(), aside.c_str());
}

// Looks through one place: the copies of ended sessions that belong to this
// working folder, newest first; copies of other folders stay as they are.
// With `tidy`, temporary files and locks of ended sessions go, and copies
// beyond the newest RecoveryCopiesKept.
static void gather(int placeIndex, bool tidy, std::vector<FoundCopy>& found) {
    const HeldFolder& dir = writer.places[placeIndex].dir;
    const std::string& path = dir.path;
    std::vector<FoundCopy> here;
    std::vector<std::string> stale;
    int foreign = 0;
    for (const std::string& entry : entriesOf(dir)) {
        const bool lock =
            endsWith(entry, LockSuffix) || endsWith(entry, (std::string(LockSuffix) + TempSuffix).c_str());
        if (entry[0] == '.' && !lock) continue;  // only locks are hidden
        const std::string owner = sessionOf(entry);
        if (owner.empty() || owner == writer.session || sessionRunning(dir, owner)) continue;
        if (lock || endsWith(entry, TempSuffix)) {
            // A lock is made under a temporary name just before it is locked:
            // only temporary files older than a minute are surely left over.
            if (endsWith(entry, LockSuffix) || entryAgeSeconds(dir, entry) > 60) stale.push_back(entry);
            continue;
        }
        if (!endsWith(entry, CopySuffix)) continue;
        std::vector<uint8_t> bytes;
        RecoveryCopy copy;
        const PlaceRead read = readInPlace(dir, entry, bytes);
        if (read == PlaceRead::Failed) {
            std::fprintf(stderr, "vornatracker: %s; left as it is\n", failure("read", path + "/" + entry).c_str());
            continue;
        }
        if (read == PlaceRead::Strange || !decodeRecoveryCopy(bytes.data(), bytes.size(), copy)) {
            setAside(dir, entry);
            continue;
        }
        // A place may hold copies of other folders (the fall-back place holds
        // every folder's, a copied folder brings the original's along).
        if (copy.folder != writer.folder) {
            ++foreign;
            continue;
        }
        here.push_back(FoundCopy{placeIndex, entry, copy.writtenNs});
    }
    if (foreign > 0 && placeIndex == 0)
        std::fprintf(stderr, "vornatracker: %d recovery cop%s in %s belong%s to another folder; left as %s\n", foreign,
                     foreign == 1 ? "y" : "ies", path.c_str(), foreign == 1 ? "s" : "",
                     foreign == 1 ? "it is" : "they are");
    std::sort(here.begin(), here.end(), [](const FoundCopy& a, const FoundCopy& b) {
        return a.writtenNs != b.writtenNs ? a.writtenNs > b.writtenNs : a.entry > b.entry;
    });
    if (tidy) {
        for (const std::string& entry : stale) removeEntry(dir, entry);
        for (std::size_t i = RecoveryCopiesKept; i < here.size(); ++i) removeEntry(dir, here[i].entry);
        if (here.size() > std::size_t(RecoveryCopiesKept)) here.resize(RecoveryCopiesKept);
    }
    found.insert(found.end(), here.begin(), here.end());
}

// The copies of ended sessions for this folder in both places, newest first.
// Only places this session holds its lock in: a copy renamed to one of its
// names must never look ended to another editor.
std::vector<FoundCopy> findCopies(bool tidy) {
    std::vector<FoundCopy> found;
    for (int i = 0; i < 2; ++i)
        if (writer.places[i].open()) gather(i, tidy, found);
    std::stable_sort(found.begin(), found.end(),
                     [](const FoundCopy& a, const FoundCopy& b) { return a.writtenNs > b.writtenNs; });
    return found;
}

// ---- 2. taking over ---------------------------------------------------------------

// Taken over by a rename into this session's names: if another editor
// starting now took it first, the rename fails and the next one is tried.
// Every name it passes through is a copy's, so a kill on the way leaves a
// copy the next start opens, never a temporary file.
static std::string adoptingName() { return writer.session + "-adopting" + CopySuffix; }

bool adoptCopy(const FoundCopy& f, RecoveryCopy& copy) {
    const HeldFolder& dir = writer.places[f.place].dir;
    const std::string adopting = adoptingName();
    if (!renameEntry(dir, f.entry, adopting)) return false;
    if (recoveryAdoptHook) recoveryAdoptHook();
    std::vector<uint8_t> bytes;
    if (readInPlace(dir, adopting, bytes) != PlaceRead::Ok || !decodeRecoveryCopy(bytes.data(), bytes.size(), copy)) {
        renameEntry(dir, adopting, f.entry);
        return false;
    }
    return true;
}

void keepAdopted(const FoundCopy& f, uint64_t work) {
    const HeldFolder& dir = writer.places[f.place].dir;
    const std::string adopting = adoptingName();
    if (renameEntry(dir, adopting, copyName(work))) {
        std::lock_guard<std::mutex> lock(writer.mutex);
        writer.adopted.emplace_back(work, f.place);
    } else {
        renameEntry(dir, adopting, f.entry);
    }
}
