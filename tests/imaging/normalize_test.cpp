#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "filters_test_support.h"
#include "imaging/bal_blur.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_statistics.h"
#include "imaging/bal_normalize.h"
#include "imaging/bal_normalize_local.h"
#include "math/zr_roots.h"
#include "orient_fixtures.h"

namespace {

using namespace orient_test;

struct Stats {
    double mean = 0, sd = 0;
};
Stats stats(const std::vector<uint8_t>& img, uint32_t cols, uint32_t y0, uint32_t y1, uint32_t x0,
            uint32_t x1) {
    double s = 0, q = 0;
    int n = 0;
    for (uint32_t y = y0; y < y1; ++y)
        for (uint32_t x = x0; x < x1; ++x) {
            const double v = img[y * cols + x];
            s += v;
            q += v * v;
            ++n;
        }
    Stats st;
    st.mean = s / n;
    st.sd = std::sqrt(std::max(0.0, q / n - st.mean * st.mean));
    return st;
}

// bal_normalize_image_HWJ returns the gain rule's value for (target variance,
// variance) directly: compare it with 32 sqrt(T2 / V).
TEST(NormalizeGain, FollowsTheSquareRootOfTheVarianceRatio) {
    uint8_t px = 0, out = 0;
    auto gain = [&](uint32_t t2, uint32_t v) {
        return bal_normalize_image_HWJ(&px, 1, 1, 0, 0, v, t2, &out);
    };
    EXPECT_EQ(gain(14400, 100), 384u);  // the bound of the floored variance at spread 120
    EXPECT_EQ(gain(14400, 14400), 32u);
    EXPECT_EQ(gain(14400, 0), 0u);
    EXPECT_EQ(gain(90000, 1), 9600u);  // beyond the 32-bit root ranges
    for (uint32_t t2 : {400u, 6400u, 14400u, 90000u})
        for (uint32_t v = 1; v < 70000; v = v * 5 / 4 + 1) {
            const double expected = 32 * std::sqrt(static_cast<double>(t2) / v);
            EXPECT_NEAR(gain(t2, v), expected, 2 + 0.01 * expected) << t2 << "/" << v;
            EXPECT_LE(gain(t2, v), expected + 1e-9);
        }
}

TEST(NormalizeMapping, CentresOnTheMeanAndClamps) {
    std::vector<uint8_t> src = {0, 50, 99, 100, 101, 150, 255}, dst(src.size());
    // Unit gain: out = 150 + (p - 100), clamped.
    EXPECT_EQ(bal_normalize_image_HWJ(src.data(), 1, 7, 100, 150, 400, 400, dst.data()), 32u);
    EXPECT_EQ(dst, (std::vector<uint8_t>{50, 100, 149, 150, 151, 200, 255}));
    // Gain 4: far pixels clamp at both ends.
    EXPECT_EQ(bal_normalize_image_HWJ(src.data(), 1, 7, 100, 150, 100, 1600, dst.data()), 128u);
    EXPECT_EQ(dst, (std::vector<uint8_t>{0, 0, 146, 150, 154, 255, 255}));
}

TEST(NormalizeSimple, MatchesTargetStatistics) {
    std::vector<uint8_t> flat(300, 80), out(300);
    EXPECT_EQ(bal_normalize_image_simple(flat.data(), 15, 20, 150, 120, out.data()), 0u);
    for (uint8_t v : out) EXPECT_EQ(v, (150 + 80) >> 1);

    std::mt19937 rng(4);
    std::normal_distribution<double> d(100, 20);
    std::vector<uint8_t> img(96 * 96);
    for (auto& v : img) v = clamp_byte(d(rng));
    const Stats in = stats(img, 96, 0, 96, 0, 96);
    ASSERT_NE(bal_normalize_image_simple(img.data(), 96, 96, 127, 40, img.data()), 0u);
    const Stats st = stats(img, 96, 0, 96, 0, 96);
    EXPECT_NEAR(st.mean, (127 + in.mean) / 2, 1.5);
    EXPECT_NEAR(st.sd, 40, 2.5);
}

TEST(NormalizeNonBurn, NeverSaturatesWhite) {
    std::mt19937 rng(5);
    std::vector<uint8_t> img(64 * 64), out(img.size());
    for (auto& v : img) v = static_cast<uint8_t>(rng() & 0xFF);
    bal_normalize_non_burn(img.data(), 64, 64, 0, 0, out.data());
    EXPECT_EQ(std::count(out.begin(), out.end(), 255), 0);
    EXPECT_GT(std::count(out.begin(), out.end(), 254), 0);
}

TEST(NormalizeGlobally, UsesTheMaskedBlocksOnly) {
    // Left half flat 60 (masked out), right half a grating around 120.
    constexpr uint32_t kN = 48;
    auto img = grating(kN, kN, 0.0, 8.0, 120, 30);
    for (uint32_t y = 0; y < kN; ++y)
        for (uint32_t x = 0; x < kN / 2; ++x) img[y * kN + x] = 60;
    std::vector<uint8_t> mask = {0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1}, out(kN * kN);
    ASSERT_EQ(
        bal_normalize_globally(img.data(), kN, kN, mask.data(), 12, 4, 4, 150, 60, out.data()), BAL_OK);
    const Stats right = stats(out, kN, 0, kN, kN / 2, kN);
    EXPECT_NEAR(right.mean, (150 + 120) / 2, 4);
    EXPECT_NEAR(right.sd, 60, 8);

    std::vector<uint8_t> none(16, 0);
    ASSERT_EQ(
        bal_normalize_globally(img.data(), kN, kN, none.data(), 12, 4, 4, 150, 60, out.data()), BAL_OK);
    for (uint8_t v : out) EXPECT_EQ(v, 75);
}

// The block-wise mapping gives every block the mapping of its own gain:
// compare it with the given-statistics member block by block, for grids
// wider than one mapping chunk and for blocks wider than a chunk.
TEST(BnlNormalize, MapsEachBlockWithItsOwnGain) {
    std::mt19937 rng(12);
    for (uint32_t block : {12u, 250u}) {
        const uint32_t br = 2, bc = block == 12 ? 50 : 2;
        const uint32_t rows = br * block, cols = bc * block + 3;
        std::vector<uint8_t> src(rows * cols), local(rows * cols), mask(br * bc),
            out(rows * cols, 7);
        std::vector<uint16_t> var(br * bc);
        std::vector<uint8_t> block_mean(br * bc);
        for (auto& p : src) p = static_cast<uint8_t>(rng());
        for (size_t b = 0; b < var.size(); ++b) {
            var[b] = static_cast<uint16_t>(1 + rng() % 3000);
            block_mean[b] = static_cast<uint8_t>(rng());
            mask[b] = rng() % 5 != 0;
        }
        for (uint32_t y = 0; y < rows; ++y)
            for (uint32_t x = 0; x < cols; ++x)
                local[y * cols + x] = x < bc * block ? block_mean[(y / block) * bc + x / block] : 0;
        bnl_normalize(src.data(), rows, cols, mask.data(), block, br, bc, 140, 300, local.data(),
                      var.data(), out.data());
        for (uint32_t r = 0; r < br; ++r)
            for (uint32_t c = 0; c < bc; ++c) {
                const size_t b = r * bc + c;
                std::vector<uint8_t> tile(block * block), expected(block * block);
                for (uint32_t y = 0; y < block; ++y)
                    for (uint32_t x = 0; x < block; ++x)
                        tile[y * block + x] = src[(r * block + y) * cols + c * block + x];
                // Spread 300 squared taken modulo 65536, as the block mapping does.
                bal_normalize_image_HWJ(tile.data(), block, block, block_mean[b], 140, var[b],
                                        (300 * 300) % 65536, expected.data());
                for (uint32_t y = 0; y < block; ++y)
                    for (uint32_t x = 0; x < block; ++x)
                        ASSERT_EQ(out[(r * block + y) * cols + c * block + x],
                                  mask[b] ? expected[y * block + x] : 255)
                            << "block " << block << " at " << r << "," << c;
            }
        for (uint32_t y = 0; y < rows; ++y)
            for (uint32_t x = bc * block; x < cols; ++x) EXPECT_EQ(out[y * cols + x], 7);
    }
}

// The local normalisation as extraction runs it (mean 150, spread 120), with
// and without a block mask, against its steps written out one by one: gain in
// its first root range (the variances are at least 100), mapping rule with
// its clamps, masked-out blocks white, pixels beyond the grid untouched.
TEST(NormalizeLocally, MatchesAStepByStepReferenceExactly) {
    constexpr uint32_t kRows = 176, kCols = 96;
    auto gain = [](uint32_t t2, uint32_t v) {
        const uint32_t g = t2 * 256 / v;
        EXPECT_LT(g, 65536u);
        return zr_sqrt_24_5(g * 65536);
    };
    auto map = [](uint8_t p, uint8_t m, int c, uint32_t g) -> uint8_t {
        if (p > m) return static_cast<uint8_t>(std::min(255u, c + (((p - m) * g) >> 5)));
        return static_cast<uint8_t>(std::max(0, c - static_cast<int>(((m - p) * g) >> 5)));
    };
    std::mt19937 rng(2);
    for (uint32_t block : {12u, 8u, 7u}) {
        const uint32_t br = kRows / block, bc = kCols / block, nb = br * bc;
        for (const auto& img : reference_inputs(kRows, kCols))
            for (bool masked : {false, true}) {
                std::vector<uint8_t> mask(nb, 1);
                if (masked)
                    for (auto& m : mask) m = rng() % 4 != 0;
                const uint8_t* mp = masked ? mask.data() : nullptr;
                std::vector<uint8_t> means(nb), local(img.size());
                std::vector<uint16_t> var(nb);
                bal_mean_blockwise_uint8(img.data(), kRows, kCols, block, br, bc, means.data());
                if (mp) { EXPECT_EQ(BAL_OK, bal_blur_fingerprint_edge_uint8(means.data(), mp, br, bc, means.data())); }
                bal_scale_up_bilinear_uint8(means.data(), br, bc, block, local.data(), kRows,
                                            kCols);
                bal_var_blockwise_uint8(img.data(), kRows, kCols, means.data(), block, br, bc,
                                        var.data());
                if (mp) { EXPECT_EQ(BAL_OK, bal_blur_fingerprint_edge_uint16(var.data(), mp, br, bc, var.data())); }
                EXPECT_EQ(BAL_OK, bal_blur_uint16(var.data(), br, bc, var.data()));
                std::vector<uint8_t> want(img.size(), 7);
                for (uint32_t b = 0; b < nb; ++b) {
                    const uint32_t g = gain(120 * 120, std::max<uint16_t>(var[b], 100));
                    for (uint32_t y = b / bc * block; y < (b / bc + 1) * block; ++y)
                        for (uint32_t x = b % bc * block; x < (b % bc + 1) * block; ++x) {
                            const size_t i = y * kCols + x;
                            want[i] = mp && !mp[b] ? 255 : map(img[i], local[i], 150, g);
                        }
                }
                std::vector<uint8_t> got(img.size(), 7);
                ASSERT_EQ(bal_normalize_locally(img.data(), kRows, kCols, mp, block, br, bc, 150,
                                                120, got.data()),
                          BAL_OK);
                ASSERT_EQ(got, want) << "block " << block << (masked ? " masked" : "");
            }
    }
}

TEST(NormalizeLocally, ReachesTargetMeanAndSpreadOnAGrating) {
    constexpr uint32_t kN = 96;
    // Mean 90, amplitude 40 (standard deviation 28): spread 60 is reachable
    // without clamping.
    const auto img = grating(kN, kN, 0.7, 9.0, 90, 40);
    std::vector<uint8_t> out(kN * kN);
    ASSERT_EQ(bal_normalize_locally(img.data(), kN, kN, nullptr, 12, 8, 8, 150, 60, out.data()),
              BAL_OK);
    const Stats st = stats(out, kN, 12, 84, 12, 84);
    EXPECT_NEAR(st.mean, 150, 5);
    EXPECT_NEAR(st.sd, 60, 9);
}

// A faint grating (variance below 100) is amplified by the bounded gain of
// 384 (12x) at spread 120, not by 1.2x.
TEST(NormalizeLocally, LowContrastGainIsBoundedAtTwelve) {
    constexpr uint32_t kN = 96;
    const auto img = grating(kN, kN, 0.0, 10.0, 100, 5);
    const Stats in = stats(img, kN, 12, 84, 12, 84);
    std::vector<uint8_t> out(kN * kN);
    ASSERT_EQ(bal_normalize_locally(img.data(), kN, kN, nullptr, 12, 8, 8, 150, 120, out.data()),
              BAL_OK);
    const Stats st = stats(out, kN, 12, 84, 12, 84);
    EXPECT_NEAR(st.sd, 12 * in.sd, 0.15 * 12 * in.sd);
    EXPECT_NEAR(st.mean, 150, 10);  // the truncated block means, amplified 12x
}

TEST(NormalizeLocally, FlatImageMapsToTheTargetAndMaskedBlocksToWhite) {
    constexpr uint32_t kRows = 48, kCols = 40;  // 4 columns beyond the grid
    std::vector<uint8_t> img(kRows * kCols, 100), out(kRows * kCols, 7);
    std::vector<uint8_t> mask(4 * 3, 1);
    mask[1 * 3 + 2] = 0;
    ASSERT_EQ(bal_normalize_locally(img.data(), kRows, kCols, mask.data(), 12, 4, 3, 150, 120,
                                    out.data()),
              BAL_OK);
    for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = 0; x < kCols; ++x) {
            const uint8_t v = out[y * kCols + x];
            const uint8_t expected = x >= 36 ? 7 : (y / 12 == 1 && x / 12 == 2) ? 255 : 150;
            EXPECT_EQ(v, expected) << y << "," << x;
        }
    // In place gives the same.
    auto inplace = img;
    ASSERT_EQ(bal_normalize_locally(inplace.data(), kRows, kCols, mask.data(), 12, 4, 3, 150, 120,
                                    inplace.data()),
              BAL_OK);
    for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = 0; x < 36; ++x) EXPECT_EQ(inplace[y * kCols + x], out[y * kCols + x]);
}

TEST(NormalizeLocally, RejectsBadGeometry) {
    std::vector<uint8_t> img(48 * 48, 100), out(48 * 48, 7);
    EXPECT_EQ(bal_normalize_locally(img.data(), 48, 48, nullptr, 12, 5, 4, 150, 120, out.data()),
              BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_normalize_locally(img.data(), 48, 48, nullptr, 12, 1, 4, 150, 120, out.data()),
              BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_normalize_locally(img.data(), 48, 48, nullptr, 0, 4, 4, 150, 120, out.data()),
              BAL_BAD_ARGUMENT);
    for (uint8_t v : out) EXPECT_EQ(v, 7);
}

TEST(NormalizeLocally, ScratchThatCannotBeAllocatedReturnsNoMemory) {
    FP_REQUIRE_PLAIN_MALLOC();
    uint8_t px = 0;
    const std::vector<uint8_t> mask(4, 1);
    EXPECT_EQ(bal_normalize_locally(&px, 1u << 30, 1u << 30, mask.data(), 12, 2, 2, 150, 120, &px),
              BAL_NO_MEMORY);
    EXPECT_EQ(px, 0);
}

TEST(NormalizeLocallyMinmax, FlatAndMaskedBlocks) {
    constexpr uint32_t kN = 36;
    std::vector<uint8_t> img(kN * kN, 90), out(kN * kN);
    std::vector<uint8_t> mask(9, 1);
    mask[0] = 0;
    ASSERT_EQ(bal_normalize_locally_minmax(img.data(), kN, kN, mask.data(), 12, 3, 3, 0x196, 120,
                                           out.data()),
              BAL_OK);
    for (uint32_t y = 0; y < kN; ++y)
        for (uint32_t x = 0; x < kN; ++x)
            EXPECT_EQ(out[y * kN + x], (y < 12 && x < 12) ? 255 : 150);
    // A grating centred between its extremes maps to the target mean.
    const auto g = grating(kN, kN, 0.0, 9.0, 100, 60);
    std::vector<uint8_t> all(9, 1);
    ASSERT_EQ(
        bal_normalize_locally_minmax(g.data(), kN, kN, all.data(), 12, 3, 3, 150, 60, out.data()),
        BAL_OK);
    EXPECT_NEAR(stats(out, kN, 0, kN, 0, kN).mean, 150, 8);
}

TEST(NormalizeImage, FlatImageKeepsUnitGainAndTexturedGetsTargetSpread) {
    std::vector<uint8_t> flat(32 * 32, 90), out(32 * 32);
    EXPECT_EQ(bal_normalize_image(flat.data(), 32, 32, 128, 20, 60, out.data()), 32u);
    EXPECT_EQ(out, flat);
    // Standard deviation 50 (variance 2500 and above): target spread 60.
    const auto g = grating(64, 64, 0.3, 9.0, 120, 75);
    const Stats in = stats(g, 64, 0, 64, 0, 64);
    ASSERT_GT(in.sd * in.sd, 2500);
    out.resize(64 * 64);
    ASSERT_NE(bal_normalize_image(g.data(), 64, 64, 128, 20, 60, out.data()), 0u);
    const Stats st = stats(out, 64, 0, 64, 0, 64);
    EXPECT_NEAR(st.sd, 60, 6);
    EXPECT_NEAR(st.mean, (128 + in.mean) / 2, 4);
}

TEST(NormalizeImageMean, SubtractsTheSmoothLocalMean) {
    constexpr uint32_t kN = 64;
    std::vector<uint8_t> ramp(kN * kN), out(kN * kN, 7);
    for (uint32_t y = 0; y < kN; ++y)
        for (uint32_t x = 0; x < kN; ++x) ramp[y * kN + x] = static_cast<uint8_t>(60 + x);
    bal_normalize_image_mean(ramp.data(), kN, kN, 128, out.data());
    // Two blocks in from the sides, where the blurred block means stay linear.
    for (uint32_t y = 0; y < kN; ++y)
        for (uint32_t x = 16; x < kN - 20; ++x)
            EXPECT_NEAR(out[y * kN + x], 128, 2) << y << "," << x;
    std::vector<uint8_t> tiny(8 * 40, 3), tiny_out(8 * 40, 7);
    bal_normalize_image_mean(tiny.data(), 8, 40, 128, tiny_out.data());
    for (uint8_t v : tiny_out) EXPECT_EQ(v, 7);
}

TEST(NormalizeSmqt, QuantisesByMeansIntoMultiplesOfFour) {
    std::vector<uint8_t> flat(100, 77), out(100, 9);
    ASSERT_EQ(bal_normalize_image_smqt(flat.data(), 10, 10, out.data()), BAL_OK);
    for (uint8_t v : out) EXPECT_EQ(v, 0);

    std::vector<uint8_t> two = {50, 200, 50, 200};
    ASSERT_EQ(bal_normalize_image_smqt(two.data(), 2, 2, out.data()), BAL_OK);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 4),
              (std::vector<uint8_t>{0, 128, 0, 128}));

    std::mt19937 rng(8);
    std::vector<uint8_t> img(64 * 64), res(img.size());
    for (auto& v : img) v = static_cast<uint8_t>(rng() & 0xFF);
    ASSERT_EQ(bal_normalize_image_smqt(img.data(), 64, 64, res.data()), BAL_OK);
    std::vector<int> code(256, -1);
    for (size_t i = 0; i < img.size(); ++i) {
        EXPECT_EQ(res[i] % 4, 0);
        code[img[i]] = res[i];
    }
    int last = 0;
    for (int c : code) {
        if (c < 0) continue;
        EXPECT_GE(c, last);  // monotone in the grey level
        last = c;
    }
    EXPECT_GE(last, 192);
}

// Foreground blocks 1, background 0: the rim of the mask gets the flag 2, the
// background and rim statistics are repaired, masked-out pixels become 255.
TEST(NormalizeLocallyEdgefix, FlagsTheRimAndWhitensTheBackground) {
    constexpr uint32_t kN = 72, kB = 6;
    auto img = grating(kN, kN, 0.4, 9.0, 110, 40);
    std::vector<uint8_t> mask(kB * kB, 0);
    for (uint32_t r = 1; r < 5; ++r)
        for (uint32_t c = 1; c < 5; ++c) mask[r * kB + c] = 1;
    for (uint32_t y = 0; y < kN; ++y)
        for (uint32_t x = 0; x < kN; ++x)
            if (!mask[(y / 12) * kB + x / 12]) img[y * kN + x] = 230;
    std::vector<uint8_t> out(kN * kN);
    ASSERT_EQ(bal_normalize_locally_edgefix(img.data(), kN, kN, mask.data(), 12, kB, kB, 150, 60,
                                            out.data()),
              BAL_OK);
    for (uint32_t r = 0; r < kB; ++r)
        for (uint32_t c = 0; c < kB; ++c) {
            const bool inside = r >= 1 && r < 5 && c >= 1 && c < 5;
            const bool rim = inside && (r == 1 || r == 4 || c == 1 || c == 4);
            EXPECT_EQ(mask[r * kB + c], inside ? (rim ? 3 : 1) : 0) << r << "," << c;
        }
    for (uint32_t y = 0; y < kN; ++y)
        for (uint32_t x = 0; x < kN; ++x)
            if (!mask[(y / 12) * kB + x / 12]) {
                EXPECT_EQ(out[y * kN + x], 255);
            }
    const Stats inner = stats(out, kN, 12, 60, 12, 60);
    EXPECT_NEAR(inner.mean, 150, 10);
    EXPECT_NEAR(inner.sd, 60, 12);

    std::vector<uint8_t> none(kB * kB, 0);
    ASSERT_EQ(bal_normalize_locally_edgefix(img.data(), kN, kN, none.data(), 12, kB, kB, 150, 60,
                                            out.data()),
              BAL_OK);
    for (uint8_t v : none) EXPECT_EQ(v, 0);
    for (uint8_t v : out) EXPECT_EQ(v, 255);
    EXPECT_EQ(
        bal_normalize_locally_edgefix(img.data(), kN, kN, nullptr, 12, kB, kB, 150, 60, out.data()),
        BAL_BAD_ARGUMENT);
}

}  // namespace
