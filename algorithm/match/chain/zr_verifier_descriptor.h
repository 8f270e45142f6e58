// Verifier descriptor: the constant table of four operations through which a
// link of the algorithm chain compares an enrolled template with a probe.
//
// Slot order is fixed: 1 extract feature scores (verification walk), 2 extract
// feature scores for the raw-score path, 3 verify feature scores, 4 update
// templates. An empty slot is none (nullptr). Descriptors are constant records
// shared by every algorithm; nothing in them is owned or reference counted.
#pragma once

#include <cstdint>

#include "objects/zr_alignment.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

// Verification model (score model and threshold rows); defined with the
// verifiers that use it.
struct zr_vermodel;

// Slots 1 and 2: compares the enrolled template with the probe. On success the
// operation allocates the feature array with zr_malloc (the caller frees it
// with free()) and writes its entry count. The alignment is in and out where
// the verifier uses it: a verifier that reads it releases the alignment passed
// in and clears the pointer, and may store a new one. On failure the array
// output is none, the count 0 and the alignment output none.
using zr_verifier_extract_feature_scores_fn = zr_status (*)(
    zr_session* session, zr_template* enrolled, zr_template* probe, uint16_t** out_scores,
    uint16_t* out_count, zr_alignment** inout_alignment);

// Slot 3: turns a feature array into one u16 score on the log2 FAR scale with
// the vermodel (or none). The output is written on every path (0 on failure).
using zr_verifier_verify_feature_scores_fn = zr_status (*)(
    zr_session* session, zr_template* enrolled, zr_template* probe, const uint16_t* scores,
    uint16_t count, const zr_vermodel* model, uint16_t* out_score);

// Slot 4: updates the enrolled template and the probe from an accepted pair;
// either output may stay none when that template is unchanged.
using zr_verifier_update_templates_fn = zr_status (*)(
    zr_session* session, zr_template* enrolled, zr_template** out_new_enrolled,
    zr_template* probe, zr_template** out_new_probe, zr_alignment* alignment);

struct zr_verifier_descriptor {
    zr_verifier_extract_feature_scores_fn extract_feature_scores;
    zr_verifier_extract_feature_scores_fn extract_feature_scores_raw;
    zr_verifier_verify_feature_scores_fn verify_feature_scores;
    zr_verifier_update_templates_fn update_templates;
};
