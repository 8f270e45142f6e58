// Point operations: each map goes through a 256-entry lookup table built for
// the call, which gives the per-pixel formula exactly for every pixel.
#include "imaging/bal_point_ops.h"

#include <array>
#include <cstring>

#include "imaging/bal_status.h"
#include "math/zr_random.h"

namespace {

using Lut = std::array<uint8_t, 256>;

// Pixel count of a rows x cols image, 0 when either side is below 1.
size_t pixel_count(int32_t rows, int32_t cols) {
    if (rows <= 0 || cols <= 0) return 0;
    return static_cast<size_t>(rows) * static_cast<size_t>(cols);
}

void apply_lut(const uint8_t* src, size_t n, const Lut& lut, uint8_t* dst) {
    for (size_t i = 0; i < n; ++i) dst[i] = lut[src[i]];
}

uint32_t clamp_percent(uint32_t percent) { return percent > 100 ? 100 : percent; }

}  // namespace

void bal_image_brighten(const uint8_t* src, int32_t rows, int32_t cols, uint32_t percent, uint8_t* dst) {
    const size_t n = pixel_count(rows, cols);
    if (n == 0) return;
    const uint32_t p = clamp_percent(percent);
    Lut lut;
    for (uint32_t v = 0; v < 256; ++v) lut[v] = static_cast<uint8_t>(v + (255 - v) * p / 100);
    apply_lut(src, n, lut, dst);
}

void bal_image_darken(const uint8_t* src, int32_t rows, int32_t cols, uint32_t percent, uint8_t* dst) {
    const size_t n = pixel_count(rows, cols);
    if (n == 0) return;
    const uint32_t p = clamp_percent(percent);
    Lut lut;
    for (uint32_t v = 0; v < 256; ++v) lut[v] = static_cast<uint8_t>(v - v * p / 100);
    apply_lut(src, n, lut, dst);
}

void bal_image_invert(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst) {
    const size_t n = pixel_count(rows, cols);
    for (size_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(~src[i]);
}

void bal_image_negate(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst) {
    const size_t n = pixel_count(rows, cols);
    for (size_t i = 0; i < n; ++i) dst[i] = src[i] == 0 ? 1 : 0;
}

bal_status bal_image_add_dead_pixels(const uint8_t* src, uint32_t rows, uint32_t cols, int32_t count, uint8_t value,
                                     uint64_t* rng_state, uint8_t* dst) {
    const uint64_t n = static_cast<uint64_t>(rows) * cols;
    // A pixel count that does not fit the signed 32-bit copy length is no image.
    if (n == 0 || n > INT32_MAX) return BAL_OK;
    if (dst != src) std::memcpy(dst, src, static_cast<size_t>(n));
    for (int32_t k = 0; k < count; ++k) dst[zr_randint_uint32(rng_state, 0, static_cast<uint32_t>(n - 1))] = value;
    return BAL_OK;
}
