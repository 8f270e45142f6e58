#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "imaging/bal_binarize.h"
#include "imaging/bal_blur.h"

namespace {

std::vector<int8_t> random_signed(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int8_t> v(n);
    for (auto& x : v) x = static_cast<int8_t>(static_cast<int>(rng() % 256) - 128);
    return v;
}

void expect_complementary(const std::vector<uint8_t>& first, const std::vector<uint8_t>& second,
                          size_t i, bool at_or_above) {
    EXPECT_EQ(first[i], at_or_above ? 1 : 0) << i;
    EXPECT_EQ(second[i], at_or_above ? 0 : 1) << i;
}

// A 2 x 2 block grid with the same content in every block, so the grid blur
// keeps each block's own threshold.
TEST(LocalHistogramThreshold, BlockThresholdsFromTheCumulativeShare) {
    constexpr uint32_t kBlock = 12, kRows = 24, kCols = 29;  // 5 columns beyond the grid
    std::vector<int8_t> ramp(kRows * kCols);
    std::vector<int8_t> flat(kRows * kCols, -20);
    for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = 0; x < kCols; ++x)
            ramp[y * kCols + x] =
                static_cast<int8_t>(-72 + int((y % kBlock) * kBlock + (x % kBlock)));
    const std::vector<uint8_t> mask(4, 1);
    std::vector<uint8_t> first(kRows * kCols), second(kRows * kCols);

    // Values -72..71 once each: 70 pixels give the first share above 47 %.
    ASSERT_EQ(
        bal_binarize_local_histogram_threshold(ramp.data(), nullptr, kRows, kCols, mask.data(),
                                               kBlock, 47, first.data(), second.data()),
        BAL_OK);
    for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = 0; x < kCols; ++x) {
            const size_t i = y * kCols + x;
            if (x >= 24) {
                EXPECT_EQ(first[i] + second[i], 2) << "beyond the grid";
            } else {
                expect_complementary(first, second, i, ramp[i] >= -3);
            }
        }
    // A flat block's threshold is its value: every pixel is at or above it.
    ASSERT_EQ(
        bal_binarize_local_histogram_threshold(flat.data(), nullptr, kRows, kCols, mask.data(),
                                               kBlock, 47, first.data(), second.data()),
        BAL_OK);
    for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = 0; x < 24; ++x) expect_complementary(first, second, y * kCols + x, true);
}

// Block thresholds from 16-bit cumulative counts, the weighted grid blur and
// the per-pixel decision, written out step by step, for several block sizes
// and shares (0 and 100 reach the first and the "no bin qualifies" ends).
TEST(LocalHistogramThreshold, MatchesAStepByStepReference) {
    constexpr uint32_t kRows = 176, kCols = 96;
    std::mt19937 rng(4);
    for (uint32_t block : {12u, 6u, 7u})
        for (uint8_t percent : {uint8_t{47}, uint8_t{0}, uint8_t{99}, uint8_t{100}}) {
            const uint32_t br = kRows / block, bc = kCols / block;
            std::vector<int8_t> src(kRows * kCols);
            for (auto& p : src) p = static_cast<int8_t>(int(rng() % 97) - 48 + int(rng() % 3) * 20);
            std::vector<uint8_t> mask(br * bc);
            for (auto& m : mask) m = rng() % 5 != 0;
            std::vector<int8_t> grid(br * bc, 0);
            for (uint32_t b = 0; b < br * bc; ++b) {
                if (!mask[b]) continue;
                uint16_t hist[256] = {};
                for (uint32_t y = b / bc * block; y < (b / bc + 1) * block; ++y)
                    for (uint32_t x = b % bc * block; x < (b % bc + 1) * block; ++x)
                        ++hist[src[y * kCols + x] + 128];
                uint16_t c = 0;
                int t = 127;
                for (int k = 0; k < 256; ++k) {
                    c = static_cast<uint16_t>(c + hist[k]);
                    if (c * 100u / (block * block) > percent) {
                        t = k - 128;
                        break;
                    }
                }
                grid[b] = static_cast<int8_t>(t);
            }
            ASSERT_EQ(bal_blur_weighted_int8(grid.data(), br, bc, grid.data()), BAL_OK);
            std::vector<uint8_t> first(kRows * kCols, 1), second(kRows * kCols, 1);
            for (uint32_t b = 0; b < br * bc; ++b) {
                if (!mask[b]) continue;
                for (uint32_t y = b / bc * block; y < (b / bc + 1) * block; ++y)
                    for (uint32_t x = b % bc * block; x < (b % bc + 1) * block; ++x) {
                        const bool at_or_above = src[y * kCols + x] >= grid[b];
                        first[y * kCols + x] = at_or_above;
                        second[y * kCols + x] = !at_or_above;
                    }
            }
            std::vector<uint8_t> got_first(kRows * kCols, 9), got_second(kRows * kCols, 9);
            ASSERT_EQ(bal_binarize_local_histogram_threshold(src.data(), nullptr, kRows, kCols,
                                                             mask.data(), block, percent,
                                                             got_first.data(), got_second.data()),
                      BAL_OK);
            EXPECT_EQ(got_first, first) << block << " " << int(percent);
            EXPECT_EQ(got_second, second) << block << " " << int(percent);
        }
}

TEST(LocalHistogramThreshold, MaskedOutBlocksAndBadGeometry) {
    constexpr uint32_t kN = 36;
    const auto src = random_signed(kN * kN, 1);
    std::vector<uint8_t> mask(9, 1), first(kN * kN), second(kN * kN);
    mask[4] = 0;
    ASSERT_EQ(bal_binarize_local_histogram_threshold(src.data(), nullptr, kN, kN, mask.data(), 12,
                                                     47, first.data(), second.data()),
              BAL_OK);
    int judged = 0;
    for (uint32_t y = 0; y < kN; ++y)
        for (uint32_t x = 0; x < kN; ++x) {
            const size_t i = y * kN + x;
            if (y / 12 == 1 && x / 12 == 1)
                EXPECT_EQ(first[i] + 2 * second[i], 3);
            else
                judged += first[i] + second[i] == 1;
        }
    EXPECT_EQ(judged, 8 * 144);
    // One block in a direction is enough: a single row or column of flat
    // blocks keeps their threshold through the grid blur.
    const std::vector<int8_t> flat(kN * 12, -20);
    const std::pair<uint32_t, uint32_t> sizes[] = {{12, kN}, {kN, 12}, {12, 12}};
    for (const auto& [rows, cols] : sizes) {
        std::vector<uint8_t> f2(rows * cols, 5), s2(rows * cols, 5);
        const std::vector<uint8_t> all(3, 1);
        ASSERT_EQ(bal_binarize_local_histogram_threshold(flat.data(), nullptr, rows, cols,
                                                         all.data(), 12, 47, f2.data(), s2.data()),
                  BAL_OK);
        EXPECT_EQ(f2, std::vector<uint8_t>(rows * cols, 1)) << rows << "x" << cols;
        EXPECT_EQ(s2, std::vector<uint8_t>(rows * cols, 0)) << rows << "x" << cols;
    }
    std::vector<uint8_t> untouched(kN * 11, 5), f2 = untouched, s2 = untouched;
    EXPECT_EQ(bal_binarize_local_histogram_threshold(src.data(), nullptr, 11, kN, mask.data(), 12,
                                                     47, f2.data(), s2.data()),
              BAL_BAD_ARGUMENT);
    EXPECT_EQ(f2, untouched);
    EXPECT_EQ(bal_binarize_local_histogram_threshold(src.data(), nullptr, kN, kN, mask.data(), 0,
                                                     47, first.data(), second.data()),
              BAL_BAD_ARGUMENT);
}

TEST(GlobalThreshold, MeanOfTheQualityPixels) {
    constexpr uint32_t kN = 20;
    const auto src = random_signed(kN * kN, 2);
    std::vector<uint8_t> quality(kN * kN), first(kN * kN), second(kN * kN);
    for (size_t i = 0; i < quality.size(); ++i) quality[i] = (i % 3) ? 16 : 15;
    long sum = 0, n = 0;
    for (size_t i = 0; i < src.size(); ++i)
        if (quality[i] > 15) sum += src[i], ++n;
    const double mean = static_cast<double>(sum) / n;
    bal_binarize_global_threshold(src.data(), quality.data(), kN, kN, first.data(), second.data());
    for (size_t i = 0; i < src.size(); ++i) {
        if (quality[i] <= 15) {
            EXPECT_EQ(first[i] + second[i], 2);
        } else if (std::fabs(src[i] - mean) >= 1) {
            expect_complementary(first, second, i, src[i] > mean);
        }
    }
}

TEST(LocalThreshold, SeparatesRidgesUnderAnIlluminationGradient) {
    // Ridges of +-40 around a level that drifts from -60 to +60 across the
    // image: a global threshold fails at the ends, the local one does not.
    constexpr uint32_t kRows = 48, kCols = 96, kBlock = 12;
    std::vector<int8_t> src(kRows * kCols);
    std::vector<uint8_t> quality(kRows * kCols, 200), first(kRows * kCols), second(kRows * kCols);
    std::vector<bool> ridge(kRows * kCols);
    for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = 0; x < kCols; ++x) {
            const double level = -60 + 120.0 * x / kCols;
            const double wave = 40 * std::sin(2 * 3.14159265 * y / 8.0 + 0.3);
            src[y * kCols + x] = static_cast<int8_t>(std::lround(level + wave));
            ridge[y * kCols + x] = wave > 0;
        }
    ASSERT_EQ(bal_binarize_local_threshold(src.data(), quality.data(), kRows, kCols, kBlock,
                                           first.data(), second.data()),
              BAL_OK);
    int agree = 0;
    for (size_t i = 0; i < src.size(); ++i) {
        EXPECT_EQ(first[i] + second[i], 1);
        agree += (first[i] == 1) == ridge[i];
    }
    EXPECT_GE(agree, static_cast<int>(src.size() * 9 / 10));
    // Without quality nothing is judged.
    std::fill(quality.begin(), quality.end(), 0);
    ASSERT_EQ(bal_binarize_local_threshold(src.data(), quality.data(), kRows, kCols, kBlock,
                                           first.data(), second.data()),
              BAL_OK);
    for (size_t i = 0; i < src.size(); ++i) EXPECT_EQ(first[i] + second[i], 2);
}

TEST(CrossSection, ThresholdAlongTheCrossSection) {
    // Ridges along the columns; the cross-section runs along the rows (angle
    // 0) and spans a full period, so the threshold is the local mean.
    constexpr int32_t kRows = 24, kCols = 36;
    std::vector<int8_t> src(kRows * kCols);
    for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < kCols; ++x)
            src[y * kCols + x] =
                static_cast<int8_t>(std::lround(50 * std::cos(2 * 3.14159265 * x / 9.0)));
    std::vector<uint8_t> angle(kRows * kCols, 0), width(kRows * kCols, 9),
        mask = {1, 1, 1, 0, 1, 1};
    std::vector<uint8_t> first(kRows * kCols), second(kRows * kCols);
    ASSERT_EQ(bal_binarize_cross_section(src.data(), kRows, kCols, angle.data(), width.data(),
                                         mask.data(), 2, 3, 12, first.data(), second.data()),
              BAL_OK);
    for (int y = 0; y < kRows; ++y)
        for (int x = 4; x < kCols - 4; ++x) {
            const size_t i = y * kCols + x;
            if (y >= 12 && x < 12) {
                EXPECT_EQ(first[i] + second[i], 2);
                continue;
            }
            if (std::abs(src[i]) > 8) expect_complementary(first, second, i, src[i] > 0);
        }
    // A grid reaching past the image only clears what lies inside it.
    std::vector<uint8_t> big_mask(3 * 4, 0);
    ASSERT_EQ(bal_binarize_cross_section(src.data(), kRows, kCols, angle.data(), width.data(),
                                         big_mask.data(), 3, 4, 12, first.data(), second.data()),
              BAL_OK);
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i] + second[i], 2);
}

bool bit(const std::vector<uint8_t>& plane, size_t stride, uint32_t y, uint32_t x) {
    return plane[y * stride + (x >> 3)] & (0x80 >> (x & 7));
}

TEST(Bandpass, ExactlyOneBitPerPixelAndRadiusFromTheWavelength) {
    constexpr uint32_t kRows = 20, kCols = 21;
    constexpr size_t kStride = 3;  // 21 columns pad to 24 bits
    std::vector<int16_t> src(kRows * kCols, 0);
    src[10 * kCols + 10] = 1000;  // a bright dot: the centre beats the ring
    for (uint16_t wl : {uint16_t{2303}, uint16_t{2304}}) {
        std::vector<uint16_t> wavelength(kRows * kCols, wl);
        std::vector<uint8_t> first(kRows * kStride, 0xFF), second(kRows * kStride, 0xFF);
        bal_binarize_bandpass(src.data(), kRows, kCols, wavelength.data(), first.data(),
                              second.data());
        const uint32_t margin = wl >= 2304 ? 5 : 2;
        for (uint32_t y = 0; y < kRows; ++y) {
            for (uint32_t x = 0; x < kCols; ++x) {
                EXPECT_NE(bit(first, kStride, y, x), bit(second, kStride, y, x));
                if (y < margin || x < margin || y + margin >= kRows || x + margin >= kCols) {
                    EXPECT_TRUE(bit(first, kStride, y, x)) << wl << " " << y << "," << x;
                }
            }
            for (uint32_t x = kCols; x < 24; ++x) {
                EXPECT_FALSE(bit(first, kStride, y, x));
                EXPECT_FALSE(bit(second, kStride, y, x));
            }
        }
        EXPECT_TRUE(bit(second, kStride, 10, 10));
        EXPECT_FALSE(bit(second, kStride, 12, 12));  // flat: 0 >= 1 fails
    }
}

TEST(RemoveEdges, SetsTheFrameToOne) {
    constexpr uint32_t kRows = 10, kCols = 8;
    std::vector<uint8_t> first(kRows * kCols, 0), second(kRows * kCols, 0);
    bal_binarize_remove_edges(first.data(), second.data(), kRows, kCols, 1, 3, 2, 4);
    for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = 0; x < kCols; ++x) {
            const bool frame = y < 2 || y >= kRows - 4 || x < 1 || x >= kCols - 3;
            EXPECT_EQ(first[y * kCols + x], frame ? 1 : 0) << y << "," << x;
            EXPECT_EQ(second[y * kCols + x], frame ? 1 : 0);
        }
    // Widths beyond the image are clipped instead of running off the buffer.
    bal_binarize_remove_edges(first.data(), second.data(), kRows, kCols, 50, 50, 3, 50);
    for (uint8_t v : first) EXPECT_EQ(v, 1);
}

TEST(RemoveDots, FlipsLoneDotsWithEnoughQuality) {
    constexpr uint32_t kN = 7;
    for (uint8_t q : {uint8_t{16}, uint8_t{15}}) {
        std::vector<uint8_t> first(kN * kN, 1), second(kN * kN, 0), quality(kN * kN, q);
        first[3 * kN + 3] = 0;
        second[3 * kN + 3] = 1;
        first[0] = 0;  // border pixels are never examined
        bal_binarize_remove_dots(first.data(), second.data(), quality.data(), kN, kN);
        EXPECT_EQ(first[3 * kN + 3], q > 15 ? 1 : 0);
        EXPECT_EQ(second[3 * kN + 3], q > 15 ? 0 : 1);
        EXPECT_EQ(first[0], 0);
    }
    // A dot on a one-pixel line (two differing neighbours) stays.
    std::vector<uint8_t> first(kN * kN, 1), second(kN * kN, 0), quality(kN * kN, 200);
    for (uint32_t x = 0; x < kN; ++x) first[3 * kN + x] = 0;
    const auto before = first;
    bal_binarize_remove_dots(first.data(), second.data(), quality.data(), kN, kN);
    EXPECT_EQ(first, before);
}

TEST(RemoveHoles, ClearsSpecksAndFillsPinholes) {
    const std::vector<uint8_t> src = {
        0, 0, 0, 0, 0,  //
        0, 1, 0, 0, 0,  //
        0, 0, 0, 1, 1,  //
        1, 1, 1, 1, 1,  //
        1, 1, 0, 1, 1,  //
        1, 1, 1, 1, 1,
    };
    std::vector<uint8_t> dst(src.size(), 9);
    bal_binarize_remove_holes(src.data(), 6, 5, dst.data());
    std::vector<uint8_t> expected = src;
    expected[1 * 5 + 1] = 0;
    expected[4 * 5 + 2] = 1;
    EXPECT_EQ(dst, expected);
    auto inplace = src;
    bal_binarize_remove_holes(inplace.data(), 6, 5, inplace.data());
    EXPECT_EQ(inplace, expected);
    std::vector<uint8_t> thin = {0, 1, 0, 1, 1, 1}, out(6);
    bal_binarize_remove_holes(thin.data(), 2, 3, out.data());
    EXPECT_EQ(out, thin);
}

// A brute-force majority vote on the clipped window.
std::vector<uint8_t> majority(const std::vector<uint8_t>& m, int rows, int cols) {
    std::vector<uint8_t> out(m.size());
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            int ones = 0, n = 0;
            for (int i = std::max(y - 1, 0); i <= std::min(y + 1, rows - 1); ++i)
                for (int j = std::max(x - 1, 0); j <= std::min(x + 1, cols - 1); ++j)
                    ones += m[i * cols + j], ++n;
            out[y * cols + x] = n == 4 ? ones == 4 : ones >= 5;
        }
    return out;
}

TEST(BinarizeBlur, MajorityVoteWithStrictCorners) {
    std::mt19937 rng(9);
    for (auto [rows, cols] :
         {std::pair{2, 2}, std::pair{2, 7}, std::pair{9, 2}, std::pair{11, 13}}) {
        std::vector<uint8_t> m(rows * cols);
        for (auto& v : m) v = rng() % 3 != 0;
        std::vector<uint8_t> out(m.size()), inplace = m;
        ASSERT_EQ(bal_binarize_blur(m.data(), rows, cols, out.data()), BAL_OK);
        ASSERT_EQ(bal_binarize_blur(inplace.data(), rows, cols, inplace.data()), BAL_OK);
        EXPECT_EQ(out, majority(m, rows, cols)) << rows << "x" << cols;
        EXPECT_EQ(inplace, out);
    }
    std::vector<uint8_t> dot(25, 0), hole(25, 1);
    dot[12] = 1;
    hole[12] = 0;
    ASSERT_EQ(bal_binarize_blur(dot.data(), 5, 5, dot.data()), BAL_OK);
    ASSERT_EQ(bal_binarize_blur(hole.data(), 5, 5, hole.data()), BAL_OK);
    EXPECT_EQ(dot[12], 0);
    EXPECT_EQ(hole[12], 1);
    std::vector<uint8_t> row(5, 1);
    EXPECT_EQ(bal_binarize_blur(row.data(), 1, 5, row.data()), BAL_BAD_ARGUMENT);
}

}  // namespace
