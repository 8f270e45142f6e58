// Bounded lookups of the parts of a compact card.
#include "formats/zr_iso_compactcard.h"

#include <initializer_list>

namespace {

constexpr uint32_t kRootTagBytes = 2;

// The root element of card[0..size) when it is a 0x7F2E element that fits.
bool read_root(const uint8_t* card, uint32_t size, tlv_element* root) {
    if (card == nullptr) return false;
    // An unsupported length form reads as the two tag bytes alone.
    if (tlv_read(card, size, root) <= kRootTagBytes) return false;
    return root->tag == ZR_CC_TAG_ROOT;
}

bool find_in(const tlv_element& root, std::initializer_list<uint16_t> path, tlv_element* out) {
    return tlv_find_nested_tag(root.value, root.length, path.begin(), uint32_t(path.size()), out) == 1;
}

}  // namespace

uint32_t zr_iso19794_2_compact_card_get_length(const uint8_t* card, uint32_t size) {
    tlv_element root{};
    if (!read_root(card, size, &root)) return 0;
    return tlv_read(card, size, &root);
}

zr_status zr_cc_read_tag(const uint8_t* card, uint32_t size, const uint16_t* path, uint32_t depth,
                         tlv_element* out) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    tlv_element root{};
    if (!read_root(card, size, &root)) return ZR_BAD_FORMAT;
    return tlv_find_nested_tag(root.value, root.length, path, depth, out) == 1 ? ZR_OK : ZR_BAD_FORMAT;
}

zr_status zr_cc_read_minutiae_data(const uint8_t* card, uint32_t size, tlv_element* out) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    tlv_element root{};
    if (!read_root(card, size, &root)) return ZR_BAD_FORMAT;
    if (find_in(root, {ZR_CC_TAG_MINUTIAE}, out) || find_in(root, {ZR_CC_TAG_CARD, ZR_CC_TAG_MINUTIAE}, out) ||
        find_in(root, {ZR_CC_TAG_MINUTIAE_V2}, out) || find_in(root, {ZR_CC_TAG_CARD, ZR_CC_TAG_MINUTIAE_V2}, out))
        return ZR_OK;
    return ZR_BAD_FORMAT;
}

zr_status zr_cc_read_extended_data(const uint8_t* card, uint32_t size, int32_t card_form, uint16_t tag,
                                   tlv_element* out) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    tlv_element root{};
    if (!read_root(card, size, &root)) return ZR_BAD_FORMAT;
    const uint16_t parent = card_form != 0 ? ZR_CC_TAG_CARD : ZR_CC_TAG_FUSION;
    const bool direct_first = card_form != 0 || tag == ZR_CC_TAG_PROPRIETARY;
    if (direct_first && find_in(root, {tag}, out)) return ZR_OK;
    return find_in(root, {parent, tag}, out) ? ZR_OK : ZR_BAD_FORMAT;
}
