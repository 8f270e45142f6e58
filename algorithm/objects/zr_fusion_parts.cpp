#include "objects/zr_fusion_parts.h"

#include <initializer_list>

#include "objects/tlv_codec.h"

namespace {

struct located_template {
    zr_fusion_part card;
    // Where the parts are looked for: the value of 0xA2 (fusion) or of the
    // root (EHM); length 0 when a fusion template has no 0xA2.
    const uint8_t* parts;
    uint32_t parts_length;
};

zr_status locate(const uint8_t* bytes, uint32_t length, located_template* out) {
    *out = {};
    if (length == 0) return ZR_BAD_DATA;
    tlv_element root{};
    if (tlv_read_validate(bytes, &root, length) != length) return ZR_BAD_DATA;
    if (root.tag == ZR_FUSION_ROOT_TAG) {
        out->card = {0, length, bytes};
        tlv_element parts{};
        if (tlv_find_tag(root.value, root.length, ZR_FUSION_PARTS_TAG, &parts) == 1) {
            out->parts = parts.value;
            out->parts_length = parts.length;
        }
        return ZR_OK;
    }
    if (root.tag != ZR_EHM_ROOT_TAG) return ZR_BAD_DATA;
    tlv_element card{};
    const uint32_t card_size = tlv_read(root.value, root.length, &card);
    if (card_size == 0 || card.tag != ZR_FUSION_ROOT_TAG) return ZR_BAD_DATA;
    out->card = {0, card_size, root.value};
    out->parts = root.value;
    out->parts_length = root.length;
    return ZR_OK;
}

void find_part(const located_template& located, uint16_t tag, zr_fusion_part* out) {
    if (out == nullptr || located.parts_length == 0) return;
    tlv_element part{};
    if (tlv_find_tag(located.parts, located.parts_length, tag, &part) == 1) {
        *out = {part.tag, part.length, part.value};
    }
}

}  // namespace

zr_status zr_fusion_to_parts(const uint8_t* bytes, uint32_t length, zr_fusion_part* out_card,
                             zr_fusion_part* out_spectral, zr_fusion_part* out_image,
                             zr_fusion_part* out_idim) {
    for (zr_fusion_part* out : {out_card, out_spectral, out_image, out_idim}) {
        if (out != nullptr) *out = {};
    }
    if (bytes == nullptr && length != 0) return ZR_BAD_ARGUMENT;
    located_template located{};
    const zr_status status = locate(bytes, length, &located);
    if (status != ZR_OK) return status;
    if (out_card != nullptr) *out_card = located.card;
    find_part(located, ZR_FUSION_SPECTRAL_TAG, out_spectral);
    find_part(located, ZR_FUSION_IMAGE_TAG, out_image);
    find_part(located, ZR_FUSION_IDIM_TAG, out_idim);
    return ZR_OK;
}

zr_status zr_fusion_idim_to_parts(const uint8_t* bytes, int32_t length, uint16_t* out_rows,
                                  uint16_t* out_cols, uint8_t* out_quality) {
    if (out_rows != nullptr) *out_rows = 0;
    if (out_cols != nullptr) *out_cols = 0;
    if (out_quality != nullptr) *out_quality = 0;
    if (length < int32_t(ZR_IDIM_MIN_SIZE)) return ZR_BAD_DATA;
    if (bytes == nullptr) return ZR_BAD_ARGUMENT;
    if (bytes[0] != ZR_IDIM_VERSION) return ZR_BAD_DATA;
    if (out_rows != nullptr && out_cols != nullptr) {
        *out_rows = uint16_t(bytes[1] | bytes[2] << 8);
        *out_cols = uint16_t(bytes[3] | bytes[4] << 8);
    }
    if (out_quality != nullptr && length >= int32_t(ZR_IDIM_SIZE)) *out_quality = bytes[5];
    return ZR_OK;
}

void zr_fusion_idim_write(uint16_t rows, uint16_t cols, uint8_t quality, uint8_t out[ZR_IDIM_SIZE]) {
    out[0] = ZR_IDIM_VERSION;
    out[1] = uint8_t(rows);
    out[2] = uint8_t(rows >> 8);
    out[3] = uint8_t(cols);
    out[4] = uint8_t(cols >> 8);
    out[5] = quality;
}

zr_status zr_ehm_to_iso_cc(const uint8_t* data, uint32_t length, uint16_t,
                           const uint8_t** out_data, uint32_t* out_length) {
    zr_fusion_part card{};
    if (zr_fusion_to_parts(data, length, &card, nullptr, nullptr, nullptr) != ZR_OK)
        return ZR_WRONG_TYPE;
    *out_data = card.value;
    *out_length = card.length;
    return ZR_OK;
}

zr_status zr_ehm_to_spectral(const uint8_t* data, uint32_t length, uint16_t,
                             const uint8_t** out_data, uint32_t* out_length) {
    zr_fusion_part spectral{};
    if (zr_fusion_to_parts(data, length, nullptr, &spectral, nullptr, nullptr) != ZR_OK)
        return ZR_WRONG_TYPE;
    if (spectral.tag == 0) return ZR_WRONG_TYPE;
    *out_data = spectral.value;
    *out_length = spectral.length;
    return ZR_OK;
}
