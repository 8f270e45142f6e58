#include "match/verifiers/zr_verifier.h"

#include <cstdlib>
#include <limits>

#include "match/verifiers/zr_far_table.h"
#include "objects/zr_alloc.h"

namespace {

constexpr int64_t kI64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kI64Min = std::numeric_limits<int64_t>::min();
constexpr int64_t kScoreUnit = 4096;       // result scale of the score models
constexpr int64_t kWeightDivisor = 8;      // W / 8 normalises the weighted sum
constexpr uint32_t kFeatureScale = 65536;  // features are compared in 1/65536
constexpr uint16_t kU16Max = 0xFFFF;
constexpr uint32_t kCountSeries[ZR_THRESHOLD_ROWS] = {1, 2, 4, 8, 16, 32, 64};
constexpr uint32_t kLastRow = ZR_THRESHOLD_ROWS - 1;
constexpr uint16_t kEhmLinkedClusterScore = 0;  // feature positions
constexpr uint16_t kEhmSpectralScore = 9;

int64_t saturating_add(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? kI64Max : kI64Min;
}

int64_t saturating_mul(int64_t a, int64_t b) {
    int64_t product = 0;
    if (!__builtin_mul_overflow(a, b, &product)) return product;
    return (a < 0) != (b < 0) ? kI64Min : kI64Max;
}

uint32_t clamp_to_i32_bits(int64_t v) {
    if (v > std::numeric_limits<int32_t>::max()) v = std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) v = std::numeric_limits<int32_t>::min();
    return uint32_t(int32_t(v));
}

uint16_t read_le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

uint32_t read_le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// One feature's distance from the entry's centre.
struct feature_offset {
    uint64_t distance;  // |v - c|, below 2^32
    bool below;         // v < c
};

feature_offset offset_of(uint32_t x, const zr_score_coefficient& e) {
    // The lower bound compares signed, the upper one unsigned.
    uint32_t clamped = int32_t(x) < int32_t(e.lower) ? e.lower : x;
    if (clamped > e.upper) clamped = e.upper;
    const int64_t v = int64_t(clamped) * kFeatureScale;
    const int64_t diff = v - int64_t(e.centre);
    return {uint64_t(diff < 0 ? -diff : diff), diff < 0};
}

int64_t linear_term(const feature_offset& f, const zr_score_coefficient& e) {
    if (e.scale == 0) return 0;
    const int64_t term = saturating_mul(e.linear, int64_t(f.distance)) / int64_t(e.scale);
    return f.below ? -term : term;
}

int64_t square_term(const feature_offset& f, const zr_score_coefficient& e) {
    if (e.scale == 0) return 0;
    const uint64_t ratio = f.distance * f.distance / e.scale;
    const int64_t signed_ratio = ratio > uint64_t(kI64Max) ? kI64Max : int64_t(ratio);
    return saturating_mul(signed_ratio, e.quadratic) / int64_t(e.scale);
}

enum class weight_sum { absolute_linear, absolute_both, signed_both };

struct model_shape {
    bool squares;
    weight_sum weights;
    bool normalise_by_eighth;  // W / 8 (else W)
    bool bias;                 // + 4096
};

zr_status compute_score(const uint32_t* features, uint8_t count, const uint8_t* coefficients, uint32_t* out,
                        const model_shape& shape) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    *out = 0;
    if (features == nullptr || coefficients == nullptr || count == 0) return ZR_OK;
    int64_t sum = 0, weights = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const zr_score_coefficient e = zr_score_coefficient_read(coefficients + i * ZR_COEFFICIENT_ENTRY_SIZE);
        const feature_offset f = offset_of(features[i], e);
        sum = saturating_add(sum, linear_term(f, e));
        if (shape.squares) sum = saturating_add(sum, square_term(f, e));
        switch (shape.weights) {
            case weight_sum::absolute_linear: weights += std::abs(int32_t(e.linear)); break;
            case weight_sum::absolute_both:
                weights += std::abs(int32_t(e.linear)) + std::abs(int32_t(e.quadratic));
                break;
            case weight_sum::signed_both: weights += int32_t(e.linear) + int32_t(e.quadratic); break;
        }
    }
    const int64_t divisor = shape.normalise_by_eighth ? weights / kWeightDivisor : weights;
    const int64_t scaled = saturating_mul(sum, kScoreUnit);
    int64_t result = divisor == 0 ? scaled : scaled / divisor;
    if (shape.bias) result = saturating_add(result, kScoreUnit);
    *out = clamp_to_i32_bits(result);
    return ZR_OK;
}

// Row of the smallest series value at least count (2..64); 6 above 64.
uint32_t upper_row(uint32_t count) {
    for (uint32_t row = 1; row < ZR_THRESHOLD_ROWS; ++row)
        if (count <= kCountSeries[row]) return row;
    return kLastRow;
}

bool count_fits_model(const zr_vermodel* model, int32_t count) {
    return uint64_t(count) * ZR_COEFFICIENT_ENTRY_SIZE <= model->coefficient_bytes;
}

}  // namespace

zr_score_coefficient zr_score_coefficient_read(const uint8_t* entry) {
    return {read_le16(entry), read_le16(entry + 2), read_le32(entry + 4), read_le32(entry + 8),
            int16_t(read_le16(entry + 12)), int16_t(read_le16(entry + 14))};
}

// --- FAR scale and decisions ---

uint32_t zr_far_shift(uint32_t level, int16_t shift) {
    if (level == ZR_FAR_NO_DECISION) return ZR_FAR_NO_DECISION;
    const int64_t shifted = int64_t(level) + shift;
    if (shifted < 0) return 0;
    return shifted > int64_t(ZR_FAR_LEVELS - 1) ? ZR_FAR_LEVELS - 1 : uint32_t(shifted);
}

uint16_t zr_far_threshold(uint32_t level) {
    return zr_far_thresholds[level < ZR_FAR_LEVELS ? level : ZR_FAR_NO_DECISION];
}

bool zr_threshold_table_is_empty(const zr_threshold_table* thresholds) {
    return thresholds == nullptr || (*thresholds)[kLastRow][ZR_FAR_LEVELS - 1] == 0;
}

bool zr_vermodel_is_trained(const zr_vermodel* model) {
    return model != nullptr && model->compute != nullptr && model->coefficients != nullptr &&
           model->feature_count != 0 &&
           model->coefficient_bytes >= uint64_t(model->feature_count) * ZR_COEFFICIENT_ENTRY_SIZE &&
           !zr_threshold_table_is_empty(model->thresholds);
}

const zr_vermodel* zr_verifierI_get_vermodel(const zr_vermodel* const* table, const zr_verifier_descriptor* verifier,
                                             uint16_t variant) {
    if (table == nullptr) return nullptr;
    for (; *table != nullptr; ++table) {
        const zr_vermodel* model = *table;
        if (model->verifier == verifier && model->variant == variant && zr_vermodel_is_trained(model)) return model;
    }
    return nullptr;
}

zr_status zr_verifier_decision_from_score([[maybe_unused]] zr_session* session, uint16_t score,
                                          uint8_t template_count, uint32_t far_level,
                                          const zr_threshold_table* thresholds, uint32_t* decision,
                                          uint16_t* threshold) {
    if (decision != nullptr) *decision = 0;
    if (threshold != nullptr) *threshold = ZR_THRESHOLD_MISSING;
    if (thresholds == nullptr) return ZR_UNHANDLED_INPUT;
    if (zr_threshold_table_is_empty(thresholds)) return ZR_FAILURE;
    if (decision == nullptr || far_level >= ZR_FAR_LEVELS) return ZR_BAD_ARGUMENT;
    const zr_threshold_table& rows = *thresholds;
    uint32_t t = 0;
    if (template_count <= 1) {
        t = rows[0][far_level];
        if (t == ZR_THRESHOLD_MISSING) return ZR_UNHANDLED_INPUT;
    } else {
        const uint32_t hi = upper_row(template_count), lo = hi - 1;
        const uint32_t t_hi = rows[hi][far_level], t_lo = rows[lo][far_level];
        if (t_hi == ZR_THRESHOLD_MISSING || t_lo == ZR_THRESHOLD_MISSING) return ZR_UNHANDLED_INPUT;
        // Unsigned 32-bit: counts above 64 extend the last segment.
        t = t_lo + ((t_hi - t_lo) * (template_count - kCountSeries[lo])) / (kCountSeries[hi] - kCountSeries[lo]);
    }
    *decision = t < score ? 1 : 0;
    if (threshold != nullptr) *threshold = t > kU16Max ? kU16Max : uint16_t(t);
    return ZR_OK;
}

// --- model evaluation ---

zr_status zr_machine_learning_evaluate(const zr_vermodel* model, const uint32_t* features, int32_t count,
                                       uint32_t* out_score) {
    if (out_score == nullptr) return ZR_BAD_ARGUMENT;
    *out_score = 0;
    if (model == nullptr || count < 0 || count > 255 || (features == nullptr && count != 0)) return ZR_BAD_ARGUMENT;
    if (model->compute == nullptr) return ZR_NO_MODEL_OPERATION;
    if (!count_fits_model(model, count)) return ZR_FAILURE;
    return model->compute(features, uint8_t(count), model->coefficients, out_score);
}

zr_status zr_machine_learning_evaluate_u16(const zr_vermodel* model, const uint16_t* features, int32_t count,
                                           uint16_t* out_score) {
    if (out_score == nullptr) return ZR_BAD_ARGUMENT;
    *out_score = 0;
    if (model == nullptr || count < 0 || count > 255 || (features == nullptr && count != 0)) return ZR_BAD_ARGUMENT;
    if (model->compute == nullptr) return ZR_NO_MODEL_OPERATION;
    auto* wide = static_cast<uint32_t*>(zr_malloc(sizeof(uint32_t) * (count == 0 ? 1 : size_t(count))));
    if (wide == nullptr) return ZR_NO_MEMORY;
    for (int32_t i = 0; i < count; ++i) wide[i] = features[i];
    uint32_t raw = 0;
    const zr_status status = zr_machine_learning_evaluate(model, wide, count, &raw);
    std::free(wide);
    if (status != ZR_OK) return status;
    const int32_t value = int32_t(raw);
    *out_score = value < 0 ? 0 : value > kU16Max ? kU16Max : uint16_t(value);
    return ZR_OK;
}

zr_status zr_verifier_verify_feature_scores([[maybe_unused]] zr_session* session, const uint16_t* features,
                                            uint16_t count, const zr_vermodel* model, uint16_t* out_score) {
    if (out_score == nullptr) return ZR_BAD_ARGUMENT;
    *out_score = 0;
    if (model == nullptr || model->compute == nullptr) return ZR_NO_MODEL_OPERATION;
    if (count != model->feature_count) return ZR_FAILURE;
    return zr_machine_learning_evaluate_u16(model, features, count, out_score);
}

zr_status zr_ml_compute_score_linear(const uint32_t* features, uint8_t count, const uint8_t* coefficients,
                                     uint32_t* out_score) {
    return compute_score(features, count, coefficients, out_score, {false, weight_sum::absolute_linear, true, true});
}

zr_status zr_ml_compute_score_linear_squares(const uint32_t* features, uint8_t count, const uint8_t* coefficients,
                                             uint32_t* out_score) {
    return compute_score(features, count, coefficients, out_score, {true, weight_sum::absolute_both, true, true});
}

zr_status zr_ml_compute_score_linear_squares_no_bias(const uint32_t* features, uint8_t count,
                                                     const uint8_t* coefficients, uint32_t* out_score) {
    return compute_score(features, count, coefficients, out_score, {true, weight_sum::absolute_both, true, false});
}

zr_status zr_ml_compute_score_linear_squares_no_normalization(const uint32_t* features, uint8_t count,
                                                              const uint8_t* coefficients, uint32_t* out_score) {
    return compute_score(features, count, coefficients, out_score, {true, weight_sum::signed_both, false, true});
}

zr_status zr_verifier_get_raw_similarity_score(zr_session* session, const zr_verifier_descriptor* verifier,
                                               const zr_vermodel* model, zr_template* enrolled, zr_template* probe,
                                               uint16_t* out_score, zr_alignment** out_alignment) {
    if (out_score == nullptr) return ZR_BAD_ARGUMENT;
    *out_score = 0;
    zr_status status = ZR_FAILURE;
    uint16_t* features = nullptr;
    uint16_t count = 0;
    if (verifier != nullptr && verifier->extract_feature_scores_raw != nullptr &&
        verifier->verify_feature_scores != nullptr) {
        status = verifier->extract_feature_scores_raw(session, enrolled, probe, &features, &count, out_alignment);
    }
    if (status == ZR_OK && model != nullptr) {
        if (model->compute == nullptr) status = ZR_NO_MODEL_OPERATION;
        else if (count != model->feature_count) status = ZR_FAILURE;
    }
    if (status == ZR_OK) status = verifier->verify_feature_scores(session, enrolled, probe, features, count, model,
                                                                  out_score);
    std::free(features);
    if (status != ZR_OK && out_alignment != nullptr) {
        zr_alignment_delete(*out_alignment);
        *out_alignment = nullptr;
    }
    return status;
}

// --- verify operations ---

zr_status zr_vandrel_verify_feature_scores(zr_session*, zr_template*, zr_template*, const uint16_t* features,
                                           uint16_t count, const zr_vermodel*, uint16_t* out_score) {
    if (out_score == nullptr) return ZR_BAD_ARGUMENT;
    *out_score = 0;
    if (count != ZR_VANDREL_FEATURES || features == nullptr) return ZR_FAILURE;
    const uint16_t tail = uint16_t(features[1] + features[2]);
    *out_score = uint16_t(2u * features[0] + 3u * tail);
    return ZR_OK;
}

zr_status zr_ehm_verify_feature_scores(zr_session* session, zr_template*, zr_template*, const uint16_t* features,
                                       uint16_t count, const zr_vermodel* model, uint16_t* out_score) {
    if (out_score == nullptr) return ZR_BAD_ARGUMENT;
    *out_score = 0;
    if (count != ZR_EHM_FEATURES || features == nullptr) return ZR_FAILURE;
    if (features[kEhmLinkedClusterScore] == 0 && features[kEhmSpectralScore] == 0) return ZR_OK;
    return zr_verifier_verify_feature_scores(session, features, count, model, out_score);
}
