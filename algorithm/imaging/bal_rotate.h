// Mirror, quarter-turn and free rotation of 8-bit images. Angles are bytes
// (256 a turn); a positive angle turns the image clockwise as displayed. A
// rotation returns a new image (freed by the caller) with its size and the
// position (row, column) at which the source's pixel (0, 0) lands in it.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Flip modes of bal_image_flip.
enum bal_flip_mode : uint32_t {
    BAL_FLIP_COPY = 0,               // any mode other than 1..5 copies
    BAL_FLIP_MIRROR_ROWS = 1,        // dst(r, c) = src(r, cols-1-c)
    BAL_FLIP_REVERSE_ROWS = 2,       // dst(r, c) = src(rows-1-r, c)
    BAL_FLIP_HALF_TURN = 3,          // dst(r, c) = src(rows-1-r, cols-1-c)
    BAL_FLIP_QUARTER_CW = 4,         // dst(c, rows-1-r) = src(r, c), cols x rows
    BAL_FLIP_QUARTER_CCW = 5,        // dst(cols-1-c, r) = src(r, c), cols x rows
};

// Writes the flipped image into dst, which must not overlap src. Nothing is
// written when rows (for mode 3 rows * cols) is below 1.
void bal_image_flip(const uint8_t* src, int32_t rows, int32_t cols, uint32_t mode, uint8_t* dst);

// Rotates by angle: quarter turns exactly through bal_image_flip, any other
// angle by bilinear sampling (Q14 weights) on a background of 255. The output
// image is none when it cannot be allocated.
void bal_image_rotate(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t angle,
                      uint8_t** out_image, uint32_t* out_rows, uint32_t* out_cols,
                      int32_t* out_row_offset, int32_t* out_col_offset);

// Signed member: always the free rotation, background 0, divisions truncating
// toward zero.
void bal_image_rotate_int8(const int8_t* src, uint32_t rows, uint32_t cols, uint8_t angle,
                           int8_t** out_image, uint32_t* out_rows, uint32_t* out_cols,
                           int32_t* out_row_offset, int32_t* out_col_offset);

// Nearest-neighbour rotation (masks) by the low 8 bits of angle; pixels
// without a source take fill (quarter turns are exact flips and have none).
// Returns BAL_OK, or BAL_NO_MEMORY when the image cannot be allocated.
[[nodiscard]] bal_status bal_image_rotate_nearest_neighbour_uint8(const uint8_t* src, uint32_t rows,
                                                                  uint32_t cols, uint32_t angle, uint8_t fill,
                                                                  uint8_t** out_image, uint32_t* out_rows,
                                                                  uint32_t* out_cols, int32_t* out_row_offset,
                                                                  int32_t* out_col_offset);

// Signed nearest-neighbour member: always the free rotation.
[[nodiscard]] bal_status bal_image_rotate_nearest_neighbour_int8(const int8_t* src, int32_t rows, int32_t cols,
                                                                 uint8_t angle, int8_t fill, int8_t** out_image,
                                                                 uint32_t* out_rows, uint32_t* out_cols,
                                                                 int32_t* out_row_offset,
                                                                 int32_t* out_col_offset);
