// Orientation, coherence and period maps of the liveness mask on gratings
// with known direction and period, and on hand-made block maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <random>
#include <vector>

#include "liveness/nex_maps.h"
#include "liveness_test_images.h"

namespace {

using liveness_test::code_distance;
using liveness_test::grating;
using liveness_test::ridge_code;

struct Maps {
    int32_t block_rows, block_cols;
    std::vector<uint8_t> smoothed, coherence, raw;
    Maps(int32_t rows, int32_t cols)
        : block_rows((rows + 15) / 16),
          block_cols((cols + 15) / 16),
          smoothed(size_t(block_rows) * block_cols),
          coherence(smoothed.size()),
          raw(smoothed.size()) {}
    size_t at(int32_t bi, int32_t bj) const { return size_t(bi) * block_cols + bj; }
};

Maps orient(std::vector<uint8_t>& px, int32_t rows, int32_t cols) {
    Maps m(rows, cols);
    compute_orientation(px.data(), rows, cols, m.smoothed.data(), m.coherence.data(), m.raw.data(), m.block_rows,
                        m.block_cols);
    return m;
}

// Gratings at 16 directions and periods 7 to 13: the blocks away from the
// edge get the analytic direction. Worst seen: raw 2, smoothed 3, lowest
// coherence 249.
TEST(LivenessOrientation, GratingsGiveTheirDirection) {
    constexpr int32_t kSide = 112;  // 7 x 7 blocks; blocks 2..4 see only blocks with full windows
    int32_t worst_raw = 0, worst_smoothed = 0, lowest_coherence = 255;
    for (int32_t n = 0; n < 16; ++n)
        for (int32_t period = 7; period <= 13; ++period) {
            const int32_t normal = 8 * n;
            std::vector<uint8_t> px = grating(kSide, kSide, normal, period);
            const Maps m = orient(px, kSide, kSide);
            for (int32_t bi = 2; bi <= 4; ++bi)
                for (int32_t bj = 2; bj <= 4; ++bj) {
                    const int32_t expected = ridge_code(normal);
                    worst_raw = std::max(worst_raw, code_distance(m.raw[m.at(bi, bj)], expected));
                    worst_smoothed = std::max(worst_smoothed, code_distance(m.smoothed[m.at(bi, bj)], expected));
                    lowest_coherence = std::min<int32_t>(lowest_coherence, m.coherence[m.at(bi, bj)]);
                    EXPECT_LE(code_distance(m.raw[m.at(bi, bj)], expected), 2) << normal << " " << period;
                    EXPECT_LE(code_distance(m.smoothed[m.at(bi, bj)], expected), 3) << normal << " " << period;
                    EXPECT_GE(m.coherence[m.at(bi, bj)], 240) << normal << " " << period;
                }
        }
    std::printf("gratings: worst raw %d, worst smoothed %d, lowest coherence %d\n", worst_raw, worst_smoothed,
                lowest_coherence);
}

// The smoothing sums reach 25 x 255 x 16384: gratings near codes 16 and 48
// keep their direction (a 32-bit ratio in the arctangent turned 17 into 46).
TEST(LivenessOrientation, SmoothingKeepsDirectionsWhereTheSumsAreLarge) {
    for (int32_t code : {15, 16, 17, 47, 48, 49, 80, 112})
        for (int32_t period : {6, 7, 8, 9}) {
            std::vector<uint8_t> px = grating(112, 112, code - 64, period);
            const Maps m = orient(px, 112, 112);
            for (int32_t bi = 2; bi <= 4; ++bi)
                for (int32_t bj = 2; bj <= 4; ++bj)
                    EXPECT_LE(code_distance(m.smoothed[m.at(bi, bj)], code), 3)
                        << "code " << code << " period " << period << " got " << int(m.smoothed[m.at(bi, bj)]);
        }
}

// Coherence is at most 255, so the stored byte is the value: straight sharp
// bars, whose true coherence is 255, keep a smoothed coherence near 255 in
// the interior (one neighbour wrapped to a small byte would pull it below 240).
TEST(LivenessOrientation, CoherenceOfSharpBarsDoesNotWrap) {
    constexpr int32_t kSide = 96;
    int32_t lowest = 255;
    for (int32_t slope = 0; slope < 2; ++slope)
        for (int32_t width : {2, 4, 8})  // periods that divide the block: every block normalises alike
            for (int32_t transpose = 0; transpose < 2; ++transpose) {
                std::vector<uint8_t> px(kSide * kSide);
                for (int32_t r = 0; r < kSide; ++r)
                    for (int32_t c = 0; c < kSide; ++c) {
                        const int32_t y = transpose ? c : r, x = transpose ? r : c;
                        px[size_t(r) * kSide + c] = uint8_t((x + slope * y) % (2 * width) < width ? 10 : 245);
                    }
                const Maps m = orient(px, kSide, kSide);
                for (int32_t bi = 2; bi <= 3; ++bi)  // away from the padded edge windows
                    for (int32_t bj = 2; bj <= 3; ++bj) lowest = std::min<int32_t>(lowest, m.coherence[m.at(bi, bj)]);
            }
    std::printf("sharp bars: lowest interior coherence %d\n", lowest);
    EXPECT_GE(lowest, 240);
}

TEST(LivenessOrientation, UnusableBlocksAreLeftAlone) {
    constexpr int32_t kRows = 48, kCols = 48;
    std::vector<uint8_t> px = grating(kRows, kCols, 32, 8);
    auto fill_block = [&](int32_t bi, int32_t bj, auto value) {
        for (int32_t r = 0; r < 16; ++r)
            for (int32_t c = 0; c < 16; ++c) px[size_t(16 * bi + r) * kCols + 16 * bj + c] = uint8_t(value(r, c));
    };
    fill_block(1, 1, [](int32_t r, int32_t c) { return 100 + (r + c) % 2 * 10; });  // variance 25
    fill_block(0, 2, [](int32_t r, int32_t c) { return (r + c) % 2 * 30; });         // mean 15
    fill_block(2, 0, [](int32_t r, int32_t c) { return r * 16 + c < 3 ? 170 : 255; });  // mean 254
    const std::vector<uint8_t> before = px;
    const Maps m = orient(px, kRows, kCols);
    for (auto [bi, bj] : {std::pair{1, 1}, std::pair{0, 2}, std::pair{2, 0}}) {
        EXPECT_EQ(0, m.raw[m.at(bi, bj)]);
        EXPECT_EQ(0, m.smoothed[m.at(bi, bj)]);
        for (int32_t r = 0; r < 16; ++r)
            for (int32_t c = 0; c < 16; ++c) {
                const size_t i = size_t(16 * bi + r) * kCols + 16 * bj + c;
                ASSERT_EQ(before[i], px[i]) << bi << "," << bj;
            }
    }
    // A usable block is normalised: mean near 128.
    int32_t sum = 0;
    for (int32_t r = 0; r < 16; ++r)
        for (int32_t c = 0; c < 16; ++c) sum += px[size_t(r) * kCols + c];
    EXPECT_NEAR(128, sum / 256, 6);
    EXPECT_NE(0, m.raw[m.at(0, 0)]);
}

// Floating-point coherence-weighted mean of doubled angles, as a code.
double float_mean_code(const std::vector<std::pair<int32_t, int32_t>>& codes_and_weights) {
    double c = 0, s = 0;
    for (auto [code, weight] : codes_and_weights) {
        const double a = 2.0 * std::numbers::pi * (2 * code % 256) / 256.0;
        c += weight * std::cos(a);
        s += weight * std::sin(a);
    }
    double angle = std::atan2(s, c) / (2.0 * std::numbers::pi) * 256.0;
    if (angle < 0) angle += 256.0;
    return angle / 2.0;
}

TEST(LivenessOrientation, RadiusFollowsTheSpreadOfTheNeighbourhood) {
    // 5 x 5 blocks, the centre's inner ring 40 and 48, the outer ring other codes.
    auto run = [](const std::vector<uint8_t>& outer_codes, std::vector<std::pair<int32_t, int32_t>>* all,
                  std::vector<std::pair<int32_t, int32_t>>* inner) {
        std::vector<uint8_t> raw(25), coherence(25, 200), smoothed(25);
        size_t next_outer = 0, next_inner = 0;
        for (int32_t i = 0; i < 5; ++i)
            for (int32_t j = 0; j < 5; ++j) {
                const bool is_inner = std::abs(i - 2) <= 1 && std::abs(j - 2) <= 1;
                const uint8_t code = is_inner ? (next_inner++ < 5 ? 40 : 48) : outer_codes[next_outer++];
                raw[size_t(i) * 5 + j] = code;
                all->push_back({code, 200});
                if (is_inner) inner->push_back({code, 200});
            }
        smooth_orientations(raw.data(), coherence.data(), smoothed.data(), 5, 5);
        return int32_t(smoothed[12]);
    };
    {  // spread: peak 5 of 25, 25 * 256 / 5 > 899: 3 x 3
        std::vector<std::pair<int32_t, int32_t>> all, inner;
        const std::vector<uint8_t> outer = {8, 8, 8, 24, 24, 24, 72, 72, 72, 88, 88, 88, 104, 104, 120, 120};
        const int32_t got = run(outer, &all, &inner);
        EXPECT_NEAR(float_mean_code(inner), got, 1.0);
        EXPECT_GT(std::abs(float_mean_code(all) - got), 2.0);
    }
    {  // concentrated: 16 of 25 in one bin, 25 * 256 / 16 <= 899: 5 x 5
        std::vector<std::pair<int32_t, int32_t>> all, inner;
        const int32_t got = run(std::vector<uint8_t>(16, 60), &all, &inner);
        EXPECT_NEAR(float_mean_code(all), got, 1.0);
        EXPECT_GT(std::abs(float_mean_code(inner) - got), 2.0);
    }
}

TEST(LivenessOrientation, CodesOneAndOneTwentyEightAverageAcrossZero) {
    std::vector<uint8_t> raw(9), coherence(9, 250), smoothed(9);
    for (size_t i = 0; i < 9; ++i) raw[i] = i % 2 ? 1 : 128;
    smooth_orientations(raw.data(), coherence.data(), smoothed.data(), 3, 3);
    for (uint8_t v : smoothed) EXPECT_TRUE(v == 128 || v == 1) << int(v);
    // a block without raw orientation stays 0
    raw[4] = 0;
    smooth_orientations(raw.data(), coherence.data(), smoothed.data(), 3, 3);
    EXPECT_EQ(0, smoothed[4]);
}

// Vertical ridges on a one-block-high image: the period map is not smoothed.
TEST(LivenessFrequency, PeriodCodesOfExactGratings) {
    struct Case {
        double period;
        uint8_t code;
    };
    for (const Case& k : {Case{8.0, 128}, Case{32.0 / 3.0, 171}, Case{32.0 / 5.0, 102}, Case{4.0, 64}}) {
        std::vector<uint8_t> px = grating(16, 96, 0, k.period);
        std::vector<uint8_t> orientation(6, 64), period(6);
        compute_frequency(px.data(), 16, 96, orientation.data(), period.data(), 1, 6);
        for (int32_t bj = 1; bj <= 4; ++bj) EXPECT_EQ(k.code, period[bj]) << k.period << " block " << bj;
    }
}

// Pure cosine profiles of each frequency: the code is 32 * 16 / f rounded,
// capped at 255.
TEST(LivenessFrequency, ProfileCodeOfEachFrequency) {
    for (int32_t f = 2; f <= 16; ++f) {
        int32_t profile[32];
        for (int32_t k = 0; k < 32; ++k)
            profile[k] = int32_t(std::lround(128 + 90 * std::cos(2 * std::numbers::pi * f * k / 32.0 + 0.3)));
        const int32_t expected = std::min<int32_t>(255, int32_t(std::lround(512.0 / f)));
        EXPECT_EQ(expected, profile_period_code(profile)) << "f " << f;
    }
}

TEST(LivenessFrequency, CornerProfileAveragesWhatLiesInsideAndFallsBackToTheBlockMean) {
    std::vector<uint8_t> px(32 * 32, 200);
    for (int32_t r = 0; r < 16; ++r)
        for (int32_t c = 0; c < 16; ++c) px[size_t(r) * 32 + c] = uint8_t(60 + 2 * r);
    int32_t profile[32];
    block_ridge_profile(px.data(), 32, 32, 0, 0, 64, profile);  // vertical ridges
    for (int32_t k = 0; k < 32; ++k) {
        // column k - 8, rows -1..14 (row -1 outside): 15 samples of mean 74;
        // columns below 0 take the block mean 75
        const int32_t expected = k < 8 ? 75 : (k < 24 ? 74 : 200);
        EXPECT_EQ(expected, profile[k]) << "k " << k;
    }
}

TEST(LivenessFrequency, BlocksWithoutOrientationGet160) {
    std::vector<uint8_t> px = grating(48, 48, 0, 8);
    std::vector<uint8_t> orientation(9, 0), period(9, 7);
    compute_frequency(px.data(), 48, 48, orientation.data(), period.data(), 3, 3);
    for (uint8_t v : period) EXPECT_EQ(160, v);
    orientation[4] = 64;  // the centre block: 128, then smoothed with its 160 neighbours
    compute_frequency(px.data(), 48, 48, orientation.data(), period.data(), 3, 3);
    // row pass then column pass of the binomial rule on a lone 128 in 160s
    EXPECT_EQ(((160 + 2 * ((160 + 256 + 160) >> 2) + 160) >> 2), period[4]);
}

}  // namespace
