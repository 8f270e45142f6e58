#include "formats/zr_fusion.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso_compactcard.h"
#include "formats/zr_fourier_part.h"
#include "objects/tlv_codec.h"
#include "objects/tlv_tree.h"
#include "objects/zr_zrimage.h"

namespace {

constexpr uint16_t kCardGroupCopies[] = {0x81, 0x90, 0x92, 0x93, 0x94};
// Version bytes of a record rebuilt from a card: "FMR" 0, then byte 4 0x20
// or 0x30 (tested with bit 4 masked) and bytes 5-7 "20" 0 (2005) or "30" 0
// (2011).
constexpr uint8_t kIsoMagic[4] = {'F', 'M', 'R', 0};
constexpr uint8_t kIsoVersionMask = 0xEF;
constexpr uint8_t kIsoVersionFirst = 0x20;
constexpr uint8_t kIsoVersion2005Tail[3] = {'2', '0', 0};
constexpr uint8_t kIsoVersion2011Tail[3] = {'3', '0', 0};
constexpr uint32_t kIsoVersionEnd = 8;
// The raw image is recorded at this resolution both ways.
constexpr uint16_t kImageDpi = 500;

struct tree_deleter {
    void operator()(tlv_node* node) const { tlv_delete(node); }
};
using tree_ptr = std::unique_ptr<tlv_node, tree_deleter>;

struct free_deleter {
    void operator()(uint8_t* p) const { std::free(p); }
};
using buffer_ptr = std::unique_ptr<uint8_t, free_deleter>;

void clear_outputs(uint8_t** out_template, uint32_t* out_length) {
    if (out_template != nullptr) *out_template = nullptr;
    if (out_length != nullptr) *out_length = 0;
}

zr_status append_primitive(tlv_node* parent, uint16_t tag, uint32_t length, const uint8_t* value) {
    tlv_node* node = tlv_create(tag, length, value);
    const zr_status status = tlv_append_child(parent, node);
    if (status != ZR_OK) tlv_delete(node);
    return status;
}

zr_status append_constructed(tlv_node* parent, uint16_t tag, tlv_node** out_node) {
    tlv_node* node = tlv_create(tag, 0, nullptr);
    const zr_status status = tlv_append_child(parent, node);
    if (status != ZR_OK) {
        tlv_delete(node);
        return status;
    }
    *out_node = node;
    return ZR_OK;
}

// Card elements are looked up directly under 0x7F2E, then under 0xA1; the
// proprietary part directly under 0x7F2E, then under 0xA2.
zr_status copy_card_elements(const uint8_t* card, uint32_t card_length, tlv_node* group,
                             tlv_node* parts) {
    tlv_element element{};
    for (const uint16_t tag : kCardGroupCopies) {
        if (zr_cc_read_extended_data(card, card_length, 1, tag, &element) != ZR_OK) continue;
        const zr_status status = append_primitive(group, tag, element.length, element.value);
        if (status != ZR_OK) return status;
    }
    if (zr_cc_read_extended_data(card, card_length, 0, ZR_FUSION_PROPRIETARY_TAG, &element) == ZR_OK)
        return append_primitive(parts, ZR_FUSION_PROPRIETARY_TAG, element.length, element.value);
    return ZR_OK;
}

// Writes the finished tree into the caller's outputs.
zr_status write_out(tlv_node* root, uint8_t** out_template, uint32_t* out_length) {
    uint8_t* buffer = nullptr;
    uint32_t size = 0;
    const zr_status status = tlv_write_tree(root, &buffer, &size);
    if (status != ZR_OK) return status;
    *out_template = buffer;
    *out_length = size;
    return ZR_OK;
}

// The card as a tree for the EHM writer: ZR_BAD_DATA for a card that fails
// zr_fusion_check_card or does not parse; ZR_NO_MEMORY.
zr_status parse_card(const uint8_t* card, uint32_t card_length, tree_ptr* out) {
    if (zr_fusion_check_card(card, card_length) != ZR_OK) return ZR_BAD_DATA;
    tlv_node* tree = nullptr;
    const zr_status status = tlv_parse_buffer(card, card_length, &tree);
    if (status == ZR_NO_MEMORY) return status;
    if (status != ZR_OK) return ZR_BAD_DATA;
    out->reset(tree);
    return ZR_OK;
}

// The node whose children are the template's parts, as zr_fusion_to_parts
// locates them: the EHM root itself, or the first 0xA2 directly under a
// fusion root (none when it has no 0xA2).
tlv_node* parts_holder(tlv_node* root) {
    if (tlv_get_tag(root) == ZR_EHM_ROOT_TAG) return root;
    return tlv_find_child(root, ZR_FUSION_PARTS_TAG);
}

}  // namespace

zr_status zr_fusion_check_card(const uint8_t* card, uint32_t card_length) {
    if (card == nullptr) return ZR_BAD_ARGUMENT;
    if (zr_iso19794_2_compact_card_get_length(card, card_length) == 0) return ZR_BAD_FORMAT;
    tlv_element minutiae{};
    if (zr_cc_read_minutiae_data(card, card_length, &minutiae) != ZR_OK) return ZR_BAD_DATA;
    return ZR_OK;
}

zr_status zr_fusion_to_minutiastruct(const uint8_t* tmpl, uint32_t length, minutiastruct* out) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    zr_fusion_part card{};
    zr_status status = zr_fusion_to_parts(tmpl, length, &card, nullptr, nullptr, nullptr);
    if (status != ZR_OK) return status;
    uint8_t* record_raw = nullptr;
    uint32_t record_length = 0;
    status = zr_convert_iso_compactcard_to_standard_v2(card.value, card.length, &record_raw,
                                                       &record_length);
    if (status != ZR_OK) return status;
    buffer_ptr record(record_raw);
    if (record_length < kIsoVersionEnd || std::memcmp(record_raw, kIsoMagic, sizeof(kIsoMagic)) != 0 ||
        (record_raw[4] & kIsoVersionMask) != kIsoVersionFirst)
        return ZR_BAD_FORMAT;
    if (std::memcmp(record_raw + 5, kIsoVersion2005Tail, 3) == 0)
        return zr_iso19794_2_v2_to_minutiastruct(record_raw, record_length, out);
    if (std::memcmp(record_raw + 5, kIsoVersion2011Tail, 3) == 0)
        return zr_iso19794_2_v3_to_minutiastruct(record_raw, record_length, out);
    return ZR_BAD_FORMAT;
}

zr_status zr_ehm_to_minutiastruct(const uint8_t* tmpl, uint32_t length, minutiastruct* out) {
    return zr_fusion_to_minutiastruct(tmpl, length, out);
}

zr_status zr_iso_compactcard_to_ehm(const uint8_t* card, uint32_t card_length,
                                    const zr_block_field* orientation,
                                    const zr_block_field* frequency, uint8_t** out_template,
                                    uint32_t* out_length) {
    clear_outputs(out_template, out_length);
    if (card == nullptr || orientation == nullptr || frequency == nullptr ||
        out_template == nullptr || out_length == nullptr)
        return ZR_BAD_ARGUMENT;
    tree_ptr card_tree;
    zr_status status = parse_card(card, card_length, &card_tree);
    if (status != ZR_OK) return status;
    if (!zr_spectral_fields_agree(orientation, frequency)) return ZR_WRONG_TYPE;

    uint8_t* spectral_raw = nullptr;
    uint32_t spectral_length = 0;
    status = zr_spectral_part_write(orientation, frequency, 0, &spectral_raw, &spectral_length);
    if (status != ZR_OK) return status;
    buffer_ptr spectral(spectral_raw);

    tree_ptr root(tlv_create(ZR_EHM_ROOT_TAG, 0, nullptr));
    if (root == nullptr) return ZR_NO_MEMORY;
    status = append_primitive(root.get(), ZR_FUSION_SPECTRAL_TAG, spectral_length, spectral.get());
    if (status != ZR_OK) return status;
    status = tlv_insert_child(root.get(), card_tree.get());
    if (status != ZR_OK) return status;
    card_tree.release();  // now part of root
    return write_out(root.get(), out_template, out_length);
}

zr_status zr_iso_compactcard_to_iso_fusion(const uint8_t* card, uint32_t card_length,
                                           const zr_block_field* orientation,
                                           const zr_block_field* frequency, const uint8_t* pixels,
                                           uint16_t rows, uint16_t cols, uint8_t impression_type,
                                           uint8_t finger_quality, uint8_t** out_template,
                                           uint32_t* out_length) {
    clear_outputs(out_template, out_length);
    if (card == nullptr || orientation == nullptr || out_template == nullptr ||
        out_length == nullptr)
        return ZR_BAD_ARGUMENT;
    zr_status status = zr_fusion_check_card(card, card_length);
    if (status != ZR_OK) return status;

    tree_ptr root(tlv_create(ZR_FUSION_ROOT_TAG, 0, nullptr));
    if (root == nullptr) return ZR_NO_MEMORY;
    tlv_node* group = nullptr;
    tlv_node* parts = nullptr;
    status = append_constructed(root.get(), ZR_FUSION_CARD_GROUP_TAG, &group);
    if (status == ZR_OK) status = append_constructed(root.get(), ZR_FUSION_PARTS_TAG, &parts);
    if (status == ZR_OK) status = copy_card_elements(card, card_length, group, parts);
    if (status != ZR_OK) return status;

    buffer_ptr spectral;
    if (frequency != nullptr && zr_spectral_fields_agree(orientation, frequency)) {
        uint8_t* spectral_raw = nullptr;
        uint32_t spectral_length = 0;
        status = zr_spectral_part_write(orientation, frequency,
                                        zr_spectral_fields_have_fine(orientation, frequency),
                                        &spectral_raw, &spectral_length);
        if (status != ZR_OK) return status;
        spectral.reset(spectral_raw);
        status = append_primitive(parts, ZR_FUSION_SPECTRAL_TAG, spectral_length, spectral.get());
        if (status != ZR_OK) return status;
    }

    const bool has_size = uint32_t(rows) * cols != 0;
    buffer_ptr image;
    if (pixels != nullptr && has_size) {
        uint8_t* image_raw = nullptr;
        uint32_t image_length = 0;
        status = zr_fusion_zrimage_encode(pixels, rows, cols, kImageDpi, kImageDpi, impression_type,
                                          &image_raw, &image_length);
        if (status != ZR_OK) return status;
        image.reset(image_raw);
        status = append_primitive(parts, ZR_FUSION_IMAGE_TAG, image_length, image.get());
        if (status != ZR_OK) return status;
    }
    uint8_t idim[ZR_IDIM_SIZE];
    if (has_size) {
        zr_fusion_idim_write(rows, cols, finger_quality, idim);
        status = append_primitive(parts, ZR_FUSION_IDIM_TAG, ZR_IDIM_SIZE, idim);
        if (status != ZR_OK) return status;
    }
    return write_out(root.get(), out_template, out_length);
}

zr_status zr_iso_compactcard_to_iso_ehm(const uint8_t* card, uint32_t card_length,
                                        const zr_block_field* orientation,
                                        const zr_block_field* frequency, uint16_t rows,
                                        uint16_t cols, uint8_t finger_quality,
                                        uint8_t** out_template, uint32_t* out_length) {
    return zr_iso_compactcard_to_iso_fusion(card, card_length, orientation, frequency, nullptr,
                                            rows, cols, 0, finger_quality, out_template,
                                            out_length);
}

zr_status zr_iso_fusion_insert(const uint8_t* tmpl, uint32_t length, uint16_t tag,
                               const uint8_t* value, uint32_t value_length,
                               uint8_t** out_template, uint32_t* out_length) {
    clear_outputs(out_template, out_length);
    if (tmpl == nullptr || (value == nullptr && value_length != 0) || out_template == nullptr ||
        out_length == nullptr)
        return ZR_BAD_ARGUMENT;
    tlv_node* parsed = nullptr;
    zr_status status = tlv_parse_buffer(tmpl, length, &parsed);
    if (status != ZR_OK) return status;
    tree_ptr root(parsed);
    tlv_node* parts = tlv_find_tag_in_tree(root.get(), ZR_FUSION_PARTS_TAG);
    if (parts == nullptr) return ZR_NOT_ALLOWED;
    status = append_primitive(parts, tag, value_length, value);
    if (status != ZR_OK) return status;
    return write_out(root.get(), out_template, out_length);
}

zr_status zr_fusion_to_ehm(const uint8_t* tmpl, uint32_t length, uint8_t** out_template,
                           uint32_t* out_length) {
    clear_outputs(out_template, out_length);
    if (out_template == nullptr || out_length == nullptr) return ZR_BAD_ARGUMENT;
    zr_fusion_part image{};
    zr_status status = zr_fusion_to_parts(tmpl, length, nullptr, nullptr, &image, nullptr);
    if (status != ZR_OK) return status;
    if (image.tag == 0) return ZR_BAD_DATA;
    tlv_node* parsed = nullptr;
    status = tlv_parse_buffer(tmpl, length, &parsed);
    if (status != ZR_OK) return status;
    tree_ptr root(parsed);
    // The image part is removed where zr_fusion_to_parts found it, never an
    // element of the same tag inside the card; a second image part left
    // behind would make the result still carry an image.
    tlv_node* holder = parts_holder(root.get());
    tlv_node* image_node = tlv_find_child(holder, ZR_FUSION_IMAGE_TAG);
    if (image_node == nullptr) return ZR_BAD_DATA;
    tlv_delete(image_node);
    if (tlv_find_child(holder, ZR_FUSION_IMAGE_TAG) != nullptr) return ZR_BAD_DATA;
    return write_out(root.get(), out_template, out_length);
}
