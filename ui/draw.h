#pragma once
// Drawing primitives: colours in the surface's own format, the built-in 5x5
// font, glyphs, text, lines and clipped fills, and the number/note text tables
// that the views read instead of formatting numbers while a frame is drawn.
//
// Every routine takes colours as packed 0xAARRGGBB words (the palette's form)
// and converts them to the surface's pixel format itself. Every routine clips
// at the surface's edges and respects its pitch; surfaces that are not 32 bits
// per pixel are left untouched.
#include <cstdint>
#include <string>

struct SDL_Surface;
struct SDL_PixelFormat;

constexpr int GlyphSize = 5;     // glyphs are 5x5 pixels
constexpr int GlyphAdvance = 6;  // 5 pixels of glyph and 1 of space
constexpr int FirstGlyph = 32;   // space
constexpr int GlyphCount = 64;   // codes 32..95

// The 25 pixel bytes of a glyph (0 clear, 1 set), row by row from the top, or
// null for a code outside 32..95.
const uint8_t* glyphPixels(int code);

// Text tables, filled once by buildTextTables() before the first frame.
extern char hexByteText[512];   // ui/draw.cpp: "00".."FF", value v at 2v, no terminators
extern char hexDigitText[16];   // ui/draw.cpp: "0".."F"
extern char noteText[256 * 4];  // ui/draw.cpp: three characters per note at 4-byte steps
void buildTextTables();

// 0xAARRGGBB to the surface's pixel value. The standard 0xFF0000/0xFF00/0xFF
// layout takes the word unchanged (alpha byte included).
uint32_t mapColour(const SDL_PixelFormat* format, uint32_t argb);

// Character i at (x + 6i, y), its glyph's top-left pixel there; codes outside
// 32..95 draw nothing.
void drawText(SDL_Surface* surface, uint32_t argb, int x, int y, const char* text);
void drawText(SDL_Surface* surface, uint32_t argb, int x, int y, const std::string& text);

// `count` characters from a text table (no terminator needed), 6 pixels apart.
void drawChars(SDL_Surface* surface, const char* chars, int count, int x, int y, uint32_t argb);

// A one-pixel line, both end points included (integer Bresenham).
void drawLine(SDL_Surface* surface, int x0, int y0, int x1, int y1, uint32_t argb);

// The one-pixel outline of the rectangle from (left, top) to (right, bottom),
// both corners included: the frame of a screen panel.
void drawBox(SDL_Surface* surface, int left, int top, int right, int bottom, uint32_t argb);

// SDL_FillRect for int coordinates: clipped to the surface first, so negative
// or huge sizes never wrap into SDL's 16-bit rectangle fields.
void fillRect(SDL_Surface* surface, int x, int y, int w, int h, uint32_t argb);

// SDL_FillRect(surface, NULL, colour): the surface's clip rectangle.
void fillSurface(SDL_Surface* surface, uint32_t argb);
