// While an export runs the message line shows its progress, redrawn at most
// every 100 ms, with no event polled; the export's own last word stays.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/file_commands.h"
#include "app/main_loop.h"
#include "audio/export.h"
#include "audio/sequencer.h"
#include "song/song.h"
#include "ui/status.h"

namespace {

uint32_t fakeClock = 0;
uint32_t clockStep = 0;  // added after every reading, to stand for time spent rendering
int polls = 0;
std::vector<std::string> drawnMessages;

uint32_t fakeNow() {
    const uint32_t t = fakeClock;
    fakeClock += clockStep;
    return t;
}
int countingPoll(SDL_Event*) {
    ++polls;
    return 0;
}
void recordDraw() { drawnMessages.push_back(statusText); }

// Progress frames go to a recording loopIo; the clock jumps far ahead so the
// previous test's last frame is long past.
struct FakeLoop {
    LoopIo saved = loopIo;
    FakeLoop() {
        loopIo.now = fakeNow;
        loopIo.poll = countingPoll;
        loopIo.draw = recordDraw;
        fakeClock += 1000000;
        clockStep = 0;
        polls = 0;
        drawnMessages.clear();
    }
    ~FakeLoop() { loopIo = saved; }
};

}  // namespace

TEST(ExportProgress, MessageShowsPercentDoneAtMostEvery100Ms) {
    // A report draws "EXPORTING n%" (n rounded down) unless the last progress frame is under 100 ms old.
    FakeLoop loop;
    const uint32_t t0 = fakeClock;
    showExportProgress(0, 1000);
    fakeClock = t0 + 50;
    showExportProgress(300, 1000);
    fakeClock = t0 + 99;
    showExportProgress(400, 1000);
    fakeClock = t0 + 100;
    showExportProgress(999, 1000);
    fakeClock = t0 + 150;
    showExportProgress(1000, 1000);
    fakeClock = t0 + 260;
    showExportProgress(1000, 1000);
    EXPECT_EQ(drawnMessages, (std::vector<std::string>{"EXPORTING 0%", "EXPORTING 99%", "EXPORTING 100%"}));
    EXPECT_EQ(statusTimer, 500);  // a fresh message, full colour
    EXPECT_EQ(polls, 0);

    // An export of nothing reports nothing.
    fakeClock += 1000;
    showExportProgress(0, 0);
    EXPECT_EQ(drawnMessages.size(), 3u);
}

TEST(ExportProgress, ExportShowsRisingProgressThenItsResultWithoutTouchingEvents) {
    // A real export with the handler installed: progress frames with rising
    // percentages, no event polled, and "SUCCESSFULLY EXPORTED" at the end.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    char tmpl[] = "/tmp/vorna-progress-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    ASSERT_EQ(chdir(tmpl), 0);

    initSong();
    for (int k = 0; k < 4; ++k) song.orders[k] = 0;  // 4 slots x 64 rows x 3 ticks: 17 s of song
    cellAt(0, 0, 0).note = 40;
    exporting = false;
    streamActive = false;
    FakeLoop loop;
    clockStep = 40;  // each clock reading is 40 ms after the previous one
    exportProgress = showExportProgress;
    const bool ok = exportWavNamed("progress.wav");
    exportProgress = nullptr;

    EXPECT_TRUE(ok);
    EXPECT_EQ(statusText, "SUCCESSFULLY EXPORTED");
    EXPECT_EQ(polls, 0);
    ASSERT_GE(drawnMessages.size(), 2u);
    int last = -1;
    for (const std::string& m : drawnMessages) {
        ASSERT_EQ(m.rfind("EXPORTING ", 0), 0u) << m;
        const int percent = std::atoi(m.c_str() + 10);
        EXPECT_GE(percent, last) << m;
        EXPECT_LE(percent, 100);
        last = percent;
    }

    std::remove("progress.wav");
    ASSERT_EQ(chdir(cwd), 0);
    rmdir(tmpl);
}
