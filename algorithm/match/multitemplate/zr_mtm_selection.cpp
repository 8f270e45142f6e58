#include "match/multitemplate/zr_mtm_selection.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "formats/bal_template_container.h"
#include "formats/zr_ansi378.h"
#include "formats/zr_fusion.h"
#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso_compactcard.h"
#include "match/multitemplate/zr_mtm.h"
#include "math/zr_crc32.h"
#include "math/zr_random.h"
#include "math/zr_trig.h"
#include "objects/zr_alloc.h"
#include "objects/zr_template_convert.h"
#include "objects/zr_template_generic.h"
#include "objects/zr_template_metadata.h"

namespace {

constexpr uint32_t kGridSteps = 4;  // grid points at 0, 1/4, ..., 4/4 of each side
constexpr uint32_t kGridPoints = (kGridSteps + 1) * (kGridSteps + 1);
constexpr int32_t kQ14Shift = 14;
constexpr uint32_t kFlagDynamicUpdate = 0x1;
constexpr uint32_t kFlagLockNew = 0x2;
constexpr uint32_t kFlagFastUpdate = 0x4;
constexpr uint32_t kUpdatedAdded = 1;
constexpr uint32_t kUpdatedPending = 2;
constexpr uint32_t kUpdatedStored = 3;

// --- point sets ---

// Reads the template's minutiae by its type; false when it has none.
bool read_minutiae(const zr_template* tmpl, minutiastruct* out) {
    const uint8_t* data = zr_template_get_data(tmpl);
    uint32_t size = zr_template_get_data_size(tmpl);
    if (data == nullptr || size == 0) return false;
    switch (zr_template_get_type(tmpl)) {
    case ZR_TEMPLATE_ISO19794_2:
        return zr_iso19794_2_to_minutiastruct(data, size, out) == ZR_OK;
    case ZR_TEMPLATE_ISO_COMPACT_CARD:
        return zr_convert_iso_compactcard_to_minutiastruct(data, size, out) == ZR_OK;
    case ZR_TEMPLATE_ANSI378:
        return zr_ansi378_to_minutiastruct(data, size, out) == ZR_OK;
    case ZR_TEMPLATE_EHM:
    case ZR_TEMPLATE_EHM_NEO:
        return zr_ehm_to_minutiastruct(data, size, out) == ZR_OK;
    case ZR_TEMPLATE_EHM_IMAGE:
        return zr_fusion_to_minutiastruct(data, size, out) == ZR_OK;
    case ZR_TEMPLATE_GENERIC: {
        const uint8_t* part = nullptr;
        uint32_t part_size = 0;
        if (zr_template_generic_extract(tmpl, ZR_TEMPLATE_EHM, &part, &part_size) != ZR_OK) return false;
        return part != nullptr && zr_ehm_to_minutiastruct(part, part_size, out) == ZR_OK;
    }
    default:
        return false;
    }
}

struct island_pose {
    int32_t dx;
    int32_t dy;
    int32_t cosine;  // Q14 of the negated rotation
    int32_t sine;
    bool identity;
};

island_pose pose_of(const zr_alignment* alignment) {
    island_pose pose{0, 0, 1 << kQ14Shift, 0, true};
    if (alignment == nullptr) return pose;
    pose.dx = zr_alignment_get_dx(alignment);
    pose.dy = zr_alignment_get_dy(alignment);
    auto rotation = uint8_t(zr_alignment_get_rotation(alignment));
    auto negated = uint8_t(256u - rotation);
    pose.cosine = zr_cos_(negated);
    pose.sine = zr_sin_(negated);
    pose.identity = pose.dx == 0 && pose.dy == 0 && rotation == 0;
    return pose;
}

zr_mtm_point place(const island_pose& pose, int32_t x, int32_t y, uint8_t angle) {
    if (pose.identity) return {x, y, angle};
    int64_t turned_x = (int64_t(x) * pose.cosine - int64_t(y) * pose.sine) >> kQ14Shift;
    int64_t turned_y = (int64_t(x) * pose.sine + int64_t(y) * pose.cosine) >> kQ14Shift;
    return {int32_t(turned_x) + pose.dx, int32_t(turned_y) + pose.dy, angle};
}

// --- coverage ---

int32_t cell_of(int32_t v) {
    // Floor division, so that cells stay aligned to multiples of the size.
    return v >= 0 ? v / ZR_MTM_CELL_SIZE : -((-v + ZR_MTM_CELL_SIZE - 1) / ZR_MTM_CELL_SIZE);
}

struct cell_box {
    int32_t min_x;
    int32_t min_y;
    int32_t max_x;
    int32_t max_y;
    bool empty() const { return min_x > max_x; }
    uint64_t width() const { return uint64_t(int64_t(max_x) - min_x + 1); }
    uint64_t height() const { return uint64_t(int64_t(max_y) - min_y + 1); }
};

cell_box bounding_cells(zr_mtm_entry* const* list, uint32_t count) {
    cell_box box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (uint32_t i = 0; i < count; ++i) {
        for (uint32_t p = 0; p < list[i]->point_count; ++p) {
            int32_t cx = cell_of(list[i]->points[p].x);
            int32_t cy = cell_of(list[i]->points[p].y);
            box.min_x = std::min(box.min_x, cx);
            box.max_x = std::max(box.max_x, cx);
            box.min_y = std::min(box.min_y, cy);
            box.max_y = std::max(box.max_y, cy);
        }
    }
    return box;
}

// Occupied cells of every entry but list[skip], marked in the caller's grid
// (box.width() x box.height() bytes, cleared here).
uint32_t count_cells(zr_mtm_entry* const* list, uint32_t count, uint32_t skip, const cell_box& box,
                     uint8_t* grid) {
    std::memset(grid, 0, size_t(box.width() * box.height()));
    uint32_t covered = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (i == skip) continue;
        for (uint32_t p = 0; p < list[i]->point_count; ++p) {
            uint64_t cx = uint64_t(int64_t(cell_of(list[i]->points[p].x)) - box.min_x);
            uint64_t cy = uint64_t(int64_t(cell_of(list[i]->points[p].y)) - box.min_y);
            uint8_t& cell = grid[cy * box.width() + cx];
            covered += cell == 0;
            cell = 1;
        }
    }
    return covered;
}

// --- picks ---

zr_mtm_island_counter* find_counter(zr_mtm_island_counter* counters, uint32_t nbr_of_islands, uint8_t island) {
    for (uint32_t i = 0; i < nbr_of_islands; ++i) {
        if (counters[i].island == island) return &counters[i];
    }
    return nullptr;
}

// The island with the fewest entries among those holding any (the later one
// on equal counts); the last island when none holds any.
const zr_mtm_island_counter* smallest_island(const zr_mtm_island_counter* counters, uint32_t nbr_of_islands) {
    const zr_mtm_island_counter* smallest = nullptr;
    for (uint32_t i = 0; i < nbr_of_islands; ++i) {
        if (counters[i].entries == 0) continue;
        if (smallest == nullptr || counters[i].entries <= smallest->entries) smallest = &counters[i];
    }
    if (smallest == nullptr && nbr_of_islands > 0) smallest = &counters[nbr_of_islands - 1];
    return smallest;
}

bool droppable(const zr_mtm_entry* entry) {
    return entry->state == ZR_MTM_STATE_SELECTED && entry->locked == 0 && entry->is_protected == 0;
}

// The highest drop priority among the droppable entries; false when none.
bool highest_drop_priority(zr_mtm_entry* const* list, uint32_t count, int32_t* out_priority,
                           uint32_t* out_entries) {
    bool found = false;
    int32_t highest = 0;
    uint32_t entries = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (!droppable(list[i])) continue;
        if (!found || list[i]->drop_priority > highest) {
            highest = list[i]->drop_priority;
            entries = 0;
            found = true;
        }
        entries += list[i]->drop_priority == highest;
    }
    *out_priority = highest;
    *out_entries = entries;
    return found;
}

// Index in the list of the nth droppable entry with this priority.
int32_t nth_at_priority(zr_mtm_entry* const* list, uint32_t count, int32_t priority, uint32_t nth) {
    for (uint32_t i = 0; i < count; ++i) {
        if (!droppable(list[i]) || list[i]->drop_priority != priority) continue;
        if (nth == 0) return int32_t(i);
        --nth;
    }
    return -1;
}

// --- selection ---

uint64_t instance_size(const zr_mtm_entry* entry) {
    return ZR_MTM_INSTANCE_OVERHEAD + zr_template_get_data_size(entry->tmpl);
}

bool compatible_with(const zr_mtm_entry* entry, uint32_t template_type) {
    return template_type == 0 || zr_template_is_compatible(entry->tmpl, template_type) != 0;
}

struct budget {
    uint64_t size;
    uint32_t count;
};

budget budget_of(const zr_multitemplate_manager* manager, const zr_mtm_priority& record) {
    uint64_t size = manager->max_template_size != 0 ? manager->max_template_size : ZR_MTM_UNLIMITED_SIZE;
    uint32_t per_type = record.max_count != 0 ? record.max_count : ZR_MTM_NO_COUNT_LIMIT;
    return {size, std::min<uint32_t>(per_type, manager->max_templates)};
}

void seed_random_state(zr_multitemplate_manager* manager, const zr_mtm_entry* last) {
    uint32_t crc = zr_crc32(zr_template_get_data(last->tmpl), zr_template_get_data_size(last->tmpl));
    manager->random_state = crc != 0 ? crc : 1;
}

// A dropped container entry that loses only its part of this type; true when
// something remained and the entry stays.
bool keep_rest_of_container(zr_multitemplate_manager* manager, zr_mtm_entry* entry, uint32_t template_type,
                            uint8_t island) {
    if (template_type == 0 || zr_template_get_type(entry->tmpl) != ZR_TEMPLATE_GENERIC) return false;
    zr_template* rest = zr_template_remove_data_of_type(entry->tmpl, template_type);
    if (rest == nullptr) return false;
    if (zr_template_generic_is_empty(rest) != 0) {
        zr_template_delete(rest);
        return false;
    }
    zr_template_set_generation_quality(rest, zr_template_get_generation_quality(entry->tmpl));
    zr_template_delete(entry->tmpl);
    entry->tmpl = rest;
    entry->template_changed = 1;
    entry->island = island;
    zr_mtm_prune_operation(manager)(manager, entry);
    return true;
}

void drop_entry(zr_multitemplate_manager* manager, zr_mtm_island_counter* counters, uint32_t nbr_of_islands,
                zr_mtm_entry* entry) {
    zr_mtm_island_counter* counter = find_counter(counters, nbr_of_islands, entry->island);
    if (counter != nullptr && counter->entries > 0) --counter->entries;
    entry->state = ZR_MTM_STATE_DROPPED;
    entry->island = ZR_MTM_NO_ISLAND;
    manager->strategy.size_estimate -= instance_size(entry);
    --manager->strategy.running_count;
}

// Selects the candidates of the record into the list; recounts the islands,
// the estimate and the running count over everything selected.
uint32_t start_record(zr_multitemplate_manager* manager, zr_mtm_island_counter* counters, uint32_t nbr_of_islands,
                      zr_mtm_entry* const* entries, uint32_t count, uint32_t template_type, zr_mtm_entry** list) {
    for (uint32_t i = 0; i < nbr_of_islands; ++i) counters[i].entries = 0;
    uint32_t listed = 0;
    manager->strategy.size_estimate = ZR_MTM_RECORD_OVERHEAD;
    manager->strategy.running_count = 0;
    for (uint32_t i = 0; i < count; ++i) {
        zr_mtm_entry* entry = entries[i];
        if (entry->state == ZR_MTM_STATE_CANDIDATE && compatible_with(entry, template_type)) {
            entry->state = ZR_MTM_STATE_SELECTED;
            zr_mtm_island_counter* counter = find_counter(counters, nbr_of_islands, entry->island);
            if (counter != nullptr) ++counter->entries;
            list[listed++] = entry;
        }
        if (entry->state == ZR_MTM_STATE_SELECTED) {
            manager->strategy.size_estimate += instance_size(entry);
            ++manager->strategy.running_count;
        }
    }
    return listed;
}

zr_status select_for_record(zr_multitemplate_manager* manager, zr_mtm_island_counter* counters,
                            uint32_t nbr_of_islands, zr_mtm_entry* const* entries, uint32_t count,
                            const zr_mtm_priority& record, zr_mtm_entry** list) {
    uint32_t listed = start_record(manager, counters, nbr_of_islands, entries, count, record.template_type, list);
    budget limit = budget_of(manager, record);
    zr_mtm_pick_fn pick = zr_mtm_pick_operation(manager);
    while (manager->strategy.size_estimate > limit.size || manager->strategy.running_count > limit.count) {
        int32_t chosen = pick(manager, counters, nbr_of_islands, list, listed);
        if (chosen < 0 || uint32_t(chosen) >= listed) return ZR_FAILURE;
        zr_mtm_entry* entry = list[chosen];
        if (entry->state != ZR_MTM_STATE_SELECTED) return ZR_FAILURE;
        uint8_t island = entry->island;
        drop_entry(manager, counters, nbr_of_islands, entry);
        keep_rest_of_container(manager, entry, record.template_type, island);
    }
    return ZR_OK;
}

bool undecided(const zr_mtm_entry* entry) {
    if (entry->state < ZR_MTM_STATE_SELECTED || entry->state > ZR_MTM_STATE_CANDIDATE) return true;
    bool has_island = entry->island != ZR_MTM_NO_ISLAND;
    return entry->state == ZR_MTM_STATE_SELECTED ? !has_island : has_island;
}

uint8_t final_state(const zr_mtm_entry* entry, uint32_t flags) {
    if (entry->state != ZR_MTM_STATE_SELECTED) return ZR_MTM_STATE_REMOVE;
    if (entry->island == 0) return ZR_MTM_STATE_KEEP;
    if ((flags & kFlagDynamicUpdate) == 0) return ZR_MTM_STATE_KEEP;
    return (flags & kFlagFastUpdate) != 0 ? ZR_MTM_STATE_REMOVE : ZR_MTM_STATE_PENDING;
}

zr_status write_stored_entry(zr_multitemplate* mt, zr_mtm_entry* entry) {
    if (entry->state == ZR_MTM_STATE_REMOVE) return zr_multitemplate_remove_instance(mt, int32_t(entry->id));
    if (entry->state != ZR_MTM_STATE_KEEP && entry->state != ZR_MTM_STATE_PENDING) return ZR_FAILURE;
    if (entry->template_changed != 0) {
        zr_status status = zr_multitemplate_remove_instance(mt, int32_t(entry->id));
        if (status != ZR_OK) return status;
        status = zr_multitemplate_add_instance(mt, entry->id, entry->tmpl);
        if (status != ZR_OK) return status;
    }
    entry->excluded = 0;
    return zr_mtm_add_metadata(mt, entry);
}

zr_status write_new_entry(zr_multitemplate* mt, zr_mtm_entry* entry, uint32_t flags) {
    if (entry->state == ZR_MTM_STATE_REMOVE) return ZR_OK;
    if (entry->state != ZR_MTM_STATE_KEEP && entry->state != ZR_MTM_STATE_PENDING) return ZR_FAILURE;
    if ((flags & kFlagLockNew) != 0) entry->locked = 1;
    zr_status status = zr_multitemplate_add_instance_no_tag(mt, entry->tmpl, &entry->id);
    if (status != ZR_OK) return status;
    return zr_mtm_add_metadata(mt, entry);
}

}  // namespace

// --- entries ---

zr_mtm_entry* zr_mtm_template_create(zr_template* tmpl) {
    if (tmpl == nullptr) return nullptr;
    auto* entry = static_cast<zr_mtm_entry*>(zr_calloc(1, sizeof(zr_mtm_entry)));
    if (entry == nullptr) return nullptr;
    entry->tmpl = zr_template_retain(tmpl);
    entry->id = ZR_MTM_NEW_ID;
    entry->enroll_type = zr_template_metadata_enroll_type(tmpl);
    entry->origin = ZR_MTM_ORIGIN_NEW;
    entry->state = ZR_MTM_STATE_REMOVE;
    entry->island = ZR_MTM_NO_ISLAND;
    entry->stored_island = ZR_MTM_NO_ISLAND;
    return entry;
}

void zr_mtm_template_delete(zr_mtm_entry* entry) {
    if (entry == nullptr) return;
    zr_template_delete(entry->tmpl);
    zr_alignment_delete(entry->stored_alignment);
    zr_alignment_delete(entry->island_alignment);
    std::free(entry->points);
    std::free(entry);
}

// --- point sets ---

zr_status zr_mtm_entry_build_points(zr_mtm_entry* entry) {
    if (entry == nullptr) return ZR_BAD_ARGUMENT;
    std::free(entry->points);
    entry->points = nullptr;
    entry->point_count = 0;
    auto* minutiae = static_cast<minutiastruct*>(zr_calloc(1, sizeof(minutiastruct)));
    if (minutiae == nullptr) return ZR_NO_MEMORY;
    if (entry->tmpl == nullptr || !read_minutiae(entry->tmpl, minutiae)) {
        std::free(minutiae);
        return ZR_OK;
    }
    uint32_t total = minutiae->count + kGridPoints;
    auto* points = static_cast<zr_mtm_point*>(zr_malloc(total * sizeof(zr_mtm_point)));
    if (points == nullptr) {
        std::free(minutiae);
        return ZR_NO_MEMORY;
    }
    island_pose pose = pose_of(entry->island_alignment);
    uint32_t n = 0;
    for (uint32_t i = 0; i < minutiae->count; ++i) {
        const minutia& m = minutiae->minutiae[i];
        points[n++] = place(pose, m.col, m.row, m.angle);
    }
    for (uint32_t i = 0; i <= kGridSteps; ++i) {
        for (uint32_t j = 0; j <= kGridSteps; ++j) {
            auto x = int32_t(uint32_t(minutiae->cols) * i / kGridSteps);
            auto y = int32_t(uint32_t(minutiae->rows) * j / kGridSteps);
            points[n++] = place(pose, x, y, 0);
        }
    }
    std::free(minutiae);
    entry->points = points;
    entry->point_count = n;
    return ZR_OK;
}

uint32_t zr_mtm_coverage(zr_mtm_entry* const* list, uint32_t count, uint32_t skip) {
    if (list == nullptr || count == 0) return 0;
    cell_box box = bounding_cells(list, count);
    if (box.empty()) return 0;
    auto* grid = static_cast<uint8_t*>(zr_malloc(size_t(box.width() * box.height())));
    if (grid == nullptr) return 0;
    uint32_t covered = count_cells(list, count, skip, box, grid);
    std::free(grid);
    return covered;
}

// --- pick and prune operations ---

int32_t find_least_contributing_template(zr_multitemplate_manager*, zr_mtm_island_counter* counters,
                                         uint32_t nbr_of_islands, zr_mtm_entry* const* list, uint32_t count) {
    const zr_mtm_island_counter* island = smallest_island(counters, nbr_of_islands);
    if (island == nullptr || list == nullptr || count == 0) return -1;
    cell_box box = bounding_cells(list, count);
    uint8_t* grid = nullptr;
    if (!box.empty()) {
        grid = static_cast<uint8_t*>(zr_malloc(size_t(box.width() * box.height())));
        if (grid == nullptr) return -1;
    }
    int32_t chosen = -1;
    uint32_t best_coverage = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const zr_mtm_entry* entry = list[i];
        if (entry->state != ZR_MTM_STATE_SELECTED || entry->island != island->island) continue;
        uint32_t coverage = grid != nullptr ? count_cells(list, count, i, box, grid) : 0;
        if (chosen < 0 || coverage >= best_coverage) {
            chosen = int32_t(i);
            best_coverage = coverage;
        }
    }
    std::free(grid);
    return chosen;
}

int32_t pick_first_template(zr_multitemplate_manager*, zr_mtm_island_counter*, uint32_t, zr_mtm_entry* const* list,
                            uint32_t count) {
    int32_t priority = 0;
    uint32_t entries = 0;
    if (list == nullptr || !highest_drop_priority(list, count, &priority, &entries)) return -1;
    return nth_at_priority(list, count, priority, 0);
}

int32_t pick_random_template(zr_multitemplate_manager* manager, zr_mtm_island_counter*, uint32_t,
                             zr_mtm_entry* const* list, uint32_t count) {
    int32_t priority = 0;
    uint32_t entries = 0;
    if (manager == nullptr || list == nullptr || !highest_drop_priority(list, count, &priority, &entries)) return -1;
    uint64_t draw = zr_rand_xorshift64star(&manager->random_state);
    return nth_at_priority(list, count, priority, uint32_t(draw % entries));
}

void prune_template_1(zr_multitemplate_manager*, zr_mtm_entry* entry) {
    entry->state = ZR_MTM_STATE_CANDIDATE;
}

void prune_template_2(zr_multitemplate_manager* manager, zr_mtm_entry* entry) {
    entry->state = ZR_MTM_STATE_CANDIDATE;
    manager->strategy.size_estimate += instance_size(entry);
}

zr_mtm_pick_fn zr_mtm_pick_operation(const zr_multitemplate_manager* manager) {
    return manager->strategy.pick != nullptr ? manager->strategy.pick : find_least_contributing_template;
}

zr_mtm_prune_fn zr_mtm_prune_operation(const zr_multitemplate_manager* manager) {
    return manager->strategy.prune != nullptr ? manager->strategy.prune : prune_template_1;
}

// --- selection ---

zr_status enroll_from_islands(zr_multitemplate_manager* manager, zr_mtm_island_counter* counters,
                              uint32_t nbr_of_islands, zr_mtm_entry* const* entries, uint32_t count) {
    if (manager == nullptr || (count > 0 && entries == nullptr)) return ZR_BAD_ARGUMENT;
    for (uint32_t i = 0; i < count; ++i) {
        entries[i]->state = entries[i]->locked != 0 ? ZR_MTM_STATE_SELECTED : ZR_MTM_STATE_CANDIDATE;
    }
    if (zr_mtm_pick_operation(manager) == pick_random_template && count > 0) {
        if (entries[count - 1]->tmpl == nullptr) return ZR_BAD_ARGUMENT;
        seed_random_state(manager, entries[count - 1]);
    }
    auto** list = static_cast<zr_mtm_entry**>(zr_malloc((count > 0 ? count : 1) * sizeof(zr_mtm_entry*)));
    if (list == nullptr) return ZR_NO_MEMORY;
    zr_status status = ZR_OK;
    for (uint32_t r = 0; r < manager->nbr_of_priorities && status == ZR_OK; ++r) {
        status = select_for_record(manager, counters, nbr_of_islands, entries, count, manager->priorities[r], list);
    }
    std::free(list);
    if (status != ZR_OK) return status;
    for (uint32_t i = 0; i < count; ++i) {
        if (undecided(entries[i])) return ZR_FAILURE;
    }
    return ZR_OK;
}

zr_status update_multitemplate_from_list(zr_multitemplate* mt, zr_mtm_entry* const* entries, uint32_t count,
                                         uint32_t flags, uint32_t* updated) {
    if (mt == nullptr || (count > 0 && entries == nullptr)) return ZR_BAD_ARGUMENT;
    for (uint32_t i = 0; i < count; ++i) entries[i]->state = final_state(entries[i], flags);
    bool added = false;
    bool added_pending = false;
    bool stored = false;
    for (uint32_t i = 0; i < count; ++i) {
        zr_mtm_entry* entry = entries[i];
        if (entry->origin == ZR_MTM_ORIGIN_NEW) continue;
        zr_status status = write_stored_entry(mt, entry);
        if (status != ZR_OK) return status;
        stored = true;
    }
    for (uint32_t i = 0; i < count; ++i) {
        zr_mtm_entry* entry = entries[i];
        if (entry->origin != ZR_MTM_ORIGIN_NEW) continue;
        zr_status status = write_new_entry(mt, entry, flags);
        if (status != ZR_OK) return status;
        added = added || entry->state == ZR_MTM_STATE_KEEP;
        added_pending = added_pending || entry->state == ZR_MTM_STATE_PENDING;
    }
    if (updated != nullptr) {
        if (added) *updated = kUpdatedAdded;
        else if (added_pending) *updated = kUpdatedPending;
        else if (stored) *updated = kUpdatedStored;
    }
    return ZR_OK;
}
