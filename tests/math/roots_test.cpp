#include "math/zr_roots.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "math/zr_exp_table.h"

namespace {

// Exact floor(sqrt(v)) for any 64-bit v, independent of the digit method.
uint64_t floor_root(uint64_t v) {
    uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<double>(v)));
    while (r * r > v) --r;
    while ((r + 1) * (r + 1) <= v) ++r;
    return r;
}

// Nearest integer to sqrt(v) (ties cannot occur for integers).
uint64_t nearest_root(uint64_t v) {
    const uint64_t r = floor_root(v);
    return v - r * r > r ? r + 1 : r;
}

// Inputs around every perfect square and every rounding boundary k^2 + k,
// the ends of the range, and random values.
std::vector<uint32_t> root_inputs() {
    std::vector<uint32_t> xs;
    for (uint64_t k = 0; k <= 65536; ++k) {
        for (uint64_t v : {k * k, k * k + k, k * k + k + 1}) {
            for (int64_t d = -1; d <= 1; ++d) {
                const int64_t x = static_cast<int64_t>(v) + d;
                if (x >= 0 && x <= 0xFFFFFFFF) xs.push_back(static_cast<uint32_t>(x));
            }
        }
    }
    for (uint32_t x = 0; x < 70000; ++x) xs.push_back(x);
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i) xs.push_back(rng());
    for (uint32_t x : {0x3FFFFFFFu, 0x40000000u, 0x80000000u, 0xFFFFFFFFu, 0xC0000000u}) xs.push_back(x);
    return xs;
}

}  // namespace

TEST(Roots, ListedValues) {
    struct Case {
        const char* what;
        int64_t got;
        int64_t expected;
    };
    const Case cases[] = {
        {"sqrt_(2)", zr_sqrt_(2), 1},
        {"sqrt_(3)", zr_sqrt_(3), 2},
        {"sqrt_(15)", zr_sqrt_(15), 4},
        {"sqrt_(100)", zr_sqrt_(100), 10},
        {"sqrt_(2^30 - 1)", zr_sqrt_((1u << 30) - 1), 32768},
        {"sqrt_(2^30)", zr_sqrt_(1u << 30), 0},
        {"sqrt_(2^31)", zr_sqrt_(1u << 31), 0},
        {"sqrt_(2^32 - 1)", zr_sqrt_(0xFFFFFFFFu), 32768},
        {"sqrt_16(16383)", zr_sqrt_16(16383), 128},
        {"sqrt_16(16384)", zr_sqrt_16(16384), 128},
        {"sqrt_16(65535)", zr_sqrt_16(65535), 255},
        {"sqrt_16(100000)", zr_sqrt_16(100000), 185},
        {"sqrt_24_5(16383)", zr_sqrt_24_5(16383), 0},
        {"sqrt_24_5(2^32 - 1)", zr_sqrt_24_5(0xFFFFFFFFu), 511},
        {"sqrt_32(2^32 - 1)", zr_sqrt_32(0xFFFFFFFFu), 65535},
        {"exp_8(0)", zr_exp_8(0), 256},
        {"exp_8(256)", zr_exp_8(256), 694},
        {"exp_8(-256)", zr_exp_8(-256), 93},
        {"exp_8(1000)", zr_exp_8(1000), 12768},
        {"exp_8(-1416)", zr_exp_8(-1416), 1},
        {"exp_8(-1417)", zr_exp_8(-1417), 0},
        {"exp_8(-8388608)", zr_exp_8(-8388608), 0},
        {"exp_8(-8388609)", zr_exp_8(-8388609), 0},
        {"exp_8(INT32_MIN)", zr_exp_8(INT32_MIN), 0},
        {"exp_8(4070)", zr_exp_8(4070), 2122317824},
        {"exp_8(4071)", zr_exp_8(4071), INT32_MAX},
        {"exp_8(INT32_MAX)", zr_exp_8(INT32_MAX), INT32_MAX},
        {"log2_32(0)", zr_log2_32(0), 0},
        {"log2_32(1)", zr_log2_32(1), 0},
        {"log2_32(2)", zr_log2_32(2), 1},
        {"log2_32(3)", zr_log2_32(3), 1},
        {"log2_32(2^31)", zr_log2_32(1u << 31), 31},
        {"clz32(0)", zr_clz32(0), 32},
        {"clz32(1)", zr_clz32(1), 31},
        {"clz32(2^31)", zr_clz32(1u << 31), 0},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

TEST(Roots, EveryVariantMatchesAnExactReference) {
    for (uint32_t x : root_inputs()) {
        ASSERT_EQ(zr_sqrt_32(x), floor_root(x)) << x;
        ASSERT_EQ(zr_sqrt_(x), nearest_root(x & 0x3FFFFFFFu)) << x;
        ASSERT_EQ(zr_sqrt_24_5(x), floor_root(x >> 14)) << x;
        const uint32_t y = x & 0xFFFFu;
        ASSERT_EQ(zr_sqrt_16(x), y < 16384 ? nearest_root(y) : floor_root(y)) << x;
    }
}

// The 64-bit nearest root against 128-bit arithmetic: around k^2 and the
// rounding boundary k^2 + k for small, random and top-of-range k.
TEST(Roots, NearestRootOf64BitValuesMatchesWideArithmetic) {
    using u128 = unsigned __int128;
    const auto nearest = [](uint64_t v) {
        uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<long double>(v)));
        while (u128(r) * r > v) --r;
        while (u128(r + 1) * (r + 1) <= v) ++r;
        return u128(v) - u128(r) * r > r ? r + 1 : r;
    };
    std::vector<uint64_t> roots;
    for (uint64_t k = 0; k < 2000; ++k) roots.push_back(k);
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; ++i) roots.push_back(rng() >> (32 + i % 32));
    for (uint64_t k = 0xFFFFFFFFull - 2000; k <= 0xFFFFFFFFull; ++k) roots.push_back(k);
    for (uint64_t k : roots)
        for (u128 v : {u128(k) * k, u128(k) * k + k, u128(k) * k + k + 1})
            for (int d = -1; d <= 1; ++d) {
                const u128 x = v + u128(int64_t(d));
                if (x > u128(UINT64_MAX)) continue;
                ASSERT_EQ(nearest(uint64_t(x)), zr_sqrt_nearest_64(uint64_t(x))) << uint64_t(x);
            }
    EXPECT_EQ(uint64_t{1} << 32, zr_sqrt_nearest_64(UINT64_MAX));
}

TEST(Roots, LogarithmAndLeadingZerosMatchBitWidth) {
    std::vector<uint32_t> xs;
    for (int b = 0; b < 32; ++b)
        for (int64_t d = -1; d <= 1; ++d) xs.push_back(static_cast<uint32_t>((int64_t{1} << b) + d));
    std::mt19937 rng(11);
    for (int i = 0; i < 100000; ++i) xs.push_back(rng() >> (rng() % 32));
    for (uint32_t x : xs) {
        ASSERT_EQ(zr_log2_32(x), x == 0 ? 0u : static_cast<uint32_t>(std::bit_width(x) - 1)) << x;
        ASSERT_EQ(zr_clz32(x), static_cast<uint32_t>(std::countl_zero(x))) << x;
    }
}

TEST(Roots, ExponentialTableHoldsRoundedPowersOfTwo) {
    const std::vector<int32_t> head(zr_exp2_table_q8, zr_exp2_table_q8 + 6);
    EXPECT_EQ(head, (std::vector<int32_t>{256, 259, 262, 264, 267, 270}));
    EXPECT_EQ(zr_exp2_table_q8[62], 501);
    EXPECT_EQ(zr_exp2_table_q8[63], 506);
    // No entry lies within 0.003 of a rounding boundary, so libm decides them all.
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(zr_exp2_table_q8[i], static_cast<int32_t>(std::floor(256 * std::exp2(i / 64.0) + 0.5))) << i;
}

TEST(Roots, ExponentialFollowsLibmWithinItsQuantisation) {
    // The result approximates 256 * 2^(x / 177) (177 stands for 256 ln 2) in steps
    // of 1/64 of an octave, truncated; for x >= -1100 the result is at least 4.
    int32_t previous = 0;
    for (int32_t x = -1100; x <= 4070; ++x) {
        const int32_t got = zr_exp_8(x);
        ASSERT_GE(got, previous) << x;
        previous = got;
        const double ideal = 256 * std::exp2(x / 177.0);
        ASSERT_LE(got, ideal * (1 + 1.0 / 512) + 0.5) << x;  // the table entries are rounded
        ASSERT_GE(got, ideal * std::exp2(-5.0 / 256) - 1) << x;
        // Against e itself the base 177 drifts by at most 6 percent at the end of the domain.
        ASSERT_NEAR(std::log(got / (256 * std::exp(x / 256.0))), 0, 0.02 + std::abs(x) * 1.2e-5 + 1.0 / got) << x;
    }
    for (int32_t x = -8388608; x < -1416; x += 997) ASSERT_EQ(zr_exp_8(x), 0) << x;
}
