#include "imaging/bal_statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "filters_test_support.h"

namespace {

using filters_test::random_image;
using filters_test::test_sizes;

TEST(ImageMean, TypedMembersMatchDirectMeanAndTruncateTowardZero) {
    uint32_t seed = 1;
    for (const filters_test::Size size : test_sizes()) {
        const uint32_t rows = size.rows, cols = size.cols;  // named variables: the lambda captures them
        const size_t n = size_t(rows) * cols;
        auto check = [&](auto mean_fn, auto tag, int64_t lo, int64_t hi) {
            using T = decltype(tag);
            const auto img = random_image<T>(n, seed++, lo, hi);
            int64_t sum = 0;
            for (T v : img) sum += v;
            EXPECT_EQ(int64_t(mean_fn(img.data(), int32_t(rows), int32_t(cols))), sum / int64_t(n));
        };
        check(bal_image_mean_uint8, uint8_t{}, 0, 255);
        check(bal_image_mean_int8, int8_t{}, -128, 127);
        check(bal_image_mean_int8, int8_t{}, -128, 3);  // negative mean
        check(bal_image_mean_uint16, uint16_t{}, 0, 65535);
        check(bal_image_mean_int16, int16_t{}, -32768, 32767);
        check(bal_image_mean_int16, int16_t{}, -32768, 100);
    }
    // Above 65536 samples the 16-bit sums need 64 bits.
    const std::vector<uint16_t> bright(300 * 300, 65535);
    EXPECT_EQ(bal_image_mean_uint16(bright.data(), 300, 300), 65535u);
    const std::vector<int16_t> dark(300 * 300, -32768);
    EXPECT_EQ(bal_image_mean_int16(dark.data(), 300, 300), -32768);
    const int8_t pair[] = {-3, 0};
    EXPECT_EQ(bal_image_mean_int8(pair, 1, 2), -1);
    const uint8_t one_two[] = {1, 2};
    EXPECT_EQ(bal_image_mean_uint8(one_two, 2, 1), 1u);
}

TEST(ImageMean, EmptyImageGivesZero) {
    EXPECT_EQ(bal_image_mean_uint8(nullptr, 0, 10), 0u);
    EXPECT_EQ(bal_image_mean_int8(nullptr, 10, 0), 0);
    EXPECT_EQ(bal_image_mean_uint16(nullptr, -1, 4), 0u);
    EXPECT_EQ(bal_image_mean_int16(nullptr, 0, 0), 0);
}

TEST(ImageMinMax, FindsExtremesAndWritesOnlyRequestedOutputs) {
    const uint8_t img[] = {7, 3, 9};
    uint8_t lo = 0, hi = 0;
    EXPECT_EQ(bal_image_min_max_uint8(img, 1, 3, &lo, &hi), BAL_OK);
    EXPECT_EQ(lo, 3);
    EXPECT_EQ(hi, 9);
    lo = 77;
    hi = 77;
    EXPECT_EQ(BAL_OK, bal_image_min_max_uint8(img, 3, 1, &lo, nullptr));
    EXPECT_EQ(lo, 3);
    EXPECT_EQ(hi, 77);
    EXPECT_EQ(BAL_OK, bal_image_min_max_uint8(img, 0, 3, &lo, &hi));
    EXPECT_EQ(lo, 255);
    EXPECT_EQ(hi, 0);
    const int8_t s8[] = {-5, 100, -128, 4};
    int8_t a, b;
    EXPECT_EQ(BAL_OK, bal_image_min_max_int8(s8, 2, 2, &a, &b));
    EXPECT_EQ(a, -128);
    EXPECT_EQ(b, 100);
    EXPECT_EQ(BAL_OK, bal_image_min_max_int8(s8, 0, 0, &a, &b));
    EXPECT_EQ(a, 127);
    EXPECT_EQ(b, -128);
    const uint16_t u16[] = {40000, 2, 65535};
    uint16_t c, d;
    EXPECT_EQ(BAL_OK, bal_image_min_max_uint16(u16, 1, 3, &c, &d));
    EXPECT_EQ(c, 2);
    EXPECT_EQ(d, 65535);
    const int16_t s16[] = {-300, 32767, 5};
    int16_t e, f;
    EXPECT_EQ(BAL_OK, bal_image_min_max_int16(s16, 3, 1, &e, &f));
    EXPECT_EQ(e, -300);
    EXPECT_EQ(f, 32767);
    EXPECT_EQ(BAL_OK, bal_image_min_max_int16(s16, 0, 1, &e, &f));
    EXPECT_EQ(e, 32767);
    EXPECT_EQ(f, -32768);
}

// (Q - S (S / n)) / n with 128-bit sums.
template <class T>
uint32_t sum_formula_variance(const std::vector<T>& img) {
    __int128 s = 0, q = 0;
    for (T v : img) {
        s += v;
        q += __int128(v) * v;
    }
    const __int128 n = __int128(img.size());
    return uint32_t((q - s * (s / n)) / n);
}

TEST(ImageVariance, SumFormulaMembersMatchWideReference) {
    uint32_t seed = 5;
    std::vector<filters_test::Size> sizes = test_sizes();
    sizes.push_back({300, 300});  // above 65536 samples
    for (auto [rows, cols] : sizes) {
        const size_t n = size_t(rows) * cols;
        auto u8 = random_image<uint8_t>(n, seed++);
        auto s8 = random_image<int8_t>(n, seed++, -128, 20);
        auto u16 = random_image<uint16_t>(n, seed++);
        auto s16 = random_image<int16_t>(n, seed++, -32768, 1000);
        EXPECT_EQ(bal_image_var_uint8(u8.data(), rows, cols), sum_formula_variance(u8));
        EXPECT_EQ(bal_image_var_int8(s8.data(), rows, cols), sum_formula_variance(s8));
        EXPECT_EQ(bal_image_var_uint16(u16.data(), rows, cols), sum_formula_variance(u16));
        EXPECT_EQ(bal_image_var_int16(s16.data(), rows, cols), sum_formula_variance(s16));
        // The sum formula is the population variance plus mean * frac(mean), rounded down.
        double mean = 0, var = 0;
        for (auto v : u8) mean += v;
        mean /= double(n);
        for (auto v : u8) var += (v - mean) * (v - mean);
        var /= double(n);
        EXPECT_NEAR(double(bal_image_var_uint8(u8.data(), rows, cols)), var + mean * (mean - std::floor(mean)), 1.0);
    }
}

TEST(ImageVariance, WorkedValuesAndEmptyImage) {
    const uint8_t a[] = {1, 2}, b[] = {0, 1};
    EXPECT_EQ(bal_image_var_uint8(a, 1, 2), 1u);
    EXPECT_EQ(bal_image_var_uint8(b, 1, 2), 0u);
    const int8_t c[] = {-1, 0}, d[] = {-1, -1};
    EXPECT_EQ(bal_image_var_int8(c, 1, 2), 0u);
    EXPECT_EQ(bal_image_var_int8(d, 2, 1), 0u);
    const uint16_t e[] = {50000, 50000, 50000};
    EXPECT_EQ(bal_image_var_uint16(e, 1, 3), 0u);
    EXPECT_EQ(bal_image_var_uint8(nullptr, 0, 3), 0u);
    EXPECT_EQ(bal_image_var_int16(nullptr, 3, 0), 0u);
}

TEST(HistogramVariance, MatchesDirectVarianceAboutTruncatedMean) {
    uint32_t seed = 9;
    for (auto [rows, cols] : test_sizes()) {
        ++seed;
        const auto img = random_image<uint8_t>(size_t(rows) * cols, seed, 0, seed % 2 ? 255 : 40);
        uint64_t sum = 0;
        for (auto v : img) sum += v;
        const int64_t mean = int64_t(sum / img.size());
        uint64_t squares = 0;
        for (auto v : img) squares += uint64_t((v - mean) * (v - mean));
        const uint32_t expected = uint32_t(squares / img.size());
        uint8_t got_mean = 0;
        EXPECT_EQ(bal_image_var(img.data(), rows, cols, &got_mean), expected);
        EXPECT_EQ(got_mean, mean);
        EXPECT_EQ(bal_image_std(img.data(), rows, cols, nullptr), uint32_t(std::sqrt(double(expected))));
    }
}

TEST(HistogramVariance, WorkedValuesAndEmptyImage) {
    const std::vector<uint8_t> flat(12, 42);
    uint8_t mean = 0;
    EXPECT_EQ(bal_image_var(flat.data(), 3, 4, &mean), 0u);
    EXPECT_EQ(mean, 42);
    const uint8_t a[] = {1, 2};
    EXPECT_EQ(bal_image_var(a, 1, 2, nullptr), 0u);
    const uint8_t extremes[] = {0, 255};
    EXPECT_EQ(bal_image_std(extremes, 1, 2, &mean), 127u);
    EXPECT_EQ(mean, 127);
    mean = 9;
    EXPECT_EQ(bal_image_var(nullptr, 0, 5, &mean), 0u);
    EXPECT_EQ(mean, 0);
    EXPECT_EQ(bal_image_std(nullptr, 5, 0, nullptr), 0u);
}

TEST(RowColumnMeans, MatchDirectMeans) {
    uint32_t seed = 13;
    for (auto [rows, cols] : test_sizes()) {
        const auto img = random_image<uint8_t>(size_t(rows) * cols, seed++);
        std::vector<uint8_t> row_means(rows), col_means(cols);
        bal_image_rowcol_sum(img.data(), rows, cols, row_means.data(), col_means.data());
        for (uint32_t y = 0; y < rows; ++y) {
            uint32_t s = 0;
            for (uint32_t x = 0; x < cols; ++x) s += img[y * cols + x];
            EXPECT_EQ(row_means[y], s / cols);
        }
        for (uint32_t x = 0; x < cols; ++x) {
            uint32_t s = 0;
            for (uint32_t y = 0; y < rows; ++y) s += img[y * cols + x];
            EXPECT_EQ(col_means[x], s / rows);
        }
    }
    const uint8_t img[] = {10, 20, 30, 41};
    uint8_t r[2], c[2];
    bal_image_rowcol_sum(img, 2, 2, r, c);
    EXPECT_EQ(r[0], 15);
    EXPECT_EQ(r[1], 35);
    EXPECT_EQ(c[0], 20);
    EXPECT_EQ(c[1], 30);
    // An empty image: the other side's means are 0.
    uint8_t means[3] = {7, 7, 7};
    bal_image_rowcol_sum(nullptr, 0, 3, nullptr, means);
    EXPECT_EQ(means[2], 0);
    means[1] = 7;
    bal_image_rowcol_sum(nullptr, 3, 0, means, nullptr);
    EXPECT_EQ(means[1], 0);
}

TEST(BlockwiseMean, MatchesDirectTileMeansAndIgnoresTheRest) {
    auto check = [](auto fn, auto tag, int64_t lo, int64_t hi) {
        using T = decltype(tag);
        uint32_t seed = 17;
        for (uint32_t block : {1u, 3u, 5u, 12u}) {
            const uint32_t rows = 30, cols = 37, br = rows / block, bc = cols / block;
            const auto img = random_image<T>(rows * cols, seed++, lo, hi);
            std::vector<T> out(br * bc);
            fn(img.data(), rows, cols, block, br, bc, out.data());
            for (uint32_t i = 0; i < br; ++i)
                for (uint32_t j = 0; j < bc; ++j) {
                    int64_t s = 0;
                    for (uint32_t y = 0; y < block; ++y)
                        for (uint32_t x = 0; x < block; ++x) s += img[(i * block + y) * cols + j * block + x];
                    EXPECT_EQ(out[i * bc + j], T(s / int64_t(block * block))) << block;
                }
        }
        std::vector<T> untouched(4, T(9));
        fn(nullptr, 10, 10, 0, 2, 2, untouched.data());
        EXPECT_EQ(untouched, std::vector<T>(4, T(9)));
    };
    check(bal_mean_blockwise_uint8, uint8_t{}, 0, 255);
    check(bal_mean_blockwise_int8, int8_t{}, -128, 30);
    check(bal_mean_blockwise_uint16, uint16_t{}, 0, 65535);
    check(bal_mean_blockwise_int16, int16_t{}, -32768, 3000);
}

TEST(BlockwiseVariance, SamplesEvenOffsetsAboutTheGivenMean) {
    uint32_t seed = 23;
    for (uint32_t block : {1u, 2u, 3u, 5u, 6u, 12u}) {
        const uint32_t rows = 26, cols = 31, br = rows / block, bc = cols / block;
        const auto img = random_image<uint8_t>(rows * cols, seed++);
        std::vector<uint8_t> means(br * bc);
        bal_mean_blockwise_uint8(img.data(), rows, cols, block, br, bc, means.data());
        std::vector<uint16_t> out(br * bc);
        bal_var_blockwise_uint8(img.data(), rows, cols, means.data(), block, br, bc, out.data());
        for (uint32_t i = 0; i < br; ++i)
            for (uint32_t j = 0; j < bc; ++j) {
                uint32_t s = 0, count = 0;
                for (uint32_t y = 0; y < block; y += 2)
                    for (uint32_t x = 0; x < block; x += 2) {
                        const int d = img[(i * block + y) * cols + j * block + x] - means[i * bc + j];
                        s += uint32_t(d * d);
                        ++count;
                    }
                EXPECT_EQ(out[i * bc + j], s / count) << block;
            }
    }
    // Block 0 samples nothing: every block reads 0.
    std::vector<uint16_t> zero(4, 5);
    const uint8_t means[4] = {1, 2, 3, 4};
    bal_var_blockwise_uint8(nullptr, 8, 8, means, 0, 2, 2, zero.data());
    EXPECT_EQ(zero, std::vector<uint16_t>(4, 0));
}

TEST(BlockwiseMinMax, MatchesDirectExtremes) {
    uint32_t seed = 29;
    for (uint32_t block : {1u, 4u, 7u}) {
        const uint32_t rows = 23, cols = 29, br = rows / block, bc = cols / block;
        const auto u8 = random_image<uint8_t>(rows * cols, seed++);
        const auto s8 = random_image<int8_t>(rows * cols, seed++);
        std::vector<uint8_t> umin(br * bc), umax(br * bc);
        std::vector<int8_t> smin(br * bc), smax(br * bc);
        ASSERT_EQ(bal_min_max_blockwise_uint8(u8.data(), rows, cols, block, br, bc, umin.data(), umax.data()), BAL_OK);
        ASSERT_EQ(bal_min_max_blockwise_int8(s8.data(), rows, cols, block, br, bc, smin.data(), smax.data()), BAL_OK);
        for (uint32_t i = 0; i < br; ++i)
            for (uint32_t j = 0; j < bc; ++j) {
                int ulo = 255, uhi = 0, slo = 127, shi = -128;
                for (uint32_t y = 0; y < block; ++y)
                    for (uint32_t x = 0; x < block; ++x) {
                        const size_t p = (i * block + y) * cols + j * block + x;
                        ulo = std::min<int>(ulo, u8[p]);
                        uhi = std::max<int>(uhi, u8[p]);
                        slo = std::min<int>(slo, s8[p]);
                        shi = std::max<int>(shi, s8[p]);
                    }
                EXPECT_EQ(umin[i * bc + j], ulo);
                EXPECT_EQ(umax[i * bc + j], uhi);
                EXPECT_EQ(smin[i * bc + j], slo);
                EXPECT_EQ(smax[i * bc + j], shi);
            }
    }
}

TEST(BlockwiseMinMax, RejectsBadArgumentsWithoutWriting) {
    const std::vector<uint8_t> img(10 * 10, 50);
    std::vector<uint8_t> lo(4, 1), hi(4, 1);
    EXPECT_EQ(bal_min_max_blockwise_uint8(nullptr, 10, 10, 5, 2, 2, lo.data(), hi.data()), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_min_max_blockwise_uint8(img.data(), 10, 10, 5, 2, 2, nullptr, nullptr), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_min_max_blockwise_uint8(img.data(), 10, 10, 11, 1, 1, lo.data(), hi.data()), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_min_max_blockwise_uint8(img.data(), 10, 10, 5, 2, 3, lo.data(), hi.data()), BAL_BAD_ARGUMENT);
    // 2^16 x 2^16 wraps to 0 in 32 bits; the 64-bit test still refuses it.
    EXPECT_EQ(bal_min_max_blockwise_uint8(img.data(), 10, 10, 65536, 65536, 1, lo.data(), hi.data()), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_min_max_blockwise_uint8(img.data(), 10, 10, 65536, 1, 65536, lo.data(), hi.data()), BAL_BAD_ARGUMENT);
    EXPECT_EQ(lo, std::vector<uint8_t>(4, 1));
    EXPECT_EQ(hi, std::vector<uint8_t>(4, 1));
    // Only the minimum asked for; block 0 leaves the starting values.
    EXPECT_EQ(bal_min_max_blockwise_uint8(img.data(), 10, 10, 5, 2, 2, lo.data(), nullptr), BAL_OK);
    EXPECT_EQ(lo, std::vector<uint8_t>(4, 50));
    std::vector<int8_t> slo(4), shi(4);
    const std::vector<int8_t> simg(100, 0);
    EXPECT_EQ(bal_min_max_blockwise_int8(simg.data(), 10, 10, 0, 2, 2, slo.data(), shi.data()), BAL_OK);
    EXPECT_EQ(slo, std::vector<int8_t>(4, 127));
    EXPECT_EQ(shi, std::vector<int8_t>(4, -128));
}

// Direct window sums with the local-variance formula.
std::vector<uint16_t> local_variance_reference(const std::vector<uint8_t>& img, uint32_t rows, uint32_t cols,
                                               int64_t r) {
    std::vector<uint16_t> out(img.size());
    for (int64_t y = 0; y < rows; ++y)
        for (int64_t x = 0; x < cols; ++x) {
            int64_t s = 0, q = 0, n = 0;
            for (int64_t yy = std::max<int64_t>(y - r, 0); yy <= std::min<int64_t>(y + r, rows - 1); ++yy)
                for (int64_t xx = std::max<int64_t>(x - r, 0); xx <= std::min<int64_t>(x + r, cols - 1); ++xx) {
                    const int64_t p = img[yy * cols + xx];
                    s += p;
                    q += p * p;
                    ++n;
                }
            out[y * cols + x] = uint16_t((16 * q - s * ((16 * s) / n)) / n / 16);
        }
    return out;
}

TEST(LocalVariance, MatchesDirectWindowsForEveryRadius) {
    uint32_t seed = 31;
    std::vector<filters_test::Size> sizes = test_sizes();
    sizes.insert(sizes.end(), {{1, 9}, {9, 1}, {1, 1}});
    for (auto [rows, cols] : sizes)
        for (uint32_t radius : {0u, 1u, 2u, 4u, 7u, 22u, 40u}) {
            const auto img = random_image<uint8_t>(size_t(rows) * cols, seed++);
            std::vector<uint16_t> out(img.size(), 0xBEEF);
            ASSERT_EQ(bal_var_local_uint8(img.data(), rows, cols, radius, out.data()), BAL_OK);
            ASSERT_EQ(out, local_variance_reference(img, rows, cols, radius))
                << rows << " x " << cols << " radius " << radius;
            if (radius == 0) {
                EXPECT_EQ(out, std::vector<uint16_t>(img.size(), 0));
            }
        }
}

TEST(LocalVariance, LargestWindowsOfExtremeValues) {
    // Checkerboards and flat white push 16 Q and S (16 S / n) to their largest values.
    const uint32_t rows = 64, cols = 57;
    for (int pattern = 0; pattern < 3; ++pattern) {
        std::vector<uint8_t> img(rows * cols);
        for (uint32_t y = 0; y < rows; ++y)
            for (uint32_t x = 0; x < cols; ++x)
                img[y * cols + x] = pattern == 0 ? 255 : ((x + y) % (pattern + 1) == 0 ? 255 : 0);
        for (uint32_t radius : {20u, 21u, 22u}) {
            std::vector<uint16_t> out(img.size());
            ASSERT_EQ(bal_var_local_uint8(img.data(), rows, cols, radius, out.data()), BAL_OK);
            EXPECT_EQ(out, local_variance_reference(img, rows, cols, radius)) << pattern << " " << radius;
        }
    }
}

TEST(LocalVariance, FormulaTracksTrueVariance) {
    // On a 3 x 3 image with radius 1 the corners see 4 pixels, edges 6, the centre 9.
    const std::vector<uint8_t> img = {0, 255, 0, 255, 0, 255, 0, 255, 0};
    std::vector<uint16_t> out(9);
    ASSERT_EQ(bal_var_local_uint8(img.data(), 3, 3, 1, out.data()), BAL_OK);
    EXPECT_NEAR(out[0], 255.0 * 255 / 4, 16);            // {0, 255, 255, 0}
    EXPECT_NEAR(out[1], 255.0 * 255 / 4, 16);             // three of six bright
    EXPECT_NEAR(out[4], 255.0 * 255 * 20 / 81, 16);       // four of nine bright
}

}  // namespace

namespace {

TEST(LocalVariance, TablesThatCannotBeAllocatedReturnNoMemory) {
    EXPECT_EQ(bal_var_local_uint8(nullptr, UINT32_MAX, UINT32_MAX, 1, nullptr), BAL_NO_MEMORY);
    FP_REQUIRE_PLAIN_MALLOC();
    EXPECT_EQ(bal_var_local_uint8(nullptr, 1u << 31, 1u << 29, 1, nullptr), BAL_NO_MEMORY);
}

}  // namespace
