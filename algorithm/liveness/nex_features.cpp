#include "liveness/nex_features.h"

#include <cstring>

namespace {

constexpr uint32_t kHistogramBins = 256;
constexpr uint32_t kNormalisedTotal = 0x7FFFFFFF;
constexpr int32_t kNormalisationShift = 11;

// The rotation-minimal 8-bit codes, one per LBP class, in feature order.
constexpr uint8_t kLbpClasses[kNexLbpClasses] = {
    0,  1,  3,  5,  7,  9,  11, 13, 15, 17, 19, 21, 23, 25, 27,  29,  31,  37,
    39, 43, 45, 47, 51, 53, 55, 59, 61, 63, 85, 87, 91, 95, 111, 119, 127, 255,
};

// The codes that are minimal under rotation by 2, 4 and 6 bits, one per LPQ
// class, in feature order.
constexpr uint8_t kLpqClasses[kNexLpqClasses] = {
    0,  1,  2,  3,  5,  6,  7,  9,   10,  11,  13,  14,  15,  17,  18,  19,  21,  22,  23,  25,  26,  27,  29,  30,
    31, 34, 35, 37, 38, 39, 41, 42,  43,  45,  46,  47,  51,  53,  54,  55,  57,  58,  59,  61,  62,  63,  85,  86,
    87, 90, 91, 94, 95, 102, 103, 106, 107, 110, 111, 119, 122, 123, 126, 127, 170, 171, 175, 187, 191, 255,
};

// round(r / sqrt 2) for radii 0..5.
constexpr int32_t kLbpDiagonal[] = {0, 1, 1, 2, 3, 4};
constexpr int32_t kLbpMaxRadius = 5;

// Cosine and sine of 2 pi k / 5, each scaled by its own positive factor.
constexpr int32_t kLpqCos[5] = {6627, 2048, -5361, -5361, 2048};
constexpr int32_t kLpqSin[5] = {0, 3314, 2048, -2048, -3314};
constexpr int32_t kLpqMinRows = 5;

// db8 wavelet kernels, Q18 with halved coefficients, newest value first.
constexpr int32_t kWaveletDetail[nex_wavelet_state::kTaps] = {
    -7132, 41009, -88556, 76724, 2075, -37226, -62, 16875, 2277, -5779, -1833, 1146, 638, -51, -89, -15,
};
constexpr int32_t kWaveletApproximation[nex_wavelet_state::kTaps] = {
    -15, 89, -51, -638, 1146, 1833, -5779, -2277, 16875, 62, -37226, -2075, 76724, 88556, 41009, 7132,
};
constexpr int32_t kWaveletShift = 18;

// Pore detector.
constexpr int32_t kPoreContrastCentres[kNexPoreContrastBins] = {30, 60, 120, 210, 360, 660, 1200, 2220, 4020, 7350};
constexpr int32_t kPoreSpacingCentres[kNexPoreSpacingBins] = {2, 3, 4, 6, 8, 13, 21, 34, 56};
constexpr int32_t kPoreHistogramScale = 1000;
constexpr int32_t kPoreDensityScale = 40000;
constexpr int32_t kNoMaskedNeighbour = 255;

// Grey level scale of the walked values.
constexpr int32_t kWalkGreyScale = 32;

struct Offset {
    int32_t dr, dc;
};

// The 8-neighbourhood in the order the walk looks for its first step.
constexpr Offset kNeighbours[8] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1}, {1, -1}, {1, 0}, {1, 1}};

// The second ring of the pore detector's mean, as the models were trained
// with: it repeats (0, 2), holds (0, -1) and (-1, 1) of the inner ring and
// lacks (2, -1) and (-2, 1).
constexpr Offset kPoreOuterMean[12] = {{-1, -2}, {0, -2}, {1, -2}, {-2, -1}, {0, -1}, {2, 0},
                                       {-2, 0},  {2, 1},  {-1, 1}, {0, 2},   {1, 2},  {0, 2}};

// The pore's contrast neighbourhood: the 8-neighbourhood, then the twelve
// pixels at distance 2 and sqrt 5.
constexpr Offset kPoreContrastRing[20] = {
    {-1, -1}, {-1, 0}, {-1, 1}, {0, -1}, {0, 1},  {1, -1}, {1, 0}, {1, 1}, {-2, -1}, {-2, 0},
    {-2, 1},  {-1, -2}, {-1, 2}, {0, -2}, {0, 2}, {1, -2}, {1, 2}, {2, -1}, {2, 0},  {2, 1},
};

uint8_t rotate_left(uint8_t v, uint32_t bits) {
    return static_cast<uint8_t>(((v << bits) | (v >> (8 - bits))) & 0xFF);
}

uint32_t magnitude(int32_t v) { return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v); }

// acc += v with 32-bit wrap.
void add_wrapping(int32_t& acc, uint32_t v) { acc = static_cast<int32_t>(static_cast<uint32_t>(acc) + v); }

// Writes the listed bins of a folded histogram, normalised over `pixels`.
void write_normalised(const uint32_t* histogram, uint32_t pixels, const uint8_t* classes, int32_t count,
                      int32_t* out) {
    if (pixels == 0) return;
    const uint32_t scale = kNormalisedTotal / pixels;
    for (int32_t i = 0; i < count; ++i)
        out[i] = static_cast<int32_t>((histogram[classes[i]] * scale) >> kNormalisationShift);
}

// The image and mask of one walk function, with reads that treat every
// position outside the image as unmasked.
struct Skeleton {
    const uint8_t* image;
    uint8_t* mask;
    int32_t rows, cols;
    uint8_t bit;

    bool inside(int32_t r, int32_t c) const { return r >= 0 && r < rows && c >= 0 && c < cols; }
    size_t index(int32_t r, int32_t c) const { return static_cast<size_t>(r) * static_cast<size_t>(cols) + c; }
    uint8_t mask_at(int32_t r, int32_t c) const { return inside(r, c) ? mask[index(r, c)] : 0; }
    bool marked(int32_t r, int32_t c) const { return (mask_at(r, c) & bit) != 0; }
    int32_t grey(int32_t r, int32_t c) const { return image[index(r, c)]; }

    int32_t marked_neighbours(int32_t r, int32_t c) const {
        int32_t n = 0;
        for (const Offset& o : kNeighbours) n += marked(r + o.dr, c + o.dc) ? 1 : 0;
        return n;
    }

    // Rounded mean grey of the masked pixels among the offsets, or 255 when
    // none is masked.
    template <size_t N>
    int32_t masked_mean(int32_t r, int32_t c, const Offset (&offsets)[N]) const {
        int32_t sum = 0, n = 0;
        for (const Offset& o : offsets)
            if (mask_at(r + o.dr, c + o.dc) != 0) {
                sum += grey(r + o.dr, c + o.dc);
                ++n;
            }
        return n > 0 ? int_div(sum, n) : kNoMaskedNeighbour;
    }
};

// Traces one skeleton line from the end (row, col), clearing each visited
// pixel's bit before `visit` sees it.
template <typename Visit>
void walk_line(Skeleton& sk, int32_t row, int32_t col, Visit&& visit) {
    int32_t r = row, c = col, dx = 0, dy = 0;
    for (;;) {
        sk.mask[sk.index(r, c)] &= static_cast<uint8_t>(~sk.bit);
        visit(r, c);
        if (dx == 0 && dy == 0) {
            const Offset* next = nullptr;
            for (const Offset& o : kNeighbours)
                if (sk.marked(r + o.dr, c + o.dc)) {
                    next = &o;
                    break;
                }
            if (!next) return;
            r += next->dr;
            c += next->dc;
            dx = next->dc;
            dy = next->dr;
            continue;
        }
        if (dx != 0) {
            bool moved = false;
            for (int32_t step = -1; step <= 1; ++step)
                if (sk.marked(r + step, c + dx)) {
                    r += step;
                    c += dx;
                    dy = step;
                    moved = true;
                    break;
                }
            if (moved) continue;
            if (dy == 0) return;
        }
        // Vertical step: the first marked pixel of the three on the next row.
        const int32_t next_row = r + dy;
        bool moved = false;
        for (int32_t step = -1; step <= 1; ++step)
            if (sk.marked(next_row, c + step)) {
                r = next_row;
                c += step;
                dx = step;
                moved = true;
                break;
            }
        if (!moved) return;
    }
}

// Walks every line of the skeleton that starts at a line end (exactly one
// marked neighbour) inside rows 2..rows-2 and columns 2..cols-2.
template <typename Visit>
void walk_skeleton(Skeleton& sk, Visit&& visit) {
    for (int32_t r = 2; r < sk.rows - 1; ++r)
        for (int32_t c = 2; c < sk.cols - 1; ++c)
            if (sk.marked(r, c) && sk.marked_neighbours(r, c) == 1) walk_line(sk, r, c, visit);
}

// The grey-level statistics shared by the ridge and valley walks.
struct LineStatistics {
    int32_t* out;  // 14 accumulators: |s|, |change of s|, 12 of the cascade
    int32_t previous = 0;
    nex_wavelet_state wavelet;

    explicit LineStatistics(int32_t* accumulators) : out(accumulators) { nex_wavelet_reset(&wavelet); }

    void add(int32_t grey) {
        const int32_t s = kWalkGreyScale * grey;
        add_wrapping(out[0], magnitude(s));
        add_wrapping(out[1], magnitude(s - previous));
        previous = s;
        nex_wavelet_push(&wavelet, s);
        filter_WT_scales(out + 2, &wavelet);
    }

    // Divides accumulator k and k + 7 by count k, by position.
    void finish() {
        for (int32_t k = 0; k <= nex_wavelet_state::kLevels + 1; ++k) {
            const int32_t n = wavelet.count[k];
            if (n <= 0) continue;
            out[k] = int_div(out[k], n);
            out[k + 7] = int_div(out[k + 7], n);
        }
    }
};

}  // namespace

int32_t int_div(int32_t a, int32_t b) {
    if (b == 0) return 0;
    const int64_t half = b / 2;
    const bool same_sign = (a >= 0) == (b >= 0);
    const int64_t q = (same_sign ? int64_t{a} + half : int64_t{a} - half) / b;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(q)));
}

uint8_t int2uchar(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

int32_t hist_mapping(int32_t value, const int32_t* centres, int32_t n) {
    if (n < 2) return 0;
    int32_t best = 0;
    int64_t best_distance = int64_t{value} - centres[0];
    if (best_distance < 0) best_distance = -best_distance;
    for (int32_t i = 1; i < n; ++i) {
        int64_t d = int64_t{value} - centres[i];
        if (d < 0) d = -d;
        if (d < best_distance) {
            best_distance = d;
            best = i;
        }
    }
    return best;
}

void hist_eq(uint8_t* bytes, int32_t n) {
    if (n < 1) return;
    uint32_t cumulative[kHistogramBins] = {};
    for (int32_t i = 0; i < n; ++i) ++cumulative[bytes[i]];
    for (uint32_t v = 1; v < kHistogramBins; ++v) cumulative[v] += cumulative[v - 1];
    for (int32_t i = 0; i < n; ++i)
        bytes[i] = static_cast<uint8_t>(uint64_t{255} * cumulative[bytes[i]] / static_cast<uint32_t>(n));
}

void hist_int(const int32_t* values, int32_t n, int32_t* counts, const int32_t* centres, int32_t k) {
    for (int32_t i = 0; i < k; ++i) counts[i] = 0;
    if (k < 1) return;
    for (int32_t i = 0; i < n; ++i) ++counts[hist_mapping(values[i], centres, k)];
}

namespace {

template <typename T>
int32_t variance_of(const T* values, int32_t n) {
    if (n < 1) return 0;
    uint32_t sum = 0;
    for (int32_t i = 0; i < n; ++i) sum += static_cast<uint32_t>(int32_t{values[i]});
    const int32_t mean = int_div(static_cast<int32_t>(sum), n);
    uint32_t squares = 0;
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t d = static_cast<uint32_t>(int32_t{values[i]}) - static_cast<uint32_t>(mean);
        squares += d * d;
    }
    squares += static_cast<uint32_t>(n / 2);
    return static_cast<int32_t>(squares) / n;
}

}  // namespace

int32_t var_array(const int32_t* values, int32_t n) { return variance_of(values, n); }
int32_t var_array_uchar(const uint8_t* values, int32_t n) { return variance_of(values, n); }

void transfer_lbp_features(const uint32_t* histogram, uint32_t pixels, int32_t* out) {
    write_normalised(histogram, pixels, kLbpClasses, kNexLbpClasses, out);
}

void extract_lbp_features(int32_t* out, const uint8_t* image, const uint8_t* mask, int32_t radius, int32_t rows,
                          int32_t cols) {
    if (radius < 1 || radius > kLbpMaxRadius) return;
    const int32_t r = radius, d = kLbpDiagonal[radius];
    const Offset ring[8] = {{-d, -d}, {-r, 0}, {-d, d}, {0, r}, {d, d}, {r, 0}, {d, -d}, {0, -r}};
    const size_t stride = static_cast<size_t>(cols > 0 ? cols : 0);
    uint32_t histogram[kHistogramBins] = {};
    uint32_t pixels = 0;
    for (int32_t y = r; y < rows - r; ++y)
        for (int32_t x = r; x < cols - r; ++x) {
            const size_t at = static_cast<size_t>(y) * stride + x;
            if (mask[at] == 0) continue;
            const uint8_t centre = image[at];
            uint32_t code = 0;
            for (uint32_t bit = 0; bit < 8; ++bit) {
                const size_t n = static_cast<size_t>(y + ring[bit].dr) * stride + (x + ring[bit].dc);
                if (centre < image[n]) code |= 1u << bit;
            }
            ++histogram[code];
            ++pixels;
        }
    if (pixels == 0) return;
    for (uint32_t v = 0; v < kHistogramBins; ++v) {
        uint8_t smallest = static_cast<uint8_t>(v);
        for (uint32_t k = 1; k < 8; ++k) {
            const uint8_t rotated = rotate_left(static_cast<uint8_t>(v), k);
            if (rotated < smallest) smallest = rotated;
        }
        if (smallest != v) histogram[smallest] += histogram[v];
    }
    transfer_lbp_features(histogram, pixels, out);
}

namespace {

// The LPQ code of the 5 x 5 window whose top-left pixel is `window`: bit
// pairs (imaginary low, real high) of the 1/5 frequency along the
// anti-diagonal, the columns, the diagonal and the rows; a bit is set when
// its sum is zero or positive.
uint32_t lpq_code(const uint8_t* window, size_t stride) {
    int32_t sums[8] = {};
    for (int32_t i = 0; i < 5; ++i)
        for (int32_t j = 0; j < 5; ++j) {
            const int32_t v = window[static_cast<size_t>(i) * stride + j];
            const int32_t anti = (j - i + 5) % 5, diagonal = (i + j) % 5;
            sums[0] += v * kLpqSin[anti];
            sums[1] += v * kLpqCos[anti];
            sums[2] += v * kLpqSin[j];
            sums[3] += v * kLpqCos[j];
            sums[4] += v * kLpqSin[diagonal];
            sums[5] += v * kLpqCos[diagonal];
            sums[6] += v * kLpqSin[i];
            sums[7] += v * kLpqCos[i];
        }
    uint32_t code = 0;
    for (uint32_t bit = 0; bit < 8; ++bit)
        if (sums[bit] >= 0) code |= 1u << bit;
    return code;
}

}  // namespace

void lpq_features(const uint8_t* image, const uint8_t* mask, int32_t rows, int32_t cols, int32_t* out) {
    if (rows < kLpqMinRows) return;
    const size_t stride = static_cast<size_t>(cols > 0 ? cols : 0);
    uint32_t histogram[kHistogramBins] = {};
    uint32_t pixels = 0;
    for (int32_t y = 2; y < rows - 2; ++y)
        for (int32_t x = 2; x < cols - 2; ++x) {
            if (mask[static_cast<size_t>(y) * stride + x] == 0) continue;
            ++histogram[lpq_code(image + static_cast<size_t>(y - 2) * stride + (x - 2), stride)];
            ++pixels;
        }
    if (pixels == 0) return;
    for (uint32_t v = 1; v < kHistogramBins; ++v) {
        uint8_t smallest = static_cast<uint8_t>(v);
        for (uint32_t k = 2; k < 8; k += 2) {
            const uint8_t rotated = rotate_left(static_cast<uint8_t>(v), k);
            if (rotated < smallest) smallest = rotated;
        }
        if (smallest != v) histogram[smallest] += histogram[v];
    }
    write_normalised(histogram, pixels, kLpqClasses, kNexLpqClasses, out);
}

void nex_wavelet_reset(nex_wavelet_state* state) {
    std::memset(state, 0, sizeof *state);
    for (int32_t& p : state->position) p = nex_wavelet_state::kTaps - 1;
    for (int32_t& t : state->toggle) t = 1;
}

namespace {

void push_value(nex_wavelet_state* state, int32_t level, int32_t value) {
    int32_t& p = state->position[level];
    p = (p + 1) & (nex_wavelet_state::kTaps - 1);
    state->buffer[level][p] = value;
}

// The kernel applied to the 16 newest values of one level, newest first,
// as a wrapping 32-bit sum shifted right arithmetically.
int32_t filter_newest(const nex_wavelet_state* state, int32_t level, const int32_t* kernel) {
    uint32_t sum = 0;
    const int32_t newest = state->position[level];
    for (int32_t t = 0; t < nex_wavelet_state::kTaps; ++t) {
        const int32_t v = state->buffer[level][(newest - t) & (nex_wavelet_state::kTaps - 1)];
        sum += static_cast<uint32_t>(kernel[t]) * static_cast<uint32_t>(v);
    }
    return static_cast<int32_t>(sum) >> kWaveletShift;
}

}  // namespace

void nex_wavelet_push(nex_wavelet_state* state, int32_t s) {
    push_value(state, 0, s);
    ++state->count[0];
}

void filter_WT_scales(int32_t* out, nex_wavelet_state* state) {
    for (int32_t k = 0; k < nex_wavelet_state::kLevels; ++k) {
        state->toggle[k] ^= 1;
        if (state->toggle[k] == 0) return;
        const int32_t d = filter_newest(state, k, kWaveletDetail);
        const int32_t a = filter_newest(state, k, kWaveletApproximation);
        push_value(state, k + 1, a);
        add_wrapping(out[2 * k], magnitude(d));
        add_wrapping(out[2 * k + 1], magnitude(d - state->previous_detail[k]));
        state->previous_detail[k] = d;
        ++state->count[k + 1];
        if (k == nex_wavelet_state::kLevels - 1) {
            add_wrapping(out[2 * nex_wavelet_state::kLevels], magnitude(a));
            add_wrapping(out[2 * nex_wavelet_state::kLevels + 1], magnitude(a - state->previous_approximation));
            state->previous_approximation = a;
            ++state->count[nex_wavelet_state::kLevels + 1];
        }
    }
}

void ridge_pore_features(const uint8_t* image, uint8_t* mask, int32_t rows, int32_t cols, int32_t* record) {
    Skeleton sk{image, mask, rows, cols, kNexRidgeBit};
    LineStatistics stats(record + kNexRidgeStats);
    int32_t pores = 0;
    int32_t steps = 0;  // ridge pixels since the previous pore, over all ridges
    walk_skeleton(sk, [&](int32_t r, int32_t c) {
        const int32_t grey = sk.grey(r, c);
        const int32_t inner = sk.masked_mean(r, c, kNeighbours);
        const int32_t outer = sk.masked_mean(r, c, kPoreOuterMean);
        if (inner > outer && grey > inner) {
            int32_t values[20];
            int32_t n = 0;
            for (const Offset& o : kPoreContrastRing)
                if (sk.mask_at(r + o.dr, c + o.dc) != 0) values[n++] = sk.grey(r + o.dr, c + o.dc);
            const int32_t variance = var_array(values, n);
            ++record[kNexPoreContrast + hist_mapping(variance, kPoreContrastCentres, kNexPoreContrastBins)];
            ++record[kNexPoreSpacing + hist_mapping(steps, kPoreSpacingCentres, kNexPoreSpacingBins)];
            ++pores;
            steps = 1;
        } else {
            ++steps;
        }
        stats.add(grey);
    });
    if (pores > 0)
        for (int32_t i = kNexPoreContrast; i < kNexPoreDensity; ++i)
            record[i] = int_div(static_cast<int32_t>(static_cast<uint32_t>(record[i]) * kPoreHistogramScale), pores);
    const int32_t traced = stats.wavelet.count[0];
    if (traced > 0)
        record[kNexPoreDensity] =
            int_div(static_cast<int32_t>(static_cast<uint32_t>(pores) * kPoreDensityScale), traced);
    stats.finish();
}

void valley_features(const uint8_t* image, uint8_t* mask, int32_t rows, int32_t cols, int32_t* record) {
    Skeleton sk{image, mask, rows, cols, kNexValleyBit};
    LineStatistics stats(record + kNexValleyStats);
    walk_skeleton(sk, [&](int32_t r, int32_t c) { stats.add(sk.grey(r, c)); });
    stats.finish();
}

void nex_features_extract(const uint8_t* image, uint8_t* mask, int32_t rows, int32_t cols, int32_t* record) {
    std::memset(record, 0, sizeof(int32_t) * kNexFeatureCount);
    if (rows < 1 || cols < 1) return;
    extract_lbp_features(record + kNexLbpRadius1, image, mask, 1, rows, cols);
    extract_lbp_features(record + kNexLbpRadius2, image, mask, 2, rows, cols);
    lpq_features(image, mask, rows, cols, record + kNexLpq);
    ridge_pore_features(image, mask, rows, cols, record);
    valley_features(image, mask, rows, cols, record);
}
