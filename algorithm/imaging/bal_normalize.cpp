#include "imaging/bal_normalize.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_blur.h"
#include "imaging/bal_histogram.h"
#include "imaging/bal_median.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_statistics.h"
#include "imaging/bal_status.h"
#include "math/lib_memory.h"
#include "math/zr_roots.h"

namespace {

// Variances at or below this floor are raised to 100 before the gain.
constexpr uint16_t kVarianceFloor = 99;

// Q5 gain floor(32 sqrt(t2 / v)); the root is taken in one of three shift
// ranges so that its argument stays within 32 bits (beyond them in 64 bits).
uint32_t gain(uint32_t t2, uint32_t v) {
    if (v == 0) return 0;
    const uint32_t g = (t2 * 256u) / v;
    if (g < (1u << 16)) return zr_sqrt_24_5(g * 65536u);
    if (g < (1u << 20)) return 4 * zr_sqrt_24_5(g * 4096u);
    if (g < (1u << 24)) return 16 * zr_sqrt_24_5(g * 256u);
    return 16 * zr_sqrt_32(g / 64);
}

// Maps p around the reference mean m to the centre c with gain g, clamped to
// 0..255 (written without branches so that row loops vectorise).
inline uint8_t map_pixel(uint8_t p, uint8_t m, int32_t c, int32_t g) {
    const int32_t d = static_cast<int32_t>(p) - m;
    const int32_t step = ((d < 0 ? -d : d) * g) >> 5;
    const int32_t out = d > 0 ? c + step : c - step;
    return static_cast<uint8_t>(out < 0 ? 0 : (out > 255 ? 255 : out));
}

void map_image(const uint8_t* src, size_t n, uint8_t m, uint32_t c, uint32_t g, uint8_t* dst) {
    const auto ci = static_cast<int32_t>(c), gi = static_cast<int32_t>(g);
    for (size_t i = 0; i < n; ++i) dst[i] = map_pixel(src[i], m, ci, gi);
}

bool local_geometry_ok(uint32_t rows, uint32_t cols, uint32_t block, uint32_t block_rows,
                       uint32_t block_cols) {
    return block != 0 && block_rows >= 2 && block_cols >= 2 &&
           uint64_t{block_rows} * block <= rows && uint64_t{block_cols} * block <= cols &&
           uint64_t{block_rows} * block <= INT32_MAX && uint64_t{block_cols} * block <= INT32_MAX;
}

void floor_variances(uint16_t* var, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (var[i] <= kVarianceFloor) var[i] = kVarianceFloor + 1;
}

}  // namespace

void bnl_normalize(const uint8_t* src, uint32_t rows, uint32_t cols, const uint8_t* block_mask,
                   uint32_t block, uint32_t block_rows, uint32_t block_cols, uint8_t target_mean,
                   uint32_t target_spread, const uint8_t* local_mean,
                   const uint16_t* block_variance, uint8_t* dst) {
    (void)rows;
    // Pixel rows are mapped in chunks with one gain per pixel, -1 marking
    // blocks outside the mask, so that the inner loop runs without branches.
    constexpr uint32_t kChunk = 240;
    int32_t gains[kChunk];
    const uint32_t t2 = (target_spread * target_spread) & 0xFFFFu;
    const uint32_t chunk_blocks = block <= kChunk ? kChunk / block : 0;
    for (uint32_t br = 0; br < block_rows; ++br) {
        const size_t first_block = static_cast<size_t>(br) * block_cols;
        for (uint32_t bc0 = 0; bc0 < block_cols;) {
            if (chunk_blocks == 0) {  // blocks wider than a chunk: one block at a time
                const bool outside = block_mask && block_mask[first_block + bc0] == 0;
                const auto g =
                    static_cast<int32_t>(outside ? 0 : gain(t2, block_variance[first_block + bc0]));
                for (uint32_t y = br * block; y < (br + 1) * block; ++y) {
                    const size_t row =
                        static_cast<size_t>(y) * cols + static_cast<size_t>(bc0) * block;
                    for (size_t i = row; i < row + block; ++i)
                        dst[i] = outside ? uint8_t{255}
                                         : map_pixel(src[i], local_mean[i], target_mean, g);
                }
                ++bc0;
                continue;
            }
            const uint32_t bc1 = std::min(block_cols, bc0 + chunk_blocks);
            for (uint32_t bc = bc0; bc < bc1; ++bc) {
                const bool outside = block_mask && block_mask[first_block + bc] == 0;
                const int32_t g =
                    outside ? -1 : static_cast<int32_t>(gain(t2, block_variance[first_block + bc]));
                std::fill(gains + (bc - bc0) * block, gains + (bc - bc0 + 1) * block, g);
            }
            const uint32_t n = (bc1 - bc0) * block;
            for (uint32_t y = br * block; y < (br + 1) * block; ++y) {
                const size_t row = static_cast<size_t>(y) * cols + static_cast<size_t>(bc0) * block;
                const uint8_t* s = src + row;
                const uint8_t* m = local_mean + row;
                uint8_t* d = dst + row;
                for (uint32_t x = 0; x < n; ++x) {
                    const uint8_t v = map_pixel(s[x], m[x], target_mean, gains[x]);
                    d[x] = gains[x] < 0 ? uint8_t{255} : v;
                }
            }
            bc0 = bc1;
        }
    }
}

bal_status bal_normalize_locally(const uint8_t* src, uint32_t rows, uint32_t cols,
                                 const uint8_t* block_mask, uint32_t block, uint32_t block_rows,
                                 uint32_t block_cols, uint8_t target_mean, uint32_t target_spread,
                                 uint8_t* dst) {
    if (!src || !dst || !local_geometry_ok(rows, cols, block, block_rows, block_cols))
        return BAL_BAD_ARGUMENT;
    const size_t nb = static_cast<size_t>(block_rows) * block_cols;
    auto* means = static_cast<uint8_t*>(std::malloc(nb));
    auto* local = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(rows) * cols));
    auto* var = static_cast<uint16_t*>(std::malloc(nb * sizeof(uint16_t)));
    if (lib_memory_check(means, local, var, nullptr, nullptr, nullptr, nullptr, 3) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    bal_mean_blockwise_uint8(src, rows, cols, block, block_rows, block_cols, means);
    bal_status status = BAL_OK;
    if (block_mask)
        status = bal_blur_fingerprint_edge_uint8(means, block_mask, block_rows, block_cols, means);
    if (status == BAL_OK) {
        bal_scale_up_bilinear_uint8(means, block_rows, block_cols, static_cast<int32_t>(block),
                                    local, static_cast<int32_t>(rows), static_cast<int32_t>(cols));
        bal_var_blockwise_uint8(src, rows, cols, means, block, block_rows, block_cols, var);
        if (block_mask)
            status = bal_blur_fingerprint_edge_uint16(var, block_mask, block_rows, block_cols, var);
    }
    if (status == BAL_OK) status = bal_blur_uint16(var, block_rows, block_cols, var);
    if (status == BAL_OK) {
        floor_variances(var, nb);
        bnl_normalize(src, rows, cols, block_mask, block, block_rows, block_cols, target_mean,
                      target_spread, local, var, dst);
    }
    std::free(means);
    std::free(local);
    std::free(var);
    return status;
}

bal_status bal_normalize_locally_minmax(const uint8_t* src, uint32_t rows, uint32_t cols,
                                        const uint8_t* block_mask, uint32_t block,
                                        uint32_t block_rows, uint32_t block_cols,
                                        uint32_t target_mean, uint32_t target_spread, uint8_t* dst) {
    if (!src || !dst || !block_mask ||
        !local_geometry_ok(rows, cols, block, block_rows, block_cols))
        return BAL_BAD_ARGUMENT;
    const size_t nb = static_cast<size_t>(block_rows) * block_cols;
    const size_t npix = static_cast<size_t>(rows) * cols;
    auto* centres = static_cast<uint8_t*>(std::malloc(nb));
    auto* local = static_cast<uint8_t*>(std::malloc(npix));
    auto* var = static_cast<uint16_t*>(std::malloc(nb * sizeof(uint16_t)));
    auto* median = static_cast<uint8_t*>(std::malloc(npix));
    if (lib_memory_check(centres, local, var, median, nullptr, nullptr, nullptr, 4) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    const auto irows = static_cast<int32_t>(rows), icols = static_cast<int32_t>(cols);
    bal_status status = bal_median_uint8(src, irows, icols, median);
    if (status == BAL_OK)
        status = bal_median_uint8(median, irows, icols, median);
    if (status == BAL_OK) {
        for (uint32_t br = 0; br < block_rows; ++br) {
            for (uint32_t bc = 0; bc < block_cols; ++bc) {
                uint8_t lo = 255, hi = 0;
                for (uint32_t y = br * block; y < (br + 1) * block; ++y) {
                    const uint8_t* row = median + static_cast<size_t>(y) * cols + bc * block;
                    for (uint32_t x = 0; x < block; ++x) {
                        if (row[x] < lo) lo = row[x];
                        if (row[x] > hi) hi = row[x];
                    }
                }
                centres[static_cast<size_t>(br) * block_cols + bc] =
                    static_cast<uint8_t>((lo + hi) >> 1);
            }
        }
        status =
            bal_blur_fingerprint_edge_uint8(centres, block_mask, block_rows, block_cols, centres);
    }
    if (status == BAL_OK) {
        bal_scale_up_bilinear_uint8(centres, block_rows, block_cols, static_cast<int32_t>(block),
                                    local, irows, icols);
        bal_var_blockwise_uint8(median, rows, cols, centres, block, block_rows, block_cols, var);
        status = bal_blur_fingerprint_edge_uint16(var, block_mask, block_rows, block_cols, var);
    }
    if (status == BAL_OK) status = bal_blur_uint16(var, block_rows, block_cols, var);
    if (status == BAL_OK) {
        floor_variances(var, nb);
        bnl_normalize(src, rows, cols, block_mask, block, block_rows, block_cols,
                      static_cast<uint8_t>(target_mean), target_spread, local, var, dst);
    }
    std::free(centres);
    std::free(local);
    std::free(var);
    std::free(median);
    return status;
}

bal_status bal_normalize_globally(const uint8_t* src, uint32_t rows, uint32_t cols,
                                  const uint8_t* block_mask, uint32_t block, uint32_t block_rows,
                                  uint32_t block_cols, uint8_t target_mean, uint32_t target_spread,
                                  uint8_t* dst) {
    if (!src || !dst || block == 0 || uint64_t{block_rows} * block > rows ||
        uint64_t{block_cols} * block > cols)
        return BAL_BAD_ARGUMENT;
    const size_t nb = static_cast<size_t>(block_rows) * block_cols;
    auto* means = static_cast<uint8_t*>(std::malloc(nb ? nb : 1));
    auto* var = static_cast<uint16_t*>(std::malloc((nb ? nb : 1) * sizeof(uint16_t)));
    if (lib_memory_check(means, var, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    bal_mean_blockwise_uint8(src, rows, cols, block, block_rows, block_cols, means);
    bal_var_blockwise_uint8(src, rows, cols, means, block, block_rows, block_cols, var);
    uint64_t sum_mean = 0, sum_var = 0, inside = 0;
    for (size_t b = 0; b < nb; ++b) {
        if (block_mask && block_mask[b] == 0) continue;
        sum_mean += means[b];
        sum_var += var[b];
        ++inside;
    }
    std::free(means);
    std::free(var);
    const auto m = static_cast<uint8_t>(inside ? sum_mean / inside : 0);
    const auto v = static_cast<uint32_t>(inside ? sum_var / inside : 0);
    const uint32_t c = static_cast<uint8_t>((target_mean + m) >> 1);
    map_image(src, static_cast<size_t>(rows) * cols, m, c, gain(target_spread * target_spread, v),
              dst);
    return BAL_OK;
}

uint32_t bal_normalize_image_simple(const uint8_t* src, uint32_t rows, uint32_t cols,
                                    uint8_t target_mean, uint32_t target_spread, uint8_t* dst) {
    const uint32_t n = rows * cols;
    if (!src || !dst || n == 0) return 0;
    uint32_t hist[256];
    bal_image_histogram(src, static_cast<int32_t>(rows), static_cast<int32_t>(cols), hist);
    const auto m = static_cast<uint8_t>(bal_hist_mean(hist, n));
    const auto v = static_cast<uint16_t>(bal_hist_var(hist, m, n));
    const uint32_t g = gain(target_spread * target_spread, v);
    map_image(src, n, m, (target_mean + m) >> 1, g, dst);
    return g;
}

uint32_t bal_normalize_image(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t target_mean,
                             uint32_t spread_low, uint32_t spread_high, uint8_t* dst) {
    constexpr uint32_t kBlock = 8;
    constexpr uint16_t kTexturedVariance = 256;
    if (!src || !dst) return 0;
    const uint32_t block_rows = rows >> 3, block_cols = cols >> 3;
    const size_t nb = static_cast<size_t>(block_rows) * block_cols;
    auto* means = static_cast<uint8_t*>(std::malloc(nb ? nb : 1));
    auto* var = static_cast<uint16_t*>(std::malloc((nb ? nb : 1) * sizeof(uint16_t)));
    if (lib_memory_check(means, var, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present) return 0;
    bal_mean_blockwise_uint8(src, rows, cols, kBlock, block_rows, block_cols, means);
    bal_var_blockwise_uint8(src, rows, cols, means, kBlock, block_rows, block_cols, var);

    auto for_textured_pixels = [&](auto&& fn) {
        for (uint32_t br = 0; br < block_rows; ++br)
            for (uint32_t bc = 0; bc < block_cols; ++bc) {
                if (var[static_cast<size_t>(br) * block_cols + bc] <= kTexturedVariance) continue;
                for (uint32_t y = br * kBlock; y < (br + 1) * kBlock; ++y)
                    for (uint32_t x = bc * kBlock; x < (bc + 1) * kBlock; ++x)
                        fn(src[static_cast<size_t>(y) * cols + x]);
            }
    };
    uint32_t textured = 0;
    for (size_t b = 0; b < nb; ++b) textured += var[b] > kTexturedVariance;

    uint8_t m;
    uint32_t v;
    if (rows > 7 && textured > 0) {
        uint32_t sum = 0;
        for_textured_pixels([&](uint8_t p) { sum += p; });
        m = static_cast<uint8_t>(sum / (64 * textured));
        uint32_t sq = 0;
        for_textured_pixels([&](uint8_t p) {
            const auto d = static_cast<uint8_t>(p > m ? p - m : m - p);
            sq += uint32_t{d} * d;
        });
        v = sq / (64 * textured);
    } else {
        m = static_cast<uint8_t>(target_mean);
        v = spread_low * spread_low;
    }
    std::free(means);
    std::free(var);

    uint32_t t2;
    if (v <= 499) {
        t2 = spread_low * spread_low;
    } else if (v <= 2500) {
        const uint32_t t = (v - 500) * (spread_high - spread_low) / 2000 + spread_low;
        t2 = t * t;
    } else {
        t2 = spread_high * spread_high;
    }
    const uint32_t g = gain(t2, v);
    // A centre beyond the byte range only saturates; bounding it keeps the
    // signed mapping arithmetic in range.
    const uint32_t c = std::min<uint32_t>((target_mean + m) >> 1, 1u << 24);
    map_image(src, static_cast<size_t>(rows) * cols, m, c, g, dst);
    return g;
}

uint32_t bal_normalize_image_HWJ(const uint8_t* src, int32_t rows, uint32_t cols, uint8_t mean,
                                 uint8_t target_mean, uint32_t variance, uint32_t target_variance,
                                 uint8_t* dst) {
    const uint32_t g = gain(target_variance, variance);
    if (src && dst && rows > 0)
        map_image(src, static_cast<size_t>(rows) * cols, mean, target_mean, g, dst);
    return g;
}

void bal_normalize_image_mean(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t target_mean,
                              uint8_t* dst) {
    constexpr uint32_t kBlock = 8;
    const uint32_t block_rows = rows >> 3, block_cols = cols >> 3;
    if (!src || !dst || block_rows < 2 || block_cols < 2) return;
    const size_t npix = static_cast<size_t>(rows) * cols;
    auto* means = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(block_rows) * block_cols));
    auto* local = static_cast<uint8_t*>(std::malloc(npix));
    if (lib_memory_check(means, local, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present) return;
    bal_mean_blockwise_uint8(src, rows, cols, kBlock, block_rows, block_cols, means);
    bal_status status = bal_blur_uint8(means, block_rows, block_cols, means);
    if (status == BAL_OK) status = bal_blur_uint8(means, block_rows, block_cols, means);
    if (status == BAL_OK) {
        bal_scale_up_bilinear_uint8(means, block_rows, block_cols, kBlock, local,
                                    static_cast<int32_t>(rows), static_cast<int32_t>(cols));
        for (size_t i = 0; i < npix; ++i) {
            const int32_t v = src[i] + target_mean - local[i];
            dst[i] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
    std::free(means);
    std::free(local);
}

void bal_normalize_non_burn(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t unused1,
                            uint32_t unused2, uint8_t* dst) {
    (void)unused1;
    (void)unused2;
    if (!src || !dst) return;
    bal_normalize_image_simple(src, rows, cols, 127, 80, dst);
    const size_t n = static_cast<size_t>(rows) * cols;
    for (size_t i = 0; i < n; ++i)
        if (dst[i] == 255) dst[i] = 254;
}

void smqt(uint32_t* workspace, uint8_t bit, uint8_t lo, uint8_t hi) {
    const uint32_t* count = workspace;
    const uint32_t* level_sum = workspace + 256;
    uint32_t* code = workspace + 512;
    if (lo >= hi || count[hi] == count[lo]) return;
    const uint32_t m = (level_sum[hi] - level_sum[lo]) / (count[hi] - count[lo]);
    for (uint32_t i = m + 1; i <= hi; ++i) code[i] |= 1u << bit;
    if (bit - 1 == 1) return;
    smqt(workspace, static_cast<uint8_t>(bit - 1), lo, static_cast<uint8_t>(m));
    if (m < hi) smqt(workspace, static_cast<uint8_t>(bit - 1), static_cast<uint8_t>(m + 1), hi);
}

bal_status bal_normalize_image_smqt(const uint8_t* src, uint32_t rows, int32_t cols, uint8_t* dst) {
    auto* ws = static_cast<uint32_t*>(std::calloc(3 * 256, sizeof(uint32_t)));
    if (!ws) return BAL_NO_MEMORY;
    uint32_t* count = ws;
    uint32_t* level_sum = ws + 256;
    uint32_t* code = ws + 512;
    const size_t n = cols > 0 ? static_cast<size_t>(rows) * static_cast<uint32_t>(cols) : 0;
    for (size_t i = 0; i < n; ++i) ++count[src[i]];
    for (uint32_t i = 1; i < 256; ++i) {
        level_sum[i] = level_sum[i - 1] + i * count[i];
        count[i] += count[i - 1];
    }
    if (count[255] != count[0]) {
        const uint32_t m = (level_sum[255] - level_sum[0]) / (count[255] - count[0]);
        for (uint32_t i = m + 1; i < 256; ++i) code[i] |= 1u << 7;
        smqt(ws, 6, 0, static_cast<uint8_t>(m));
        if (m < 255) smqt(ws, 6, static_cast<uint8_t>(m + 1), 255);
    }
    for (size_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(code[src[i]]);
    std::free(ws);
    return BAL_OK;
}
