// Views into EHM and fusion templates: where the compact card, the spectral
// part, the raw image and the image-dimension record lie, and the `idim`
// record. Nothing is copied; every view points into the caller's bytes.
//
// EHM template:    0xE1 { 0x7F2E card (first), 0xC1 spectral, ... }
// Fusion template: 0x7F2E { 0xA1 { card elements }, 0xA2 { 0x82, 0xC1, 0xC2,
//                  0xC3, inserted parts } }
//
// `idim` record (part 0xC3, 6 bytes; 5 are accepted):
//   0 u8 version 0x01   1 LE16 image rows   3 LE16 image columns
//   5 u8 finger quality
#pragma once

#include <cstdint>

#include "objects/zr_result.h"

constexpr uint16_t ZR_EHM_ROOT_TAG = 0xE1;
constexpr uint16_t ZR_FUSION_ROOT_TAG = 0x7F2E;
constexpr uint16_t ZR_FUSION_CARD_GROUP_TAG = 0xA1;
constexpr uint16_t ZR_FUSION_PARTS_TAG = 0xA2;
constexpr uint16_t ZR_FUSION_PROPRIETARY_TAG = 0x82;
constexpr uint16_t ZR_FUSION_SPECTRAL_TAG = 0xC1;
constexpr uint16_t ZR_FUSION_IMAGE_TAG = 0xC2;
constexpr uint16_t ZR_FUSION_IDIM_TAG = 0xC3;
constexpr uint16_t ZR_FUSION_FEATURES_TAG = 0xC9;
constexpr uint16_t ZR_FUSION_ALIGNMENT_TAG = 0xCA;

constexpr uint8_t ZR_IDIM_VERSION = 0x01;
constexpr uint32_t ZR_IDIM_SIZE = 6;
constexpr uint32_t ZR_IDIM_MIN_SIZE = 5;

// One located part: its tag and value. All zero when the part is absent. The
// card's descriptor has tag 0 and spans the whole card TLV (for a fusion
// root, the whole template).
struct zr_fusion_part {
    uint16_t tag;
    uint32_t length;
    const uint8_t* value;
};

// Locates the card and the parts 0xC1, 0xC2 and 0xC3 of a template of length
// bytes; each output may be null. Clears the given outputs first. ZR_OK (an
// absent part is no failure); ZR_BAD_ARGUMENT for missing bytes of a
// non-empty length; ZR_BAD_DATA when the bytes are not exactly one TLV, the
// root is neither 0x7F2E nor 0xE1, or an EHM root does not begin with a
// 0x7F2E card. Nothing outside bytes[0..length) is read.
[[nodiscard]] zr_status zr_fusion_to_parts(const uint8_t* bytes, uint32_t length,
                                           zr_fusion_part* out_card, zr_fusion_part* out_spectral,
                                           zr_fusion_part* out_image, zr_fusion_part* out_idim);

// Reads an `idim` record. Clears the outputs first (each may be null; rows and
// columns are written only when both are given); quality is 0 for a 5-byte
// record. ZR_OK; ZR_BAD_DATA for a length below 5 or a version other than 1;
// ZR_BAD_ARGUMENT for missing bytes.
[[nodiscard]] zr_status zr_fusion_idim_to_parts(const uint8_t* bytes, int32_t length,
                                                uint16_t* out_rows, uint16_t* out_cols,
                                                uint8_t* out_quality);
// Fills the 6-byte `idim` record.
void zr_fusion_idim_write(uint16_t rows, uint16_t cols, uint8_t quality, uint8_t out[ZR_IDIM_SIZE]);

// Template conversions (views, no allocation), in the converter signature of
// zr_template_convert; the tag is not used. Both refuse a template that does
// not parse (zr_fusion_to_parts) with ZR_WRONG_TYPE.
// The compact card: the whole template for a fusion root, the first child of
// an EHM root.
[[nodiscard]] zr_status zr_ehm_to_iso_cc(const uint8_t* data, uint32_t length, uint16_t tag,
                                         const uint8_t** out_data, uint32_t* out_length);
// The value of the spectral part 0xC1; ZR_WRONG_TYPE when absent.
[[nodiscard]] zr_status zr_ehm_to_spectral(const uint8_t* data, uint32_t length, uint16_t tag,
                                           const uint8_t** out_data, uint32_t* out_length);
