// Box blur family: 3x3 mean, 3x3 binomial, per-pixel weighted mean, masked
// mean at the fingerprint edge, frame-only blur, selective (sigma) mean and
// vertical 1-2-1 blur, on raw row-major pixel buffers.
//
// Divisions round down for unsigned pixel types and truncate toward zero for
// signed ones; results are stored without clamping. Unless noted, the output
// may be the input buffer. Members with a status return 0, or 9 when a
// scratch buffer cannot be had (dst then untouched).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "imaging/bal_status.h"
#include "math/lib_memory.h"

// 3x3 mean over the neighbours inside the image (4 at corners, 6 on edges, 9 inside).
[[nodiscard]] bal_status bal_blur_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);
[[nodiscard]] bal_status bal_blur_int8(const int8_t* src, uint32_t rows, uint32_t cols, int8_t* dst);
[[nodiscard]] bal_status bal_blur_uint16(const uint16_t* src, uint32_t rows, uint32_t cols, uint16_t* dst);
[[nodiscard]] bal_status bal_blur_int16(const int16_t* src, uint32_t rows, uint32_t cols, int16_t* dst);
[[nodiscard]] bal_status bal_blur_int32(const int32_t* src, uint32_t rows, uint32_t cols, int32_t* dst);

// 1-2-1 x 1-2-1 kernel cut at the border, divided by the remaining weight
// (9 at corners, 12 on edges, 16 inside).
[[nodiscard]] bal_status bal_blur_weighted_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);
[[nodiscard]] bal_status bal_blur_weighted_int8(const int8_t* src, uint32_t rows, uint32_t cols, int8_t* dst);
[[nodiscard]] bal_status bal_blur_weighted_uint16(const uint16_t* src, uint32_t rows, uint32_t cols, uint16_t* dst);
[[nodiscard]] bal_status bal_blur_weighted_int16(const int16_t* src, uint32_t rows, uint32_t cols, int16_t* dst);
[[nodiscard]] bal_status bal_blur_weighted_int32(const int32_t* src, uint32_t rows, uint32_t cols, int32_t* dst);

// The binomial kernel with divisors that rebuild an image sampled only at even
// rows and columns: 4 everywhere, except on the last row / column where an
// even image size (odd last index) halves the divisor (1 at the last pixel of
// an image with both sizes even, the sum then stored in 8 bits).
[[nodiscard]] bal_status bal_blur_weighted_int8_upsample(const int8_t* src, uint32_t rows, uint32_t cols, int8_t* dst);

// First and last rows: box blur. Inner rows: sum(w*p) / sum(w) over the
// clipped 3x3 window, 0 where the weights sum to 0. The 8-bit members hold
// their three-pixel column sums of w*p in 16 bits (wrapping).
[[nodiscard]] bal_status bal_blur_with_weight_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, const uint8_t* weight,
                                                    uint8_t* dst);
[[nodiscard]] bal_status bal_blur_with_weight_int8(const int8_t* src, uint32_t rows, uint32_t cols, const uint8_t* weight,
                                                   int8_t* dst);
[[nodiscard]] bal_status bal_blur_with_weight_uint16(const uint16_t* src, uint32_t rows, uint32_t cols, const uint8_t* weight,
                                                     uint16_t* dst);
[[nodiscard]] bal_status bal_blur_with_weight_int16(const int16_t* src, uint32_t rows, uint32_t cols, const uint8_t* weight,
                                                    int16_t* dst);
[[nodiscard]] bal_status bal_blur_with_weight_int32(const int32_t* src, uint32_t rows, uint32_t cols, const uint8_t* weight,
                                                    int32_t* dst);
[[nodiscard]] bal_status bal_blur_with_weight_uint32(const uint32_t* src, uint32_t rows, uint32_t cols, const uint8_t* weight,
                                                     uint32_t* dst);

// Pixels inside the mask whose whole 3x3 window is in the image and in the
// mask keep their value; every other pixel becomes the mean of the window
// pixels that are inside the mask (unchanged when there are none). Note the
// argument order: the mask comes before rows and cols.
[[nodiscard]] bal_status bal_blur_fingerprint_edge_uint8(const uint8_t* src, const uint8_t* mask, uint32_t rows, uint32_t cols,
                                                         uint8_t* dst);
[[nodiscard]] bal_status bal_blur_fingerprint_edge_int8(const int8_t* src, const uint8_t* mask, uint32_t rows, uint32_t cols,
                                                        int8_t* dst);
[[nodiscard]] bal_status bal_blur_fingerprint_edge_uint16(const uint16_t* src, const uint8_t* mask, uint32_t rows, uint32_t cols,
                                                          uint16_t* dst);
[[nodiscard]] bal_status bal_blur_fingerprint_edge_int16(const int16_t* src, const uint8_t* mask, uint32_t rows, uint32_t cols,
                                                         int16_t* dst);

// 3x3 mean with missing neighbours counted as `fill`, always divided by 9,
// written only on the frame of width `margin` (pixels outside the frame are
// left as they are in dst). margin 0 writes nothing.
[[nodiscard]] bal_status bal_blur_edge_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t margin, uint8_t fill,
                                             uint8_t* dst);

// Sigma filter: the mean of the values v of the (2*radius+1)^2 window, with
// the image padded by 255, for which |v - centre| <= threshold. Writes nothing
// when the padded image cannot be sized or allocated.
void bal_blur_selective_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t radius, uint8_t threshold,
                              uint8_t* dst);

// Vertical 1-2-1 blur of the rows chosen by row_select (bit 0 the even rows,
// bit 1 the odd rows); the other rows are copied.
[[nodiscard]] bal_status bal_blur_vertically_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t row_select,
                                                   uint8_t* dst);

// Row-buffer scheme shared by the 3x3 filters: calls
// row_op(above, row, below, out_row) for every row from top to bottom, where
// `row` and `above` are copies of source rows y and y - 1 taken before output
// row y is written and `below` is source row y + 1, not yet overwritten;
// `above` is null on the first row and `below` on the last. Because of this
// dst may be src. Returns 0, or 9 when the two scratch rows cannot be had;
// an empty image does nothing.
template <class T, class RowOp>
[[nodiscard]] bal_status bal_for_each_row_buffered(const T* src, uint32_t rows, uint32_t cols, T* dst, RowOp&& row_op) {
    if (rows == 0 || cols == 0) return BAL_OK;
    const size_t row_bytes = sizeof(T) * cols;
    T* previous = static_cast<T*>(std::malloc(row_bytes));
    T* current = static_cast<T*>(std::malloc(row_bytes));
    if (lib_memory_check(previous, current, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    for (uint32_t y = 0; y < rows; ++y) {
        std::memcpy(current, src + static_cast<size_t>(y) * cols, row_bytes);
        const T* above = y > 0 ? previous : nullptr;
        const T* below = y + 1 < rows ? src + static_cast<size_t>(y + 1) * cols : nullptr;
        row_op(above, static_cast<const T*>(current), below, dst + static_cast<size_t>(y) * cols);
        std::swap(previous, current);
    }
    std::free(previous);
    std::free(current);
    return BAL_OK;
}
