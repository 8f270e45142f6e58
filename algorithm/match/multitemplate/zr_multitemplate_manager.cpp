#include "match/multitemplate/zr_multitemplate_manager.h"

#include <cstdlib>

#include "objects/zr_alloc.h"
#include "objects/zr_template_metadata.h"

namespace {

constexpr uint8_t kSettingsMarker = 12;
constexpr uint8_t kSettingsVersion = 2;
constexpr uint8_t kFlagFurtherUpdates = 0x02;
constexpr uint8_t kFlagSecondSetting = 0x01;
constexpr uint16_t kSettingsMinimum = 7;      // bytes 0-6: maximum, flags, size
constexpr uint16_t kSettingsVersion1 = 9;     // adds one priority record
constexpr uint32_t kPriorityRecordsStored = ZR_MTM_MAX_PRIORITY_RECORDS + 1;

void set_terminator_only(zr_multitemplate_manager* manager) {
    manager->priorities[0] = {0, ZR_MTM_NO_COUNT_LIMIT};
    manager->nbr_of_priorities = 1;
}

zr_multitemplate_manager* allocate_manager(zr_multitemplate* mt) {
    auto* manager = static_cast<zr_multitemplate_manager*>(zr_calloc(1, sizeof(zr_multitemplate_manager)));
    if (manager == nullptr) return nullptr;
    manager->ref_count = 1;
    manager->mt = mt;
    manager->random_state = 1;
    manager->destroy = delete_multitemplate_manager;
    set_terminator_only(manager);
    return manager;
}

// The instance's tag-1 item when it is complete; none otherwise.
const uint8_t* instance_item(const zr_multitemplate* mt, uint32_t id) {
    uint16_t length = 0;
    const uint8_t* data = zr_multitemplate_get_metadata(mt, id, ZR_MTM_TAG_INSTANCE, &length);
    return length >= ZR_MTM_INSTANCE_ITEM_SIZE ? data : nullptr;
}

uint8_t instance_flags(const zr_multitemplate* mt, uint32_t id) {
    const uint8_t* item = instance_item(mt, id);
    return item != nullptr ? item[5] : 0;
}

uint8_t instance_class(const zr_multitemplate* mt, uint32_t id) {
    uint16_t length = 0;
    const uint8_t* data = zr_multitemplate_get_metadata(mt, id, ZR_MTM_TAG_ISLAND, &length);
    return length >= 1 ? data[0] : ZR_MTM_NO_CLASS;
}

bool has_island_item(const zr_multitemplate* mt, uint32_t id) {
    uint16_t length = 0;
    return zr_multitemplate_get_metadata(mt, id, ZR_MTM_TAG_ISLAND, &length) != nullptr && length > 0;
}

zr_alignment* instance_alignment(const zr_multitemplate* mt, uint32_t id) {
    const uint8_t* item = instance_item(mt, id);
    if (item == nullptr) return zr_alignment_create(0, 0, 0);
    auto dx = int16_t(uint16_t(item[0] << 8 | item[1]));
    auto dy = int16_t(uint16_t(item[2] << 8 | item[3]));
    return zr_alignment_create(dx, dy, item[4]);
}

bool any_island_item(const zr_multitemplate* mt) {
    for (const zr_mt_instance* in = mt->instances; in != nullptr; in = in->next) {
        if (has_island_item(mt, in->id)) return true;
    }
    return false;
}

uint32_t template_class(const zr_template* tmpl) {
    zr_template_metadata metadata{};
    if (zr_template_metadata_get(nullptr, tmpl, &metadata) != ZR_OK) return 0;
    return metadata.image_class;
}

// Reads the settings item into a manager set to the refusing defaults.
// False when the item is one the manager must not be made from.
bool read_settings(zr_multitemplate_manager* manager) {
    manager->max_templates = 0;
    manager->allows_further_updates = 0;
    manager->second_settings_flag = 0;
    manager->max_template_size = 0;
    set_terminator_only(manager);
    uint16_t length = 0;
    const uint8_t* s = zr_multitemplate_get_metadata(manager->mt, ZR_MT_GLOBAL, ZR_MTM_TAG_SETTINGS, &length);
    if (s == nullptr || length < kSettingsMinimum) return true;
    manager->max_templates = s[0];
    manager->allows_further_updates = (s[2] & kFlagFurtherUpdates) != 0 ? 1 : 0;
    manager->second_settings_flag = (s[2] & kFlagSecondSetting) != 0 ? 1 : 0;
    manager->max_template_size = uint32_t(s[3]) << 24 | uint32_t(s[4]) << 16 | uint32_t(s[5]) << 8 | s[6];
    if (length >= kSettingsVersion1) {
        manager->priorities[0] = {s[8], s[7]};
        manager->priorities[1] = {0, ZR_MTM_NO_COUNT_LIMIT};
        manager->nbr_of_priorities = 2;
    }
    if (length >= ZR_MTM_SETTINGS_SIZE) {
        if (s[9] <= 1) return false;
        // The stored count sizes the copy below: a count outside 1..5 would
        // read past the item and the priority list.
        const uint8_t records = s[10];
        if (records < 1 || records > kPriorityRecordsStored) return false;
        for (uint32_t i = 0; i < records; ++i) manager->priorities[i] = {s[11 + 2 * i], s[12 + 2 * i]};
        manager->nbr_of_priorities = records;
    }
    return true;
}

[[nodiscard]] zr_status write_settings(zr_multitemplate_manager* manager, int32_t encode_mode) {
    uint8_t s[ZR_MTM_SETTINGS_SIZE] = {};
    s[0] = manager->max_templates;
    s[1] = kSettingsMarker;
    uint8_t flags = manager->second_settings_flag != 0 ? kFlagSecondSetting : 0;
    if (encode_mode == 0 && manager->allows_further_updates != 0) flags |= kFlagFurtherUpdates;
    s[2] = flags;
    s[3] = uint8_t(manager->max_template_size >> 24);
    s[4] = uint8_t(manager->max_template_size >> 16);
    s[5] = uint8_t(manager->max_template_size >> 8);
    s[6] = uint8_t(manager->max_template_size);
    s[9] = kSettingsVersion;
    s[10] = uint8_t(manager->nbr_of_priorities);
    for (uint32_t i = 0; i < manager->nbr_of_priorities && i < kPriorityRecordsStored; ++i) {
        s[11 + 2 * i] = uint8_t(manager->priorities[i].template_type);
        s[12 + 2 * i] = manager->priorities[i].max_count;
    }
    (void)zr_multitemplate_remove_metadata(manager->mt, ZR_MT_GLOBAL, ZR_MTM_TAG_SETTINGS);
    return zr_multitemplate_add_metadata(manager->mt, ZR_MT_GLOBAL, ZR_MTM_TAG_SETTINGS, s, ZR_MTM_SETTINGS_SIZE);
}

bool is_handed_out(const zr_multitemplate* mt, uint32_t id) {
    return (instance_flags(mt, id) & (ZR_MTM_FLAG_PENDING | ZR_MTM_FLAG_EXCLUDED)) == 0;
}

}  // namespace

zr_multitemplate_manager* zr_multitemplate_manager_create(uint8_t max_templates) {
    zr_multitemplate* mt = zr_multitemplate_create();
    if (mt == nullptr) return nullptr;
    zr_multitemplate_manager* manager = allocate_manager(mt);
    if (manager == nullptr) {
        zr_multitemplate_delete(mt);
        return nullptr;
    }
    manager->max_templates = max_templates;
    manager->allows_further_updates = 1;
    manager->second_settings_flag = 1;
    if (write_settings(manager, 0) != ZR_OK) {
        zr_multitemplate_manager_delete(manager);
        return nullptr;
    }
    return manager;
}

zr_multitemplate_manager* zr_multitemplate_manager_create_with_template(zr_template* tmpl) {
    zr_multitemplate* mt = nullptr;
    if (tmpl == nullptr || zr_multitemplate_decode(tmpl, &mt) != ZR_OK) return nullptr;
    zr_multitemplate_manager* manager = allocate_manager(mt);
    if (manager == nullptr) {
        zr_multitemplate_delete(mt);
        return nullptr;
    }
    if (!read_settings(manager)) {
        zr_multitemplate_manager_delete(manager);
        return nullptr;
    }
    manager->incremental_mode = (mt->count > 0 && !any_island_item(mt)) ? 1 : 0;
    return manager;
}

zr_multitemplate_manager* zr_multitemplate_manager_retain(zr_multitemplate_manager* manager) {
    if (manager != nullptr) manager->ref_count++;
    return manager;
}

void zr_multitemplate_manager_delete(zr_multitemplate_manager* manager) {
    if (manager == nullptr) return;
    if (--manager->ref_count == 0 && manager->destroy != nullptr) manager->destroy(manager);
}

void delete_multitemplate_manager(zr_multitemplate_manager* manager) {
    if (manager == nullptr) return;
    zr_multitemplate_delete(manager->mt);
    free(manager);
}

zr_multitemplate* zr_multitemplate_manager_get_multitemplate(const zr_multitemplate_manager* manager) {
    return manager != nullptr ? manager->mt : nullptr;
}

zr_status zr_multitemplate_manager_encode_to_storage(zr_multitemplate_manager* manager, int32_t encode_mode,
                                                     zr_template** out, const zr_storage_writer* writer,
                                                     void* context) {
    if (out != nullptr) *out = nullptr;
    if (manager == nullptr || out == nullptr || writer == nullptr) return ZR_BAD_ARGUMENT;
    const zr_status rc = write_settings(manager, encode_mode);
    if (rc != ZR_OK) return rc;
    return zr_multitemplate_encode_to_storage(manager->mt, out, writer, context);
}

zr_status zr_multitemplate_manager_encode(zr_multitemplate_manager* manager, int32_t encode_mode,
                                          zr_template** out) {
    if (out != nullptr) *out = nullptr;
    if (manager == nullptr || out == nullptr) return ZR_BAD_ARGUMENT;
    const zr_status rc = write_settings(manager, encode_mode);
    if (rc != ZR_OK) return rc;
    return zr_multitemplate_encode(manager->mt, out);
}

void zr_multitemplate_manager_set_max_template_size(zr_multitemplate_manager* manager, uint32_t size) {
    if (manager != nullptr) manager->max_template_size = size;
}

zr_status zr_multitemplate_manager_set_template_priority(zr_multitemplate_manager* manager,
                                                         const zr_mtm_priority* records, uint32_t count) {
    if (manager == nullptr || count > ZR_MTM_MAX_PRIORITY_RECORDS || (count > 0 && records == nullptr)) {
        return ZR_BAD_ARGUMENT;
    }
    for (uint32_t i = 0; i < count; ++i) {
        manager->priorities[i] = records[i];
        if (manager->priorities[i].max_count == 0) manager->priorities[i].max_count = ZR_MTM_NO_COUNT_LIMIT;
    }
    manager->priorities[count] = {0, ZR_MTM_NO_COUNT_LIMIT};
    manager->nbr_of_priorities = count + 1;
    return ZR_OK;
}

void zr_multitemplate_manager_set_incremental_mode(zr_multitemplate_manager* manager) {
    if (manager == nullptr || any_island_item(manager->mt)) return;
    manager->incremental_mode = 1;
}

uint8_t zr_multitemplate_manager_get_max_nbr_of_templates(const zr_multitemplate_manager* manager) {
    return manager != nullptr ? manager->max_templates : 0;
}

uint8_t zr_multitemplate_manager_allows_further_updates(const zr_multitemplate_manager* manager) {
    return manager != nullptr ? manager->allows_further_updates : 0;
}

uint32_t zr_multitemplate_manager_get_nbr_of_templates(const zr_multitemplate_manager* manager) {
    if (manager == nullptr) return 0;
    uint32_t n = 0;
    for (const zr_mt_instance* in = manager->mt->instances; in != nullptr; in = in->next) {
        if ((instance_flags(manager->mt, in->id) & ZR_MTM_FLAG_PENDING) == 0) n++;
    }
    return n;
}

uint32_t zr_multitemplate_manager_get_nbr_of_unenrolled_templates(const zr_multitemplate_manager* manager) {
    if (manager == nullptr) return 0;
    uint32_t n = 0;
    for (const zr_mt_instance* in = manager->mt->instances; in != nullptr; in = in->next) {
        if ((instance_flags(manager->mt, in->id) & ZR_MTM_FLAG_PENDING) != 0) n++;
    }
    return n;
}

uint32_t zr_multitemplate_manager_get_nbr_of_templates_in_class(const zr_multitemplate_manager* manager,
                                                                uint16_t image_class) {
    if (manager == nullptr) return 0;
    uint32_t n = 0;
    for (const zr_mt_instance* in = manager->mt->instances; in != nullptr; in = in->next) {
        if (template_class(in->tmpl) == image_class) n++;
    }
    return n;
}

uint32_t zr_multitemplate_manager_get_fill_grade(const zr_multitemplate_manager* manager) {
    if (manager == nullptr || manager->max_templates == 0) return 0;
    return zr_multitemplate_manager_get_nbr_of_templates(manager) * 100 / manager->max_templates;
}

zr_template* zr_multitemplate_manager_get_template_with_id(const zr_multitemplate_manager* manager, uint32_t index,
                                                           zr_alignment** out_alignment, uint8_t* out_class,
                                                           uint32_t* out_id) {
    if (out_alignment != nullptr) *out_alignment = nullptr;
    if (out_class != nullptr) *out_class = ZR_MTM_NO_CLASS;
    if (out_id != nullptr) *out_id = ZR_MTM_MISSING_TAG;
    if (manager == nullptr) return nullptr;
    uint32_t position = 0;
    for (const zr_mt_instance* in = manager->mt->instances; in != nullptr; in = in->next) {
        if (!is_handed_out(manager->mt, in->id)) continue;
        if (position++ != index) continue;
        if (out_alignment != nullptr) {
            *out_alignment = instance_alignment(manager->mt, in->id);
            if (*out_alignment == nullptr) return nullptr;
        }
        if (out_class != nullptr) *out_class = instance_class(manager->mt, in->id);
        if (out_id != nullptr) *out_id = in->id;
        return zr_template_retain(in->tmpl);
    }
    return nullptr;
}

zr_template* zr_multitemplate_manager_get_template(const zr_multitemplate_manager* manager, uint32_t index,
                                                   zr_alignment** out_alignment, uint8_t* out_class) {
    return zr_multitemplate_manager_get_template_with_id(manager, index, out_alignment, out_class, nullptr);
}

zr_alignment* zr_multitemplate_manager_get_subtemplate_alignment(const zr_multitemplate_manager* manager,
                                                                 const zr_template* tmpl, uint8_t* out_class) {
    if (out_class != nullptr) *out_class = ZR_MTM_NO_CLASS;
    if (manager == nullptr || tmpl == nullptr) return nullptr;
    for (const zr_mt_instance* in = manager->mt->instances; in != nullptr; in = in->next) {
        if (in->tmpl != tmpl) continue;
        if (out_class != nullptr) *out_class = instance_class(manager->mt, in->id);
        return instance_alignment(manager->mt, in->id);
    }
    return nullptr;
}

uint32_t zr_multitemplate_get_subtemplate_tag(zr_template* stored, uint32_t index) {
    zr_multitemplate_manager* manager = zr_multitemplate_manager_create_with_template(stored);
    if (manager == nullptr) return ZR_MTM_MISSING_TAG;
    uint32_t tag = ZR_MTM_MISSING_TAG;
    uint32_t position = 0;
    for (const zr_mt_instance* in = manager->mt->instances; in != nullptr; in = in->next) {
        if (position++ == index) {
            tag = in->id;
            break;
        }
    }
    zr_multitemplate_manager_delete(manager);
    return tag;
}
