#include "liveness/nex_filters.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

#include "liveness/nex_features.h"
#include "liveness/nex_math.h"
#include "math/zr_roots.h"

namespace {

// ---------------------------------------------------------------------------
// Gaussian kernels: symmetric, unnormalised; the kernel for a ridge period
// of p pixels has about the period's length.

struct GaussKernel {
    uint8_t length;
    uint8_t weights[15];
};

constexpr GaussKernel kGaussKernels[NEX_GAUSS_KERNELS] = {
    {3, {1, 8, 1}},
    {5, {1, 5, 8, 5, 1}},
    {7, {1, 2, 4, 5, 4, 2, 1}},
    {9, {1, 3, 5, 7, 8, 7, 5, 3, 1}},
    {11, {1, 2, 4, 5, 7, 8, 7, 5, 4, 2, 1}},
    {15, {1, 1, 3, 4, 6, 8, 10, 11, 10, 8, 6, 4, 3, 1, 1}},
    {15, {1, 2, 4, 5, 7, 8, 9, 10, 9, 8, 7, 5, 4, 2, 1}},
    {15, {1, 2, 2, 3, 4, 4, 5, 5, 5, 4, 4, 3, 2, 2, 1}},
};

// 128 x the sum of each kernel.
constexpr uint32_t kGaussFlat128[NEX_GAUSS_KERNELS] = {1280, 2560, 2432, 5120, 5888, 9856, 10496, 6016};

constexpr bool flat_table_matches_kernels() {
    for (uint32_t q = 0; q < NEX_GAUSS_KERNELS; ++q) {
        uint32_t sum = 0;
        for (uint32_t k = 0; k < kGaussKernels[q].length; ++k) sum += kGaussKernels[q].weights[k];
        if (sum * 128 != kGaussFlat128[q]) return false;
    }
    return true;
}
static_assert(flat_table_matches_kernels());

constexpr uint32_t kLastKernel = NEX_GAUSS_KERNELS - 1;
// Output i is centred on line[i + kGaussCentre].
constexpr int32_t kGaussCentre = 7;

uint32_t kernel_of(uint32_t index) { return index < kLastKernel ? index : kLastKernel; }

// ---------------------------------------------------------------------------
// Directional filter geometry

constexpr int32_t kBlock = 16;
// The window starts this many pixels before the block, in both directions.
constexpr int32_t kWindowLead = 9;
constexpr int32_t kWindow = NEX_GAUSS_LINE;  // 34
constexpr int32_t kFiltered = NEX_GAUSS_OUT;  // 20: R covers block - 2 .. block + 17
constexpr uint32_t kOutsideGrey = 128;
constexpr uint8_t kQuarterTurn = 64;
constexpr uint32_t kQ14ToQ7 = 7;
constexpr int32_t kQ7Round = 64;
constexpr int32_t kBlockPixels = kBlock * kBlock;
constexpr uint32_t kBlockPixelsLog2 = 8;
constexpr uint8_t kBright = 255;

// Block origin and filter parameters.
struct OrientedBlock {
    int32_t row0, col0;  // first image pixel of the block
    int32_t cos7, sin7;  // across-ridge direction, Q7
    uint32_t kernel;
};

// R[y][x] for image pixel (row0 - 2 + y, col0 - 2 + x): the 34 x 34 window
// smoothed along rows, then along columns.
void smooth_window(const uint8_t* work, int32_t rows, int32_t cols, const OrientedBlock& b,
                   uint32_t (&r)[kFiltered][kFiltered]) {
    uint32_t horizontal[kWindow][kFiltered];
    uint32_t line[kWindow];
    const uint32_t flat = kGaussFlat128[b.kernel];
    for (int32_t wy = 0; wy < kWindow; ++wy) {
        const int32_t y = b.row0 - kWindowLead + wy;
        if (y < 0 || y >= rows) {
            std::fill(horizontal[wy], horizontal[wy] + kFiltered, flat);
            continue;
        }
        const uint8_t* src = work + static_cast<size_t>(y) * static_cast<size_t>(cols);
        for (int32_t wx = 0; wx < kWindow; ++wx) {
            const int32_t x = b.col0 - kWindowLead + wx;
            line[wx] = x >= 0 && x < cols ? src[x] : kOutsideGrey;
        }
        gaussian_filter_1d(line, b.kernel, horizontal[wy]);
    }
    uint32_t column_out[kFiltered];
    for (int32_t x = 0; x < kFiltered; ++x) {
        for (int32_t wy = 0; wy < kWindow; ++wy) line[wy] = horizontal[wy][x];
        gaussian_filter_1d(line, b.kernel, column_out);
        for (int32_t y = 0; y < kFiltered; ++y) r[y][x] = column_out[y];
    }
}

// Directional derivative across the ridges of a, at (y, x), from central
// differences (Q7 direction, rounded).
template <class T>
int32_t across_derivative(const T (&a)[kFiltered][kFiltered], int32_t y, int32_t x,
                          const OrientedBlock& b, int32_t sign) {
    const int32_t dx = static_cast<int32_t>(a[y][x - 1]) - static_cast<int32_t>(a[y][x + 1]);
    const int32_t dy = static_cast<int32_t>(a[y - 1][x]) - static_cast<int32_t>(a[y + 1][x]);
    return (sign * (dx * b.cos7 + dy * b.sin7) + kQ7Round) >> kQ14ToQ7;
}

// Second derivative across the ridges over the block's own 16 x 16 pixels.
void second_derivative(const uint32_t (&r)[kFiltered][kFiltered], const OrientedBlock& b,
                       int32_t (&d2)[kBlock][kBlock]) {
    int32_t d1[kFiltered][kFiltered] = {};
    for (int32_t y = 1; y < kFiltered - 1; ++y)
        for (int32_t x = 1; x < kFiltered - 1; ++x) d1[y][x] = across_derivative(r, y, x, b, 1);
    // D2 = (D1[x + 1] - D1[x - 1]) C + (D1[y + 1] - D1[y - 1]) S: the
    // negated form of the first derivative's differences.
    for (int32_t y = 0; y < kBlock; ++y)
        for (int32_t x = 0; x < kBlock; ++x) d2[y][x] = across_derivative(d1, y + 2, x + 2, b, -1);
}

// Bytes 128 +- |D2 - mean| x 128 / spread; false when the spread is 0.
bool scale_to_bytes(const int32_t (&d2)[kBlock][kBlock], uint8_t* bytes) {
    int64_t sum = 0;
    for (const auto& row : d2)
        for (int32_t v : row) sum += v;
    const int64_t mean = sum >> kBlockPixelsLog2;
    int64_t deviation = 0;
    for (const auto& row : d2)
        for (int32_t v : row) deviation += std::llabs(v - mean);
    const int64_t spread = deviation >> kBlockPixelsLog2;
    if (spread == 0) return false;
    for (int32_t y = 0; y < kBlock; ++y) {
        for (int32_t x = 0; x < kBlock; ++x) {
            const int64_t d = (std::llabs(d2[y][x] - mean) << 7) / spread;
            // D2 of 8-bit pixels stays below 2^23 in magnitude, so d <= |D2 - mean| x 128 < 2^31.
            const int32_t v = static_cast<int32_t>(d2[y][x] > mean ? 128 + d : 128 - d);
            bytes[y * kBlock + x] = int2uchar(v);
        }
    }
    return true;
}

void write_block(uint8_t* work, int32_t rows, int32_t cols, const OrientedBlock& b, const uint8_t* bytes) {
    const int32_t last_row = std::min(b.row0 + kBlock, rows);
    const int32_t last_col = std::min(b.col0 + kBlock, cols);
    for (int32_t y = b.row0; y < last_row; ++y)
        std::copy(bytes + (y - b.row0) * kBlock, bytes + (y - b.row0) * kBlock + (last_col - b.col0),
                  work + static_cast<size_t>(y) * static_cast<size_t>(cols) + b.col0);
}

void filter_block(uint8_t* work, int32_t rows, int32_t cols, const OrientedBlock& b) {
    uint32_t r[kFiltered][kFiltered];
    smooth_window(work, rows, cols, b, r);
    int32_t d2[kBlock][kBlock];
    second_derivative(r, b, d2);
    uint8_t bytes[kBlockPixels];
    if (!scale_to_bytes(d2, bytes)) return;
    gaussian_filter_3x3(bytes, kBlock, kBlock);
    const uint8_t t = otsu_thresh(bytes, kBlockPixels);
    for (uint8_t& v : bytes) v = v > t ? kBright : 0;
    write_block(work, rows, cols, b, bytes);
}

// ---------------------------------------------------------------------------
// 3 x 3 smoothing: one line of n samples, step apart, in place.

void smooth_line(uint8_t* p, int32_t n, size_t step) {
    uint32_t previous = p[0];
    uint32_t current = p[0];
    for (int32_t i = 0; i < n; ++i) {
        current = p[i * step];
        const uint32_t next = i + 1 < n ? p[(i + 1) * step] : current;
        // Ends: (3 first + second) and (second-to-last + 3 last).
        const uint32_t before = i == 0 ? current : previous;
        p[i * step] = static_cast<uint8_t>((before + 2 * current + next) >> 2);
        previous = current;
    }
}

// ---------------------------------------------------------------------------
// Thinning

constexpr uint8_t kRemovalMark = 0x80;

// The eight neighbours' membership.
struct Neighbours {
    bool n, ne, e, se, s, sw, w, nw;
};

Neighbours neighbours_of(const uint8_t* p, std::ptrdiff_t s, uint8_t plane) {
    auto set = [plane](uint8_t v) { return (v & plane) != 0; };
    return {set(p[-s]), set(p[1 - s]), set(p[1]),  set(p[s + 1]),
            set(p[s]),  set(p[s - 1]), set(p[-1]), set(p[-1 - s])};
}

bool removable(const Neighbours& q, bool first_sub_pass) {
    const int c = (!q.e && (q.ne || q.n)) + (!q.n && (q.nw || q.w)) + (!q.w && (q.sw || q.s)) +
                  (!q.s && (q.se || q.e));
    if (c != 1) return false;
    const int n1 = (q.n || q.ne) + (q.nw || q.w) + (q.sw || q.s) + (q.e || q.se);
    const int n2 = (q.e || q.ne) + (q.n || q.nw) + (q.w || q.sw) + (q.s || q.se);
    if (n1 < 2 || n2 < 2 || std::min(n1, n2) > 3) return false;
    if (first_sub_pass) return !(q.e && (q.n || q.ne || !q.se));
    return !(q.w && (q.s || q.sw || !q.nw));
}

// One sub-pass; returns the number of pixels removed.
int32_t thinning_sub_pass(uint8_t* image, int32_t rows, int32_t cols, uint8_t plane, bool first) {
    const size_t stride = static_cast<size_t>(cols);
    int32_t removed = 0;
    for (int32_t y = 1; y < rows - 1; ++y) {
        uint8_t* row = image + static_cast<size_t>(y) * stride;
        for (int32_t x = 1; x < cols - 1; ++x) {
            if ((row[x] & plane) == 0) continue;
            if (!removable(neighbours_of(row + x, static_cast<std::ptrdiff_t>(stride), plane), first)) continue;
            row[x] |= kRemovalMark;
            ++removed;
        }
    }
    if (removed == 0) return 0;
    const uint8_t keep = static_cast<uint8_t>(~(kRemovalMark | plane));
    for (size_t i = 0; i < stride * static_cast<size_t>(rows); ++i)
        if (image[i] & kRemovalMark) image[i] &= keep;
    return removed;
}

int32_t wrap_sub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

}  // namespace

uint32_t nex_gauss_kernel_index(uint8_t period_code) {
    const uint32_t period = std::max<uint32_t>(period_code >> 4, 2);
    return (period - 1) >> 1;
}

uint32_t nex_gauss_flat_128(uint32_t kernel_index) { return kGaussFlat128[kernel_of(kernel_index)]; }

void gaussian_filter_1d(const uint32_t* line, uint32_t kernel_index, uint32_t* out) {
    const GaussKernel& k = kGaussKernels[kernel_of(kernel_index)];
    const int32_t first = kGaussCentre - (k.length - 1) / 2;
    for (int32_t i = 0; i < NEX_GAUSS_OUT; ++i) {
        uint32_t sum = 0;
        for (int32_t j = 0; j < k.length; ++j) sum += k.weights[j] * line[i + first + j];
        out[i] = sum;
    }
}

void directional_filter(uint8_t* work, int32_t rows, int32_t cols, const uint8_t* orientation_map,
                        const uint8_t* period_map, int32_t block_rows, int32_t block_cols) {
    for (int32_t bi = 0; bi < block_rows; ++bi) {
        for (int32_t bj = 0; bj < block_cols; ++bj) {
            const size_t at = static_cast<size_t>(bi) * static_cast<size_t>(block_cols) + static_cast<size_t>(bj);
            const uint8_t o = orientation_map[at];
            if (o == 0) continue;
            const uint8_t across = static_cast<uint8_t>(o + kQuarterTurn);
            const OrientedBlock b{bi * kBlock, bj * kBlock, nex_cos(across) >> kQ14ToQ7,
                                  nex_sin(across) >> kQ14ToQ7, nex_gauss_kernel_index(period_map[at])};
            filter_block(work, rows, cols, b);
        }
    }
}

void gaussian_filter_3x3(uint8_t* image, int32_t rows, int32_t cols) {
    if (rows < 3 || cols < 3) return;
    const size_t stride = static_cast<size_t>(cols);
    for (int32_t y = 0; y < rows; ++y) smooth_line(image + static_cast<size_t>(y) * stride, cols, 1);
    for (int32_t x = 0; x < cols; ++x) smooth_line(image + x, rows, stride);
}

uint8_t otsu_thresh(const uint8_t* values, int32_t n) {
    constexpr int32_t kLevels = 256;
    int32_t histogram[kLevels] = {};
    for (int32_t i = 0; i < n; ++i) ++histogram[values[i]];
    int64_t total = 0;
    for (int32_t t = 0; t < kLevels - 1; ++t) total += static_cast<int64_t>(t) * histogram[t];
    int64_t best = 0, w0 = 0, s0 = 0;
    uint8_t threshold = 0;
    for (int32_t t = 0; t < kLevels - 1; ++t) {
        w0 += histogram[t];
        if (w0 == 0) continue;
        const int64_t w1 = n - w0;
        if (w1 == 0) break;
        s0 += static_cast<int64_t>(t) * histogram[t];
        const int64_t m1 = (total - s0) / w1;
        const int64_t m0 = s0 / w0;
        const int64_t v = (m1 - m0) * (m1 - m0) * w0 * w1;
        if (v >= best) {
            best = v;
            threshold = static_cast<uint8_t>(t);
        }
    }
    return threshold;
}

void thinning(uint8_t* image, int32_t rows, int32_t cols, uint8_t plane) {
    if (rows < 3 || cols < 3) return;
    for (;;) {
        const int32_t removed = thinning_sub_pass(image, rows, cols, plane, true) +
                                thinning_sub_pass(image, rows, cols, plane, false);
        if (removed == 0) return;
    }
}

uint8_t find_set(uint8_t x, uint8_t* parent) {
    if (parent[x] == x) return x;
    parent[x] = find_set(parent[x], parent);
    return parent[x];
}

void Union(uint8_t a, uint8_t b, uint8_t* parent, uint8_t* rank) {
    const uint8_t rb = find_set(b, parent);
    const uint8_t ra = find_set(a, parent);
    if (rank[ra] <= rank[rb]) {
        parent[ra] = rb;
        if (rank[ra] == rank[rb]) rank[rb] = static_cast<uint8_t>(rank[ra] + 1);
    } else {
        parent[rb] = ra;
    }
}

int32_t crossing_number(const uint8_t* image, int32_t cols, int32_t row, int32_t col, uint8_t mask) {
    const std::ptrdiff_t s = cols;
    const uint8_t* p = image + static_cast<std::ptrdiff_t>(row) * s + col;
    const uint8_t ring[9] = {p[-s - 1], p[-s], p[-s + 1], p[1], p[s + 1], p[s], p[s - 1], p[-1], p[-s - 1]};
    int32_t changes = 0;
    for (int32_t i = 0; i < 8; ++i) changes += (ring[i] & mask) != (ring[i + 1] & mask);
    return changes / 2;
}

int32_t direction(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    return nex_arctan(wrap_sub(y1, y0), wrap_sub(x1, x0));
}

uint32_t euclidean_distance(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int64_t dx = static_cast<int64_t>(x0) - x1;
    const int64_t dy = static_cast<int64_t>(y0) - y1;
    return static_cast<uint32_t>(zr_sqrt_nearest_64(static_cast<uint64_t>(dx * dx) + static_cast<uint64_t>(dy * dy)));
}

void flipud(uint8_t* image, int32_t rows, int32_t cols) {
    if (rows < 2 || cols < 1) return;
    const size_t stride = static_cast<size_t>(cols);
    for (int32_t i = 0; i < rows / 2; ++i)
        std::swap_ranges(image + static_cast<size_t>(i) * stride, image + static_cast<size_t>(i + 1) * stride,
                         image + static_cast<size_t>(rows - 1 - i) * stride);
}
