// Window-count segmentation against a brute-force count over clipped windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "fp_test_data.h"
#include "imaging/bal_statistics.h"
#include "imaging/bal_window_segment.h"

namespace {

std::vector<uint8_t> reference_hull(const std::vector<uint16_t>& plane, int32_t rows, int32_t cols, int32_t r,
                                    int32_t t, int32_t percent) {
    const int64_t q = (100 - int64_t{percent}) * 255 / 100;
    std::vector<uint8_t> mask(plane.size());
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            int64_t k = 0, n = 0;
            for (int32_t yy = std::max(0, y - r); yy <= std::min(rows - 1, y + r); ++yy)
                for (int32_t xx = std::max(0, x - r); xx <= std::min(cols - 1, x + r); ++xx, ++n)
                    k += int32_t(plane[size_t(yy) * cols + xx]) < t;
            mask[size_t(y) * cols + x] = 255 * k > q * n ? 0 : 255;
        }
    return mask;
}

TEST(SegmentHull, MatchesTheBruteForceCount) {
    std::mt19937 rng(17);
    struct Case {
        int32_t rows, cols, r, t, percent;
    };
    const Case cases[] = {{40, 30, 8, 5, 98},  {40, 30, 3, 100, 50}, {17, 17, 8, 7, 100}, {9, 25, 4, 0, 90},
                          {30, 12, 0, 50, 60}, {20, 20, 2, 30, 0},   {5, 6, 8, 8, 95},    {1, 1, 3, 10, 98}};
    for (const Case& c : cases) {
        std::vector<uint16_t> plane(size_t(c.rows) * c.cols);
        for (auto& v : plane) v = uint16_t(rng() % 12 == 0 ? rng() % 10 : 10 + rng() % 300);
        std::vector<uint8_t> mask(plane.size(), 7);
        ASSERT_EQ(bal_segment_hull(plane.data(), c.rows, uint32_t(c.cols), uint32_t(c.r), c.t, uint32_t(c.percent),
                                   mask.data()),
                  BAL_OK);
        EXPECT_EQ(mask, reference_hull(plane, c.rows, c.cols, c.r, c.t, c.percent))
            << c.rows << " x " << c.cols << " r " << c.r << " p " << c.percent;
    }
}

TEST(SegmentHull, PercentHundredMarksEveryWindowWithALowValue) {
    std::vector<uint16_t> plane(30 * 30, 100);
    plane[15 * 30 + 15] = 3;
    std::vector<uint8_t> mask(plane.size());
    EXPECT_EQ(BAL_OK, bal_segment_hull(plane.data(), 30, 30, 2, 4, 100, mask.data()));
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 30; ++x)
            EXPECT_EQ(mask[size_t(y) * 30 + x], std::abs(y - 15) <= 2 && std::abs(x - 15) <= 2 ? 0 : 255);
}

TEST(SegmentImageVariance, FlatAndBusyImagesAndTheCountLimits) {
    const uint32_t rows = 60, cols = 48;
    std::vector<uint8_t> mask(rows * cols);
    const std::vector<uint8_t> flat(rows * cols, 90);
    ASSERT_EQ(bal_segment_image_variance(flat.data(), rows, cols, mask.data()), BAL_OK);
    EXPECT_EQ(mask, std::vector<uint8_t>(mask.size(), 0));

    std::vector<uint8_t> checker(rows * cols);
    for (uint32_t i = 0; i < checker.size(); ++i) checker[i] = ((i / cols + i % cols) % 2) ? 40 : 200;
    ASSERT_EQ(bal_segment_image_variance(checker.data(), rows, cols, mask.data()), BAL_OK);
    EXPECT_EQ(mask, std::vector<uint8_t>(mask.size(), 255));

    // Interior: 5 flat pixels in the 17 x 17 window keep a pixel, 6 do not;
    // a corner (9 x 9 window) goes from 2 on.
    std::vector<uint16_t> plane(rows * cols, 50);
    for (int i = 0; i < 5; ++i) plane[size_t(30) * cols + 20 + size_t(i)] = 0;
    std::vector<uint8_t> hull(rows * cols);
    EXPECT_EQ(BAL_OK, bal_segment_hull(plane.data(), int32_t(rows), cols, 8, 5, 98, hull.data()));
    EXPECT_EQ(hull[30 * cols + 22], 255);
    plane[size_t(31) * cols + 22] = 0;
    EXPECT_EQ(BAL_OK, bal_segment_hull(plane.data(), int32_t(rows), cols, 8, 5, 98, hull.data()));
    EXPECT_EQ(hull[30 * cols + 22], 0);
    std::vector<uint16_t> corner(rows * cols, 50);
    corner[0] = 1;
    EXPECT_EQ(BAL_OK, bal_segment_hull(corner.data(), int32_t(rows), cols, 8, 5, 98, hull.data()));
    EXPECT_EQ(hull[0], 255);
    corner[1] = 1;
    EXPECT_EQ(BAL_OK, bal_segment_hull(corner.data(), int32_t(rows), cols, 8, 5, 98, hull.data()));
    EXPECT_EQ(hull[0], 0);
}

TEST(SegmentImageVariance, RealCapturesFollowTheRuleOnTheirLocalVariance) {
    FP_REQUIRE_CAPTURES();
    const auto paths = fp_test::capture_paths();
    for (size_t i = 0; i < paths.size(); i += 16) {
        const fp_test::GreyImage g = fp_test::read_pgm(paths[i]);
        std::vector<uint16_t> variance(g.pixels.size());
        ASSERT_EQ(bal_var_local_uint8(g.pixels.data(), g.rows, g.cols, 4, variance.data()), BAL_OK);
        std::vector<uint8_t> mask(g.pixels.size());
        ASSERT_EQ(bal_segment_image_variance(g.pixels.data(), g.rows, g.cols, mask.data()), BAL_OK);
        EXPECT_EQ(mask, reference_hull(variance, int32_t(g.rows), int32_t(g.cols), 8, 5, 98)) << paths[i];
    }
}

}  // namespace
