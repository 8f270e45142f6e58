// Local normalisation that repairs the block statistics at the rim of the
// fingerprint before mapping, so that the background next to the finger does
// not distort the contrast of its edge.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Blocks outside the mask take the average mean and variance of the blocks
// inside it; rim blocks (flagged in the caller's mask by adding 2) take those
// of their unflagged inner neighbours. dst may equal src. Returns BAL_OK,
// BAL_NO_MEMORY, BAL_BAD_ARGUMENT (null pointer, grid outside the image or
// smaller than 2 x 2, block 0) or the status of a failing smoothing step.
[[nodiscard]] bal_status bal_normalize_locally_edgefix(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                       uint8_t* block_mask, uint32_t block, uint32_t block_rows,
                                                       uint32_t block_cols, uint8_t target_mean,
                                                       uint32_t target_spread, uint8_t* dst);
