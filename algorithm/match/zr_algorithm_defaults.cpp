// The operations an algorithm installs in its slots at creation and the
// services they share: image preparation and the enrolled list.
#include <cstdlib>

#include "match/zr_algorithm.h"
#include "match/multitemplate/zr_multitemplate.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "match/verify/zr_multitemplate_verify.h"
#include "match/verify/zr_verify_chain.h"
#include "objects/zr_alloc.h"
#include "objects/zr_template_convert.h"
#include "objects/zr_template_generic.h"

namespace {

constexpr uint32_t kMetadataType = ZR_TEMPLATE_METADATA;
constexpr const char* kForceRawLinkKey = "zr.verifier.force_raw_link";

bool needs_preparation(const zr_algorithm* a) {
    return (a->preprocessors != nullptr && a->preprocessors[0] != nullptr) || a->mask_override != nullptr;
}

// Metadata of the image merged into *working (released on failure).
zr_status add_metadata(zr_algorithm* a, zr_image* image, zr_template** working) {
    if (a->metadata_extractor == nullptr || zr_template_is_compatible(*working, kMetadataType)) return ZR_OK;
    zr_template* metadata = nullptr;
    zr_status rc = a->metadata_extractor(a->session, image, &metadata);
    zr_template* merged = nullptr;
    if (rc == ZR_OK) {
        merged = zr_template_merge(*working, metadata);
        if (merged == nullptr) rc = ZR_NO_MEMORY;
    }
    zr_template_delete(metadata);
    zr_template_delete(*working);
    *working = merged;
    return rc;
}

zr_status extract_links(zr_algorithm* a, zr_image* image, zr_finger* finger, zr_template** working) {
    for (zr_algorithm_link* link = zr_algorithm_chain_get_first_link(a->chain); link;
         link = zr_algorithm_link_get_next(link)) {
        const zr_status rc = zr_algorithm_helper_extract_link(a->session, link, a->chain, image, finger, working);
        if (rc != ZR_OK) return rc;
    }
    return ZR_OK;
}

// The split path: each sub-image's template (metadata and every link) enters
// one multi-template that replaces *working.
zr_status extract_split(zr_algorithm* a, zr_image* image, zr_finger* finger, zr_template** working) {
    const uint32_t n = zr_image_split_get_nbr_of_sub_images(&a->config.image_split);
    auto** tiles = static_cast<zr_image**>(zr_calloc(n ? n : 1, sizeof(zr_image*)));
    auto** parts = static_cast<zr_template**>(zr_calloc(n ? n : 1, sizeof(zr_template*)));
    zr_status rc = (tiles && parts) ? zr_image_split(image, &a->config.image_split, tiles) : ZR_NO_MEMORY;
    for (uint32_t i = 0; rc == ZR_OK && i < n; ++i) {
        rc = add_metadata(a, tiles[i], &parts[i]);
        if (rc == ZR_OK) rc = extract_links(a, tiles[i], finger, &parts[i]);
    }
    zr_template* combined = nullptr;
    // A multi-template holds at most 255 instances.
    if (rc == ZR_OK) rc = n <= UINT8_MAX ? zr_algorithm_create_multitemplate(a, parts, uint8_t(n), &combined)
                                         : ZR_UNHANDLED_INPUT;
    for (uint32_t i = 0; i < n && tiles && parts; ++i) {
        zr_image_delete(tiles[i]);
        zr_template_delete(parts[i]);
    }
    free(tiles);
    free(parts);
    zr_template_delete(*working);
    *working = combined;
    return rc;
}

// Best raw result of the probe (instance by instance for a multi-template
// probe: the first instance with the highest score) against one stored
// multi-template.
zr_status score_probe(zr_template* stored, const zr_verifier_descriptor* verifier, const zr_model_choice* models,
                      zr_session* session, zr_template* probe, zr_raw_result* best) {
    if (zr_template_get_type(probe) != ZR_TEMPLATE_MULTI)
        return zr_multitemplate_verify_template(stored, verifier, models, session, probe, best);
    zr_multitemplate* mt = nullptr;
    zr_status rc = zr_multitemplate_decode(probe, &mt);
    if (rc != ZR_OK) return rc;
    bool any = false;
    zr_status last = ZR_NOT_FOUND;
    const uint32_t n = zr_multitemplate_get_nbr_of_instances(mt);
    for (uint32_t i = 0; i < n; ++i) {
        zr_template* instance = zr_multitemplate_get_instance_for_index(mt, int32_t(i), nullptr);
        zr_raw_result r{};
        last = zr_multitemplate_verify_template(stored, verifier, models, session, instance, &r);
        zr_template_delete(instance);
        if (last == ZR_OK && (!any || r.combined_score > best->combined_score)) {
            raw_result_move(best, &r);
            any = true;
        }
        raw_result_deinit(&r);
    }
    zr_multitemplate_delete(mt);
    return any ? ZR_OK : last;
}

// The match result takes the raw result of enrolled template index.
zr_status take_raw_result(zr_algorithm* a, zr_match_result* result, zr_raw_result* r, zr_template* const* stored,
                          uint32_t index, zr_template* probe) {
    zr_template* copy = zr_template_copy(probe);
    if (copy == nullptr) return ZR_NO_MEMORY;
    const zr_status rc = zr_match_result_set_feature_scores(result, r->feature_scores, int32_t(r->feature_count));
    if (rc != ZR_OK) {
        zr_template_delete(copy);
        return rc;
    }
    zr_alignment_delete(result->alignment);
    zr_alignment_delete(result->second_alignment);
    result->alignment = r->alignment;
    result->second_alignment = r->comparison_alignment;
    r->alignment = nullptr;
    r->comparison_alignment = nullptr;
    result->raw_score = r->combined_score;
    zr_template_delete(result->verified_template);
    result->verified_template = copy;
    result->matching_template_index = index;
    result->matching_subtemplate_index = r->best_index;
    result->matching_subtemplate_tag = zr_multitemplate_get_subtemplate_tag(stored[index], r->best_index);
    result->selected_model = r->model;
    (void)a;
    return ZR_OK;
}

}  // namespace

void release_template_array(zr_template** templates, int32_t n) {
    if (templates == nullptr) return;
    for (int32_t i = 0; i < n; ++i) zr_template_delete(templates[i]);
    free(templates);
}

zr_status prepare_image_for_extraction(zr_algorithm* algorithm, zr_image* image, zr_image** out) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    *out = nullptr;
    if (algorithm == nullptr || image == nullptr) return ZR_BAD_ARGUMENT;
    if (!needs_preparation(algorithm)) {
        *out = zr_image_retain(image);
        return ZR_OK;
    }
    zr_image* work = zr_image_copy(image);
    if (work == nullptr) return ZR_NO_MEMORY;
    for (const zr_image_preprocessor* const* p = algorithm->preprocessors; p != nullptr && *p != nullptr; ++p) {
        zr_image* next = zr_image_enhance_by_preprocessor(work, algorithm->session, *p);
        zr_image_delete(work);
        if (next == nullptr) return ZR_NO_MEMORY;
        work = next;
    }
    if (algorithm->mask_override != nullptr) {
        const zr_status rc = algorithm->mask_override(algorithm->session, work);
        if (rc != ZR_OK) {
            zr_image_delete(work);
            return rc;
        }
    }
    *out = work;
    return ZR_OK;
}

zr_template** create_enrolled_multitemplates(zr_algorithm* algorithm, zr_template* const* templates, int32_t n) {
    if (algorithm == nullptr || templates == nullptr || n <= 0) return nullptr;
    auto** list = static_cast<zr_template**>(zr_calloc(size_t(n), sizeof(zr_template*)));
    if (list == nullptr) return nullptr;
    for (int32_t i = 0; i < n; ++i) {
        zr_template* t = templates[i];
        zr_status rc = ZR_BAD_ARGUMENT;
        if (t != nullptr && zr_template_get_type(t) == ZR_TEMPLATE_MULTI) {
            list[i] = zr_template_retain(t);
            rc = ZR_OK;
        } else if (t != nullptr) {
            rc = zr_algorithm_create_multitemplate(algorithm, &t, 1, &list[i]);
        }
        if (rc != ZR_OK) {
            release_template_array(list, n);
            return nullptr;
        }
    }
    return list;
}

zr_status default_extract_template(zr_algorithm* algorithm, zr_image* image, zr_finger* finger,
                                   zr_template** inout_template) {
    if (image == nullptr) return ZR_OK;
    if (algorithm == nullptr || inout_template == nullptr) return ZR_BAD_ARGUMENT;
    zr_template* working = *inout_template;
    *inout_template = nullptr;
    zr_status rc = add_metadata(algorithm, image, &working);
    zr_image* prepared = nullptr;
    if (rc == ZR_OK) rc = prepare_image_for_extraction(algorithm, image, &prepared);
    if (rc == ZR_OK)
        rc = algorithm->config.image_split.grid_rows != 0 ? extract_split(algorithm, prepared, finger, &working)
                                                           : extract_links(algorithm, prepared, finger, &working);
    zr_image_delete(prepared);
    if (rc != ZR_OK) {
        zr_template_delete(working);
        return rc;
    }
    *inout_template = working;
    return ZR_OK;
}

zr_status default_simple_extract(zr_algorithm* algorithm, zr_image* image, zr_finger* finger,
                                 zr_template** inout_template) {
    if (image == nullptr) return ZR_OK;
    if (algorithm == nullptr || inout_template == nullptr) return ZR_BAD_ARGUMENT;
    const zr_algorithm_link* link = zr_algorithm_chain_get_first_link(algorithm->chain);
    const zr_extractor_descriptor* extractor = zr_algorithm_link_get_extractor(link);
    const uint32_t type = zr_algorithm_link_get_extract_template_type(link);
    if (*inout_template != nullptr && zr_template_is_compatible(*inout_template, type)) return ZR_OK;
    zr_template_delete(*inout_template);
    *inout_template = nullptr;
    if (extractor == nullptr || extractor->extract_template == nullptr) return ZR_BAD_ARGUMENT;
    const zr_status rc = extractor->extract_template(algorithm->session, image, finger, type, inout_template);
    if (rc != ZR_OK) {
        zr_template_delete(*inout_template);
        *inout_template = nullptr;
    }
    return rc;
}

zr_status default_get_chain_match(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                  zr_template* probe, zr_image* image, uint32_t far_level,
                                  zr_match_result* result) {
    if (algorithm == nullptr || templates == nullptr || count == 0 || result == nullptr ||
        (probe == nullptr) == (image == nullptr))
        return ZR_BAD_ARGUMENT;
    for (uint8_t i = 0; i < count; ++i)
        if (templates[i] == nullptr) return ZR_BAD_ARGUMENT;
    zr_template** enrolled = create_enrolled_multitemplates(algorithm, templates, count);
    if (enrolled == nullptr) return ZR_NO_MEMORY;
    const zr_algorithm_config& config = algorithm->config;
    zr_status rc = ZR_OK;
    if (config.image_split.grid_rows == 0) {
        rc = zr_multitemplate_verify_chain(enrolled, count, algorithm->chain, algorithm->session, probe, image,
                                           far_level, result, algorithm->vermodels, &config);
        release_template_array(enrolled, count);
        return rc;
    }
    zr_template* extracted = nullptr;
    if (probe == nullptr) {
        rc = algorithm->extract_template(algorithm, image, ZR_FINGER_ANONYMOUS, &extracted);
        if (rc == ZR_OK && extracted == nullptr) rc = ZR_FAILURE;
        probe = extracted;
    }
    zr_multitemplate* instances = nullptr;
    if (rc == ZR_OK) rc = zr_multitemplate_decode(probe, &instances);
    const uint32_t n = zr_multitemplate_get_nbr_of_instances(instances);
    for (uint32_t i = 0; rc == ZR_OK && i < n; ++i) {
        zr_template* instance = zr_multitemplate_get_instance_for_index(instances, int32_t(i), nullptr);
        zr_match_result* attempt = zr_match_result_create(count);
        rc = attempt ? zr_multitemplate_verify_chain(enrolled, count, algorithm->chain, algorithm->session, instance,
                                                     nullptr, far_level, attempt, algorithm->vermodels, &config)
                     : ZR_NO_MEMORY;
        if (rc == ZR_OK) rc = zr_match_result_clone(attempt, result);
        const bool accepted = attempt && attempt->decision == 1;
        zr_match_result_delete(attempt);
        zr_template_delete(instance);
        if (accepted) break;
    }
    zr_multitemplate_delete(instances);
    zr_template_delete(extracted);
    release_template_array(enrolled, count);
    return rc;
}

zr_status default_get_raw_similarity_score(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                           zr_template* probe, zr_match_result* result) {
    if (algorithm == nullptr || result == nullptr || probe == nullptr) return ZR_BAD_ARGUMENT;
    const uint32_t links = zr_algorithm_chain_get_nbr_of_links(algorithm->chain);
    const int32_t index = zr_session_get_int(algorithm->session, kForceRawLinkKey, uint32_t(int32_t(links) - 1));
    if (index < 0 || uint32_t(index) >= links) return ZR_FAILURE;
    const zr_verifier_descriptor* verifier =
        zr_algorithm_link_get_verifier(zr_algorithm_get_link_at_index(algorithm, uint32_t(index)));
    // A verifier without the raw-path slot cannot score here.
    if (verifier == nullptr || verifier->extract_feature_scores_raw == nullptr) return ZR_FAILURE;
    if (count == 0) return ZR_OK;
    if (templates == nullptr) return ZR_BAD_ARGUMENT;
    zr_template** enrolled = create_enrolled_multitemplates(algorithm, templates, count);
    if (enrolled == nullptr) return ZR_NO_MEMORY;
    const zr_model_choice models = zr_algorithm_model_choice(algorithm);
    zr_status rc = ZR_OK;
    for (uint8_t i = 0; rc == ZR_OK && i < count; ++i) {
        zr_raw_result r{};
        rc = score_probe(enrolled[i], verifier, &models, algorithm->session, probe, &r);
        if (rc == ZR_OK && r.combined_score >= result->raw_score)
            rc = take_raw_result(algorithm, result, &r, enrolled, i, probe);
        raw_result_deinit(&r);
    }
    release_template_array(enrolled, count);
    return rc;
}
