// The run-length codec: exact packed bytes, round trips, and a bounded unpacker.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "song/codec.h"

using Bytes = std::vector<uint8_t>;

static Bytes pack(const Bytes& in) {
    Bytes out(packedBound(uint32_t(in.size())) + 8, 0xEE);  // slack to catch writes past the bound
    uint32_t n = packRle(in.data(), out.data(), uint32_t(in.size()));
    EXPECT_LE(n, packedBound(uint32_t(in.size())));
    for (std::size_t i = packedBound(uint32_t(in.size())); i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE);
    out.resize(n);
    return out;
}

// Unpacks into a buffer of exactly `capacity` bytes; *written gets the result.
static Bytes unpack(const Bytes& packed, uint32_t capacity, int64_t* written) {
    Bytes out(capacity);
    *written = unpackRle(packed.data(), out.data(), uint32_t(packed.size()), capacity);
    if (*written >= 0) out.resize(std::size_t(*written));
    return out;
}

static Bytes repeat(std::size_t n, uint8_t v) { return Bytes(n, v); }

TEST(Codec, PacksRunsAndLiteralsByteForByte) {
    // Runs of four or more become a token behind the least frequent byte; shorter runs stay literal.
    EXPECT_EQ(pack({'a', 'b', 'c'}), (Bytes{0x00, 0x61, 0x62, 0x63}));
    EXPECT_EQ(pack(repeat(4, 0x61)), (Bytes{0x00, 0x00, 0x03, 0x61}));
    EXPECT_EQ(pack(repeat(200, 5)), (Bytes{0x00, 0x00, 0x80, 0xC7, 0x05}));
    EXPECT_EQ(pack(repeat(128, 5)), (Bytes{0x00, 0x00, 0x7F, 0x05}));
    EXPECT_EQ(pack(repeat(129, 5)), (Bytes{0x00, 0x00, 0x80, 0x80, 0x05}));
    EXPECT_EQ(pack(repeat(32768, 5)), (Bytes{0x00, 0x00, 0xFF, 0xFF, 0x05}));
    EXPECT_EQ(pack(repeat(32769, 5)), (Bytes{0x00, 0x00, 0xFF, 0xFF, 0x05, 0x05}));
    EXPECT_EQ(pack({0x00}), (Bytes{0x01, 0x00}));
}

TEST(Codec, AllByteValuesOnceEscapeTheSmallestValue) {
    // With all counts equal the smallest value is the escape; its single use costs two bytes.
    Bytes in(256);
    for (int i = 0; i < 256; ++i) in[i] = uint8_t(i);
    Bytes expected{0x00, 0x00, 0x00};
    for (int i = 1; i < 256; ++i) expected.push_back(uint8_t(i));
    Bytes got = pack(in);
    EXPECT_EQ(got.size(), 258u);
    EXPECT_EQ(got, expected);
}

TEST(Codec, AllZeroSongImagePacksToTwentyBytes) {
    // 131140 zero bytes pack to 20: the escape 1, four longest runs of 32768 and one of 68 (a fresh
    // song's 25 bytes: song_file_test).
    Bytes zeros{0x01};
    for (int i = 0; i < 4; ++i) zeros.insert(zeros.end(), {0x01, 0xFF, 0xFF, 0x00});
    zeros.insert(zeros.end(), {0x01, 0x43, 0x00});
    EXPECT_EQ(pack(Bytes(131140, 0)), zeros);
}

TEST(Codec, EscapeRunsOfOneToThreeUseTheShortEscapeToken) {
    // One, two or three escape values are written as the escape and a count of 0, 1 or 2.
    Bytes in;
    for (int k = 0; k < 8; ++k)
        for (int v = 0; v < 256; ++v)
            if (v != 7) in.push_back(uint8_t(v));
    // 0x07 occurs six times in all, every other value eight times: 0x07 is the escape.
    const Bytes tail{7, 1, 7, 7, 1, 7, 7, 7};
    in.insert(in.end(), tail.begin(), tail.end());
    Bytes got = pack(in);
    ASSERT_EQ(got[0], 0x07);
    EXPECT_EQ(Bytes(got.end() - 8, got.end()), (Bytes{0x07, 0x00, 0x01, 0x07, 0x01, 0x01, 0x07, 0x02}));
}

TEST(Codec, UnpackingThePackerOutputGivesBackTheInput) {
    // Any output of the packer, with its returned length, unpacks to exactly its input.
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 300; ++trial) {
        std::size_t n = 1 + rng() % (trial < 250 ? 3000 : 70000);
        Bytes in;
        // Runs of random lengths over a small or full alphabet, so every token form appears.
        unsigned alphabet = trial % 3 == 0 ? 256 : 1 + rng() % 6;
        while (in.size() < n) {
            std::size_t run = rng() % 4 == 0 ? rng() % 40000 : 1 + rng() % 6;
            in.insert(in.end(), std::min(run, n - in.size()), uint8_t(rng() % alphabet));
        }
        Bytes packed = pack(in);
        int64_t written = 0;
        Bytes out = unpack(packed, uint32_t(n), &written);
        ASSERT_EQ(written, int64_t(n)) << "trial " << trial;
        ASSERT_EQ(out, in) << "trial " << trial;
    }
}

TEST(Codec, WorstCaseInputFillsThePackedBoundExactly) {
    // When every value is equally frequent and never repeats, each escape costs one extra byte.
    Bytes in;
    for (int k = 0; k < 40; ++k)
        for (int v = 0; v < 256; ++v) in.push_back(uint8_t(v));
    Bytes packed = pack(in);
    EXPECT_EQ(packed.size(), packedBound(uint32_t(in.size())));
    int64_t written = 0;
    EXPECT_EQ(unpack(packed, uint32_t(in.size()), &written), in);
}

TEST(Codec, UnpackerTakesEveryTokenFormAsWrittenAndRefusesCutOffTokensAndOverflow) {
    // A token missing its count, low count byte or value byte is an error, not a read past the end; a
    // stream standing for more bytes than the buffer holds is refused, exactly full is fine; an empty
    // stream writes nothing, escape counts 0..2 give escape copies, long counts below 3 are accepted.
    const struct {
        Bytes stream;
        uint32_t capacity;
        int64_t written;  // -1: refused
        Bytes out;
    } cases[] = {
        {{0x01, 0x01}, 1000, -1, {}},
        {{0x01, 0x01, 0x05}, 1000, -1, {}},
        {{0x01, 0x01, 0x85}, 1000, -1, {}},
        {{0x01, 0x01, 0x85, 0x00}, 1000, -1, {}},
        {{0x01, 0x01, 0x85, 0x00, 0x09}, 2000, 0x500 + 1, Bytes(0x500 + 1, 0x09)},
        {{0x00, 0x00, 0x03, 0x61}, 3, -1, {}},
        {{0x00, 0x00, 0x03, 0x61}, 4, 4, Bytes(4, 0x61)},
        {{0x00, 0x61, 0x62}, 1, -1, {}},
        {{0x00, 0x00, 0x02}, 2, -1, {}},
        {{0x00, 0x00, 0xFF, 0xFF, 0x05}, 32767, -1, {}},
        {{0x09}, 10, 0, {}},
        {{0x09, 0x09, 0x00, 0x09, 0x02}, 10, 4, {9, 9, 9, 9}},
        {{0x09, 0x09, 0x80, 0x00, 0x41, 0x42}, 10, 2, {0x41, 0x42}},
        {{0x09, 0x09, 0x80, 0x02, 0x41}, 10, 3, {0x41, 0x41, 0x41}},
    };
    for (const auto& c : cases) {
        // Each stream lies in a block of its exact size, so a read past it trips the sanitizers.
        int64_t written = 0;
        const Bytes out = unpack(c.stream, c.capacity, &written);
        EXPECT_EQ(written, c.written) << "case " << &c - cases;
        EXPECT_EQ(written < 0 ? Bytes{} : out, c.out) << "case " << &c - cases;
    }
    EXPECT_EQ(unpackRle(nullptr, nullptr, 0, 0), 0);
}
