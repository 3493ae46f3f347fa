// make-splash: draws the start-up picture and writes it as a BMP.
//
//   make-splash [output]     (default "splash.dat")
//
// The picture is 300x300: a dark sky gradient crossed by sine-wave bands, the
// word VORNA in big blocky letters with a drop shadow, and a trace like an
// oscilloscope line under it. Everything is computed here, so the same binary
// always writes the same bytes.
//
// Sections: picture drawing, BMP encoding, main.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "song/bytes.h"

static const int Side = 300;

struct Rgb {
    int r, g, b;
};

static std::vector<Rgb> pixels(Side* Side);

static int clampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

static void plot(int x, int y, Rgb c) {
    if (x < 0 || y < 0 || x >= Side || y >= Side) return;
    pixels[y * Side + x] = {clampByte(c.r), clampByte(c.g), clampByte(c.b)};
}

static void fillBox(int x, int y, int w, int h, Rgb c) {
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i) plot(i, j, c);
}

// ---- picture drawing ------------------------------------------------------

// Five letters on a 5x7 block grid, one string per row, '#' = block.
static const char* const Letters[5][7] = {
    {"#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."},  // V
    {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."},  // O
    {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"},  // R
    {"#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"},  // N
    {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"},  // A
};

static void drawSky() {
    for (int y = 0; y < Side; ++y) {
        for (int x = 0; x < Side; ++x) {
            // Deep blue at the top to violet at the bottom.
            double t = y / double(Side - 1);
            double r = 10 + 70 * t;
            double g = 16 + 10 * t;
            double b = 60 + 60 * (1 - t);
            // Three interfering sine bands give the wave pattern.
            double wave = std::sin(x * 0.045 + std::sin(y * 0.031) * 2.0) + std::sin(y * 0.07 - x * 0.013) +
                          0.5 * std::sin((x + y) * 0.11);
            double lift = 18 * wave;
            plot(x, y, {int(r + lift * 0.6), int(g + lift * 0.9), int(b + lift)});
        }
    }
}

// A rounded frame two pixels inside the border.
static void drawBorder() {
    Rgb edge = {150, 170, 210};
    for (int i = 4; i < Side - 4; ++i) {
        plot(i, 3, edge);
        plot(i, Side - 4, edge);
        plot(3, i, edge);
        plot(Side - 4, i, edge);
    }
}

static void drawWord() {
    const int block = 9;  // pixels per letter block
    const int gap = 10;   // pixels between letters
    const int letterW = 5 * block;
    const int wordW = 5 * letterW + 4 * gap;
    const int left = (Side - wordW) / 2;
    const int top = 90;
    for (int pass = 0; pass < 2; ++pass) {
        // Pass 0 lays the shadow four pixels down-right, pass 1 the letters.
        int shift = pass == 0 ? 4 : 0;
        for (int l = 0; l < 5; ++l) {
            for (int row = 0; row < 7; ++row) {
                for (int col = 0; col < 5; ++col) {
                    if (Letters[l][row][col] != '#') continue;
                    int x = left + l * (letterW + gap) + col * block + shift;
                    int y = top + row * block + shift;
                    if (pass == 0) {
                        fillBox(x, y, block, block, {5, 5, 20});
                    } else {
                        // Each block shades from warm white at the top to amber.
                        for (int j = 0; j < block; ++j) {
                            int warm = 255 - (row * block + j) * 2;
                            fillBox(x, y + j, block - 1, 1, {255, warm, warm / 2 + 40});
                        }
                    }
                }
            }
        }
    }
}

static void drawTrace() {
    // A decaying wave like a plucked note on a scope, 2 pixels thick.
    Rgb trace = {120, 255, 140};
    int prev = -1;
    for (int x = 20; x < Side - 20; ++x) {
        double t = (x - 20) / double(Side - 40);
        double v = std::sin(t * 40.0) * std::exp(-3.0 * t) * 22;
        int y = 225 + int(std::lround(v));
        int from = prev < 0 ? y : (prev < y ? prev : y);
        int to = prev < 0 ? y : (prev < y ? y : prev);
        for (int j = from; j <= to; ++j) {
            plot(x, j, trace);
            plot(x, j + 1, trace);
        }
        prev = y;
    }
}

// ---- BMP encoding ---------------------------------------------------------

// A 24-bit uncompressed bottom-up BMP, built in memory.
static std::vector<uint8_t> encodeBmp() {
    const uint32_t rowBytes = (Side * 3 + 3) & ~3u;  // rows are padded to 4 bytes
    const uint32_t headerBytes = 14 + 40;            // file header + BITMAPINFOHEADER
    const uint32_t imageBytes = rowBytes * Side;
    std::vector<uint8_t> out(headerBytes + imageBytes, 0);
    uint8_t* p = out.data();
    p[0] = 'B';  // magic "BM"
    p[1] = 'M';
    putLe32(p + 2, headerBytes + imageBytes);  // whole file size
    putLe32(p + 6, 0);                         // two reserved 16-bit words
    putLe32(p + 10, headerBytes);              // offset of the pixel data
    putLe32(p + 14, 40);                       // info header size
    putLe32(p + 18, Side);                     // width
    putLe32(p + 22, Side);                     // height, positive = bottom-up
    putLe16(p + 26, 1);                        // colour planes
    putLe16(p + 28, 24);                       // bits per pixel
    putLe32(p + 30, 0);                        // BI_RGB, no compression
    putLe32(p + 34, imageBytes);               // pixel data size
    putLe32(p + 38, 2835);                     // 72 dpi horizontally (pixels per metre)
    putLe32(p + 42, 2835);                     // and vertically
    putLe32(p + 46, 0);                        // colours used: none, true colour
    putLe32(p + 50, 0);                        // important colours: all
    for (int y = 0; y < Side; ++y) {
        uint8_t* row = p + headerBytes + uint32_t(Side - 1 - y) * rowBytes;  // bottom row first
        for (int x = 0; x < Side; ++x) {
            const Rgb& c = pixels[y * Side + x];
            row[3 * x] = uint8_t(c.b);  // stored blue, green, red
            row[3 * x + 1] = uint8_t(c.g);
            row[3 * x + 2] = uint8_t(c.r);
        }
    }
    return out;
}

// ---- main -----------------------------------------------------------------

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "splash.dat";
    drawSky();
    drawBorder();
    drawWord();
    drawTrace();
    std::vector<uint8_t> bytes = encodeBmp();
    std::FILE* f = std::fopen(path, "wb");
    if (!f) {
        std::perror(path);
        return 1;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "%s: write failed\n", path);
        std::remove(path);
        return 1;
    }
    return 0;
}
