#include "objects/tlv_codec.h"

#include <cstring>

#include "objects/zr_result.h"

namespace {

constexpr uint8_t kLongTagMarker = 0x1F;
constexpr uint8_t kConstructedBit = 0x20;

bool tag_is_valid(uint16_t tag) {
    if (tag <= 0xFF) return (tag & kLongTagMarker) != kLongTagMarker;
    const uint8_t first = uint8_t(tag >> 8);
    const uint8_t second = uint8_t(tag);
    return (first & kLongTagMarker) == kLongTagMarker && second >= 1 && second <= 127;
}

uint8_t first_tag_byte(uint16_t tag) { return tag <= 0xFF ? uint8_t(tag) : uint8_t(tag >> 8); }

enum class header_status { ok, truncated, bad_tag, bad_length_form };

struct element_header {
    uint16_t tag;
    uint32_t tag_bytes;
    uint32_t length;
    uint32_t length_bytes;
};

// Reads tag and length field from p[0..available) without reading past it.
header_status read_header(const uint8_t* p, uint32_t available, element_header* h) {
    if (available == 0) return header_status::truncated;
    const uint8_t first = p[0];
    if ((first & kLongTagMarker) == kLongTagMarker) {
        if (available < 2) return header_status::truncated;
        const uint8_t second = p[1];
        if (second == 0 || second > 127) return header_status::bad_tag;
        h->tag = uint16_t((first << 8) | second);
        h->tag_bytes = 2;
    } else {
        h->tag = first;
        h->tag_bytes = 1;
    }
    if (available <= h->tag_bytes) return header_status::truncated;
    const uint8_t length_byte = p[h->tag_bytes];
    if (length_byte < 0x80) {
        h->length = length_byte;
        h->length_bytes = 1;
        return header_status::ok;
    }
    if (length_byte < 0x81 || length_byte > 0x83) return header_status::bad_length_form;
    const uint32_t extra = length_byte - 0x80u;
    if (available - h->tag_bytes - 1 < extra) return header_status::truncated;
    uint32_t length = 0;
    for (uint32_t i = 0; i < extra; ++i) length = (length << 8) | p[h->tag_bytes + 1 + i];
    h->length = length;
    h->length_bytes = 1 + extra;
    return header_status::ok;
}

// Reads one whole element inside p[0..available); its encoded size, or 0.
uint32_t read_whole_element(const uint8_t* p, uint32_t available, tlv_element* out) {
    element_header h{};
    if (read_header(p, available, &h) != header_status::ok) return 0;
    const uint32_t header_bytes = h.tag_bytes + h.length_bytes;
    if (available - header_bytes < h.length) return 0;
    out->tag = h.tag;
    out->length = h.length;
    out->value = p + header_bytes;
    return header_bytes + h.length;
}

// Searches the consecutive elements of one level for the tag.
bool scan_level(const uint8_t* level, uint32_t length, uint16_t tag, tlv_element* out) {
    uint32_t offset = 0;
    while (offset < length) {
        tlv_element element{};
        const uint32_t size = read_whole_element(level + offset, length - offset, &element);
        if (size == 0) return false;
        if (element.tag == tag) {
            *out = element;
            return true;
        }
        offset += size;
    }
    return false;
}

}  // namespace

uint16_t tlv_construct_tag(int32_t tag_class, int32_t constructed, int32_t number) {
    if (number < 0) return 0;
    uint8_t class_bits = 0;
    if (tag_class == TLV_CLASS_APPLICATION) {
        class_bits = 0x40;
    } else if (tag_class == TLV_CLASS_CONTEXT) {
        class_bits = 0x80;
    } else if (tag_class != TLV_CLASS_UNIVERSAL) {
        class_bits = 0xC0;
    }
    const uint8_t constructed_bit = constructed ? kConstructedBit : 0;
    if (number < 31) return uint16_t(number | constructed_bit | class_bits);
    const uint8_t first = kLongTagMarker | constructed_bit | class_bits;
    return uint16_t((first << 8) | (number & 0xFF));
}

int32_t tlv_get_tag_class(uint16_t tag) {
    if (!tag_is_valid(tag)) return TLV_CLASS_PRIVATE;
    return first_tag_byte(tag) >> 6;
}

int32_t tlv_is_constructed(uint16_t tag) {
    return tag_is_valid(tag) && (first_tag_byte(tag) & kConstructedBit) != 0;
}

int32_t tlv_is_primitive(uint16_t tag) {
    return !tag_is_valid(tag) || (first_tag_byte(tag) & kConstructedBit) == 0;
}

uint32_t tlv_get_bytes_for_tag(uint16_t tag) {
    if (!tag_is_valid(tag)) return 0;
    return tag <= 0xFF ? 1 : 2;
}

uint32_t tlv_get_bytes_for_length(uint32_t length) {
    if (length < 0x80) return 1;
    if (length < 0x100) return 2;
    if (length < 0x10000) return 3;
    return 4;
}

uint32_t tlv_read_tag(const uint8_t* buffer, uint16_t* out_tag) {
    const uint8_t first = buffer[0];
    if ((first & kLongTagMarker) != kLongTagMarker) {
        *out_tag = first;
        return 1;
    }
    const uint8_t second = buffer[1];
    if (second == 0 || second > 127) {
        *out_tag = 0;
        return 0;
    }
    *out_tag = uint16_t((first << 8) | second);
    return 2;
}

uint32_t tlv_read_length(const uint8_t* buffer, uint32_t* out_length) {
    const uint8_t first = buffer[0];
    if (first < 0x80) {
        *out_length = first;
        return 1;
    }
    if (first < 0x81 || first > 0x83) {
        *out_length = 0;
        return 0;
    }
    const uint32_t extra = first - 0x80u;
    uint32_t length = 0;
    for (uint32_t i = 0; i < extra; ++i) length = (length << 8) | buffer[1 + i];
    *out_length = length;
    return 1 + extra;
}

uint32_t tlv_write_tag(uint8_t* buffer, uint16_t tag) {
    if (!tag_is_valid(tag)) return 0;
    if (tag <= 0xFF) {
        buffer[0] = uint8_t(tag);
        return 1;
    }
    buffer[0] = uint8_t(tag >> 8);
    buffer[1] = uint8_t(tag);
    return 2;
}

uint32_t tlv_write_length(uint8_t* buffer, uint32_t length) {
    const uint32_t bytes = tlv_get_bytes_for_length(length);
    if (bytes == 1) {
        buffer[0] = uint8_t(length);
        return 1;
    }
    buffer[0] = uint8_t(0x80 + bytes - 1);
    for (uint32_t i = 1; i < bytes; ++i) buffer[i] = uint8_t(length >> (8 * (bytes - 1 - i)));
    return bytes;
}

uint32_t tlv_read(const uint8_t* buffer, uint32_t size, tlv_element* out_element) {
    tlv_element element{};
    uint32_t result = 0;
    if (buffer != nullptr) {
        element_header h{};
        switch (read_header(buffer, size, &h)) {
            case header_status::ok:
                result = read_whole_element(buffer, size, &element);
                break;
            case header_status::bad_length_form:
                element.tag = h.tag;
                result = h.tag_bytes;
                break;
            case header_status::truncated:
            case header_status::bad_tag:
                break;
        }
    }
    if (out_element != nullptr) *out_element = element;
    return result;
}

uint32_t tlv_read_validate(const uint8_t* buffer, tlv_element* out_element, uint32_t length) {
    return tlv_read(buffer, length, out_element);
}

uint32_t tlv_get_buffer_length(const uint8_t* buffer, uint32_t size) {
    if (buffer == nullptr) return 0;
    tlv_element element{};
    if (read_whole_element(buffer, size, &element) == 0) return 0;
    return tlv_get_bytes_for_tag(element.tag) + tlv_get_bytes_for_length(element.length) +
           element.length;
}

int32_t tlv_find_tag(const uint8_t* buffer, uint32_t length, uint16_t tag,
                     tlv_element* out_element) {
    if (buffer == nullptr || out_element == nullptr) return 0;
    return scan_level(buffer, length, tag, out_element) ? 1 : 0;
}

int32_t tlv_find_nested_tag(const uint8_t* buffer, uint32_t length, const uint16_t* path,
                            uint32_t path_length, tlv_element* out_element) {
    if (out_element == nullptr) return 0;
    if (path_length == 0) return 1;
    if (buffer == nullptr || path == nullptr) return 0;
    tlv_element element{};
    const uint8_t* level = buffer;
    uint32_t level_length = length;
    for (uint32_t i = 0; i < path_length; ++i) {
        if (!scan_level(level, level_length, path[i], &element)) return 0;
        level = element.value;
        level_length = element.length;
    }
    *out_element = element;
    return 1;
}

zr_status tlv_validate(const uint8_t* buffer, uint32_t length) {
    struct level {
        const uint8_t* start;
        uint32_t length;
        uint32_t offset;
    };
    if (buffer == nullptr) return ZR_BAD_FORMAT;
    level levels[TLV_VALIDATE_MAX_LEVELS];
    uint32_t open = 1;
    levels[0] = {buffer, length, 0};
    for (;;) {
        level& current = levels[open - 1];
        if (current.offset == current.length) return ZR_BAD_FORMAT;
        const uint8_t* p = current.start + current.offset;
        const uint32_t available = current.length - current.offset;
        element_header h{};
        if (read_header(p, available, &h) != header_status::ok) return ZR_BAD_FORMAT;
        const uint32_t header_bytes = h.tag_bytes + h.length_bytes;
        if (available - header_bytes < h.length) return ZR_BAD_FORMAT;
        current.offset += header_bytes + h.length;
        if (current.offset == current.length) --open;
        if (tlv_is_constructed(h.tag)) {
            if (open == TLV_VALIDATE_MAX_LEVELS) return ZR_BAD_FORMAT;
            levels[open++] = {p + header_bytes, h.length, 0};
        } else if (open == 0) {
            return ZR_OK;
        }
    }
}

uint32_t tlv_write(uint8_t* buffer, const tlv_element* element) {
    if (buffer == nullptr || element == nullptr) return 0;
    if (!tag_is_valid(element->tag) || element->length > TLV_MAX_LENGTH) return 0;
    if (element->value == nullptr && element->length != 0) return 0;
    uint32_t written = tlv_write_tag(buffer, element->tag);
    written += tlv_write_length(buffer + written, element->length);
    if (element->length != 0) std::memcpy(buffer + written, element->value, element->length);
    return written + element->length;
}
