// Resampling: the general resize and its choice of path, reductions by two,
// block-field up-scaling and the nearest-neighbour variants, each against a
// brute-force reference written from the definitions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <cstdlib>
#include <random>
#include <type_traits>
#include <vector>

#include "imaging/bal_scale.h"

namespace {

template <typename T>
std::vector<T> random_image(uint32_t rows, uint32_t cols, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int32_t> value(std::numeric_limits<T>::min(),
                                                 std::numeric_limits<T>::max());
    std::vector<T> image(static_cast<size_t>(rows) * cols);
    for (T& v : image) {
        v = static_cast<T>(value(rng));
    }
    return image;
}

// 3 x 3 binomial smoothing: the weights that fall outside are dropped and the
// sum is divided by the weights that remain (floor for unsigned, truncation
// for signed elements).
template <typename T>
std::vector<int32_t> reference_binomial(const std::vector<T>& src, uint32_t rows, uint32_t cols) {
    std::vector<int32_t> out(src.size());
    for (int32_t y = 0; y < static_cast<int32_t>(rows); ++y) {
        for (int32_t x = 0; x < static_cast<int32_t>(cols); ++x) {
            int32_t sum = 0;
            int32_t weight = 0;
            for (int32_t dy = -1; dy <= 1; ++dy) {
                for (int32_t dx = -1; dx <= 1; ++dx) {
                    const int32_t yy = y + dy;
                    const int32_t xx = x + dx;
                    if (yy < 0 || xx < 0 || yy >= static_cast<int32_t>(rows) ||
                        xx >= static_cast<int32_t>(cols)) {
                        continue;
                    }
                    const int32_t w = (2 - std::abs(dy)) * (2 - std::abs(dx));
                    sum += w * src[static_cast<size_t>(yy) * cols + xx];
                    weight += w;
                }
            }
            out[static_cast<size_t>(y) * cols + x] = sum / weight;  // sum >= 0 when unsigned
        }
    }
    return out;
}

// Reduction by two: 2 x 2 means of the smoothed image (or of the image itself).
template <typename T>
std::vector<T> reference_halve(const std::vector<T>& src, uint32_t rows, uint32_t cols,
                               bool smooth) {
    std::vector<int32_t> base =
        smooth ? reference_binomial(src, rows, cols) : std::vector<int32_t>(src.begin(), src.end());
    const uint32_t out_rows = rows / 2;
    const uint32_t out_cols = cols / 2;
    std::vector<T> out(static_cast<size_t>(out_rows) * out_cols);
    for (uint32_t i = 0; i < out_rows; ++i) {
        for (uint32_t j = 0; j < out_cols; ++j) {
            const int32_t sum = base[(2 * i) * cols + 2 * j] + base[(2 * i) * cols + 2 * j + 1] +
                                base[(2 * i + 1) * cols + 2 * j] +
                                base[(2 * i + 1) * cols + 2 * j + 1];
            out[i * out_cols + j] = static_cast<T>(sum / 4);
        }
    }
    return out;
}

// Centred 16.16 bilinear sampling with 8-bit weights, term by term.
std::vector<uint8_t> reference_bilinear(const std::vector<uint8_t>& in, uint32_t rows,
                                        uint32_t cols, uint32_t dst_rows, uint32_t dst_cols) {
    const uint32_t step_r = ((rows - 1) << 16) / dst_rows;
    const uint32_t step_c = ((cols - 1) << 16) / dst_cols;
    std::vector<uint8_t> out(static_cast<size_t>(dst_rows) * dst_cols);
    for (uint32_t i = 0; i < dst_rows; ++i) {
        const uint32_t q = (step_r >> 1) + i * step_r;
        const uint32_t y0 = q >> 16;
        const uint32_t ty = (q & 0xFFFF) >> 8;
        for (uint32_t j = 0; j < dst_cols; ++j) {
            const uint32_t p = (step_c >> 1) + j * step_c;
            const uint32_t x0 = p >> 16;
            const uint32_t tx = (p & 0xFFFF) >> 8;
            const uint32_t a = in[y0 * cols + x0], b = in[y0 * cols + x0 + 1];
            const uint32_t c = in[(y0 + 1) * cols + x0], d = in[(y0 + 1) * cols + x0 + 1];
            out[i * dst_cols + j] = static_cast<uint8_t>(
                (a * (256 - ty) * (256 - tx) + b * (256 - ty) * tx + c * ty * (256 - tx) +
                 d * ty * tx) /
                65536);
        }
    }
    return out;
}

std::vector<uint8_t> scaled(const std::vector<uint8_t>& src, uint32_t rows, uint32_t cols,
                            uint32_t dst_rows, uint32_t dst_cols) {
    std::vector<uint8_t> dst(static_cast<size_t>(dst_rows) * dst_cols, 0xA5);
    bal_scale_bilinear(src.data(), rows, cols, dst.data(), dst_rows, dst_cols);
    return dst;
}

TEST(ScaleBilinear, SameSizeCopiesAndHalfSizeTakesTheTwoByTwoMean) {
    const auto src = random_image<uint8_t>(100, 80, 1);
    EXPECT_EQ(scaled(src, 100, 80, 100, 80), src);
    EXPECT_EQ(scaled(src, 100, 80, 50, 40), reference_halve(src, 100, 80, false));
}

TEST(ScaleBilinear, HalvesWhileBothSidesStayAboveTwiceTheTarget) {
    // 400 x 400 to 90 x 90: halved to 200 and 100, then interpolated.
    const auto src = random_image<uint8_t>(400, 400, 2);
    const auto once = reference_halve(src, 400, 400, false);
    const auto twice = reference_halve(once, 200, 200, false);
    EXPECT_EQ(scaled(src, 400, 400, 90, 90), reference_bilinear(twice, 100, 100, 90, 90));

    // 400 x 150 to 90 x 90: the 150 columns are not above 180, no halving.
    const auto wide = random_image<uint8_t>(400, 150, 3);
    EXPECT_EQ(scaled(wide, 400, 150, 90, 90), reference_bilinear(wide, 400, 150, 90, 90));

    // Odd intermediate sizes go through the smoothed reduction: 176 x 96 to
    // 40 x 20 halves to 88 x 48 and 44 x 24 (even), 99 x 61 to 20 x 12
    // halves to 49 x 30 (smoothed), then to 24 x 15 (smoothed).
    const auto sensor = random_image<uint8_t>(176, 96, 4);
    const auto s1 = reference_halve(sensor, 176, 96, false);
    const auto s2 = reference_halve(s1, 88, 48, false);
    EXPECT_EQ(scaled(sensor, 176, 96, 40, 20), reference_bilinear(s2, 44, 24, 40, 20));
    const auto odd = random_image<uint8_t>(99, 61, 5);
    const auto o1 = reference_halve(odd, 99, 61, true);
    const auto o2 = reference_halve(o1, 49, 30, true);
    EXPECT_EQ(scaled(odd, 99, 61, 20, 12), reference_bilinear(o2, 24, 15, 20, 12));
}

TEST(ScaleBilinear, SamplesAreCentredInTheSource) {
    // 5 x 3 to 2 x 2: output rows sample source rows 1 and 3 exactly, output
    // columns the floor means of columns 0 and 1, and of 1 and 2.
    const std::vector<uint8_t> src = {0,  10, 30,  //
                                      1,  11, 40,  //
                                      2,  12, 50,  //
                                      3,  13, 60,  //
                                      4,  14, 70};
    EXPECT_EQ(scaled(src, 5, 3, 2, 2), (std::vector<uint8_t>{6, 25, 8, 36}));
    // Enlargements read the source directly: 176 x 96 to 200 x 110, and a
    // source wider than the row-blend buffer.
    const auto wide = random_image<uint8_t>(3, 1100, 7);
    EXPECT_EQ(scaled(wide, 3, 1100, 5, 1200), reference_bilinear(wide, 3, 1100, 5, 1200));
    const auto sensor = random_image<uint8_t>(176, 96, 6);
    EXPECT_EQ(scaled(sensor, 176, 96, 200, 110), reference_bilinear(sensor, 176, 96, 200, 110));
}

TEST(ScaleBilinear, ConstantImagesStayConstantOnEveryPath) {
    const struct {
        uint32_t rows, cols, dst_rows, dst_cols;
    } cases[] = {{176, 96, 176, 96}, {176, 96, 88, 48}, {176, 96, 40, 20}, {99, 61, 20, 12},
                 {176, 96, 200, 110}, {176, 96, 100, 90}, {2, 2, 7, 9},     {1, 5, 3, 3}};
    for (const auto& c : cases) {
        const std::vector<uint8_t> src(static_cast<size_t>(c.rows) * c.cols, 201);
        EXPECT_EQ(scaled(src, c.rows, c.cols, c.dst_rows, c.dst_cols),
                  std::vector<uint8_t>(static_cast<size_t>(c.dst_rows) * c.dst_cols, 201))
            << c.rows << "x" << c.cols << " to " << c.dst_rows << "x" << c.dst_cols;
    }
}

TEST(ScaleBilinear, EmptySizesWriteNothing) {
    const std::vector<uint8_t> src(16, 7);
    std::vector<uint8_t> dst(16, 0xA5);
    bal_scale_bilinear(src.data(), 4, 4, dst.data(), 0, 4);
    bal_scale_bilinear(src.data(), 0, 4, dst.data(), 4, 4);
    EXPECT_EQ(dst, std::vector<uint8_t>(16, 0xA5));
}

template <typename T>
class ScaleTyped : public ::testing::Test {};
using ScaleTypes = ::testing::Types<uint8_t, int8_t, uint16_t, int16_t>;
TYPED_TEST_SUITE(ScaleTyped, ScaleTypes);

template <typename T>
uint32_t scale_down(const T* src, uint32_t rows, uint32_t cols, T* dst) {
    if constexpr (std::is_same_v<T, uint8_t>) {
        return bal_scale_down_bilinear_2_uint8(src, rows, cols, dst);
    } else if constexpr (std::is_same_v<T, int8_t>) {
        return bal_scale_down_bilinear_2_int8(src, rows, cols, dst);
    } else if constexpr (std::is_same_v<T, uint16_t>) {
        return bal_scale_down_bilinear_2_uint16(src, rows, cols, dst);
    } else {
        return bal_scale_down_bilinear_2_int16(src, rows, cols, dst);
    }
}

TYPED_TEST(ScaleTyped, MatchesTheSmoothedTwoByTwoMean) {
    using T = TypeParam;
    const struct {
        uint32_t rows, cols;
    } sizes[] = {{5, 5}, {2, 3}, {3, 2}, {176, 96}, {17, 40}, {41, 9}};
    uint32_t seed = 10;
    for (const auto& size : sizes) {
        const auto src = random_image<T>(size.rows, size.cols, seed++);
        std::vector<T> dst((size.rows / 2) * (size.cols / 2));
        ASSERT_EQ(scale_down(src.data(), size.rows, size.cols, dst.data()), 0u);
        // Only u8 with both sides even skips the smoothing.
        const bool smooth = !std::is_same_v<T, uint8_t> || (size.rows % 2) || (size.cols % 2);
        EXPECT_EQ(dst, reference_halve(src, size.rows, size.cols, smooth))
            << size.rows << "x" << size.cols;
    }
}

TYPED_TEST(ScaleTyped, ConstantImageStaysConstant) {
    using T = TypeParam;
    const T value = std::is_signed_v<T> ? static_cast<T>(-77) : static_cast<T>(177);
    const std::vector<T> src(15 * 11, value);
    std::vector<T> dst(7 * 5);
    ASSERT_EQ(scale_down(src.data(), 15, 11, dst.data()), 0u);
    EXPECT_EQ(dst, std::vector<T>(dst.size(), value));
}

// Block field to pixels, from the definition: each value at its block's
// centre, bilinear in between, and outside the interpolated area the nearest
// interpolated pixel (clamped coordinates).
template <typename T>
std::vector<T> reference_scale_up(const std::vector<T>& field, int32_t rows, int32_t cols,
                                  int32_t s, int32_t dst_rows, int32_t dst_cols) {
    const int32_t h = s / 2;
    const int32_t last_y = h + (rows - 1) * s - 1;
    const int32_t last_x = h + (cols - 1) * s - 1;
    std::vector<T> out(static_cast<size_t>(dst_rows) * dst_cols);
    for (int32_t y = 0; y < dst_rows; ++y) {
        for (int32_t x = 0; x < dst_cols; ++x) {
            const int32_t cy = std::clamp(y, h, last_y) - h;
            const int32_t cx = std::clamp(x, h, last_x) - h;
            const int32_t r = cy / s, u = cy % s, c = cx / s, t = cx % s;
            const int32_t a = field[r * cols + c], b = field[r * cols + c + 1];
            const int32_t cc = field[(r + 1) * cols + c], d = field[(r + 1) * cols + c + 1];
            const int32_t top = (s - t) * a + t * b;
            const int32_t bottom = (s - t) * cc + t * d;
            out[y * dst_cols + x] = static_cast<T>(((s - u) * top + u * bottom) / (s * s));
        }
    }
    return out;
}

template <typename T>
void scale_up(const T* field, uint32_t rows, uint32_t cols, int32_t block, T* dst,
              int32_t dst_rows, int32_t dst_cols) {
    if constexpr (std::is_same_v<T, uint8_t>) {
        bal_scale_up_bilinear_uint8(field, rows, cols, block, dst, dst_rows, dst_cols);
    } else if constexpr (std::is_same_v<T, int8_t>) {
        bal_scale_up_bilinear_int8(field, rows, cols, block, dst, dst_rows, dst_cols);
    } else if constexpr (std::is_same_v<T, uint16_t>) {
        bal_scale_up_bilinear_uint16(field, rows, cols, block, dst, dst_rows, dst_cols);
    } else {
        bal_scale_up_bilinear_int16(field, rows, cols, block, dst, dst_rows, dst_cols);
    }
}

TYPED_TEST(ScaleTyped, UpScalingMatchesTheDefinition) {
    using T = TypeParam;
    const struct {
        int32_t rows, cols, block;
    } cases[] = {{14, 8, 12}, {2, 2, 12}, {5, 7, 6}, {4, 3, 5}, {3, 6, 1}};
    uint32_t seed = 40;
    for (const auto& c : cases) {
        const auto field = random_image<T>(c.rows, c.cols, seed++);
        const int32_t dst_rows = c.rows * c.block;
        const int32_t dst_cols = c.cols * c.block;
        std::vector<T> dst(static_cast<size_t>(dst_rows) * dst_cols);
        scale_up(field.data(), c.rows, c.cols, c.block, dst.data(), dst_rows, dst_cols);
        EXPECT_EQ(dst, reference_scale_up(field, c.rows, c.cols, c.block, dst_rows, dst_cols))
            << c.rows << "x" << c.cols << " block " << c.block;
    }
}

TYPED_TEST(ScaleTyped, UpScalingKeepsAConstantField) {
    using T = TypeParam;
    const T value = std::is_signed_v<T> ? static_cast<T>(-93) : static_cast<T>(231);
    const std::vector<T> field(15 * 8, value);
    std::vector<T> dst(15 * 12 * 8 * 12);
    scale_up(field.data(), 15, 8, 12, dst.data(), 15 * 12, 8 * 12);
    EXPECT_EQ(dst, std::vector<T>(dst.size(), value));
}

TEST(ScaleNearest, ConstantImagesStayConstant) {
    const std::vector<uint8_t> flat(13 * 9, 42);
    std::vector<uint8_t> dst(20 * 31);
    bal_scale_nearest_neighbour_uint8(flat.data(), 13, 9, dst.data(), 20, 31);
    EXPECT_EQ(dst, std::vector<uint8_t>(dst.size(), 42));
    bal_scale_blocks_nearest_neighbour(flat.data(), 13, 9, 4, dst.data(), 20, 31, 1);
    EXPECT_EQ(dst, std::vector<uint8_t>(dst.size(), 42));  // 30 / 4 = 7 stays inside
}

TEST(ScaleUp, FieldValuesSitAtTheBlockCentres) {
    const auto field = random_image<uint8_t>(14, 8, 50);
    std::vector<uint8_t> dst(168 * 96);
    bal_scale_up_bilinear_uint8(field.data(), 14, 8, 12, dst.data(), 168, 96);
    for (int r = 0; r < 13; ++r) {
        for (int c = 0; c < 7; ++c) {
            EXPECT_EQ(dst[(6 + 12 * r) * 96 + 6 + 12 * c], field[r * 8 + c]);
        }
    }
}

TEST(ScaleUp, SmallerOutputIsKeptInsideItsBuffer) {
    // The output is cut at dst_rows x dst_cols (ASan guards the buffer).
    const auto field = random_image<uint8_t>(6, 5, 51);
    const auto full = reference_scale_up(field, 6, 5, 12, 72, 60);
    std::vector<uint8_t> dst(30 * 25);
    bal_scale_up_bilinear_uint8(field.data(), 6, 5, 12, dst.data(), 30, 25);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 25; ++x) {
            ASSERT_EQ(dst[y * 25 + x], full[y * 60 + x]) << y << "," << x;
        }
    }
}

// Cyclic interpolation from v towards w: the shorter way around 256 steps,
// through the wrap at a difference of exactly 128.
std::vector<uint8_t> cyclic_top_row(uint8_t v, uint8_t w, int32_t s) {
    const std::vector<uint8_t> field = {v, w, v, w};
    std::vector<uint8_t> dst(static_cast<size_t>(2 * s) * 2 * s);
    bal_scale_up_bilinear_cyclic(field.data(), 2, 2, s, dst.data(), 2 * s, 2 * s);
    const int32_t h = s / 2;
    return std::vector<uint8_t>(dst.begin() + h * 2 * s + h, dst.begin() + h * 2 * s + h + s);
}

TEST(ScaleUpCyclic, InterpolatesTheShorterWayAroundTheCircle) {
    EXPECT_EQ(cyclic_top_row(250, 10, 4), (std::vector<uint8_t>{250, 254, 2, 6}));
    EXPECT_EQ(cyclic_top_row(0, 128, 4), (std::vector<uint8_t>{0, 224, 192, 160}));
    EXPECT_EQ(cyclic_top_row(128, 0, 4), (std::vector<uint8_t>{128, 160, 192, 224}));
    EXPECT_EQ(cyclic_top_row(10, 30, 4), (std::vector<uint8_t>{10, 15, 20, 25}));
    EXPECT_EQ(cyclic_top_row(30, 10, 4), (std::vector<uint8_t>{30, 25, 20, 15}));
}

TEST(ScaleUpCyclic, MatchesTheLinearMemberAwayFromTheWrapAndKeepsConstants) {
    // Values 60..100 never wrap, and the steps move towards the target with
    // a floor of the magnitude, which equals the linear member where the
    // field increases to the right and downwards.
    std::vector<uint8_t> field(5 * 4);
    for (int r = 0; r < 5; ++r) {
        for (int c = 0; c < 4; ++c) {
            field[r * 4 + c] = static_cast<uint8_t>(60 + 7 * r + 3 * c);
        }
    }
    std::vector<uint8_t> cyclic(60 * 48), linear(60 * 48);
    bal_scale_up_bilinear_cyclic(field.data(), 5, 4, 12, cyclic.data(), 60, 48);
    bal_scale_up_bilinear_uint8(field.data(), 5, 4, 12, linear.data(), 60, 48);
    for (size_t k = 0; k < cyclic.size(); ++k) {
        ASSERT_NEAR(cyclic[k], linear[k], 1) << k;
    }
    const std::vector<uint8_t> constant(5 * 4, 255);
    bal_scale_up_bilinear_cyclic(constant.data(), 5, 4, 12, cyclic.data(), 60, 48);
    EXPECT_EQ(cyclic, std::vector<uint8_t>(60 * 48, 255));
}

TEST(ScaleUpPad, BlendsTheOuterBlocksTowardsThePadValue) {
    const auto field = random_image<uint8_t>(6, 5, 60);
    std::vector<uint8_t> framed(8 * 7, 40);
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 5; ++c) {
            framed[(r + 1) * 7 + c + 1] = field[r * 5 + c];
        }
    }
    const auto work = reference_scale_up(framed, 8, 7, 12, 72 + 24, 60 + 24);
    std::vector<uint8_t> dst(72 * 60);
    ASSERT_EQ(bal_scale_up_bilinear_pad_uint8(field.data(), 6, 5, 12, 40, dst.data(), 72, 60), BAL_OK);
    for (int y = 0; y < 72; ++y) {
        for (int x = 0; x < 60; ++x) {
            ASSERT_EQ(dst[y * 60 + x], work[(y + 12) * 84 + x + 12]) << y << "," << x;
        }
    }
    // A field equal to the pad stays constant.
    const std::vector<uint8_t> constant(6 * 5, 40);
    ASSERT_EQ(bal_scale_up_bilinear_pad_uint8(constant.data(), 6, 5, 12, 40, dst.data(), 72, 60),
              BAL_OK);
    EXPECT_EQ(dst, std::vector<uint8_t>(72 * 60, 40));
}

TEST(ScaleNearest, PicksTheFlooredSourcePosition) {
    const auto src = random_image<uint8_t>(7, 5, 70);
    std::vector<uint8_t> dst(10 * 3);
    bal_scale_nearest_neighbour_uint8(src.data(), 7, 5, dst.data(), 10, 3);
    for (uint32_t i = 0; i < 10; ++i) {
        for (uint32_t j = 0; j < 3; ++j) {
            EXPECT_EQ(dst[i * 3 + j], src[(i * 7 / 10) * 5 + j * 5 / 3]);
        }
    }
}

TEST(ScaleNearest, BlocksWriteZeroBeyondTheSourceAndNothingForAZeroDenominator) {
    const auto src = random_image<uint8_t>(4, 3, 71);
    std::vector<uint8_t> dst(6 * 6, 0xA5);
    bal_scale_blocks_nearest_neighbour(src.data(), 4, 3, 2, dst.data(), 6, 6, 1);
    for (uint32_t i = 0; i < 6; ++i) {
        for (uint32_t j = 0; j < 6; ++j) {
            const uint8_t expected = (i / 2 < 4 && j / 2 < 3) ? src[(i / 2) * 3 + j / 2] : 0;
            EXPECT_EQ(dst[i * 6 + j], expected);
        }
    }
    std::vector<uint8_t> untouched(36, 0xA5);
    bal_scale_blocks_nearest_neighbour(src.data(), 4, 3, 0, untouched.data(), 6, 6, 1);
    EXPECT_EQ(untouched, std::vector<uint8_t>(36, 0xA5));
}

TEST(ScaleNearest, UpBlocksFillEachBlockWithItsValue) {
    const auto field = random_image<uint8_t>(3, 4, 72);
    uint32_t out_rows = 0, out_cols = 0;
    uint8_t* out = bal_scale_up_blocks(field.data(), 3, 4, 5, &out_rows, &out_cols);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out_rows, 15u);
    EXPECT_EQ(out_cols, 20u);
    for (uint32_t i = 0; i < 15; ++i) {
        for (uint32_t j = 0; j < 20; ++j) {
            ASSERT_EQ(out[i * 20 + j], field[(i / 5) * 4 + j / 5]);
        }
    }
    std::free(out);
    out = bal_scale_up_blocks(field.data(), 3, 4, 2, nullptr, nullptr);
    ASSERT_NE(out, nullptr);
    std::free(out);
}

}  // namespace
