// The screen sections and the frame, drawn onto offscreen 640x480 surfaces and
// checked at the positions and colours of the screen layout.
#include <gtest/gtest.h>

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "audio/sequencer.h"
#include "song/song.h"
#include "tests/support/surfaces.h"
#include "ui/panels.h"
#include "ui/status.h"

namespace {

uint32_t rgb(int r, int g, int b) { return 0xFF000000u | r << 16 | g << 8 | b; }

// The default theme's entries, as listed for base colour (60, 70, 80).
const uint32_t Back = rgb(60, 70, 80), Bright = rgb(240, 245, 252), Dim = rgb(180, 186, 194), Panel = rgb(84, 93, 102),
               Lit = rgb(102, 110, 120), Volume = rgb(54, 255, 57), Effect = rgb(255, 61, 240),
               Param = rgb(204, 255, 80), Frame = rgb(132, 151, 171), Beat = rgb(216, 255, 255),
               Cursor = rgb(132, 140, 148);

// Glyph rows, 0x10 = leftmost pixel.
using Rows = std::vector<int>;

class Sections : public ::testing::Test {
protected:
    SDL_Surface* s = nullptr;
    void SetUp() override {
        initSong();
        restingScreen();
        statusText.clear();
        statusTimer = 0;
        engine.outputLevel = 0.0;
        s = SDL_CreateRGBSurface(SDL_SWSURFACE, 640, 480, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
        fillRect(s, 0, 0, 640, 480, Back);
    }
    void TearDown() override { SDL_FreeSurface(s); }
    uint32_t at(int x, int y) const { return pixelAt(s, x, y); }
    Rows rows(int x, int y, uint32_t colour) const { return glyphRows(s, x, y, colour); }
    // How many pixels of the area x0..x1, y0..y1 have the colour.
    int count(int x0, int y0, int x1, int y1, uint32_t colour) const {
        int n = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) n += at(x, y) == colour;
        return n;
    }
    // The n characters shown from (x, y) in the colour, read back through the
    // font: ' ' for a blank, '!' where the pixels are no character of it.
    std::string shown(int x, int y, int n, uint32_t colour) const {
        std::string out;
        for (int i = 0; i < n; ++i) {
            const Rows r = rows(x + GlyphAdvance * i, y, colour);
            char c = '!';
            for (int code = 32; code < 96 && c == '!'; ++code)
                if (fontRows(code) == r) c = char(code);
            out += c;
        }
        return out;
    }
    // A cell of the pattern view: note, volume, effect and parameter, each in its own colour.
    std::string cellShown(int channel, int row) const {
        const int x = 122 + 50 * channel, y = 87 + 6 * row;
        return shown(x, y, 3, Bright) + shown(x + 18, y, 2, Volume) + shown(x + 30, y, 1, Effect) +
               shown(x + 36, y, 2, Param);
    }
    // Fills rows 0.. of channel 0, pattern 0 with the cells, draws the pattern
    // view and checks each row's text.
    struct ShownCell {
        int note, volume, effect, param;
        const char* text;
    };
    void expectCellsShown(std::initializer_list<ShownCell> cells) {
        int row = 0;
        for (const ShownCell& c : cells) setCell(0, 0, row++, c.note, c.volume, c.effect, c.param);
        drawPatternView(s);
        row = 0;
        for (const ShownCell& c : cells) {
            EXPECT_EQ(cellShown(0, row), c.text) << "row " << row;
            ++row;
        }
    }
    static Rows fontRows(int code) {
        const uint8_t* g = glyphPixels(code);
        Rows out(5, 0);
        for (int j = 0; j < 25; ++j)
            if (g[j]) out[j / 5] |= 0x10 >> (j % 5);
        return out;
    }
    static void setCell(int c, int p, int r, int note, int volume, int effect, int param) {
        Cell& cell = cellAt(c, p, r);
        cell.note = note;
        cell.volume = volume;
        cell.effect = effect;
        cell.effectParam = param;
    }
};

}  // namespace

TEST_F(Sections, PatternCursorBoxSitsUnderTheCursorColumn) {
    // The cursor box of channel 7, column 5 spans x 513..519 on the current row, just left of the separator at 520.
    editor.cursorChannel = 7;
    editor.cursorColumn = 5;
    drawPatternView(s);
    EXPECT_EQ(count(513, 86, 519, 92, Cursor), 7 * 7 - 1);  // all but the dot of the parameter digit
    EXPECT_EQ(at(516, 91), Param);
    EXPECT_EQ(at(512, 89), Panel);  // the row bar continues left of the box
    EXPECT_EQ(at(520, 89), Frame);
    EXPECT_EQ(at(513, 93), Back);

    // Column 0 covers the three note characters, x 121..139.
    fillRect(s, 0, 0, 640, 480, Back);
    editor.cursorChannel = 0;
    editor.cursorColumn = 0;
    drawPatternView(s);
    EXPECT_EQ(at(121, 86), Cursor);
    EXPECT_EQ(at(139, 92), Cursor);
    EXPECT_EQ(at(140, 86), Panel);
    EXPECT_EQ(at(171, 78), Panel);  // channel 1's header band
    EXPECT_EQ(at(121, 78), Lit);    // channel 0's header band, under the cursor
}

TEST_F(Sections, PatternRowBarWithoutCursorWhileTheOrderListHasFocus) {
    // With the order list focused the bar still marks the current row (row 63: y 464..470), no box, no lit header.
    editor.cursorChannel = -1;
    transport.currentRow = 63;
    drawPatternView(s);
    EXPECT_EQ(at(121, 464), Panel);
    EXPECT_EQ(at(121, 470), Panel);
    EXPECT_EQ(at(121, 463), Back);
    EXPECT_EQ(at(121, 471), Frame);
    EXPECT_EQ(count(107, 0, 533, 479, Cursor), 0);
    EXPECT_EQ(count(106, 78, 534, 84, Lit), 0);
}

TEST_F(Sections, RowNumbersOnBothSidesWithBeatRowsBrighter) {
    // Row numbers 00..3F in hex, 00, 04 .. 3C in beatColour and the others in textDim, at x 108 and again at x 522.
    drawPatternView(s);
    for (int x : {108, 522})
        for (int r = 0; r < 64; ++r) {
            const char hex[] = {"0123"[r / 16], "0123456789ABCDEF"[r % 16], 0};
            EXPECT_EQ(shown(x, 87 + 6 * r, 2, r % 4 == 0 ? Beat : Dim), hex) << "row " << r << " at x " << x;
        }
}

TEST_F(Sections, ChannelHeadersAndMutedChannels) {
    // "CHANNEL" is drawn in textBright; a muted channel's header is drawn in panel, so it vanishes in its own band.
    editor.cursorChannel = 0;
    transport.muted[0] = true;
    transport.muted[2] = true;
    drawPatternView(s);
    EXPECT_EQ(shown(172, 79, 2, Bright), "CH");         // channel 1
    EXPECT_EQ(count(221, 78, 269, 84, Panel), 49 * 7);  // channel 2: muted, plain band
    EXPECT_EQ(shown(122, 79, 1, Panel), "C");           // channel 0: muted, shows faintly on the lit band
    EXPECT_EQ(at(121, 78), Lit);
}

TEST_F(Sections, CellFieldsShowAsNoteVolumeEffectAndParameter) {
    // Note 49 + volume 80 reads A#3 40 . ..; a set effect shows its parameter even at 0; volume 16 shows 00.
    expectCellsShown({{49, 80, 0, 0, "A#340..."},
                      {0, 0, 3, 0, ".....300"},
                      {0, 0, 0, 7, "......07"},
                      {194, 16, 15, 255, "B-F00FFF"},
                      {0, 0, 0, 0, "........"}});
    // The cell texts are drawn over the cursor box and the bar: their colours stay between the strokes.
    EXPECT_EQ(at(123, 88), Cursor);
    EXPECT_EQ(at(141, 87), Panel);
}

TEST_F(Sections, DamagedCellValuesShowQuestionMarks) {
    // Values a file can carry but no table covers show "?" marks (a pattern that is none: damaged_song_test).
    expectCellsShown({{300, 12, 20, 300, "????????"},
                      {250, 300, 1, -5, "G-1??1??"},  // note 250 reads through the table: G-1
                      {0, 10, 0, 0, "...??..."},      // volumes 10..15 are neither empty (0..9) nor levels (16..)
                      {0, 9, 0, 0, "........"},
                      {0, 15, 0, 0, "...??..."}});
}

TEST_F(Sections, MarkedBlockIsAPatchOfBlockColourBehindItsDigitsAndNothingElseChanges) {
    // A block from channel 0's volume to channel 1's note, rows 2..4, turns blockColour (half the base colour) the
    // pixels of x 139..188, y 98..116 where no digit or line is drawn, and no other; on another pattern, or with the
    // order list focused, it changes nothing.
    setCell(0, 0, 3, 49, 80, 3, 7);
    setCell(1, 0, 4, 50, 64, 0, 0);
    auto frame = [&](bool block, int pattern, int channel) {
        editor.block = MarkedBlock{block, uint8_t(pattern), 4, 4, 2, 1};  // anchor row 4 field 4, end row 2 field 1
        editor.cursorChannel = channel;
        fillRect(s, 0, 0, 640, 480, Back);
        drawPatternView(s);
        std::vector<uint32_t> v;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) v.push_back(at(x, y));
        return v;
    };
    const std::vector<uint32_t> plain = frame(false, 0, 0), marked = frame(true, 0, 0);
    int changed = 0, x0 = 640, y0 = 480, x1 = 0, y1 = 0;
    for (int i = 0; i < 640 * 480; ++i)
        if (marked[i] != plain[i]) {
            ++changed;
            EXPECT_EQ(marked[i], rgb(30, 35, 40)) << i % 640 << "," << i / 640;
            x0 = std::min(x0, i % 640), y0 = std::min(y0, i / 640), x1 = std::max(x1, i % 640),
            y1 = std::max(y1, i / 640);
        }
    EXPECT_GT(changed, 600);
    EXPECT_EQ(std::vector<int>({x0, y0, x1, y1}), std::vector<int>({139, 98, 188, 116}));
    EXPECT_EQ(cellShown(0, 3) + cellShown(1, 4), "A#340307B-330...");
    EXPECT_TRUE(frame(true, 1, 0) == plain);
    EXPECT_TRUE(frame(true, 0, -1) == frame(false, 0, -1));
}

TEST_F(Sections, OrderListSlotsBarCursorAndTitle) {
    // Slots show two hex digits or ".."; with focus, orderPos 5 and column 1 the box covers x 546..552, y 116..122.
    song.orders[5] = 63;
    editor.cursorChannel = -1;
    transport.orderPos = 5;
    editor.cursorColumn = 1;
    drawOrderList(s);
    EXPECT_EQ(shown(541, 87, 2, Bright), "00");
    EXPECT_EQ(shown(541, 93, 2, Bright), "..");
    EXPECT_EQ(shown(541, 87 + 6 * 63, 2, Bright), "..");
    EXPECT_EQ(shown(541, 117, 2, Bright), "3F");
    EXPECT_EQ(count(546, 116, 552, 122, Cursor), 49 - 12);  // all but the 12 pixels of the F
    EXPECT_EQ(at(545, 116), Panel);                         // bar under the first digit
    EXPECT_EQ(at(540, 78), Lit);
    EXPECT_EQ(at(635, 84), Lit);
    EXPECT_EQ(shown(541, 79, 1, Bright), "O");
    EXPECT_EQ(at(636, 86), Back);
    EXPECT_EQ(at(553, 86), Frame);
    EXPECT_EQ(at(553, 471), Frame);
    EXPECT_EQ(at(554, 471), Back);

    // Focus on a channel: bar still there, no box, title band plain panel.
    fillRect(s, 0, 0, 640, 480, Back);
    editor.cursorChannel = 2;
    drawOrderList(s);
    EXPECT_EQ(count(540, 116, 552, 122, Cursor), 0);
    EXPECT_EQ(at(546, 116), Panel);
    EXPECT_EQ(at(540, 78), Panel);
}

TEST_F(Sections, ParametersShowSpeedAndOctaveInHexAtX95) {
    // Speed 15 shows F at x 95 and octave 10 shows A; BPM always shows N/A; frame and band in place.
    song.speed = 15;
    editor.octave = 10;
    drawParameters(s);
    EXPECT_EQ(shown(95, 97, 1, Beat), "F");
    EXPECT_EQ(shown(95, 105, 1, Beat), "A");
    EXPECT_EQ(shown(83, 89, 3, Beat), "N/A");
    EXPECT_EQ(shown(5, 79, 1, Bright), "P");
    EXPECT_EQ(at(4, 78), Panel);
    EXPECT_EQ(at(3, 77), Frame);
    EXPECT_EQ(at(101, 112), Frame);
    EXPECT_EQ(at(50, 113), Frame);
    EXPECT_EQ(at(102, 100), Back);
    EXPECT_EQ(count(89, 97, 94, 101, Beat), 0);  // one digit only

    // A file's speed of 16 keeps both digits, inside the frame.
    fillRect(s, 0, 0, 640, 480, Back);
    song.speed = 16;
    editor.octave = 0;
    drawParameters(s);
    EXPECT_EQ(shown(89, 97, 2, Beat), "10");
    EXPECT_EQ(shown(95, 105, 1, Beat), "0");
    EXPECT_EQ(at(101, 97), Frame);
}

TEST_F(Sections, MenuLegendEightPixelsApart) {
    // The MENU panel lists the keys 8 pixels apart from y 130; F7..F9 lead with a space.
    drawMenu(s);
    EXPECT_EQ(shown(5, 120, 1, Bright), "M");
    EXPECT_EQ(shown(5, 130, 1, Bright), "P");
    EXPECT_EQ(shown(5, 138, 2, Bright), " F");
    EXPECT_EQ(shown(5, 178, 2, Bright), "F1");
    EXPECT_EQ(at(4, 119), Panel);
    EXPECT_EQ(at(3, 118), Frame);
    EXPECT_EQ(at(60, 186), Frame);
    EXPECT_EQ(at(60, 187), Back);
}

TEST_F(Sections, MessageLineFadesFromTextBrightToBackground) {
    // The message colour is textBright + floor((background - textBright) * d / 256), alpha byte 0; timer 0 draws nothing.
    statusText = "&";
    statusTimer = 500;
    drawStatus(s);
    EXPECT_EQ(shown(7, 7, 1, 0x00F0F5FCu), "&");

    statusTimer = 250;  // halfway: (240 - 90, 245 - 88, 252 - 86)
    drawStatus(s);
    EXPECT_EQ(shown(7, 7, 1, 0x00969DA6u), "&");

    statusTimer = 1;  // d = 255; rounding toward minus infinity lands on the background itself
    drawStatus(s);
    EXPECT_EQ(shown(7, 7, 1, 0x003C4650u), "&");

    fillRect(s, 0, 0, 640, 480, Back);
    statusTimer = 0;
    drawStatus(s);
    EXPECT_EQ(count(0, 0, 639, 19, Back), 640 * 20);
}

TEST_F(Sections, ScopesShowOldestSampleFirstAndLightTheCursorChannel) {
    // Column j shows sample (writeIndex + j) mod 80 as a line from y 45 to trunc(s * 25 + 45); channel 3 lit: x 240..319.
    editor.cursorChannel = 3;
    ScopeBuffer& scope = song.channels[1].scope;
    scope.writeIndex = 10;
    scope.samples[10] = 1.0f;    // x 80: down to y 70
    scope.samples[11] = 0.5f;    // x 81: 57.5 -> 57
    scope.samples[12] = -0.02f;  // x 82: 44.5 -> 44
    scope.samples[9] = -1.0f;    // x 159, the newest: up to y 20
    scope.samples[13] = 3.0f;    // x 83: past the box, clipped only by the screen
    scope.samples[14] = std::nanf("");
    drawScopes(s);

    EXPECT_EQ(count(80, 45, 80, 70, Dim), 26);
    EXPECT_EQ(at(80, 71), Back);
    EXPECT_EQ(count(81, 45, 81, 57, Dim), 13);
    EXPECT_EQ(at(81, 58), Panel);
    EXPECT_EQ(at(82, 44), Dim);
    EXPECT_EQ(at(82, 43), Panel);
    EXPECT_EQ(count(159, 20, 159, 45, Dim), 26);
    EXPECT_EQ(at(83, 120), Dim);
    EXPECT_EQ(at(83, 121), Back);
    EXPECT_EQ(at(84, 45), Dim);

    // Silent channels: one pixel per column on y 45.
    for (int x = 0; x < 639; ++x)
        if (x < 80 || x >= 160) {
            EXPECT_EQ(at(x, 45), Dim) << x;
            EXPECT_NE(at(x, 44), Dim) << x;
        }
    EXPECT_EQ(at(639, 45), Frame);  // the closing line is drawn last
    EXPECT_EQ(at(241, 21), Lit);
    EXPECT_EQ(at(319, 69), Lit);
    EXPECT_EQ(at(239, 21), Panel);
    EXPECT_EQ(at(320, 21), Frame);
    EXPECT_EQ(count(0, 20, 639, 70, Lit), 79 * 48);  // inside the box lines, minus the trace row y 45
    EXPECT_EQ(count(0, 20, 639, 20, Frame), 639);    // (159, 20) is the newest sample's trace end

    // The order list focused: no scope lit.
    fillRect(s, 0, 0, 640, 480, Back);
    editor.cursorChannel = -1;
    drawScopes(s);
    EXPECT_EQ(count(0, 20, 639, 70, Lit), 0);
}

TEST_F(Sections, LevelMeterBarGrowsUpFromTheBottom) {
    // The bar fills from y trunc(472 - 380 v) with height trunc(380 v); silence shows no bar, level 1 fills 380 rows.
    drawLevelMeter(s);
    EXPECT_EQ(count(559, 91, 635, 470, Panel), 77 * 380);
    EXPECT_EQ(count(558, 90, 636, 471, Dim), 0);
    EXPECT_EQ(at(558, 300), Frame);
    EXPECT_EQ(at(636, 300), Frame);
    EXPECT_EQ(at(600, 90), Frame);
    EXPECT_EQ(at(600, 471), Frame);

    engine.outputLevel = 0.5;
    drawLevelMeter(s);
    EXPECT_EQ(count(559, 282, 635, 471, Dim), 77 * 190);
    EXPECT_EQ(at(600, 281), Panel);

    engine.outputLevel = 1.0;
    drawLevelMeter(s);
    EXPECT_EQ(count(559, 92, 635, 471, Dim), 77 * 380);
    EXPECT_EQ(at(600, 91), Panel);

    engine.outputLevel = 3.0;  // beyond the meter: cut at the screen's top
    drawLevelMeter(s);
    EXPECT_EQ(at(600, 0), Dim);
    EXPECT_EQ(at(558, 0), Back);

    fillRect(s, 0, 0, 640, 480, Back);
    engine.outputLevel = -2.0;
    drawLevelMeter(s);
    engine.outputLevel = std::nan("");
    drawLevelMeter(s);
    EXPECT_EQ(count(0, 0, 639, 479, Dim), 0);
}

TEST_F(Sections, StartUpFadeBlendsFromBlackToTheDefaultTheme) {
    // While fadeCounter < 300 the base colour is trunc(target * t + start * (1 - t)), t = fadeCounter / 300.
    fadeCounter = 150;
    fadeStep();
    EXPECT_EQ(palette[background], rgb(30, 35, 40));
    fadeCounter = 0;
    fadeStep();
    EXPECT_EQ(palette[background], rgb(0, 0, 0));
    EXPECT_EQ(palette[textBright], rgb(0, 0, 0));
    fadeCounter = 299;
    fadeStep();
    EXPECT_EQ(palette[background], rgb(59, 69, 79));
    setPalette(1, 2, 3);
    fadeCounter = 300;  // ended: the palette is left alone
    fadeStep();
    EXPECT_EQ(palette[background], rgb(1, 2, 3));
}

TEST_F(Sections, WholeFrameDrawsEverySectionOverTheBackground) {
    // A frame fills the background and draws scopes, pattern view, panels, order list, message line and meter.
    fillRect(s, 0, 0, 640, 480, rgb(1, 2, 3));
    statusText = "A";
    statusTimer = 500;
    engine.outputLevel = 1.0;
    drawFrame(s);
    EXPECT_EQ(at(0, 0), Back);
    EXPECT_EQ(shown(7, 7, 1, 0x00F0F5FCu), "A");
    EXPECT_EQ(at(40, 20), Frame);
    EXPECT_EQ(at(106, 77), Frame);
    EXPECT_EQ(shown(108, 87, 2, Beat), "00");
    EXPECT_EQ(shown(122, 79, 1, Bright), "C");
    EXPECT_EQ(shown(5, 79, 1, Bright), "P");
    EXPECT_EQ(at(600, 300), Dim);
}

TEST_F(Sections, FrameUsesTheSurfacesOwnLayoutAndStaysInsideItsMemory) {
    // Drawing a frame with extreme values writes nothing past the rows or into the pitch padding,
    // and a surface with another channel order gets the same colours in its own layout.
    GuardedSurface g(640, 480, 0, 0xFF, 0xFF00, 0xFF0000, 0xFF000000);
    statusText = std::string(300, '&');
    statusTimer = 600;
    engine.outputLevel = 1e9;
    song.speed = 255;
    transport.currentPattern = 255;
    transport.currentRow = 63;
    transport.orderPos = 63;
    editor.cursorChannel = 7;
    editor.cursorColumn = 5;
    for (int i = 0; i < ScopeLength; ++i) song.channels[0].scope.samples[i] = (i % 2 ? 1e30f : -1e30f);
    song.channels[0].scope.writeIndex = -7;
    drawFrame(g.s);
    EXPECT_EQ(g.outsideWritten(), 0);
    EXPECT_EQ(g.at(300, 0), 0xFF50463Cu);   // background (60, 70, 80) as 0xAABBGGRR
    EXPECT_EQ(g.at(106, 77), 0xFFAB9784u);  // frameColour (132, 151, 171)
}
