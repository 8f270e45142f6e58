// Contour-based thinning of two-valued ridge images.
//
// The image is an array of row pointers; 1 is background, 0 is object, and any
// other value counts as object (2 marks a traced contour pixel while the
// operation runs). The outermost row and column on each side must be
// background: tracing and the neighbourhood patterns read all eight neighbours
// of every object pixel without bounds checks.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Thins the objects of `image` in place to lines one pixel wide.
// `scale` is not read. Returns BAL_OK, or BAL_NO_MEMORY when working memory is
// missing.
[[nodiscard]] bal_status bal_contour_thin_scale(uint8_t** image, uint32_t rows, uint32_t cols, uint32_t scale);

// bal_contour_thin_scale with scale 1.
[[nodiscard]] bal_status bal_contour_thin(uint8_t** image, uint32_t rows, uint32_t cols);

// Traces the contour through (row, col), starting the neighbour search from
// `state` (the direction of the previous move: 1 up, 2 down, 4 left, 8 right,
// diagonals as their sums). Appends the chain codes to `codes` at `*count`
// (never beyond `capacity`), advances `*count` and marks each traced pixel 2.
void extract_contour(uint8_t** image, uint32_t row, uint32_t col, uint32_t state, uint32_t capacity,
                     uint8_t* codes, uint32_t* count);

// The 8-neighbourhood pattern of (row, col): a bit per object neighbour,
// 128 upper-left, 64 up, 32 upper-right, 16 left, 8 right, 4 lower-left,
// 2 down, 1 lower-right.
uint8_t get_pattern(uint8_t* const* image, uint16_t row, uint16_t col);

// 1 when (row, col) is object and all eight neighbours are background.
uint32_t is_single_island(uint8_t* const* image, uint16_t row, uint16_t col);
