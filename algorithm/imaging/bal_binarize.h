// Binarisation into two complementary two-valued images, and small filters
// of 0/1 masks.
//
// Output pair (first, second): first = 1, second = 0 where a pixel is at or
// above its threshold; first = 0, second = 1 below it; 1 in both where a
// pixel is not judged (outside the mask or the block grid, low quality).
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Per masked block: the level below which more than `percent` % of its
// pixels lie, smoothed over the block grid (rows / block x cols / block).
// Returns BAL_OK, BAL_NO_MEMORY, BAL_BAD_ARGUMENT (null pointer, block 0 or
// above 255, no whole block in a direction; nothing written) or the status of
// the grid blur (both images all 1).
[[nodiscard]] bal_status bal_binarize_local_histogram_threshold(const int8_t* src, const uint8_t* unused,
                                                                uint32_t rows, uint32_t cols,
                                                                const uint8_t* block_mask, uint32_t block,
                                                                uint8_t percent, uint8_t* first, uint8_t* second);

// Threshold plane interpolated from the block means of the pixels whose
// quality exceeds 15. Returns BAL_OK, BAL_NO_MEMORY, BAL_BAD_ARGUMENT (null
// pointer, block 0, grid smaller than the 2 x 2 the interpolation needs) or the
// grid blur's status.
[[nodiscard]] bal_status bal_binarize_local_threshold(const int8_t* src, const uint8_t* quality, uint32_t rows,
                                                      uint32_t cols, uint32_t block, uint8_t* first,
                                                      uint8_t* second);

// One threshold: the mean of the pixels whose quality exceeds 15.
void bal_binarize_global_threshold(const int8_t* src, const uint8_t* quality, uint32_t rows,
                                   uint32_t cols, uint8_t* first, uint8_t* second);

// Threshold per pixel: the mean along a cross-section of `width` pixels in
// the direction of the 8-bit angle at the pixel. Blocks with mask 0 become 1
// in both images (clipped to the image). Returns BAL_OK.
[[nodiscard]] bal_status bal_binarize_cross_section(const int8_t* src, int32_t rows, int32_t cols,
                                                    const uint8_t* orientation, const uint8_t* width,
                                                    const uint8_t* block_mask, uint32_t block_rows,
                                                    uint32_t block_cols, uint32_t block, uint8_t* first,
                                                    uint8_t* second);

// Centre-against-ring decision at the scale of the local wavelength (8.8),
// into two bit-packed planes (rows padded to whole bytes, first pixel in the
// most significant bit).
void bal_binarize_bandpass(const int16_t* src, uint32_t rows, uint32_t cols,
                           const uint16_t* wavelength, uint8_t* first, uint8_t* second);

// Sets both images to 1 in a frame: `top` and `bottom` rows, and `left` and
// `right` columns of the rows between (widths beyond the image are clipped).
void bal_binarize_remove_edges(uint8_t* first, uint8_t* second, uint32_t rows, uint32_t cols,
                               uint32_t left, uint32_t right, uint32_t top, uint32_t bottom);

// Flips interior pixels (quality above 15) that differ from at least three of
// their four neighbours in first, in a forward and a backward sweep.
void bal_binarize_remove_dots(uint8_t* first, uint8_t* second, const uint8_t* quality,
                              uint32_t rows, uint32_t cols);

// Clears isolated ones and fills isolated non-ones of a 0/1 mask (interior
// elements only). dst may equal src.
void bal_binarize_remove_holes(const uint8_t* src, int32_t rows, uint32_t cols, uint8_t* dst);

// 3x3 majority vote on a 0/1 mask (at least 5 of 9, 5 of 6 on the border,
// all 4 in a corner). dst may equal src. Returns BAL_OK, BAL_NO_MEMORY, or
// BAL_BAD_ARGUMENT for fewer than 2 rows or columns.
[[nodiscard]] bal_status bal_binarize_blur(const uint8_t* src, int32_t rows, uint32_t cols, uint8_t* dst);
