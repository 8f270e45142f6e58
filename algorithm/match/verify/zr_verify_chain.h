// Verification of a probe against stored multi-templates along the algorithm
// chain, its ranking variant over plain templates, the dynamic-update
// comparison, one link's extraction step and the log2 FAR mapping of raw
// scores.
//
// Scores compared here are u16 on the log2 FAR scale: threshold[L] for FAR
// level L = 0..27 (threshold[0] is 0); a level of 28 or more stands for 63277,
// one above the largest score 63276; one level step of shift is 2048.
#pragma once

#include <cstdint>

#include "match/chain/zr_algorithm_chain.h"
#include "match/chain/zr_algorithm_config.h"
#include "match/verifiers/zr_verifier.h"
#include "objects/zr_alignment.h"
#include "objects/zr_finger.h"
#include "objects/zr_image.h"
#include "objects/zr_match_result.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

inline constexpr uint32_t ZR_CHAIN_MAX_LINKS = ZR_MATCH_RESULT_LINKS;
inline constexpr uint32_t ZR_CANDIDATE_BEST_SCORES = 20;
inline constexpr uint16_t ZR_LOG2_SCORE_MAX = 63276;
inline constexpr uint16_t ZR_LOG2_SCORE_NONE = 63277;  // FAR level 28 and above

// One enrolled template of a candidate, as the walk carries it from link to
// link.
struct zr_chain_subtemplate {
    zr_chain_subtemplate* next;
    zr_chain_subtemplate* previous;
    uint32_t template_index;     // position among the templates handed out
    uint32_t instance_id;        // id of the instance in the stored record
    zr_template* tmpl;           // held
    zr_alignment* stored_alignment;      // held
    uint16_t* feature_scores;    // owned, carried between links
    uint32_t feature_count;
    uint16_t log2_score;         // of the last comparison
    zr_alignment* comparison_alignment;  // held or none
    uint32_t accepted;
    uint8_t class_id;            // 255 without
};

// One stored multi-template under verification.
struct zr_chain_candidate {
    zr_chain_candidate* next;
    zr_chain_candidate* previous;
    zr_chain_subtemplate* head;
    zr_chain_subtemplate* tail;
    int32_t count;
    uint32_t candidate_index;
    uint8_t nbr_of_templates;
    zr_template* stored;  // held
    uint32_t finished;
    uint16_t best_scores[ZR_CANDIDATE_BEST_SCORES];  // descending
    zr_chain_subtemplate* current;
    zr_chain_subtemplate* best;
};

// Ranked outcome of zr_multitemplate_verify_chain_rank and
// zr_multitemplate_update_templates.
struct zr_chain_rank_result {
    uint16_t log2_score;
    uint32_t accepted;
    zr_alignment* alignment;  // a new reference the caller releases, or none
    uint32_t index;
};

// Maps a raw score onto the log2 FAR scale through threshold rows for
// template counts 1, 2, 4, ..., 64 (n clamped to 1..64, neighbouring rows
// blended with weight ((n - 2^i) x 256) / 2^i, integer). Only the low 16 bits
// of the raw score are compared; the first interval T[i] <= raw < T[i+1]
// (empty ones skipped) interpolates linearly between threshold[i] and
// threshold[i+1], truncating; at or above T[27] gives 63276. No rows: the raw
// score unchanged (low 16 bits). A row read alone that is all zero, and a raw
// score below the first threshold of the blended row, give 0.
uint16_t raw_to_log2(uint32_t raw_score, int32_t nbr_of_templates, const zr_threshold_table* thresholds);

// Extraction step of one link. No image: 0. No extractor on the link: 0 with
// a template, else ZR_BAD_ARGUMENT. A template already compatible with the
// link's type stays. Otherwise a copy of the image goes through the link's
// preprocessors and the extractor, and the new template is merged into
// *inout_template (ZR_NO_MEMORY when a copy or merge fails). On failure
// *inout_template is released and cleared.
[[nodiscard]] zr_status zr_algorithm_helper_extract_link(zr_session* session, const zr_algorithm_link* link,
                                                         const zr_algorithm_chain* chain, zr_image* image,
                                                         zr_finger* finger, zr_template** inout_template);

// Removes from the candidate every subtemplate whose template is not
// compatible with the link's template type, releasing what it holds.
void zr_mtm_remove_non_supported_subtemplates(const zr_algorithm_link* link, zr_chain_candidate* candidate);

// Walks the chain for one probe (a template, or an image each link extracts
// from) against count stored multi-templates (type 80) and writes the best
// comparison into the result, created for count entries. Model 0 is used for
// every comparison and no metadata extractor runs. ZR_BAD_ARGUMENT for both
// or neither probe form, a missing result or chain, or a chain of more than
// six links (before anything is set up); ZR_WRONG_TYPE for a stored template
// no manager can be made from; ZR_NO_MEMORY; failures of extraction, the
// verifier and the link hook pass through. The result keeps what was written
// before a failure; the matching subtemplate tag is the id of the instance
// that matched, ZR_MTM_MISSING_TAG without a match.
[[nodiscard]] zr_status zr_multitemplate_verify_chain(zr_template* const* stored, uint8_t count,
                                                      const zr_algorithm_chain* chain, zr_session* session,
                                                      zr_template* probe_template, zr_image* probe_image,
                                                      uint32_t far_level, zr_match_result* result,
                                                      const zr_vermodel* const* vermodels,
                                                      const zr_algorithm_config* config);

// Ranks the templates (index = position) against the probe along the chain,
// stopping before a link with flag 0x001; the probe's own entry is never
// compared or reported. Writes up to *inout_results records (at least 1 must
// be asked for) and the number written. ZR_BAD_ARGUMENT for missing arguments
// or a request of 0; ZR_NO_MEMORY; verifier failures pass through.
[[nodiscard]] zr_status zr_multitemplate_verify_chain_rank(zr_template* const* templates, uint8_t count,
                                                           const zr_algorithm_chain* chain, zr_session* session,
                                                           zr_template* probe, uint32_t far_level,
                                                           uint8_t* inout_results, zr_chain_rank_result* results,
                                                           const zr_vermodel* const* vermodels);

// The dynamic-update comparison: the template at probe_index against every
// other one, as the ranking variant, with the verifier's template-update slot
// applied to accepted pairs (both places of the caller's array replaced).
// ZR_BAD_ARGUMENT for a probe index not below count or missing arguments.
[[nodiscard]] zr_status zr_multitemplate_update_templates(zr_template** templates, uint8_t count,
                                                          const zr_algorithm_chain* chain, zr_session* session,
                                                          uint32_t probe_index, uint32_t far_level,
                                                          uint8_t* inout_results, zr_chain_rank_result* results,
                                                          const zr_vermodel* const* vermodels);
