// Morphology of u8 images with a 3x3 structuring element clipped at the image
// border (neighbours outside the image take no part): binary dilation and
// erosion of zero / non-zero masks, grey dilation and erosion over the square
// and over the cross, opening, closing and removal of dark specks.
//
// dst may be src. Each operator returns 0, or 9 when its scratch memory
// cannot be had (dst then untouched). Images of 1 row or column use the
// clipped window; an empty image is left alone.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Binary: a 0 pixel with a non-zero pixel in its window becomes 1; every
// other pixel keeps its value.
[[nodiscard]] bal_status bal_dilate(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);
// Binary: a non-zero pixel with a 0 pixel in its window becomes 0.
[[nodiscard]] bal_status bal_erode(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);

// Grey: maximum / minimum of the 3x3 window.
[[nodiscard]] bal_status bal_dilate_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);
[[nodiscard]] bal_status bal_erode_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);

// Grey: maximum / minimum of the pixel and its four direct neighbours.
[[nodiscard]] bal_status bal_dilate_small_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);
[[nodiscard]] bal_status bal_erode_small_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);

// Erosion then dilation (opening) and dilation then erosion (closing); the
// second step runs on dst in place only when the first succeeded.
[[nodiscard]] bal_status bal_open(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);
[[nodiscard]] bal_status bal_close(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);
[[nodiscard]] bal_status bal_open_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);
[[nodiscard]] bal_status bal_close_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);

// A pixel darker than both vertical neighbours gets the depth min(up, down)
// difference, lowered by the smaller horizontal difference when it is darker
// than both horizontal neighbours too (outside neighbours count as 255
// brighter). Pixels deeper than threshold take the mean of their direct
// neighbours inside the image whose depth is at most threshold.
[[nodiscard]] bal_status bal_despeckle_dark_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t threshold,
                                                  uint8_t* dst);
