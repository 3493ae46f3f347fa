// Saves and exports that die or fail half-way: a process killed at any moment
// leaves the old file or the complete new one under the target name, and a
// full disk or a folder that cannot be written gives the failure message,
// never the success message, and no temporary file left behind.
//
//   helpers       files, folders, a child whose answer comes back through a pipe
//   killed        SIGKILL at random moments of a save loop and an export loop
//   failures      full disk (file size limit), read-only folder, target is a folder
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/export.h"
#include "audio/instruments.h"
#include "audio/sequencer.h"
#include "song/bytes.h"
#include "song/song.h"
#include "song/song_file.h"
#include "ui/status.h"
#include "app/file_commands.h"
#include "app/history.h"
#include "test_support.h"

using Bytes = std::vector<uint8_t>;

namespace {

// ---- helpers ------------------------------------------------------------------

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

int strayTemporaries(const std::string& folder) {
    int n = 0;
    for (const std::string& name : entries(folder))
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

// Starts loop() in a child, and once its first pass is done (so a loaded
// machine cannot make every kill land before any work), kills it after a
// random delay and waits for it.
void killAfter(const std::function<void(int)>& pass, std::mt19937& rng, double maxSeconds) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
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
    ssize_t got = read(ready[0], &byte, 1);
    close(ready[0]);
    EXPECT_EQ(got, 1);
    std::uniform_real_distribution<double> delay(0.0, maxSeconds);
    std::this_thread::sleep_for(std::chrono::duration<double>(delay(rng)));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
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

    std::mt19937 rng(99);
    int sawA = 0, sawB = 0;
    // 60 kills, and up to 40 more if none has yet landed inside a save.
    for (int i = 0; i < 60 || (i < 100 && strayTemporaries(".") == 0); ++i) {
        SCOPED_TRACE(i);
        killAfter(
            [&](int n) {
                applySongImage((n % 2 ? imageA : imageB).data());
                saveSongNamed("target");
            },
            rng, 4.0 * saveTime + 0.002);
        const Bytes now = readFile("target.vorna");
        ASSERT_TRUE(now == fileA || now == fileB) << "target holds " << now.size() << " bytes";
        (now == fileA ? sawA : sawB)++;
        // And it loads as that song.
        ASSERT_TRUE(openSongBytes("target", now.data(), now.size()));
        Bytes image(SongImageSize);
        buildSongImage(image.data());
        ASSERT_TRUE(image == (now == fileA ? imageA : imageB));
    }
    // The kills landed both between renames (both songs were found on disk)
    // and inside saves (each leaves its unfinished temporary file).
    EXPECT_GT(sawA, 0);
    EXPECT_GT(sawB, 0);
    EXPECT_GT(strayTemporaries("."), 0);
    std::printf("save kills: %d old, %d new, %d inside a save\n", sawA, sawB, strayTemporaries("."));
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

    std::mt19937 rng(7);
    int sawOld = 0, sawNew = 0;
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        // The child exports the new song, then the old one, then the new...
        killAfter(
            [](int n) {
                shortSong(n % 2 ? 30 : 50);
                quietVoices();
                exportWavNamed("target.wav");
            },
            rng, 2.5 * exportTime + 0.002);
        const Bytes now = readFile("target.wav");
        ASSERT_GE(now.size(), 44u);
        // A consistent header: RIFF size and data size agree with the length.
        EXPECT_EQ(getLe32(now.data() + 4), now.size() - 8);
        EXPECT_EQ(getLe32(now.data() + 40), now.size() - 44);
        ASSERT_TRUE(now == oldWav || now == newWav) << "target holds " << now.size() << " bytes";
        (now == newWav ? sawNew : sawOld)++;
    }
    EXPECT_GT(sawNew, 0);
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(strayTemporaries("."), 0);
    std::printf("export kills: %d old, %d new, %d inside an export\n", sawOld, sawNew, strayTemporaries("."));
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
        if (setgid(65534) != 0 || setuid(65534) != 0) return std::string("could not drop to nobody");
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
    std::vector<std::string> left = entries("locked");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"private.vorna", "song.vorna"}));
}

TEST_F(Killed, TargetThatIsAFolderGivesFailureMessage) {
    // A target name taken by a folder cannot be replaced: failure message, the
    // folder untouched, no temporary file left beside it; nor can it be loaded.
    ASSERT_EQ(mkdir("song.vorna", 0755), 0);
    ASSERT_EQ(mkdir("take.wav", 0755), 0);
    std::ofstream("song.vorna/inside") << "kept";
    EXPECT_FALSE(saveSongNamed("song"));
    EXPECT_EQ(statusText, "FILE \"SONG\" COULDN'T BE SAVED");
    shortSong(40);
    EXPECT_FALSE(exportWavNamed("take.wav"));
    EXPECT_EQ(statusText, "COULDN'T EXPORT \"TAKE.WAV\"");
    EXPECT_EQ(readFile("song.vorna/inside"), Bytes({'k', 'e', 'p', 't'}));
    // Nor is a folder ever loaded as a song.
    song.speed = 7;
    EXPECT_FALSE(openSongNamed("song"));
    EXPECT_EQ(statusText, "FILE \"SONG\" COULDN'T BE LOADED. IT'S EITHER INVALID OR FOR A DIFFERENT VERSION OF VORNATRACKER");
    EXPECT_EQ(song.speed, 7);
    EXPECT_EQ(strayTemporaries("."), 0);
}
