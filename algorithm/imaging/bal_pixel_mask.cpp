// Pixel masks, local range and maxima, background fill and crop area.
#include "imaging/bal_pixel_mask.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_blur.h"
#include "imaging/bal_denoise.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_status.h"
#include "math/lib_memory.h"

namespace {

constexpr uint32_t kCell = 8;

// Cell grid growth: empty cells next to filled ones take their largest
// neighbour, sweep after sweep, until a sweep changes nothing.
void grow_cells(uint8_t* grid, uint8_t* next, uint32_t gr, uint32_t gc) {
    for (;;) {
        bool changed = false;
        for (uint32_t r = 0; r < gr; ++r)
            for (uint32_t c = 0; c < gc; ++c) {
                uint8_t v = grid[size_t{r} * gc + c];
                if (v == 0) {
                    for (uint32_t rr = r ? r - 1 : 0; rr <= std::min(r + 1, gr - 1); ++rr)
                        for (uint32_t cc = c ? c - 1 : 0; cc <= std::min(c + 1, gc - 1); ++cc)
                            v = std::max(v, grid[size_t{rr} * gc + cc]);
                    changed |= v != 0;
                }
                next[size_t{r} * gc + c] = v;
            }
        if (!changed) return;
        std::memcpy(grid, next, size_t{gr} * gc);
    }
}

// Cells to pixels: bilinear between cell centres; grids of a single row or
// column, which have no centres to interpolate between, repeat each cell.
void cells_to_pixels(const uint8_t* grid, uint32_t gr, uint32_t gc, uint8_t* up) {
    const uint32_t up_rows = gr * kCell, up_cols = gc * kCell;
    if (gr >= 2 && gc >= 2) {
        bal_scale_up_bilinear_uint8(grid, gr, gc, kCell, up, static_cast<int32_t>(up_rows),
                                    static_cast<int32_t>(up_cols));
        return;
    }
    for (uint32_t y = 0; y < up_rows; ++y)
        for (uint32_t x = 0; x < up_cols; ++x) up[size_t{y} * up_cols + x] = grid[size_t{y / kCell} * gc + x / kCell];
}

bool has_zero_neighbour(const uint8_t* mask, uint32_t cols, uint32_t y, uint32_t x) {
    const uint8_t* up = mask + size_t{y - 1} * cols + x;
    const uint8_t* mid = up + cols;
    const uint8_t* down = mid + cols;
    return !up[-1] || !up[0] || !up[1] || !mid[-1] || !mid[1] || !down[-1] || !down[0] || !down[1];
}

bool has_set_neighbour(const uint8_t* mask, uint32_t cols, uint32_t y, uint32_t x) {
    const uint8_t* up = mask + size_t{y - 1} * cols + x;
    const uint8_t* mid = up + cols;
    const uint8_t* down = mid + cols;
    return up[-1] || up[0] || up[1] || mid[-1] || mid[1] || down[-1] || down[0] || down[1];
}

// Sum of column x (or row y) of the image, computed when needed.
uint64_t column_sum(const uint8_t* src, int32_t rows, int32_t cols, int32_t x) {
    uint64_t s = 0;
    for (int32_t y = 0; y < rows; ++y) s += src[size_t(y) * size_t(cols) + size_t(x)];
    return s;
}
uint64_t row_sum(const uint8_t* src, int32_t cols, int32_t y) {
    uint64_t s = 0;
    const uint8_t* row = src + size_t(y) * size_t(cols);
    for (int32_t x = 0; x < cols; ++x) s += row[x];
    return s;
}

// One axis of the crop: the last bright line before the middle and the first
// after it, widened by 16 and kept inside 0 .. length - 1.
template <typename Sum>
void crop_axis(int32_t length, uint64_t limit, Sum sum, int32_t& first, int32_t& last) {
    const int32_t middle = length / 2;
    int32_t low = 0;
    for (int32_t i = middle - 1; i >= 0; --i)
        if (sum(i) > limit) {
            low = i;
            break;
        }
    int32_t high = length - 1;
    for (int32_t i = middle + 1; i <= length - 1; ++i)
        if (sum(i) > limit) {
            high = i;
            break;
        }
    first = std::max(low - 16, 0);
    last = high + 16 < length ? high + 16 : length - 1;
}

}  // namespace

void bal_local_intensity_difference(const uint8_t* src, int32_t rows, uint32_t cols, uint32_t radius, uint8_t* dst) {
    if (rows <= 0 || cols == 0) return;
    const int64_t r = radius;
    const int64_t limit = r * (r + 1);
    const int64_t h = rows, w = cols;
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x) {
            uint8_t lo = 255, hi = 0;
            for (int64_t dy = std::max(-r, -y); dy <= std::min(r, h - 1 - y); ++dy) {
                // Half-width of the disc on this row.
                int64_t half = 0;
                while ((half + 1) * (half + 1) + dy * dy <= limit) ++half;
                const uint8_t* row = src + (y + dy) * w;
                for (int64_t xx = std::max<int64_t>(0, x - half); xx <= std::min(w - 1, x + half); ++xx) {
                    lo = std::min(lo, row[xx]);
                    hi = std::max(hi, row[xx]);
                }
            }
            dst[y * w + x] = static_cast<uint8_t>(hi - lo);
        }
}

bal_status bal_segment_image_morphological(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    const size_t n = size_t{rows} * cols;
    auto fail = [&](bal_status status) {
        std::memset(dst, 0, n);
        return status;
    };
    auto* work = static_cast<uint8_t*>(std::malloc(n + 16));
    if (!work) return fail(BAL_NO_MEMORY);
    bal_status status = bal_image_morphological_denoise(src, static_cast<int32_t>(rows), static_cast<int32_t>(cols), work);
    if (status != BAL_OK) {
        std::free(work);
        return fail(status);
    }
    auto* range = static_cast<uint8_t*>(std::malloc(n ? n : 1));
    if (!range) {
        std::free(work);
        return fail(BAL_NO_MEMORY);
    }
    bal_local_intensity_difference(work, static_cast<int32_t>(rows), cols, 5, range);
    std::free(work);
    for (int pass = 0; pass < 10 && status == BAL_OK; ++pass) status = bal_blur_weighted_uint8(range, rows, cols, range);
    if (status == BAL_OK)
        for (size_t i = 0; i < n; ++i) dst[i] = range[i] > 48 ? 1 : 0;
    std::free(range);
    return status == BAL_OK ? BAL_OK : fail(status);
}

bal_status bal_local_maxima(const uint8_t* src, uint32_t rows, uint32_t cols, int32_t radius, uint8_t* dst,
                            uint32_t* count) {
    *count = 0;
    const uint32_t r = static_cast<uint32_t>(std::max(radius, 1));
    auto* above = static_cast<uint8_t*>(std::malloc(cols ? cols : 1));
    auto* here = static_cast<uint8_t*>(std::malloc(cols ? cols : 1));
    if (lib_memory_check(above, here, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present) return BAL_NO_MEMORY;
    // No interior: nothing to find and nothing written.
    if (uint64_t{rows} <= 2 * uint64_t{r} || uint64_t{cols} <= 2 * uint64_t{r}) {
        std::free(above);
        std::free(here);
        return BAL_OK;
    }
    const uint32_t y_end = rows - r, x_end = cols - r;
    std::memcpy(here, src + size_t{r - 1} * cols, cols);
    for (uint32_t y = r; y < y_end; ++y) {
        std::swap(above, here);
        const uint8_t* row = src + size_t{y} * cols;
        const uint8_t* below = row + cols;
        std::memcpy(here, row, cols);
        uint8_t* out = dst + size_t{y} * cols;
        for (uint32_t x = r; x < x_end; ++x) {
            const uint8_t v = here[x];
            const bool peak = v != 0 && v >= above[x - 1] && v >= above[x] && v >= above[x + 1] && v >= here[x - 1] &&
                              v >= row[x + 1] && v >= below[x - 1] && v >= below[x] && v >= below[x + 1];
            out[x] = peak ? v : 0;
        }
    }
    std::free(above);
    std::free(here);

    // The margin of width r becomes 0, so that the plateau test at the last
    // interior row and column reads no stale values.
    for (uint32_t y = 0; y < rows; ++y) {
        uint8_t* out = dst + size_t{y} * cols;
        if (y < r || y >= y_end) {
            std::memset(out, 0, cols);
        } else {
            std::memset(out, 0, r);
            std::memset(out + x_end, 0, cols - x_end);
        }
    }
    uint32_t found = 0;
    for (uint32_t y = r; y < y_end; ++y) {
        uint8_t* out = dst + size_t{y} * cols;
        const uint8_t* below = out + cols;
        for (uint32_t x = r; x < x_end; ++x) {
            if (out[x] == 0) continue;
            if (out[x + 1] == 0 && below[x - 1] == 0 && below[x] == 0 && below[x + 1] == 0)
                ++found;
            else
                out[x] = 0;
        }
    }
    *count = found;
    return BAL_OK;
}

bal_status bal_mask_image(const uint8_t* src, uint32_t rows, uint32_t cols, const uint8_t* mask, uint8_t* dst) {
    rows &= 0xFFFF;
    cols &= 0xFFFF;
    if (rows == 0 || cols == 0) return BAL_OK;
    const uint32_t gr = (rows + kCell - 1) / kCell, gc = (cols + kCell - 1) / kCell;
    const size_t n = size_t{rows} * cols, cells = size_t{gr} * gc;
    const uint32_t up_cols = gc * kCell;
    auto* up = static_cast<uint8_t*>(std::malloc(size_t{gr} * kCell * up_cols));
    auto* grid = static_cast<uint8_t*>(std::malloc(cells));
    auto* next = static_cast<uint8_t*>(std::malloc(cells));
    auto* blurred = static_cast<uint8_t*>(std::malloc(n));
    if (lib_memory_check(up, grid, next, blurred, nullptr, nullptr, nullptr, 4) != lib_memory_result::all_present) return BAL_NO_MEMORY;
    auto done = [&](bal_status status) {
        std::free(up);
        std::free(grid);
        std::free(next);
        std::free(blurred);
        return status;
    };
    if (dst != src) std::memcpy(dst, src, n);
    std::memset(grid, 0, cells);

    // Rim of the foreground: the brightest rim pixel of each cell.
    for (uint32_t y = 1; y + 1 < rows; ++y)
        for (uint32_t x = 1; x + 1 < cols; ++x) {
            const size_t p = size_t{y} * cols + x;
            if (mask[p] && has_zero_neighbour(mask, cols, y, x)) {
                uint8_t& cell = grid[size_t{y / kCell} * gc + x / kCell];
                cell = std::max(cell, src[p]);
            }
        }
    grow_cells(grid, next, gr, gc);
    bal_status status = bal_blur_uint8(grid, gr, gc, grid);
    if (status != BAL_OK) return done(status);
    cells_to_pixels(grid, gr, gc, up);

    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            const size_t p = size_t{y} * cols + x;
            if (!mask[p]) dst[p] = up[size_t{y} * up_cols + x];
        }
    status = bal_blur_uint8(dst, rows, cols, blurred);
    if (status != BAL_OK) return done(status);
    if (rows >= 3 && cols >= 3)
        for (uint32_t y = 1; y + 1 < rows; ++y)
            for (uint32_t x = 1; x + 1 < cols; ++x) {
                const size_t p = size_t{y} * cols + x;
                if (!mask[p] && has_set_neighbour(mask, cols, y, x)) dst[p] = blurred[p];
            }
    return done(BAL_OK);
}

void bal_get_crop_area(const uint8_t* src, int32_t rows, int32_t cols, uint32_t* out_height, uint32_t* out_width,
                       uint32_t* out_top, uint32_t* out_left) {
    if (rows < 1 || cols < 1) {
        *out_height = *out_width = *out_top = *out_left = 0;
        return;
    }
    int32_t left, right, top, bottom;
    crop_axis(cols, uint64_t(rows) * 211, [&](int32_t x) { return column_sum(src, rows, cols, x); }, left, right);
    crop_axis(rows, uint64_t(cols) * 211, [&](int32_t y) { return row_sum(src, cols, y); }, top, bottom);
    *out_top = static_cast<uint32_t>(top);
    *out_left = static_cast<uint32_t>(left);
    *out_height = static_cast<uint32_t>(bottom - top + 1);
    *out_width = static_cast<uint32_t>(right - left + 1);
}

void bal_get_mask(const uint8_t* src, uint16_t rows, uint16_t cols, uint32_t value, uint8_t* dst) {
    const uint8_t background = static_cast<uint8_t>(value);
    const size_t n = size_t{rows} * cols;
    for (size_t i = 0; i < n; ++i) dst[i] = src[i] != background ? 1 : 0;
}
