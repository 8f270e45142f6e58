#include "imaging/bal_segment.h"

#include <cstdlib>
#include <cstring>

#include "imaging/bal_binarize.h"
#include "imaging/bal_histogram.h"
#include "imaging/bal_kernels3x3.h"
#include "imaging/bal_morphology.h"
#include "imaging/bal_normalize.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_statistics.h"
#include "imaging/bal_status.h"
#include "math/lib_memory.h"
#include "math/zr_roots.h"

namespace {

constexpr uint8_t kMeanStart = 128;
constexpr uint8_t kEnergyStart = 64;
constexpr uint32_t kEnergyThresholdCap = 128;
constexpr uint8_t kWorkTargetMean = 127;
constexpr uint32_t kWorkTargetSpread = 80;

// Extent [begin, begin + size) of block i along one axis of the working image,
// spreading the remainder `extra` over the blocks.
struct Extent {
    uint32_t begin, size;
};
inline Extent block_extent(uint32_t i, uint32_t sub, uint32_t extra, uint32_t blocks) {
    const uint32_t a = static_cast<uint32_t>((uint64_t{i} + 1) * extra / blocks);
    const uint32_t b = static_cast<uint32_t>((uint64_t{i} + 2) * extra / blocks);
    return {i * sub + a, sub + b - a};
}

struct WorkGeometry {
    uint32_t rows, cols, sub, extra_rows, extra_cols;
};

// Mean grey level of every block over its extent in the working image.
void block_means(const uint8_t* work, const WorkGeometry& g, uint32_t block_rows,
                 uint32_t block_cols, uint8_t* means) {
    if ((g.sub & 1) == 0) {
        bal_mean_blockwise_uint8(work, g.rows, g.cols, g.sub, block_rows, block_cols, means);
        return;
    }
    for (uint32_t i = 0; i < block_rows; ++i) {
        const Extent er = block_extent(i, g.sub, g.extra_rows, block_rows);
        for (uint32_t j = 0; j < block_cols; ++j) {
            const Extent ec = block_extent(j, g.sub, g.extra_cols, block_cols);
            uint32_t sum = 0;
            for (uint32_t y = er.begin; y < er.begin + er.size; ++y)
                for (uint32_t x = ec.begin; x < ec.begin + ec.size; ++x)
                    sum += work[static_cast<size_t>(y) * g.cols + x];
            const uint32_t n = er.size * ec.size;
            means[static_cast<size_t>(i) * block_cols + j] = static_cast<uint8_t>(n ? sum / n : 0);
        }
    }
}

// zr_sqrt_16(dx * dx + dy * dy) for |dx|, |dy| <= 128 (8-bit gradients),
// computed once from zr_sqrt_16 itself.
class GradientMagnitudes {
public:
    static constexpr int32_t kSide = 129;
    GradientMagnitudes() {
        for (int32_t y = 0; y < kSide; ++y)
            for (int32_t x = 0; x < kSide; ++x)
                value_[y * kSide + x] = static_cast<uint8_t>(zr_sqrt_16(static_cast<uint32_t>(x * x + y * y)));
    }
    uint32_t of(int32_t dx, int32_t dy) const {
        return value_[(dy < 0 ? -dy : dy) * kSide + (dx < 0 ? -dx : dx)];
    }

private:
    uint8_t value_[kSide * kSide];
};

const GradientMagnitudes& gradient_magnitudes() {
    static const GradientMagnitudes table;
    return table;
}

// Gradient energy min(255, 8 * mean |grad|) of every block.
void block_energies(const int8_t* gx, const int8_t* gy, const WorkGeometry& g, uint32_t block_rows,
                    uint32_t block_cols, uint8_t* energy) {
    const GradientMagnitudes& magnitude = gradient_magnitudes();
    for (uint32_t i = 0; i < block_rows; ++i) {
        const Extent er = block_extent(i, g.sub, g.extra_rows, block_rows);
        for (uint32_t j = 0; j < block_cols; ++j) {
            const Extent ec = block_extent(j, g.sub, g.extra_cols, block_cols);
            uint32_t sum = 0;
            for (uint32_t y = er.begin; y < er.begin + er.size; ++y) {
                const size_t row = static_cast<size_t>(y) * g.cols;
                for (uint32_t x = ec.begin; x < ec.begin + ec.size; ++x)
                    sum += magnitude.of(gx[row + x], gy[row + x]);
            }
            const uint32_t n = er.size * ec.size;
            const uint32_t e = n ? (8 * sum) / n : 0;
            energy[static_cast<size_t>(i) * block_cols + j] =
                static_cast<uint8_t>(e > 255 ? 255 : e);
        }
    }
}

// Rim pruning, in order and in place: a 1 on the grid border becomes 0 when
// its in-grid neighbours sum to less than 3 (corners first, then the top and
// bottom rows, then the left and right columns).
void prune_rim(uint8_t* m, uint32_t rows, uint32_t cols) {
    auto at = [&](uint32_t y, uint32_t x) -> uint8_t& {
        return m[static_cast<size_t>(y) * cols + x];
    };
    auto neighbour_sum = [&](uint32_t y, uint32_t x) {
        uint32_t s = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int64_t yy = static_cast<int64_t>(y) + dy, xx = static_cast<int64_t>(x) + dx;
                if ((dy || dx) && yy >= 0 && xx >= 0 && yy < rows && xx < cols)
                    s += at(static_cast<uint32_t>(yy), static_cast<uint32_t>(xx));
            }
        return s;
    };
    auto prune = [&](uint32_t y, uint32_t x) {
        if (at(y, x) == 1 && neighbour_sum(y, x) < 3) at(y, x) = 0;
    };
    const uint32_t ly = rows - 1, lx = cols - 1;
    // A corner's in-grid neighbours are exactly the rest of its 2x2 square.
    prune(0, 0);
    prune(0, lx);
    prune(ly, 0);
    prune(ly, lx);
    if (cols >= 3)
        for (uint32_t x = 1; x + 1 < cols; ++x) {
            prune(0, x);
            prune(ly, x);
        }
    if (rows >= 3)
        for (uint32_t y = 1; y + 1 < rows; ++y) {
            prune(y, 0);
            prune(y, lx);
        }
}

// Breadth-first flood of the region containing seed; cells of the region are
// those for which `member` holds. Marks them in `label` with id and calls
// visit(index) for each. Returns the region's size.
template <typename Member, typename Visit>
uint32_t flood(uint32_t seed, uint32_t rows, uint32_t cols, bool eight, uint32_t* queue,
               int32_t* label, int32_t id, Member member, Visit visit) {
    static constexpr int kOffsets8[8][2] = {{-1, 0}, {-1, -1}, {-1, 1}, {1, 0},
                                            {1, -1}, {1, 1},   {0, -1}, {0, 1}};
    static constexpr int kOffsets4[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    uint32_t head = 0, tail = 0;
    queue[tail++] = seed;
    label[seed] = id;
    while (head < tail) {
        const uint32_t cell = queue[head++];
        visit(cell);
        const int64_t y = cell / cols, x = cell % cols;
        const int count = eight ? 8 : 4;
        for (int k = 0; k < count; ++k) {
            const int64_t yy = y + (eight ? kOffsets8[k][0] : kOffsets4[k][0]);
            const int64_t xx = x + (eight ? kOffsets8[k][1] : kOffsets4[k][1]);
            if (yy < 0 || xx < 0 || yy >= rows || xx >= cols) continue;
            const auto next = static_cast<uint32_t>(yy * cols + xx);
            if (label[next] != 0 || !member(next)) continue;
            label[next] = id;
            queue[tail++] = next;
        }
    }
    return tail;
}

// Keeps only the largest 4-connected region of ones (the first found of equal
// ones).
void keep_largest_region(uint8_t* m, uint32_t rows, uint32_t cols, uint32_t* queue,
                         int32_t* label) {
    const uint32_t n = rows * cols;
    std::memset(label, 0, n * sizeof(int32_t));
    int32_t next_id = 0, best_id = 0;
    uint32_t best_size = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (m[i] != 1 || label[i] != 0) continue;
        const uint32_t size = flood(
            i, rows, cols, false, queue, label, ++next_id, [&](uint32_t c) { return m[c] == 1; },
            [](uint32_t) {});
        if (size > best_size) {
            best_size = size;
            best_id = next_id;
        }
    }
    for (uint32_t i = 0; i < n; ++i) m[i] = (best_id != 0 && label[i] == best_id) ? 1 : 0;
}

// Fills the 8-connected background regions that touch at most one side of
// the grid (holes and inlets).
void fill_inlets(uint8_t* m, uint32_t rows, uint32_t cols, uint32_t* queue, int32_t* label) {
    const uint32_t n = rows * cols;
    std::memset(label, 0, n * sizeof(int32_t));
    int32_t next_id = 0;
    for (uint32_t i = 0; i < n; ++i) {
        if (m[i] != 0 || label[i] != 0) continue;
        unsigned sides = 0;
        const uint32_t size = flood(
            i, rows, cols, true, queue, label, ++next_id, [&](uint32_t c) { return m[c] == 0; },
            [&](uint32_t c) {
                const uint32_t y = c / cols, x = c % cols;
                if (y == 0) sides |= 1;
                if (y + 1 == rows) sides |= 2;
                if (x == 0) sides |= 4;
                if (x + 1 == cols) sides |= 8;
            });
        if (__builtin_popcount(sides) <= 1)
            for (uint32_t k = 0; k < size; ++k) m[queue[k]] = 1;
    }
}

}  // namespace

uint32_t bal_find_opt_threshold(const uint8_t* values, uint32_t rows, uint32_t cols,
                                uint32_t start) {
    uint32_t hist[256];
    bal_image_histogram(values, static_cast<int32_t>(rows), static_cast<int32_t>(cols), hist);
    uint32_t t = start & 0xFF;
    // The thresholds move monotonically; the bound only guards the loop.
    for (int iteration = 0; iteration < 1024; ++iteration) {
        uint32_t lo_sum = 0, lo_n = 0, hi_sum = 0, hi_n = 0;
        for (uint32_t v = 0; v < 256; ++v) {
            if (v < t) {
                lo_sum += v * hist[v];
                lo_n += hist[v];
            } else {
                hi_sum += v * hist[v];
                hi_n += hist[v];
            }
        }
        const uint32_t m_lo = lo_n ? lo_sum / lo_n : t;
        const uint32_t m_hi = hi_n ? hi_sum / hi_n : t;
        const uint32_t next = (m_hi + 4 * m_lo) / 5;
        const uint32_t diff = next > t ? next - t : t - next;
        if (diff < 3) return next;
        t = next;
    }
    return t;
}

bal_status bal_filter_segmented(uint8_t* block_mask, uint32_t block_rows, uint32_t block_cols) {
    if (!block_mask || block_rows < 2 || block_cols < 2) return BAL_BAD_ARGUMENT;
    const uint64_t n64 = uint64_t{block_rows} * block_cols;
    if (n64 > INT32_MAX) return BAL_BAD_ARGUMENT;
    const auto n = static_cast<uint32_t>(n64);
    const auto irows = static_cast<int32_t>(block_rows);
    bal_binarize_remove_holes(block_mask, irows, block_cols, block_mask);
    prune_rim(block_mask, block_rows, block_cols);

    auto* queue = static_cast<uint32_t*>(std::malloc(n * sizeof(uint32_t)));
    auto* label = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    if (lib_memory_check(queue, label, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    keep_largest_region(block_mask, block_rows, block_cols, queue, label);
    fill_inlets(block_mask, block_rows, block_cols, queue, label);
    std::free(queue);
    std::free(label);

    const bal_status status = bal_open(block_mask, block_rows, block_cols, block_mask);
    if (status != BAL_OK) return status;
    return bal_binarize_blur(block_mask, irows, block_cols, block_mask);
}

bal_status bal_segment_image_scale(const uint8_t* src, uint32_t rows, uint32_t cols,
                                   uint32_t block_rows, uint32_t block_cols, uint32_t block,
                                   uint8_t* block_mask, int32_t scale) {
    if (!src || !block_mask || block == 0 || block_rows < 2 || block_cols < 2 ||
        uint64_t{block} * block_rows != rows || uint64_t{block} * block_cols != cols ||
        rows > INT32_MAX || cols > INT32_MAX)
        return BAL_BAD_ARGUMENT;
    const uint32_t d = scale == 1 ? 2 : 1;
    WorkGeometry g;
    g.rows = rows / d;
    g.cols = cols / d;
    g.sub = d == 2 ? block / 2 : block;
    g.extra_rows = g.rows - block_rows * g.sub;
    g.extra_cols = g.cols - block_cols * g.sub;
    if (g.sub == 0) return BAL_BAD_ARGUMENT;
    const size_t work_pixels = static_cast<size_t>(g.rows) * g.cols;
    const size_t nb = static_cast<size_t>(block_rows) * block_cols;

    auto* work = static_cast<uint8_t*>(std::malloc(work_pixels));
    auto* means = static_cast<uint8_t*>(std::malloc(nb));
    auto* energy = static_cast<uint8_t*>(std::malloc(nb));
    if (lib_memory_check(work, means, energy, nullptr, nullptr, nullptr, nullptr, 3) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    if (d == 2)
        bal_scale_bilinear(src, rows, cols, work, g.rows, g.cols);
    else
        std::memcpy(work, src, work_pixels);
    bal_normalize_image_simple(work, g.rows, g.cols, kWorkTargetMean, kWorkTargetSpread, work);
    block_means(work, g, block_rows, block_cols, means);
    const uint32_t t_mean = bal_find_opt_threshold(means, block_rows, block_cols, kMeanStart);

    auto* gx = static_cast<int8_t*>(std::malloc(work_pixels));
    auto* gy = static_cast<int8_t*>(std::malloc(work_pixels));
    if (lib_memory_check(gx, gy, work, means, energy, nullptr, nullptr, 2) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    bal_sobel_2(work, g.rows, g.cols, gx, gy);
    block_energies(gx, gy, g, block_rows, block_cols, energy);
    std::free(gx);
    std::free(gy);
    std::free(work);
    uint32_t t_energy = bal_find_opt_threshold(energy, block_rows, block_cols, kEnergyStart);
    if (t_energy >= kEnergyThresholdCap) t_energy = kEnergyThresholdCap;

    for (size_t k = 0; k < nb; ++k)
        block_mask[k] = (means[k] < t_mean || energy[k] > t_energy) ? 1 : 0;
    std::free(means);
    std::free(energy);
    return bal_filter_segmented(block_mask, block_rows, block_cols);
}

bal_status bal_segment_image(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t block_rows,
                             uint32_t block_cols, uint32_t block, uint8_t* block_mask) {
    return bal_segment_image_scale(src, rows, cols, block_rows, block_cols, block, block_mask, 1);
}

void bal_segmentation_center(const uint8_t* block_mask, uint32_t block_rows, uint32_t block_cols,
                             uint32_t block, uint32_t rows, uint32_t cols, uint32_t* out_row,
                             uint32_t* out_col) {
    uint32_t n = 0, sum_r = 0, sum_c = 0;
    for (uint32_t r = 0; r < block_rows; ++r)
        for (uint32_t c = 0; c < block_cols; ++c)
            if (block_mask[static_cast<size_t>(r) * block_cols + c] != 0) {
                ++n;
                sum_r += r;
                sum_c += c;
            }
    if (n == 0) {
        *out_row = rows / 2;
        *out_col = cols / 2;
        return;
    }
    *out_row = sum_r * block / n + block / 2;
    *out_col = sum_c * block / n + block / 2;
}

void bal_segmentation_flag_edge(uint8_t* block_mask, uint32_t block_rows, uint32_t block_cols) {
    if (block_rows == 0 || block_cols == 0) return;
    auto at = [&](uint32_t r, uint32_t c) -> uint8_t& {
        return block_mask[static_cast<size_t>(r) * block_cols + c];
    };
    const uint32_t lr = block_rows - 1, lc = block_cols - 1;
    for (uint32_t c = 0; c < block_cols; ++c) {
        if (at(0, c)) at(0, c) |= 2;
        if (at(lr, c)) at(lr, c) |= 2;
    }
    for (uint32_t r = 0; r < block_rows; ++r) {
        if (at(r, 0)) at(r, 0) |= 2;
        if (at(r, lc)) at(r, lc) |= 2;
    }
    if (block_rows < 3 || block_cols < 3) return;
    for (uint32_t r = 1; r < lr; ++r)
        for (uint32_t c = 1; c < lc; ++c)
            if (at(r, c) && (!at(r, c - 1) || !at(r, c + 1) || !at(r - 1, c) || !at(r + 1, c)))
                at(r, c) |= 2;
}

uint32_t bal_segmentation_at_edge(const uint8_t* block_mask, uint32_t block_rows,
                                  uint32_t block_cols, uint32_t row, uint32_t col, uint32_t mode) {
    if (row >= block_rows || col >= block_cols) return 0;
    auto at = [&](uint32_t r, uint32_t c) {
        return block_mask[static_cast<size_t>(r) * block_cols + c];
    };
    const uint32_t lr = block_rows - 1, lc = block_cols - 1;
    if (at(row, col) != 0) {
        if ((mode & 2) == 0) return 0;
        return (col == 0 || !at(row, col - 1) || col == lc || !at(row, col + 1) || row == 0 ||
                !at(row - 1, col) || row == lr || !at(row + 1, col))
                   ? 1
                   : 0;
    }
    if ((mode & 4) == 0) return 0;
    return ((col > 0 && at(row, col - 1)) || (col < lc && at(row, col + 1)) ||
            (row > 0 && at(row - 1, col)) || (row < lr && at(row + 1, col)))
               ? 1
               : 0;
}

void bal_segment_apply(const uint8_t* block_mask, uint32_t block_rows, uint32_t block_cols,
                       uint32_t block, const uint8_t* src, uint32_t rows, uint32_t cols,
                       uint8_t* dst) {
    (void)rows;
    for (uint32_t i = 0; i < block_rows; ++i)
        for (uint32_t j = 0; j < block_cols; ++j) {
            const bool inside = block_mask[static_cast<size_t>(i) * block_cols + j] != 0;
            for (uint32_t y = i * block; y < (i + 1) * block; ++y) {
                const size_t p = static_cast<size_t>(y) * cols + static_cast<size_t>(j) * block;
                if (inside)
                    std::memcpy(dst + p, src + p, block);
                else
                    std::memset(dst + p, 255, block);
            }
        }
}
