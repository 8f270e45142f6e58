#include "imaging/bal_histogram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "filters_test_support.h"

namespace {

using filters_test::random_image;

TEST(Histogram, CountsEveryPixelInItsBin) {
    uint32_t seed = 1;
    for (auto [rows, cols] : filters_test::test_sizes()) {
        const auto u8 = random_image<uint8_t>(rows * cols, seed++);
        const auto s8 = random_image<int8_t>(rows * cols, seed++);
        std::vector<uint32_t> hist(256, 5), want(256, 0);
        bal_image_histogram(u8.data(), int32_t(rows), int32_t(cols), hist.data());
        for (auto p : u8) ++want[p];
        EXPECT_EQ(hist, want);
        std::fill(want.begin(), want.end(), 0u);
        bal_image_histogram_int8(s8.data(), int32_t(rows), int32_t(cols), hist.data());
        for (auto v : s8) ++want[v + 128];
        EXPECT_EQ(hist, want);
        for (uint32_t bits = 1; bits <= 8; ++bits) {
            std::vector<uint32_t> small(size_t(1) << bits, 9), small_want(size_t(1) << bits, 0);
            bal_image_histogram_n(u8.data(), int32_t(rows), int32_t(cols), bits, small.data());
            for (auto p : u8) ++small_want[p >> (8 - bits)];
            EXPECT_EQ(small, small_want) << bits;
        }
    }
    const uint8_t white = 255;
    std::vector<uint32_t> sixteen(16);
    bal_image_histogram_n(&white, 1, 1, 4, sixteen.data());
    EXPECT_EQ(sixteen[15], 1u);
    std::vector<uint32_t> empty(256, 3);
    bal_image_histogram(nullptr, 0, 7, empty.data());
    EXPECT_EQ(empty, std::vector<uint32_t>(256, 0));
}

TEST(HistogramStatistics, MatchFloatingPointMoments) {
    uint32_t seed = 7;
    for (auto [rows, cols] : filters_test::test_sizes()) {
        ++seed;
        const auto img = random_image<uint8_t>(rows * cols, seed, 30, seed % 2 ? 220 : 60);
        std::vector<uint32_t> hist(256);
        bal_image_histogram(img.data(), int32_t(rows), int32_t(cols), hist.data());
        const uint32_t n = rows * cols;
        double sum = 0;
        for (auto p : img) sum += p;
        const uint32_t mean = bal_hist_mean(hist.data(), n);
        EXPECT_EQ(mean, uint32_t(std::floor(sum / n)));
        double s = 0;
        for (auto p : img) s += (double(p) - mean) * (double(p) - mean);
        const uint32_t var = bal_hist_var(hist.data(), uint8_t(mean), n);
        EXPECT_EQ(var, uint32_t(std::floor(s / n)));
        EXPECT_EQ(bal_hist_std(hist.data(), uint8_t(mean), n), uint32_t(std::floor(std::sqrt(double(var)))));
        const uint32_t q = uint32_t(std::floor(16 * s / n)) & 0xFFFF;
        EXPECT_EQ(bal_hist_var_4(hist.data(), uint8_t(mean), n), q);
        EXPECT_EQ(bal_hist_std_2(hist.data(), uint8_t(mean), n), uint32_t(std::lround(std::sqrt(double(q)))));
    }
}

TEST(HistogramStatistics, LargeSumsAndEmptyHistogram) {
    // 16 * S overflows 2^28 here: S / (n >> 4) is used, then kept to 16 bits.
    std::vector<uint32_t> hist(256, 0);
    hist[0] = 20000;
    hist[255] = 20000;
    const uint32_t big_n = 40000;
    const uint32_t big_s = 20000u * 127 * 127 + 20000u * 128 * 128;
    ASSERT_GE(big_s, 0x10000000u);
    EXPECT_EQ(bal_hist_var_4(hist.data(), 127, big_n), uint16_t(big_s / (big_n >> 4)));
    EXPECT_EQ(bal_hist_std_2(hist.data(), 127, big_n),
              uint32_t(std::lround(std::sqrt(double(uint16_t(big_s / (big_n >> 4)))))));
    EXPECT_EQ(bal_hist_mean(hist.data(), 0), 0u);
    EXPECT_EQ(bal_hist_var(hist.data(), 10, 0), 0u);
    EXPECT_EQ(bal_hist_var_4(hist.data(), 10, 0), 0u);
    EXPECT_EQ(bal_hist_std(hist.data(), 10, 0), 0u);
    EXPECT_EQ(bal_hist_std_2(hist.data(), 10, 0), 0u);
}

// Limits from the sorted pixels: lo is the value at rank T, hi the value at
// rank total - 1 - T (0 when that is 0), then the equal-limit adjustment.
std::pair<uint8_t, uint8_t> sorted_limits(std::vector<uint8_t> px, uint32_t percent) {
    std::sort(px.begin(), px.end());
    const uint32_t total = uint32_t(px.size()), cut = total * percent / 100;
    uint32_t lo = cut < total ? px[cut] : 0;
    uint32_t hi = cut < total ? px[total - 1 - cut] : 0;
    if (lo == hi) {
        if (lo > 0)
            --lo;
        else
            hi = 1;
    }
    return {uint8_t(lo), uint8_t(hi)};
}

uint8_t mapped(uint8_t p, uint8_t lo, uint8_t hi) {
    if (p <= lo) return 0;
    const uint32_t range = uint32_t(hi - lo);
    return uint8_t(std::min<uint64_t>(uint64_t(p - lo) * 255 / range, 255));
}

TEST(StretchLimits, MatchRanksOfSortedPixels) {
    uint32_t seed = 11;
    for (auto [rows, cols] : filters_test::test_sizes())
        for (uint32_t percent : {0u, 1u, 5u, 33u, 50u, 70u, 99u}) {
            ++seed;
            const auto img = random_image<uint8_t>(rows * cols, seed, seed % 3 == 0 ? 100 : 0, 255);
            uint8_t lo = 7, hi = 7;
            bal_find_stretch_limits(img.data(), int32_t(rows), int32_t(cols), percent, &lo, &hi);
            const auto [want_lo, want_hi] = sorted_limits(img, percent);
            EXPECT_EQ(lo, want_lo) << rows << " x " << cols << " " << percent;
            EXPECT_EQ(hi, want_hi) << rows << " x " << cols << " " << percent;
            std::vector<uint8_t> out(img.size());
            bal_stretch_uint8(img.data(), int32_t(rows), int32_t(cols), percent, out.data());
            for (size_t i = 0; i < img.size(); ++i) ASSERT_EQ(out[i], mapped(img[i], lo, hi));
            auto in_place = img;
            bal_stretch_uint8(in_place.data(), int32_t(rows), int32_t(cols), percent, in_place.data());
            EXPECT_EQ(in_place, out);
        }
}

TEST(StretchLimits, WorkedValues) {
    const std::vector<uint8_t> flat(20, 100);
    uint8_t lo = 0, hi = 0;
    bal_find_stretch_limits(flat.data(), 4, 5, 1, &lo, &hi);
    EXPECT_EQ(lo, 99);
    EXPECT_EQ(hi, 100);
    std::vector<uint8_t> out(20);
    bal_stretch_uint8(flat.data(), 4, 5, 1, out.data());
    EXPECT_EQ(out, std::vector<uint8_t>(20, 255));
    const std::vector<uint8_t> zero(20, 0);
    bal_find_stretch_limits(zero.data(), 4, 5, 1, &lo, &hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 1);
    bal_stretch_uint8(zero.data(), 4, 5, 1, out.data());
    EXPECT_EQ(out, zero);
    lo = hi = 42;
    bal_find_stretch_limits(flat.data(), 4, 5, 100, &lo, &hi);
    EXPECT_EQ(lo, 42);
    EXPECT_EQ(hi, 42);
    const auto img = random_image<uint8_t>(30, 3);
    out.resize(img.size());
    bal_stretch_uint8(img.data(), 5, 6, 100, out.data());
    EXPECT_EQ(out, img);
}

TEST(StretchIgnoreWhite, LimitsComeFromTheDarkerPixelsOnly) {
    uint32_t seed = 21;
    for (uint8_t white : {uint8_t(0), uint8_t(128), uint8_t(200), uint8_t(255)})
        for (uint32_t percent : {1u, 20u, 100u}) {
            const auto img = random_image<uint8_t>(13 * 11, seed++);
            std::vector<uint8_t> darker;
            for (auto p : img)
                if (p < white) darker.push_back(p);
            uint8_t lo = 0, hi = 255;
            if (percent <= 99) std::tie(lo, hi) = sorted_limits(darker, percent);
            std::vector<uint8_t> out(img.size());
            bal_stretch_ignore_white(img.data(), 13, 11, percent, white, out.data());
            for (size_t i = 0; i < img.size(); ++i) ASSERT_EQ(out[i], mapped(img[i], lo, hi)) << int(white);
            auto in_place = img;
            bal_stretch_ignore_white(in_place.data(), 13, 11, percent, white, in_place.data());
            EXPECT_EQ(in_place, out) << int(white) << " in place";
            if (white == 0 && percent <= 99) {
                for (size_t i = 0; i < img.size(); ++i) EXPECT_EQ(out[i], img[i] ? 255 : 0);
            }
        }
}

TEST(StretchSegmented, LimitsComeFromMaskedBlocks) {
    const uint32_t rows = 24, block = 8;
    const int32_t cols = 20;
    const uint16_t block_rows = 3, block_cols = 3;  // the last column of blocks reaches past the image
    const auto img = random_image<uint8_t>(rows * cols, 31);
    const std::vector<uint8_t> mask = {1, 0, 0, 0, 1, 1, 0, 0, 1};
    for (uint32_t percent : {0u, 10u, 100u}) {
        std::vector<uint8_t> inside;
        for (uint32_t b = 0; b < 9; ++b) {
            if (!mask[b]) continue;
            for (uint32_t y = (b / 3) * block; y < (b / 3 + 1) * block && y < rows; ++y)
                for (uint32_t x = (b % 3) * block; x < (b % 3 + 1) * block && x < uint32_t(cols); ++x)
                    inside.push_back(img[y * cols + x]);
        }
        uint8_t lo = 0, hi = 255;
        if (percent <= 99) std::tie(lo, hi) = sorted_limits(inside, percent);
        std::vector<uint8_t> out(img.size());
        bal_stretch_segmented(img.data(), rows, cols, percent, mask.data(), block_rows, block_cols, uint16_t(block),
                              out.data());
        for (size_t i = 0; i < img.size(); ++i) ASSERT_EQ(out[i], mapped(img[i], lo, hi));
        auto in_place = img;
        bal_stretch_segmented(in_place.data(), rows, cols, percent, mask.data(), block_rows, block_cols,
                              uint16_t(block), in_place.data());
        EXPECT_EQ(in_place, out) << percent << " in place";
    }
}

TEST(StretchFromLimits, MapsBetweenGivenLimits) {
    const auto img = random_image<uint8_t>(9 * 7, 41);
    for (auto [lo, hi] : std::vector<std::pair<uint8_t, uint8_t>>{{0, 255}, {40, 90}, {90, 40}, {77, 77}}) {
        std::vector<uint8_t> out(img.size());
        bal_stretch_from_limits(img.data(), 9, 7, lo, hi, out.data());
        for (size_t i = 0; i < img.size(); ++i) {
            const uint8_t want = hi == lo ? (img[i] > lo ? 255 : 0) : mapped(img[i], lo, hi);
            ASSERT_EQ(out[i], want) << int(lo) << " " << int(hi);
        }
    }
    for (uint8_t low_value : {uint8_t(0), uint8_t(5)}) {
        std::vector<uint8_t> out = img;
        bal_stretch_from_limits_to(out.data(), 9, 7, 50, 150, low_value, 200, out.data());
        for (size_t i = 0; i < img.size(); ++i) {
            const uint32_t v = img[i] > 50 ? img[i] - 50u : low_value;
            ASSERT_EQ(out[i], std::min<uint32_t>(v * 200 / 100, 200));
        }
    }
}

TEST(StretchTyped, FullRangeFromOwnExtremes) {
    const std::vector<int8_t> s8 = {-10, 10, 0, 5};
    std::vector<int8_t> o8(4);
    bal_stretch_int8(s8.data(), 2, 2, o8.data());
    EXPECT_EQ(o8, (std::vector<int8_t>{-128, 127, int8_t(10 * 255 / 20 - 128), int8_t(15 * 255 / 20 - 128)}));
    const std::vector<int8_t> flat8(6, -7);
    o8.resize(flat8.size());
    bal_stretch_int8(flat8.data(), 2, 3, o8.data());
    EXPECT_EQ(o8[3], -7);
    const std::vector<uint16_t> u16 = {0, 65535, 40000};
    std::vector<uint16_t> o16(3);
    bal_stretch_uint16(u16.data(), 1, 3, o16.data());
    EXPECT_EQ(o16, u16);
    const auto r16 = random_image<int16_t>(50, 3, -3000, 9000);
    std::vector<int16_t> s16(50);
    bal_stretch_int16(r16.data(), 5, 10, s16.data());
    const auto [mn, mx] = std::minmax_element(r16.begin(), r16.end());
    for (size_t i = 0; i < r16.size(); ++i)
        ASSERT_EQ(s16[i], int16_t(int64_t(r16[i] - *mn) * 65535 / (*mx - *mn) - 32768));
    EXPECT_EQ(*std::min_element(s16.begin(), s16.end()), -32768);
    EXPECT_EQ(*std::max_element(s16.begin(), s16.end()), 32767);
    auto s16_in_place = r16;
    bal_stretch_int16(s16_in_place.data(), 5, 10, s16_in_place.data());
    EXPECT_EQ(s16_in_place, s16);
    auto s8_in_place = s8;
    bal_stretch_int8(s8_in_place.data(), 2, 2, s8_in_place.data());
    EXPECT_EQ(s8_in_place, (std::vector<int8_t>{-128, 127, int8_t(10 * 255 / 20 - 128), int8_t(15 * 255 / 20 - 128)}));
    const auto ru16 = random_image<uint16_t>(50, 4, 100, 60000);
    std::vector<uint16_t> t16 = ru16;
    bal_stretch_uint16(t16.data(), 10, 5, t16.data());
    const auto [umn, umx] = std::minmax_element(ru16.begin(), ru16.end());
    for (size_t i = 0; i < ru16.size(); ++i)
        ASSERT_EQ(t16[i], uint16_t(uint64_t(ru16[i] - *umn) * 65535 / (*umx - *umn)));
}

}  // namespace
