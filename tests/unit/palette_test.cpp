// The palette: eleven colours from one base colour, clamped and packed.
#include <gtest/gtest.h>

#include "ui/palette.h"

static uint32_t rgb(int r, int g, int b) { return 0xFF000000u | r << 16 | g << 8 | b; }

TEST(Palette, DefaultBaseColourGivesTheElevenListedEntries) {
    // With the base colour (60, 70, 80) the entries are the listed (red, green, blue) triples.
    setPalette(60, 70, 80);
    EXPECT_EQ(palette[background], rgb(60, 70, 80));
    EXPECT_EQ(palette[textBright], rgb(240, 245, 252));
    EXPECT_EQ(palette[textDim], rgb(180, 186, 194));
    EXPECT_EQ(palette[panel], rgb(84, 93, 102));
    EXPECT_EQ(palette[panelLit], rgb(102, 110, 120));
    EXPECT_EQ(palette[volumeColour], rgb(54, 255, 57));
    EXPECT_EQ(palette[effectColour], rgb(255, 61, 240));
    EXPECT_EQ(palette[paramColour], rgb(204, 255, 80));
    EXPECT_EQ(palette[frameColour], rgb(132, 151, 171));
    EXPECT_EQ(palette[beatColour], rgb(216, 255, 255));
    EXPECT_EQ(palette[cursorColour], rgb(132, 140, 148));
}

TEST(Palette, ComponentsAreClampedTo0To255) {
    // setPalette(200, 10, 0): textBright's red 800 is clamped, so textBright is (255, 35, 0);
    // the blue of effectColour stays 0.
    setPalette(200, 10, 0);
    EXPECT_EQ(palette[textBright], rgb(255, 35, 0));
    EXPECT_EQ(palette[effectColour] & 0xFF, 0u);
    EXPECT_EQ(packColour(-5, 300, 128), rgb(0, 255, 128));
}

TEST(Palette, EveryFractionalFactorIsTheListedOneToTheHundredth) {
    // Each entry is the base times its factor, truncated: at these two bases a factor
    // off by 0.01 either way changes at least one entry (worked out from the table).
    struct Expected {
        int entry;
        uint32_t colour;
    };
    const struct {
        int r, g, b;
        Expected entries[11];
    } themes[] = {
        {41, 21, 7, {{background, rgb(41, 21, 7)}, {textBright, rgb(164, 73, 22)}, {textDim, rgb(123, 56, 17)},
                     {panel, rgb(57, 27, 9)}, {panelLit, rgb(69, 33, 10)}, {volumeColour, rgb(36, 84, 5)},
                     {effectColour, rgb(196, 18, 21)}, {paramColour, rgb(139, 77, 7)}, {frameColour, rgb(90, 45, 14)},
                     {beatColour, rgb(147, 84, 24)}, {cursorColour, rgb(90, 42, 12)}}},
        {49, 67, 69, {{background, rgb(49, 67, 69)}, {textBright, rgb(196, 234, 217)}, {textDim, rgb(147, 178, 167)},
                      {panel, rgb(68, 89, 88)}, {panelLit, rgb(83, 105, 103)}, {volumeColour, rgb(44, 255, 49)},
                      {effectColour, rgb(235, 58, 207)}, {paramColour, rgb(166, 245, 69)},
                      {frameColour, rgb(107, 145, 147)}, {beatColour, rgb(176, 255, 236)},
                      {cursorColour, rgb(107, 134, 128)}}},
    };
    for (const auto& t : themes) {
        setPalette(t.r, t.g, t.b);
        for (const Expected& e : t.entries)
            EXPECT_EQ(palette[e.entry], e.colour) << "entry " << e.entry << " of base " << t.r << "," << t.g << "," << t.b;
    }
}
