#include "liveness/nex_maskgen.h"

#include <cstddef>
#include <cstring>

#include "liveness/nex_features.h"
#include "liveness/nex_filters.h"
#include "liveness/nex_maps.h"
#include "liveness/nex_network.h"

namespace {

constexpr int32_t kResolutionStep = 500;
constexpr int32_t kResolutionRounding = 400;
constexpr uint8_t kMinForegroundCoherence = 30;
constexpr int32_t kLabelLimit = 100;  // labels 1..99; index 0 is never a label
constexpr uint8_t kBrightFrom = 128;

size_t at(int32_t r, int32_t c, int32_t cols) { return static_cast<size_t>(r) * static_cast<size_t>(cols) + c; }

int32_t blocks_for(int32_t pixels) { return (pixels + kNexBlockSize - 1) / kNexBlockSize; }

// Blocks with an orientation and a coherence of 30 or more are foreground.
void mark_foreground(uint8_t* region, const uint8_t* orientation, const uint8_t* coherence, int32_t blocks) {
    for (int32_t i = 0; i < blocks; ++i)
        region[i] = orientation[i] != 0 && coherence[i] >= kMinForegroundCoherence ? 1 : 0;
}

// One labelling pass in row-major order: a block joins the label of its left
// or upper neighbour (the smaller when both, their sets joined), otherwise
// opens a new label while fewer than 99 exist (else it becomes background).
void label_blocks(uint8_t* region, int32_t block_rows, int32_t block_cols, uint8_t* parent, uint8_t* rank) {
    int32_t next = 1;
    for (int32_t bi = 0; bi < block_rows; ++bi)
        for (int32_t bj = 0; bj < block_cols; ++bj) {
            uint8_t& block = region[at(bi, bj, block_cols)];
            if (block == 0) continue;
            const uint8_t left = bj > 0 ? region[at(bi, bj - 1, block_cols)] : 0;
            const uint8_t up = bi > 0 ? region[at(bi - 1, bj, block_cols)] : 0;
            if (left != 0 && up != 0) {
                const uint8_t pair[2] = {left, up};
                block = min_array_uchar(pair, 2);
                if (left != up) Union(left, up, parent, rank);
            } else if (left != 0 || up != 0) {
                block = left != 0 ? left : up;
            } else if (next == kLabelLimit) {
                block = 0;
            } else {
                block = static_cast<uint8_t>(next);
                parent[next] = static_cast<uint8_t>(next);
                rank[next] = 0;
                ++next;
            }
        }
}

// The label with the most blocks, the lowest on a tie; 0 when there is none.
uint8_t largest_label(const uint8_t* region, int32_t blocks) {
    const uint8_t highest = max_array_uchar(region, blocks);
    if (highest == 0) return 0;
    int32_t counts[kLabelLimit] = {};
    for (int32_t i = 0; i < blocks; ++i) ++counts[region[i]];
    uint8_t winner = 1;
    for (int32_t label = 2; label <= highest; ++label)
        if (counts[label] > counts[winner]) winner = static_cast<uint8_t>(label);
    return winner;
}

// Pixels of oriented blocks become 5 (filtered value 128 or more) or 3, the
// others and the one-pixel border 0.
void label_pixels(uint8_t* work, int32_t rs, int32_t cs, const uint8_t* orientation, int32_t block_cols) {
    for (int32_t r = 0; r < rs; ++r)
        for (int32_t c = 0; c < cs; ++c) {
            uint8_t& p = work[at(r, c, cs)];
            const bool border = r == 0 || r == rs - 1 || c == 0 || c == cs - 1;
            if (border || orientation[at(r / kNexBlockSize, c / kNexBlockSize, block_cols)] == 0)
                p = kNexMaskBackground;
            else
                p = p >= kBrightFrom ? kNexMaskBright : kNexMaskDark;
        }
}

void thin_both_planes(uint8_t* work, int32_t rows, int32_t cols) {
    thinning(work, rows, cols, kNexRidgeBit);
    thinning(work, rows, cols, kNexValleyBit);
}

}  // namespace

int32_t nex_mask_scale(int32_t dpi) {
    return dpi > kNexMaxMaskDpi ? static_cast<int32_t>((int64_t{dpi} + kResolutionRounding) / kResolutionStep) : 1;
}

// Every destination lies at or before its source, so a forward pass is safe.
void nex_mask_decimate(uint8_t* work, int32_t cols, int32_t k, int32_t rs, int32_t cs) {
    for (int32_t r = 0; r < rs; ++r)
        for (int32_t c = 0; c < cs; ++c) work[at(r, c, cs)] = work[at(r * k, c * k, cols)];
}

// Every source lies at or before its destination, so a backward pass is safe.
void nex_mask_expand(uint8_t* work, int32_t rows, int32_t cols, int32_t k, int32_t cs) {
    for (int32_t y = rows - 1; y >= 0; --y)
        for (int32_t x = cols - 1; x >= 0; --x) work[at(y, x, cols)] = work[at(y / k, x / k, cs)];
}

void nex_mask_main_region(uint8_t* region, int32_t block_rows, int32_t block_cols) {
    if (block_rows < 1 || block_cols < 1) return;
    uint8_t parent[kLabelLimit] = {};
    uint8_t rank[kLabelLimit] = {};
    const int32_t blocks = block_rows * block_cols;
    label_blocks(region, block_rows, block_cols, parent, rank);
    for (int32_t i = 0; i < blocks; ++i)
        if (region[i] != 0) region[i] = find_set(region[i], parent);
    const uint8_t winner = largest_label(region, blocks);
    for (int32_t i = 0; i < blocks; ++i) region[i] = winner != 0 && region[i] == winner ? 1 : 0;
}

void maskgen(uint8_t* work, int32_t rows, int32_t cols, uint8_t* orientation_map, uint8_t* region_period_map,
             uint8_t* coherence_map, int32_t block_rows, int32_t block_cols, int32_t dpi) {
    if (rows < 1 || cols < 1) return;
    const int32_t k = nex_mask_scale(dpi);
    int32_t rs = rows, cs = cols;
    if (k > 1) {
        rs = (rows + k - 1) / k;
        cs = (cols + k - 1) / k;
        block_rows = blocks_for(rs);
        block_cols = blocks_for(cs);
        nex_mask_decimate(work, cols, k, rs, cs);
    }
    if (block_rows < blocks_for(rs) || block_cols < blocks_for(cs)) return;
    const int32_t blocks = block_rows * block_cols;
    std::memset(orientation_map, 0, static_cast<size_t>(blocks));
    std::memset(region_period_map, 0, static_cast<size_t>(blocks));
    std::memset(coherence_map, 0, static_cast<size_t>(blocks));

    compute_orientation(work, rs, cs, orientation_map, coherence_map, region_period_map, block_rows, block_cols);
    mark_foreground(region_period_map, orientation_map, coherence_map, blocks);
    nex_mask_main_region(region_period_map, block_rows, block_cols);
    for (int32_t i = 0; i < blocks; ++i)
        if (region_period_map[i] == 0) orientation_map[i] = 0;

    compute_frequency(work, rs, cs, orientation_map, region_period_map, block_rows, block_cols);
    directional_filter(work, rs, cs, orientation_map, region_period_map, block_rows, block_cols);
    gaussian_filter_3x3(work, rs, cs);
    label_pixels(work, rs, cs, orientation_map, block_cols);
    thin_both_planes(work, rs, cs);
    if (k == 1) return;
    nex_mask_expand(work, rows, cols, k, cs);
    thin_both_planes(work, rows, cols);
}
