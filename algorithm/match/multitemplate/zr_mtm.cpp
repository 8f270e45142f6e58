#include "match/multitemplate/zr_mtm.h"

#include "objects/zr_fusion_parts.h"
#include "objects/zr_template_metadata.h"
#include "objects/zr_zrimage.h"

namespace {

constexpr uint32_t kFlagsByte = 5;

// The instance's tag-1 item when it has one of any length (an empty one
// included); none without.
bool has_instance_item(const zr_multitemplate* mt, uint32_t id) {
    for (uint32_t tag = 0; zr_multitemplate_next_metadata(mt, id, &tag) != 0;) {
        if (tag == ZR_MTM_TAG_INSTANCE) return true;
    }
    return false;
}

uint8_t instance_flags(const zr_multitemplate* mt, uint32_t id) {
    uint16_t length = 0;
    const uint8_t* item = zr_multitemplate_get_metadata(mt, id, ZR_MTM_TAG_INSTANCE, &length);
    return zr_mtm_decode_flags(item, length);
}

bool is_pending(const zr_multitemplate* mt, uint32_t id) {
    return (instance_flags(mt, id) & ZR_MTM_FLAG_PENDING) != 0;
}

bool is_locked(const zr_multitemplate* mt, uint32_t id) {
    return (instance_flags(mt, id) & ZR_MTM_FLAG_LOCKED) != 0;
}

uint32_t template_class(const zr_template* tmpl) {
    zr_template_metadata metadata{};
    if (zr_template_metadata_get(nullptr, tmpl, &metadata) != ZR_OK) return 0;
    return metadata.image_class;
}

void put_i16(uint8_t* out, int32_t value) {
    auto v = uint16_t(value);
    out[0] = uint8_t(v >> 8);
    out[1] = uint8_t(v);
}

zr_status replace_item(zr_multitemplate* mt, uint32_t id, uint32_t tag, const uint8_t* data, uint16_t length) {
    zr_status removed = zr_multitemplate_remove_metadata(mt, id, tag);
    if (removed != ZR_OK && removed != ZR_NOT_FOUND) return removed;
    return zr_multitemplate_add_metadata(mt, id, tag, data, length);
}

// Ids of every instance in list order; the number written.
uint32_t instance_ids(const zr_multitemplate* mt, uint32_t* ids) {
    uint32_t n = 0;
    for (const zr_mt_instance* in = mt->instances; in != nullptr && n < ZR_MT_MAX_INSTANCES; in = in->next) {
        ids[n++] = in->id;
    }
    return n;
}

// Calls visit(id, template) for each unlocked instance in list order, the
// template a reference held for the call. ZR_NO_MEMORY as soon as an instance
// lacks its instance item or its template; a failure of visit ends the walk
// with its code.
template <typename Visit>
zr_status for_each_unlocked_template(zr_multitemplate* mt, Visit&& visit) {
    uint32_t ids[ZR_MT_MAX_INSTANCES];
    const uint32_t n = instance_ids(mt, ids);
    for (uint32_t i = 0; i < n; ++i) {
        if (!has_instance_item(mt, ids[i])) return ZR_NO_MEMORY;
        if (is_locked(mt, ids[i])) continue;
        zr_template* tmpl = zr_multitemplate_get_instance(mt, ids[i]);
        if (tmpl == nullptr) return ZR_NO_MEMORY;
        const zr_status status = visit(ids[i], tmpl);
        zr_template_delete(tmpl);
        if (status != ZR_OK) return status;
    }
    return ZR_OK;
}

}  // namespace

// --- strategies ---

zr_status zr_mtm_set_replacement_strategy(zr_multitemplate_manager* manager, uint32_t strategy) {
    if (manager == nullptr) return ZR_BAD_ARGUMENT;
    zr_mtm_strategy& s = manager->strategy;
    switch (strategy) {
    case ZR_MTM_REPLACE_RANDOM:
    case ZR_MTM_REPLACE_RANDOM_ALIAS:
        s.pick = pick_random_template;
        s.replacement_strategy = ZR_MTM_REPLACE_RANDOM;
        break;
    case ZR_MTM_REPLACE_FIRST:
    case ZR_MTM_REPLACE_FIRST_MATCHED:
        s.pick = pick_first_template;
        s.replacement_strategy = strategy;
        break;
    default:
        s.pick = find_least_contributing_template;
        s.prune = prune_template_1;
        s.replacement_strategy = strategy;
        break;
    }
    return ZR_OK;
}

zr_status zr_mtm_set_enroll_strategy_1(zr_multitemplate_manager* manager) {
    if (manager == nullptr) return ZR_BAD_ARGUMENT;
    manager->strategy.pick = find_least_contributing_template;
    manager->strategy.prune = prune_template_1;
    return ZR_OK;
}

zr_status zr_mtm_set_enroll_strategy_2(zr_multitemplate_manager* manager) {
    if (manager == nullptr) return ZR_BAD_ARGUMENT;
    manager->strategy.pick = find_least_contributing_template;
    manager->strategy.prune = prune_template_2;
    return ZR_OK;
}

zr_status zr_mtm_set_replace_order_random(zr_multitemplate_manager* manager) {
    if (manager == nullptr) return ZR_BAD_ARGUMENT;
    manager->strategy.pick = pick_random_template;
    return ZR_OK;
}

zr_status zr_mtm_set_replace_order_static(zr_multitemplate_manager* manager) {
    if (manager == nullptr) return ZR_BAD_ARGUMENT;
    manager->strategy.pick = pick_first_template;
    return ZR_OK;
}

zr_status zr_mtm_set_matching_tag(zr_multitemplate_manager* manager, uint32_t tag) {
    if (manager == nullptr) return ZR_BAD_ARGUMENT;
    manager->strategy.matching_tag = tag;
    return ZR_OK;
}

// --- settings ---

void zr_mtm_set_area_overlap(zr_multitemplate_manager* manager, uint32_t overlap) {
    if (manager != nullptr) manager->strategy.area_overlap = overlap;
}

void zr_mtm_set_dynupdate_config(zr_multitemplate_manager* manager,
                                 const uint32_t class_minimum[ZR_MTM_NBR_OF_CLASSES]) {
    if (manager == nullptr || class_minimum == nullptr) return;
    for (uint32_t i = 0; i < ZR_MTM_NBR_OF_CLASSES; ++i) manager->strategy.class_minimum[i] = class_minimum[i];
}

void zr_mtm_set_image_class_id(zr_multitemplate_manager* manager, uint8_t image_class) {
    if (manager != nullptr) manager->strategy.image_class_id = image_class;
}

void zr_mtm_set_image_quality(zr_multitemplate_manager* manager, uint32_t quality) {
    if (manager != nullptr) manager->strategy.image_quality = quality;
}

// --- instance items ---

zr_status zr_mtm_add_metadata(zr_multitemplate* mt, const zr_mtm_entry* entry) {
    if (mt == nullptr || entry == nullptr) return ZR_BAD_ARGUMENT;
    uint8_t item[ZR_MTM_INSTANCE_ITEM_SIZE] = {};
    if (entry->island_alignment != nullptr) {
        put_i16(&item[0], zr_alignment_get_dx(entry->island_alignment));
        put_i16(&item[2], zr_alignment_get_dy(entry->island_alignment));
        item[4] = uint8_t(zr_alignment_get_rotation(entry->island_alignment));
    }
    uint8_t flags = 0;
    if (entry->state == ZR_MTM_STATE_PENDING) flags |= ZR_MTM_FLAG_PENDING;
    if (entry->locked != 0) flags |= ZR_MTM_FLAG_LOCKED;
    if (entry->excluded != 0) flags |= ZR_MTM_FLAG_EXCLUDED;
    item[kFlagsByte] = flags;
    zr_status status = replace_item(mt, entry->id, ZR_MTM_TAG_INSTANCE, item, ZR_MTM_INSTANCE_ITEM_SIZE);
    if (status != ZR_OK) return status;
    return replace_item(mt, entry->id, ZR_MTM_TAG_ISLAND, &entry->island, 1);
}

uint8_t zr_mtm_decode_flags(const uint8_t* data, int32_t length) {
    return data != nullptr && length > int32_t(kFlagsByte) ? data[kFlagsByte] : 0;
}

uint32_t zr_mtm_get_nbr_of_templates_flag(const zr_multitemplate* mt, uint8_t mask) {
    if (mt == nullptr) return 0;
    uint32_t n = 0;
    for (const zr_mt_instance* in = mt->instances; in != nullptr; in = in->next) {
        uint16_t length = 0;
        const uint8_t* item = zr_multitemplate_get_metadata(mt, in->id, ZR_MTM_TAG_INSTANCE, &length);
        if (item == nullptr || length != ZR_MTM_INSTANCE_ITEM_SIZE) continue;
        n += (item[kFlagsByte] & mask) != 0;
    }
    return n;
}

zr_status zr_mtm_get_template_tags(const zr_multitemplate_manager* manager, uint32_t* ids, uint8_t* out_count) {
    if (manager == nullptr || manager->mt == nullptr || ids == nullptr || out_count == nullptr) {
        return ZR_BAD_ARGUMENT;
    }
    uint32_t n = 0;
    for (const zr_mt_instance* in = manager->mt->instances; in != nullptr; in = in->next) {
        if (!is_pending(manager->mt, in->id) && n < ZR_MT_MAX_INSTANCES) ids[n++] = in->id;
    }
    *out_count = uint8_t(n);
    return ZR_OK;
}

// --- operations on the managed templates ---

zr_status zr_mtm_enroll_accepted_templates(zr_multitemplate_manager* manager) {
    if (manager == nullptr || manager->mt == nullptr) return ZR_BAD_ARGUMENT;
    zr_multitemplate* mt = manager->mt;
    return for_each_unlocked_template(mt, [mt](uint32_t id, zr_template* tmpl) {
        if (zr_template_metadata_enroll_type(tmpl) != 1) return ZR_OK;
        // The setter releases the reference it replaces: it is given one of
        // its own, so that the walk's reference and the instance's stay.
        zr_template* updated = zr_template_retain(tmpl);
        zr_status status = zr_template_metadata_set_enroll_type(0, &updated);
        if (status == ZR_OK && updated != tmpl) status = zr_multitemplate_update_instance(mt, updated, id);
        zr_template_delete(updated);
        return status;
    });
}

zr_status zr_mtm_remove_templates_per_class(zr_multitemplate_manager* manager, uint16_t image_class) {
    if (manager == nullptr || manager->mt == nullptr) return ZR_BAD_ARGUMENT;
    zr_multitemplate* mt = manager->mt;
    return for_each_unlocked_template(mt, [mt, image_class](uint32_t id, const zr_template* tmpl) {
        if (template_class(tmpl) != image_class) return ZR_OK;
        return zr_multitemplate_remove_instance(mt, int32_t(id));
    });
}

uint32_t zr_mtm_estimate_max_nbr_of_templates(const zr_multitemplate_manager* manager) {
    if (manager == nullptr) return 0;
    uint32_t maximum = manager->max_templates;
    if (manager->max_template_size == 0 || manager->mt == nullptr) return maximum;
    const zr_multitemplate* mt = manager->mt;
    uint32_t enrolled = 0;
    for (const zr_mt_instance* in = mt->instances; in != nullptr; in = in->next) {
        enrolled += !is_pending(mt, in->id);
    }
    if (enrolled == 0) return maximum;
    uint32_t summed = 0;
    uint32_t sum = 0;
    for (const zr_mt_instance* in = mt->instances; in != nullptr && summed < enrolled; in = in->next) {
        uint8_t flags = instance_flags(mt, in->id);
        if ((flags & (ZR_MTM_FLAG_PENDING | ZR_MTM_FLAG_EXCLUDED)) != 0) continue;
        sum += zr_template_get_data_size(in->tmpl);
        ++summed;
    }
    uint32_t mean = sum / enrolled;
    // Nothing to divide by when the counted instances hold no data.
    if (mean == 0) return maximum;
    uint32_t fitting = (manager->max_template_size + mean / 2 - uint32_t(ZR_MTM_RECORD_OVERHEAD)) / mean;
    return fitting < maximum ? fitting : maximum;
}

zr_status zr_mtm_get_image_data_from_template(const zr_template* tmpl, const uint8_t** out_pixels,
                                              uint16_t* out_rows, uint16_t* out_cols) {
    if (out_pixels != nullptr) *out_pixels = nullptr;
    if (out_rows != nullptr) *out_rows = 0;
    if (out_cols != nullptr) *out_cols = 0;
    if (tmpl == nullptr || out_pixels == nullptr || out_rows == nullptr || out_cols == nullptr) {
        return ZR_BAD_ARGUMENT;
    }
    const uint8_t* data = zr_template_get_data(tmpl);
    uint32_t size = zr_template_get_data_size(tmpl);
    uint32_t type = zr_template_get_type(tmpl);
    if (type == ZR_TEMPLATE_RAW_IMAGE) {
        return zr_fusion_zrimage_to_parts(data, size, out_pixels, out_rows, out_cols, nullptr, nullptr, nullptr);
    }
    if (type != ZR_TEMPLATE_EHM_IMAGE) return static_cast<zr_status>(type);
    zr_fusion_part image{};
    zr_status status = zr_fusion_to_parts(data, size, nullptr, nullptr, &image, nullptr);
    if (status != ZR_OK) return status;
    return zr_fusion_zrimage_to_parts(image.value, image.length, out_pixels, out_rows, out_cols, nullptr, nullptr,
                                      nullptr);
}
