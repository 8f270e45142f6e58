#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "filters_test_support.h"
#include "fp_test_data.h"
#include "imaging/bal_binarize.h"
#include "imaging/bal_kernels3x3.h"
#include "imaging/bal_morphology.h"
#include "imaging/bal_normalize.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_segment.h"
#include "imaging/bal_statistics.h"
#include "math/zr_roots.h"
#include "orient_fixtures.h"

namespace {

using namespace orient_test;

std::vector<uint8_t> parse(const char* rows) {
    std::vector<uint8_t> m;
    for (const char* p = rows; *p; ++p)
        if (*p == '0' || *p == '1') m.push_back(static_cast<uint8_t>(*p - '0'));
    return m;
}

TEST(FindOptThreshold, IteratesTowardsTheLowerClass) {
    std::vector<uint8_t> fifty(12, 50);
    EXPECT_EQ(bal_find_opt_threshold(fifty.data(), 3, 4, 128), 50u);    // 65, 53, 50, 50
    EXPECT_EQ(bal_find_opt_threshold(fifty.data(), 3, 4, 0x180), 50u);  // only the low byte
    std::vector<uint8_t> two = {40, 40, 200, 200};
    EXPECT_EQ(bal_find_opt_threshold(two.data(), 2, 2, 128), 72u);  // (200 + 4 * 40) / 5
}

TEST(FilterSegmented, KeepsTheFirstOfEqualRegions) {
    auto m = parse(
        "0000000000"
        "0111001110"
        "0111001110"
        "0111001110"
        "0000000000");
    ASSERT_EQ(bal_filter_segmented(m.data(), 5, 10), BAL_OK);
    for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 5; x < 10; ++x) EXPECT_EQ(m[y * 10 + x], 0) << y << "," << x;
    EXPECT_EQ(m[2 * 10 + 2], 1);
}

TEST(FilterSegmented, FillsInletsFromOneSideButNotBandsAcrossTwo) {
    // An inlet from the left edge is filled; a background band from the top
    // edge to the right edge stays.
    auto m = parse(
        "1111111100"
        "1111111110"
        "0001111111"
        "1111111111"
        "1111111111"
        "1111111111");
    ASSERT_EQ(bal_filter_segmented(m.data(), 6, 10), BAL_OK);
    EXPECT_EQ(m[2 * 10 + 0], 1);
    EXPECT_EQ(m[2 * 10 + 1], 1);
    EXPECT_EQ(m[0 * 10 + 9], 0);
}

TEST(FilterSegmented, CornerNeedsItsWholeSquare) {
    auto full = std::vector<uint8_t>(36, 1);
    ASSERT_EQ(bal_filter_segmented(full.data(), 6, 6), BAL_OK);
    EXPECT_EQ(full[0], 1);
    auto m = full;
    m[1] = 0;  // the top-left corner loses a neighbour of its 2x2 square
    ASSERT_EQ(bal_filter_segmented(m.data(), 6, 6), BAL_OK);
    EXPECT_EQ(m[0], 0);
}

// A one-row or one-column grid: the opening and the majority vote would read
// outside it, so the clean-up refuses it and writes nothing.
TEST(FilterSegmented, RejectsThinGrids) {
    std::vector<uint8_t> m = {1, 1, 1, 1, 1};
    EXPECT_EQ(bal_filter_segmented(m.data(), 1, 5), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_filter_segmented(m.data(), 5, 1), BAL_BAD_ARGUMENT);
    EXPECT_EQ(m, std::vector<uint8_t>(5, 1));
}

// The clean-up written out step by step with plain floods (the fill of
// inlets and holes reads a copy), on random masks of 2 to 13 rows and columns.
void reference_filter(std::vector<uint8_t>& m, int rows, int cols) {
    bal_binarize_remove_holes(m.data(), rows, cols, m.data());
    auto at = [&](int y, int x) -> uint8_t& { return m[y * cols + x]; };
    auto inside = [&](int y, int x) { return y >= 0 && x >= 0 && y < rows && x < cols; };
    auto prune = [&](int y, int x) {
        int sum = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if ((dy || dx) && inside(y + dy, x + dx)) sum += at(y + dy, x + dx);
        if (at(y, x) == 1 && sum < 3) at(y, x) = 0;
    };
    const int ly = rows - 1, lx = cols - 1;
    prune(0, 0);
    prune(0, lx);
    prune(ly, 0);
    prune(ly, lx);
    for (int x = 1; cols >= 3 && x <= cols - 2; ++x) {
        prune(0, x);
        prune(ly, x);
    }
    for (int y = 1; rows >= 3 && y <= rows - 2; ++y) {
        prune(y, 0);
        prune(y, lx);
    }
    // Flood from a seed over cells with the given value; returns the cells.
    auto flood = [&](const std::vector<uint8_t>& img, std::vector<int>& seen, int seed,
                     uint8_t value, bool eight) {
        std::vector<int> cells;
        std::deque<int> queue{seed};
        seen[seed] = 1;
        while (!queue.empty()) {
            const int c = queue.front();
            queue.pop_front();
            cells.push_back(c);
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int y = c / cols + dy, x = c % cols + dx;
                    if ((!dy && !dx) || (!eight && dy && dx) || !inside(y, x)) continue;
                    if (seen[y * cols + x] || img[y * cols + x] != value) continue;
                    seen[y * cols + x] = 1;
                    queue.push_back(y * cols + x);
                }
        }
        return cells;
    };
    std::vector<int> seen(m.size(), 0), best;
    for (int i = 0; i < rows * cols; ++i)
        if (m[i] == 1 && !seen[i]) {
            auto region = flood(m, seen, i, 1, false);
            if (region.size() > best.size()) best = region;
        }
    std::fill(m.begin(), m.end(), 0);
    for (int c : best) m[c] = 1;
    const std::vector<uint8_t> copy = m;
    std::fill(seen.begin(), seen.end(), 0);
    for (int i = 0; i < rows * cols; ++i)
        if (copy[i] == 0 && !seen[i]) {
            const auto region = flood(copy, seen, i, 0, true);
            bool top = false, bottom = false, left = false, right = false;
            for (int c : region) {
                top |= c / cols == 0;
                bottom |= c / cols == ly;
                left |= c % cols == 0;
                right |= c % cols == lx;
            }
            if (top + bottom + left + right <= 1)
                for (int c : region) m[c] = 1;
        }
    ASSERT_EQ(bal_open(m.data(), rows, cols, m.data()), BAL_OK);
    ASSERT_EQ(bal_binarize_blur(m.data(), rows, cols, m.data()), BAL_OK);
}

TEST(FilterSegmented, MatchesAStepByStepReferenceOnRandomMasks) {
    std::mt19937 rng(8);
    for (int it = 0; it < 3000; ++it) {
        const int rows = 2 + rng() % 12, cols = 2 + rng() % 12, share = 30 + rng() % 60;
        std::vector<uint8_t> m(rows * cols);
        for (auto& v : m) v = static_cast<int>(rng() % 100) < share;
        std::vector<uint8_t> want = m;
        reference_filter(want, rows, cols);
        ASSERT_EQ(bal_filter_segmented(m.data(), rows, cols), BAL_OK);
        ASSERT_EQ(m, want) << rows << "x" << cols << " case " << it;
    }
}

uint32_t reference_threshold(const std::vector<uint8_t>& values, uint32_t start) {
    uint32_t hist[256] = {};
    for (uint8_t v : values) ++hist[v];
    int t = start & 0xFF;
    for (;;) {
        uint64_t lo_sum = 0, lo_n = 0, hi_sum = 0, hi_n = 0;
        for (int v = 0; v < 256; ++v) {
            (v < t ? lo_sum : hi_sum) += static_cast<uint64_t>(v) * hist[v];
            (v < t ? lo_n : hi_n) += hist[v];
        }
        const int lo = lo_n ? static_cast<int>(lo_sum / lo_n) : t;
        const int hi = hi_n ? static_cast<int>(hi_sum / hi_n) : t;
        const int next = (hi + 4 * lo) / 5;
        if (std::abs(next - t) < 3) return next;
        t = next;
    }
}

// Working image, block means and gradient energies over the block extents,
// the two thresholds and the classification written out step by step, then
// the library's clean-up: the masks must agree exactly, also for odd blocks
// whose extents spread the remainder of the half-size working image.
TEST(SegmentImage, ClassificationMatchesAStepByStepReference) {
    int compared = 0;
    for (const auto& full : reference_inputs(176, 96))
        for (uint32_t block : {12u, 8u, 9u, 7u, 6u})
            for (int scale : {1, 2}) {
                const uint32_t rows = 176 / block * block, cols = 96 / block * block;
                const uint32_t br = rows / block, bc = cols / block;
                std::vector<uint8_t> img(rows * cols);
                for (uint32_t y = 0; y < rows; ++y)
                    std::copy_n(full.begin() + y * 96, cols, img.begin() + y * cols);
                const uint32_t d = scale == 1 ? 2 : 1, sub = d == 2 ? block / 2 : block;
                const uint32_t wr = block * br / d, wc = block * bc / d;
                std::vector<uint8_t> work(wr * wc);
                if (d == 2)
                    bal_scale_bilinear(img.data(), rows, cols, work.data(), wr, wc);
                else
                    work = img;
                bal_normalize_image_simple(work.data(), wr, wc, 127, 80, work.data());
                std::vector<int8_t> gx(work.size()), gy(work.size());
                bal_sobel_2(work.data(), wr, wc, gx.data(), gy.data());
                const uint32_t extra_r = wr - br * sub, extra_c = wc - bc * sub;
                std::vector<uint8_t> means(br * bc), energy(br * bc);
                for (uint32_t i = 0; i < br; ++i)
                    for (uint32_t j = 0; j < bc; ++j) {
                        const uint32_t y0 = i * sub + (i + 1) * extra_r / br;
                        const uint32_t h = sub + (i + 2) * extra_r / br - (i + 1) * extra_r / br;
                        const uint32_t x0 = j * sub + (j + 1) * extra_c / bc;
                        const uint32_t w = sub + (j + 2) * extra_c / bc - (j + 1) * extra_c / bc;
                        uint32_t sum = 0, s = 0;
                        for (uint32_t y = y0; y < y0 + h; ++y)
                            for (uint32_t x = x0; x < x0 + w; ++x) {
                                const int a = gx[y * wc + x], b = gy[y * wc + x];
                                sum += work[y * wc + x];
                                s += zr_sqrt_16(static_cast<uint32_t>(a * a + b * b));
                            }
                        means[i * bc + j] = static_cast<uint8_t>(sum / (h * w));
                        energy[i * bc + j] = static_cast<uint8_t>(std::min(255u, 8 * s / (h * w)));
                    }
                if (sub % 2 == 0)  // even sub: plain sub x sub tiles
                    bal_mean_blockwise_uint8(work.data(), wr, wc, sub, br, bc, means.data());
                const uint32_t t_mean = reference_threshold(means, 128);
                const uint32_t t_energy = std::min(128u, reference_threshold(energy, 64));
                std::vector<uint8_t> want(br * bc);
                for (size_t k = 0; k < want.size(); ++k)
                    want[k] = means[k] < t_mean || energy[k] > t_energy;
                ASSERT_EQ(bal_filter_segmented(want.data(), br, bc), BAL_OK);
                std::vector<uint8_t> got(br * bc, 9);
                ASSERT_EQ(bal_segment_image_scale(img.data(), rows, cols, br, bc, block, got.data(),
                                                  scale),
                          BAL_OK);
                ASSERT_EQ(got, want) << "block " << block << " scale " << scale;
                ++compared;
            }
    EXPECT_GE(compared, 60);
}

struct SegmentCase {
    uint32_t rows, cols, block;
};

// Blocks covered at least 10 % by the ellipse.
std::vector<uint8_t> covered_blocks(const Ellipse& e, uint32_t br, uint32_t bc, uint32_t block) {
    std::vector<uint8_t> out(br * bc);
    for (uint32_t r = 0; r < br; ++r)
        for (uint32_t c = 0; c < bc; ++c) {
            int in = 0;
            for (uint32_t y = r * block; y < (r + 1) * block; ++y)
                for (uint32_t x = c * block; x < (c + 1) * block; ++x) in += e.contains(y, x);
            out[r * bc + c] = in * 10 >= static_cast<int>(block * block);
        }
    return out;
}

TEST(SegmentImage, FindsATexturedEllipseOnABrightNoisyBackground) {
    const SegmentCase cases[] = {{168, 96, 12}, {176, 96, 8}, {240, 192, 12}};
    for (const auto& sc : cases) {
        const uint32_t br = sc.rows / sc.block, bc = sc.cols / sc.block;
        const Ellipse shapes[] = {
            {sc.rows * 0.5, sc.cols * 0.5, sc.rows * 0.38, sc.cols * 0.34},
            {sc.rows * 0.6, sc.cols * 0.45, sc.rows * 0.3, sc.cols * 0.4},
        };
        for (const Ellipse& e : shapes) {
            const auto img = finger_on_background(sc.rows, sc.cols, e);
            std::vector<uint8_t> mask(br * bc, 9);
            ASSERT_EQ(
                bal_segment_image(img.data(), sc.rows, sc.cols, br, bc, sc.block, mask.data()), BAL_OK);
            const auto truth = covered_blocks(e, br, bc, sc.block);
            int inter = 0, uni = 0;
            for (size_t b = 0; b < mask.size(); ++b) {
                ASSERT_LE(mask[b], 1);
                inter += mask[b] && truth[b];
                uni += mask[b] || truth[b];
            }
            EXPECT_GE(static_cast<double>(inter) / uni, 0.85)
                << sc.rows << "x" << sc.cols << "/" << sc.block;
            const Topology t = mask_topology(mask, br, bc);
            EXPECT_EQ(t.regions, 1);
            EXPECT_FALSE(t.holes);
        }
    }
}

// Odd blocks at 500 dpi leave a remainder in the half-size working image,
// which the block extents spread over the grid.
TEST(SegmentImage, OddBlocksAtFullResolution) {
    for (const SegmentCase sc :
         {SegmentCase{140, 84, 7}, SegmentCase{150, 90, 5}, SegmentCase{171, 99, 9}}) {
        const uint32_t br = sc.rows / sc.block, bc = sc.cols / sc.block;
        const Ellipse e{sc.rows * 0.5, sc.cols * 0.5, sc.rows * 0.36, sc.cols * 0.34};
        const auto img = finger_on_background(sc.rows, sc.cols, e, 5);
        std::vector<uint8_t> mask(br * bc, 9);
        ASSERT_EQ(bal_segment_image(img.data(), sc.rows, sc.cols, br, bc, sc.block, mask.data()),
                  BAL_OK);
        const auto truth = covered_blocks(e, br, bc, sc.block);
        int inter = 0, uni = 0;
        for (size_t b = 0; b < mask.size(); ++b) {
            inter += mask[b] && truth[b];
            uni += mask[b] || truth[b];
        }
        EXPECT_GE(static_cast<double>(inter) / uni, 0.8) << "block " << sc.block;
        EXPECT_EQ(mask_topology(mask, br, bc).regions, 1) << "block " << sc.block;
    }
}

// Vertical stripes of equal mean: strong on the left nine block columns, weak
// on the right three. All block means are equal, so only the energies decide.
// Their threshold search settles at 155; used as 128, the blocks of column 10
// (energy 144) are foreground, those of column 11 (126) are not.
TEST(SegmentImage, EnergyThresholdAbove128IsUsedAs128) {
    constexpr uint32_t kN = 96, kBlocks = 12;
    std::vector<uint8_t> img(kN * kN);
    for (uint32_t y = 0; y < kN; ++y)
        for (uint32_t x = 0; x < kN; ++x)
            img[y * kN + x] =
                static_cast<uint8_t>(128 + ((x / 2) % 2 ? 1 : -1) * (x < 72 ? 100 : 20));
    std::vector<uint8_t> mask(kBlocks * kBlocks, 9);
    ASSERT_EQ(bal_segment_image_scale(img.data(), kN, kN, kBlocks, kBlocks, 8, mask.data(), 2), BAL_OK);
    for (uint32_t r = 1; r + 1 < kBlocks; ++r) {
        for (uint32_t c = 0; c <= 10; ++c) EXPECT_EQ(mask[r * kBlocks + c], 1) << r << "," << c;
        EXPECT_EQ(mask[r * kBlocks + 11], 0) << r;
    }
}

TEST(SegmentImage, UniformImageGivesAnEmptyMask) {
    for (uint8_t level : {uint8_t{30}, uint8_t{128}, uint8_t{230}}) {
        std::vector<uint8_t> img(168 * 96, level), mask(14 * 8, 9);
        ASSERT_EQ(bal_segment_image(img.data(), 168, 96, 14, 8, 12, mask.data()), BAL_OK);
        for (uint8_t v : mask) EXPECT_EQ(v, 0) << int(level);
    }
}

TEST(SegmentImage, HalfResolutionInputAnalysesTheSameWorkingImage) {
    const Ellipse e{84, 48, 60, 34};
    const auto img = finger_on_background(168, 96, e, 11);
    std::vector<uint8_t> half(84 * 48);
    bal_scale_bilinear(img.data(), 168, 96, half.data(), 84, 48);
    std::vector<uint8_t> full_mask(14 * 8), half_mask(14 * 8);
    ASSERT_EQ(bal_segment_image_scale(img.data(), 168, 96, 14, 8, 12, full_mask.data(), 1), BAL_OK);
    ASSERT_EQ(bal_segment_image_scale(half.data(), 84, 48, 14, 8, 6, half_mask.data(), 2), BAL_OK);
    EXPECT_EQ(full_mask, half_mask);
}

TEST(SegmentImage, WorkingImageThatCannotBeAllocatedReturnsNoMemory) {
    FP_REQUIRE_PLAIN_MALLOC();
    uint8_t px = 0;
    std::vector<uint8_t> mask(4, 9);
    EXPECT_EQ(bal_segment_image_scale(&px, 1u << 30, 1u << 30, 2, 2, 1u << 29, mask.data(), 2), BAL_NO_MEMORY);
    EXPECT_EQ(mask, std::vector<uint8_t>(4, 9));
}

TEST(SegmentImage, RejectsSizesThatAreNotTheBlockGeometry) {
    std::vector<uint8_t> img(176 * 96, 100), mask(22 * 12, 9);
    const std::vector<uint8_t> untouched = mask;
    EXPECT_EQ(bal_segment_image(img.data(), 176, 96, 14, 8, 12, mask.data()), BAL_BAD_ARGUMENT);
    // A single block row or column.
    EXPECT_EQ(bal_segment_image(img.data(), 12, 96, 1, 8, 12, mask.data()), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_segment_image_scale(img.data(), 96, 12, 8, 1, 12, mask.data(), 2), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_segment_image(img.data(), 0, 0, 0, 0, 12, mask.data()), BAL_BAD_ARGUMENT);
    EXPECT_EQ(mask, untouched);
}

// Every real capture yields a non-empty mask of one region, at the block
// size of extraction (12, on the top 168 rows) and of the quality measure (8).
TEST(SegmentImage, OneRegionOnEveryRealCapture) {
    FP_REQUIRE_CAPTURES();
    const auto paths = fp_test::capture_paths();
    ASSERT_FALSE(paths.empty());
    for (const auto& path : paths) {
        const fp_test::GreyImage g = fp_test::read_pgm(path);
        ASSERT_EQ(g.rows * g.cols, 176u * 96u) << path;
        for (const SegmentCase sc : {SegmentCase{168, 96, 12}, SegmentCase{176, 96, 8}}) {
            const uint32_t br = sc.rows / sc.block, bc = sc.cols / sc.block;
            std::vector<uint8_t> mask(br * bc);
            ASSERT_EQ(
                bal_segment_image(g.pixels.data(), sc.rows, sc.cols, br, bc, sc.block, mask.data()),
                BAL_OK);
            const Topology t = mask_topology(mask, br, bc);
            EXPECT_EQ(t.regions, 1) << path << " block " << sc.block;
            EXPECT_FALSE(t.holes) << path;
        }
    }
}

TEST(SegmentationCenter, MeanBlockCentreOrImageCentre) {
    std::vector<uint8_t> m(4 * 5, 0);
    uint32_t row = 0, col = 0;
    bal_segmentation_center(m.data(), 4, 5, 12, 50, 61, &row, &col);
    EXPECT_EQ(row, 25u);
    EXPECT_EQ(col, 30u);
    m[1 * 5 + 1] = 1;
    m[2 * 5 + 4] = 3;
    bal_segmentation_center(m.data(), 4, 5, 12, 50, 61, &row, &col);
    EXPECT_EQ(row, 3 * 12 / 2 + 6u);
    EXPECT_EQ(col, 5 * 12 / 2 + 6u);
}

TEST(SegmentationEdge, FlagsAndTestsTheRim) {
    auto m = parse(
        "01100"
        "11110"
        "11111"
        "01110");
    bal_segmentation_flag_edge(m.data(), 4, 5);
    const std::vector<uint8_t> expected = {0, 3, 3, 0, 0,  //
                                           3, 1, 1, 3, 0,  //
                                           3, 1, 1, 1, 3,  //
                                           0, 3, 3, 3, 0};
    EXPECT_EQ(m, expected);
    EXPECT_EQ(bal_segmentation_at_edge(m.data(), 4, 5, 1, 1, 2), 0u);  // inner block
    EXPECT_EQ(bal_segmentation_at_edge(m.data(), 4, 5, 1, 3, 2), 1u);  // next to a zero
    EXPECT_EQ(bal_segmentation_at_edge(m.data(), 4, 5, 1, 3, 4), 0u);  // non-zero, outer asked
    EXPECT_EQ(bal_segmentation_at_edge(m.data(), 4, 5, 1, 4, 4), 1u);  // zero next to non-zero
    EXPECT_EQ(bal_segmentation_at_edge(m.data(), 4, 5, 1, 4, 2), 0u);
    EXPECT_EQ(bal_segmentation_at_edge(m.data(), 4, 5, 0, 0, 6), 1u);
    EXPECT_EQ(bal_segmentation_at_edge(m.data(), 4, 5, 9, 0, 6), 0u);  // outside the grid

    std::vector<uint8_t> row = {1, 1, 0, 1};
    bal_segmentation_flag_edge(row.data(), 1, 4);
    EXPECT_EQ(row, (std::vector<uint8_t>{3, 3, 0, 3}));
}

TEST(SegmentApply, CopiesForegroundAndWhitensBackground) {
    constexpr uint32_t kRows = 8, kCols = 7;  // one column beyond a 2 x 2 grid of 3
    std::vector<uint8_t> src(kRows * kCols), dst(kRows * kCols, 9);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i);
    const std::vector<uint8_t> mask = {1, 0, 0, 2};
    bal_segment_apply(mask.data(), 2, 2, 3, src.data(), kRows, kCols, dst.data());
    for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = 0; x < kCols; ++x) {
            const size_t i = y * kCols + x;
            const uint8_t expected = (y >= 6 || x >= 6)          ? 9
                                     : mask[(y / 3) * 2 + x / 3] ? src[i]
                                                                 : 255;
            EXPECT_EQ(dst[i], expected) << y << "," << x;
        }
}

}  // namespace
