#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "formats/zr_iso19794_2.h"
#include "iso_record_fixtures.h"
#include "objects/zr_alloc.h"

using namespace iso_test;

namespace {

bytes write_v2(const minutiastruct& s) {
    uint8_t* r = nullptr;
    EXPECT_EQ(ZR_OK, zr_minutiastruct_to_iso19794_2_v2(&s, &r));
    return take(r, zr_iso19794_2_get_length(r, 12));
}

bytes write_v3(const minutiastruct& s) {
    uint8_t* r = nullptr;
    EXPECT_EQ(ZR_OK, zr_minutiastruct_to_iso19794_2_v3(&s, &r));
    return take(r, zr_iso19794_2_get_length(r, 12));
}

zr_status read(const bytes& r, minutiastruct* out) {
    return zr_iso19794_2_to_minutiastruct(r.data(), uint32_t(r.size()), out);
}

// Runs an appender on a copy held in a malloc'ed buffer; returns the result.
template <typename Append>
zr_status append(bytes* record, Append&& fn) {
    auto* buffer = static_cast<uint8_t*>(std::malloc(record->size()));
    std::memcpy(buffer, record->data(), record->size());
    uint32_t size = uint32_t(record->size());
    const zr_status rc = fn(&buffer, &size);
    *record = take(buffer, size);
    return rc;
}

void expect_same_minutiae(const minutiastruct& a, const minutiastruct& b, bool with_quality) {
    ASSERT_EQ(a.count, b.count);
    for (uint32_t i = 0; i < a.count; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a.minutiae[i].row, b.minutiae[i].row);
        EXPECT_EQ(a.minutiae[i].col, b.minutiae[i].col);
        EXPECT_EQ(a.minutiae[i].angle, b.minutiae[i].angle);
        EXPECT_EQ(a.minutiae[i].type, b.minutiae[i].type);
        if (with_quality) {
            EXPECT_EQ(a.minutiae[i].quality, b.minutiae[i].quality);
        }
        EXPECT_EQ(ZR_ISO_DEFAULT_RIDGE_PERIOD, b.minutiae[i].ridge_period);
    }
}

TEST(Iso19794Record, WriteReadBothEditions) {
    const minutiastruct s = sample_minutiae(40);
    const bytes v2 = write_v2(s);
    const bytes v3 = write_v3(s);
    EXPECT_EQ(30u + 6 * 40, v2.size());
    EXPECT_EQ(54u + 6 * 40, v3.size());
    EXPECT_EQ(ZR_OK, zr_is_iso19794_2(v2.data(), uint32_t(v2.size())));
    EXPECT_EQ(ZR_OK, zr_is_iso19794_2(v3.data(), uint32_t(v3.size())));

    minutiastruct a{}, b{};
    ASSERT_EQ(ZR_OK, read(v2, &a));
    ASSERT_EQ(ZR_OK, read(v3, &b));
    expect_same_minutiae(s, a, true);
    expect_same_minutiae(s, b, true);
    for (const minutiastruct* r : {&a, &b}) {
        EXPECT_EQ(s.rows, r->rows);
        EXPECT_EQ(s.cols, r->cols);
        EXPECT_EQ(197, r->resolution);
        EXPECT_EQ(s.finger_position, r->finger_position);
        EXPECT_EQ(s.quality, r->quality);
    }
    EXPECT_EQ(0x01u, a.impression_type);  // low nibble only in 2005
    EXPECT_EQ(0x21u, b.impression_type);
    EXPECT_EQ(ZR_ISO_V2_DEVICE_ID, a.device_id);
    EXPECT_EQ(ZR_EXTRACT_DEVICE_ID, b.device_id);

    // Each reader refuses the other edition.
    EXPECT_EQ(ZR_BAD_FORMAT, zr_iso19794_2_v2_to_minutiastruct(v3.data(), uint32_t(v3.size()), &a));
    EXPECT_EQ(ZR_BAD_FORMAT, zr_iso19794_2_v3_to_minutiastruct(v2.data(), uint32_t(v2.size()), &a));
}

TEST(Iso19794Record, DeviceIdSplitsIntoVendorAndType) {
    minutiastruct s = sample_minutiae(2);
    s.device_id = 0x01020304;
    const bytes v3 = write_v3(s);
    EXPECT_EQ(0x0102, be16(v3, 29));
    EXPECT_EQ(0x0304, be16(v3, 31));
    minutiastruct out{};
    ASSERT_EQ(ZR_OK, read(v3, &out));
    EXPECT_EQ(0x01020304u, out.device_id);
}

TEST(Iso19794Record, EmptyRecordAndByte4Variants) {
    const bytes v2 = write_v2(sample_minutiae(0));
    EXPECT_EQ(30u, v2.size());
    minutiastruct out = sample_minutiae(5);
    ASSERT_EQ(ZR_OK, read(v2, &out));
    EXPECT_EQ(0, out.count);

    bytes zero = v2;
    zero[4] = '0';
    EXPECT_EQ(ZR_OK, read(zero, &out));
    bytes other = v2;
    other[4] = '1';
    EXPECT_EQ(ZR_BAD_FORMAT, read(other, &out));
}

TEST(Iso19794Record, WritersRefuseOtherResolutions) {
    minutiastruct s = sample_minutiae(3);
    s.resolution = 5;
    uint8_t* r = nullptr;
    EXPECT_EQ(ZR_BAD_DATA, zr_minutiastruct_to_iso19794_2_v2(&s, &r));
    EXPECT_EQ(ZR_BAD_DATA, zr_minutiastruct_to_iso19794_2(&s, &r));
    EXPECT_EQ(ZR_BAD_DATA, zr_minutiastruct_to_iso19794_2_v3(&s, &r));
    EXPECT_EQ(nullptr, r);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_minutiastruct_to_iso19794_2_v2(nullptr, &r));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_minutiastruct_to_iso19794_2_v3(&s, nullptr));
}

TEST(Iso19794Record, WriterReportsNoMemory) {
    const minutiastruct s = sample_minutiae(3);
    uint8_t* r = nullptr;
    zr_alloc_fail_after(0);
    EXPECT_EQ(ZR_NO_MEMORY, zr_minutiastruct_to_iso19794_2_v2(&s, &r));
    EXPECT_EQ(ZR_NO_MEMORY, zr_minutiastruct_to_iso19794_2_v3(&s, &r));
    zr_alloc_fail_after(-1);
    EXPECT_EQ(nullptr, r);
}

TEST(Iso19794Record, HeaderDefectsTable) {
    const minutiastruct s = sample_minutiae(4);
    const bytes v2 = write_v2(s);
    const bytes v3 = write_v3(s);
    struct Case {
        const char* name;
        bytes record;
        uint32_t size;  // 0: the record's size
        zr_status expected;
    };
    auto edit = [](bytes r, auto fn) {
        fn(r);
        return r;
    };
    const std::vector<Case> cases = {
        {"2005 resolutions differ", edit(v2, [](bytes& r) { put_be16(r, 20, 196); }), 0, ZR_BAD_RESOLUTION},
        {"2005 both 196", edit(v2, [](bytes& r) { put_be16(r, 18, 196); put_be16(r, 20, 196); }), 0,
         ZR_BAD_RESOLUTION},
        {"2005 length 29 + 6n", edit(v2, [](bytes& r) { put_be32(r, 8, 29 + 6 * 4); }), 0, ZR_BAD_FORMAT},
        {"2005 length 27", edit(v2, [](bytes& r) { put_be32(r, 8, 27); }), 0, ZR_BAD_FORMAT},
        {"2005 length beyond buffer", edit(v2, [](bytes& r) { put_be32(r, 8, uint32_t(r.size() + 1)); }), 0,
         ZR_BAD_FORMAT},
        {"2005 cut short", v2, uint32_t(v2.size() - 1), ZR_BAD_FORMAT},
        {"bad magic", edit(v2, [](bytes& r) { r[0] = 'X'; }), 0, ZR_BAD_FORMAT},
        {"under 12 bytes", v2, 11, ZR_BAD_FORMAT},
        {"2011 resolutions differ", edit(v3, [](bytes& r) { put_be16(r, 43, 196); }), 0, ZR_BAD_RESOLUTION},
        {"2011 length 48", edit(v3, [](bytes& r) { put_be32(r, 8, 48); }), 0, ZR_BAD_FORMAT},
        {"2011 count past length", edit(v3, [](bytes& r) { r[51] = 5; }), 0, ZR_BAD_FORMAT},
        {"2011 minutiae of 4 bytes", edit(v3, [](bytes& r) { r[50] = 0x40; }), 0, ZR_BAD_FORMAT},
        {"2011 length beyond buffer", edit(v3, [](bytes& r) { put_be32(r, 8, uint32_t(r.size() + 6)); }), 0,
         ZR_BAD_FORMAT},
        {"2011 quality blocks past the record", edit(v3, [](bytes& r) { r[33] = 200; }), 0, ZR_BAD_FORMAT},
        {"2011 certification count past the record",
         edit(v3, [](bytes& r) { r[14] = 1; r[39] = 250; }), 0, ZR_BAD_FORMAT},
        // The record ends after its last minutia, or one byte into the
        // extended data length.
        {"2011 without the extended data length",
         edit(v3, [](bytes& r) { put_be32(r, 8, uint32_t(r.size() - 2)); }), uint32_t(v3.size() - 2),
         ZR_BAD_FORMAT},
        {"2011 with one byte of the extended data length",
         edit(v3, [](bytes& r) { put_be32(r, 8, uint32_t(r.size() - 1)); }), uint32_t(v3.size() - 1),
         ZR_BAD_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        minutiastruct out{};
        const uint32_t size = c.size ? c.size : uint32_t(c.record.size());
        // An exact-size copy, so that a read past the end reaches the sanitizer.
        std::vector<uint8_t> exact(c.record.begin(), c.record.begin() + size);
        EXPECT_EQ(c.expected, zr_iso19794_2_to_minutiastruct(exact.data(), size, &out));
    }
}

TEST(Iso19794Record, PaddedBufferIsReadButNotAWellFormedRecord) {
    bytes r = write_v2(sample_minutiae(6));
    r.resize(r.size() + 100, 0);
    minutiastruct out{};
    EXPECT_EQ(ZR_OK, read(r, &out));
    EXPECT_EQ(6, out.count);
    EXPECT_EQ(ZR_BAD_FORMAT, zr_is_iso19794_2(r.data(), uint32_t(r.size())));
}

TEST(Iso19794Record, MinutiaQualityRange) {
    minutiastruct s = sample_minutiae(1);
    s.minutiae[0].quality = 101;
    minutiastruct out{};
    ASSERT_EQ(ZR_OK, read(write_v2(s), &out));
    EXPECT_EQ(101, out.minutiae[0].quality);
    ASSERT_EQ(ZR_OK, read(write_v3(s), &out));
    EXPECT_EQ(0, out.minutiae[0].quality);
}

// A 2011 record rebuilt with Q quality blocks, an optional certification
// block and L-byte minutiae.
bytes v3_record(uint8_t quality_blocks, uint8_t certifications, uint8_t minutia_bytes) {
    bytes r = {'F', 'M', 'R', 0, '0', '3', '0', 0, 0, 0, 0, 0, 0, 1, uint8_t(certifications ? 1 : 0)};
    r.resize(19, 0);
    r.insert(r.end(), 9, 0xFF);
    r.insert(r.end(), {0, 0xAB, 0xCD, 0x12, 0x34, quality_blocks});
    for (uint8_t q = 0; q < quality_blocks; ++q) r.insert(r.end(), {uint8_t(60 + q), 0, 0x0B, 0, 0});
    if (certifications) {
        r.push_back(certifications);
        for (uint8_t c = 0; c < certifications; ++c) r.insert(r.end(), {0, 1, 2});
    }
    r.insert(r.end(), {7, 0, 0, 197, 0, 197, 0x25, 1, 44, 1, 144, uint8_t(minutia_bytes << 4), 2});
    for (uint8_t i = 0; i < 2; ++i) {
        bytes m = {uint8_t(0x40 | 0x01), uint8_t(10 + i), 0x00, uint8_t(20 + i), uint8_t(100 + i), 55};
        m.resize(minutia_bytes, 0xEE);
        r.insert(r.end(), m.begin(), m.end());
    }
    r.insert(r.end(), {0, 0});
    put_be32(r, 8, uint32_t(r.size()));
    put_be32(r, 15, uint32_t(r.size() - 15));
    return r;
}

TEST(Iso19794Record, V3QualityAndCertificationBlocksMoveTheView) {
    struct Case {
        uint8_t q, c, l;
        uint8_t finger_quality;
        uint8_t minutia_quality;
    };
    // Without a quality block the finger quality is 0, never the position.
    for (const Case& c : {Case{1, 0, 6, 60, 55}, Case{0, 0, 6, 0, 55}, Case{3, 2, 6, 60, 55},
                          Case{1, 0, 5, 60, 0}, Case{2, 1, 9, 60, 0}}) {
        SCOPED_TRACE(testing::Message() << int(c.q) << " " << int(c.c) << " " << int(c.l));
        const bytes r = v3_record(c.q, c.c, c.l);
        EXPECT_EQ(ZR_OK, zr_is_iso19794_2(r.data(), uint32_t(r.size())));
        minutiastruct out{};
        ASSERT_EQ(ZR_OK, read(r, &out));
        EXPECT_EQ(7, out.finger_position);
        EXPECT_EQ(c.finger_quality, out.quality);
        EXPECT_EQ(0x25, out.impression_type);
        EXPECT_EQ(300, out.cols);
        EXPECT_EQ(400, out.rows);
        EXPECT_EQ(0xABCD1234u, out.device_id);
        ASSERT_EQ(2, out.count);
        EXPECT_EQ(267, out.minutiae[1].col);
        EXPECT_EQ(21, out.minutiae[1].row);
        EXPECT_EQ(101, out.minutiae[1].angle);
        EXPECT_EQ(ZR_MINUTIA_ENDING, out.minutiae[1].type);
        EXPECT_EQ(c.minutia_quality, out.minutiae[1].quality);
    }
}

TEST(Iso19794Record, WellFormedCheck) {
    bytes v3 = write_v3(sample_minutiae(3));
    EXPECT_EQ(ZR_OK, zr_is_iso19794_2(v3.data(), uint32_t(v3.size())));
    struct Case {
        const char* name;
        uint32_t at;
        uint32_t value;
        bool wide;
    };
    const uint32_t size = uint32_t(v3.size());
    for (const Case& c : {Case{"no representations", 12, 0, false}, Case{"8193 representations", 12, 8193, false},
                          Case{"representation of 33", 15, 33, true},
                          Case{"representation past the end", 15, size, true},
                          Case{"two representations", 12, 2, false},
                          Case{"length differs from size", 8, size - 1, true}}) {
        SCOPED_TRACE(c.name);
        bytes r = v3;
        if (c.wide) put_be32(r, c.at, c.value); else put_be16(r, c.at, uint16_t(c.value));
        EXPECT_EQ(ZR_BAD_FORMAT, zr_is_iso19794_2(r.data(), size));
    }
    EXPECT_EQ(ZR_BAD_FORMAT, zr_is_iso19794_2(v3.data(), 11));
    EXPECT_EQ(ZR_BAD_FORMAT, zr_is_iso19794_2(nullptr, 100));
    EXPECT_EQ(0u, zr_iso19794_2_get_length(v3.data(), 11));
    EXPECT_EQ(size, zr_iso19794_2_get_length(v3.data(), size));
}

// --- Extended data blocks ---

bytes concat(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

zr_reference_points make_points(std::initializer_list<zr_reference_point> points) {
    zr_reference_points out{};
    out.enable = ZR_FEATURE_ENABLE;
    for (const zr_reference_point& p : points) out.points[out.count++] = p;
    return out;
}

TEST(Iso19794Blocks, RefPointsAppendAndRead) {
    for (bool v2011 : {false, true}) {
        SCOPED_TRACE(v2011);
        const minutiastruct s = sample_minutiae(5);
        const bytes original = v2011 ? write_v3(s) : write_v2(s);
        bytes r = original;
        const zr_reference_points none{};
        EXPECT_EQ(ZR_OK, append(&r, [&](uint8_t** p, uint32_t* n) {
                      return zr_iso19794_2_extend_ref_points(p, n, nullptr, &none);
                  }));
        EXPECT_EQ(original, r);

        // One core without an angle: a 10-byte block with length field 6.
        const zr_reference_points one = make_points({{100, 200, {0, 0, 0}, 0, 0}});
        ASSERT_EQ(ZR_OK, append(&r, [&](uint8_t** p, uint32_t* n) {
                      return zr_iso19794_2_extend_ref_points(p, n, &one, nullptr);
                  }));
        ASSERT_EQ(original.size() + 10, r.size());
        EXPECT_EQ(r.size(), be32(r, 8));
        EXPECT_EQ(ZR_OK, zr_is_iso19794_2(r.data(), uint32_t(r.size())));
        const size_t block = original.size();
        EXPECT_EQ(ZR_ISO_BLOCK_REF_POINTS, be16(r, block));
        EXPECT_EQ(6, be16(r, block + 2));
        EXPECT_EQ(10, be16(r, block - 2));

        // Cores and deltas, angles on the valid ones; each point reads back
        // as written (a core keeps one angle, a delta three).
        struct PointSet {
            const char* name;
            zr_reference_points cores, deltas;
            size_t block_bytes;  // 6, then 4 a point and 1 or 3 angle bytes on a valid core or delta
        };
        const PointSet sets[] = {
            {"two cores and three deltas",
             make_points({{120, 80, {33, 0, 0}, 0, 1}, {5000, 16383, {0, 0, 0}, 0, 0}}),
             make_points({{10, 20, {7, 92, 177}, 0, 1}, {30, 40, {0, 0, 0}, 0, 0}, {50, 60, {200, 29, 114}, 0, 1}}),
             6 + 5 + 4 + 7 + 4 + 7},
            {"four cores and four deltas, the most a block holds",
             make_points({{1, 2, {250, 0, 0}, 0, 1}, {16383, 0, {0, 0, 0}, 0, 0}, {300, 400, {128, 0, 0}, 0, 1},
                          {77, 88, {0, 0, 0}, 0, 0}}),
             make_points({{11, 12, {1, 86, 171}, 0, 1}, {13, 14, {0, 0, 0}, 0, 0}, {15, 16, {255, 84, 169}, 0, 1},
                          {17, 18, {0, 0, 0}, 0, 0}}),
             6 + (5 + 4 + 5 + 4) + (7 + 4 + 7 + 4)},
        };
        for (const PointSet& set : sets) {
            SCOPED_TRACE(set.name);
            bytes r2 = original;
            ASSERT_EQ(ZR_OK, append(&r2, [&](uint8_t** p, uint32_t* n) {
                          return zr_iso19794_2_extend_ref_points(p, n, &set.cores, &set.deltas);
                      }));
            EXPECT_EQ(original.size() + set.block_bytes, r2.size());
            zr_reference_points rc{}, rd{};
            ASSERT_EQ(ZR_OK, zr_iso19794_2_to_ref_points(r2.data(), uint32_t(r2.size()), &rc, &rd));
            for (const auto& [written, read_back] : {std::pair{&set.cores, &rc}, std::pair{&set.deltas, &rd}}) {
                ASSERT_EQ(written->count, read_back->count);
                for (uint32_t i = 0; i < written->count; ++i) {
                    SCOPED_TRACE(i);
                    const zr_reference_point& w = written->points[i];
                    const zr_reference_point& g = read_back->points[i];
                    EXPECT_EQ(w.row, g.row);
                    EXPECT_EQ(w.col, g.col);
                    EXPECT_EQ(w.valid, g.valid);
                    EXPECT_EQ(bytes(w.angles, w.angles + 3), bytes(g.angles, g.angles + 3));
                }
            }

            // The minutiae still read after the block.
            minutiastruct out{};
            ASSERT_EQ(ZR_OK, read(r2, &out));
            expect_same_minutiae(s, out, true);
        }
    }
}

TEST(Iso19794Blocks, RefPointsReaderDefects) {
    bytes r = write_v2(sample_minutiae(2));
    zr_reference_points cores = make_points({{1, 2, {0, 0, 0}, 0, 0}});
    zr_reference_points deltas = cores;
    // Absent: counts 0, ZR_OK.
    EXPECT_EQ(ZR_OK, zr_iso19794_2_to_ref_points(r.data(), uint32_t(r.size()), &cores, &deltas));
    EXPECT_EQ(0, cores.count);
    EXPECT_EQ(0, deltas.count);

    const size_t block = r.size();
    const zr_reference_points one = make_points({{9, 9, {1, 0, 0}, 0, 1}});
    ASSERT_EQ(ZR_OK, append(&r, [&](uint8_t** p, uint32_t* n) {
                  return zr_iso19794_2_extend_ref_points(p, n, &one, &one);
              }));
    bytes five_cores = r;
    five_cores[block + 4] = 5;
    EXPECT_EQ(ZR_BAD_DATA,
              zr_iso19794_2_to_ref_points(five_cores.data(), uint32_t(five_cores.size()), &cores, &deltas));
    bytes short_block = r;
    put_be16(short_block, block + 2, 8);  // the delta's angles are cut off
    EXPECT_EQ(ZR_BAD_DATA,
              zr_iso19794_2_to_ref_points(short_block.data(), uint32_t(short_block.size()), &cores, &deltas));
    bytes past = r;
    put_be16(past, block + 2, 20);  // runs past the extended data
    EXPECT_EQ(ZR_BAD_DATA, zr_iso19794_2_to_ref_points(past.data(), uint32_t(past.size()), &cores, &deltas));
    bytes bad = r;
    bad[1] = 'X';
    EXPECT_EQ(ZR_BAD_FORMAT, zr_iso19794_2_to_ref_points(bad.data(), uint32_t(bad.size()), &cores, &deltas));
    EXPECT_EQ(0, cores.count);
    // A 2011 record ending after its minutiae has no extended data length to
    // read: refused before the walk (the buffer ends there too).
    bytes cut = write_v3(sample_minutiae(2));
    cut.resize(cut.size() - 2);
    put_be32(cut, 8, uint32_t(cut.size()));
    EXPECT_EQ(ZR_BAD_FORMAT, zr_iso19794_2_to_ref_points(cut.data(), uint32_t(cut.size()), &cores, &deltas));
}

TEST(Iso19794Blocks, ZonalQualityCodesAndCeilGrid) {
    // 96 columns in 12-px cells: 8 across; 100 rows in 12-px cells: 9 down.
    minutiastruct s = sample_minutiae(3);
    s.cols = 96;
    s.rows = 100;
    // The container's grid is rows / h + 1 by cols / w + 1 (9 x 9).
    std::vector<uint8_t> cells(9 * 9);
    for (size_t i = 0; i < cells.size(); ++i) cells[i] = uint8_t((i * 7) % 101);
    zr_zonal_quality_field field{};
    field.cells = cells.data();
    field.field_rows = 9;
    field.field_cols = 9;
    field.cell_rows = 12;
    field.cell_cols = 12;
    for (bool v2011 : {false, true}) {
        SCOPED_TRACE(v2011);
        bytes r = v2011 ? write_v3(s) : write_v2(s);
        const size_t block = r.size();
        ASSERT_EQ(ZR_OK, append(&r, [&](uint8_t** p, uint32_t* n) {
                      return zr_iso19794_2_extend_zonal_quality(p, n, &field, 2);
                  }));
        const size_t header = v2011 ? 11 : 7;
        EXPECT_EQ(block + header + (8 * 9 * 2 + 7) / 8, r.size());
        zr_zonal_quality_field out{};
        ASSERT_EQ(ZR_OK, zr_iso19794_2_to_quality_field(r.data(), uint32_t(r.size()), &out));
        ASSERT_EQ(9, out.field_rows);
        ASSERT_EQ(8, out.field_cols);
        EXPECT_EQ(12, out.cell_rows);
        EXPECT_EQ(12, out.cell_cols);
        // 0 and 1..34 -> 33, 35..68 -> 66, 69..100 -> 99, cell by cell in the same place.
        for (uint32_t row = 0; row < 9; ++row) {
            for (uint32_t col = 0; col < 8; ++col) {
                const uint8_t v = cells[row * 9 + col];
                const uint8_t expected = v <= 34 ? 33 : v <= 68 ? 66 : 99;
                EXPECT_EQ(expected, out.cells[row * 8 + col]) << row << "," << col;
            }
        }
        std::free(out.cells);
    }
}

TEST(Iso19794Blocks, ZonalQualityArgumentsAndDefects) {
    bytes r = write_v2(sample_minutiae(3));
    const bytes original = r;
    uint8_t cell = 50;
    zr_zonal_quality_field field{};
    field.cells = &cell;
    field.field_rows = 1;
    field.field_cols = 1;
    field.cell_rows = 200;
    field.cell_cols = 200;
    for (uint32_t bits : {0u, 9u}) {
        EXPECT_EQ(ZR_BAD_ARGUMENT, append(&r, [&](uint8_t** p, uint32_t* n) {
                      return zr_iso19794_2_extend_zonal_quality(p, n, &field, bits);
                  }));
    }
    field.cell_cols = 0;
    EXPECT_EQ(ZR_BAD_DATA, append(&r, [&](uint8_t** p, uint32_t* n) {
                  return zr_iso19794_2_extend_zonal_quality(p, n, &field, 2);
              }));
    EXPECT_EQ(original, r);

    // Absent block: counts 0, no array, ZR_OK.
    zr_zonal_quality_field out{};
    EXPECT_EQ(ZR_OK, zr_iso19794_2_to_quality_field(r.data(), uint32_t(r.size()), &out));
    EXPECT_EQ(nullptr, out.cells);
    EXPECT_EQ(0, out.field_rows);

    // 300 x 400 pixels in 60 x 2-pixel cells: 5 across, 200 down, 4 bits a
    // cell in 500 code bytes; the block is 4 + 3 + 500 bytes, all of the
    // extended data.
    field.cell_cols = 60;
    field.cell_rows = 2;
    ASSERT_EQ(ZR_OK, append(&r, [&](uint8_t** p, uint32_t* n) {
                  return zr_iso19794_2_extend_zonal_quality(p, n, &field, 4);
              }));
    const size_t ext = original.size() - 2;
    ASSERT_EQ(507, be16(r, ext));
    ASSERT_EQ(ZR_OK, zr_iso19794_2_to_quality_field(r.data(), uint32_t(r.size()), &out));
    EXPECT_EQ(200, out.field_rows);
    EXPECT_EQ(5, out.field_cols);
    std::free(out.cells);
    const size_t data = original.size() + 4;
    struct Case {
        const char* name;
        size_t at;
        bytes values;  // written from `at` on
    };
    for (const Case& c : {Case{"zero width", data, {0}}, Case{"zero height", data + 1, {0}},
                          Case{"zero bits", data + 2, {0}}, Case{"nine bits", data + 2, {9}},
                          Case{"codes missing", data + 2, {8}},
                          // 300 x 2 and 2 x 400 cells: 300 and 400 code bytes,
                          // inside the 500 the block holds, so only the limit
                          // of 255 cells a side refuses them.
                          Case{"over 255 across", data, {1, 255}}, Case{"over 255 down", data, {200, 1}},
                          // 506: the block runs one byte past the extended data, not past the record.
                          Case{"extended data length short of the block", ext, {0x01, 0xFA}}}) {
        SCOPED_TRACE(c.name);
        bytes bad = r;
        std::copy(c.values.begin(), c.values.end(), bad.begin() + c.at);
        EXPECT_EQ(ZR_BAD_DATA, zr_iso19794_2_to_quality_field(bad.data(), uint32_t(bad.size()), &out));
        EXPECT_EQ(nullptr, out.cells);
    }
}

TEST(Iso19794Blocks, OrientationAndFrequencyFields) {
    std::vector<uint8_t> orientation = {0, 64, 100, 191, 192, 255};
    std::vector<uint8_t> frequency = {0, 1, 31, 32, 33, 200};
    zr_block_field field{};
    field.block_rows = 2;
    field.block_cols = 3;
    field.block_size = 12;
    field.col_offset = 300;
    field.row_offset = -4;
    for (bool v2011 : {false, true}) {
        SCOPED_TRACE(v2011);
        bytes r = v2011 ? write_v3(sample_minutiae(2)) : write_v2(sample_minutiae(2));
        const size_t block = r.size();
        field.values = orientation.data();
        ASSERT_EQ(ZR_OK, append(&r, [&](uint8_t** p, uint32_t* n) {
                      return zr_iso19794_2_extend_orientation_field(p, n, &field);
                  }));
        EXPECT_EQ(block + 11 + 6, r.size());
        EXPECT_EQ(bytes({12, 1, 44, 0, 0, 3, 2, 128, 127, 91, 0, 255, 192}), bytes(r.begin() + block + 4, r.end()));
        field.values = frequency.data();
        ASSERT_EQ(ZR_OK, append(&r, [&](uint8_t** p, uint32_t* n) {
                      return zr_iso19794_2_extend_frequency_field(p, n, &field);
                  }));
        EXPECT_EQ(ZR_OK, zr_is_iso19794_2(r.data(), uint32_t(r.size())));

        zr_block_field o{}, f{};
        ASSERT_EQ(ZR_OK, zr_iso19794_2_to_orientation_field(r.data(), uint32_t(r.size()), &o));
        ASSERT_EQ(ZR_OK, zr_iso19794_2_to_frequency_field(r.data(), uint32_t(r.size()), &f));
        EXPECT_EQ(2, o.block_rows);
        EXPECT_EQ(3, o.block_cols);
        EXPECT_EQ(12, o.block_size);
        EXPECT_EQ(300, o.col_offset);
        EXPECT_EQ(0, o.row_offset);
        // 64..191 survive and 0 stays 0; 192 and 255 are stored as 255 and 192,
        // which read as empty blocks.
        EXPECT_EQ(bytes({0, 64, 100, 191, 0, 0}), bytes(o.values, o.values + 6));
        EXPECT_EQ(bytes({0, 1, 31, 32, 32, 32}), bytes(f.values, f.values + 6));
        std::free(o.values);
        std::free(f.values);
    }
}

TEST(Iso19794Blocks, FieldReadersRefuseAbsentAndShortBlocks) {
    bytes r = write_v2(sample_minutiae(2));
    zr_block_field out{};
    EXPECT_EQ(ZR_BAD_DATA, zr_iso19794_2_to_orientation_field(r.data(), uint32_t(r.size()), &out));
    EXPECT_EQ(nullptr, out.values);
    std::vector<uint8_t> values(4, 90);
    zr_block_field field{};
    field.values = values.data();
    field.block_rows = 2;
    field.block_cols = 2;
    const size_t block = r.size();
    ASSERT_EQ(ZR_OK, append(&r, [&](uint8_t** p, uint32_t* n) {
                  return zr_iso19794_2_extend_frequency_field(p, n, &field);
              }));
    bytes wide = r;
    wide[block + 4 + 5] = 3;  // 3 x 2 blocks in a block holding 4 values
    EXPECT_EQ(ZR_BAD_DATA, zr_iso19794_2_to_frequency_field(wide.data(), uint32_t(wide.size()), &out));
    EXPECT_EQ(nullptr, out.values);
    zr_alloc_fail_after(0);
    EXPECT_EQ(ZR_NO_MEMORY, zr_iso19794_2_to_frequency_field(r.data(), uint32_t(r.size()), &out));
    zr_alloc_fail_after(-1);
}

TEST(Iso19794Blocks, WalkStopsAtBlocksThatDoNotFit) {
    // A foreign block whose length counts its own header, then nothing: the
    // walk steps past it without reading beyond the record.
    bytes r = write_v2(sample_minutiae(2));
    const size_t ext = r.size() - 2;
    r.insert(r.end(), {0x01, 0x44, 0x00, 0x05, 0xAA});
    put_be16(r, ext, 5);
    put_be32(r, 8, uint32_t(r.size()));
    const bytes exact = r;
    zr_reference_points cores{}, deltas{};
    EXPECT_EQ(ZR_OK, zr_iso19794_2_to_ref_points(exact.data(), uint32_t(exact.size()), &cores, &deltas));
    zr_block_field field{};
    EXPECT_EQ(ZR_BAD_DATA, zr_iso19794_2_to_orientation_field(exact.data(), uint32_t(exact.size()), &field));
    // An extended data length beyond the record is bounded by the record.
    bytes longer = r;
    put_be16(longer, ext, 900);
    EXPECT_EQ(ZR_OK, zr_iso19794_2_to_ref_points(longer.data(), uint32_t(longer.size()), &cores, &deltas));
}

TEST(Iso19794Blocks, ExtendedDataLengthNeverWraps) {
    bytes r = write_v2(sample_minutiae(1));
    std::vector<uint8_t> values(255 * 255, 100);
    zr_block_field field{};
    field.values = values.data();
    field.block_rows = 255;
    field.block_cols = 255;
    ASSERT_EQ(ZR_OK, append(&r, [&](uint8_t** p, uint32_t* n) {
                  return zr_iso19794_2_extend_orientation_field(p, n, &field);
              }));
    const bytes before = r;
    // A second block would pass 65535 bytes of extended data.
    EXPECT_EQ(ZR_BAD_DATA, append(&r, [&](uint8_t** p, uint32_t* n) {
                  return zr_iso19794_2_extend_frequency_field(p, n, &field);
              }));
    EXPECT_EQ(before, r);
    EXPECT_EQ(ZR_BAD_DATA,
              iso19794_2_increase_extended_data_block_length(r.data(), uint32_t(r.size()), 65535));
    EXPECT_EQ(ZR_OK, iso19794_2_increase_extended_data_block_length(r.data(), uint32_t(r.size()), 0));
    const uint8_t* ext = nullptr;
    ASSERT_EQ(ZR_OK, iso19794_2_get_extended_data_reference(r.data(), uint32_t(r.size()), &ext));
    EXPECT_EQ(r.data() + 28 + 6, ext);
    EXPECT_EQ(11u + 255 * 255, be16(r, 34));
}

// A block is appended at the record's end, so the blocks behind the extended
// data length have to end exactly there for the readers to find it. Records
// where they do not are refused and left as they were; the others take every
// block, and each reads back.
TEST(Iso19794Blocks, AppendersRefuseRecordsWhoseBlocksDoNotEndAtTheRecordEnd) {
    // Our own records of one minutia (2005: 36 bytes) with bytes behind the
    // minutiae, the record length and the extended data length set as given.
    const bytes v2 = write_v2(sample_minutiae(1)), v3 = write_v3(sample_minutiae(1));
    ASSERT_EQ(36u, v2.size());
    auto behind = [](const bytes& own, const bytes& tail, uint16_t extended) {
        bytes r = own;
        r.insert(r.end(), tail.begin(), tail.end());
        put_be16(r, own.size() - 2, extended);
        put_be32(r, 8, uint32_t(r.size()));
        return r;
    };
    const bytes foreign = {0x01, 0x44, 0x00, 0x01, 0xAA};  // a 5-byte block of another type
    // A foreign block taking `extended` bytes of extended data.
    auto foreign_of = [](uint16_t extended) {
        bytes b(extended, 0xAA);
        b[0] = 0x01;
        b[1] = 0x44;
        b[2] = uint8_t((extended - 4) >> 8);
        b[3] = uint8_t(extended - 4);
        return b;
    };
    struct Case {
        const char* name;
        bytes record;
        zr_status expected;
    };
    const Case cases[] = {
        {"2005: two bytes behind the minutiae", behind(v2, {0xFF, 0xFF}, 0), ZR_BAD_DATA},
        {"2011: two bytes behind the minutiae", behind(v3, {0xFF, 0xFF}, 0), ZR_BAD_DATA},
        {"two bytes behind a block", behind(v2, concat(foreign, {0xFF, 0xFF}), 5), ZR_BAD_DATA},
        {"extended data length short of the block", behind(v2, foreign, 3), ZR_BAD_DATA},
        {"a block running past the end", behind(v2, {0x01, 0x44, 0x00, 0x05, 0xAA}, 5), ZR_BAD_DATA},
        {"a block header cut", behind(v2, concat(foreign, {0x01, 0x44}), 7), ZR_BAD_DATA},
        {"2005: as written", v2, ZR_OK},
        {"2011: as written", v3, ZR_OK},
        {"behind a foreign block", behind(v2, foreign, 5), ZR_OK},
        {"extended data length past the end", behind(v2, foreign, 900), ZR_OK},
        {"behind a block with no data bytes", behind(v2, {0x01, 0x44, 0x00, 0x00}, 4), ZR_OK},
        // The blocks appended below take 10 (reference points), 8 (zonal
        // quality), 13 and 13 (orientation, frequency) bytes, 44 in all: the
        // last fills the extended data to 65535 bytes. On 65528 bytes the
        // zonal block would make 65536, and each of the others more.
        {"extended data filled to 65535", behind(v2, foreign_of(65535 - 44), 65535 - 44), ZR_OK},
        {"extended data one byte past 65535", behind(v2, foreign_of(65535 - 7), 65535 - 7), ZR_BAD_DATA},
    };
    const zr_reference_points one_core = make_points({{100, 200, {0, 0, 0}, 0, 0}});
    uint8_t cell = 50;
    zr_zonal_quality_field zonal{};
    zonal.cells = &cell;
    zonal.field_rows = 1;
    zonal.field_cols = 1;
    zonal.cell_rows = 200;
    zonal.cell_cols = 200;
    std::vector<uint8_t> values = {70, 80};
    zr_block_field field{};
    field.values = values.data();
    field.block_rows = 1;
    field.block_cols = 2;
    field.block_size = 12;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bytes r = c.record;
        EXPECT_EQ(c.expected, append(&r, [&](uint8_t** p, uint32_t* n) {
                      return zr_iso19794_2_extend_ref_points(p, n, &one_core, nullptr);
                  }));
        EXPECT_EQ(c.expected, append(&r, [&](uint8_t** p, uint32_t* n) {
                      return zr_iso19794_2_extend_zonal_quality(p, n, &zonal, 2);
                  }));
        EXPECT_EQ(c.expected, append(&r, [&](uint8_t** p, uint32_t* n) {
                      return zr_iso19794_2_extend_orientation_field(p, n, &field);
                  }));
        EXPECT_EQ(c.expected, append(&r, [&](uint8_t** p, uint32_t* n) {
                      return zr_iso19794_2_extend_frequency_field(p, n, &field);
                  }));
        if (c.expected != ZR_OK) {
            EXPECT_EQ(c.record, r);
            continue;
        }
        zr_reference_points cores{}, deltas{};
        ASSERT_EQ(ZR_OK, zr_iso19794_2_to_ref_points(r.data(), uint32_t(r.size()), &cores, &deltas));
        ASSERT_EQ(1, cores.count);
        EXPECT_EQ(100, cores.points[0].row);
        EXPECT_EQ(200, cores.points[0].col);
        zr_zonal_quality_field quality{};
        ASSERT_EQ(ZR_OK, zr_iso19794_2_to_quality_field(r.data(), uint32_t(r.size()), &quality));
        EXPECT_EQ(2, quality.field_rows);  // 400 rows and 300 columns in 200-pixel cells
        EXPECT_EQ(2, quality.field_cols);
        std::free(quality.cells);
        zr_block_field orientation{}, frequency{};
        ASSERT_EQ(ZR_OK, zr_iso19794_2_to_orientation_field(r.data(), uint32_t(r.size()), &orientation));
        ASSERT_EQ(ZR_OK, zr_iso19794_2_to_frequency_field(r.data(), uint32_t(r.size()), &frequency));
        EXPECT_EQ(bytes({70, 80}), bytes(orientation.values, orientation.values + 2));
        EXPECT_EQ(bytes({32, 32}), bytes(frequency.values, frequency.values + 2));  // capped at 32
        std::free(orientation.values);
        std::free(frequency.values);
    }
}

TEST(Iso19794Blocks, AppenderKeepsRecordWhenOutOfMemory) {
    bytes r = write_v3(sample_minutiae(2));
    const bytes before = r;
    const zr_reference_points one = make_points({{1, 1, {0, 0, 0}, 0, 0}});
    zr_alloc_fail_after(0);
    EXPECT_EQ(ZR_NO_MEMORY, append(&r, [&](uint8_t** p, uint32_t* n) {
                  return zr_iso19794_2_extend_ref_points(p, n, &one, nullptr);
              }));
    zr_alloc_fail_after(-1);
    EXPECT_EQ(before, r);
}

}  // namespace
