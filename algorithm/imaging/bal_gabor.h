// Gabor enhancement: tile-by-tile frequency-domain band-pass filtering tuned
// to each pixel's ridge orientation and wavelength (and, in the 32-point
// form, narrowed where the pixel quality is poor); and the object model's
// image enhancement (finger presence, segmentation, normalisation, rescale).
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// 16-point form. Tiles of 8*step pixels are filtered through a 16 x 16
// window sampled every step-th pixel (step 1 or 2; with 2 the source is
// smoothed first and the skipped pixels are filled by an upsampling blur).
// The kernels are laid out for samples two pixels apart: with step 1 a
// wavelength byte of lambda passes ridges lambda / 2 pixels apart.
// A tile is filtered only when one of its corner or centre pixels lies in a
// block inside the grid and the mask; other pixels of dst are 0. quality is
// not read. The output saturates to -128..127. Returns BAL_OK, BAL_NO_MEMORY
// (no scratch), BAL_BAD_ARGUMENT (step other than 1 or 2, block 0, negative
// grid size, null pointer) or the status of a failing blur.
[[nodiscard]] bal_status bal_gabor_filter_16(const uint8_t* src, uint32_t rows, uint32_t cols, const uint8_t* wavelength,
                                             const uint8_t* orientation, const uint8_t* block_mask, const void* quality,
                                             int32_t block_rows, int32_t block_cols, uint32_t block, int8_t* dst, uint16_t step);

// 32-point form: 16 x 16 tiles through 32 x 32 windows; the kernel is applied
// once, twice or three times for quality band 0, 1 or 2. The output
// saturates to -128..127. Returns BAL_OK, BAL_NO_MEMORY or BAL_BAD_ARGUMENT as
// above.
[[nodiscard]] bal_status bal_gabor_filter_32(const uint8_t* src, int32_t rows, uint32_t cols, const uint8_t* wavelength,
                                             const uint8_t* orientation, const uint8_t* block_mask, const uint8_t* quality,
                                             int32_t block_rows, int32_t block_cols, uint32_t block, int8_t* dst);

// Enhancement for the image object: crops to whole 12-pixel blocks, fills
// dst (dst_rows x dst_cols) with 255 when the centre shows no finger,
// otherwise segments, blurs, normalises globally (mean 150, spread 300) and
// scales the result bilinearly into dst. Returns BAL_OK, BAL_BAD_ARGUMENT
// (smaller than one block), BAL_NO_MEMORY, or the status of a failing inner
// step (dst then not written).
[[nodiscard]] bal_status bal_enhance_quality(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t dst_rows,
                                             uint32_t dst_cols, uint8_t* dst);
