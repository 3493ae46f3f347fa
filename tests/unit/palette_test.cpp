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
