// Strategies, settings and small queries of a multi-template manager, the
// per-instance items it writes, and the enrolment entry points that hand
// templates to the selection.
#pragma once

#include <cstdint>

#include "match/zr_algorithm_chain.h"
#include "match/zr_multitemplate.h"
#include "match/zr_multitemplate_manager.h"
#include "match/zr_mtm_selection.h"
#include "match/zr_verifier.h"
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

// --- enrolment ---

// Selection over a match matrix: matrix[row * count + column] holds the match
// of that cell or none. Islands from the accepting matches, island
// alignments, point sets, the budgeted selection and the write-back; see
// zr_mtm_selection.h. *updated as there; ZR_BAD_ARGUMENT for missing
// arguments or no entries; ZR_NO_MEMORY; the selection's failures.
[[nodiscard]] zr_status enroll_from_match_matrix(zr_multitemplate_manager* manager, zr_match* const* matrix,
                                                 zr_mtm_entry* const* entries, uint32_t count, uint32_t flags,
                                                 uint32_t* updated);
// enroll_from_match_matrix with a local out-parameter when updated is none.
[[nodiscard]] zr_status zr_mtm_enroll_templates_from_match_matrix(zr_multitemplate_manager* manager,
                                                                  zr_match* const* matrix,
                                                                  zr_mtm_entry* const* entries, uint16_t count,
                                                                  uint32_t flags, uint32_t* updated);

// Adds templates to the managed multi-template. Type-80 inputs contribute
// their instances. Incremental mode appends while the maximum count and size
// allow (an add that overflows the size is undone and its id handed out
// again); selection mode builds entries for the stored instances and the new
// templates and selects over a match matrix (default pick) or the stored
// islands (other picks). *updated is set to 0 first. ZR_UNHANDLED_INPUT for
// more than 255 templates; ZR_BAD_ARGUMENT for missing arguments or nothing
// to enrol in selection mode; ZR_NO_MEMORY; ZR_FAILURE when the budgets
// cannot be met; ZR_ENROLL_COMPLETE from incremental mode when the record is
// empty or too large; decoder and verifier failures pass through. ZR_OK with
// nothing changed when the manager allows no further updates.
[[nodiscard]] zr_status zr_multitemplate_manager_enroll_templates(zr_multitemplate_manager* manager,
                                                                  const zr_algorithm_chain* chain,
                                                                  zr_template* const* templates, uint8_t count,
                                                                  zr_session* session, uint32_t flags,
                                                                  uint32_t* updated,
                                                                  const zr_vermodel* const* vermodels);

// The N x N match matrix of the selection mode (row-major, cells the caller
// releases with zr_mtm_match_matrix_delete): every entry that is not a
// stored enrolled instance is compared with all others through
// zr_multitemplate_update_templates (results in its row); two stored
// enrolled instances j < i get the match of their stored alignments in row
// j. Entry templates are replaced by their updated versions.
[[nodiscard]] zr_status zr_mtm_build_match_matrix(zr_mtm_entry* const* entries, uint32_t count,
                                                  const zr_algorithm_chain* chain, zr_session* session,
                                                  uint32_t flags, const zr_vermodel* const* vermodels,
                                                  zr_match*** out_matrix);
void zr_mtm_match_matrix_delete(zr_match** matrix, uint32_t count);

// --- stored templates ---

// A type-80 template whose enrolled instances are EHM templates (type 67):
// fusion templates lose their raw image, items 1 and 2 are copied, the
// settings item too. ZR_UNHANDLED_INPUT unless type is 67 or for an instance
// of another type; ZR_WRONG_TYPE when no manager can be made or a fusion
// template cannot be converted; encoder failures pass through.
[[nodiscard]] zr_status zr_multitemplate_manager_convert(zr_template* stored, uint32_t type, zr_template** out);
// A new manager over the encoded record (settings item rewritten first; the
// further-updates bit kept); none on failure.
zr_multitemplate_manager* zr_multitemplate_manager_copy(zr_multitemplate_manager* manager);
// 1 when both encode to the same bytes, else 0.
uint32_t zr_multitemplate_manager_is_copy(zr_multitemplate_manager* a, zr_multitemplate_manager* b);
