// Ridge wavelength field: the distance between neighbouring ridges, measured
// block by block from the power spectrum of a windowed neighbourhood, then
// completed and smoothed into a block field of whole pixels.
#pragma once

#include <cstdint>

#include "imaging/bal_fft_lanes.h"
#include "imaging/bal_status.h"

// 32-point path. pixel_mask (optional) marks foreground with values >= 128;
// quality (optional, in/out) is replaced by a peak-dominance measure for the
// blocks that reach the spectral analysis (0 when no peak is taken; also 0
// when the frequency output is given and the block has no valid wavelength).
// Outputs may be null. The path chooses the implementation, not the results:
// scalar is the reference, one block and one transform at a time; the others
// measure eight blocks at a time in vector lanes.
[[nodiscard]] bal_status bal_ridge_wavelengths_fft(const uint8_t* src, const uint8_t* pixel_mask, int32_t rows,
                                                   int32_t cols, uint32_t block, uint32_t max_wavelength,
                                                   uint32_t min_wavelength, const uint8_t* orientation,
                                                   int32_t block_rows, uint32_t block_cols, uint8_t* quality,
                                                   uint8_t* wavelength, uint8_t* frequency, int8_t* angle,
                                                   bal_simd_path path = bal_simd_path::automatic);

// Both 32-point fields of one image: the coarse field on block x block blocks
// (block_rows x block_cols; quality, wavelength, frequency and angle as
// above) and the fine field on cells of block / divisions pixels, divisions
// times as many in each direction (frequency and angle only). The results are
// those of the two calls to bal_ridge_wavelengths_fft; a coarse block whose
// window is also a fine cell's window is measured once for both.
// BAL_BAD_ARGUMENT when divisions is 0.
[[nodiscard]] bal_status bal_ridge_wavelengths_fft_coarse_fine(
    const uint8_t* src, const uint8_t* pixel_mask, int32_t rows, int32_t cols, uint32_t block, uint32_t divisions,
    uint32_t max_wavelength, uint32_t min_wavelength, int32_t block_rows, uint32_t block_cols, uint8_t* quality,
    uint8_t* wavelength, uint8_t* frequency, int8_t* angle, uint8_t* fine_frequency, int8_t* fine_angle,
    bal_simd_path path = bal_simd_path::automatic);

// 16-point path, for images reduced by their resolution divisor.
[[nodiscard]] bal_status bal_ridge_wavelengths_fft16(const uint8_t* src, int32_t rows, int32_t cols, uint32_t block,
                                                     uint32_t max_wavelength, uint32_t min_wavelength,
                                                     const uint8_t* orientation, int32_t block_rows,
                                                     uint32_t block_cols, const uint8_t* quality,
                                                     uint8_t* wavelength, uint8_t* frequency, int8_t* angle);

// Power spectrum of the windowed 16 x 16 neighbourhood of one block:
// P = (re^2 + im^2) >> 10 at re[(u + 8) * 22 + v] for u = -8..7, v = 0..8.
// im is work space of the same shape.
void fftn2d8rw_spectrum16(const uint8_t* src, uint16_t rows, uint16_t cols, uint8_t block,
                          int16_t block_row, int16_t block_col, uint8_t mean, uint32_t* re,
                          uint32_t* im);

// Removes outliers, fills the gaps ring by ring, smooths, and writes the
// rounded whole-pixel wavelengths (raw is 8.8 fixed point, 0 = unmeasured).
[[nodiscard]] bal_status postprocess_frequency_field(uint16_t* raw, uint32_t block_rows, uint32_t block_cols,
                                                     uint8_t* wavelength);

// Replaces every measured value by a trimmed mean of itself and its measured
// direct neighbours; a value without measured neighbours is dropped. BAL_OK or
// BAL_NO_MEMORY.
[[nodiscard]] bal_status filter_wavelengths(uint16_t* raw, uint32_t block_rows, uint32_t block_cols);
