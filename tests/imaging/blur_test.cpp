#include "imaging/bal_blur.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "filters_test_support.h"
#include "fp_test_data.h"

namespace {

using filters_test::for_clipped_window;
using filters_test::random_image;
using filters_test::test_sizes;

// Runs `filter(src, rows, cols, dst)` out of place and in place on random
// images of every test size and compares both with `reference`.
template <class T, class Filter, class Reference>
void expect_matches_reference(Filter filter, Reference reference, int64_t lo, int64_t hi, uint32_t seed = 1) {
    for (auto [rows, cols] : test_sizes()) {
        const auto src = random_image<T>(size_t(rows) * cols, seed++ * 7919u, lo, hi);
        const std::vector<T> expected = reference(src, rows, cols);
        std::vector<T> out(src.size(), T(0x5A));
        ASSERT_EQ(filter(src.data(), rows, cols, out.data()), BAL_OK);
        EXPECT_EQ(out, expected) << rows << " x " << cols << " out of place";
        std::vector<T> in_place = src;
        ASSERT_EQ(filter(in_place.data(), rows, cols, in_place.data()), BAL_OK);
        EXPECT_EQ(in_place, expected) << rows << " x " << cols << " in place";
    }
}

template <class T>
std::vector<T> box_reference(const std::vector<T>& src, uint32_t rows, uint32_t cols) {
    std::vector<T> out(src.size());
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            int64_t sum = 0, count = 0;
            for_clipped_window(rows, cols, y, x, [&](uint32_t yy, uint32_t xx) {
                sum += src[yy * cols + xx];
                ++count;
            });
            out[y * cols + x] = T(sum / count);  // truncation toward zero
        }
    return out;
}

// The cut 1-2-1 x 1-2-1 sum at (y, x) and the weight that remains.
template <class T>
std::pair<int64_t, int64_t> binomial_sum(const std::vector<T>& src, uint32_t rows, uint32_t cols, uint32_t y,
                                         uint32_t x) {
    int64_t sum = 0, weight = 0;
    for_clipped_window(rows, cols, y, x, [&](uint32_t yy, uint32_t xx) {
        const int64_t w = (yy == y ? 2 : 1) * (xx == x ? 2 : 1);
        sum += w * src[yy * cols + xx];
        weight += w;
    });
    return {sum, weight};
}

template <class T>
std::vector<T> binomial_reference(const std::vector<T>& src, uint32_t rows, uint32_t cols) {
    std::vector<T> out(src.size());
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            auto [sum, weight] = binomial_sum(src, rows, cols, y, x);
            out[y * cols + x] = T(sum / weight);
        }
    return out;
}

std::vector<int8_t> upsample_reference(const std::vector<int8_t>& src, uint32_t rows, uint32_t cols) {
    std::vector<int8_t> out(src.size());
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            // The divisor halves on a last row / column with an odd index.
            int64_t divisor = 4;
            const bool last_row = y == rows - 1, last_col = x == cols - 1;
            const bool halve_row = last_row && rows % 2 == 0, halve_col = last_col && cols % 2 == 0;
            if (halve_row) divisor /= 2;
            if (halve_col) divisor /= 2;
            out[y * cols + x] = int8_t(binomial_sum(src, rows, cols, y, x).first / divisor);
        }
    return out;
}

TEST(BoxBlur, MatchesClippedMeanForEveryType) {
    expect_matches_reference<uint8_t>(bal_blur_uint8, box_reference<uint8_t>, 0, 255);
    expect_matches_reference<int8_t>(bal_blur_int8, box_reference<int8_t>, -128, 127);
    expect_matches_reference<uint16_t>(bal_blur_uint16, box_reference<uint16_t>, 0, 65535);
    expect_matches_reference<int16_t>(bal_blur_int16, box_reference<int16_t>, -32768, 32767);
    expect_matches_reference<int32_t>(bal_blur_int32, box_reference<int32_t>, -(1 << 27), 1 << 27);
}

TEST(BoxBlur, WorkedValues) {
    std::vector<uint8_t> square = {10, 20, 30, 40};
    ASSERT_EQ(bal_blur_uint8(square.data(), 2, 2, square.data()), BAL_OK);
    EXPECT_EQ(square, std::vector<uint8_t>(4, 25));
    // A signed sum of -10 over nine pixels truncates to -1, not -2.
    std::vector<int8_t> img(9, 0);
    img[0] = -10;
    std::vector<int8_t> out(9);
    ASSERT_EQ(bal_blur_int8(img.data(), 3, 3, out.data()), BAL_OK);
    EXPECT_EQ(out[4], -1);
    EXPECT_EQ(out[0], -2);  // corner: -10 / 4
}

TEST(BoxBlur, ThinAndEmptyImagesUseTheClippedWindow) {
    for (auto [rows, cols] : std::vector<filters_test::Size>{{1, 7}, {6, 1}, {1, 1}}) {
        auto src = random_image<uint8_t>(rows * cols, rows + cols);
        std::vector<uint8_t> out(src.size());
        ASSERT_EQ(bal_blur_uint8(src.data(), rows, cols, out.data()), BAL_OK);
        EXPECT_EQ(out, box_reference(src, rows, cols));
    }
    EXPECT_EQ(bal_blur_uint8(nullptr, 0, 5, nullptr), BAL_OK);
}

TEST(WeightedBlur, MatchesCutBinomialKernelForEveryType) {
    expect_matches_reference<uint8_t>(bal_blur_weighted_uint8, binomial_reference<uint8_t>, 0, 255);
    expect_matches_reference<int8_t>(bal_blur_weighted_int8, binomial_reference<int8_t>, -128, 127);
    expect_matches_reference<uint16_t>(bal_blur_weighted_uint16, binomial_reference<uint16_t>, 0, 65535);
    expect_matches_reference<int16_t>(bal_blur_weighted_int16, binomial_reference<int16_t>, -32768, 32767);
    expect_matches_reference<int32_t>(bal_blur_weighted_int32, binomial_reference<int32_t>, -(1 << 26), 1 << 26);
    std::vector<uint8_t> square = {10, 20, 30, 40}, out(4);
    ASSERT_EQ(bal_blur_weighted_uint8(square.data(), 2, 2, out.data()), BAL_OK);
    EXPECT_EQ(out[0], (4 * 10 + 2 * 20 + 2 * 30 + 40) / 9);
}

TEST(WeightedBlurUpsample, MatchesPositionDivisors) {
    expect_matches_reference<int8_t>(bal_blur_weighted_int8_upsample, upsample_reference, -128, 127);
}

TEST(WeightedBlurUpsample, RebuildsHalfDensitySamples) {
    for (uint32_t rows : {4u, 5u, 6u, 7u})
        for (uint32_t cols : {4u, 5u, 8u, 9u}) {
            std::vector<int8_t> img(rows * cols, 0);
            for (uint32_t y = 0; y < rows; y += 2)
                for (uint32_t x = 0; x < cols; x += 2) img[y * cols + x] = 8;
            ASSERT_EQ(bal_blur_weighted_int8_upsample(img.data(), rows, cols, img.data()), BAL_OK);
            EXPECT_EQ(img, std::vector<int8_t>(rows * cols, 8)) << rows << " x " << cols;
        }
}

// Box blur on the first and last rows, clipped sum(w*p) / sum(w) elsewhere.
template <class T>
std::vector<T> with_weight_reference(const std::vector<T>& src, const std::vector<uint8_t>& weight, uint32_t rows,
                                     uint32_t cols) {
    std::vector<T> out = box_reference(src, rows, cols);
    for (uint32_t y = 1; y + 1 < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            int64_t sum = 0, total = 0;
            for_clipped_window(rows, cols, y, x, [&](uint32_t yy, uint32_t xx) {
                sum += int64_t(weight[yy * cols + xx]) * src[yy * cols + xx];
                total += weight[yy * cols + xx];
            });
            out[y * cols + x] = total == 0 ? T(0) : T(sum / total);
        }
    return out;
}

TEST(WithWeightBlur, MatchesWeightedMeanForEveryType) {
    // The 8-bit members keep their column sums in 16 bits: weights 0 and 1 stay inside.
    auto check = [](auto filter, auto tag, int64_t lo, int64_t hi, int64_t max_weight) {
        using T = decltype(tag);
        uint32_t seed = 3;
        for (auto [rows, cols] : test_sizes()) {
            const auto src = random_image<T>(rows * cols, seed++, lo, hi);
            const auto weight = random_image<uint8_t>(rows * cols, seed++, 0, max_weight);
            const auto expected = with_weight_reference(src, weight, rows, cols);
            std::vector<T> out(src.size());
            ASSERT_EQ(filter(src.data(), rows, cols, weight.data(), out.data()), BAL_OK);
            EXPECT_EQ(out, expected) << rows << " x " << cols;
            auto in_place = src;
            ASSERT_EQ(filter(in_place.data(), rows, cols, weight.data(), in_place.data()), BAL_OK);
            EXPECT_EQ(in_place, expected) << rows << " x " << cols << " in place";
        }
    };
    check(bal_blur_with_weight_uint8, uint8_t{}, 0, 255, 1);
    check(bal_blur_with_weight_int8, int8_t{}, -128, 127, 1);
    check(bal_blur_with_weight_uint16, uint16_t{}, 0, 65535, 255);
    check(bal_blur_with_weight_int16, int16_t{}, -32768, 32767, 255);
    // The outer rows are box-blurred with 32-bit sums: keep nine values in range there.
    check(bal_blur_with_weight_int32, int32_t{}, -(1 << 27), 1 << 27, 255);
    check(bal_blur_with_weight_uint32, uint32_t{}, 0, 1u << 28, 255);
}

TEST(WithWeightBlur, ZeroWeightsGiveZeroInsideAndBoxBlurOnOuterRows) {
    const uint32_t rows = 5, cols = 6;
    const auto src = random_image<uint8_t>(rows * cols, 5, 1, 255);
    const std::vector<uint8_t> weight(rows * cols, 0);
    std::vector<uint8_t> out(src.size());
    ASSERT_EQ(bal_blur_with_weight_uint8(src.data(), rows, cols, weight.data(), out.data()), BAL_OK);
    const auto box = box_reference(src, rows, cols);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x)
            EXPECT_EQ(out[y * cols + x], (y == 0 || y == rows - 1) ? box[y * cols + x] : 0);
}

template <class T>
std::vector<T> fingerprint_edge_reference(const std::vector<T>& src, const std::vector<uint8_t>& mask,
                                          uint32_t rows, uint32_t cols) {
    std::vector<T> out = src;
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            const bool inner = y > 0 && x > 0 && y + 1 < rows && x + 1 < cols;
            int64_t sum = 0, inside = 0;
            bool all_in_mask = true;
            for_clipped_window(rows, cols, y, x, [&](uint32_t yy, uint32_t xx) {
                if (mask[yy * cols + xx]) {
                    sum += src[yy * cols + xx];
                    ++inside;
                } else {
                    all_in_mask = false;
                }
            });
            if ((inner && all_in_mask) || inside == 0) continue;
            out[y * cols + x] = T(sum / inside);
        }
    return out;
}

TEST(FingerprintEdgeBlur, MatchesMaskedMeanForEveryType) {
    auto check = [](auto filter, auto tag, int64_t lo, int64_t hi) {
        using T = decltype(tag);
        uint32_t seed = 21;
        for (auto [rows, cols] : test_sizes()) {
            const auto src = random_image<T>(rows * cols, seed++, lo, hi);
            // A blob-shaped mask: mostly inside, with holes and a ragged border.
            auto mask = random_image<uint8_t>(rows * cols, seed++, 0, 3);
            for (auto& m : mask) m = m == 0 ? 0 : 255;
            const auto expected = fingerprint_edge_reference(src, mask, rows, cols);
            std::vector<T> out(src.size());
            ASSERT_EQ(filter(src.data(), mask.data(), rows, cols, out.data()), BAL_OK);
            EXPECT_EQ(out, expected) << rows << " x " << cols;
            auto in_place = src;
            ASSERT_EQ(filter(in_place.data(), mask.data(), rows, cols, in_place.data()), BAL_OK);
            EXPECT_EQ(in_place, expected) << rows << " x " << cols << " in place";
        }
    };
    check(bal_blur_fingerprint_edge_uint8, uint8_t{}, 0, 255);
    check(bal_blur_fingerprint_edge_int8, int8_t{}, -128, 127);
    check(bal_blur_fingerprint_edge_uint16, uint16_t{}, 0, 65535);
    check(bal_blur_fingerprint_edge_int16, int16_t{}, -32768, 32767);
}

TEST(FingerprintEdgeBlur, EmptyMaskKeepsImageAndSingleMaskPixelSpreads) {
    const uint32_t rows = 4, cols = 5;
    const auto src = random_image<uint8_t>(rows * cols, 9);
    std::vector<uint8_t> mask(rows * cols, 0), out(src.size());
    ASSERT_EQ(bal_blur_fingerprint_edge_uint8(src.data(), mask.data(), rows, cols, out.data()), BAL_OK);
    EXPECT_EQ(out, src);
    mask[1 * cols + 2] = 1;
    ASSERT_EQ(bal_blur_fingerprint_edge_uint8(src.data(), mask.data(), rows, cols, out.data()), BAL_OK);
    EXPECT_EQ(out[0 * cols + 1], src[1 * cols + 2]);
    EXPECT_EQ(out[2 * cols + 3], src[1 * cols + 2]);
    EXPECT_EQ(out[3 * cols + 0], src[3 * cols + 0]);
}

std::vector<uint8_t> frame_reference(const std::vector<uint8_t>& src, uint32_t rows, uint32_t cols, uint32_t margin,
                                     uint8_t fill) {
    std::vector<uint8_t> out = src;
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            const bool row_frame = int64_t(y) < margin || int64_t(y) >= int64_t(rows) - margin;
            const bool col_frame = int64_t(x) < margin || int64_t(x) >= int64_t(cols) - margin;
            if (!row_frame && !col_frame) continue;
            uint32_t sum = 0, present = 0;
            for_clipped_window(rows, cols, y, x, [&](uint32_t yy, uint32_t xx) {
                sum += src[yy * cols + xx];
                ++present;
            });
            out[y * cols + x] = uint8_t((sum + (9 - present) * fill) / 9);
        }
    return out;
}

TEST(FrameBlur, BlursOnlyTheFrameIncludingWideMargins) {
    uint32_t seed = 31;
    for (auto [rows, cols] : test_sizes())
        for (uint32_t margin : {1u, 2u, 3u, 5u, 48u, 200u}) {
            const auto src = random_image<uint8_t>(rows * cols, seed++);
            const uint8_t fill = uint8_t(seed * 37);
            const auto expected = frame_reference(src, rows, cols, margin, fill);
            std::vector<uint8_t> out = src;  // the interior is not written
            ASSERT_EQ(bal_blur_edge_uint8(src.data(), rows, cols, margin, fill, out.data()), BAL_OK);
            EXPECT_EQ(out, expected) << rows << " x " << cols << " margin " << margin;
            auto in_place = src;
            ASSERT_EQ(bal_blur_edge_uint8(in_place.data(), rows, cols, margin, fill, in_place.data()), BAL_OK);
            EXPECT_EQ(in_place, expected) << rows << " x " << cols << " margin " << margin << " in place";
        }
}

TEST(FrameBlur, ZeroMarginWritesNothingAndFillEqualToImageKeepsIt) {
    const std::vector<uint8_t> src(6 * 7, 77);
    std::vector<uint8_t> out(src.size(), 3);
    EXPECT_EQ(bal_blur_edge_uint8(src.data(), 6, 7, 0, 77, out.data()), BAL_OK);
    EXPECT_EQ(out, std::vector<uint8_t>(src.size(), 3));
    out = src;
    EXPECT_EQ(bal_blur_edge_uint8(src.data(), 6, 7, 2, 77, out.data()), BAL_OK);
    EXPECT_EQ(out, src);
}

std::vector<uint8_t> selective_reference(const std::vector<uint8_t>& src, uint32_t rows, uint32_t cols, int radius,
                                         int threshold) {
    std::vector<uint8_t> out(src.size());
    for (int y = 0; y < int(rows); ++y)
        for (int x = 0; x < int(cols); ++x) {
            const int centre = src[y * cols + x];
            uint32_t sum = 0, count = 0;
            for (int yy = y - radius; yy <= y + radius; ++yy)
                for (int xx = x - radius; xx <= x + radius; ++xx) {
                    const bool inside = yy >= 0 && xx >= 0 && yy < int(rows) && xx < int(cols);
                    const int v = inside ? src[yy * cols + xx] : 255;
                    if (std::abs(v - centre) <= threshold) {
                        sum += v;
                        ++count;
                    }
                }
            out[y * cols + x] = uint8_t(sum / count);
        }
    return out;
}

TEST(SelectiveBlur, MatchesSigmaFilterWithWhitePadding) {
    uint32_t seed = 41;
    for (auto [rows, cols] : test_sizes())
        for (uint8_t radius : {0, 1, 2, 4})
            for (uint8_t threshold : {0, 12, 60, 255}) {
                const auto src = random_image<uint8_t>(rows * cols, seed++);
                const auto expected = selective_reference(src, rows, cols, radius, threshold);
                std::vector<uint8_t> out(src.size());
                bal_blur_selective_uint8(src.data(), rows, cols, radius, threshold, out.data());
                EXPECT_EQ(out, expected) << rows << " x " << cols << " r " << int(radius);
                auto in_place = src;
                bal_blur_selective_uint8(in_place.data(), rows, cols, radius, threshold, in_place.data());
                EXPECT_EQ(in_place, expected);
                if (threshold == 0) {
                    EXPECT_EQ(out, src);
                }
            }
}

TEST(SelectiveBlur, BorderPixelAveragesInThePadding) {
    std::vector<uint8_t> img(3 * 3, 100), out(9);
    img[0] = 250;
    bal_blur_selective_uint8(img.data(), 3, 3, 1, 5, out.data());
    EXPECT_EQ(out[0], (250 + 5 * 255) / 6);
}

TEST(SelectiveBlur, PaddedSizesBeyond32BitsWriteNothing) {
    uint8_t dst[4] = {1, 2, 3, 4};
    // Neither call may touch src: the padded size is refused before any copy.
    bal_blur_selective_uint8(nullptr, UINT32_MAX - 1, 1, 1, 0, dst);
    bal_blur_selective_uint8(nullptr, 1, UINT32_MAX, 1, 0, dst);
    bal_blur_selective_uint8(nullptr, 70000, 70000, 0, 0, dst);  // area above 2^32
    EXPECT_EQ(dst[0], 1);
    EXPECT_EQ(dst[3], 4);
}

std::vector<uint8_t> vertical_reference(const std::vector<uint8_t>& src, uint32_t rows, uint32_t cols,
                                        uint32_t select) {
    std::vector<uint8_t> out = src;
    for (uint32_t y = 0; y < rows; ++y) {
        if (!((select >> (y % 2)) & 1)) continue;
        for (uint32_t x = 0; x < cols; ++x) {
            auto at = [&](uint32_t yy) { return uint32_t(src[yy * cols + x]); };
            uint32_t v;
            if (y == 0)
                v = (at(0) + at(1)) / 2;
            else if (y == rows - 1)
                v = (at(rows - 2) + at(rows - 1)) / 2;
            else
                v = (at(y - 1) + 2 * at(y) + at(y + 1)) / 4;
            out[y * cols + x] = uint8_t(v);
        }
    }
    return out;
}

TEST(VerticalBlur, BlursSelectedRowsOnly) {
    for (uint32_t select = 0; select < 4; ++select)
        expect_matches_reference<uint8_t>(
            [select](const uint8_t* s, uint32_t r, uint32_t c, uint8_t* d) {
                return bal_blur_vertically_uint8(s, r, c, select, d);
            },
            [select](const std::vector<uint8_t>& s, uint32_t r, uint32_t c) {
                return vertical_reference(s, r, c, select);
            },
            0, 255, 50 + select);
}

TEST(BlurFamily, UniformImageUnchanged) {
    const uint32_t rows = 6, cols = 5;
    const std::vector<uint8_t> img(rows * cols, 93), ones(rows * cols, 1);
    std::vector<uint8_t> out(img.size());
    ASSERT_EQ(bal_blur_uint8(img.data(), rows, cols, out.data()), BAL_OK);
    EXPECT_EQ(out, img);
    ASSERT_EQ(bal_blur_weighted_uint8(img.data(), rows, cols, out.data()), BAL_OK);
    EXPECT_EQ(out, img);
    ASSERT_EQ(bal_blur_with_weight_uint8(img.data(), rows, cols, ones.data(), out.data()), BAL_OK);
    EXPECT_EQ(out, img);
    ASSERT_EQ(bal_blur_fingerprint_edge_uint8(img.data(), ones.data(), rows, cols, out.data()), BAL_OK);
    EXPECT_EQ(out, img);
    bal_blur_selective_uint8(img.data(), rows, cols, 2, 10, out.data());
    EXPECT_EQ(out, img);
    ASSERT_EQ(bal_blur_vertically_uint8(img.data(), rows, cols, 3, out.data()), BAL_OK);
    EXPECT_EQ(out, img);
}

}  // namespace

namespace {

TEST(FingerprintEdgeBlur, ImpossibleCopyReturnsNoMemory) {
    uint8_t mask = 1;
    EXPECT_EQ(bal_blur_fingerprint_edge_uint16(nullptr, &mask, UINT32_MAX, UINT32_MAX, nullptr), BAL_NO_MEMORY);
    FP_REQUIRE_PLAIN_MALLOC();
    EXPECT_EQ(bal_blur_fingerprint_edge_uint8(nullptr, &mask, 1u << 31, 1u << 30, nullptr), BAL_NO_MEMORY);
}

}  // namespace

namespace {

TEST(BoxBlur, RealCapturesMatchReference) {
    FP_REQUIRE_CAPTURES();
    const auto paths = fp_test::capture_paths();
    for (size_t i = 0; i < paths.size() && i < 5; ++i) {
        const auto img = fp_test::read_pgm(paths[i]);
        ASSERT_FALSE(img.pixels.empty()) << paths[i];
        std::vector<uint8_t> out(img.pixels.size());
        ASSERT_EQ(bal_blur_uint8(img.pixels.data(), img.rows, img.cols, out.data()), BAL_OK);
        EXPECT_EQ(out, box_reference(img.pixels, img.rows, img.cols)) << paths[i];
        ASSERT_EQ(bal_blur_weighted_uint8(img.pixels.data(), img.rows, img.cols, out.data()), BAL_OK);
        EXPECT_EQ(out, binomial_reference(img.pixels, img.rows, img.cols)) << paths[i];
    }
}

}  // namespace
