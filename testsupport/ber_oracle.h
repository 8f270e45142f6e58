// Independent BER decoder for the tests, written from the X.690 encoding rules
// (identifier octets 8.1.2, length octets 8.1.3, constructed contents 8.1.1)
// and restricted to the subset our TLV code accepts: tag numbers in the low
// form or the high form with exactly one subsequent octet, definite lengths of
// at most three subsequent octets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ber_oracle {

struct Node {
    uint16_t tag = 0;  // identifier octets, big-endian
    bool constructed = false;
    size_t start = 0;         // offset of the identifier octets
    size_t value_offset = 0;  // offset of the contents octets
    size_t length = 0;        // contents length
    std::vector<Node> children;
};

struct Rules {
    // Reject a constructed element whose contents are empty.
    bool reject_empty_constructed = false;
    // Most levels open at once while reading (the whole buffer is one level;
    // a level closes as soon as its last element has been read). 0: no limit.
    int max_open_levels = 0;
};

// Identifier and length octets at data[pos..end); false when outside the subset.
inline bool decode_header(const uint8_t* data, size_t pos, size_t end, Node* node) {
    if (pos >= end) return false;
    const uint8_t id = data[pos];
    node->start = pos;
    node->constructed = (id & 0x20) != 0;  // bit 6: P/C
    size_t p = pos + 1;
    if ((id & 0x1F) == 0x1F) {  // high tag number form
        if (p >= end) return false;
        const uint8_t next = data[p++];
        // bit 8 is the "more octets" flag (only one octet is in the subset);
        // bits 7 to 1 of the first subsequent octet must not all be zero.
        if ((next & 0x80) != 0 || (next & 0x7F) == 0) return false;
        node->tag = uint16_t(id << 8 | next);
    } else {
        node->tag = id;
    }
    if (p >= end) return false;
    const uint8_t first = data[p++];
    size_t length = 0;
    if ((first & 0x80) == 0) {  // short form
        length = first;
    } else {
        const size_t count = first & 0x7F;  // 0: indefinite form
        if (count == 0 || count > 3) return false;
        if (end - p < count) return false;
        for (size_t i = 0; i < count; ++i) length = length << 8 | data[p++];
    }
    if (end - p < length) return false;
    node->value_offset = p;
    node->length = length;
    return true;
}

bool decode_level(const uint8_t* data, size_t begin, size_t end, const Rules& rules, int open,
                  std::vector<Node>* out);

// One element in data[pos..end); its contents decoded when constructed.
// `open` counts the levels open after this element was read.
inline bool decode_element(const uint8_t* data, size_t pos, size_t end, const Rules& rules,
                           int open, Node* node) {
    if (!decode_header(data, pos, end, node)) return false;
    if (!node->constructed) return true;
    if (node->length == 0) return !rules.reject_empty_constructed;
    if (rules.max_open_levels != 0 && open + 1 > rules.max_open_levels) return false;
    return decode_level(data, node->value_offset, node->value_offset + node->length, rules,
                        open + 1, &node->children);
}

// The elements that exactly fill data[begin..end); `open` counts this level.
inline bool decode_level(const uint8_t* data, size_t begin, size_t end, const Rules& rules,
                         int open, std::vector<Node>* out) {
    size_t pos = begin;
    while (pos < end) {
        Node node;
        if (!decode_header(data, pos, end, &node)) return false;
        const size_t next = node.value_offset + node.length;
        const int open_after = next == end ? open - 1 : open;
        if (!decode_element(data, pos, end, rules, open_after, &node)) return false;
        out->push_back(std::move(node));
        pos = next;
    }
    return pos == end;
}

// A whole buffer as a non-empty sequence of elements.
inline bool decode_buffer(const uint8_t* data, size_t size, const Rules& rules,
                          std::vector<Node>* out) {
    out->clear();
    if (size == 0) return false;
    return decode_level(data, 0, size, rules, 1, out);
}

// The first element of a buffer (bytes after it are ignored).
inline bool decode_first(const uint8_t* data, size_t size, const Rules& rules, Node* out) {
    *out = Node{};
    return decode_element(data, 0, size, rules, 1, out);
}

// Shortest-form encoder used to build test inputs.
inline void encode_header(std::vector<uint8_t>* out, uint16_t tag, size_t length) {
    if (tag > 0xFF) out->push_back(uint8_t(tag >> 8));
    out->push_back(uint8_t(tag));
    if (length < 0x80) {
        out->push_back(uint8_t(length));
    } else if (length < 0x100) {
        out->insert(out->end(), {0x81, uint8_t(length)});
    } else if (length < 0x10000) {
        out->insert(out->end(), {0x82, uint8_t(length >> 8), uint8_t(length)});
    } else {
        out->insert(out->end(), {0x83, uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)});
    }
}

inline std::vector<uint8_t> encode(uint16_t tag, const std::vector<uint8_t>& value) {
    std::vector<uint8_t> out;
    encode_header(&out, tag, value.size());
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace ber_oracle
