// Liveness texture features on constructed images whose expected values are
// derived by hand or by an independent computation (rotation classes from the
// code definitions, LPQ signs from a floating-point DFT).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <set>
#include <vector>

#include "liveness/nex_features.h"

namespace {

using Record = std::array<int32_t, kNexFeatureCount>;

struct Picture {
    int32_t rows, cols;
    std::vector<uint8_t> image, mask;
    Picture(int32_t r, int32_t c, uint8_t grey, uint8_t mask_value)
        : rows(r), cols(c), image(size_t(r) * c, grey), mask(size_t(r) * c, mask_value) {}
    uint8_t& px(int32_t r, int32_t c) { return image[size_t(r) * cols + c]; }
    uint8_t& m(int32_t r, int32_t c) { return mask[size_t(r) * cols + c]; }
    Record extract() {
        Record rec;
        rec.fill(-1);
        nex_features_extract(image.data(), mask.data(), rows, cols, rec.data());
        return rec;
    }
};

int32_t normalised(uint32_t count, uint32_t n) { return static_cast<int32_t>((count * (0x7FFFFFFFu / n)) >> 11); }

uint8_t rotl(uint8_t v, int k) { return static_cast<uint8_t>((v << k) | (v >> (8 - k))); }

// Class index of a code: its smallest rotation by multiples of `step` bits,
// ranked among all codes that are their own smallest rotation.
int32_t class_of(uint8_t code, int step) {
    auto smallest = [step](uint8_t v) {
        uint8_t m = v;
        for (int k = step; k < 8; k += step) m = std::min(m, rotl(v, k));
        return m;
    };
    std::set<uint8_t> classes;
    for (int v = 0; v < 256; ++v) classes.insert(smallest(static_cast<uint8_t>(v)));
    return static_cast<int32_t>(std::distance(classes.begin(), classes.find(smallest(code))));
}

TEST(LivenessSmallFunctions, RoundedDivisionClampAndNearestCentre) {
    struct Div {
        int32_t a, b, q;
    };
    for (const Div& d : {Div{7, 2, 4}, Div{-7, 2, -4}, Div{7, -2, -4}, Div{-7, -2, 4}, Div{5, 3, 2}, Div{4, 3, 1},
                         Div{0, 5, 0}, Div{5, 0, 0}, Div{INT32_MIN, -1, INT32_MIN}, Div{INT32_MAX, 1, INT32_MAX}})
        EXPECT_EQ(d.q, int_div(d.a, d.b)) << d.a << " / " << d.b;
    EXPECT_EQ(0, int2uchar(-1));
    EXPECT_EQ(255, int2uchar(256));
    EXPECT_EQ(77, int2uchar(77));
    const int32_t centres[] = {10, 20, 40};
    EXPECT_EQ(0, hist_mapping(15, centres, 3));  // tie: the first
    EXPECT_EQ(1, hist_mapping(16, centres, 3));
    EXPECT_EQ(2, hist_mapping(1000, centres, 3));
    EXPECT_EQ(0, hist_mapping(1000, centres, 1));
    int32_t counts[3] = {9, 9, 9};
    const int32_t values[] = {0, 14, 16, 31, 100};
    hist_int(values, 5, counts, centres, 3);
    EXPECT_EQ((std::array<int32_t, 3>{2, 1, 2}), (std::array<int32_t, 3>{counts[0], counts[1], counts[2]}));
    uint8_t bytes[] = {10, 20, 20, 30};
    hist_eq(bytes, 4);
    EXPECT_EQ((std::array<uint8_t, 4>{63, 191, 191, 255}), (std::array<uint8_t, 4>{bytes[0], bytes[1], bytes[2], bytes[3]}));
}

TEST(LivenessSmallFunctions, VarianceRoundsTheMeanAndTheResult) {
    const int32_t pore[] = {100, 100, 100, 100, 100, 100, 100, 100, 50, 50,
                            50,  50,  50,  50,  50,  50,  50,  50,  50, 50};
    EXPECT_EQ(600, var_array(pore, 20));
    const int32_t two[] = {0, 3};  // mean 1.5 rounds to 2: (4 + 1 + 1) / 2
    EXPECT_EQ(3, var_array(two, 2));
    const uint8_t three[] = {1, 2, 4};  // mean 7/3 -> 2: (1 + 0 + 4 + 1) / 3
    EXPECT_EQ(2, var_array_uchar(three, 3));
    EXPECT_EQ(0, var_array(pore, 0));
}

TEST(LivenessFeatures, ZeroMaskGivesNoFeatures) {
    std::mt19937 rng(5);
    Picture p(40, 30, 0, 0);
    for (auto& v : p.image) v = static_cast<uint8_t>(rng());
    const Record rec = p.extract();
    EXPECT_TRUE(std::all_of(rec.begin(), rec.end(), [](int32_t v) { return v == 0; }));
}

TEST(LivenessFeatures, UniformImageFillsTheFlatClassesOnly) {
    Picture p(20, 30, 128, 1);
    const Record rec = p.extract();
    const int32_t n1 = 18 * 28, n2 = 16 * 26, nlpq = 16 * 26;
    for (int32_t i = 0; i < 142; ++i) {
        int32_t expected = 0;
        if (i == kNexLbpRadius1) expected = normalised(n1, n1);
        if (i == kNexLbpRadius2) expected = normalised(n2, n2);
        if (i == kNexLpq + kNexLpqClasses - 1) expected = normalised(nlpq, nlpq);
        EXPECT_EQ(expected, rec[i]) << "feature " << i;
    }
    for (int32_t i = 142; i < kNexFeatureCount; ++i) EXPECT_EQ(0, rec[i]) << "feature " << i;
}

TEST(LivenessFeatures, FourRowsGiveNoLpq) {
    std::mt19937 rng(9);
    Picture p(4, 30, 0, 1);
    for (auto& v : p.image) v = static_cast<uint8_t>(rng());
    const Record rec = p.extract();
    EXPECT_TRUE(std::all_of(rec.begin() + kNexLpq, rec.begin() + 142, [](int32_t v) { return v == 0; }));
    EXPECT_GT(*std::max_element(rec.begin(), rec.begin() + kNexLbpRadius2), 0);
}

// Every 8-bit code lands in the class of its smallest rotation: a 3 x 3 image
// whose centre sees exactly that code.
TEST(LivenessFeatures, EachLbpCodeLandsInItsRotationClass) {
    for (int v = 0; v < 256; ++v) {
        Picture p(3, 3, 100, 0);
        p.m(1, 1) = 1;
        const int32_t ring[8][2] = {{0, 0}, {0, 1}, {0, 2}, {1, 2}, {2, 2}, {2, 1}, {2, 0}, {1, 0}};
        for (int bit = 0; bit < 8; ++bit)
            if (v & (1 << bit)) p.px(ring[bit][0], ring[bit][1]) = 101;
        const Record rec = p.extract();
        const int32_t cls = class_of(static_cast<uint8_t>(v), 1);
        for (int32_t i = 0; i < kNexLbpClasses; ++i)
            ASSERT_EQ(i == cls ? normalised(1, 1) : 0, rec[i]) << "code " << v << " feature " << i;
    }
}

// A single bright pixel in a 5 x 5 window: the LPQ bits are the signs of a
// floating-point DFT at frequency 1/5 along the four directions.
TEST(LivenessFeatures, LpqClassOfOneBrightPixelMatchesAFloatingDft) {
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) {
            Picture p(5, 5, 0, 0);
            p.m(2, 2) = 1;
            p.px(i, j) = 200;
            auto phase = [](int k) { return 2.0 * std::numbers::pi * (((k % 5) + 5) % 5) / 5.0; };
            const int directions[4] = {j - i, j, i + j, i};
            int code = 0;
            for (int d = 0; d < 4; ++d) {
                if (200.0 * std::sin(phase(directions[d])) >= -1e-9) code |= 1 << (2 * d);
                if (200.0 * std::cos(phase(directions[d])) >= -1e-9) code |= 1 << (2 * d + 1);
            }
            const Record rec = p.extract();
            const int32_t cls = class_of(static_cast<uint8_t>(code), 2);
            for (int32_t c = 0; c < kNexLpqClasses; ++c)
                ASSERT_EQ(c == cls ? normalised(1, 1) : 0, rec[kNexLpq + c]) << "pixel " << i << "," << j;
        }
}

TEST(LivenessFeatures, LbpFeaturesDoNotChangeWhenTheImageTurns) {
    std::mt19937 rng(17);
    Picture p(37, 52, 0, 0);
    for (auto& v : p.image) v = static_cast<uint8_t>(rng() % 7 * 40);
    for (auto& v : p.mask) v = static_cast<uint8_t>(rng() % 4 != 0);
    Picture turned(52, 37, 0, 0);
    for (int32_t r = 0; r < p.rows; ++r)
        for (int32_t c = 0; c < p.cols; ++c) {
            turned.px(c, p.rows - 1 - r) = p.px(r, c);
            turned.m(c, p.rows - 1 - r) = p.m(r, c);
        }
    const Record a = p.extract(), b = turned.extract();
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + 72, b.begin()));
    EXPECT_GT(std::count_if(a.begin(), a.begin() + 72, [](int32_t v) { return v > 0; }), 20);
}

// A dark ridge five rows high across a bright valley, its skeleton a line of
// `length` pixels on row 7 starting at column 5; optionally one bright pore
// pixel on the line whose eight neighbours are 100.
Picture ridge_picture(int32_t length, int32_t pore_column, uint8_t bit = kNexRidgeBit) {
    Picture p(15, 40, 200, 1);
    for (int32_t r = 5; r <= 9; ++r)
        for (int32_t c = 0; c < 40; ++c) p.px(r, c) = 50;
    for (int32_t c = 5; c < 5 + length; ++c) p.m(7, c) = static_cast<uint8_t>(1 | bit);
    if (pore_column >= 0) {
        for (int32_t dr = -1; dr <= 1; ++dr)
            for (int32_t dc = -1; dc <= 1; ++dc) p.px(7 + dr, pore_column + dc) = 100;
        p.px(7, pore_column) = 255;
    }
    return p;
}

TEST(LivenessFeatures, OnePoreOnAStraightRidge) {
    const int32_t spacing_centres[] = {2, 3, 4, 6, 8, 13, 21, 34, 56};
    for (int32_t pore_column : {9, 20, 31}) {
        Picture p = ridge_picture(30, pore_column);
        const Record rec = p.extract();
        // contrast: 8 neighbours of 100 and 12 ring pixels of 50, variance 600
        for (int32_t b = 0; b < kNexPoreContrastBins; ++b)
            EXPECT_EQ(b == 5 ? 1000 : 0, rec[kNexPoreContrast + b]) << pore_column;
        const int32_t steps = pore_column - 5;  // pixels walked before the pore
        const int32_t spacing_bin = hist_mapping(steps, spacing_centres, 9);
        for (int32_t b = 0; b < kNexPoreSpacingBins; ++b)
            EXPECT_EQ(b == spacing_bin ? 1000 : 0, rec[kNexPoreSpacing + b]) << pore_column;
        EXPECT_EQ(1333, rec[kNexPoreDensity]);  // round(40000 / 30)
        // grey along the line: 27 x 50, 2 x 100, 255, each times 32, over 30
        EXPECT_EQ(1925, rec[kNexRidgeStats]);
        // changes 1600 (from 0), 1600, 4960, 4960, 1600 over count 1 = 15
        EXPECT_EQ(981, rec[kNexRidgeStats + 1]);
        // the walk consumed the skeleton bits, the region bit stays
        for (int32_t c = 5; c < 35; ++c) EXPECT_EQ(1, p.m(7, c));
        for (int32_t i = kNexValleyStats; i < kNexFeatureCount; ++i) EXPECT_EQ(0, rec[i]);
    }
}

TEST(LivenessFeatures, RidgeWithoutBrightSpotsHasNoPores) {
    Picture p = ridge_picture(30, -1);
    const Record rec = p.extract();
    for (int32_t i = kNexPoreContrast; i <= kNexPoreDensity; ++i) EXPECT_EQ(0, rec[i]) << i;
    EXPECT_EQ(1600, rec[kNexRidgeStats]);
    EXPECT_EQ(int_div(1600, 15), rec[kNexRidgeStats + 1]);  // only the first change, by count 1
}

// The step count of the spacing histogram runs on from one ridge to the next.
TEST(LivenessFeatures, PoreSpacingCountsAcrossRidges) {
    Picture p = ridge_picture(30, 20);
    for (int32_t c = 5; c < 12; ++c) p.m(2, c) = 1 | kNexRidgeBit;  // a 7-pixel ridge walked first
    const Record rec = p.extract();
    const int32_t spacing_centres[] = {2, 3, 4, 6, 8, 13, 21, 34, 56};
    EXPECT_EQ(1000, rec[kNexPoreSpacing + hist_mapping(7 + 15, spacing_centres, 9)]);
    EXPECT_EQ(int_div(40000, 37), rec[kNexPoreDensity]);
}

TEST(LivenessFeatures, ValleyWalkFillsOnlyTheValleyStatistics) {
    Picture p = ridge_picture(30, 20, kNexValleyBit);
    const Record rec = p.extract();
    for (int32_t i = kNexRidgeStats; i < kNexValleyStats; ++i) EXPECT_EQ(0, rec[i]) << i;
    EXPECT_EQ(1925, rec[kNexValleyStats]);
    EXPECT_EQ(981, rec[kNexValleyStats + 1]);
}

// Lines that reach the first and last rows: the neighbourhoods of the walk
// stay inside the buffers (the image and mask are exactly rows x cols).
TEST(LivenessFeatures, SkeletonOnTheOuterRowsStaysInsideTheBuffers) {
    for (uint8_t bit : {kNexRidgeBit, kNexValleyBit}) {
        Picture p(12, 9, 60, 1);
        for (int32_t r = 0; r < 6; ++r) p.m(r, 0) = 1 | bit;        // column 0, rows 0..5
        for (int32_t r = 6; r < 12; ++r) p.m(r, 8) = 1 | bit;       // last column, rows 6..11
        for (int32_t c = 2; c < 7; ++c) p.m(1, c) = 1 | bit;        // row 1
        for (int32_t c = 2; c < 7; ++c) p.m(10, c) = 1 | bit;       // row rows - 2
        p.px(1, 4) = 250;
        p.px(10, 4) = 250;
        const Record rec = p.extract();
        const int32_t base = bit == kNexRidgeBit ? kNexRidgeStats : kNexValleyStats;
        EXPECT_GT(rec[base], 0);
    }
}

// The cascade: level k runs on every 2^(k+1)-th sample; a constant signal
// leaves no detail once the buffers are full, and each level scales the
// approximation by the kernel sum 185365 / 2^18.
TEST(LivenessWavelet, CountsHalveAndConstantSignalsHaveNoDetail) {
    nex_wavelet_state state;
    nex_wavelet_reset(&state);
    int32_t out[12] = {};
    const int32_t length = 1000;
    for (int32_t i = 0; i < length; ++i) {
        nex_wavelet_push(&state, 6400);
        filter_WT_scales(out, &state);
        if (i == 799) std::fill(out, out + 12, 0);  // from here on every level's buffer is full
    }
    for (int32_t k = 0; k <= 5; ++k) EXPECT_EQ(length >> k, state.count[k]) << k;
    EXPECT_EQ(length >> 5, state.count[6]);
    for (int32_t k = 0; k < 5; ++k) EXPECT_EQ(0, out[2 * k + 1]) << "level " << k;  // d steady
    for (int32_t k = 0; k < 5; ++k) EXPECT_LE(std::abs(state.previous_detail[k]), 1) << "level " << k;
    double a = 6400;
    for (int k = 0; k < 5; ++k) a *= 185365.0 / 262144.0;
    EXPECT_NEAR(a, state.previous_approximation, 3.0);
    EXPECT_EQ(0, out[11]);
}

}  // namespace
