// The eight voices against samples worked out apart from their code, from
// the formulas, by tests/unit/voice_samples.py, and the edge cases: arpeggio
// steps and retrigger, drum envelope edges, noise statistics, runs cut
// anywhere.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/instruments.h"
#include "audio/kernels.h"
#include "tests/support/test_support.h"

namespace {

// What the render step does for a sounding voice: read time, bump it, ask.
double pull(Instrument& v) {
    int32_t n = v.time;
    v.time = n + 1;
    return v.nextSample(n);
}

// Sample n of a note: the value, and the voice's pitch and memory after it.
struct Sample {
    int n;
    double value;
    float freq, state;
};
struct VoiceCase {
    int voice, note;
    float stateBefore;  // left by an earlier note: a new note starts from it
    std::vector<Sample> samples;
};

// Printed by tests/unit/voice_samples.py. Ins0_1 at 998/999, 1998/1999 and
// 2998/2999 straddles its arpeggio steps; the tone drum rises over 1000
// samples, is silent from T = 10000, and with pitch 65.41 loses its second
// sine at n = 6541.
const VoiceCase Cases[] = {
    {0,
     40,
     0.0f,
     {
         {0, -0.2792179316309092, 277.1826171875f, -0.06981146335601807f},
         {1, -0.528952963851352, 277.1826171875f, -0.13226468861103058f},
         {2, -0.7521567506264843, 277.1826171875f, -0.1880955994129181f},
         {8, -1.6658037427493846, 277.1826171875f, -0.4168257415294647f},
         {539, -2.5632336198491887, 277.1826171875f, -0.6754120588302612f},
         {1000, 0.5537501769373172, 277.1826171875f, 0.15229514241218567f},
         {2999, 0.22974303135505086, 277.1826171875f, 0.07466648519039154f},
         {5999, 0.0657971715554595, 277.1826171875f, 0.0263188686221838f},
     }},
    {1,
     30,
     0.0f,
     {
         {0, -0.14992507322617377, 155.56349182128906f, -0.10000002384185791f},
         {1, -0.2847153481308159, 155.56349182128906f, -0.1900000423192978f},
         {998, -1.0003128740222265, 155.56349182128906f, -0.9999794363975525f},
         {999, -0.9999815225601196, 311.1269836425781f, -0.9999815225601196f},
         {1000, -0.9996501535862455, 311.1269836425781f, -0.9999833703041077f},
         {1998, -0.7501873680280727, 311.1269836425781f, -0.9999997615814209f},
         {1999, -0.5999997854232788, 622.2539672851562f, -0.7999997138977051f},
         {2998, -0.600101209015912, 622.2539672851562f, -0.9999686479568481f},
         {2999, -0.5999830842018128, 155.56349182128906f, -0.9999718070030212f},
         {3499, 0.5454544154080477, 155.56349182128906f, 0.9999997615814209f},
     }},
    {2,
     52,
     0.5f,
     {
         {0, 1.0230959444746621, 554.365234375f, 0.5118037462234497f},
         {1, 1.0989498306106738, 554.365234375f, 0.5500243902206421f},
         {2, 1.180003061927799, 554.365234375f, 0.5908865332603455f},
         {499, -0.7184374809265137, 554.365234375f, -0.44902342557907104f},
         {1999, -0.3439955413341522, 554.365234375f, -0.3439955413341522f},
         {4999, -0.10580597605024064, 554.365234375f, -0.18516045808792114f},
     }},
    {3,
     45,
     0.0f,
     {
         {0, -0.49975024408724594, 369.9944152832031f, -1.000000238418579f},
         {1, -0.949051175322328, 369.9944152832031f, -1.9000004529953003f},
         {2, -1.35297080129013, 369.9944152832031f, -2.710000514984131f},
         {40, -3.1687163185220557, 369.9944152832031f, -6.467350006103516f},
         {1000, -0.6796873557253783, 369.9944152832031f, -2.0397417545318604f},
         {4999, 0.1883758817400251, 369.9944152832031f, 1.3186311721801758f},
     }},
    {6,
     51,
     0.0f,
     {
         {0, -0.00016970240487655395, 523.2511596679688f, -0.1697193831205368f},
         {1, -7.11134076934045e-05, 523.2511596679688f, -0.035563815385103226f},
         {998, -14.483814717567771, 523.2511596679688f, -16.107446670532227f},
         {999, -14.377425817034737, 523.2511596679688f, -15.9749174118042f},
         {5000, -2.829959890225506, 523.2511596679688f, -5.661052227020264f},
         {9998, 0.0019011372337780683, 523.2511596679688f, 19.011371612548828f},
         {9999, 0.0, 523.2511596679688f, 18.989744186401367f},
         {11999, 0.0, 523.2511596679688f, 3.7917985916137695f},
     }},
    {6,
     15,
     0.0f,
     {
         {0, 5.320867787411615e-05, 65.4063949584961f, 0.053213998675346375f},
         {6539, -0.19086539798922048, 65.4063949584961f, -0.5516340732574463f},
         {6540, -0.2010644365189, 65.4063949584961f, -0.5812790989875793f},
         {6541, -0.20941143011190505, 65.4063949584961f, -0.6055853962898254f},
         {6542, -0.21355175440723495, 65.4063949584961f, -0.6177372336387634f},
         {8000, -0.12527904120848635, 65.4063949584961f, -0.6267085671424866f},
     }},
};

// Far below what any constant of the formulas moves (a single-precision 0.9
// taken as the double 0.9 shifts the values by about 1e-8), far above the
// last bits a different order of the same operations leaves.
constexpr double Tolerance = 1e-12;

}  // namespace

TEST(Voices, EachVoiceGivesTheSamplesWorkedOutFromItsFormula) {
    // Every voice class at chosen samples (the first ones, around the arpeggio steps at n = 999,
    // 1999 and 2999, the drum's attack, end and falling rate), with its pitch and memory after them:
    // values beyond +-1 left to the caller's clamp, the memory of the note before carried into the new one.
    for (const VoiceCase& c : Cases) {
        SCOPED_TRACE("voice " + std::to_string(c.voice) + ", note " + std::to_string(c.note));
        silenceVoices();
        Instrument& v = *instruments[c.voice];
        v.state = c.stateBefore;
        noteOn(v, c.note);
        int n = 0;
        double out = 0.0;
        for (const Sample& s : c.samples) {
            while (n <= s.n) out = pull(v), ++n;
            EXPECT_NEAR(out, s.value, Tolerance) << "n = " << s.n;
            if (s.value == 0.0) {
                EXPECT_EQ(out, 0.0) << "n = " << s.n;  // silent, not just small
            }
            EXPECT_EQ(v.freq, s.freq) << "n = " << s.n;
            EXPECT_EQ(v.state, s.state) << "n = " << s.n;
        }
    }
}

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
    silenceVoices();
    Ins0_1& v = *static_cast<Ins0_1*>(instruments[1]);
    v.time = 1234;
    v.state = 0.625f;
    v.arpStep = 2;
    noteOn(v, 37);
    EXPECT_EQ(v.note, 37);
    EXPECT_EQ(v.freq, 233.08187866210938f);  // 27.5 * 2^(37/12) = 233.0818808..., in single precision
    EXPECT_EQ(v.time, 0);
    EXPECT_EQ(v.state, 0.625f);
    EXPECT_EQ(v.arpStep, 2);
}

TEST(Voices, Ins0_1RetriggerRestoresBasePitchAndArpeggioStart) {
    // A new note-on restores freq = pitchOf(note); the first sample resets arpStep, so x2 comes at n = 999 again.
    silenceVoices();
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

TEST(Voices, NoiseDrumScalesItsRandomValueByTheEnvelope) {
    // Pitch class 5: c = r/32768 - 0.5 with r in 0..32767, kept in state, times the envelope
    // min(0.001T, 1) * max(1 - 0.0001T, 0): 0.001 * 0.9999 at the first sample, 0 from T = 10000.
    silenceVoices();
    Instrument& v = *instruments[7];
    noteOn(v, 5 + 12 * 3);
    seedNoise(12345);
    // (n, envelope) worked out by hand: T = n + 1.
    const struct {
        int n;
        double envelope;
    } edges[] = {{0, 0.0009999}, {499, 0.475},   {998, 0.8991999}, {999, 0.9},
                 {4999, 0.5},    {9998, 0.0001}, {9999, 0.0},      {10999, 0.0}};
    int n = 0;
    for (const auto& e : edges) {
        double out = 0.0;
        for (; n <= e.n; ++n) {
            out = pull(v);
            const double r = (double(v.state) + 0.5) * 32768;
            ASSERT_EQ(r, std::floor(r)) << "n = " << n;
            ASSERT_TRUE(r >= 0 && r <= 32767) << "n = " << n;
        }
        EXPECT_NEAR(out, double(v.state) * e.envelope, 1e-15) << "n = " << e.n;
        if (e.envelope == 0.0) {
            EXPECT_EQ(out, 0.0) << "n = " << e.n;
        }
    }
}

TEST(Voices, DrumOnOtherPitchClassesIsSilentAndLeavesStateAlone) {
    // Any pitch class but 3 and 5 returns 0 for every sample; state is not touched.
    silenceVoices();
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
    silenceVoices();
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
    EXPECT_EQ(drum.noiseKey(), key);            // nothing but a note-on or the seed changes it
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
                    silenceVoices();
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
