// Building and updating stored multi-templates through the algorithm: the
// create entry points, the two default update operations, re-enrolment and
// the removal of a finger class. All of them go through a multi-template
// manager (zr_multitemplate_manager_enroll_templates for the selection).
#include "match/zr_algorithm.h"
#include "match/multitemplate/zr_mtm.h"
#include "match/update/zr_mtm_enroll.h"
#include "match/multitemplate/zr_multitemplate_manager.h"

namespace {

constexpr const char* kFastKey = "zr.dynupdate.fast";
constexpr const char* kModeKey = "zr.dynupdate.mode";
constexpr const char* kMinAreaKey = "zr.dynupdate.minarea";
constexpr uint32_t kDefaultFast = 5;
constexpr uint32_t kDefaultMode = 0;
constexpr uint32_t kDefaultMinArea = 15;
// Flags of the dynamic update: plain, and fast (bit 2 drops what lies
// outside the first island instead of keeping it pending).
constexpr uint32_t kDynamicFlags = ZR_MTM_ENROLL_DYNAMIC_UPDATE;
constexpr uint32_t kFastDynamicFlags = ZR_MTM_ENROLL_DYNAMIC_UPDATE | ZR_MTM_ENROLL_FAST_UPDATE;
// The update operations always store with further updates allowed.
constexpr int32_t kUpdateEncodeMode = 0;

zr_status encode(zr_multitemplate_manager* manager, int32_t encode_mode, zr_template** out,
                 const zr_storage_writer* writer, void* context) {
    zr_status rc = writer ? zr_multitemplate_manager_encode_to_storage(manager, encode_mode, out, writer, context)
                          : zr_multitemplate_manager_encode(manager, encode_mode, out);
    if (rc == ZR_OK && *out == nullptr) rc = ZR_NO_MEMORY;
    if (rc != ZR_OK) {
        zr_template_delete(*out);
        *out = nullptr;
    }
    return rc;
}

// A manager over a stored multi-template with the replacement strategy the
// session asks for; none when the record cannot be opened.
zr_multitemplate_manager* stored_manager(zr_template* multitemplate, uint32_t strategy) {
    zr_multitemplate_manager* manager = zr_multitemplate_manager_create_with_template(multitemplate);
    if (manager != nullptr && zr_mtm_set_replacement_strategy(manager, strategy) != ZR_OK) {
        zr_multitemplate_manager_delete(manager);
        return nullptr;
    }
    return manager;
}

zr_status create(zr_algorithm* a, zr_template* const* templates, uint8_t count, zr_template** out,
                 const zr_storage_writer* writer, void* context, bool incremental) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    *out = nullptr;
    if (a == nullptr || (templates == nullptr && count != 0)) return ZR_BAD_ARGUMENT;
    zr_multitemplate_manager* manager = zr_algorithm_configured_manager(a);
    if (manager == nullptr) return ZR_NO_MEMORY;
    if (incremental) zr_multitemplate_manager_set_incremental_mode(manager);
    zr_status rc = zr_multitemplate_manager_enroll_templates(manager, a->chain, templates, count, a->session,
                                                             zr_algorithm_configured_flags(a), nullptr,
                                                             a->vermodels);
    if (rc == ZR_OK) rc = encode(manager, int32_t(a->config.encode_mode), out, writer, context);
    zr_multitemplate_manager_delete(manager);
    return rc;
}

}  // namespace

zr_multitemplate_manager* zr_algorithm_configured_manager(const zr_algorithm* algorithm) {
    zr_multitemplate_manager* manager = zr_multitemplate_manager_create(algorithm->config.max_templates);
    if (manager == nullptr) return nullptr;
    zr_multitemplate_manager_set_max_template_size(manager, algorithm->config.max_template_size);
    const zr_mtm_priority priority = {algorithm->config.priority_class, algorithm->config.priority_level};
    if (zr_multitemplate_manager_set_template_priority(manager, &priority, 1) != ZR_OK) {
        zr_multitemplate_manager_delete(manager);
        return nullptr;
    }
    return manager;
}

uint32_t zr_algorithm_configured_flags(const zr_algorithm* algorithm) {
    uint32_t flags = 0;
    if (algorithm->config.dynamic_update != 0)
        flags = zr_session_get_int(algorithm->session, kFastKey, kDefaultFast) < 1 ? kDynamicFlags
                                                                                   : kFastDynamicFlags;
    if (algorithm->config.extra_enroll_flag != 0) flags |= ZR_MTM_ENROLL_LOCK_NEW;
    return flags;
}

// --- create ---

zr_status zr_algorithm_create_multitemplate(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                            zr_template** out_template) {
    return create(algorithm, templates, count, out_template, nullptr, nullptr, false);
}

zr_status zr_algorithm_create_incr_multitemplate(zr_algorithm* algorithm, zr_template* const* templates,
                                                 uint8_t count, zr_template** out_template) {
    return create(algorithm, templates, count, out_template, nullptr, nullptr, true);
}

zr_status zr_algorithm_create_multitemplate_to_storage(zr_algorithm* algorithm, zr_template* const* templates,
                                                       uint8_t count, zr_template** out_template,
                                                       const zr_storage_writer* writer, void* context) {
    return create(algorithm, templates, count, out_template, writer, context, false);
}

zr_status zr_algorithm_create_incr_multitemplate_to_storage(zr_algorithm* algorithm, zr_template* const* templates,
                                                            uint8_t count, zr_template** out_template,
                                                            const zr_storage_writer* writer, void* context) {
    return create(algorithm, templates, count, out_template, writer, context, true);
}

// --- update entry points ---

zr_status zr_algorithm_update_multitemplate_to_storage(zr_algorithm* algorithm, zr_template* multitemplate,
                                                       zr_template* const* templates, uint8_t count,
                                                       zr_template** out_template, const zr_storage_writer* writer,
                                                       void* context) {
    if (out_template == nullptr) return ZR_BAD_ARGUMENT;
    *out_template = nullptr;
    if (algorithm == nullptr) return ZR_BAD_ARGUMENT;
    return algorithm->update_multitemplate(algorithm, multitemplate, templates, count, out_template, writer,
                                           context);
}

zr_status zr_algorithm_update_multitemplate(zr_algorithm* algorithm, zr_template* multitemplate,
                                            zr_template* const* templates, uint8_t count,
                                            zr_template** out_template) {
    return zr_algorithm_update_multitemplate_to_storage(algorithm, multitemplate, templates, count, out_template,
                                                        nullptr, nullptr);
}

zr_status zr_algorithm_update_multitemplate_to_storage_ex(zr_algorithm* algorithm, zr_template* multitemplate,
                                                          zr_match_result* result, zr_template** out_template,
                                                          const zr_storage_writer* writer, void* context) {
    if (out_template == nullptr) return ZR_BAD_ARGUMENT;
    *out_template = nullptr;
    if (algorithm == nullptr) return ZR_BAD_ARGUMENT;
    return algorithm->update_multitemplate_ex(algorithm, multitemplate, result, out_template, writer, context);
}

zr_status zr_algorithm_update_multitemplate_ex(zr_algorithm* algorithm, zr_template* multitemplate,
                                               zr_match_result* result, zr_template** out_template) {
    return zr_algorithm_update_multitemplate_to_storage_ex(algorithm, multitemplate, result, out_template, nullptr,
                                                           nullptr);
}

zr_status zr_algorithm_reenroll_multitemplate(zr_algorithm* algorithm, zr_template* multitemplate,
                                              zr_template** out_template) {
    if (out_template == nullptr) return ZR_BAD_ARGUMENT;
    *out_template = nullptr;
    if (algorithm == nullptr || multitemplate == nullptr) return ZR_BAD_ARGUMENT;
    const zr_status rc =
        algorithm->update_multitemplate(algorithm, multitemplate, nullptr, 0, out_template, nullptr, nullptr);
    return (rc == ZR_FAILURE && *out_template == nullptr) ? ZR_ENROLL_COMPLETE : rc;
}

zr_status zr_algorithm_delete_templates_in_class(zr_algorithm* algorithm, zr_template* multitemplate,
                                                 uint16_t image_class, zr_template** out_template, uint32_t flag) {
    if (out_template == nullptr) return ZR_BAD_ARGUMENT;
    *out_template = nullptr;
    if (algorithm == nullptr || multitemplate == nullptr) return ZR_BAD_ARGUMENT;
    zr_multitemplate_manager* manager = zr_multitemplate_manager_create_with_template(multitemplate);
    if (manager == nullptr) return ZR_NO_MEMORY;
    zr_status rc = zr_mtm_remove_templates_per_class(manager, image_class);
    if (rc == ZR_OK)
        rc = flag != 0 ? ZR_UNHANDLED_INPUT : encode(manager, kUpdateEncodeMode, out_template, nullptr, nullptr);
    zr_multitemplate_manager_delete(manager);
    return rc;
}

// --- default update operations ---

zr_status default_update_multitemplate(zr_algorithm* algorithm, zr_template* multitemplate,
                                       zr_template* const* templates, uint8_t count, zr_template** out_template,
                                       const zr_storage_writer* writer, void* context) {
    if (out_template == nullptr) return ZR_BAD_ARGUMENT;
    *out_template = nullptr;
    if (algorithm == nullptr || multitemplate == nullptr || (templates == nullptr && count != 0))
        return ZR_BAD_ARGUMENT;
    uint32_t strategy = uint32_t(zr_session_get_int(algorithm->session, kFastKey, kDefaultFast));
    if (strategy == ZR_MTM_REPLACE_FIRST_MATCHED) strategy = 0;
    zr_multitemplate_manager* manager = stored_manager(multitemplate, strategy);
    if (manager == nullptr) return ZR_NO_MEMORY;
    zr_multitemplate_manager_set_max_template_size(manager, algorithm->config.max_template_size);
    uint32_t updated = 0;
    zr_status rc = zr_multitemplate_manager_enroll_templates(manager, algorithm->chain, templates, count,
                                                             algorithm->session, algorithm->config.dynamic_update,
                                                             &updated, algorithm->vermodels);
    if (rc != ZR_OK || updated == 0 || encode(manager, kUpdateEncodeMode, out_template, writer, context) != ZR_OK)
        rc = ZR_NO_MEMORY;
    zr_multitemplate_manager_delete(manager);
    return rc;
}

zr_status default_update_multitemplate_ex(zr_algorithm* algorithm, zr_template* multitemplate,
                                          zr_match_result* result, zr_template** out_template,
                                          const zr_storage_writer* writer, void* context) {
    if (out_template == nullptr) return ZR_BAD_ARGUMENT;
    *out_template = nullptr;
    if (algorithm == nullptr || multitemplate == nullptr || result == nullptr) return ZR_BAD_ARGUMENT;
    zr_session* s = algorithm->session;
    if (zr_session_get_int(s, kModeKey, kDefaultMode) != 0 &&
        int64_t(result->overlap_area) < int64_t(zr_session_get_int(s, kMinAreaKey, kDefaultMinArea)))
        return ZR_OK;
    zr_multitemplate_manager* manager =
        stored_manager(multitemplate, uint32_t(zr_session_get_int(s, kFastKey, kDefaultFast)));
    if (manager == nullptr) return ZR_NO_MEMORY;
    zr_status rc = algorithm->extract_template(algorithm, result->verification_image, ZR_FINGER_ANONYMOUS,
                                               &result->verified_template);
    if (rc != ZR_OK || result->verified_template == nullptr) rc = ZR_FAILURE;
    if (rc == ZR_OK) rc = zr_mtm_set_matching_tag(manager, result->matching_subtemplate_tag);
    if (rc == ZR_OK) {
        zr_mtm_set_area_overlap(manager, result->overlap_area);
        zr_mtm_set_dynupdate_config(manager, algorithm->min_templates_in_class);
        zr_template* probe = result->verified_template;
        rc = zr_multitemplate_manager_enroll_templates(manager, algorithm->chain, &probe, 1, s,
                                                       algorithm->config.dynamic_update, nullptr,
                                                       algorithm->vermodels);
    }
    if (rc == ZR_OK) rc = encode(manager, kUpdateEncodeMode, out_template, writer, context);
    zr_multitemplate_manager_delete(manager);
    return rc;
}
