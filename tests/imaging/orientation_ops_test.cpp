#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/bal_orientation_ops.h"
#include "math/zr_trig.h"
#include "orient_fixtures.h"

namespace {

using namespace orient_test;

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed, uint8_t lo = 0, uint8_t hi = 255) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(d(rng));
    return v;
}

using OrientedFilter = bal_status (*)(const uint8_t*, uint32_t, uint32_t, const uint8_t*, uint8_t*);

TEST(OrientedSmoothing, InPlaceEqualsSeparateOutputAndKeepsTheFrame) {
    constexpr uint32_t kRows = 40, kCols = 33;
    const auto img = random_bytes(kRows * kCols, 1);
    const auto orient = random_bytes(kRows * kCols, 2, 64, 191);
    const struct {
        OrientedFilter fn;
        uint32_t frame;
    } filters[] = {{bal_oriented_mean, 3}, {bal_oriented_median, 2}};
    for (const auto& f : filters) {
        std::vector<uint8_t> out(kRows * kCols, 7), inplace = img;
        ASSERT_EQ(f.fn(img.data(), kRows, kCols, orient.data(), out.data()), BAL_OK);
        ASSERT_EQ(f.fn(inplace.data(), kRows, kCols, orient.data(), inplace.data()), BAL_OK);
        for (uint32_t y = 0; y < kRows; ++y)
            for (uint32_t x = 0; x < kCols; ++x) {
                const size_t i = y * kCols + x;
                const bool frame =
                    y < f.frame || x < f.frame || y >= kRows - f.frame || x >= kCols - f.frame;
                if (frame) {
                    EXPECT_EQ(out[i], 7);
                    EXPECT_EQ(inplace[i], img[i]);
                } else {
                    EXPECT_EQ(out[i], inplace[i]) << y << "," << x;
                }
            }
    }
}

// Too small images: the window bounds are signed, so nothing is written.
TEST(OrientedSmoothing, SmallImagesAreLeftUntouched) {
    const auto orient = random_bytes(64 * 64, 3, 64, 191);
    for (uint32_t rows : {1u, 2u, 3u, 4u, 6u, 40u})
        for (uint32_t cols : {1u, 3u, 4u, 6u, 40u}) {
            const auto img = random_bytes(rows * cols, 4);
            std::vector<uint8_t> out(rows * cols, 9);
            const bool mean_writes = rows >= 7 && cols >= 7;
            const bool median_writes = rows >= 5 && cols >= 5;
            ASSERT_EQ(bal_oriented_mean(img.data(), rows, cols, orient.data(), out.data()), BAL_OK);
            EXPECT_EQ(std::count(out.begin(), out.end(), 9) == static_cast<long>(out.size()),
                      !mean_writes)
                << rows << "x" << cols;
            std::fill(out.begin(), out.end(), 9);
            ASSERT_EQ(bal_oriented_median(img.data(), rows, cols, orient.data(), out.data()), BAL_OK);
            EXPECT_EQ(std::count(out.begin(), out.end(), 9) == static_cast<long>(out.size()),
                      !median_writes)
                << rows << "x" << cols;
        }
}

// Straight ridges along the four exact directions: the median of five along
// the ridge returns the image unchanged.
TEST(OrientedSmoothing, MedianAlongStraightRidgesKeepsThem) {
    constexpr uint32_t kN = 24;
    const auto profile = random_bytes(3 * kN, 5);
    const struct {
        uint8_t orientation;
        int ky, kx;  // the image depends on ky*y + kx*x
    } cases[] = {{128, 0, 1}, {64, 1, 0}, {160, 1, 1}, {96, -1, 1}, {0, 0, 1}, {192, 1, 0}};
    for (const auto& c : cases) {
        std::vector<uint8_t> img(kN * kN), orient(kN * kN, c.orientation), out;
        for (uint32_t y = 0; y < kN; ++y)
            for (uint32_t x = 0; x < kN; ++x)
                img[y * kN + x] = profile[c.ky * int(y) + c.kx * int(x) + kN];
        out = img;
        ASSERT_EQ(bal_oriented_median(out.data(), kN, kN, orient.data(), out.data()), BAL_OK);
        EXPECT_EQ(out, img) << int(c.orientation);
    }
}

TEST(OrientedSmoothing, MeanOfNineAlongTheRidge) {
    // One bright pixel: the class-0 (vertical) window reaches 3 rows up and
    // down and one column sideways; class 4 (horizontal) the transpose.
    constexpr uint32_t kN = 15;
    std::vector<uint8_t> img(kN * kN, 0);
    img[7 * kN + 7] = 90;
    for (uint8_t o : {uint8_t{128}, uint8_t{64}}) {
        std::vector<uint8_t> orient(kN * kN, o), out(kN * kN, 0);
        ASSERT_EQ(bal_oriented_mean(img.data(), kN, kN, orient.data(), out.data()), BAL_OK);
        const bool vertical = o == 128;
        for (int d = -3; d <= 3; ++d) {
            const uint32_t y = vertical ? 7 + d : 7, x = vertical ? 7 : 7 + d;
            EXPECT_EQ(out[y * kN + x], 10) << int(o) << " " << d;
        }
        // Sideways neighbours see the pixel through their (0, -+1) taps.
        EXPECT_EQ(out[(vertical ? 7 * kN + 8 : 8 * kN + 7)], 10);
        EXPECT_EQ(out[(vertical ? 9 * kN + 8 : 8 * kN + 9)], 0);
    }
}

// Every orientation class against the offset tables of the nine-pixel mean and
// the five-pixel median, with a sorting median, on random images and random
// orientation bytes over the whole 0..255 range (o <= 128 and o > 128 fold).
TEST(OrientedSmoothing, EveryClassFollowsItsOffsetTable) {
    static constexpr int kMean[8][9][2] = {
        {{-3, 0}, {-2, 0}, {-1, 0}, {0, -1}, {0, 0}, {0, 1}, {1, 0}, {2, 0}, {3, 0}},
        {{-3, 1}, {-2, 1}, {-1, 0}, {-1, 1}, {0, 0}, {1, -1}, {1, 0}, {2, -1}, {3, -1}},
        {{-2, 2}, {-1, 0}, {-1, 1}, {0, -1}, {0, 0}, {0, 1}, {1, -1}, {1, 0}, {2, -2}},
        {{-1, 1}, {-1, 2}, {-1, 3}, {0, -1}, {0, 0}, {0, 1}, {1, -3}, {1, -2}, {1, -1}},
        {{-1, 0}, {0, -3}, {0, -2}, {0, -1}, {0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}},
        {{-1, -3}, {-1, -2}, {-1, -1}, {0, -1}, {0, 0}, {0, 1}, {1, 1}, {1, 2}, {1, 3}},
        {{-2, -2}, {-1, -1}, {-1, 0}, {0, -1}, {0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 2}},
        {{-3, -1}, {-2, -1}, {-1, -1}, {-1, 0}, {0, 0}, {1, 0}, {1, 1}, {2, 1}, {3, 1}}};
    static constexpr int kMedian[8][5][2] = {
        {{-2, 0}, {-1, 0}, {0, 0}, {1, 0}, {2, 0}},    {{-2, 1}, {-1, 0}, {0, 0}, {1, 0}, {2, -1}},
        {{-2, 2}, {-1, 1}, {0, 0}, {1, -1}, {2, -2}},  {{-1, 2}, {0, 1}, {0, 0}, {0, -1}, {1, -2}},
        {{0, -2}, {0, -1}, {0, 0}, {0, 1}, {0, 2}},    {{-1, -2}, {0, -1}, {0, 0}, {0, 1}, {1, 2}},
        {{-2, -2}, {-1, -1}, {0, 0}, {1, 1}, {2, 2}},  {{-2, -1}, {-1, 0}, {0, 0}, {1, 0}, {2, 1}}};
    auto cls = [](uint8_t o) {
        const int folded = o <= 128 ? o : o - 128, c = (folded + 8) >> 4;
        return c == 8 ? 0 : c;
    };
    uint32_t seed = 40;
    for (uint32_t rows : {7u, 9u, 30u})
        for (uint32_t cols : {7u, 8u, 33u}) {
            const auto img = random_bytes(rows * cols, ++seed);
            const auto orient = random_bytes(rows * cols, ++seed);
            std::vector<uint8_t> mean = img, median = img;
            for (int y = 3; y <= static_cast<int>(rows) - 4; ++y)
                for (int x = 3; x <= static_cast<int>(cols) - 4; ++x) {
                    uint32_t sum = 0;
                    for (const auto& t : kMean[cls(orient[y * cols + x])])
                        sum += img[(y + t[0]) * cols + x + t[1]];
                    mean[y * cols + x] = static_cast<uint8_t>(sum / 9);
                }
            for (int y = 2; y <= static_cast<int>(rows) - 3; ++y)
                for (int x = 2; x <= static_cast<int>(cols) - 3; ++x) {
                    uint8_t v[5];
                    int k = 0;
                    for (const auto& t : kMedian[cls(orient[y * cols + x])])
                        v[k++] = img[(y + t[0]) * cols + x + t[1]];
                    std::sort(v, v + 5);
                    median[y * cols + x] = v[2];
                }
            std::vector<uint8_t> got_mean = img, got_median = img;
            ASSERT_EQ(bal_oriented_mean(got_mean.data(), rows, cols, orient.data(),
                                        got_mean.data()),
                      BAL_OK);
            ASSERT_EQ(bal_oriented_median(got_median.data(), rows, cols, orient.data(),
                                          got_median.data()),
                      BAL_OK);
            EXPECT_EQ(got_mean, mean) << rows << "x" << cols;
            EXPECT_EQ(got_median, median) << rows << "x" << cols;
        }
}

// Minutia records: i16 row, i16 col, u8 direction, three unread bytes.
struct Minutia {
    int16_t row, col;
    uint8_t dir, type, quality, pad;
};
static_assert(sizeof(Minutia) == 8);

TEST(OrientationDifference, RemovesMinutiaeAcrossTheRidgesAndKeepsOrder) {
    constexpr uint32_t kRows = 60, kCols = 40;
    std::vector<uint8_t> orient(kRows * kCols, 128);  // vertical ridges everywhere
    std::vector<Minutia> m = {
        {30, 20, 64, 1, 1, 0},   // along the ridge, upwards: kept
        {30, 20, 0, 2, 2, 0},    // across: removed
        {30, 20, 198, 3, 3, 0},  // 6 off the downward ridge: kept
        {30, 20, 84, 4, 4, 0},   // 20 off: removed
        {0, 0, 64, 5, 5, 0},     // border, look-ahead clamped to row 0: kept
        {-5, 3, 0, 6, 6, 0},     // outside the image: kept, not examined
        {30, 20, 76, 7, 7, 0},   // 12 off: kept (not more than 12)
    };
    const uint32_t n =
        bal_orientation_difference(m.data(), m.size(), orient.data(), kRows, kCols, 1);
    ASSERT_EQ(n, 5u);
    const uint8_t kept[] = {1, 3, 5, 6, 7};
    for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(m[i].type, kept[i]);
}

TEST(OrientationDifference, BendAheadWidensTheTolerance) {
    // Vertical ridges at the minutia, ridges 32 steps (45 degrees) turned 15
    // pixels ahead: bend 32 allows 12 + 12 = 24.
    constexpr uint32_t kRows = 60, kCols = 40;
    std::vector<uint8_t> orient(kRows * kCols, 128);
    for (uint32_t y = 0; y < 20; ++y)
        for (uint32_t x = 0; x < kCols; ++x) orient[y * kCols + x] = 160;
    std::vector<Minutia> m = {{30, 20, 84, 1, 0, 0}, {30, 20, 96, 2, 0, 0}};
    EXPECT_EQ(bal_orientation_difference(m.data(), 2, orient.data(), kRows, kCols, 1), 1u);
    EXPECT_EQ(m[0].type, 1);
    // Scale 2 looks only 7 pixels ahead, which stays on vertical ridges.
    std::vector<Minutia> m2 = {{30, 20, 84, 1, 0, 0}};
    EXPECT_EQ(bal_orientation_difference(m2.data(), 1, orient.data(), kRows, kCols, 2), 0u);
}

// Random minutiae on a random field against the rule written out step by step.
TEST(OrientationDifference, MatchesAStepByStepReference) {
    std::mt19937 rng(6);
    for (int it = 0; it < 200; ++it) {
        const uint32_t rows = 20 + rng() % 60, cols = 20 + rng() % 60;
        const auto scale = static_cast<uint8_t>(1 + it % 2);
        const auto orient = random_bytes(rows * cols, 100 + it, 64, 191);
        std::vector<Minutia> m(1 + rng() % 40);
        for (size_t i = 0; i < m.size(); ++i)
            m[i] = {static_cast<int16_t>(rng() % rows), static_cast<int16_t>(rng() % cols),
                    static_cast<uint8_t>(rng()), static_cast<uint8_t>(i), 0, 0};
        std::vector<Minutia> kept;
        const int step = 15 / scale;
        for (const Minutia& r : m) {
            const uint8_t o = orient[r.row * cols + r.col];
            auto d1 = static_cast<uint8_t>(64 - o);
            if (zr_angle_difference(d1, r.dir) > 64) d1 = static_cast<uint8_t>(192 - o);
            const int y2 = std::clamp(r.row - step * zr_sin_(d1) / 16384, 0, int(rows) - 1);
            const int x2 = std::clamp(r.col + zr_cos_(d1) * step / 16384, 0, int(cols) - 1);
            const uint8_t o2 = orient[y2 * cols + x2];
            auto d2 = static_cast<uint8_t>(192 - o2);
            if (zr_angle_difference(d2, r.dir) > 64) d2 = static_cast<uint8_t>(64 - o2);
            const int a = std::min(zr_angle_difference(d1, r.dir), zr_angle_difference(d2, r.dir));
            int bend = zr_angle_difference(d1, d2);
            if (bend > 64) bend = 128 - bend;
            if (a <= ((bend * 3) >> 3) + 12) kept.push_back(r);
        }
        const uint32_t n =
            bal_orientation_difference(m.data(), m.size(), orient.data(), rows, cols, scale);
        ASSERT_EQ(n, kept.size());
        for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(m[i].type, kept[i].type) << it;
    }
}

TEST(OrientationBlurWeighted, UniformFieldIsUnchangedAndMaskedBlocksStay) {
    constexpr uint32_t kR = 5, kC = 6;
    std::vector<uint8_t> o(kR * kC, 40), v(kR * kC, 90), w(kR * kC, 200), mask(kR * kC, 1);
    ASSERT_EQ(bal_orientation_blur_weighted(o.data(), v.data(), w.data(), mask.data(), kR, kC), BAL_OK);
    for (size_t i = 0; i < o.size(); ++i) {
        EXPECT_EQ(o[i], 40);
        EXPECT_EQ(v[i], 90);
        EXPECT_EQ(w[i], 200);
    }
    // One odd block is pulled towards its neighbours unless it is masked out.
    o[2 * kC + 2] = 104;
    v[2 * kC + 2] = 10;
    auto o2 = o, v2 = v, w2 = w;
    ASSERT_EQ(bal_orientation_blur_weighted(o.data(), v.data(), w.data(), mask.data(), kR, kC), BAL_OK);
    EXPECT_EQ(v[2 * kC + 2], (10 * 4 + 90 * 12) / 16);
    EXPECT_NEAR(o[2 * kC + 2], 40, 1);  // doubled 208 (weight 4) opposes doubled 80 (weight 12)
    mask[2 * kC + 2] = 0;
    ASSERT_EQ(bal_orientation_blur_weighted(o2.data(), v2.data(), w2.data(), mask.data(), kR, kC),
              BAL_OK);
    EXPECT_EQ(o2[2 * kC + 2], 104);
    EXPECT_EQ(v2[2 * kC + 2], 10);
}

TEST(OrientationReplaceNullValues, FillsEmptyBlocksFromTheirNeighbours) {
    constexpr uint32_t kR = 6, kC = 7;
    std::vector<uint8_t> o(kR * kC, 30), v(kR * kC, 77), w(kR * kC, 100);
    for (uint32_t r : {2u, 3u})
        for (uint32_t c : {3u, 4u}) {
            v[r * kC + c] = 0;
            w[r * kC + c] = 0;
            o[r * kC + c] = 0;
        }
    ASSERT_EQ(bal_orientation_replace_null_values(o.data(), v.data(), w.data(), kR, kC), BAL_OK);
    for (size_t i = 0; i < v.size(); ++i) {
        EXPECT_EQ(v[i], 77) << i;
        EXPECT_NEAR(o[i], 30, 1) << i;
    }
    EXPECT_EQ(bal_orientation_replace_null_values(o.data(), v.data(), w.data(), 0, kC), BAL_OK);
}

// Block (1, 2) sits between a weighted block of value 1 and a weighted empty
// block: its weighted mean truncates to 0, so every pass "fills" it without
// making it non-empty, while the far right of the grid has no weighted
// neighbour at all. The passes must still come to an end.
TEST(OrientationReplaceNullValues, EndsWhenPassesMakeNoProgress) {
    constexpr uint32_t kR = 3, kC = 14;
    std::vector<uint8_t> o(kR * kC, 0), v(kR * kC, 0), w(kR * kC, 0);
    v[1 * kC + 1] = 1;
    w[1 * kC + 1] = 255;
    w[1 * kC + 3] = 255;
    ASSERT_EQ(bal_orientation_replace_null_values(o.data(), v.data(), w.data(), kR, kC), BAL_OK);
    EXPECT_EQ(v[1 * kC + 2], 0);
    EXPECT_EQ(v[1 * kC + 0], 1);
    EXPECT_EQ(v[1 * kC + kC - 1], 0);
}

TEST(OrientationReplacePerpendicular, ReplacesOutliersButNeverCorners) {
    constexpr uint32_t kR = 4, kC = 5;
    std::vector<uint8_t> f(kR * kC, 10);
    f[0] = 74;           // corner: never changes
    f[1 * kC + 2] = 74;  // inner outlier
    f[0 * kC + 3] = 60;  // top row outlier (left/right pair agrees)
    f[2 * kC + 0] = 50;  // left column outlier
    f[2 * kC + 3] = 22;  // within 20 of its neighbours: stays
    const auto before = f;
    ASSERT_EQ(bal_orientation_replace_perpendicular_orientations(f.data(), nullptr, kR, kC), BAL_OK);
    EXPECT_EQ(f[0], 74);
    EXPECT_EQ(f[1 * kC + 2], 10);
    EXPECT_EQ(f[0 * kC + 3], 10);
    EXPECT_EQ(f[2 * kC + 0], 10);
    EXPECT_EQ(f[2 * kC + 3], 22);
    // A pair that straddles the wrap averages the short way: 120 and 4 give
    // 126. With two rows only the rows are treated.
    std::vector<uint8_t> g = {120, 60, 4, 0, 0, 0};
    ASSERT_EQ(bal_orientation_replace_perpendicular_orientations(g.data(), nullptr, 2, 3), BAL_OK);
    EXPECT_EQ(g, (std::vector<uint8_t>{120, 126, 4, 0, 0, 0}));
}

// 256 - round(256 R) against a floating-point mean resultant length.
TEST(Irregularity, MatchesFloatingPointResultantLength) {
    constexpr uint32_t kR = 9, kC = 11;
    const auto o = random_bytes(kR * kC, 6, 64, 191);
    std::vector<uint8_t> out(kR * kC);
    bal_irregularity(o.data(), kR, kC, out.data());
    auto expected_at = [&](int y, int x) {
        double sx = 0, sy = 0;
        int n = 0;
        for (int i = std::max(y - 1, 0); i <= std::min(y + 1, int(kR) - 1); ++i)
            for (int j = std::max(x - 1, 0); j <= std::min(x + 1, int(kC) - 1); ++j) {
                const double a = 2 * kPi * (2 * o[i * kC + j] % 256) / 256.0;
                sx += std::cos(a);
                sy += std::sin(a);
                ++n;
            }
        const double v = 256 - 256 * std::hypot(sx, sy) / n;
        return std::fmod(v, 256.0);
    };
    for (int y = 0; y < int(kR); ++y)
        for (int x = 0; x < int(kC); ++x) {
            const bool corner = (y == 0 || y == int(kR) - 1) && (x == 0 || x == int(kC) - 1);
            if (corner) continue;
            EXPECT_NEAR(out[y * kC + x], expected_at(y, x), 3.0) << y << "," << x;
        }
    EXPECT_EQ(out[0], (out[1] + out[kC]) >> 1);

    std::vector<uint8_t> uniform(kR * kC, 100);
    bal_irregularity(uniform.data(), kR, kC, out.data());
    for (uint8_t v : out) EXPECT_EQ(v, 0);
}

TEST(Arctan45, ApproximatesTheArctangentAndHandlesZeroDenominator) {
    for (int32_t den : {1, 7, 100, 1000, 123457}) {
        for (int32_t num = 0; num <= den; num += std::max(1, den / 200)) {
            const double expected = std::atan2(num, den) / (2 * kPi) * 256;
            EXPECT_NEAR(arctan45(den, num), expected, 1.5) << num << "/" << den;
        }
    }
    EXPECT_EQ(arctan45(64, 32), 19);  // q = 16
    EXPECT_EQ(arctan45(5, 5), 32);
    EXPECT_EQ(arctan45(0, 0), 0);
    EXPECT_EQ(arctan45(0, -3), 0);
    EXPECT_EQ(arctan45(0, 3), 32);
    EXPECT_EQ(arctan45(63, 0x4000000), 32);  // den becomes 0 after the shift
    EXPECT_EQ(arctan45(0x10000000, 0x10000000), 32);
}

}  // namespace
