// The song named on the command line: the arguments taken, the name made of
// it, and the song it opens.
#include <gtest/gtest.h>

#include <SDL.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/file_commands.h"
#include "tests/support/keys.h"
#include "tests/support/test_support.h"
#include "ui/status.h"

// ---- the song named on the command line ----------------------------------------

TEST(CommandLine, OneSongHelpAndVersionAreTakenAnythingElseIsAMistake) {
    // vornatracker [SONG]: one name (also "-" or after "--"), -h/--help, --version; other options or a second name are errors.
    struct Case {
        std::vector<const char*> argv;
        std::string song;
        bool help, version, error;
    };
    const Case cases[] = {
        {{"vornatracker"}, "", false, false, false},
        {{"vornatracker", "songs/demo.vorna"}, "songs/demo.vorna", false, false, false},
        {{"vornatracker", "--help"}, "", true, false, false},
        {{"vornatracker", "-h", "tune"}, "tune", true, false, false},
        {{"vornatracker", "--version"}, "", false, true, false},
        {{"vornatracker", "-"}, "-", false, false, false},
        {{"vornatracker", "--", "--odd name"}, "--odd name", false, false, false},
        {{"vornatracker", "--bogus"}, "", false, false, true},
        {{"vornatracker", "-x", "tune"}, "", false, false, true},
        {{"vornatracker", "--help=1"}, "", false, false, true},
        {{"vornatracker", "one", "two"}, "one", false, false, true},
    };
    for (const Case& c : cases) {
        const EditorArguments got = parseEditorArguments(int(c.argv.size()), c.argv.data());
        const std::string what = c.argv.size() > 1 ? c.argv[1] : "(none)";
        EXPECT_EQ(got.song, c.song) << what;
        EXPECT_EQ(got.help, c.help) << what;
        EXPECT_EQ(got.version, c.version) << what;
        EXPECT_EQ(!got.error.empty(), c.error) << what << ": " << got.error;
    }
}

TEST(CommandLine, SongNameIsTheArgumentWithoutItsExtension) {
    // A trailing ".vorna" is dropped as the open prompt would not have it; a path stays a path.
    EXPECT_EQ(songNameFromArgument("tune.vorna"), "tune");
    EXPECT_EQ(songNameFromArgument("tune"), "tune");
    EXPECT_EQ(songNameFromArgument("../songs/demo.vorna"), "../songs/demo");
    EXPECT_EQ(songNameFromArgument("/tmp/a.vorna.vorna"), "/tmp/a.vorna");
    EXPECT_EQ(songNameFromArgument("tune.VORNA"), "tune.VORNA");
    EXPECT_EQ(songNameFromArgument("tune.vorna.bak"), "tune.vorna.bak");
    EXPECT_EQ(songNameFromArgument(".vorna"), ".vorna");  // a name of its own, never the empty name
    EXPECT_EQ(songNameFromArgument("a.vorn"), "a.vorn");
}

TEST_F(Keys, SongGivenOnTheCommandLineOpensAsWithF10AndF11SavesItBack) {
    // The song loads with or without ".vorna", through a path; its name is what was given, so F11 writes the same file.
    ScratchDir dir("keys");
    ASSERT_EQ(mkdir("sub", 0755), 0);
    for (const char* given : {"sub/Tune.vorna", "sub/Tune"}) {
        initSong();
        cellAt(1, 0, 4).note = 50;
        song.speed = 6;
        ASSERT_TRUE(saveSong("sub/Tune"));
        initSong();
        ASSERT_TRUE(openSongNamed(songNameFromArgument(given))) << given;
        EXPECT_EQ(cellAt(1, 0, 4).note, 50) << given;
        EXPECT_EQ(song.speed, 6) << given;
        EXPECT_EQ(editor.songName, "sub/Tune") << given;
        EXPECT_EQ(statusText, "FILE \"SUB/TUNE\" SUCCESSFULLY LOADED") << given;

        // An edit, then F11: no prompt, back into sub/Tune.vorna.
        cellAt(2, 0, 0).note = 61;
        press(SDLK_F11);
        EXPECT_TRUE(mainLoop.keyHeld) << "a prompt ran for " << given;
        EXPECT_FALSE(songModified()) << given;
        initSong();
        ASSERT_TRUE(loadSong("sub/Tune")) << given;
        EXPECT_EQ(cellAt(2, 0, 0).note, 61) << given;
        EXPECT_EQ(cellAt(1, 0, 4).note, 50) << given;
    }
}
