#include "imaging/bal_kernels3x3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "filters_test_support.h"

namespace {

using filters_test::random_image;
using filters_test::test_sizes;

// Sobel and Laplace straight from their 3x3 kernels, zero outside the inner pixels.
struct Derivatives {
    std::vector<int8_t> gx, gy, laplace;
};

Derivatives derivative_reference(const std::vector<uint8_t>& src, uint32_t rows, uint32_t cols) {
    const size_t n = size_t(rows) * cols;
    Derivatives d{std::vector<int8_t>(n, 0), std::vector<int8_t>(n, 0), std::vector<int8_t>(n, 0)};
    static const int kx[3][3] = {{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}};
    static const int ky[3][3] = {{-1, -2, -1}, {0, 0, 0}, {1, 2, 1}};
    static const int kl[3][3] = {{0, -1, 0}, {-1, 4, -1}, {0, -1, 0}};
    for (uint32_t y = 1; y + 1 < rows; ++y)
        for (uint32_t x = 1; x + 1 < cols; ++x) {
            int sx = 0, sy = 0, sl = 0;
            for (int dy = 0; dy < 3; ++dy)
                for (int dx = 0; dx < 3; ++dx) {
                    const int p = src[(y + dy - 1) * cols + x + dx - 1];
                    sx += kx[dy][dx] * p;
                    sy += ky[dy][dx] * p;
                    sl += kl[dy][dx] * p;
                }
            d.gx[y * cols + x] = int8_t(sx / 8);
            d.gy[y * cols + x] = int8_t(sy / 8);
            d.laplace[y * cols + x] = int8_t(sl / 8);
        }
    return d;
}

TEST(Sobel, MatchesKernelsOnRandomImagesIncludingThinOnes) {
    std::vector<filters_test::Size> sizes = test_sizes();
    sizes.insert(sizes.end(), {{1, 5}, {5, 1}, {0, 4}, {4, 0}, {3, 1}, {1, 3}});
    uint32_t seed = 100;
    for (auto [rows, cols] : sizes) {
        const auto src = random_image<uint8_t>(size_t(rows) * cols, seed++);
        const auto expected = derivative_reference(src, rows, cols);
        std::vector<int8_t> gx(src.size(), 99), gy(src.size(), 99), single(src.size(), 99), lap(src.size(), 99);
        bal_sobel_2(src.data(), rows, cols, gx.data(), gy.data());
        EXPECT_EQ(gx, expected.gx) << rows << " x " << cols;
        EXPECT_EQ(gy, expected.gy) << rows << " x " << cols;
        bal_sobel_horizontal(src.data(), rows, cols, single.data());
        EXPECT_EQ(single, expected.gx);
        bal_sobel_vertical(src.data(), rows, cols, single.data());
        EXPECT_EQ(single, expected.gy);
        bal_laplace(src.data(), rows, cols, lap.data());
        EXPECT_EQ(lap, expected.laplace) << rows << " x " << cols;
    }
}

TEST(Sobel, VerticalStepGivesFullGradient) {
    const uint32_t rows = 5, cols = 8, c = 4;
    std::vector<uint8_t> img(rows * cols);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) img[y * cols + x] = x < c ? 0 : 255;
    std::vector<int8_t> gx(img.size()), gy(img.size());
    bal_sobel_2(img.data(), rows, cols, gx.data(), gy.data());
    for (uint32_t y = 1; y + 1 < rows; ++y) {
        EXPECT_EQ(gx[y * cols + c - 1], 127);
        EXPECT_EQ(gx[y * cols + c], 127);
        EXPECT_EQ(gx[y * cols + c + 1], 0);
    }
    EXPECT_EQ(gy, std::vector<int8_t>(img.size(), 0));
}

std::vector<uint8_t> sharpen_reference(const std::vector<uint8_t>& src, uint32_t rows, uint32_t cols, int amount) {
    std::vector<uint8_t> out(src.size());
    auto at = [&](int y, int x) {
        y = std::clamp(y, 0, int(rows) - 1);
        x = std::clamp(x, 0, int(cols) - 1);
        return int(src[y * cols + x]);
    };
    for (int y = 0; y < int(rows); ++y)
        for (int x = 0; x < int(cols); ++x) {
            const int s = 2 * (at(y - 1, x) + at(y + 1, x) + at(y, x - 1) + at(y, x + 1)) + at(y - 1, x - 1) +
                          at(y - 1, x + 1) + at(y + 1, x - 1) + at(y + 1, x + 1);
            const int p = at(y, x);
            out[y * cols + x] = uint8_t(std::clamp(p + (12 * p - s) * amount / 128, 0, 255));
        }
    return out;
}

TEST(Sharpen, MatchesUnsharpMaskInAndOutOfPlace) {
    uint32_t seed = 200;
    for (auto [rows, cols] : std::vector<filters_test::Size>{{1, 1}, {2, 3}, {7, 6}, {16, 13}})
        for (int amount : {0, 1, 64, 128, 255}) {
            const auto src = random_image<uint8_t>(rows * cols, seed++);
            const auto expected = sharpen_reference(src, rows, cols, amount);
            std::vector<uint8_t> out(src.size());
            ASSERT_EQ(bal_sharpen_uint8(src.data(), rows, cols, uint8_t(amount), out.data()), BAL_OK);
            EXPECT_EQ(out, expected);
            auto in_place = src;
            ASSERT_EQ(bal_sharpen_uint8(in_place.data(), rows, cols, uint8_t(amount), in_place.data()), BAL_OK);
            EXPECT_EQ(in_place, expected);
            if (amount == 0) {
                EXPECT_EQ(out, src);
            }
        }
    std::vector<uint8_t> dot(5 * 5, 0);
    dot[12] = 200;
    ASSERT_EQ(bal_sharpen_uint8(dot.data(), 5, 5, 128, dot.data()), BAL_OK);
    EXPECT_EQ(dot[12], 255);
    EXPECT_EQ(dot[7], 0);
}

TEST(Filter3x3, MatchesClippedNormalisedKernel) {
    const int8_t kernels[][9] = {{1, 2, 1, 2, 4, 2, 1, 2, 1}, {0, -1, 0, -1, 5, -1, 0, -1, 0},
                                 {-128, 127, -3, 9, 1, -7, 100, 0, -50}};
    uint32_t seed = 300;
    for (const auto& k : kernels)
        for (const filters_test::Size size : std::vector<filters_test::Size>{{1, 1}, {2, 2}, {3, 5}, {9, 8}}) {
            const uint32_t rows = size.rows, cols = size.cols;  // named variables: the lambda captures them
            const auto src = random_image<uint8_t>(rows * cols, seed++);
            std::vector<uint8_t> out(src.size(), 77);
            bal_filter_3x3(src.data(), int32_t(rows), int32_t(cols), k, out.data());
            for (uint32_t y = 0; y < rows; ++y)
                for (uint32_t x = 0; x < cols; ++x) {
                    int sum = 0, norm = 0;
                    filters_test::for_clipped_window(rows, cols, y, x, [&](uint32_t yy, uint32_t xx) {
                        const int w = k[(yy + 1 - y) * 3 + (xx + 1 - x)];
                        sum += w * src[yy * cols + xx];
                        norm += std::abs(w);
                    });
                    ASSERT_EQ(out[y * cols + x], uint8_t(sum / norm)) << y << "," << x;
                }
        }
}

TEST(Filter3x3, ClippedKernelWithoutWeightLeavesZero) {
    // Only the down-right weight: the last row and column see no kernel position.
    const int8_t k[9] = {0, 0, 0, 0, 0, 0, 0, 0, 3};
    const std::vector<uint8_t> src = {10, 20, 30, 40, 50, 60};
    std::vector<uint8_t> out(6, 9);
    bal_filter_3x3(src.data(), 2, 3, k, out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{50, 60, 0, 0, 0, 0}));
}

TEST(FilterMax, FillsBlocksWithTheirMaximum) {
    std::vector<uint8_t> data = {1, 9, 3, 2, 7};
    bal_filter_max(data.data(), 5, 2);
    EXPECT_EQ(data, (std::vector<uint8_t>{9, 9, 3, 3, 7}));
    for (int32_t block : {0, -3}) {
        std::vector<uint8_t> same = {1, 9, 3};
        bal_filter_max(same.data(), 3, block);
        EXPECT_EQ(same, (std::vector<uint8_t>{1, 9, 3}));
    }
    bal_filter_max(data.data(), 5, 100);
    EXPECT_EQ(data, std::vector<uint8_t>(5, 9));
}

TEST(SetPixel, IgnoresPositionsOutsideTheImage) {
    std::vector<uint8_t> img(6, 0);
    bal_set_pixel(img.data(), 2, 3, 1, 2, 5);
    bal_set_pixel(img.data(), 2, 3, 2, 0, 6);
    bal_set_pixel(img.data(), 2, 3, 0, 3, 7);
    EXPECT_EQ(img, (std::vector<uint8_t>{0, 0, 0, 0, 0, 5}));
}

}  // namespace

namespace {

TEST(Sharpen, ScratchThatCannotBeAllocatedReturnsNoMemory) {
    EXPECT_EQ(bal_sharpen_uint8(nullptr, UINT32_MAX, UINT32_MAX, 128, nullptr), BAL_NO_MEMORY);
    FP_REQUIRE_PLAIN_MALLOC();
    EXPECT_EQ(bal_sharpen_uint8(nullptr, 1u << 31, 1u << 31, 128, nullptr), BAL_NO_MEMORY);
}

}  // namespace
