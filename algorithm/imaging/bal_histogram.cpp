#include "imaging/bal_histogram.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "math/zr_roots.h"

namespace {

constexpr uint32_t kBins = 256;

size_t pixel_count(int32_t rows, int32_t cols) {
    return rows <= 0 || cols <= 0 ? 0 : size_t(uint32_t(rows) * uint32_t(cols));
}

// S = sum over i of (i - mean)^2 * hist[i], in 32 bits.
uint32_t squared_deviations(const uint32_t* hist, uint8_t mean) {
    uint32_t s = 0;
    for (int32_t i = 0; i < int32_t(kBins); ++i) s += uint32_t((i - mean) * (i - mean)) * hist[i];
    return s;
}

// 16 S / n while 16 S fits, else S / (n / 16); 0 without a divisor.
uint32_t sixteenth_variance(uint32_t s, uint32_t n) {
    if (s < 0x10000000u) return n == 0 ? 0 : (s * 16) / n;
    return (n >> 4) == 0 ? 0 : s / (n >> 4);
}

// The stretch of p between limits lo and range, range an unsigned 32-bit
// value; a range of 0 maps every p > lo to the top.
uint8_t stretch_pixel(uint8_t p, uint8_t lo, uint32_t range) {
    if (p <= lo) return 0;
    if (range == 0) return 255;
    return uint8_t(std::min<uint32_t>((uint32_t(p - lo) * 255) / range, 255));
}

// Every pixel through a table of the 256 stretched values (no division a pixel).
void stretch_pixels(const uint8_t* src, size_t n, uint8_t lo, uint32_t range, uint8_t* dst) {
    uint8_t table[kBins];
    for (uint32_t p = 0; p < kBins; ++p) table[p] = stretch_pixel(uint8_t(p), lo, range);
    for (size_t i = 0; i < n; ++i) dst[i] = table[src[i]];
}

// The limit search when percent <= 99, else lo 0 and range 255.
void stretch_from_hist(const uint32_t* hist, uint32_t percent, const uint8_t* src, size_t n, uint8_t* dst) {
    uint8_t lo = 0, hi = 255;
    bal_find_stretch_limits_from_hist(hist, percent, &lo, &hi);
    stretch_pixels(src, n, lo, uint32_t(hi - lo), dst);
}

template <class T, class Map>
void stretch_full_range(const T* src, int32_t rows, int32_t cols, T* dst, Map map) {
    const size_t n = pixel_count(rows, cols);
    if (n == 0) return;
    const auto [lo, hi] = std::minmax_element(src, src + n);
    const T m = *lo, big_m = *hi;
    if (big_m > m) {
        for (size_t i = 0; i < n; ++i) dst[i] = map(src[i], m, big_m);
    } else if (dst != src) {
        std::memcpy(dst, src, n * sizeof(T));
    }
}

}  // namespace

void bal_image_histogram(const uint8_t* src, int32_t rows, int32_t cols, uint32_t* hist) {
    std::memset(hist, 0, kBins * sizeof(uint32_t));
    const size_t n = pixel_count(rows, cols);
    for (size_t i = 0; i < n; ++i) ++hist[src[i]];
}

void bal_image_histogram_int8(const int8_t* src, int32_t rows, int32_t cols, uint32_t* hist) {
    std::memset(hist, 0, kBins * sizeof(uint32_t));
    const size_t n = pixel_count(rows, cols);
    for (size_t i = 0; i < n; ++i) ++hist[src[i] + 128];
}

void bal_image_histogram_n(const uint8_t* src, int32_t rows, int32_t cols, uint32_t bits, uint32_t* hist) {
    if (bits < 1 || bits > 8) return;
    std::memset(hist, 0, (size_t(1) << bits) * sizeof(uint32_t));
    const size_t n = pixel_count(rows, cols);
    const uint32_t shift = 8 - bits;
    for (size_t i = 0; i < n; ++i) ++hist[src[i] >> shift];
}

uint32_t bal_hist_mean(const uint32_t* hist, uint32_t n) {
    if (n == 0) return 0;
    uint32_t s = 0;
    for (uint32_t i = 0; i < kBins; ++i) s += i * hist[i];
    return s / n;
}

uint32_t bal_hist_var(const uint32_t* hist, uint8_t mean, uint32_t n) {
    return n == 0 ? 0 : squared_deviations(hist, mean) / n;
}

uint16_t bal_hist_var_4(const uint32_t* hist, uint8_t mean, uint32_t n) {
    return uint16_t(sixteenth_variance(squared_deviations(hist, mean), n));
}

uint32_t bal_hist_std(const uint32_t* hist, uint8_t mean, uint32_t n) {
    return zr_sqrt_24_5(bal_hist_var(hist, mean, n) << 18) >> 2;
}

uint32_t bal_hist_std_2(const uint32_t* hist, uint8_t mean, uint32_t n) {
    return zr_sqrt_(bal_hist_var_4(hist, mean, n));
}

void bal_find_stretch_limits_from_hist(const uint32_t* hist, uint32_t percent, uint8_t* lo, uint8_t* hi) {
    if (percent > 99) return;
    uint32_t total = 0;
    for (uint32_t i = 0; i < kBins; ++i) total += hist[i];
    const uint32_t cut = (total * percent) / 100;
    uint32_t low = 0, high = 0, running = 0;
    for (uint32_t i = 0; i < kBins; ++i) {
        running += hist[i];
        if (running > cut) {
            low = i;
            break;
        }
    }
    running = 0;
    for (uint32_t k = kBins - 1; k >= 1; --k) {
        running += hist[k];
        if (running > cut) {
            high = k;
            break;
        }
    }
    if (low == high) {
        if (low > 0)
            --low;
        else
            high = 1;
    }
    *lo = uint8_t(low);
    *hi = uint8_t(high);
}

void bal_find_stretch_limits(const uint8_t* src, int32_t rows, int32_t cols, uint32_t percent, uint8_t* lo,
                             uint8_t* hi) {
    if (percent > 99) return;
    uint32_t hist[kBins];
    bal_image_histogram(src, rows, cols, hist);
    bal_find_stretch_limits_from_hist(hist, percent, lo, hi);
}

void bal_stretch_from_limits(const uint8_t* src, int32_t rows, int32_t cols, uint8_t lo, uint8_t hi, uint8_t* dst) {
    stretch_pixels(src, pixel_count(rows, cols), lo, uint32_t(hi - lo), dst);
}

void bal_stretch_uint8(const uint8_t* src, int32_t rows, int32_t cols, uint32_t percent, uint8_t* dst) {
    uint8_t lo = 0, hi = 255;
    bal_find_stretch_limits(src, rows, cols, percent, &lo, &hi);
    bal_stretch_from_limits(src, rows, cols, lo, hi, dst);
}

void bal_stretch_ignore_white(const uint8_t* src, int32_t rows, int32_t cols, uint32_t percent, uint8_t white,
                              uint8_t* dst) {
    uint32_t hist[kBins];
    bal_image_histogram(src, rows, cols, hist);
    std::fill(hist + white, hist + kBins, 0u);
    stretch_from_hist(hist, percent, src, pixel_count(rows, cols), dst);
}

void bal_stretch_segmented(const uint8_t* src, uint32_t rows, int32_t cols, uint32_t percent,
                           const uint8_t* block_mask, uint16_t block_rows, uint16_t block_cols, uint16_t block,
                           uint8_t* dst) {
    uint32_t hist[kBins] = {};
    const uint64_t width = cols > 0 ? uint64_t(cols) : 0;
    for (uint32_t b = 0; b < uint32_t(block_rows) * block_cols; ++b) {
        if (!block_mask[b]) continue;
        const uint64_t top = uint64_t(b / block_cols) * block, left = uint64_t(b % block_cols) * block;
        // Pixels of a block that reach past the image are not counted.
        const uint64_t bottom = std::min<uint64_t>(top + block, rows), right = std::min<uint64_t>(left + block, width);
        for (uint64_t y = top; y < bottom; ++y)
            for (uint64_t x = left; x < right; ++x) ++hist[src[y * width + x]];
    }
    const size_t n = size_t(rows & 0xFFFF) * size_t(uint32_t(cols) & 0xFFFF);
    stretch_from_hist(hist, percent, src, n, dst);
}

void bal_stretch_from_limits_to(const uint8_t* src, int32_t rows, int32_t cols, uint8_t lo, uint8_t hi,
                                uint8_t low_value, uint8_t out_max, uint8_t* dst) {
    const uint32_t range = uint32_t(hi - lo);
    const size_t n = pixel_count(rows, cols);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t v = src[i] > lo ? uint32_t(src[i] - lo) : low_value;
        // A range of 0 sends every non-zero value to the top.
        const uint32_t scaled = range == 0 ? (v ? out_max : 0) : (v * out_max) / range;
        dst[i] = uint8_t(std::min<uint32_t>(scaled, out_max));
    }
}

void bal_stretch_int8(const int8_t* src, int32_t rows, int32_t cols, int8_t* dst) {
    stretch_full_range(src, rows, cols, dst, [](int8_t p, int8_t m, int8_t big_m) {
        return int8_t((int32_t(p - m) * 255) / int32_t(big_m - m) - 128);
    });
}

void bal_stretch_int16(const int16_t* src, int32_t rows, int32_t cols, int16_t* dst) {
    stretch_full_range(src, rows, cols, dst, [](int16_t p, int16_t m, int16_t big_m) {
        return int16_t((int64_t(p - m) * 65535) / int64_t(big_m - m) - 32768);
    });
}

void bal_stretch_uint16(const uint16_t* src, int32_t rows, int32_t cols, uint16_t* dst) {
    stretch_full_range(src, rows, cols, dst, [](uint16_t p, uint16_t m, uint16_t big_m) {
        return uint16_t((uint64_t(p - m) * 65535) / uint64_t(big_m - m));
    });
}
