#include "imaging/bal_morphology.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_blur.h"
#include "imaging/bal_status.h"
#include "math/lib_memory.h"

namespace {

// Combines the up to three values of a window column with `pick`
// (max, min or a flag test) and slides the three-column window along the row.
template <class Column, class Combine, class Output>
void slide_row(uint32_t cols, Column column, Combine combine, Output output) {
    if (cols == 1) {
        output(0, column(0));
        return;
    }
    auto left = column(0), centre = column(1);
    output(0, combine(left, centre));
    for (uint32_t x = 1; x + 1 < cols; ++x) {
        const auto right = column(x + 1);
        output(x, combine(combine(left, centre), right));
        left = centre;
        centre = right;
    }
    output(cols - 1, combine(left, centre));
}

// Column value over the present rows of the window.
template <class Combine>
auto window_column(const uint8_t* up, const uint8_t* mid, const uint8_t* down, Combine combine) {
    return [=](uint32_t x) {
        uint8_t v = mid[x];
        if (up) v = combine(v, up[x]);
        if (down) v = combine(v, down[x]);
        return v;
    };
}

const auto kMax = [](uint8_t a, uint8_t b) { return std::max(a, b); };
const auto kMin = [](uint8_t a, uint8_t b) { return std::min(a, b); };

template <class Combine>
bal_status square_filter(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst, Combine combine) {
    return bal_for_each_row_buffered(src, rows, cols, dst, [&](const uint8_t* up, const uint8_t* mid,
                                                               const uint8_t* down, uint8_t* out) {
        slide_row(cols, window_column(up, mid, down, combine), combine, [out](uint32_t x, uint8_t v) { out[x] = v; });
    });
}

template <class Combine>
bal_status cross_filter(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst, Combine combine) {
    return bal_for_each_row_buffered(src, rows, cols, dst, [&](const uint8_t* up, const uint8_t* mid,
                                                               const uint8_t* down, uint8_t* out) {
        for (uint32_t x = 0; x < cols; ++x) {
            uint8_t v = mid[x];
            if (up) v = combine(v, up[x]);
            if (down) v = combine(v, down[x]);
            if (x > 0) v = combine(v, mid[x - 1]);
            if (x + 1 < cols) v = combine(v, mid[x + 1]);
            out[x] = v;
        }
    });
}

// Binary dilation (Grow) or erosion: the window flag tells whether any pixel
// is non-zero (dilation) or zero (erosion).
template <bool Grow>
bal_status binary_filter(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    auto flag = [](uint8_t v) -> uint8_t { return Grow ? v != 0 : v == 0; };
    auto any = [](uint8_t a, uint8_t b) -> uint8_t { return a | b; };
    return bal_for_each_row_buffered(src, rows, cols, dst, [&](const uint8_t* up, const uint8_t* mid,
                                                               const uint8_t* down, uint8_t* out) {
        auto column = [&](uint32_t x) -> uint8_t {
            uint8_t f = flag(mid[x]);
            if (up) f |= flag(up[x]);
            if (down) f |= flag(down[x]);
            return f;
        };
        slide_row(cols, column, any, [&](uint32_t x, uint8_t hit) {
            if (Grow)
                out[x] = mid[x] == 0 && hit ? 1 : mid[x];
            else
                out[x] = mid[x] != 0 && hit ? 0 : mid[x];
        });
    });
}

template <class First, class Second>
bal_status compose(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst, First first, Second second) {
    const bal_status status = first(src, rows, cols, dst);
    if (status != BAL_OK) return status;
    return second(dst, rows, cols, dst);
}

}  // namespace

bal_status bal_dilate(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return binary_filter<true>(src, rows, cols, dst);
}
bal_status bal_erode(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return binary_filter<false>(src, rows, cols, dst);
}
bal_status bal_dilate_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return square_filter(src, rows, cols, dst, kMax);
}
bal_status bal_erode_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return square_filter(src, rows, cols, dst, kMin);
}
bal_status bal_dilate_small_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return cross_filter(src, rows, cols, dst, kMax);
}
bal_status bal_erode_small_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return cross_filter(src, rows, cols, dst, kMin);
}
bal_status bal_open(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return compose(src, rows, cols, dst, bal_erode, bal_dilate);
}
bal_status bal_close(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return compose(src, rows, cols, dst, bal_dilate, bal_erode);
}
bal_status bal_open_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return compose(src, rows, cols, dst, bal_erode_uint8, bal_dilate_uint8);
}
bal_status bal_close_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return compose(src, rows, cols, dst, bal_dilate_uint8, bal_erode_uint8);
}

bal_status bal_despeckle_dark_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t threshold,
                                    uint8_t* dst) {
    if (rows == 0 || cols == 0) return BAL_OK;
    const size_t n = size_t(rows) * cols;
    uint8_t* depth = static_cast<uint8_t*>(std::calloc(n, 1));
    if (lib_memory_check(depth, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    if (dst != src) std::memcpy(dst, src, n);

    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            const size_t i = size_t(y) * cols + x;
            const int32_t p = src[i];
            auto rise = [&](bool inside, size_t j) { return inside ? int32_t(src[j]) - p : 255; };
            const int32_t up = rise(y > 0, i - cols), down = rise(y + 1 < rows, i + cols);
            const int32_t left = rise(x > 0, i - 1), right = rise(x + 1 < cols, i + 1);
            int32_t d = 0;
            if (up > 0 && down > 0) d = std::min(up, down);
            if (left > 0 && right > 0) d = std::min(d, std::min(left, right));
            depth[i] = uint8_t(d);
        }

    // Replaced pixels are deeper than the threshold, read ones are not, so the
    // source values read here are never overwritten, even with dst == src.
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            const size_t i = size_t(y) * cols + x;
            if (depth[i] <= threshold) continue;
            uint32_t sum = 0, count = 0;
            auto take = [&](bool inside, size_t j) {
                if (inside && depth[j] <= threshold) {
                    sum += src[j];
                    ++count;
                }
            };
            take(y > 0, i - cols);
            take(y + 1 < rows, i + cols);
            take(x > 0, i - 1);
            take(x + 1 < cols, i + 1);
            if (count) dst[i] = uint8_t(sum / count);
        }
    std::free(depth);
    return BAL_OK;
}
