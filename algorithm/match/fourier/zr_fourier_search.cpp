// Fourier match search: coarse rotation and translation grid with neighbour
// probing, rotation refinement, fine-grid and sub-cell refinement, the
// overlap statistics and the outputs. Works in the caller's buffer only.
#include <cstring>

#include "match/fourier/zr_fourier.h"
#include "match/fourier/zr_fourier_internal.h"
#include "match/fourier/zr_fourier_search.h"
#include "math/zr_roots.h"
#include "math/zr_trig.h"

namespace {

constexpr uint32_t kCellBytes = 2;
constexpr uint32_t kPadCells = 8;
constexpr uint32_t kMaxLevel = 12;

constexpr int16_t kTrialRotations[] = {0,    21,  -21, 43,   -43, 64,   -64, 85,
                                       -85,  107, -107, 128, -128, 149, -149, 171,
                                       -171, 192, -192, 213, -213, 235, -235, -256};
constexpr uint32_t kTrialsNormal = 3;
constexpr uint32_t kTrials360 = sizeof(kTrialRotations) / sizeof(kTrialRotations[0]);
constexpr int16_t kRotationRefinement[] = {0, -7, 7, -14, 14};
constexpr int16_t kFineRotationRefinement[] = {0, -3, 3};
constexpr int32_t kSubCellOffsets[] = {0, -16, 16};  // 1/32 cell
constexpr int32_t kRotationWindow = 2;               // cells around the coarse best

constexpr uint32_t kHistogramDivisor = 100;
constexpr uint32_t kHistogramDivisorLowLatency = 60;
constexpr uint32_t kHintLimit = 180;
constexpr uint32_t kHintLimitLowLatency = 90;
constexpr uint32_t kSmallArea = 169;  // below: grid step 2 and no progressive correlation
constexpr int32_t kQualityOffset = 35;
constexpr int32_t kMinQuality = 40;
constexpr uint32_t kQualityReference = 56320;  // (90 - 35) << 10: quality 90 leaves a score
constexpr uint32_t kFeatureEntries = 16;
constexpr uint32_t kOrientationFeatureBins = 32;
constexpr uint32_t kOrientationGroupBins = 8;
constexpr uint32_t kWeightBins = 22;
constexpr uint32_t kAgreementRange = 21;
constexpr uint32_t kMinFeaturePairs = 20;

uint32_t abs32(int32_t v) { return v < 0 ? uint32_t(-int64_t(v)) : uint32_t(v); }
int32_t min32(int32_t a, int32_t b) { return a < b ? a : b; }
int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

// Block factor of the score from the reference block size at the probe's
// resolution, rounded: (block x 32000 / 13 rounded) / resolution.
uint32_t block_factor_of(uint32_t block_size, uint32_t probe_resolution) {
    return uint32_t(((uint64_t(block_size) * 32000 + (13 * uint64_t(probe_resolution)) / 2) / 13) /
                    probe_resolution);
}

// Nearest integer of a / b (b > 0), halves away from zero.
int64_t round_div(int64_t a, int64_t b) {
    return a >= 0 ? (2 * a + b) / (2 * b) : -((-2 * a + b) / (2 * b));
}

struct pose {
    int32_t angle = 0;  // 512 a turn
    int32_t dx = 0;     // cells: probe canvas column 0 at reference column dx
    int32_t dy = 0;
    int32_t sub_x = 0;  // 1/32 cell
    int32_t sub_y = 0;
};

// The grids and canvases at the current level (blocks, or fine cells).
struct level_geometry {
    const uint8_t* probe_cells;
    uint32_t probe_cols;
    uint32_t probe_rows;
    const uint8_t* ref_cells;
    uint32_t ref_cols;
    uint32_t ref_rows;
    uint32_t canvas_cols;  // W
    uint32_t canvas_rows;  // H
    uint32_t ref_block;
    uint32_t block_factor;
};

struct search {
    level_geometry lv;
    uint8_t* work;
    uint8_t* probe_canvas;
    uint8_t* ref_canvas;
    spectral_box ref_box;
    spectral_box probe_box;
    uint32_t scale;
    bool progressive;
    uint32_t threshold;
    uint32_t best_score = 0;
    pose best;
    spectral_search_trace* trace;
};

void count_correlation(search& s) {
    if (s.trace != nullptr) ++s.trace->correlations;
}

// Places the reference canvas after the probe canvas of the current level.
uint32_t build_reference_canvas(search& s) {
    const level_geometry& lv = s.lv;
    s.probe_canvas = s.work;
    s.ref_canvas = s.work + lv.canvas_rows * (lv.canvas_cols + kPadCells) * kCellBytes;
    const uint32_t size = align8_feature_canvas(lv.ref_cells, uint8_t(lv.ref_cols),
                                                uint8_t(lv.ref_rows), s.ref_canvas);
    (void)get_bounding_box(s.ref_canvas, lv.ref_cols, uint8_t(lv.ref_rows), &s.ref_box);
    return size;
}

// Transforms the probe into its canvas and boxes it; returns the box area.
uint32_t transform_probe(search& s, int32_t angle, int32_t sub_x, int32_t sub_y) {
    const level_geometry& lv = s.lv;
    transform_features(lv.probe_cells, uint8_t(lv.probe_cols), uint8_t(lv.probe_rows),
                       s.probe_canvas, uint8_t(lv.canvas_cols), uint8_t(lv.canvas_rows),
                       int16_t(angle), sub_x, sub_y, int32_t(s.scale), int32_t(s.scale));
    return get_bounding_box(s.probe_canvas, lv.canvas_cols, uint8_t(lv.canvas_rows),
                            &s.probe_box);
}

uint32_t correlate(search& s, int32_t dx, int32_t dy, uint32_t min_overlap, bool progressive) {
    const level_geometry& lv = s.lv;
    uint32_t score = 0;
    uint32_t zero = 0;
    count_correlation(s);
    (void)xcorr_features(s.ref_canvas, uint8_t(lv.ref_cols), uint8_t(lv.ref_rows), &s.ref_box,
                         s.probe_canvas, uint8_t(lv.canvas_cols), uint8_t(lv.canvas_rows),
                         &s.probe_box, dx, dy, &score, &zero, min_overlap, progressive ? 1 : 0,
                         lv.block_factor);
    return score;
}

// Keeps a strictly better score with its pose.
void keep(search& s, uint32_t score, const pose& at) {
    if (score > s.best_score) {
        s.best_score = score;
        s.best = at;
    }
}

bool above_threshold(const search& s) { return s.best_score > s.threshold; }

// Overlap demands and pruning of the coarse search.
struct search_plan {
    int64_t m_hi;
    int64_t m_lo;
    int32_t grid_step;
    uint32_t trials;
    uint32_t agreement[kSpectralOrientationBins];
    uint32_t agreement_limit;
    bool has_hint;
    int32_t hint_direction_difference;  // probe direction - reference direction
    uint32_t hint_value_term;           // D2 / W2
    uint32_t hint_direction_weight;     // W1
    uint32_t hint_limit;
};

bool rotation_pruned(const search_plan& plan, int32_t angle) {
    const uint32_t shift =
        (uint32_t((angle < 0 ? angle + 256 : angle) + 10) / 21) % kSpectralOrientationBins;
    if (plan.agreement[shift] < plan.agreement_limit) return true;
    if (!plan.has_hint) return false;
    const int32_t d = int8_t(uint8_t(plan.hint_direction_difference + angle / 2));
    return plan.hint_limit < plan.hint_value_term + abs32(d) * 100 / plan.hint_direction_weight;
}

// The coarse search over the trial rotations.
void coarse_search(search& s, const search_plan& plan) {
    const level_geometry& lv = s.lv;
    const int32_t canvas_cols = int32_t(lv.canvas_cols);
    const int32_t canvas_rows = int32_t(lv.canvas_rows);
    const int32_t ref_cols = int32_t(lv.ref_cols);
    const int32_t ref_rows = int32_t(lv.ref_rows);
    const int32_t step = plan.grid_step;
    const int64_t rows_needed = ceil_div(plan.m_hi, min32(canvas_cols, ref_cols));
    const int32_t r0 = int32_t(rows_needed);
    for (uint32_t t = 0; t < plan.trials; ++t) {
        const int32_t angle = kTrialRotations[t];
        if (rotation_pruned(plan, angle)) continue;
        if (transform_probe(s, angle, 0, 0) == 0) continue;
        const uint32_t turn = abs32(128 - int32_t(abs32(angle)));
        const uint32_t min_overlap =
            uint32_t((((plan.m_hi - plan.m_lo) * turn) >> 7) + plan.m_lo);
        int32_t phase = 1;
        for (int32_t dy = r0 - canvas_rows + 1; dy <= ref_rows - r0;
             dy += step, phase = (phase + 1) % step) {
            if (refine_bounding_boxes(&s.ref_box, &s.probe_box, dy) <= 0) continue;
            const int32_t overlap_rows =
                min32(min32(dy + canvas_rows, ref_rows - dy), min32(canvas_rows, ref_rows));
            const int32_t cols_needed = int32_t(ceil_div(min_overlap, overlap_rows));
            // Neighbours are probed only inside this window.
            auto in_window = [&](int32_t x, int32_t y) {
                return cols_needed - canvas_cols <= x && x < ref_cols - cols_needed &&
                       r0 - canvas_rows <= y && y < ref_rows - r0;
            };
            for (int32_t dx = cols_needed - canvas_cols + phase; dx <= ref_cols - cols_needed;
                 dx += step) {
                const uint32_t score = correlate(s, dx, dy, min_overlap, s.progressive);
                const bool promising = uint64_t(score) * 100 > uint64_t(s.best_score) * 80;
                keep(s, score, pose{angle, dx, dy, 0, 0});
                if (!promising || !in_window(dx, dy)) continue;
                const int32_t neighbours[4][2] = {
                    {dx - 1, dy}, {dx + 1, dy}, {dx, dy - 1}, {dx, dy + 1}};
                for (const auto& n : neighbours) {
                    if (!in_window(n[0], n[1])) continue;
                    keep(s, correlate(s, n[0], n[1], min_overlap, s.progressive),
                         pose{angle, n[0], n[1], 0, 0});
                }
            }
        }
    }
}

// Rotation refinement around the best pose: each angle offset in turn, the
// offsets within `window` cells row by row. True once the best score passes
// the threshold.
template <size_t N>
bool refine_rotation(search& s, const int16_t (&angle_offsets)[N], int32_t window,
                     uint32_t min_overlap, bool progressive) {
    const pose centre = s.best;
    for (const int16_t offset : angle_offsets) {
        const int32_t angle = centre.angle + offset;
        if (transform_probe(s, angle, 0, 0) == 0) continue;
        for (int32_t dy = centre.dy - window; dy <= centre.dy + window; ++dy) {
            if (refine_bounding_boxes(&s.ref_box, &s.probe_box, dy) <= 0) continue;
            for (int32_t dx = centre.dx - window; dx <= centre.dx + window; ++dx) {
                keep(s, correlate(s, dx, dy, min_overlap, progressive), pose{angle, dx, dy, 0, 0});
                if (above_threshold(s)) return true;
            }
        }
    }
    return false;
}

// Sub-cell shifts at the best angle and offsets.
bool refine_sub_cell(search& s, uint32_t min_overlap) {
    const pose centre = s.best;
    for (const int32_t sub_y : kSubCellOffsets) {
        for (const int32_t sub_x : kSubCellOffsets) {
            if (transform_probe(s, centre.angle, sub_x, sub_y) == 0) continue;
            keep(s, correlate(s, centre.dx, centre.dy, min_overlap, false),
                 pose{centre.angle, centre.dx, centre.dy, sub_x, sub_y});
            if (above_threshold(s)) return true;
        }
    }
    return false;
}

// Moves the search onto the fine grids. False when the reference
// canvas comes out empty.
bool switch_to_fine_grids(search& s, const spectral_record_view& probe,
                          const spectral_record_view& reference) {
    level_geometry& lv = s.lv;
    lv.probe_cells = probe.fine_grid;
    lv.ref_cells = reference.fine_grid;
    lv.probe_cols *= 3;
    lv.probe_rows *= 3;
    lv.ref_cols *= 3;
    lv.ref_rows *= 3;
    lv.canvas_cols *= 3;
    lv.canvas_rows *= 3;
    lv.ref_block = reference.block_size / 3;
    lv.block_factor = spectral_fine_block_factor(reference.block_size, probe.resolution);
    s.best.dx = s.best.dx * 3 + 1;
    s.best.dy = s.best.dy * 3 + 1;
    return build_reference_canvas(s) != 0;
}

// The sixteen overlap statistics at the best pose (sums 64-bit).
struct feature_sums {
    uint64_t pairs = 0;
    uint64_t weight_product = 0;
    uint64_t weight_sum = 0;
    uint64_t difference_product = 0;
    uint64_t orientation_difference = 0;
    uint64_t frequency_difference = 0;
    uint32_t ref_orientation[kOrientationFeatureBins] = {};
    uint32_t probe_orientation[kOrientationFeatureBins] = {};
    uint32_t orientation_weight[kWeightBins] = {};
    uint32_t frequency_weight[kWeightBins] = {};
    uint32_t product_weight[kWeightBins] = {};
};

uint32_t weight_of(uint32_t difference) {
    return difference >= kAgreementRange ? 0 : kAgreementRange - difference;
}

void collect_features(const search& s, feature_sums* f) {
    const level_geometry& lv = s.lv;
    const int32_t dx = s.best.dx;
    const int32_t dy = s.best.dy;
    const int32_t y0 = dy > 0 ? dy : 0;
    const int32_t y1 = min32(dy + int32_t(lv.canvas_rows), int32_t(lv.ref_rows));
    const int32_t x0 = dx > 0 ? dx : 0;
    const int32_t x1 = min32(dx + int32_t(lv.canvas_cols), int32_t(lv.ref_cols));
    const uint32_t ref_stride = (lv.ref_cols + kPadCells) * kCellBytes;
    const uint32_t probe_stride = (lv.canvas_cols + kPadCells) * kCellBytes;
    for (int32_t y = y0; y < y1; ++y) {
        for (int32_t x = x0; x < x1; ++x) {
            const uint8_t* r = s.ref_canvas + uint32_t(y) * ref_stride + uint32_t(x) * kCellBytes;
            const uint8_t* p =
                s.probe_canvas + uint32_t(y - dy) * probe_stride + uint32_t(x - dx) * kCellBytes;
            if (r[1] == 0 || p[1] == 0) continue;
            const int32_t signed_do = int8_t(uint8_t(r[0] - p[0]));
            const uint32_t d_o = abs32(signed_do);
            const uint32_t d_f = r[1] > p[1] ? r[1] - p[1] : p[1] - r[1];
            const uint32_t w_o = weight_of(d_o);
            const uint32_t w_f = weight_of(d_f);
            ++f->pairs;
            f->weight_product += w_o * w_f;
            f->weight_sum += w_o + w_f;
            f->difference_product += d_o * d_f;
            f->orientation_difference += d_o;
            f->frequency_difference += d_f;
            ++f->ref_orientation[r[0] >> 3];
            ++f->probe_orientation[p[0] >> 3];
            ++f->orientation_weight[w_o];
            ++f->frequency_weight[w_f];
            ++f->product_weight[(w_o * w_f) / kAgreementRange];
        }
    }
}

uint32_t sqrt_clamped(uint64_t v) { return zr_sqrt_32(v > UINT32_MAX ? UINT32_MAX : uint32_t(v)); }

uint32_t first_largest_bin(const uint32_t* histogram, uint32_t bins) {
    uint32_t best = 0;
    for (uint32_t b = 1; b < bins; ++b) {
        if (histogram[b] > histogram[best]) best = b;
    }
    return best;
}

// isqrt((|a - b| << 16) / (a + b + 1)).
uint32_t entropy_contrast(uint32_t a, uint32_t b) {
    const uint64_t difference = a > b ? a - b : b - a;
    return sqrt_clamped((difference << 16) / (uint64_t(a) + b + 1));
}

void group_bins(const uint32_t* histogram, uint32_t* grouped) {
    constexpr uint32_t kGroup = kOrientationFeatureBins / kOrientationGroupBins;
    for (uint32_t g = 0; g < kOrientationGroupBins; ++g) {
        grouped[g] = 0;
        for (uint32_t i = 0; i < kGroup; ++i) grouped[g] += histogram[g * kGroup + i];
    }
}

// Fills entries 3..18 and returns the score recomputed from the sums.
uint32_t write_features(const search& s, uint16_t* features) {
    feature_sums f;
    collect_features(s, &f);
    const uint64_t n = f.pairs;
    const uint64_t n_div = n > kMinFeaturePairs ? n : kMinFeaturePairs;
    const uint32_t ha = calculate_entropy_score(f.ref_orientation, kOrientationFeatureBins);
    const uint32_t hb = calculate_entropy_score(f.probe_orientation, kOrientationFeatureBins);
    uint32_t ref_grouped[kOrientationGroupBins];
    uint32_t probe_grouped[kOrientationGroupBins];
    group_bins(f.ref_orientation, ref_grouped);
    group_bins(f.probe_orientation, probe_grouped);
    const uint32_t hc = calculate_entropy_score(ref_grouped, kOrientationGroupBins);
    const uint32_t hd = calculate_entropy_score(probe_grouped, kOrientationGroupBins);
    const uint64_t values[kFeatureEntries] = {
        n,
        f.weight_product / n_div,
        f.weight_sum / n_div,
        sqrt_clamped((f.difference_product << 6) / n_div),
        sqrt_clamped((f.orientation_difference << 8) / n_div),
        sqrt_clamped((f.frequency_difference << 8) / n_div),
        entropy_contrast(ha, hb),
        ha < hb ? ha : hb,
        entropy_contrast(hc, hd),
        hc < hd ? hc : hd,
        calculate_entropy_score(f.frequency_weight, kWeightBins),
        calculate_entropy_score(f.orientation_weight, kWeightBins),
        calculate_entropy_score(f.product_weight, kWeightBins),
        first_largest_bin(f.frequency_weight, kWeightBins),
        first_largest_bin(f.orientation_weight, kWeightBins),
        first_largest_bin(f.product_weight, kWeightBins),
    };
    for (uint32_t i = 0; i < kFeatureEntries; ++i) {
        features[3 + i] = uint16_t(values[i] > UINT16_MAX ? UINT16_MAX : values[i]);
    }
    features[2] = ZR_SPECTRAL_FEATURE_SCORE_COUNT;
    return spectral_score(f.weight_product, uint32_t(n), uint32_t(n), s.lv.block_factor);
}

// Offset in reference pixels between the probe turned by `angle` (512 a
// turn) and its canvas, centre to centre; divisions truncate toward zero.
struct pixel_offset {
    int64_t x;
    int64_t y;
};
pixel_offset turned_centre_offset(const level_geometry& lv, int32_t angle) {
    const uint32_t trig_angle = uint32_t(angle * 128) & 0xFFFF;
    const int64_t c = zr_cos14_(trig_angle);
    const int64_t sn = zr_sin14_(trig_angle);
    const int64_t b = lv.ref_block;
    const int64_t cols = lv.probe_cols;
    const int64_t rows = lv.probe_rows;
    return {(c * (cols * b - 1) - sn * (rows * b - 1) - ((b * lv.canvas_cols - 1) << 14)) / 32768,
            (c * (rows * b - 1) + sn * (cols * b - 1) - ((b * lv.canvas_rows - 1) << 14)) / 32768};
}

// The pose in pixels at 500 dpi.
void write_alignment(const search& s, const spectral_record_view& reference,
                     zr_spectral_alignment* alignment) {
    const pose& at = s.best;
    const int64_t b = s.lv.ref_block;
    const pixel_offset centre = turned_centre_offset(s.lv, at.angle);
    const int64_t dx = ((int64_t(32) * at.dx + at.sub_x) * b) / 32 - centre.x;
    const int64_t dy = ((int64_t(32) * at.dy + at.sub_y) * b) / 32 - centre.y;
    alignment->rotation = at.angle / 2;
    alignment->dx = int32_t(dx * 500 / reference.resolution);
    alignment->dy = int32_t(dy * 500 / reference.resolution);
}

// The integer offsets and 1/32-cell remainders of a given pose, the
// inverse of write_alignment's formula rounded to nearest.
pose hinted_pose(const search& s, const zr_spectral_alignment& given) {
    pose at;
    at.angle = given.rotation * 2;
    const int64_t b = s.lv.ref_block;
    const pixel_offset centre = turned_centre_offset(s.lv, at.angle);
    const int64_t total_x = round_div((int64_t(given.dx) + centre.x) * 32, b);
    const int64_t total_y = round_div((int64_t(given.dy) + centre.y) * 32, b);
    at.dx = int32_t(round_div(total_x, 32));
    at.dy = int32_t(round_div(total_y, 32));
    at.sub_x = int32_t(total_x - 32 * int64_t(at.dx));
    at.sub_y = int32_t(total_y - 32 * int64_t(at.dy));
    return at;
}

uint32_t count_valid_cells(const uint8_t* cells, uint32_t count) {
    uint32_t valid = 0;
    for (uint32_t i = 0; i < count; ++i) valid += cells[i * kCellBytes + 1] != 0;
    return valid;
}

void plan_histogram_pruning(search& s, const spectral_record_view& probe, uint32_t flags,
                            search_plan* plan) {
    uint16_t probe_hist[kSpectralOrientationBins];
    uint16_t ref_hist[kSpectralOrientationBins];
    (void)hist_ori(probe.cells, probe.cols, probe.rows, probe_hist);
    (void)hist_ori(s.ref_canvas, uint8_t(s.lv.ref_cols + kPadCells), uint8_t(s.lv.ref_rows),
                   ref_hist);
    uint32_t best = 0;
    for (uint32_t t = 0; t < kSpectralOrientationBins; ++t) {
        const uint32_t sum = hist_ori_agreement(probe_hist, ref_hist, t);
        plan->agreement[t] = sum;
        if (sum > best) best = sum;
    }
    const uint32_t divisor =
        (flags & ZR_SPECTRAL_LOW_LATENCY) ? kHistogramDivisorLowLatency : kHistogramDivisor;
    plan->agreement_limit = best * 50 / divisor;
}

void plan_direction_hint(const spectral_record_view& probe, const spectral_record_view& reference,
                         uint32_t flags, search_plan* plan) {
    plan->has_hint = probe.direction_hint != nullptr && reference.direction_hint != nullptr;
    if (!plan->has_hint) return;
    const uint8_t* p = probe.direction_hint;
    const uint8_t* r = reference.direction_hint;
    const uint32_t value_weight = uint32_t(p[3]) + r[3];
    const uint32_t direction_weight = uint32_t(p[1]) + r[1];
    const uint32_t d2 = abs32(int32_t(p[2]) - int32_t(r[2])) * 100;
    plan->hint_value_term = d2 / (value_weight ? value_weight : 1);
    plan->hint_direction_weight = direction_weight ? direction_weight : 1;
    plan->hint_direction_difference = int32_t(p[0]) - int32_t(r[0]);
    plan->hint_limit = (flags & ZR_SPECTRAL_LOW_LATENCY) ? kHintLimitLowLatency : kHintLimit;
}

uint32_t normalised_score(uint32_t best, const spectral_record_view& probe,
                          const spectral_record_view& reference) {
    int32_t q = int32_t(probe.quality > reference.quality ? probe.quality : reference.quality) -
                kQualityOffset;
    if (q < kMinQuality) q = kMinQuality;
    const uint64_t score = uint64_t(zr_sqrt_32(kQualityReference)) * best /
                           zr_sqrt_32(uint32_t(q) << 10);
    return score > UINT16_MAX ? UINT16_MAX : uint32_t(score);
}

}  // namespace

uint32_t spectral_fine_block_factor(uint32_t block_size, uint32_t probe_resolution) {
    return block_factor_of(block_size / 3 + 1, probe_resolution);
}

zr_status spectral_match_traced(uint8_t* work, uint16_t work_size, const uint8_t* probe_record,
                                uint32_t probe_length, const uint8_t* reference_record,
                                uint32_t reference_length, uint32_t far_level,
                                uint16_t* out_score, uint32_t* out_decision,
                                zr_spectral_alignment* alignment, uint32_t flags,
                                spectral_search_trace* trace) {
    if (trace != nullptr) *trace = spectral_search_trace{};
    if (out_decision != nullptr) *out_decision = 0;
    if (out_score != nullptr) *out_score = 0;
    if (far_level > kMaxLevel) return ZR_UNHANDLED_INPUT;
    const uint16_t* table =
        (flags & ZR_SPECTRAL_MODE_360) ? kSpectralThresholds360 : kSpectralThresholds;

    spectral_record_view probe{};
    spectral_record_view reference{};
    if (spectral_read_record(probe_record, probe_length, &probe) != ZR_OK) {
        return ZR_UNHANDLED_INPUT;
    }
    const zr_status status = spectral_read_record(reference_record, reference_length, &reference);
    if (status != ZR_OK) return status;
    if (probe.rows == 0 || probe.cols == 0) return ZR_OK;

    spectral_pair_geometry geometry{};
    if (!spectral_pair_geometry_of(probe, reference, flags, &geometry)) return ZR_UNHANDLED_INPUT;
    if (work == nullptr || work_size < geometry.required_bytes) return ZR_UNHANDLED_INPUT;
    // Block-level canvas sides; the geometry check bounded them (in fine
    // cells when the probe has a fine grid), so they fit a byte.
    const uint32_t scale = geometry.scale;
    const uint64_t longer_side = probe.rows > probe.cols ? probe.rows : probe.cols;
    const bool square = (flags & ZR_SPECTRAL_SQUARE_CANVAS) != 0;
    const uint32_t canvas_cols = uint32_t(((square ? longer_side : probe.cols) * uint64_t(scale)) >> 5);
    const uint32_t canvas_rows = uint32_t(((square ? longer_side : probe.rows) * uint64_t(scale)) >> 5);

    uint16_t* features = nullptr;
    if ((flags & ZR_SPECTRAL_FEATURES) && out_score != nullptr &&
        out_score[1] == ZR_SPECTRAL_FEATURE_REQUEST && out_score[2] == 0) {
        features = out_score;
        features[2] = 1;
    }

    const uint64_t probe_area =
        uint64_t(count_valid_cells(probe.cells, uint32_t(probe.rows) * probe.cols)) * scale *
        scale / 1024;
    const uint64_t ref_area = count_valid_cells(reference.cells, uint32_t(reference.rows) * reference.cols);
    if (probe_area == 0 || ref_area == 0) return ZR_OK;

    search s{};
    s.trace = trace;
    s.work = work;
    s.scale = scale;
    s.threshold = table[far_level];
    s.lv = level_geometry{probe.cells,    probe.cols,         probe.rows,
                          reference.cells, reference.cols,    reference.rows,
                          canvas_cols,     canvas_rows,       reference.block_size,
                          block_factor_of(reference.block_size, probe.resolution)};
    s.progressive = !(flags & ZR_SPECTRAL_NO_PROGRESSIVE) && probe_area >= kSmallArea &&
                    ref_area >= kSmallArea;

    const int64_t total = int64_t(probe_area + ref_area);
    search_plan plan{};
    plan.m_hi = 21 * total / 121;
    const uint32_t longer = reference.cols > reference.rows ? reference.cols : reference.rows;
    const uint32_t shorter = reference.cols > reference.rows ? reference.rows : reference.cols;
    const int32_t aspect = int32_t(longer * 54 / shorter) - 3;
    if (aspect < 12) {
        plan.m_lo = 12 * total / 112;
    } else {
        const int64_t r = aspect < 21 ? aspect : 21;
        plan.m_lo = r * total / (r + 100);
    }
    plan.grid_step = probe_area < kSmallArea ? 2 : 3;
    plan.trials = (flags & ZR_SPECTRAL_MODE_360) ? kTrials360 : kTrialsNormal;

    // The reference canvas exists on every path, the early ends included.
    const bool reference_built = build_reference_canvas(s) != 0;
    const int64_t reachable = int64_t(min32(int32_t(canvas_cols), int32_t(reference.cols))) *
                              min32(int32_t(canvas_rows), int32_t(reference.rows));
    const bool overlap_reachable =
        plan.m_hi != 0 && plan.m_lo != 0 && plan.m_hi <= reachable && reference_built;

    bool score_from_features = true;
    bool searched = false;
    if (!overlap_reachable) {
        // No search: score 0 whatever the features at the zero pose give.
        score_from_features = false;
    } else if ((flags & ZR_SPECTRAL_USE_ALIGNMENT) && alignment != nullptr) {
        s.best = hinted_pose(s, *alignment);
        if (features == nullptr) {
            (void)transform_probe(s, s.best.angle, s.best.sub_x, s.best.sub_y);
            s.best_score = correlate(s, s.best.dx, s.best.dy, 1, false);
        }
    } else {
        searched = true;
    }

    if (searched) {
        plan_histogram_pruning(s, probe, flags, &plan);
        plan_direction_hint(probe, reference, flags, &plan);
        coarse_search(s, plan);
        const int64_t turn = abs32(s.best.angle);
        uint32_t min_overlap = uint32_t(((256 - turn) * plan.m_hi + turn * plan.m_lo) >> 8);
        bool done =
            refine_rotation(s, kRotationRefinement, kRotationWindow, min_overlap, s.progressive);
        if (trace != nullptr) trace->stopped_in_rotation_refinement = done;
        int32_t window = 1;
        if (!done && probe.fine_grid != nullptr && reference.fine_grid != nullptr) {
            min_overlap *= 9;
            if (flags & ZR_SPECTRAL_WIDE_FINE_WINDOW) window = 2;
            done = !switch_to_fine_grids(s, probe, reference);
            if (trace != nullptr) trace->used_fine_grids = true;
        }
        // The second refinement correlates in full.
        if (!done) done = refine_rotation(s, kFineRotationRefinement, window, min_overlap, false);
        if (!done) done = refine_sub_cell(s, min_overlap);
    }

    if (features != nullptr) {
        (void)transform_probe(s, s.best.angle, s.best.sub_x, s.best.sub_y);
        const uint32_t recomputed = write_features(s, features);
        if (score_from_features) s.best_score = recomputed;
    }

    if (out_decision != nullptr && far_level != 0) {
        *out_decision = s.threshold < s.best_score ? 1 : 2;
    }
    if (out_score != nullptr) {
        *out_score = uint16_t((flags & ZR_SPECTRAL_RAW_SCORE)
                                  ? (s.best_score > UINT16_MAX ? UINT16_MAX : s.best_score)
                                  : normalised_score(s.best_score, probe, reference));
    }
    if (alignment != nullptr) write_alignment(s, reference, alignment);
    if (trace != nullptr) {
        trace->best_angle = s.best.angle;
        trace->best_dx = s.best.dx;
        trace->best_dy = s.best.dy;
        trace->best_sub_x = s.best.sub_x;
        trace->best_sub_y = s.best.sub_y;
        trace->best_score = s.best_score;
    }
    return ZR_OK;
}

zr_status zr_spectral_match(uint8_t* work, uint16_t work_size, const uint8_t* probe,
                            uint32_t probe_length, const uint8_t* reference,
                            uint32_t reference_length, uint32_t far_level, uint16_t* out_score,
                            uint32_t* out_decision, zr_spectral_alignment* alignment,
                            uint32_t flags) {
    return spectral_match_traced(work, work_size, probe, probe_length, reference,
                                 reference_length, far_level, out_score, out_decision, alignment,
                                 flags, nullptr);
}
