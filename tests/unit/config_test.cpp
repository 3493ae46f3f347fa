// Configuration files: first token only, stream extraction rules, defaults.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

#include "app/config.h"
#include "tests/support/test_support.h"

namespace {

class Config : public ::testing::Test {
protected:
    ScratchDir scratch{"config"};  // each test works in its own folder
    // The user's own settings stay out of the tests: both user folders are scratch ones.
    EnvSettings env;
    void SetUp() override {
        env.set("XDG_CONFIG_HOME", scratch.dir + "/xdg");
        env.set("HOME", scratch.dir + "/home");
        ASSERT_EQ(mkdir("conf", 0755), 0);
        ASSERT_EQ(mkdir("conf/audio", 0755), 0);
        ASSERT_EQ(mkdir("conf/video", 0755), 0);
    }
    static void put(const std::string& key, const std::string& content, const std::string& folder = ".") {
        std::ofstream out(folder + "/conf/" + key + ".conf", std::ios::binary | std::ios::trunc);
        out << content;
    }
    // A folder in the place of the key's file.
    static void folderInTheWay(const std::string& key) {
        const std::string path = "conf/" + key + ".conf";
        unlink(path.c_str());
        ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    }
    // A data folder with conf/audio and conf/video, made below the scratch folder.
    std::string dataFolder(const std::string& relative) {
        std::string path = scratch.dir;
        for (size_t from = 0, to; from <= relative.size(); from = to + 1) {
            to = relative.find('/', from);
            if (to == std::string::npos) to = relative.size();
            path += "/" + relative.substr(from, to - from);
            mkdir(path.c_str(), 0755);
        }
        for (const char* sub : {"/conf", "/conf/audio", "/conf/video"}) mkdir((path + sub).c_str(), 0755);
        return path;
    }
};

}  // namespace

TEST_F(Config, DriverIsTheFirstTokenAsWrittenAndDsoundWithoutOne) {
    // The driver is the first token, white space skipped, case kept, the rest ignored; no file, an
    // empty file, blanks only, or a folder give the empty text and the default driver.
    EXPECT_EQ(readConfigText("audio/driver"), "");
    EXPECT_EQ(configDriver(), "dsound");
    const std::pair<const char*, const char*> cases[] = {
        {"dsound\n", "dsound"},
        {"\n\n  \tdsound", "dsound"},
        {"DSOUND", "DSOUND"},
        {"dsound2", "dsound2"},
        {"alsa jack\n", "alsa"},
        {"\"dsound\"", "\"dsound\""},
        {"", ""},
        {" \n\t\n", ""},
    };
    for (auto& [content, expected] : cases) {
        put("audio/driver", content);
        EXPECT_EQ(readConfigText("audio/driver"), expected) << content;
        EXPECT_EQ(configDriver(), *expected ? expected : "dsound") << content;
    }
    folderInTheWay("audio/driver");
    EXPECT_EQ(readConfigText("audio/driver"), "");
    EXPECT_EQ(configDriver(), "dsound");
}

TEST_F(Config, IntegerTakesSignAndDigitsUpToTheFirstOtherCharacterWithin32Bits) {
    // An optional sign and decimal digits; reading stops at the first character that cannot continue.
    // A token not beginning as a number, or beyond the 32-bit signed range, gives no value.
    const std::pair<std::string, std::optional<int32_t>> cases[] = {
        {"512 frames", 512},
        {"+512", 512},
        {"\n  -40\n", -40},
        {"1024abc", 1024},
        {"0x20", 0},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"007", 7},
        {"", {}},
        {"   ", {}},
        {"abc", {}},
        {"-", {}},
        {"+ 5", {}},
        {"2147483648", {}},
        {"-2147483649", {}},
        {"99999999999999999999999", {}},
        {"\x01\xff\x80", {}},
        {std::string("\0\0"
                     "512",
                     5),
         {}},  // binary garbage with NULs
    };
    for (auto& [content, expected] : cases) {
        put("audio/dsound_buffersize", content);
        EXPECT_EQ(readConfigInt("audio/dsound_buffersize"), expected) << content;
    }
    unlink("conf/audio/dsound_buffersize.conf");
    EXPECT_FALSE(readConfigInt("audio/dsound_buffersize").has_value());
}

TEST_F(Config, BufferSizeOutside16To8192BecomesTheDefault512) {
    // Sizes 16..8192 are used as written; missing, malformed or out-of-range sizes give 512.
    EXPECT_EQ(configBufferFrames(), 512u);
    const std::pair<const char*, unsigned> cases[] = {
        {"256", 256}, {"16", 16},    {"8192", 8192}, {"15", 512},          {"8193", 512},
        {"0", 512},   {"-512", 512}, {"huge", 512},  {"99999999999", 512}, {"1024 frames", 1024},
    };
    for (auto& [content, expected] : cases) {
        put("audio/dsound_buffersize", content);
        EXPECT_EQ(configBufferFrames(), expected) << content;
    }
    folderInTheWay("audio/dsound_buffersize");
    EXPECT_EQ(configBufferFrames(), 512u);
}

TEST_F(Config, FlagIsTheNumberZeroOrOne) {
    // 1 sets, 0 clears, words after it are ignored; any other number or word gives no value.
    const std::pair<const char*, std::optional<bool>> cases[] = {
        {"1", true},  {"0", false},  {"1 yes", true}, {"\n0\n", false}, {"2", {}},          {"-1", {}},
        {"true", {}}, {"false", {}}, {"yes", {}},     {"", {}},         {"4294967297", {}}, {"\x7f\x45LF", {}},
    };
    for (auto& [content, expected] : cases) {
        put("video/sdl_fullscreen", content);
        EXPECT_EQ(readConfigFlag("video/sdl_fullscreen"), expected) << content;
    }
}

TEST_F(Config, FlagsDefaultToWindowedWithSplash) {
    // Without a valid flag the window is not full screen and the splash is shown.
    EXPECT_FALSE(configFullscreen());
    EXPECT_TRUE(configSplash());
    const struct {
        const char *fullscreen, *splash;
        bool full, shown;
    } cases[] = {{"true", "2", false, true}, {"1", "0", true, false}};
    for (const auto& c : cases) {
        put("video/sdl_fullscreen", c.fullscreen);
        put("video/splashscreen", c.splash);
        EXPECT_EQ(configFullscreen(), c.full) << c.fullscreen;
        EXPECT_EQ(configSplash(), c.shown) << c.splash;
    }
    folderInTheWay("video/splashscreen");
    EXPECT_TRUE(configSplash());
}

TEST_F(Config, EveryReadOpensTheFileAgain) {
    // Two reads of the same key see a change made between them.
    const struct {
        const char *driver, *frames, *splash;
        int32_t size;
        bool shown;
    } writes[] = {{"dsound", "256", "1", 256, true}, {"other", "1024", "0", 1024, false}};
    for (const auto& w : writes) {
        put("audio/driver", w.driver);
        put("audio/dsound_buffersize", w.frames);
        put("video/splashscreen", w.splash);
        EXPECT_EQ(readConfigText("audio/driver"), w.driver);
        EXPECT_EQ(readConfigInt("audio/dsound_buffersize"), w.size);
        EXPECT_EQ(readConfigFlag("video/splashscreen"), w.shown);
    }
}

TEST_F(Config, EachFileIsTakenFromTheWorkingFolderThenTheUserFolderThenNowhere) {
    // The working folder's conf/ comes first, then $XDG_CONFIG_HOME/vornatracker/conf/, per key.
    const std::string user = dataFolder("xdg/vornatracker");
    EXPECT_EQ(userDataFolder(), scratch.dir + "/xdg/vornatracker");
    put("audio/driver", "jack", user);
    put("audio/dsound_buffersize", "1024", user);
    put("audio/dsound_buffersize", "256");
    EXPECT_EQ(configDriver(), "jack");      // only the user folder has it
    EXPECT_EQ(configBufferFrames(), 256u);  // the working folder wins
    EXPECT_EQ(configPath("audio/driver"), user + "/conf/audio/driver.conf");
    EXPECT_EQ(configPath("audio/dsound_buffersize"), "conf/audio/dsound_buffersize.conf");
    // Nowhere at all: the working folder's name, which fails to open and gives the default.
    EXPECT_EQ(configPath("video/splashscreen"), "conf/video/splashscreen.conf");
    EXPECT_TRUE(configSplash());
    // A splash picture is looked for the same way.
    EXPECT_EQ(dataFilePath("splash.dat"), "splash.dat");
    std::ofstream(user + "/splash.dat") << "picture";
    EXPECT_EQ(dataFilePath("splash.dat"), user + "/splash.dat");
    std::ofstream("splash.dat") << "picture";
    EXPECT_EQ(dataFilePath("splash.dat"), "splash.dat");
}

TEST_F(Config, WithoutAnAbsoluteXdgConfigHomeTheUserFolderIsUnderHome) {
    // $XDG_CONFIG_HOME unset, empty or relative means ~/.config/vornatracker.
    const std::string user = dataFolder("home/.config/vornatracker");
    put("audio/driver", "alsa", user);
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/xdg"}) {
        EnvSettings unset("XDG_CONFIG_HOME", value);
        EXPECT_EQ(userDataFolder(), scratch.dir + "/home/.config/vornatracker");
        EXPECT_EQ(configDriver(), "alsa");
    }
    env.set("XDG_CONFIG_HOME", nullptr);
    env.set("HOME", nullptr);
    EXPECT_EQ(userDataFolder(), "");  // no user folder is known: that place is skipped
    EXPECT_EQ(configDriver(), "dsound");
}

TEST_F(Config, AFileInTheWayInAnEarlierFolderHidesTheLaterOnes) {
    // The first place where the name exists is used even when it is a folder: the default, not the user's file.
    const std::string user = dataFolder("xdg/vornatracker");
    put("video/sdl_fullscreen", "1", user);
    EXPECT_TRUE(configFullscreen());
    folderInTheWay("video/sdl_fullscreen");
    EXPECT_FALSE(configFullscreen());
}

TEST_F(Config, ScaleIsOneToFourOrAutoAndAnythingElseIsOne) {
    // conf/video/scale.conf holds 1..4 or the word auto; missing or invalid gives 1.
    EXPECT_EQ(configScale(), 1);
    const std::pair<const char*, int> cases[] = {
        {"1", 1}, {"2\n", 2},       {"  3 times", 3}, {"4", 4},  {"auto", ScaleAuto}, {"\nauto\n", ScaleAuto},
        {"0", 1}, {"5", 1},         {"-2", 1},        {"2x", 1}, {"+2", 1},           {"AUTO", 1},
        {"", 1},  {"automatic", 1}, {"02", 1},
    };
    for (auto& [content, expected] : cases) {
        put("video/scale", content);
        EXPECT_EQ(configScale(), expected) << content;
    }
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
