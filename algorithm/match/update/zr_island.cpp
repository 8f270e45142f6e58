#include "match/update/zr_island.h"

#include <cstdlib>

#include "objects/zr_alloc.h"
#include "objects/zr_object.h"

namespace {

zr_alignment* zero_alignment() { return zr_alignment_create(0, 0, 0); }

// --- children ---

void unlink_from_parent(zr_subtemplate_leaf* leaf) {
    zr_subtemplate_leaf* parent = leaf->parent;
    if (parent == nullptr) return;
    if (leaf->previous_sibling) leaf->previous_sibling->next_sibling = leaf->next_sibling;
    else parent->first_child = leaf->next_sibling;
    if (leaf->next_sibling) leaf->next_sibling->previous_sibling = leaf->previous_sibling;
    else parent->last_child = leaf->previous_sibling;
    --parent->child_count;
    leaf->parent = leaf->next_sibling = leaf->previous_sibling = nullptr;
}

void add_first_child(zr_subtemplate_leaf* parent, zr_subtemplate_leaf* child) {
    child->parent = parent;
    child->previous_sibling = nullptr;
    child->next_sibling = parent->first_child;
    if (parent->first_child) parent->first_child->previous_sibling = child;
    else parent->last_child = child;
    parent->first_child = child;
    ++parent->child_count;
}

void add_last_child(zr_subtemplate_leaf* parent, zr_subtemplate_leaf* child) {
    child->parent = parent;
    child->next_sibling = nullptr;
    child->previous_sibling = parent->last_child;
    if (parent->last_child) parent->last_child->next_sibling = child;
    else parent->first_child = child;
    parent->last_child = child;
    ++parent->child_count;
}

// The next leaf of a depth-first pre-order walk below top; none at the end.
// Walks without memory, so that counting and freeing cannot fail.
zr_subtemplate_leaf* next_preorder(zr_subtemplate_leaf* leaf, const zr_subtemplate_leaf* top) {
    if (leaf->first_child) return leaf->first_child;
    while (leaf != top) {
        if (leaf->next_sibling) return leaf->next_sibling;
        leaf = leaf->parent;
    }
    return nullptr;
}

// Frees a whole tree, children before their parent.
void free_tree(zr_subtemplate_leaf* top) {
    zr_subtemplate_leaf* leaf = top;
    while (leaf != nullptr) {
        if (leaf->first_child) {
            leaf = leaf->first_child;
            continue;
        }
        zr_subtemplate_leaf* parent = leaf == top ? nullptr : leaf->parent;
        if (parent) unlink_from_parent(leaf);
        zr_subtemplate_leaf_delete(leaf);
        leaf = parent;
    }
}

void set_island_of_tree(zr_subtemplate_leaf* top, zr_island* island) {
    for (zr_subtemplate_leaf* leaf = top; leaf; leaf = next_preorder(leaf, top))
        if (leaf->subtemplate) leaf->subtemplate->island = island;
}

void clear_stack(lib_tree_stack* stack) {
    while (stack->head) (void)lib_tree_pop_stack_head(stack, nullptr);
}

// Breadth-first search; *status ZR_NO_MEMORY when the queue cannot grow.
zr_subtemplate_leaf* find_leaf(zr_subtemplate_leaf* top, const zr_template* tmpl, zr_status* status) {
    *status = ZR_OK;
    if (top == nullptr) return nullptr;
    lib_tree_stack queue{};
    if (!lib_tree_push_stack(&queue, top, 0)) {
        *status = ZR_NO_MEMORY;
        return nullptr;
    }
    while (queue.head) {
        auto* leaf = static_cast<zr_subtemplate_leaf*>(lib_tree_pop_stack_head(&queue, nullptr));
        if (leaf->subtemplate && leaf->subtemplate->tmpl == tmpl) {
            clear_stack(&queue);
            return leaf;
        }
        for (zr_subtemplate_leaf* child = leaf->first_child; child; child = child->next_sibling) {
            if (!lib_tree_push_stack(&queue, child, 0)) {
                clear_stack(&queue);
                *status = ZR_NO_MEMORY;
                return nullptr;
            }
        }
    }
    return nullptr;
}

// --- island lists ---

struct found_leaf {
    zr_island_node* node;
    zr_subtemplate_leaf* leaf;
};

zr_status find_in_islands(const zr_island_list* islands, const zr_template* tmpl, found_leaf* found) {
    *found = {nullptr, nullptr};
    for (zr_island_node* node = islands->head; node; node = node->next) {
        zr_status status = ZR_OK;
        zr_subtemplate_leaf* leaf = find_leaf(node->island->top, tmpl, &status);
        if (status != ZR_OK) return status;
        if (leaf) {
            *found = {node, leaf};
            return ZR_OK;
        }
    }
    return ZR_OK;
}

void unlink_node(zr_island_list* islands, zr_island_node* node) {
    if (node->previous) node->previous->next = node->next;
    else islands->head = node->next;
    if (node->next) node->next->previous = node->previous;
    else islands->tail = node->previous;
    --islands->count;
}

void append_node(zr_island_list* islands, zr_island_node* node) {
    node->next = nullptr;
    node->previous = islands->tail;
    if (islands->tail) islands->tail->next = node;
    else islands->head = node;
    islands->tail = node;
    ++islands->count;
}

// Neither template has a leaf: a new island t1 -> t2.
zr_status add_island(zr_island_list* islands, zr_template* t1, zr_template* t2, zr_alignment* a) {
    auto* node = static_cast<zr_island_node*>(zr_calloc(1, sizeof(zr_island_node)));
    zr_island* island = zr_island_create();
    zr_subtemplate_leaf* top = island ? zr_subtemplate_leaf_create(t1, island, nullptr) : nullptr;
    zr_subtemplate_leaf* child = top ? zr_subtemplate_leaf_create(t2, island, a) : nullptr;
    if (!node || !child || !top->subtemplate || !child->subtemplate) {
        if (child) zr_subtemplate_leaf_delete(child);
        if (top) zr_subtemplate_leaf_delete(top);
        zr_island_delete(island);
        std::free(node);
        return ZR_NO_MEMORY;
    }
    add_first_child(top, child);
    island->top = top;
    node->island = island;
    append_node(islands, node);
    return ZR_OK;
}

// One template has a leaf: the other becomes its first child.
zr_status add_child(zr_subtemplate_leaf* parent, zr_template* tmpl, zr_alignment* a) {
    zr_island* island = parent->subtemplate ? parent->subtemplate->island : nullptr;
    zr_subtemplate_leaf* child = zr_subtemplate_leaf_create(tmpl, island, a);
    if (child == nullptr || child->subtemplate == nullptr) {
        if (child) zr_subtemplate_leaf_delete(child);
        return ZR_NO_MEMORY;
    }
    add_first_child(parent, child);
    return ZR_OK;
}

// Both have leaves in different islands: the second island's tree, re-rooted
// at l2 and aligned by a, goes under l1; the second island is dropped.
void merge_islands(zr_island_list* islands, const found_leaf& f1, const found_leaf& f2, zr_alignment* a) {
    zr_island* second = f2.node->island;
    zr_subtemplate_leaf_make_top_leaf(&second->top, f2.leaf);
    zr_subtemplate_set_alignment(f2.leaf->subtemplate, a);
    second->top = nullptr;
    add_first_child(f1.leaf, f2.leaf);
    // The moved subtemplates belong to the receiving island from now on.
    set_island_of_tree(f2.leaf, f1.node->island);
    unlink_node(islands, f2.node);
    zr_island_delete(second);
    std::free(f2.node);
}

zr_status add_match(zr_island_list* islands, const zr_match* match) {
    zr_template* t1 = zr_match_get_template1(match);
    zr_template* t2 = zr_match_get_template2(match);
    zr_alignment* a = zr_match_get_alignment(match);
    found_leaf f1, f2;
    zr_status status = find_in_islands(islands, t1, &f1);
    if (status == ZR_OK) status = find_in_islands(islands, t2, &f2);
    if (status != ZR_OK) return status;
    if (!f1.leaf && !f2.leaf) return add_island(islands, t1, t2, a);
    if (f1.leaf && !f2.leaf) return add_child(f1.leaf, t2, a);
    if (!f1.leaf) {
        zr_alignment* inverse = zr_alignment_inverse(a);
        if (a != nullptr && inverse == nullptr) return ZR_NO_MEMORY;
        status = add_child(f2.leaf, t1, inverse);
        zr_alignment_delete(inverse);
        return status;
    }
    if (f1.node != f2.node) merge_islands(islands, f1, f2, a);
    return ZR_OK;
}

}  // namespace

// --- lib_tree stack ---

lib_tree_node* lib_tree_push_stack(lib_tree_stack* stack, void* item, uint64_t extra) {
    if (stack == nullptr) return nullptr;
    auto* node = static_cast<lib_tree_node*>(zr_calloc(1, sizeof(lib_tree_node)));
    if (node == nullptr) return nullptr;
    node->item = item;
    node->extra = extra;
    node->previous = stack->tail;
    if (stack->tail) stack->tail->next = node;
    else stack->head = node;
    stack->tail = node;
    ++stack->count;
    return node;
}

void* lib_tree_pop_stack_head(lib_tree_stack* stack, uint64_t* extra) {
    if (stack == nullptr || stack->head == nullptr) return nullptr;
    lib_tree_node* node = stack->head;
    stack->head = node->next;
    if (stack->head) stack->head->previous = nullptr;
    else stack->tail = nullptr;
    --stack->count;
    void* item = node->item;
    if (extra) *extra = node->extra;
    std::free(node);
    return item;
}

void* lib_tree_pop_stack_tail(lib_tree_stack* stack, uint64_t* extra) {
    if (stack == nullptr || stack->tail == nullptr) return nullptr;
    lib_tree_node* node = stack->tail;
    stack->tail = node->previous;
    if (stack->tail) stack->tail->next = nullptr;
    else stack->head = nullptr;
    --stack->count;
    void* item = node->item;
    if (extra) *extra = node->extra;
    std::free(node);
    return item;
}

void* lib_tree_peek_stack_tail(const lib_tree_stack* stack, uint64_t* extra) {
    if (stack == nullptr || stack->tail == nullptr) return nullptr;
    if (extra) *extra = stack->tail->extra;
    return stack->tail->item;
}

// --- subtemplates ---

void delete_subtemplate(zr_subtemplate* subtemplate) {
    zr_alignment_delete(subtemplate->alignment);
    std::free(subtemplate);
}

zr_subtemplate* zr_subtemplate_create(zr_template* tmpl, zr_island* island, zr_alignment* alignment) {
    auto* subtemplate = static_cast<zr_subtemplate*>(zr_calloc(1, sizeof(zr_subtemplate)));
    if (subtemplate == nullptr) return nullptr;
    subtemplate->alignment = alignment ? zr_alignment_retain(alignment) : zero_alignment();
    if (subtemplate->alignment == nullptr) {
        std::free(subtemplate);
        return nullptr;
    }
    subtemplate->ref_count = 1;
    subtemplate->tmpl = tmpl;
    subtemplate->island = island;
    subtemplate->destroy = delete_subtemplate;
    return subtemplate;
}

zr_subtemplate* zr_subtemplate_copy(const zr_subtemplate* subtemplate) {
    if (subtemplate == nullptr) return nullptr;
    return zr_subtemplate_create(subtemplate->tmpl, subtemplate->island, subtemplate->alignment);
}

zr_subtemplate* zr_subtemplate_retain(zr_subtemplate* subtemplate) { return zr_object_retain(subtemplate); }

void zr_subtemplate_delete(zr_subtemplate* subtemplate) { zr_object_delete(subtemplate); }

zr_template* zr_subtemplate_get_template(const zr_subtemplate* subtemplate) {
    return subtemplate ? subtemplate->tmpl : nullptr;
}

zr_island* zr_subtemplate_get_island(const zr_subtemplate* subtemplate) {
    return subtemplate ? subtemplate->island : nullptr;
}

zr_alignment* zr_subtemplate_get_alignment(const zr_subtemplate* subtemplate) {
    return subtemplate ? subtemplate->alignment : nullptr;
}

void zr_subtemplate_set_alignment(zr_subtemplate* subtemplate, zr_alignment* alignment) {
    if (subtemplate == nullptr) return;
    zr_alignment_retain(alignment);
    zr_alignment_delete(subtemplate->alignment);
    subtemplate->alignment = alignment;
}

uint32_t zr_subtemplate_is_copy(const zr_subtemplate* a, const zr_subtemplate* b) {
    if (a == nullptr || b == nullptr) return 0;
    return a->island == b->island && a->alignment == b->alignment ? 1 : 0;
}

// --- leaves and trees ---

zr_subtemplate_leaf* zr_subtemplate_leaf_create(zr_template* tmpl, zr_island* island, zr_alignment* alignment) {
    auto* leaf = static_cast<zr_subtemplate_leaf*>(zr_calloc(1, sizeof(zr_subtemplate_leaf)));
    if (leaf == nullptr) return nullptr;
    leaf->subtemplate = zr_subtemplate_create(tmpl, island, alignment);
    return leaf;
}

void zr_subtemplate_leaf_delete(zr_subtemplate_leaf* leaf) {
    if (leaf == nullptr) return;
    zr_subtemplate_delete(leaf->subtemplate);
    std::free(leaf);
}

void zr_subtemplate_leaf_make_top_leaf(zr_subtemplate_leaf** tree, zr_subtemplate_leaf* leaf) {
    if (tree == nullptr || leaf == nullptr || *tree == leaf) return;
    zr_subtemplate_leaf* below = nullptr;     // the node visited before
    zr_alignment* below_former = nullptr;     // its former alignment (held)
    for (zr_subtemplate_leaf* node = leaf; node != nullptr;) {
        zr_subtemplate_leaf* parent = node->parent;
        unlink_from_parent(node);
        zr_alignment* former = zr_alignment_retain(zr_subtemplate_get_alignment(node->subtemplate));
        zr_alignment* replacement = below ? zr_alignment_inverse(below_former) : zero_alignment();
        zr_subtemplate_set_alignment(node->subtemplate, replacement);
        zr_alignment_delete(replacement);
        if (below) add_last_child(below, node);
        zr_alignment_delete(below_former);
        below = node;
        below_former = former;
        node = parent;
    }
    zr_alignment_delete(below_former);
    *tree = leaf;
}

zr_subtemplate_leaf* zr_subtemplate_tree_find_leaf_for_template(zr_subtemplate_leaf** tree, const zr_template* tmpl) {
    if (tree == nullptr) return nullptr;
    zr_status status = ZR_OK;
    return find_leaf(*tree, tmpl, &status);
}

zr_status zr_subtemplate_tree_traverse(zr_subtemplate_leaf** tree, zr_leaf_visitor visitor, void* user_data) {
    if (tree == nullptr || visitor == nullptr) return ZR_BAD_ARGUMENT;
    zr_subtemplate_leaf* top = *tree;
    if (top == nullptr) return ZR_OK;
    // Each queued leaf carries its parent's accumulated alignment (held) in
    // the node's extra value.
    lib_tree_stack queue{};
    zr_alignment* start = zr_alignment_retain(zr_subtemplate_get_alignment(top->subtemplate));
    if (start == nullptr || !lib_tree_push_stack(&queue, top, reinterpret_cast<uintptr_t>(start))) {
        zr_alignment_delete(start);
        return ZR_NO_MEMORY;
    }
    zr_status status = ZR_OK;
    while (queue.head && status == ZR_OK) {
        uint64_t extra = 0;
        auto* leaf = static_cast<zr_subtemplate_leaf*>(lib_tree_pop_stack_head(&queue, &extra));
        auto* handed = reinterpret_cast<zr_alignment*>(uintptr_t(extra));
        zr_alignment* accumulated = zr_alignment_combine(handed, zr_subtemplate_get_alignment(leaf->subtemplate));
        zr_alignment_delete(handed);
        if (accumulated == nullptr) {
            status = ZR_NO_MEMORY;
            break;
        }
        status = visitor(tree, leaf, accumulated, user_data);
        for (zr_subtemplate_leaf* child = leaf->first_child; child && status == ZR_OK; child = child->next_sibling) {
            zr_alignment_retain(accumulated);
            if (!lib_tree_push_stack(&queue, child, reinterpret_cast<uintptr_t>(accumulated))) {
                zr_alignment_delete(accumulated);
                status = ZR_NO_MEMORY;
            }
        }
        zr_alignment_delete(accumulated);
    }
    while (queue.head) {
        uint64_t extra = 0;
        (void)lib_tree_pop_stack_head(&queue, &extra);
        zr_alignment_delete(reinterpret_cast<zr_alignment*>(uintptr_t(extra)));
    }
    return status;
}

// --- islands ---

void delete_island(zr_island* island) {
    free_tree(island->top);
    std::free(island);
}

zr_island* zr_island_create() {
    auto* island = static_cast<zr_island*>(zr_calloc(1, sizeof(zr_island)));
    if (island == nullptr) return nullptr;
    island->ref_count = 1;
    island->destroy = delete_island;
    return island;
}

zr_island* zr_island_copy(const zr_island*) { return zr_island_create(); }

uint32_t zr_island_is_copy(const zr_island*, const zr_island*) { return 0; }

zr_island* zr_island_retain(zr_island* island) { return zr_object_retain(island); }

void zr_island_delete(zr_island* island) { zr_object_delete(island); }

zr_subtemplate_leaf** zr_island_get_subtemplate_tree(zr_island* island) { return island ? &island->top : nullptr; }

zr_subtemplate* zr_island_get_top_subtemplate(const zr_island* island) {
    return island && island->top ? island->top->subtemplate : nullptr;
}

zr_status zr_island_set_top_subtemplate(zr_island* island, zr_subtemplate* subtemplate) {
    if (island == nullptr) return ZR_BAD_ARGUMENT;
    zr_subtemplate_leaf* top = nullptr;
    if (subtemplate != nullptr) {
        top = static_cast<zr_subtemplate_leaf*>(zr_calloc(1, sizeof(zr_subtemplate_leaf)));
        if (top == nullptr) return ZR_NO_MEMORY;
        top->subtemplate = zr_subtemplate_retain(subtemplate);
    }
    free_tree(island->top);
    island->top = top;
    return ZR_OK;
}

uint32_t zr_island_get_nbr_of_subtemplates(const zr_island* island) {
    if (island == nullptr) return 0;
    uint32_t count = 0;
    for (zr_subtemplate_leaf* leaf = island->top; leaf; leaf = next_preorder(leaf, island->top)) ++count;
    return count;
}

zr_status zr_island_list_from_match_list(const zr_match_list* matches, zr_island_list* islands) {
    if (islands == nullptr) return ZR_BAD_ARGUMENT;
    *islands = zr_island_list{};
    if (matches == nullptr) return ZR_BAD_ARGUMENT;
    for (const zr_match_node* node = matches->first; node; node = node->next) {
        if (node->match == nullptr) continue;
        const zr_status status = add_match(islands, node->match);
        if (status != ZR_OK) return status;
    }
    return ZR_OK;
}

void zr_island_list_sort(zr_island_list* islands) {
    if (islands == nullptr) return;
    // Insertion sort: each island goes after every island at least as big.
    zr_island_list sorted{};
    while (islands->head) {
        zr_island_node* node = islands->head;
        unlink_node(islands, node);
        const uint32_t size = zr_island_get_nbr_of_subtemplates(node->island);
        zr_island_node* after = sorted.tail;
        while (after && zr_island_get_nbr_of_subtemplates(after->island) < size) after = after->previous;
        if (after == nullptr) {
            node->previous = nullptr;
            node->next = sorted.head;
            if (sorted.head) sorted.head->previous = node;
            else sorted.tail = node;
            sorted.head = node;
            ++sorted.count;
        } else if (after == sorted.tail) {
            append_node(&sorted, node);
        } else {
            node->previous = after;
            node->next = after->next;
            after->next->previous = node;
            after->next = node;
            ++sorted.count;
        }
    }
    *islands = sorted;
}

void zr_island_list_delete(zr_island_list* islands) {
    if (islands == nullptr) return;
    while (islands->head) {
        zr_island_node* node = islands->head;
        unlink_node(islands, node);
        zr_island_delete(node->island);
        std::free(node);
    }
    *islands = zr_island_list{};
}
