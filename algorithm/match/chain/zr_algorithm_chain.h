// The algorithm chain: an ordered, doubly linked list of links. A link names
// the extractor that turns an image into a template of its type, the verifier
// that compares templates of that type, how many subtemplates the
// verification walk carries into it, and the FAR settings with which the walk
// accepts or rejects there.
//
// The chain owns its links; descriptors and preprocessor lists are constant
// tables shared by every algorithm and are never owned.
#pragma once

#include <cstdint>

#include "match/chain/zr_verifier_descriptor.h"
#include "objects/zr_finger.h"
#include "objects/zr_image.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

// Extractor descriptor: how a link turns an image into a template.
struct zr_extractor_descriptor {
    // Writes a new template of the given type into *out_template (none on
    // failure).
    zr_status (*extract_template)(zr_session* session, zr_image* image, zr_finger* finger, uint32_t template_type,
                                  zr_template** out_template);
    // The image geometry the extractor prefers for an input of the given one.
    void (*pref_idim)(zr_session* session, uint16_t vertical_dpi, uint16_t horizontal_dpi, uint16_t rows,
                      uint16_t cols, uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi, uint16_t* out_rows,
                      uint16_t* out_cols);
};

// Link flags.
inline constexpr uint16_t ZR_LINK_STOP_RANKING = 0x001;     // ranking and dynamic update stop before it
inline constexpr uint16_t ZR_LINK_DROP_SCORES = 0x002;      // feature scores not carried to the next link
inline constexpr uint16_t ZR_LINK_NO_COMPARISONS = 0x004;   // no comparisons at this link
inline constexpr uint16_t ZR_LINK_AFTER_ACCEPT = 0x100;     // the walk continues here after an accept

inline constexpr uint8_t ZR_LINK_SUBTEMPLATES_UNSET = 255;
inline constexpr uint8_t ZR_EARLY_REJECT_OFF = 255;

struct zr_algorithm_link {
    zr_algorithm_link* next;
    zr_algorithm_link* previous;
    const zr_verifier_descriptor* verifier;
    uint8_t nbr_of_subtemplates;    // 255: not set
    uint32_t accept_far_shift;      // used as signed, steps of 2048
    uint32_t reject_far_level;      // 0 none, 1..27 a level, above 27 rejects below 63277
    uint32_t early_reject_level;
    uint8_t early_reject_count;     // 255: off
    uint16_t flags;
    const zr_extractor_descriptor* extractor;  // none on links that only verify
    uint32_t template_type;
    const zr_image_preprocessor* const* preprocessors;  // NULL-ended list or none
};

struct zr_algorithm_chain {
    zr_algorithm_link* first;
    zr_algorithm_link* last;
    uint32_t count;
};

// --- chain ---

// An empty chain; none when out of memory.
zr_algorithm_chain* zr_algorithm_chain_create();
// Frees every link, then the chain; none is ignored.
void zr_algorithm_chain_delete(zr_algorithm_chain* chain);
// The link becomes the last one (the chain takes it over).
void zr_algorithm_chain_append_link(zr_algorithm_chain* chain, zr_algorithm_link* link);
// Unlinks the link (its next and previous cleared); the link that preceded
// it. The caller owns the link again.
zr_algorithm_link* zr_algorithm_chain_remove_link(zr_algorithm_chain* chain, zr_algorithm_link* link);
// None for no chain.
zr_algorithm_link* zr_algorithm_chain_get_first_link(const zr_algorithm_chain* chain);
zr_algorithm_link* zr_algorithm_chain_get_last_link(const zr_algorithm_chain* chain);
// 0 for no chain.
uint32_t zr_algorithm_chain_get_nbr_of_links(const zr_algorithm_chain* chain);
// The extractor of the last link that has one; none without.
const zr_extractor_descriptor* zr_algorithm_chain_get_last_extractor(const zr_algorithm_chain* chain);

// --- link ---

// A zero-filled link with these values, 255 subtemplates, early rejection off
// (level 0, count 255) and no flags; none when out of memory.
zr_algorithm_link* zr_algorithm_link_create(const zr_extractor_descriptor* extractor, uint32_t template_type,
                                            const zr_image_preprocessor* const* preprocessors,
                                            const zr_verifier_descriptor* verifier, uint32_t accept_far_shift,
                                            uint32_t reject_far_level);
// Frees one link; none is ignored.
void zr_algorithm_link_delete(zr_algorithm_link* link);

// Field access; the getters give 0 or none for no link.
zr_algorithm_link* zr_algorithm_link_get_next(const zr_algorithm_link* link);
zr_algorithm_link* zr_algorithm_link_get_previous(const zr_algorithm_link* link);
const zr_verifier_descriptor* zr_algorithm_link_get_verifier(const zr_algorithm_link* link);
const zr_extractor_descriptor* zr_algorithm_link_get_extractor(const zr_algorithm_link* link);
uint32_t zr_algorithm_link_get_extract_template_type(const zr_algorithm_link* link);
const zr_image_preprocessor* const* zr_algorithm_link_get_preprocessors(const zr_algorithm_link* link);
void zr_algorithm_link_remove_preprocessors(zr_algorithm_link* link);
uint32_t zr_algorithm_link_get_accept_far_shift(const zr_algorithm_link* link);
void zr_algorithm_link_set_accept_far_shift(zr_algorithm_link* link, uint32_t shift);
uint32_t zr_algorithm_link_get_reject_far(const zr_algorithm_link* link);
void zr_algorithm_link_set_reject_far(zr_algorithm_link* link, uint32_t level);
uint8_t zr_algorithm_link_get_nbr_of_subtemplates(const zr_algorithm_link* link);
void zr_algorithm_link_set_nbr_of_subtemplates(zr_algorithm_link* link, uint8_t count);
uint16_t zr_algorithm_link_get_flags(const zr_algorithm_link* link);
void zr_algorithm_link_set_flag(zr_algorithm_link* link, uint16_t flag);    // OR
void zr_algorithm_link_clear_flag(zr_algorithm_link* link, uint16_t flag);  // AND NOT
// True when flag 0x002 is clear.
bool zr_algorithm_link_pass_on_feature_scores(const zr_algorithm_link* link);

// The first link after this one whose flags share a bit with the mask (none
// at the end); *skipped (optional) counts the links passed over, 0 when the
// immediate next link qualifies or none does.
zr_algorithm_link* zr_algorithm_link_get_next_with_flags(const zr_algorithm_link* link, uint16_t mask,
                                                         uint8_t* skipped);

void zr_algorithm_set_early_reject(zr_algorithm_link* link, uint32_t level, uint8_t count);
// With early rejection off (count 255, or no link) writes level 0 and count
// 255 and returns 0; else writes both fields and returns 1.
uint32_t zr_algorithm_get_early_reject(const zr_algorithm_link* link, uint32_t* level, uint8_t* count);
