// Saves and exports that die or fail half-way: a process killed at any
// moment leaves the old file or the complete new one under the target name;
// a full disk or a folder that cannot be written gives the failure message,
// never the success message, and no temporary file left behind. (The
// recovery copies that keep unsaved work: recovery_test.)
//
//   helpers       files, folders, songs to save and export
//   killed        SIGKILL at random moments of a save loop and an export loop
//   failures      full disk (file size limit), read-only folder, target is a folder
//   targets       permission bits, links, write-protected files, FIFOs and devices
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/file_commands.h"
#include "song/bytes.h"
#include "tests/support/child.h"
#include "tests/support/test_support.h"
#include "ui/status.h"

namespace {

// ---- helpers ------------------------------------------------------------------

int strayTemporaries(const std::string& folder) {
    int n = 0;
    for (const std::string& name : folderEntries(folder))
        if (name.rfind(".vorna-tmp-", 0) == 0) ++n;
    return n;
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
    EXPECT_EQ(answer,
              "refused|FILE \"LOCKED/SONG\" COULDN'T BE SAVED|refused|COULDN'T EXPORT \"LOCKED/TAKE.WAV\"|refused");
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
    EXPECT_EQ(statusText,
              "FILE \"PIPE\" COULDN'T BE LOADED. IT'S EITHER INVALID OR FOR A DIFFERENT VERSION OF VORNATRACKER");
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
