// Integer statistics of raw images: whole-image mean, extremes, variance and
// standard deviation, row and column means, blockwise mean, variance and
// extremes, and the local variance over a square window.
//
// Unsigned quantities are divided rounding down, signed ones truncating
// toward zero. An image without pixels has mean, variance and deviation 0.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Mean of all rows * cols samples.
uint32_t bal_image_mean_uint8(const uint8_t* src, int32_t rows, int32_t cols);
int32_t bal_image_mean_int8(const int8_t* src, int32_t rows, int32_t cols);
uint32_t bal_image_mean_uint16(const uint16_t* src, int32_t rows, int32_t cols);
int32_t bal_image_mean_int16(const int16_t* src, int32_t rows, int32_t cols);

// Smallest and largest sample, each written only when its pointer is set; an
// image without pixels gives the type's largest and smallest value. Always
// BAL_OK.
[[nodiscard]] bal_status bal_image_min_max_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* out_min, uint8_t* out_max);
[[nodiscard]] bal_status bal_image_min_max_int8(const int8_t* src, uint32_t rows, uint32_t cols, int8_t* out_min, int8_t* out_max);
[[nodiscard]] bal_status bal_image_min_max_uint16(const uint16_t* src, uint32_t rows, uint32_t cols, uint16_t* out_min,
                                                  uint16_t* out_max);
[[nodiscard]] bal_status bal_image_min_max_int16(const int16_t* src, uint32_t rows, uint32_t cols, int16_t* out_min,
                                                 int16_t* out_max);

// (Q - S * (S / n)) / n with S the sum and Q the sum of squares of the n samples.
uint32_t bal_image_var_uint8(const uint8_t* src, uint32_t rows, uint32_t cols);
uint32_t bal_image_var_int8(const int8_t* src, uint32_t rows, uint32_t cols);
uint32_t bal_image_var_uint16(const uint16_t* src, uint32_t rows, uint32_t cols);
uint32_t bal_image_var_int16(const int16_t* src, uint32_t rows, uint32_t cols);

// Variance about the truncated mean, from the grey-level histogram; the mean
// goes to out_mean when it is set.
uint32_t bal_image_var(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* out_mean);
// Floor of the square root of bal_image_var.
uint32_t bal_image_std(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* out_mean);

// Mean of every row into row_means[rows] and of every column into col_means[cols].
void bal_image_rowcol_sum(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* row_means,
                          uint8_t* col_means);

// Mean of each block x block tile of a block_rows x block_cols grid into dst
// (row stride cols); block 0 writes nothing. The grid must lie in the image.
void bal_mean_blockwise_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t block, uint32_t block_rows,
                              uint32_t block_cols, uint8_t* dst);
void bal_mean_blockwise_int8(const int8_t* src, uint32_t rows, uint32_t cols, uint32_t block, uint32_t block_rows,
                             uint32_t block_cols, int8_t* dst);
void bal_mean_blockwise_uint16(const uint16_t* src, uint32_t rows, uint32_t cols, uint32_t block,
                               uint32_t block_rows, uint32_t block_cols, uint16_t* dst);
void bal_mean_blockwise_int16(const int16_t* src, uint32_t rows, uint32_t cols, uint32_t block, uint32_t block_rows,
                              uint32_t block_cols, int16_t* dst);

// Variance of each block about block_means[b], sampled at the even row and
// column offsets of the block; block 0 gives 0 for every block.
void bal_var_blockwise_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, const uint8_t* block_means,
                             uint32_t block, uint32_t block_rows, uint32_t block_cols, uint16_t* dst);

// Smallest and largest sample of each block. BAL_BAD_ARGUMENT when src is null,
// both outputs are null or the grid does not fit the image (nothing written);
// else BAL_OK.
[[nodiscard]] bal_status bal_min_max_blockwise_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t block,
                                                     uint32_t block_rows, uint32_t block_cols, uint8_t* out_min, uint8_t* out_max);
[[nodiscard]] bal_status bal_min_max_blockwise_int8(const int8_t* src, uint32_t rows, uint32_t cols, uint32_t block,
                                                    uint32_t block_rows, uint32_t block_cols, int8_t* out_min, int8_t* out_max);

// Variance of the (2 radius + 1)^2 window around every pixel, clipped at the
// border: ((16 Q - S ((16 S) / n)) / n) / 16. BAL_OK, or BAL_NO_MEMORY when the
// two integral tables cannot be had (dst then untouched).
[[nodiscard]] bal_status bal_var_local_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t radius, uint16_t* dst);

// The clipped-window variance of the pixels in rows row_begin..row_end-1 and
// columns col_begin..col_end-1, from the integral tables of sums and squares
// ((rows + 1) x (cols + 1), row stride cols + 1).
void bal_var_local_uint8_border(const uint32_t* sums, const uint32_t* squares, int32_t col_begin, int32_t col_end,
                                int32_t row_begin, int32_t row_end, int32_t rows, uint32_t cols, uint32_t radius,
                                uint16_t* dst);
