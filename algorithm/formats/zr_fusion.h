// EHM and fusion templates: a compact card together with the spectral part
// (formats/zr_fourier_part.h) and, for the fusion template, the raw image,
// the image dimensions and inserted feature parts. Layouts and the part
// locator are in objects/zr_fusion_parts.h.
//
// Writers return one new buffer (freed by the caller with free()); they never
// change or release the caller's input, and on failure leave no buffer and a
// null *out. Readers take the size of the bytes they are given and read
// nothing outside them.
#pragma once

#include <cstdint>

#include "formats/bal_template_container.h"
#include "objects/zr_fusion_parts.h"
#include "objects/zr_result.h"

// --- Writers ---------------------------------------------------------------

// Checks that card[0..card_length) begins with a compact card the template
// readers can use: ZR_BAD_FORMAT when its outer TLV is not 0x7F2E or runs
// past card_length; ZR_BAD_DATA when it holds no minutiae part (0x81 or 0x90,
// directly or under 0xA1); ZR_BAD_ARGUMENT for a missing card. A longer
// buffer is fine.
[[nodiscard]] zr_status zr_fusion_check_card(const uint8_t* card, uint32_t card_length);

// EHM template 0xE1 { card, 0xC1 plain spectral part } from the card and the
// two block fields, checked in that order. ZR_BAD_ARGUMENT for a missing
// argument; ZR_BAD_DATA for a card that fails the card check above or does
// not parse; then ZR_WRONG_TYPE for fields without blocks or with different
// block rows or columns; ZR_NO_MEMORY; else the tree writer's code.
[[nodiscard]] zr_status zr_iso_compactcard_to_ehm(const uint8_t* card, uint32_t card_length,
                                                  const zr_block_field* orientation,
                                                  const zr_block_field* frequency,
                                                  uint8_t** out_template, uint32_t* out_length);

// Fusion template 0x7F2E { 0xA1 { the card's 0x81, 0x90, 0x92, 0x93, 0x94 },
// 0xA2 { 0x82, 0xC1, 0xC2, 0xC3 } }. The orientation field is required; the
// spectral part is written when the frequency field is given and agrees with
// it (record form when both carry fine grids, else plain form). With pixels
// and rows x cols non-zero the raw image is added as a ZRIT record at 500 dpi;
// with rows x cols non-zero the `idim` record. ZR_BAD_ARGUMENT for a missing
// card, orientation field or output; the card check (ZR_BAD_FORMAT,
// ZR_BAD_DATA); ZR_BAD_DATA when the record-form spectral part does not fit its
// 16-bit fields; ZR_NO_MEMORY (also when the raw-image record cannot be made);
// else the tree writer's code.
[[nodiscard]] zr_status zr_iso_compactcard_to_iso_fusion(
    const uint8_t* card, uint32_t card_length, const zr_block_field* orientation,
    const zr_block_field* frequency, const uint8_t* pixels, uint16_t rows, uint16_t cols,
    uint8_t impression_type, uint8_t finger_quality, uint8_t** out_template, uint32_t* out_length);

// The fusion template without pixels (impression type 0).
[[nodiscard]] zr_status zr_iso_compactcard_to_iso_ehm(const uint8_t* card, uint32_t card_length,
                                                      const zr_block_field* orientation,
                                                      const zr_block_field* frequency,
                                                      uint16_t rows, uint16_t cols,
                                                      uint8_t finger_quality,
                                                      uint8_t** out_template,
                                                      uint32_t* out_length);

// A copy of the template with a primitive part (tag, value) appended as the
// last child of its first 0xA2 node. ZR_BAD_ARGUMENT for a missing argument;
// the tree parser's code for a template that does not parse; ZR_NOT_ALLOWED
// when it has no 0xA2; ZR_NO_MEMORY; else the tree writer's code.
[[nodiscard]] zr_status zr_iso_fusion_insert(const uint8_t* tmpl, uint32_t length, uint16_t tag,
                                             const uint8_t* value, uint32_t value_length,
                                             uint8_t** out_template, uint32_t* out_length);

// --- Readers ---------------------------------------------------------------

// Fills the minutiae structure from the template's card (through a rebuilt
// 2005 record, read by the ISO reader of its version). ZR_BAD_DATA when the
// template is not one EHM or fusion TLV; the card conversion's and the
// reader's failures; ZR_BAD_FORMAT for a rebuilt record of another version;
// ZR_BAD_ARGUMENT. The two names are the same operation.
[[nodiscard]] zr_status zr_fusion_to_minutiastruct(const uint8_t* tmpl, uint32_t length,
                                                   minutiastruct* out);
[[nodiscard]] zr_status zr_ehm_to_minutiastruct(const uint8_t* tmpl, uint32_t length,
                                                minutiastruct* out);

// The template without its raw image part 0xC2 (a new buffer): the part
// zr_fusion_to_parts locates (a direct child of an EHM root, or under 0xA2 of
// a fusion root) is removed at its place; elements inside the card stay.
// ZR_BAD_DATA when the template is not one EHM or fusion TLV, has no 0xC2
// part or holds a second one there; the tree parser's code; ZR_NO_MEMORY.
// On failure nothing is handed out.
[[nodiscard]] zr_status zr_fusion_to_ehm(const uint8_t* tmpl, uint32_t length,
                                         uint8_t** out_template, uint32_t* out_length);
