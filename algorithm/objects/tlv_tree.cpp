#include "objects/tlv_tree.h"

#include <cstdlib>
#include <cstring>

#include "objects/zr_result.h"

namespace {

// Next node of a pre-order walk that stays inside root's subtree.
tlv_node* next_in_subtree(tlv_node* node, const tlv_node* root) {
    if (node->first_child != nullptr) return node->first_child;
    while (node != root) {
        if (node->next_sibling != nullptr) return node->next_sibling;
        node = node->parent;
    }
    return nullptr;
}

tlv_node* find_in_subtree(tlv_node* root, uint16_t tag) {
    for (tlv_node* n = root; n != nullptr; n = next_in_subtree(n, root)) {
        if (n->tag == tag) return n;
    }
    return nullptr;
}

uint64_t encoded_size(const tlv_node* node) {
    return uint64_t(tlv_get_bytes_for_tag(node->tag)) +
           tlv_get_bytes_for_length(node->length) + node->length;
}

// Post-order pass: stores each constructed node's content length in its
// length field and checks that every node can be encoded.
bool compute_lengths(tlv_node* root) {
    bool encodable = true;
    auto finish = [&encodable](tlv_node* n) {
        if (tlv_is_constructed(n->tag)) {
            uint64_t sum = 0;
            for (const tlv_node* c = n->first_child; c != nullptr; c = c->next_sibling) {
                sum += encoded_size(c);
            }
            if (sum > TLV_MAX_LENGTH) {
                encodable = false;
                sum = TLV_MAX_LENGTH;
            }
            n->length = uint32_t(sum);
        } else if (tlv_get_bytes_for_tag(n->tag) == 0 || n->length > TLV_MAX_LENGTH ||
                   (n->value == nullptr && n->length != 0)) {
            encodable = false;
        }
    };
    tlv_node* n = root;
    for (;;) {
        while (n->first_child != nullptr) n = n->first_child;
        for (;;) {
            finish(n);
            if (n == root) return encodable;
            if (n->next_sibling != nullptr) {
                n = n->next_sibling;
                break;
            }
            n = n->parent;
        }
    }
}

// Writes a tree whose lengths compute_lengths has just filled in.
uint32_t write_prepared(uint8_t* buffer, tlv_node* root) {
    uint32_t written = 0;
    for (tlv_node* n = root; n != nullptr; n = next_in_subtree(n, root)) {
        written += tlv_write_tag(buffer + written, n->tag);
        written += tlv_write_length(buffer + written, n->length);
        if (!tlv_is_constructed(n->tag) && n->length != 0) {
            std::memcpy(buffer + written, n->value, n->length);
            written += n->length;
        }
    }
    return written;
}

bool encloses(const tlv_node* outer, const tlv_node* inner) {
    for (const tlv_node* n = inner; n != nullptr; n = n->parent) {
        if (n == outer) return true;
    }
    return false;
}

zr_status check_link(const tlv_node* parent, const tlv_node* child) {
    if (child == nullptr) return ZR_NO_MEMORY;
    if (parent == nullptr) return ZR_BAD_ARGUMENT;
    if (!tlv_is_constructed(parent->tag)) return ZR_NOT_ALLOWED;
    if (child->parent != nullptr || encloses(child, parent)) return ZR_NOT_ALLOWED;
    return ZR_OK;
}

void link_last(tlv_node* parent, tlv_node* child) {
    child->parent = parent;
    child->previous_sibling = parent->last_child;
    child->next_sibling = nullptr;
    if (parent->last_child != nullptr) {
        parent->last_child->next_sibling = child;
    } else {
        parent->first_child = child;
    }
    parent->last_child = child;
    ++parent->child_count;
}

// Reads one element that must lie whole inside [cursor, end), with a
// supported length form; its encoded size or 0.
uint32_t read_bounded(const uint8_t* cursor, const uint8_t* end, tlv_element* element) {
    const uint32_t size = tlv_read(cursor, uint32_t(end - cursor), element);
    if (size <= tlv_get_bytes_for_tag(element->tag)) return 0;  // unreadable or bad length form
    return size;
}

}  // namespace

tlv_node* tlv_create(uint16_t tag, uint32_t length, const uint8_t* value) {
    auto* node = static_cast<tlv_node*>(std::calloc(1, sizeof(tlv_node)));
    if (node == nullptr) return nullptr;
    node->tag = tag;
    if (!tlv_is_constructed(tag)) {
        node->length = length;
        node->value = value;
    }
    return node;
}

zr_status tlv_append_child(tlv_node* parent, tlv_node* child) {
    const zr_status status = check_link(parent, child);
    if (status != ZR_OK) return status;
    link_last(parent, child);
    return ZR_OK;
}

zr_status tlv_insert_child(tlv_node* parent, tlv_node* child) {
    const zr_status status = check_link(parent, child);
    if (status != ZR_OK) return status;
    child->parent = parent;
    child->previous_sibling = nullptr;
    child->next_sibling = parent->first_child;
    if (parent->first_child != nullptr) {
        parent->first_child->previous_sibling = child;
    } else {
        parent->last_child = child;
    }
    parent->first_child = child;
    ++parent->child_count;
    return ZR_OK;
}

void tlv_remove(tlv_node* node) {
    if (node == nullptr || node->parent == nullptr) return;
    tlv_node* parent = node->parent;
    if (node->previous_sibling != nullptr) {
        node->previous_sibling->next_sibling = node->next_sibling;
    } else {
        parent->first_child = node->next_sibling;
    }
    if (node->next_sibling != nullptr) {
        node->next_sibling->previous_sibling = node->previous_sibling;
    } else {
        parent->last_child = node->previous_sibling;
    }
    --parent->child_count;
    node->parent = nullptr;
    node->next_sibling = nullptr;
    node->previous_sibling = nullptr;
}

void tlv_delete(tlv_node* node) {
    if (node == nullptr) return;
    tlv_remove(node);
    tlv_node* n = node;
    for (;;) {
        while (n->first_child != nullptr) n = n->first_child;
        if (n == node) {
            std::free(n);
            return;
        }
        tlv_node* parent = n->parent;
        tlv_remove(n);
        std::free(n);
        n = parent;
    }
}

uint16_t tlv_get_tag(const tlv_node* node) { return node ? node->tag : 0; }

const uint8_t* tlv_get_value(const tlv_node* node) { return node ? node->value : nullptr; }

tlv_node* tlv_get_parent(const tlv_node* node) { return node ? node->parent : nullptr; }

tlv_node* tlv_get_next_sibling(const tlv_node* node) {
    return node ? node->next_sibling : nullptr;
}

tlv_node* tlv_get_previous_sibling(const tlv_node* node) {
    return node ? node->previous_sibling : nullptr;
}

tlv_node* tlv_get_first_child(const tlv_node* node) { return node ? node->first_child : nullptr; }

tlv_node* tlv_get_last_child(const tlv_node* node) { return node ? node->last_child : nullptr; }

uint32_t tlv_get_length(tlv_node* node) {
    if (node == nullptr) return 0;
    if (!tlv_is_constructed(node->tag)) return node->length;
    compute_lengths(node);
    return node->length;
}

tlv_node* tlv_find_child(const tlv_node* node, uint16_t tag) {
    if (node == nullptr) return nullptr;
    for (tlv_node* c = node->first_child; c != nullptr; c = c->next_sibling) {
        if (c->tag == tag) return c;
    }
    return nullptr;
}

tlv_node* tlv_find_tag_amongst_children(tlv_node* node, uint16_t tag) {
    for (tlv_node* s = node; s != nullptr; s = s->next_sibling) {
        if (tlv_node* found = find_in_subtree(s, tag)) return found;
    }
    return nullptr;
}

tlv_node* tlv_find_tag_in_tree(tlv_node* node, uint16_t tag) {
    if (node == nullptr) return nullptr;
    if (node->tag == tag) return node;
    if (tlv_node* found = tlv_find_tag_amongst_children(node->first_child, tag)) return found;
    return tlv_find_tag_amongst_children(node->next_sibling, tag);
}

zr_status tlv_parse_buffer(const uint8_t* buffer, uint32_t size, tlv_node** out_root) {
    if (out_root == nullptr) return ZR_BAD_ARGUMENT;
    *out_root = nullptr;
    if (buffer == nullptr) return ZR_BAD_DATA;
    tlv_element element{};
    if (read_bounded(buffer, buffer + size, &element) == 0) return ZR_BAD_DATA;
    tlv_node* root = tlv_create(element.tag, element.length, element.value);
    if (root == nullptr) return ZR_NO_MEMORY;
    if (!tlv_is_constructed(root->tag)) {
        *out_root = root;
        return ZR_OK;
    }
    // While a constructed node is open its value and length fields hold the
    // bounds of its value; they are cleared when it is complete.
    root->value = element.value;
    root->length = element.length;
    tlv_node* open = root;
    const uint8_t* cursor = element.value;
    for (;;) {
        const uint8_t* end = open->value + open->length;
        if (cursor == end) {
            tlv_node* parent = open->parent;
            open->value = nullptr;
            open->length = 0;
            if (open == root) break;
            open = parent;
            continue;
        }
        const uint32_t element_size = read_bounded(cursor, end, &element);
        if (element_size == 0) {
            tlv_delete(root);
            return ZR_BAD_DATA;
        }
        tlv_node* child = tlv_create(element.tag, element.length, element.value);
        if (child == nullptr) {
            tlv_delete(root);
            return ZR_NO_MEMORY;
        }
        link_last(open, child);
        cursor += element_size;
        if (tlv_is_constructed(child->tag)) {
            child->value = element.value;
            child->length = element.length;
            open = child;
            cursor = element.value;
        }
    }
    *out_root = root;
    return ZR_OK;
}

uint32_t tlv_write_tlv(uint8_t* buffer, tlv_node* node) {
    if (buffer == nullptr || node == nullptr || !compute_lengths(node)) return 0;
    return write_prepared(buffer, node);
}

zr_status tlv_write_tree(tlv_node* node, uint8_t** out_buffer, uint32_t* out_size) {
    if (out_buffer != nullptr) *out_buffer = nullptr;
    if (out_size != nullptr) *out_size = 0;
    if (node == nullptr) return ZR_BAD_ARGUMENT;
    if (!compute_lengths(node)) return ZR_BAD_DATA;
    const uint32_t size = uint32_t(encoded_size(node));
    if (out_buffer != nullptr) {
        auto* buffer = static_cast<uint8_t*>(std::malloc(size));
        if (buffer == nullptr) return ZR_NO_MEMORY;
        write_prepared(buffer, node);
        *out_buffer = buffer;
    }
    if (out_size != nullptr) *out_size = size;
    return ZR_OK;
}
