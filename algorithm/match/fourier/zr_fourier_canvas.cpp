// Canvas operations of the Fourier search: copy, histogram, rotate-and-sample
// transform, bounding boxes, correlation and the entropy of a histogram.
#include <cstring>

#include <emmintrin.h>

#include "match/fourier/zr_fourier_internal.h"
#include "math/zr_roots.h"
#include "math/zr_trig.h"

namespace {

constexpr uint32_t kCellBytes = 2;
constexpr uint32_t kPadCells = 8;
constexpr uint32_t kAgreementRange = 21;  // differences of 21 and more weigh 0
constexpr uint32_t kMaxWeightProduct = kAgreementRange * kAgreementRange;  // 441
constexpr uint32_t kMinScoreDivisorPairs = 20;
constexpr uint32_t kProgressiveMinPairs = 31;
constexpr uint32_t kScoreSaturation = 32767;
constexpr uint64_t kScoreProductLimit = 0x7FFFFF;
constexpr uint32_t kLastBoxRow = 79;
constexpr int64_t kHalfCell4096 = 2048;  // half a cell in 1/4096 cell
constexpr uint32_t kAngleToTrig = 128;   // 512-a-turn angle to 16-bit angle

uint32_t canvas_stride(uint32_t cols) { return (cols + kPadCells) * kCellBytes; }

bool is_valid_cell(const uint8_t* cell) { return cell[1] != 0; }

void set_empty_box(spectral_box* box) { *box = spectral_box{1, 1, 0, 0}; }

uint32_t weight(uint32_t difference) {
    return difference >= kAgreementRange ? 0 : kAgreementRange - difference;
}

// |a - b| of two orientation bytes taken as a signed byte.
uint32_t orientation_difference(uint8_t a, uint8_t b) {
    const int32_t d = int8_t(uint8_t(a - b));
    return uint32_t(d < 0 ? -d : d);
}

uint32_t frequency_difference(uint8_t a, uint8_t b) { return a > b ? a - b : b - a; }

using correlation_sums = spectral_correlation;

// One cell pair's contribution to the sums.
void add_pair(const uint8_t* r, const uint8_t* p, correlation_sums* sums) {
    if (!is_valid_cell(r) || !is_valid_cell(p)) return;
    sums->sum += weight(orientation_difference(r[0], p[0])) * weight(frequency_difference(r[1], p[1]));
    ++sums->pairs;
}

// Eight cell pairs at once (SSE2): cells as 16-bit lanes, orientation in the
// low byte, frequency in the high byte. Adds the weight products to the four
// 32-bit lanes of *sum and the valid pairs (as -1 a lane) to *count.
inline void add_pairs8(__m128i r, __m128i p, __m128i* sum, __m128i* count) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_set1_epi16(0x00FF);
    const __m128i range = _mm_set1_epi16(int16_t(kAgreementRange));
    const __m128i r_o = _mm_and_si128(r, low), p_o = _mm_and_si128(p, low);
    const __m128i r_f = _mm_srli_epi16(r, 8), p_f = _mm_srli_epi16(p, 8);
    // |orientation difference| as a signed byte: min of d and -d modulo 256.
    const __m128i d = _mm_and_si128(_mm_sub_epi16(r_o, p_o), low);
    const __m128i neg = _mm_and_si128(_mm_sub_epi16(zero, d), low);
    const __m128i d_o = _mm_min_epi16(d, neg);
    const __m128i d_f = _mm_or_si128(_mm_subs_epu16(r_f, p_f), _mm_subs_epu16(p_f, r_f));
    const __m128i w = _mm_mullo_epi16(_mm_subs_epu16(range, d_o), _mm_subs_epu16(range, d_f));
    const __m128i valid = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi16(r_f, zero), _mm_cmpeq_epi16(p_f, zero)),
                                           _mm_set1_epi16(-1));
    *sum = _mm_add_epi32(*sum, _mm_madd_epi16(_mm_and_si128(w, valid), _mm_set1_epi16(1)));
    *count = _mm_add_epi16(*count, valid);
}

// Eight cells `step` (1 or 2) apart from cell 0 of `cells` as 16-bit lanes.
inline __m128i load_cells8(const uint8_t* cells, int32_t step) {
    if (step == 1) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells));
    // Every other cell: the low halves of the 32-bit lanes of 16 cells.
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + 16));
    return _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16), _mm_srai_epi32(_mm_slli_epi32(b, 16), 16));
}

uint64_t horizontal_sum(__m128i v) {
    alignas(16) uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
    return uint64_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
}

void correlate_lattice_vector(const spectral_lattice& l, correlation_sums* sums) {
    // Eight pairs read cells x .. x + 8 * step - 1; fewer at the end of a row go through copies.
    const int32_t span = 8 * l.step;
    for (int32_t y = l.top; y <= l.bottom; y += l.step) {
        const uint8_t* ref_row = l.reference + uint32_t(y) * l.ref_stride;
        const uint8_t* probe_row = l.probe + uint32_t(y - l.dy) * l.probe_stride;
        // A row adds at most 255 x 441 per lane of a 32-bit sum and 255
        // pairs per 16-bit count: neither overflows before it is folded.
        __m128i sum = _mm_setzero_si128(), count = _mm_setzero_si128();
        int32_t x = l.left;
        for (; x + span - 1 <= l.right; x += span) {
            const __m128i r = load_cells8(ref_row + uint32_t(x) * kCellBytes, l.step);
            const __m128i p = load_cells8(probe_row + uint32_t(x - l.dx) * kCellBytes, l.step);
            add_pairs8(r, p, &sum, &count);
        }
        if (x <= l.right) {
            // The last cells (fewer than eight pairs) through zeroed copies
            // of the cells x .. right: the lanes past `right` read empty
            // cells, which add and count nothing.
            alignas(16) uint8_t r_tail[2 * 8 * kCellBytes] = {}, p_tail[2 * 8 * kCellBytes] = {};
            const size_t bytes = size_t(l.right - x + 1) * kCellBytes;
            std::memcpy(r_tail, ref_row + uint32_t(x) * kCellBytes, bytes);
            std::memcpy(p_tail, probe_row + uint32_t(x - l.dx) * kCellBytes, bytes);
            add_pairs8(load_cells8(r_tail, l.step), load_cells8(p_tail, l.step), &sum, &count);
        }
        sums->sum += horizontal_sum(sum);
        // Each lane counted its valid pairs as -1.
        const __m128i pairs = _mm_madd_epi16(count, _mm_set1_epi16(-1));
        sums->pairs += uint32_t(horizontal_sum(pairs));
    }
}

void correlate_lattice_scalar(const spectral_lattice& l, correlation_sums* sums) {
    for (int32_t y = l.top; y <= l.bottom; y += l.step) {
        const uint8_t* ref_row = l.reference + uint32_t(y) * l.ref_stride;
        const uint8_t* probe_row = l.probe + uint32_t(y - l.dy) * l.probe_stride;
        for (int32_t x = l.left; x <= l.right; x += l.step)
            add_pair(ref_row + uint32_t(x) * kCellBytes, probe_row + uint32_t(x - l.dx) * kCellBytes, sums);
    }
}

int64_t max64(int64_t a, int64_t b) { return a > b ? a : b; }
int64_t min64(int64_t a, int64_t b) { return a < b ? a : b; }

}  // namespace

spectral_correlation spectral_correlate_lattice(const spectral_lattice& lattice, bool vector) {
    spectral_correlation sums;
    if (vector)
        correlate_lattice_vector(lattice, &sums);
    else
        correlate_lattice_scalar(lattice, &sums);
    return sums;
}

uint32_t align8_feature_canvas(const uint8_t* cells, uint8_t cols, uint8_t rows,
                               uint8_t* canvas) {
    const uint32_t stride = canvas_stride(cols);
    std::memset(canvas, 0, size_t(stride) * rows);
    for (uint32_t r = 0; r < rows; ++r) {
        std::memcpy(canvas + r * stride, cells + r * cols * kCellBytes, cols * kCellBytes);
    }
    return stride * rows;
}

uint32_t hist_ori(const uint8_t* cells, uint8_t row_length, uint8_t rows,
                  uint16_t out[kSpectralOrientationBins]) {
    std::memset(out, 0, kSpectralOrientationBins * sizeof(uint16_t));
    const uint32_t count = uint32_t(row_length) * rows;
    uint32_t valid = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* cell = cells + i * kCellBytes;
        if (!is_valid_cell(cell)) continue;
        ++out[spectral_orientation_bin(cell[0])];
        ++valid;
    }
    return valid;
}

uint32_t hist_ori_agreement(const uint16_t probe[kSpectralOrientationBins],
                            const uint16_t reference[kSpectralOrientationBins], uint32_t shift) {
    uint32_t sum = 0;
    for (uint32_t b = 0; b < kSpectralOrientationBins; ++b) {
        const uint16_t other = reference[(b + shift) % kSpectralOrientationBins];
        sum += probe[b] < other ? probe[b] : other;
    }
    return sum;
}

void transform_features(const uint8_t* source, uint8_t source_cols, uint8_t source_rows,
                        uint8_t* canvas, uint8_t canvas_cols, uint8_t canvas_rows, int16_t angle,
                        int32_t dx, int32_t dy, int32_t scale_x, int32_t scale_y) {
    const uint32_t stride = canvas_stride(canvas_cols);
    std::memset(canvas, 0, size_t(stride) * canvas_rows);
    if (source_cols == 0 || source_rows == 0 || scale_x <= 0 || scale_y <= 0) return;
    const uint32_t trig_angle = uint32_t(int32_t(angle) * int32_t(kAngleToTrig)) & 0xFFFF;
    const int64_t c = zr_cos14_(trig_angle);
    const int64_t s = zr_sin14_(trig_angle);
    // Source steps in 1/4096 cell (Q14 x 8 / scale, 32 = one cell).
    const int64_t col_step_x = (8 * c) / scale_x;
    const int64_t col_step_y = (-8 * s) / scale_y;
    const int64_t row_step_x = (8 * s) / scale_x;
    const int64_t row_step_y = (8 * c) / scale_y;
    // Canvas cell (0, 0) relative to the shifted canvas centre, in 1/32 cell.
    const int64_t rel_x = -(int64_t(canvas_cols - 1) * 16 + dx);
    const int64_t rel_y = -(int64_t(canvas_rows - 1) * 16 + dy);
    const int64_t start_x = int64_t(source_cols - 1) * kHalfCell4096 +
                            ((rel_x * col_step_x + rel_y * row_step_x) >> 5);
    const int64_t start_y = int64_t(source_rows - 1) * kHalfCell4096 +
                            ((rel_x * col_step_y + rel_y * row_step_y) >> 5);
    const uint32_t source_stride = uint32_t(source_cols) * kCellBytes;
    const uint8_t turn = uint8_t(angle);
    for (uint32_t y = 0; y < canvas_rows; ++y) {
        int64_t px = start_x + int64_t(y) * row_step_x;
        int64_t py = start_y + int64_t(y) * row_step_y;
        uint8_t* out = canvas + y * stride;
        for (uint32_t x = 0; x < canvas_cols; ++x, px += col_step_x, py += col_step_y) {
            const int64_t sx = (px + kHalfCell4096) >> 12;
            const int64_t sy = (py + kHalfCell4096) >> 12;
            if (sx < 0 || sy < 0 || sx >= source_cols || sy >= source_rows) continue;
            const uint8_t* cell = source + uint32_t(sy) * source_stride + uint32_t(sx) * kCellBytes;
            out[x * kCellBytes] = uint8_t(cell[0] + turn);
            out[x * kCellBytes + 1] = cell[1];
        }
    }
}

uint32_t get_bounding_box(const uint8_t* canvas, uint32_t cols, uint8_t rows, spectral_box* box) {
    const uint32_t stride = canvas_stride(cols);
    uint32_t left = UINT32_MAX, right = 0, top = UINT32_MAX, bottom = 0;
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* row = canvas + y * stride;
        for (uint32_t x = 0; x < cols; ++x) {
            if (!is_valid_cell(row + x * kCellBytes)) continue;
            if (x < left) left = x;
            if (x > right) right = x;
            if (y < top) top = y;
            bottom = y;
        }
    }
    if (top == UINT32_MAX || bottom > kLastBoxRow) {
        set_empty_box(box);
        return 0;
    }
    const uint32_t area = (right - left + 1) * (bottom - top + 1);
    if (area == 1) {
        set_empty_box(box);
        return 0;
    }
    *box = spectral_box{uint16_t(left), uint16_t(top), uint16_t(right), uint16_t(bottom)};
    return area;
}

int32_t refine_bounding_boxes(const spectral_box* reference, const spectral_box* probe,
                              int32_t row_offset) {
    const int64_t top = max64(int64_t(probe->top) + row_offset, reference->top);
    const int64_t count =
        min64(int64_t(probe->bottom) + 1 - max64(int64_t(reference->top) - row_offset, probe->top),
              int64_t(reference->bottom) + 1 - top);
    return count < 0 ? int32_t(count) : 1;
}

uint32_t spectral_overlap_factor(uint32_t count, uint32_t block_factor) {
    const uint64_t shifted = uint64_t(count) << 12;
    const uint32_t inner = zr_sqrt_32(shifted > UINT32_MAX ? UINT32_MAX : uint32_t(shifted));
    const uint64_t product = uint64_t(inner) * block_factor;
    return zr_sqrt_32(product > UINT32_MAX ? UINT32_MAX : uint32_t(product));
}

uint32_t spectral_score(uint64_t sum, uint32_t pairs, uint32_t estimate, uint32_t block_factor) {
    const uint64_t divisor =
        uint64_t(pairs > kMinScoreDivisorPairs ? pairs : kMinScoreDivisorPairs) * kMaxWeightProduct;
    const uint64_t average = (sum << 15) / divisor;
    const uint64_t product = average * spectral_overlap_factor(estimate, block_factor);
    if (product > kScoreProductLimit) return kScoreSaturation;
    return uint32_t(product >> 8);
}

uint32_t xcorr_features(const uint8_t* reference, uint8_t cols, uint8_t rows,
                        const spectral_box* reference_box, const uint8_t* probe,
                        uint8_t canvas_cols, uint8_t canvas_rows, const spectral_box* probe_box,
                        int32_t dx, int32_t dy, uint32_t* out_score, uint32_t* out_zero,
                        uint32_t min_overlap, int32_t progressive, uint32_t block_factor) {
    *out_score = 0;
    if (out_zero != nullptr) *out_zero = 0;
    const int64_t overlap_cols = min64(int64_t(dx) + canvas_cols, cols) - max64(dx, 0);
    const int64_t overlap_rows = min64(int64_t(dy) + canvas_rows, rows) - max64(dy, 0);
    if (overlap_cols <= 0 || overlap_rows <= 0) return 0;
    if (overlap_cols * overlap_rows < int64_t(min_overlap)) return 0;
    const int64_t left = max64(reference_box->left, int64_t(probe_box->left) + dx);
    const int64_t right = min64(reference_box->right, int64_t(probe_box->right) + dx);
    const int64_t top = max64(reference_box->top, int64_t(probe_box->top) + dy);
    const int64_t bottom = min64(reference_box->bottom, int64_t(probe_box->bottom) + dy);
    if (left > right || top > bottom) return 0;

    // The whole intersection; progressive passes take its 2 x 2 sub-lattices.
    spectral_lattice lattice{reference, canvas_stride(cols), probe, canvas_stride(canvas_cols),
                             dx, dy, int32_t(left), int32_t(top), int32_t(right), int32_t(bottom),
                             1};
    correlation_sums sums;
    uint32_t estimate = 0;
    if (progressive == 0) {
        correlate_lattice_vector(lattice, &sums);
        estimate = sums.pairs;
    } else {
        lattice.step = 2;
        bool stopped = false;
        for (uint32_t pass = 0; pass < 4 && !stopped; ++pass) {
            lattice.left = int32_t(left + (pass & 1));
            lattice.top = int32_t(top + (pass >> 1));
            correlate_lattice_vector(lattice, &sums);
            const uint64_t passes = pass + 1;
            if (sums.pairs > kProgressiveMinPairs &&
                4 * uint64_t(sums.pairs) >= passes * min_overlap) {
                estimate = uint32_t((4 * uint64_t(sums.pairs) + passes - 1) / passes);
                stopped = true;
            }
        }
        if (!stopped) estimate = sums.pairs;
    }
    *out_score = spectral_score(sums.sum, sums.pairs, estimate, block_factor);
    return estimate;
}

namespace {

struct entropy_point {
    int32_t p;
    int32_t value;  // 1000 x log2(p / 1000)
};

constexpr entropy_point kLog2Points[] = {
    {1, -9966},  {10, -6644},  {20, -5644},  {40, -4644},  {80, -3644},
    {120, -3059}, {200, -2322}, {300, -1737}, {400, -1322}, {500, -1000},
    {600, -737},  {700, -515},  {800, -322},  {900, -153},  {1000, 0},
};

// 1000 x log2(p / 1000) for p in 1..1000, linear between the points.
int64_t log2_permille(int64_t p) {
    constexpr size_t kPoints = sizeof(kLog2Points) / sizeof(kLog2Points[0]);
    for (size_t i = 1; i < kPoints; ++i) {
        const entropy_point lower = kLog2Points[i - 1];
        const entropy_point upper = kLog2Points[i];
        if (p > upper.p) continue;
        const int64_t w = (upper.p - p) * 1000 / (upper.p - lower.p);
        return w * lower.value / 1000 + (1000 - w) * upper.value / 1000;
    }
    return 0;
}

}  // namespace

uint16_t calculate_entropy_score(const uint32_t* histogram, uint32_t bins) {
    uint64_t total = 0;
    for (uint32_t b = 0; b < bins; ++b) total += histogram[b];
    if (total == 0) total = 1;
    int64_t entropy = 0;
    for (uint32_t b = 0; b < bins; ++b) {
        const int64_t p = int64_t(uint64_t(histogram[b]) * 1000 / total);
        if (p <= 0) continue;  // -p log p is 0
        entropy += -p * log2_permille(p) / 10000;
    }
    if (entropy > 65535) return 65535;
    return uint16_t(entropy < 0 ? 0 : entropy);
}
