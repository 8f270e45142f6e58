#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ber_oracle.h"
#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso_compactcard.h"
#include "iso_record_fixtures.h"
#include "objects/zr_alloc.h"

using namespace iso_test;

namespace {

// The tag layout of a card as read by the independent decoder, e.g.
// "7F2E{A1{90,92},82}".
std::string shape_of(const ber_oracle::Node& node) {
    char tag[8];
    std::snprintf(tag, sizeof tag, "%X", node.tag);
    std::string out = tag;
    if (node.constructed) {
        out += "{";
        for (size_t i = 0; i < node.children.size(); ++i) out += (i ? "," : "") + shape_of(node.children[i]);
        out += "}";
    }
    return out;
}

std::string shape(const bytes& card) {
    ber_oracle::Node root;
    if (!ber_oracle::decode_first(card.data(), card.size(), {}, &root)) return "undecodable";
    return shape_of(root);
}

// The value of the element at a path, found by the independent decoder.
bytes part(const bytes& card, std::initializer_list<uint16_t> path) {
    ber_oracle::Node node;
    if (!ber_oracle::decode_first(card.data(), card.size(), {}, &node)) return {};
    for (uint16_t tag : path) {
        const ber_oracle::Node* next = nullptr;
        for (const auto& child : node.children)
            if (child.tag == tag) next = &child;
        if (next == nullptr) return {};
        node = *next;
    }
    return bytes(card.begin() + node.value_offset, card.begin() + node.value_offset + node.length);
}

bytes card_of(const minutiastruct& s, uint32_t limit, bool v2011 = false) {
    uint8_t* card = nullptr;
    uint32_t length = 0;
    const zr_status rc = v2011 ? zr_convert_minutiastruct_to_iso_compactcard_v3(&s, limit, &card, &length)
                               : zr_convert_minutiastruct_to_iso_compactcard(&s, limit, &card, &length);
    EXPECT_EQ(ZR_OK, rc);
    return rc == ZR_OK ? take(card, length) : bytes{};
}

bytes card_of_record(const bytes& record, uint32_t limit) {
    uint8_t* card = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(ZR_OK,
              zr_convert_iso_standard_to_compactcard(record.data(), uint32_t(record.size()), limit, &card, &length));
    return take(card, length);
}

bytes record_of(const minutiastruct& s, bool v2011 = false) {
    uint8_t* r = nullptr;
    EXPECT_EQ(ZR_OK, v2011 ? zr_minutiastruct_to_iso19794_2_v3(&s, &r) : zr_minutiastruct_to_iso19794_2_v2(&s, &r));
    return take(r, zr_iso19794_2_get_length(r, 12));
}

template <typename Append>
void append(bytes* record, Append&& fn) {
    auto* buffer = static_cast<uint8_t*>(std::malloc(record->size()));
    std::memcpy(buffer, record->data(), record->size());
    uint32_t size = uint32_t(record->size());
    EXPECT_EQ(ZR_OK, fn(&buffer, &size));
    *record = take(buffer, size);
}

bytes extend(bytes card, const minutiastruct& s, zr_status expected = ZR_OK) {
    auto* buffer = static_cast<uint8_t*>(std::malloc(card.size()));
    std::memcpy(buffer, card.data(), card.size());
    uint32_t length = uint32_t(card.size());
    EXPECT_EQ(expected, zr_iso_compactcard_extend_proprietary_data(&buffer, &length, &s));
    return take(buffer, length);
}

minutiastruct with_points(std::initializer_list<std::pair<int16_t, int16_t>> cols_rows, uint16_t size = 800) {
    minutiastruct s{};
    s.rows = size;
    s.cols = size;
    s.resolution = 197;
    for (const auto& [col, row] : cols_rows) {
        minutia& m = s.minutiae[s.count++];
        m.col = col;
        m.row = row;
        m.angle = 40;
        m.type = ZR_MINUTIA_ENDING;
        m.quality = 60;
        m.ridge_period = 7;
    }
    return s;
}

TEST(CompactCard, ThroughTheCardAndBackWithinOnePixel) {
    for (bool v2011 : {false, true}) {
        SCOPED_TRACE(v2011);
        const minutiastruct s = sample_minutiae(60, 3);
        const bytes card = card_of(s, 64, v2011);
        EXPECT_EQ(v2011 ? "7F2E{81}" : "7F2E{A1{90}}", shape(card));
        EXPECT_EQ(card.size(), zr_iso19794_2_compact_card_get_length(card.data(), uint32_t(card.size())));
        minutiastruct out{};
        ASSERT_EQ(ZR_OK, zr_convert_iso_compactcard_to_minutiastruct(card.data(), uint32_t(card.size()), &out));
        ASSERT_EQ(60, out.count);
        for (uint32_t i = 0; i < 60; ++i) {
            SCOPED_TRACE(i);
            EXPECT_LE(std::abs(out.minutiae[i].col - s.minutiae[i].col), 1);
            EXPECT_LE(std::abs(out.minutiae[i].row - s.minutiae[i].row), 1);
            const int diff = std::abs(int(out.minutiae[i].angle) - int(s.minutiae[i].angle));
            EXPECT_LE(std::min(diff, 256 - diff), 2);
            EXPECT_EQ(s.minutiae[i].type, out.minutiae[i].type);
            EXPECT_EQ(0, out.minutiae[i].quality);
        }
        EXPECT_EQ(ZR_ISO_V2_DEVICE_ID, out.device_id);
    }
}

TEST(CompactCard, CoordinateAndAngleEdges) {
    minutiastruct s = with_points({{492, 0}, {0, 492}});
    s.minutiae[0].angle = 254;
    s.minutiae[1].angle = 253;
    bytes m = part(card_of(s, 64), {0xA1, 0x90});
    EXPECT_EQ(bytes({250, 0, 0x40 | 0, 0, 250, 0x40 | 63}), m);
    s.minutiae[0].angle = 255;
    s.minutiae[0].type = ZR_MINUTIA_BIFURCATION;
    m = part(card_of(s, 64), {0xA1, 0x90});
    EXPECT_EQ(0x80, m[2]);
}

TEST(CompactCard, MinutiaeOutsideTheCardAreLeftOutOfItAndOfTheProprietaryPart) {
    // Span 500: no shift, and x = 600 does not fit a byte.
    minutiastruct s = with_points({{100, 10}, {600, 20}, {300, 30}});
    s.minutiae[2].quality = 100;
    s.minutiae[2].ridge_period = 0x1B;
    const bytes card = card_of(s, 64);
    const bytes m = part(card, {0xA1, 0x90});
    ASSERT_EQ(6u, m.size());
    EXPECT_EQ((100 * 800 / 197 + 4) / 8, m[0]);
    EXPECT_EQ((300 * 800 / 197 + 4) / 8, m[3]);
    const bytes extended = extend(card, s);
    EXPECT_EQ("7F2E{A1{90},82}", shape(extended));
    const bytes p = part(extended, {0x82});
    EXPECT_EQ(bytes({0x98, 0xEC, 0x15, 0xE1, 0x97, 0xFB}), p);  // 60 -> 9, 100 -> 15

    // Span 450: shifted by 650 - 492 = 158 pixels.
    const bytes shifted = part(card_of(with_points({{200, 10}, {650, 20}}), 64), {0xA1, 0x90});
    ASSERT_EQ(6u, shifted.size());
    EXPECT_EQ((42 * 800 / 197 + 4) / 8, shifted[0]);
    EXPECT_EQ(250, shifted[3]);
}

TEST(CompactCard, MinutiaLimits) {
    minutiastruct many{};
    many.resolution = 197;
    for (uint32_t i = 0; i < 200; ++i) {
        many.minutiae[i] = {int16_t(i), int16_t(i * 2), uint8_t(i), 1, 50, 5};  // row, column
    }
    many.count = 200;
    EXPECT_EQ(128u * 3, part(card_of(many, 200), {0xA1, 0x90}).size());
    const bytes ten = part(card_of(many, 10), {0xA1, 0x90});
    ASSERT_EQ(30u, ten.size());
    EXPECT_EQ((18 * 800 / 197 + 4) / 8, ten[27]);
    // The proprietary part follows the card's limit.
    many.count = 40;
    const bytes extended = extend(card_of(many, 10), many);
    EXPECT_EQ(14u, part(extended, {0x82}).size());
}

TEST(CompactCard, CardToRecordShapes) {
    const minutiastruct s = sample_minutiae(7);
    const bytes card = card_of(s, 64);
    uint8_t* r = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(ZR_OK, zr_convert_iso_compactcard_to_standard(card.data(), uint32_t(card.size()), &r, &length));
    bytes record = take(r, length);
    EXPECT_EQ(30u + 6 * 7, record.size());
    EXPECT_EQ(0, be16(record, record.size() - 2));
    EXPECT_EQ(ZR_OK, zr_is_iso19794_2(record.data(), uint32_t(record.size())));
    ASSERT_EQ(ZR_OK, zr_convert_iso_compactcard_to_standard_v3(card.data(), uint32_t(card.size()), &r, &length));
    record = take(r, length);
    EXPECT_EQ(54u + 6 * 7, record.size());
    EXPECT_EQ(ZR_OK, zr_is_iso19794_2(record.data(), uint32_t(record.size())));
    EXPECT_EQ(0x01030000u, be32(record, 29));
}

TEST(CompactCard, CardToRecordTable) {
    using ber_oracle::concat;
    using ber_oracle::encode;
    struct Case {
        const char* name;
        bytes card;
        zr_status expected;
    };
    const bytes three = {10, 20, 30};
    const std::vector<Case> cases = {
        {"minutiae part of 7 bytes", encode(0x7F2E, encode(0x81, bytes(7, 1))), ZR_BAD_FORMAT},
        {"no minutiae part", encode(0x7F2E, encode(0x92, {0})), ZR_BAD_FORMAT},
        {"other root", encode(0x7F2F, encode(0x81, three)), ZR_BAD_FORMAT},
        {"256 minutiae", encode(0x7F2E, encode(0x81, bytes(768, 1))), ZR_BAD_FORMAT},
        {"cell part of 3 bytes", encode(0x7F2E, concat({encode(0x81, three), encode(0x94, {164, 1, 1})})),
         ZR_BAD_FORMAT},
        {"cell code 0", encode(0x7F2E, concat({encode(0x81, three), encode(0x94, {0, 1, 1, 2, 0})})),
         ZR_BAD_FORMAT},
        {"cell code 7 (width 281)", encode(0x7F2E, concat({encode(0x81, three), encode(0x94, {7, 1, 1, 2, 0})})),
         ZR_BAD_FORMAT},
        {"five cores", encode(0x7F2E, concat({encode(0x81, three), encode(0x92, {5, 0, 1, 0, 1})})),
         ZR_BAD_FORMAT},
        {"delta angles cut", encode(0x7F2E, concat({encode(0x81, three), encode(0x93, {1, 0x40, 1, 0, 1, 9})})),
         ZR_BAD_FORMAT},
        // The rebuilt block would read the byte as the delta count.
        {"a byte behind the cores", encode(0x7F2E, concat({encode(0x81, three), encode(0x92, {1, 0, 1, 0, 1, 0x0F}),
                                                            encode(0x93, {0})})),
         ZR_BAD_FORMAT},
        {"root runs past the buffer", bytes({0x7F, 0x2E, 0x05, 0x81, 0x03, 1, 2}), ZR_BAD_FORMAT},
        // Cell parts that would rebuild into a zonal-quality block the record
        // reader refuses; the first one was found by fuzzing.
        {"cell bits 0x7A", bytes({0x7F, 0x2E, 0x0D, 0x81, 0x03, 0x21, 0x46, 0x41, 0x94, 0x06, 0xA4, 0x01, 0x01, 0x7A,
                                  0x00, 0x00}),
         ZR_BAD_FORMAT},
        {"cell bits 0", encode(0x7F2E, concat({encode(0x81, three), encode(0x94, {164, 1, 1, 0, 0})})),
         ZR_BAD_FORMAT},
        {"cell bits 9", encode(0x7F2E, concat({encode(0x81, three), encode(0x94, {164, 1, 1, 9, 0, 0})})),
         ZR_BAD_FORMAT},
        {"cell codes short of 10 x 10 cells", encode(0x7F2E, concat({encode(0x81, three),
                                                                    encode(0x94, concat({{164, 10, 10, 2},
                                                                                         bytes(24, 0)}))})),
         ZR_BAD_FORMAT},
        // A cell part of 65533 bytes gives a zonal block of 65536 bytes in a
        // 2005 record (65540 in a 2011 one), past the 16-bit extended length.
        {"extended data of 65536 bytes", encode(0x7F2E, concat({encode(0x81, three),
                                                               encode(0x94, concat({{164, 1, 1, 8},
                                                                                    bytes(65529, 0)}))})),
         ZR_BAD_FORMAT},
        // The largest a card may hold converts, and the records rebuilt from
        // it read back.
        {"cell code 8 (width 246)", encode(0x7F2E, concat({encode(0x81, three), encode(0x94, {8, 1, 1, 2, 0})})),
         ZR_OK},
        {"255 minutiae", encode(0x7F2E, encode(0x81, bytes(765, 1))), ZR_OK},
        // 5 x 4 cells of 12 pixels, 2 bits a cell.
        {"cell quality", encode(0x7F2E, concat({encode(0x81, three),
                                                encode(0x94, {164, 5, 4, 2, 0x1B, 0xE4, 0x6C, 0x93, 0xFF})})),
         ZR_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t n = part(c.card, {0x81}).size() / 3;
        const bytes cell = part(c.card, {0x94});
        std::vector<std::vector<uint8_t>> grids;  // quality cells read back from each rebuilt record
        for (auto rebuild : {zr_convert_iso_compactcard_to_standard_v2, zr_convert_iso_compactcard_to_standard_v3}) {
            uint8_t* r = nullptr;
            uint32_t length = 0;
            EXPECT_EQ(c.expected, rebuild(c.card.data(), uint32_t(c.card.size()), &r, &length));
            if (c.expected != ZR_OK || r == nullptr) {
                EXPECT_EQ(nullptr, r);
                std::free(r);
                continue;
            }
            const bytes record = take(r, length);
            EXPECT_EQ(ZR_OK, zr_is_iso19794_2(record.data(), uint32_t(record.size())));
            minutiastruct back{};
            EXPECT_EQ(ZR_OK, zr_iso19794_2_to_minutiastruct(record.data(), uint32_t(record.size()), &back));
            EXPECT_EQ(n, back.count);
            zr_zonal_quality_field q{};
            EXPECT_EQ(ZR_OK, zr_iso19794_2_to_quality_field(record.data(), uint32_t(record.size()), &q));
            if (!cell.empty()) {
                EXPECT_EQ(cell[1], q.field_cols);
                EXPECT_EQ(cell[2], q.field_rows);
                EXPECT_EQ(1970 / cell[0], q.cell_cols);
                EXPECT_EQ(1970 / cell[0], q.cell_rows);
            }
            grids.emplace_back(q.cells, q.cells + q.field_rows * q.field_cols);
            std::free(q.cells);
        }
        // The 2011 zonal block, with its four leading bytes, reads as the 2005 one.
        if (grids.size() == 2) {
            EXPECT_EQ(grids[0], grids[1]);
        }
        minutiastruct out{};
        EXPECT_EQ(c.expected, zr_convert_iso_compactcard_to_minutiastruct(c.card.data(), uint32_t(c.card.size()),
                                                                           &out));
        if (c.expected == ZR_OK) {
            EXPECT_EQ(n, out.count);
        }
    }
}

TEST(CompactCard, ReferencePointsAndCellQualityRoundTrip) {
    // 300 x 400 image, cells of 12 pixels: 25 across, 34 down.
    const minutiastruct s = sample_minutiae(5);
    bytes record = record_of(s);
    zr_reference_points cores{};
    cores.points[0] = {100, 150, {20, 0, 0}, 0, 1};
    cores.count = 1;
    zr_reference_points deltas{};
    deltas.points[0] = {300, 50, {10, 95, 180}, 0, 1};
    deltas.points[1] = {310, 60, {0, 0, 0}, 0, 0};
    deltas.count = 2;
    append(&record, [&](uint8_t** p, uint32_t* n) { return zr_iso19794_2_extend_ref_points(p, n, &cores, &deltas); });
    std::vector<uint8_t> cells(34 * 26, 70);
    zr_zonal_quality_field field{};
    field.cells = cells.data();
    field.field_rows = 34;
    field.field_cols = 26;
    field.cell_rows = 12;
    field.cell_cols = 12;
    append(&record, [&](uint8_t** p, uint32_t* n) { return zr_iso19794_2_extend_zonal_quality(p, n, &field, 2); });

    const bytes card = card_of_record(record, 64);
    EXPECT_EQ("7F2E{A1{90,92,93,94}}", shape(card));
    const bytes cell = part(card, {0xA1, 0x94});
    ASSERT_GE(cell.size(), 4u);
    EXPECT_EQ(bytes({164, 25, 34, 2}), bytes(cell.begin(), cell.begin() + 4));
    EXPECT_EQ(1u + 3 + (25 * 34 * 2 + 7) / 8, cell.size());
    const bytes core_part = part(card, {0xA1, 0x92});
    const uint32_t cx = (150 * 800 / 197 + 4) >> 3, cy = (100 * 800 / 197 + 4) >> 3;
    EXPECT_EQ(bytes({1, uint8_t(0x40 | (cx >> 8)), uint8_t(cx), uint8_t(cy >> 8), uint8_t(cy), 20}), core_part);

    uint8_t* r = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(ZR_OK, zr_convert_iso_compactcard_to_standard(card.data(), uint32_t(card.size()), &r, &length));
    const bytes rebuilt = take(r, length);
    EXPECT_EQ(ZR_OK, zr_is_iso19794_2(rebuilt.data(), uint32_t(rebuilt.size())));
    minutiastruct out{};
    ASSERT_EQ(ZR_OK, zr_iso19794_2_to_minutiastruct(rebuilt.data(), uint32_t(rebuilt.size()), &out));
    // The image size is the cell size times the cell counts.
    EXPECT_EQ(12 * 25, out.cols);
    EXPECT_EQ(12 * 34, out.rows);
    zr_reference_points rc{}, rd{};
    ASSERT_EQ(ZR_OK, zr_iso19794_2_to_ref_points(rebuilt.data(), uint32_t(rebuilt.size()), &rc, &rd));
    ASSERT_EQ(1, rc.count);
    ASSERT_EQ(2, rd.count);
    EXPECT_LE(std::abs(rc.points[0].col - 150), 1);
    EXPECT_LE(std::abs(rc.points[0].row - 100), 1);
    EXPECT_EQ(20, rc.points[0].angles[0]);
    EXPECT_EQ(180, rd.points[0].angles[2]);
    EXPECT_LE(std::abs(rd.points[1].col - 60), 1);
    zr_zonal_quality_field q{};
    ASSERT_EQ(ZR_OK, zr_iso19794_2_to_quality_field(rebuilt.data(), uint32_t(rebuilt.size()), &q));
    ASSERT_EQ(25, q.field_cols);
    ASSERT_EQ(34, q.field_rows);
    for (uint32_t i = 0; i < 25u * 34; ++i) ASSERT_EQ(99, q.cells[i]) << i;
    std::free(q.cells);
}

TEST(CompactCard, ZonalGridsTheCardCannotHoldAreLeftOut) {
    struct Case {
        const char* name;
        uint8_t width, height;
    };
    for (const Case& c : {Case{"cells under 8 px", 6, 6}, Case{"non-square", 12, 16}, Case{"wide cells", 64, 64},
                          Case{"over 255 across", 1, 1}}) {
        SCOPED_TRACE(c.name);
        minutiastruct s = sample_minutiae(3);
        s.cols = 300;
        bytes record = record_of(s);
        uint8_t cell = 50;
        zr_zonal_quality_field field{};
        field.cells = &cell;
        field.field_rows = 1;
        field.field_cols = 1;
        field.cell_rows = c.height;
        field.cell_cols = c.width;
        append(&record, [&](uint8_t** p, uint32_t* n) { return zr_iso19794_2_extend_zonal_quality(p, n, &field, 1); });
        EXPECT_EQ("7F2E{A1{90}}", shape(card_of_record(record, 64)));
    }
}

TEST(CompactCard, RecordBlocksThatCannotBeConverted) {
    const bytes base = record_of(sample_minutiae(3));
    const size_t ext = base.size() - 2;
    struct Case {
        const char* name;
        bytes block;
        zr_status expected;
    };
    for (const Case& c : {Case{"zero cell width", {0x00, 0x03, 0x00, 0x04, 0, 12, 2, 0}, ZR_BAD_FORMAT},
                          Case{"two zonal data bytes", {0x00, 0x03, 0x00, 0x02, 12, 12}, ZR_BAD_FORMAT},
                          Case{"five cores", {0x00, 0x02, 0x00, 0x02, 5, 0}, ZR_BAD_FORMAT},
                          Case{"core cut", {0x00, 0x02, 0x00, 0x03, 1, 0x40, 1}, ZR_BAD_FORMAT},
                          // 300 x 400 pixels in 12-pixel cells: 25 x 34 cells.
                          Case{"zonal bits 0", {0x00, 0x03, 0x00, 0x04, 12, 12, 0, 0}, ZR_BAD_FORMAT},
                          Case{"zonal bits 9", {0x00, 0x03, 0x00, 0x05, 12, 12, 9, 0, 0}, ZR_BAD_FORMAT},
                          Case{"zonal codes short", {0x00, 0x03, 0x00, 0x04, 12, 12, 2, 0}, ZR_BAD_FORMAT},
                          Case{"block past the extended data", {0x00, 0x02, 0x00, 0x09, 0, 0}, ZR_BAD_DATA}}) {
        SCOPED_TRACE(c.name);
        bytes record = base;
        record.insert(record.end(), c.block.begin(), c.block.end());
        put_be16(record, ext, uint16_t(c.block.size()));
        put_be32(record, 8, uint32_t(record.size()));
        uint8_t* card = nullptr;
        uint32_t length = 0;
        EXPECT_EQ(c.expected,
                  zr_convert_iso_standard_to_compactcard(record.data(), uint32_t(record.size()), 64, &card, &length));
        EXPECT_EQ(nullptr, card);
    }
    // Two views, a 2011 record with two representations, and a record given to
    // the entry for the other edition.
    bytes two_views = base;
    two_views[22] = 2;
    const bytes v3 = record_of(sample_minutiae(3), true);
    bytes two_representations = v3;
    put_be16(two_representations, 12, 2);
    using entry = zr_status (*)(const uint8_t*, uint32_t, uint32_t, uint8_t**, uint32_t*);
    struct Whole {
        const char* name;
        const bytes& record;
        entry convert;
        zr_status expected;
    };
    for (const Whole& w : {Whole{"two views", two_views, zr_convert_iso_standard_to_compactcard, ZR_BAD_FORMAT},
                           Whole{"two representations", two_representations, zr_convert_iso_standard_to_compactcard,
                                 ZR_BAD_FORMAT},
                           Whole{"2011 record to the 2005 entry", v3, zr_convert_iso_v2_standard_to_compactcard,
                                 ZR_BAD_FORMAT},
                           Whole{"2005 record to the 2011 entry", base, zr_convert_iso_v3_standard_to_compactcard,
                                 ZR_BAD_FORMAT},
                           Whole{"2005 record to the 2005 entry", base, zr_convert_iso_v2_standard_to_compactcard,
                                 ZR_OK},
                           Whole{"2011 record to the 2011 entry", v3, zr_convert_iso_v3_standard_to_compactcard,
                                 ZR_OK}}) {
        SCOPED_TRACE(w.name);
        uint8_t* card = nullptr;
        uint32_t length = 0;
        EXPECT_EQ(w.expected, w.convert(w.record.data(), uint32_t(w.record.size()), 64, &card, &length));
        EXPECT_EQ(w.expected == ZR_OK, card != nullptr);
        std::free(card);
    }
}

TEST(CompactCard, CoresBeforeTheShiftAreLeftOut) {
    // Minutiae from 300 to 700 pixels along one axis shift it by 208 pixels;
    // of two points at 100 and 600 along it, the first is before the shift.
    const auto to_card = [](uint32_t pixel, uint32_t shift) { return ((pixel - shift) * 800 / 197 + 4) >> 3; };
    struct Case {
        const char* name;
        minutiastruct minutiae;
        zr_reference_point before, kept;  // row, column
        uint32_t x, y;                     // card coordinates of the kept point
    };
    for (const Case& c :
         {Case{"x shift", with_points({{300, 10}, {700, 20}}), {10, 100, {0, 0, 0}, 0, 0}, {10, 600, {0, 0, 0}, 0, 0},
               to_card(600, 208), to_card(10, 0)},
          Case{"y shift", with_points({{10, 300}, {20, 700}}), {100, 10, {0, 0, 0}, 0, 0}, {600, 10, {0, 0, 0}, 0, 0},
               to_card(10, 0), to_card(600, 208)}}) {
        SCOPED_TRACE(c.name);
        bytes record = record_of(c.minutiae);
        zr_reference_points cores{};
        cores.points[0] = c.before;
        cores.points[1] = c.kept;
        cores.count = 2;
        append(&record,
               [&](uint8_t** p, uint32_t* n) { return zr_iso19794_2_extend_ref_points(p, n, &cores, &cores); });
        const bytes card = card_of_record(record, 64);
        const bytes expected = {1, uint8_t(c.x >> 8), uint8_t(c.x), uint8_t(c.y >> 8), uint8_t(c.y)};
        EXPECT_EQ(expected, part(card, {0xA1, 0x92}));
        EXPECT_EQ(expected, part(card, {0xA1, 0x93}));
    }
}

TEST(CompactCard, ProprietaryForms) {
    minutiastruct s = sample_minutiae(4);
    s.minutiae[0].quality = 100;
    s.minutiae[1].quality = 50;
    s.minutiae[2].quality = 0;
    s.minutiae[3].quality = 99;
    const bytes only81 = card_of(s, 64, true);
    const bytes extended = extend(only81, s);
    EXPECT_EQ("7F2E{81,82}", shape(extended));
    const bytes p = part(extended, {0x82});
    ASSERT_EQ(8u, p.size());
    EXPECT_EQ(15, p[4] >> 4);
    EXPECT_EQ(8, p[5] >> 4);
    EXPECT_EQ(0, p[6] >> 4);
    EXPECT_EQ(15, p[7] >> 4);
    EXPECT_EQ(s.minutiae[1].ridge_period & 15, p[5] & 15);
    EXPECT_EQ(part(only81, {0x81}), part(extended, {0x81}));

    // Extending again replaces the part.
    s.minutiae[0].quality = 0;
    const bytes again = extend(extended, s);
    EXPECT_EQ("7F2E{81,82}", shape(again));
    EXPECT_EQ(0, part(again, {0x82})[4] >> 4);

    // 0x81 with 0x92 counts two parts.
    using ber_oracle::concat;
    using ber_oracle::encode;
    const bytes two = encode(0x7F2E, concat({encode(0x81, part(only81, {0x81})), encode(0x92, {0})}));
    EXPECT_EQ("7F2E{A1{81,92},82}", shape(extend(two, s)));
    EXPECT_EQ("7F2E{A1{90},82}", shape(extend(card_of(s, 64), s)));

    // A structure that does not give the card's minutiae.
    minutiastruct other = sample_minutiae(2);
    const bytes unchanged = extend(only81, other, ZR_BAD_DATA);
    EXPECT_EQ(only81, unchanged);
    extend(encode(0x7F2E, {}), s, ZR_BAD_FORMAT);
    extend(encode(0x7F2F, encode(0x81, {1, 2, 3})), s, ZR_BAD_FORMAT);
}

TEST(CompactCard, PartLookups) {
    using ber_oracle::concat;
    using ber_oracle::encode;
    const bytes fusion = encode(0x7F2E, concat({encode(0xA1, encode(0x81, {1, 2, 3})),
                                                encode(0xA2, concat({encode(0xC1, {9}), encode(0x82, {8})})),
                                                encode(0x82, {7})}));
    const uint32_t n = uint32_t(fusion.size());
    tlv_element e{};
    ASSERT_EQ(ZR_OK, zr_cc_read_minutiae_data(fusion.data(), n, &e));
    EXPECT_EQ(3u, e.length);
    ASSERT_EQ(ZR_OK, zr_cc_read_extended_data(fusion.data(), n, 0, 0xC1, &e));
    EXPECT_EQ(9, e.value[0]);
    ASSERT_EQ(ZR_OK, zr_cc_read_extended_data(fusion.data(), n, 0, 0x82, &e));
    EXPECT_EQ(7, e.value[0]);  // directly under the root first
    EXPECT_EQ(ZR_BAD_FORMAT, zr_cc_read_extended_data(fusion.data(), n, 0, 0x81, &e));
    ASSERT_EQ(ZR_OK, zr_cc_read_extended_data(fusion.data(), n, 1, 0x81, &e));
    const uint16_t path[] = {0xA2, 0xC1};
    EXPECT_EQ(ZR_OK, zr_cc_read_tag(fusion.data(), n, path, 2, &e));
    EXPECT_EQ(ZR_BAD_FORMAT, zr_cc_read_tag(fusion.data(), n - 1, path, 2, &e));
    EXPECT_EQ(n, zr_iso19794_2_compact_card_get_length(fusion.data(), n));
    EXPECT_EQ(0u, zr_iso19794_2_compact_card_get_length(fusion.data(), n - 1));
    EXPECT_EQ(0u, zr_iso19794_2_compact_card_get_length(nullptr, n));
}

TEST(CompactCard, ConversionsReportNoMemory) {
    // Each allocation in turn fails; nothing leaks and nothing is handed out.
    const minutiastruct s = sample_minutiae(5);
    bytes record = record_of(s);
    std::vector<uint8_t> cells(40 * 40, 50);
    zr_zonal_quality_field field{};
    field.cells = cells.data();
    field.field_rows = 40;
    field.field_cols = 40;
    field.cell_rows = 12;
    field.cell_cols = 12;
    append(&record, [&](uint8_t** p, uint32_t* n) { return zr_iso19794_2_extend_zonal_quality(p, n, &field, 2); });
    for (int32_t successes = 0; successes < 3; ++successes) {
        uint8_t* card = nullptr;
        uint32_t length = 0;
        uint8_t* second = nullptr;
        zr_alloc_fail_after(successes);
        const zr_status a = zr_convert_iso_standard_to_compactcard(record.data(), uint32_t(record.size()), 64,
                                                                   &card, &length);
        zr_alloc_fail_after(successes);
        const zr_status b = zr_convert_minutiastruct_to_iso_compactcard(&s, 64, &second, &length);
        zr_alloc_fail_after(-1);
        if (successes == 0) {
            EXPECT_EQ(ZR_NO_MEMORY, a);
            EXPECT_EQ(ZR_NO_MEMORY, b);
            EXPECT_EQ(nullptr, card);
            EXPECT_EQ(nullptr, second);
        } else {
            EXPECT_EQ(ZR_OK, a);
            EXPECT_EQ(ZR_OK, b);
        }
        std::free(card);
        std::free(second);
    }
    const bytes card = card_of_record(record, 64);
    uint8_t* r = nullptr;
    uint32_t length = 0;
    zr_alloc_fail_after(0);
    EXPECT_EQ(ZR_NO_MEMORY, zr_convert_iso_compactcard_to_standard(card.data(), uint32_t(card.size()), &r, &length));
    zr_alloc_fail_after(-1);
    EXPECT_EQ(nullptr, r);
}

// --- Normalisation ---

struct ContainerDeleter {
    void operator()(zr_template_container* c) const { zr_template_container_free(c); }
};
using container_ptr = std::unique_ptr<zr_template_container, ContainerDeleter>;

container_ptr container_with(const minutiastruct& s) {
    container_ptr c(zr_template_container_alloc());
    c->minutiae = s;
    return c;
}

uint8_t* filled(uint32_t size, uint32_t seed) {
    auto* p = static_cast<uint8_t*>(std::malloc(size));
    for (uint32_t i = 0; i < size; ++i) p[i] = uint8_t(i * 7 + seed);
    return p;
}

TEST(CompactCardNormalise, SmallImagesAndInsideMinutiaeAreUntouched) {
    for (const auto& [rows, cols, x] : {std::tuple{400, 400, 390}, std::tuple{600, 300, 290}}) {
        minutiastruct s = with_points({{int16_t(x), 492}, {10, 10}}, 0);
        s.rows = uint16_t(rows);
        s.cols = uint16_t(cols);
        container_ptr c = container_with(s);
        const minutiastruct before = c->minutiae;
        zr_normalize_for_isocc(c.get());
        EXPECT_EQ(0, std::memcmp(&before, &c->minutiae, sizeof before));
    }
}

TEST(CompactCardNormalise, ShiftsByWholeBlocksAndCropsEveryGrid) {
    // 640 x 600 image, 12-px blocks: 50 x 53 blocks down and across.
    minutiastruct s = with_points({{200, 100}, {630, 500}, {150, 95}});
    s.rows = 600;
    s.cols = 640;
    container_ptr c = container_with(s);
    zr_block_field& o = c->orientation;
    o.block_rows = 50;
    o.block_cols = 53;
    o.block_size = 12;
    o.values = filled(50 * 53, 1);
    o.fine = filled(150 * 159, 2);
    zr_block_field& f = c->frequency;
    f.block_rows = 50;
    f.block_cols = 53;
    f.block_size = 12;
    f.values = filled(50 * 53, 3);
    const std::vector<uint8_t> old_o(o.values, o.values + 50 * 53);
    const std::vector<uint8_t> old_fine(o.fine, o.fine + 150 * 159);
    const std::vector<uint8_t> old_f(f.values, f.values + 50 * 53);
    c->cores.points[0] = {300, 400, {1, 0, 0}, 0, 1};
    c->cores.points[1] = {5, 400, {2, 0, 0}, 0, 1};  // moved above row 0: removed
    c->cores.count = 2;

    zr_normalize_for_isocc(c.get());
    // kx = (630 - 492) / 12 + 1 = 12 blocks (144 px); ky = (500 - 492) / 12 + 1 = 1 block.
    const uint32_t kx = 12, ky = 1;
    ASSERT_EQ(3, c->minutiae.count);
    EXPECT_EQ(6, c->minutiae.minutiae[2].col);
    EXPECT_EQ(200 - 144, c->minutiae.minutiae[0].col);
    EXPECT_EQ(100 - 12, c->minutiae.minutiae[0].row);
    EXPECT_EQ(630 - 144, c->minutiae.minutiae[1].col);
    EXPECT_EQ(640 - 144, c->minutiae.cols);
    EXPECT_EQ(600 - 12, c->minutiae.rows);
    ASSERT_EQ(1, c->cores.count);
    EXPECT_EQ(288, c->cores.points[0].row);
    EXPECT_EQ(256, c->cores.points[0].col);
    ASSERT_EQ(50 - ky, o.block_rows);
    ASSERT_EQ(53 - kx, o.block_cols);
    EXPECT_EQ(50 - ky, f.block_rows);
    for (uint32_t r = 0; r < o.block_rows; ++r) {
        for (uint32_t col = 0; col < o.block_cols; ++col) {
            ASSERT_EQ(old_o[(r + ky) * 53 + col + kx], o.values[r * o.block_cols + col]);
            ASSERT_EQ(old_f[(r + ky) * 53 + col + kx], f.values[r * f.block_cols + col]);
        }
    }
    // The fine grid moves with its blocks: 3 x 3 cells a block.
    const uint32_t fine_cols = 3 * o.block_cols;
    for (uint32_t r = 0; r < 3u * o.block_rows; ++r)
        for (uint32_t col = 0; col < fine_cols; ++col)
            ASSERT_EQ(old_fine[(r + 3 * ky) * 159 + col + 3 * kx], o.fine[r * fine_cols + col]);
}

TEST(CompactCardNormalise, PointsMovedBelowZeroAreRemoved) {
    // Without a field the block is 1 pixel: shift 650 - 492 + 1 = 159.
    minutiastruct s = with_points({{158, 10}, {650, 20}, {300, 30}});
    s.rows = 700;
    s.cols = 700;
    container_ptr c = container_with(s);
    zr_normalize_for_isocc(c.get());
    ASSERT_EQ(2, c->minutiae.count);
    EXPECT_EQ(650 - 159, c->minutiae.minutiae[0].col);
    EXPECT_EQ(300 - 159, c->minutiae.minutiae[1].col);
    // The card and its proprietary part agree.
    const bytes card = card_of(c->minutiae, 64);
    EXPECT_EQ(6u, part(card, {0xA1, 0x90}).size());
    EXPECT_EQ(6u, part(extend(card, c->minutiae), {0x82}).size());
}

}  // namespace
