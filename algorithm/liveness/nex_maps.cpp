#include "liveness/nex_maps.h"

#include <cstddef>

#include "liveness/nex_features.h"
#include "liveness/nex_filters.h"
#include "liveness/nex_math.h"
#include "liveness/nex_network.h"
#include "math/zr_sort.h"

namespace {

// Usable blocks.
constexpr uint32_t kMinBlockMean = 16;
constexpr uint32_t kMaxBlockMean = 254;  // exclusive
constexpr uint32_t kMinBlockVariance = 30;
// Normalised block: mean 128, deviation 80.
constexpr int32_t kNormalisedMean = 128;
constexpr uint32_t kNormalisedVariance = 80 * 80;

// Gradient window: the block and 3 pixels around it, outside the image 255.
constexpr int32_t kWindowMargin = 3;
constexpr int32_t kWindowSize = kNexBlockSize + 2 * kWindowMargin - 1;  // 21
constexpr uint8_t kWindowOutside = 255;
// Tensor sums above this are scaled down so that << 14 stays in 32 bits.
constexpr int32_t kTensorLimit = 131070;
constexpr int32_t kQ14Shift = 14;
constexpr int32_t kCoherenceScale = 255;
constexpr int32_t kMinCoherenceForOrientation = 15;

// Orientation codes and 8-bit angles.
constexpr uint8_t kHalfTurnCode = 128;
constexpr int32_t kQuarterTurn = 64;
constexpr int32_t kOrientationBins = 8;
constexpr int32_t kOrientationBinShift = 4;
constexpr int32_t kHistogramRadius = 2;
constexpr int32_t kSpreadThreshold = 899;  // sum * 256 / peak above this: radius 1

// Ridge profile and its spectrum.
constexpr int32_t kProfileLength = 32;
constexpr int32_t kProfileLog2 = 5;
constexpr int32_t kSamplesAlongRidge = 16;
constexpr int32_t kBlockCentre = 7;
constexpr int32_t kQ14Half = 8192;
constexpr int32_t kLowestFrequency = 2;
constexpr int32_t kFrequencyCount = 15;  // 2..16
// Period code (1/16 pixel, rounded, capped at 255) of frequency 2..16 over 32 pixels.
constexpr uint8_t kPeriodCodes[kFrequencyCount] = {255, 171, 128, 102, 85, 73, 64, 57, 51, 47, 43, 39, 37, 34, 32};

// The clipped pixel range of one block.
struct BlockSpan {
    int32_t row0, row1, col0, col1;  // inclusive starts, exclusive ends

    BlockSpan(int32_t bi, int32_t bj, int32_t rows, int32_t cols)
        : row0(bi * kNexBlockSize),
          row1(row0 + kNexBlockSize < rows ? row0 + kNexBlockSize : rows),
          col0(bj * kNexBlockSize),
          col1(col0 + kNexBlockSize < cols ? col0 + kNexBlockSize : cols) {}
    uint32_t pixels() const { return static_cast<uint32_t>((row1 - row0) * (col1 - col0)); }
};

size_t at(int32_t r, int32_t c, int32_t cols) { return static_cast<size_t>(r) * static_cast<size_t>(cols) + c; }

uint32_t block_sum(const uint8_t* work, int32_t cols, const BlockSpan& b) {
    uint32_t sum = 0;
    for (int32_t r = b.row0; r < b.row1; ++r)
        for (int32_t c = b.col0; c < b.col1; ++c) sum += work[at(r, c, cols)];
    return sum;
}

// Rewrites the block to mean 128 and deviation 80.
void normalise_block(uint8_t* work, int32_t cols, const BlockSpan& b, int32_t mean, uint32_t variance) {
    for (int32_t r = b.row0; r < b.row1; ++r)
        for (int32_t c = b.col0; c < b.col1; ++c) {
            uint8_t& p = work[at(r, c, cols)];
            const int32_t d = p - mean;
            const int32_t s = static_cast<int32_t>(nex_sqrt(static_cast<uint32_t>(d * d) * kNormalisedVariance / variance));
            p = int2uchar(p > mean ? kNormalisedMean + s : kNormalisedMean - s);
        }
}

struct Tensor {
    int32_t gxx = 0, gyy = 0, gxy = 0;
};

// Structure tensor of the smoothed 21 x 21 window around block (bi, bj).
Tensor window_tensor(const uint8_t* work, int32_t rows, int32_t cols, int32_t bi, int32_t bj) {
    uint8_t w[kWindowSize][kWindowSize];
    for (auto& line : w)
        for (uint8_t& v : line) v = kWindowOutside;
    const int32_t top = bi * kNexBlockSize - kWindowMargin, left = bj * kNexBlockSize - kWindowMargin;
    for (int32_t y = 0; y < kWindowSize; ++y) {
        const int32_t r = top + y;
        if (r < 0 || r >= rows) continue;
        for (int32_t x = 0; x < kWindowSize; ++x) {
            const int32_t c = left + x;
            if (c >= 0 && c < cols) w[y][x] = work[at(r, c, cols)];
        }
    }
    gaussian_filter_3x3(&w[0][0], kWindowSize, kWindowSize);
    Tensor t;
    for (int32_t y = 1; y < kWindowSize - 1; ++y)
        for (int32_t x = 1; x < kWindowSize - 1; ++x) {
            const int32_t gx = w[y][x + 1] - w[y][x - 1];
            const int32_t gy = w[y + 1][x] - w[y - 1][x];
            t.gxx += gx * gx;
            t.gyy += gy * gy;
            t.gxy += gx * gy;
        }
    return t;
}

struct BlockOrientation {
    uint8_t coherence = 0;
    uint8_t code = 0;
};

// Coherence and raw orientation code of one block from its tensor.
BlockOrientation orientation_of(const Tensor& t) {
    int32_t gxx = t.gxx, gyy = t.gyy, gxy = t.gxy;
    int32_t m = gxx > gyy ? gxx : gyy;
    if (nex_abs(gxy) > m) m = nex_abs(gxy);
    if (m == 0) return {};
    if (m > kTensorLimit) {
        const int32_t d = m / kTensorLimit + 1;
        gxx /= d;
        gyy /= d;
        gxy /= d;
        m /= d;
    }
    const int32_t a = (gxx << kQ14Shift) / m, b = (gyy << kQ14Shift) / m, c = (gxy << kQ14Shift) / m;
    if (a + b == 0) return {};
    const uint32_t spread = static_cast<uint32_t>((a - b) * (a - b)) + 4u * static_cast<uint32_t>(c * c);
    // |c| <= sqrt(a b) + 1 and a + b >= 16384 keep this at 255 or below.
    const int32_t coherence = static_cast<int32_t>(nex_sqrt(spread)) * kCoherenceScale / (a + b);
    BlockOrientation out;
    out.coherence = static_cast<uint8_t>(coherence);
    if (out.coherence < kMinCoherenceForOrientation) return out;
    const int32_t gradient = nex_arctan(t.gxx - t.gyy, 2 * t.gxy) >> 1;  // 0..128
    out.code = static_cast<uint8_t>(gradient <= kQuarterTurn ? gradient + kQuarterTurn : gradient - kQuarterTurn);
    return out;
}

// Doubled angle of an orientation code (128 counts as 0).
uint8_t doubled_angle(uint8_t code) { return code == kHalfTurnCode ? 0 : static_cast<uint8_t>(2 * code); }

// The inclusive block range within `radius` of (bi, bj), clipped to the grid.
struct Neighbourhood {
    int32_t row0, row1, col0, col1;

    Neighbourhood(int32_t bi, int32_t bj, int32_t radius, int32_t block_rows, int32_t block_cols)
        : row0(bi - radius > 0 ? bi - radius : 0),
          row1(bi + radius < block_rows - 1 ? bi + radius : block_rows - 1),
          col0(bj - radius > 0 ? bj - radius : 0),
          col1(bj + radius < block_cols - 1 ? bj + radius : block_cols - 1) {}
};

int32_t smoothing_radius(const uint8_t* raw, int32_t bi, int32_t bj, int32_t block_rows, int32_t block_cols) {
    int32_t bins[kOrientationBins] = {};
    const Neighbourhood n(bi, bj, kHistogramRadius, block_rows, block_cols);
    for (int32_t i = n.row0; i <= n.row1; ++i)
        for (int32_t j = n.col0; j <= n.col1; ++j) {
            const uint8_t o = raw[at(i, j, block_cols)];
            if (o != 0) ++bins[(o % kHalfTurnCode) >> kOrientationBinShift];
        }
    const int32_t sum = sum_array(bins, kOrientationBins);
    const int32_t peak = max_array_int(bins, kOrientationBins);  // >= 1: the block itself counts
    return sum * 256 / peak > kSpreadThreshold ? 1 : 2;
}

uint8_t smoothed_code(const uint8_t* raw, const uint8_t* coherence, int32_t bi, int32_t bj, int32_t block_rows,
                      int32_t block_cols) {
    const int32_t radius = smoothing_radius(raw, bi, bj, block_rows, block_cols);
    const Neighbourhood n(bi, bj, radius, block_rows, block_cols);
    int32_t sum_cos = 0, sum_sin = 0;
    for (int32_t i = n.row0; i <= n.row1; ++i)
        for (int32_t j = n.col0; j <= n.col1; ++j) {
            const uint8_t o = raw[at(i, j, block_cols)];
            if (o == 0) continue;
            const int32_t weight = coherence[at(i, j, block_cols)];
            sum_cos += nex_cos(doubled_angle(o)) * weight;
            sum_sin += nex_sin(doubled_angle(o)) * weight;
        }
    const int32_t v = nex_arctan(sum_cos, sum_sin);
    return v <= 1 ? kHalfTurnCode : static_cast<uint8_t>(v >> 1);
}

// Bit-reversed 5-bit index.
int32_t reversed(int32_t k) {
    int32_t r = 0;
    for (int32_t b = 0; b < kProfileLog2; ++b) r |= ((k >> b) & 1) << (kProfileLog2 - 1 - b);
    return r;
}

}  // namespace

void smooth_orientations(const uint8_t* raw, const uint8_t* coherence, uint8_t* smoothed, int32_t block_rows,
                         int32_t block_cols) {
    for (int32_t bi = 0; bi < block_rows; ++bi)
        for (int32_t bj = 0; bj < block_cols; ++bj)
            smoothed[at(bi, bj, block_cols)] =
                raw[at(bi, bj, block_cols)] == 0 ? 0 : smoothed_code(raw, coherence, bi, bj, block_rows, block_cols);
}

void compute_orientation(uint8_t* work, int32_t rows, int32_t cols, uint8_t* smoothed, uint8_t* coherence,
                         uint8_t* raw, int32_t block_rows, int32_t block_cols) {
    if (block_rows < 1 || block_cols < 1) return;
    for (int32_t bi = 0; bi < block_rows; ++bi)
        for (int32_t bj = 0; bj < block_cols; ++bj) {
            const BlockSpan b(bi, bj, rows, cols);
            if (b.row1 <= b.row0 || b.col1 <= b.col0) continue;
            const uint32_t n = b.pixels();
            const uint32_t mean = block_sum(work, cols, b) / n;
            if (mean < kMinBlockMean || mean >= kMaxBlockMean) continue;
            uint32_t squares = 0;
            for (int32_t r = b.row0; r < b.row1; ++r)
                for (int32_t c = b.col0; c < b.col1; ++c) {
                    const int32_t d = work[at(r, c, cols)] - static_cast<int32_t>(mean);
                    squares += static_cast<uint32_t>(d * d);
                }
            const uint32_t variance = squares / n;
            if (variance < kMinBlockVariance) continue;
            normalise_block(work, cols, b, static_cast<int32_t>(mean), variance);
            const BlockOrientation o = orientation_of(window_tensor(work, rows, cols, bi, bj));
            coherence[at(bi, bj, block_cols)] = o.coherence;
            raw[at(bi, bj, block_cols)] = o.code;
        }
    smooth_orientations(raw, coherence, smoothed, block_rows, block_cols);
    gaussian_filter_3x3(coherence, block_rows, block_cols);
}

void block_ridge_profile(const uint8_t* work, int32_t rows, int32_t cols, int32_t bi, int32_t bj, uint8_t o,
                         int32_t* profile) {
    const BlockSpan b(bi, bj, rows, cols);
    const uint32_t n = b.pixels();
    const int32_t block_mean = n > 0 ? static_cast<int32_t>((block_sum(work, cols, b) / n) & 0xFF) : 0;
    const int32_t cy = bi * kNexBlockSize + kBlockCentre, cx = bj * kNexBlockSize + kBlockCentre;
    const int32_t c = nex_cos(o), s = nex_sin(o);
    for (int32_t k = 0; k < kProfileLength; ++k) {
        int32_t sum = 0, inside = 0;
        for (int32_t j = 0; j < kSamplesAlongRidge; ++j) {
            const int32_t r = cy + (((15 - k) * c + (j - 8) * s + kQ14Half) >> kQ14Shift);
            const int32_t x = cx + (((k - 15) * s + (j - 8) * c + kQ14Half) >> kQ14Shift);
            if (r < 0 || r >= rows || x < 0 || x >= cols) continue;
            sum += work[at(r, x, cols)];
            ++inside;
        }
        profile[k] = inside > 0 ? sum / inside : block_mean;
    }
}

uint8_t profile_period_code(const int32_t* profile) {
    int32_t re[kProfileLength], im[kProfileLength];
    for (int32_t k = 0; k < kProfileLength; ++k) {
        re[reversed(k)] = profile[k];
        im[reversed(k)] = 0;
    }
    for (int32_t size = 2; size <= kProfileLength; size *= 2) {
        const int32_t half = size / 2;
        for (int32_t group = 0; group < kProfileLength; group += size)
            for (int32_t m = 0; m < half; ++m) {
                const uint8_t angle = static_cast<uint8_t>(m * 256 / size);
                const int32_t wr = nex_cos(angle), wi = nex_sin(angle);
                const int32_t p = group + m, q = p + half;
                const int32_t tr = (wr * re[q] - wi * im[q] + kQ14Half) >> kQ14Shift;
                const int32_t ti = (wr * im[q] + wi * re[q] + kQ14Half) >> kQ14Shift;
                re[q] = re[p] - tr;
                im[q] = im[p] - ti;
                re[p] += tr;
                im[p] += ti;
            }
    }
    uint32_t power[kFrequencyCount];
    for (int32_t f = 0; f < kFrequencyCount; ++f) {
        const int32_t k = f + kLowestFrequency;
        power[f] = static_cast<uint32_t>(re[k] * re[k] + im[k] * im[k]);
    }
    return kPeriodCodes[max_loc_array(power, kFrequencyCount)];
}

void compute_frequency(uint8_t* work, int32_t rows, int32_t cols, const uint8_t* orientation, uint8_t* period,
                       int32_t block_rows, int32_t block_cols) {
    if (block_rows < 1 || block_cols < 1) return;
    int32_t profile[kProfileLength];
    for (int32_t bi = 0; bi < block_rows; ++bi)
        for (int32_t bj = 0; bj < block_cols; ++bj) {
            const uint8_t o = orientation[at(bi, bj, block_cols)];
            if (o == 0) {
                period[at(bi, bj, block_cols)] = kNexNoPeriod;
                continue;
            }
            block_ridge_profile(work, rows, cols, bi, bj, o, profile);
            period[at(bi, bj, block_cols)] = profile_period_code(profile);
        }
    gaussian_filter_3x3(period, block_rows, block_cols);
}
