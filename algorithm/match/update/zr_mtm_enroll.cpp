// Enrolment into a managed multi-template: incremental appends, selection
// over a match matrix or over the stored islands, and the stored-record
// conversions of a manager.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "formats/zr_fusion.h"
#include "match/update/zr_island.h"
#include "match/update/zr_mtm_enroll.h"
#include "match/verify/zr_verify_chain.h"
#include "objects/zr_alloc.h"
#include "objects/zr_template_metadata.h"

namespace {

constexpr uint32_t kFarLevelEnroll = 12;
constexpr uint32_t kFarLevelDynamicUpdate = 15;
constexpr uint32_t kMaxRankedResults = 8;
constexpr uint16_t kStoredIslandScore = 65535;
constexpr uint32_t kLowQualityBit = 0x1;
constexpr uint32_t kEnrollTypeUnset = 3;
constexpr int32_t kDropPending = 2;
constexpr int32_t kDropReplaceable = 1;
constexpr uint8_t kMaxIslandNumber = 254;
constexpr const char* kQualityCheckKey = "zr.dynupdate.use_quality_check";

// --- working lists ---

// Owned templates of the flattened input.
struct template_list {
    zr_template** items = nullptr;
    uint32_t count = 0;
    ~template_list() {
        for (uint32_t i = 0; i < count; ++i) zr_template_delete(items[i]);
        std::free(items);
    }
};

struct entry_list {
    zr_mtm_entry** items = nullptr;
    uint32_t count = 0;
    ~entry_list() {
        for (uint32_t i = 0; i < count; ++i) zr_mtm_template_delete(items[i]);
        std::free(items);
    }
};

bool is_multitemplate(const zr_template* tmpl) {
    return tmpl != nullptr && zr_template_get_type(tmpl) == ZR_TEMPLATE_MULTI;
}

zr_status count_flattened(zr_template* const* templates, uint8_t count, uint32_t* out_total) {
    uint32_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!is_multitemplate(templates[i])) {
            total += templates[i] != nullptr;
            continue;
        }
        zr_multitemplate* mt = nullptr;
        zr_status status = zr_multitemplate_decode(templates[i], &mt);
        if (status != ZR_OK) return status;
        total += zr_multitemplate_get_nbr_of_instances(mt);
        zr_multitemplate_delete(mt);
    }
    *out_total = total;
    return ZR_OK;
}

zr_status append_instances(zr_template* stored, template_list* out) {
    zr_multitemplate* mt = nullptr;
    zr_status status = zr_multitemplate_decode(stored, &mt);
    if (status != ZR_OK) return status;
    for (const zr_mt_instance* in = mt->instances; in != nullptr; in = in->next) {
        out->items[out->count++] = zr_template_retain(in->tmpl);
    }
    zr_multitemplate_delete(mt);
    return ZR_OK;
}

// Type-80 inputs give their instances, others themselves.
zr_status flatten(zr_template* const* templates, uint8_t count, template_list* out) {
    uint32_t total = 0;
    zr_status status = count_flattened(templates, count, &total);
    if (status != ZR_OK) return status;
    if (total > ZR_MT_MAX_INSTANCES) return ZR_UNHANDLED_INPUT;
    out->items = static_cast<zr_template**>(zr_calloc(total > 0 ? total : 1, sizeof(zr_template*)));
    if (out->items == nullptr) return ZR_NO_MEMORY;
    for (uint32_t i = 0; i < count && status == ZR_OK; ++i) {
        if (templates[i] == nullptr) continue;
        if (is_multitemplate(templates[i])) status = append_instances(templates[i], out);
        else out->items[out->count++] = zr_template_retain(templates[i]);
    }
    return status;
}

bool low_quality(const zr_template* tmpl, bool quality_check) {
    return quality_check && (zr_template_get_generation_quality(tmpl) & kLowQualityBit) != 0;
}

bool too_large(const zr_multitemplate_manager* manager) {
    return manager->max_template_size != 0 && zr_multitemplate_encode_size(manager->mt) > manager->max_template_size;
}

// --- incremental mode ---

zr_status append_incrementally(zr_multitemplate_manager* manager, const template_list& news, bool quality_check,
                               uint32_t* updated) {
    zr_multitemplate* mt = manager->mt;
    if (news.count == 0 || zr_multitemplate_get_nbr_of_instances(mt) >= manager->max_templates) return ZR_OK;
    for (uint32_t i = 0; i < news.count; ++i) {
        if (low_quality(news.items[i], quality_check)) continue;
        uint32_t id = 0;
        zr_status status = zr_multitemplate_add_instance_no_tag(mt, news.items[i], &id);
        if (status != ZR_OK) return status;
        // Undone when it overflows the size, so that its id is handed out again.
        if (too_large(manager)) return zr_multitemplate_remove_instance_and_tag(mt, int32_t(id));
        *updated = 1;
        if (zr_multitemplate_get_nbr_of_instances(mt) >= manager->max_templates) break;
    }
    return ZR_OK;
}

zr_status enroll_incrementally(zr_multitemplate_manager* manager, const template_list& news, bool quality_check,
                               uint32_t* updated) {
    zr_status step = append_incrementally(manager, news, quality_check, updated);
    if (zr_multitemplate_get_nbr_of_instances(manager->mt) == 0 || too_large(manager)) return ZR_ENROLL_COMPLETE;
    return step;
}

// --- selection entries ---

uint32_t class_of(const zr_template* tmpl) {
    zr_template_metadata metadata{};
    if (zr_template_metadata_get(nullptr, tmpl, &metadata) != ZR_OK) return 0;
    return metadata.image_class;
}

// Reads a stored instance into an entry. An instance whose tag-1 item is
// missing or short counts as enrolled, unlocked, with zero alignment.
zr_status stored_entry(const zr_multitemplate* mt, const zr_mt_instance* in, zr_mtm_entry** out) {
    zr_mtm_entry* entry = zr_mtm_template_create(in->tmpl);
    if (entry == nullptr) return ZR_NO_MEMORY;
    entry->id = in->id;
    entry->origin = ZR_MTM_ORIGIN_STORED;
    uint16_t length = 0;
    const uint8_t* item = zr_multitemplate_get_metadata(mt, in->id, ZR_MTM_TAG_INSTANCE, &length);
    bool full_item = item != nullptr && length >= ZR_MTM_INSTANCE_ITEM_SIZE;
    uint8_t flags = full_item ? item[5] : 0;
    entry->locked = (flags & ZR_MTM_FLAG_LOCKED) != 0;
    if ((flags & ZR_MTM_FLAG_PENDING) != 0) {
        entry->origin = ZR_MTM_ORIGIN_PENDING;
    } else if (full_item) {
        auto dx = int16_t(uint16_t(item[0] << 8 | item[1]));
        auto dy = int16_t(uint16_t(item[2] << 8 | item[3]));
        entry->stored_alignment = zr_alignment_create(dx, dy, item[4]);
    } else {
        entry->stored_alignment = zr_alignment_create(0, 0, 0);
    }
    if (entry->origin == ZR_MTM_ORIGIN_STORED) {
        uint16_t island_length = 0;
        const uint8_t* island = zr_multitemplate_get_metadata(mt, in->id, ZR_MTM_TAG_ISLAND, &island_length);
        if (island != nullptr && island_length > 0) entry->stored_island = island[0];
        if (entry->stored_alignment == nullptr) {
            zr_mtm_template_delete(entry);
            return ZR_NO_MEMORY;
        }
    }
    entry->class_id = class_of(in->tmpl);
    *out = entry;
    return ZR_OK;
}

zr_status make_entries(const zr_multitemplate* mt, const template_list& news, bool quality_check,
                       entry_list* out) {
    uint32_t total = zr_multitemplate_get_nbr_of_instances(mt) + news.count;
    out->items = static_cast<zr_mtm_entry**>(zr_calloc(total > 0 ? total : 1, sizeof(zr_mtm_entry*)));
    if (out->items == nullptr) return ZR_NO_MEMORY;
    for (const zr_mt_instance* in = mt->instances; in != nullptr; in = in->next) {
        zr_status status = stored_entry(mt, in, &out->items[out->count]);
        if (status != ZR_OK) return status;
        ++out->count;
    }
    for (uint32_t i = 0; i < news.count; ++i) {
        if (low_quality(news.items[i], quality_check)) continue;
        zr_mtm_entry* entry = zr_mtm_template_create(news.items[i]);
        if (entry == nullptr) return ZR_NO_MEMORY;
        entry->class_id = class_of(news.items[i]);
        out->items[out->count++] = entry;
    }
    return ZR_OK;
}

bool stored_enrolled(const zr_mtm_entry* entry) {
    return entry->origin == ZR_MTM_ORIGIN_STORED;
}

// --- match matrix ---

zr_match* stored_pair_match(const zr_mtm_entry* a, const zr_mtm_entry* b) {
    if (a->stored_island != b->stored_island) {
        zr_alignment* zero = zr_alignment_create(0, 0, 0);
        if (zero == nullptr) return nullptr;
        zr_match* match = zr_match_create(a->tmpl, b->tmpl, 0, 0, zero);
        zr_alignment_delete(zero);
        return match;
    }
    zr_alignment* difference = zr_alignment_difference(a->stored_alignment, b->stored_alignment);
    if (difference == nullptr) return nullptr;
    zr_match* match = zr_match_create(a->tmpl, b->tmpl, kStoredIslandScore, 1, difference);
    zr_alignment_delete(difference);
    return match;
}

// The ranked results of one probe; cells hold the templates only by index
// until every comparison is done, so that updated templates are the ones
// matched.
struct ranked_row {
    zr_chain_rank_result results[kMaxRankedResults];
    uint8_t count;
};

void release_row(ranked_row* row) {
    for (uint8_t k = 0; k < row->count; ++k) zr_alignment_delete(row->results[k].alignment);
    row->count = 0;
}

zr_status rank_against_others(zr_template** work, uint32_t count, uint32_t probe, const zr_algorithm_chain* chain,
                              zr_session* session, uint32_t far_level, const zr_vermodel* const* vermodels,
                              ranked_row* row) {
    row->count = uint8_t(std::min<uint32_t>(count - 1, kMaxRankedResults));
    if (row->count == 0) return ZR_OK;
    zr_status status = zr_multitemplate_update_templates(work, uint8_t(count), chain, session, probe, far_level,
                                                         &row->count, row->results, vermodels);
    if (status != ZR_OK) release_row(row);
    return status;
}

zr_status fill_row(zr_match** matrix, uint32_t count, uint32_t row_index, const ranked_row& row,
                   zr_mtm_entry* const* entries) {
    for (uint8_t k = 0; k < row.count; ++k) {
        const zr_chain_rank_result& r = row.results[k];
        if (r.index >= count || r.index == row_index) continue;
        zr_match* match = zr_match_create(entries[r.index]->tmpl, entries[row_index]->tmpl, r.log2_score,
                                          r.accepted != 0 ? 1 : 0, r.alignment);
        if (match == nullptr) return ZR_NO_MEMORY;
        zr_match_retain_templates(match);
        matrix[row_index * count + r.index] = match;
    }
    return ZR_OK;
}

zr_status fill_stored_pairs(zr_match** matrix, uint32_t count, zr_mtm_entry* const* entries) {
    for (uint32_t j = 0; j < count; ++j) {
        if (!stored_enrolled(entries[j])) continue;
        for (uint32_t i = j + 1; i < count; ++i) {
            if (!stored_enrolled(entries[i])) continue;
            zr_match* match = stored_pair_match(entries[j], entries[i]);
            if (match == nullptr) return ZR_NO_MEMORY;
            zr_match_retain_templates(match);
            matrix[j * count + i] = match;
        }
    }
    return ZR_OK;
}

// Entry templates take the updated versions of the working array.
void take_updated_templates(zr_template** work, uint32_t count, zr_mtm_entry* const* entries) {
    for (uint32_t i = 0; i < count; ++i) {
        if (work[i] == entries[i]->tmpl) continue;
        zr_template_delete(entries[i]->tmpl);
        entries[i]->tmpl = zr_template_retain(work[i]);
        entries[i]->template_changed = 1;
    }
}

zr_status rank_all(zr_template** work, ranked_row* rows, zr_mtm_entry* const* entries, uint32_t count,
                   const zr_algorithm_chain* chain, zr_session* session, uint32_t flags,
                   const zr_vermodel* const* vermodels) {
    uint32_t far_level = (flags & ZR_MTM_ENROLL_DYNAMIC_UPDATE) != 0 ? kFarLevelDynamicUpdate : kFarLevelEnroll;
    for (uint32_t j = 0; j < count; ++j) {
        if (stored_enrolled(entries[j])) continue;
        zr_status status = rank_against_others(work, count, j, chain, session, far_level, vermodels, &rows[j]);
        if (status != ZR_OK) return status;
    }
    return ZR_OK;
}

zr_status build_matrix_cells(zr_match** matrix, zr_mtm_entry* const* entries, uint32_t count,
                             const zr_algorithm_chain* chain, zr_session* session, uint32_t flags,
                             const zr_vermodel* const* vermodels) {
    auto** work = static_cast<zr_template**>(zr_calloc(count, sizeof(zr_template*)));
    auto* rows = static_cast<ranked_row*>(zr_calloc(count, sizeof(ranked_row)));
    zr_status status = work != nullptr && rows != nullptr ? ZR_OK : ZR_NO_MEMORY;
    if (status == ZR_OK) {
        for (uint32_t i = 0; i < count; ++i) work[i] = zr_template_retain(entries[i]->tmpl);
        status = rank_all(work, rows, entries, count, chain, session, flags, vermodels);
        take_updated_templates(work, count, entries);
    }
    for (uint32_t j = 0; j < count && status == ZR_OK; ++j) status = fill_row(matrix, count, j, rows[j], entries);
    if (status == ZR_OK) status = fill_stored_pairs(matrix, count, entries);
    for (uint32_t i = 0; rows != nullptr && i < count; ++i) release_row(&rows[i]);
    for (uint32_t i = 0; work != nullptr && i < count; ++i) zr_template_delete(work[i]);
    std::free(rows);
    std::free(work);
    return status;
}

// --- islands of the match matrix ---

void clear_match_list(zr_match_list* list) {
    zr_match_node* node = list->first;
    while (node != nullptr) {
        zr_match_node* next = node->next;
        zr_match_delete(node->match);
        std::free(node);
        node = next;
    }
    *list = {};
}

zr_status islands_from_matrix(zr_match* const* matrix, uint32_t count, zr_island_list* islands) {
    zr_match_list matches{};
    zr_status status = ZR_OK;
    for (uint32_t cell = 0; cell < count * count && status == ZR_OK; ++cell) {
        if (matrix[cell] == nullptr || zr_match_is_accept(matrix[cell]) == 0) continue;
        if (zr_match_sort_into_list(matrix[cell], &matches) == nullptr) status = ZR_NO_MEMORY;
    }
    if (status == ZR_OK) status = zr_island_list_from_match_list(&matches, islands);
    clear_match_list(&matches);
    return status;
}

struct leaf_context {
    zr_mtm_entry* const* entries;
    uint32_t count;
    uint8_t island;
};

zr_status place_leaf(zr_subtemplate_leaf**, zr_subtemplate_leaf* leaf, const zr_alignment* accumulated,
                     void* user_data) {
    auto* context = static_cast<leaf_context*>(user_data);
    const zr_template* tmpl = leaf->subtemplate != nullptr ? leaf->subtemplate->tmpl : nullptr;
    for (uint32_t i = 0; i < context->count; ++i) {
        zr_mtm_entry* entry = context->entries[i];
        if (entry->tmpl != tmpl || entry->island != ZR_MTM_NO_ISLAND) continue;
        zr_alignment* inverse = zr_alignment_inverse(accumulated);
        if (inverse == nullptr) return ZR_NO_MEMORY;
        zr_alignment_delete(entry->island_alignment);
        entry->island_alignment = inverse;
        entry->island = context->island;
        return ZR_OK;
    }
    return ZR_OK;
}

// Island numbers and alignments for every entry; the number of islands.
zr_status place_entries(zr_island_list* islands, zr_mtm_entry* const* entries, uint32_t count,
                        uint32_t* out_islands) {
    uint32_t number = 0;
    for (zr_island_node* node = islands->head; node != nullptr; node = node->next, ++number) {
        leaf_context context{entries, count, uint8_t(number)};
        zr_status status = zr_subtemplate_tree_traverse(zr_island_get_subtemplate_tree(node->island), place_leaf,
                                                        &context);
        if (status != ZR_OK) return status;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (entries[i]->island != ZR_MTM_NO_ISLAND) continue;
        entries[i]->island = uint8_t(number++);
        zr_alignment_delete(entries[i]->island_alignment);
        entries[i]->island_alignment = nullptr;
    }
    *out_islands = number;
    return ZR_OK;
}

zr_status select_and_write(zr_multitemplate_manager* manager, zr_mtm_island_counter* counters,
                           uint32_t nbr_of_islands, zr_mtm_entry* const* entries, uint32_t count, uint32_t flags,
                           uint32_t* updated) {
    zr_status status = enroll_from_islands(manager, counters, nbr_of_islands, entries, count);
    if (status != ZR_OK) return status;
    return update_multitemplate_from_list(manager->mt, entries, count, flags, updated);
}

// --- island path (other pick operations) ---

void protect_small_classes(const zr_multitemplate_manager* manager, zr_mtm_entry* const* entries, uint32_t count) {
    uint32_t per_class[ZR_MTM_NBR_OF_CLASSES] = {};
    for (uint32_t i = 0; i < count; ++i) {
        if (entries[i]->class_id < ZR_MTM_NBR_OF_CLASSES) ++per_class[entries[i]->class_id];
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t c = entries[i]->class_id;
        entries[i]->is_protected =
            c < ZR_MTM_NBR_OF_CLASSES && per_class[c] <= manager->strategy.class_minimum[c] ? 1 : 0;
    }
}

uint8_t smallest_stored_island(zr_mtm_entry* const* entries, uint32_t count) {
    uint8_t smallest = ZR_MTM_NO_ISLAND;
    for (uint32_t i = 0; i < count; ++i) smallest = std::min(smallest, entries[i]->stored_island);
    return smallest == ZR_MTM_NO_ISLAND ? 0 : smallest;
}

uint8_t largest_stored_island(zr_mtm_entry* const* entries, uint32_t count) {
    int32_t largest = -1;
    for (uint32_t i = 0; i < count; ++i) {
        if (entries[i]->stored_island != ZR_MTM_NO_ISLAND) largest = std::max<int32_t>(largest, entries[i]->stored_island);
    }
    return uint8_t(largest);  // 255 (none) when no entry has one: the next number wraps to 0
}

zr_status assign_stored_islands(const zr_multitemplate_manager* manager, zr_mtm_entry* const* entries,
                                uint32_t count) {
    uint8_t joined = smallest_stored_island(entries, count);
    uint8_t largest = largest_stored_island(entries, count);
    uint32_t tag = manager->strategy.matching_tag;
    bool replace_matched = manager->strategy.replacement_strategy == ZR_MTM_REPLACE_FIRST_MATCHED;
    for (uint32_t i = 0; i < count; ++i) {
        zr_mtm_entry* entry = entries[i];
        entry->drop_priority = entry->enroll_type == kEnrollTypeUnset ? 0 : int32_t(entry->enroll_type);
        bool has_island = entry->stored_island != ZR_MTM_NO_ISLAND;
        if (has_island) {
            entry->island = entry->stored_island;
            entry->island_alignment = zr_alignment_copy(entry->stored_alignment);
            if (entry->island_alignment == nullptr) return ZR_NO_MEMORY;
        } else if (entry->origin == ZR_MTM_ORIGIN_PENDING) {
            largest = uint8_t(largest + 1);
            entry->island = std::min(largest, kMaxIslandNumber);
            entry->drop_priority = kDropPending;
        } else {
            entry->island = joined;
        }
        if (replace_matched && ((tag >= 1 && entry->id == tag) || !has_island)) entry->drop_priority = kDropReplaceable;
    }
    return ZR_OK;
}

zr_status island_counters(zr_mtm_entry* const* entries, uint32_t count, zr_mtm_island_counter* counters,
                          uint32_t* out_islands) {
    bool seen[256] = {};
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t island = entries[i]->island;
        if (seen[island]) continue;
        seen[island] = true;
        counters[n++] = {island, 0};
    }
    *out_islands = n;
    return ZR_OK;
}

zr_status enroll_over_stored_islands(zr_multitemplate_manager* manager, zr_mtm_entry* const* entries,
                                     uint32_t count, uint32_t flags, uint32_t* updated) {
    protect_small_classes(manager, entries, count);
    zr_status status = assign_stored_islands(manager, entries, count);
    if (status != ZR_OK) return status;
    zr_mtm_island_counter counters[256];
    uint32_t nbr_of_islands = 0;
    status = island_counters(entries, count, counters, &nbr_of_islands);
    if (status != ZR_OK) return status;
    return select_and_write(manager, counters, nbr_of_islands, entries, count, flags, updated);
}

zr_status enroll_over_match_matrix(zr_multitemplate_manager* manager, const zr_algorithm_chain* chain,
                                   zr_session* session, zr_mtm_entry* const* entries, uint32_t count,
                                   uint32_t flags, uint32_t* updated, const zr_vermodel* const* vermodels) {
    if (count == 0) return ZR_BAD_ARGUMENT;
    zr_match** matrix = nullptr;
    zr_status status = zr_mtm_build_match_matrix(entries, count, chain, session, flags, vermodels, &matrix);
    if (status != ZR_OK) return status;
    status = enroll_from_match_matrix(manager, matrix, entries, count, flags, updated);
    zr_mtm_match_matrix_delete(matrix, count);
    return status;
}

// --- conversion ---

zr_status converted_instance(const zr_template* tmpl, zr_template** out) {
    uint32_t type = zr_template_get_type(tmpl);
    if (type == ZR_TEMPLATE_EHM) {
        *out = zr_template_copy(tmpl);
        return *out != nullptr ? ZR_OK : ZR_NO_MEMORY;
    }
    if (type != ZR_TEMPLATE_EHM_IMAGE) return ZR_UNHANDLED_INPUT;
    uint8_t* bytes = nullptr;
    uint32_t length = 0;
    if (zr_fusion_to_ehm(zr_template_get_data(tmpl), zr_template_get_data_size(tmpl), &bytes, &length) != ZR_OK) {
        return ZR_WRONG_TYPE;
    }
    *out = zr_template_adopt(ZR_TEMPLATE_EHM, bytes, length);
    if (*out == nullptr) {
        std::free(bytes);
        return ZR_NO_MEMORY;
    }
    zr_template_set_generation_quality(*out, zr_template_get_generation_quality(tmpl));
    return ZR_OK;
}

bool enrolled_instance(const zr_multitemplate* mt, uint32_t id) {
    uint16_t length = 0;
    const uint8_t* item = zr_multitemplate_get_metadata(mt, id, ZR_MTM_TAG_INSTANCE, &length);
    return (zr_mtm_decode_flags(item, length) & (ZR_MTM_FLAG_PENDING | ZR_MTM_FLAG_EXCLUDED)) == 0;
}

zr_status convert_instances(const zr_multitemplate* source, zr_multitemplate* target) {
    for (const zr_mt_instance* in = source->instances; in != nullptr; in = in->next) {
        if (!enrolled_instance(source, in->id)) continue;
        zr_template* converted = nullptr;
        zr_status status = converted_instance(in->tmpl, &converted);
        if (status != ZR_OK) return status;
        uint32_t id = 0;
        status = zr_multitemplate_add_instance_no_tag(target, converted, &id);
        zr_template_delete(converted);
        if (status != ZR_OK) return status;
        uint16_t length = 0;
        const uint8_t* data = nullptr;
        for (uint32_t tag : {ZR_MTM_TAG_INSTANCE, ZR_MTM_TAG_ISLAND}) {
            data = zr_multitemplate_get_metadata(source, in->id, tag, &length);
            if (data == nullptr && length == 0) continue;
            status = zr_multitemplate_add_metadata(target, id, tag, data, length);
            if (status != ZR_OK) return status;
        }
    }
    return ZR_OK;
}

}  // namespace

zr_status zr_mtm_build_match_matrix(zr_mtm_entry* const* entries, uint32_t count, const zr_algorithm_chain* chain,
                                    zr_session* session, uint32_t flags, const zr_vermodel* const* vermodels,
                                    zr_match*** out_matrix) {
    if (out_matrix == nullptr) return ZR_BAD_ARGUMENT;
    *out_matrix = nullptr;
    if (entries == nullptr || count == 0 || count > ZR_MT_MAX_INSTANCES) return ZR_BAD_ARGUMENT;
    auto** matrix = static_cast<zr_match**>(zr_calloc(size_t(count) * count, sizeof(zr_match*)));
    if (matrix == nullptr) return ZR_NO_MEMORY;
    zr_status status = build_matrix_cells(matrix, entries, count, chain, session, flags, vermodels);
    if (status != ZR_OK) {
        zr_mtm_match_matrix_delete(matrix, count);
        return status;
    }
    *out_matrix = matrix;
    return ZR_OK;
}

void zr_mtm_match_matrix_delete(zr_match** matrix, uint32_t count) {
    if (matrix == nullptr) return;
    for (uint32_t cell = 0; cell < count * count; ++cell) zr_match_delete(matrix[cell]);
    std::free(matrix);
}

zr_status enroll_from_match_matrix(zr_multitemplate_manager* manager, zr_match* const* matrix,
                                   zr_mtm_entry* const* entries, uint32_t count, uint32_t flags,
                                   uint32_t* updated) {
    if (manager == nullptr || matrix == nullptr || entries == nullptr || count == 0) return ZR_BAD_ARGUMENT;
    if (count > ZR_MT_MAX_INSTANCES) return ZR_UNHANDLED_INPUT;
    for (uint32_t i = 0; i < count; ++i) {
        if (entries[i] == nullptr) return ZR_BAD_ARGUMENT;
        entries[i]->island = ZR_MTM_NO_ISLAND;
    }
    zr_island_list islands{};
    zr_status status = islands_from_matrix(matrix, count, &islands);
    uint32_t nbr_of_islands = 0;
    if (status == ZR_OK) status = place_entries(&islands, entries, count, &nbr_of_islands);
    zr_island_list_delete(&islands);
    for (uint32_t i = 0; i < count && status == ZR_OK; ++i) status = zr_mtm_entry_build_points(entries[i]);
    if (status != ZR_OK) return status;
    zr_mtm_island_counter counters[256];
    for (uint32_t k = 0; k < nbr_of_islands; ++k) counters[k] = {uint8_t(k), 0};
    return select_and_write(manager, counters, nbr_of_islands, entries, count, flags, updated);
}

zr_status zr_multitemplate_manager_enroll_templates(zr_multitemplate_manager* manager,
                                                    const zr_algorithm_chain* chain, zr_template* const* templates,
                                                    uint8_t count, zr_session* session, uint32_t flags,
                                                    uint32_t* updated, const zr_vermodel* const* vermodels) {
    uint32_t local = 0;
    if (updated == nullptr) updated = &local;
    *updated = 0;
    if (manager == nullptr || manager->mt == nullptr || (count > 0 && templates == nullptr)) return ZR_BAD_ARGUMENT;
    bool quality_check = zr_session_get_int(session, kQualityCheckKey, 0) != 0;
    template_list news;
    zr_status status = flatten(templates, count, &news);
    if (status != ZR_OK) return status;
    if (manager->allows_further_updates == 0) return ZR_OK;
    if (manager->incremental_mode != 0) return enroll_incrementally(manager, news, quality_check, updated);
    entry_list entries;
    status = make_entries(manager->mt, news, quality_check, &entries);
    if (status != ZR_OK) return status;
    if (zr_mtm_pick_operation(manager) == find_least_contributing_template) {
        return enroll_over_match_matrix(manager, chain, session, entries.items, entries.count, flags, updated,
                                        vermodels);
    }
    return enroll_over_stored_islands(manager, entries.items, entries.count, flags, updated);
}

zr_status zr_multitemplate_manager_convert(zr_template* stored, uint32_t type, zr_template** out) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    *out = nullptr;
    if (type != ZR_TEMPLATE_EHM) return ZR_UNHANDLED_INPUT;
    zr_multitemplate_manager* manager = zr_multitemplate_manager_create_with_template(stored);
    if (manager == nullptr) return ZR_WRONG_TYPE;
    zr_multitemplate* target = zr_multitemplate_create();
    zr_status status = target != nullptr ? ZR_OK : ZR_NO_MEMORY;
    if (status == ZR_OK) {
        status = zr_multitemplate_copy_metadata(manager->mt, target, ZR_MT_GLOBAL, ZR_MTM_TAG_SETTINGS);
    }
    if (status == ZR_OK) status = convert_instances(manager->mt, target);
    if (status == ZR_OK) status = zr_multitemplate_encode(target, out);
    zr_multitemplate_delete(target);
    zr_multitemplate_manager_delete(manager);
    return status;
}

zr_multitemplate_manager* zr_multitemplate_manager_copy(zr_multitemplate_manager* manager) {
    if (manager == nullptr) return nullptr;
    zr_template* encoded = nullptr;
    if (zr_multitemplate_manager_encode(manager, 0, &encoded) != ZR_OK || encoded == nullptr) return nullptr;
    zr_multitemplate_manager* copy = zr_multitemplate_manager_create_with_template(encoded);
    zr_template_delete(encoded);
    return copy;
}

uint32_t zr_multitemplate_manager_is_copy(zr_multitemplate_manager* a, zr_multitemplate_manager* b) {
    if (a == nullptr || b == nullptr) return 0;
    zr_template* encoded_a = nullptr;
    zr_template* encoded_b = nullptr;
    bool equal = zr_multitemplate_manager_encode(a, 0, &encoded_a) == ZR_OK &&
                 zr_multitemplate_manager_encode(b, 0, &encoded_b) == ZR_OK && encoded_a != nullptr &&
                 encoded_b != nullptr && zr_template_get_data_size(encoded_a) == zr_template_get_data_size(encoded_b) &&
                 std::memcmp(zr_template_get_data(encoded_a), zr_template_get_data(encoded_b),
                             zr_template_get_data_size(encoded_a)) == 0;
    zr_template_delete(encoded_a);
    zr_template_delete(encoded_b);
    return equal ? 1 : 0;
}

zr_status zr_mtm_enroll_templates_from_match_matrix(zr_multitemplate_manager* manager, zr_match* const* matrix,
                                                    zr_mtm_entry* const* entries, uint16_t count, uint32_t flags,
                                                    uint32_t* updated) {
    uint32_t local = 0;
    return enroll_from_match_matrix(manager, matrix, entries, count, flags, updated != nullptr ? updated : &local);
}
