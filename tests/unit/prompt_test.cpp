// The filename prompt: typing rules, the greyed screen, the box, the cursor,
// and the loop's confirm, cancel and close handling.
#include <gtest/gtest.h>

#include <SDL.h>
#include <time.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/surfaces.h"
#include "tests/support/test_support.h"
#include "ui/prompt.h"

namespace {

SDL_Event keyDown(SDLKey sym, Uint16 unicode) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = sym;
    e.key.keysym.unicode = unicode;
    return e;
}

SDL_Event typedChar(char c) {
    SDLKey sym = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' ? SDLKey(c) : SDLK_UNKNOWN;
    return keyDown(sym, Uint16(static_cast<unsigned char>(c)));
}

// Feeds the keys to the prompt, one character each ('\b': Backspace), and returns the text.
std::string typeAll(const std::string& keys, std::string typed = "") {
    bool running = true;
    for (char c : keys)
        EXPECT_EQ(promptHandleEvent(c == '\b' ? keyDown(SDLK_BACKSPACE, 8) : typedChar(c), typed, running),
                  PromptAction::Continue);
    EXPECT_TRUE(running);
    return typed;
}

uint32_t rgb(int r, int g, int b) { return 0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }

uint32_t greyOf(uint32_t p) {
    uint32_t g = ((p >> 16 & 0xFF) + (p >> 8 & 0xFF) + (p & 0xFF)) / 5;
    return (p & 0xFF000000u) | g << 16 | g << 8 | g;
}

void freshScreenState() {
    initSong();
    restingScreen();
}

bool insideBox(int x, int y) { return x >= 222 && x < 222 + 195 && y >= 231 && y < 231 + 17; }

void push(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 0); }

// The prompt's own loop on SDL's dummy video driver.
struct PromptLoop : ::testing::Test {
    DummyVideo video;
    bool running = true;
    void SetUp() override {
        freshScreenState();
        ASSERT_NE(video.screen, nullptr);
    }
};

}  // namespace

TEST(PromptTyping, LettersAreUpperCasedDigitsAndUnderscoreKeptAndTheRestDropped) {
    // Typing s, o, n, g, space and 1 gives SONG1: letters are upper-cased, the space is dropped; only
    // A-Z, 0-9 and _ are kept, at most 32 of them (the 33rd is ignored, after a Backspace there is room
    // for one more); Backspace removes the last character and does nothing on an empty text.
    const std::string full(32, 'A');
    const struct {
        std::string before, keys, after;
    } cases[] = {
        {"", "song 1", "SONG1"},
        {"", "My_Tune-2.vorna", "MY_TUNE2VORNA"},
        {"", "/\\:*?\"<>|!@#$%^&()[]{}~`'=+,;", ""},
        {"", std::string(33, 'a'), full},
        {full, "b", full},
        {full, "\bbc", std::string(31, 'A') + "B"},
        {"AB", "\b", "A"},
        {"AB", "\b\b\b", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(typeAll(c.keys, c.before), c.after) << "'" << c.keys << "' after '" << c.before << "'";

    // A key whose Unicode value has bits above 0x7F adds nothing, even when its low 7 bits would be a
    // letter (0xE9 is e-acute; 0x141 has low bits 'A'); nor does a key with no character (an arrow).
    bool running = true;
    std::string typed = "X";
    for (Uint16 u : {Uint16(0xE9), Uint16(0xC4), Uint16(0x141), Uint16(0x4E2D)})
        EXPECT_EQ(promptHandleEvent(keyDown(SDLK_WORLD_73, u), typed, running), PromptAction::Continue);
    promptHandleEvent(keyDown(SDLK_LEFT, 0), typed, running);
    EXPECT_EQ(typed, "X");
}

TEST(PromptTyping, EnterConfirmsEscapeCancelsCloseStopsTheProgram) {
    // Enter confirms (even an empty text), Escape cancels, and closing the window
    // cancels and clears the running flag.
    bool running = true;
    std::string typed;
    EXPECT_EQ(promptHandleEvent(keyDown(SDLK_RETURN, 13), typed, running), PromptAction::Confirm);
    typed = "ABC";
    EXPECT_EQ(promptHandleEvent(keyDown(SDLK_ESCAPE, 27), typed, running), PromptAction::Cancel);
    EXPECT_TRUE(running);
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    EXPECT_EQ(promptHandleEvent(quit, typed, running), PromptAction::Cancel);
    EXPECT_FALSE(running);
}

TEST(PromptFrame, ScreenBehindTheBoxIsGreyed) {
    // Behind the box every pixel of the panels becomes grey = (r + g + b) / 5 with the
    // fourth byte kept; the pattern view's frame line at (106, 77), frameColour
    // (132, 151, 171), becomes (90, 90, 90).
    freshScreenState();
    SDL_Surface* plain = newScreen();
    SDL_Surface* prompt = newScreen();
    SDL_FillRect(plain, nullptr, palette[background]);
    drawPanels(plain);
    drawPromptFrame(prompt, "ENTER FILENAME TO SAVE", "");
    EXPECT_EQ(pixelAt(plain, 106, 77), rgb(132, 151, 171));
    EXPECT_EQ(pixelAt(prompt, 106, 77), rgb(90, 90, 90));
    EXPECT_EQ(pixelAt(prompt, 0, 479), rgb(42, 42, 42));  // background (60, 70, 80)
    int differing = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            if (insideBox(x, y)) continue;
            ASSERT_EQ(pixelAt(prompt, x, y), greyOf(pixelAt(plain, x, y))) << x << "," << y;
            differing += pixelAt(plain, x, y) != pixelAt(prompt, x, y);
        }
    EXPECT_GT(differing, 300000);
    SDL_FreeSurface(plain);
    SDL_FreeSurface(prompt);
}

TEST(PromptFrame, BoxTitleFieldAndCursorStandWhereTheyBelong) {
    // The box: x 222, y 231, 195 x 17 in frameColour; title band x 223, y 232, 193 x 7 in panel;
    // input field x 223, y 240, 193 x 7 in background; the title at (224, 233) and the typed text at
    // (224, 241) in textBright; while the text is shorter than 32 characters a 5x5 textBright cursor
    // stands at x 224 + 6 * length, y 241. Just outside the box the screen is grey.
    constexpr int Grey = -1;
    struct Probe {
        int x, y, role;
    };
    const struct {
        const char* title;
        std::string typed;
        std::vector<Probe> probes;
    } cases[] = {
        {"",
         "",
         {{222, 231, frameColour},
          {416, 231, frameColour},
          {222, 247, frameColour},
          {416, 247, frameColour},
          {300, 239, frameColour},  // the line between band and field
          {223, 232, panel},
          {415, 238, panel},
          {223, 240, background},
          {415, 246, background},
          {221, 240, Grey},
          {417, 240, Grey},
          {300, 230, Grey},
          {300, 248, Grey}}},
        // E: rows 1F 10 ...; A: rows 1F 11 1F 11 11; the cursor after two characters: x 236..240, y 241..245.
        {"ENTER FILENAME TO OPEN",
         "AB",
         {{224, 233, textBright},
          {228, 233, textBright},
          {225, 234, panel},
          {229, 233, panel},
          {224, 241, textBright},
          {228, 242, textBright},
          {225, 242, background},
          {236, 241, textBright},
          {240, 245, textBright},
          {235, 243, background},
          {241, 243, background},
          {238, 246, background}}},
        // "_" sets only its bottom row: with 31 the cursor stands at x 410; with 32 it is gone (not on
        // the outline nor beyond it) and the 32nd character ends at x 414, inside the field.
        {"", std::string(31, '_'), {{410, 241, textBright}, {414, 241, textBright}}},
        {"",
         std::string(32, '_'),
         {{410, 241, background},
          {414, 244, background},
          {410, 245, textBright},
          {414, 245, textBright},
          {415, 245, background},
          {224, 245, textBright},
          {416, 243, frameColour},
          {418, 243, Grey}}},
    };
    freshScreenState();
    SDL_Surface* s = newScreen();
    for (const auto& c : cases) {
        drawPromptFrame(s, c.title, c.typed);
        for (const Probe& p : c.probes) {
            const uint32_t seen = pixelAt(s, p.x, p.y);
            if (p.role == Grey)
                EXPECT_TRUE((seen >> 16 & 0xFF) == (seen & 0xFF) && (seen >> 8 & 0xFF) == (seen & 0xFF))
                    << c.typed.size() << " typed, at " << p.x << "," << p.y;
            else
                EXPECT_EQ(seen, palette[p.role]) << c.typed.size() << " typed, at " << p.x << "," << p.y;
        }
    }
    SDL_FreeSurface(s);
}

TEST_F(PromptLoop, EnterReturnsTheNameEscapeAndCloseReturnNothing) {
    // Keys typed into the prompt make the name and Enter returns it; Escape or an empty
    // Enter returns an empty text; closing the window returns an empty text and clears running.
    for (char c : std::string("song 1")) push(typedChar(c));
    push(keyDown(SDLK_RETURN, 13));
    EXPECT_EQ(promptFilename(video.screen, "ENTER FILENAME TO SAVE", running), "SONG1");
    for (char c : std::string("abc")) push(typedChar(c));
    push(keyDown(SDLK_ESCAPE, 27));
    EXPECT_EQ(promptFilename(video.screen, "ENTER FILENAME TO OPEN", running), "");
    push(keyDown(SDLK_RETURN, 13));
    EXPECT_EQ(promptFilename(video.screen, "ENTER FILENAME TO OPEN", running), "");
    EXPECT_TRUE(running);

    push(typedChar('x'));
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    push(quit);
    EXPECT_EQ(promptFilename(video.screen, "ENTER FILENAME TO OPEN", running), "");
    EXPECT_FALSE(running);
}

TEST_F(PromptLoop, WaitingForKeysDoesNotBurnACore) {
    // The prompt redraws at the main loop's 16 ms frame pace instead of as fast as it
    // can: over half a second of waiting it sleeps most of the time.
    std::thread typist([] {
        SDL_Delay(500);
        SDL_Event enter = keyDown(SDLK_RETURN, 13);
        SDL_PushEvent(&enter);
    });
    timespec cpu0, cpu1, wall0, wall1;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
    clock_gettime(CLOCK_MONOTONIC, &wall0);
    std::string name = promptFilename(video.screen, "ENTER FILENAME TO OPEN", running);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
    clock_gettime(CLOCK_MONOTONIC, &wall1);
    typist.join();
    EXPECT_EQ(name, "");
    double cpu = (cpu1.tv_sec - cpu0.tv_sec) + (cpu1.tv_nsec - cpu0.tv_nsec) * 1e-9;
    double wall = (wall1.tv_sec - wall0.tv_sec) + (wall1.tv_nsec - wall0.tv_nsec) * 1e-9;
    EXPECT_GE(wall, 0.45);
    EXPECT_LT(cpu, 0.8 * wall) << "cpu " << cpu << " s over " << wall << " s";
}
