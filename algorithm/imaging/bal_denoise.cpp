// Denoising: second-difference residual, residual subtraction, morphological
// smoothing, block-artefact detection and the streak filter.
#include "imaging/bal_denoise.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "imaging/bal_morphology.h"
#include "imaging/bal_rotate.h"
#include "imaging/bal_status.h"
#include "math/lib_memory.h"

namespace {

inline uint8_t clamp_u8(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Vertical second difference at column x.
inline int32_t vdiff(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint32_t x) {
    return up[x] - 2 * mid[x] + down[x];
}
// Horizontal second difference of a row at column x (1 <= x <= cols - 2).
inline int32_t hdiff(const uint8_t* row, uint32_t x) { return row[x - 1] - 2 * row[x] + row[x + 1]; }

// Residual of an inner row (both neighbour rows present).
void residual_inner_row(const uint8_t* up, const uint8_t* mid, const uint8_t* down, uint32_t cols, int8_t* out) {
    const uint32_t k = cols - 1;
    int32_t left = vdiff(up, mid, down, 0);
    int32_t here = vdiff(up, mid, down, 1);
    out[0] = static_cast<int8_t>((here - 2 * left) / 12);
    for (uint32_t x = 1; x < k; ++x) {
        const int32_t right = vdiff(up, mid, down, x + 1);
        out[x] = static_cast<int8_t>((left - 2 * here + right) / 16);
        left = here;
        here = right;
    }
    out[k] = static_cast<int8_t>((left - 2 * here) / 12);
}

// Residual of the first or last row; `edge` is that row, `next` the row
// inside it.
void residual_edge_row(const uint8_t* edge, const uint8_t* next, uint32_t cols, int8_t* out) {
    const uint32_t k = cols - 1;
    const int32_t first = -((edge[1] - 2 * edge[0] + next[0]) / 4);
    const int32_t last = -((edge[k - 1] - 2 * edge[k] + next[k]) / 4);
    for (uint32_t x = 1; x < k; ++x) out[x] = static_cast<int8_t>((hdiff(next, x) - 2 * hdiff(edge, x)) / 12);
    out[0] = static_cast<int8_t>(first);
    out[k] = static_cast<int8_t>(last);
}

uint64_t absolute_sum(const int8_t* noise, size_t n) {
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += static_cast<uint32_t>(noise[i] < 0 ? -noise[i] : noise[i]);
    return sum;
}

void subtract_residual(uint8_t* img, const int8_t* noise, size_t n) {
    for (size_t i = 0; i < n; ++i) img[i] = clamp_u8(img[i] - noise[i]);
}

// Horizontal steps of an image: sum over boundaries (x mod block == 0,
// weighted block - 1) and inside the blocks; flag when the boundaries stand out.
uint8_t block_artefact_flag(const uint8_t* img, uint32_t rows, uint32_t cols, uint32_t block) {
    uint64_t boundary = 0, inside = 0;
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* row = img + size_t{y} * cols;
        for (uint32_t x = 1; x < cols; ++x) {
            const uint32_t step = static_cast<uint32_t>(std::abs(row[x] - row[x - 1]));
            if (x % block == 0)
                boundary += (block - 1) * uint64_t{step};
            else
                inside += step;
        }
    }
    return boundary * 16 / (inside + 1) > 19 ? 1 : 0;
}

// Streak filter in place: each row is cut into segments of seg pixels; a
// segment's mean step against its neighbours (the rows above and below, the
// segments to either side) is taken three quarters back, for up to 8 passes
// while the total offset keeps falling.
bal_status streak_filter(uint8_t* img, uint32_t rows, uint32_t cols, uint32_t seg) {
    const uint32_t nseg = cols / seg;
    const int32_t half = seg < 2 ? 1 : static_cast<int32_t>(seg / 2);
    const size_t n = size_t{rows} * nseg;
    auto* means = static_cast<int16_t*>(std::malloc((n ? n : 1) * sizeof(int16_t)));
    if (!means) return BAL_NO_MEMORY;
    if (rows < 1) {
        std::free(means);
        return BAL_OK;
    }
    int64_t previous_total = 255 * static_cast<int64_t>(n);
    for (int pass = 0; pass < 8; ++pass) {
        int64_t total = 0;
        for (uint32_t y = 0; y < rows; ++y) {
            const uint8_t* row = img + size_t{y} * cols;
            const uint8_t* up = y > 0 ? row - cols : nullptr;
            const uint8_t* down = y + 1 < rows ? row + cols : nullptr;
            for (uint32_t s = 0; s < nseg; ++s) {
                const uint32_t x0 = s * seg, x1 = x0 + seg - 1;
                int32_t sum = 0, count = 0;
                if (up) {
                    for (uint32_t x = x0; x <= x1; ++x) sum += row[x] - up[x];
                    count += static_cast<int32_t>(seg);
                }
                if (down) {
                    for (uint32_t x = x0; x <= x1; ++x) sum += row[x] - down[x];
                    count += static_cast<int32_t>(seg);
                }
                if (s > 0) {
                    sum += half * (row[x0] - row[x0 - 1]);
                    count += half;
                }
                if (s + 1 < nseg) {
                    sum += half * (row[x1] - row[x1 + 1]);
                    count += half;
                }
                // A lone segment (one row, one segment) has nothing to compare with.
                const int32_t mean = count ? sum / count : 0;
                means[size_t{y} * nseg + s] = static_cast<int16_t>(mean);
                total += mean < 0 ? -mean : mean;
            }
        }
        for (uint32_t y = 0; y < rows; ++y) {
            uint8_t* row = img + size_t{y} * cols;
            for (uint32_t s = 0; s < nseg; ++s) {
                const int32_t corr = -((3 * means[size_t{y} * nseg + s]) / 4);
                if (corr == 0) continue;
                for (uint32_t x = s * seg; x < s * seg + seg; ++x) row[x] = clamp_u8(row[x] + corr);
            }
        }
        if (total > previous_total - static_cast<int64_t>(n)) break;
        previous_total = total;
    }
    std::free(means);
    return BAL_OK;
}

// Runs the streak filter along the columns of img (rows x cols), writing the
// result to dst: turned a quarter clockwise, filtered, turned back.
bal_status streak_filter_columns(const uint8_t* img, uint32_t rows, uint32_t cols, uint32_t seg, uint8_t* dst) {
    const size_t n = size_t{rows} * cols;
    auto* turned = static_cast<uint8_t*>(std::malloc(n ? n : 1));
    if (!turned) return BAL_NO_MEMORY;
    bal_image_flip(img, static_cast<int32_t>(rows), static_cast<int32_t>(cols), BAL_FLIP_QUARTER_CW, turned);
    const bal_status status = streak_filter(turned, cols, rows, seg);
    if (status == BAL_OK)
        bal_image_flip(turned, static_cast<int32_t>(cols), static_cast<int32_t>(rows), BAL_FLIP_QUARTER_CCW, dst);
    std::free(turned);
    return status;
}

// open-close / close-open average shared by both morphological denoisers.
bal_status morphological_average(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst, bool twice) {
    if (rows <= 0 || cols <= 0) return BAL_OK;
    const uint32_t r = static_cast<uint32_t>(rows), c = static_cast<uint32_t>(cols);
    const size_t n = size_t{r} * c;
    auto* a = static_cast<uint8_t*>(std::malloc(n));
    auto* b = static_cast<uint8_t*>(std::malloc(n));
    if (lib_memory_check(a, b, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present) return BAL_NO_MEMORY;
    bal_status status = bal_open_uint8(src, r, c, a);
    if (status == BAL_OK && twice) status = bal_close_uint8(a, r, c, a);
    if (status == BAL_OK) status = bal_close_uint8(src, r, c, b);
    if (status == BAL_OK && twice) status = bal_open_uint8(b, r, c, b);
    if (status == BAL_OK)
        for (size_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>((a[i] + b[i]) >> 1);
    std::free(a);
    std::free(b);
    return status;
}

}  // namespace

bal_status bal_image_noise(const uint8_t* src, int32_t rows, uint32_t cols, int8_t* noise) {
    if (rows <= 0 || cols == 0) return BAL_OK;
    const uint32_t r = static_cast<uint32_t>(rows);
    if (r < 2 || cols < 2) {
        std::memset(noise, 0, size_t{r} * cols);
        return BAL_OK;
    }
    // Copies of the previous and the current source row: noise may be src.
    auto* previous = static_cast<uint8_t*>(std::malloc(cols));
    auto* current = static_cast<uint8_t*>(std::malloc(cols));
    if (lib_memory_check(previous, current, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    for (uint32_t y = 0; y < r; ++y) {
        std::swap(previous, current);
        std::memcpy(current, src + size_t{y} * cols, cols);
        int8_t* out = noise + size_t{y} * cols;
        if (y == 0)
            residual_edge_row(current, src + cols, cols, out);
        else if (y + 1 == r)
            residual_edge_row(current, previous, cols, out);
        else
            residual_inner_row(previous, current, src + size_t{y + 1} * cols, cols, out);
    }
    std::free(previous);
    std::free(current);
    return BAL_OK;
}

uint8_t bal_image_noise_value(const int8_t* noise, uint32_t rows, uint32_t cols) {
    const int32_t n = static_cast<int32_t>(rows * cols);
    if (n < 1) return 0;
    const uint64_t level = absolute_sum(noise, static_cast<uint32_t>(n)) * 16 / static_cast<uint32_t>(n);
    return static_cast<uint8_t>(level > 255 ? 255 : level);
}

bal_status bal_image_denoise(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    const size_t n = size_t{rows} * cols;
    auto* noise = static_cast<int8_t*>(std::malloc(n ? n : 1));
    if (!noise) return BAL_NO_MEMORY;
    bal_status status = BAL_OK;
    if (n != 0) {
        status = bal_image_noise(src, static_cast<int32_t>(rows), cols, noise);
        if (status == BAL_OK)
            for (size_t i = 0; i < n; ++i) dst[i] = clamp_u8(src[i] - noise[i]);
    }
    std::free(noise);
    return status == BAL_OK ? BAL_OK : BAL_NO_MEMORY;
}

bal_status bal_image_adaptive_denoise(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst, uint8_t target) {
    const size_t n = size_t{rows} * cols;
    auto* noise = static_cast<int8_t*>(std::malloc(n ? n : 1));
    if (!noise) return BAL_NO_MEMORY;
    if (dst != src && n) std::memcpy(dst, src, n);
    for (int round = 0; round < 5; ++round) {
        if (bal_image_noise(dst, static_cast<int32_t>(rows), cols, noise) != BAL_OK) {
            std::free(noise);
            return BAL_NO_MEMORY;
        }
        const uint64_t level = n ? absolute_sum(noise, n) * 16 / n : 0;
        if (level < 256 && target > level) break;
        subtract_residual(dst, noise, n);
    }
    std::free(noise);
    return BAL_OK;
}

bal_status bal_image_morphological_denoise(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst) {
    return morphological_average(src, rows, cols, dst, true);
}

bal_status bal_image_morphological_denoise_light(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst) {
    return morphological_average(src, rows, cols, dst, false);
}

bal_status bal_image_block_noise_detector(const uint8_t* img, int32_t rows, int32_t cols, int32_t block, int32_t mode,
                                          uint8_t* flag) {
    if (!flag) return BAL_BAD_ARGUMENT;
    *flag = 0;
    if (mode != 1 || block < 2 || cols < block || cols < 1 || rows < 1 || !img) return BAL_BAD_ARGUMENT;
    *flag = block_artefact_flag(img, static_cast<uint32_t>(rows), static_cast<uint32_t>(cols),
                                static_cast<uint32_t>(block));
    return BAL_OK;
}

bal_status bal_image_block_noise_detector_vertically(const uint8_t* img, int32_t rows, int32_t cols, int32_t block,
                                                     int32_t mode, uint8_t* flag) {
    if (!flag) return BAL_BAD_ARGUMENT;
    *flag = 0;
    if (mode != 1 || block < 2 || rows < 1 || block > rows || cols < 1 || !img) return BAL_BAD_ARGUMENT;
    const size_t n = size_t(rows) * size_t(cols);
    auto* turned = static_cast<uint8_t*>(std::malloc(n));
    if (!turned) return BAL_NO_MEMORY;
    bal_image_flip(img, rows, cols, BAL_FLIP_QUARTER_CW, turned);
    *flag = block_artefact_flag(turned, static_cast<uint32_t>(cols), static_cast<uint32_t>(rows),
                                static_cast<uint32_t>(block));
    std::free(turned);
    return BAL_OK;
}

bal_status bal_image_denoise_impulse_noise(const uint8_t* src, uint32_t rows, int32_t cols, int32_t seg, uint8_t* dst) {
    if (seg < 1 || seg > cols) return BAL_BAD_ARGUMENT;
    const uint32_t c = static_cast<uint32_t>(cols);
    if (dst != src) std::memcpy(dst, src, size_t{rows} * c);
    return streak_filter(dst, rows, c, static_cast<uint32_t>(seg));
}

bal_status bal_image_denoise_impulse_noise_vertically(const uint8_t* src, int32_t rows, uint32_t cols, int32_t seg,
                                                      uint8_t* dst) {
    if (seg < 1 || seg > rows) return BAL_BAD_ARGUMENT;
    return streak_filter_columns(src, static_cast<uint32_t>(rows), cols, static_cast<uint32_t>(seg), dst);
}

bal_status bal_image_denoise_rows(uint8_t* img, uint32_t rows, int32_t cols) {
    if (cols < 1) return BAL_BAD_ARGUMENT;
    return streak_filter(img, rows, static_cast<uint32_t>(cols), static_cast<uint32_t>(cols));
}

bal_status bal_image_denoise_columns(uint8_t* img, int32_t rows, uint32_t cols) {
    if (rows < 1) return BAL_BAD_ARGUMENT;
    return streak_filter_columns(img, static_cast<uint32_t>(rows), cols, static_cast<uint32_t>(rows), img);
}
