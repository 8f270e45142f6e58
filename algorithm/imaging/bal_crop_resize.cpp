#include "imaging/bal_crop_resize.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_blur.h"
#include "imaging/bal_status.h"
#include "math/lib_memory.h"

namespace {

inline int64_t max64(int64_t a, int64_t b) { return a > b ? a : b; }
inline int64_t min64(int64_t a, int64_t b) { return a < b ? a : b; }

inline size_t area(uint32_t rows, uint32_t cols) { return static_cast<size_t>(rows) * cols; }

// Whether a rows x cols source placed at (row_offset, col_offset) lies inside
// a dst_rows x dst_cols frame.
inline bool fits(uint32_t rows, uint32_t cols, uint32_t dst_rows, uint32_t dst_cols,
                 uint32_t row_offset, uint32_t col_offset) {
    return uint64_t{rows} + row_offset <= dst_rows && uint64_t{cols} + col_offset <= dst_cols;
}

void place(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t dst_cols,
           uint32_t row_offset, uint32_t col_offset, uint8_t* dst) {
    for (uint32_t r = 0; r < rows; ++r) {
        std::memcpy(dst + area(r + row_offset, dst_cols) + col_offset, src + area(r, cols), cols);
    }
}

// ---------------------------------------------------------------------------
// Smooth extension

// One side of the ring from the line of n pixels just inside it: two-pixel
// means at the ends, three-pixel means (floor) between.
void fill_ring_side(const uint8_t* in, ptrdiff_t in_step, uint32_t n, uint8_t* out,
                    ptrdiff_t out_step) {
    if (n == 1) {
        out[0] = in[0];
        return;
    }
    out[0] = static_cast<uint8_t>((in[0] + in[in_step]) >> 1);
    for (uint32_t k = 1; k + 1 < n; ++k) {
        const uint32_t sum = static_cast<uint32_t>(in[(k - 1) * in_step]) + in[k * in_step] +
                             in[(k + 1) * in_step];
        out[k * out_step] = static_cast<uint8_t>(sum / 3);
    }
    out[(n - 1) * out_step] =
        static_cast<uint8_t>((in[(n - 2) * in_step] + in[(n - 1) * in_step]) >> 1);
}

// Grows the filled rectangle ring by ring until it covers the frame. Each
// ring is computed from the rectangle alone.
void extend_rings(uint8_t* dst, uint32_t dst_rows, uint32_t dst_cols, uint32_t top, uint32_t left,
                  uint32_t height, uint32_t width) {
    const ptrdiff_t stride = dst_cols;
    while (height < dst_rows || width < dst_cols) {
        const bool above = top > 0;
        const bool below = top + height < dst_rows;
        const bool on_left = left > 0;
        const bool on_right = left + width < dst_cols;
        uint8_t* first = dst + area(top, dst_cols) + left;
        uint8_t* last_row = first + static_cast<ptrdiff_t>(height - 1) * stride;
        if (above) {
            uint8_t* ring = first - stride;
            fill_ring_side(first, 1, width, ring, 1);
            if (on_left) {
                ring[-1] = first[0];
            }
            if (on_right) {
                ring[width] = first[width - 1];
            }
        }
        if (on_left) {
            fill_ring_side(first, stride, height, first - 1, stride);
        }
        if (on_right) {
            fill_ring_side(first + width - 1, stride, height, first + width, stride);
        }
        if (below) {
            uint8_t* ring = last_row + stride;
            fill_ring_side(last_row, 1, width, ring, 1);
            if (on_left) {
                ring[-1] = last_row[0];
            }
            if (on_right) {
                ring[width] = last_row[width - 1];
            }
        }
        height += static_cast<uint32_t>(above) + static_cast<uint32_t>(below);
        width += static_cast<uint32_t>(on_left) + static_cast<uint32_t>(on_right);
        top -= static_cast<uint32_t>(above);
        left -= static_cast<uint32_t>(on_left);
    }
}

// ---------------------------------------------------------------------------
// Background extension

// Every group of 8 elements (and a last short group) takes its maximum.
void coarsen_to_group_maxima(uint8_t* profile, uint32_t n) {
    if (n == 0) {
        return;
    }
    uint32_t start = 0;
    uint8_t m = profile[0];
    for (uint32_t i = 1; i < n; ++i) {
        m = profile[i] > m ? profile[i] : m;
        if ((i + 1) % 8 == 0) {
            std::memset(profile + start, m, i + 1 - start);
            start = i + 1;
            m = 0;
        }
    }
    if (start < n) {
        std::memset(profile + start, m, n - start);
    }
}

void fill_block(uint8_t* dst, uint32_t dst_cols, uint32_t row_begin, uint32_t row_end,
                uint32_t col_begin, uint32_t col_end, uint8_t value) {
    for (uint32_t r = row_begin; r < row_end; ++r) {
        std::memset(dst + area(r, dst_cols) + col_begin, value, col_end - col_begin);
    }
}

// The background extension with its status: 9 when the profiles cannot be
// allocated, or the blur's status when a smoothing pass fails.
bal_status expand_with_background(const uint8_t* src, uint32_t rows, uint32_t cols,
                                  uint32_t dst_rows, uint32_t dst_cols, uint32_t row_offset,
                                  uint32_t col_offset, uint8_t* dst) {
    if (rows == 0 || cols == 0 || !fits(rows, cols, dst_rows, dst_cols, row_offset, col_offset)) {
        return BAL_OK;
    }
    auto* top = static_cast<uint8_t*>(std::calloc(cols, 1));
    auto* bottom = static_cast<uint8_t*>(std::calloc(cols, 1));
    auto* left = static_cast<uint8_t*>(std::calloc(rows, 1));
    auto* right = static_cast<uint8_t*>(std::calloc(rows, 1));
    if (lib_memory_check(top, bottom, left, right, nullptr, nullptr, nullptr, 4) != lib_memory_result::all_present) {
        return BAL_NO_MEMORY;
    }
    std::memset(dst, 0, area(dst_rows, dst_cols));
    place(src, rows, cols, dst_cols, row_offset, col_offset, dst);

    // Maxima of the 8-pixel edge bands; the first band of a side wins where
    // two bands overlap.
    for (uint32_t r = 0; r < rows; ++r) {
        const uint8_t* row = src + area(r, cols);
        uint8_t* band = r < 8 ? top : (r + 8 >= rows ? bottom : nullptr);
        for (uint32_t c = 0; c < cols; ++c) {
            const uint8_t v = row[c];
            if (band != nullptr && v > band[c]) {
                band[c] = v;
            }
            if (c < 8) {
                left[r] = v > left[r] ? v : left[r];
            } else if (c + 8 >= cols) {
                right[r] = v > right[r] ? v : right[r];
            }
        }
    }
    coarsen_to_group_maxima(top, cols);
    coarsen_to_group_maxima(bottom, cols);
    coarsen_to_group_maxima(left, rows);
    coarsen_to_group_maxima(right, rows);

    const uint32_t src_end_r = row_offset + rows;
    const uint32_t src_end_c = col_offset + cols;
    for (uint32_t r = 0; r < row_offset; ++r) {
        std::memcpy(dst + area(r, dst_cols) + col_offset, top, cols);
    }
    for (uint32_t r = src_end_r; r < dst_rows; ++r) {
        std::memcpy(dst + area(r, dst_cols) + col_offset, bottom, cols);
    }
    for (uint32_t r = 0; r < rows; ++r) {
        uint8_t* row = dst + area(r + row_offset, dst_cols);
        std::memset(row, left[r], col_offset);
        std::memset(row + src_end_c, right[r], dst_cols - src_end_c);
    }
    if (col_offset > 0) {
        fill_block(dst, dst_cols, 0, row_offset, 0, col_offset,
                   static_cast<uint8_t>((top[0] + left[0]) >> 1));
        fill_block(dst, dst_cols, src_end_r, dst_rows, 0, col_offset,
                   static_cast<uint8_t>((left[rows - 1] + bottom[0]) >> 1));
    }
    if (src_end_c < dst_cols) {
        fill_block(dst, dst_cols, 0, row_offset, src_end_c, dst_cols,
                   static_cast<uint8_t>((top[cols - 1] + right[0]) >> 1));
        fill_block(dst, dst_cols, src_end_r, dst_rows, src_end_c, dst_cols,
                   static_cast<uint8_t>((bottom[cols - 1] + right[rows - 1]) >> 1));
    }

    bal_status status = BAL_OK;
    for (int pass = 0; pass < 2 && status == BAL_OK; ++pass) {
        status = bal_blur_weighted_uint8(dst, dst_rows, dst_cols, dst);
    }
    if (status == BAL_OK && rows > 4 && cols > 4) {
        for (uint32_t r = 2; r + 2 < rows; ++r) {
            std::memcpy(dst + area(r + row_offset, dst_cols) + col_offset + 2,
                        src + area(r, cols) + 2, cols - 4);
        }
    }
    std::free(top);
    std::free(bottom);
    std::free(left);
    std::free(right);
    return status;
}

// Places the input at (row_offset, col_offset) of the result and extends it
// in the given mode (0 smooth, 1 background).
bal_status expand_in_mode(uint32_t mode, const uint8_t* in, uint32_t rows, uint32_t cols,
                          uint32_t dst_rows, uint32_t dst_cols, uint32_t row_offset,
                          uint32_t col_offset, uint8_t* dst) {
    if (mode == BAL_EXPAND_BACKGROUND) {
        return expand_with_background(in, rows, cols, dst_rows, dst_cols, row_offset, col_offset,
                                      dst);
    }
    bal_expand_image(in, rows, cols, dst_rows, dst_cols, row_offset, col_offset, dst);
    return BAL_OK;
}

inline bool known_mode(uint32_t mode) {
    return mode == BAL_EXPAND_SMOOTH || mode == BAL_EXPAND_BACKGROUND;
}

inline bool below_three_blocks(uint32_t rows, uint32_t cols, uint32_t block) {
    return block == 0 || rows < uint64_t{3} * block || cols < uint64_t{3} * block;
}

// How one side is brought to whole blocks.
struct side_plan {
    uint32_t size;   // the new size
    int32_t offset;  // window offset
    bool cropped;
    bool expanded;
};

side_plan plan_expansion(uint32_t size, uint32_t block) {
    const uint32_t m = size % block;
    if (m == 0) {
        return side_plan{size, 0, false, false};
    }
    const uint32_t pad = block - m;
    return side_plan{size + pad, -static_cast<int32_t>(pad / 2), false, true};
}

side_plan plan_resize(uint32_t size, uint32_t block) {
    const uint32_t m = size % block;
    if (m == 0 || m > (block >> 2)) {
        return plan_expansion(size, block);
    }
    return side_plan{size - m, static_cast<int32_t>(m >> 1), true, false};
}

void discard(uint8_t** out_image) {
    std::free(*out_image);
    *out_image = nullptr;
}

}  // namespace

void bal_crop_image(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t dst_rows,
                    uint32_t dst_cols, int32_t row_offset, int32_t col_offset, uint8_t* dst) {
    const int64_t row_begin = max64(row_offset, 0);
    const int64_t row_end = min64(int64_t{row_offset} + dst_rows, rows);
    const int64_t col_begin = max64(col_offset, 0);
    const int64_t col_end = min64(int64_t{col_offset} + dst_cols, cols);
    const int64_t h = row_end - row_begin;
    const int64_t w = col_end - col_begin;
    if (h <= 0 || w <= 0) {
        return;
    }
    const uint8_t* in = src + static_cast<size_t>(row_begin) * cols + col_begin;
    uint8_t* out = dst + static_cast<size_t>(max64(-int64_t{row_offset}, 0)) * dst_cols +
                   max64(-int64_t{col_offset}, 0);
    for (int64_t r = 0; r < h; ++r) {
        std::memcpy(out, in, static_cast<size_t>(w));
        in += cols;
        out += dst_cols;
    }
}

void bal_crop_image_center(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t dst_rows,
                           uint32_t dst_cols, uint8_t* dst) {
    const int32_t row_offset = (static_cast<int32_t>(rows) - static_cast<int32_t>(dst_rows)) / 2;
    const int32_t col_offset = (static_cast<int32_t>(cols) - static_cast<int32_t>(dst_cols)) / 2;
    bal_crop_image(src, rows, cols, dst_rows, dst_cols, row_offset, col_offset, dst);
}

bal_status bal_crop_block_size(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t block,
                               uint8_t** out_image, uint32_t* out_rows, uint32_t* out_cols,
                               uint32_t* out_row_offset, uint32_t* out_col_offset) {
    if (block == 0 || rows < block || cols < block) {
        return BAL_BAD_ARGUMENT;
    }
    const uint32_t r = rows % block;
    const uint32_t c = cols % block;
    *out_rows = rows - r;
    *out_cols = cols - c;
    *out_row_offset = r >> 1;
    *out_col_offset = c >> 1;
    auto* image = static_cast<uint8_t*>(std::malloc(area(*out_rows, *out_cols)));
    *out_image = image;
    if (lib_memory_check(image, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1) != lib_memory_result::all_present) {
        return BAL_NO_MEMORY;
    }
    if (r == 0 && c == 0) {
        std::memcpy(image, src, area(rows, cols));
    } else {
        bal_crop_image(src, rows, cols, *out_rows, *out_cols, static_cast<int32_t>(r >> 1),
                       static_cast<int32_t>(c >> 1), image);
    }
    return BAL_OK;
}

bal_status bal_increase_image_size(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst,
                                   uint32_t dst_rows, uint32_t dst_cols, uint32_t row_offset,
                                   uint32_t col_offset, uint8_t fill) {
    if (!fits(rows, cols, dst_rows, dst_cols, row_offset, col_offset)) {
        return BAL_BAD_ARGUMENT;
    }
    std::memset(dst, fill, area(dst_rows, dst_cols));
    place(src, rows, cols, dst_cols, row_offset, col_offset, dst);
    return BAL_OK;
}

void bal_expand_image(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t dst_rows,
                      uint32_t dst_cols, uint32_t row_offset, uint32_t col_offset, uint8_t* dst) {
    if (rows == 0 || cols == 0 || !fits(rows, cols, dst_rows, dst_cols, row_offset, col_offset)) {
        return;
    }
    std::memset(dst, 0, area(dst_rows, dst_cols));
    place(src, rows, cols, dst_cols, row_offset, col_offset, dst);
    if (dst_rows <= rows && dst_cols <= cols) {
        return;
    }
    extend_rings(dst, dst_rows, dst_cols, row_offset, col_offset, rows, cols);
}

void bal_expand_image_w_background(const uint8_t* src, uint32_t rows, uint32_t cols,
                                   uint32_t dst_rows, uint32_t dst_cols, uint32_t row_offset,
                                   uint32_t col_offset, uint8_t* dst) {
    expand_with_background(src, rows, cols, dst_rows, dst_cols, row_offset, col_offset, dst);
}

bal_status bal_expand_block_size(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t block,
                                 uint32_t mode, uint8_t** out_image, uint32_t* out_rows,
                                 uint32_t* out_cols, int32_t* out_row_offset,
                                 int32_t* out_col_offset) {
    if (below_three_blocks(rows, cols, block) || !known_mode(mode)) {
        return BAL_BAD_ARGUMENT;
    }
    const side_plan vertical = plan_expansion(rows, block);
    const side_plan horizontal = plan_expansion(cols, block);
    *out_rows = vertical.size;
    *out_cols = horizontal.size;
    *out_row_offset = vertical.offset;
    *out_col_offset = horizontal.offset;
    auto* image = static_cast<uint8_t*>(std::malloc(area(vertical.size, horizontal.size)));
    *out_image = image;
    if (lib_memory_check(image, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1) != lib_memory_result::all_present) {
        return BAL_NO_MEMORY;
    }
    if (!vertical.expanded && !horizontal.expanded) {
        std::memcpy(image, src, area(rows, cols));
        return BAL_OK;
    }
    const bal_status status =
        expand_in_mode(mode, src, rows, cols, vertical.size, horizontal.size,
                       static_cast<uint32_t>(-vertical.offset),
                       static_cast<uint32_t>(-horizontal.offset), image);
    if (status != BAL_OK) {
        discard(out_image);
    }
    return status;
}

bal_status bal_resize_block_size(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t block,
                                 uint32_t mode, uint8_t** out_image, uint32_t* out_rows,
                                 uint32_t* out_cols, int32_t* out_row_offset,
                                 int32_t* out_col_offset) {
    if (below_three_blocks(rows, cols, block)) {
        return BAL_BAD_ARGUMENT;
    }
    if (!known_mode(mode)) {
        *out_image = nullptr;
        return BAL_BAD_ARGUMENT;
    }
    const side_plan vertical = plan_resize(rows, block);
    const side_plan horizontal = plan_resize(cols, block);
    *out_rows = vertical.size;
    *out_cols = horizontal.size;
    *out_row_offset = vertical.offset;
    *out_col_offset = horizontal.offset;
    auto* image = static_cast<uint8_t*>(std::malloc(area(vertical.size, horizontal.size)));
    *out_image = image;
    if (image == nullptr) {
        return BAL_NO_MEMORY;
    }
    if (vertical.size == rows && horizontal.size == cols) {
        std::memcpy(image, src, area(rows, cols));
        return BAL_OK;
    }
    if (!vertical.expanded && !horizontal.expanded) {
        bal_crop_image(src, rows, cols, vertical.size, horizontal.size, vertical.offset,
                       horizontal.offset, image);
        return BAL_OK;
    }
    // One side expands. A side to be cropped is cropped first, on its own.
    const uint8_t* in = src;
    uint32_t in_rows = rows;
    uint32_t in_cols = cols;
    uint8_t* cropped = nullptr;
    if (vertical.cropped || horizontal.cropped) {
        in_rows = vertical.cropped ? vertical.size : rows;
        in_cols = horizontal.cropped ? horizontal.size : cols;
        cropped = static_cast<uint8_t*>(std::malloc(area(in_rows, in_cols)));
        if (cropped == nullptr) {
            discard(out_image);
            return BAL_NO_MEMORY;
        }
        bal_crop_image(src, rows, cols, in_rows, in_cols, vertical.cropped ? vertical.offset : 0,
                       horizontal.cropped ? horizontal.offset : 0, cropped);
        in = cropped;
    }
    const bal_status status = expand_in_mode(
        mode, in, in_rows, in_cols, vertical.size, horizontal.size,
        static_cast<uint32_t>(max64(-int64_t{vertical.offset}, 0)),
        static_cast<uint32_t>(max64(-int64_t{horizontal.offset}, 0)), image);
    std::free(cropped);
    if (status != BAL_OK) {
        discard(out_image);
    }
    return status;
}

bal_status bal_resize_to_500(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t dpi,
                             uint8_t** out_image, uint32_t* out_rows, uint32_t* out_cols) {
    // dpi << 9 must not wrap, and the step must be at least 1/512 pixel.
    if (dpi >= (1u << 23)) {
        return BAL_BAD_ARGUMENT;
    }
    const uint32_t step = (dpi << 9) / 500;
    if (step == 0) {
        return BAL_BAD_ARGUMENT;
    }
    // The largest count whose last sample still has a row (column) after it.
    auto samples = [step](uint32_t size) {
        uint64_t n = (uint64_t{size} << 9) / step;
        while (n > 0 && (((n - 1) * step) >> 9) >= uint64_t{size} - 1) {
            --n;
        }
        return static_cast<uint32_t>(n);
    };
    const uint32_t height = samples(rows);
    const uint32_t width = samples(cols);
    *out_rows = height;
    *out_cols = width;
    const size_t bytes = area(height, width);
    auto* image = static_cast<uint8_t*>(std::malloc(bytes > 0 ? bytes : 1));
    *out_image = image;
    if (image == nullptr) {
        return BAL_NO_MEMORY;
    }
    for (uint32_t i = 0; i < height; ++i) {
        const uint64_t y = uint64_t{i} * step;
        const uint8_t* row0 = src + static_cast<size_t>(y >> 9) * cols;
        const uint8_t* row1 = row0 + cols;
        const int32_t fy = static_cast<int32_t>((y >> 1) & 0xFF);
        uint8_t* out = image + area(i, width);
        for (uint32_t j = 0; j < width; ++j) {
            const uint64_t x = uint64_t{j} * step;
            const size_t sx = static_cast<size_t>(x >> 9);
            const int32_t fx = static_cast<int32_t>((x >> 1) & 0xFF);
            const int32_t a = row0[sx], b = row0[sx + 1];
            const int32_t c = row1[sx], d = row1[sx + 1];
            const int32_t top = a + (((b - a) * fx) >> 8);
            const int32_t bottom = c + (((d - c) * fx) >> 8);
            out[j] = static_cast<uint8_t>(top + (((bottom - top) * fy) >> 8));
        }
    }
    return BAL_OK;
}

void bal_replace_edge_uint8(uint8_t* src, uint32_t rows, uint32_t cols, uint32_t width,
                            uint8_t* dst) {
    if (width >= (rows >> 1) || width >= (cols >> 1)) {
        return;
    }
    if (dst != src) {
        std::memcpy(dst, src, area(rows, cols));
    }
    auto at = [dst, cols](uint32_t r, uint32_t c) -> uint8_t& { return dst[area(r, cols) + c]; };
    for (uint32_t k = width; k >= 1; --k) {
        // The valid interior: rows k .. rows-k-1, columns k .. cols-k-1.
        const uint32_t first_r = k, last_r = rows - k - 1;
        const uint32_t first_c = k, last_c = cols - k - 1;
        for (uint32_t j = k - 1; j <= cols - k; ++j) {
            uint32_t top = 0, bottom = 0, n = 0;
            for (uint32_t jj = (j > first_c ? j - 1 : first_c); jj <= j + 1 && jj <= last_c; ++jj) {
                top += at(first_r, jj);
                bottom += at(last_r, jj);
                ++n;
            }
            at(k - 1, j) = static_cast<uint8_t>(top / n);
            at(rows - k, j) = static_cast<uint8_t>(bottom / n);
        }
        for (uint32_t i = k - 1; i <= rows - k; ++i) {
            uint32_t left = 0, right = 0, n = 0;
            for (uint32_t ii = (i > first_r ? i - 1 : first_r); ii <= i + 1 && ii <= last_r; ++ii) {
                left += at(ii, first_c);
                right += at(ii, last_c);
                ++n;
            }
            at(i, k - 1) = static_cast<uint8_t>(left / n);
            at(i, cols - k) = static_cast<uint8_t>(right / n);
        }
    }
}

uint32_t bal_image_pad_bytes(uint32_t rows, uint32_t cols, uint32_t block, uint32_t scale) {
    if (block == 0 || scale == 0) {
        return 0;
    }
    const uint32_t margin = 8 / scale;
    const uint64_t grown_rows = uint64_t{(rows + margin) / block} * block;
    const uint64_t grown_cols = uint64_t{(cols + margin) / block} * block;
    const uint64_t grown = grown_rows * grown_cols;
    const uint64_t size = uint64_t{rows} * cols;
    return grown > size ? static_cast<uint32_t>(grown - size) : 0;
}

void bal_images_1D_to_2D(uint8_t* pixels, uint32_t rows, uint32_t cols, uint8_t** row_ptrs) {
    for (uint32_t r = 0; r < rows; ++r) {
        row_ptrs[r] = pixels + area(r, cols);
    }
}
