// ISO compact card: the small minutiae template (BER-TLV, outer tag 0x7F2E)
// with 3-byte minutiae in 0.1 mm units and 64ths of a turn, made from and
// turned back into ISO/IEC 19794-2 records; the normalisation that fits a
// large image's minutiae into the card's 492-pixel window; the proprietary
// part with per-minutia quality; and bounded lookups of the card's parts.
//
// A minutia, core or delta that the card cannot hold (a coordinate above 255
// in 0.1 mm for minutiae, or a core or delta before the card's shift) is left
// out of the card. A zonal-quality grid the card cannot describe (cell size
// that does not survive the card's one-byte cell code, or more than 255 cells
// across or down) is left out as well. Cards and records handed out are heap
// buffers freed by the caller with free().
#pragma once

#include <cstdint>

#include "formats/bal_template_container.h"
#include "objects/tlv_codec.h"
#include "objects/zr_result.h"

constexpr uint16_t ZR_CC_TAG_ROOT = 0x7F2E;
constexpr uint16_t ZR_CC_TAG_CARD = 0xA1;        // card parts of a 2005-based card
constexpr uint16_t ZR_CC_TAG_FUSION = 0xA2;      // parts of the fusion container
constexpr uint16_t ZR_CC_TAG_MINUTIAE = 0x81;    // minutiae of a 2011-based card
constexpr uint16_t ZR_CC_TAG_PROPRIETARY = 0x82;
constexpr uint16_t ZR_CC_TAG_MINUTIAE_V2 = 0x90;  // minutiae of a 2005-based card
constexpr uint16_t ZR_CC_TAG_0x91 = 0x91;
constexpr uint16_t ZR_CC_TAG_CORES = 0x92;
constexpr uint16_t ZR_CC_TAG_DELTAS = 0x93;
constexpr uint16_t ZR_CC_TAG_CELL_QUALITY = 0x94;
constexpr uint16_t ZR_CC_TAG_0x95 = 0x95;

// Most minutiae a card holds.
constexpr uint32_t ZR_CC_MAX_MINUTIAE = 128;
// Width of the card's coordinate window in pixels.
constexpr int32_t ZR_CC_WINDOW = 492;
// First bytes of the proprietary part.
constexpr uint8_t ZR_CC_PROPRIETARY_MAGIC[4] = {0x98, 0xEC, 0x15, 0xE1};

// Shifts the container's minutiae, cores, deltas and block fields in place so
// that an image over 492 pixels fits the card: by whole blocks of the
// orientation field (1 pixel without one), cropping the orientation and
// frequency fields and their fine fields by the same blocks, and shrinking
// rows and columns. Points that the shift moves below 0 are removed. Nothing
// happens without minutiae, for images under 493 pixels either way, when the
// minutiae already lie below 493, or when they span more than 492 pixels.
void zr_normalize_for_isocc(zr_template_container* container);

// Record[0..size) to a card of at most min(limit, 128) minutiae (the first in
// record order, less those the card cannot hold). ZR_BAD_FORMAT for a record
// that does not parse, a 2005 record without exactly one view, a 2011 record
// without exactly one representation, a reference-point or zonal-quality
// block that cannot be converted (a zonal block with a cell width or height of
// 0, bits a cell outside 1..8, or fewer packed codes than the record's image
// size gives cells); ZR_BAD_DATA for a block running past the
// extended data; ZR_NO_MEMORY; ZR_BAD_ARGUMENT.
[[nodiscard]] zr_status zr_convert_iso_standard_to_compactcard(const uint8_t* record, uint32_t size,
                                                               uint32_t limit, uint8_t** out_card,
                                                               uint32_t* out_length);
[[nodiscard]] zr_status zr_convert_iso_v2_standard_to_compactcard(const uint8_t* record, uint32_t size,
                                                                  uint32_t limit, uint8_t** out_card,
                                                                  uint32_t* out_length);
[[nodiscard]] zr_status zr_convert_iso_v3_standard_to_compactcard(const uint8_t* record, uint32_t size,
                                                                  uint32_t limit, uint8_t** out_card,
                                                                  uint32_t* out_length);

// The structure through a 2005 (v2) or 2011 (v3) record without extended data
// to a card. ZR_BAD_DATA when the resolution is not 197; the conversion's
// failures.
[[nodiscard]] zr_status zr_convert_minutiastruct_to_iso_compactcard_v2(const minutiastruct* minutiae,
                                                                       uint32_t limit, uint8_t** out_card,
                                                                       uint32_t* out_length);
[[nodiscard]] zr_status zr_convert_minutiastruct_to_iso_compactcard(const minutiastruct* minutiae,
                                                                    uint32_t limit, uint8_t** out_card,
                                                                    uint32_t* out_length);
[[nodiscard]] zr_status zr_convert_minutiastruct_to_iso_compactcard_v3(const minutiastruct* minutiae,
                                                                       uint32_t limit, uint8_t** out_card,
                                                                       uint32_t* out_length);

// Card[0..length) to a 2005 (v2) or 2011 (v3) record with the card's cores,
// deltas and cell quality as extended data; *out_length (when given) gets the
// record's size. Pixels are (c * 1576 / 100 + 4) >> 3 of a 0.1 mm coordinate,
// angles the 6-bit angle times 4, minutia quality 0. ZR_BAD_FORMAT for a card
// without a readable root or minutiae part, a minutiae part not a multiple of
// 3 bytes or over 255 minutiae, a cell part under 4 bytes, with a cell code
// of 0..7, with bits a cell outside 1..8 or with fewer packed codes than its
// grid needs (a zonal-quality block no record may hold), malformed cores or
// deltas (also with bytes behind their last entry); nothing is written then.
// ZR_NO_MEMORY.
[[nodiscard]] zr_status zr_convert_iso_compactcard_to_standard_v2(const uint8_t* card, uint32_t length,
                                                                  uint8_t** out_record, uint32_t* out_length);
[[nodiscard]] zr_status zr_convert_iso_compactcard_to_standard(const uint8_t* card, uint32_t length,
                                                               uint8_t** out_record, uint32_t* out_length);
[[nodiscard]] zr_status zr_convert_iso_compactcard_to_standard_v3(const uint8_t* card, uint32_t length,
                                                                  uint8_t** out_record, uint32_t* out_length);
// The card's minutiae through a rebuilt 2005 record into the structure.
[[nodiscard]] zr_status zr_convert_iso_compactcard_to_minutiastruct(const uint8_t* card, uint32_t length,
                                                                    minutiastruct* out);

// Rebuilds the card (*card, *length bytes) with a proprietary part 0x82: the
// magic and one byte a card minutia, high nibble min(quality * 16 / 100, 15),
// low nibble the ridge-period byte's. The minutiae are those of the structure
// that the card holds (the same selection as the conversion). The old card is
// freed and replaced on success; an old 0x82 part is dropped. ZR_BAD_FORMAT
// for a card whose root is not 0x7F2E or is empty; ZR_BAD_DATA when the
// structure does not give the card's minutiae count; ZR_NO_MEMORY.
[[nodiscard]] zr_status zr_iso_compactcard_extend_proprietary_data(uint8_t** card, uint32_t* length,
                                                                   const minutiastruct* minutiae);

// The whole encoded length of the outer element when its tag is 0x7F2E and it
// lies within size, else 0.
uint32_t zr_iso19794_2_compact_card_get_length(const uint8_t* card, uint32_t size);

// Finds a path of nested tags inside the 0x7F2E root of card[0..size).
// ZR_BAD_FORMAT when the root is not 0x7F2E or the path is not found.
[[nodiscard]] zr_status zr_cc_read_tag(const uint8_t* card, uint32_t size, const uint16_t* path,
                                       uint32_t depth, tlv_element* out);
// The minutiae part: 0x81, 0xA1 > 0x81, 0x90, 0xA1 > 0x90. ZR_OK or
// ZR_BAD_FORMAT.
[[nodiscard]] zr_status zr_cc_read_minutiae_data(const uint8_t* card, uint32_t size, tlv_element* out);
// A part of a card (card_form non-zero: directly under the root, then under
// 0xA1) or of a fusion container (card_form 0: only under 0xA2, except 0x82,
// which is looked up directly under the root first). ZR_OK or ZR_BAD_FORMAT.
[[nodiscard]] zr_status zr_cc_read_extended_data(const uint8_t* card, uint32_t size, int32_t card_form,
                                                 uint16_t tag, tlv_element* out);
