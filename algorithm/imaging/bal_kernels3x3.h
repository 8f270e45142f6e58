// Small convolution kernels on u8 images: Sobel and Laplace derivatives into
// i8 images, unsharp-mask sharpening, a general normalised 3x3 filter, a
// blockwise running maximum of a 1-D array and a bounds-checked pixel store.
//
// The derivative operators and the general filter clear their output first,
// so their output must not be the input. Divisions truncate toward zero.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Clears gx and gy, then fills the inner pixels (1 <= y <= rows-2,
// 1 <= x <= cols-2) with the Sobel gradients divided by 8:
// gx = (C(x+1) - C(x-1)) / 8 with C the vertical 1-2-1 column sum,
// gy = (D(x-1) + 2 D(x) + D(x+1)) / 8 with D the vertical difference.
void bal_sobel_2(const uint8_t* src, uint32_t rows, uint32_t cols, int8_t* gx, int8_t* gy);
// The same gradients formed by the plain running-column loop: the form the
// faster bal_sobel_2 is held to.
void bal_sobel_2_reference(const uint8_t* src, uint32_t rows, uint32_t cols, int8_t* gx, int8_t* gy);
void bal_sobel_horizontal(const uint8_t* src, uint32_t rows, uint32_t cols, int8_t* gx);
void bal_sobel_vertical(const uint8_t* src, uint32_t rows, uint32_t cols, int8_t* gy);

// Clears dst, then fills the inner pixels with (4 p - up - down - left - right) / 8.
void bal_laplace(const uint8_t* src, uint32_t rows, uint32_t cols, int8_t* dst);

// Unsharp mask: dst = clamp(p + ((12 p - S) * amount) / 128) with S the
// 2-1 weighted sum of the eight neighbours, border pixels standing in for
// missing ones. dst may be src. BAL_OK, or BAL_NO_MEMORY when the scratch image
// cannot be had.
[[nodiscard]] bal_status bal_sharpen_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t amount, uint8_t* dst);

// dst = (sum k*p) / (sum |k|) over the kernel positions inside the image,
// stored as the low 8 bits; a pixel whose clipped kernel has no weight stays 0.
// kernel: up-left, up, up-right, left, centre, right, down-left, down, down-right.
void bal_filter_3x3(const uint8_t* src, int32_t rows, int32_t cols, const int8_t kernel[9], uint8_t* dst);

// Fills each consecutive block of `block` bytes (the last may be shorter)
// with its largest value. length <= 0 or block <= 0 does nothing.
void bal_filter_max(uint8_t* data, int32_t length, int32_t block);

// image[row * cols + col] = value when the position is inside the image.
void bal_set_pixel(uint8_t* image, uint16_t rows, uint16_t cols, uint16_t row, uint16_t col, uint8_t value);
