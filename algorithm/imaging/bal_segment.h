// Block segmentation of a fingerprint image and the small operations on a
// finished block mask (centre, rim flags, rim test, applying the mask).
//
// Block mask: one byte a block, 1 foreground and 0 background; rim blocks
// flagged by bal_segmentation_flag_edge have 2 added. Readers test non-zero.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Segments an image of exactly block_rows x block_cols blocks into a 0/1 block
// mask. scale 1 means a 500 dpi image (analysed at half size); any other scale
// an image already at the working resolution. Returns BAL_OK, BAL_NO_MEMORY, or
// BAL_BAD_ARGUMENT (size not equal to the block geometry, fewer than 2 block
// rows or columns, block 0, null pointer; nothing written).
[[nodiscard]] bal_status bal_segment_image_scale(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                 uint32_t block_rows, uint32_t block_cols, uint32_t block,
                                                 uint8_t* block_mask, int32_t scale);
[[nodiscard]] bal_status bal_segment_image(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t block_rows,
                                           uint32_t block_cols, uint32_t block, uint8_t* block_mask);

// Iterative two-class threshold of rows x cols byte values, starting from the
// low byte of start; the new threshold leans four to one towards the lower
// class mean.
uint32_t bal_find_opt_threshold(const uint8_t* values, uint32_t rows, uint32_t cols,
                                uint32_t start);

// Cleans a 0/1 block mask in place: holes and specks, rim pruning, the
// largest 4-connected region, inlets and holes filled, opening and a 3x3
// majority vote. Returns BAL_OK, BAL_NO_MEMORY, BAL_BAD_ARGUMENT (fewer than 2
// rows or columns, nothing written) or the status of the opening or the
// majority vote.
[[nodiscard]] bal_status bal_filter_segmented(uint8_t* block_mask, uint32_t block_rows, uint32_t block_cols);

// Pixel centre of the non-zero blocks, or the image centre when there is none.
void bal_segmentation_center(const uint8_t* block_mask, uint32_t block_rows, uint32_t block_cols,
                             uint32_t block, uint32_t rows, uint32_t cols, uint32_t* out_row,
                             uint32_t* out_col);

// Adds 2 to every non-zero block on the grid border or next to a zero block.
void bal_segmentation_flag_edge(uint8_t* block_mask, uint32_t block_rows, uint32_t block_cols);

// Mode bit 2: 1 for a non-zero block on the grid border or next to a zero
// block; mode bit 4: 1 for a zero block next to a non-zero block. 0 otherwise
// (also for a position outside the grid).
uint32_t bal_segmentation_at_edge(const uint8_t* block_mask, uint32_t block_rows,
                                  uint32_t block_cols, uint32_t row, uint32_t col, uint32_t mode);

// Copies the pixels of non-zero blocks and sets those of zero blocks to 255.
// rows is not read; pixels beyond the grid are not written.
void bal_segment_apply(const uint8_t* block_mask, uint32_t block_rows, uint32_t block_cols,
                       uint32_t block, const uint8_t* src, uint32_t rows, uint32_t cols,
                       uint8_t* dst);
