#include "objects/zr_match.h"

#include <cstdlib>

#include "objects/zr_alloc.h"
#include "objects/zr_object.h"

namespace {

// The new node goes before this one.
bool goes_before(const zr_match_node* node, uint16_t new_score) {
    if (node->match == nullptr) return new_score != 0;
    return node->match->score < new_score;
}

}  // namespace

void delete_match(zr_match* match) {
    if (match->holds_templates) {
        zr_template_delete(match->template1);
        zr_template_delete(match->template2);
    }
    zr_alignment_delete(match->alignment);
    std::free(match);
}

zr_match* zr_match_create(zr_template* template1, zr_template* template2, uint16_t score,
                          uint32_t decision, zr_alignment* alignment) {
    auto* match = static_cast<zr_match*>(zr_calloc(1, sizeof(zr_match)));
    if (match == nullptr) return nullptr;
    match->ref_count = 1;
    match->score = score;
    match->decision = decision;
    match->alignment = zr_alignment_retain(alignment);
    match->template1 = template1;
    match->template2 = template2;
    match->destroy = delete_match;
    return match;
}

zr_match* zr_match_create_inverse(const zr_match* match) {
    if (match == nullptr) return nullptr;
    zr_alignment* inverse = zr_alignment_inverse(match->alignment);
    if (inverse == nullptr) return nullptr;
    zr_match* inverted =
        zr_match_create(match->template2, match->template1, match->score, match->decision, inverse);
    zr_alignment_delete(inverse);  // the new match holds its own reference
    return inverted;
}

zr_match* zr_match_copy(const zr_match* match) {
    if (match == nullptr) return nullptr;
    zr_match* copy = zr_match_create(match->template1, match->template2, match->score,
                                     match->decision, match->alignment);
    if (copy != nullptr && match->holds_templates) zr_match_retain_templates(copy);
    return copy;
}

zr_match* zr_match_retain(zr_match* match) { return zr_object_retain(match); }

void zr_match_delete(zr_match* match) { zr_object_delete(match); }

void zr_match_retain_templates(zr_match* match) {
    if (match == nullptr || match->holds_templates) return;
    zr_template_retain(match->template1);
    zr_template_retain(match->template2);
    match->holds_templates = 1;
}

zr_alignment* zr_match_get_alignment(const zr_match* match) {
    return match ? match->alignment : nullptr;
}

uint16_t zr_match_get_score(const zr_match* match) { return match ? match->score : 0; }

uint32_t zr_match_get_decision(const zr_match* match) { return match ? match->decision : 0; }

zr_template* zr_match_get_template1(const zr_match* match) {
    return match ? match->template1 : nullptr;
}

zr_template* zr_match_get_template2(const zr_match* match) {
    return match ? match->template2 : nullptr;
}

uint32_t zr_match_is_accept(const zr_match* match) {
    return match != nullptr && match->decision == 1 ? 1 : 0;
}

uint32_t zr_match_is_reject(const zr_match* match) {
    return match != nullptr && match->decision == 0 ? 1 : 0;
}

uint32_t zr_match_is_copy(const zr_match* a, const zr_match* b) {
    return a != nullptr && b != nullptr && a->template1 == b->template1 &&
                   a->template2 == b->template2
               ? 1
               : 0;
}

zr_match_node* zr_match_sort_into_list(zr_match* match, zr_match_list* list) {
    if (list == nullptr) return nullptr;
    auto* node = static_cast<zr_match_node*>(zr_calloc(1, sizeof(zr_match_node)));
    if (node == nullptr) return nullptr;
    node->match = zr_match_retain(match);
    const uint16_t score = zr_match_get_score(match);
    zr_match_node* next = list->first;
    while (next != nullptr && !goes_before(next, score)) next = next->next;
    if (next == nullptr) {  // append
        node->previous = list->last;
        if (list->last != nullptr) list->last->next = node;
        else list->first = node;
        list->last = node;
    } else {
        node->next = next;
        node->previous = next->previous;
        if (next->previous != nullptr) next->previous->next = node;
        else list->first = node;
        next->previous = node;
    }
    ++list->count;
    return node;
}
