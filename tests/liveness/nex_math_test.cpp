#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <thread>

#include "liveness/nex_math.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// round(atan2(y, x) 256 / 2 pi) modulo 256, in double.
int32_t rounded_angle(int64_t x, int64_t y) {
    const double a = std::atan2(static_cast<double>(y), static_cast<double>(x)) * 128.0 / kPi;
    return static_cast<int32_t>(std::lround(a) & 0xFF);
}

int32_t angle_distance(int32_t a, int32_t b) {
    const int32_t d = (a - b) & 0xFF;
    return d > 128 ? 256 - d : d;
}

TEST(NexMath, SineMatchesRoundedDoubleForEveryAngle) {
    for (int a = 0; a < 256; ++a) {
        const double s = 16384.0 * std::sin(2.0 * kPi * a / 256.0);
        EXPECT_EQ(std::lround(s), nex_sin(static_cast<uint8_t>(a))) << "angle " << a;
        const double c = 16384.0 * std::cos(2.0 * kPi * a / 256.0);
        EXPECT_EQ(std::lround(c), nex_cos(static_cast<uint8_t>(a))) << "angle " << a;
    }
}

TEST(NexMath, ArctanFixedCases) {
    struct Case {
        int32_t x, y, angle;
    };
    const Case cases[] = {
        {0, 0, 0},       {1, 0, 0},         {0, 1, 64},        {-1, 0, 128},
        {0, -1, 192},    {1, 1, 32},        {-1, 1, 96},       {-1, -1, 160},
        {1, -1, 224},    {80739375, 66261750, 28},
        // Just below the positive x axis: 256 - 0.
        {1000000, -1, 256},
        // Magnitudes above 2^26 are shifted; extremes do not overflow.
        {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::min(), 160},
        {std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::max(), 32},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.angle, nex_arctan(c.x, c.y)) << c.x << ", " << c.y;
}

TEST(NexMath, ArctanWithinOneStepOfRoundedAtan2) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int32_t> coord(-(1 << 30), 1 << 30);
    std::uniform_int_distribution<int32_t> small(-300, 300);
    for (int i = 0; i < 20000; ++i) {
        const bool use_small = i % 2 == 0;
        const int32_t x = use_small ? small(rng) : coord(rng);
        const int32_t y = use_small ? small(rng) : coord(rng);
        if (x == 0 && y == 0) continue;
        const int32_t got = nex_arctan(x, y);
        ASSERT_GE(got, 0);
        ASSERT_LE(got, 256);
        EXPECT_LE(angle_distance(got, rounded_angle(x, y)), 1) << x << ", " << y;
    }
}

// Exact rounded root: r = floor root, then r + 1 when 4 n >= (2 r + 1)^2.
uint32_t exact_rounded_root(uint32_t n) {
    uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<double>(n)));
    while (r * r > n) --r;
    while ((r + 1) * (r + 1) <= n) ++r;
    const uint64_t twice = 2 * r + 1;
    return static_cast<uint32_t>(4ull * n >= twice * twice ? r + 1 : r);
}

TEST(NexMath, SqrtMatchesExactRoundedRoot) {
    for (uint32_t n = 0; n < 70000; ++n) ASSERT_EQ(exact_rounded_root(n), nex_sqrt(n)) << n;
    std::mt19937 rng(99);
    for (int i = 0; i < 100000; ++i) {
        const uint32_t n = static_cast<uint32_t>(rng());
        ASSERT_EQ(exact_rounded_root(n), nex_sqrt(n)) << n;
    }
    EXPECT_EQ(65536u, nex_sqrt(0xFFFFFFFFu));
    EXPECT_EQ(65535u, nex_sqrt(65535u * 65535u));
}

TEST(NexMath, SmallIntegerHelpers) {
    EXPECT_EQ(5, nex_abs(-5));
    EXPECT_EQ(std::numeric_limits<int32_t>::min(), nex_abs(std::numeric_limits<int32_t>::min()));
    EXPECT_EQ(128, nex_angle_difference(128, 0));
    EXPECT_EQ(-127, nex_angle_difference(0, 127));
    EXPECT_EQ(2, nex_angle_difference(1, 255));
    EXPECT_EQ(-2, nex_angle_difference(255, 1));
    EXPECT_EQ(3, mod(-5, 4));
    EXPECT_EQ(1, mod(5, 4));
    EXPECT_EQ(0, mod(-8, 4));
}

TEST(NexMath, ErrorWordIsPerThreadAndSettable) {
    EXPECT_EQ(7u, nex_error(7));
    EXPECT_EQ(7u, nex_error_q());
    uint32_t seen_by_other_thread = 1;
    std::thread([&] { seen_by_other_thread = nex_error_q(); }).join();
    EXPECT_EQ(0u, seen_by_other_thread);
    nex_error(0);
    EXPECT_EQ(0u, nex_error_q());
}

}  // namespace
