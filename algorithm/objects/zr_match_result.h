// Outcome of one verification through the chain of verifier links: the
// decision at a false-accept-rate level, the scores, the alignments, the
// templates and image involved, and one entry per stored multi-template
// compared. The verification fills it; this record fixes its ownership.
//
// Counted, but without destroy function: zr_match_result_delete frees it.
#pragma once

#include <cstdint>

#include "objects/zr_alignment.h"
#include "objects/zr_image.h"
#include "objects/zr_result.h"
#include "objects/zr_template.h"

constexpr uint32_t ZR_MATCH_RESULT_LINKS = 6;
constexpr uint32_t ZR_MATCH_RESULT_UNSET = 0xFFFFFFFFu;

// What one link of the chain did with one stored multi-template.
struct zr_match_result_link {
    uint32_t comparisons;  // number of comparisons made at the link
    uint32_t best_score;   // best adjusted score at the link
    uint32_t reserved;     // 0xFFFFFFFF at creation
};

struct zr_match_result_entry {
    zr_match_result_link links[ZR_MATCH_RESULT_LINKS];
};
static_assert(sizeof(zr_match_result_entry) == 72);

struct zr_match_result {
    uint32_t ref_count;
    uint32_t decision_far_level;
    uint32_t far_level_reached;
    uint16_t far_score;
    uint32_t decision;                 // 1 accept
    zr_alignment* alignment;           // held or none
    zr_alignment* second_alignment;    // held or none
    zr_template* verified_template;    // the probe template, held or none
    zr_image* verification_image;      // held or none
    zr_template* second_template;      // best stored multi-template, held or none
    uint32_t overlap_area;
    uint16_t* feature_scores;          // owned, or none
    int32_t feature_score_count;
    uint16_t raw_score;                // maximum raw score
    uint32_t selected_model;
    uint32_t matching_subtemplate_tag;
    uint32_t last_link_index;
    zr_template* updated_template;     // held or none; handed out by verification
    uint16_t probe_rows;
    uint16_t probe_cols;
    uint16_t matching_subtemplate_class_id;
    uint32_t matching_subtemplate_index;
    uint32_t matching_template_index;
    zr_match_result_entry* entries;    // owned, entry_count of them
    uint32_t entry_count;
};

// New result with one reference, a zeroed head and entry_count entries
// (every field 0 but the reserved ones); none when out of memory.
zr_match_result* zr_match_result_create(uint32_t entry_count);
zr_match_result* zr_match_result_retain(zr_match_result* result);
// Drops one reference; at zero releases the alignments, templates and image
// and frees the entries, the feature scores and the record.
void zr_match_result_delete(zr_match_result* result);
// Copies the source into an existing target: every head field (the target
// keeps its reference count and entry array), the source's entries into the
// target's array, and an owned copy of the feature scores; the target then
// holds the source's alignments, image and templates instead of its own.
// 2 for a missing argument or a source with more entries than the target,
// 9 when out of memory; the target is unchanged on failure. 0.
[[nodiscard]] zr_status zr_match_result_clone(const zr_match_result* source,
                                              zr_match_result* target);

// The fields (no reference added); 0 or none for a missing result.
zr_alignment* zr_match_result_get_alignment(const zr_match_result* result);
uint32_t zr_match_result_get_decision(const zr_match_result* result);
uint32_t zr_match_result_get_decision_far(const zr_match_result* result);
uint16_t zr_match_result_get_far_score(const zr_match_result* result);
uint32_t zr_match_result_get_overlap_area(const zr_match_result* result);
uint16_t zr_match_result_get_matching_subtemplate_class_id(const zr_match_result* result);
uint32_t zr_match_result_get_matching_subtemplate_index(const zr_match_result* result);
uint32_t zr_match_result_get_matching_template_index(const zr_match_result* result);
// 1 when the FAR level reached is at least far_level.
uint32_t zr_match_result_get_decision_at(const zr_match_result* result, uint32_t far_level);

// Fields written by the verification; setters ignore a missing result.
uint16_t zr_match_result_get_raw_score(const zr_match_result* result);
void zr_match_result_set_raw_score(zr_match_result* result, uint16_t raw_score);
uint32_t zr_match_result_get_selected_model(const zr_match_result* result);
void zr_match_result_set_selected_model(zr_match_result* result, uint32_t model);
uint32_t zr_match_result_get_matching_subtemplate_tag(const zr_match_result* result);
void zr_match_result_set_matching_subtemplate_tag(zr_match_result* result, uint32_t tag);
uint32_t zr_match_result_get_last_link_index(const zr_match_result* result);
void zr_match_result_set_last_link_index(zr_match_result* result, uint32_t index);
zr_template* zr_match_result_get_updated_template(const zr_match_result* result);
// Deletes the old template, holds the new one (or none).
void zr_match_result_set_updated_template(zr_match_result* result, zr_template* tmpl);
uint16_t zr_match_result_get_probe_rows(const zr_match_result* result);
void zr_match_result_set_probe_rows(zr_match_result* result, uint16_t rows);
uint16_t zr_match_result_get_probe_cols(const zr_match_result* result);
void zr_match_result_set_probe_cols(zr_match_result* result, uint16_t cols);

// Replaces the feature scores by an owned copy of count values (none for a
// count below 1). 2 for a missing result or missing scores with a count, 9
// when out of memory (the old scores kept); else 0.
[[nodiscard]] zr_status zr_match_result_set_feature_scores(zr_match_result* result,
                                                           const uint16_t* scores, int32_t count);
// Records the enrol type in the verified template's metadata: 2 for a
// missing result, 21 without verified template, else the metadata's result.
[[nodiscard]] zr_status zr_match_result_set_enroll_type(zr_match_result* result,
                                                        uint32_t enroll_type);
// Sets the verification image's class id and records it in the verified
// template's metadata: 2 for a missing result or image, 21 without verified
// template, else the metadata's result.
[[nodiscard]] zr_status zr_match_result_set_verification_image_class_id(zr_match_result* result,
                                                                        uint16_t class_id);
