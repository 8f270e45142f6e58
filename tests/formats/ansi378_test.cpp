#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "formats/zr_ansi378.h"
#include "formats/zr_iso19794_2.h"
#include "iso_record_fixtures.h"
#include "objects/zr_alloc.h"

using namespace iso_test;

namespace {

bytes write_ansi(const minutiastruct& s, bool v3) {
    uint8_t* r = nullptr;
    uint32_t length = 0;
    const zr_status rc = v3 ? zr_minutiastruct_to_ansi378_v3(&s, &r, &length)
                            : zr_minutiastruct_to_ansi378_v2(&s, &r, &length);
    EXPECT_EQ(ZR_OK, rc);
    return take(r, length);
}

zr_status read(const bytes& r, minutiastruct* out) {
    return zr_ansi378_to_minutiastruct(r.data(), uint32_t(r.size()), out);
}

TEST(Ansi378, AngleTableAgainstDegrees) {
    // Independent check: the stored unit is 2 degrees, the nearest one to the
    // angle in degrees (ties upward); reading gives the nearest 256th of a turn
    // at or below (b + 0.3515625) * 2 degrees.
    uint32_t off_by_one = 0;
    for (uint32_t a = 0; a < 256; ++a) {
        const double degrees = a * 360.0 / 256.0;
        const uint8_t stored = zr_ansi378_angle_from_iso(uint8_t(a));
        EXPECT_EQ(uint32_t(degrees / 2.0 + 0.5), stored) << a;
        EXPECT_LE(stored, 180);
        const uint8_t back = zr_ansi378_angle_to_iso(stored);
        EXPECT_LE(std::abs(int(back) - int(a)), 1) << a;
        off_by_one += back != a;
    }
    EXPECT_EQ(76u, off_by_one);
    EXPECT_EQ(45, zr_ansi378_angle_from_iso(64));
    EXPECT_EQ(64, zr_ansi378_angle_to_iso(45));
    EXPECT_EQ(179, zr_ansi378_angle_from_iso(255));
    EXPECT_EQ(255, zr_ansi378_angle_to_iso(179));
    EXPECT_EQ(114, zr_ansi378_angle_to_iso(80));
    EXPECT_EQ(107, zr_ansi378_angle_to_iso(255));  // 363 taken modulo 256
}

TEST(Ansi378, WriteReadBothVersions) {
    const minutiastruct s = sample_minutiae(33);
    for (bool v3 : {false, true}) {
        SCOPED_TRACE(v3);
        const bytes r = write_ansi(s, v3);
        EXPECT_EQ((v3 ? 40u : 32u) + 6 * 33, r.size());
        minutiastruct out{};
        ASSERT_EQ(ZR_OK, read(r, &out));
        ASSERT_EQ(s.count, out.count);
        for (uint32_t i = 0; i < s.count; ++i) {
            EXPECT_EQ(s.minutiae[i].row, out.minutiae[i].row);
            EXPECT_EQ(s.minutiae[i].col, out.minutiae[i].col);
            EXPECT_EQ(s.minutiae[i].type, out.minutiae[i].type);
            EXPECT_EQ(zr_ansi378_angle_to_iso(zr_ansi378_angle_from_iso(s.minutiae[i].angle)),
                      out.minutiae[i].angle);
            EXPECT_EQ(s.minutiae[i].quality, out.minutiae[i].quality);
            EXPECT_EQ(ZR_ISO_DEFAULT_RIDGE_PERIOD, out.minutiae[i].ridge_period);
        }
        EXPECT_EQ(s.device_id, out.device_id);
        EXPECT_EQ(s.rows, out.rows);
        EXPECT_EQ(s.cols, out.cols);
        EXPECT_EQ(s.finger_position, out.finger_position);
        EXPECT_EQ(0x01, out.impression_type);
        EXPECT_EQ(s.quality, out.quality);
        // The other version's reader refuses it.
        EXPECT_EQ(ZR_BAD_FORMAT, v3 ? zr_ansi378_v2_to_minutiastruct(r.data(), uint32_t(r.size()), &out)
                                    : zr_ansi378_v3_to_minutiastruct(r.data(), uint32_t(r.size()), &out));
        // And so does the ISO reader.
        EXPECT_NE(ZR_OK, zr_iso19794_2_to_minutiastruct(r.data(), uint32_t(r.size()), &out));
    }
}

TEST(Ansi378, QualityAbove100) {
    minutiastruct s = sample_minutiae(1);
    s.minutiae[0].quality = 120;
    s.quality = 150;
    minutiastruct out{};
    ASSERT_EQ(ZR_OK, read(write_ansi(s, false), &out));
    EXPECT_EQ(120, out.minutiae[0].quality);
    EXPECT_EQ(150, out.quality);
    ASSERT_EQ(ZR_OK, read(write_ansi(s, true), &out));
    EXPECT_EQ(0, out.minutiae[0].quality);
    EXPECT_EQ(0, out.quality);
}

TEST(Ansi378, HeaderDefectsTable) {
    const minutiastruct s = sample_minutiae(4);
    const bytes v2 = write_ansi(s, false);
    const bytes v3 = write_ansi(s, true);
    auto edit = [](bytes r, auto fn) {
        fn(r);
        return r;
    };
    struct Case {
        const char* name;
        bytes record;
        uint32_t size;
        zr_status expected;
    };
    const std::vector<Case> cases = {
        {"v2 length 31 + 6n", edit(v2, [](bytes& r) { put_be16(r, 8, 31 + 24); }), 0, ZR_BAD_FORMAT},
        {"v2 length 29", edit(v2, [](bytes& r) { put_be16(r, 8, 29); }), 0, ZR_BAD_FORMAT},
        {"v2 length beyond buffer", v2, uint32_t(v2.size() - 1), ZR_BAD_FORMAT},
        {"v2 resolutions differ", edit(v2, [](bytes& r) { put_be16(r, 22, 196); }), 0, ZR_BAD_RESOLUTION},
        {"v2 both 200", edit(v2, [](bytes& r) { put_be16(r, 20, 200); put_be16(r, 22, 200); }), 0,
         ZR_BAD_RESOLUTION},
        {"v3 resolutions differ", edit(v3, [](bytes& r) { put_be16(r, 35, 196); }), 0, ZR_BAD_RESOLUTION},
        {"v3 length 37", edit(v3, [](bytes& r) { put_be32(r, 8, 37); }), 0, ZR_BAD_FORMAT},
        // Only the low 16 bits fit: the whole length field counts.
        {"v3 length above 65535", edit(v3, [](bytes& r) { put_be32(r, 8, 0x10000 + uint32_t(r.size())); }), 0,
         ZR_BAD_FORMAT},
        {"v3 cut short", v3, uint32_t(v3.size() - 1), ZR_BAD_FORMAT},
        {"version 035", edit(v3, [](bytes& r) { r[5] = '3'; r[6] = '5'; }), 0, ZR_BAD_FORMAT},
        {"under 12 bytes", v2, 11, ZR_BAD_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t size = c.size ? c.size : uint32_t(c.record.size());
        std::vector<uint8_t> exact(c.record.begin(), c.record.begin() + size);
        minutiastruct out{};
        EXPECT_EQ(c.expected, zr_ansi378_to_minutiastruct(exact.data(), size, &out));
    }
}

TEST(Ansi378, ConvertToIsoKeepsTheFirstMinutiae) {
    minutiastruct s = sample_minutiae(40);
    s.device_id = 0x00420011;
    const bytes ansi = write_ansi(s, true);
    for (bool v3 : {false, true}) {
        SCOPED_TRACE(v3);
        uint8_t* iso = nullptr;
        ASSERT_EQ(ZR_OK, v3 ? zr_convert_ansi378_to_iso19794_2_v3(ansi.data(), uint32_t(ansi.size()), 30, &iso)
                            : zr_convert_ansi378_to_iso19794_2(ansi.data(), uint32_t(ansi.size()), 30, &iso));
        const bytes record = take(iso, zr_iso19794_2_get_length(iso, 12));
        minutiastruct out{};
        ASSERT_EQ(ZR_OK, zr_iso19794_2_to_minutiastruct(record.data(), uint32_t(record.size()), &out));
        ASSERT_EQ(30, out.count);
        for (uint32_t i = 0; i < 30; ++i) EXPECT_EQ(s.minutiae[i].col, out.minutiae[i].col);
        EXPECT_EQ(v3 ? 0x00420011u : ZR_ISO_V2_DEVICE_ID, out.device_id);
    }
    uint8_t* iso = nullptr;
    EXPECT_EQ(ZR_BAD_FORMAT, zr_convert_ansi378_to_iso19794_2_v2(ansi.data(), 20, 30, &iso));
    zr_alloc_fail_after(0);
    EXPECT_EQ(ZR_NO_MEMORY, zr_convert_ansi378_to_iso19794_2_v2(ansi.data(), uint32_t(ansi.size()), 30, &iso));
    zr_alloc_fail_after(-1);
    EXPECT_EQ(nullptr, iso);
}

TEST(Ansi378, WritersRefuseOtherResolutions) {
    minutiastruct s = sample_minutiae(2);
    s.resolution = 5;
    uint8_t* r = nullptr;
    EXPECT_EQ(ZR_BAD_DATA, zr_minutiastruct_to_ansi378(&s, &r, nullptr));
    EXPECT_EQ(ZR_BAD_DATA, zr_minutiastruct_to_ansi378_v3(&s, &r, nullptr));
    EXPECT_EQ(nullptr, r);
}

}  // namespace
