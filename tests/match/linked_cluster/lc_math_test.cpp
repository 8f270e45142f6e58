#include "match/linked_cluster/lc_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace {

uint64_t floor_root(uint64_t v) {
    uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<double>(v)));
    while (r * r > v) --r;
    while ((r + 1) * (r + 1) <= v) ++r;
    return r;
}

TEST(LcSqrt16, MatchesExactRootWithItsRoundingRuleOverEveryInput) {
    for (uint32_t v = 0; v <= 65535; ++v) {
        const uint64_t r = floor_root(v);
        // Nearest below 16384 (an integer never lies on a tie), truncated from there.
        const uint64_t expected = v < 16384 && v - r * r > r ? r + 1 : r;
        ASSERT_EQ(expected, lc_sqrt16_(uint16_t(v))) << v;
    }
}

TEST(LcSqrt16, DocumentedValues) {
    const struct {
        uint16_t in;
        uint32_t out;
    } cases[] = {{2, 1}, {3, 2}, {30, 5}, {31, 6}, {12209, 110}, {16383, 128}, {16384, 128}, {16640, 128},
                 {65535, 255}};
    for (const auto& c : cases) EXPECT_EQ(c.out, lc_sqrt16_(c.in)) << c.in;
}

TEST(LcSqrt32, TruncatedRootAroundSquaresAndAtTheTop) {
    for (uint64_t k = 0; k <= 65535; k += 37) {
        for (uint64_t v : {k * k, k * k + 2 * k, k * k + 2 * k + 1}) {
            if (v > 0xFFFFFFFFu) continue;
            ASSERT_EQ(floor_root(v), lc_sqrt_32(uint32_t(v))) << v;
        }
    }
    EXPECT_EQ(65535u, lc_sqrt_32(0xFFFFFFFFu));
    EXPECT_EQ(65534u, lc_sqrt_32(65535u * 65535u - 1));
}

// The C library's angle of (x, y) in 256ths of a turn.
double libm_angle(int32_t y, int32_t x) {
    double a = std::atan2(double(y), double(x)) * 128.0 / M_PI;
    return a < 0 ? a + 256.0 : a;
}

TEST(LcAtan2, WithinOneUnitOfTheCLibraryOverAGrid) {
    for (int32_t y = -255; y <= 255; y += 3) {
        for (int32_t x = -255; x <= 255; x += 3) {
            if (x == 0 && y == 0) continue;
            double d = std::fabs(double(lc_atan2f_(y, x)) - libm_angle(y, x));
            d = std::fmin(d, 256.0 - d);
            ASSERT_LE(d, 1.0) << "y " << y << " x " << x;
        }
    }
}

TEST(LcAtan2, AxesAndOrigin) {
    EXPECT_EQ(0, lc_atan2f_(0, 0));
    EXPECT_EQ(64, lc_atan2f_(5, 0));
    EXPECT_EQ(192, lc_atan2f_(-5, 0));
    EXPECT_EQ(0, lc_atan2f_(0, 7));
    EXPECT_EQ(128, lc_atan2f_(0, -7));
    EXPECT_EQ(32, lc_atan2f_(9, 9));
    EXPECT_EQ(96, lc_atan2f_(9, -9));
    EXPECT_EQ(160, lc_atan2f_(-9, -9));
    EXPECT_EQ(224, lc_atan2f_(-9, 9));
    // Large components stay exact (no overflow of 128 * minor).
    EXPECT_EQ(32, lc_atan2f_(INT32_MAX, INT32_MAX));
    EXPECT_EQ(160, lc_atan2f_(INT32_MIN, INT32_MIN));
}

TEST(LcSinCos, TruncatedQuarterWaveMirrored) {
    for (int a = 0; a < 256; ++a) {
        const double s = 16384.0 * std::sin(2 * M_PI * a / 256.0);
        const double c = 16384.0 * std::cos(2 * M_PI * a / 256.0);
        // Magnitudes are truncated: within one unit, never larger than the true value.
        EXPECT_LE(std::fabs(lc_sin_(uint8_t(a))), std::fabs(s) + 1e-6) << a;
        EXPECT_GT(std::fabs(lc_sin_(uint8_t(a))), std::fabs(s) - 1.0) << a;
        EXPECT_LE(std::fabs(lc_cos_(uint8_t(a))), std::fabs(c) + 1e-6) << a;
        EXPECT_GT(std::fabs(lc_cos_(uint8_t(a))), std::fabs(c) - 1.0) << a;
        EXPECT_EQ(lc_sin_(uint8_t(a)) < 0, s < -0.5) << a;
    }
    EXPECT_EQ(16384, lc_sin_(64));
    EXPECT_EQ(-16384, lc_sin_(192));
    EXPECT_EQ(-16384, lc_cos_(128));
}

TEST(LcAngles, DifferenceSignedDifferenceAndAverage) {
    const struct {
        uint8_t a, b, difference, signed_difference, average;
    } cases[] = {
        {0, 0, 0, 0, 0},        {10, 20, 10, 10, 15},     {20, 10, 10, 246, 15},
        {0, 128, 128, 128, 192}, {10, 250, 16, 240, 2},    {250, 10, 16, 16, 2},
        {0, 200, 56, 200, 228}, {100, 227, 127, 127, 163}, {100, 228, 128, 128, 36},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.difference, lc_angle_difference(c.a, c.b)) << int(c.a) << " " << int(c.b);
        EXPECT_EQ(c.signed_difference, lc_angle_difference_signed(c.a, c.b)) << int(c.a) << " " << int(c.b);
        EXPECT_EQ(c.average, lc_angle_average(c.a, c.b)) << int(c.a) << " " << int(c.b);
    }
}

TEST(LcRounding, DivisionRoundsHalfAwayAndScalingKeepsDirection) {
    EXPECT_EQ(1, lc_div_round_away(16, 32));
    EXPECT_EQ(0, lc_div_round_away(15, 32));
    EXPECT_EQ(-1, lc_div_round_away(-16, 32));
    EXPECT_EQ(0, lc_div_round_away(-15, 32));
    EXPECT_EQ(512, lc_div_round_away(16384, 32));

    int32_t c = 1000, s = -500;
    lc_scale_to_byte_range(&c, &s);
    EXPECT_EQ(255, c);
    EXPECT_EQ((-500 * 255 + 500) / 1000, s);
    c = 255, s = -255;
    lc_scale_to_byte_range(&c, &s);
    EXPECT_EQ(255, c);
    EXPECT_EQ(-255, s);
}

}  // namespace
