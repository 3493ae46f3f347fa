// The live output stream against real sound servers started by the tests: a
// private PulseAudio daemon with a null sink (its monitor recorded with
// parec), and a JACK server on its dummy driver. No sound card is needed.
//
//   1. Helpers: child processes, waiting, standard error capture
//   2. Driver words and failures without a server
//   3. PulseAudio
//   4. JACK
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/stream.h"
#include "tests/support/test_support.h"

extern char** environ;

// The sound libraries keep some memory of every stream they opened for good: a
// conversion buffer of the PulseAudio back end and bookkeeping of the client
// library. The leak checker of the sanitizer build is told so; a leak of our
// own (the library object itself, say) still shows.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:RtApiPulse::probeDeviceOpen\n"
           "leak:libpulse.so\n";
}

namespace {

// ---------------------------------------------------------------------------
// 1. Helpers

std::string findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
    const char* path = std::getenv("PATH");
    std::string dirs = std::string(path ? path : "") + ":/usr/sbin:/usr/bin:/sbin:/bin";
    std::stringstream split(dirs);
    std::string dir;
    while (std::getline(split, dir, ':')) {
        if (dir.empty()) continue;
        std::string full = dir + "/" + name;
        if (access(full.c_str(), X_OK) == 0) return full;
    }
    return "";
}

// Starts a program with changes to our environment ("KEY=value" sets, "KEY"
// removes), standard output and error to files. The child dies with us.
pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& envChanges,
            const std::string& outPath, const std::string& errPath) {
    std::string program = findProgram(args[0]);
    if (program.empty()) return -1;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const std::string& change : envChanges) {
            std::string key = change.substr(0, change.find('='));
            if (entry.compare(0, key.size() + 1, key + "=") == 0) replaced = true;
        }
        if (!replaced) env.push_back(entry);
    }
    for (const std::string& change : envChanges)
        if (change.find('=') != std::string::npos) env.push_back(change);
    std::vector<char*> argv, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a crashed test
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in >= 0) dup2(in, 0);
        if (out >= 0) dup2(out, 1);
        if (err >= 0) dup2(err, 2);
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

// SIGTERM, then SIGKILL if it lingers; always reaped.
void stopChild(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 150; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

bool waitFor(const std::function<bool()>& condition, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// startAudio with what it said on standard error.
struct Start {
    bool started = false;
    std::string said;
};
Start startQuietly(const char* word, unsigned frames) {
    Start s;
    s.said = stderrOf([&] { s.started = startAudio(word, frames); });
    return s;
}

// The server may need a moment after its driver is up to accept clients.
Start startRetrying(const char* word, unsigned frames) {
    Start s;
    for (int attempt = 0; attempt < 5 && !s.started; ++attempt) {
        if (attempt) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        s = startQuietly(word, frames);
    }
    return s;
}

bool blocksPass(uint64_t n, double seconds = 10.0) {
    return waitFor([n] { return streamBlocks() > n; }, seconds);
}

int countLines(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

// ---------------------------------------------------------------------------
// 2. Driver words and failures without a server

// Only a unique name of our own: another program's JACK server must not be found.
std::string noJackServer() { return "vorna-absent-" + std::to_string(getpid()); }

TEST(StreamDriver, NoneRunsSilentlyAndUnknownWordsGiveOneLineAndNoStream) {
    // "none": no stream and no message; a driver word other than the known ones, even "dsound" in
    // another case or with a trailing character, opens nothing and is reported in one line. Stopping
    // is harmless either way.
    initSong();
    for (const char* word : {"none", "Dsound", "dsound ", "dsoundx", "DSOUND", "oss", "pulse2", ""}) {
        const auto [started, text] = startQuietly(word, 512);
        const bool none = std::string(word) == "none";
        EXPECT_FALSE(started) << word;
        EXPECT_EQ(countLines(text), none ? 0 : 1) << "'" << word << "': " << text;
        EXPECT_EQ(text.compare(0, 7, none ? "" : "audio: "), 0) << text;
        EXPECT_EQ(text.find("running without sound") != std::string::npos, !none) << text;
        EXPECT_FALSE(engine.streamActive.load());
        EXPECT_EQ(streamBackend(), "");
        const uint64_t before = streamBlocks();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(streamBlocks(), before);
        stopAudio();
        stopAudio();
    }
}

TEST(StreamDriver, NoServerMeansOneLineAndTheProgramGoesOn) {
    // With no sound server reachable, each back end fails with one line naming
    // it; "dsound" either finds nothing or plays on whatever it found.
    initSong();
    TempFolder folder("noserver");
    const std::string dir = folder.path();
    EnvSettings env;
    env.set("PULSE_SERVER", "unix:" + dir + "/no-such-socket");
    env.set("JACK_DEFAULT_SERVER", noJackServer());
    env.set("HOME", dir);
    env.set("XDG_RUNTIME_DIR", dir);
    for (const char* word : {"pulse", "jack", "dsound"}) {
        const auto [started, text] = startQuietly(word, 512);
        if (started) {
            // Only a back end that really plays may be chosen (a working ALSA device).
            EXPECT_STREQ(word, "dsound");
            EXPECT_TRUE(blocksPass(0, 5.0));
            EXPECT_EQ(text, "");
        } else {
            EXPECT_EQ(countLines(text), 1) << word << ": " << text;
            EXPECT_EQ(text.compare(0, 7 + std::strlen(word), std::string("audio: ") + word), 0) << text;
            EXPECT_FALSE(engine.streamActive.load());
        }
        stopAudio();
        EXPECT_FALSE(engine.streamActive.load());
    }
}

// ---------------------------------------------------------------------------
// 3. PulseAudio

class PulseStream : public ::testing::Test {
protected:
    void SetUp() override {
        initSong();
        silenceVoices();
        if (findProgram("pulseaudio").empty()) GTEST_SKIP() << "pulseaudio is not installed";
        folder_.emplace("pulse");
        dir_ = folder_->path();
        ASSERT_FALSE(dir_.empty());
        mkdir((dir_ + "/home").c_str(), 0700);
        mkdir((dir_ + "/run").c_str(), 0700);
        socket_ = dir_ + "/native";
        std::ofstream(dir_ + "/server.pa")
            << "load-module module-null-sink sink_name=vorna_null\n"
            << "load-module module-native-protocol-unix socket=" << socket_ << " auth-anonymous=1\n";
        // The daemon and we keep our files in the scratch folder, never in $HOME.
        env_.set("HOME", dir_ + "/home");
        env_.set("XDG_RUNTIME_DIR", dir_ + "/run");
        env_.set("PULSE_SERVER", "unix:" + socket_);
        env_.set("JACK_DEFAULT_SERVER", noJackServer());
        server_ = spawn({"pulseaudio", "--daemonize=no", "--system=false", "--exit-idle-time=-1", "-n",
                         "--disable-shm=yes", "--use-pid-file=no", "--log-target=stderr", "-F", dir_ + "/server.pa"},
                        {"PULSE_SERVER"}, dir_ + "/server.out", dir_ + "/server.log");
        ASSERT_GT(server_, 0);
        ASSERT_TRUE(waitFor([this] { return fileExists(socket_); }, 15.0)) << "the sound server did not come up:\n"
                                                                           << readText(dir_ + "/server.log");
    }
    void TearDown() override {
        stopAudio();
        transport.playing = false;
        stopChild(recorder_);
        stopChild(server_);
        folder_.reset();
    }

    // Records the null sink's monitor: 16-bit mono samples as the server mixed them.
    void startRecording() {
        recording_ = dir_ + "/monitor.raw";
        recorder_ = spawn({"parec", "-d", "vorna_null.monitor", "--raw", "--format=s16le", "--channels=1",
                           "--rate=44100", "--latency-msec=20"},
                          {}, recording_, dir_ + "/parec.log");
        ASSERT_GT(recorder_, 0) << "parec is not installed";
    }
    std::vector<int16_t> stopRecording() {
        stopChild(recorder_);
        std::string bytes = readText(recording_);
        std::vector<int16_t> samples(bytes.size() / 2);
        std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }
    size_t recordedBytes() const { return readFile(recording_).size(); }

    std::optional<TempFolder> folder_;
    std::string dir_, socket_, recording_;
    pid_t server_ = -1, recorder_ = -1;
    EnvSettings env_;
};

TEST_F(PulseStream, CallbackRunsAndPlaybackAdvances) {
    // Once started, the library asks for blocks continuously, at about the
    // real-time rate; a playing song moves its position from the callback.
    ASSERT_TRUE(startAudio("pulse", 512));
    EXPECT_EQ(streamBackend(), "pulse");
    EXPECT_TRUE(engine.streamActive.load());
    EXPECT_GT(streamBlockFrames(), 0u);
    ASSERT_TRUE(blocksPass(10));

    // Once the server has settled (its null sink starts slowly), the blocks
    // delivered over two seconds are near real time, never a spin.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    uint64_t b0 = streamBlocks();
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double framesPerSecond = double(streamBlocks() - b0) * streamBlockFrames() / seconds;
    EXPECT_GT(framesPerSecond, 44100 * 0.6);
    EXPECT_LT(framesPerSecond, 44100 * 1.6);

    song.speed = 1;  // a row every 1000 frames
    transport.currentRow = 0;
    transport.tick = 0;
    transport.tickFrame = 0;
    transport.playing = true;
    EXPECT_TRUE(waitFor([] { return transport.currentRow.load() >= 5; }, 5.0)) << "row " << transport.currentRow.load();
    transport.playing = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    int32_t stoppedAt = transport.currentRow;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(transport.currentRow.load(), stoppedAt);  // stopped: the position stays
    EXPECT_GT(streamBlocks(), b0);                      // while the stream runs on
}

namespace {

// Whether this process may give a thread a real-time policy.
bool realtimePermitted() {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_RR);
    pthread_attr_setinheritsched(&attr, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attr, SCHED_RR);
    pthread_attr_setschedparam(&attr, &param);
    pthread_t thread;
    const bool made = pthread_create(
                          &thread, &attr, [](void*) -> void* { return nullptr; }, nullptr) == 0;
    if (made) pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    return made;
}

// Takes away what lets a process use real-time scheduling: the capability
// root has, and the resource limit an ordinary user may have.
void dropRealtimePermission() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    syscall(SYS_capget, &header, data);
    data[0].effective &= ~(1u << CAP_SYS_NICE);
    data[0].permitted &= ~(1u << CAP_SYS_NICE);
    syscall(SYS_capset, &header, data);
    rlimit none{0, 0};
    setrlimit(RLIMIT_RTPRIO, &none);
}

}  // namespace

TEST_F(PulseStream, CallbackRunsRealtimeWherePermittedAndSilentlyWithoutWhereNot) {
    // The stream asks for real-time scheduling: its callback thread runs under a real-time policy
    // where the process may have one; where it may not the stream runs as before. Neither case
    // says anything, while the library's other words still reach standard error.
    bool started = false, running = false;
    const std::string text = stderrOf([&] {
        started = startAudio("pulse", 256);
        running = blocksPass(20);
        std::cerr << "RtAudio pulse: _NOT_ running realtime scheduling" << std::endl;
        std::cerr << "RtAudio pulse: another note" << std::endl;
    });
    ASSERT_TRUE(started);
    ASSERT_TRUE(running);
    EXPECT_EQ(text, "RtAudio pulse: another note\n");
    EXPECT_EQ(streamRealtime(), realtimePermitted());
    stopAudio();

    // Without the permission, in a process of its own (the sound client
    // library refuses to work in a forked copy of a process that used it).
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(length, 0);
    self[length] = '\0';
    pid_t child = spawn({self, "--gtest_filter=PulseStreamWithoutRealtime.*", "--gtest_brief=1"},
                        {"VORNA_NO_REALTIME_CHILD=1", "LSAN_OPTIONS=print_suppressions=0"}, dir_ + "/child.out",
                        dir_ + "/child.err");  // (the leak checker's summary is not the stream's)
    ASSERT_GT(child, 0);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const std::string out = readText(dir_ + "/child.out");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    EXPECT_NE(out.find("PASSED  ] 1 test"), std::string::npos) << out;  // ran, not skipped
    EXPECT_EQ(out.find("SKIPPED"), std::string::npos) << out;
    EXPECT_EQ(readText(dir_ + "/child.err"), "");
}

// Run by the test above in a process of its own, with the server it started.
TEST(PulseStreamWithoutRealtime, StreamRunsWithoutRealtimeAndSaysNothing) {
    // Where real-time scheduling is not permitted the stream runs as before, without a message.
    if (!std::getenv("VORNA_NO_REALTIME_CHILD")) GTEST_SKIP() << "run by PulseStream.CallbackRunsRealtime...";
    dropRealtimePermission();
    ASSERT_FALSE(realtimePermitted());
    ASSERT_TRUE(startAudio("pulse", 256));
    EXPECT_TRUE(blocksPass(20));
    EXPECT_FALSE(streamRealtime());
    stopAudio();
}

TEST_F(PulseStream, DefaultDriverPicksTheRunningServerAndAStoppedStreamCanStartAgain) {
    // "dsound" takes the first back end with a playable device; with only the PulseAudio server
    // running that is PulseAudio. After stopAudio no block is asked for; a new stream can be started.
    const Start picked = startQuietly("dsound", 512);
    ASSERT_TRUE(picked.started) << picked.said;
    EXPECT_EQ(picked.said, "");
    EXPECT_EQ(streamBackend(), "pulse");
    ASSERT_TRUE(blocksPass(5));
    stopAudio();
    EXPECT_FALSE(engine.streamActive.load());
    EXPECT_EQ(streamBackend(), "");
    const uint64_t after = streamBlocks();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(streamBlocks(), after);
    ASSERT_TRUE(startAudio("pulse", 1024));
    EXPECT_TRUE(blocksPass(after + 5));
}

TEST_F(PulseStream, PreviewedNoteReachesTheServer) {
    // A note started on voice 0 while stopped is mixed by the callback and
    // arrives at the sound server; before it, the stream is silence.
    ASSERT_TRUE(startAudio("pulse", 512));
    ASSERT_TRUE(blocksPass(10));
    startRecording();
    // A quarter second of recorded silence first.
    ASSERT_TRUE(waitFor([this] { return recordedBytes() > 44100; }, 10.0)) << readText(dir_ + "/parec.log");
    previewNote(0, 48);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::vector<int16_t> samples = stopRecording();
    ASSERT_GT(samples.size(), 44100u);

    int before = 0, peak = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        int a = std::abs(int(samples[i]));
        if (i < 11025 && a > before) before = a;
        if (a > peak) peak = a;
    }
    EXPECT_EQ(before, 0) << "sound before the note";
    // One channel at gain 1.0 of eight: up to an eighth of full scale.
    EXPECT_GT(peak, 300) << "the note did not arrive";
    EXPECT_LE(peak, 32767 / 8 + 2);
}

TEST_F(PulseStream, ServerGoingAwayStopsSoundButNotTheProgram) {
    // The server dies mid-stream: one line "audio: sound stopped: ...", the
    // stream no longer counts as active (exports do not wait for it), and the
    // library's thread does not spin on the dead connection.
    ASSERT_TRUE(startAudio("pulse", 512));
    ASSERT_TRUE(blocksPass(10));
    bool noticed = false;
    uint64_t settled = 0, later = 0;
    const std::string text = stderrOf([&] {
        stopChild(server_);
        noticed = waitFor([] { return !engine.streamActive.load(); }, 8.0);
        settled = streamBlocks();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        later = streamBlocks();
    });
    EXPECT_TRUE(noticed);
    EXPECT_EQ(countLines(text), 1) << text;
    EXPECT_EQ(text.compare(0, 21, "audio: sound stopped:"), 0) << text;
    EXPECT_LT(later - settled, 100u) << "blocks still requested after the server died";
    stopAudio();  // closing a dead stream is quiet and safe
    EXPECT_EQ(streamBackend(), "");
}

TEST_F(PulseStream, FrozenServerDoesNotHoldUpQuitting) {
    // A server that stops answering (here: stopped by a signal) is noticed as
    // silence, and closing the stream still returns within seconds.
    ASSERT_TRUE(startAudio("pulse", 512));
    ASSERT_TRUE(blocksPass(10));
    bool noticed = false;
    double closeSeconds = 0;
    const std::string text = stderrOf([&] {
        kill(server_, SIGSTOP);
        noticed = waitFor([] { return !engine.streamActive.load(); }, 8.0);
        const auto t0 = std::chrono::steady_clock::now();
        stopAudio();
        closeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        kill(server_, SIGCONT);
    });
    EXPECT_TRUE(noticed);
    EXPECT_LT(closeSeconds, 5.0);
    EXPECT_NE(text.find("audio: sound stopped:"), std::string::npos) << text;
    EXPECT_LE(countLines(text), 2) << text;
}

// ---------------------------------------------------------------------------
// 4. JACK

// JACK keeps a machine-wide table of eight server names and frees the entry
// of a dead server only for a new server of the same name: the tests use a
// few fixed names, each held through a lock file while its server runs.
constexpr int JackTestNames = 3;

class JackStream : public ::testing::Test {
protected:
    void SetUp() override {
        initSong();
        if (findProgram("jackd").empty()) GTEST_SKIP() << "jackd is not installed";
        bool claimed = waitFor(
            [this] {
                for (int n = 0; n < JackTestNames; ++n) {
                    std::string path = "/tmp/vorna-jack-test-" + std::to_string(n) + ".lock";
                    int fd = open(path.c_str(), O_RDWR | O_CREAT, 0666);
                    if (fd < 0) continue;
                    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
                        lock_ = fd;
                        name_ = "vorna-test-" + std::to_string(n);
                        return true;
                    }
                    close(fd);
                }
                return false;
            },
            120.0);
        ASSERT_TRUE(claimed) << "every JACK test server name stayed in use";
        folder_.emplace("jack");
        dir_ = folder_->path();
        ASSERT_FALSE(dir_.empty());
        env_.set("JACK_DEFAULT_SERVER", name_);
        env_.set("PULSE_SERVER", "unix:" + dir_ + "/no-pulse-here");
        env_.set("HOME", dir_);  // sound client libraries leave files in $HOME
        env_.set("XDG_RUNTIME_DIR", dir_);
        server_ = spawn({"jackd", "-n", name_, "--no-realtime", "-d", "dummy", "-r", "44100", "-p", "512"},
                        {"JACK_NO_AUDIO_RESERVATION=1"}, dir_ + "/jackd.out", dir_ + "/jackd.log");
        ASSERT_GT(server_, 0);
        // The server's own client exists once its driver runs.
        ASSERT_TRUE(waitFor([this] { return fileExists("/dev/shm/jack_sem.0_" + name_ + "_system"); }, 15.0))
            << readText(dir_ + "/jackd.out") << readText(dir_ + "/jackd.log");
    }
    void TearDown() override {
        stopAudio();
        transport.playing = false;
        stopChild(server_);
        // A server killed with clients attached leaves its semaphores behind.
        std::string command = "rm -f /dev/shm/jack_sem.0_" + name_ + "_* /dev/shm/jack_" + name_ + "_*";
        if (!name_.empty() && std::system(command.c_str()) != 0) std::fprintf(stderr, "cleanup failed\n");
        folder_.reset();
        if (lock_ >= 0) close(lock_);  // lets the next JACK test start its server
    }

    std::optional<TempFolder> folder_;
    std::string dir_, name_;
    pid_t server_ = -1;
    int lock_ = -1;
    EnvSettings env_;
};

TEST_F(JackStream, DefaultDriverPrefersARunningJackServerAndItsBlockSize) {
    // JACK comes first in the library's order: with its server up, "dsound" uses it. The JACK
    // server sets the block size; the callback runs at real-time pace.
    const Start s = startRetrying("dsound", 256);
    ASSERT_TRUE(s.started) << s.said;
    EXPECT_EQ(streamBackend(), "jack");
    EXPECT_EQ(streamBlockFrames(), 512u);
    ASSERT_TRUE(blocksPass(10));
    transport.playing = true;
    int32_t row = transport.currentRow;
    EXPECT_TRUE(waitFor([row] { return transport.currentRow.load() != row; }, 5.0));
    transport.playing = false;
}

TEST_F(JackStream, ServerShutdownIsNoticed) {
    // The JACK server closing the stream on its own is noticed within seconds:
    // one "audio: sound stopped" line and the stream no longer active.
    const Start s = startRetrying("jack", 256);
    ASSERT_TRUE(s.started) << s.said;
    ASSERT_TRUE(blocksPass(10));
    bool noticed = false;
    const std::string text = stderrOf([&] {
        stopChild(server_);
        noticed = waitFor([] { return !engine.streamActive.load(); }, 10.0);
    });
    EXPECT_TRUE(noticed);
    EXPECT_NE(text.find("audio: sound stopped:"), std::string::npos) << text;
    stopAudio();
}

}  // namespace
