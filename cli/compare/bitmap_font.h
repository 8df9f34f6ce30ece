// A tiny built-in 5x7 pixel font for the labels of the comparison picture,
// so that drawing text needs no font files or FFmpeg filters.
#pragma once

#include <cstdint>
#include <string>

// Cell size of one character, including one column and row of spacing.
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kCellWidth = kGlyphWidth + 1;

// Whether pixel (x, y) of character c is set (x < 5, y < 7, y = 0 at the
// top). Characters without a glyph draw as a small box.
bool glyph_pixel(char c, int x, int y);

// Draws `text` into a top-down picture of 32-bit BGRX words, each font
// pixel as a scale x scale square, starting at (left, top), clipped to the
// columns [clip_left, clip_right) and to the picture.
void draw_text(uint32_t* pixels, int width, int height, int left, int top, int clip_left, int clip_right,
               const std::string& text, int scale, uint32_t colour);
