// Pixel-level masks and helpers: a foreground mask from the local grey-level
// range, the local range itself, local maxima, filling the background of an
// image from the rim of its foreground, a crop rectangle from bright margins
// and a mask from a background value. Pixel masks are one byte a pixel,
// non-zero meaning foreground.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// dst = 1 where the local range (radius 5) of the morphologically smoothed
// image, blurred ten times, is above 48, else 0. Returns BAL_OK, BAL_NO_MEMORY
// or the status of a called operation; dst is all 0 on failure.
[[nodiscard]] bal_status bal_segment_image_morphological(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);

// dst = max - min of src over the disc dy^2 + dx^2 <= radius (radius + 1)
// around each pixel, clipped to the image. dst must not be src.
void bal_local_intensity_difference(const uint8_t* src, int32_t rows, uint32_t cols, uint32_t radius, uint8_t* dst);

// Local maxima of the interior (a margin of r = max(radius, 1) pixels): a
// non-zero pixel not smaller than its 8 neighbours keeps its value, and of a
// plateau only the pixel with no maximum to its right or below survives; all
// other pixels of dst, the margin included, become 0. dst may be src. count
// receives the number of maxima; images of at most 2 r rows or columns have
// none and are not written. Returns BAL_OK, or BAL_NO_MEMORY when the row
// buffers are missing.
[[nodiscard]] bal_status bal_local_maxima(const uint8_t* src, uint32_t rows, uint32_t cols, int32_t radius, uint8_t* dst,
                                          uint32_t* count);

// Fills every background pixel (mask 0) with a smooth continuation of the
// grey levels on the rim of the foreground. Only the low 16 bits of rows and
// cols are used; dst may be src. Returns BAL_OK, BAL_NO_MEMORY or the status of
// a blur.
[[nodiscard]] bal_status bal_mask_image(const uint8_t* src, uint32_t rows, uint32_t cols, const uint8_t* mask, uint8_t* dst);

// The rectangle inside bright margins (columns or rows whose mean is above
// 211), widened by 16 pixels on each side and kept inside the image.
void bal_get_crop_area(const uint8_t* src, int32_t rows, int32_t cols, uint32_t* out_height, uint32_t* out_width,
                       uint32_t* out_top, uint32_t* out_left);

// dst = 1 where src differs from the low byte of value, else 0.
void bal_get_mask(const uint8_t* src, uint16_t rows, uint16_t cols, uint32_t value, uint8_t* dst);
