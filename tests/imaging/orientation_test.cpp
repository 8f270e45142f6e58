#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "filters_test_support.h"
#include "fp_test_data.h"
#include "imaging/bal_blur.h"
#include "imaging/bal_kernels3x3.h"
#include "imaging/bal_normalize.h"
#include "imaging/bal_orientation.h"
#include "imaging/bal_segment.h"
#include "math/zr_roots.h"
#include "math/zr_trig.h"
#include "orient_fixtures.h"

namespace {

using namespace orient_test;

struct Fields {
    std::vector<uint8_t> orientation, coherence;
    std::vector<int8_t> doubled;
    bal_status status = BAL_OK;
};

Fields orientations(const std::vector<uint8_t>& img, uint32_t rows, uint32_t cols, uint32_t block,
                    const uint8_t* mask = nullptr, uint32_t scale = 1) {
    const uint32_t br = rows / block, bc = cols / block;
    Fields f;
    f.orientation.assign(br * bc, 0);
    f.coherence.assign(br * bc, 0);
    f.doubled.assign(br * bc, 0);
    std::vector<uint8_t> all(br * bc, 1);
    f.status = bal_ridge_orientations_scale(img.data(), rows, cols, mask ? mask : all.data(),
                                            f.orientation.data(), f.coherence.data(), br, bc, block,
                                            f.doubled.data(), scale);
    return f;
}

TEST(RidgeOrientation, NamedDirectionsOfStraightRidges) {
    // (gradient direction, expected byte): vertical ridges 128, horizontal 64,
    // rising to the right 160, falling to the right 96.
    const struct {
        double phi;
        uint8_t expected;
    } cases[] = {{0.0, 128}, {kPi / 2, 64}, {kPi / 4, 160}, {-kPi / 4, 96}};
    for (const auto& c : cases) {
        const auto img = grating(96, 96, c.phi, 9.0);
        const Fields f = orientations(img, 96, 96, 12);
        ASSERT_EQ(f.status, BAL_OK);
        for (uint32_t r = 1; r < 7; ++r)
            for (uint32_t k = 1; k < 7; ++k)
                EXPECT_NEAR(f.orientation[r * 8 + k], c.expected, 1) << "phi " << c.phi;
    }
}

// Orientation within +-2 of the analytic value and high coherence on the
// interior blocks of gratings at 16 orientations and periods 7 to 13.
TEST(RidgeOrientation, GratingsMatchAnalyticOrientation) {
    constexpr uint32_t kRows = 120, kCols = 96, kBlock = 12;
    constexpr uint32_t kBr = kRows / kBlock, kBc = kCols / kBlock;
    for (int k = 0; k < 16; ++k) {
        const double phi = k * kPi / 16 + 0.05;
        for (int period = 7; period <= 13; ++period) {
            const auto img = grating(kRows, kCols, phi, period);
            const Fields f = orientations(img, kRows, kCols, kBlock);
            ASSERT_EQ(f.status, BAL_OK);
            const double expected = orientation_byte(phi);
            for (uint32_t r = 1; r + 1 < kBr; ++r)
                for (uint32_t c = 1; c + 1 < kBc; ++c) {
                    const size_t b = r * kBc + c;
                    EXPECT_LE(orientation_distance(f.orientation[b], expected), 2.0)
                        << "k " << k << " period " << period << " block " << r << "," << c;
                    EXPECT_GE(f.coherence[b], 200) << "k " << k << " period " << period;
                }
        }
    }
}

// Concentric rings: the gradient points away from the centre, so the ridges
// run tangent to the rings.
TEST(RidgeOrientation, ConcentricRingsGiveTangentRidges) {
    constexpr uint32_t kRows = 168, kCols = 168, kBlock = 12;
    constexpr uint32_t kBr = kRows / kBlock, kBc = kCols / kBlock;
    const double cy = 84.0, cx = 84.0;
    std::vector<uint8_t> img(kRows * kCols);
    for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = 0; x < kCols; ++x)
            img[y * kCols + x] =
                clamp_byte(128 + 100 * std::cos(2 * kPi * std::hypot(y - cy, x - cx) / 9.0));
    const Fields f = orientations(img, kRows, kCols, kBlock);
    ASSERT_EQ(f.status, BAL_OK);
    double worst = 0;
    int measured = 0;
    for (uint32_t r = 1; r + 1 < kBr; ++r)
        for (uint32_t c = 1; c + 1 < kBc; ++c) {
            const double by = r * kBlock + 5.5, bx = c * kBlock + 5.5;
            if (std::hypot(by - cy, bx - cx) < 30) continue;
            const double expected = orientation_byte(std::atan2(by - cy, bx - cx));
            worst = std::max(worst, orientation_distance(f.orientation[r * kBc + c], expected));
            ++measured;
        }
    EXPECT_GT(measured, 60);
    EXPECT_LE(worst, 4.0);
}

TEST(RidgeOrientation, MaskedOutBlocksGetZeroCoherenceAndDoubledAngle) {
    const auto img = grating(96, 96, 0.3, 9.0);
    std::vector<uint8_t> mask(64, 1);
    mask[3 * 8 + 4] = 0;
    const Fields f = orientations(img, 96, 96, 12, mask.data());
    ASSERT_EQ(f.status, BAL_OK);
    EXPECT_EQ(f.doubled[3 * 8 + 4], 0);
    // The smoothing still gives the masked-out block its neighbours' direction.
    EXPECT_LE(orientation_distance(f.orientation[3 * 8 + 4], orientation_byte(0.3)), 3.0);

    std::vector<uint8_t> none(64, 0);
    const Fields g = orientations(img, 96, 96, 12, none.data());
    for (size_t b = 0; b < 64; ++b) {
        EXPECT_EQ(g.orientation[b], 64);
        EXPECT_EQ(g.coherence[b], 0);
        EXPECT_EQ(g.doubled[b], 0);
    }
}

// A noisy block (own coherence below 128) takes its angle from the 3x3 block
// neighbourhood; a flat block (no counted gradient pixels, so the middle of a
// flat 3 x 3 block area) keeps its own zero means: its doubled angle is 0.
TEST(RidgeOrientation, WeakBlocksBorrowFromTheirNeighbourhood) {
    const double phi = 0.9;
    auto img = grating(96, 96, phi, 9.0);
    std::mt19937 rng(21);
    for (uint32_t y = 36; y < 48; ++y)
        for (uint32_t x = 24; x < 36; ++x) img[y * 96 + x] = static_cast<uint8_t>(rng());
    for (uint32_t y = 36; y < 72; ++y)
        for (uint32_t x = 48; x < 84; ++x) img[y * 96 + x] = 128;
    const Fields f = orientations(img, 96, 96, 12, nullptr, 2);
    ASSERT_EQ(f.status, BAL_OK);
    const double expected_doubled = std::fmod(phi / (2 * kPi) * 512, 256.0);
    const size_t noisy = 3 * 8 + 2, flat = 4 * 8 + 5;
    EXPECT_NEAR(static_cast<uint8_t>(f.doubled[noisy]), expected_doubled, 6.0);
    EXPECT_EQ(f.doubled[flat], 0);
    EXPECT_LE(orientation_distance(f.orientation[noisy], orientation_byte(phi)), 3.0);
}

TEST(RidgeOrientation, DoubledAngleIsTwiceTheGradientDirection) {
    const double phi = 0.6;
    const auto img = grating(96, 96, phi, 10.0);
    const Fields f = orientations(img, 96, 96, 12);
    const double expected = phi / (2 * kPi) * 256 * 2;
    for (uint32_t r = 1; r < 7; ++r)
        for (uint32_t c = 1; c < 7; ++c) EXPECT_NEAR(f.doubled[r * 8 + c], expected, 3.0);
}

TEST(RidgeOrientation, RejectsGridsOutsideTheImage) {
    std::vector<uint8_t> img(48 * 48, 100), o(16), c(16), m(16, 1);
    EXPECT_EQ(
        bal_ridge_orientations(img.data(), 48, 48, m.data(), o.data(), c.data(), 5, 4, 12, nullptr),
        BAL_BAD_ARGUMENT);
    EXPECT_EQ(
        bal_ridge_orientations(img.data(), 48, 48, m.data(), o.data(), c.data(), 4, 4, 0, nullptr),
        BAL_BAD_ARGUMENT);
    EXPECT_EQ(
        bal_ridge_orientations(img.data(), 48, 48, m.data(), nullptr, c.data(), 4, 4, 12, nullptr),
        BAL_BAD_ARGUMENT);
}

// Step-by-step reference of the block gradients and the orientation field,
// written straight from the algorithm description with per-block loops (no
// row products, no shared helpers of the library code): the fixed-point
// results must agree exactly, which pins every threshold, flag and rounding.
struct ReferenceGradients {
    std::vector<int32_t> xy, xx, yy;
    std::vector<int16_t> count;
};

ReferenceGradients reference_gradients(const std::vector<uint8_t>& src, uint32_t rows,
                                       uint32_t cols, const uint8_t* mask, uint32_t br,
                                       uint32_t bc, uint32_t block, uint32_t blur) {
    std::vector<uint8_t> copy = src;
    if (blur == 1) { EXPECT_EQ(BAL_OK, bal_blur_uint8(copy.data(), rows, cols, copy.data())); }
    std::vector<int8_t> gx(copy.size()), gy(copy.size());
    bal_sobel_2(copy.data(), rows, cols, gx.data(), gy.data());
    const uint32_t n = br * bc;
    std::vector<uint8_t> flags(n, 0);
    for (uint32_t r = 0; r < br && mask; ++r)
        for (uint32_t c = 0; c < bc; ++c) {
            if (mask[r * bc + c] != 0) continue;
            if (c > 0) flags[r * bc + c - 1] |= 8;       // left neighbour: drop last column
            if (c + 1 < bc) flags[r * bc + c + 1] |= 4;  // right: drop first column
            if (r > 0) flags[(r - 1) * bc + c] |= 2;     // upper: drop last row
            if (r + 1 < br) flags[(r + 1) * bc + c] |= 1;  // lower: drop first row
        }
    ReferenceGradients g{std::vector<int32_t>(n), std::vector<int32_t>(n),
                         std::vector<int32_t>(n), std::vector<int16_t>(n)};
    for (uint32_t b = 0; b < n; ++b) {
        const uint32_t r = b / bc, c = b % bc;
        const uint32_t y0 = r * block + ((flags[b] & 1) ? 1 : 0);
        const uint32_t y1 = (r + 1) * block - ((flags[b] & 2) ? 1 : 0);
        const uint32_t x0 = c * block + ((flags[b] & 4) ? 1 : 0);
        const uint32_t x1 = (c + 1) * block - ((flags[b] & 8) ? 1 : 0);
        int32_t sxy = 0, sxx = 0, syy = 0, k = 0;
        for (uint32_t y = y0; y < y1; ++y)
            for (uint32_t x = x0; x < x1; ++x) {
                const int32_t dx = gx[y * cols + x], dy = gy[y * cols + x];
                if (dx * dx + dy * dy <= 255) continue;
                sxy += dx * dy;
                sxx += dx * dx;
                syy += dy * dy;
                ++k;
            }
        g.count[b] = static_cast<int16_t>(k);
        if (k > 0) {
            g.xy[b] = sxy / k;
            g.xx[b] = sxx / k;
            g.yy[b] = syy / k;
        }
    }
    return g;
}

uint8_t reference_coherence(int32_t sxy, int32_t sxx, int32_t syy) {
    const int32_t e = sxx + syy;
    if (e <= 0) return 0;
    const auto a = static_cast<uint32_t>(2 * sxy), d = static_cast<uint32_t>(sxx - syy);
    return static_cast<uint8_t>(std::min(255u, zr_sqrt_(a * a + d * d) * 255u / e));
}

Fields reference_orientations(const std::vector<uint8_t>& src, uint32_t rows, uint32_t cols,
                              const uint8_t* mask, uint32_t block, uint32_t scale) {
    const int br = static_cast<int>(rows / block), bc = static_cast<int>(cols / block);
    const ReferenceGradients g = reference_gradients(src, rows, cols, mask, br, bc, block, scale);
    const int32_t t = static_cast<int32_t>(block * block * 5 / 100);
    const size_t n = static_cast<size_t>(br) * bc;
    Fields f;
    f.orientation.assign(n, 0);
    f.coherence.assign(n, 0);
    f.doubled.assign(n, 0);
    std::vector<int16_t> cosine(n, 0), sine(n, 0);
    for (int r = 0; r < br; ++r)
        for (int c = 0; c < bc; ++c) {
            const int b = r * bc + c;
            if (mask[b] == 0) continue;
            int32_t sxy = g.xy[b], sxx = g.xx[b], syy = g.yy[b];
            if (sxx + syy > 0 && g.count[b] > t) {
                f.coherence[b] = reference_coherence(sxy, sxx, syy);
                if (f.coherence[b] < 128) {
                    int32_t a = 0, d = 0, e = 0, k = 0;
                    for (int i = std::max(r - 1, 0); i <= std::min(r + 1, br - 1); ++i)
                        for (int j = std::max(c - 1, 0); j <= std::min(c + 1, bc - 1); ++j) {
                            a += g.xy[i * bc + j];
                            d += g.xx[i * bc + j];
                            e += g.yy[i * bc + j];
                            ++k;
                        }
                    sxy = a / k;
                    sxx = d / k;
                    syy = e / k;
                    f.coherence[b] = reference_coherence(sxy, sxx, syy);
                }
            }
            const int32_t theta = zr_atan2_(2 * sxy, sxx - syy);
            f.doubled[b] = static_cast<int8_t>(theta);
            const auto rotated = static_cast<uint8_t>((theta - 128) & 0xFF);
            cosine[b] = static_cast<int16_t>(zr_cos_(rotated));
            sine[b] = static_cast<int16_t>(zr_sin_(rotated));
        }
    std::vector<uint8_t> coherence = f.coherence;
    std::vector<int16_t> blurred_cos(n), blurred_sin(n);
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) { EXPECT_EQ(BAL_OK, bal_blur_uint8(coherence.data(), br, bc, coherence.data())); }
        EXPECT_EQ(BAL_OK, bal_blur_int16(cosine.data(), br, bc, blurred_cos.data()));
        EXPECT_EQ(BAL_OK, bal_blur_int16(sine.data(), br, bc, blurred_sin.data()));
        for (size_t b = 0; b < n; ++b)
            if (coherence[b] <= (pass == 0 ? 255 : 95)) {
                cosine[b] = blurred_cos[b];
                sine[b] = blurred_sin[b];
            }
    }
    for (size_t b = 0; b < n; ++b)
        f.orientation[b] = static_cast<uint8_t>(((zr_atan2_(sine[b], cosine[b]) & 0xFF) >> 1) + 64);
    EXPECT_EQ(BAL_OK, bal_blur_uint8(f.coherence.data(), br, bc, f.coherence.data()));
    return f;
}

TEST(RidgeOrientation, MatchesAStepByStepReferenceExactly) {
    constexpr uint32_t kRows = 176, kCols = 96;
    std::mt19937 rng(9);
    int compared = 0;
    for (uint32_t block : {12u, 8u, 11u}) {
        const uint32_t br = kRows / block, bc = kCols / block;
        for (const auto& img : reference_inputs(kRows, kCols)) {
            std::vector<uint8_t> all(br * bc, 1), holes(br * bc), rim(br * bc);
            for (auto& m : holes) m = rng() % 4 != 0 ? 3 : 0;
            for (uint32_t b = 0; b < br * bc; ++b) rim[b] = b % bc > 1 && b / bc + 2 < br;
            for (const auto* mask : {&all, &holes, &rim})
                for (uint32_t scale : {1u, 2u}) {
                    const Fields got = orientations(img, kRows, kCols, block, mask->data(), scale);
                    ASSERT_EQ(got.status, BAL_OK);
                    const Fields want =
                        reference_orientations(img, kRows, kCols, mask->data(), block, scale);
                    ASSERT_EQ(got.orientation, want.orientation) << "block " << block;
                    ASSERT_EQ(got.coherence, want.coherence) << "block " << block;
                    ASSERT_EQ(got.doubled, want.doubled) << "block " << block;
                    ++compared;
                }
        }
    }
    EXPECT_GE(compared, 108);
}

// Images of 1 or 2 rows have all-zero derivatives: a single row of blocks is
// measured (no status 14), every block with count 0 and coherence 0.
TEST(RidgeOrientation, OneOrTwoRowImagesGiveZeroCoherence) {
    const struct {
        uint32_t rows, block;
    } cases[] = {{1, 1}, {2, 1}, {2, 2}};
    for (const auto& c : cases) {
        const uint32_t cols = 48, br = c.rows / c.block, bc = cols / c.block;
        const auto img = grating(c.rows, cols, 0.4, 7.0);
        std::vector<uint8_t> mask(br * bc, 1);
        const Fields got = orientations(img, c.rows, cols, c.block, mask.data());
        ASSERT_EQ(got.status, BAL_OK) << c.rows << "/" << c.block;
        const Fields want = reference_orientations(img, c.rows, cols, mask.data(), c.block, 1);
        EXPECT_EQ(got.orientation, want.orientation);
        for (size_t b = 0; b < br * bc; ++b) {
            EXPECT_EQ(got.coherence[b], 0);
            EXPECT_EQ(got.doubled[b], 0);
        }
        std::vector<uint8_t> coherence(br * bc, 9);
        ASSERT_EQ(bal_ridge_orientation_coherence(img.data(), c.rows, cols, coherence.data(),
                                                  nullptr, br, bc, c.block),
                  BAL_OK);
        EXPECT_EQ(coherence, std::vector<uint8_t>(br * bc, 0));
    }
}

// Truncated means can put sqrt((2 Sxy)^2 + (Sxx - Syy)^2) just above the
// energy; a perfectly coherent block must then read 255, not the low byte.
TEST(BlockCoherence, SaturatesAt255) {
    for (int32_t q = 1; q < 400; ++q) {
        // Means of gradients (2k, k) whose mean square is q + 1/2.
        const int32_t sxx = 4 * q + 2, syy = q, sxy = 2 * q + 1;
        EXPECT_EQ(bal_block_coherence(sxy, sxx, syy), 255) << q;
    }
    EXPECT_EQ(bal_block_coherence(0, 100, 100), 0);  // no preferred direction
    EXPECT_EQ(bal_block_coherence(0, 100, 0), 255);  // one direction
    EXPECT_EQ(bal_block_coherence(5, 0, 0), 0);      // no energy
    EXPECT_EQ(bal_block_coherence(0, 3, 1), 127);    // 2/4 of full coherence
}

TEST(ComputeGradients, MaskedNeighbourDropsTheAdjacentPixelRow) {
    // A step edge that only crosses pixel row 12, the first row of block
    // (1, 0); the block above it is masked out, so that row does not count.
    constexpr uint32_t kRows = 36, kCols = 24;
    std::vector<uint8_t> img(kRows * kCols, 0);
    for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = 12; x < kCols; ++x) img[y * kCols + x] = 200;
    std::vector<int32_t> xy(6), xx(6), yy(6);
    std::vector<int16_t> count(6);
    std::vector<uint8_t> mask = {1, 1, 1, 1, 1, 1};
    ASSERT_EQ(bal_compute_gradients(img.data(), kRows, kCols, mask.data(), 3, 2, 12, xy.data(),
                                    xx.data(), yy.data(), count.data(), 0),
              BAL_OK);
    const int16_t full = count[1 * 2 + 0];
    EXPECT_GT(full, 0);
    mask[0] = 0;  // block (0, 0) out: block (1, 0) drops its first pixel row
    ASSERT_EQ(bal_compute_gradients(img.data(), kRows, kCols, mask.data(), 3, 2, 12, xy.data(),
                                    xx.data(), yy.data(), count.data(), 0),
              BAL_OK);
    EXPECT_EQ(count[1 * 2 + 0], full - 1);  // one edge pixel per row in column 11
    EXPECT_EQ(xx[1 * 2 + 0] > 0, true);
}

TEST(ComputeGradients, ScratchThatCannotBeAllocatedReturnsNoMemory) {
    FP_REQUIRE_PLAIN_MALLOC();
    uint8_t px = 0;
    std::vector<int32_t> xy(4), xx(4), yy(4);
    std::vector<int16_t> count(4);
    EXPECT_EQ(bal_compute_gradients(&px, 1u << 30, 1u << 30, nullptr, 2, 2, 12, xy.data(),
                                    xx.data(), yy.data(), count.data(), 1),
              BAL_NO_MEMORY);
}

TEST(ComputeGradients, FlatImageHasNoCountedPixels) {
    std::vector<uint8_t> img(48 * 48, 90);
    std::vector<int32_t> xy(16, 7), xx(16, 7), yy(16, 7);
    std::vector<int16_t> count(16, 7);
    ASSERT_EQ(bal_compute_gradients(img.data(), 48, 48, nullptr, 4, 4, 12, xy.data(), xx.data(),
                                    yy.data(), count.data(), 1),
              BAL_OK);
    for (int b = 0; b < 16; ++b) EXPECT_EQ(count[b] + xy[b] + xx[b] + yy[b], 0);
}

TEST(RidgeCoherence, HighOnGratingLowOnNoise) {
    const auto img = grating(96, 96, 1.0, 9.0);
    std::vector<uint8_t> coh(64);
    ASSERT_EQ(bal_ridge_orientation_coherence(img.data(), 96, 96, coh.data(), nullptr, 8, 8, 12),
              BAL_OK);
    for (uint32_t r = 1; r < 7; ++r)
        for (uint32_t c = 1; c < 7; ++c) EXPECT_GE(coh[r * 8 + c], 200);

    std::mt19937 rng(3);
    std::vector<uint8_t> noise(96 * 96);
    for (auto& p : noise) p = static_cast<uint8_t>(rng() & 0xFF);
    ASSERT_EQ(bal_ridge_orientation_coherence_scale(noise.data(), 96, 96, coh.data(), nullptr, 8, 8,
                                                    12, 2),
              BAL_OK);
    for (uint32_t r = 1; r < 7; ++r)
        for (uint32_t c = 1; c < 7; ++c) EXPECT_LE(coh[r * 8 + c], 80);
}

TEST(ScaleUpOrientation, BlockCentresKeepTheirValueAndWrapTheShortWay) {
    // 188 and 68 are 16 doubled-angle steps apart through the wrap (doubled
    // 248 and 8), so the pixels between them stay near 191/64, never near 128.
    const std::vector<uint8_t> field = {188, 68, 188, 68};
    std::vector<uint8_t> px(24 * 24);
    ASSERT_EQ(bal_scale_up_orientation(field.data(), 2, 2, 12, px.data(), 24, 24), BAL_OK);
    EXPECT_EQ(px[6 * 24 + 6], 188);
    for (uint8_t p : px) EXPECT_TRUE((p >= 188 && p <= 191) || (p >= 64 && p <= 68)) << int(p);
    EXPECT_EQ(bal_scale_up_orientation(field.data(), 1, 4, 12, px.data(), 12, 48), BAL_BAD_ARGUMENT);
}

// Structure-tensor orientation in floating point: Gaussian-smoothed central
// differences, tensor summed per block and averaged over the 3x3 blocks.
std::vector<double> reference_orientation(const std::vector<uint8_t>& img, uint32_t rows,
                                          uint32_t cols, uint32_t block,
                                          std::vector<double>& coherence) {
    std::vector<double> s(img.size());
    const double w[5] = {0.0545, 0.2442, 0.4026, 0.2442, 0.0545};
    std::vector<double> tmp(img.size());
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            double a = 0;
            for (int k = -2; k <= 2; ++k)
                a += w[k + 2] * img[y * cols + std::clamp<int>(x + k, 0, cols - 1)];
            tmp[y * cols + x] = a;
        }
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            double a = 0;
            for (int k = -2; k <= 2; ++k)
                a += w[k + 2] * tmp[std::clamp<int>(y + k, 0, rows - 1) * cols + x];
            s[y * cols + x] = a;
        }
    const uint32_t br = rows / block, bc = cols / block;
    std::vector<double> jxx(br * bc), jyy(br * bc), jxy(br * bc);
    for (uint32_t y = 1; y + 1 < br * block; ++y)
        for (uint32_t x = 1; x + 1 < bc * block; ++x) {
            const double gx = (s[y * cols + x + 1] - s[y * cols + x - 1]) / 2;
            const double gy = (s[(y + 1) * cols + x] - s[(y - 1) * cols + x]) / 2;
            const size_t b = (y / block) * bc + x / block;
            jxx[b] += gx * gx;
            jyy[b] += gy * gy;
            jxy[b] += gx * gy;
        }
    std::vector<double> out(br * bc);
    coherence.assign(br * bc, 0);
    for (int r = 0; r < static_cast<int>(br); ++r)
        for (int c = 0; c < static_cast<int>(bc); ++c) {
            double a = 0, b2 = 0, d = 0;
            for (int i = std::max(r - 1, 0); i <= std::min(r + 1, int(br) - 1); ++i)
                for (int j = std::max(c - 1, 0); j <= std::min(c + 1, int(bc) - 1); ++j) {
                    a += jxx[i * bc + j];
                    b2 += jyy[i * bc + j];
                    d += jxy[i * bc + j];
                }
            const double phi = 0.5 * std::atan2(2 * d, a - b2);
            out[r * bc + c] = orientation_byte(phi);
            coherence[r * bc + c] = a + b2 > 0 ? std::hypot(2 * d, a - b2) / (a + b2) : 0;
        }
    return out;
}

// On every real capture, inside its segmentation mask and after the local
// normalisation that extraction runs first, the fixed-point field agrees with
// the floating-point structure tensor. Measured over the 160 captures: mean
// error 1.94 orientation steps (1/256 turn, 1.4 degrees each), worst capture
// 5.8.
TEST(RidgeOrientation, AgreesWithStructureTensorOnRealCaptures) {
    FP_REQUIRE_CAPTURES();
    constexpr uint32_t kRows = 168, kCols = 96, kBlock = 12, kBr = 14, kBc = 8;
    double total_error = 0, worst_capture = 0;
    int total_blocks = 0, captures = 0;
    for (const auto& path : fp_test::capture_paths()) {
        const fp_test::GreyImage g = fp_test::read_pgm(path);
        ASSERT_EQ(g.rows, 176u) << path;
        std::vector<uint8_t> img(g.pixels.begin(), g.pixels.begin() + kRows * kCols);
        std::vector<uint8_t> mask(kBr * kBc);
        ASSERT_EQ(bal_segment_image(img.data(), kRows, kCols, kBr, kBc, kBlock, mask.data()), BAL_OK);
        // As on the extraction road: normalise locally, then the orientation.
        std::vector<uint8_t> normalised(img.size());
        ASSERT_EQ(bal_normalize_locally(img.data(), kRows, kCols, mask.data(), kBlock, kBr, kBc,
                                        150, 120, normalised.data()),
                  BAL_OK);
        const Fields f = orientations(normalised, kRows, kCols, kBlock, mask.data());
        ASSERT_EQ(f.status, BAL_OK);
        std::vector<double> ref_coherence;
        const auto ref = reference_orientation(img, kRows, kCols, kBlock, ref_coherence);
        double err = 0;
        int n = 0;
        for (size_t b = 0; b < ref.size(); ++b) {
            if (!mask[b]) continue;
            err += orientation_distance(f.orientation[b], ref[b]);
            ++n;
        }
        ASSERT_GT(n, 0) << path;
        total_error += err;
        total_blocks += n;
        worst_capture = std::max(worst_capture, err / n);
        ++captures;
    }
    const double mean_error = total_error / total_blocks;
    RecordProperty("mean_error", std::to_string(mean_error));
    std::printf(
        "orientation vs structure tensor: %d captures, %d blocks, mean %.2f, worst capture %.2f\n",
        captures, total_blocks, mean_error, worst_capture);
    EXPECT_LE(mean_error, 2.5);
    EXPECT_LE(worst_capture, 7.0);
}

}  // namespace
