#include "math/zr_trig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "math/zr_trig_tables.h"

namespace {

constexpr double kPi = std::numbers::pi;

template <typename T, size_t N>
std::vector<int64_t> head(const T (&table)[N], size_t n) {
    return std::vector<int64_t>(table, table + n);
}
template <typename T, size_t N>
std::vector<int64_t> tail(const T (&table)[N], size_t n) {
    return std::vector<int64_t>(table + N - n, table + N);
}

// Distance of two angles on a circle of `turn` units.
double circular_distance(double a, double b, double turn) {
    double d = std::fmod(std::fabs(a - b), turn);
    return d > turn / 2 ? turn - d : d;
}

}  // namespace

TEST(TrigTables, FirstAndTellingValuesMatchTheirFormulas) {
    using V = std::vector<int64_t>;
    EXPECT_EQ(head(zr_sin_table_8, 5), (V{0, 402, 803, 1205, 1605}));
    EXPECT_EQ(tail(zr_sin_table_8, 2), (V{16379, 16384}));
    EXPECT_EQ(head(zr_sin_table_8_rounded, 5), (V{0, 402, 804, 1205, 1606}));
    EXPECT_EQ(tail(zr_sin_table_8_rounded, 2), (V{16379, 16384}));
    EXPECT_EQ(head(zr_sin_table_fine, 5), (V{0, 100, 201, 302, 403}));
    EXPECT_EQ(tail(zr_sin_table_fine, 2), (V{16383, 16384}));
    EXPECT_EQ(head(zr_sin_table_q31, 3), (V{0, 13176712, 26352928}));
    EXPECT_EQ(tail(zr_sin_table_q31, 2), (V{2147483647, 2147443221}));
    EXPECT_EQ(head(zr_atan_table_8, 9), (V{0, 0, 1, 1, 1, 2, 2, 2, 3}));
    EXPECT_EQ(tail(zr_atan_table_8, 1), (V{32}));
    EXPECT_EQ(head(zr_atan_table_24, 4), (V{0, 10430, 20860, 31290}));
    EXPECT_EQ(zr_atan_table_24[256], 2097152);
    EXPECT_EQ(tail(zr_atan_table_24, 1), (V{2102357}));
}

TEST(TrigTables, ExactValuesAreNotLostToRounding) {
    // 16384 sin(pi/6) is 8192 exactly; a floating-point sine floors it to 8191.
    EXPECT_EQ(zr_sin_table_fine[85], 8192);
    EXPECT_EQ(zr_sin_table_fine[255], 16384);
    EXPECT_EQ(zr_sin_table_8[64], 16384);
    EXPECT_EQ(zr_sin_table_q31[256], 2147483647u);
    EXPECT_EQ(zr_sin_table_q31[257], zr_sin_table_q31[255]);
    int differing = 0;
    for (int i = 0; i <= 64; ++i) differing += zr_sin_table_8[i] != zr_sin_table_8_rounded[i];
    EXPECT_EQ(differing, 30);
}

TEST(TrigTables, EveryEntryAgreesWithLibm) {
    // libm is accurate to far below one unit away from the rounding boundaries.
    for (int i = 0; i <= 64; ++i) {
        const double v = 16384 * std::sin(2 * kPi * i / 256);
        EXPECT_NEAR(zr_sin_table_8[i], v - 0.5, 0.5 + 1e-9) << i;
        EXPECT_NEAR(zr_sin_table_8_rounded[i], v, 0.5 + 1e-9) << i;
    }
    for (int i = 0; i < 256; ++i)
        EXPECT_NEAR(zr_sin_table_fine[i], 16384 * std::sin(kPi * i / 510) - 0.5, 0.5 + 1e-9) << i;
    for (int i = 0; i <= 256; ++i)
        EXPECT_NEAR(static_cast<double>(zr_sin_table_q31[i]), 2147483647.0 * std::sin(kPi * i / 512), 0.5 + 1e-6)
            << i;
    for (int i = 0; i <= 128; ++i)
        EXPECT_NEAR(zr_atan_table_8[i], std::atan(i / 128.0) * 256 / (2 * kPi), 0.5 + 1e-9) << i;
    for (int i = 0; i <= 257; ++i)
        EXPECT_NEAR(zr_atan_table_24[i], std::atan(i / 256.0) * 16777216 / (2 * kPi), 0.5 + 1e-6) << i;
}

TEST(Trig, ListedValues) {
    struct Case {
        const char* what;
        int64_t got;
        int64_t expected;
    };
    const Case cases[] = {
        {"sin_(64)", zr_sin_(64), 16384},
        {"sin_(192)", zr_sin_(192), -16384},
        {"cos_(0)", zr_cos_(0), 16384},
        {"cos_(128)", zr_cos_(128), -16384},
        {"sin_(4)", zr_sin_(4), 1605},
        {"sine_curve(4)", sine_curve(4), 1606},
        {"sine_curve(124)", sine_curve(124), 1606},
        {"sine_curve(128)", sine_curve(128), 0},
        {"sin14_(16384)", zr_sin14_(16384), 16384},
        {"sin14_(16383)", zr_sin14_(16383), 16384},
        {"sin14_(49152)", zr_sin14_(49152), -16384},
        {"cos14_(0)", zr_cos14_(0), 16384},
        {"sin14_(65536 + 16384)", zr_sin14_(65536 + 16384), 16384},
        {"sin_14(102943)", zr_sin_14(102943), 16384},
        {"sin_14(-102943)", zr_sin_14(-102943), -16384},
        {"cos_14(0)", zr_cos_14(0), 16384},
        {"sin_14(411774)", zr_sin_14(411774), 0},
        {"sin_32(0x400000)", zr_sin_32(0x400000), 2147483647},
        {"sin_32(0xC00000)", zr_sin_32(0xC00000), -2147483647},
        {"sin_32(-0x400000)", zr_sin_32(-0x400000), -2147483647},
        {"cos_32(0)", zr_cos_32(0), 2147483647},
        {"atan2_(0, 0)", zr_atan2_(0, 0), 0},
        {"atan2_(5, 0)", zr_atan2_(5, 0), 64},
        {"atan2_(-5, 0)", zr_atan2_(-5, 0), -64},
        {"atan2_(1, 1)", zr_atan2_(1, 1), 32},
        {"atan2_(1, -1) low byte", zr_atan2_(1, -1) & 255, 96},
        {"atan2_(-1, -1) low byte", zr_atan2_(-1, -1) & 255, 160},
        {"atan2_(0, -5) low byte", zr_atan2_(0, -5) & 255, 128},
        {"atan_(128)", zr_atan_(128), 32},
        {"atan_(-128)", zr_atan_(-128), -32},
        {"atan_(16384)", zr_atan_(16384), 64},
        {"atan_(-16384)", zr_atan_(-16384), -64},
        {"atan2_32(0, 0)", zr_atan2_32(0, 0), 0},
        {"atan2_32(0, -1)", zr_atan2_32(0, -1), 0x800000},
        {"atan2_32(-1, 0)", zr_atan2_32(-1, 0), 0xC00000},
        {"atan2_32(-1, 1)", zr_atan2_32(-1, 1), 0xE00000},
        {"atan2_32(1, 1)", zr_atan2_32(1, 1), 0x200000},
        {"angle_average(0, 200)", zr_angle_average(0, 200), 228},
        {"angle_average(0, 128)", zr_angle_average(0, 128), 192},
        {"angle_average(250, 10)", zr_angle_average(250, 10), 2},
        {"angle_average(1, 2)", zr_angle_average(1, 2), 1},
        {"angle_average(0, 255)", zr_angle_average(0, 255), 255},
        {"angle_average(3, 200)", zr_angle_average(3, 200), 229},
        {"angle_difference(10, 250)", zr_angle_difference(10, 250), 16},
        {"angle_difference(0, 128)", zr_angle_difference(0, 128), 128},
        {"angle_difference_signed(10, 250)", zr_angle_difference_signed(10, 250), -16},
        {"angle_difference_signed(250, 10)", zr_angle_difference_signed(250, 10), 16},
        {"direction_average(10, 120)", zr_direction_average(10, 120), 1},
        {"direction_average(10, 20)", zr_direction_average(10, 20), 15},
        {"direction_average(1, 2)", zr_direction_average(1, 2), 1},
        {"direction_average(0, 127)", zr_direction_average(0, 127), 127},
        {"direction_average(10, 121)", zr_direction_average(10, 121), 1},
        // A difference of exactly 64 already takes the way across 0.
        {"direction_average(0, 64)", zr_direction_average(0, 64), 96},
        {"direction_average(127, 63)", zr_direction_average(127, 63), 31},
        {"direction_average(1, 64)", zr_direction_average(1, 64), 32},
        {"direction_difference(10, 120)", zr_direction_difference(10, 120), 18},
        {"direction_difference(0, 64)", zr_direction_difference(0, 64), 64},
        {"direction_difference_signed(100, 10)", zr_direction_difference_signed(100, 10), 38},
        {"direction_difference_signed(0, 64)", zr_direction_difference_signed(0, 64), -64},
        {"direction_difference_signed(64, 0)", zr_direction_difference_signed(64, 0), 64},
        {"round14_(8192)", zr_round14_(8192), 1},
        {"round14_(-8192)", zr_round14_(-8192), -1},
        {"round14_(-16384)", zr_round14_(-16384), -1},
        {"round14_(-8191)", zr_round14_(-8191), 0},
        {"round14_(8191)", zr_round14_(8191), 0},
        {"round14_(INT32_MAX)", zr_round14_(INT32_MAX), 131072},
        {"round14_(INT32_MIN)", zr_round14_(INT32_MIN), -131072},
        {"round14_(INT32_MAX - 8191)", zr_round14_(INT32_MAX - 8191), 131072},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

TEST(Trig, ArgumentsOutsideTheDomainStaySafe) {
    // Any value is acceptable here; the sanitizers check that nothing overflows
    // or reads outside a table.
    EXPECT_EQ(sine_curve(200), 0);
    EXPECT_LE(std::abs(zr_atan_(INT32_MIN)), 64);
    EXPECT_LE(std::abs(zr_atan2_(INT32_MIN, INT32_MIN)), 192);
    EXPECT_LE(std::abs(zr_atan2_(INT32_MIN, 1)), 192);
    EXPECT_LE(std::abs(zr_atan2_(1, INT32_MIN)), 192);
    for (int32_t y : {INT32_MIN, -1, 0, 1, INT32_MAX})
        for (int32_t x : {INT32_MIN, -1, 0, 1, INT32_MAX}) {
            const int32_t a = zr_atan2_32(y, x);
            EXPECT_TRUE(a >= 0 && a <= 0x1000000) << y << ", " << x;
        }
    EXPECT_LE(std::abs(zr_sin_14(INT32_MIN)), 16384);
    EXPECT_LE(std::abs(zr_cos_14(INT32_MIN)), 16384);
    EXPECT_LE(std::abs(zr_cos_14(INT32_MAX)), 16384);
}

TEST(Trig, EightBitSineAndCosineAgreeWithLibm) {
    for (int a = 0; a < 256; ++a) {
        const double angle = 2 * kPi * a / 256;
        // Floored table: the magnitude is at most one unit short.
        EXPECT_NEAR(zr_sin_(a), 16384 * std::sin(angle), 1.0) << a;
        EXPECT_NEAR(zr_cos_(a), 16384 * std::cos(angle), 1.0) << a;
        EXPECT_EQ(zr_cos_(a), zr_sin_(static_cast<uint8_t>(a + 64))) << a;
        if (a <= 128) {
            EXPECT_NEAR(sine_curve(a), 16384 * std::sin(angle), 0.5 + 1e-9) << a;
        }
    }
}

TEST(Trig, SixteenBitSineAndCosineAgreeWithLibm) {
    // Half a step of 64 units of rounding, plus the table's 255 steps standing
    // for 256 steps of 64 units (up to pi/512 at the quarter turn), plus the floor.
    const double tolerance = 16384 * (2 * kPi * 32 / 65536 + kPi / 512) + 1;
    double worst = 0;
    for (uint32_t a = 0; a < 65536; ++a) {
        const double angle = 2 * kPi * a / 65536;
        const double es = std::fabs(zr_sin14_(a) - 16384 * std::sin(angle));
        const double ec = std::fabs(zr_cos14_(a) - 16384 * std::cos(angle));
        worst = std::max({worst, es, ec});
        ASSERT_LE(es, tolerance) << a;
        ASSERT_LE(ec, tolerance) << a;
        ASSERT_EQ(zr_sin14_(a + 65536 * 3), zr_sin14_(a)) << "only the low 16 bits count";
        ASSERT_EQ(zr_cos14_(a), zr_sin14_(16384 - a)) << a;
    }
    EXPECT_GT(worst, 16384 * kPi / 1024) << "the tolerance should be close to what the table allows";
}

TEST(Trig, SixteenBitAndRadianSinesReadTheFineTableAtItsOwnSteps) {
    // Entry i of the fine table (255 steps to the quarter turn) stands for the
    // 16-bit angle 64 i; angles round to the nearest 64 units. A table of 256
    // steps a quarter turn would give the true sine at 45 degrees (11585).
    for (uint32_t i = 0; i < 256; ++i) {
        ASSERT_EQ(zr_sin14_(64 * i), zr_sin_table_fine[i]) << i;
        ASSERT_EQ(zr_sin14_(64 * i + 31), zr_sin_table_fine[i]) << i;
        if (i > 0) {
            ASSERT_EQ(zr_sin14_(64 * i - 32), zr_sin_table_fine[i]) << i;
            ASSERT_EQ(zr_sin14_(64 * i - 33), zr_sin_table_fine[i - 1]) << i;
        }
    }
    EXPECT_EQ(zr_sin14_(8192), 11620);
    EXPECT_EQ(zr_cos14_(8192), 11620);
    EXPECT_EQ(zr_sin14_(32768 + 8192), -11620);
    // Radians: the index (255 d + 128) / 102943 truncates, so 45 degrees reads
    // entry 127, and the +128 moves the step to entry 2 at d = 807 rather than 808.
    EXPECT_EQ(zr_sin_14(51471), 11549);
    EXPECT_EQ(zr_sin_14(806), 100);
    EXPECT_EQ(zr_sin_14(807), 201);
    EXPECT_EQ(zr_sin_14(-807), -201);
    EXPECT_EQ(zr_cos_14(102943 - 807), 201);
}

TEST(Trig, RadianSineAndCosineAgreeWithLibm) {
    // The index (255 d + 128) / 102943 is truncated to one of 255 steps a quarter
    // turn, so up to a whole step is lost, plus the floor, plus
    // the turn of 411774 units falling 0.71 units short of 2 pi in Q16 on every turn.
    auto tolerance = [](int32_t r) {
        const double turns = std::fabs(r / 411774.0) + 1;
        return 16384 * (kPi / 2 / 255 + turns * 0.72 / 65536) + 1;
    };
    for (int32_t r = -3 * 411774; r <= 3 * 411774; r += 7) {
        const double angle = r / 65536.0;
        ASSERT_NEAR(zr_sin_14(r), 16384 * std::sin(angle), tolerance(r)) << r;
        ASSERT_NEAR(zr_cos_14(r), 16384 * std::cos(angle), tolerance(r)) << r;
    }
    for (int32_t r : {-411774, 205887, -205887, 5000000, -5000001}) {
        EXPECT_NEAR(zr_sin_14(r), 16384 * std::sin(r / 65536.0), tolerance(r)) << r;
    }
    // Out of the domain: any value in range, no table overrun (the sanitizers watch).
    for (int32_t r : {INT32_MIN, INT32_MAX}) {
        EXPECT_LE(std::abs(zr_sin_14(r)), 16384);
        EXPECT_LE(std::abs(zr_cos_14(r)), 16384);
    }
}

TEST(Trig, TwentyFourBitSineAndCosineAgreeWithLibm) {
    const double tolerance = 5e-6 * 2147483647.0;
    for (int32_t a = -0x1000000; a <= 0x1000000; a += 61) {
        const double angle = 2 * kPi * a / 16777216.0;
        ASSERT_NEAR(zr_sin_32(a), 2147483647.0 * std::sin(angle), tolerance) << a;
        ASSERT_NEAR(zr_cos_32(a), 2147483647.0 * std::cos(angle), tolerance) << a;
    }
    EXPECT_EQ(zr_sin_32(0x800000), 0);
    EXPECT_EQ(zr_cos_32(0x800000), -2147483647);
    EXPECT_EQ(zr_sin_32(0x7FFFFFFF), zr_sin_32(0xFFFFFF));
}

TEST(Trig, TwentyFourBitSineInterpolatesOnto16383Steps) {
    // The fraction f (low 14 bits) is divided by 16383, so its last value
    // lands exactly on the next table point; division by 16384 would fall short.
    for (int32_t i = 0; i < 256; ++i) {
        const int32_t last = (i << 14) | 0x3FFF;
        ASSERT_EQ(zr_sin_32(last), static_cast<int32_t>(zr_sin_table_q31[i + 1])) << i;
        ASSERT_EQ(zr_sin_32(0x800000 + last), -static_cast<int32_t>(zr_sin_table_q31[i + 1])) << i;
        ASSERT_EQ(zr_sin_32(i << 14), static_cast<int32_t>(zr_sin_table_q31[i])) << i;
    }
    EXPECT_EQ(zr_sin_32(0x3FFFFF), 2147483647);
    EXPECT_EQ(zr_cos_32(-1), 2147483647);
}

TEST(Trig, ArctangentOfRatioAgreesWithLibm) {
    // Table rounding (1/2) plus a truncated reciprocal ratio (1/128 rad at most).
    const double tolerance = 0.5 + 256 / (2 * kPi) / 128 + 1e-9;
    for (int32_t t = -70000; t <= 70000; ++t)
        ASSERT_NEAR(zr_atan_(t), std::atan(t / 128.0) * 256 / (2 * kPi), tolerance) << t;
    EXPECT_EQ(zr_atan_(INT32_MAX), 64);
    EXPECT_EQ(zr_atan_(INT32_MIN + 1), -64);
}

TEST(Trig, EightBitArctangentAgreesWithLibm) {
    const double tolerance = 0.5 + 256 / (2 * kPi) / 128 + 1e-9;
    auto check = [&](int32_t y, int32_t x) {
        if (x == 0 && y == 0) return;
        const double expected = std::atan2(y, x) * 256 / (2 * kPi);
        const double got = zr_atan2_(y, x) & 255;
        ASSERT_LE(circular_distance(got, expected, 256), tolerance) << y << ", " << x;
        const int32_t raw = zr_atan2_(y, x);
        ASSERT_TRUE(raw >= -192 && raw <= 128) << y << ", " << x;
    };
    for (int32_t y = -128; y < 128; ++y)
        for (int32_t x = -128; x < 128; ++x) check(y, x);
    for (int32_t y = -32768; y < 32768; y += 37)
        for (int32_t x = -32768; x < 32768; x += 41) check(y, x);
    // Every 16-bit value against the extreme and a few middle magnitudes.
    for (int32_t v = -32768; v < 32768; ++v)
        for (int32_t w : {-32768, -12345, -1, 1, 777, 32767}) {
            check(v, w);
            check(w, v);
        }
    // Large magnitudes take the second form of the ratio.
    for (int32_t v : {0x1000000, 0x7FFFFFFF, 0x40000000, 123456789})
        for (int32_t w : {1, 1000, 0x1000000, 0x7FFFFFFF, 987654321}) {
            check(v, w);
            check(-v, w);
            check(w, -v);
            check(-w, -v);
        }
    // Both magnitudes between 2^24 and 2^26, where the Q7 ratio of the smaller
    // over the larger first needs more than 32 bits.
    for (int32_t v : {0x1000001, 0x1FFFFFF, 0x2000000, 0x2ABCDEF, 0x3FFFFFF})
        for (int32_t w : {0x1000001, 0x2000000, 0x3000000, 0x3FFFFFF, 0x4000000}) {
            check(v, w);
            check(-v, w);
            check(w, -v);
            check(-w, -v);
        }
}

TEST(Trig, TwentyFourBitArctangentAgreesWithLibm) {
    // Interpolation between entries 1/256 apart, table rounding and truncation.
    const double tolerance = 6;
    auto check = [&](int32_t y, int32_t x) {
        if (x == 0 && y == 0) return;
        const double expected = std::atan2(y, x) * 16777216 / (2 * kPi);
        const int32_t got = zr_atan2_32(y, x);
        ASSERT_TRUE(got >= 0 && got <= 0x1000000) << y << ", " << x;
        ASSERT_LE(circular_distance(got, expected, 16777216), tolerance) << y << ", " << x;
    };
    for (int32_t y = -128; y < 128; ++y)
        for (int32_t x = -128; x < 128; ++x) check(y, x);
    for (int32_t y = -32768; y < 32768; y += 37)
        for (int32_t x = -32768; x < 32768; x += 41) check(y, x);
    for (int32_t v : {0x400001, 0x7FFFFFFF, 0x40000000, 123456789})
        for (int32_t w : {1, 1000, 0x400000, 0x7FFFFFFF, 987654321}) {
            check(v, w);
            check(-v, w);
            check(w, -v);
            check(-w, -v);
        }
}

TEST(Trig, AngleAveragesAndDifferencesAgreeWithTheCircle) {
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            const uint8_t ua = static_cast<uint8_t>(a);
            const uint8_t ub = static_cast<uint8_t>(b);
            // The difference is the circular distance; the signed one goes from a to b.
            ASSERT_EQ(zr_angle_difference(ua, ub), circular_distance(a, b, 256));
            const int s = zr_angle_difference_signed(ua, ub);
            ASSERT_EQ((a + s + 256) % 256, b);
            // The average lies within half a unit of the midpoint on the short side.
            if (circular_distance(a, b, 256) < 128) {
                const double mid = a + (((b - a + 384) % 256) - 128) / 2.0;
                ASSERT_LE(circular_distance(zr_angle_average(ua, ub), mid, 256), 0.5) << a << ", " << b;
            }
        }
    }
    for (int a = 0; a < 128; ++a) {
        for (int b = 0; b < 128; ++b) {
            const uint8_t ua = static_cast<uint8_t>(a);
            const uint8_t ub = static_cast<uint8_t>(b);
            ASSERT_EQ(zr_direction_difference(ua, ub), circular_distance(a, b, 128));
            const int s = zr_direction_difference_signed(ua, ub);
            ASSERT_TRUE(s >= -64 && s <= 64);
            ASSERT_EQ((a + s + 128) % 128, b);
            const uint8_t avg = zr_direction_average(ua, ub);
            ASSERT_LT(avg, 128);
            if (circular_distance(a, b, 128) < 64) {
                const double mid = a + (((b - a + 192) % 128) - 64) / 2.0;
                ASSERT_LE(circular_distance(avg, mid, 128), 0.5) << a << ", " << b;
            }
        }
    }
}
