#include "match/chain/zr_algorithm_chain.h"

#include <cstdlib>

#include "objects/zr_alloc.h"

zr_algorithm_chain* zr_algorithm_chain_create() {
    return static_cast<zr_algorithm_chain*>(zr_calloc(1, sizeof(zr_algorithm_chain)));
}

void zr_algorithm_chain_delete(zr_algorithm_chain* chain) {
    if (chain == nullptr) return;
    zr_algorithm_link* link = chain->first;
    while (link != nullptr) {
        zr_algorithm_link* next = link->next;
        zr_algorithm_link_delete(link);
        link = next;
    }
    free(chain);
}

void zr_algorithm_chain_append_link(zr_algorithm_chain* chain, zr_algorithm_link* link) {
    if (chain == nullptr || link == nullptr) return;
    link->next = nullptr;
    link->previous = chain->last;
    if (chain->last != nullptr) chain->last->next = link;
    else chain->first = link;
    chain->last = link;
    chain->count++;
}

zr_algorithm_link* zr_algorithm_chain_remove_link(zr_algorithm_chain* chain, zr_algorithm_link* link) {
    if (chain == nullptr || link == nullptr) return nullptr;
    zr_algorithm_link* previous = link->previous;
    if (previous != nullptr) previous->next = link->next;
    else chain->first = link->next;
    if (link->next != nullptr) link->next->previous = previous;
    else chain->last = previous;
    link->next = nullptr;
    link->previous = nullptr;
    chain->count--;
    return previous;
}

zr_algorithm_link* zr_algorithm_chain_get_first_link(const zr_algorithm_chain* chain) {
    return chain != nullptr ? chain->first : nullptr;
}

zr_algorithm_link* zr_algorithm_chain_get_last_link(const zr_algorithm_chain* chain) {
    return chain != nullptr ? chain->last : nullptr;
}

uint32_t zr_algorithm_chain_get_nbr_of_links(const zr_algorithm_chain* chain) {
    return chain != nullptr ? chain->count : 0;
}

const zr_extractor_descriptor* zr_algorithm_chain_get_last_extractor(const zr_algorithm_chain* chain) {
    if (chain == nullptr) return nullptr;
    for (const zr_algorithm_link* link = chain->last; link != nullptr; link = link->previous) {
        if (link->extractor != nullptr) return link->extractor;
    }
    return nullptr;
}

zr_algorithm_link* zr_algorithm_link_create(const zr_extractor_descriptor* extractor, uint32_t template_type,
                                            const zr_image_preprocessor* const* preprocessors,
                                            const zr_verifier_descriptor* verifier, uint32_t accept_far_shift,
                                            uint32_t reject_far_level) {
    auto* link = static_cast<zr_algorithm_link*>(zr_calloc(1, sizeof(zr_algorithm_link)));
    if (link == nullptr) return nullptr;
    link->extractor = extractor;
    link->template_type = template_type;
    link->preprocessors = preprocessors;
    link->verifier = verifier;
    link->accept_far_shift = accept_far_shift;
    link->reject_far_level = reject_far_level;
    link->nbr_of_subtemplates = ZR_LINK_SUBTEMPLATES_UNSET;
    link->early_reject_level = 0;
    link->early_reject_count = ZR_EARLY_REJECT_OFF;
    return link;
}

void zr_algorithm_link_delete(zr_algorithm_link* link) { free(link); }

zr_algorithm_link* zr_algorithm_link_get_next(const zr_algorithm_link* link) {
    return link != nullptr ? link->next : nullptr;
}
zr_algorithm_link* zr_algorithm_link_get_previous(const zr_algorithm_link* link) {
    return link != nullptr ? link->previous : nullptr;
}
const zr_verifier_descriptor* zr_algorithm_link_get_verifier(const zr_algorithm_link* link) {
    return link != nullptr ? link->verifier : nullptr;
}
const zr_extractor_descriptor* zr_algorithm_link_get_extractor(const zr_algorithm_link* link) {
    return link != nullptr ? link->extractor : nullptr;
}
uint32_t zr_algorithm_link_get_extract_template_type(const zr_algorithm_link* link) {
    return link != nullptr ? link->template_type : 0;
}
const zr_image_preprocessor* const* zr_algorithm_link_get_preprocessors(const zr_algorithm_link* link) {
    return link != nullptr ? link->preprocessors : nullptr;
}
void zr_algorithm_link_remove_preprocessors(zr_algorithm_link* link) {
    if (link != nullptr) link->preprocessors = nullptr;
}
uint32_t zr_algorithm_link_get_accept_far_shift(const zr_algorithm_link* link) {
    return link != nullptr ? link->accept_far_shift : 0;
}
void zr_algorithm_link_set_accept_far_shift(zr_algorithm_link* link, uint32_t shift) {
    if (link != nullptr) link->accept_far_shift = shift;
}
uint32_t zr_algorithm_link_get_reject_far(const zr_algorithm_link* link) {
    return link != nullptr ? link->reject_far_level : 0;
}
void zr_algorithm_link_set_reject_far(zr_algorithm_link* link, uint32_t level) {
    if (link != nullptr) link->reject_far_level = level;
}
uint8_t zr_algorithm_link_get_nbr_of_subtemplates(const zr_algorithm_link* link) {
    return link != nullptr ? link->nbr_of_subtemplates : 0;
}
void zr_algorithm_link_set_nbr_of_subtemplates(zr_algorithm_link* link, uint8_t count) {
    if (link != nullptr) link->nbr_of_subtemplates = count;
}
uint16_t zr_algorithm_link_get_flags(const zr_algorithm_link* link) { return link != nullptr ? link->flags : 0; }
void zr_algorithm_link_set_flag(zr_algorithm_link* link, uint16_t flag) {
    if (link != nullptr) link->flags = uint16_t(link->flags | flag);
}
void zr_algorithm_link_clear_flag(zr_algorithm_link* link, uint16_t flag) {
    if (link != nullptr) link->flags = uint16_t(link->flags & ~flag);
}
bool zr_algorithm_link_pass_on_feature_scores(const zr_algorithm_link* link) {
    return link != nullptr && (link->flags & ZR_LINK_DROP_SCORES) == 0;
}

zr_algorithm_link* zr_algorithm_link_get_next_with_flags(const zr_algorithm_link* link, uint16_t mask,
                                                         uint8_t* skipped) {
    if (skipped != nullptr) *skipped = 0;
    if (link == nullptr) return nullptr;
    uint8_t passed = 0;
    for (zr_algorithm_link* next = link->next; next != nullptr; next = next->next) {
        if ((next->flags & mask) != 0) {
            if (skipped != nullptr) *skipped = passed;
            return next;
        }
        passed++;
    }
    return nullptr;
}

void zr_algorithm_set_early_reject(zr_algorithm_link* link, uint32_t level, uint8_t count) {
    if (link == nullptr) return;
    link->early_reject_level = level;
    link->early_reject_count = count;
}

uint32_t zr_algorithm_get_early_reject(const zr_algorithm_link* link, uint32_t* level, uint8_t* count) {
    if (link == nullptr || link->early_reject_count == ZR_EARLY_REJECT_OFF) {
        if (level != nullptr) *level = 0;
        if (count != nullptr) *count = ZR_EARLY_REJECT_OFF;
        return 0;
    }
    if (level != nullptr) *level = link->early_reject_level;
    if (count != nullptr) *count = link->early_reject_count;
    return 1;
}
