// vorna-render's output: each format read back against the 16-bit WAV, the
// length --info reports, and the eight stems summing to the mix.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "song/song.h"
#include "song/song_file.h"
#include "tests/support/test_support.h"

// ---- vorna-render's formats and stems, read back with libsndfile --------------

namespace {

const std::string Renderer = std::string(VORNA_BINARY_DIR) + "/vorna-render";
// A demo song typed into the editor: 4 slots x 64 rows x speed 3 x 1000 frames,
// notes on channels 1, 2, 3, 7 and 8.
const std::string DemoSong = std::string(VORNA_SOURCE_DIR) + "/songs/first_steps.vorna";
constexpr size_t DemoFrames = 4 * 64 * 3 * 1000;

int renderDemo(const std::string& arguments) {
    const int status = std::system(("'" + Renderer + "' '" + DemoSong + "' --quiet " + arguments).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A mono file's samples in 16-bit steps (libsndfile's full scale 1.0 is 32768 steps).
std::vector<double> readSteps(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<double> v(size_t(info.frames));
    const sf_count_t got = sf_read_double(f, v.data(), info.frames);
    sf_close(f);
    if (info.channels != 1 || info.samplerate != 44100 || got != info.frames) return {};
    for (double& x : v) x *= 32768.0;
    return v;
}

}  // namespace

TEST(RenderFormats, EachFormatReadsBackAsThe16BitWavWithinItsPrecision) {
    // FLAC holds the 16-bit samples exactly; 24-bit and float WAV the signal before its truncation to 16 bits; Ogg comes close.
    if (access(Renderer.c_str(), X_OK) != 0) GTEST_SKIP() << "vorna-render not built in this tree";
    ScratchDir dir("formats");
    for (const char* output :
         {"-o mix.wav", "-o mix.flac", "-o mix.ogg", "-f wav24 -o mix24.wav", "--format=wav32f -o mixf.wav"})
        ASSERT_EQ(renderDemo(output), 0) << output;
    const std::vector<double> wav = readSteps("mix.wav");
    ASSERT_EQ(wav.size(), DemoFrames);

    EXPECT_EQ(readSteps("mix.flac"), wav);

    for (const char* name : {"mix24.wav", "mixf.wav"}) {
        const std::vector<double> fine = readSteps(name);
        ASSERT_EQ(fine.size(), DemoFrames) << name;
        double worst = 0;
        size_t between = 0, truncatesElsewhere = 0;
        for (size_t i = 0; i < fine.size(); ++i) {
            worst = std::max(worst, std::fabs(fine[i] - wav[i]));
            between += fine[i] != std::trunc(fine[i]);
            // The 16-bit sample is this value truncated, but for 24-bit rounding onto a whole step.
            truncatesElsewhere += std::trunc(fine[i]) != wav[i] && std::fabs(fine[i] - std::round(fine[i])) > 1.0 / 256;
        }
        EXPECT_LT(worst, 1.0 + 1.0 / 256) << name;
        EXPECT_GT(between, DemoFrames / 2) << name << " holds no more than 16 bits";
        EXPECT_EQ(truncatesElsewhere, 0u) << name;
    }

    // Lossy: the same length, and the difference far below the signal.
    const std::vector<double> ogg = readSteps("mix.ogg");
    ASSERT_EQ(ogg.size(), DemoFrames);
    double signal = 0, error = 0;
    for (size_t i = 0; i < wav.size(); ++i) {
        signal += wav[i] * wav[i];
        error += (ogg[i] - wav[i]) * (ogg[i] - wav[i]);
    }
    EXPECT_GT(signal, 0.0);
    EXPECT_LT(error, signal * 0.03) << "Ogg error above -15 dB of the signal";
}

TEST(RenderInfo, LengthIsTheCourseWithJumpsBreaksAndSpeeds) {
    // --info reports the length the export renders: a speed change and a jump back that loops.
    if (access(Renderer.c_str(), X_OK) != 0) GTEST_SKIP() << "vorna-render not built in this tree";
    ScratchDir dir("info");
    resetEngine();
    song.orders[1] = 1;
    cellAt(2, 1, 20).effect = 0xF, cellAt(2, 1, 20).effectParam = 5;
    cellAt(5, 1, 40).effect = 0xB, cellAt(5, 1, 40).effectParam = 0;  // back to slot 0 at speed 5: once more
    ASSERT_TRUE(saveSong("course"));
    ASSERT_EQ(std::system(("'" + Renderer + "' course --info > info.txt").c_str()), 0);
    std::ifstream in("info.txt");
    const std::string info((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // 64 + 20 rows at 3, 21 at 5; slot 0 again at 5 (64 rows), slot 1 rows 0-20 at 5; row 21 began at
    // 5 before: the loop.
    const uint64_t frames = 84 * 3000 + 21 * 5000 + 64 * 5000 + 21 * 5000;
    EXPECT_NE(info.find("length:           " + std::to_string(frames) + " frames"), std::string::npos) << info;
}

TEST(RenderStems, TheEightStemsSumToTheMix) {
    // Each stem is its channel as it enters the mix, scaled as the mix: 16-bit stems sum to the mix within 5 steps
    // (eight roundings, one truncation), float stems within one; channels without notes are silent.
    if (access(Renderer.c_str(), X_OK) != 0) GTEST_SKIP() << "vorna-render not built in this tree";
    ScratchDir dir("stems");
    ASSERT_EQ(renderDemo("-o mix.wav"), 0);
    ASSERT_EQ(renderDemo("--stems -o 'stem%c.wav'"), 0);
    ASSERT_EQ(renderDemo("--stems -f wav32f -o 'fine-%c-%c.wav'"), 0);
    const std::vector<double> mix = readSteps("mix.wav");
    ASSERT_EQ(mix.size(), DemoFrames);
    std::vector<double> sum(DemoFrames, 0.0), fineSum(DemoFrames, 0.0);
    for (int c = 1; c <= 8; ++c) {
        const std::vector<double> stem = readSteps("stem" + std::to_string(c) + ".wav");
        const std::string n = std::to_string(c);
        const std::vector<double> fine = readSteps("fine-" + n + "-" + n + ".wav");
        ASSERT_EQ(stem.size(), DemoFrames) << c;
        ASSERT_EQ(fine.size(), DemoFrames) << c;
        double peak = 0;
        for (size_t i = 0; i < DemoFrames; ++i) {
            sum[i] += stem[i];
            fineSum[i] += fine[i];
            peak = std::max(peak, std::fabs(stem[i]));
        }
        const bool plays = c == 1 || c == 2 || c == 3 || c == 7 || c == 8;
        EXPECT_EQ(peak > 0, plays) << "stem " << c;
    }
    double worst = 0, worstFine = 0;
    for (size_t i = 0; i < DemoFrames; ++i) {
        worst = std::max(worst, std::fabs(sum[i] - mix[i]));
        worstFine = std::max(worstFine, std::fabs(fineSum[i] - mix[i]));
    }
    EXPECT_LE(worst, 5.0);
    EXPECT_LT(worstFine, 1.001);
}
