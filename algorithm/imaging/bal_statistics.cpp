#include "imaging/bal_statistics.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

#include "imaging/bal_status.h"
#include "math/lib_memory.h"
#include "math/zr_roots.h"

namespace {

// Pixel count of an image given with signed sizes; 0 for an empty one.
uint32_t pixel_count(int32_t rows, int32_t cols) {
    if (rows <= 0 || cols <= 0) return 0;
    return uint32_t(rows) * uint32_t(cols);
}

// Sum of n samples in Acc (wrapping there).
template <class Acc, class T>
Acc sum_of(const T* src, size_t n) {
    Acc sum = 0;
    for (size_t i = 0; i < n; ++i) sum += Acc(src[i]);
    return sum;
}

template <class T>
bal_status image_min_max(const T* src, uint32_t rows, uint32_t cols, T* out_min, T* out_max) {
    T lo = std::numeric_limits<T>::max(), hi = std::numeric_limits<T>::min();
    const size_t n = size_t(rows) * cols;
    for (size_t i = 0; i < n; ++i) {
        lo = std::min(lo, src[i]);
        hi = std::max(hi, src[i]);
    }
    if (out_min) *out_min = lo;
    if (out_max) *out_max = hi;
    return BAL_OK;
}

// (Q - S (S / n)) / n with 64-bit sums; for up to 65536 8-bit samples this
// equals the same formula in 32 bits.
template <class T>
uint32_t image_var(const T* src, uint32_t rows, uint32_t cols) {
    const uint64_t n = uint64_t(rows) * cols;
    if (n == 0) return 0;
    using Acc = std::conditional_t<std::is_signed_v<T>, int64_t, uint64_t>;
    Acc s = 0, q = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const Acc v = Acc(src[i]);
        s += v;
        q += v * v;
    }
    const Acc count = Acc(n);
    return uint32_t((q - s * (s / count)) / count);
}

template <class T, class Acc>
void mean_blockwise(const T* src, uint32_t cols, uint32_t block, uint32_t block_rows, uint32_t block_cols, T* dst) {
    if (block == 0) return;
    const Acc area = Acc(block * block);
    for (uint32_t br = 0; br < block_rows; ++br)
        for (uint32_t bc = 0; bc < block_cols; ++bc) {
            Acc sum = 0;
            const T* tile = src + size_t(br) * block * cols + size_t(bc) * block;
            for (uint32_t dy = 0; dy < block; ++dy)
                for (uint32_t dx = 0; dx < block; ++dx) sum += Acc(tile[size_t(dy) * cols + dx]);
            dst[size_t(br) * block_cols + bc] = T(sum / area);
        }
}

template <class T>
bal_status min_max_blockwise(const T* src, uint32_t rows, uint32_t cols, uint32_t block, uint32_t block_rows,
                             uint32_t block_cols, T* out_min, T* out_max) {
    if (!src || (!out_min && !out_max)) return BAL_BAD_ARGUMENT;
    if (uint64_t(block_rows) * block > rows || uint64_t(block_cols) * block > cols) return BAL_BAD_ARGUMENT;
    const size_t blocks = size_t(block_rows) * block_cols;
    if (out_min) std::fill(out_min, out_min + blocks, std::numeric_limits<T>::max());
    if (out_max) std::fill(out_max, out_max + blocks, std::numeric_limits<T>::min());
    for (uint32_t br = 0; br < block_rows; ++br)
        for (uint32_t bc = 0; bc < block_cols; ++bc) {
            const size_t b = size_t(br) * block_cols + bc;
            const T* tile = src + size_t(br) * block * cols + size_t(bc) * block;
            for (uint32_t dy = 0; dy < block; ++dy)
                for (uint32_t dx = 0; dx < block; ++dx) {
                    const T v = tile[size_t(dy) * cols + dx];
                    if (out_min && v < out_min[b]) out_min[b] = v;
                    if (out_max && v > out_max[b]) out_max[b] = v;
                }
        }
    return BAL_OK;
}

// The local variance of a window of n pixels with sum s and sum of squares q.
// Up to radius 22 every term stays below 2^31 and 32-bit arithmetic is exact;
// larger windows take the same formula in 64 bits.
inline uint16_t window_variance32(uint32_t s, uint32_t q, uint32_t n) {
    return uint16_t((16 * q - s * ((16 * s) / n)) / n / 16);
}
inline uint16_t window_variance64(uint32_t s, uint32_t q, uint32_t n) {
    const uint64_t s64 = s, q64 = q;
    return uint16_t((16 * q64 - s64 * ((16 * s64) / n)) / n / 16);
}
constexpr uint32_t kLargestNarrowRadius = 22;

// Exact floor(a / d) for every a < 2^31 by a multiply and a shift, for a
// divisor that stays fixed across a loop: m = ceil(2^(31 + l) / d) with
// 2^(l-1) < d <= 2^l is below 2^32, and m d - 2^(31 + l) < d <= 2^l keeps
// the error of a m / 2^(31 + l) below the distance to the next integer.
class FixedDivisor {
public:
    explicit FixedDivisor(uint32_t d) {
        uint32_t l = 0;
        while ((uint64_t(1) << l) < d) ++l;
        shift_ = 31 + l;
        multiplier_ = uint32_t(((uint64_t(1) << shift_) + d - 1) / d);
    }
    uint32_t operator()(uint32_t a) const { return uint32_t((uint64_t(a) * multiplier_) >> shift_); }

private:
    uint32_t multiplier_;
    uint32_t shift_;
};

}  // namespace

uint32_t bal_image_mean_uint8(const uint8_t* src, int32_t rows, int32_t cols) {
    const uint32_t n = pixel_count(rows, cols);
    return n == 0 ? 0 : sum_of<uint32_t>(src, n) / n;
}

int32_t bal_image_mean_int8(const int8_t* src, int32_t rows, int32_t cols) {
    const uint32_t n = pixel_count(rows, cols);
    return n == 0 ? 0 : sum_of<int32_t>(src, n) / int32_t(n);
}

uint32_t bal_image_mean_uint16(const uint16_t* src, int32_t rows, int32_t cols) {
    const uint32_t n = pixel_count(rows, cols);
    return n == 0 ? 0 : uint32_t(sum_of<uint64_t>(src, n) / n);
}

int32_t bal_image_mean_int16(const int16_t* src, int32_t rows, int32_t cols) {
    const uint32_t n = pixel_count(rows, cols);
    return n == 0 ? 0 : int32_t(sum_of<int64_t>(src, n) / int64_t(n));
}

bal_status bal_image_min_max_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* out_min,
                                   uint8_t* out_max) {
    return image_min_max(src, rows, cols, out_min, out_max);
}
bal_status bal_image_min_max_int8(const int8_t* src, uint32_t rows, uint32_t cols, int8_t* out_min, int8_t* out_max) {
    return image_min_max(src, rows, cols, out_min, out_max);
}
bal_status bal_image_min_max_uint16(const uint16_t* src, uint32_t rows, uint32_t cols, uint16_t* out_min,
                                    uint16_t* out_max) {
    return image_min_max(src, rows, cols, out_min, out_max);
}
bal_status bal_image_min_max_int16(const int16_t* src, uint32_t rows, uint32_t cols, int16_t* out_min,
                                   int16_t* out_max) {
    return image_min_max(src, rows, cols, out_min, out_max);
}

uint32_t bal_image_var_uint8(const uint8_t* src, uint32_t rows, uint32_t cols) {
    return image_var(src, rows, cols);
}
uint32_t bal_image_var_int8(const int8_t* src, uint32_t rows, uint32_t cols) { return image_var(src, rows, cols); }
uint32_t bal_image_var_uint16(const uint16_t* src, uint32_t rows, uint32_t cols) {
    return image_var(src, rows, cols);
}
uint32_t bal_image_var_int16(const int16_t* src, uint32_t rows, uint32_t cols) {
    return image_var(src, rows, cols);
}

uint32_t bal_image_var(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* out_mean) {
    const uint32_t n = rows * cols;
    if (n == 0) {
        if (out_mean) *out_mean = 0;
        return 0;
    }
    uint32_t hist[256] = {};
    for (uint32_t i = 0; i < n; ++i) ++hist[src[i]];
    uint32_t weighted = 0;
    for (uint32_t i = 0; i < 256; ++i) weighted += i * hist[i];
    const uint32_t mean = weighted / n;
    if (out_mean) *out_mean = uint8_t(mean);
    const int32_t m = int32_t(mean & 255);
    uint32_t squares = 0;
    for (int32_t i = 0; i < 256; ++i) squares += uint32_t((i - m) * (i - m)) * hist[i];
    return squares / n;
}

uint32_t bal_image_std(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* out_mean) {
    const uint32_t variance = bal_image_var(src, rows, cols, out_mean);
    return zr_sqrt_24_5(variance << 18) >> 2;
}

void bal_image_rowcol_sum(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* row_means,
                          uint8_t* col_means) {
    // An empty image has means of 0 along its other side.
    if (rows == 0 || cols == 0) {
        if (rows == 0 && col_means) std::memset(col_means, 0, cols);
        if (cols == 0 && row_means) std::memset(row_means, 0, rows);
        return;
    }
    uint32_t* col_sums = static_cast<uint32_t*>(std::calloc(cols, sizeof(uint32_t)));
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* row = src + size_t(y) * cols;
        uint32_t row_sum = 0;
        for (uint32_t x = 0; x < cols; ++x) {
            row_sum += row[x];
            if (col_sums) col_sums[x] += row[x];
        }
        row_means[y] = uint8_t(row_sum / cols);
    }
    for (uint32_t x = 0; x < cols; ++x) {
        uint32_t sum = 0;
        if (col_sums) {
            sum = col_sums[x];
        } else {  // no scratch: sum the column directly
            for (uint32_t y = 0; y < rows; ++y) sum += src[size_t(y) * cols + x];
        }
        col_means[x] = uint8_t(sum / rows);
    }
    std::free(col_sums);
}

void bal_mean_blockwise_uint8(const uint8_t* src, uint32_t, uint32_t cols, uint32_t block, uint32_t block_rows,
                              uint32_t block_cols, uint8_t* dst) {
    mean_blockwise<uint8_t, uint32_t>(src, cols, block, block_rows, block_cols, dst);
}
void bal_mean_blockwise_int8(const int8_t* src, uint32_t, uint32_t cols, uint32_t block, uint32_t block_rows,
                             uint32_t block_cols, int8_t* dst) {
    mean_blockwise<int8_t, int32_t>(src, cols, block, block_rows, block_cols, dst);
}
void bal_mean_blockwise_uint16(const uint16_t* src, uint32_t, uint32_t cols, uint32_t block, uint32_t block_rows,
                               uint32_t block_cols, uint16_t* dst) {
    mean_blockwise<uint16_t, uint32_t>(src, cols, block, block_rows, block_cols, dst);
}
void bal_mean_blockwise_int16(const int16_t* src, uint32_t, uint32_t cols, uint32_t block, uint32_t block_rows,
                              uint32_t block_cols, int16_t* dst) {
    mean_blockwise<int16_t, int32_t>(src, cols, block, block_rows, block_cols, dst);
}

void bal_var_blockwise_uint8(const uint8_t* src, uint32_t, uint32_t cols, const uint8_t* block_means,
                             uint32_t block, uint32_t block_rows, uint32_t block_cols, uint16_t* dst) {
    const uint32_t k = (block >> 1) + (block & 1);  // even offsets below block
    const uint32_t samples = k * k;
    for (uint32_t br = 0; br < block_rows; ++br)
        for (uint32_t bc = 0; bc < block_cols; ++bc) {
            const size_t b = size_t(br) * block_cols + bc;
            if (samples == 0) {
                dst[b] = 0;
                continue;
            }
            const int32_t m = block_means[b];
            const uint8_t* tile = src + size_t(br) * block * cols + size_t(bc) * block;
            uint32_t sum = 0;
            for (uint32_t dy = 0; dy < block; dy += 2)
                for (uint32_t dx = 0; dx < block; dx += 2) {
                    const int32_t d = int32_t(tile[size_t(dy) * cols + dx]) - m;
                    sum += uint32_t(d * d);
                }
            dst[b] = uint16_t(sum / samples);
        }
}

bal_status bal_min_max_blockwise_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t block,
                                       uint32_t block_rows, uint32_t block_cols, uint8_t* out_min, uint8_t* out_max) {
    return min_max_blockwise(src, rows, cols, block, block_rows, block_cols, out_min, out_max);
}
bal_status bal_min_max_blockwise_int8(const int8_t* src, uint32_t rows, uint32_t cols, uint32_t block,
                                      uint32_t block_rows, uint32_t block_cols, int8_t* out_min, int8_t* out_max) {
    return min_max_blockwise(src, rows, cols, block, block_rows, block_cols, out_min, out_max);
}

void bal_var_local_uint8_border(const uint32_t* sums, const uint32_t* squares, int32_t col_begin, int32_t col_end,
                                int32_t row_begin, int32_t row_end, int32_t rows, uint32_t cols, uint32_t radius,
                                uint16_t* dst) {
    if (row_begin >= row_end || col_begin >= col_end) return;
    const size_t stride = size_t(cols) + 1;
    const int64_t r = radius;
    for (int32_t y = row_begin; y < row_end; ++y) {
        const size_t y0 = size_t(std::max<int64_t>(y - r, 0));
        const size_t y1 = size_t(std::min<int64_t>(y + r + 1, rows));
        for (int32_t x = col_begin; x < col_end; ++x) {
            const size_t x0 = size_t(std::max<int64_t>(x - r, 0));
            const size_t x1 = size_t(std::min<int64_t>(x + r + 1, int64_t(cols)));
            const uint32_t n = uint32_t((y1 - y0) * (x1 - x0));
            const uint32_t s = sums[y1 * stride + x1] - sums[y1 * stride + x0] - sums[y0 * stride + x1] +
                               sums[y0 * stride + x0];
            const uint32_t q = squares[y1 * stride + x1] - squares[y1 * stride + x0] - squares[y0 * stride + x1] +
                               squares[y0 * stride + x0];
            dst[size_t(y) * cols + size_t(x)] =
                radius <= kLargestNarrowRadius ? window_variance32(s, q, n) : window_variance64(s, q, n);
        }
    }
}

bal_status bal_var_local_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t radius, uint16_t* dst) {
    if (rows == 0 || cols == 0) return BAL_OK;
    const size_t stride = size_t(cols) + 1;
    if ((size_t(rows) + 1) > SIZE_MAX / sizeof(uint32_t) / stride) return BAL_NO_MEMORY;  // tables beyond memory
    const size_t entries = (size_t(rows) + 1) * stride;
    uint32_t* sums = static_cast<uint32_t*>(std::malloc(entries * sizeof(uint32_t)));
    uint32_t* squares = static_cast<uint32_t*>(std::malloc(entries * sizeof(uint32_t)));
    if (lib_memory_check(sums, squares, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;

    // Integral tables: entry (y, x) holds the sum over rows < y and columns < x (mod 2^32).
    std::memset(sums, 0, stride * sizeof(uint32_t));
    std::memset(squares, 0, stride * sizeof(uint32_t));
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* row = src + size_t(y) * cols;
        const uint32_t* sums_above = sums + size_t(y) * stride;
        const uint32_t* squares_above = squares + size_t(y) * stride;
        uint32_t* sums_here = sums + size_t(y + 1) * stride;
        uint32_t* squares_here = squares + size_t(y + 1) * stride;
        sums_here[0] = squares_here[0] = 0;
        uint32_t row_sum = 0, row_squares = 0;
        for (uint32_t x = 0; x < cols; ++x) {
            row_sum += row[x];
            row_squares += uint32_t(row[x]) * row[x];
            sums_here[x + 1] = sums_above[x + 1] + row_sum;
            squares_here[x + 1] = squares_above[x + 1] + row_squares;
        }
    }

    // Bands with clipped windows, clamped to the image when the radius is large.
    const int64_t r = radius, h = rows, w = cols;
    auto clamp_rows = [h](int64_t v) { return int32_t(std::clamp<int64_t>(v, 0, h)); };
    auto clamp_cols = [w](int64_t v) { return int32_t(std::clamp<int64_t>(v, 0, w)); };
    const int32_t top_end = clamp_rows(r), bottom_begin = clamp_rows(h - r);
    const int32_t left_end = clamp_cols(r), right_begin = clamp_cols(w - r);
    const int32_t irows = int32_t(rows);
    bal_var_local_uint8_border(sums, squares, 0, int32_t(cols), 0, top_end, irows, cols, radius, dst);
    bal_var_local_uint8_border(sums, squares, 0, int32_t(cols), std::max(bottom_begin, top_end), irows, irows, cols,
                               radius, dst);
    bal_var_local_uint8_border(sums, squares, 0, left_end, top_end, bottom_begin, irows, cols, radius, dst);
    bal_var_local_uint8_border(sums, squares, std::max(right_begin, left_end), int32_t(cols), top_end, bottom_begin,
                               irows, cols, radius, dst);

    // Inner pixels: the full window.
    if (r < h - r && r < w - r) {
        const uint32_t side = 2 * radius + 1;
        const uint32_t n = side * side;
        const FixedDivisor divide_by_n(n);
        for (uint32_t y = radius; y < rows - radius; ++y) {
            const uint32_t* s_top = sums + size_t(y - radius) * stride;
            const uint32_t* s_bottom = sums + size_t(y + radius + 1) * stride;
            const uint32_t* q_top = squares + size_t(y - radius) * stride;
            const uint32_t* q_bottom = squares + size_t(y + radius + 1) * stride;
            uint16_t* out = dst + size_t(y) * cols;
            const uint32_t count = cols - 2 * radius;  // inner pixels of the row, from column radius
            const uint32_t* s_top_left = s_top;
            const uint32_t* s_bottom_left = s_bottom;
            const uint32_t* s_top_right = s_top + side;
            const uint32_t* s_bottom_right = s_bottom + side;
            const uint32_t* q_top_left = q_top;
            const uint32_t* q_bottom_left = q_bottom;
            const uint32_t* q_top_right = q_top + side;
            const uint32_t* q_bottom_right = q_bottom + side;
            uint16_t* inner = out + radius;
            if (radius <= kLargestNarrowRadius) {
                // Both numerators stay below 2^31 here.
                for (uint32_t i = 0; i < count; ++i) {
                    const uint32_t s = s_bottom_right[i] - s_bottom_left[i] - s_top_right[i] + s_top_left[i];
                    const uint32_t q = q_bottom_right[i] - q_bottom_left[i] - q_top_right[i] + q_top_left[i];
                    inner[i] = uint16_t(divide_by_n(16 * q - s * divide_by_n(16 * s)) >> 4);
                }
            } else {
                for (uint32_t i = 0; i < count; ++i) {
                    const uint32_t s = s_bottom_right[i] - s_bottom_left[i] - s_top_right[i] + s_top_left[i];
                    const uint32_t q = q_bottom_right[i] - q_bottom_left[i] - q_top_right[i] + q_top_left[i];
                    inner[i] = window_variance64(s, q, n);
                }
            }
        }
    }
    std::free(sums);
    std::free(squares);
    return BAL_OK;
}
