#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "math/zr_crc32.h"
#include "math/zr_crc32_table.h"
#include "math/zr_random.h"

TEST(Crc32, TableOfTheReflectedPolynomial) {
    EXPECT_EQ(zr_crc32_tables[0][0], 0u);
    EXPECT_EQ(zr_crc32_tables[0][1], 0x77073096u);
    EXPECT_EQ(zr_crc32_tables[0][255], 0x2D02EF8Du);
}

TEST(Crc32, CheckValueAndEmptyInput) {
    const auto* digits = reinterpret_cast<const uint8_t*>("123456789");
    EXPECT_EQ(zr_crc32(digits, 9), 0xCBF43926u);
    EXPECT_EQ(zr_crc32(digits, 0), 0u);
    EXPECT_EQ(zr_crc32(nullptr, 9), 0u);

    uint32_t state = 0;
    zr_crc32_init_state(&state);
    EXPECT_EQ(state, 0xFFFFFFFFu);
    zr_crc32_compute(digits, 4, &state);
    const uint32_t after_four = state;
    zr_crc32_compute(digits + 4, 0, &state);
    zr_crc32_compute(nullptr, 5, &state);
    EXPECT_EQ(state, after_four);
    zr_crc32_compute(digits + 4, 5, &state);
    EXPECT_EQ(zr_crc32_get(&state), 0xCBF43926u);
    EXPECT_EQ(zr_crc32_get(&state), 0xCBF43926u) << "get leaves the state as it is";
}

TEST(Crc32, MatchesZlibOnRandomBuffersStreamedInRandomPieces) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> data(1 + rng() % 5000);
        for (auto& b : data) b = static_cast<uint8_t>(rng());
        const auto length = static_cast<uint32_t>(data.size());
        const uint32_t expected = static_cast<uint32_t>(crc32(0L, data.data(), length));
        ASSERT_EQ(zr_crc32(data.data(), length), expected);

        uint32_t state;
        zr_crc32_init_state(&state);
        uint32_t at = 0;
        while (at < length) {
            const uint32_t piece = std::min<uint32_t>(length - at, rng() % 700);
            zr_crc32_compute(data.data() + at, piece, &state);
            at += piece;
        }
        ASSERT_EQ(zr_crc32_get(&state), expected);
    }
}

TEST(Random, LinearCongruentialStep) {
    uint32_t state = 0;
    EXPECT_EQ(zr_rand_u32(&state), 1013904223u);
    EXPECT_EQ(state, 1013904223u);
    const uint32_t next = 1013904223u * 1664525u + 1013904223u;
    EXPECT_EQ(zr_rand_u16(&state), static_cast<uint16_t>(next));
    EXPECT_EQ(state, next);
}

TEST(Random, XorshiftOutputsShareOneStep) {
    // The 20-bit and bounded outputs are the low bits of the 64-bit output of the same step.
    for (uint64_t seed : {1ull, 0x123456789ABCDEFull, 0xFFFFFFFFFFFFFFFFull}) {
        uint64_t a = seed, b = seed, c = seed;
        for (int i = 0; i < 1000; ++i) {
            const uint64_t full = zr_rand_xorshift64star(&a);
            ASSERT_EQ(zr_rand_xorshift20star(&b), full & 0xFFFFF);
            ASSERT_EQ(zr_randint_uint32(&c, 0, 0xFFFFFFFFu), static_cast<uint32_t>(full))
                << "the full range returns the raw low half";
            ASSERT_EQ(a, b);
            ASSERT_EQ(a, c);
        }
    }
    uint64_t state = 1;
    const uint64_t s1 = 1 ^ (1ull << 25) ^ ((1ull ^ (1ull << 25)) >> 27);
    EXPECT_EQ(zr_rand_xorshift64star(&state), s1 * 0x2545F4914F6CDD1Dull);
    EXPECT_EQ(state, s1);
    uint64_t zero = 0;
    EXPECT_EQ(zr_rand_xorshift64star(&zero), 0u);
    EXPECT_EQ(zero, 0u);
}

TEST(Random, BoundedValuesScaleTheLowHalfOfTheOutput) {
    // lo + ((r * w) >> 32) with r the low 32 bits of the 64-bit output: the
    // bounded value follows r's rank, not its remainder modulo the width.
    struct Range {
        uint32_t lo, hi;
    };
    uint64_t a = 0x9E3779B97F4A7C15ull, b = a;
    for (Range rg : {Range{0, 9}, Range{100, 355}, Range{5, 0x80000004u}, Range{0xFFFFFF00u, 0xFFFFFFFEu}}) {
        for (int i = 0; i < 500; ++i) {
            const uint64_t r = static_cast<uint32_t>(zr_rand_xorshift64star(&a));
            const uint64_t width = uint64_t{rg.hi} - rg.lo + 1;
            ASSERT_EQ(zr_randint_uint32(&b, rg.lo, rg.hi), rg.lo + ((r * width) >> 32)) << rg.lo << ".." << rg.hi;
        }
    }
}

TEST(Random, BoundedValuesStayInRangeAndCoverIt) {
    uint64_t state = 99;
    const uint64_t before = state;
    EXPECT_EQ(zr_randint_uint32(&state, 77, 77), 77u);
    EXPECT_NE(state, before) << "a single-value range still advances the state";

    struct Range {
        uint32_t lo, hi;
    };
    for (Range r : {Range{0, 1}, Range{10, 15}, Range{0, 175}, Range{0xFFFFFFF0u, 0xFFFFFFFFu}, Range{1, 0xFFFFFFFFu}}) {
        std::vector<int> seen(16, 0);
        for (int i = 0; i < 20000; ++i) {
            const uint32_t v = zr_randint_uint32(&state, r.lo, r.hi);
            ASSERT_GE(v, r.lo);
            ASSERT_LE(v, r.hi);
            if (r.hi - r.lo < 16) ++seen[v - r.lo];
        }
        if (r.hi - r.lo < 16) {
            for (uint32_t k = 0; k <= r.hi - r.lo; ++k) EXPECT_GT(seen[k], 0) << r.lo + k;
        }
    }
}
