#include "imaging/bal_quality.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "imaging/bal_blur.h"
#include "imaging/bal_crop_resize.h"
#include "imaging/bal_freq_filters.h"
#include "imaging/bal_histogram.h"
#include "imaging/bal_kernels3x3.h"
#include "imaging/bal_median.h"
#include "imaging/bal_normalize.h"
#include "imaging/bal_orientation.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_segment.h"
#include "imaging/bal_statistics.h"
#include "imaging/bal_status.h"
#include "math/lib_memory.h"
#include "math/zr_roots.h"

namespace {

constexpr uint32_t kPresenceVarianceThreshold = 20;

// Mean of a byte grid (truncated), as the grid's own byte statistic.
uint8_t grid_mean(const uint8_t* grid, uint32_t rows, uint32_t cols) {
    return static_cast<uint8_t>(bal_image_mean_uint8(grid, static_cast<int32_t>(rows),
                                                     static_cast<int32_t>(cols)));
}

// Mean of the grid values above half the grid mean, with their count.
struct StrongBlocks {
    uint32_t sum = 0;
    uint32_t count = 0;
};

StrongBlocks strong_blocks(const uint8_t* grid, uint32_t n, uint8_t threshold) {
    StrongBlocks s;
    for (uint32_t i = 0; i < n; ++i)
        if (grid[i] > threshold) {
            s.sum += grid[i];
            ++s.count;
        }
    return s;
}

}  // namespace

bal_status bal_image_quality_scale(const uint8_t* src, uint32_t rows, uint32_t cols,
                                   uint8_t* quality, uint32_t* area, uint8_t* condition,
                                   int32_t scale) {
    *quality = 0;
    *area = 0;
    *condition = 0;
    if (scale < 1) return BAL_BAD_ARGUMENT;
    const uint32_t block = static_cast<uint32_t>(12 / scale);
    if (block == 0 || block > rows || block > cols) return BAL_OK;

    uint8_t* copy = nullptr;
    uint32_t crop_rows = 0, crop_cols = 0, row_offset = 0, col_offset = 0;
    bal_status status = bal_crop_block_size(src, rows, cols, block, &copy, &crop_rows, &crop_cols,
                                          &row_offset, &col_offset);
    if (status != BAL_OK) return status;
    const int32_t r = static_cast<int32_t>(crop_rows), c = static_cast<int32_t>(crop_cols);
    bal_stretch_uint8(copy, r, c, 1, copy);
    if (bal_finger_is_present_scale(copy, crop_rows, crop_cols, scale) == 0) {
        std::free(copy);
        return BAL_OK;
    }

    const uint32_t block_rows = rows / block, block_cols = cols / block;
    uint8_t* mask = static_cast<uint8_t*>(std::malloc(size_t{block_rows} * block_cols));
    if (lib_memory_check(mask, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1) != lib_memory_result::all_present) {
        std::free(copy);
        return BAL_NO_MEMORY;
    }
    status = bal_segment_image_scale(copy, crop_rows, crop_cols, block_rows, block_cols, block,
                                     mask, scale);
    if (status == BAL_OK) {
        // The condition is measured on the stretched copy; a failure leaves it 0.
        static_cast<void>(bal_image_quality_cond(copy, crop_rows, crop_cols, block_rows, block_cols,
                                                 block, mask, condition));
        status = bal_normalize_locally(copy, crop_rows, crop_cols, mask, block, block_rows,
                                       block_cols, 150, 120, copy);
    }
    // Only segmentation and normalisation decide the status.
    if (status == BAL_OK)
        static_cast<void>(bal_image_quality_qual(copy, crop_rows, crop_cols, block_rows, block_cols,
                                                 block, mask, nullptr, rows, cols, quality, area,
                                                 scale));
    std::free(mask);
    std::free(copy);
    return status;
}

bal_status bal_image_quality(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* quality,
                             uint32_t* area, uint8_t* condition) {
    return bal_image_quality_scale(src, rows, cols, quality, area, condition, 1);
}

bal_status bal_image_quality_qual(const uint8_t* src, uint32_t rows, uint32_t cols,
                                  uint32_t block_rows, uint32_t block_cols, uint32_t block,
                                  const uint8_t* block_mask, const uint8_t* coherence,
                                  uint32_t full_rows, uint32_t full_cols, uint8_t* quality,
                                  uint32_t* area, int32_t scale) {
    *quality = 0;
    *area = 0;
    if (coherence && block_rows == 0) return BAL_OK;
    uint8_t* own_field = nullptr;
    if (!coherence) {
        own_field = static_cast<uint8_t*>(std::malloc(std::max<size_t>(size_t{block_rows} * block_cols, 1)));
        if (!own_field) return BAL_NO_MEMORY;
        const bal_status status = bal_ridge_orientation_coherence_scale(
            src, rows, cols, own_field, block_mask, block_rows, block_cols, block,
            static_cast<uint32_t>(scale));
        if (status != BAL_OK) {
            std::free(own_field);
            return status;
        }
        coherence = own_field;
    }

    int32_t score_sum = 0, blocks = 0;
    for (size_t i = 0; i < size_t{block_rows} * block_cols; ++i) {
        if (block_mask[i] == 0) continue;
        score_sum += coherence[i] * 99 / 256 + 1;
        ++blocks;
    }
    std::free(own_field);
    if (blocks == 0 || block == 0) return BAL_OK;

    int32_t q = (score_sum - 30 * blocks) * 100 / 60;
    q /= blocks;
    *quality = static_cast<uint8_t>(std::clamp(q, 1, 100));
    // Computed in 64 bits: the products overflow 32 bits on large images.
    const uint64_t covered = uint64_t{block} * block * full_cols * uint64_t(blocks) /
                             (uint64_t{block_cols} * block);
    *area = static_cast<uint32_t>(covered * full_rows / (uint64_t{block_rows} * block));
    return BAL_OK;
}

bal_status bal_image_quality_cond(const uint8_t* src, uint32_t rows, uint32_t cols,
                                  uint32_t block_rows, uint32_t block_cols, uint32_t block,
                                  const uint8_t* block_mask, uint8_t* condition) {
    const int32_t r = static_cast<int32_t>(rows), c = static_cast<int32_t>(cols);
    uint8_t* scratch = static_cast<uint8_t*>(std::malloc(std::max<size_t>(size_t{rows} * cols, 1)));
    if (!scratch) {
        *condition = 0;
        return BAL_NO_MEMORY;
    }
    if (bal_median_uint8(src, r, c, scratch) != BAL_OK) {
        std::free(scratch);
        *condition = 0;
        return BAL_NO_MEMORY;
    }
    // Only whether each stretched pixel reaches 128 is counted, and only in
    // some blocks: the stretch is applied through its table of all 256 values.
    uint8_t lo = 0, hi = 255;
    bal_find_stretch_limits(scratch, r, c, 5, &lo, &hi);
    uint8_t stretched[256];
    for (uint32_t v = 0; v < 256; ++v) stretched[v] = static_cast<uint8_t>(v);
    bal_stretch_from_limits(stretched, 1, 256, lo, hi, stretched);
    if (block_rows < 3 || block_cols < 3) {
        std::free(scratch);
        *condition = 0;
        return BAL_OK;
    }
    uint32_t bright = 0, dark = 0;
    for (uint32_t i = 1; i + 2 <= block_rows; ++i) {
        for (uint32_t j = 1; j + 2 <= block_cols; ++j) {
            const size_t b = size_t(i) * block_cols + j;
            if (!block_mask[b] || !block_mask[b - 1] || !block_mask[b + 1] ||
                !block_mask[b - block_cols] || !block_mask[b + block_cols])
                continue;
            for (uint32_t y = i * block; y < (i + 1) * block; ++y)
                for (uint32_t x = j * block; x < (j + 1) * block; ++x)
                    (stretched[scratch[size_t(y) * cols + x]] >= 128 ? bright : dark)++;
        }
    }
    *condition = bright + dark == 0 ? 0 : static_cast<uint8_t>(bright * 100 / (bright + dark));
    std::free(scratch);
    return BAL_OK;
}

uint32_t bal_finger_is_present_scale(const uint8_t* src, uint32_t rows, uint32_t cols,
                                     int32_t scale) {
    if (scale < 1) return 0;
    const uint32_t b = static_cast<uint32_t>(16 / scale);
    const uint32_t crop_rows = std::min(256u / static_cast<uint32_t>(scale), rows);
    const uint32_t crop_cols = std::min(192u / static_cast<uint32_t>(scale), cols);
    if (b == 0) return 0;
    const uint32_t nr = crop_rows / b, nc = crop_cols / b;
    if (nr == 0 || nc == 0) return 0;

    uint8_t* crop = static_cast<uint8_t*>(std::malloc(size_t{crop_rows} * crop_cols));
    uint8_t* means = static_cast<uint8_t*>(std::malloc(size_t{nr} * nc));
    uint16_t* variances = static_cast<uint16_t*>(std::malloc(size_t{nr} * nc * sizeof(uint16_t)));
    if (lib_memory_check(crop, means, variances, nullptr, nullptr, nullptr, nullptr, 3) != lib_memory_result::all_present)
        return 0;
    bal_crop_image(src, rows, cols, crop_rows, crop_cols, static_cast<int32_t>((rows - crop_rows) >> 1),
                   static_cast<int32_t>((cols - crop_cols) >> 1), crop);
    const int32_t r = static_cast<int32_t>(crop_rows), c = static_cast<int32_t>(crop_cols);
    bool ok = bal_median_uint8(crop, r, c, crop) == BAL_OK;
    if (ok && scale == 1)
        ok = bal_blur_uint8(crop, crop_rows, crop_cols, crop) == BAL_OK &&
             bal_blur_uint8(crop, crop_rows, crop_cols, crop) == BAL_OK;
    uint32_t present = 0;
    if (ok) {
        bal_mean_blockwise_uint8(crop, crop_rows, crop_cols, b, nr, nc, means);
        bal_var_blockwise_uint8(crop, crop_rows, crop_cols, means, b, nr, nc, variances);
        uint32_t sum = 0;
        for (uint32_t i = 0; i < nr * nc; ++i) sum += variances[i];
        present = sum / (nr * nc) > kPresenceVarianceThreshold ? 1 : 0;
    }
    std::free(crop);
    std::free(means);
    std::free(variances);
    return present;
}

uint32_t bal_finger_is_present(const uint8_t* src, uint32_t rows, uint32_t cols) {
    return bal_finger_is_present_scale(src, rows, cols, 1);
}

bal_status bal_image_quality_signal_to_noise_ratio(const uint8_t* src, uint32_t rows,
                                                   uint32_t cols, uint32_t resolution,
                                                   uint8_t* ratio, uint8_t* signal,
                                                   uint8_t* noise) {
    *ratio = 0;
    const size_t size = std::max<size_t>(size_t{rows} * cols, 1);
    uint8_t* filtered = static_cast<uint8_t*>(std::malloc(size));
    uint8_t* residual = static_cast<uint8_t*>(std::malloc(size));
    if (!filtered || !residual) {
        std::free(filtered);
        std::free(residual);
        return BAL_NO_MEMORY;
    }
    bal_status status = bal_generic_bandpass_filter(src, rows, cols, static_cast<int32_t>(resolution),
                                                  64, 0, 1280, 128, filtered);
    const uint32_t nbr = rows / 16, nbc = cols / 16, blocks = nbr * nbc;
    uint8_t* ranges = nullptr;
    uint8_t* noises = nullptr;
    if (status == BAL_OK) {
        const uint8_t m = static_cast<uint8_t>(
            bal_image_mean_uint8(filtered, static_cast<int32_t>(rows), static_cast<int32_t>(cols)));
        for (size_t i = 0; i < size_t{rows} * cols; ++i)
            residual[i] = static_cast<uint8_t>(m + src[i] - filtered[i]);
        ranges = static_cast<uint8_t*>(std::malloc(std::max(blocks, 1u)));
        noises = static_cast<uint8_t*>(std::malloc(std::max(blocks, 1u)));
        if (!ranges || !noises) status = BAL_NO_MEMORY;
    }
    if (status == BAL_OK) {
        // Without a whole 16 x 16 block there is nothing to measure.
        if (signal) *signal = 0;
        if (noise) *noise = 0;
    }
    if (status == BAL_OK && blocks != 0) {
        uint32_t hist[256];
        for (uint32_t bi = 0; bi < nbr; ++bi) {
            for (uint32_t bj = 0; bj < nbc; ++bj) {
                std::fill(std::begin(hist), std::end(hist), 0u);
                uint8_t lo = 255, hi = 0;
                for (uint32_t y = bi * 16; y < bi * 16 + 16; ++y)
                    for (uint32_t x = bj * 16; x < bj * 16 + 16; ++x) {
                        const size_t i = size_t(y) * cols + x;
                        ++hist[residual[i]];
                        lo = std::min(lo, filtered[i]);
                        hi = std::max(hi, filtered[i]);
                    }
                const uint8_t mean = static_cast<uint8_t>(bal_hist_mean(hist, 256));
                const uint8_t deviation = static_cast<uint8_t>(bal_hist_std(hist, mean, 256));
                ranges[bi * nbc + bj] = static_cast<uint8_t>(hi - lo);
                noises[bi * nbc + bj] = static_cast<uint8_t>(std::min(255, 4 * deviation));
            }
        }
        const uint8_t t = static_cast<uint8_t>(grid_mean(ranges, nbr, nbc) >> 1);
        const StrongBlocks strong = strong_blocks(ranges, blocks, t);
        uint32_t noise_sum = 0;
        for (uint32_t i = 0; i < blocks; ++i) noise_sum += noises[i];
        const uint32_t level = noise_sum >> 2;
        if (signal) *signal = strong.count ? static_cast<uint8_t>(strong.sum / strong.count) : 0;
        if (noise) *noise = static_cast<uint8_t>(level / blocks);
        if (strong.count == 0) {
            *ratio = 0;
        } else if (level == 0) {
            *ratio = 255;
        } else {
            // 64-bit: the product overflows 32 bits on large images.
            const uint64_t r = uint64_t{blocks} * 8 * strong.sum / (uint64_t{strong.count} * level);
            *ratio = static_cast<uint8_t>(std::min<uint64_t>(r, 255));
        }
    }
    std::free(filtered);
    std::free(residual);
    std::free(ranges);
    std::free(noises);
    return status;
}

bal_status bal_image_dynamic_range(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t,
                                   uint8_t* range) {
    *range = 0;
    const uint32_t nbr = rows >> 4, nbc = cols >> 4, blocks = nbr * nbc;
    uint8_t* values = static_cast<uint8_t*>(std::malloc(std::max(blocks, 1u)));
    if (!values) return BAL_NO_MEMORY;
    uint32_t hist[256];
    for (uint32_t bi = 0; bi < nbr; ++bi) {
        for (uint32_t bj = 0; bj < nbc; ++bj) {
            std::fill(std::begin(hist), std::end(hist), 0u);
            for (uint32_t y = bi * 16; y < bi * 16 + 16; ++y)
                for (uint32_t x = bj * 16; x < bj * 16 + 16; ++x) ++hist[src[size_t(y) * cols + x]];
            uint8_t lo = 0, hi = 0;
            bal_find_stretch_limits_from_hist(hist, 1, &lo, &hi);
            values[bi * nbc + bj] = static_cast<uint8_t>(hi - lo);
        }
    }
    if (blocks != 0) {
        const uint8_t t = static_cast<uint8_t>(grid_mean(values, nbr, nbc) >> 1);
        const StrongBlocks strong = strong_blocks(values, blocks, t);
        if (strong.count > 0) *range = static_cast<uint8_t>(strong.sum / strong.count);
    }
    std::free(values);
    return BAL_OK;
}

bal_status bal_image_sharpness(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t,
                               uint8_t* sharpness) {
    *sharpness = 0;
    const uint32_t n = rows * cols;
    if (n == 0) return BAL_OK;
    int8_t* laplacian = static_cast<int8_t*>(std::malloc(n));
    if (!laplacian) return BAL_NO_MEMORY;
    bal_laplace(src, rows, cols, laplacian);
    uint32_t hist[256];
    bal_image_histogram_int8(laplacian, static_cast<int32_t>(rows), static_cast<int32_t>(cols), hist);
    const uint8_t mean = static_cast<uint8_t>(bal_hist_mean(hist, n));
    const uint16_t s = static_cast<uint16_t>(bal_hist_std_2(hist, mean, n));
    *sharpness = static_cast<uint8_t>(std::min<uint32_t>(s, 255));
    std::free(laplacian);
    return BAL_OK;
}

uint32_t bal_image_difference_scale(const uint8_t* a, const uint8_t* b, uint32_t rows,
                                    uint32_t cols, int32_t scale) {
    if (scale < 1) return 0;
    const uint32_t half_rows = (static_cast<uint32_t>(scale) * rows) >> 1;
    const uint32_t half_cols = (static_cast<uint32_t>(scale) * cols) >> 1;
    const size_t size = size_t{half_rows} * half_cols;
    if (size == 0) return 0;
    uint8_t* na = static_cast<uint8_t*>(std::malloc(size));
    uint8_t* nb = static_cast<uint8_t*>(std::malloc(size));
    if (!na || !nb) {
        // Without working images nothing can be compared: report no difference.
        std::free(na);
        std::free(nb);
        return 0;
    }
    if (scale == 2) {
        std::memcpy(na, a, size);
        std::memcpy(nb, b, size);
    } else {
        bal_scale_bilinear(a, rows, cols, na, half_rows, half_cols);
        bal_scale_bilinear(b, rows, cols, nb, half_rows, half_cols);
    }
    bal_normalize_image_simple(na, half_rows, half_cols, 150, 100, na);
    bal_normalize_image_simple(nb, half_rows, half_cols, 150, 100, nb);
    int32_t count = 0;
    for (size_t i = 0; i < size; ++i)
        if (std::abs(int32_t{na[i]} - int32_t{nb[i]}) >= 33) ++count;
    std::free(na);
    std::free(nb);
    return static_cast<uint32_t>(4 * count / (scale * scale));
}

uint32_t bal_image_difference(const uint8_t* a, const uint8_t* b, uint32_t rows, uint32_t cols) {
    return bal_image_difference_scale(a, b, rows, cols, 1);
}

bal_status bal_quality_from_reliability(const uint8_t* reliability, const uint8_t* block_mask,
                                        uint32_t block_rows, uint32_t block_cols, uint32_t block,
                                        uint8_t* dst, uint32_t rows, uint32_t cols) {
    const size_t blocks = size_t{block_rows} * block_cols;
    uint8_t* smoothed = static_cast<uint8_t*>(std::malloc(std::max<size_t>(blocks, 1)));
    if (!smoothed) return BAL_NO_MEMORY;
    std::memcpy(smoothed, reliability, blocks);
    bal_status status = bal_median_uint8(
        reliability, static_cast<int32_t>(block_rows), static_cast<int32_t>(block_cols), smoothed);
    if (status == BAL_OK)
        status = bal_scale_up_bilinear_pad_uint8(smoothed, block_rows, block_cols, block, 0, dst,
                                                 rows, cols);
    if (status == BAL_OK) {
        for (size_t i = 0; i < size_t{rows} * cols; ++i)
            dst[i] = static_cast<uint8_t>(dst[i] * 99 / 256 + 1);
        for (uint32_t bi = 0; bi < block_rows; ++bi)
            for (uint32_t bj = 0; bj < block_cols; ++bj) {
                if (block_mask[bi * block_cols + bj] != 0) continue;
                for (uint32_t y = bi * block; y < std::min((bi + 1) * block, rows); ++y)
                    for (uint32_t x = bj * block; x < std::min((bj + 1) * block, cols); ++x)
                        dst[size_t(y) * cols + x] = 0;
            }
    }
    std::free(smoothed);
    return status;
}

bal_status bal_quality_image_to_field(const uint8_t* src, uint16_t full_rows, uint16_t full_cols,
                                      uint16_t src_rows, uint32_t src_cols, uint16_t row_offset,
                                      uint16_t col_offset, uint8_t cell_rows, uint8_t cell_cols,
                                      zr_zonal_quality_field* field) {
    if (cell_rows == 0 || cell_cols == 0) return BAL_BAD_ARGUMENT;
    const int32_t h = cell_rows, w = cell_cols;
    const uint32_t field_rows = full_rows / h + 1, field_cols = full_cols / w + 1;
    const int32_t r0 = (row_offset + h / 2 - 1) / h, c0 = (col_offset + w / 2 - 1) / w;
    const int32_t y0 = r0 * h + h / 2 - row_offset, x0 = c0 * w + w / 2 - col_offset;
    // Indices are formed in full width: the source may exceed 65536 pixels.
    const size_t cells = size_t{field_rows} * field_cols;
    if (!field->cells) {
        field->cells = static_cast<uint8_t*>(std::malloc(cells));
        if (!field->cells) return BAL_NO_MEMORY;
    }
    std::memset(field->cells, 0, cells);
    field->field_rows = static_cast<uint8_t>(field_rows);
    field->field_cols = static_cast<uint8_t>(field_cols);
    field->cell_rows = cell_rows;
    field->cell_cols = cell_cols;
    // With the even cell sizes of the contract the first sample lies at or
    // after the source origin; an odd size could put it one step before.
    for (int32_t i = 0; y0 + i * h < int32_t{src_rows} && r0 + i < int32_t(field_rows); ++i) {
        if (y0 + i * h < 0 || r0 + i < 0) continue;
        for (int32_t j = 0; x0 + j * w < int64_t{src_cols} && c0 + j < int32_t(field_cols); ++j) {
            if (x0 + j * w < 0 || c0 + j < 0) continue;
            field->cells[size_t(r0 + i) * field_cols + size_t(c0 + j)] =
                src[size_t(y0 + i * h) * src_cols + size_t(x0 + j * w)];
        }
    }
    return BAL_OK;
}

namespace {

uint8_t fade(uint8_t v, uint32_t quarters) {
    return static_cast<uint8_t>(v + quarters * (255u - v) / 4);
}

}  // namespace

bal_status bal_image_set_part_to_white(const uint8_t* src, uint16_t rows, uint16_t cols,
                                       uint8_t percent, uint8_t* dst) {
    if (percent > 100) return BAL_BAD_ARGUMENT;
    const int32_t H = rows, W = cols;
    const uint32_t s = zr_sqrt_(static_cast<uint32_t>(100 - percent) * 256);
    const int32_t win_w = static_cast<int32_t>(s * static_cast<uint32_t>(W) / 160);
    const int32_t win_h = static_cast<int32_t>(s * static_cast<uint32_t>(H) / 160);
    const int32_t left = (W - win_w) / 2, top = (H - win_h) / 2;
    const int32_t bottom = top + win_h, right = left + win_w;
    if (dst != src) std::memcpy(dst, src, size_t(H) * size_t(W));
    if (percent == 0) return BAL_OK;

    const auto inside = [&](int32_t y, int32_t x) { return y >= 0 && y < H && x >= 0 && x < W; };
    const auto at = [&](int32_t y, int32_t x) -> uint8_t& { return dst[size_t(y) * W + x]; };
    const auto fade_at = [&](int32_t y, int32_t x, uint32_t quarters) {
        if (inside(y, x)) at(y, x) = fade(at(y, x), quarters);
    };
    // Whiten everything outside the kept rectangle K = [top-1, bottom] x [left-1, right].
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            if (y < top - 1 || y > bottom || x < left - 1 || x > right) at(y, x) = 255;
    for (int32_t x = left - 1; x <= right; ++x) {
        fade_at(top - 1, x, 3);
        fade_at(bottom, x, 3);
    }
    if (left + 1 < right - 1)
        for (int32_t x = left + 1; x <= right - 2; ++x) {
            fade_at(top, x, 1);
            fade_at(bottom - 1, x, 1);
        }
    for (int32_t y = top; y < bottom; ++y) {
        fade_at(y, left - 1, 3);
        fade_at(y, left, 1);
        fade_at(y, right - 1, 1);
        fade_at(y, right, 3);
    }

    uint8_t* smoothed = static_cast<uint8_t*>(std::malloc(std::max<size_t>(size_t(H) * W, 1)));
    if (!smoothed) return BAL_NO_MEMORY;
    const bal_status status = bal_median_uint8(dst, H, W, smoothed);
    if (status != BAL_OK) {
        std::free(smoothed);
        return status;
    }
    for (int32_t y = std::max(top - 1, 0); y <= std::min(bottom, H - 1); ++y)
        for (int32_t x = std::max(left - 1, 0); x <= std::min(right, W - 1); ++x) {
            const bool on_ring = y <= top || y >= bottom - 1 || x <= left || x >= right - 1;
            if (on_ring) at(y, x) = smoothed[size_t(y) * W + x];
        }
    std::free(smoothed);
    return BAL_OK;
}
