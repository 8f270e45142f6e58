// Enrolment into a managed multi-template: the entry points that hand
// templates to the selection (incremental appends, selection over a match
// matrix or over the stored islands, as enrolment and dynamic update use
// them), and the stored-record conversions of a manager.
#pragma once

#include <cstdint>

#include "match/chain/zr_algorithm_chain.h"
#include "match/multitemplate/zr_mtm.h"
#include "match/multitemplate/zr_mtm_selection.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "match/verifiers/zr_verifier.h"
#include "objects/zr_match.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

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
