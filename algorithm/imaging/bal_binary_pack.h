// Binary images (pixels 0 and 1) packed one bit per pixel and back, and
// subsampling by two. A packed row takes ceil(cols / 8) bytes; pixel x lies
// in byte x / 8, bit 7 - (x % 8), and the bits after the last pixel are 0.
#pragma once

#include <cstdint>

// Packs a 0/1 byte image into rows * stride bytes (pixels used as they are).
void bal_binary_8bit_to_1bit(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);
// Unpacks into a 0/1 byte image of rows x cols.
void bal_binary_1bit_to_8bit(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);
// dst[y][x] = src[2y][2x] for y < rows / 2 and x < cols / 2.
void bal_binarize_scale_down_2(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);
