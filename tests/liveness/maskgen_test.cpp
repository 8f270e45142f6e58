// Liveness mask generation: resolution handling, block segmentation on
// hand-made maps, and skeleton placement on gratings with known line centres.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "liveness/nex_filters.h"
#include "liveness/nex_maskgen.h"
#include "liveness_test_images.h"

namespace {

using liveness_test::grating;

struct Mask {
    int32_t rows, cols;
    std::vector<uint8_t> px;
    std::vector<uint8_t> maps[3];
};

Mask make_mask(std::vector<uint8_t> px, int32_t rows, int32_t cols, int32_t dpi = 500) {
    Mask m{rows, cols, std::move(px), {}};
    const int32_t br = (rows + 15) / 16, bc = (cols + 15) / 16;
    for (auto& map : m.maps) map.assign(size_t(br) * bc, 0xAB);
    maskgen(m.px.data(), rows, cols, m.maps[0].data(), m.maps[1].data(), m.maps[2].data(), br, bc, dpi);
    return m;
}

TEST(LivenessMaskgen, ScaleByResolution) {
    struct Case {
        int32_t dpi, k;
    };
    for (const Case& c : {Case{500, 1}, Case{600, 1}, Case{601, 2}, Case{1099, 2}, Case{1100, 3}, Case{1599, 3},
                          Case{1600, 4}, Case{65535, 131}, Case{INT32_MAX, 4294968}})
        EXPECT_EQ(c.k, nex_mask_scale(c.dpi)) << c.dpi;
}

TEST(LivenessMaskgen, DecimationAndExpansionPickTheNearestPixel) {
    constexpr int32_t kRows = 101, kCols = 99, k = 2, rs = 51, cs = 50;
    auto value = [](int32_t r, int32_t c) { return uint8_t((r * 37 + c * 11) % 253); };
    std::vector<uint8_t> px(size_t(kRows) * kCols);
    for (int32_t r = 0; r < kRows; ++r)
        for (int32_t c = 0; c < kCols; ++c) px[size_t(r) * kCols + c] = value(r, c);
    nex_mask_decimate(px.data(), kCols, k, rs, cs);
    for (int32_t r = 0; r < rs; ++r)
        for (int32_t c = 0; c < cs; ++c) ASSERT_EQ(value(k * r, k * c), px[size_t(r) * cs + c]) << r << "," << c;
    // A processed image of distinct-per-neighbourhood values expands back.
    for (int32_t r = 0; r < rs; ++r)
        for (int32_t c = 0; c < cs; ++c) px[size_t(r) * cs + c] = value(r, c);
    nex_mask_expand(px.data(), kRows, kCols, k, cs);
    for (int32_t y = 0; y < kRows; ++y)
        for (int32_t x = 0; x < kCols; ++x) ASSERT_EQ(value(y / 2, x / 2), px[size_t(y) * kCols + x]) << y << "," << x;
}

// Above 600 dpi the mask is the 600-dpi mask of the decimated image,
// expanded by nearest neighbour and thinned again at full size.
TEST(LivenessMaskgen, FineImageIsMaskedAtTheDecimatedSize) {
    constexpr int32_t kRows = 101 * 2, kCols = 99 * 2;
    const std::vector<uint8_t> grey = grating(kRows, kCols, 20, 16);
    for (int32_t dpi : {601, 1000}) {
        const Mask fine = make_mask(grey, kRows, kCols, dpi);
        std::vector<uint8_t> small = grey;
        const int32_t rs = 101, cs = 99;
        nex_mask_decimate(small.data(), kCols, 2, rs, cs);
        small.resize(size_t(rs) * cs);
        const Mask coarse = make_mask(small, rs, cs, 600);
        std::vector<uint8_t> expected(size_t(kRows) * kCols);
        std::copy(coarse.px.begin(), coarse.px.end(), expected.begin());
        nex_mask_expand(expected.data(), kRows, kCols, 2, cs);
        thinning(expected.data(), kRows, kCols, 2);
        thinning(expected.data(), kRows, kCols, 4);
        EXPECT_EQ(expected, fine.px) << dpi;
        EXPECT_GT(std::count(fine.px.begin(), fine.px.end(), kNexMaskDark), 100);
    }
}

// Block maps drawn as text: '#' foreground, '.' background.
std::vector<uint8_t> blocks(const std::vector<std::string>& lines) {
    std::vector<uint8_t> out;
    for (const auto& line : lines)
        for (char ch : line) out.push_back(ch == '#' ? 1 : 0);
    return out;
}

std::vector<uint8_t> main_region(const std::vector<std::string>& lines) {
    std::vector<uint8_t> map = blocks(lines);
    nex_mask_main_region(map.data(), int32_t(lines.size()), int32_t(lines[0].size()));
    return map;
}

TEST(LivenessSegmentation, LargestRegionLowestLabelOnTies) {
    // two regions of three blocks: the one labelled first wins
    EXPECT_EQ(blocks({"##....", "#.....", "......"}), main_region({"##....", "#.....", "...###"}));
    // a larger region wins wherever it starts
    EXPECT_EQ(blocks({"......", "...###", "....##"}), main_region({"#.....", "...###", "#...##"}));
    // a U whose arms open two labels is joined through the union step: 7
    // blocks beat the straight region of 6 labelled before it
    EXPECT_EQ(blocks({"..........", "..........", "......#..#", "......#..#", "......####"}),
              main_region({"######....", "..........", "......#..#", "......#..#", "......####"}));
    // no usable block
    EXPECT_EQ(blocks({"....", "...."}), main_region({"....", "...."}));
}

// A checkerboard of isolated blocks uses labels 1..99 and drops every block
// that would need the 100th or a later label.
TEST(LivenessSegmentation, AtMost99Labels) {
    constexpr int32_t kSide = 20;  // 200 isolated blocks
    auto checkerboard = [](int32_t pair_after) {
        std::vector<uint8_t> map(kSide * kSide, 0);
        int32_t placed = 0;
        for (int32_t i = 0; i < kSide * kSide && placed < pair_after; ++i)
            if ((i / kSide + i % kSide) % 2 == 0 && i / kSide < 18) {
                map[size_t(i)] = 1;
                ++placed;
            }
        // a two-block region in the last row, labelled after `pair_after` singles
        map[size_t(19 * kSide + 4)] = map[size_t(19 * kSide + 5)] = 1;
        return map;
    };
    {  // 98 singles: the pair opens label 99 and, being larger, wins
        std::vector<uint8_t> map = checkerboard(98);
        nex_mask_main_region(map.data(), kSide, kSide);
        std::vector<uint8_t> expected(kSide * kSide, 0);
        expected[19 * kSide + 4] = expected[19 * kSide + 5] = 1;
        EXPECT_EQ(expected, map);
    }
    {  // 99 singles: the pair would open label 100, both its blocks are dropped
        std::vector<uint8_t> map = checkerboard(180);
        nex_mask_main_region(map.data(), kSide, kSide);
        std::vector<uint8_t> expected(kSide * kSide, 0);
        expected[0] = 1;  // every region has one block: label 1 wins
        EXPECT_EQ(expected, map);
    }
}

TEST(LivenessMaskgen, ImageWithoutUsableBlocksGivesAnEmptyMask) {
    for (uint8_t grey : {uint8_t(0), uint8_t(128), uint8_t(255)}) {
        const Mask m = make_mask(std::vector<uint8_t>(size_t(176) * 96, grey), 176, 96);
        EXPECT_TRUE(std::all_of(m.px.begin(), m.px.end(), [](uint8_t v) { return v == 0; })) << int(grey);
    }
}

TEST(LivenessMaskgen, EmptyImageIsLeftAlone) {
    uint8_t map[3] = {7, 7, 7};
    uint8_t px = 9;
    maskgen(&px, 0, 5, map, map + 1, map + 2, 0, 1, 500);
    maskgen(&px, 5, 0, map, map + 1, map + 2, 1, 0, 500);
    EXPECT_EQ(9, px);
    EXPECT_EQ(7, map[0]);
}

// On plain gratings the interior skeleton pixels of the dark class lie near
// the dark line centres and the bright ones near the bright centres; both
// classes are present. Measured: every pixel within 1 pixel except at the
// oblique normal 200 (ridge code 8, smoothed to 9), where 62 of about 12000
// pixels lie up to 1.26 pixels away.
TEST(LivenessMaskgen, SkeletonsFollowTheLineCentres) {
    constexpr int32_t kRows = 176, kCols = 96, kMargin = 16;
    for (int32_t normal : {0, 24, 64, 100, 160, 200})
        for (double period : {8.0, 10.0, 12.0}) {
            const Mask m = make_mask(grating(kRows, kCols, normal, period), kRows, kCols);
            const double theta = 2.0 * std::numbers::pi * normal / 256.0;
            int32_t dark = 0, bright = 0, beyond_one = 0;
            for (int32_t r = kMargin; r < kRows - kMargin; ++r)
                for (int32_t c = kMargin; c < kCols - kMargin; ++c) {
                    const uint8_t v = m.px[size_t(r) * kCols + c];
                    if (v != kNexMaskDark && v != kNexMaskBright) continue;
                    const double d = c * std::cos(theta) + r * std::sin(theta);
                    // phase in periods; dark centres at half periods, bright at whole ones
                    const double offset = v == kNexMaskDark ? 0.5 : 0.0;
                    const double cycles = d / period - offset;
                    const double distance = std::abs(cycles - std::round(cycles)) * period;
                    EXPECT_LE(distance, 1.3) << "normal " << normal << " period " << period << " at " << r << ","
                                             << c << " label " << int(v);
                    beyond_one += distance > 1.0 + 1e-9;
                    (v == kNexMaskDark ? dark : bright)++;
                }
            EXPECT_GT(dark, 200) << normal << " " << period;
            EXPECT_GT(bright, 200) << normal << " " << period;
            EXPECT_LE(beyond_one * 50, dark + bright) << normal << " " << period;  // at most 2 %
        }
}

}  // namespace
