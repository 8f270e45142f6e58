// Changes of frame of 8-bit images without a change of scale: cropping a
// window, placing an image in a larger frame and filling the border, bringing
// the size to whole blocks, resampling to 500 dpi, and the sizes and row
// pointers that block-based code needs.
//
// Window offsets (row, column): positive, the source pixel that lands on the
// result's pixel (0, 0) (a crop); negative, minus the position at which the
// source starts inside the result (an expansion).
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Copies the overlap of src and the window at (row_offset, col_offset) into
// dst; pixels of dst outside the overlap keep their values.
void bal_crop_image(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t dst_rows,
                    uint32_t dst_cols, int32_t row_offset, int32_t col_offset, uint8_t* dst);

// bal_crop_image with the offsets (rows - dst_rows) / 2 and
// (cols - dst_cols) / 2, truncated toward zero: an odd excess goes to the
// bottom and right.
void bal_crop_image_center(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t dst_rows,
                           uint32_t dst_cols, uint8_t* dst);

// Cuts the image down to whole blocks (the odd pixel of a remainder at the
// bottom or right) into a new image freed by the caller. Returns BAL_OK,
// BAL_BAD_ARGUMENT when a side is below block, or BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_crop_block_size(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t block,
                                             uint8_t** out_image, uint32_t* out_rows, uint32_t* out_cols,
                                             uint32_t* out_row_offset, uint32_t* out_col_offset);

// Fills dst with `fill` and places src at (row_offset, col_offset). Returns
// BAL_OK, or BAL_BAD_ARGUMENT when the source does not fit. The output stands
// fourth.
[[nodiscard]] bal_status bal_increase_image_size(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst,
                                                 uint32_t dst_rows, uint32_t dst_cols, uint32_t row_offset,
                                                 uint32_t col_offset, uint8_t fill);

// Places src at (row_offset, col_offset) of dst and fills the rest ring by
// ring with two- and three-pixel means of the ring inside. Writes nothing
// when the source does not fit in the frame at the offsets.
void bal_expand_image(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t dst_rows,
                      uint32_t dst_cols, uint32_t row_offset, uint32_t col_offset, uint8_t* dst);

// Places src likewise and fills the border from the maxima of the source's
// 8-pixel edge bands (in groups of 8), smoothed twice with the binomial blur;
// the source's inner part (all but a two-pixel rim) is restored afterwards.
void bal_expand_image_w_background(const uint8_t* src, uint32_t rows, uint32_t cols,
                                   uint32_t dst_rows, uint32_t dst_cols, uint32_t row_offset,
                                   uint32_t col_offset, uint8_t* dst);

// Expansion modes of the block-size operations.
enum bal_expand_mode : uint32_t {
    BAL_EXPAND_SMOOTH = 0,      // bal_expand_image
    BAL_EXPAND_BACKGROUND = 1,  // bal_expand_image_w_background
};

// Grows each side to whole blocks (the odd pixel of the extension at the
// bottom or right) into a new image freed by the caller; the offsets are
// zero or negative. Returns BAL_OK, BAL_BAD_ARGUMENT for a side below 3 * block
// or an unknown mode, or BAL_NO_MEMORY (nothing is then left allocated).
[[nodiscard]] bal_status bal_expand_block_size(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t block,
                                               uint32_t mode, uint8_t** out_image, uint32_t* out_rows,
                                               uint32_t* out_cols, int32_t* out_row_offset,
                                               int32_t* out_col_offset);

// Brings each side to whole blocks, cropping a remainder of at most
// block / 4 (positive offset) and expanding a larger one (negative offset).
// Returns BAL_OK, BAL_BAD_ARGUMENT (as above), or BAL_NO_MEMORY with the result
// freed and cleared.
[[nodiscard]] bal_status bal_resize_block_size(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t block,
                                               uint32_t mode, uint8_t** out_image, uint32_t* out_rows,
                                               uint32_t* out_cols, int32_t* out_row_offset,
                                               int32_t* out_col_offset);

// Resamples an image taken at dpi to 500 dpi (bilinear, 1/512-pixel steps)
// into a new image freed by the caller. Returns BAL_OK, BAL_NO_MEMORY, or
// BAL_BAD_ARGUMENT when dpi gives no usable step (0, or so large that dpi << 9
// wraps).
[[nodiscard]] bal_status bal_resize_to_500(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t dpi,
                                           uint8_t** out_image, uint32_t* out_rows, uint32_t* out_cols);

// Rebuilds the outer `width` rings from the inside outwards, each ring pixel
// the mean of up to three neighbours on the ring just inside. dst may equal
// src. Nothing is written when width >= rows / 2 or width >= cols / 2.
void bal_replace_edge_uint8(uint8_t* src, uint32_t rows, uint32_t cols, uint32_t width,
                            uint8_t* dst);

// Extra bytes to grow a rows x cols image to whole blocks with a margin of
// 8 / scale pixels; 0 when none (or for a block or scale of 0).
uint32_t bal_image_pad_bytes(uint32_t rows, uint32_t cols, uint32_t block, uint32_t scale);

// row_ptrs[r] = pixels + r * cols.
void bal_images_1D_to_2D(uint8_t* pixels, uint32_t rows, uint32_t cols, uint8_t** row_ptrs);
