// BER-TLV node tree: parsed from a buffer, built and edited by hand, written
// back. Every walk is iterative over the parent and sibling links, so deeply
// nested data cannot exhaust the stack.
#pragma once

#include <cstdint>

#include "objects/tlv_codec.h"
#include "objects/zr_result.h"

struct tlv_node {
    uint16_t tag;
    // Primitive nodes: the value's length. Constructed nodes: scratch space
    // that the length computation fills; never read as input.
    uint32_t length;
    const uint8_t* value;  // primitive nodes; not owned; none for constructed ones
    tlv_node* parent;
    tlv_node* next_sibling;
    tlv_node* previous_sibling;
    tlv_node* first_child;
    tlv_node* last_child;
    uint32_t child_count;
};

// New unlinked node (a constructed tag ignores length and value); none when
// out of memory.
tlv_node* tlv_create(uint16_t tag, uint32_t length, const uint8_t* value);
// Links child as the last (append) or first (insert) child of parent:
// ZR_NO_MEMORY for a missing child, ZR_BAD_ARGUMENT for a missing parent,
// ZR_NOT_ALLOWED when the parent is not constructed or the child is already
// linked or encloses the parent; else ZR_OK.
[[nodiscard]] zr_status tlv_append_child(tlv_node* parent, tlv_node* child);
[[nodiscard]] zr_status tlv_insert_child(tlv_node* parent, tlv_node* child);
// Unlinks the node from its parent; the node and its subtree stay allocated.
void tlv_remove(tlv_node* node);
// Frees the node and its whole subtree (unlinking it from a parent first).
void tlv_delete(tlv_node* node);

uint16_t tlv_get_tag(const tlv_node* node);
const uint8_t* tlv_get_value(const tlv_node* node);
tlv_node* tlv_get_parent(const tlv_node* node);
tlv_node* tlv_get_next_sibling(const tlv_node* node);
tlv_node* tlv_get_previous_sibling(const tlv_node* node);
tlv_node* tlv_get_first_child(const tlv_node* node);
tlv_node* tlv_get_last_child(const tlv_node* node);
// Primitive: its length. Constructed: the encoded size of its children.
uint32_t tlv_get_length(tlv_node* node);

tlv_node* tlv_find_child(const tlv_node* node, uint16_t tag);
// Pre-order search over the node and its descendants, then each following
// sibling and its descendants.
tlv_node* tlv_find_tag_amongst_children(tlv_node* node, uint16_t tag);
// The node when it has the tag, else the same search over its children and
// its following siblings.
tlv_node* tlv_find_tag_in_tree(tlv_node* node, uint16_t tag);

// Parses the first element of buffer[0..size) into a tree. ZR_OK;
// ZR_BAD_ARGUMENT for a missing output; ZR_BAD_DATA when the first element or a
// nested one cannot be read within its enclosing bounds; ZR_NO_MEMORY when out
// of memory. On failure *out_root is none.
[[nodiscard]] zr_status tlv_parse_buffer(const uint8_t* buffer, uint32_t size, tlv_node** out_root);
// Writes the tree (tag, shortest length, value or children); bytes written,
// 0 when the tree cannot be encoded (invalid tag, length above TLV_MAX_LENGTH
// or a primitive without value bytes).
uint32_t tlv_write_tlv(uint8_t* buffer, tlv_node* node);
// Encoded size of the tree; with out_buffer a new buffer holding it (freed by
// the caller with free()). ZR_OK; ZR_BAD_ARGUMENT for a missing node;
// ZR_BAD_DATA when the tree cannot be encoded; ZR_NO_MEMORY when out of memory.
[[nodiscard]] zr_status tlv_write_tree(tlv_node* node, uint8_t** out_buffer, uint32_t* out_size);
