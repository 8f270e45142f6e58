// Tree walks the harnesses of TLV-based readers share. Both walk without
// recursion: a fuzzed tree may nest as deep as its input is long.
#pragma once

#include <cstring>

#include "objects/tlv_codec.h"
#include "objects/tlv_tree.h"

namespace fuzz {

// Next node of a pre-order walk of the subtree under root; none at its end.
inline const tlv_node* next_node(const tlv_node* node, const tlv_node* root) {
    if (node->first_child != nullptr) return node->first_child;
    while (node != root) {
        if (node->next_sibling != nullptr) return node->next_sibling;
        node = node->parent;
    }
    return nullptr;
}

// The subtrees under a and b have the same shape, tags and primitive values
// (the siblings of a and b themselves are not compared).
inline bool same_tree(const tlv_node* a, const tlv_node* b) {
    const tlv_node* x = a;
    const tlv_node* y = b;
    while (x != nullptr && y != nullptr) {
        if (x->tag != y->tag || x->child_count != y->child_count) return false;
        if (!tlv_is_constructed(x->tag)) {
            if (x->length != y->length) return false;
            if (x->length != 0 && std::memcmp(x->value, y->value, x->length) != 0) return false;
        }
        x = next_node(x, a);
        y = next_node(y, b);
    }
    return x == nullptr && y == nullptr;
}

}  // namespace fuzz
