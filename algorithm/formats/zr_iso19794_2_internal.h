// Layout of a parsed ISO/IEC 19794-2 record, shared by the record readers,
// the block readers and appenders, and the compact-card converters.
#pragma once

#include <cstdint>

#include "objects/zr_result.h"

enum class iso_edition : uint8_t { none, v2005, v2011 };

// Offsets are from the record's start and all lie inside its length.
struct iso_record_layout {
    iso_edition edition;
    uint32_t length;            // record length field (never above the buffer size)
    uint32_t header;            // first field of the finger view (2005: 24; 2011: base)
    uint32_t minutiae;          // first minutia
    uint32_t stride;            // bytes a minutia (6 in 2005, L in 2011)
    uint32_t count;             // minutia count of the first view
    uint32_t extended;          // BE16 extended data length
    uint16_t image_x;
    uint16_t image_y;
    uint16_t resolution_x;
    uint16_t resolution_y;
    uint8_t finger_position;
    uint8_t impression;         // the whole byte
};

// Minimum lengths and offsets of the two editions.
constexpr uint32_t ISO_HEADER_PROBE = 12;       // magic, version and length
constexpr uint32_t ISO_V2_HEADER = 28;
constexpr uint32_t ISO_V3_MIN_LENGTH = 49;
constexpr uint32_t ISO_V3_REPRESENTATION = 15;  // BE32 representation length
constexpr uint32_t ISO_MINUTIA_BYTES = 6;
constexpr uint32_t ISO_EXTENDED_LENGTH_BYTES = 2;
constexpr uint32_t ISO_BLOCK_HEADER = 4;
constexpr uint32_t ISO_MAX_EXTENDED = 0xFFFF;

// The edition named by the magic and version of record[0..size).
iso_edition iso_record_edition(const uint8_t* record, uint32_t size);

// Parses the header of the first view. ZR_BAD_FORMAT for a wrong magic or
// version, a length field beyond size or too short for the header and the
// minutiae it announces, or 2011 minutia entries under 5 bytes.
[[nodiscard]] zr_status iso_record_parse(const uint8_t* record, uint32_t size,
                                         iso_record_layout* out);

// A block found in the extended data: data points at its first data byte.
struct iso_block {
    const uint8_t* data;
    uint32_t length;
};

// Walks the extended data for the block type. ZR_OK (found), ZR_NOT_FOUND
// (absent, or extended data length 0), ZR_BAD_DATA (the wanted block runs past
// the extended data).
[[nodiscard]] zr_status iso_find_block(const uint8_t* record, const iso_record_layout& layout,
                                       uint16_t type, iso_block* out);

// 14-bit coordinate fields of minutiae, cores and deltas.
constexpr uint32_t ISO_COORDINATE_MASK = 0x3FFF;
inline uint16_t iso_get14(const uint8_t* p) { return uint16_t(((p[0] & 0x3F) << 8) | p[1]); }
