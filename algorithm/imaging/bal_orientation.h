// Block gradients, the ridge orientation and coherence fields, and the
// up-scaling of a block orientation field to pixel resolution.
//
// Orientation byte o (64..191): o - 128 is the dominant grey-level gradient
// direction in 1/256 turns (from the column axis towards increasing rows),
// folded into -64..63; the ridges run across it. Vertical ridges give 128,
// horizontal ridges 64. Coherence bytes run 0..255 (255: all gradients of the
// block parallel).
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Per block: the means of gx*gy, gx*gx and gy*gy over the block's pixels whose
// squared gradient exceeds 255, and the number of those pixels. With a block
// mask, the pixel rows and columns of a block that touch a masked-out
// neighbour are left out. blur = 1 box-blurs the image before the Sobel step.
// Returns BAL_OK, BAL_NO_MEMORY (scratch), BAL_BAD_ARGUMENT (block grid outside
// the image, block 0) or the blur's status.
[[nodiscard]] bal_status bal_compute_gradients(const uint8_t* src, uint32_t rows, uint32_t cols,
                                               const uint8_t* block_mask, uint32_t block_rows, uint32_t block_cols,
                                               uint32_t block, int32_t* mean_xy, int32_t* mean_xx, int32_t* mean_yy,
                                               int16_t* count, uint32_t blur);

// Orientation and (box-blurred) coherence of every block; doubled_angle, when
// given, receives the raw doubled gradient angle of each block (0 outside the
// mask). A null block mask counts every block as inside. scale 1 blurs the
// image before differentiation. Returns BAL_OK, BAL_NO_MEMORY, BAL_BAD_ARGUMENT
// (block grid outside the image or empty, block 0, null output) or an inner
// blur status.
[[nodiscard]] bal_status bal_ridge_orientations_scale(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                      const uint8_t* block_mask, uint8_t* orientation,
                                                      uint8_t* coherence, uint32_t block_rows, uint32_t block_cols,
                                                      uint32_t block, int8_t* doubled_angle, uint32_t scale);
[[nodiscard]] bal_status bal_ridge_orientations(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                const uint8_t* block_mask, uint8_t* orientation, uint8_t* coherence,
                                                uint32_t block_rows, uint32_t block_cols, uint32_t block,
                                                int8_t* doubled_angle);

// Coherence of every block from its own gradients (no neighbourhood
// re-estimation), box-blurred. The mask may be null. Returns BAL_OK,
// BAL_NO_MEMORY, BAL_BAD_ARGUMENT (as above) or the blur's status.
[[nodiscard]] bal_status bal_ridge_orientation_coherence_scale(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                               uint8_t* coherence, const uint8_t* block_mask,
                                                               uint32_t block_rows, uint32_t block_cols,
                                                               uint32_t block, uint32_t scale);
[[nodiscard]] bal_status bal_ridge_orientation_coherence(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                         uint8_t* coherence, const uint8_t* block_mask,
                                                         uint32_t block_rows, uint32_t block_cols, uint32_t block);

// Coherence of one block from its gradient means: 255 sqrt((2 Sxy)^2 +
// (Sxx - Syy)^2) / (Sxx + Syy), 0 when Sxx + Syy <= 0, saturating at 255.
uint8_t bal_block_coherence(int32_t mean_xy, int32_t mean_xx, int32_t mean_yy);

// Interpolates a block orientation field to rows x cols pixels along the
// shorter way round the doubled-angle circle. Returns BAL_OK, BAL_NO_MEMORY, or
// BAL_BAD_ARGUMENT for a field smaller than 2 x 2 or block 0.
[[nodiscard]] bal_status bal_scale_up_orientation(const uint8_t* orientation, uint32_t block_rows,
                                                  uint32_t block_cols, uint32_t block, uint8_t* dst, uint32_t rows,
                                                  uint32_t cols);
