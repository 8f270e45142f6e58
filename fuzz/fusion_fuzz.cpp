// EHM and fusion template readers. The input is a template: every located
// part lies inside it, the spectral part and the idim record read within
// their bounds, the minutiae reader and the raw-image removal either fail
// cleanly or give what their readers accept again; a removed raw image
// leaves no image part behind and the card as it was. The input is also tried
// as the card of the fusion writer, whose output must read back.
#include <cstdlib>
#include <vector>

#include "formats/zr_fusion.h"
#include "formats/zr_fourier_part.h"
#include "objects/tlv_tree.h"
#include "fuzz_support.h"
#include "fuzz_tlv_tree.h"

namespace {

bool inside(const zr_fusion_part& part, const uint8_t* data, size_t size) {
    if (part.tag == 0 && part.value == nullptr) return part.length == 0;
    return part.value >= data && part.length <= size && part.value + part.length <= data + size;
}

void read_spectral(const zr_fusion_part& part) {
    if (part.tag == 0) return;
    zr_spectral_part_view view{};
    if (zr_spectral_part_read(part.value, part.length, &view) != ZR_OK) return;
    if (view.fine_kind == ZR_FINE_NONE) return;
    const size_t cells = size_t(view.block_rows) * view.block_cols * ZR_FINE_CELLS_PER_BLOCK;
    uint8_t* orientation = static_cast<uint8_t*>(std::malloc(cells + 1));
    uint8_t* frequency = static_cast<uint8_t*>(std::malloc(cells + 1));
    FUZZ_CHECK(zr_spectral_part_fine_grids(&view, orientation, frequency) == ZR_OK);
    std::free(orientation);
    std::free(frequency);
}

void write_from_card(const uint8_t* card, uint32_t size) {
    uint8_t orientation_values[6] = {1, 2, 3, 4, 5, 6}, frequency_values[6] = {7, 8, 9, 10, 11, 12};
    zr_block_field orientation{}, frequency{};
    orientation.flags = frequency.flags = ZR_FEATURE_ENABLE;
    orientation.block_rows = frequency.block_rows = 2;
    orientation.block_cols = frequency.block_cols = 3;
    orientation.block_size = frequency.block_size = 12;
    orientation.values = orientation_values;
    frequency.values = frequency_values;
    uint8_t* out = nullptr;
    uint32_t length = 0;
    if (zr_iso_compactcard_to_iso_fusion(card, size, &orientation, &frequency, nullptr, 176, 96,
                                         0, 50, &out, &length) != ZR_OK) {
        FUZZ_CHECK(out == nullptr);
        return;
    }
    zr_fusion_part spectral{};
    FUZZ_CHECK(zr_fusion_to_parts(out, length, nullptr, &spectral, nullptr, nullptr) == ZR_OK);
    FUZZ_CHECK(spectral.tag == ZR_FUSION_SPECTRAL_TAG);
    minutiastruct minutiae{};
    (void)zr_fusion_to_minutiastruct(out, length, &minutiae);
    std::free(out);
}

// The card's elements: the first child of an EHM root; the children of a
// fusion root other than its first 0xA2 (the parts).
std::vector<const tlv_node*> card_nodes(const tlv_node* root) {
    if (root->tag == ZR_EHM_ROOT_TAG) return {root->first_child};
    std::vector<const tlv_node*> out;
    bool parts_seen = false;
    for (const tlv_node* c = root->first_child; c != nullptr; c = c->next_sibling) {
        if (c->tag == ZR_FUSION_PARTS_TAG && !parts_seen) {
            parts_seen = true;
            continue;
        }
        out.push_back(c);
    }
    return out;
}

bool same_card(const uint8_t* before, uint32_t before_length, const uint8_t* after, uint32_t after_length) {
    tlv_node* a = nullptr;
    tlv_node* b = nullptr;
    FUZZ_CHECK(tlv_parse_buffer(before, before_length, &a) == ZR_OK);
    FUZZ_CHECK(tlv_parse_buffer(after, after_length, &b) == ZR_OK);
    const std::vector<const tlv_node*> card_a = card_nodes(a), card_b = card_nodes(b);
    bool same = card_a.size() == card_b.size();
    for (size_t i = 0; same && i < card_a.size(); ++i) same = fuzz::same_tree(card_a[i], card_b[i]);
    tlv_delete(a);
    tlv_delete(b);
    return same;
}

// A template that gives up its raw image gives up exactly that part: the
// result has no image part where the readers look, and its card is the
// input's.
void check_image_removal(const uint8_t* bytes, uint32_t length) {
    uint8_t* without_image = nullptr;
    uint32_t without_length = 0;
    if (zr_fusion_to_ehm(bytes, length, &without_image, &without_length) != ZR_OK) {
        FUZZ_CHECK(without_image == nullptr && without_length == 0);
        return;
    }
    zr_fusion_part removed{};
    FUZZ_CHECK(zr_fusion_to_parts(without_image, without_length, nullptr, nullptr, &removed, nullptr) ==
               ZR_OK);
    FUZZ_CHECK(removed.tag == 0);
    FUZZ_CHECK(same_card(bytes, length, without_image, without_length));
    std::free(without_image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFF) return 0;
    const fuzz::ExactCopy input(data, size);
    const uint8_t* bytes = input.data();
    const uint32_t length = uint32_t(input.size());

    zr_fusion_part card{}, spectral{}, image{}, idim{};
    const zr_status status = zr_fusion_to_parts(bytes, length, &card, &spectral, &image, &idim);
    FUZZ_CHECK(status == ZR_OK || status == ZR_BAD_DATA || status == ZR_BAD_ARGUMENT);
    for (const zr_fusion_part& part : {card, spectral, image, idim})
        FUZZ_CHECK(inside(part, bytes, length));
    if (status == ZR_OK) {
        read_spectral(spectral);
        uint16_t rows = 0, cols = 0;
        uint8_t quality = 0;
        if (idim.tag != 0) (void)zr_fusion_idim_to_parts(idim.value, int32_t(idim.length), &rows, &cols, &quality);
    }

    minutiastruct minutiae{};
    const zr_status read = zr_fusion_to_minutiastruct(bytes, length, &minutiae);
    if (read == ZR_OK) FUZZ_CHECK(minutiae.count <= ZR_MAX_MINUTIAE);

    check_image_removal(bytes, length);

    const uint8_t summary[4] = {1, 2, 3, 4};
    uint8_t* inserted = nullptr;
    uint32_t inserted_length = 0;
    if (zr_iso_fusion_insert(bytes, length, ZR_FUSION_ALIGNMENT_TAG, summary, 4, &inserted,
                             &inserted_length) == ZR_OK)
        std::free(inserted);

    write_from_card(bytes, length);
    return 0;
}
