// Median filters over the 3x3 square and over the five-point cross, both
// clipped at the image border. A window of an even number of values gives the
// mean of its two middle values: (a + b) >> 1 for unsigned samples,
// (a + b) / 2 truncated toward zero for signed ones, formed without overflow.
// dst may be src; any other overlap is not supported.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// 3x3 median. A one-row or one-column image is copied unchanged. BAL_OK, or
// BAL_NO_MEMORY when the row buffers cannot be had (dst then untouched).
[[nodiscard]] bal_status bal_median_uint8(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst);
// The same filter sorting every window on its own: the plain form the faster
// bal_median_uint8 is held to.
[[nodiscard]] bal_status bal_median_uint8_reference(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst);
[[nodiscard]] bal_status bal_median_int8(const int8_t* src, int32_t rows, int32_t cols, int8_t* dst);
[[nodiscard]] bal_status bal_median_uint16(const uint16_t* src, int32_t rows, int32_t cols, uint16_t* dst);
[[nodiscard]] bal_status bal_median_int16(const int16_t* src, int32_t rows, int32_t cols, int16_t* dst);
[[nodiscard]] bal_status bal_median_uint32(const uint32_t* src, int32_t rows, int32_t cols, uint32_t* dst);
[[nodiscard]] bal_status bal_median_int32(const int32_t* src, int32_t rows, int32_t cols, int32_t* dst);

// Median of the pixel and its four direct neighbours inside the image.
// BAL_OK, or BAL_NO_MEMORY when the row buffers cannot be had.
[[nodiscard]] bal_status bal_median_small_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);
[[nodiscard]] bal_status bal_median_small_int8(const int8_t* src, uint32_t rows, uint32_t cols, int8_t* dst);
[[nodiscard]] bal_status bal_median_small_uint16(const uint16_t* src, uint32_t rows, uint32_t cols, uint16_t* dst);
[[nodiscard]] bal_status bal_median_small_int16(const int16_t* src, uint32_t rows, uint32_t cols, int16_t* dst);
[[nodiscard]] bal_status bal_median_small_uint32(const uint32_t* src, uint32_t rows, uint32_t cols, uint32_t* dst);
[[nodiscard]] bal_status bal_median_small_int32(const int32_t* src, uint32_t rows, uint32_t cols, int32_t* dst);

// dst[y * cols + x] = 3x3 median of src around (y, x) for an inner pixel
// (1 <= y <= rows - 2, 1 <= x <= cols - 2); other positions write nothing.
void bal_median_pixel(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t y, uint32_t x, uint8_t* dst);
