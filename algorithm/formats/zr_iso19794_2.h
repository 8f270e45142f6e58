// ISO/IEC 19794-2 finger minutiae records, 2005 edition (" 20") and 2011
// edition ("030"): writers from the minutiae structure, bounded readers into
// it, and the four extended data blocks (reference points, zonal quality,
// orientation field, ridge-frequency field).
//
// Records are written with one finger view at 197 pixels per centimetre, all
// multi-byte fields big-endian. Written records are heap buffers that the
// caller frees with free().
//
// Every reader takes the size of the buffer it is given. A record whose
// length field passes that size is refused with ZR_BAD_FORMAT; a buffer longer
// than the record (zero padding) is accepted, and only the record's own bytes
// are read. A reader that fails part way may have written some fields of its
// output.
#pragma once

#include <cstdint>

#include "formats/bal_template_container.h"
#include "objects/zr_result.h"

// Resolution not 197 pixels per centimetre, or horizontal and vertical
// resolutions differ.
constexpr zr_status ZR_BAD_RESOLUTION = ZR_IMAGE_LIB_CODE_6;

constexpr uint16_t ZR_ISO_RESOLUTION_PPCM = 197;
// Device identifier that the 2005 readers report.
constexpr uint32_t ZR_ISO_V2_DEVICE_ID = 0x01030000;
// Ridge-period byte of a minutia read from a standard record.
constexpr uint8_t ZR_ISO_DEFAULT_RIDGE_PERIOD = 5;

// Extended data block types.
constexpr uint16_t ZR_ISO_BLOCK_REF_POINTS = 0x0002;
constexpr uint16_t ZR_ISO_BLOCK_ZONAL_QUALITY = 0x0003;
constexpr uint16_t ZR_ISO_BLOCK_ORIENTATION = 0xED0F;
constexpr uint16_t ZR_ISO_BLOCK_FREQUENCY = 0xEDFF;

// --- Writers ---------------------------------------------------------------
// A new record (30 + 6n bytes for 2005, 54 + 6n for 2011, with extended data
// length 0) in *out_record. ZR_BAD_ARGUMENT for a missing argument,
// ZR_BAD_DATA when the structure's resolution is not 197, ZR_NO_MEMORY. On
// failure *out_record is untouched. Coordinates are written as their low 14
// bits.
[[nodiscard]] zr_status zr_minutiastruct_to_iso19794_2_v2(const minutiastruct* minutiae,
                                                          uint8_t** out_record);
[[nodiscard]] zr_status zr_minutiastruct_to_iso19794_2(const minutiastruct* minutiae,
                                                       uint8_t** out_record);
[[nodiscard]] zr_status zr_minutiastruct_to_iso19794_2_v3(const minutiastruct* minutiae,
                                                          uint8_t** out_record);

// --- Readers ---------------------------------------------------------------
// Fill the structure from the first finger view of record[0..size).
// ZR_BAD_FORMAT for a wrong magic or version, a length field beyond the buffer
// or shorter than the minutiae it announces, 2011 minutia entries under 5
// bytes; ZR_BAD_RESOLUTION; ZR_BAD_ARGUMENT for a missing argument.
[[nodiscard]] zr_status zr_iso19794_2_to_minutiastruct(const uint8_t* record, uint32_t size,
                                                       minutiastruct* out);
[[nodiscard]] zr_status zr_iso19794_2_v2_to_minutiastruct(const uint8_t* record, uint32_t size,
                                                          minutiastruct* out);
[[nodiscard]] zr_status zr_iso19794_2_v3_to_minutiastruct(const uint8_t* record, uint32_t size,
                                                          minutiastruct* out);

// ZR_OK when buffer[0..size) is exactly one well-formed record, else
// ZR_BAD_FORMAT.
[[nodiscard]] zr_status zr_is_iso19794_2(const uint8_t* record, uint32_t size);

// The record length field when the magic and version are valid and size
// covers the header, else 0.
uint32_t zr_iso19794_2_get_length(const uint8_t* record, uint32_t size);

// --- Extended data blocks: appenders -----------------------------------------
// Each appender takes the record and its buffer size (*size, at least the
// record length) and on success replaces the record with a new one holding the
// block at its end, frees the old one and sets *size to the new length. On
// failure the record and *size are untouched. ZR_BAD_FORMAT for a record that
// does not parse; ZR_BAD_DATA when the extended data would pass 65535 bytes
// or when the blocks behind the extended data length do not end exactly at
// the record's end (bytes behind the last block, or a block running past the
// end), where the readers would never find the new block; ZR_NO_MEMORY;
// ZR_BAD_ARGUMENT for missing arguments.

// Block 0x0002. Cores and deltas may be null; with no point at all nothing is
// appended and the result is ZR_OK. At most four points of each kind are
// written; a point with its valid flag set carries its angles.
[[nodiscard]] zr_status zr_iso19794_2_extend_ref_points(uint8_t** record, uint32_t* size,
                                                        const zr_reference_points* cores,
                                                        const zr_reference_points* deltas);
// Block 0x0003 with bits_per_cell 1..8 (else ZR_BAD_ARGUMENT before anything
// else). The grid written is ceil(X / cell width) x ceil(Y / cell height) of
// the record's image size; cells beyond the field's own grid are written as
// code 1 (quality 0). A cell value v is stored as (v - 1) / step + 1,
// step = (2^bits + 98) / (2^bits - 1), truncating; values above 100 are
// stored as the top code. ZR_BAD_DATA for a zero cell size.
[[nodiscard]] zr_status zr_iso19794_2_extend_zonal_quality(uint8_t** record, uint32_t* size,
                                                           const zr_zonal_quality_field* field,
                                                           uint32_t bits_per_cell);
// Blocks 0xED0F and 0xEDFF. A negative row offset is written as 0. An
// orientation value 0 is written as 128, v as (191 - v) mod 256; a frequency
// value is capped at 32.
[[nodiscard]] zr_status zr_iso19794_2_extend_orientation_field(uint8_t** record, uint32_t* size,
                                                               const zr_block_field* field);
[[nodiscard]] zr_status zr_iso19794_2_extend_frequency_field(uint8_t** record, uint32_t* size,
                                                             const zr_block_field* field);

// --- Extended data blocks: readers -------------------------------------------
// The block walk stops at the first header that does not fit in the extended
// data; a wanted block whose data runs past the extended data gives
// ZR_BAD_DATA. Arrays handed out are the caller's to free().

// Cores and deltas: counts 0 and ZR_OK when the block is absent; ZR_BAD_FORMAT
// (counts 0) for a record that does not parse; ZR_BAD_DATA for more than four
// points of a kind or entries running past the block. An entry's valid flag is
// the two flag bits of its first byte.
[[nodiscard]] zr_status zr_iso19794_2_to_ref_points(const uint8_t* record, uint32_t size,
                                                    zr_reference_points* cores,
                                                    zr_reference_points* deltas);
// Zonal quality: counts 0, no array and ZR_OK when absent. ZR_BAD_DATA for
// bits per cell 0 or above 8, a zero cell size, a grid over 255 cells either
// way or codes missing; ZR_NO_MEMORY. A code c reads as c * (1600 / M) >> 4
// (M = 2^bits - 1), 0 above 100.
[[nodiscard]] zr_status zr_iso19794_2_to_quality_field(const uint8_t* record, uint32_t size,
                                                       zr_zonal_quality_field* field);
// Orientation and frequency fields: ZR_BAD_DATA with no array when absent or
// short; ZR_NO_MEMORY. Orientation bytes 128..255 read as 0, b below 128 as
// (191 - b) mod 256. The fine field is not touched.
[[nodiscard]] zr_status zr_iso19794_2_to_orientation_field(const uint8_t* record, uint32_t size,
                                                           zr_block_field* field);
[[nodiscard]] zr_status zr_iso19794_2_to_frequency_field(const uint8_t* record, uint32_t size,
                                                         zr_block_field* field);

// Points *out at the BE16 extended data length of the record's first view.
// ZR_BAD_FORMAT when the record does not parse within size.
[[nodiscard]] zr_status iso19794_2_get_extended_data_reference(const uint8_t* record, uint32_t size,
                                                               const uint8_t** out);
// Adds increment to the extended data length. ZR_BAD_DATA (unchanged) when the
// sum would pass 65535; ZR_BAD_FORMAT when the record does not parse.
[[nodiscard]] zr_status iso19794_2_increase_extended_data_block_length(uint8_t* record,
                                                                       uint32_t size,
                                                                       uint32_t increment);
