// Window-count segmentation with column counters slid down the image and a
// running sum slid along each row: every pixel costs O(1) for any radius.
#include "imaging/bal_window_segment.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_statistics.h"
#include "imaging/bal_status.h"
#include "math/lib_memory.h"

namespace {

// The rule with caller-provided counters (cols entries).
void window_count_rule(const uint16_t* plane, uint32_t rows, uint32_t cols, uint32_t radius, int32_t threshold,
                       uint32_t percent, uint8_t* mask, uint32_t* low_in_column) {
    const int64_t q = (100 - static_cast<int64_t>(percent)) * 255 / 100;
    std::memset(mask, 0, size_t{rows} * cols);
    std::memset(low_in_column, 0, size_t{cols} * sizeof(uint32_t));
    auto add_row = [&](uint32_t y, int32_t sign) {
        const uint16_t* row = plane + size_t{y} * cols;
        for (uint32_t x = 0; x < cols; ++x)
            if (static_cast<int32_t>(row[x]) < threshold) low_in_column[x] += static_cast<uint32_t>(sign);
    };
    const uint64_t r = radius;
    // Rows 0 .. radius - 1 enter before the first output row.
    for (uint64_t y = 0; y < std::min<uint64_t>(r, rows); ++y) add_row(static_cast<uint32_t>(y), 1);
    for (uint32_t y = 0; y < rows; ++y) {
        if (y + r < rows) add_row(static_cast<uint32_t>(y + r), 1);
        if (y > r) add_row(static_cast<uint32_t>(y - r - 1), -1);
        const uint64_t top = y > r ? y - r : 0;
        const uint64_t bottom = std::min<uint64_t>(y + r, rows - 1);
        const uint64_t window_rows = bottom - top + 1;
        // Running sum over columns x - r .. x + r.
        uint64_t low = 0;
        for (uint64_t x = 0; x < std::min<uint64_t>(r, cols); ++x) low += low_in_column[x];
        uint8_t* out = mask + size_t{y} * cols;
        for (uint32_t x = 0; x < cols; ++x) {
            if (x + r < cols) low += low_in_column[x + r];
            if (x > r) low -= low_in_column[x - r - 1];
            const uint64_t left = x > r ? x - r : 0;
            const uint64_t right = std::min<uint64_t>(x + r, cols - 1);
            const int64_t n = static_cast<int64_t>(window_rows * (right - left + 1));
            out[x] = 255 * static_cast<int64_t>(low) > q * n ? 0 : 255;
        }
    }
}

}  // namespace

bal_status bal_segment_hull(const uint16_t* plane, int32_t rows, uint32_t cols, uint32_t radius, int32_t threshold,
                            uint32_t percent, uint8_t* mask) {
    if (rows <= 0 || cols == 0) return BAL_OK;
    auto* counters = static_cast<uint32_t*>(std::malloc(size_t{cols} * sizeof(uint32_t)));
    if (!counters) {
        std::memset(mask, 0, size_t(rows) * cols);
        return BAL_NO_MEMORY;
    }
    window_count_rule(plane, static_cast<uint32_t>(rows), cols, radius, threshold, percent, mask, counters);
    std::free(counters);
    return BAL_OK;
}

bal_status bal_segment_image_variance(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* mask) {
    const size_t n = size_t{rows} * cols;
    std::memset(mask, 255, n);
    if (n == 0) return BAL_OK;
    auto* variance = static_cast<uint16_t*>(std::malloc(n * sizeof(uint16_t)));
    auto* counters = static_cast<uint32_t*>(std::malloc(size_t{cols} * sizeof(uint32_t)));
    if (lib_memory_check(variance, counters, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    const bal_status status = bal_var_local_uint8(src, rows, cols, 4, variance);
    if (status == BAL_OK) window_count_rule(variance, rows, cols, 8, 5, 98, mask, counters);
    std::free(variance);
    std::free(counters);
    return status;
}
