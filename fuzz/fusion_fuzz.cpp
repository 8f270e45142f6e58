// EHM and fusion template readers. The input is a template: every located
// part lies inside it, the spectral part and the idim record read within
// their bounds, the minutiae reader and the raw-image removal either fail
// cleanly or give what their readers accept again. The input is also tried
// as the card of the fusion writer, whose output must read back.
#include <cstdlib>

#include "formats/zr_fusion.h"
#include "formats/zr_fourier_part.h"
#include "fuzz_support.h"

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

    uint8_t* without_image = nullptr;
    uint32_t without_length = 0;
    if (zr_fusion_to_ehm(bytes, length, &without_image, &without_length) == ZR_OK) {
        zr_fusion_part removed{};
        FUZZ_CHECK(zr_fusion_to_parts(without_image, without_length, nullptr, nullptr, &removed,
                                      nullptr) == ZR_OK);
        std::free(without_image);
    } else {
        FUZZ_CHECK(without_image == nullptr);
    }

    const uint8_t summary[4] = {1, 2, 3, 4};
    uint8_t* inserted = nullptr;
    uint32_t inserted_length = 0;
    if (zr_iso_fusion_insert(bytes, length, ZR_FUSION_ALIGNMENT_TAG, summary, 4, &inserted,
                             &inserted_length) == ZR_OK)
        std::free(inserted);

    write_from_card(bytes, length);
    return 0;
}
