// Flips and rotations: flips and quarter turns against an index-mapping
// reference, free rotations against a floating-point inverse map.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

#include "imaging/bal_rotate.h"

namespace {

std::vector<uint8_t> random_image(int32_t rows, int32_t cols, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> image(static_cast<size_t>(rows) * cols);
    for (uint8_t& v : image) {
        v = static_cast<uint8_t>(rng());
    }
    return image;
}

struct mapped {
    std::vector<uint8_t> pixels;
    int32_t rows;
    int32_t cols;
};

// Where each source pixel (r, c) goes, mode by mode.
mapped reference_flip(const std::vector<uint8_t>& src, int32_t rows, int32_t cols, uint32_t mode) {
    const bool transposed = mode == 4 || mode == 5;
    mapped out{std::vector<uint8_t>(src.size()), transposed ? cols : rows,
               transposed ? rows : cols};
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t c = 0; c < cols; ++c) {
            int32_t tr = r, tc = c;
            switch (mode) {
            case 1: tc = cols - 1 - c; break;
            case 2: tr = rows - 1 - r; break;
            case 3: tr = rows - 1 - r; tc = cols - 1 - c; break;
            case 4: tr = c; tc = rows - 1 - r; break;
            case 5: tr = cols - 1 - c; tc = r; break;
            default: break;
            }
            out.pixels[static_cast<size_t>(tr) * out.cols + tc] = src[static_cast<size_t>(r) * cols + c];
        }
    }
    return out;
}

TEST(ImageFlip, EveryModeMatchesTheIndexMapping) {
    const struct {
        int32_t rows, cols;
    } sizes[] = {{176, 96}, {1, 7}, {7, 1}, {3, 5}, {1, 1}};
    for (const auto& size : sizes) {
        const auto src = random_image(size.rows, size.cols, 1);
        for (uint32_t mode = 0; mode <= 7; ++mode) {
            std::vector<uint8_t> dst(src.size());
            bal_image_flip(src.data(), size.rows, size.cols, mode, dst.data());
            EXPECT_EQ(dst, reference_flip(src, size.rows, size.cols, mode).pixels)
                << size.rows << "x" << size.cols << " mode " << mode;
        }
    }
}

TEST(ImageFlip, QuarterTurnsOfASmallImage) {
    const std::vector<uint8_t> src = {'a', 'b', 'c', 'd', 'e', 'f'};
    std::vector<uint8_t> dst(6);
    bal_image_flip(src.data(), 2, 3, 4, dst.data());
    EXPECT_EQ(dst, (std::vector<uint8_t>{'d', 'a', 'e', 'b', 'f', 'c'}));
    bal_image_flip(src.data(), 2, 3, 5, dst.data());
    EXPECT_EQ(dst, (std::vector<uint8_t>{'c', 'f', 'b', 'e', 'a', 'd'}));
}

TEST(ImageFlip, EmptySizesWriteNothing) {
    const std::vector<uint8_t> src(4, 9);
    for (uint32_t mode = 0; mode <= 5; ++mode) {
        std::vector<uint8_t> dst(4, 0xA5);
        bal_image_flip(src.data(), 0, 4, mode, dst.data());
        bal_image_flip(src.data(), -2, 2, mode, dst.data());
        bal_image_flip(src.data(), 2, -2, mode, dst.data());
        EXPECT_EQ(dst, std::vector<uint8_t>(4, 0xA5)) << mode;
    }
    // The half turn tests only the pixel count rows * cols.
    const std::vector<uint8_t> ordered = {1, 2, 3, 4};
    std::vector<uint8_t> dst(4, 0xA5);
    bal_image_flip(ordered.data(), -2, -2, 3, dst.data());
    EXPECT_EQ(dst, (std::vector<uint8_t>{4, 3, 2, 1}));
}

struct rotated {
    uint8_t* image = nullptr;
    uint32_t rows = 0, cols = 0;
    int32_t row_offset = 0, col_offset = 0;
    ~rotated() { std::free(image); }
};

TEST(ImageRotate, QuarterTurnsAreExactFlipsWithTheirOffsets) {
    const int32_t rows = 3, cols = 5;
    const auto src = random_image(rows, cols, 2);
    const struct {
        uint8_t angle;
        uint32_t mode;
        int32_t row_offset, col_offset;
    } turns[] = {{0, 0, 0, 0}, {64, 4, 0, 2}, {128, 3, 2, 4}, {192, 5, 4, 0}};
    for (const auto& turn : turns) {
        const auto expected = reference_flip(src, rows, cols, turn.mode);
        rotated bilinear, nearest;
        bal_image_rotate(src.data(), rows, cols, turn.angle, &bilinear.image, &bilinear.rows,
                         &bilinear.cols, &bilinear.row_offset, &bilinear.col_offset);
        ASSERT_EQ(bal_image_rotate_nearest_neighbour_uint8(
                      src.data(), rows, cols, 0x300u | turn.angle, 7, &nearest.image,
                      &nearest.rows, &nearest.cols, &nearest.row_offset, &nearest.col_offset),
                  BAL_OK);
        for (const rotated* r : {&bilinear, &nearest}) {
            ASSERT_NE(r->image, nullptr);
            EXPECT_EQ(r->rows, static_cast<uint32_t>(expected.rows));
            EXPECT_EQ(r->cols, static_cast<uint32_t>(expected.cols));
            EXPECT_EQ(r->row_offset, turn.row_offset) << int(turn.angle);
            EXPECT_EQ(r->col_offset, turn.col_offset) << int(turn.angle);
            EXPECT_EQ(std::vector<uint8_t>(r->image, r->image + src.size()), expected.pixels);
            // The source's origin lands at the reported offsets.
            EXPECT_EQ(r->image[r->row_offset * r->cols + r->col_offset], src[0]);
        }
    }
}

// Inverse map in floating point: the source position (column, row) of an
// output pixel for a clockwise turn by angle (256 a turn).
void source_position(int32_t i, int32_t j, const rotated& r, int angle, double* x, double* y) {
    const double a = angle * 2.0 * std::numbers::pi / 256.0;
    const double dx = j - r.col_offset;
    const double dy = i - r.row_offset;
    *x = dx * std::cos(a) + dy * std::sin(a);
    *y = -dx * std::sin(a) + dy * std::cos(a);
}

TEST(ImageRotate, FreeRotationInterpolatesARampLikeTheExactInverseMap) {
    // On f(x, y) = x + 2y the bilinear sample is exact, so the output must
    // follow the floating-point inverse map up to the Q14 table and the
    // truncation; pixels whose source is outside keep 255.
    const int32_t rows = 60, cols = 96;
    std::vector<uint8_t> ramp(rows * cols);
    for (int32_t y = 0; y < rows; ++y) {
        for (int32_t x = 0; x < cols; ++x) {
            ramp[y * cols + x] = static_cast<uint8_t>(x + 2 * y);
        }
    }
    for (int angle : {14, 30, 100, 150, 241}) {
        rotated r;
        bal_image_rotate(ramp.data(), rows, cols, static_cast<uint8_t>(angle), &r.image, &r.rows,
                         &r.cols, &r.row_offset, &r.col_offset);
        ASSERT_NE(r.image, nullptr);
        const double a = angle * 2.0 * std::numbers::pi / 256.0;
        const double width = std::abs(std::cos(a)) * cols + std::abs(std::sin(a)) * rows;
        const double height = std::abs(std::sin(a)) * cols + std::abs(std::cos(a)) * rows;
        EXPECT_NEAR(r.cols, width + 1, 2.0) << angle;
        EXPECT_NEAR(r.rows, height + 1, 2.0) << angle;
        int interpolated = 0;
        for (int32_t i = 0; i < static_cast<int32_t>(r.rows); ++i) {
            for (int32_t j = 0; j < static_cast<int32_t>(r.cols); ++j) {
                double x, y;
                source_position(i, j, r, angle, &x, &y);
                const uint8_t v = r.image[i * r.cols + j];
                const double margin = 0.05;
                if (x > margin && y > margin && x < cols - 1 - margin && y < rows - 1 - margin) {
                    ASSERT_NEAR(v, x + 2 * y, 1.5) << angle << " at " << i << "," << j;
                    ++interpolated;
                } else if (x < -margin || y < -margin || x > cols - 1 + margin ||
                           y > rows - 1 + margin) {
                    ASSERT_EQ(v, 255) << angle << " at " << i << "," << j;
                }
            }
        }
        // Nearly the whole source area is covered.
        EXPECT_NEAR(interpolated, (rows - 1) * (cols - 1), 0.05 * rows * cols) << angle;
        EXPECT_EQ(r.image[r.row_offset * r.cols + r.col_offset], ramp[0]) << angle;
    }
}

TEST(ImageRotate, OutputBoxFromTruncatedCornerProducts) {
    // 3 x 5 by 32 (45 degrees), c = s = 11585: corner columns 3, 1 and -2,
    // corner rows 3, 5 and 2, so 6 x 6 with the origin at (0, 2).
    const auto src = random_image(3, 5, 3);
    rotated r;
    bal_image_rotate(src.data(), 3, 5, 32, &r.image, &r.rows, &r.cols, &r.row_offset,
                     &r.col_offset);
    ASSERT_NE(r.image, nullptr);
    EXPECT_EQ(r.rows, 6u);
    EXPECT_EQ(r.cols, 6u);
    EXPECT_EQ(r.row_offset, 0);
    EXPECT_EQ(r.col_offset, 2);
    EXPECT_EQ(r.image[2], src[0]);
}

TEST(ImageRotate, ConstantImagesStayConstantWhereTheSourceReaches) {
    const int32_t rows = 176, cols = 96;
    const std::vector<uint8_t> flat(rows * cols, 100);
    const std::vector<int8_t> flat_signed(rows * cols, -77);
    for (int angle = 5; angle < 256; angle += 10) {  // no quarter turn
        rotated r;
        bal_image_rotate(flat.data(), rows, cols, static_cast<uint8_t>(angle), &r.image, &r.rows,
                         &r.cols, &r.row_offset, &r.col_offset);
        ASSERT_NE(r.image, nullptr);
        size_t inside = 0;
        for (size_t k = 0; k < static_cast<size_t>(r.rows) * r.cols; ++k) {
            ASSERT_TRUE(r.image[k] == 100 || r.image[k] == 255) << angle;
            inside += r.image[k] == 100;
        }
        EXPECT_GT(inside, static_cast<size_t>(rows - 2) * (cols - 2) * 9 / 10) << angle;

        rotated nearest;
        ASSERT_EQ(bal_image_rotate_nearest_neighbour_uint8(flat.data(), rows, cols, angle, 7,
                                                           &nearest.image, &nearest.rows,
                                                           &nearest.cols, &nearest.row_offset,
                                                           &nearest.col_offset),
                  BAL_OK);
        for (size_t k = 0; k < static_cast<size_t>(nearest.rows) * nearest.cols; ++k) {
            ASSERT_TRUE(nearest.image[k] == 100 || nearest.image[k] == 7) << angle;
        }

        int8_t* signed_image = nullptr;
        uint32_t srows = 0, scols = 0;
        int32_t sro = 0, sco = 0;
        bal_image_rotate_int8(flat_signed.data(), rows, cols, static_cast<uint8_t>(angle),
                              &signed_image, &srows, &scols, &sro, &sco);
        ASSERT_NE(signed_image, nullptr);
        EXPECT_EQ(srows, r.rows);
        EXPECT_EQ(scols, r.cols);
        for (size_t k = 0; k < static_cast<size_t>(srows) * scols; ++k) {
            // Same coverage as the u8 member, background 0.
            ASSERT_EQ(signed_image[k], r.image[k] == 100 ? -77 : 0) << angle;
        }
        std::free(signed_image);
    }
}

TEST(ImageRotate, SignedMembersHaveNoQuarterTurnPath) {
    // Angle 0 through the free rotation: one extra row and column of
    // background, and the last source row and column are not interpolated.
    const std::vector<int8_t> src = {1, -2, 3, -4, 5, -6, 7, -8, 9, -10, 11, -12};  // 3 x 4
    int8_t* out = nullptr;
    uint32_t rows = 0, cols = 0;
    int32_t ro = -1, co = -1;
    bal_image_rotate_int8(src.data(), 3, 4, 0, &out, &rows, &cols, &ro, &co);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(rows, 4u);
    EXPECT_EQ(cols, 5u);
    EXPECT_EQ(ro, 0);
    EXPECT_EQ(co, 0);
    const std::vector<int8_t> expected = {1, -2, 3, 0, 0, 5, -6, 7, 0, 0,
                                          0, 0,  0, 0, 0, 0, 0,  0, 0, 0};
    EXPECT_EQ(std::vector<int8_t>(out, out + 20), expected);
    std::free(out);

    ASSERT_EQ(bal_image_rotate_nearest_neighbour_int8(src.data(), 3, 4, 0, -99, &out, &rows,
                                                      &cols, &ro, &co),
              BAL_OK);
    const std::vector<int8_t> nearest = {1,  -2,  3,   -4,  -99, 5,   -6,  7,   -8,  -99,
                                         9,  -10, 11,  -12, -99, -99, -99, -99, -99, -99};
    EXPECT_EQ(std::vector<int8_t>(out, out + 20), nearest);
    std::free(out);
}

TEST(ImageRotate, NearestNeighbourTakesTheFlooredSourcePixel) {
    // Every pixel of the 12 x 20 source holds its own index, so each output
    // pixel tells which source pixel it took.
    const int32_t rows = 12, cols = 20;
    std::vector<uint8_t> labels(rows * cols);
    for (int32_t k = 0; k < rows * cols; ++k) {
        labels[k] = static_cast<uint8_t>(k);
    }
    for (int angle : {10, 37, 90, 171, 250}) {
        rotated r;
        ASSERT_EQ(bal_image_rotate_nearest_neighbour_uint8(labels.data(), rows, cols, angle, 255,
                                                           &r.image, &r.rows, &r.cols,
                                                           &r.row_offset, &r.col_offset),
                  BAL_OK);
        EXPECT_EQ(r.image[r.row_offset * r.cols + r.col_offset], 0) << angle;
        for (int32_t i = 0; i < static_cast<int32_t>(r.rows); ++i) {
            for (int32_t j = 0; j < static_cast<int32_t>(r.cols); ++j) {
                double x, y;
                source_position(i, j, r, angle, &x, &y);
                const uint8_t v = r.image[i * r.cols + j];
                if (v == 255) {
                    EXPECT_FALSE(x > 0.05 && y > 0.05 && x < cols - 0.05 && y < rows - 0.05)
                        << angle << " at " << i << "," << j;
                    continue;
                }
                const int32_t sr = v / cols, sc = v % cols;
                EXPECT_TRUE(y > sr - 0.05 && y < sr + 1.05 && x > sc - 0.05 && x < sc + 1.05)
                    << angle << " at " << i << "," << j;
            }
        }
    }
}

}  // namespace
