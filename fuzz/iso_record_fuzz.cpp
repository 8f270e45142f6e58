// ISO/IEC 19794-2 records: every reader, the block readers, the card
// conversion and the appenders on arbitrary bytes. Statuses are from the
// documented sets, an appended block is where the block walk finds it, and a
// record that reads also converts back and forth.
#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso_compactcard.h"
#include "fuzz_support.h"

namespace {

bool reader_status(zr_status rc) { return rc == ZR_OK || rc == ZR_BAD_FORMAT || rc == ZR_BAD_RESOLUTION; }
bool block_status(zr_status rc) {
    return rc == ZR_OK || rc == ZR_BAD_FORMAT || rc == ZR_BAD_DATA || rc == ZR_NO_MEMORY;
}

void read_blocks(const fuzz::ExactCopy& input) {
    zr_reference_points cores{}, deltas{};
    const zr_status points = zr_iso19794_2_to_ref_points(input.data(), input.size(), &cores, &deltas);
    FUZZ_CHECK(block_status(points));
    FUZZ_CHECK(cores.count <= ZR_MAX_REFERENCE_POINTS && deltas.count <= ZR_MAX_REFERENCE_POINTS);
    zr_zonal_quality_field zonal{};
    FUZZ_CHECK(block_status(zr_iso19794_2_to_quality_field(input.data(), input.size(), &zonal)));
    std::free(zonal.cells);
    zr_block_field orientation{}, frequency{};
    FUZZ_CHECK(block_status(zr_iso19794_2_to_orientation_field(input.data(), input.size(), &orientation)));
    FUZZ_CHECK(block_status(zr_iso19794_2_to_frequency_field(input.data(), input.size(), &frequency)));
    std::free(orientation.values);
    std::free(frequency.values);
}

uint16_t be16_at(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// After a successful append of a block of `type` to a record whose length
// was old_size (the buffer may have been longer): walking the blocks from the extended data length, as the readers do,
// reaches that block at the old end, and it ends at the new end.
bool appended_block_found(const uint8_t* record, uint32_t size, uint32_t old_size, uint16_t type) {
    const uint8_t* extended = nullptr;
    if (iso19794_2_get_extended_data_reference(record, size, &extended) != ZR_OK) return false;
    const uint32_t start = static_cast<uint32_t>(extended - record) + 2;
    const uint32_t declared_end = start + be16_at(extended);
    const uint32_t end = declared_end < size ? declared_end : size;
    uint32_t offset = start;
    while (offset < old_size) {
        if (end - offset < 4) return false;
        offset += 4 + be16_at(record + offset + 2);
    }
    return offset == old_size && end == size && size - old_size >= 4 && be16_at(record + old_size) == type &&
           old_size + 4 + be16_at(record + old_size + 2) == size;
}

void append_blocks(const fuzz::ExactCopy& input) {
    uint32_t size = input.size();
    auto* record = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
    FUZZ_CHECK(record != nullptr);
    if (size != 0) std::memcpy(record, input.data(), size);
    zr_reference_points cores{};
    cores.points[0] = {12, 34, {5, 0, 0}, 0, 1};
    cores.count = 1;
    uint8_t cells[4] = {10, 50, 90, 100};
    zr_zonal_quality_field zonal{};
    zonal.cells = cells;
    zonal.field_rows = 2;
    zonal.field_cols = 2;
    zonal.cell_rows = 200;
    zonal.cell_cols = 200;
    zr_block_field field{};
    field.values = cells;
    field.block_rows = 2;
    field.block_cols = 2;
    field.block_size = 12;
    uint32_t old_size = zr_iso19794_2_get_length(record, size);
    const zr_status a = zr_iso19794_2_extend_ref_points(&record, &size, &cores, &cores);
    if (a == ZR_OK) FUZZ_CHECK(appended_block_found(record, size, old_size, ZR_ISO_BLOCK_REF_POINTS));
    old_size = zr_iso19794_2_get_length(record, size);
    const zr_status b = zr_iso19794_2_extend_zonal_quality(&record, &size, &zonal, 3);
    if (b == ZR_OK) FUZZ_CHECK(appended_block_found(record, size, old_size, ZR_ISO_BLOCK_ZONAL_QUALITY));
    old_size = zr_iso19794_2_get_length(record, size);
    const zr_status c = zr_iso19794_2_extend_orientation_field(&record, &size, &field);
    if (c == ZR_OK) FUZZ_CHECK(appended_block_found(record, size, old_size, ZR_ISO_BLOCK_ORIENTATION));
    for (zr_status rc : {a, b, c}) FUZZ_CHECK(block_status(rc));
    // The size follows the record through every append.
    if (a == ZR_OK && b == ZR_OK && c == ZR_OK) FUZZ_CHECK(zr_iso19794_2_get_length(record, size) == size);
    std::free(record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::ExactCopy input(data, size);
    minutiastruct s{};
    const zr_status read = zr_iso19794_2_to_minutiastruct(input.data(), input.size(), &s);
    FUZZ_CHECK(reader_status(read));
    FUZZ_CHECK(reader_status(zr_iso19794_2_v2_to_minutiastruct(input.data(), input.size(), &s)));
    FUZZ_CHECK(reader_status(zr_iso19794_2_v3_to_minutiastruct(input.data(), input.size(), &s)));
    const zr_status well_formed = zr_is_iso19794_2(input.data(), input.size());
    FUZZ_CHECK(well_formed == ZR_OK || well_formed == ZR_BAD_FORMAT);
    if (well_formed == ZR_OK) FUZZ_CHECK(zr_iso19794_2_get_length(input.data(), input.size()) == input.size());
    read_blocks(input);
    append_blocks(input);

    uint8_t* card = nullptr;
    uint32_t card_length = 0;
    const zr_status to_card =
        zr_convert_iso_standard_to_compactcard(input.data(), input.size(), 128, &card, &card_length);
    FUZZ_CHECK(block_status(to_card));
    if (to_card == ZR_OK) {
        FUZZ_CHECK(zr_iso19794_2_compact_card_get_length(card, card_length) == card_length);
        minutiastruct back{};
        FUZZ_CHECK(zr_convert_iso_compactcard_to_minutiastruct(card, card_length, &back) == ZR_OK);
        FUZZ_CHECK(back.count <= ZR_CC_MAX_MINUTIAE);
    } else {
        FUZZ_CHECK(card == nullptr);
    }
    std::free(card);
    return 0;
}
