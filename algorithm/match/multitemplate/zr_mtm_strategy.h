// The selection side of a multi-template manager: the operations that pick
// the template to drop when a budget is exceeded and prune a partly kept
// container, the replacement strategy and the per-class minimums of the
// dynamic update. A manager holds one zr_mtm_strategy, zero-initialised at
// creation: a missing pick or prune operation stands for the default one
// (find_least_contributing_template, prune_template_1).
#pragma once

#include <cstdint>

struct zr_multitemplate_manager;
struct zr_mtm_entry;

// Entries of one island still selected in the priority record being worked.
struct zr_mtm_island_counter {
    uint8_t island;
    uint32_t entries;
};

// Chooses the entry of list[0..count) to drop: its index, or -1 for none.
using zr_mtm_pick_fn = int32_t (*)(zr_multitemplate_manager* manager, zr_mtm_island_counter* counters,
                                   uint32_t nbr_of_islands, zr_mtm_entry* const* list, uint32_t count);
// Applied to a container entry that kept something after losing a part.
using zr_mtm_prune_fn = void (*)(zr_multitemplate_manager* manager, zr_mtm_entry* entry);

inline constexpr uint32_t ZR_MTM_NBR_OF_CLASSES = 8;

struct zr_mtm_strategy {
    zr_mtm_pick_fn pick;    // none: find_least_contributing_template
    zr_mtm_prune_fn prune;  // none: prune_template_1
    uint64_t size_estimate;  // running estimate of the stored size
    uint32_t running_count;  // entries selected
    uint32_t matching_tag;   // id of the instance that matched before an update
    uint32_t replacement_strategy;
    uint32_t image_quality;
    uint32_t area_overlap;
    uint32_t class_minimum[ZR_MTM_NBR_OF_CLASSES];  // dynamic-update configuration
    uint8_t image_class_id;
};
