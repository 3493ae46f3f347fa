// The start-up splash: progress, blending, placement, clipping, loading and
// the loop's key and quit handling.
#include <gtest/gtest.h>

#include <SDL.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/surfaces.h"
#include "song/bytes.h"
#include "tests/support/test_support.h"
#include "ui/splash.h"

namespace {

// A recognisable picture: every pixel differs from its neighbours.
uint32_t patternColour(int u, int v) {
    return uint32_t((u * 7 + 3) & 0xFF) << 16 | uint32_t((v * 5 + 11) & 0xFF) << 8 | uint32_t((u + v) & 0xFF);
}

SDL_Surface* makePicture(const std::function<uint32_t(int, int)>& colour, int side = 300) {
    SDL_Surface* p = newScreen(side, side);
    for (int v = 0; v < side; ++v)
        for (int u = 0; u < side; ++u)
            *reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(p->pixels) + v * p->pitch + 4 * u) =
                colour(u, v);
    return p;
}

// Writes a 24-bit bottom-up BMP with the given colour per pixel.
void writeBmp(const std::string& path, int w, int h, const std::function<uint32_t(int, int)>& colour) {
    int rowBytes = (w * 3 + 3) & ~3;
    std::vector<uint8_t> out(54 + rowBytes * h, 0);
    uint8_t* p = out.data();
    p[0] = 'B';
    p[1] = 'M';
    putLe32(p + 2, uint32_t(out.size()));
    putLe32(p + 10, 54);
    putLe32(p + 14, 40);
    putLe32(p + 18, uint32_t(w));
    putLe32(p + 22, uint32_t(h));
    putLe16(p + 26, 1);
    putLe16(p + 28, 24);
    putLe32(p + 34, uint32_t(rowBytes * h));
    for (int y = 0; y < h; ++y) {
        uint8_t* row = p + 54 + (h - 1 - y) * rowBytes;
        for (int x = 0; x < w; ++x) {
            uint32_t c = colour(x, y);
            row[3 * x] = uint8_t(c);
            row[3 * x + 1] = uint8_t(c >> 8);
            row[3 * x + 2] = uint8_t(c >> 16);
        }
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char*>(out.data()), out.size());
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
        if (phase == 0) zero.push_back(c);
        else if (phase == 1) one.push_back(c);
        else break;
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
    EXPECT_EQ(splashBlend(10, 0, 1), 9);     // -10/256 floors to -1
    EXPECT_EQ(splashBlend(0, 10, 1), 0);     // 10/256 floors to 0
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
    SDL_Surface* screen = newScreen();
    SDL_Surface* picture = makePicture(patternColour);
    const struct {
        float c;
        int phase;
        bool shown;
    } frames[] = {{0, 0, true}, {402, 1, true}, {0, 1, false}};
    for (const auto& f : frames) {
        SDL_FillRect(screen, nullptr, 0xFF123456);
        drawSplashFrame(screen, picture, f.c, f.phase);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) {
                const bool inside = f.shown && x >= 170 && x < 470 && y >= 100 && y < 400;
                ASSERT_EQ(pixelAt(screen, x, y), inside ? patternColour(x - 170, y - 100) : 0u)
                    << "c " << f.c << " phase " << f.phase << " at " << x << "," << y;
            }
    }
    SDL_FreeSurface(picture);
    SDL_FreeSurface(screen);
}

TEST(SplashDraw, WaveMovesThePicture) {
    // While c > 0 the wave moves picture row v sideways by 100 * sin(v * c * 0.0001): at
    // c = 100 picture pixel (0, 150) lands at x = trunc(99.75 + 170) = 269, y = 250, and is
    // the leftmost pixel of that screen row, blended over black. The single-precision 0.005
    // lies just below 0.005, so alpha is trunc(127.99...) = 127, and the floored blend
    // still halves each channel.
    SDL_Surface* screen = newScreen();
    SDL_Surface* picture = makePicture([](int, int) { return 0x00C86432u; });  // (200, 100, 50)
    ASSERT_EQ(splashAlpha(100, 0), 127);
    drawSplashFrame(screen, picture, 100, 0);
    int left = -1;
    for (int x = 0; x < 640 && left < 0; ++x)
        if (pixelAt(screen, x, 250) != 0) left = x;
    EXPECT_EQ(left, 269);
    EXPECT_EQ(pixelAt(screen, 269, 250), 0x00643219u);  // (100, 50, 25)
    SDL_FreeSurface(picture);
    SDL_FreeSurface(screen);
}

TEST(SplashDraw, OverlappingPixelsBlendOverEachOther) {
    // Several picture pixels on one screen pixel: the later one blends over the earlier,
    // not over black. With a one-colour picture (200, 100, 50) and alpha 128, a pixel hit
    // once has red 100, twice 150, three times 175 ...
    SDL_Surface* screen = newScreen();
    SDL_Surface* picture = makePicture([](int, int) { return 0x00C86432u; });
    ASSERT_EQ(splashAlpha(250, 1), 128);
    drawSplashFrame(screen, picture, 250, 1);
    std::set<int> allowed = {0};
    for (int d = 0, i = 0; i < 12; ++i) {
        d = splashBlend(200, d, 128);
        allowed.insert(d);
    }
    std::set<int> seen;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            uint32_t p = pixelAt(screen, x, y);
            int red = int(p >> 16 & 0xFF);
            seen.insert(red);
            ASSERT_TRUE(allowed.count(red)) << "red " << red << " at " << x << "," << y;
            ASSERT_EQ(p >> 24, 0u);
        }
    EXPECT_TRUE(seen.count(100));
    EXPECT_TRUE(seen.count(150)) << "no screen pixel was hit twice";
    SDL_FreeSurface(picture);
    SDL_FreeSurface(screen);
}

TEST(SplashDraw, PixelsOffTheScreenAreDropped) {
    // Pixels landing outside the screen are dropped: nothing is written beyond the
    // surface's width and height, neither in the row padding nor past the last row.
    const int w = 200, h = 150, pitch = 4 * w + 24, guardRows = 4;
    for (int frame = 0; frame < 3; ++frame) {
        std::vector<uint8_t> memory(size_t(pitch) * (h + 2 * guardRows), 0xAB);
        uint8_t* first = memory.data() + pitch * guardRows;
        for (int y = 0; y < h; ++y) std::memset(first + y * pitch, 0, 4 * w);
        SDL_Surface* screen =
            SDL_CreateRGBSurfaceFrom(first, w, h, 32, pitch, 0xFF0000, 0x00FF00, 0x0000FF, 0);
        SDL_Surface* picture = makePicture([](int, int) { return 0x00FFFFFFu; });
        const float cs[] = {197, 0, 200};
        const int phases[] = {0, 0, 1};
        drawSplashFrame(screen, picture, cs[frame], phases[frame]);
        bool drew = false;
        for (int y = 0; y < h + 2 * guardRows; ++y)
            for (int x = 0; x < pitch; ++x) {
                bool inside = y >= guardRows && y < guardRows + h && x < 4 * w;
                uint8_t b = memory[size_t(y) * pitch + x];
                if (inside) drew = drew || b != 0;
                else ASSERT_EQ(b, 0xAB) << "frame " << frame << " wrote outside at byte " << x << " row " << y;
            }
        EXPECT_TRUE(drew) << "frame " << frame;
        SDL_FreeSurface(picture);
        SDL_FreeSurface(screen);
    }
}

TEST(SplashPicture, LoadsABmpOfAtLeast300Square) {
    // The picture is a BMP of at least 300x300, converted to the screen's format;
    // a missing file, a smaller picture or a file that is no BMP gives no picture.
    ScratchDir dir("splash");
    SDL_Surface* screen = newScreen();
    writeBmp("big.bmp", 301, 300, patternColour);
    writeBmp("narrow.bmp", 299, 300, patternColour);
    writeBmp("short.bmp", 300, 299, patternColour);
    std::ofstream("junk.dat") << "this is not a picture";
    std::ofstream("empty.dat");

    SDL_Surface* pic = loadSplashPicture("big.bmp", screen->format);
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(pic->w, 301);
    EXPECT_EQ(pic->h, 300);
    EXPECT_EQ(pic->format->BytesPerPixel, 4);
    // Rows come out top first, whatever the file's padding (301 * 3 bytes is not a multiple of 4).
    EXPECT_EQ(pixelAt(pic, 0, 0) & 0xFFFFFF, patternColour(0, 0));
    EXPECT_EQ(pixelAt(pic, 300, 0) & 0xFFFFFF, patternColour(300, 0));
    EXPECT_EQ(pixelAt(pic, 12, 299) & 0xFFFFFF, patternColour(12, 299));
    SDL_FreeSurface(pic);

    for (const char* bad : {"narrow.bmp", "short.bmp", "junk.dat", "empty.dat", "missing.dat"})
        EXPECT_EQ(loadSplashPicture(bad, screen->format), nullptr) << bad;
    SDL_FreeSurface(screen);
}

TEST(SplashPicture, ShippedPictureIsUsable) {
    // The splash.dat that ships with the program is a readable BMP of at least 300x300.
    SDL_Surface* screen = newScreen();
    SDL_Surface* pic = loadSplashPicture(VORNA_SOURCE_DIR "/splash.dat", screen->format);
    ASSERT_NE(pic, nullptr);
    EXPECT_GE(pic->w, 300);
    EXPECT_GE(pic->h, 300);
    SDL_FreeSurface(pic);
    SDL_FreeSurface(screen);
}

TEST(SplashLoop, SkippedWithoutPictureEndedByKeyOrClose) {
    // A missing or too small splash.dat skips the splash (0 at once); a key press ends it
    // with 0 at the first due 10 ms input tick; closing the window returns -1.
    DummyVideo video;
    ASSERT_NE(video.screen, nullptr);
    ScratchDir dir("splash");
    EXPECT_EQ(showSplash(video.screen), 0);
    writeBmp("splash.dat", 100, 100, patternColour);
    EXPECT_EQ(showSplash(video.screen), 0);

    writeBmp("splash.dat", 300, 300, patternColour);
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
    writeBmp("splash.dat", 300, 300, patternColour);
    pushEvent(SDL_KEYUP, SDLK_a);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(showSplash(video.screen), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(235 * 16 - 20));
}
