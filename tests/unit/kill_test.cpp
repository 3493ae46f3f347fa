// Saves and exports that die or fail half-way, and the recovery copies that
// keep unsaved work through any end: a process killed at any moment leaves
// the old file or the complete new one under the target name; a full disk or
// a folder that cannot be written gives the failure message, never the
// success message, and no temporary file left behind; unsaved changes reach
// a recovery copy that the next start opens.
//
//   helpers       files, folders, a child whose answer comes back through a pipe
//   killed        SIGKILL at random moments of a save loop and an export loop
//   failures      full disk (file size limit), read-only folder, target is a folder
//   targets       permission bits, links, write-protected files, FIFOs and devices
//   recovery      the copy's bytes, writing and removing copies, start-up, the fall-back place,
//                 places that fail, taking over, foreign, damaged and waiting copies
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "song/bytes.h"
#include "song/recovery_copy.h"
#include "ui/draw.h"
#include "ui/palette.h"
#include "ui/status.h"
#include "app/file_commands.h"
#include "app/recovery.h"
#include "app/recovery_startup.h"
#include "tests/support/keys.h"
#include "tests/support/test_support.h"

namespace {

// ---- helpers ------------------------------------------------------------------

int strayTemporaries(const std::string& folder) {
    int n = 0;
    for (const std::string& name : folderEntries(folder))
        if (name.rfind(".vorna-tmp-", 0) == 0) ++n;
    return n;
}

// Runs work in a forked child and returns the text it hands back; the child
// never returns into the test framework.
std::string inChild(const std::function<std::string()>& work) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string answer = work();
        ssize_t unused = write(fds[1], answer.data(), answer.size());
        (void)unused;
        _exit(0);
    }
    close(fds[1]);
    std::string answer;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) answer.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) answer += " [child did not exit cleanly]";
    return answer;
}

// The child becomes the user nobody, who may write no folder of root's.
bool dropToNobody() { return setgid(65534) == 0 && setuid(65534) == 0; }

// Song data that does not pack: every cell byte drawn at random, so a save
// writes about 131 KB and takes a few milliseconds with its sync.
Bytes noisyImage(uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes image(SongImageSize);
    for (uint8_t& b : image) b = uint8_t(rng());
    image[3] = 3;
    return image;
}

// Voices, gains and noise as at start-up, so two exports of a song are equal.
void quietVoices() {
    silenceVoices();
    for (int c = 0; c < ChannelCount; ++c) song.channels[c].gain = 1.0f;
    seedNoise(1);
}

// One pattern then the end marker at speed 1: 64000 frames, 128044 bytes.
void shortSong(int firstNote) {
    initSong();
    song.speed = 1;
    for (int c = 0; c < ChannelCount; ++c)
        for (int r = 0; r < RowsPerPattern; r += 8) cellAt(c, 0, r).note = firstNote + c + r;
}

constexpr size_t ShortWavSize = 44 + 2 * 64000;

struct Killed : ::testing::Test {
    ScratchDir scratch{"kill"};  // each test works in its own folder
    void SetUp() override {
        resetEngine();
        statusText.clear();
    }
};

double secondsOf(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Starts pass(0), pass(1), ... in a child, and once its first pass is done
// (so a loaded machine cannot make every kill land before any work), kills it
// after a random delay and waits for it; again and again, `kills` times and up
// to as many more until a kill landed inside a write (its temporary file left
// behind; the next pass removes it). Each time `target` must hold `a` or `b`,
// and `check` looks at what it holds.
struct Kills {
    int a = 0, b = 0, inside = 0;
};
Kills killRepeatedly(const char* target, const Bytes& a, const Bytes& b, int kills, double maxSeconds,
                     const std::function<void(int)>& pass, const std::function<void(const Bytes&)>& check) {
    std::mt19937 rng(kills);
    std::uniform_real_distribution<double> delay(0.0, maxSeconds);
    Kills seen;
    for (int i = 0; i < kills || (i < 2 * kills && seen.inside == 0); ++i) {
        SCOPED_TRACE(i);
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            close(ready[0]);
            pass(0);
            const char byte = 1;
            ssize_t unused = write(ready[1], &byte, 1);
            (void)unused;
            for (int n = 1;; ++n) pass(n);
        }
        close(ready[1]);
        char byte = 0;
        EXPECT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        std::this_thread::sleep_for(std::chrono::duration<double>(delay(rng)));
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        const Bytes now = readFile(target);
        if (now != a && now != b) {
            ADD_FAILURE() << target << " holds " << now.size() << " bytes";
            break;
        }
        (now == a ? seen.a : seen.b)++;
        seen.inside += strayTemporaries(".") > 0;
        check(now);
    }
    // The kills landed both between renames (both files were found on disk)
    // and inside writes.
    EXPECT_GT(seen.a, 0);
    EXPECT_GT(seen.b, 0);
    EXPECT_GT(seen.inside, 0);
    return seen;
}

}  // namespace

// ---- killed -----------------------------------------------------------------------

TEST_F(Killed, SaveKilledAnywhereLeavesOldOrNewSongFile) {
    // A save killed at any moment leaves the old song file or the complete new
    // one under the target name, and either loads as the song it was saved from.
    // The child saves the two songs in turn, so every rename replaces the other.
    const Bytes imageA = noisyImage(1), imageB = noisyImage(2);
    applySongImage(imageA.data());
    ASSERT_TRUE(saveSongNamed("a"));
    const Bytes fileA = readFile("a.vorna");
    applySongImage(imageB.data());
    const double saveTime = secondsOf([] { saveSongNamed("b"); });
    const Bytes fileB = readFile("b.vorna");
    ASSERT_NE(fileA, fileB);
    ASSERT_EQ(std::rename("a.vorna", "target.vorna"), 0);
    const Kills k = killRepeatedly(
        "target.vorna", fileA, fileB, 60, 4.0 * saveTime + 0.002,
        [&](int n) {
            applySongImage((n % 2 ? imageA : imageB).data());
            saveSongNamed("target");
        },
        [&](const Bytes& now) {
            ASSERT_TRUE(openSongBytes("target", now.data(), now.size()));
            ASSERT_TRUE(currentImage() == (now == fileA ? imageA : imageB));
        });
    std::printf("save kills: %d old, %d new, %d inside a save\n", k.a, k.b, k.inside);
    // The temporary files of the killed processes go with the next save into the folder.
    ASSERT_TRUE(saveSongNamed("after"));
    EXPECT_EQ(strayTemporaries("."), 0);
}

TEST_F(Killed, ExportKilledAnywhereLeavesOldOrNewWav) {
    // An export killed at any moment leaves the old WAV file or the complete new
    // one: its header sizes match its length and its samples are the render's.
    shortSong(30);
    quietVoices();
    ASSERT_TRUE(exportWavNamed("target.wav"));
    const Bytes oldWav = readFile("target.wav");
    shortSong(50);
    quietVoices();
    const double exportTime = secondsOf([] { exportWavNamed("new.wav"); });
    const Bytes newWav = readFile("new.wav");
    ASSERT_EQ(oldWav.size(), ShortWavSize);
    ASSERT_EQ(newWav.size(), ShortWavSize);
    ASSERT_NE(oldWav, newWav);
    // The child exports the new song, then the old one, then the new...
    const Kills k = killRepeatedly(
        "target.wav", oldWav, newWav, 40, 2.5 * exportTime + 0.002,
        [](int n) {
            shortSong(n % 2 ? 30 : 50);
            quietVoices();
            exportWavNamed("target.wav");
        },
        [](const Bytes& now) {
            // A consistent header: RIFF size and data size agree with the length.
            EXPECT_EQ(getLe32(now.data() + 4), now.size() - 8);
            EXPECT_EQ(getLe32(now.data() + 40), now.size() - 44);
        });
    std::printf("export kills: %d old, %d new, %d inside an export\n", k.a, k.b, k.inside);
}

// ---- failures -----------------------------------------------------------------------

TEST_F(Killed, FullDiskGivesFailureMessageAndKeepsOldFile) {
    // A disk that fills up during a save or an export gives the failure message,
    // keeps the earlier file as it was and leaves no temporary file behind.
    applySongImage(noisyImage(3).data());
    ASSERT_TRUE(saveSongNamed("song"));
    const Bytes oldSong = readFile("song.vorna");
    std::ofstream("take.wav") << "old take";

    const std::string answer = inChild([] {
        // Writes past 16 KB fail with EFBIG instead of killing the process.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16384, 16384};
        setrlimit(RLIMIT_FSIZE, &limit);
        applySongImage(noisyImage(4).data());
        std::string out = saveSongNamed("song") ? "saved" : "refused";
        out += "|" + statusText;
        shortSong(40);
        out += exportWavNamed("take.wav") ? "|exported" : "|refused";
        out += "|" + statusText;
        return out;
    });
    EXPECT_EQ(answer, "refused|FILE \"SONG\" COULDN'T BE SAVED|refused|COULDN'T EXPORT \"TAKE.WAV\"");
    EXPECT_EQ(readFile("song.vorna"), oldSong);
    const Bytes take = readFile("take.wav");
    EXPECT_EQ(std::string(take.begin(), take.end()), "old take");
    EXPECT_EQ(strayTemporaries("."), 0);
}

TEST_F(Killed, ReadOnlyFolderGivesFailureMessage) {
    // A folder the user may not write to gives the failure message for a save
    // and an export, and the file already there stays as it was; a file the
    // user may not read is not loaded.

    // Root's folder, open to all for reading only; the child runs as nobody.
    ASSERT_EQ(chmod(scratch.dir.c_str(), 0755), 0);
    ASSERT_EQ(mkdir("locked", 0755), 0);
    ASSERT_TRUE(saveSongNamed("locked/song"));
    const Bytes oldSong = readFile("locked/song.vorna");
    ASSERT_TRUE(saveSongNamed("locked/private"));
    ASSERT_EQ(chmod("locked/private.vorna", 0600), 0);

    const std::string answer = inChild([] {
        if (!dropToNobody()) return std::string("could not drop to nobody");
        if (access("locked", W_OK) == 0) return std::string("folder still writable");
        song.speed = 9;
        std::string out = saveSongNamed("locked/song") ? "saved" : "refused";
        out += "|" + statusText;
        shortSong(40);
        out += exportWavNamed("locked/take.wav") ? "|exported" : "|refused";
        out += "|" + statusText;
        // A song file the user may not read is refused like a damaged one.
        out += openSongNamed("locked/private") ? "|loaded" : "|refused";
        return out;
    });
    EXPECT_EQ(answer, "refused|FILE \"LOCKED/SONG\" COULDN'T BE SAVED|refused|COULDN'T EXPORT \"LOCKED/TAKE.WAV\"|refused");
    EXPECT_EQ(readFile("locked/song.vorna"), oldSong);
    std::vector<std::string> left = folderEntries("locked");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"private.vorna", "song.vorna"}));
}

TEST_F(Killed, TargetThatIsAFolderGivesFailureMessage) {
    // A target name taken by a folder cannot be replaced: failure message, the
    // folder untouched, no temporary file left beside it.
    ASSERT_EQ(mkdir("song.vorna", 0755), 0);
    ASSERT_EQ(mkdir("take.wav", 0755), 0);
    std::ofstream("song.vorna/inside") << "kept";
    EXPECT_FALSE(saveSongNamed("song"));
    EXPECT_EQ(statusText, "FILE \"SONG\" COULDN'T BE SAVED");
    shortSong(40);
    EXPECT_FALSE(exportWavNamed("take.wav"));
    EXPECT_EQ(statusText, "COULDN'T EXPORT \"TAKE.WAV\"");
    EXPECT_EQ(readFile("song.vorna/inside"), Bytes({'k', 'e', 'p', 't'}));
    EXPECT_EQ(strayTemporaries("."), 0);
}

// ---- targets --------------------------------------------------------------------------

TEST_F(Killed, ReplacedFilesKeepTheirModeAndLinksAndProtectedOnesAreRefused) {
    // A save keeps the replaced file's permission bits and group; through a symbolic link the file it
    // points to is replaced in its own folder and the link stays a link; a write-protected file is refused.
    ASSERT_TRUE(saveSongNamed("private"));
    ASSERT_EQ(chmod("private.vorna", 0600), 0);
    ASSERT_EQ(chown("private.vorna", 0, 65534), 0);
    song.speed = 9;
    ASSERT_TRUE(saveSongNamed("private"));
    struct stat st;
    ASSERT_EQ(stat("private.vorna", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(readFile("private.vorna")[16 + 4], 9);  // speed byte right after the escape and theme bytes

    ASSERT_EQ(mkdir("real", 0755), 0);
    ASSERT_EQ(symlink("real/song.vorna", "linked.vorna"), 0);  // dangling until the first save
    ASSERT_TRUE(saveSongNamed("linked"));
    song.speed = 10;
    ASSERT_TRUE(saveSongNamed("linked"));
    ASSERT_EQ(lstat("linked.vorna", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readFile("real/song.vorna")[16 + 4], 10);
    std::vector<std::string> inReal = folderEntries("real");
    EXPECT_EQ(inReal, std::vector<std::string>{"song.vorna"});  // its temporary file was beside it

    ASSERT_EQ(chmod("private.vorna", 0444), 0);
    song.speed = 11;
    EXPECT_FALSE(saveSongNamed("private"));
    EXPECT_EQ(statusText, "FILE \"PRIVATE\" COULDN'T BE SAVED");
    EXPECT_EQ(readFile("private.vorna")[16 + 4], 9);
    ASSERT_EQ(chmod("private.vorna", 0644), 0);
    EXPECT_EQ(strayTemporaries("."), 0);
}

TEST_F(Killed, FifosDevicesAndSocketsAreRefusedAtOnceAndNeverReplaced) {
    // A FIFO, a device or a socket as save, export or load target is refused without waiting
    // (no writer or reader ever comes) and is still there afterwards, of the same kind.
    ASSERT_EQ(mkfifo("pipe.vorna", 0644), 0);
    ASSERT_EQ(mkfifo("pipe.wav", 0644), 0);
    ASSERT_EQ(symlink("/dev/null", "null.vorna"), 0);
    ASSERT_EQ(symlink("/dev/zero", "zero.vorna"), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(saveSongNamed("pipe"));
    EXPECT_FALSE(openSongNamed("pipe"));
    EXPECT_EQ(statusText, "FILE \"PIPE\" COULDN'T BE LOADED. IT'S EITHER INVALID OR FOR A DIFFERENT VERSION OF VORNATRACKER");
    shortSong(40);
    EXPECT_FALSE(exportWavNamed("pipe.wav"));
    EXPECT_FALSE(saveSongNamed("null"));
    EXPECT_FALSE(openSongNamed("zero"));
    EXPECT_FALSE(exportWavNamed("/dev/null"));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    struct stat st;
    ASSERT_EQ(stat("pipe.vorna", &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(strayTemporaries("."), 0);
    EXPECT_EQ(strayTemporaries("/dev"), 0);
}

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
    const Bytes song = encodeSongFile(image.data());
    ASSERT_GT(bytes.size(), song.size());
    EXPECT_TRUE(std::equal(song.begin(), song.end(), bytes.begin()));
    const Bytes trailer(bytes.begin() + long(song.size()), bytes.end());
    EXPECT_EQ(trailer, (Bytes{'V', 'O', 'R', 'N', 'A', 'R', 'E', 'C', 2, 0, 0, 0, 8, 7, 6, 5, 4, 3, 2, 1,
                              1, 0, 0, 0,                          // the file state is known
                              0x2C, 1, 0, 0, 0, 0, 0, 0,           // 300 bytes
                              0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0,  // seconds
                              0xFF, 0xC9, 0x9A, 0x3B,              // 999999999 ns
                              7, 8, 0, 0, 0, 0, 0, 0,              // device
                              9, 0, 0, 0, 0, 0x0A, 0, 0,           // inode
                              4, 0, 0, 0, 'T', 'u', 'n', 'e', 2, 0, 0, 0, '/', 'x'}));
    RecoveryCopy back;
    ASSERT_TRUE(decodeRecoveryCopy(bytes.data(), bytes.size(), back));
    EXPECT_TRUE(back.image == image);
    EXPECT_EQ(back.name, "Tune");
    EXPECT_EQ(back.folder, "/x");
    EXPECT_EQ(back.writtenNs, 0x0102030405060708ull);
    EXPECT_TRUE(back.file == file);
    // The song part alone opens as a song file.
    EXPECT_TRUE(openSongBytes("part", bytes.data(), song.size()));

    for (std::size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_FALSE(decodeRecoveryCopy(bytes.data(), cut, back)) << "cut to " << cut;
    const std::pair<const char*, std::function<void(Bytes&)>> refused[] = {
        {"a byte added", [](Bytes& b) { b.push_back(0); }},
        {"version 3", [&](Bytes& b) { b[song.size() + 8] = 3; }},
        {"known flag 2", [&](Bytes& b) { b[song.size() + 20] = 2; }},
        {"a whole second of nanoseconds", [&](Bytes& b) { putLe32(&b[song.size() + 40], 1000000000); }},
        {"an unknown state with a size", [&](Bytes& b) { b[song.size() + 20] = 0; }},
    };
    for (const auto& r : refused) {
        Bytes changed = bytes;
        r.second(changed);
        EXPECT_FALSE(decodeRecoveryCopy(changed.data(), changed.size(), back)) << r.first;
    }
    const Bytes hugeName =
        encodeRecoveryCopy(RecoveryCopy{image, std::string(RecoveryNameMax + 1, 'a'), "/x", 1, FileState()});
    EXPECT_FALSE(decodeRecoveryCopy(hugeName.data(), hugeName.size(), back));

    Bytes old = song;
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
            for (int fd; (fd = open((fs + "/" + std::to_string(fillers)).c_str(), O_CREAT | O_WRONLY, 0600)) >= 0; ++fillers)
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
            const bool current = !copies.empty() && readCopy(std::string(RecoveryFolderName) + "/" + copies.back()).image == currentImage();
            out += std::string(" | ") + when + ": copy " + (copies.empty() ? "none" : current ? "current" : "old") + ", " +
                   std::to_string(copiesIn(fs + "/state/vornatracker/recovery").size()) + " elsewhere, " +
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
            while (copiesIn(RecoveryFolderName).empty() && std::chrono::steady_clock::now() - freed < std::chrono::seconds(10))
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
    EXPECT_EQ(answer, " | full: copy none, 0 elsewhere, UNSAVED WORK HAS NO RECOVERY COPY"
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
        for (std::size_t at = said.find("is damaged"); at != std::string::npos; at = said.find("is damaged", at + 1)) ++n;
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
        for (const std::string& c : copiesIn(RecoveryFolderName)) unlink((std::string(RecoveryFolderName) + "/" + c).c_str());
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
