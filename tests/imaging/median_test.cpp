#include "imaging/bal_median.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "filters_test_support.h"

namespace {

using filters_test::random_image;

// Median by full sort; even windows average their middle pair with the
// member's rounding (floor for unsigned, toward zero for signed).
template <class T>
T sorted_median(std::vector<int64_t> v) {
    std::sort(v.begin(), v.end());
    const size_t c = v.size();
    if (c % 2) return T(v[c / 2]);
    const int64_t sum = v[c / 2 - 1] + v[c / 2];
    return T(std::numeric_limits<T>::is_signed ? sum / 2 : sum >> 1);
}

template <class T>
std::vector<T> median_reference(const std::vector<T>& src, uint32_t rows, uint32_t cols, bool cross) {
    std::vector<T> out(src.size());
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            std::vector<int64_t> window;
            filters_test::for_clipped_window(rows, cols, y, x, [&](uint32_t yy, uint32_t xx) {
                if (!cross || yy == y || xx == x) window.push_back(src[yy * cols + xx]);
            });
            out[y * cols + x] = sorted_median<T>(window);
        }
    return out;
}

template <class T, class Filter>
void expect_median_matches(Filter filter, bool cross, int64_t lo, int64_t hi) {
    std::vector<filters_test::Size> sizes = filters_test::test_sizes();
    if (cross) sizes.insert(sizes.end(), {{1, 5}, {6, 1}, {1, 1}});
    uint32_t seed = cross ? 500 : 400;
    for (auto [rows, cols] : sizes)
        for (int64_t range : {hi, lo + 3}) {  // full range, and few values so that ties occur
            const auto src = random_image<T>(size_t(rows) * cols, seed++, lo, range);
            const auto expected = median_reference(src, rows, cols, cross);
            std::vector<T> out(src.size(), T(7));
            ASSERT_EQ(filter(src.data(), rows, cols, out.data()), BAL_OK);
            EXPECT_EQ(out, expected) << rows << " x " << cols;
            auto in_place = src;
            ASSERT_EQ(filter(in_place.data(), rows, cols, in_place.data()), BAL_OK);
            EXPECT_EQ(in_place, expected) << rows << " x " << cols << " in place";
        }
}

template <class T, class Square, class Cross>
void expect_both_match(Square square, Cross cross) {
    constexpr int64_t lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
    expect_median_matches<T>([&](const T* s, uint32_t r, uint32_t c, T* d) { return square(s, int32_t(r), int32_t(c), d); },
                             false, lo, hi);
    expect_median_matches<T>(cross, true, lo, hi);
}

TEST(Median, EveryMemberMatchesSortedWindowMedian) {
    expect_both_match<uint8_t>(bal_median_uint8, bal_median_small_uint8);
    expect_both_match<int8_t>(bal_median_int8, bal_median_small_int8);
    expect_both_match<uint16_t>(bal_median_uint16, bal_median_small_uint16);
    expect_both_match<int16_t>(bal_median_int16, bal_median_small_int16);
    expect_both_match<uint32_t>(bal_median_uint32, bal_median_small_uint32);
    expect_both_match<int32_t>(bal_median_int32, bal_median_small_int32);
}

TEST(Median, WorkedValues) {
    std::vector<uint8_t> square = {10, 20, 30, 40};
    ASSERT_EQ(bal_median_uint8(square.data(), 2, 2, square.data()), BAL_OK);
    EXPECT_EQ(square, std::vector<uint8_t>(4, 25));
    const std::vector<uint8_t> img = {0, 1, 0, 1, 1, 0, 0, 0, 0};
    std::vector<uint8_t> out(9);
    ASSERT_EQ(bal_median_uint8(img.data(), 3, 3, out.data()), BAL_OK);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[4], 0);
    ASSERT_EQ(bal_median_small_uint8(img.data(), 3, 3, out.data()), BAL_OK);
    EXPECT_EQ(out[0], 1);
    // Even windows: -3 and 0 average to -1; the largest u32 and two below it to one below.
    const std::vector<int8_t> pair = {-3, 0, -100, 100};
    std::vector<int8_t> s8(4);
    ASSERT_EQ(bal_median_int8(pair.data(), 2, 2, s8.data()), BAL_OK);
    EXPECT_EQ(s8[0], -1);
    const std::vector<uint32_t> big = {UINT32_MAX, UINT32_MAX - 2, UINT32_MAX, 0};
    std::vector<uint32_t> u32(4);
    ASSERT_EQ(bal_median_uint32(big.data(), 2, 2, u32.data()), BAL_OK);
    EXPECT_EQ(u32[0], UINT32_MAX - 1);
    const std::vector<int32_t> wide = {INT32_MIN, INT32_MIN + 1, INT32_MIN, 5};
    std::vector<int32_t> s32(4);
    ASSERT_EQ(bal_median_int32(wide.data(), 2, 2, s32.data()), BAL_OK);
    EXPECT_EQ(s32[0], INT32_MIN + 1);  // (INT32_MIN + INT32_MIN + 1) / 2, toward zero
}

TEST(Median, SingleRowOrColumnIsCopied) {
    const auto row = random_image<uint8_t>(9, 1);
    std::vector<uint8_t> out(9);
    ASSERT_EQ(bal_median_uint8(row.data(), 1, 9, out.data()), BAL_OK);
    EXPECT_EQ(out, row);
    ASSERT_EQ(bal_median_uint8(row.data(), 9, 1, out.data()), BAL_OK);
    EXPECT_EQ(out, row);
    EXPECT_EQ(bal_median_uint8(nullptr, 0, 9, nullptr), BAL_OK);
}

TEST(MedianPixel, FiltersOnlyInnerPositions) {
    const uint32_t rows = 5, cols = 6;
    const auto src = random_image<uint8_t>(rows * cols, 3);
    const auto expected = median_reference(src, rows, cols, false);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            std::vector<uint8_t> dst(rows * cols, 0);
            bal_median_pixel(src.data(), rows, cols, y, x, dst.data());
            const bool inner = y >= 1 && x >= 1 && y + 2 <= rows && x + 2 <= cols;
            std::vector<uint8_t> want(rows * cols, 0);
            if (inner) want[y * cols + x] = expected[y * cols + x];
            EXPECT_EQ(dst, want) << y << "," << x;
        }
}

}  // namespace
