// Embedded extractor: the type table and session flags against direct calls
// of the template builder, the working geometry against exact rational
// arithmetic, the rescale decision, handed-over pixels and the preferred
// geometry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "extract/bal_extract_template.h"
#include "extract/bal_ridge_features.h"
#include "fp_test_data.h"
#include "match/extractors/zr_embedded_extractor.h"
#include "objects/zr_session.h"

namespace {

using bytes = std::vector<uint8_t>;

constexpr uint32_t kDefaultOrder = 21;
constexpr uint32_t kDefaultMaxMinutiae = 64;

struct Session {
    zr_session* s = zr_session_create();
    ~Session() { zr_session_delete(s); }
};

zr_image* sensor_image(uint16_t dpi) {
    const auto& px = fp_test::sensor_image();
    return zr_image_create(fp_test::kSensorRows, fp_test::kSensorCols, dpi, dpi, px.data(), 0);
}

// The builder called directly on the image's own pixels (a copy).
bytes build_direct(zr_image* image, uint32_t flags, uint32_t format, bal_feature_callback cb1 = bal_extract_ridge_curvature,
                   bal_feature_callback cb2 = nullptr) {
    bytes px(zr_image_get_pixels(image), zr_image_get_pixels(image) + zr_image_get_nbr_of_pixels(image));
    uint8_t* out = nullptr;
    uint32_t length = 0;
    const bal_status rc = bal_extract_template_mask(px.data(), nullptr, zr_image_get_rows(image), zr_image_get_cols(image), 0,
                                                    0, 0, 0, kDefaultMaxMinutiae, kDefaultOrder, flags | 0x42, format,
                                                    &out, &length, cb1, cb2);
    EXPECT_EQ(BAL_OK, rc);
    bytes b(out, out + length);
    (void)bal_free_template(out);
    return b;
}

bytes data_of(const zr_template* t) { return t ? bytes(t->data, t->data + t->size) : bytes{}; }

TEST(EmbeddedExtractor, TypeTableMatchesTheBuilder) {
    FP_REQUIRE_CAPTURES();
    struct Case {
        uint32_t type, format, flags, created;
    };
    const Case cases[] = {
        {1, 1, 0x400, 1}, {2, 2, 0x400, 2}, {3, 3, 0x400, 3}, {4, 1, 0, 1},       {5, 2, 0, 2},       {6, 3, 0, 3},
        {67, 2, 0x430, 67}, {72, 2, 0x630, 72}, {73, 4, 0, 67}, {74, 2, 0x4B0, 67}, {75, 2, 0x6B0, 72},
    };
    Session s;
    zr_image* image = sensor_image(500);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        zr_template* t = nullptr;
        ASSERT_EQ(ZR_OK, embedded_extract_template(s.s, image, nullptr, c.type, &t));
        ASSERT_NE(nullptr, t);
        EXPECT_EQ(c.created, t->type);
        EXPECT_EQ(build_direct(image, c.flags, c.format), data_of(t));
        zr_template_delete(t);
    }
    for (uint32_t type : {0u, 7u, 66u, 68u, 71u, 76u, 80u, 0x10043u}) {
        zr_template* t = reinterpret_cast<zr_template*>(1);
        EXPECT_EQ(ZR_UNHANDLED_INPUT, embedded_extract_template(s.s, image, nullptr, type, &t)) << type;
        EXPECT_EQ(nullptr, t);
    }
    zr_image_delete(image);
}

TEST(EmbeddedExtractor, FeatureCallbacksOnlyOnSmallSensorsWith360AndCurvature) {
    FP_REQUIRE_CAPTURES();
    struct Case {
        int32_t sensor_size, no_curvature, state360;
        bool callbacks;
    };
    const Case cases[] = {{4, 0, 1, true}, {9, 0, 1, true}, {3, 0, 1, false}, {10, 0, 1, false},
                          {8, 1, 1, false}, {8, 0, 0, false}};
    zr_image* image = sensor_image(500);
    const bytes with = build_direct(image, 0x430 | BAL_EXTRACT_FEATURE_CALLBACKS, 2);
    const bytes without = build_direct(image, 0x430, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sensor_size);
        Session s;
        ASSERT_EQ(ZR_OK, zr_session_set_sensor_size_(s.s, c.sensor_size));
        ASSERT_EQ(ZR_OK, zr_session_set_int(s.s, "zr.ehm.no_ridge_curvature", c.no_curvature));
        ASSERT_EQ(ZR_OK, zr_session_set_360_state_(s.s, c.state360));
        zr_template* t = nullptr;
        ASSERT_EQ(ZR_OK, embedded_extract_template(s.s, image, nullptr, 67, &t));
        EXPECT_EQ(c.callbacks ? with : without, data_of(t));
        zr_template_delete(t);
    }
    zr_image_delete(image);
}

// Exact rounding of num / den to the nearest integer, halves up.
int64_t round_rational(int64_t num, int64_t den) { return (2 * num + den) / (2 * den); }
int64_t ceil_rational(int64_t num, int64_t den) { return (num + den - 1) / den; }

TEST(EmbeddedExtractor, GeometryAgreesWithRationalArithmetic) {
    for (int64_t dpi : {500, 250, 1000}) {
        const int64_t block = dpi == 250 ? 6 : 12;
        for (uint16_t rows = 1; rows < 400; rows += 7)
            for (uint16_t cols = 1; cols < 400; cols += 11)
                for (uint16_t rv : {1, 96, 250, 363, 500, 508, 1000, 4000})
                    for (uint16_t rh : {rv, uint16_t(rv + 13)}) {
                        zr_extract_geometry g{};
                        ASSERT_TRUE(zr_extract_geometry_compute(dpi, block, rows, cols, rv, rh, &g));
                        int64_t r = round_rational(dpi * rows, rv);
                        int64_t c = round_rational(dpi * cols, rh);
                        if (r < c) {
                            r = ceil_rational(r, block) * block;
                            c = round_rational(int64_t(cols) * r, rows);
                        } else if (c < r) {
                            c = ceil_rational(c, block) * block;
                            r = round_rational(int64_t(rows) * c, cols);
                        } else {
                            r = c = ceil_rational(r, block) * block;
                        }
                        ASSERT_EQ(r, g.rows) << rows << "x" << cols << "@" << rv << "/" << rh;
                        ASSERT_EQ(c, g.cols);
                        ASSERT_EQ(round_rational(int64_t(rv) * r, rows), g.vertical_dpi);
                        ASSERT_EQ(round_rational(int64_t(rh) * c, cols), g.horizontal_dpi);
                    }
    }
    zr_extract_geometry g{};
    for (auto [rows, cols, rv, rh] : {std::array<uint16_t, 4>{0, 96, 500, 500}, {176, 0, 500, 500},
                                      {176, 96, 0, 500}, {176, 96, 500, 0}})
        EXPECT_FALSE(zr_extract_geometry_compute(500, 12, rows, cols, rv, rh, &g));
}

TEST(EmbeddedExtractor, RescalesOnlyOutsideTheTolerance) {
    FP_REQUIRE_CAPTURES();
    Session s;
    for (uint16_t dpi : {492, 500, 508}) {
        zr_image* image = sensor_image(dpi);
        zr_template* t = nullptr;
        ASSERT_EQ(ZR_OK, embedded_extract_template(s.s, image, nullptr, 67, &t));
        EXPECT_EQ(build_direct(image, 0x430, 2), data_of(t)) << dpi;
        zr_template_delete(t);
        zr_image_delete(image);
    }
    // 400 dpi: R = round(500 x 176 / 400) = 220, C = 120 (a multiple of 12),
    // both resolutions become 500; the image is rescaled.
    zr_image* image = sensor_image(400);
    zr_image* scaled = zr_image_scale_size_res(image, 220, 120, 500, 500);
    zr_template* t = nullptr;
    ASSERT_EQ(ZR_OK, embedded_extract_template(s.s, image, nullptr, 67, &t));
    EXPECT_EQ(build_direct(scaled, 0x430, 2), data_of(t));
    EXPECT_NE(build_direct(image, 0x430, 2), data_of(t));
    zr_template_delete(t);
    zr_image_delete(scaled);
    zr_image_delete(image);
}

TEST(EmbeddedExtractor, ZeroGeometryIsRefused) {
    Session s;
    const bytes px(176 * 96, 128);
    for (auto [rows, cols, rv] : {std::array<uint16_t, 3>{176, 96, 0}, {0, 96, 500}, {176, 0, 500}}) {
        zr_image* image = zr_image_create(rows, cols, rv, 500, px.data(), 0);
        ASSERT_NE(nullptr, image);
        zr_template* t = nullptr;
        EXPECT_EQ(ZR_BAD_ARGUMENT, embedded_extract_template(s.s, image, nullptr, 67, &t));
        EXPECT_EQ(nullptr, t);
        zr_image_delete(image);
    }
    zr_template* t = nullptr;
    EXPECT_EQ(ZR_BAD_ARGUMENT, embedded_extract_template(s.s, nullptr, nullptr, 67, &t));
}

TEST(EmbeddedExtractor, HandsOverThePixelsOfAReleasableImageOnly) {
    FP_REQUIRE_CAPTURES();
    Session s;
    zr_image* image = sensor_image(500);
    const bytes expected = build_direct(image, 0x430, 2);
    zr_image* shared = zr_image_retain(image);
    zr_image_mr_weak(image);
    zr_template* t = nullptr;
    // Two references: the pixels stay with the image.
    ASSERT_EQ(ZR_OK, embedded_extract_template(s.s, image, nullptr, 67, &t));
    EXPECT_NE(nullptr, image->pixels);
    EXPECT_EQ(expected, data_of(t));
    zr_template_delete(t);
    zr_image_delete(shared);
    // One reference in the weak state: the builder takes the buffer and frees it.
    ASSERT_EQ(ZR_OK, embedded_extract_template(s.s, image, nullptr, 67, &t));
    EXPECT_EQ(nullptr, image->pixels);
    EXPECT_EQ(expected, data_of(t));
    zr_template_delete(t);
    zr_image_delete(image);
}

TEST(EmbeddedExtractor, PreferredGeometry) {
    Session s;
    struct Case {
        void (*op)(zr_session*, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t*, uint16_t*, uint16_t*, uint16_t*);
        uint16_t in[4];   // vertical dpi, horizontal dpi, rows, cols
        uint16_t out[4];
    };
    const Case cases[] = {
        {embedded_pref_idim, {508, 508, 176, 96}, {508, 508, 176, 96}},
        {embedded_pref_idim, {492, 500, 176, 96}, {492, 500, 176, 96}},
        {embedded_pref_idim, {1000, 1000, 352, 192}, {500, 500, 176, 96}},
        {embedded_pref_idim_speed, {1000, 1000, 352, 192}, {500, 500, 176, 96}},
        {embedded_pref_idim, {400, 400, 176, 96}, {500, 500, 220, 120}},
        // 509 is outside 500 +- 8, but 176 x 96 works out at R = 176, C = 96
        // (C 94 rounded up), so r_v' = r_h' = 509: unchanged.
        {embedded_pref_idim, {509, 509, 176, 96}, {509, 509, 176, 96}},
        // 600 dpi: R = 147, C = 80 -> 84, R = 154; r' = 525 in both directions.
        {embedded_pref_idim, {600, 600, 176, 96}, {525, 525, 154, 84}},
        {embedded_pref_idim_speedmem, {254, 254, 176, 96}, {254, 254, 176, 96}},
        {embedded_pref_idim_speedmem, {500, 500, 176, 96}, {250, 250, 88, 48}},
        {embedded_pref_idim, {0, 500, 176, 96}, {0, 500, 176, 96}},
        {embedded_pref_idim, {500, 0, 176, 96}, {500, 0, 176, 96}},
        {embedded_pref_idim, {400, 400, 0, 96}, {400, 400, 0, 96}},
        {embedded_pref_idim, {400, 400, 176, 0}, {400, 400, 176, 0}},
    };
    for (const Case& c : cases) {
        uint16_t out[4] = {};
        c.op(s.s, c.in[0], c.in[1], c.in[2], c.in[3], &out[0], &out[1], &out[2], &out[3]);
        EXPECT_EQ(0, memcmp(out, c.out, sizeof(out)))
            << c.in[0] << " " << c.in[1] << " " << c.in[2] << "x" << c.in[3] << " -> " << out[0] << " " << out[1]
            << " " << out[2] << "x" << out[3];
    }
}

TEST(EmbeddedExtractor, DescriptorsPairTheOperations) {
    EXPECT_EQ(&embedded_extract_template, embedded_extractor.extract_template);
    EXPECT_EQ(&embedded_pref_idim, embedded_extractor.pref_idim);
    EXPECT_EQ(&embedded_extract_template_speed, embedded_speed_extractor.extract_template);
    EXPECT_EQ(&embedded_pref_idim_speed, embedded_speed_extractor.pref_idim);
    EXPECT_EQ(&embedded_extract_template_speedmem, embedded_speedmem_extractor.extract_template);
    EXPECT_EQ(&embedded_pref_idim_speedmem, embedded_speedmem_extractor.pref_idim);
}

}  // namespace
