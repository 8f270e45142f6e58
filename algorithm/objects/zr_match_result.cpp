#include "objects/zr_match_result.h"

#include <cstdlib>
#include <cstring>

#include "objects/zr_alloc.h"
#include "objects/zr_object.h"
#include "objects/zr_template_metadata.h"

namespace {

void release_held(zr_match_result* result) {
    zr_alignment_delete(result->alignment);
    zr_alignment_delete(result->second_alignment);
    zr_template_delete(result->verified_template);
    zr_template_delete(result->second_template);
    zr_template_delete(result->updated_template);
    zr_image_delete(result->verification_image);
}

void retain_held(const zr_match_result* result) {
    zr_alignment_retain(result->alignment);
    zr_alignment_retain(result->second_alignment);
    zr_template_retain(result->verified_template);
    zr_template_retain(result->second_template);
    zr_template_retain(result->updated_template);
    zr_image_retain(result->verification_image);
}

void destroy_match_result(zr_match_result* result) {
    release_held(result);
    std::free(result->entries);
    std::free(result->feature_scores);
    std::free(result);
}

// Owned copy of count scores; none for a count below 1. False when out of
// memory.
bool copy_scores(const uint16_t* scores, int32_t count, uint16_t** out) {
    *out = nullptr;
    if (count < 1) return true;
    *out = static_cast<uint16_t*>(zr_malloc(size_t(count) * sizeof(uint16_t)));
    if (*out == nullptr) return false;
    std::memcpy(*out, scores, size_t(count) * sizeof(uint16_t));
    return true;
}

}  // namespace

zr_match_result* zr_match_result_create(uint32_t entry_count) {
    auto* result = static_cast<zr_match_result*>(zr_calloc(1, sizeof(zr_match_result)));
    if (result == nullptr) return nullptr;
    if (entry_count != 0) {
        result->entries = static_cast<zr_match_result_entry*>(
            zr_calloc(entry_count, sizeof(zr_match_result_entry)));
        if (result->entries == nullptr) {
            std::free(result);
            return nullptr;
        }
        for (uint32_t e = 0; e < entry_count; ++e)
            for (auto& link : result->entries[e].links) link.reserved = ZR_MATCH_RESULT_UNSET;
    }
    result->ref_count = 1;
    result->entry_count = entry_count;
    return result;
}

zr_match_result* zr_match_result_retain(zr_match_result* result) {
    return zr_object_retain(result);
}

void zr_match_result_delete(zr_match_result* result) {
    zr_object_release(result, destroy_match_result);
}

zr_status zr_match_result_clone(const zr_match_result* source, zr_match_result* target) {
    if (source == nullptr || target == nullptr) return ZR_BAD_ARGUMENT;
    if (source == target) return ZR_OK;
    if (source->entry_count > target->entry_count) return ZR_BAD_ARGUMENT;
    uint16_t* scores = nullptr;
    if (!copy_scores(source->feature_scores, source->feature_score_count, &scores))
        return ZR_NO_MEMORY;
    retain_held(source);  // before the target lets go: they may be the same objects
    release_held(target);
    std::free(target->feature_scores);
    const uint32_t ref_count = target->ref_count;
    zr_match_result_entry* entries = target->entries;
    const uint32_t entry_count = target->entry_count;
    *target = *source;
    target->ref_count = ref_count;
    target->entries = entries;
    target->entry_count = entry_count;
    target->feature_scores = scores;
    if (source->entry_count != 0)
        std::memcpy(entries, source->entries, source->entry_count * sizeof(zr_match_result_entry));
    return ZR_OK;
}

zr_alignment* zr_match_result_get_alignment(const zr_match_result* result) {
    return result ? result->alignment : nullptr;
}

uint32_t zr_match_result_get_decision(const zr_match_result* result) {
    return result ? result->decision : 0;
}

uint32_t zr_match_result_get_decision_far(const zr_match_result* result) {
    return result ? result->decision_far_level : 0;
}

uint16_t zr_match_result_get_far_score(const zr_match_result* result) {
    return result ? result->far_score : 0;
}

uint32_t zr_match_result_get_overlap_area(const zr_match_result* result) {
    return result ? result->overlap_area : 0;
}

uint16_t zr_match_result_get_matching_subtemplate_class_id(const zr_match_result* result) {
    return result ? result->matching_subtemplate_class_id : 0;
}

uint32_t zr_match_result_get_matching_subtemplate_index(const zr_match_result* result) {
    return result ? result->matching_subtemplate_index : 0;
}

uint32_t zr_match_result_get_matching_template_index(const zr_match_result* result) {
    return result ? result->matching_template_index : 0;
}

uint32_t zr_match_result_get_decision_at(const zr_match_result* result, uint32_t far_level) {
    return result != nullptr && result->far_level_reached >= far_level ? 1 : 0;
}

uint16_t zr_match_result_get_raw_score(const zr_match_result* result) {
    return result ? result->raw_score : 0;
}

void zr_match_result_set_raw_score(zr_match_result* result, uint16_t raw_score) {
    if (result != nullptr) result->raw_score = raw_score;
}

uint32_t zr_match_result_get_selected_model(const zr_match_result* result) {
    return result ? result->selected_model : 0;
}

void zr_match_result_set_selected_model(zr_match_result* result, uint32_t model) {
    if (result != nullptr) result->selected_model = model;
}

uint32_t zr_match_result_get_matching_subtemplate_tag(const zr_match_result* result) {
    return result ? result->matching_subtemplate_tag : 0;
}

void zr_match_result_set_matching_subtemplate_tag(zr_match_result* result, uint32_t tag) {
    if (result != nullptr) result->matching_subtemplate_tag = tag;
}

uint32_t zr_match_result_get_last_link_index(const zr_match_result* result) {
    return result ? result->last_link_index : 0;
}

void zr_match_result_set_last_link_index(zr_match_result* result, uint32_t index) {
    if (result != nullptr) result->last_link_index = index;
}

zr_template* zr_match_result_get_updated_template(const zr_match_result* result) {
    return result ? result->updated_template : nullptr;
}

void zr_match_result_set_updated_template(zr_match_result* result, zr_template* tmpl) {
    if (result == nullptr || result->updated_template == tmpl) return;
    zr_template_delete(result->updated_template);
    result->updated_template = zr_template_retain(tmpl);
}

uint16_t zr_match_result_get_probe_rows(const zr_match_result* result) {
    return result ? result->probe_rows : 0;
}

void zr_match_result_set_probe_rows(zr_match_result* result, uint16_t rows) {
    if (result != nullptr) result->probe_rows = rows;
}

uint16_t zr_match_result_get_probe_cols(const zr_match_result* result) {
    return result ? result->probe_cols : 0;
}

void zr_match_result_set_probe_cols(zr_match_result* result, uint16_t cols) {
    if (result != nullptr) result->probe_cols = cols;
}

zr_status zr_match_result_set_feature_scores(zr_match_result* result, const uint16_t* scores,
                                             int32_t count) {
    if (result == nullptr || (scores == nullptr && count > 0)) return ZR_BAD_ARGUMENT;
    uint16_t* copy = nullptr;
    if (!copy_scores(scores, count, &copy)) return ZR_NO_MEMORY;
    std::free(result->feature_scores);
    result->feature_scores = copy;
    result->feature_score_count = copy != nullptr ? count : 0;
    return ZR_OK;
}

zr_status zr_match_result_set_enroll_type(zr_match_result* result, uint32_t enroll_type) {
    if (result == nullptr) return ZR_BAD_ARGUMENT;
    if (result->verified_template == nullptr) return ZR_PART_MISSING;
    return static_cast<zr_status>(
        zr_template_metadata_set_enroll_type(enroll_type, &result->verified_template));
}

zr_status zr_match_result_set_verification_image_class_id(zr_match_result* result,
                                                          uint16_t class_id) {
    if (result == nullptr || result->verification_image == nullptr) return ZR_BAD_ARGUMENT;
    const zr_status status = zr_image_set_class_id(result->verification_image, class_id);
    if (status != ZR_OK) return status;
    if (result->verified_template == nullptr) return ZR_PART_MISSING;
    return static_cast<zr_status>(
        zr_template_metadata_set_image_class(class_id, &result->verified_template));
}
