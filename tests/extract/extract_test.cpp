#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "extract/bal_extract.h"
#include "extract_fixtures.h"

namespace {

using extract_test::grating;
using extract_test::Request;
using extract_test::Result;
using extract_test::run;

constexpr double kPeriod = 9;

struct Point {
    int32_t row;
    int32_t col;
};

// One phase singularity: ridges that split (or end) at the point.
std::vector<uint8_t> singular_grating(uint32_t rows, uint32_t cols, Point p) {
    return grating(rows, cols, kPeriod, [p](uint32_t y, uint32_t x) {
        return std::atan2(double(y) - p.row, double(x) - p.col);
    });
}

bool near(const minutia& m, Point p, int32_t radius) {
    const int32_t dr = m.row - p.row, dc = m.col - p.col;
    return dr * dr + dc * dc <= radius * radius;
}

bool away_from_edges(const minutia& m, uint32_t rows, uint32_t cols, int32_t margin) {
    return m.row >= margin && m.col >= margin && m.row < int32_t(rows) - margin &&
           m.col < int32_t(cols) - margin;
}

TEST(ExtractSynthetic, PhaseSingularityGivesOneMinutiaThere) {
    constexpr uint32_t rows = 180, cols = 144;
    for (const Point p : {Point{90, 72}, Point{70, 80}}) {
        const Result full = run(singular_grating(rows, cols, p), rows, cols);
        ASSERT_EQ(BAL_OK, full.status);
        ASSERT_EQ(1u, full.minutiae.size()) << "at " << p.row << "," << p.col;
        EXPECT_TRUE(near(full.minutiae[0], p, 5))
            << full.minutiae[0].row << "," << full.minutiae[0].col;
        EXPECT_GE(full.minutiae[0].quality, 10);

        const Result half = run(singular_grating(rows, cols, p), rows, cols,
                                {.flags = BAL_EXTRACT_HALF_FREQUENCY});
        ASSERT_EQ(BAL_OK, half.status);
        ASSERT_EQ(1u, half.minutiae.size());
        EXPECT_TRUE(near(half.minutiae[0], p, 5));
    }
}

TEST(ExtractSynthetic, At250DpiCoordinatesAndSizesComeBackDoubled) {
    constexpr uint32_t rows = 180, cols = 144;
    const Point p{90, 72};
    const Result r = run(singular_grating(rows, cols, p), rows, cols,
                         {.flags = BAL_EXTRACT_250DPI, .fields = true, .zonal = true});
    ASSERT_EQ(BAL_OK, r.status);
    ASSERT_EQ(1u, r.minutiae.size());
    EXPECT_TRUE(near(r.minutiae[0], {2 * p.row, 2 * p.col}, 10));
    EXPECT_EQ(2 * rows, r.header.minutiae.rows);
    EXPECT_EQ(2 * cols, r.header.minutiae.cols);
    EXPECT_EQ(12, r.header.orientation.block_size);  // 6-pixel blocks, doubled
    EXPECT_EQ(12, r.header.frequency.block_size);
    EXPECT_EQ(12, r.header.zonal_quality.cell_rows);
    EXPECT_EQ(rows / 6 + 1, r.header.zonal_quality.field_rows);
    EXPECT_EQ(30u, r.header.orientation.block_rows);  // 180 / 6
    // The area is counted in input pixels, times 4.
    const Result plain = run(singular_grating(rows, cols, p), rows, cols);
    EXPECT_EQ(0u, r.header.area % 4);
    EXPECT_GT(r.header.area, plain.header.area);
}

TEST(ExtractSynthetic, PlainGratingGivesNoMinutiaAwayFromTheEdges) {
    constexpr uint32_t rows = 176, cols = 96;
    const double slopes[] = {0.0, 0.4, -1.0, 3.0};  // vertical and tilted ridges
    for (double slope : slopes) {
        const Result r = run(grating(rows, cols, kPeriod,
                                     [slope](uint32_t y, uint32_t) {
                                         return 2 * std::numbers::pi * slope * y / kPeriod;
                                     }),
                             rows, cols);
        ASSERT_EQ(BAL_OK, r.status);
        for (const minutia& m : r.minutiae)
            EXPECT_FALSE(away_from_edges(m, rows, cols, 24))
                << "slope " << slope << ": minutia at " << m.row << "," << m.col;
    }
}

TEST(ExtractSynthetic, BlankOrFlatImageGivesNoMinutiae) {
    constexpr uint32_t rows = 176, cols = 96;
    for (uint8_t grey : {0, 128, 255}) {
        const Result r = run(std::vector<uint8_t>(size_t{rows} * cols, grey), rows, cols,
                             {.fields = true, .zonal = true, .binarized = true,
                              .singular_points = true});
        EXPECT_EQ(BAL_OK, r.status);
        EXPECT_TRUE(r.minutiae.empty()) << "grey " << int(grey);
        EXPECT_EQ(0, r.header.cores.count);
        EXPECT_EQ(0, r.header.deltas.count);
    }
}

TEST(ExtractSynthetic, ResultHeaderDescribesTheInput) {
    constexpr uint32_t rows = 176, cols = 96;  // processed as 180 x 96
    const Result r = run(singular_grating(rows, cols, {88, 48}), rows, cols,
                         {.fields = true, .zonal = true, .binarized = true});
    ASSERT_EQ(BAL_OK, r.status);
    EXPECT_EQ(rows, r.header.minutiae.rows);
    EXPECT_EQ(cols, r.header.minutiae.cols);
    EXPECT_EQ(ZR_EXTRACT_RESOLUTION_PPCM, r.header.minutiae.resolution);
    EXPECT_EQ(r.header.quality, r.header.minutiae.quality);
    EXPECT_GE(r.header.quality, 1);
    EXPECT_LE(r.header.quality, 100);
    // The region starts two rows above the input (176 grown to 180).
    EXPECT_EQ(15u, r.header.orientation.block_rows);
    EXPECT_EQ(8u, r.header.orientation.block_cols);
    EXPECT_EQ(-2, r.header.orientation.row_offset);
    EXPECT_EQ(0, r.header.orientation.col_offset);
    EXPECT_EQ(rows / 12 + 1, r.header.zonal_quality.field_rows);
    EXPECT_EQ(cols / 12 + 1, r.header.zonal_quality.field_cols);
    EXPECT_EQ(rows, r.header.binarized_rows);
    EXPECT_EQ(cols, r.header.binarized_cols);
    EXPECT_LT(r.header.centre_row, rows);
    EXPECT_LT(r.header.centre_col, cols);
}

TEST(ExtractSynthetic, ConflictingFlagsAreRefusedAndTakenPixelsReleased) {
    constexpr uint32_t rows = 176, cols = 96;
    const std::vector<uint8_t> image = singular_grating(rows, cols, {88, 48});
    for (uint32_t extra : {0u, BAL_EXTRACT_TAKE_PIXELS}) {
        zr_template_container* c = zr_template_container_alloc();
        ASSERT_NE(nullptr, c);
        c->flags = BAL_EXTRACT_HALF_FREQUENCY | BAL_EXTRACT_250DPI | extra;
        auto* pixels = static_cast<uint8_t*>(std::malloc(image.size()));
        ASSERT_NE(nullptr, pixels);
        std::memcpy(pixels, image.data(), image.size());
        EXPECT_EQ(BAL_UNSUPPORTED, bal_extract(pixels, nullptr, rows, cols, c, nullptr, nullptr));
        if (!extra) std::free(pixels);  // otherwise released by the extraction
        zr_template_container_free(c);
    }
}

TEST(ExtractSynthetic, TakenPixelsAreReleasedOnceOnSuccessAndOnFailure) {
    const std::vector<uint8_t> image = singular_grating(180, 144, {90, 72});
    // A 20 x 20 image is too small for whole blocks: the resize refuses it.
    const struct {
        uint32_t rows, cols;
        bal_status expected;
    } cases[] = {{180, 144, BAL_OK}, {20, 20, BAL_BAD_ARGUMENT}};
    for (const auto& k : cases) {
        zr_template_container* c = zr_template_container_alloc();
        ASSERT_NE(nullptr, c);
        c->flags = BAL_EXTRACT_TAKE_PIXELS;
        c->minutiae.max_minutiae = 255;
        auto* pixels = static_cast<uint8_t*>(std::malloc(size_t{k.rows} * k.cols));
        ASSERT_NE(nullptr, pixels);
        std::memcpy(pixels, image.data(), size_t{k.rows} * k.cols);
        EXPECT_EQ(k.expected, bal_extract(pixels, nullptr, k.rows, k.cols, c, nullptr, nullptr));
        zr_template_container_free(c);  // the sanitizer build reports a leak or double free
    }
}

TEST(ExtractSynthetic, BadArgumentsAreRefused) {
    std::vector<uint8_t> px(176 * 96, 128);
    zr_template_container* c = zr_template_container_alloc();
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_extract(px.data(), nullptr, 176, 96, nullptr, nullptr, nullptr));
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_extract(nullptr, nullptr, 176, 96, c, nullptr, nullptr));
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_extract(px.data(), nullptr, 0, 96, c, nullptr, nullptr));
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_extract(px.data(), nullptr, 176, 0, c, nullptr, nullptr));
    // Coordinates are 16-bit: sides beyond 32767 (500 dpi) cannot be stored.
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_extract(px.data(), nullptr, 32768, 1, c, nullptr, nullptr));
    c->flags = BAL_EXTRACT_250DPI;
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_extract(px.data(), nullptr, 1, 16384, c, nullptr, nullptr));
    zr_template_container_free(c);
}

// Two singularities of opposite sense in a tall image: the pipeline works on
// a window of at most 1,125 rows that stays inside the image.
TEST(ExtractSynthetic, LargeImageIsCroppedAroundTheFingerAndMappedBack) {
    constexpr uint32_t rows = 1200, cols = 700;
    const Point a{700, 300}, b{900, 420};
    std::vector<uint8_t> px = grating(rows, cols, kPeriod, [a, b](uint32_t y, uint32_t x) {
        return std::atan2(double(y) - a.row, double(x) - a.col) -
               std::atan2(double(y) - b.row, double(x) - b.col);
    });
    std::fill(px.begin(), px.begin() + 300 * cols, uint8_t{255});  // no finger at the top
    static uint32_t processed_rows, processed_cols;
    const bal_feature_callback record_size = [](const bal_extraction_image* image, uint8_t*,
                                                const uint8_t*, uint32_t, uint32_t, const uint8_t*,
                                                zr_template_container*, uint32_t) {
        processed_rows = image->rows;
        processed_cols = image->cols;
        return BAL_OK;
    };
    const Result r = run(px, rows, cols,
                         {.flags = BAL_EXTRACT_FEATURE_CALLBACKS, .callback1 = record_size});
    ASSERT_EQ(BAL_OK, r.status);
    EXPECT_EQ(1116u, processed_rows);  // 1,125 rounded down to whole blocks
    EXPECT_EQ(0u, processed_cols % 12);
    EXPECT_LE(processed_cols, 804u);
    int found_a = 0, found_b = 0;
    for (const minutia& m : r.minutiae) {
        EXPECT_LT(m.row, int32_t(rows));
        EXPECT_LT(m.col, int32_t(cols));
        found_a += near(m, a, 5);
        found_b += near(m, b, 5);
    }
    EXPECT_EQ(1, found_a);
    EXPECT_EQ(1, found_b);
    EXPECT_EQ(rows, r.header.minutiae.rows);
    // The window is whole blocks inside the image.
    EXPECT_EQ(0, r.header.orientation.row_offset % 12);
    EXPECT_GE(r.header.orientation.row_offset, 0);
    EXPECT_LE(r.header.orientation.row_offset + int32_t(processed_rows), int32_t(rows));
}

}  // namespace
