#include "imaging/bal_normalize_local.h"

#include <cstdlib>

#include "imaging/bal_blur.h"
#include "imaging/bal_normalize.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_segment.h"
#include "imaging/bal_statistics.h"
#include "imaging/bal_status.h"
#include "math/lib_memory.h"

namespace {

constexpr uint8_t kRimFlag = 2;

// Gives blocks outside the mask the average statistics of the blocks inside;
// returns false when no block is inside.
bool fill_background(const uint8_t* mask, size_t n, uint8_t* means, uint16_t* var) {
    uint64_t sum_mean = 0, sum_var = 0, inside = 0;
    for (size_t b = 0; b < n; ++b) {
        if (mask[b] == 0) continue;
        sum_mean += means[b];
        sum_var += var[b];
        ++inside;
    }
    if (inside == 0) return false;
    const auto avg_mean = static_cast<uint8_t>(sum_mean / inside);
    const auto avg_var = static_cast<uint16_t>(sum_var / inside);
    for (size_t b = 0; b < n; ++b) {
        if (mask[b] != 0) continue;
        means[b] = avg_mean;
        var[b] = avg_var;
    }
    return true;
}

// Gives each rim block the average statistics of its unflagged neighbours
// away from the outer ring of the grid (255 when there is none).
void repair_rim(const uint8_t* mask, uint32_t block_rows, uint32_t block_cols, uint8_t* means,
                uint16_t* var) {
    for (uint32_t r = 0; r < block_rows; ++r) {
        for (uint32_t c = 0; c < block_cols; ++c) {
            const size_t b = static_cast<size_t>(r) * block_cols + c;
            if ((mask[b] & kRimFlag) == 0) continue;
            uint32_t sum_mean = 0, sum_var = 0, count = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    if (dy == 0 && dx == 0) continue;
                    const int64_t rr = static_cast<int64_t>(r) + dy;
                    const int64_t cc = static_cast<int64_t>(c) + dx;
                    if (rr < 1 || cc < 1 || rr > static_cast<int64_t>(block_rows) - 2 ||
                        cc > static_cast<int64_t>(block_cols) - 2)
                        continue;
                    const size_t nb = static_cast<size_t>(rr) * block_cols + cc;
                    if (mask[nb] & kRimFlag) continue;
                    sum_mean += means[nb];
                    sum_var += var[nb];
                    ++count;
                }
            }
            means[b] = count ? static_cast<uint8_t>(sum_mean / count) : uint8_t{255};
            var[b] = count ? static_cast<uint16_t>(sum_var / count) : uint16_t{255};
        }
    }
}

}  // namespace

bal_status bal_normalize_locally_edgefix(const uint8_t* src, uint32_t rows, uint32_t cols,
                                         uint8_t* block_mask, uint32_t block, uint32_t block_rows,
                                         uint32_t block_cols, uint8_t target_mean,
                                         uint32_t target_spread, uint8_t* dst) {
    if (!src || !dst || !block_mask || block == 0 || block_rows < 2 || block_cols < 2 ||
        uint64_t{block_rows} * block > rows || uint64_t{block_cols} * block > cols ||
        rows > INT32_MAX || cols > INT32_MAX)
        return BAL_BAD_ARGUMENT;
    const size_t nb = static_cast<size_t>(block_rows) * block_cols;
    auto* means = static_cast<uint8_t*>(std::malloc(nb));
    auto* local = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(rows) * cols));
    auto* var = static_cast<uint16_t*>(std::malloc(nb * sizeof(uint16_t)));
    if (lib_memory_check(means, local, var, nullptr, nullptr, nullptr, nullptr, 3) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    bal_mean_blockwise_uint8(src, rows, cols, block, block_rows, block_cols, means);
    bal_var_blockwise_uint8(src, rows, cols, means, block, block_rows, block_cols, var);
    if (fill_background(block_mask, nb, means, var)) {
        bal_segmentation_flag_edge(block_mask, block_rows, block_cols);
        repair_rim(block_mask, block_rows, block_cols, means, var);
    }
    bal_status status = bal_blur_weighted_uint16(var, block_rows, block_cols, var);
    if (status == BAL_OK) status = bal_blur_weighted_uint8(means, block_rows, block_cols, means);
    if (status == BAL_OK) {
        bal_scale_up_bilinear_uint8(means, block_rows, block_cols, static_cast<int32_t>(block),
                                    local, static_cast<int32_t>(rows), static_cast<int32_t>(cols));
        bnl_normalize(src, rows, cols, block_mask, block, block_rows, block_cols, target_mean,
                      target_spread, local, var, dst);
    }
    std::free(means);
    std::free(local);
    std::free(var);
    return status;
}
