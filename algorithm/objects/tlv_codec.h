// BER-TLV tags, lengths and flat readers over encoded buffers.
//
// Accepted subset: tags of one byte (low five bits not all ones) or two bytes
// (first byte with low five bits 0x1F, second byte 1..127, held as
// first * 256 + second); lengths 0x00..0x7F, or 0x81/0x82/0x83 followed by one
// to three big-endian bytes. Writers use the shortest length form.
#pragma once

#include <cstdint>

#include "objects/zr_result.h"

// One element read from a buffer; value points into that buffer.
struct tlv_element {
    uint16_t tag;
    uint32_t length;
    const uint8_t* value;
};

// Tag classes (top two bits of the first tag byte).
enum tlv_class : int32_t {
    TLV_CLASS_UNIVERSAL = 0,
    TLV_CLASS_APPLICATION = 1,
    TLV_CLASS_CONTEXT = 2,
    TLV_CLASS_PRIVATE = 3,
};

// Largest length the writers can encode (three length bytes).
constexpr uint32_t TLV_MAX_LENGTH = 0xFFFFFF;
// Most levels tlv_validate keeps open at once (the whole buffer included).
constexpr uint32_t TLV_VALIDATE_MAX_LEVELS = 8;

uint16_t tlv_construct_tag(int32_t tag_class, int32_t constructed, int32_t number);
int32_t tlv_get_tag_class(uint16_t tag);
int32_t tlv_is_constructed(uint16_t tag);
int32_t tlv_is_primitive(uint16_t tag);
uint32_t tlv_get_bytes_for_tag(uint16_t tag);
uint32_t tlv_get_bytes_for_length(uint32_t length);

// Low-level codecs: the caller guarantees that two tag bytes or four length
// bytes may be read, and room for what is written.
uint32_t tlv_read_tag(const uint8_t* buffer, uint16_t* out_tag);
uint32_t tlv_read_length(const uint8_t* buffer, uint32_t* out_length);
uint32_t tlv_write_tag(uint8_t* buffer, uint16_t tag);
uint32_t tlv_write_length(uint8_t* buffer, uint32_t length);

// Reads the element at the start of buffer[0..size). Returns the size of the
// whole element (tag + length field + value); 0 (element cleared) when the tag
// is invalid or the tag, the length field or the value passes the end of the
// buffer. An unsupported length form gives length 0 and the size of the tag.
uint32_t tlv_read(const uint8_t* buffer, uint32_t size, tlv_element* out_element);
// As tlv_read, and also 0 for an empty or missing buffer.
uint32_t tlv_read_validate(const uint8_t* buffer, tlv_element* out_element, uint32_t length);
// Size of the first element with its length field counted in shortest form;
// 0 when the element cannot be read whole within buffer[0..size).
uint32_t tlv_get_buffer_length(const uint8_t* buffer, uint32_t size);

// 1 when an element with the tag is among the consecutive top-level elements
// of buffer[0..length) (described by *out_element), else 0.
int32_t tlv_find_tag(const uint8_t* buffer, uint32_t length, uint16_t tag,
                     tlv_element* out_element);
// Follows a path of nested tags; 1 when the whole path is found (*out_element
// is its last element), else 0. An empty path gives 1.
int32_t tlv_find_nested_tag(const uint8_t* buffer, uint32_t length, const uint16_t* path,
                            uint32_t path_length, tlv_element* out_element);
// ZR_OK when buffer[0..length) is a well-formed sequence of elements, else
// ZR_BAD_FORMAT.
[[nodiscard]] zr_status tlv_validate(const uint8_t* buffer, uint32_t length);

// Writes one primitive element; bytes written, 0 (nothing written) for an
// invalid tag or a length above TLV_MAX_LENGTH.
uint32_t tlv_write(uint8_t* buffer, const tlv_element* element);
