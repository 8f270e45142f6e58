// Raw-score verification of a probe against the templates of one stored
// multi-template through one verifier, as the algorithm's raw-similarity
// operation uses it.
//
// Combined score over the n templates scored, with b0 >= b1 the two best raw
// scores: n = 1 gives b0; n = 2..35 gives (w b1 + 10 b0) / (w + 10) with
// w = floor((3n + 30) / 28); above 35, (5 b1 + 10 b0) / 15 (integer
// divisions).
#pragma once

#include <cstdint>

#include "match/multitemplate/zr_multitemplate_manager.h"
#include "match/verifiers/zr_verifier.h"
#include "objects/zr_alignment.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

inline constexpr uint32_t ZR_RAW_BEST_SCORES = 20;

struct zr_raw_result {
    uint16_t combined_score;
    zr_alignment* alignment;             // held: stored alignment x inverse(comparison)
    zr_alignment* comparison_alignment;  // held
    uint8_t best_index;                  // template index of the best score
    uint32_t model;                      // model variant of the best template
    uint16_t* feature_scores;            // owned (free())
    uint32_t feature_count;
};

// Releases the two alignments and the feature scores and clears the record.
void raw_result_deinit(zr_raw_result* record);
// Deinitialises the destination, moves the source's fields into it and
// clears the source.
void raw_result_move(zr_raw_result* destination, zr_raw_result* source);

// Combined score of the best scores (descending) of n templates.
uint16_t zr_raw_combined_score(uint32_t n, uint16_t b0, uint16_t b1);

// Scores the probe against every enrolled template the manager hands out
// (model chosen by the choice's selector, overridden by
// "zr.verifier.force_model_variant"; templates whose model differs from a
// non-negative "zr.verifier.filter_model_variant" are skipped, as are those
// whose scoring fails), then runs the best one through the verifier's
// raw-path feature operation. ZR_UNHANDLED_INPUT without templates;
// ZR_WRONG_TYPE when nothing was scored; ZR_BAD_ARGUMENT for missing
// arguments or a verifier without the raw-path operation; ZR_NO_MEMORY; the
// feature operation's failure. The record is cleared first and on failure.
// Each template is scored with the choice's model of its variant, falling
// back to variant 0 (none when the choice is none or has no such model).
[[nodiscard]] zr_status zr_multitemplate_manager_verify_template(zr_multitemplate_manager* manager,
                                                                 const zr_verifier_descriptor* verifier,
                                                                 const zr_model_choice* models,
                                                                 zr_session* session, zr_template* probe,
                                                                 zr_raw_result* out);
// zr_multitemplate_manager_verify_template over a manager made from the
// stored template (ZR_WRONG_TYPE when none can be made).
[[nodiscard]] zr_status zr_multitemplate_verify_template(zr_template* stored, const zr_verifier_descriptor* verifier,
                                                         const zr_model_choice* models, zr_session* session,
                                                         zr_template* probe, zr_raw_result* out);
