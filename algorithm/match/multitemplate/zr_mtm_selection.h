// Template selection of the multi-template manager: the working entry of
// every template considered, the point sets that measure how much of the
// finger each template covers, the pick and prune operations, the budgeted
// selection over islands and the write-back into the multi-template.
//
// Entry states: 4 selected, 5 dropped, 6 candidate while selecting; after
// the decision 0 remove, 1 add or keep, 2 add as pending.
#pragma once

#include <cstdint>

#include "match/multitemplate/zr_multitemplate.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "match/multitemplate/zr_mtm_strategy.h"
#include "objects/zr_alignment.h"
#include "objects/zr_result.h"
#include "objects/zr_template.h"

inline constexpr uint32_t ZR_MTM_NEW_ID = 0x80000000u;
inline constexpr uint8_t ZR_MTM_NO_ISLAND = 255;

enum zr_mtm_origin : uint8_t { ZR_MTM_ORIGIN_NEW = 0, ZR_MTM_ORIGIN_STORED = 1, ZR_MTM_ORIGIN_PENDING = 2 };

enum zr_mtm_state : uint8_t {
    ZR_MTM_STATE_REMOVE = 0,
    ZR_MTM_STATE_KEEP = 1,
    ZR_MTM_STATE_PENDING = 2,
    ZR_MTM_STATE_SELECTED = 4,
    ZR_MTM_STATE_DROPPED = 5,
    ZR_MTM_STATE_CANDIDATE = 6,
};

// Size estimate of a stored record: the head with the settings and next-id
// items, and per instance its head with tags 1 and 2.
inline constexpr uint64_t ZR_MTM_RECORD_OVERHEAD = 39;
inline constexpr uint64_t ZR_MTM_INSTANCE_OVERHEAD = 23;
// Budget size when the manager sets no maximum.
inline constexpr uint64_t ZR_MTM_UNLIMITED_SIZE = 0x40000000u;
// Side of a coverage cell in pixels.
inline constexpr int32_t ZR_MTM_CELL_SIZE = 20;

struct zr_mtm_point {
    int32_t x;
    int32_t y;
    uint8_t angle;
};

struct zr_mtm_entry {
    zr_template* tmpl;               // one reference
    uint32_t id;                     // ZR_MTM_NEW_ID for a template not stored
    uint32_t locked;
    uint32_t excluded;               // written as bit 2 of the tag-1 flags
    uint32_t enroll_type;
    zr_alignment* stored_alignment;  // held, or none
    zr_alignment* island_alignment;  // relative to the island top; held, or none
    uint8_t origin;                  // zr_mtm_origin
    uint8_t state;                   // zr_mtm_state
    uint8_t island;
    uint8_t stored_island;
    zr_mtm_point* points;            // owned, or none
    uint32_t point_count;
    uint32_t template_changed;
    int32_t drop_priority;
    uint32_t class_id;
    uint32_t is_protected;           // its class would fall below its minimum
};

// --- entries ---

// A new entry for the template (one reference): id ZR_MTM_NEW_ID, not locked,
// the template's enrol type, drop priority 0, origin new, state 0, island and
// stored island 255, no points. None for no template or out of memory.
zr_mtm_entry* zr_mtm_template_create(zr_template* tmpl);
// Releases the template and alignments, frees the points and the entry.
void zr_mtm_template_delete(zr_mtm_entry* entry);

// --- point sets ---

// The entry's minutiae (read by template type) and the 25 grid points of its
// image, moved into island coordinates by the island alignment: turned by the
// negated rotation (Q14 sine and cosine, products shifted right
// arithmetically by 14) and translated by the offset in pixels at 500 dpi. A
// zero or missing alignment keeps the points as read. Templates without
// minutiae give no points. ZR_OK or ZR_NO_MEMORY.
[[nodiscard]] zr_status zr_mtm_entry_build_points(zr_mtm_entry* entry);
// Cells of ZR_MTM_CELL_SIZE pixels (grid at multiples of the size, negative
// coordinates included) holding at least one point of the entries of
// list[0..count) other than list[skip] (skip = count or more leaves none
// out).
uint32_t zr_mtm_coverage(zr_mtm_entry* const* list, uint32_t count, uint32_t skip);

// --- pick and prune operations ---

int32_t find_least_contributing_template(zr_multitemplate_manager* manager, zr_mtm_island_counter* counters,
                                         uint32_t nbr_of_islands, zr_mtm_entry* const* list, uint32_t count);
int32_t pick_first_template(zr_multitemplate_manager* manager, zr_mtm_island_counter* counters,
                            uint32_t nbr_of_islands, zr_mtm_entry* const* list, uint32_t count);
int32_t pick_random_template(zr_multitemplate_manager* manager, zr_mtm_island_counter* counters,
                             uint32_t nbr_of_islands, zr_mtm_entry* const* list, uint32_t count);
// Sets the entry back to candidate.
void prune_template_1(zr_multitemplate_manager* manager, zr_mtm_entry* entry);
// As prune_template_1, adding the entry's instance size to the estimate.
void prune_template_2(zr_multitemplate_manager* manager, zr_mtm_entry* entry);

// The manager's pick and prune operations with the defaults filled in.
zr_mtm_pick_fn zr_mtm_pick_operation(const zr_multitemplate_manager* manager);
zr_mtm_prune_fn zr_mtm_prune_operation(const zr_multitemplate_manager* manager);

// --- selection ---

// Budgeted selection over the priority records: entries are selected,
// dropped by the pick operation until each record's size and count budgets
// hold, or kept as candidates. ZR_OK; ZR_BAD_ARGUMENT when the random pick
// is seeded from a last entry without template; ZR_FAILURE when a budget
// cannot be met or an entry ends undecided; ZR_NO_MEMORY.
[[nodiscard]] zr_status enroll_from_islands(zr_multitemplate_manager* manager, zr_mtm_island_counter* counters,
                                            uint32_t nbr_of_islands, zr_mtm_entry* const* entries, uint32_t count);
// Turns the selection states into decisions and applies them to the
// multi-template: stored entries are removed or kept (re-added under their id
// when their template changed) with their items rewritten, new ones appended.
// Flags: bit 0 dynamic update (entries outside island 0 stay pending), bit 1
// new entries locked, bit 2 with bit 0 drops them instead. *updated: 1 when a
// new entry was added, else 2 when one was added pending, else 3 when a
// stored entry was processed, else unchanged. ZR_FAILURE for an entry in no
// decided state; the multi-template's failures pass through.
[[nodiscard]] zr_status update_multitemplate_from_list(zr_multitemplate* mt, zr_mtm_entry* const* entries,
                                                       uint32_t count, uint32_t flags, uint32_t* updated);
