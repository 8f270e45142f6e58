// Point operations on 8-bit grey images: each pixel changes by itself.
// dst may be src; the result is then the same as with separate buffers.
// Images with rows or cols below 1 are left untouched.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Moves each pixel min(percent, 100) per cent of the way towards white.
void bal_image_brighten(const uint8_t* src, int32_t rows, int32_t cols, uint32_t percent, uint8_t* dst);

// Moves each pixel min(percent, 100) per cent of the way towards black.
void bal_image_darken(const uint8_t* src, int32_t rows, int32_t cols, uint32_t percent, uint8_t* dst);

// 255 - v.
void bal_image_invert(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst);

// A 0/1 mask of the zero pixels: 1 where v is 0, else 0.
void bal_image_negate(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst);

// Copies src to dst, then sets `count` pixels drawn uniformly at random (with
// repetition) from the caller's generator state to `value`. Returns BAL_OK.
[[nodiscard]] bal_status bal_image_add_dead_pixels(const uint8_t* src, uint32_t rows, uint32_t cols, int32_t count, uint8_t value,
                                                   uint64_t* rng_state, uint8_t* dst);
