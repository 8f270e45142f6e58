// One comparison between two templates (score, decision, alignment), kept by
// enrolment in lists sorted by score.
#pragma once

#include <cstdint>

#include "objects/zr_alignment.h"
#include "objects/zr_template.h"

struct zr_match {
    uint32_t ref_count;
    uint16_t score;
    uint32_t decision;         // 1 accept, 0 reject
    zr_alignment* alignment;   // held reference or none
    zr_template* template1;    // references only when holds_templates is set
    zr_template* template2;
    uint32_t holds_templates;
    void (*destroy)(zr_match*);  // delete_match
};

struct zr_match_node {
    zr_match_node* next;
    zr_match_node* previous;
    zr_match* match;  // held reference or none
};

struct zr_match_list {
    zr_match_node* first;
    zr_match_node* last;
    uint32_t count;
};

// New match holding a reference to the alignment but not to the templates;
// none when out of memory.
zr_match* zr_match_create(zr_template* template1, zr_template* template2, uint16_t score,
                          uint32_t decision, zr_alignment* alignment);
// The templates swapped, the same score and decision, the inverse alignment;
// none for none, when the inverse cannot be made or when out of memory.
zr_match* zr_match_create_inverse(const zr_match* match);
// Same fields, the alignment retained; a source holding its templates gives a
// copy that holds them too.
zr_match* zr_match_copy(const zr_match* match);
zr_match* zr_match_retain(zr_match* match);
void zr_match_delete(zr_match* match);
// Holds a reference to each template from now on (once; later calls do
// nothing); they are released when the match is destroyed.
void zr_match_retain_templates(zr_match* match);

// The fields (no reference added); 0 or none for a missing match.
zr_alignment* zr_match_get_alignment(const zr_match* match);
uint16_t zr_match_get_score(const zr_match* match);
uint32_t zr_match_get_decision(const zr_match* match);
zr_template* zr_match_get_template1(const zr_match* match);
zr_template* zr_match_get_template2(const zr_match* match);
// 1 when the decision is 1 / 0; 0 for a missing match.
uint32_t zr_match_is_accept(const zr_match* match);
uint32_t zr_match_is_reject(const zr_match* match);
// 1 when both exist and refer to the same two template objects in order.
uint32_t zr_match_is_copy(const zr_match* a, const zr_match* b);

// Inserts a node holding a new reference to the match (which may be none)
// into the list kept in descending order of score: before the first node
// whose match scores lower, or is none while the new score is not 0; after
// the others of equal score. The new node, or none for a missing list or
// when out of memory (the list then unchanged).
zr_match_node* zr_match_sort_into_list(zr_match* match, zr_match_list* list);

void delete_match(zr_match* match);
