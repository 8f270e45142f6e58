// Islands: trees of overlapping captures of one finger. Each tree node (leaf)
// holds a subtemplate, a template with its alignment relative to the parent
// leaf. Islands are built from a list of accepting matches, best first, so that
// each island is a spanning tree of the strongest overlaps.
//
// Walks run breadth first over the lib_tree stack (push at the tail, pop at
// the head). Accumulated alignments along a path combine the parent's with the
// leaf's own (zr_alignment_combine), so they carry its rounding at each level.
#pragma once

#include <cstdint>

#include "objects/zr_alignment.h"
#include "objects/zr_match.h"
#include "objects/zr_result.h"
#include "objects/zr_template.h"

struct zr_island;

// Reference counted; holds one reference on its alignment (none only after a
// merge with a match that had no alignment).
struct zr_subtemplate {
    uint32_t ref_count;
    zr_template* tmpl;   // not retained: the caller keeps it alive
    zr_island* island;   // not retained
    zr_alignment* alignment;  // relative to the parent leaf
    void (*destroy)(zr_subtemplate*);  // delete_subtemplate
};

// Tree node, owned by its tree.
struct zr_subtemplate_leaf {
    zr_subtemplate_leaf* next_sibling;
    zr_subtemplate_leaf* previous_sibling;
    zr_subtemplate_leaf* first_child;
    zr_subtemplate_leaf* last_child;
    uint32_t child_count;
    zr_subtemplate_leaf* parent;   // none for the top leaf
    zr_subtemplate* subtemplate;   // one reference, or none
};

struct zr_island {
    uint32_t ref_count;
    zr_subtemplate_leaf* top;  // the tree
    void (*destroy)(zr_island*);  // delete_island
};

struct zr_island_node {
    zr_island_node* next;
    zr_island_node* previous;
    zr_island* island;  // one reference
};

struct zr_island_list {
    zr_island_node* head;
    zr_island_node* tail;
    uint32_t count;
};

struct lib_tree_node {
    lib_tree_node* next;
    lib_tree_node* previous;
    void* item;
    uint64_t extra;
};

struct lib_tree_stack {
    lib_tree_node* head;
    lib_tree_node* tail;
    uint32_t count;
};

// Called for each leaf of a walk with the tree walked, the leaf and its
// alignment relative to the top leaf. A result other than ZR_OK stops the walk.
using zr_leaf_visitor = zr_status (*)(zr_subtemplate_leaf** tree, zr_subtemplate_leaf* leaf,
                                      const zr_alignment* accumulated, void* user_data);

// --- lib_tree stack ---

// Appends a node at the tail; none when out of memory.
lib_tree_node* lib_tree_push_stack(lib_tree_stack* stack, void* item, uint64_t extra);
// Removes the head (tail) node and returns its item and extra (optional);
// none when empty.
void* lib_tree_pop_stack_head(lib_tree_stack* stack, uint64_t* extra);
void* lib_tree_pop_stack_tail(lib_tree_stack* stack, uint64_t* extra);
// The tail item without removing it; none when empty.
void* lib_tree_peek_stack_tail(const lib_tree_stack* stack, uint64_t* extra);

// --- subtemplates ---

// New subtemplate (count 1) holding a new reference on the alignment, or a
// new zero alignment without one; none when out of memory.
zr_subtemplate* zr_subtemplate_create(zr_template* tmpl, zr_island* island, zr_alignment* alignment);
// Same template, island and alignment (a zero one when it has none).
zr_subtemplate* zr_subtemplate_copy(const zr_subtemplate* subtemplate);
zr_subtemplate* zr_subtemplate_retain(zr_subtemplate* subtemplate);
void zr_subtemplate_delete(zr_subtemplate* subtemplate);
zr_template* zr_subtemplate_get_template(const zr_subtemplate* subtemplate);
zr_island* zr_subtemplate_get_island(const zr_subtemplate* subtemplate);
zr_alignment* zr_subtemplate_get_alignment(const zr_subtemplate* subtemplate);
// Holds the new alignment (or none) and releases the old one.
void zr_subtemplate_set_alignment(zr_subtemplate* subtemplate, zr_alignment* alignment);
// 1 when both have the same island and the same alignment record.
uint32_t zr_subtemplate_is_copy(const zr_subtemplate* a, const zr_subtemplate* b);
void delete_subtemplate(zr_subtemplate* subtemplate);

// --- leaves and trees (a tree is the slot of its top leaf) ---

// A leaf without links holding a new subtemplate (none when that cannot be
// made); none when out of memory.
zr_subtemplate_leaf* zr_subtemplate_leaf_create(zr_template* tmpl, zr_island* island, zr_alignment* alignment);
// Releases the subtemplate and frees the leaf (not its children).
void zr_subtemplate_leaf_delete(zr_subtemplate_leaf* leaf);
// Re-roots the tree at the leaf: every node on the path to the old top becomes
// the last child of the node below it, with the inverse of that node's former
// alignment; the new top gets a zero alignment.
void zr_subtemplate_leaf_make_top_leaf(zr_subtemplate_leaf** tree, zr_subtemplate_leaf* leaf);
// The first leaf in breadth-first order holding the template; none when there
// is none or out of memory.
zr_subtemplate_leaf* zr_subtemplate_tree_find_leaf_for_template(zr_subtemplate_leaf** tree, const zr_template* tmpl);
// Visits every leaf breadth first with its accumulated alignment. ZR_OK, the
// visitor's first failure, or ZR_NO_MEMORY when an alignment or queue node
// cannot be made (or a leaf lacks its alignment).
[[nodiscard]] zr_status zr_subtemplate_tree_traverse(zr_subtemplate_leaf** tree, zr_leaf_visitor visitor,
                                                     void* user_data);

// --- islands ---

// Empty island (count 1); none when out of memory.
zr_island* zr_island_create();
// A new empty island, like zr_island_create.
zr_island* zr_island_copy(const zr_island* island);
// Always 0.
uint32_t zr_island_is_copy(const zr_island* a, const zr_island* b);
zr_island* zr_island_retain(zr_island* island);
void zr_island_delete(zr_island* island);
zr_subtemplate_leaf** zr_island_get_subtemplate_tree(zr_island* island);
zr_subtemplate* zr_island_get_top_subtemplate(const zr_island* island);
// Frees the island's tree; then, given a subtemplate, a new top leaf holds a
// new reference on it. ZR_OK, ZR_BAD_ARGUMENT without island, ZR_NO_MEMORY.
[[nodiscard]] zr_status zr_island_set_top_subtemplate(zr_island* island, zr_subtemplate* subtemplate);
uint32_t zr_island_get_nbr_of_subtemplates(const zr_island* island);
void delete_island(zr_island* island);

// Builds islands from a match list (best first): each match links its two
// templates' leaves, joining islands as needed; the new child goes first
// among its siblings. The list is cleared first. ZR_OK, ZR_BAD_ARGUMENT for a
// missing argument, ZR_NO_MEMORY (the islands built so far stay in the list).
[[nodiscard]] zr_status zr_island_list_from_match_list(const zr_match_list* matches, zr_island_list* islands);
// Stable sort by number of leaves, largest first.
void zr_island_list_sort(zr_island_list* islands);
// Drops every node's island reference and frees the nodes; the head record
// stays with the caller, cleared.
void zr_island_list_delete(zr_island_list* islands);
