// Configuration files: first token only, stream extraction rules, defaults.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "app/config.h"
#include "test_support.h"

namespace {

class Config : public ::testing::Test {
protected:
    ScratchDir scratch{"config"};  // each test works in its own folder
    void SetUp() override {
        ASSERT_EQ(mkdir("conf", 0755), 0);
        ASSERT_EQ(mkdir("conf/audio", 0755), 0);
        ASSERT_EQ(mkdir("conf/video", 0755), 0);
    }
    static void put(const std::string& key, const std::string& content) {
        std::ofstream out("conf/" + key + ".conf", std::ios::binary | std::ios::trunc);
        out << content;
    }
};

}  // namespace

TEST_F(Config, DriverTextIsTheFirstTokenAsWritten) {
    // The driver is the first token, white space skipped, case kept, the rest ignored.
    const std::pair<const char*, const char*> cases[] = {
        {"dsound\n", "dsound"},       {"\n\n  \tdsound", "dsound"}, {"DSOUND", "DSOUND"},
        {"dsound2", "dsound2"},       {"alsa jack\n", "alsa"},     {"\"dsound\"", "\"dsound\""},
    };
    for (auto& [content, expected] : cases) {
        put("audio/driver", content);
        EXPECT_EQ(readConfigText("audio/driver"), expected) << content;
        EXPECT_EQ(configDriver(), expected) << content;
    }
}

TEST_F(Config, MissingOrEmptyDriverFallsBackToDsound) {
    // No file, an empty file, blanks only, or a folder give the empty text and the default driver.
    EXPECT_EQ(readConfigText("audio/driver"), "");
    EXPECT_EQ(configDriver(), "dsound");
    for (const char* content : {"", " \n\t\n"}) {
        put("audio/driver", content);
        EXPECT_EQ(readConfigText("audio/driver"), "");
        EXPECT_EQ(configDriver(), "dsound");
    }
    unlink("conf/audio/driver.conf");
    ASSERT_EQ(mkdir("conf/audio/driver.conf", 0755), 0);
    EXPECT_EQ(readConfigText("audio/driver"), "");
    EXPECT_EQ(configDriver(), "dsound");
}

TEST_F(Config, IntegerTakesSignAndDigitsUpToTheFirstOtherCharacter) {
    // An optional sign and decimal digits; reading stops at the first character that cannot continue.
    const std::pair<const char*, int32_t> cases[] = {
        {"512 frames", 512},  {"+512", 512},           {"\n  -40\n", -40},          {"1024abc", 1024},
        {"0x20", 0},          {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"007", 7},
    };
    for (auto& [content, expected] : cases) {
        put("audio/dsound_buffersize", content);
        std::optional<int32_t> got = readConfigInt("audio/dsound_buffersize");
        ASSERT_TRUE(got.has_value()) << content;
        EXPECT_EQ(*got, expected) << content;
    }
}

TEST_F(Config, IntegerThatIsNoNumberOrOutside32BitsHasNoValue) {
    // A token not beginning as a number, or beyond the 32-bit signed range, gives no value.
    for (const char* content : {"", "   ", "abc", "-", "+ 5", "2147483648", "-2147483649",
                                "99999999999999999999999", "\x01\xff\x80\x00"}) {
        put("audio/dsound_buffersize", content);
        EXPECT_FALSE(readConfigInt("audio/dsound_buffersize").has_value()) << content;
    }
    put("audio/dsound_buffersize", std::string("\0\0" "512", 5));  // binary garbage with NULs
    EXPECT_FALSE(readConfigInt("audio/dsound_buffersize").has_value());
    unlink("conf/audio/dsound_buffersize.conf");
    EXPECT_FALSE(readConfigInt("audio/dsound_buffersize").has_value());
}

TEST_F(Config, BufferSizeOutside16To8192BecomesTheDefault512) {
    // Sizes 16..8192 are used as written; missing, malformed or out-of-range sizes give 512.
    EXPECT_EQ(configBufferFrames(), 512u);
    const std::pair<const char*, unsigned> cases[] = {
        {"256", 256}, {"16", 16},   {"8192", 8192}, {"15", 512},          {"8193", 512},
        {"0", 512},   {"-512", 512}, {"huge", 512},  {"99999999999", 512}, {"1024 frames", 1024},
    };
    for (auto& [content, expected] : cases) {
        put("audio/dsound_buffersize", content);
        EXPECT_EQ(configBufferFrames(), expected) << content;
    }
    unlink("conf/audio/dsound_buffersize.conf");
    ASSERT_EQ(mkdir("conf/audio/dsound_buffersize.conf", 0755), 0);
    EXPECT_EQ(configBufferFrames(), 512u);
}

TEST_F(Config, FlagIsTheNumberZeroOrOne) {
    // 1 sets, 0 clears, words after it are ignored; any other number or word gives no value.
    const std::pair<const char*, bool> valid[] = {{"1", true}, {"0", false}, {"1 yes", true}, {"\n0\n", false}};
    for (auto& [content, expected] : valid) {
        put("video/sdl_fullscreen", content);
        std::optional<bool> got = readConfigFlag("video/sdl_fullscreen");
        ASSERT_TRUE(got.has_value()) << content;
        EXPECT_EQ(*got, expected) << content;
    }
    for (const char* content : {"2", "-1", "true", "false", "yes", "", "4294967297", "\x7f\x45LF"}) {
        put("video/sdl_fullscreen", content);
        EXPECT_FALSE(readConfigFlag("video/sdl_fullscreen").has_value()) << content;
    }
}

TEST_F(Config, FlagsDefaultToWindowedWithSplash) {
    // Without a valid flag the window is not full screen and the splash is shown.
    EXPECT_FALSE(configFullscreen());
    EXPECT_TRUE(configSplash());
    put("video/sdl_fullscreen", "true");
    put("video/splashscreen", "2");
    EXPECT_FALSE(configFullscreen());
    EXPECT_TRUE(configSplash());
    put("video/sdl_fullscreen", "1");
    put("video/splashscreen", "0");
    EXPECT_TRUE(configFullscreen());
    EXPECT_FALSE(configSplash());
    unlink("conf/video/splashscreen.conf");
    ASSERT_EQ(mkdir("conf/video/splashscreen.conf", 0755), 0);
    EXPECT_TRUE(configSplash());
}

TEST_F(Config, EveryReadOpensTheFileAgain) {
    // Two reads of the same key see a change made between them.
    put("audio/driver", "dsound");
    put("audio/dsound_buffersize", "256");
    put("video/splashscreen", "1");
    EXPECT_EQ(readConfigText("audio/driver"), "dsound");
    EXPECT_EQ(readConfigInt("audio/dsound_buffersize"), 256);
    EXPECT_EQ(readConfigFlag("video/splashscreen"), true);
    put("audio/driver", "other");
    put("audio/dsound_buffersize", "1024");
    put("video/splashscreen", "0");
    EXPECT_EQ(readConfigText("audio/driver"), "other");
    EXPECT_EQ(readConfigInt("audio/dsound_buffersize"), 1024);
    EXPECT_EQ(readConfigFlag("video/splashscreen"), false);
}

TEST_F(Config, StrangeFilesGiveTheDefaultAtOnceAndHugeOnesCostBoundedMemory) {
    // A FIFO, a device or a socket in place of a setting gives its default without waiting; a token
    // is read up to 256 bytes, so a link to /dev/zero or a file of endless digits costs nothing.
    ASSERT_EQ(mkfifo("conf/audio/driver.conf", 0644), 0);  // no writer will ever come
    ASSERT_EQ(symlink("/dev/zero", "conf/audio/dsound_buffersize.conf"), 0);
    ASSERT_EQ(symlink("/dev/urandom", "conf/video/splashscreen.conf"), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(configDriver(), "dsound");
    EXPECT_EQ(configBufferFrames(), 512u);
    EXPECT_TRUE(configSplash());
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    // 8 MB of digits: no number, and not read to the end.
    put("video/sdl_fullscreen", "1" + std::string(8 << 20, '0'));
    EXPECT_FALSE(readConfigFlag("video/sdl_fullscreen").has_value());
    // Blank lines before the word are still skipped, and a word of 256 letters is kept whole.
    put("video/sdl_fullscreen", std::string(10000, '\n') + "1 x");
    EXPECT_EQ(readConfigFlag("video/sdl_fullscreen"), true);
    unlink("conf/audio/driver.conf");
    put("audio/driver", std::string(256, 'd') + " next");
    EXPECT_EQ(readConfigText("audio/driver"), std::string(256, 'd'));
}
