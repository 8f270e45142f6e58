// Verification models, the linear score models that turn feature vectors into
// scores, the FAR scale and decisions, and the verify operations of the
// vandrel and EHM verifiers.
//
// FAR scale: a score or threshold is 2048 log2 of the inverse false-accept
// rate; level L (0..27) names the rate 1 in N, N = 1, 2, 5, 10, ... 10^9; 28
// means no FAR decision.
//
// Score models, per feature with entry (lo, hi, c, s, w1, w2):
//   v = clamp(x, lo, hi) x 65536, d = |v - c| (64 bits)
//   L = (w1 d) / s, negated when v < c;  S = ((d d) / s w2) / s  (0 when s is 0)
// summed into A with the weight sum W, result (A x 4096) / (W / 8) + 4096 (or
// the variants below). Divisions truncate toward zero; d x d is unsigned 64-bit,
// the terms, A and A x 4096 signed 64-bit, saturating where a pathological
// entry (tiny scale) would overflow; the result is clamped to the signed
// 32-bit range and handed out in a u32 (two's complement).
#pragma once

#include <cstdint>

#include "match/chain/zr_verifier_descriptor.h"
#include "objects/zr_alignment.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

inline constexpr uint32_t ZR_FAR_LEVELS = 28;          // levels 0..27
inline constexpr uint32_t ZR_FAR_NO_DECISION = 28;     // level 28
inline constexpr uint32_t ZR_THRESHOLD_ROWS = 7;       // template counts 1, 2, 4, ..., 64
inline constexpr uint16_t ZR_THRESHOLD_MISSING = 65535;
inline constexpr uint32_t ZR_COEFFICIENT_ENTRY_SIZE = 16;
inline constexpr uint16_t ZR_VANDREL_FEATURES = 3;
inline constexpr uint16_t ZR_EHM_FEATURES = 30;

// Score model: features[count] with count coefficient entries; writes the
// result (a signed value in a u32) and returns ZR_OK.
using zr_score_model_fn = zr_status (*)(const uint32_t* features, uint8_t count, const uint8_t* coefficients,
                                        uint32_t* out_score);

using zr_threshold_table = uint16_t[ZR_THRESHOLD_ROWS][ZR_FAR_LEVELS];

struct zr_vermodel {
    const zr_verifier_descriptor* verifier;
    uint16_t variant;
    const uint8_t* coefficients;  // 16-byte little-endian entries, in feature order
    uint64_t coefficient_bytes;   // 16 x feature count
    uint32_t feature_count;
    zr_score_model_fn compute;
    const zr_threshold_table* thresholds;
};

// A coefficient entry read from its 16 little-endian bytes.
struct zr_score_coefficient {
    uint16_t lower;
    uint16_t upper;
    uint32_t centre;  // 1/65536
    uint32_t scale;
    int16_t linear;
    int16_t quadratic;
};
zr_score_coefficient zr_score_coefficient_read(const uint8_t* entry);

// --- FAR scale and decisions ---

// Level 28 stays 28; otherwise level + shift clamped to 0..27.
uint32_t zr_far_shift(uint32_t level, int16_t shift);
// Threshold of a level; 63277 for 28 and above.
uint16_t zr_far_threshold(uint32_t level);

// 1 when the table has a threshold at template count 1, FAR level 27 that is
// not 0 (a table ending in 0 is empty).
bool zr_threshold_table_is_empty(const zr_threshold_table* thresholds);
// 1 when the model can score and decide: compute operation, coefficients for
// its features and a non-empty threshold table.
bool zr_vermodel_is_trained(const zr_vermodel* model);

// Names the model variant for comparing template a with b.
using zr_model_selector_fn = zr_status (*)(zr_session* session, zr_template* a, zr_template* b,
                                           uint16_t* out_variant);

// The score models of a verification: the NULL-ended model table (none: no
// models) and the selector of each enrolled template's variant (none: 0).
struct zr_model_choice {
    const zr_vermodel* const* vermodels;
    zr_model_selector_fn selector;
};

// The first trained model of the NULL-ended table with this verifier and
// variant; none without one. Untrained models are skipped: an all-zero table
// would accept every probe.
const zr_vermodel* zr_verifierI_get_vermodel(const zr_vermodel* const* table, const zr_verifier_descriptor* verifier,
                                             uint16_t variant);

// Decision of a score at a template count and FAR level: the threshold row of
// the count, interpolated between the rows of the series 1, 2, 4, ..., 64
// around it (u32 arithmetic; above 64 the last segment is extended), accepts
// when threshold < score. *decision is 0 and *threshold 65535 unless decided;
// the threshold reported saturates at 65535 (the decision uses the full
// value). ZR_UNHANDLED_INPUT without a table or for a missing threshold
// (65535); ZR_FAILURE for an empty table; ZR_BAD_ARGUMENT without decision
// output or for a level above 27.
[[nodiscard]] zr_status zr_verifier_decision_from_score(zr_session* session, uint16_t score, uint8_t template_count,
                                                        uint32_t far_level, const zr_threshold_table* thresholds,
                                                        uint32_t* decision, uint16_t* threshold);

// --- model evaluation ---

// Widens the features to u32 and runs the model's compute operation; the
// result is clamped to 0..65535. ZR_NO_MODEL_OPERATION without compute
// operation, ZR_FAILURE when the model has fewer coefficient entries than
// features, ZR_BAD_ARGUMENT for missing arguments or a count outside 0..255,
// ZR_NO_MEMORY.
[[nodiscard]] zr_status zr_machine_learning_evaluate_u16(const zr_vermodel* model, const uint16_t* features,
                                                         int32_t count, uint16_t* out_score);
// Runs the compute operation on the features as they are; *out_score cleared
// first. Errors as zr_machine_learning_evaluate_u16.
[[nodiscard]] zr_status zr_machine_learning_evaluate(const zr_vermodel* model, const uint32_t* features,
                                                     int32_t count, uint32_t* out_score);
// Score 0 first; ZR_NO_MODEL_OPERATION without model or compute operation;
// ZR_FAILURE when the count is not the model's; else the u16 evaluation.
[[nodiscard]] zr_status zr_verifier_verify_feature_scores(zr_session* session, const uint16_t* features,
                                                          uint16_t count, const zr_vermodel* model,
                                                          uint16_t* out_score);

[[nodiscard]] zr_status zr_ml_compute_score_linear(const uint32_t* features, uint8_t count,
                                                   const uint8_t* coefficients, uint32_t* out_score);
[[nodiscard]] zr_status zr_ml_compute_score_linear_squares(const uint32_t* features, uint8_t count,
                                                           const uint8_t* coefficients, uint32_t* out_score);
[[nodiscard]] zr_status zr_ml_compute_score_linear_squares_no_bias(const uint32_t* features, uint8_t count,
                                                                   const uint8_t* coefficients,
                                                                   uint32_t* out_score);
[[nodiscard]] zr_status zr_ml_compute_score_linear_squares_no_normalization(const uint32_t* features,
                                                                            uint8_t count,
                                                                            const uint8_t* coefficients,
                                                                            uint32_t* out_score);

// Raw score of a pair through the verifier's raw-path feature operation and
// its verify operation with the model (or none). With a model:
// ZR_NO_MODEL_OPERATION without compute operation, ZR_FAILURE when the
// feature count is not the model's. ZR_FAILURE for a verifier without those
// operations. On failure the alignment output is released and cleared.
[[nodiscard]] zr_status zr_verifier_get_raw_similarity_score(zr_session* session,
                                                             const zr_verifier_descriptor* verifier,
                                                             const zr_vermodel* model, zr_template* enrolled,
                                                             zr_template* probe, uint16_t* out_score,
                                                             zr_alignment** out_alignment);

// --- verify operations (slot 3) ---

// 2 s0 + 3 (s1 + s2), each sum kept to 16 bits. ZR_FAILURE and score 0 for a
// count other than 3.
[[nodiscard]] zr_status zr_vandrel_verify_feature_scores(zr_session* session, zr_template* enrolled,
                                                         zr_template* probe, const uint16_t* features,
                                                         uint16_t count, const zr_vermodel* model,
                                                         uint16_t* out_score);
// ZR_FAILURE for a count other than 30; score 0 when the linked-cluster and
// spectral scores (features 0 and 9) are both 0; else the model's score
// (ZR_NO_MODEL_OPERATION without a model).
[[nodiscard]] zr_status zr_ehm_verify_feature_scores(zr_session* session, zr_template* enrolled, zr_template* probe,
                                                     const uint16_t* features, uint16_t count,
                                                     const zr_vermodel* model, uint16_t* out_score);
