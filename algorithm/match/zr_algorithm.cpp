#include "match/zr_algorithm.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "match/multitemplate/zr_multitemplate_manager.h"
#include "objects/zr_alloc.h"
#include "objects/zr_template_generic.h"
#include "objects/zr_template_convert.h"
#include "objects/zr_template_metadata.h"

namespace {

constexpr const char* kFullsearchKey = "zr.ehm.spectral_fullsearch";
constexpr const char* kIncreaseRangeKey = "zr.ehm.spectral_increase_hr_search_range";
constexpr const char* kSensorSizeKey = "zr.algorithm.sensor_size";
constexpr const char* kSensorTypeKey = "zr.algorithm.sensor_type";
constexpr const char* k360Key = "zr.algorithm.360";
constexpr uint32_t kMetadataType = ZR_TEMPLATE_METADATA;
constexpr uint16_t kNoLivenessScore = 65535;
constexpr uint16_t kVariantWithout360 = 1;

zr_status write_feature_key(zr_session* session, uint32_t index, uint32_t state) {
    switch (index) {
    case ZR_FEATURE_360: return zr_session_set_360_state_(session, int32_t(state));
    case ZR_FEATURE_SPECTRAL_FULLSEARCH: return zr_session_set_int(session, kFullsearchKey, int32_t(state));
    default: return zr_session_set_int(session, kIncreaseRangeKey, int32_t(state));
    }
}

void mark_features(uint32_t* flags, const uint32_t* list, uint32_t count) {
    for (uint32_t i = 0; list != nullptr && i < count; ++i)
        if (list[i] < ZR_ALGORITHM_FEATURES) flags[list[i]] = 1;
}

zr_status extract_metadata_wo_classifier(zr_session* /*session*/, zr_image* image, zr_template** out_template) {
    return zr_template_metadata_extract(nullptr, image, nullptr, out_template);
}

void install_defaults(zr_algorithm* a) {
    a->get_chain_match = default_get_chain_match;
    a->get_raw_similarity_score = default_get_raw_similarity_score;
    a->extract_template = default_extract_template;
    a->update_multitemplate = default_update_multitemplate;
    a->update_multitemplate_ex = default_update_multitemplate_ex;
    a->mask_override = nullptr;
    a->comparison_mode_enabler = nullptr;
    a->metadata_extractor = extract_metadata_wo_classifier;
    a->model_selector = nullptr;
    a->inverted_image_detector = nullptr;
    a->destroy = delete_algorithm;
}

// Creation: the fields and the keys they mirror.
zr_status fill_algorithm(zr_algorithm* a, zr_session* s, zr_algorithm_chain* chain, uint32_t template_type,
                         uint32_t sensor_type, uint32_t sensor_size, const uint32_t* on, uint32_t on_count,
                         const uint32_t* mut, uint32_t mut_count) {
    a->ref_count = 1;
    a->chain = chain;
    a->template_type = template_type;
    a->sensor_type = sensor_type;
    zr_status rc = zr_session_set_sensor_type_(s, int32_t(sensor_type));
    if (rc != ZR_OK) return rc;
    a->sensor_size = sensor_size;
    rc = zr_session_set_sensor_size_(s, int32_t(sensor_size));
    if (rc != ZR_OK) return rc;
    mark_features(a->feature_state, on, on_count);
    mark_features(a->feature_mutable, mut, mut_count);
    for (uint32_t index : {ZR_FEATURE_SPECTRAL_FULLSEARCH, ZR_FEATURE_INCREASE_HR_SEARCH_RANGE, ZR_FEATURE_360}) {
        rc = write_feature_key(s, index, a->feature_state[index]);
        if (rc != ZR_OK) return rc;
    }
    return ZR_OK;
}

// Copies the match result's outputs of a verification.
void hand_out_result(const zr_match_result* result, uint32_t* out_decision, zr_alignment** out_alignment,
                     uint32_t* out_template_index, uint32_t* out_subtemplate_index,
                     zr_template** out_updated_template) {
    *out_decision = result->decision;
    if (out_alignment) *out_alignment = zr_alignment_retain(result->alignment);
    if (out_template_index) *out_template_index = result->matching_template_index;
    if (out_subtemplate_index) *out_subtemplate_index = result->matching_subtemplate_index;
    if (out_updated_template) *out_updated_template = zr_template_retain(result->updated_template);
}

void clear_outputs(uint32_t* out_decision, zr_alignment** out_alignment, uint32_t* out_template_index,
                   uint32_t* out_subtemplate_index, zr_template** out_updated_template) {
    *out_decision = 0;
    if (out_alignment) *out_alignment = nullptr;
    if (out_template_index) *out_template_index = 0;
    if (out_subtemplate_index) *out_subtemplate_index = 0;
    if (out_updated_template) *out_updated_template = nullptr;
}

// get_chain_match on the prepared image (or none) into a new result for
// count entries.
zr_status run_chain_match(zr_algorithm* a, zr_template* const* templates, uint8_t count, zr_template* probe,
                          zr_image* image, uint32_t far_level, zr_match_result** out_result) {
    *out_result = nullptr;
    zr_match_result* result = zr_match_result_create(count);
    if (result == nullptr) return ZR_NO_MEMORY;
    zr_image* prepared = nullptr;
    zr_status rc = image ? prepare_image_for_extraction(a, image, &prepared) : ZR_OK;
    if (rc == ZR_OK) rc = a->get_chain_match(a, templates, count, probe, prepared, far_level, result);
    zr_image_delete(prepared);
    if (rc != ZR_OK) {
        zr_match_result_delete(result);
        return rc;
    }
    *out_result = result;
    return ZR_OK;
}

const zr_vermodel* decision_model(const zr_algorithm* a, const zr_verifier_descriptor* verifier) {
    const zr_vermodel* model = nullptr;
    if (zr_session_get_360_state(a->session) == 0)
        model = zr_verifierI_get_vermodel(a->vermodels, verifier, kVariantWithout360);
    return model ? model : zr_verifierI_get_vermodel(a->vermodels, verifier, 0);
}

// (a x b) / c with c > 0, rounding half away from zero.
int64_t div_round_half_away(int64_t numerator, int64_t denominator) {
    const int64_t half = denominator / 2;
    return numerator >= 0 ? (numerator + half) / denominator : -((-numerator + half) / denominator);
}

}  // namespace

void zr_algorithm_default_config(zr_algorithm_config* config) {
    if (config == nullptr) return;
    *config = zr_algorithm_config{};
    config->max_templates = ZR_DEFAULT_MAX_TEMPLATES;
    config->max_captures = ZR_DEFAULT_MAX_CAPTURES;
}

zr_algorithm* zr_algorithm_create(zr_session* session, zr_algorithm_chain* chain, uint32_t template_type,
                                  uint32_t sensor_type, uint32_t sensor_size, const uint32_t* features_on,
                                  uint32_t features_on_count, const uint32_t* features_mutable,
                                  uint32_t features_mutable_count, const zr_algorithm_config* config) {
    zr_session* s = session ? zr_session_retain(session) : zr_session_create();
    if (s == nullptr) return nullptr;
    zr_algorithm* a = nullptr;
    if (zr_session_get_context(s, ZR_CONTEXT_ALGORITHM) == nullptr) {
        a = static_cast<zr_algorithm*>(zr_calloc(1, sizeof(zr_algorithm)));
        if (a != nullptr && zr_session_set_context(s, a, ZR_CONTEXT_ALGORITHM, nullptr) != ZR_OK) {
            free(a);
            a = nullptr;
        } else if (a != nullptr &&
                   fill_algorithm(a, s, chain, template_type, sensor_type, sensor_size, features_on,
                                  features_on_count, features_mutable, features_mutable_count) != ZR_OK) {
            // The keys written so far stay; the chain is still the caller's.
            zr_session_remove_context(s, ZR_CONTEXT_ALGORITHM);
            free(a);
            a = nullptr;
        }
    }
    if (a != nullptr) {
        a->session = zr_session_retain(s);
        if (config) a->config = *config;
        install_defaults(a);
    }
    zr_session_delete(s);
    return a;
}

zr_algorithm* zr_algorithm_retain(zr_algorithm* algorithm) {
    if (algorithm) ++algorithm->ref_count;
    return algorithm;
}

void zr_algorithm_delete(zr_algorithm* algorithm) {
    if (algorithm == nullptr || --algorithm->ref_count != 0) return;
    if (algorithm->destroy) algorithm->destroy(algorithm);
}

void delete_algorithm(zr_algorithm* algorithm) {
    if (algorithm == nullptr) return;
    zr_algorithm_chain_delete(algorithm->chain);
    zr_session* s = algorithm->session;
    for (const char* key : {kSensorSizeKey, kSensorTypeKey, kFullsearchKey, kIncreaseRangeKey, k360Key})
        zr_session_clear_property(s, key);
    zr_session_remove_context(s, ZR_CONTEXT_ALGORITHM);
    zr_session_delete(s);
    free(algorithm);
}

// --- accessors ---

zr_algorithm_config* zr_algorithm_get_config(zr_algorithm* algorithm) { return &algorithm->config; }
zr_session* zr_algorithm_get_session(const zr_algorithm* algorithm) { return algorithm->session; }
zr_algorithm_chain* zr_algorithm_get_algorithm_chain(const zr_algorithm* algorithm) { return algorithm->chain; }
void zr_algorithm_set_algorithm_chain(zr_algorithm* algorithm, zr_algorithm_chain* chain) {
    if (algorithm->chain != chain) zr_algorithm_chain_delete(algorithm->chain);
    algorithm->chain = chain;
}
uint32_t zr_algorithm_get_template_type(const zr_algorithm* algorithm) { return algorithm->template_type; }
uint32_t zr_algorithm_get_sensor_type(const zr_algorithm* algorithm) { return algorithm->sensor_type; }
uint32_t zr_algorithm_get_sensor_size(const zr_algorithm* algorithm) { return algorithm->sensor_size; }

uint32_t zr_algorithm_get_feature_state(const zr_algorithm* algorithm, uint32_t index) {
    return index < ZR_ALGORITHM_FEATURES ? algorithm->feature_state[index] : 0;
}
uint32_t zr_algorithm_feature_is_mutable(const zr_algorithm* algorithm, uint32_t index) {
    return index < ZR_ALGORITHM_FEATURES ? algorithm->feature_mutable[index] : 0;
}
uint32_t zr_algorithm_set_feature_state(zr_algorithm* algorithm, uint32_t index, uint32_t state) {
    if (index >= ZR_ALGORITHM_FEATURES || algorithm->feature_mutable[index] == 0) return 1;
    algorithm->feature_state[index] = state;
    (void)write_feature_key(algorithm->session, index, state);
    return 0;
}

const zr_vermodel* const* zr_algorithm_get_vermodels(const zr_algorithm* algorithm) {
    return algorithm ? algorithm->vermodels : nullptr;
}
void zr_algorithm_set_vermodels(zr_algorithm* algorithm, const zr_vermodel* const* vermodels) {
    algorithm->vermodels = vermodels;
}
zr_status zr_algorithm_set_preprocessors(zr_algorithm* algorithm, const zr_image_preprocessor* const* preprocessors) {
    if (algorithm == nullptr) return ZR_BAD_ARGUMENT;
    algorithm->preprocessors = preprocessors;
    return ZR_OK;
}
uint32_t zr_algorithm_get_min_templates_in_class(const zr_algorithm* algorithm, uint32_t image_class) {
    if (algorithm == nullptr || image_class >= ZR_FINGER_CLASSES) return ZR_NO_COUNT;
    return algorithm->min_templates_in_class[image_class];
}
zr_status zr_algorithm_set_min_templates_in_class(zr_algorithm* algorithm, uint32_t image_class, int32_t value) {
    if (algorithm == nullptr || image_class >= ZR_FINGER_CLASSES || value < 0) return ZR_BAD_ARGUMENT;
    algorithm->min_templates_in_class[image_class] = uint32_t(value);
    return ZR_OK;
}
void zr_algorithm_set_mask_override(zr_algorithm* algorithm, zr_mask_override_fn operation) {
    algorithm->mask_override = operation;
}
void zr_algorithm_set_enable_comparison_mode(zr_algorithm* algorithm, zr_comparison_mode_enabler_fn operation) {
    algorithm->comparison_mode_enabler = operation;
}
void zr_algorithm_set_metadata_extractor(zr_algorithm* algorithm, zr_metadata_extractor_fn operation) {
    algorithm->metadata_extractor = operation;
}
void zr_algorithm_set_model_selector(zr_algorithm* algorithm, zr_model_selector_fn operation) {
    algorithm->model_selector = operation;
}
void zr_algorithm_set_inverted_image_detector(zr_algorithm* algorithm, zr_inverted_image_detector_fn operation) {
    algorithm->inverted_image_detector = operation;
}
int32_t zr_algorithm_get_slice_rows(const zr_algorithm* algorithm) {
    return zr_session_get_slice_rows(algorithm->session);
}
zr_status zr_algorithm_set_slice_rows(zr_algorithm* algorithm, int32_t rows) {
    return zr_session_set_slice_rows_(algorithm->session, rows);
}
uint32_t zr_algorithm_get_nbr_of_links(const zr_algorithm* algorithm) {
    return zr_algorithm_chain_get_nbr_of_links(algorithm->chain);
}
zr_algorithm_link* zr_algorithm_get_link_at_index(const zr_algorithm* algorithm, uint32_t index) {
    zr_algorithm_link* link = zr_algorithm_chain_get_first_link(algorithm->chain);
    for (uint32_t i = 0; link != nullptr && i < index; ++i) link = zr_algorithm_link_get_next(link);
    return link;
}
const zr_verifier_descriptor* zr_algorithm_get_verifier(const zr_algorithm* algorithm) {
    return zr_algorithm_link_get_verifier(zr_algorithm_chain_get_last_link(algorithm->chain));
}
const zr_vermodel* zr_algorithm_get_vermodel(const zr_algorithm* algorithm, const zr_verifier_descriptor* verifier,
                                             uint16_t variant) {
    if (algorithm == nullptr) return nullptr;
    const zr_vermodel* model = zr_verifierI_get_vermodel(algorithm->vermodels, verifier, variant);
    return model ? model : zr_verifierI_get_vermodel(algorithm->vermodels, verifier, 0);
}

// --- slot setters ---

void zr_algorithm_set_simple_extractor(zr_algorithm* algorithm) { algorithm->extract_template = default_simple_extract; }
void zr_algorithm_set_extract_override(zr_algorithm* algorithm, const zr_extract_template_fn* operation) {
    algorithm->extract_template = (operation && *operation) ? *operation : default_extract_template;
}
void zr_algorithm_set_verify_override(zr_algorithm* algorithm, const zr_verify_override* pair) {
    algorithm->get_chain_match = (pair && pair->get_chain_match) ? pair->get_chain_match : default_get_chain_match;
    algorithm->get_raw_similarity_score = (pair && pair->get_raw_similarity_score)
                                              ? pair->get_raw_similarity_score
                                              : default_get_raw_similarity_score;
}
void zr_algorithm_set_update_override(zr_algorithm* algorithm, const zr_update_override* pair) {
    algorithm->update_multitemplate =
        (pair && pair->update_multitemplate) ? pair->update_multitemplate : default_update_multitemplate;
    algorithm->update_multitemplate_ex =
        (pair && pair->update_multitemplate_ex) ? pair->update_multitemplate_ex : default_update_multitemplate_ex;
}

// --- entry points ---

zr_status zr_algorithm_extract_template_ex(zr_algorithm* algorithm, zr_image* image, zr_finger* finger,
                                           zr_template** inout_template) {
    if (algorithm == nullptr || inout_template == nullptr) return ZR_BAD_ARGUMENT;
    const zr_status rc =
        algorithm->extract_template(algorithm, image, finger ? finger : ZR_FINGER_ANONYMOUS, inout_template);
    if (rc == ZR_OK && *inout_template == nullptr) return ZR_FAILURE;
    return rc;
}

zr_status zr_algorithm_extract_template(zr_algorithm* algorithm, zr_image* image, zr_finger* finger,
                                        zr_template** out_template) {
    if (out_template == nullptr) return ZR_BAD_ARGUMENT;
    *out_template = nullptr;
    return zr_algorithm_extract_template_ex(algorithm, image, finger, out_template);
}

zr_status zr_algorithm_verify_image(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                    zr_image* image, uint32_t far_level, uint32_t* out_decision,
                                    zr_alignment** out_alignment, uint32_t* out_template_index,
                                    uint32_t* out_subtemplate_index, zr_template** out_updated_template) {
    if (algorithm == nullptr || templates == nullptr || count == 0 || image == nullptr || out_decision == nullptr)
        return ZR_BAD_ARGUMENT;
    clear_outputs(out_decision, out_alignment, out_template_index, out_subtemplate_index, out_updated_template);
    zr_match_result* result = nullptr;
    const zr_status rc = run_chain_match(algorithm, templates, count, nullptr, image, far_level, &result);
    if (rc != ZR_OK) return rc;
    hand_out_result(result, out_decision, out_alignment, out_template_index, out_subtemplate_index,
                    out_updated_template);
    zr_match_result_delete(result);
    return ZR_OK;
}

zr_status zr_algorithm_verify_image_ex(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                       zr_image* image, uint32_t far_level, zr_match_result** out_result) {
    if (out_result == nullptr) return ZR_BAD_ARGUMENT;
    *out_result = nullptr;
    if (algorithm == nullptr || templates == nullptr || count == 0 || image == nullptr) return ZR_BAD_ARGUMENT;
    return run_chain_match(algorithm, templates, count, nullptr, image, far_level, out_result);
}

zr_status zr_algorithm_verify_image_pad(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                        zr_image* image, uint32_t far_level, zr_pad* pad, uint32_t* out_decision,
                                        zr_alignment** out_alignment, uint32_t* out_template_index,
                                        uint32_t* out_subtemplate_index, zr_template** out_updated_template,
                                        uint16_t* out_score) {
    if (algorithm == nullptr || pad == nullptr || out_decision == nullptr || out_score == nullptr)
        return ZR_BAD_ARGUMENT;
    *out_score = kNoLivenessScore;
    zr_match_result* result = nullptr;
    zr_status rc = run_chain_match(algorithm, templates, count, nullptr, image, far_level, &result);
    if (rc != ZR_OK) return rc;
    if (result->decision != 0) {
        uint16_t score = 0;
        rc = zr_pad_get_score(pad, image, &score);
        if (rc == ZR_OK) *out_score = score;
    }
    if (rc == ZR_OK)
        hand_out_result(result, out_decision, out_alignment, out_template_index, out_subtemplate_index,
                        out_updated_template);
    zr_match_result_delete(result);
    return rc;
}

zr_status zr_algorithm_verify_templates(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                        zr_template* probe, uint32_t far_level, uint32_t* out_decision,
                                        zr_alignment** out_alignment, uint32_t* out_template_index,
                                        uint32_t* out_subtemplate_index) {
    if (algorithm == nullptr || templates == nullptr || count == 0 || probe == nullptr || out_decision == nullptr)
        return ZR_BAD_ARGUMENT;
    clear_outputs(out_decision, out_alignment, out_template_index, out_subtemplate_index, nullptr);
    zr_match_result* result = nullptr;
    const zr_status rc = run_chain_match(algorithm, templates, count, probe, nullptr, far_level, &result);
    if (rc != ZR_OK) return rc;
    hand_out_result(result, out_decision, out_alignment, out_template_index, out_subtemplate_index, nullptr);
    zr_match_result_delete(result);
    return ZR_OK;
}

zr_status zr_algorithm_verify_templates_ex(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                           zr_template* probe, uint32_t far_level, zr_match_result** out_result) {
    if (out_result == nullptr) return ZR_BAD_ARGUMENT;
    *out_result = nullptr;
    if (algorithm == nullptr || templates == nullptr || count == 0 || probe == nullptr) return ZR_BAD_ARGUMENT;
    return run_chain_match(algorithm, templates, count, probe, nullptr, far_level, out_result);
}

zr_status zr_algorithm_get_match_decision_ex(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                             zr_template* probe, zr_image* image, uint32_t far_level,
                                             zr_match_result* result) {
    if (algorithm == nullptr || result == nullptr) return ZR_BAD_ARGUMENT;
    zr_image* prepared = nullptr;
    zr_status rc = image ? prepare_image_for_extraction(algorithm, image, &prepared) : ZR_OK;
    if (rc == ZR_OK) rc = algorithm->get_chain_match(algorithm, templates, count, probe, prepared, far_level, result);
    zr_image_delete(prepared);
    return rc;
}

zr_status zr_algorithm_get_similarity_score(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                            zr_template* probe, uint16_t* out_score) {
    if (algorithm == nullptr || out_score == nullptr) return ZR_BAD_ARGUMENT;
    *out_score = 0;
    zr_match_result* result = nullptr;
    const zr_status rc =
        run_chain_match(algorithm, templates, count, probe, nullptr, ZR_FAR_NO_DECISION, &result);
    if (rc != ZR_OK) return rc;
    *out_score = result->far_score;
    zr_match_result_delete(result);
    return ZR_OK;
}

zr_status zr_algorithm_get_raw_score_ex(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                        zr_template* probe, zr_match_result* result) {
    if (algorithm == nullptr || templates == nullptr || probe == nullptr || result == nullptr) return ZR_BAD_ARGUMENT;
    return algorithm->get_raw_similarity_score(algorithm, templates, count, probe, result);
}

zr_status zr_algorithm_get_raw_similarity_score(zr_algorithm* algorithm, zr_template* const* templates,
                                                uint8_t count, zr_template* probe, uint16_t* out_score,
                                                zr_alignment** out_alignment) {
    if (out_alignment) *out_alignment = nullptr;
    if (algorithm == nullptr || out_score == nullptr) return ZR_BAD_ARGUMENT;
    *out_score = 0;
    zr_match_result* result = zr_match_result_create(count);
    if (result == nullptr) return ZR_NO_MEMORY;
    const zr_status rc = zr_algorithm_get_raw_score_ex(algorithm, templates, count, probe, result);
    if (rc == ZR_OK) {
        *out_score = result->raw_score;
        if (out_alignment) *out_alignment = zr_alignment_retain(result->alignment);
    }
    zr_match_result_delete(result);
    return rc;
}

uint16_t zr_algorithm_select_model(zr_algorithm* algorithm, zr_template* a, zr_template* b) {
    uint16_t variant = 0;
    if (algorithm == nullptr || algorithm->model_selector == nullptr) return 0;
    return algorithm->model_selector(algorithm->session, a, b, &variant) == ZR_OK ? variant : 0;
}

zr_model_choice zr_algorithm_model_choice(const zr_algorithm* algorithm) {
    if (algorithm == nullptr) return zr_model_choice{};
    return zr_model_choice{algorithm->vermodels, algorithm->model_selector};
}

uint32_t zr_algorithm_is_inverted_image(zr_algorithm* algorithm, zr_image* image) {
    uint32_t inverted = 0;
    if (algorithm == nullptr || algorithm->inverted_image_detector == nullptr) return 0;
    return algorithm->inverted_image_detector(algorithm->session, image, &inverted) == ZR_OK ? inverted : 0;
}

zr_status zr_algorithm_enable_comparison_mode(zr_algorithm* algorithm) {
    if (algorithm == nullptr) return ZR_BAD_ARGUMENT;
    if (algorithm->comparison_mode_enabler == nullptr) return ZR_UNHANDLED_INPUT;
    return algorithm->comparison_mode_enabler(algorithm);
}

// 0 without extractor or when the template already holds metadata; else the
// extractor's template is merged with the caller's, which is released and
// replaced (ZR_NO_MEMORY when merging fails, the caller's template kept).
zr_status zr_algorithm_extract_metadata(zr_algorithm* algorithm, zr_image* image, zr_template** inout_template) {
    if (algorithm == nullptr || inout_template == nullptr) return ZR_BAD_ARGUMENT;
    if (algorithm->metadata_extractor == nullptr || zr_template_is_compatible(*inout_template, kMetadataType))
        return ZR_OK;
    zr_template* metadata = nullptr;
    const zr_status rc = algorithm->metadata_extractor(algorithm->session, image, &metadata);
    if (rc != ZR_OK) {
        zr_template_delete(metadata);
        return rc;
    }
    zr_template* merged = zr_template_merge(*inout_template, metadata);
    zr_template_delete(metadata);
    if (merged == nullptr) return ZR_NO_MEMORY;
    zr_template_delete(*inout_template);
    *inout_template = merged;
    return ZR_OK;
}

void zr_algorithm_get_pref_idim(zr_algorithm* algorithm, uint16_t vertical_dpi, uint16_t horizontal_dpi,
                                uint16_t rows, uint16_t cols, uint16_t* out_vertical_dpi,
                                uint16_t* out_horizontal_dpi, uint16_t* out_rows, uint16_t* out_cols) {
    uint16_t best[4] = {vertical_dpi, horizontal_dpi, rows, cols};
    for (zr_algorithm_link* link = zr_algorithm_chain_get_first_link(algorithm ? algorithm->chain : nullptr); link;
         link = zr_algorithm_link_get_next(link)) {
        const zr_extractor_descriptor* extractor = zr_algorithm_link_get_extractor(link);
        if (extractor == nullptr || extractor->pref_idim == nullptr) continue;
        uint16_t answer[4] = {vertical_dpi, horizontal_dpi, rows, cols};
        extractor->pref_idim(algorithm->session, vertical_dpi, horizontal_dpi, rows, cols, &answer[0], &answer[1],
                             &answer[2], &answer[3]);
        if (answer[0] >= best[0]) memcpy(best, answer, sizeof(best));
    }
    if (out_vertical_dpi) *out_vertical_dpi = best[0];
    if (out_horizontal_dpi) *out_horizontal_dpi = best[1];
    if (out_rows) *out_rows = best[2];
    if (out_cols) *out_cols = best[3];
}

uint32_t zr_algorithm_get_nbr_of_templates_in_class(zr_algorithm* algorithm, zr_template* multitemplate,
                                                    uint16_t image_class) {
    if (algorithm == nullptr || multitemplate == nullptr || image_class >= ZR_FINGER_CLASSES) return ZR_NO_COUNT;
    zr_multitemplate_manager* manager = zr_multitemplate_manager_create_with_template(multitemplate);
    if (manager == nullptr) return ZR_NO_COUNT;
    const uint32_t n = zr_multitemplate_manager_get_nbr_of_templates_in_class(manager, image_class);
    zr_multitemplate_manager_delete(manager);
    return n;
}

// --- verification models ---

zr_status zr_algorithm_get_decision_from_raw_similarity_score(zr_algorithm* algorithm, uint16_t score,
                                                             uint32_t far_level, uint32_t* out_decision) {
    if (algorithm == nullptr || out_decision == nullptr) return ZR_BAD_ARGUMENT;
    *out_decision = 0;
    const zr_vermodel* model = decision_model(algorithm, zr_algorithm_get_verifier(algorithm));
    if (model == nullptr || model->thresholds == nullptr) return ZR_UNHANDLED_INPUT;
    return zr_verifier_decision_from_score(algorithm->session, score, 1, far_level, model->thresholds, out_decision,
                                           nullptr);
}

// --- dynamic FAR ---

void zr_algorithm_set_config_internal(zr_algorithm* algorithm, const zr_dynamic_far* record, uint32_t mask) {
    if (algorithm == nullptr || record == nullptr) return;
    if (mask & 1u) algorithm->dynamic_far[0] = *record;
    if (mask & 2u) algorithm->dynamic_far[1] = *record;
}

void zr_algorithm_set_dynamic_far_quarantine_shifts(zr_algorithm* algorithm, uint16_t shifts) {
    if (algorithm) algorithm->dynamic_far_quarantine_shifts = shifts;
}

// The shift moves linearly from the record's shift at its minimum count to
// the one at its maximum (capped by the smallest estimated capacity of the
// multi-templates) as the largest template count n grows.
uint32_t zr_algorithm_get_config_internal(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                          uint32_t far_level, int32_t mode) {
    if (algorithm == nullptr) return far_level;
    const zr_dynamic_far& d = algorithm->dynamic_far[mode == 2 ? 1 : 0];
    if ((d.shift_at_min == 0 && d.shift_at_max == 0) || far_level == ZR_FAR_NO_DECISION || count == 0 ||
        templates == nullptr)
        return far_level;
    uint32_t n = 0;
    uint32_t cap = 256;
    for (uint8_t i = 0; i < count; ++i) {
        zr_multitemplate_manager* manager = zr_multitemplate_manager_create_with_template(templates[i]);
        if (manager == nullptr) continue;
        n = std::max<uint32_t>(n, uint8_t(zr_multitemplate_manager_get_nbr_of_templates(manager)));
        cap = std::min<uint32_t>(cap, zr_multitemplate_manager_get_max_nbr_of_templates(manager));
        zr_multitemplate_manager_delete(manager);
    }
    const auto at_min = int32_t(d.shift_at_min);
    const auto at_max = int32_t(d.shift_at_max);
    int64_t shift = at_min;
    if (n > d.min_templates) {
        const uint32_t limit = std::min<uint32_t>(d.max_templates, cap);
        if (n < limit)
            shift = at_min + div_round_half_away(int64_t(at_max - at_min) * (n - d.min_templates),
                                                 int64_t(limit) - d.min_templates);
        else
            shift = at_max;
    }
    return zr_far_shift(far_level, int16_t(shift));
}
