// Every input the fuzzers kept (fuzz/corpus/<target>/) and every input that
// once broke something (fuzz/crashes/<target>/) is replayed here, so the
// sanitizer builds see them on every run. Each input is judged against the
// tests' own decoder (tests/support/song_reference.h): a well-formed song file is
// loaded exactly and saves back to the same song; a damaged one is refused
// with the load-failure message and changes nothing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/file_commands.h"
#include "song/codec.h"
#include "tests/support/song_reference.h"
#include "tests/support/test_support.h"
#include "ui/frame.h"
#include "ui/status.h"

namespace {

// The kept inputs of one fuzz target; none when its folders do not exist.
std::vector<std::string> inputsOf(const std::string& target) {
    std::vector<std::string> all;
    for (const char* kind : {"corpus/", "crashes/"}) {
        const std::string folder = std::string(VORNA_SOURCE_DIR) + "/fuzz/" + kind + target;
        for (const std::string& name : folderEntries(folder))
            if (name[0] != '.') all.push_back(folder + "/" + name);
    }
    return all;
}

// What a file should load as, decided by the tests' own decoder: a song file
// that ends right after its packed image.
bool wellFormedSong(const Bytes& f, Bytes& image) {
    size_t used = 0;
    std::string error;
    return reference::readSong(f, image, used, error) && used == f.size();
}

// A song unlike anything the inputs hold, so a partial load would show.
void distinctSong() {
    initSong();
    Bytes image(SongImageSize);
    for (uint32_t i = 0; i < SongImageSize; ++i) image[i] = uint8_t(i * 131 + (i >> 10));
    applySongImage(image.data());
    editor.songName = "before";
    transport.orderPos = 9;
    transport.currentPattern = 33;
}

struct FuzzRegression : ::testing::Test {
    ScratchDir scratch{"fuzzreg"};  // each test works in its own folder
};

}  // namespace

TEST_F(FuzzRegression, KeptSongInputsLoadExactlyOrAreRefusedWholly) {
    // A damaged song file is refused with the load-failure message and leaves the
    // song, its name and the position untouched; a well-formed one loads exactly
    // the image its stream holds and round-trips through a save.
    std::vector<std::string> inputs = inputsOf("fuzz_load");
    // The unpacker's inputs make good damaged song files too.
    for (const std::string& p : inputsOf("fuzz_unpack")) inputs.push_back(p);
    ASSERT_FALSE(inputs.empty()) << "no kept fuzz inputs found";
    int accepted = 0, refused = 0;
    for (const std::string& path : inputs) {
        SCOPED_TRACE(path);
        const Bytes file = readFile(path);
        Bytes expected;
        const bool good = wellFormedSong(file, expected);

        distinctSong();
        const Bytes before = currentImage();
        const bool loaded = openSongBytes("in", file.data(), file.size());
        ASSERT_EQ(loaded, good);
        if (!good) {
            ++refused;
            // Read from disk, the same file is refused the same way.
            writeFile("in.vorna", file);
            ASSERT_FALSE(openSongNamed("in"));
            EXPECT_EQ(statusText,
                      "FILE \"IN\" COULDN'T BE LOADED. IT'S EITHER INVALID OR FOR A DIFFERENT VERSION OF VORNATRACKER");
            EXPECT_TRUE(currentImage() == before);
            EXPECT_EQ(editor.songName, "before");
            EXPECT_EQ(transport.orderPos, 9);
            EXPECT_EQ(transport.currentPattern, 33);
            continue;
        }
        ++accepted;
        EXPECT_EQ(statusText, "FILE \"IN\" SUCCESSFULLY LOADED");
        ASSERT_TRUE(currentImage() == expected);
        // Saved and loaded again through the disk, nothing changes.
        ASSERT_TRUE(saveSong("again"));
        distinctSong();
        ASSERT_TRUE(openSongNamed("again"));
        EXPECT_TRUE(currentImage() == expected);
    }
    // Both kinds must be among the kept inputs, or half the test is idle.
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 0);
}

TEST_F(FuzzRegression, KeptStreamsUnpackAsTheTokensSayOrAreRefused) {
    // The unpacker writes exactly what the tokens say into a buffer of any size,
    // or refuses a cut-off token or an overflowing stream; packing any data
    // returns it unchanged.
    const std::vector<std::string> inputs = inputsOf("fuzz_unpack");
    ASSERT_FALSE(inputs.empty()) << "no kept fuzz inputs found";
    for (const std::string& path : inputs) {
        SCOPED_TRACE(path);
        const Bytes file = readFile(path);
        if (file.size() < 2) continue;
        // As the fuzzer reads them: two bytes of capacity, then the stream.
        const uint32_t capacity = uint32_t(file[0]) << 8 | file[1];
        const uint8_t* stream = file.data() + 2;
        const uint32_t length = uint32_t(file.size() - 2);

        Bytes expected;
        const bool whole = reference::unpack(stream, length, expected);
        Bytes out(capacity);  // exact size: the sanitizers see any overrun
        const int64_t written = unpackRle(stream, out.data(), length, capacity);
        if (!whole || expected.size() > capacity) {
            EXPECT_EQ(written, -1);
        } else {
            ASSERT_EQ(written, int64_t(expected.size()));
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
        }

        if (length == 0) continue;
        Bytes packed(packedBound(length));
        const uint32_t n = packRle(stream, packed.data(), length);
        ASSERT_LE(n, packedBound(length));
        Bytes back;
        ASSERT_TRUE(reference::unpack(packed.data(), n, back));
        EXPECT_TRUE(back == Bytes(stream, stream + length));
    }
}
