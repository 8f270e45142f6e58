// Strategies, settings and small queries of a multi-template manager and the
// per-instance items it writes. Enrolment into a managed multi-template is in
// match/update/zr_mtm_enroll.h.
#pragma once

#include <cstdint>

#include "match/chain/zr_algorithm_chain.h"
#include "match/multitemplate/zr_multitemplate.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "match/multitemplate/zr_mtm_selection.h"
#include "match/verifiers/zr_verifier.h"
#include "objects/zr_match.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

// Replacement strategies (zr_mtm_set_replacement_strategy).
inline constexpr uint32_t ZR_MTM_REPLACE_RANDOM = 2;
inline constexpr uint32_t ZR_MTM_REPLACE_FIRST = 3;
inline constexpr uint32_t ZR_MTM_REPLACE_FIRST_MATCHED = 4;
inline constexpr uint32_t ZR_MTM_REPLACE_RANDOM_ALIAS = 5;

// Flags of the enrol operations.
inline constexpr uint32_t ZR_MTM_ENROLL_DYNAMIC_UPDATE = 0x1;  // FAR level 15; outside island 0 pending
inline constexpr uint32_t ZR_MTM_ENROLL_LOCK_NEW = 0x2;        // new templates locked
inline constexpr uint32_t ZR_MTM_ENROLL_FAST_UPDATE = 0x4;     // with bit 0: outside island 0 dropped

// --- strategies (ZR_BAD_ARGUMENT without manager) ---

// 2 or 5: random pick, stored as 2; 3 or 4: first pick, stored as given;
// anything else: least-contributing pick and prune_template_1, stored as given.
[[nodiscard]] zr_status zr_mtm_set_replacement_strategy(zr_multitemplate_manager* manager, uint32_t strategy);
// Least-contributing pick with prune_template_1 / prune_template_2.
[[nodiscard]] zr_status zr_mtm_set_enroll_strategy_1(zr_multitemplate_manager* manager);
[[nodiscard]] zr_status zr_mtm_set_enroll_strategy_2(zr_multitemplate_manager* manager);
// Random / first pick; the prune operation stays.
[[nodiscard]] zr_status zr_mtm_set_replace_order_random(zr_multitemplate_manager* manager);
[[nodiscard]] zr_status zr_mtm_set_replace_order_static(zr_multitemplate_manager* manager);
[[nodiscard]] zr_status zr_mtm_set_matching_tag(zr_multitemplate_manager* manager, uint32_t tag);

// --- settings (nothing for a missing manager) ---

void zr_mtm_set_area_overlap(zr_multitemplate_manager* manager, uint32_t overlap);
void zr_mtm_set_dynupdate_config(zr_multitemplate_manager* manager,
                                 const uint32_t class_minimum[ZR_MTM_NBR_OF_CLASSES]);
void zr_mtm_set_image_class_id(zr_multitemplate_manager* manager, uint8_t image_class);
void zr_mtm_set_image_quality(zr_multitemplate_manager* manager, uint32_t quality);

// --- instance items ---

// Writes the instance's tag-1 item (dx, dy of the island alignment in pixels
// as big-endian i16, rotation byte, flags: bit 0 state pending, bit 1 locked,
// bit 2 excluded; zero alignment bytes without alignment) and its tag-2 item
// (island number), replacing earlier ones. The instance is the one with the
// entry's id. ZR_BAD_ARGUMENT for missing arguments; else the multi-template's
// result.
[[nodiscard]] zr_status zr_mtm_add_metadata(zr_multitemplate* mt, const zr_mtm_entry* entry);
// Byte 5 of a tag-1 item; 0 without data or for a length of 5 or less.
uint8_t zr_mtm_decode_flags(const uint8_t* data, int32_t length);
// Instances whose 6-byte tag-1 flags share a bit with the mask.
uint32_t zr_mtm_get_nbr_of_templates_flag(const zr_multitemplate* mt, uint8_t mask);
// Ids of the instances that are not pending, in list order, and their number.
// ids must hold 255 entries. ZR_BAD_ARGUMENT for missing arguments.
[[nodiscard]] zr_status zr_mtm_get_template_tags(const zr_multitemplate_manager* manager, uint32_t* ids,
                                                 uint8_t* out_count);

// --- operations on the managed templates ---

// Every unlocked instance whose template has enrol type 1 gets enrol type 0.
// ZR_NO_MEMORY when an instance cannot be read (also without a tag-1 item);
// the metadata writer's failures pass through.
[[nodiscard]] zr_status zr_mtm_enroll_accepted_templates(zr_multitemplate_manager* manager);
// Removes every unlocked instance whose template class is image_class (0 for a
// template without metadata). ZR_NO_MEMORY when an instance cannot be read
// (also without a tag-1 item); a removal's failure passes through.
[[nodiscard]] zr_status zr_mtm_remove_templates_per_class(zr_multitemplate_manager* manager, uint16_t image_class);
// How many templates of the current mean size fit the maximum size:
// min((max size + S / 2 - 39) / S, maximum templates), S the mean data size
// of the first n enrolled instances (n = instances not pending), unsigned
// integer arithmetic. The maximum number of templates without a size limit,
// without instances, and when S is 0. 0 for a missing manager.
uint32_t zr_mtm_estimate_max_nbr_of_templates(const zr_multitemplate_manager* manager);
// The raw image of a fusion (72) or raw-image (71) template: pixels point
// into the template. Outputs cleared first; the reader's failure; another
// type gives its type code.
[[nodiscard]] zr_status zr_mtm_get_image_data_from_template(const zr_template* tmpl, const uint8_t** out_pixels,
                                                            uint16_t* out_rows, uint16_t* out_cols);
