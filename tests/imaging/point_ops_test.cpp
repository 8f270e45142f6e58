// Point operations against their per-pixel formulas (brute force over every
// grey level and percentage), in place and out of place.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <set>
#include <vector>

#include "imaging/bal_point_ops.h"
#include "math/zr_random.h"

namespace {

std::vector<uint8_t> all_grey_levels() {
    std::vector<uint8_t> v(256);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

TEST(PointOps, BrightenAndDarkenFollowTheirFormulasForEveryLevel) {
    const std::vector<uint8_t> src = all_grey_levels();  // a 16 x 16 image
    for (uint32_t percent = 0; percent <= 260; ++percent) {
        const uint32_t p = percent > 100 ? 100 : percent;
        std::vector<uint8_t> bright(256), dark(256), in_place = src;
        bal_image_brighten(src.data(), 16, 16, percent, bright.data());
        bal_image_darken(src.data(), 16, 16, percent, dark.data());
        bal_image_brighten(in_place.data(), 16, 16, percent, in_place.data());
        for (uint32_t v = 0; v < 256; ++v) {
            // Exact rational reference: floor((255 - v) * p / 100).
            ASSERT_EQ(bright[v], v + ((255 - v) * p) / 100) << v << " at " << percent;
            ASSERT_EQ(dark[v], v - (v * p) / 100) << v << " at " << percent;
        }
        ASSERT_EQ(in_place, bright);
    }
}

TEST(PointOps, StatedValues) {
    const uint8_t src[3] = {0, 100, 255};
    uint8_t out[3];
    bal_image_brighten(src, 1, 3, 75, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{191, 216, 255}));
    bal_image_darken(src, 1, 3, 75, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{0, 25, 64}));
    bal_image_brighten(src, 3, 1, 250, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{255, 255, 255}));

    const uint8_t inv_src[2] = {0, 200};
    bal_image_invert(inv_src, 1, 2, out);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 55);
    bal_image_negate(src, 1, 3, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), (std::vector<uint8_t>{1, 0, 0}));
    const uint8_t one = 1;
    bal_image_negate(&one, 1, 1, out);
    EXPECT_EQ(out[0], 0);
}

TEST(PointOps, InvertAndNegateInPlaceOverEveryLevel) {
    std::vector<uint8_t> img = all_grey_levels();
    bal_image_invert(img.data(), 16, 16, img.data());
    for (uint32_t v = 0; v < 256; ++v) ASSERT_EQ(img[v], 255 - v);
    img = all_grey_levels();
    bal_image_negate(img.data(), 8, 32, img.data());
    for (uint32_t v = 0; v < 256; ++v) ASSERT_EQ(img[v], v == 0 ? 1 : 0);
}

TEST(PointOps, EmptyOrNegativeSizesLeaveTheOutputUntouched) {
    const std::vector<uint8_t> src(16, 9);
    const int32_t sizes[][2] = {{0, 4}, {4, 0}, {0, 0}, {-1, 4}, {4, -2}};
    for (const auto& s : sizes) {
        std::vector<uint8_t> dst(16, 77);
        bal_image_brighten(src.data(), s[0], s[1], 50, dst.data());
        bal_image_darken(src.data(), s[0], s[1], 50, dst.data());
        bal_image_invert(src.data(), s[0], s[1], dst.data());
        bal_image_negate(src.data(), s[0], s[1], dst.data());
        EXPECT_EQ(dst, std::vector<uint8_t>(16, 77)) << s[0] << " x " << s[1];
    }
}

TEST(PointOps, DeadPixelsAreDrawnFromTheCallersGenerator) {
    std::vector<uint8_t> src(12 * 10, 128);
    // Count 0 (and below) only copies.
    for (int32_t count : {0, -5}) {
        std::vector<uint8_t> dst(src.size(), 0);
        uint64_t state = 99;
        EXPECT_EQ(bal_image_add_dead_pixels(src.data(), 12, 10, count, 0, &state, dst.data()), BAL_OK);
        EXPECT_EQ(dst, src);
        EXPECT_EQ(state, 99u);
    }
    // The places are the generator's draws over 0 .. rows * cols - 1.
    uint64_t state = 12345, expected_state = 12345;
    std::vector<uint8_t> dst(src.size(), 0);
    ASSERT_EQ(bal_image_add_dead_pixels(src.data(), 12, 10, 30, 7, &state, dst.data()), BAL_OK);
    std::set<uint32_t> places;
    for (int i = 0; i < 30; ++i) places.insert(zr_randint_uint32(&expected_state, 0, 119));
    EXPECT_EQ(state, expected_state);
    for (uint32_t i = 0; i < 120; ++i) EXPECT_EQ(dst[i], places.count(i) ? 7 : 128) << i;
    // In place, the same state gives the same places.
    std::vector<uint8_t> again = src;
    uint64_t state2 = 12345;
    EXPECT_EQ(BAL_OK, bal_image_add_dead_pixels(again.data(), 12, 10, 30, 7, &state2, again.data()));
    EXPECT_EQ(again, dst);
}

TEST(PointOps, DeadPixelsOnAnEmptyImageWriteNothing) {
    // The draw range would be rows * cols - 1 = 0xFFFFFFFF: nothing is drawn.
    uint8_t guard[4] = {1, 2, 3, 4};
    uint64_t state = 5;
    EXPECT_EQ(bal_image_add_dead_pixels(guard, 0, 96, 10, 0, &state, guard + 1), BAL_OK);
    EXPECT_EQ(bal_image_add_dead_pixels(guard, 176, 0, 10, 0, &state, guard + 1), BAL_OK);
    // rows * cols beyond 32 bits: no image of that size exists.
    EXPECT_EQ(bal_image_add_dead_pixels(guard, 0x10000, 0x10000, 10, 0, &state, guard), BAL_OK);
    EXPECT_EQ(std::vector<uint8_t>(guard, guard + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(state, 5u);
}

}  // namespace
