// Pixel masks: local range against a brute-force disc, local maxima, the
// background fill, the crop rectangle and the value mask.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "fp_test_data.h"
#include "imaging/bal_blur.h"
#include "imaging/bal_denoise.h"
#include "imaging/bal_pixel_mask.h"
#include "imaging/bal_scale.h"

namespace {

std::vector<uint8_t> random_image(uint32_t rows, uint32_t cols, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> img(size_t{rows} * cols);
    for (auto& v : img) v = uint8_t(rng());
    return img;
}

TEST(LocalIntensityDifference, MatchesTheClippedDisc) {
    for (auto [rows, cols, radius] : {std::tuple{20, 17, 5}, std::tuple{9, 30, 3}, std::tuple{1, 8, 2},
                                      std::tuple{12, 5, 5}, std::tuple{6, 6, 0}}) {
        const auto img = random_image(uint32_t(rows), uint32_t(cols), uint32_t(rows + cols + radius));
        std::vector<uint8_t> out(img.size());
        bal_local_intensity_difference(img.data(), rows, uint32_t(cols), uint32_t(radius), out.data());
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x) {
                int lo = 255, hi = 0;
                for (int32_t yy = 0; yy < rows; ++yy)
                    for (int32_t xx = 0; xx < cols; ++xx)
                        if ((yy - y) * (yy - y) + (xx - x) * (xx - x) <= radius * (radius + 1)) {
                            lo = std::min<int>(lo, img[size_t(yy) * cols + xx]);
                            hi = std::max<int>(hi, img[size_t(yy) * cols + xx]);
                        }
                ASSERT_EQ(out[size_t(y) * cols + x], hi - lo) << rows << "x" << cols << " r" << radius;
            }
    }
}

TEST(LocalIntensityDifference, FlatImageAndTheDiscOfOneBrightPixel) {
    std::vector<uint8_t> img(31 * 31, 40), out(img.size());
    bal_local_intensity_difference(img.data(), 31, 31, 5, out.data());
    EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0));
    img[15 * 31 + 15] = 90;
    bal_local_intensity_difference(img.data(), 31, 31, 5, out.data());
    EXPECT_EQ(std::count(out.begin(), out.end(), 50), 97);
}

TEST(LocalMaxima, PeaksAndPlateaus) {
    const uint32_t rows = 12, cols = 14;
    std::vector<uint8_t> img(rows * cols, 0);
    img[3 * cols + 3] = 50;                                     // a lone peak
    for (uint32_t x = 6; x <= 9; ++x) img[6 * cols + x] = 80;  // a run of equal maxima
    img[9 * cols + 11] = 30;                                    // at the last interior column
    img[0] = img[cols - 1] = 200;                               // in the margin: never a maximum
    std::vector<uint8_t> want(img.size(), 0);
    want[3 * cols + 3] = 50;
    want[6 * cols + 9] = 80;  // the rightmost of the run
    want[9 * cols + 11] = 30;

    std::vector<uint8_t> dst(img.size(), 99);
    uint32_t count = 0;
    ASSERT_EQ(bal_local_maxima(img.data(), rows, cols, 1, dst.data(), &count), BAL_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(dst, want);
    ASSERT_EQ(bal_local_maxima(img.data(), rows, cols, 0, img.data(), &count), BAL_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(img, want);

    // On a flat non-zero ground every pixel ties; the ground thins to the
    // pixels with no maximum right of or below them, and all are counted.
    std::vector<uint8_t> ground(rows * cols, 10);
    ground[5 * cols + 5] = 60;
    ASSERT_EQ(bal_local_maxima(ground.data(), rows, cols, 1, dst.data(), &count), BAL_OK);
    EXPECT_EQ(dst[5 * cols + 5], 60);
    EXPECT_EQ(count, size_t(std::count_if(dst.begin(), dst.end(), [](uint8_t v) { return v != 0; })));
    for (uint32_t y = 1; y + 1 < rows; ++y)
        for (uint32_t x = 1; x + 1 < cols; ++x)
            if (dst[y * cols + x] == 10) {
                EXPECT_EQ(dst[y * cols + x + 1], 0);
                EXPECT_EQ(dst[(y + 1) * cols + x], 0);
            }
}

TEST(LocalMaxima, ImagesWithoutInteriorAreNotWritten) {
    for (auto [rows, cols, radius] : {std::tuple{4u, 20u, 2}, std::tuple{20u, 4u, 2}, std::tuple{2u, 2u, 0},
                                      std::tuple{10u, 10u, 5}, std::tuple{0u, 5u, 1}}) {
        const auto img = random_image(rows, cols, 1);
        std::vector<uint8_t> dst(img.size() + 4, 77);
        uint32_t count = 123;
        EXPECT_EQ(bal_local_maxima(img.data(), rows, cols, radius, dst.data(), &count), BAL_OK);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(dst, std::vector<uint8_t>(img.size() + 4, 77));
    }
}

TEST(MaskImage, WholeMasksAndTheForegroundStayAsTheySay) {
    const uint32_t rows = 40, cols = 30;
    const auto img = random_image(rows, cols, 4);
    std::vector<uint8_t> dst(img.size(), 1);
    const std::vector<uint8_t> none(img.size(), 0), all(img.size(), 1);
    ASSERT_EQ(bal_mask_image(img.data(), rows, cols, none.data(), dst.data()), BAL_OK);
    EXPECT_EQ(dst, std::vector<uint8_t>(img.size(), 0));
    ASSERT_EQ(bal_mask_image(img.data(), rows | 0x10000u, cols | 0x30000u, all.data(), dst.data()), BAL_OK);
    EXPECT_EQ(dst, img);
}

TEST(MaskImage, BackgroundContinuesTheRimOfARealCapture) {
    FP_REQUIRE_CAPTURES();
    const fp_test::GreyImage g = fp_test::read_pgm(fp_test::capture_paths().front());
    const uint32_t rows = g.rows, cols = g.cols;
    // An elliptic finger area in the middle.
    std::vector<uint8_t> mask(g.pixels.size());
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            const double dy = (double(y) - 88) / 70, dx = (double(x) - 48) / 36;
            mask[size_t{y} * cols + x] = dy * dy + dx * dx <= 1 ? 1 : 0;
        }
    uint8_t rim_lo = 255, rim_hi = 0;
    for (uint32_t y = 1; y + 1 < rows; ++y)
        for (uint32_t x = 1; x + 1 < cols; ++x) {
            const size_t p = size_t{y} * cols + x;
            bool edge = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) edge |= !mask[p + size_t(dy * int(cols) + dx)];
            if (mask[p] && edge) rim_lo = std::min(rim_lo, g.pixels[p]), rim_hi = std::max(rim_hi, g.pixels[p]);
        }
    std::vector<uint8_t> dst = g.pixels;
    ASSERT_EQ(bal_mask_image(dst.data(), rows, cols, mask.data(), dst.data()), BAL_OK);
    for (size_t p = 0; p < dst.size(); ++p) {
        if (mask[p]) {
            ASSERT_EQ(dst[p], g.pixels[p]) << p;
        } else {
            // Smoothed maxima of rim cells: between the rim's extremes.
            ASSERT_GE(dst[p], rim_lo / 2) << p;
            ASSERT_LE(dst[p], rim_hi) << p;
        }
    }
}

// The fill composed plainly from its steps: rim maxima per 8 x 8 cell,
// growth sweeps, blur of the cells, bilinear up-scaling, the fill and the
// seam blur; on random blobs in images whose sides are not multiples of 8.
TEST(MaskImage, MatchesThePlainComposition) {
    std::mt19937 rng(6);
    for (int trial = 0; trial < 40; ++trial) {
        const uint32_t rows = 16 + rng() % 60, cols = 16 + rng() % 60;
        const auto src = random_image(rows, cols, uint32_t(trial));
        std::vector<uint8_t> mask(src.size(), 0);
        for (int blob = 0; blob < 1 + int(rng() % 3); ++blob) {
            const int32_t cy = int32_t(rng() % rows), cx = int32_t(rng() % cols), rad = 3 + int32_t(rng() % 15);
            for (int32_t y = 0; y < int32_t(rows); ++y)
                for (int32_t x = 0; x < int32_t(cols); ++x)
                    if ((y - cy) * (y - cy) + (x - cx) * (x - cx) <= rad * rad)
                        mask[size_t(y) * cols + x] = uint8_t(1 + rng() % 9);
        }
        const uint32_t gr = (rows + 7) / 8, gc = (cols + 7) / 8;
        auto m = [&](uint32_t y, uint32_t x) { return mask[size_t{y} * cols + x] != 0; };
        std::vector<uint8_t> grid(size_t{gr} * gc, 0);
        for (uint32_t y = 1; y + 1 < rows; ++y)
            for (uint32_t x = 1; x + 1 < cols; ++x) {
                bool rim = false;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) rim |= (dy || dx) && !m(y + dy, x + dx);
                uint8_t& cell = grid[size_t{y / 8} * gc + x / 8];
                if (m(y, x) && rim) cell = std::max(cell, src[size_t{y} * cols + x]);
            }
        for (bool changed = true; changed;) {
            changed = false;
            std::vector<uint8_t> next = grid;
            for (int32_t r = 0; r < int32_t(gr); ++r)
                for (int32_t c = 0; c < int32_t(gc); ++c) {
                    if (grid[size_t(r) * gc + c]) continue;
                    uint8_t best = 0;
                    for (int32_t rr = r - 1; rr <= r + 1; ++rr)
                        for (int32_t cc = c - 1; cc <= c + 1; ++cc)
                            if (rr >= 0 && cc >= 0 && rr < int32_t(gr) && cc < int32_t(gc))
                                best = std::max(best, grid[size_t(rr) * gc + cc]);
                    if (best) next[size_t(r) * gc + c] = best, changed = true;
                }
            grid = next;
        }
        ASSERT_EQ(bal_blur_uint8(grid.data(), gr, gc, grid.data()), BAL_OK);
        std::vector<uint8_t> up(size_t{gr} * 8 * gc * 8);
        bal_scale_up_bilinear_uint8(grid.data(), gr, gc, 8, up.data(), int32_t(gr * 8), int32_t(gc * 8));
        std::vector<uint8_t> want = src;
        for (uint32_t y = 0; y < rows; ++y)
            for (uint32_t x = 0; x < cols; ++x)
                if (!m(y, x)) want[size_t{y} * cols + x] = up[size_t{y} * gc * 8 + x];
        std::vector<uint8_t> blurred(src.size());
        ASSERT_EQ(bal_blur_uint8(want.data(), rows, cols, blurred.data()), BAL_OK);
        for (uint32_t y = 1; y + 1 < rows; ++y)
            for (uint32_t x = 1; x + 1 < cols; ++x) {
                bool seam = false;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) seam |= m(y + dy, x + dx);
                if (!m(y, x) && seam) want[size_t{y} * cols + x] = blurred[size_t{y} * cols + x];
            }
        std::vector<uint8_t> dst(src.size());
        ASSERT_EQ(bal_mask_image(src.data(), rows, cols, mask.data(), dst.data()), BAL_OK);
        ASSERT_EQ(dst, want) << "trial " << trial << ", " << rows << " x " << cols;
        std::vector<uint8_t> in_place = src;
        ASSERT_EQ(bal_mask_image(in_place.data(), rows, cols, mask.data(), in_place.data()), BAL_OK);
        ASSERT_EQ(in_place, want) << "in place, trial " << trial;
    }
}

TEST(MaskImage, GridsOfOneCellRowOrColumn) {
    // 6 x 20: one cell row; the fill repeats the cells instead of interpolating.
    std::vector<uint8_t> img(6 * 20, 200), mask(6 * 20, 1);
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 12; x < 20; ++x) mask[y * 20 + x] = 0, img[y * 20 + x] = 0;
    std::vector<uint8_t> dst(img.size());
    ASSERT_EQ(bal_mask_image(img.data(), 6, 20, mask.data(), dst.data()), BAL_OK);
    for (uint32_t y = 0; y < 6; ++y)
        for (uint32_t x = 0; x < 20; ++x) EXPECT_EQ(dst[y * 20 + x], 200) << y << "," << x;
}

TEST(CropArea, BrightMarginsAreCutWithSixteenPixelsToSpare) {
    uint32_t h, w, top, left;
    const std::vector<uint8_t> dark(100 * 80, 50);
    bal_get_crop_area(dark.data(), 100, 80, &h, &w, &top, &left);
    EXPECT_EQ(std::vector<uint32_t>({h, w, top, left}), (std::vector<uint32_t>{100, 80, 0, 0}));

    std::vector<uint8_t> img = dark;
    for (uint32_t y = 0; y < 100; ++y)
        for (uint32_t x = 0; x < 80; ++x)
            if (x < 30 || x >= 70 || y < 40) img[y * 80 + x] = 255;
    bal_get_crop_area(img.data(), 100, 80, &h, &w, &top, &left);
    // Left: column 29 is the last bright one (29 - 16 = 13); right: column 70
    // (70 + 16 is outside: 79); top: row 39 (23); bottom: none (99).
    EXPECT_EQ(std::vector<uint32_t>({h, w, top, left}), (std::vector<uint32_t>{77, 67, 23, 13}));

    // The middle column is never tested.
    std::vector<uint8_t> middle = dark;
    for (uint32_t y = 0; y < 100; ++y) middle[y * 80 + 40] = 255;
    bal_get_crop_area(middle.data(), 100, 80, &h, &w, &top, &left);
    EXPECT_EQ(std::vector<uint32_t>({h, w, top, left}), (std::vector<uint32_t>{100, 80, 0, 0}));
}

TEST(GetMask, MarksPixelsThatDifferFromTheLowByte) {
    const uint8_t src[6] = {0, 7, 255, 7, 8, 6};
    uint8_t dst[6];
    bal_get_mask(src, 2, 3, 0x307, dst);
    EXPECT_EQ(std::vector<uint8_t>(dst, dst + 6), (std::vector<uint8_t>{1, 0, 1, 0, 1, 1}));
}

// The mask composed from its steps: morphological smoothing, local range of
// radius 5, ten weighted blurs, range above 48.
TEST(SegmentImageMorphological, MatchesThePlainComposition) {
    for (auto [rows, cols] : {std::pair{40u, 30u}, std::pair{176u, 96u}, std::pair{9u, 13u}}) {
        auto src = random_image(rows, cols, rows + cols);
        for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i % cols < cols / 2 ? src[i] : 120 + src[i] % 8);
        std::vector<uint8_t> smooth(src.size()), range(src.size());
        ASSERT_EQ(bal_image_morphological_denoise(src.data(), int32_t(rows), int32_t(cols), smooth.data()), BAL_OK);
        bal_local_intensity_difference(smooth.data(), int32_t(rows), cols, 5, range.data());
        for (int pass = 0; pass < 10; ++pass)
            ASSERT_EQ(bal_blur_weighted_uint8(range.data(), rows, cols, range.data()), BAL_OK);
        std::vector<uint8_t> want(src.size()), dst(src.size(), 7);
        for (size_t i = 0; i < src.size(); ++i) want[i] = range[i] > 48 ? 1 : 0;
        ASSERT_EQ(bal_segment_image_morphological(src.data(), rows, cols, dst.data()), BAL_OK);
        EXPECT_EQ(dst, want) << rows << " x " << cols;
        EXPECT_GT(std::count(want.begin(), want.end(), 1), 0);
        EXPECT_GT(std::count(want.begin(), want.end(), 0), 0);
    }
}

// Captures stretched to the full grey range, their right part replaced by a
// flat background: the finger is marked, the flat part never.
TEST(SegmentImageMorphological, FingerAgainstAFlatBackground) {
    FP_REQUIRE_CAPTURES();
    const auto paths = fp_test::capture_paths();
    size_t finger = 0, finger_set = 0;
    for (size_t i = 0; i < paths.size(); i += 20) {
        const fp_test::GreyImage g = fp_test::read_pgm(paths[i]);
        std::vector<uint8_t> img = g.pixels;
        const auto [lo, hi] = std::minmax_element(g.pixels.begin(), g.pixels.end());
        for (auto& v : img) v = uint8_t((v - *lo) * 255 / std::max(1, *hi - *lo));
        for (uint32_t y = 0; y < g.rows; ++y)
            for (uint32_t x = 60; x < g.cols; ++x) img[size_t{y} * g.cols + x] = 210;
        std::vector<uint8_t> mask(img.size(), 7);
        ASSERT_EQ(bal_segment_image_morphological(img.data(), g.rows, g.cols, mask.data()), BAL_OK);
        size_t flat_set = 0;
        for (uint32_t y = 0; y < g.rows; ++y)
            for (uint32_t x = 0; x < g.cols; ++x) {
                const uint8_t m = mask[size_t{y} * g.cols + x];
                ASSERT_LE(m, 1);
                if (x < 45) ++finger, finger_set += m;
                if (x >= 75) flat_set += m;
            }
        EXPECT_EQ(flat_set, 0u) << paths[i];
    }
    EXPECT_GE(finger_set * 100, finger * 85);
}

}  // namespace
