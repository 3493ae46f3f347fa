// The palette: its colours from one base colour, clamped and packed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

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
        {41,
         21,
         7,
         {{background, rgb(41, 21, 7)},
          {textBright, rgb(164, 73, 22)},
          {textDim, rgb(123, 56, 17)},
          {panel, rgb(57, 27, 9)},
          {panelLit, rgb(69, 33, 10)},
          {volumeColour, rgb(36, 84, 5)},
          {effectColour, rgb(196, 18, 21)},
          {paramColour, rgb(139, 77, 7)},
          {frameColour, rgb(90, 45, 14)},
          {beatColour, rgb(147, 84, 24)},
          {cursorColour, rgb(90, 42, 12)}}},
        {49,
         67,
         69,
         {{background, rgb(49, 67, 69)},
          {textBright, rgb(196, 234, 217)},
          {textDim, rgb(147, 178, 167)},
          {panel, rgb(68, 89, 88)},
          {panelLit, rgb(83, 105, 103)},
          {volumeColour, rgb(44, 255, 49)},
          {effectColour, rgb(235, 58, 207)},
          {paramColour, rgb(166, 245, 69)},
          {frameColour, rgb(107, 145, 147)},
          {beatColour, rgb(176, 255, 236)},
          {cursorColour, rgb(107, 134, 128)}}},
    };
    for (const auto& t : themes) {
        setPalette(t.r, t.g, t.b);
        for (const Expected& e : t.entries)
            EXPECT_EQ(palette[e.entry], e.colour)
                << "entry " << e.entry << " of base " << t.r << "," << t.g << "," << t.b;
    }
}

// The contrast ratio of two colours as readability guides define it: relative
// luminances of the linearised sRGB components, (lighter + 0.05) / (darker + 0.05).
static double contrast(uint32_t a, uint32_t b) {
    auto luminance = [](uint32_t c) {
        auto linear = [](int v) {
            const double s = v / 255.0;
            return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(int(c >> 16 & 0xFF)) + 0.7152 * linear(int(c >> 8 & 0xFF)) +
               0.0722 * linear(int(c & 0xFF));
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(Palette, BlockHighlightIsHalfTheBaseColourAndEveryDigitReadsOnItAtLeastAsWellAsOnTheRowBar) {
    // blockColour is the base colour halved, (30, 35, 40) for the default theme. For every theme the editor
    // makes (each base component 30..149) every digit colour contrasts with it at least as much as with the
    // current-row bar, which every theme already has to keep readable.
    setPalette(60, 70, 80);
    EXPECT_EQ(palette[blockColour], rgb(30, 35, 40));
    setPalette(149, 31, 100);
    EXPECT_EQ(palette[blockColour], rgb(74, 15, 50));
    int themes = 0;
    for (int r = 30; r <= 149; r += 7)
        for (int g = 30; g <= 149; g += 7)
            for (int b = 30; b <= 149; b += 7) {
                setPalette(r, g, b);
                ++themes;
                for (int digit : {textBright, volumeColour, effectColour, paramColour})
                    ASSERT_GE(contrast(palette[digit], palette[blockColour]), contrast(palette[digit], palette[panel]))
                        << "digit colour " << digit << " in theme " << r << "," << g << "," << b;
            }
    EXPECT_EQ(themes, 18 * 18 * 18);
}
