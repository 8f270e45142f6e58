// Intensity normalisation: grey-level mappings to a target mean and spread
// with one Q5 gain rule (32 = unit gain), from global, block-local or given
// statistics, and the successive mean quantisation transform.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Block-local normalisation around the smoothed, up-scaled block means with
// the (floored at 100) block variances. Blocks outside a given mask become
// 255. dst may equal src. Returns BAL_OK, BAL_NO_MEMORY, BAL_BAD_ARGUMENT (grid
// outside the image or smaller than 2 x 2, block 0, null pointer) or an inner
// blur status.
[[nodiscard]] bal_status bal_normalize_locally(const uint8_t* src, uint32_t rows, uint32_t cols,
                                               const uint8_t* block_mask, uint32_t block, uint32_t block_rows,
                                               uint32_t block_cols, uint8_t target_mean, uint32_t target_spread,
                                               uint8_t* dst);

// As bal_normalize_locally with block centres (max + min) / 2 of a twice
// median-filtered image. The mask is required.
[[nodiscard]] bal_status bal_normalize_locally_minmax(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                      const uint8_t* block_mask, uint32_t block,
                                                      uint32_t block_rows, uint32_t block_cols,
                                                      uint32_t target_mean, uint32_t target_spread, uint8_t* dst);

// Maps every block of the grid with its own gain around the local-mean image;
// blocks outside a given mask become 255. rows is not read.
void bnl_normalize(const uint8_t* src, uint32_t rows, uint32_t cols, const uint8_t* block_mask,
                   uint32_t block, uint32_t block_rows, uint32_t block_cols, uint8_t target_mean,
                   uint32_t target_spread, const uint8_t* local_mean,
                   const uint16_t* block_variance, uint8_t* dst);

// One mean and variance from the blocks inside the mask (a null mask counts
// every block). Returns BAL_OK, BAL_NO_MEMORY or BAL_BAD_ARGUMENT.
[[nodiscard]] bal_status bal_normalize_globally(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                const uint8_t* block_mask, uint32_t block, uint32_t block_rows,
                                                uint32_t block_cols, uint8_t target_mean, uint32_t target_spread,
                                                uint8_t* dst);

// Whole-image histogram mean and variance; returns the gain.
uint32_t bal_normalize_image_simple(const uint8_t* src, uint32_t rows, uint32_t cols,
                                    uint8_t target_mean, uint32_t target_spread, uint8_t* dst);

// Statistics of the textured 8x8 blocks with a target spread that rises with
// the measured contrast; returns the gain (0 and nothing written when scratch
// memory is missing).
uint32_t bal_normalize_image(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t target_mean,
                             uint32_t spread_low, uint32_t spread_high, uint8_t* dst);

// Given mean and variance, target variance used as is; returns the gain.
uint32_t bal_normalize_image_HWJ(const uint8_t* src, int32_t rows, uint32_t cols, uint8_t mean,
                                 uint8_t target_mean, uint32_t variance, uint32_t target_variance,
                                 uint8_t* dst);

// Subtracts the smoothed local mean of 8x8 blocks and adds target_mean.
// Writes nothing when scratch memory is missing, a blur fails, or the image
// has fewer than two blocks in either direction.
void bal_normalize_image_mean(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t target_mean,
                              uint8_t* dst);

// bal_normalize_image_simple(127, 80) with 255 turned into 254.
void bal_normalize_non_burn(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t unused1,
                            uint32_t unused2, uint8_t* dst);

// Successive mean quantisation (bits 7 .. 2 of the output). Returns BAL_OK or
// BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_normalize_image_smqt(const uint8_t* src, uint32_t rows, int32_t cols, uint8_t* dst);

// One split of the levels (lo, hi] at their mean; workspace holds the
// cumulative counts, cumulative level sums and output codes (3 x 256 u32).
void smqt(uint32_t* workspace, uint8_t bit, uint8_t lo, uint8_t hi);
