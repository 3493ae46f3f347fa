// The recovery copies that keep unsaved work through any end: the copy's
// bytes, writing and removing copies, start-up, the fall-back place, places
// that fail, taking over, foreign, damaged and waiting copies.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/file_commands.h"
#include "app/recovery.h"
#include "app/recovery_startup.h"
#include "song/bytes.h"
#include "song/recovery_copy.h"
#include "tests/support/child.h"
#include "tests/support/keys.h"
#include "tests/support/test_support.h"
#include "ui/draw.h"
#include "ui/palette.h"
#include "ui/status.h"

// ---- recovery -------------------------------------------------------------------------

namespace {

std::vector<std::string> copiesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const std::string& n : folderEntries(folder))
        if (n.size() > 9 && n.compare(n.size() - 9, 9, ".recovery") == 0) names.push_back(n);
    std::sort(names.begin(), names.end());
    return names;
}

RecoveryCopy readCopy(const std::string& path) {
    const Bytes bytes = readFile(path);
    RecoveryCopy copy;
    EXPECT_TRUE(decodeRecoveryCopy(bytes.data(), bytes.size(), copy)) << path;
    return copy;
}

// A song that is not the empty one: one note per channel, its own speed and theme.
Bytes someSong(int note) {
    Bytes image(SongImageSize);
    image[0] = 90, image[1] = 100, image[2] = 110, image[3] = uint8_t(2 + note % 10);
    for (int c = 0; c < ChannelCount; ++c) image[cellOffset(c, 0, c, 0)] = uint8_t(note + c);
    return image;
}

// The trailer of a version-1 copy, as editors before the file state wrote it.
Bytes versionOneTrailer(uint64_t writtenNs, const std::string& name, const std::string& folder) {
    Bytes t{'V', 'O', 'R', 'N', 'A', 'R', 'E', 'C', 1, 0, 0, 0};
    for (int i = 0; i < 8; ++i) t.push_back(uint8_t(writtenNs >> (8 * i)));
    for (const std::string* text : {&name, &folder}) {
        for (int i = 0; i < 4; ++i) t.push_back(uint8_t(text->size() >> (8 * i)));
        t.insert(t.end(), text->begin(), text->end());
    }
    return t;
}

// A copy as an ended editor leaves it: session "<pid>-<start>", no lock.
// Without a file state given, in the version-1 form.
void leaveCopy(const std::string& folder, const std::string& entry, const Bytes& image, const std::string& name,
               const std::string& belongsTo, uint64_t writtenNs, const FileState* file = nullptr) {
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1))
        mkdir(folder.substr(0, slash).c_str(), 0700);
    mkdir(folder.c_str(), 0700);
    Bytes bytes;
    if (file) {
        bytes = encodeRecoveryCopy(RecoveryCopy{image, name, belongsTo, writtenNs, *file});
    } else {
        bytes = encodeSongFile(image.data());
        const Bytes trailer = versionOneTrailer(writtenNs, name, belongsTo);
        bytes.insert(bytes.end(), trailer.begin(), trailer.end());
    }
    writeFile(folder + "/" + entry, bytes);
}

struct Recovery : ::testing::Test {
    ScratchDir scratch{"recovery"};
    const std::string state = scratch.dir + "/state";
    EnvSettings env{"XDG_STATE_HOME", state.c_str()};
    void SetUp() override {
        resetEngine();
        statusText.clear();
    }
    void TearDown() override { finishRecovery(); }
    std::string fallback() { return state + "/vornatracker/recovery"; }
    // The one copy in the folder (none or more fail the test).
    RecoveryCopy onlyCopy(const std::string& folder) {
        const std::vector<std::string> copies = copiesIn(folder);
        EXPECT_EQ(copies.size(), 1u) << folder;
        return copies.empty() ? RecoveryCopy{} : readCopy(folder + "/" + copies[0]);
    }
    // A tick `ms` after the last, then the writer's work finished.
    void tickAndFlush(uint32_t& now, uint32_t ms) {
        recoveryTick(now += ms);
        recoveryFlush();
    }
};

}  // namespace

TEST_F(Recovery, ACopyIsTheSongFileFollowedByItsFileStateNameAndFolder) {
    // A recovery copy is a complete song file, then "VORNAREC", version 2, the time written (64 bits),
    // the state of the song's file (known flag, size, seconds and nanoseconds modified, device,
    // inode), the name and the folder, each with its byte count; anything cut, added, too long or of
    // another version is refused; a version-1 copy (no file state) is still read.
    const Bytes image = someSong(40);
    FileState file;
    file.known = true, file.size = 300, file.modifiedSec = 0x11223344, file.modifiedNsec = 999999999;
    file.device = 0x0807, file.inode = 0x0A0000000009ull;
    const Bytes bytes = encodeRecoveryCopy(RecoveryCopy{image, "Tune", "/x", 0x0102030405060708ull, file});
    const Bytes songFile = encodeSongFile(image.data());
    ASSERT_GT(bytes.size(), songFile.size());
    EXPECT_TRUE(std::equal(songFile.begin(), songFile.end(), bytes.begin()));
    const Bytes trailer(bytes.begin() + long(songFile.size()), bytes.end());
    EXPECT_EQ(trailer, (Bytes{'V',  'O',  'R',  'N',  'A', 'R',  'E', 'C', 2, 0, 0, 0, 8,   7,
                              6,    5,    4,    3,    2,   1,    1,   0,   0, 0,  // the file state is known
                              0x2C, 1,    0,    0,    0,   0,    0,   0,          // 300 bytes
                              0x44, 0x33, 0x22, 0x11, 0,   0,    0,   0,          // seconds
                              0xFF, 0xC9, 0x9A, 0x3B,                             // 999999999 ns
                              7,    8,    0,    0,    0,   0,    0,   0,          // device
                              9,    0,    0,    0,    0,   0x0A, 0,   0,          // inode
                              4,    0,    0,    0,    'T', 'u',  'n', 'e', 2, 0, 0, 0, '/', 'x'}));
    RecoveryCopy back;
    ASSERT_TRUE(decodeRecoveryCopy(bytes.data(), bytes.size(), back));
    EXPECT_TRUE(back.image == image);
    EXPECT_EQ(back.name, "Tune");
    EXPECT_EQ(back.folder, "/x");
    EXPECT_EQ(back.writtenNs, 0x0102030405060708ull);
    EXPECT_TRUE(back.file == file);
    // The song part alone opens as a song file.
    EXPECT_TRUE(openSongBytes("part", bytes.data(), songFile.size()));

    for (std::size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_FALSE(decodeRecoveryCopy(bytes.data(), cut, back)) << "cut to " << cut;
    const std::pair<const char*, std::function<void(Bytes&)>> refused[] = {
        {"a byte added", [](Bytes& b) { b.push_back(0); }},
        {"version 3", [&](Bytes& b) { b[songFile.size() + 8] = 3; }},
        {"known flag 2", [&](Bytes& b) { b[songFile.size() + 20] = 2; }},
        {"a whole second of nanoseconds", [&](Bytes& b) { putLe32(&b[songFile.size() + 40], 1000000000); }},
        {"an unknown state with a size", [&](Bytes& b) { b[songFile.size() + 20] = 0; }},
    };
    for (const auto& r : refused) {
        Bytes changed = bytes;
        r.second(changed);
        EXPECT_FALSE(decodeRecoveryCopy(changed.data(), changed.size(), back)) << r.first;
    }
    const Bytes hugeName =
        encodeRecoveryCopy(RecoveryCopy{image, std::string(RecoveryNameMax + 1, 'a'), "/x", 1, FileState()});
    EXPECT_FALSE(decodeRecoveryCopy(hugeName.data(), hugeName.size(), back));

    Bytes old = songFile;
    const Bytes oldTrailer = versionOneTrailer(0x0102030405060708ull, "Tune", "/x");
    old.insert(old.end(), oldTrailer.begin(), oldTrailer.end());
    ASSERT_TRUE(decodeRecoveryCopy(old.data(), old.size(), back));
    EXPECT_TRUE(back.image == image);
    EXPECT_EQ(back.folder, "/x");
    EXPECT_FALSE(back.file.known);
}

TEST_F(Recovery, UnsavedChangesReachACopyAndASaveRemovesIt) {
    // A change reaches the copy (song, name, folder); after a burst of keys the copy holds the last one;
    // once the work is saved the copy goes; undoing back to the saved state counts as saved.
    ASSERT_TRUE(startRecovery());
    uint32_t now = 1000;
    editor.songName = "tune";
    changeSongWord(cellOffset(2, 0, 5, 0), 44);
    recoveryTick(now);
    const auto start = std::chrono::steady_clock::now();
    // Written by the writer thread on its own, without a flush (how soon is the window test's to check).
    while (copiesIn(RecoveryFolderName).empty() && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const RecoveryCopy copy = onlyCopy(RecoveryFolderName);
    EXPECT_TRUE(copy.image == currentImage());
    EXPECT_EQ(copy.name, "tune");
    EXPECT_EQ(copy.folder, scratch.dir);

    // Keys every 10 ms: a copy is taken at most every 150 ms, and the last change is in it after a flush.
    for (int i = 0; i < 30; ++i) {
        changeSongWord(cellOffset(3, 0, i, 0), 50 + i);
        recoveryTick(now += 10);
    }
    recoveryFlush();
    EXPECT_TRUE(onlyCopy(RecoveryFolderName).image == currentImage());

    ASSERT_TRUE(saveSongNamed("tune"));
    tickAndFlush(now, 200);
    EXPECT_TRUE(copiesIn(RecoveryFolderName).empty());
    changeSongWord(SpeedOffset, 9);
    tickAndFlush(now, 200);
    EXPECT_EQ(copiesIn(RecoveryFolderName).size(), 1u);
    ASSERT_TRUE(undoStep());  // back to what was saved
    tickAndFlush(now, 200);
    EXPECT_TRUE(copiesIn(RecoveryFolderName).empty());
}

TEST_F(Recovery, OpeningAnotherSongKeepsTheUnsavedWorkInItsCopy) {
    // F10 over unsaved changes asks nothing: their copy stays on disk beside the copy of the new work,
    // and undoing the load brings them back.
    ASSERT_TRUE(startRecovery());
    changeSongWord(cellOffset(0, 0, 0, 0), 39);
    recoveryTick(0);
    ASSERT_TRUE(saveSongNamed("other"));
    changeSongWord(cellOffset(0, 0, 1, 0), 40);  // unsaved again
    const Bytes work = currentImage();
    ASSERT_TRUE(openSongNamed("other"));  // at once, inside the 150 ms a tick would wait
    changeSongWord(cellOffset(5, 0, 0, 0), 60);
    recoveryFlush();
    std::vector<std::string> copies = copiesIn(RecoveryFolderName);
    ASSERT_EQ(copies.size(), 2u);
    std::vector<Bytes> held;
    for (const std::string& c : copies) held.push_back(readCopy(std::string(RecoveryFolderName) + "/" + c).image);
    EXPECT_TRUE(std::find(held.begin(), held.end(), work) != held.end());
    EXPECT_TRUE(std::find(held.begin(), held.end(), currentImage()) != held.end());
    ASSERT_TRUE(undoStep());
    ASSERT_TRUE(undoStep());
    EXPECT_TRUE(currentImage() == work);
}

TEST_F(Recovery, TheNextStartOpensTheNewestCopyOfItsOwnFolderAsAnUndoStep) {
    // Start-up opens the newest copy an ended session left for this folder (song, name, theme, message);
    // a running editor's copy, an older one and other folders' copies (in either place: a folder copied
    // with its .vorna-recovery brings the original's along) stay; Ctrl+Z gives the empty song;
    // a second start without changes opens the same work again.
    const std::string local = RecoveryFolderName;
    leaveCopy(local, "111-aa-3.recovery", someSong(30), "older", scratch.dir, 1000);
    leaveCopy(local, "222-bb-5.recovery", someSong(50), "newest", scratch.dir, 2000);
    leaveCopy(fallback(), "333-cc-1.recovery", someSong(70), "elsewhere", "/some/other/folder", 3000);
    leaveCopy(local, "555-ee-1.recovery", someSong(20), "copied along", "/some/other/folder", 5000);
    // A running editor: its lock (a hidden file) is held, here by this test.
    leaveCopy(local, "444-dd-2.recovery", someSong(90), "running", scratch.dir, 4000);
    const int lock = open((local + "/.444-dd.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);

    const Bytes empty = currentImage();
    ASSERT_TRUE(startRecovery());
    ASSERT_TRUE(recoverAtStart());
    EXPECT_TRUE(currentImage() == someSong(50));
    EXPECT_EQ(editor.songName, "newest");
    EXPECT_EQ(statusText, "RECOVERED UNSAVED WORK");
    EXPECT_EQ(palette[background], packColour(90, 100, 110));
    EXPECT_TRUE(songModified());
    std::vector<std::string> copies = copiesIn(local);
    ASSERT_EQ(copies.size(), 4u);  // the recovered one now under this session's name
    EXPECT_EQ(std::count(copies.begin(), copies.end(), "222-bb-5.recovery"), 0);
    EXPECT_EQ(std::count(copies.begin(), copies.end(), "444-dd-2.recovery"), 1);
    EXPECT_EQ(std::count(copies.begin(), copies.end(), "555-ee-1.recovery"), 1);
    EXPECT_EQ(copiesIn(fallback()).size(), 1u);

    ASSERT_TRUE(undoStep());
    EXPECT_TRUE(currentImage() == empty);
    EXPECT_EQ(editor.songName, "");
    EXPECT_FALSE(songModified());
    finishRecovery();
    EXPECT_EQ(copiesIn(local).size(), 4u);  // nothing was saved or dropped

    resetEngine();
    ASSERT_TRUE(startRecovery());
    ASSERT_TRUE(recoverAtStart());
    EXPECT_EQ(editor.songName, "newest");
    close(lock);
}

TEST_F(Recovery, CopiesNeverGoThroughALinkAndFallBackToTheStatePlaceOfTheirFolder) {
    // A recovery folder that is a symbolic link is never written through; the copies go to the
    // fall-back place, recording their folder, and only a start in that folder opens them.
    ASSERT_EQ(mkdir("victim", 0700), 0);
    ASSERT_EQ(symlink("victim", RecoveryFolderName), 0);
    ASSERT_TRUE(startRecovery());
    changeSongWord(cellOffset(1, 0, 0, 0), 45);
    recoveryTick(0);
    recoveryFlush();
    EXPECT_TRUE(folderEntries("victim").empty());
    EXPECT_EQ(onlyCopy(fallback()).folder, scratch.dir);
    finishRecovery();

    resetEngine();
    ASSERT_EQ(mkdir("sub", 0700), 0);
    ASSERT_EQ(chdir("sub"), 0);
    ASSERT_TRUE(startRecovery());
    EXPECT_FALSE(recoverAtStart());
    finishRecovery();
    ASSERT_EQ(chdir(".."), 0);
    ASSERT_TRUE(startRecovery());
    ASSERT_TRUE(recoverAtStart());
    EXPECT_EQ(readSongWord(cellOffset(1, 0, 0, 0)), 45);
}

TEST_F(Recovery, TheNewestTenCopiesOfEndedSessionsAreKept) {
    // Of the copies ended sessions left for one folder, start-up keeps the ten newest (one of them
    // recovered) and removes the older ones.
    for (int i = 0; i < 13; ++i)
        leaveCopy(RecoveryFolderName, std::to_string(100 + i) + "-aa-1.recovery", someSong(i + 1), "", scratch.dir,
                  uint64_t(1000 + i));
    ASSERT_TRUE(startRecovery());
    ASSERT_TRUE(recoverAtStart());
    EXPECT_TRUE(currentImage() == someSong(13));
    const std::vector<std::string> copies = copiesIn(RecoveryFolderName);
    EXPECT_EQ(copies.size(), 10u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::count(copies.begin(), copies.end(), std::to_string(100 + i) + "-aa-1.recovery"), 0) << i;
}

TEST_F(Recovery, AFailedCopyIsTriedAgainUntilOneIsKeptInThePreferredPlace) {
    // A failed copy (a file system without free inodes: not even the recovery folders can be made) is tried
    // again every few seconds and at the next change, in the working folder's place first; "UNSAVED WORK HAS
    // NO RECOVERY COPY" shows while no copy is current and goes when one is.
    const std::string fs = scratch.dir + "/fs";
    const std::string answer = inChild([&]() -> std::string {
        // A tmpfs of 64 inodes, in a mount namespace of the child's own (gone with it).
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("skip: no mount namespace of its own: ") + std::strerror(errno);
        if (mkdir(fs.c_str(), 0700) != 0 || mount("vorna", fs.c_str(), "tmpfs", 0, "size=4m,nr_inodes=64") != 0)
            return std::string("skip: cannot mount a small tmpfs: ") + std::strerror(errno);
        if (mkdir((fs + "/work").c_str(), 0700) != 0 || chdir((fs + "/work").c_str()) != 0) return "no work folder";
        setenv("XDG_STATE_HOME", (fs + "/state").c_str(), 1);
        int fillers = 0;  // files that take every free inode
        auto fill = [&] {
            for (int fd; (fd = open((fs + "/" + std::to_string(fillers)).c_str(), O_CREAT | O_WRONLY, 0600)) >= 0;
                 ++fillers)
                close(fd);
        };
        auto freeAll = [&] {
            for (; fillers > 0; --fillers) unlink((fs + "/" + std::to_string(fillers - 1)).c_str());
        };
        std::string out;
        uint32_t now = 1000;
        // What the user has after the next tick: the folder's copy, copies in the fall-back, the message.
        auto seen = [&](const char* when) {
            recoveryTick(now += 10);
            const std::vector<std::string> copies = copiesIn(RecoveryFolderName);
            const bool current =
                !copies.empty() &&
                readCopy(std::string(RecoveryFolderName) + "/" + copies.back()).image == currentImage();
            out += std::string(" | ") + when + ": copy " +
                   (copies.empty() ? "none"
                    : current      ? "current"
                                   : "old") +
                   ", " + std::to_string(copiesIn(fs + "/state/vornatracker/recovery").size()) + " elsewhere, " +
                   (statusTimer > 0 ? statusText : "no message");
        };
        const std::string said = stderrOf([&] {
            fill();
            startRecovery();
            changeSongWord(cellOffset(0, 0, 0, 0), 40);
            tickAndFlush(now, 10);
            seen("full");
            // Freed, and no further change: the writer tries again on its own.
            freeAll();
            const auto freed = std::chrono::steady_clock::now();
            while (copiesIn(RecoveryFolderName).empty() &&
                   std::chrono::steady_clock::now() - freed < std::chrono::seconds(10))
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            seen("freed");
            // Full again: the new state cannot reach the copy; freed, the next change does.
            fill();
            changeSongWord(cellOffset(0, 0, 1, 0), 41);
            tickAndFlush(now, 200);
            seen("full again");
            freeAll();
            changeSongWord(cellOffset(0, 0, 2, 0), 42);
            tickAndFlush(now, 200);
            seen("next change");
            finishRecovery();
        });
        if (said.find("No space left on device") == std::string::npos) out += " | standard error: " + said;
        return out;
    });
    if (answer.rfind("skip: ", 0) == 0) GTEST_SKIP() << answer.substr(6);
    EXPECT_EQ(answer,
              " | full: copy none, 0 elsewhere, UNSAVED WORK HAS NO RECOVERY COPY"
              " | freed: copy current, 0 elsewhere, no message"
              " | full again: copy old, 0 elsewhere, UNSAVED WORK HAS NO RECOVERY COPY"
              " | next change: copy current, 0 elsewhere, no message");
}

TEST_F(Recovery, AKillWhileACopyIsTakenOverLeavesItForTheNextStart) {
    // Taking over a copy at start-up never passes through a name that start-up clean-up removes: killed
    // right inside the take-over (the copy two minutes old, as a left-over temporary file would be),
    // the next start opens it.
    leaveCopy(RecoveryFolderName, "111-aa-1.recovery", someSong(60), "old", scratch.dir, 1000);
    const timespec old[2] = {{std::time(nullptr) - 120, 0}, {std::time(nullptr) - 120, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, ".vorna-recovery/111-aa-1.recovery", old, 0), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        startRecovery();
        recoveryAdoptHook = [] { raise(SIGKILL); };
        recoverAtStart();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the take-over never reached its hook";
    ASSERT_TRUE(startRecovery());
    ASSERT_TRUE(recoverAtStart());
    EXPECT_TRUE(currentImage() == someSong(60));
    EXPECT_EQ(editor.songName, "old");
}

TEST_F(Recovery, RemovingTheCopiesOfARunningEditorNeverLetsAnotherTakeItsWork) {
    // `rm .vorna-recovery/*` while an editor runs (its lock is hidden from it) or even every hidden file too
    // (the editor takes its lock again with its next copy): a second editor starting in the folder does not
    // take the first one's copy.
    for (const bool hiddenToo : {false, true}) {
        SCOPED_TRACE(hiddenToo ? "hidden files removed too" : "rm .vorna-recovery/*");
        const std::string sub = hiddenToo ? "second" : "first";
        ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
        ASSERT_EQ(chdir(sub.c_str()), 0);
        int ready[2], go[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(go), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            // The first editor: a copy, then (after the removal) another change and its copy; it runs on
            // until the test is done with it (its end of the pipe closed).
            close(ready[0]);
            close(go[1]);
            char byte = 1;
            startRecovery();
            changeSongWord(cellOffset(0, 0, 0, 0), 40);
            recoveryFlush();
            ssize_t unused = write(ready[1], &byte, 1);
            unused = read(go[0], &byte, 1);
            changeSongWord(cellOffset(0, 0, 1, 0), 41);
            recoveryFlush();
            unused = write(ready[1], &byte, 1);
            unused = read(go[0], &byte, 1);
            (void)unused;
            _exit(0);
        }
        close(ready[1]);
        close(go[0]);
        struct Ends {  // however the checks end, the first editor ends with them
            int go, ready;
            pid_t pid;
            ~Ends() {
                close(go);
                close(ready);
                waitpid(pid, nullptr, 0);
            }
        } ends{go[1], ready[0], pid};
        char byte = 1;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        for (const std::string& entry : folderEntries(RecoveryFolderName))
            if (entry[0] != '.' || hiddenToo) {
                ASSERT_EQ(unlink((std::string(RecoveryFolderName) + "/" + entry).c_str()), 0);
            }
        ASSERT_EQ(write(go[1], &byte, 1), 1);
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        ASSERT_EQ(copiesIn(RecoveryFolderName).size(), 1u);
        resetEngine();
        ASSERT_TRUE(startRecovery());
        EXPECT_FALSE(recoverAtStart());
        EXPECT_EQ(editor.songName, "");
        EXPECT_EQ(copiesIn(RecoveryFolderName).size(), 1u);
        finishRecovery();
        ASSERT_EQ(chdir(".."), 0);
    }
}

TEST_F(Recovery, DamagedCopiesAreReportedOnceAndSetAsideNeverRemoved) {
    // A damaged copy (not a copy at all, cut short, a folder) in either place is said once on standard error
    // and set aside as NAME.damaged (never over an earlier one); the next start says nothing of it, and
    // nothing of it is ever removed.
    const std::string local = RecoveryFolderName;
    leaveCopy(local, "100-aa-1.recovery", someSong(30), "fine", scratch.dir, 1000);
    writeFile(local + "/111-aa-1.recovery", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'c', 'o', 'p', 'y'});
    writeFile(local + "/111-aa-1.recovery.damaged", Bytes{'e', 'a', 'r', 'l', 'i', 'e', 'r'});
    Bytes cut = encodeRecoveryCopy(RecoveryCopy{someSong(40), "cut", scratch.dir, 2000, FileState{}});
    cut.resize(cut.size() - 3);
    writeFile(local + "/222-bb-1.recovery", cut);
    ASSERT_EQ(mkdir((local + "/333-cc-1.recovery").c_str(), 0700), 0);
    leaveCopy(fallback(), "444-dd-1.recovery", someSong(50), "", scratch.dir, 3000);
    writeFile(fallback() + "/444-dd-1.recovery", cut);  // the same, cut short

    // Each start: how many damaged copies it reported; every one set aside stays as it was.
    for (const int reported : {4, 0}) {
        resetEngine();
        const std::string said = stderrOf([] {
            startRecovery();
            recoverAtStart();
        });
        int n = 0;
        for (std::size_t at = said.find("is damaged"); at != std::string::npos; at = said.find("is damaged", at + 1))
            ++n;
        EXPECT_EQ(n, reported) << said;
        EXPECT_EQ(readText(local + "/111-aa-1.recovery.damaged"), "earlier");
        EXPECT_EQ(readText(local + "/111-aa-1.recovery.damaged-2"), "not a copy");
        EXPECT_EQ(readFile(local + "/222-bb-1.recovery.damaged"), cut);
        EXPECT_TRUE(fileExists(local + "/333-cc-1.recovery.damaged"));
        EXPECT_EQ(readFile(fallback() + "/444-dd-1.recovery.damaged"), cut);
        EXPECT_EQ(editor.songName, "fine");
        finishRecovery();
    }
}

TEST_F(Recovery, AStartWithASongSaysThatEarlierUnsavedWorkWaitsAndKeepsIt) {
    // A start with a song argument while recovery copies of unsaved work exist for this folder says so on
    // the message line ("EARLIER UNSAVED WORK IS KEPT: START WITHOUT A SONG TO RECOVER IT": at once after the
    // song opened, after the failure message when it did not) and on standard error, and keeps every copy.
    ASSERT_TRUE(saveSongNamed("tune"));
    resetEngine();
    for (int i = 0; i < 12; ++i)
        leaveCopy(RecoveryFolderName, std::to_string(100 + i) + "-aa-1.recovery", someSong(i + 1), "", scratch.dir,
                  uint64_t(1000 + i));
    leaveCopy(fallback(), "200-bb-1.recovery", someSong(20), "", scratch.dir, 5000);
    ASSERT_TRUE(startRecovery());
    int waiting = 0;
    const std::string said = stderrOf([&] { waiting = tellRecoveryWaiting(openSongNamed("tune")); });
    EXPECT_EQ(waiting, 13);
    EXPECT_EQ(statusText, "EARLIER UNSAVED WORK IS KEPT: START WITHOUT A SONG TO RECOVER IT");
    EXPECT_NE(said.find("kept in 13 recovery copies (newest " + fallback() + "/200-bb-1.recovery)"), std::string::npos)
        << said;
    EXPECT_EQ(copiesIn(RecoveryFolderName).size(), 12u);
    EXPECT_EQ(copiesIn(fallback()).size(), 1u);
    finishRecovery();

    resetEngine();
    ASSERT_TRUE(startRecovery());
    stderrOf([&] { waiting = tellRecoveryWaiting(openSongNamed("missing")); });
    EXPECT_EQ(waiting, 13);
    const std::string failed = statusText;
    EXPECT_NE(failed.find("COULDN'T BE LOADED"), std::string::npos);
    for (uint32_t t = 0; statusTimer > 0; t += 10) {
        recoveryTick(t);
        EXPECT_EQ(statusText, failed);
        --statusTimer;
    }
    recoveryTick(6000);
    EXPECT_EQ(statusText, "EARLIER UNSAVED WORK IS KEPT: START WITHOUT A SONG TO RECOVER IT");
    EXPECT_EQ(copiesIn(RecoveryFolderName).size(), 12u);
}

TEST_F(Recovery, AnOldCopyNeverReplacesANewerSaveOfItsFileUnasked) {
    // A copy remembers the state of the file its work was opened from. Killed with tune.vorna open,
    // then tune.vorna opened, edited and saved by a second start: the third start recovers the first
    // work, and F11 asks for a name ("FILE CHANGED ON DISK: SAVE AS") instead of replacing the
    // second save. A copy whose file is as it remembers saves back unasked; a version-1 copy
    // remembers nothing and asks while the file exists.
    DummyVideo video;
    mainLoop.screen = video.screen;
    buildTextTables();
    ASSERT_TRUE(saveSongNamed("tune"));
    resetEngine();

    ASSERT_TRUE(startRecovery());  // the first start
    ASSERT_TRUE(openSongNamed("tune"));
    const FileState opened = fileStateOf("tune.vorna");
    changeSongWord(cellOffset(0, 0, 0, 0), 50);
    uint32_t now = 0;
    tickAndFlush(now, 200);
    EXPECT_TRUE(onlyCopy(RecoveryFolderName).file == opened);
    finishRecovery();  // as a kill leaves it: the copy stays

    resetEngine();  // the second start, with the song named
    ASSERT_TRUE(openSongNamed("tune"));
    changeSongWord(cellOffset(1, 0, 0, 0), 60);
    ASSERT_TRUE(saveSongNamed("tune"));
    const Bytes second = readFile("tune.vorna");

    resetEngine();  // the third start
    ASSERT_TRUE(startRecovery());
    ASSERT_TRUE(recoverAtStart());
    EXPECT_EQ(editor.songName, "tune");
    EXPECT_EQ(readSongWord(cellOffset(0, 0, 0, 0)), 50);
    EXPECT_TRUE(pressAsks(SDLK_F11));
    EXPECT_EQ(statusText, "FILE CHANGED ON DISK: SAVE AS");
    EXPECT_EQ(readFile("tune.vorna"), second);
    finishRecovery();

    // The same copy while the file is still as opened, then as a version-1 copy.
    for (const bool remembered : {true, false}) {
        SCOPED_TRACE(remembered ? "file as remembered" : "version 1");
        resetEngine();
        for (const std::string& c : copiesIn(RecoveryFolderName))
            unlink((std::string(RecoveryFolderName) + "/" + c).c_str());
        const FileState onDisk = fileStateOf("tune.vorna");
        leaveCopy(RecoveryFolderName, "555-ee-1.recovery", someSong(20), "tune", scratch.dir, 5000,
                  remembered ? &onDisk : nullptr);
        ASSERT_TRUE(startRecovery());
        ASSERT_TRUE(recoverAtStart());
        const Bytes before = readFile("tune.vorna");
        EXPECT_EQ(pressAsks(SDLK_F11), !remembered);
        EXPECT_EQ(readFile("tune.vorna") == before, !remembered);
        finishRecovery();
    }
    mainLoop.screen = nullptr;
}
