// ISO compact cards: the part lookups, both rebuilds into records, the
// conversion into the minutiae structure and the proprietary part on arbitrary
// bytes. Every part found lies inside the card, a rebuilt record is well
// formed and its blocks read, and the proprietary part has one byte a card
// minutia.
#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso_compactcard.h"
#include "fuzz_support.h"

namespace {

void check_lookups(const fuzz::ExactCopy& input) {
    tlv_element e{};
    if (zr_cc_read_minutiae_data(input.data(), input.size(), &e) == ZR_OK)
        FUZZ_CHECK(fuzz::span_inside(e.value, e.length, input.data(), input.size()));
    for (uint16_t tag : {ZR_CC_TAG_CORES, ZR_CC_TAG_CELL_QUALITY, ZR_CC_TAG_PROPRIETARY, uint16_t(0xC1)}) {
        for (int32_t form : {0, 1}) {
            const zr_status rc = zr_cc_read_extended_data(input.data(), input.size(), form, tag, &e);
            FUZZ_CHECK(rc == ZR_OK || rc == ZR_BAD_FORMAT);
            if (rc == ZR_OK) FUZZ_CHECK(fuzz::span_inside(e.value, e.length, input.data(), input.size()));
        }
    }
    FUZZ_CHECK(zr_iso19794_2_compact_card_get_length(input.data(), input.size()) <= input.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::ExactCopy input(data, size);
    check_lookups(input);
    for (auto rebuild : {zr_convert_iso_compactcard_to_standard_v2, zr_convert_iso_compactcard_to_standard_v3}) {
        uint8_t* record = nullptr;
        uint32_t length = 0;
        const zr_status rc = rebuild(input.data(), input.size(), &record, &length);
        FUZZ_CHECK(rc == ZR_OK || rc == ZR_BAD_FORMAT || rc == ZR_NO_MEMORY);
        if (rc == ZR_OK) {
            FUZZ_CHECK(zr_is_iso19794_2(record, length) == ZR_OK);
            // The record's own readers take the blocks rebuilt from the card.
            zr_reference_points cores{}, deltas{};
            FUZZ_CHECK(zr_iso19794_2_to_ref_points(record, length, &cores, &deltas) == ZR_OK);
            zr_zonal_quality_field zonal{};
            FUZZ_CHECK(zr_iso19794_2_to_quality_field(record, length, &zonal) == ZR_OK);
            std::free(zonal.cells);
        }
        std::free(record);
    }
    minutiastruct s{};
    if (zr_convert_iso_compactcard_to_minutiastruct(input.data(), input.size(), &s) != ZR_OK) return 0;
    uint32_t length = input.size();
    auto* card = static_cast<uint8_t*>(std::malloc(length));
    FUZZ_CHECK(card != nullptr);
    std::memcpy(card, input.data(), length);
    const zr_status rc = zr_iso_compactcard_extend_proprietary_data(&card, &length, &s);
    FUZZ_CHECK(rc == ZR_OK || rc == ZR_BAD_FORMAT || rc == ZR_BAD_DATA || rc == ZR_NO_MEMORY);
    if (rc == ZR_OK) {
        tlv_element minutiae{}, proprietary{};
        FUZZ_CHECK(zr_cc_read_minutiae_data(card, length, &minutiae) == ZR_OK);
        FUZZ_CHECK(zr_cc_read_extended_data(card, length, 1, ZR_CC_TAG_PROPRIETARY, &proprietary) == ZR_OK);
        FUZZ_CHECK(proprietary.length == 4 + minutiae.length / 3);
    }
    std::free(card);
    return 0;
}
