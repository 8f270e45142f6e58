// The multi-template manager: a multi-template together with the rules that
// decide which templates an enrolled finger keeps (maximum number, maximum
// stored size, priority list of template types), and its settings stored in
// the record itself so that a stored "ZRMT" template reopens with them.
//
// Settings item (global tag 1, 21 bytes, rewritten by every encode):
//   0 maximum number of templates    1 12
//   2 flags: bit 1 allows further updates (0 when encoded with a non-zero
//     encode mode), bit 0 second settings flag
//   3-6 maximum template size (u32 big-endian)    7-8 0, 0
//   9 settings version (2)    10 number of priority records with terminator
//   11-20 five records {low 8 bits of template type, maximum count}
// Instance items: tag 1 (6 bytes) dx, dy (i16 big-endian pixels), rotation
// (256 steps a turn), flags (bit 0 pending, bit 1 locked, bit 2 excluded);
// tag 2 (1 byte) island number. An instance without a full tag-1 item counts
// as enrolled with zero alignment; without tag 2 its class is 255.
#pragma once

#include <cstdint>

#include "match/multitemplate/zr_multitemplate.h"
#include "match/multitemplate/zr_mtm_strategy.h"
#include "objects/zr_alignment.h"
#include "objects/zr_result.h"
#include "objects/zr_storage_writer.h"
#include "objects/zr_template.h"

inline constexpr uint32_t ZR_MTM_TAG_SETTINGS = 1;
inline constexpr uint32_t ZR_MTM_TAG_INSTANCE = 1;
inline constexpr uint32_t ZR_MTM_TAG_ISLAND = 2;
inline constexpr uint16_t ZR_MTM_SETTINGS_SIZE = 21;
inline constexpr uint16_t ZR_MTM_INSTANCE_ITEM_SIZE = 6;
inline constexpr uint8_t ZR_MTM_FLAG_PENDING = 0x01;
inline constexpr uint8_t ZR_MTM_FLAG_LOCKED = 0x02;
inline constexpr uint8_t ZR_MTM_FLAG_EXCLUDED = 0x04;
inline constexpr uint8_t ZR_MTM_NO_CLASS = 255;
inline constexpr uint32_t ZR_MTM_MAX_PRIORITY_RECORDS = 4;  // without the terminator
inline constexpr uint8_t ZR_MTM_NO_COUNT_LIMIT = 255;
// The id reported for an instance that cannot be found or read.
inline constexpr uint32_t ZR_MTM_MISSING_TAG = 0x80000000u;

struct zr_mtm_priority {
    uint32_t template_type;  // 0 in the terminator
    uint8_t max_count;       // 255: no limit
};

struct zr_multitemplate_manager {
    uint32_t ref_count;
    zr_multitemplate* mt;  // owned
    uint8_t max_templates;
    uint8_t allows_further_updates;
    uint8_t second_settings_flag;
    uint32_t max_template_size;  // 0: no limit
    uint32_t incremental_mode;
    zr_mtm_priority priorities[ZR_MTM_MAX_PRIORITY_RECORDS + 1];
    uint32_t nbr_of_priorities;  // terminator included
    uint64_t random_state;
    zr_mtm_strategy strategy;  // zeroed at creation: the default operations
    void (*destroy)(zr_multitemplate_manager*);  // delete_multitemplate_manager
};

// A manager over an empty multi-template: this maximum, further updates
// allowed, second settings flag 1, no size limit, only the terminating
// priority record, random state 1; the settings item is written. None on
// failure.
zr_multitemplate_manager* zr_multitemplate_manager_create(uint8_t max_templates);
// A manager over the decoded stored template (type 80). Settings: a missing
// item or one shorter than 7 bytes leaves maximum 0 with further updates
// refused; 7 bytes and more give bytes 0-6; 9 and more a version-1 priority
// record {byte 8, byte 7}; 21 and more need version above 1 and a record
// count (byte 10) of 1..5. Incremental mode is 1 when there are instances and
// none holds a non-empty tag-2 item. None on any failure (undecodable record,
// refused settings, no memory).
zr_multitemplate_manager* zr_multitemplate_manager_create_with_template(zr_template* tmpl);
zr_multitemplate_manager* zr_multitemplate_manager_retain(zr_multitemplate_manager* manager);
// Drops one reference; the last one deletes the multi-template and the record.
void zr_multitemplate_manager_delete(zr_multitemplate_manager* manager);
void delete_multitemplate_manager(zr_multitemplate_manager* manager);
// The managed multi-template (no reference added).
zr_multitemplate* zr_multitemplate_manager_get_multitemplate(const zr_multitemplate_manager* manager);

// Rewrites the settings item, then encodes (type 80) into *out (none on
// failure). ZR_BAD_ARGUMENT for missing arguments, else the encoder's result.
[[nodiscard]] zr_status zr_multitemplate_manager_encode(zr_multitemplate_manager* manager, int32_t encode_mode,
                                                        zr_template** out);
[[nodiscard]] zr_status zr_multitemplate_manager_encode_to_storage(zr_multitemplate_manager* manager,
                                                                   int32_t encode_mode, zr_template** out,
                                                                   const zr_storage_writer* writer, void* context);

void zr_multitemplate_manager_set_max_template_size(zr_multitemplate_manager* manager, uint32_t size);
// Copies count records (a maximum count of 0 becomes 255) and adds the
// terminator. ZR_BAD_ARGUMENT for a count above 4 or missing records.
[[nodiscard]] zr_status zr_multitemplate_manager_set_template_priority(zr_multitemplate_manager* manager,
                                                                       const zr_mtm_priority* records,
                                                                       uint32_t count);
// Sets incremental mode unless some instance holds a non-empty tag-2 item.
void zr_multitemplate_manager_set_incremental_mode(zr_multitemplate_manager* manager);

// 0 for a missing manager.
uint8_t zr_multitemplate_manager_get_max_nbr_of_templates(const zr_multitemplate_manager* manager);
uint8_t zr_multitemplate_manager_allows_further_updates(const zr_multitemplate_manager* manager);
// Instances not pending (excluded ones included).
uint32_t zr_multitemplate_manager_get_nbr_of_templates(const zr_multitemplate_manager* manager);
// Instances pending (with a tag-1 item).
uint32_t zr_multitemplate_manager_get_nbr_of_unenrolled_templates(const zr_multitemplate_manager* manager);
// Instances whose template metadata class equals image_class.
uint32_t zr_multitemplate_manager_get_nbr_of_templates_in_class(const zr_multitemplate_manager* manager,
                                                                uint16_t image_class);
// Templates x 100 / maximum, integer; 0 when the maximum is 0.
uint32_t zr_multitemplate_manager_get_fill_grade(const zr_multitemplate_manager* manager);

// The index-th instance (list order) that is neither pending nor excluded,
// with a new reference; its stored alignment (new, zero without a tag-1 item)
// and class (255 without tag 2) when asked for. None past the end; the
// outputs are then none and 255.
zr_template* zr_multitemplate_manager_get_template(const zr_multitemplate_manager* manager, uint32_t index,
                                                   zr_alignment** out_alignment, uint8_t* out_class);
// As zr_multitemplate_manager_get_template, also giving the instance's id
// (ZR_MTM_MISSING_TAG when there is none).
zr_template* zr_multitemplate_manager_get_template_with_id(const zr_multitemplate_manager* manager, uint32_t index,
                                                           zr_alignment** out_alignment, uint8_t* out_class,
                                                           uint32_t* out_id);
// The stored alignment (new reference) and class of the instance holding
// this very template object; none and 255 when no instance holds it.
zr_alignment* zr_multitemplate_manager_get_subtemplate_alignment(const zr_multitemplate_manager* manager,
                                                                 const zr_template* tmpl, uint8_t* out_class);
// The id of the index-th instance (list order, all instances) of the stored
// template read as by create_with_template; ZR_MTM_MISSING_TAG on any failure
// or past the end.
uint32_t zr_multitemplate_get_subtemplate_tag(zr_template* stored, uint32_t index);
