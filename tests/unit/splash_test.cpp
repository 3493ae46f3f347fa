// The start-up splash: progress, blending, placement, clipping, loading and
// the loop's key and quit handling.
#include <gtest/gtest.h>

#include <SDL.h>

#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/support/surfaces.h"
#include "tests/support/test_support.h"
#include "ui/splash.h"

namespace {

// A recognisable picture: every pixel differs from its neighbours.
uint32_t patternColour(int u, int v) {
    return uint32_t((u * 7 + 3) & 0xFF) << 16 | uint32_t((v * 5 + 11) & 0xFF) << 8 | uint32_t((u + v) & 0xFF);
}
uint32_t oneColour(int, int) { return 0x00C86432u; }  // (200, 100, 50)

OwnedSurface makePicture(uint32_t (*colour)(int, int), int w = 300, int h = 300) {
    OwnedSurface p = owned(newScreen(w, h));
    for (int v = 0; v < h; ++v)
        for (int u = 0; u < w; ++u)
            *reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(p->pixels) + v * p->pitch + 4 * u) = colour(u, v);
    return p;
}

// The picture as a BMP file (SDL writes it as 24 bits, bottom row first, rows padded to 4 bytes).
void writeBmp(const char* path, int w, int h) {
    ASSERT_EQ(SDL_SaveBMP(makePicture(patternColour, w, h).get(), path), 0);
}

void pushEvent(Uint8 type, SDLKey sym = SDLK_UNKNOWN) {
    SDL_Event e{};
    e.type = type;
    e.key.keysym.sym = sym;
    ASSERT_EQ(SDL_PushEvent(&e), 0);
}

}  // namespace

TEST(SplashProgress, PhaseZeroHas67FramesAndPhaseOne168) {
    // Phase 0: c runs 197, 194 ... 2, then 0 (67 frames); phase 1: c runs 600, 597 ... 99
    // (168 frames); then phase 2 ends the splash.
    float c = 200;
    int phase = 0;
    std::vector<float> zero, one;
    for (int guard = 0; guard < 1000; ++guard) {
        splashStep(c, phase);
        if (phase == 0)
            zero.push_back(c);
        else if (phase == 1)
            one.push_back(c);
        else
            break;
    }
    EXPECT_EQ(phase, 2);
    ASSERT_EQ(zero.size(), 67u);
    EXPECT_EQ(zero.front(), 197.0f);
    EXPECT_EQ(zero[65], 2.0f);
    EXPECT_EQ(zero.back(), 0.0f);
    ASSERT_EQ(one.size(), 168u);
    EXPECT_EQ(one.front(), 600.0f);
    EXPECT_EQ(one[166], 102.0f);
    // The last burst frame (c would be 99) is drawn fully spread and fully faded.
    EXPECT_EQ(splashAlpha(one.back(), 1), 256);
}

TEST(SplashProgress, AlphaFadesInThenOut) {
    // Phase 0: alpha = trunc(c * 0.005 * 256): 252 at the first frame, 0 at the last.
    // Phase 1: alpha = trunc(s / 300 * 256) with s = 400 - c in 0..300: 0 while resting.
    EXPECT_EQ(splashAlpha(197, 0), 252);
    EXPECT_EQ(splashAlpha(2, 0), 2);
    EXPECT_EQ(splashAlpha(0, 0), 0);
    EXPECT_EQ(splashAlpha(600, 1), 0);
    EXPECT_EQ(splashAlpha(402, 1), 0);
    EXPECT_EQ(splashAlpha(250, 1), 128);
    EXPECT_EQ(splashAlpha(99, 1), 256);
}

TEST(SplashBlend, QuotientGoesTowardMinusInfinity) {
    // result = S + (D - S) * alpha / 256 with the quotient floored; alpha 0 gives the
    // picture, alpha 256 what was on screen.
    EXPECT_EQ(splashBlend(10, 0, 1), 9);  // -10/256 floors to -1
    EXPECT_EQ(splashBlend(0, 10, 1), 0);  // 10/256 floors to 0
    EXPECT_EQ(splashBlend(200, 0, 128), 100);
    EXPECT_EQ(splashBlend(200, 100, 128), 150);
    EXPECT_EQ(splashBlend(255, 0, 255), 0);  // -255*255/256 = -254.0039 floors to -255
    EXPECT_EQ(splashBlend(77, 0, 0), 77);
    EXPECT_EQ(splashBlend(77, 201, 256), 201);
}

TEST(SplashDraw, PictureStandsUndistortedAt170_100WhenSettledAndWhileRestingThenFadesToBlack) {
    // At c = 0 in phase 0, and in phase 1 while c >= 400, the picture stands undistorted and opaque
    // with its top-left corner at (170, 100), the rest of the screen black and alpha bytes 0; in
    // the last burst frame (alpha 256) every pixel keeps what was on screen: all black.
    const OwnedSurface screen = owned(newScreen()), picture = makePicture(patternColour);
    const struct {
        float c;
        int phase;
        bool shown;
    } frames[] = {{0, 0, true}, {402, 1, true}, {0, 1, false}};
    for (const auto& f : frames) {
        SDL_FillRect(screen.get(), nullptr, 0xFF123456);
        drawSplashFrame(screen.get(), picture.get(), f.c, f.phase);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) {
                const bool inside = f.shown && x >= 170 && x < 470 && y >= 100 && y < 400;
                ASSERT_EQ(pixelAt(screen.get(), x, y), inside ? patternColour(x - 170, y - 100) : 0u)
                    << "c " << f.c << " phase " << f.phase << " at " << x << "," << y;
            }
    }
}

TEST(SplashDraw, WaveMovesThePicture) {
    // While c > 0 the wave moves picture row v sideways by 100 * sin(v * c * 0.0001): at
    // c = 100 picture pixel (0, 150) lands at x = trunc(99.75 + 170) = 269, y = 250, and is
    // the leftmost pixel of that screen row, blended over black. The single-precision 0.005
    // lies just below 0.005, so alpha is trunc(127.99...) = 127, and the floored blend
    // still halves each channel.
    const OwnedSurface screen = owned(newScreen()), picture = makePicture(oneColour);
    ASSERT_EQ(splashAlpha(100, 0), 127);
    drawSplashFrame(screen.get(), picture.get(), 100, 0);
    int left = -1;
    for (int x = 0; x < 640 && left < 0; ++x)
        if (pixelAt(screen.get(), x, 250) != 0) left = x;
    EXPECT_EQ(left, 269);
    EXPECT_EQ(pixelAt(screen.get(), 269, 250), 0x00643219u);  // (100, 50, 25)
}

TEST(SplashDraw, OverlappingPixelsBlendOverEachOther) {
    // Several picture pixels on one screen pixel: the later one blends over the earlier,
    // not over black. With a one-colour picture (200, 100, 50) and alpha 128, a pixel hit
    // once has red 100, twice 150, three times 175 ...
    const OwnedSurface screen = owned(newScreen()), picture = makePicture(oneColour);
    ASSERT_EQ(splashAlpha(250, 1), 128);
    drawSplashFrame(screen.get(), picture.get(), 250, 1);
    std::set<int> allowed = {0};
    for (int d = 0, i = 0; i < 12; ++i) allowed.insert(d = splashBlend(200, d, 128));
    std::set<int> seen;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            const uint32_t p = pixelAt(screen.get(), x, y);
            const int red = int(p >> 16 & 0xFF);
            seen.insert(red);
            ASSERT_TRUE(allowed.count(red)) << "red " << red << " at " << x << "," << y;
            ASSERT_EQ(p >> 24, 0u);
        }
    EXPECT_TRUE(seen.count(100));
    EXPECT_TRUE(seen.count(150)) << "no screen pixel was hit twice";
}

TEST(SplashDraw, PixelsOffTheScreenAreDropped) {
    // Pixels landing outside the screen are dropped: nothing is written beyond the
    // surface's width and height, neither in the row padding nor past the last row.
    const OwnedSurface picture = makePicture([](int, int) { return 0x00FFFFFFu; });
    const struct {
        float c;
        int phase;
    } frames[] = {{197, 0}, {0, 0}, {200, 1}};
    for (const auto& f : frames) {
        GuardedSurface screen(200, 150, 0);
        drawSplashFrame(screen.s, picture.get(), f.c, f.phase);
        EXPECT_EQ(screen.outsideWritten(), 0) << "c " << f.c << " phase " << f.phase;
        bool drew = false;
        for (int y = 0; y < screen.h; ++y)
            for (int x = 0; x < screen.w; ++x) drew = drew || screen.at(x, y) != 0;
        EXPECT_TRUE(drew) << "c " << f.c << " phase " << f.phase;
    }
}

TEST(SplashPicture, LoadsABmpOfAtLeast300SquareAndTheShippedOneIsUsable) {
    // The picture is a BMP of at least 300x300, converted to the screen's format;
    // a missing file, a smaller picture or a file that is no BMP gives no picture.
    // The splash.dat that ships with the program is such a picture.
    ScratchDir dir("splash");
    const OwnedSurface screen = owned(newScreen());
    writeBmp("big.bmp", 301, 300);
    writeBmp("narrow.bmp", 299, 300);
    writeBmp("short.bmp", 300, 299);
    std::ofstream("junk.dat") << "this is not a picture";
    std::ofstream("empty.dat");

    const OwnedSurface pic = owned(loadSplashPicture("big.bmp", screen->format));
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(pic->w, 301);
    EXPECT_EQ(pic->h, 300);
    EXPECT_EQ(pic->format->BytesPerPixel, 4);
    // Rows come out top first, whatever the file's padding (301 * 3 bytes is not a multiple of 4).
    EXPECT_EQ(pixelAt(pic.get(), 0, 0) & 0xFFFFFF, patternColour(0, 0));
    EXPECT_EQ(pixelAt(pic.get(), 300, 0) & 0xFFFFFF, patternColour(300, 0));
    EXPECT_EQ(pixelAt(pic.get(), 12, 299) & 0xFFFFFF, patternColour(12, 299));

    for (const char* bad : {"narrow.bmp", "short.bmp", "junk.dat", "empty.dat", "missing.dat"})
        EXPECT_EQ(loadSplashPicture(bad, screen->format), nullptr) << bad;

    const OwnedSurface shipped = owned(loadSplashPicture(VORNA_SOURCE_DIR "/splash.dat", screen->format));
    ASSERT_NE(shipped, nullptr);
    EXPECT_GE(shipped->w, 300);
    EXPECT_GE(shipped->h, 300);
}

TEST(SplashLoop, SkippedWithoutPictureEndedByKeyOrClose) {
    // A missing or too small splash.dat skips the splash (0 at once); a key press ends it
    // with 0 at the first due 10 ms input tick; closing the window returns -1.
    DummyVideo video;
    ASSERT_NE(video.screen, nullptr);
    ScratchDir dir("splash");
    EXPECT_EQ(showSplash(video.screen), 0);
    writeBmp("splash.dat", 100, 100);
    EXPECT_EQ(showSplash(video.screen), 0);

    writeBmp("splash.dat", 300, 300);
    pushEvent(SDL_KEYDOWN, SDLK_SPACE);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(showSplash(video.screen), 0);
    // Far less than the whole animation (about 3.8 s).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

    pushEvent(SDL_QUIT);
    EXPECT_EQ(showSplash(video.screen), -1);
}

TEST(SplashLoop, RunsToTheEndPacedAt16Milliseconds) {
    // Left alone, the splash shows 67 + 168 frames of at least 16 ms each and returns 0;
    // other events (a key release) do not end it.
    DummyVideo video;
    ASSERT_NE(video.screen, nullptr);
    ScratchDir dir("splash");
    writeBmp("splash.dat", 300, 300);
    pushEvent(SDL_KEYUP, SDLK_a);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(showSplash(video.screen), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(235 * 16 - 20));
}
