// Pixel-resolution foreground masks from the share of flat pixels in a square
// window around each pixel (the window clipped to the image). Masks hold 255
// for foreground and 0 for background.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Local variance of src over 9 x 9 windows; a pixel is background when more
// than 5/255 of its 17 x 17 window has a variance below 5. Returns BAL_OK,
// BAL_NO_MEMORY when the working memory cannot be had, or the status of the
// local variance; on failure the mask is all 255.
[[nodiscard]] bal_status bal_segment_image_variance(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* mask);

// The window-count rule on any u16 plane: with q = (100 - percent) * 255 / 100
// and k of the n pixels of the (2 radius + 1)^2 window below threshold, the
// mask is 0 where 255 k > q n, else 255. Returns BAL_OK, or BAL_NO_MEMORY when
// its column counters cannot be had (the mask is then all 0).
[[nodiscard]] bal_status bal_segment_hull(const uint16_t* plane, int32_t rows, uint32_t cols, uint32_t radius, int32_t threshold,
                                          uint32_t percent, uint8_t* mask);
