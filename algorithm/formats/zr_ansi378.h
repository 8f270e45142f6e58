// ANSI INCITS 378 finger minutiae records, version 2 (" 20") and version 3
// ("030"), written with one finger view at 197 pixels per centimetre, and the
// conversion of such a record into an ISO/IEC 19794-2 record.
//
// Angles are stored in units of 2 degrees: a (256 a turn) is written as
// (a * 180 + 128) >> 8 and a stored byte b reads as ((b * 256 + 90) / 180)
// mod 256, truncating; 76 of the 256 angles come back one unit off.
// Written records are heap buffers freed by the caller with free().
#pragma once

#include <cstdint>

#include "formats/bal_template_container.h"
#include "objects/zr_result.h"

// Writers: a new record (32 + 6n bytes for version 2, 40 + 6n for version 3)
// in *out_record and its size in *out_length when given. ZR_BAD_DATA when the
// structure's resolution is not 197, ZR_NO_MEMORY, ZR_BAD_ARGUMENT. On failure
// nothing is written.
[[nodiscard]] zr_status zr_minutiastruct_to_ansi378_v2(const minutiastruct* minutiae, uint8_t** out_record,
                                                       uint32_t* out_length);
[[nodiscard]] zr_status zr_minutiastruct_to_ansi378(const minutiastruct* minutiae, uint8_t** out_record,
                                                    uint32_t* out_length);
[[nodiscard]] zr_status zr_minutiastruct_to_ansi378_v3(const minutiastruct* minutiae, uint8_t** out_record,
                                                       uint32_t* out_length);

// Readers of record[0..size): ZR_BAD_FORMAT for a wrong magic or version, a
// length field beyond size or too short for the header or the minutiae;
// ZR_BAD_RESOLUTION; ZR_BAD_ARGUMENT. The version 2 reader accepts "020" as
// well as " 20". Version 3 checks its whole 32-bit length field.
[[nodiscard]] zr_status zr_ansi378_to_minutiastruct(const uint8_t* record, uint32_t size,
                                                    minutiastruct* out);
[[nodiscard]] zr_status zr_ansi378_v2_to_minutiastruct(const uint8_t* record, uint32_t size,
                                                       minutiastruct* out);
[[nodiscard]] zr_status zr_ansi378_v3_to_minutiastruct(const uint8_t* record, uint32_t size,
                                                       minutiastruct* out);

// Reads the ANSI record (either version), keeps its first `limit` minutiae and
// writes an ISO/IEC 19794-2 record: 2005 edition, or 2011 carrying the ANSI
// product identifier as device vendor and type. The reader's and the writer's
// failures; ZR_NO_MEMORY.
[[nodiscard]] zr_status zr_convert_ansi378_to_iso19794_2_v2(const uint8_t* record, uint32_t size,
                                                            uint32_t limit, uint8_t** out_iso);
[[nodiscard]] zr_status zr_convert_ansi378_to_iso19794_2(const uint8_t* record, uint32_t size,
                                                         uint32_t limit, uint8_t** out_iso);
[[nodiscard]] zr_status zr_convert_ansi378_to_iso19794_2_v3(const uint8_t* record, uint32_t size,
                                                            uint32_t limit, uint8_t** out_iso);

// The angle conversions of the record.
uint8_t zr_ansi378_angle_from_iso(uint8_t angle);
uint8_t zr_ansi378_angle_to_iso(uint8_t stored);
