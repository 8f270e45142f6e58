// Mask operations and coverage against per-pixel references; sensor size;
// the quality computation against the image library on real captures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fp_test_data.h"
#include "image_test_support.h"
#include "imaging/bal_quality.h"
#include "objects/zr_image.h"

namespace {

using image_test::mask_of;
using image_test::random_pixels;
using bytes = std::vector<uint8_t>;

zr_image_mask* mask_from(const bytes& b, uint16_t rows, uint16_t cols) {
    zr_image_mask* m = zr_image_mask_create(rows, cols);
    std::memcpy(m->pixels, b.data(), b.size());
    return m;
}

bytes bytes_of(const zr_image_mask* m) {
    return bytes(m->pixels, m->pixels + size_t(m->rows) * m->cols);
}

TEST(Mask, WholeMaskUpdatesAgainstPerPixelRules) {
    const bytes start = random_pixels(9 * 7, 1);
    bytes given = random_pixels(9 * 7, 2);
    for (size_t i = 0; i < given.size(); i += 3) given[i] = 0;
    using update = zr_status (*)(zr_image_mask*, const uint8_t*);
    const struct {
        const char* name;
        update op;
        uint8_t (*rule)(uint8_t m, uint8_t b);
    } cases[] = {
        {"set fingerprint", zr_image_mask_set_fingerprint,
         [](uint8_t m, uint8_t b) { return uint8_t(b ? m | 0x80 : m & 0x7F); }},
        {"set background", zr_image_mask_set_background,
         [](uint8_t m, uint8_t b) { return uint8_t(b ? m & 0x7F : m | 0x80); }},
        {"add fingerprint", zr_image_mask_add_fingerprint,
         [](uint8_t m, uint8_t b) { return uint8_t(b ? m | 0x80 : m); }},
        {"add background", zr_image_mask_add_background,
         [](uint8_t m, uint8_t b) { return uint8_t(b ? m & 0x7F : m); }},
        {"set type 0x41", [](zr_image_mask* m, const uint8_t* b) {
             return zr_image_mask_set_type_mask(m, 0x41, b); },
         [](uint8_t m, uint8_t b) { return uint8_t(b ? m | 0x41 : m & ~0x41); }},
        {"add type 0x06", [](zr_image_mask* m, const uint8_t* b) {
             return zr_image_mask_add_type_mask(m, 0x06, b); },
         [](uint8_t m, uint8_t b) { return uint8_t(b ? m | 0x06 : m); }},
        {"set type 0", [](zr_image_mask* m, const uint8_t* b) {
             return zr_image_mask_set_type_mask(m, 0, b); },
         [](uint8_t m, uint8_t b) { return uint8_t(b ? m & 0x7F : m | 0x80); }},
        {"add type 0", [](zr_image_mask* m, const uint8_t* b) {
             return zr_image_mask_add_type_mask(m, 0, b); },
         [](uint8_t m, uint8_t b) { return uint8_t(b ? m & 0x7F : m); }},
    };
    for (const auto& c : cases) {
        zr_image_mask* m = mask_from(start, 9, 7);
        ASSERT_EQ(ZR_OK, c.op(m, given.data())) << c.name;
        bytes expected(start.size());
        for (size_t i = 0; i < start.size(); ++i) expected[i] = c.rule(start[i], given[i]);
        EXPECT_EQ(bytes_of(m), expected) << c.name;
        EXPECT_EQ(ZR_BAD_ARGUMENT, c.op(m, nullptr)) << c.name;
        EXPECT_EQ(ZR_BAD_ARGUMENT, c.op(nullptr, given.data())) << c.name;
        zr_image_mask_delete(m);
    }
}

TEST(Mask, ReadingsAndCoverageAgainstPerPixelRules) {
    const bytes b = random_pixels(11 * 13, 3);
    zr_image_mask* m = mask_from(b, 11, 13);
    bytes out(b.size());
    for (const uint8_t type : {0, 0x40, 0x05}) {
        ASSERT_EQ(ZR_OK, zr_image_mask_get_type_mask(m, type, out.data()));
        size_t count = 0;
        for (size_t i = 0; i < b.size(); ++i) {
            const uint8_t expected = type == 0 ? uint8_t((b[i] & 0x80) == 0) : uint8_t(b[i] & type);
            EXPECT_EQ(out[i], expected);
            EXPECT_EQ(zr_image_mask_pixel_is_type(m, type, uint32_t(i)), expected);
            count += expected != 0;
        }
        EXPECT_EQ(zr_image_mask_type_coverage(m, type), count * 100 / b.size()) << int(type);
    }
    ASSERT_EQ(ZR_OK, zr_image_mask_get_valid_pixels(m, out.data()));
    size_t valid = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        const bool is_valid = (b[i] & 0x80) && !(b[i] & 0x40);
        EXPECT_EQ(out[i], is_valid ? 255 : 0);
        EXPECT_EQ(zr_image_mask_pixel_is_fingerprint(m, uint32_t(i)), (b[i] & 0x80) ? 1u : 0u);
        EXPECT_EQ(zr_image_mask_pixel_is_background(m, uint32_t(i)), (b[i] & 0x80) ? 0u : 1u);
        valid += is_valid;
    }
    EXPECT_EQ(zr_image_mask_valid_coverage(m), valid * 100 / b.size());
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_image_mask_get_valid_pixels(m, nullptr));

    zr_image_mask_set_type_for_pixel(m, 0, 0);
    zr_image_mask_set_type_for_pixel(m, 0x40, 1);
    EXPECT_EQ(m->pixels[0], b[0] & 0x7F);
    EXPECT_EQ(m->pixels[1], b[1] | 0x40);

    zr_image_mask* copy = zr_image_mask_copy(m);
    EXPECT_EQ(zr_image_mask_is_copy(m, copy), 1u);
    copy->pixels[5] ^= 1;
    EXPECT_EQ(zr_image_mask_is_copy(m, copy), 0u);
    EXPECT_EQ(zr_image_mask_is_copy(m, nullptr), 0u);
    ASSERT_EQ(ZR_OK, zr_image_mask_get_debug_image(m, out.data()));
    EXPECT_EQ(out, bytes_of(m));
    zr_image_mask_delete(copy);
    zr_image_mask_delete(m);

    zr_image_mask* empty = zr_image_mask_create(0, 0);
    EXPECT_EQ(zr_image_mask_valid_coverage(empty), 0u);
    EXPECT_EQ(zr_image_mask_type_coverage(empty, 0), 0u);
    EXPECT_EQ(zr_image_mask_type_coverage(empty, 0x40), 0u);
    zr_image_mask_delete(empty);
    EXPECT_EQ(zr_image_mask_valid_coverage(nullptr), 0u);
}

TEST(Mask, EllipseAgainstTheFloatingPointBoundary) {
    const struct {
        uint16_t rows, cols, rr, cr;
    } cases[] = {{20, 30, 8, 12}, {21, 31, 10, 15}, {16, 16, 0, 5}, {40, 10, 30, 2}, {7, 9, 100, 100}};
    for (const auto& c : cases) {
        bytes b(size_t(c.rows) * c.cols, 7);
        zr_image_mask_generate_elliptical(b.data(), c.rows, c.cols, c.rr, c.cr);
        for (int r = 0; r < c.rows; ++r)
            for (int col = 0; col < c.cols; ++col) {
                const double dr = r - c.rows / 2, dc = col - c.cols / 2;
                const bool outside = dc * dc * c.rr * c.rr + dr * dr * c.cr * c.cr >
                                     double(c.rr) * c.rr * c.cr * c.cr;
                EXPECT_EQ(b[size_t(r) * c.cols + col], outside ? 0 : 7) << r << "," << col;
            }
    }
}

TEST(Mask, GeometryFollowsTheImageLibrary) {
    const bytes b = random_pixels(6 * 4, 4);
    zr_image_mask* m = mask_from(b, 6, 4);
    zr_image_mask* flipped = zr_image_mask_flip(m, 5);
    EXPECT_EQ(flipped->rows, 4);
    EXPECT_EQ(flipped->cols, 6);
    zr_image_mask* scaled = zr_image_mask_scale(m, 12, 2);
    EXPECT_EQ(scaled->rows, 12);
    EXPECT_EQ(scaled->pixels[0], b[0]);
    EXPECT_EQ(zr_image_mask_draw(m, nullptr, 0, 0), nullptr);
    zr_image_mask_delete(flipped);
    zr_image_mask_delete(scaled);
    zr_image_mask_delete(m);
}

TEST(ImageSegmentation, SetIntersectAndValidPixels) {
    zr_image* image = zr_image_create(4, 5, 500, 500, nullptr, 0);
    uint8_t* valid = nullptr;
    ASSERT_EQ(ZR_OK, zr_image_get_valid_pixels(image, &valid));
    EXPECT_EQ(bytes(valid, valid + 20), bytes(20, 255));
    std::free(valid);
    EXPECT_EQ(zr_image_background_coverage(image), 0u);

    bytes seg(20, 1);
    for (size_t i = 0; i < 5; ++i) seg[i] = 0;
    ASSERT_EQ(ZR_OK, zr_image_intersect_segmentation(image, seg.data()));  // creates the mask
    EXPECT_EQ(zr_image_background_coverage(image), 25u);
    bytes second(20, 1);
    second[19] = 0;
    ASSERT_EQ(ZR_OK, zr_image_intersect_segmentation(image, second.data()));
    EXPECT_EQ(zr_image_background_coverage(image), 30u);
    ASSERT_EQ(ZR_OK, zr_image_set_segmentation(image, second.data()));
    EXPECT_EQ(zr_image_background_coverage(image), 5u);
    image->mask->pixels[3] |= 0x40;
    EXPECT_EQ(zr_image_static_pattern_coverage(image), 5u);
    EXPECT_EQ(zr_image_valid_coverage(image), 90u);
    ASSERT_EQ(ZR_OK, zr_image_get_valid_pixels(image, &valid));
    EXPECT_EQ(valid[3], 0);
    EXPECT_EQ(valid[19], 0);
    EXPECT_EQ(valid[4], 255);
    std::free(valid);

    // A mask of another size than the image is refused instead of overrun.
    zr_image_mask* small = zr_image_mask_create(2, 2);
    zr_image_set_mask(image, small);
    zr_image_mask_delete(small);
    EXPECT_EQ(ZR_BAD_DATA, zr_image_set_segmentation(image, seg.data()));
    EXPECT_EQ(ZR_BAD_DATA, zr_image_intersect_segmentation(image, seg.data()));
    EXPECT_EQ(ZR_BAD_DATA, zr_image_get_valid_pixels(image, &valid));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_image_set_segmentation(nullptr, seg.data()));
    zr_image_delete(image);
}

TEST(SensorSize, NearestAreaOfTheTable) {
    const struct {
        uint16_t rows, cols, vdpi, hdpi;
        uint32_t code;
    } cases[] = {
        {176, 96, 500, 500, 8},   // area 16896, aspect 54: nearest 15524
        {96, 176, 500, 500, 8},
        {192, 80, 508, 508, 8},   // 188 x 78 at 500 dpi: area 14664, nearest 15524
        {150, 100, 500, 500, 4},  // aspect 66: area 15000, nearest 16397 of the wide table
        {300, 300, 500, 500, 1},
        {160, 160, 500, 500, 3},  // 25600, nearest 24838
        {128, 128, 500, 500, 4},
        {80, 80, 500, 500, 7},
        {1, 1, 500, 500, 7},
        {400, 10, 500, 500, 0},   // narrow and tiny: the 0 areas
        {176, 96, 0, 500, 0},     // zero resolution
        {176, 96, 500, 0, 0},
        {0, 0, 500, 500, 0},
    };
    for (const auto& c : cases) {
        // Brute-force reference of the rule.
        uint32_t expected = c.code;
        if (c.vdpi != 0 && c.hdpi != 0) {
            const uint32_t r = c.rows * 500u / c.vdpi, cc = c.cols * 500u / c.hdpi;
            const uint32_t s = std::min(r, cc) & 0xFFFF, l = std::max(r, cc) & 0xFFFF;
            const uint32_t area = s * l, aspect = l ? s * 100 / l : 0;
            const uint32_t narrow[7] = {87320, 0, 0, 15524, 11643, 0, 0};
            const uint32_t wide[7] = {87320, 38809, 24838, 16397, 13055, 9702, 6209};
            const uint32_t narrow_codes[7] = {1, 0, 0, 8, 9, 0, 0};
            const uint32_t* areas = aspect <= 60 ? narrow : wide;
            uint32_t best = 0;
            for (uint32_t i = 1; i < 7; ++i)
                if (std::llabs(int64_t(area) - areas[i]) < std::llabs(int64_t(area) - areas[best]))
                    best = i;
            expected = aspect <= 60 ? narrow_codes[best] : best + 1;
        }
        EXPECT_EQ(zr_image_size_to_sensor_size(c.rows, c.cols, c.vdpi, c.hdpi), expected)
            << c.rows << "x" << c.cols;
        EXPECT_EQ(expected, c.code) << "table case " << c.rows << "x" << c.cols;
        zr_image* image = zr_image_create(c.rows, c.cols, c.vdpi, c.hdpi, nullptr, 0);
        EXPECT_EQ(zr_image_get_sensor_size(image), expected);
        zr_image_delete(image);
    }
}

struct capture {
    fp_test::GreyImage image;
    double foreground;
};

std::vector<capture> captures_with_foreground() {
    std::vector<capture> out;
    std::ifstream manifest(fp_test::captures_dir() / "manifest.tsv");
    std::string line;
    std::getline(manifest, line);
    while (std::getline(manifest, line)) {
        std::vector<std::string> fields;
        std::istringstream in(line);
        for (std::string f; std::getline(in, f, '\t');) fields.push_back(f);
        if (fields.size() < 19) continue;
        out.push_back({fp_test::read_pgm(fp_test::captures_dir() / fields[2]), std::stod(fields[18])});
    }
    return out;
}

TEST(ImageQuality, RealCapturesMeasureAsTheImageLibraryDoes) {
    FP_REQUIRE_CAPTURES();
    const auto captures = captures_with_foreground();
    ASSERT_GT(captures.size(), 100u);
    for (const auto& c : captures) {
        const auto& g = c.image;
        ASSERT_EQ(g.rows, 176u);
        uint8_t q = 0, condition = 0;
        uint32_t area = 0;
        ASSERT_EQ(BAL_OK, bal_image_quality_scale(g.pixels.data(), g.rows, g.cols, &q, &area, &condition, 1));
        area = std::min(area, g.rows * g.cols);
        for (const uint16_t dpi : {500, 508}) {
            zr_image* image = zr_image_create(uint16_t(g.rows), uint16_t(g.cols), dpi, dpi,
                                              g.pixels.data(), 0);
            zr_quality* quality = nullptr;
            ASSERT_EQ(ZR_OK, zr_compute_quality_500(nullptr, image, &quality));
            ASSERT_NE(quality, nullptr);
            EXPECT_EQ(zr_image_get_quality_values(image), quality);
            EXPECT_EQ(quality->ref_count, 2u);  // the image's and the caller's
            EXPECT_EQ(zr_quality_get_image_quality(quality), q);
            EXPECT_EQ(zr_quality_get_condition(quality), condition);
            EXPECT_EQ(zr_quality_get_area_percentage(quality), area * 100 / (g.rows * g.cols));
            // The area in mm2 of the pixels at the image's own resolution.
            const double mm2 = area * (25.4 / dpi) * (25.4 / dpi);
            EXPECT_NEAR(zr_quality_get_area(quality), mm2, 1.5);
            EXPECT_LE(zr_quality_get_area(quality), dpi == 500 ? 43 : 42);
            // The measured area follows the share of the window on the finger.
            EXPECT_GE(zr_quality_get_area_percentage(quality) + 10, 100 * c.foreground);
            zr_quality_delete(quality);
            zr_image_delete(image);
        }
    }
}

TEST(ImageQuality, ResolutionsChooseTheMeasuringScale) {
    FP_REQUIRE_CAPTURES();
    const bytes& px = fp_test::sensor_image();
    ASSERT_EQ(px.size(), 176u * 96);
    zr_quality* quality = nullptr;
    zr_image* uneven = zr_image_create(176, 96, 500, 508, px.data(), 0);
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_compute_quality_500(nullptr, uneven, &quality));
    zr_image* zero = zr_image_create(176, 96, 0, 0, px.data(), 0);
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_compute_quality_250(nullptr, zero, &quality));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_compute_quality_500(nullptr, nullptr, &quality));
    EXPECT_EQ(quality, nullptr);

    // 1000 dpi is measured at half size, i.e. at 500 dpi.
    zr_image* fine = zr_image_create(176, 96, 1000, 1000, px.data(), 0);
    zr_image* half = zr_image_scale_res(fine, 500, 500);
    uint8_t q = 0, condition = 0;
    uint32_t area = 0;
    ASSERT_EQ(BAL_OK, bal_image_quality_scale(zr_image_get_pixels(half), 88, 48, &q, &area, &condition, 1));
    ASSERT_EQ(ZR_OK, zr_compute_quality_500(nullptr, fine, &quality));
    EXPECT_EQ(zr_quality_get_image_quality(quality), q);
    EXPECT_EQ(zr_quality_get_area_percentage(quality), std::min(area, 88u * 48) * 100 / (88 * 48));
    EXPECT_EQ(zr_image_get_quality(fine), q);
    zr_quality_delete(quality);

    // The 250 dpi measure of a 500 dpi image halves it first.
    zr_image* normal = zr_image_create(176, 96, 500, 500, px.data(), 0);
    ASSERT_EQ(BAL_OK, bal_image_quality_scale(zr_image_get_pixels(half), 88, 48, &q, &area, &condition, 2));
    ASSERT_EQ(ZR_OK, zr_compute_quality_250(nullptr, normal, &quality));
    EXPECT_EQ(zr_quality_get_image_quality(quality), q);
    EXPECT_EQ(zr_quality_get_area(quality), (((4 * (62500 / 250)) * std::min(area, 88u * 48) / 4) / 97) / 250);
    zr_quality_delete(quality);

    uint8_t range = 0, sharpness = 0, ratio = 0, signal = 0, noise = 0, expected = 0;
    ASSERT_EQ(ZR_OK, zr_quality_compute_dynamic_range(normal, &range));
    ASSERT_EQ(BAL_OK, bal_image_dynamic_range(px.data(), 176, 96, 500, &expected));
    EXPECT_EQ(range, expected);
    ASSERT_EQ(ZR_OK, zr_quality_compute_sharpness(normal, &sharpness));
    ASSERT_EQ(BAL_OK, bal_image_sharpness(px.data(), 176, 96, 500, &expected));
    EXPECT_EQ(sharpness, expected);
    ASSERT_EQ(ZR_OK, zr_quality_compute_signal_to_noise_ratio(normal, &ratio, &signal, &noise));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_quality_compute_sharpness(normal, nullptr));

    for (zr_image* i : {uneven, zero, fine, half, normal}) zr_image_delete(i);
}

}  // namespace
