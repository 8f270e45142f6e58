// Noise measurement and removal for 8-bit grey images: a second-difference
// noise residual and its level, subtraction of the residual (once or until a
// target level), morphological smoothing, detection of block (tiling)
// artefacts and removal of streaks (row or column segments offset from their
// surroundings). dst may equal src unless stated.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Per-pixel residual of the 3 x 3 second-difference mask
// (1 -2 1 / -2 4 -2 / 1 -2 1) / 16, edges and corners with the missing parts
// dropped; values keep their low 8 bits. noise may alias src. Images of fewer
// than 2 rows or columns have no second differences: their residual is 0.
// Returns BAL_OK, or BAL_NO_MEMORY when its row buffers cannot be had.
[[nodiscard]] bal_status bal_image_noise(const uint8_t* src, int32_t rows, uint32_t cols, int8_t* noise);

// Mean absolute residual x 16, saturated at 255; 0 for an empty image.
uint8_t bal_image_noise_value(const int8_t* noise, uint32_t rows, uint32_t cols);

// dst = clamp(src - residual(src), 0, 255). Returns BAL_OK or BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_image_denoise(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);

// Subtracts the residual of the working image up to five times, stopping
// once its level is below target. Returns BAL_OK or BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_image_adaptive_denoise(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst, uint8_t target);

// dst = (close(open(src)) + open(close(src))) / 2. Returns BAL_OK,
// BAL_NO_MEMORY or the first non-zero status of a morphology step. An empty
// image is left alone.
[[nodiscard]] bal_status bal_image_morphological_denoise(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst);

// dst = (open(src) + close(src)) / 2.
[[nodiscard]] bal_status bal_image_morphological_denoise_light(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst);

// flag = 1 when the steps between neighbouring pixels across the boundaries
// of block-wide columns are well above those inside the blocks. mode must be
// 1 and block at least 2 and at most cols. Returns BAL_OK, or BAL_BAD_ARGUMENT
// for bad arguments (flag then 0 when it exists).
[[nodiscard]] bal_status bal_image_block_noise_detector(const uint8_t* img, int32_t rows, int32_t cols, int32_t block, int32_t mode,
                                                        uint8_t* flag);

// The same test across rows (block at most rows; boundaries count from the
// bottom row). Returns BAL_OK, BAL_NO_MEMORY or BAL_BAD_ARGUMENT.
[[nodiscard]] bal_status bal_image_block_noise_detector_vertically(const uint8_t* img, int32_t rows, int32_t cols, int32_t block,
                                                                   int32_t mode, uint8_t* flag);

// Streak filter along rows with segments of seg pixels. Returns
// BAL_BAD_ARGUMENT when seg is below 1 or above cols, else BAL_OK or
// BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_image_denoise_impulse_noise(const uint8_t* src, uint32_t rows, int32_t cols, int32_t seg, uint8_t* dst);

// Streak filter along columns with segments of seg pixels. Returns
// BAL_NO_MEMORY when the turned copy cannot be had, BAL_BAD_ARGUMENT when seg
// is below 1 or above rows, else BAL_OK or BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_image_denoise_impulse_noise_vertically(const uint8_t* src, int32_t rows, uint32_t cols, int32_t seg,
                                                                    uint8_t* dst);

// In place, each whole row one segment. Returns BAL_BAD_ARGUMENT when cols is
// below 1.
[[nodiscard]] bal_status bal_image_denoise_rows(uint8_t* img, uint32_t rows, int32_t cols);

// In place, each whole column one segment. Returns BAL_NO_MEMORY when the
// turned copy cannot be had, BAL_BAD_ARGUMENT when rows is below 1.
[[nodiscard]] bal_status bal_image_denoise_columns(uint8_t* img, int32_t rows, uint32_t cols);
