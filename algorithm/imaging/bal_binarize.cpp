#include "imaging/bal_binarize.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_blur.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_status.h"
#include "math/lib_memory.h"
#include "math/zr_trig.h"

namespace {

// Pixels take part in the quality-guided variants only above this quality.
constexpr uint8_t kMinQuality = 15;
// Marks an empty block of the local mean threshold grid.
constexpr int8_t kEmptyBlock = 127;
// Local wavelength (8.8) from which the wide band-pass test is used.
constexpr uint16_t kWideWavelength = 2304;

inline void set_pair(uint8_t* first, uint8_t* second, size_t i, bool at_or_above) {
    first[i] = at_or_above ? 1 : 0;
    second[i] = at_or_above ? 0 : 1;
}

// At least min_blocks blocks each way (the threshold plane interpolated from
// the grid needs two).
bool local_grid_ok(uint32_t rows, uint32_t cols, uint32_t block, uint32_t min_blocks) {
    return block != 0 && rows / block >= min_blocks && cols / block >= min_blocks &&
           rows <= INT32_MAX && cols <= INT32_MAX;
}

// Threshold of one block: the first level below which more than `percent` %
// of its pixels lie (16-bit counts), or 127.
int8_t histogram_threshold(const int8_t* src, uint32_t cols, uint32_t y0, uint32_t x0,
                           uint32_t block, uint8_t percent) {
    uint16_t hist[256] = {};
    for (uint32_t y = y0; y < y0 + block; ++y) {
        const int8_t* row = src + static_cast<size_t>(y) * cols + x0;
        for (uint32_t x = 0; x < block; ++x) ++hist[row[x] + 128];
    }
    const uint32_t area = block * block;
    uint16_t c = 0;
    for (uint32_t k = 0; k < 256; ++k) {
        c = static_cast<uint16_t>(c + hist[k]);
        if (uint32_t{c} * 100 / area > percent)
            return static_cast<int8_t>(static_cast<int32_t>(k) - 128);
    }
    return 127;
}

// Mean of the non-empty values of the clipped 3x3 neighbourhood, or 0.
int8_t neighbourhood_fill(const int8_t* grid, uint32_t block_rows, uint32_t block_cols, uint32_t r,
                          uint32_t c) {
    int32_t sum = 0, n = 0;
    for (uint32_t i = r > 0 ? r - 1 : 0; i <= std::min(r + 1, block_rows - 1); ++i)
        for (uint32_t j = c > 0 ? c - 1 : 0; j <= std::min(c + 1, block_cols - 1); ++j) {
            const int8_t v = grid[static_cast<size_t>(i) * block_cols + j];
            if (v == kEmptyBlock) continue;
            sum += v;
            ++n;
        }
    return static_cast<int8_t>(n ? sum / n : 0);
}

inline void set_bit(uint8_t* plane, size_t stride, uint32_t y, uint32_t x) {
    plane[static_cast<size_t>(y) * stride + (x >> 3)] |= static_cast<uint8_t>(0x80u >> (x & 7));
}

struct Tap {
    int8_t dy, dx;
};
constexpr Tap kWideInner[9] = {{0, 0},   {-2, -1}, {-2, 1}, {2, -1}, {2, 1},
                               {-1, -2}, {-1, 2},  {1, -2}, {1, 2}};
constexpr Tap kWideOuter[16] = {{0, -5},  {0, 5},  {-2, -5}, {-2, 5}, {2, -5}, {2, 5},
                                {-5, 0},  {5, 0},  {-5, -2}, {-5, 2}, {5, -2}, {5, 2},
                                {-4, -4}, {-4, 4}, {4, -4},  {4, 4}};

// 1 when the pixel at (y, x) of first differs from more than two of its four
// neighbours.
inline bool is_dot(const uint8_t* first, uint32_t cols, uint32_t y, uint32_t x) {
    const size_t i = static_cast<size_t>(y) * cols + x;
    const uint8_t v = first[i];
    const int differ =
        (first[i - 1] != v) + (first[i + 1] != v) + (first[i - cols] != v) + (first[i + cols] != v);
    return differ > 2;
}

}  // namespace

bal_status bal_binarize_local_histogram_threshold(const int8_t* src, const uint8_t* unused,
                                                  uint32_t rows, uint32_t cols,
                                                  const uint8_t* block_mask, uint32_t block,
                                                  uint8_t percent, uint8_t* first, uint8_t* second) {
    (void)unused;
    if (!src || !block_mask || !first || !second || block > 255 ||
        !local_grid_ok(rows, cols, block, 1))
        return BAL_BAD_ARGUMENT;
    const uint32_t block_rows = rows / block, block_cols = cols / block;
    auto* grid = static_cast<int8_t*>(std::calloc(static_cast<size_t>(block_rows) * block_cols, 1));
    if (!grid) return BAL_NO_MEMORY;
    const size_t n = static_cast<size_t>(rows) * cols;
    std::memset(first, 1, n);
    std::memset(second, 1, n);
    for (uint32_t br = 0; br < block_rows; ++br)
        for (uint32_t bc = 0; bc < block_cols; ++bc) {
            const size_t b = static_cast<size_t>(br) * block_cols + bc;
            if (block_mask[b] != 0)
                grid[b] = histogram_threshold(src, cols, br * block, bc * block, block, percent);
        }
    const bal_status status = bal_blur_weighted_int8(grid, block_rows, block_cols, grid);
    if (status == BAL_OK) {
        for (uint32_t br = 0; br < block_rows; ++br)
            for (uint32_t bc = 0; bc < block_cols; ++bc) {
                const size_t b = static_cast<size_t>(br) * block_cols + bc;
                if (block_mask[b] == 0) continue;
                for (uint32_t y = br * block; y < (br + 1) * block; ++y) {
                    const size_t row = static_cast<size_t>(y) * cols;
                    for (uint32_t x = bc * block; x < (bc + 1) * block; ++x)
                        set_pair(first, second, row + x, src[row + x] >= grid[b]);
                }
            }
    }
    std::free(grid);
    return status;
}

bal_status bal_binarize_local_threshold(const int8_t* src, const uint8_t* quality, uint32_t rows,
                                        uint32_t cols, uint32_t block, uint8_t* first,
                                        uint8_t* second) {
    if (!src || !quality || !first || !second || !local_grid_ok(rows, cols, block, 2))
        return BAL_BAD_ARGUMENT;
    const uint32_t block_rows = rows / block, block_cols = cols / block;
    const size_t n = static_cast<size_t>(rows) * cols;
    auto* plane = static_cast<int8_t*>(std::malloc(n));
    auto* grid = static_cast<int8_t*>(std::malloc(static_cast<size_t>(block_rows) * block_cols));
    if (lib_memory_check(plane, grid, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    std::memset(first, 1, n);
    std::memset(second, 1, n);
    for (uint32_t br = 0; br < block_rows; ++br)
        for (uint32_t bc = 0; bc < block_cols; ++bc) {
            int16_t sum = 0;
            int32_t count = 0;
            for (uint32_t y = br * block; y < (br + 1) * block; ++y)
                for (uint32_t x = bc * block; x < (bc + 1) * block; ++x) {
                    const size_t i = static_cast<size_t>(y) * cols + x;
                    if (quality[i] <= kMinQuality) continue;
                    sum = static_cast<int16_t>(sum + src[i]);
                    ++count;
                }
            grid[static_cast<size_t>(br) * block_cols + bc] =
                static_cast<int8_t>(count ? sum / count : kEmptyBlock);
        }
    for (uint32_t br = 0; br < block_rows; ++br)
        for (uint32_t bc = 0; bc < block_cols; ++bc) {
            int8_t& v = grid[static_cast<size_t>(br) * block_cols + bc];
            if (v == kEmptyBlock) v = neighbourhood_fill(grid, block_rows, block_cols, br, bc);
        }
    const bal_status status = bal_blur_int8(grid, block_rows, block_cols, grid);
    if (status == BAL_OK) {
        bal_scale_up_bilinear_int8(grid, block_rows, block_cols, static_cast<int32_t>(block), plane,
                                   static_cast<int32_t>(rows), static_cast<int32_t>(cols));
        for (size_t i = 0; i < n; ++i) {
            if (quality[i] <= kMinQuality) continue;
            if (src[i] < plane[i])
                first[i] = 0;
            else
                second[i] = 0;
        }
    }
    std::free(plane);
    std::free(grid);
    return status;
}

void bal_binarize_global_threshold(const int8_t* src, const uint8_t* quality, uint32_t rows,
                                   uint32_t cols, uint8_t* first, uint8_t* second) {
    const size_t n = static_cast<size_t>(rows) * cols;
    std::memset(first, 1, n);
    std::memset(second, 1, n);
    int32_t sum = 0, count = 0;
    for (size_t i = 0; i < n; ++i)
        if (quality[i] > kMinQuality) {
            sum += src[i];
            ++count;
        }
    const int32_t threshold = count ? sum / count : 0;
    for (size_t i = 0; i < n; ++i) {
        if (quality[i] <= kMinQuality) continue;
        if (src[i] < threshold)
            first[i] = 0;
        else
            second[i] = 0;
    }
}

bal_status bal_binarize_cross_section(const int8_t* src, int32_t rows, int32_t cols,
                                      const uint8_t* orientation, const uint8_t* width,
                                      const uint8_t* block_mask, uint32_t block_rows,
                                      uint32_t block_cols, uint32_t block, uint8_t* first,
                                      uint8_t* second) {
    if (rows <= 0 || cols <= 0) return BAL_OK;
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            const size_t i = static_cast<size_t>(y) * cols + x;
            const int32_t c = zr_cos_(orientation[i]), s = zr_sin_(orientation[i]);
            const int32_t h = width[i] >> 1;
            int32_t sum = 0, count = 0;
            for (int32_t t = -h; t <= h; ++t) {
                const int32_t yy = y + ((t * s) >> 14), xx = x + ((t * c) >> 14);
                if (yy < 0 || xx < 0 || yy >= rows || xx >= cols) continue;
                sum += src[static_cast<size_t>(yy) * cols + xx];
                ++count;
            }
            set_pair(first, second, i, src[i] >= sum / count);
        }
    // Masked-out blocks are cleared within the image only, whatever grid the
    // caller passes.
    const auto urows = static_cast<uint64_t>(rows), ucols = static_cast<uint64_t>(cols);
    for (uint32_t br = 0; br < block_rows; ++br)
        for (uint32_t bc = 0; bc < block_cols; ++bc) {
            if (block_mask[static_cast<size_t>(br) * block_cols + bc] != 0) continue;
            const uint64_t x0 = uint64_t{bc} * block, x1 = std::min(x0 + block, ucols);
            for (uint64_t y = uint64_t{br} * block; y < std::min(uint64_t{br + 1} * block, urows);
                 ++y) {
                if (x0 >= x1) break;
                const size_t row = static_cast<size_t>(y * ucols + x0);
                std::memset(first + row, 1, static_cast<size_t>(x1 - x0));
                std::memset(second + row, 1, static_cast<size_t>(x1 - x0));
            }
        }
    return BAL_OK;
}

void bal_binarize_bandpass(const int16_t* src, uint32_t rows, uint32_t cols,
                           const uint16_t* wavelength, uint8_t* first, uint8_t* second) {
    const size_t stride = ((static_cast<size_t>(cols) + 7) & ~size_t{7}) >> 3;
    std::memset(first, 0, stride * rows);
    std::memset(second, 0, stride * rows);
    auto at = [&](int64_t y, int64_t x) -> int32_t { return src[y * cols + x]; };
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            const bool wide = wavelength[static_cast<size_t>(y) * cols + x] >= kWideWavelength;
            const uint32_t margin = wide ? 5 : 2;
            if (y < margin || x < margin || y + margin >= rows || x + margin >= cols) {
                set_bit(first, stride, y, x);
                continue;
            }
            int32_t inner = 0, outer = 0;
            bool centre_wins;
            if (wide) {
                for (const Tap& t : kWideInner) inner += at(y + t.dy, x + t.dx);
                for (const Tap& t : kWideOuter) outer += at(y + t.dy, x + t.dx);
                centre_wins = 16 * inner - 9 * outer > 0;
            } else {
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx) {
                        const bool ring = dy == -2 || dy == 2 || dx == -2 || dx == 2;
                        (ring ? outer : inner) +=
                            at(static_cast<int64_t>(y) + dy, static_cast<int64_t>(x) + dx);
                    }
                centre_wins = 16 * inner - 9 * outer >= 1;
            }
            set_bit(centre_wins ? second : first, stride, y, x);
        }
}

void bal_binarize_remove_edges(uint8_t* first, uint8_t* second, uint32_t rows, uint32_t cols,
                               uint32_t left, uint32_t right, uint32_t top, uint32_t bottom) {
    top = std::min(top, rows);
    bottom = std::min(bottom, rows - top);
    left = std::min(left, cols);
    right = std::min(right, cols - left);
    auto fill = [&](size_t begin, size_t count) {
        std::memset(first + begin, 1, count);
        std::memset(second + begin, 1, count);
    };
    fill(0, static_cast<size_t>(top) * cols);
    fill(static_cast<size_t>(rows - bottom) * cols, static_cast<size_t>(bottom) * cols);
    for (uint32_t y = top; y < rows - bottom; ++y) {
        const size_t row = static_cast<size_t>(y) * cols;
        fill(row, left);
        fill(row + cols - right, right);
    }
}

void bal_binarize_remove_dots(uint8_t* first, uint8_t* second, const uint8_t* quality,
                              uint32_t rows, uint32_t cols) {
    if (rows < 3 || cols < 3) return;
    auto visit = [&](uint32_t y, uint32_t x) {
        const size_t i = static_cast<size_t>(y) * cols + x;
        if (quality[i] <= kMinQuality || !is_dot(first, cols, y, x)) return;
        first[i] = static_cast<uint8_t>(1 - first[i]);
        second[i] = static_cast<uint8_t>(1 - second[i]);
    };
    for (uint32_t y = 1; y + 1 < rows; ++y)
        for (uint32_t x = 1; x + 1 < cols; ++x) visit(y, x);
    for (uint32_t y = rows - 2; y >= 1; --y)
        for (uint32_t x = cols - 2; x >= 1; --x) visit(y, x);
}

void bal_binarize_remove_holes(const uint8_t* src, int32_t rows, uint32_t cols, uint8_t* dst) {
    if (rows <= 0) return;
    const size_t n = static_cast<size_t>(rows) * cols;
    if (dst != src) std::memcpy(dst, src, n);
    if (rows < 3 || cols < 3) return;
    for (uint32_t y = 1; y + 1 < static_cast<uint32_t>(rows); ++y)
        for (uint32_t x = 1; x + 1 < cols; ++x) {
            int ones = 0, zeros = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    if (!dy && !dx) continue;
                    const uint8_t v = src[static_cast<size_t>(y + dy) * cols + (x + dx)];
                    ones += v == 1;
                    zeros += v == 0;
                }
            const size_t i = static_cast<size_t>(y) * cols + x;
            if (src[i] == 1 && zeros == 8)
                dst[i] = 0;
            else if (src[i] != 1 && ones == 8)
                dst[i] = 1;
        }
}

bal_status bal_binarize_blur(const uint8_t* src, int32_t rows, uint32_t cols, uint8_t* dst) {
    if (!src || !dst || rows < 2 || cols < 2) return BAL_BAD_ARGUMENT;
    auto* prev = static_cast<uint8_t*>(std::malloc(cols));
    auto* cur = static_cast<uint8_t*>(std::malloc(cols));
    if (lib_memory_check(prev, cur, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    const auto nrows = static_cast<uint32_t>(rows);
    for (uint32_t y = 0; y < nrows; ++y) {
        std::memcpy(cur, src + static_cast<size_t>(y) * cols, cols);
        const uint8_t* up = y > 0 ? prev : nullptr;
        const uint8_t* down = y + 1 < nrows ? src + static_cast<size_t>(y + 1) * cols : nullptr;
        uint8_t* out = dst + static_cast<size_t>(y) * cols;
        for (uint32_t x = 0; x < cols; ++x) {
            const uint32_t x0 = x > 0 ? x - 1 : 0, x1 = x + 1 < cols ? x + 1 : x;
            int ones = 0, size = 0;
            for (const uint8_t* row : {up, static_cast<const uint8_t*>(cur), down}) {
                if (!row) continue;
                for (uint32_t j = x0; j <= x1; ++j) ones += row[j] != 0;
                size += static_cast<int>(x1 - x0 + 1);
            }
            const int needed = size == 4 ? 4 : 5;
            out[x] = ones >= needed ? 1 : 0;
        }
        std::swap(prev, cur);
    }
    std::free(prev);
    std::free(cur);
    return BAL_OK;
}
