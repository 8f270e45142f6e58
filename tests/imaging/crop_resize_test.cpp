// Crop, expand, pad and resize: window offsets against a per-pixel
// reference, the ring extension and the background extension on small cases
// worked by hand, block-size planning, resampling to 500 dpi on a ramp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "imaging/bal_crop_resize.h"

namespace {

std::vector<uint8_t> random_image(uint32_t rows, uint32_t cols, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> image(static_cast<size_t>(rows) * cols);
    for (uint8_t& v : image) {
        v = static_cast<uint8_t>(rng());
    }
    return image;
}

constexpr uint8_t kUntouched = 0xA5;

TEST(CropImage, CopiesTheOverlapOfSourceAndWindow) {
    const uint32_t rows = 7, cols = 9;
    const auto src = random_image(rows, cols, 1);
    const struct {
        uint32_t dst_rows, dst_cols;
        int32_t row_offset, col_offset;
    } windows[] = {{3, 4, 2, 3},   {7, 9, 0, 0},    {12, 15, -2, -3}, {5, 5, -2, 6},
                   {4, 4, 5, -1},  {3, 3, 8, 0},    {3, 3, -3, 0},    {3, 3, 0, 9},
                   {3, 3, 0, -3},  {3, 3, -40, -40}, {10, 2, -1, 8}};
    for (const auto& w : windows) {
        std::vector<uint8_t> dst(static_cast<size_t>(w.dst_rows) * w.dst_cols, kUntouched);
        bal_crop_image(src.data(), rows, cols, w.dst_rows, w.dst_cols, w.row_offset, w.col_offset,
                       dst.data());
        for (int32_t r = 0; r < static_cast<int32_t>(w.dst_rows); ++r) {
            for (int32_t c = 0; c < static_cast<int32_t>(w.dst_cols); ++c) {
                const int32_t sr = r + w.row_offset, sc = c + w.col_offset;
                const bool inside = sr >= 0 && sc >= 0 && sr < static_cast<int32_t>(rows) &&
                                    sc < static_cast<int32_t>(cols);
                ASSERT_EQ(dst[r * w.dst_cols + c], inside ? src[sr * cols + sc] : kUntouched)
                    << w.dst_rows << "x" << w.dst_cols << " at " << w.row_offset << ","
                    << w.col_offset << ": " << r << "," << c;
            }
        }
    }
}

TEST(CropImage, CentreSendsAnOddExcessToTheBottomAndRight) {
    std::vector<uint8_t> src(25);
    for (int k = 0; k < 25; ++k) {
        src[k] = static_cast<uint8_t>(k);
    }
    std::vector<uint8_t> small(4);
    bal_crop_image_center(src.data(), 5, 5, 2, 2, small.data());
    EXPECT_EQ(small, (std::vector<uint8_t>{6, 7, 11, 12}));  // rows and columns 1 and 2

    // 2 x 2 into 5 x 5: the source lands on rows and columns 1 and 2.
    const std::vector<uint8_t> tiny = {1, 2, 3, 4};
    std::vector<uint8_t> big(25, 0);
    bal_crop_image_center(tiny.data(), 2, 2, 5, 5, big.data());
    EXPECT_EQ(big[6], 1);
    EXPECT_EQ(big[7], 2);
    EXPECT_EQ(big[11], 3);
    EXPECT_EQ(big[12], 4);
}

TEST(CropBlockSize, CutsToWholeBlocks) {
    const auto src = random_image(26, 27, 2);
    uint8_t* out = nullptr;
    uint32_t rows = 0, cols = 0, ro = 9, co = 9;
    ASSERT_EQ(bal_crop_block_size(src.data(), 26, 27, 12, &out, &rows, &cols, &ro, &co), BAL_OK);
    EXPECT_EQ(rows, 24u);
    EXPECT_EQ(cols, 24u);
    EXPECT_EQ(ro, 1u);
    EXPECT_EQ(co, 1u);
    for (uint32_t r = 0; r < 24; ++r) {
        for (uint32_t c = 0; c < 24; ++c) {
            ASSERT_EQ(out[r * 24 + c], src[(r + 1) * 27 + c + 1]);
        }
    }
    std::free(out);

    const auto exact = random_image(24, 36, 3);
    ASSERT_EQ(bal_crop_block_size(exact.data(), 24, 36, 12, &out, &rows, &cols, &ro, &co), BAL_OK);
    EXPECT_EQ(std::vector<uint8_t>(out, out + exact.size()), exact);
    EXPECT_EQ(ro, 0u);
    std::free(out);

    out = nullptr;
    EXPECT_EQ(bal_crop_block_size(src.data(), 11, 27, 12, &out, &rows, &cols, &ro, &co), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_crop_block_size(src.data(), 26, 27, 0, &out, &rows, &cols, &ro, &co), BAL_BAD_ARGUMENT);
    EXPECT_EQ(out, nullptr);
}

TEST(IncreaseImageSize, FillsAndPlacesOrRefusesWhatDoesNotFit) {
    const std::vector<uint8_t> src = {1, 2, 3, 4, 5, 6};  // 2 x 3
    std::vector<uint8_t> dst(4 * 5, 0);
    ASSERT_EQ(bal_increase_image_size(src.data(), 2, 3, dst.data(), 4, 5, 2, 2, 9), BAL_OK);
    EXPECT_EQ(dst, (std::vector<uint8_t>{9, 9, 9, 9, 9, 9, 9, 9, 9, 9,  //
                                         9, 9, 1, 2, 3, 9, 9, 4, 5, 6}));
    EXPECT_EQ(bal_increase_image_size(src.data(), 2, 3, dst.data(), 4, 5, 3, 0, 9), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_increase_image_size(src.data(), 2, 3, dst.data(), 4, 5, 0, 3, 9), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_increase_image_size(src.data(), 2, 3, dst.data(), 4, 5, 0xFFFFFFFFu, 0, 9), BAL_BAD_ARGUMENT);
}

TEST(ExpandImage, RingsOfTwoAndThreePixelMeans) {
    // 2 x 2 into 4 x 4 at (1, 1): one ring; its corners copy the corners.
    const std::vector<uint8_t> square = {10, 20, 30, 40};
    std::vector<uint8_t> dst(16, kUntouched);
    bal_expand_image(square.data(), 2, 2, 4, 4, 1, 1, dst.data());
    EXPECT_EQ(dst, (std::vector<uint8_t>{10, 15, 15, 20,  //
                                         20, 10, 20, 30,  //
                                         20, 30, 40, 30,  //
                                         30, 35, 35, 40}));
    // 3 x 2 into 3 x 4 at (0, 1): three-pixel means inside a column.
    const std::vector<uint8_t> column = {0, 30, 60, 90, 120, 150};
    std::vector<uint8_t> wide(12, kUntouched);
    bal_expand_image(column.data(), 3, 2, 3, 4, 0, 1, wide.data());
    EXPECT_EQ(wide, (std::vector<uint8_t>{30, 0, 30, 60,  //
                                          60, 60, 90, 90,  //
                                          90, 120, 150, 120}));
    // Two rings: the second is built from the first.
    std::vector<uint8_t> twice(36, kUntouched);
    bal_expand_image(square.data(), 2, 2, 6, 6, 2, 2, twice.data());
    EXPECT_EQ(std::vector<uint8_t>(twice.begin(), twice.begin() + 12),
              (std::vector<uint8_t>{10, 12, 13, 16, 17, 20,  //
                                    15, 10, 15, 15, 20, 25}));
}

TEST(ExpandImage, ConstantImagesStayConstant) {
    const std::vector<uint8_t> flat(40 * 36, 77);
    std::vector<uint8_t> dst(52 * 47, kUntouched);
    bal_expand_image(flat.data(), 40, 36, 52, 47, 5, 3, dst.data());
    EXPECT_EQ(dst, std::vector<uint8_t>(dst.size(), 77));
    std::fill(dst.begin(), dst.end(), kUntouched);
    bal_expand_image_w_background(flat.data(), 40, 36, 52, 47, 5, 3, dst.data());
    EXPECT_EQ(dst, std::vector<uint8_t>(dst.size(), 77));
}

TEST(ExpandImage, SourceThatDoesNotFitTheFrameWritesNothing) {
    const std::vector<uint8_t> src(6 * 6, 1);
    std::vector<uint8_t> dst(8 * 8, kUntouched);
    bal_expand_image(src.data(), 6, 6, 8, 8, 3, 0, dst.data());
    bal_expand_image_w_background(src.data(), 6, 6, 8, 8, 0, 3, dst.data());
    EXPECT_EQ(dst, std::vector<uint8_t>(dst.size(), kUntouched));
}

TEST(ExpandImageBackground, BorderHoldsTheGroupMaximaOfTheEdgeBands) {
    // A 24 x 24 source at (8, 8) of a 40 x 40 frame. Far enough from the
    // source and from the group boundaries, the two blur passes leave the
    // border's plateaus untouched.
    const uint32_t n = 24;
    const auto src = random_image(n, n, 4);
    std::vector<uint8_t> dst(40 * 40, kUntouched);
    bal_expand_image_w_background(src.data(), n, n, 40, 40, 8, 8, dst.data());
    auto band_max = [&](uint32_t r0, uint32_t r1, uint32_t c0, uint32_t c1) {
        uint8_t m = 0;
        for (uint32_t r = r0; r < r1; ++r) {
            for (uint32_t c = c0; c < c1; ++c) {
                m = std::max(m, src[r * n + c]);
            }
        }
        return m;
    };
    for (uint32_t g = 0; g < 3; ++g) {
        const uint8_t top = band_max(0, 8, 8 * g, 8 * g + 8);
        const uint8_t bottom = band_max(16, 24, 8 * g, 8 * g + 8);
        // The first 8 columns count only for the left band.
        const uint8_t left = band_max(8 * g, 8 * g + 8, 0, 8);
        const uint8_t right = band_max(8 * g, 8 * g + 8, 16, 24);
        for (uint32_t k = 2; k < 6; ++k) {
            const uint32_t along = 8 + 8 * g + k;
            for (uint32_t depth = 0; depth < 6; ++depth) {
                ASSERT_EQ(dst[depth * 40 + along], top) << g;
                ASSERT_EQ(dst[(39 - depth) * 40 + along], bottom) << g;
                ASSERT_EQ(dst[along * 40 + depth], left) << g;
                ASSERT_EQ(dst[along * 40 + 39 - depth], right) << g;
            }
        }
    }
    const uint8_t top0 = band_max(0, 8, 0, 8), left0 = band_max(0, 8, 0, 8);
    EXPECT_EQ(dst[0], (top0 + left0) >> 1);
    const uint8_t bottom_last = band_max(16, 24, 16, 24), right_last = band_max(16, 24, 16, 24);
    EXPECT_EQ(dst[40 * 40 - 1], (bottom_last + right_last) >> 1);
    // The source is restored except for its two-pixel rim.
    for (uint32_t r = 2; r < n - 2; ++r) {
        for (uint32_t c = 2; c < n - 2; ++c) {
            ASSERT_EQ(dst[(r + 8) * 40 + c + 8], src[r * n + c]);
        }
    }
}

struct block_result {
    uint8_t* image = nullptr;
    uint32_t rows = 0, cols = 0;
    int32_t row_offset = 99, col_offset = 99;
    ~block_result() { std::free(image); }
};

TEST(ExpandBlockSize, GrowsToWholeBlocksWithNegativeOffsets) {
    const auto src = random_image(40, 36, 5);
    for (uint32_t mode : {0u, 1u}) {
        block_result out;
        ASSERT_EQ(bal_expand_block_size(src.data(), 40, 36, 12, mode, &out.image, &out.rows,
                                        &out.cols, &out.row_offset, &out.col_offset),
                  BAL_OK);
        EXPECT_EQ(out.rows, 48u);
        EXPECT_EQ(out.cols, 36u);
        EXPECT_EQ(out.row_offset, -4);
        EXPECT_EQ(out.col_offset, 0);
        // Mode 0 keeps the whole source at rows 4 .. 43, mode 1 its inner part.
        const uint32_t rim = mode == 0 ? 0 : 2;
        for (uint32_t r = rim; r < 40 - rim; ++r) {
            for (uint32_t c = rim; c < 36 - rim; ++c) {
                ASSERT_EQ(out.image[(r + 4) * 36 + c], src[r * 36 + c]) << mode;
            }
        }
    }
    // An odd extension puts the odd pixel at the bottom: 37 rows grow by 11.
    block_result odd;
    ASSERT_EQ(bal_expand_block_size(src.data(), 37, 36, 12, 0, &odd.image, &odd.rows, &odd.cols,
                                    &odd.row_offset, &odd.col_offset),
              BAL_OK);
    EXPECT_EQ(odd.rows, 48u);
    EXPECT_EQ(odd.row_offset, -5);
    EXPECT_EQ(odd.image[5 * 36], src[0]);
}

TEST(ExpandBlockSize, RefusesSmallImagesAndUnknownModes) {
    const auto src = random_image(40, 36, 6);
    block_result out;
    EXPECT_EQ(bal_expand_block_size(src.data(), 40, 35, 12, 0, &out.image, &out.rows, &out.cols,
                                    &out.row_offset, &out.col_offset),
              BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_expand_block_size(src.data(), 40, 36, 0, 0, &out.image, &out.rows, &out.cols,
                                    &out.row_offset, &out.col_offset),
              BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_expand_block_size(src.data(), 40, 36, 12, 2, &out.image, &out.rows, &out.cols,
                                    &out.row_offset, &out.col_offset),
              BAL_BAD_ARGUMENT);
    EXPECT_EQ(out.image, nullptr);
    EXPECT_EQ(out.rows, 0u);
}

TEST(ResizeBlockSize, CropsSmallRemaindersAndExpandsLargeOnes) {
    const struct {
        uint32_t rows, cols;
        uint32_t out_rows, out_cols;
        int32_t row_offset, col_offset;
    } cases[] = {
        {39, 40, 36, 48, 1, -4},   // remainder 3 crops, remainder 4 expands by 8
        {40, 39, 48, 36, -4, 1},
        {38, 38, 36, 36, 1, 1},    // both cropped
        {40, 45, 48, 48, -4, -1},  // both expanded
        {36, 47, 36, 48, 0, 0},    // unchanged and expanded by 1 (offset -0)
        {36, 48, 36, 48, 0, 0},    // whole blocks: a copy
    };
    for (uint32_t mode : {0u, 1u}) {
        for (const auto& c : cases) {
            const auto src = random_image(c.rows, c.cols, c.rows * 100 + c.cols);
            block_result out;
            ASSERT_EQ(bal_resize_block_size(src.data(), c.rows, c.cols, 12, mode, &out.image,
                                            &out.rows, &out.cols, &out.row_offset,
                                            &out.col_offset),
                      BAL_OK);
            EXPECT_EQ(out.rows, c.out_rows);
            EXPECT_EQ(out.cols, c.out_cols);
            EXPECT_EQ(out.row_offset, c.row_offset);
            EXPECT_EQ(out.col_offset, c.col_offset);
            // Result pixel (r, c) shows source pixel (r + offset, c + offset)
            // wherever that lies in the expansion's input (the source, cut
            // down in a cropped dimension); mode 1 keeps only the input's
            // inner part when it expands.
            const bool expands = c.out_rows > c.rows || c.out_cols > c.cols;
            const int32_t rim = mode == 1 && expands ? 2 : 0;
            const bool crop_rows = c.out_rows < c.rows, crop_cols = c.out_cols < c.cols;
            const int32_t lo_r = (crop_rows ? c.row_offset : 0) + rim;
            const int32_t hi_r = (crop_rows ? c.row_offset + c.out_rows : c.rows) - rim;
            const int32_t lo_c = (crop_cols ? c.col_offset : 0) + rim;
            const int32_t hi_c = (crop_cols ? c.col_offset + c.out_cols : c.cols) - rim;
            for (int32_t r = 0; r < static_cast<int32_t>(out.rows); ++r) {
                for (int32_t k = 0; k < static_cast<int32_t>(out.cols); ++k) {
                    const int32_t sr = r + c.row_offset, sc = k + c.col_offset;
                    if (sr < lo_r || sc < lo_c || sr >= hi_r || sc >= hi_c) {
                        continue;
                    }
                    ASSERT_EQ(out.image[r * out.cols + k], src[sr * c.cols + sc])
                        << c.rows << "x" << c.cols << " mode " << mode << " at " << r << "," << k;
                }
            }
        }
    }
}

TEST(ResizeBlockSize, UnknownModeIsRefusedWithTheResultCleared) {
    const auto src = random_image(39, 40, 7);
    block_result out;
    out.image = static_cast<uint8_t*>(std::malloc(1));
    uint8_t* previous = out.image;
    EXPECT_EQ(bal_resize_block_size(src.data(), 39, 40, 12, 5, &out.image, &out.rows, &out.cols,
                                    &out.row_offset, &out.col_offset),
              BAL_BAD_ARGUMENT);
    EXPECT_EQ(out.image, nullptr);
    std::free(previous);
    EXPECT_EQ(bal_resize_block_size(src.data(), 35, 40, 12, 0, &out.image, &out.rows, &out.cols,
                                    &out.row_offset, &out.col_offset),
              BAL_BAD_ARGUMENT);
}

TEST(ResizeTo500, SameResolutionDropsTheLastRowAndColumn) {
    const auto src = random_image(30, 20, 8);
    uint8_t* out = nullptr;
    uint32_t rows = 0, cols = 0;
    ASSERT_EQ(bal_resize_to_500(src.data(), 30, 20, 500, &out, &rows, &cols), BAL_OK);
    ASSERT_EQ(rows, 29u);
    ASSERT_EQ(cols, 19u);
    for (uint32_t r = 0; r < 29; ++r) {
        for (uint32_t c = 0; c < 19; ++c) {
            ASSERT_EQ(out[r * 19 + c], src[r * 20 + c]);
        }
    }
    std::free(out);
}

TEST(ResizeTo500, InterpolatesARampExactly) {
    // f(x, y) = 2x + 4y: bilinear sampling at any position is exact, and at
    // 250 dpi the samples fall on half pixels, giving x + 2y at output (j, i)
    // seen from source (j / 2, i / 2).
    const uint32_t rows = 20, cols = 30;
    std::vector<uint8_t> ramp(rows * cols);
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t x = 0; x < cols; ++x) {
            ramp[y * cols + x] = static_cast<uint8_t>(2 * x + 4 * y);
        }
    }
    uint8_t* out = nullptr;
    uint32_t out_rows = 0, out_cols = 0;
    ASSERT_EQ(bal_resize_to_500(ramp.data(), rows, cols, 250, &out, &out_rows, &out_cols), BAL_OK);
    EXPECT_EQ(out_rows, 2 * rows - 2);
    EXPECT_EQ(out_cols, 2 * cols - 2);
    for (uint32_t i = 0; i < out_rows; ++i) {
        for (uint32_t j = 0; j < out_cols; ++j) {
            ASSERT_EQ(out[i * out_cols + j], j + 2 * i);
        }
    }
    std::free(out);
    // 1000 dpi takes every other pixel; the last sample stays below the
    // last row and column.
    ASSERT_EQ(bal_resize_to_500(ramp.data(), rows, cols, 1000, &out, &out_rows, &out_cols), BAL_OK);
    EXPECT_EQ(out_rows, 10u);
    EXPECT_EQ(out_cols, 15u);
    EXPECT_EQ(out[9 * 15 + 14], ramp[18 * cols + 28]);
    std::free(out);
}

TEST(ResizeTo500, ConstantImagesStayConstant) {
    const std::vector<uint8_t> flat(31 * 17, 99);
    for (uint32_t dpi : {250u, 333u, 508u, 1000u, 569u}) {
        uint8_t* out = nullptr;
        uint32_t rows = 0, cols = 0;
        ASSERT_EQ(bal_resize_to_500(flat.data(), 31, 17, dpi, &out, &rows, &cols), BAL_OK);
        EXPECT_EQ(std::vector<uint8_t>(out, out + rows * cols),
                  std::vector<uint8_t>(rows * cols, 99))
            << dpi;
        std::free(out);
    }
}

TEST(ResizeTo500, ResolutionsWithoutAStepAreRefused) {
    const auto src = random_image(10, 10, 9);
    for (uint32_t dpi : {0u, 1u << 23, 0xFFFFFFFFu}) {
        uint8_t* out = nullptr;
        uint32_t rows = 0, cols = 0;
        EXPECT_EQ(bal_resize_to_500(src.data(), 10, 10, dpi, &out, &rows, &cols), BAL_BAD_ARGUMENT) << dpi;
        EXPECT_EQ(out, nullptr);
    }
}

TEST(ReplaceEdge, RebuildsTheRingsFromTheInside) {
    std::vector<uint8_t> img = {0, 0,  0,  0,   //
                                0, 10, 20, 0,   //
                                0, 30, 50, 0,   //
                                0, 0,  0,  0};
    std::vector<uint8_t> out(16, kUntouched);
    bal_replace_edge_uint8(img.data(), 4, 4, 1, out.data());
    EXPECT_EQ(out, (std::vector<uint8_t>{10, 15, 15, 20,  //
                                         20, 10, 20, 35,  //
                                         20, 30, 50, 35,  //
                                         30, 40, 40, 50}));
    // In place gives the same; a constant core spreads over two rings.
    bal_replace_edge_uint8(img.data(), 4, 4, 1, img.data());
    EXPECT_EQ(img, out);
    std::vector<uint8_t> core(9 * 10, 0);
    for (int r = 2; r < 7; ++r) {
        for (int c = 2; c < 8; ++c) {
            core[r * 10 + c] = 123;
        }
    }
    bal_replace_edge_uint8(core.data(), 9, 10, 2, core.data());
    EXPECT_EQ(core, std::vector<uint8_t>(90, 123));
}

TEST(ReplaceEdge, WidthZeroOrTooWideChangesNothing) {
    const auto src = random_image(8, 10, 10);
    for (uint32_t width : {0u, 4u, 5u}) {
        auto img = src;
        bal_replace_edge_uint8(img.data(), 8, 10, width, img.data());
        EXPECT_EQ(img, src) << width;
    }
    std::vector<uint8_t> out(80, kUntouched);
    bal_replace_edge_uint8(const_cast<uint8_t*>(src.data()), 8, 10, 0, out.data());
    EXPECT_EQ(out, src);  // width 0 copies into a separate output
}

TEST(PadBytesAndRowPointers, SizesAndPointers) {
    EXPECT_EQ(bal_image_pad_bytes(100, 100, 12, 1), 108u * 108u - 10000u);
    EXPECT_EQ(bal_image_pad_bytes(100, 100, 12, 2), 0u);  // 104 / 12 * 12 = 96
    EXPECT_EQ(bal_image_pad_bytes(176, 96, 6, 2), 180u * 96u - 176u * 96u);
    EXPECT_EQ(bal_image_pad_bytes(176, 96, 12, 9), 0u);   // no margin, whole blocks
    EXPECT_EQ(bal_image_pad_bytes(176, 96, 12, 0), 0u);

    std::vector<uint8_t> pixels(3 * 7);
    uint8_t* rows[3] = {};
    bal_images_1D_to_2D(pixels.data(), 3, 7, rows);
    EXPECT_EQ(rows[0], pixels.data());
    EXPECT_EQ(rows[2], pixels.data() + 14);
}

}  // namespace
