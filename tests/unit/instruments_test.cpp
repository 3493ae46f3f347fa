// The eight voices, checked sample by sample against the formulas written out
// here again, with the single-precision constants as published numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/instruments.h"
#include "audio/kernels.h"
#include "tests/support/test_support.h"

namespace {

const double R = 44100;
const double S001 = 0.009999999776482582, S00001 = 9.999999747378752e-05;
const double SPi = 3.1415927410125732, SInvPi = 0.31830987334251404;
const double S09 = 0.8999999761581421, S01 = 0.10000002384185791, S1of15 = 0.06666667014360428;

void silenceAll() { silenceVoices(); }

// What the render step does for a sounding voice: read time, bump it, ask.
double pull(Instrument& v) {
    int32_t n = v.time;
    v.time = n + 1;
    return v.nextSample(n);
}

double phaseFrac(double T, double rate) {
    double x = (T / (R / rate) + SPi) * SInvPi;
    return x - std::trunc(x);
}

float filtered(float state, double in) { return float(S09 * state + S01 * in); }

}  // namespace

TEST(Voices, PitchIsConcertATimesTwoToTheNoteOverTwelve) {
    // pitchOf(note) = 27.5 * 2^(note/12): note 0 is 27.5, 12 doubles it, 3 is C at 32.70 Hz.
    EXPECT_DOUBLE_EQ(pitchOf(0), 27.5);
    EXPECT_DOUBLE_EQ(pitchOf(12), 55.0);
    EXPECT_DOUBLE_EQ(pitchOf(48), 440.0);
    EXPECT_NEAR(pitchOf(3), 32.703, 0.001);
}

TEST(Voices, TableHoldsEightSeparateVoicesOfTheListedClasses) {
    // Channels 0..7 play Ins0_0, Ins0_1, Ins0_2, Ins0_3, Ins0_0, Ins0_3, Ins_Drum, Ins_Drum, no two shared.
    EXPECT_NE(dynamic_cast<Ins0_0*>(instruments[0]), nullptr);
    EXPECT_NE(dynamic_cast<Ins0_1*>(instruments[1]), nullptr);
    EXPECT_NE(dynamic_cast<Ins0_2*>(instruments[2]), nullptr);
    EXPECT_NE(dynamic_cast<Ins0_3*>(instruments[3]), nullptr);
    EXPECT_NE(dynamic_cast<Ins0_0*>(instruments[4]), nullptr);
    EXPECT_NE(dynamic_cast<Ins0_3*>(instruments[5]), nullptr);
    EXPECT_NE(dynamic_cast<Ins_Drum*>(instruments[6]), nullptr);
    EXPECT_NE(dynamic_cast<Ins_Drum*>(instruments[7]), nullptr);
    for (int i = 0; i < 8; ++i)
        for (int j = i + 1; j < 8; ++j) EXPECT_NE(instruments[i], instruments[j]);
}

TEST(Voices, NoteOnSetsNotePitchAndTimeButKeepsState) {
    // noteOn sets note, freq = pitchOf rounded to float32 and time 0; state and arpStep carry over.
    silenceAll();
    Ins0_1& v = *static_cast<Ins0_1*>(instruments[1]);
    v.time = 1234;
    v.state = 0.625f;
    v.arpStep = 2;
    noteOn(v, 37);
    EXPECT_EQ(v.note, 37);
    EXPECT_EQ(v.freq, float(27.5 * std::pow(2.0, 37 / 12.0)));
    EXPECT_EQ(v.time, 0);
    EXPECT_EQ(v.state, 0.625f);
    EXPECT_EQ(v.arpStep, 2);
}

TEST(Voices, Ins0_0FollowsTheDetunedPulseStackFormula) {
    // W, warped time, the sine term and fifteen pulses summed in float32, filtered, times 4/(1+0.0001T).
    silenceAll();
    Instrument& v = *instruments[0];
    noteOn(v, 40);
    double f = v.freq;
    float st = 0;
    for (int n = 0; n < 6000; ++n) {
        double T = n + 1;
        double W = float(0.5 * (1 + 0.9 * std::sin(T / (R / (f * S00001)))));
        double u = std::trunc(T + 300 * std::sin(T / (R / (f * 0.5))));
        double S = 0.3 * std::sin(u / (R / f));
        float sum = 0;
        for (double k : {0.5, 1.0, 2.0, 4.0, 8.0})
            for (int i : {-1, 0, 1}) {
                double p = phaseFrac(T, (1 + S001 * i) * f * k * 0.5);
                sum = float((0.7 * (p > W ? 1 : -1) + sum) + S);
            }
        st = filtered(st, sum * S1of15);
        ASSERT_NEAR(pull(v), 4 * double(st) / (1 + 0.0001 * T), 1e-9) << "n = " << n;
    }
}

TEST(Voices, Ins0_1StepsItsArpeggioEveryThousandSamples) {
    // Pitch runs base (0..998), x2 from 999, x4 from 1999, base from 2999; the sample follows the formula.
    silenceAll();
    Ins0_1& v = *static_cast<Ins0_1*>(instruments[1]);
    noteOn(v, 30);
    const float base = v.freq;
    double f = base;
    float st = 0;
    for (int n = 0; n < 3500; ++n) {
        double T = n + 1;
        if (n == 999 || n == 1999) f *= 2;
        if (n == 2999) f *= 0.25;
        double out = pull(v);
        ASSERT_EQ(double(v.freq), f) << "n = " << n;
        double W = 0.5 * (1 + std::sin(T / (R / (f * 0.01))));
        st = filtered(st, phaseFrac(T, f) > W ? 1 : -1);
        ASSERT_NEAR(out, 1.5 * double(st) / (1 + 0.0005 * T), 1e-9) << "n = " << n;
    }
    EXPECT_EQ(v.freq, base);
}

TEST(Voices, Ins0_1RetriggerRestoresBasePitchAndArpeggioStart) {
    // A new note-on restores freq = pitchOf(note); the first sample resets arpStep, so x2 comes at n = 999 again.
    silenceAll();
    Ins0_1& v = *static_cast<Ins0_1*>(instruments[1]);
    noteOn(v, 30);
    for (int n = 0; n < 1500; ++n) pull(v);  // mid-arpeggio: x2, arpStep 1
    ASSERT_EQ(v.arpStep, 1);
    noteOn(v, 30);
    float base = float(pitchOf(30));
    EXPECT_EQ(v.freq, base);
    for (int n = 0; n < 999; ++n) pull(v);
    EXPECT_EQ(v.arpStep, 0);
    EXPECT_EQ(v.freq, base);
    pull(v);
    EXPECT_EQ(v.freq, 2 * base);
}

TEST(Voices, Ins0_2FollowsTheTwoStageWarpedSine) {
    // u1, u2 truncated warps of T, sin(u2 f / R) filtered, times 2/(1+0.0005T).
    silenceAll();
    Instrument& v = *instruments[2];
    noteOn(v, 52);
    double f = v.freq;
    float st = 0;
    for (int n = 0; n < 5000; ++n) {
        double T = n + 1;
        double u1 = std::trunc(T + 100 * std::sin(T / (R / (8 * f))) / (1 + 0.002 * T));
        double u2 = std::trunc(T + 100 * std::sin(u1 / (R / (4 * f))) / (1 + 0.001 * T));
        st = filtered(st, std::sin(u2 / (R / f)));
        ASSERT_NEAR(pull(v), 2 * double(st) / (1 + 0.0005 * T), 1e-9) << "n = " << n;
    }
}

TEST(Voices, Ins0_3StacksFiveSquaresAndOvershootsFullScale) {
    // Five squares against 0.5, each +-2, filtered toward +-10, times 0.5/(1+0.0005T): beyond +-1 early on.
    silenceAll();
    Instrument& v = *instruments[3];
    noteOn(v, 45);
    double f = v.freq;
    float st = 0;
    double peak = 0;
    for (int n = 0; n < 5000; ++n) {
        double T = n + 1;
        float sum = 0;
        for (double k : {0.5, 1.0, 2.0, 4.0, 8.0}) sum = float(sum + (phaseFrac(T, f * k) > 0.5 ? 2 : -2));
        st = filtered(st, sum);
        double out = pull(v);
        ASSERT_NEAR(out, 0.5 * double(st) / (1 + 0.0005 * T), 1e-9) << "n = " << n;
        peak = std::max(peak, std::fabs(out));
    }
    EXPECT_GT(peak, 3.0);
}

TEST(Voices, ToneDrumSweepsAndDiesAtTenThousandSamples) {
    // Pitch class 3: c = (h + 20b + state)/2 with b = 0 once 0.01n reaches f; E = min(0.001T,1)*max(1-0.0001T,0).
    silenceAll();
    Instrument& v = *instruments[6];
    noteOn(v, 3 + 12 * 4);
    double f = v.freq;
    double st = 0;
    for (int n = 0; n < 12000; ++n) {
        double T = n + 1;
        double h = std::sin(T / (R / (f / (0.00001 * n + 0.0000001))));
        double g = f - 0.01 * n;
        double b = g > 0 ? std::sin(T / (R / g)) : 0;
        double c = (h + 20 * b + st) * 0.5;
        st = float(c);
        double E = std::min(0.001 * T, 1.0) * std::max(1 - 0.0001 * T, 0.0);
        double out = pull(v);
        if (T >= 10000) {
            ASSERT_EQ(out, 0.0) << "n = " << n;
        }
        if (n == 0) {
            EXPECT_NEAR(out, c * 0.001 * 0.9999, 1e-15);
        }
        ASSERT_NEAR(out, c * E, 1e-9) << "n = " << n;
        ASSERT_NEAR(double(v.state), st, 1e-6);
    }
}

TEST(Voices, NoiseDrumScalesItsRandomValueByTheEnvelope) {
    // Pitch class 5: c = r/32768 - 0.5 with r in 0..32767, stored in state; the first sample is c * 0.001 * 0.9999.
    silenceAll();
    Instrument& v = *instruments[7];
    noteOn(v, 5 + 12 * 3);
    seedNoise(12345);
    for (int n = 0; n < 11000; ++n) {
        double T = n + 1;
        double out = pull(v);
        double c = v.state;
        double r = (c + 0.5) * 32768;
        ASSERT_EQ(r, std::floor(r));
        ASSERT_TRUE(r >= 0 && r <= 32767);
        double E = std::min(0.001 * T, 1.0) * std::max(1 - 0.0001 * T, 0.0);
        ASSERT_EQ(out, c * E) << "n = " << n;
        if (n == 0) {
            EXPECT_DOUBLE_EQ(out, c * 0.001 * 0.9999);
        }
        if (T >= 10000) {
            ASSERT_EQ(out, 0.0);
        }
    }
}

TEST(Voices, DrumOnOtherPitchClassesIsSilentAndLeavesStateAlone) {
    // Any pitch class but 3 and 5 returns 0 for every sample; state is not touched.
    silenceAll();
    Instrument& v = *instruments[6];
    v.state = 0.25f;
    for (int note : {12, 13, 14, 16, 18, 19, 20, 21, 22, 23}) {
        noteOn(v, note);
        for (int n = 0; n < 2000; ++n) ASSERT_EQ(pull(v), 0.0) << "note " << note;
    }
    EXPECT_EQ(v.state, 0.25f);
}

TEST(Voices, NoiseIsUniformOverFifteenBitsAndAFunctionOfSeedNoteAndIndex) {
    // Values 0..32767, evenly spread, neighbours unrelated; the same seed, note count and index give the
    // same value, another note or seed another stream.
    silenceAll();
    seedNoise(7);
    Ins_Drum& drum = *static_cast<Ins_Drum*>(instruments[7]);
    noteOn(drum, 41);
    const uint32_t key = drum.noiseKey();
    int buckets[8] = {};
    int odd = 0;
    double products = 0;
    const int draws = 80000;
    for (int n = 0; n < draws; ++n) {
        const int32_t r = noiseValue(key, n);
        ASSERT_TRUE(r >= 0 && r <= 32767);
        ++buckets[r >> 12];
        odd += r & 1;
        products += (r / 32768.0 - 0.5) * (noiseValue(key, n + 1) / 32768.0 - 0.5);
    }
    for (int b : buckets) EXPECT_NEAR(b, draws / 8, draws / 80);
    EXPECT_NEAR(odd, draws / 2, draws / 40);
    EXPECT_NEAR(products / draws, 0.0, 0.002);  // a correlation of neighbours near 0 (uniform variance is 1/12)
    EXPECT_EQ(drum.noiseKey(), key);  // nothing but a note-on or the seed changes it
    noteOn(drum, 41);
    EXPECT_NE(drum.noiseKey(), key);
    EXPECT_NE(static_cast<Ins_Drum*>(instruments[6])->noiseKey(), key);  // the other drum voice
    seedNoise(8);
    const uint32_t reseeded = drum.noiseKey();
    seedNoise(7);
    EXPECT_NE(drum.noiseKey(), reseeded);
    int same = 0;
    for (int n = 0; n < 1000; ++n) same += noiseValue(key, n) == noiseValue(drum.noiseKey(), n);
    EXPECT_LT(same, 10);
}

TEST(Voices, RunsCutAnywhereGiveTheSampleBySampleValues) {
    // Every voice rendered in runs of odd lengths leaves the values, pitch, memory and time that
    // nextSample gives sample by sample: exactly with the scalar kernels, within the vector sine's last bits otherwise.
    const int cuts[] = {1, 3, 16, 999, 2, 61, 1000, 1500, 7, 4000, 3000};  // 10589 samples: past the drums' end
    for (int lanes : {1, 8}) {
        useKernels(lanes);
        for (int voice = 0; voice < 8; ++voice) {
            for (int note : {40, 3 + 12 * 4, 5 + 12 * 3}) {
                SCOPED_TRACE("voice " + std::to_string(voice) + ", note " + std::to_string(note) + ", lanes " +
                             std::to_string(lanes));
                Instrument& v = *instruments[voice];
                auto start = [&] {
                    silenceAll();
                    seedNoise(9);
                    v.state = 0.3f;
                    noteOn(v, note);
                };
                start();
                std::vector<double> expected;
                for (int n = 0; n < 10589; ++n) expected.push_back(pull(v));
                const float state = v.state, freq = v.freq;
                start();
                std::vector<double> in(4000 + RunSlack), mem(4000 + RunSlack), out(4000 + RunSlack);
                int at = 0;
                for (int len : cuts) {
                    VoiceRun run;
                    run.count = len;
                    run.in = in.data();
                    run.mem = mem.data();
                    renderRun(v, run, out.data());
                    for (int i = 0; i < len; ++i, ++at) {
                        if (lanes == 1)
                            ASSERT_EQ(out[i], expected[at]) << "sample " << at;
                        else
                            ASSERT_NEAR(out[i], expected[at], 1e-9) << "sample " << at;
                    }
                }
                EXPECT_EQ(v.time, 10589);
                EXPECT_EQ(v.freq, freq);
                EXPECT_NEAR(v.state, state, lanes == 1 ? 0.0 : 1e-6);
            }
        }
    }
    useKernels(8);
}
