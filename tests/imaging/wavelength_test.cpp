#include "imaging/bal_wavelength.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace {

using Image = std::vector<uint8_t>;

constexpr int32_t kRows = 176, kCols = 96, kBlock = 12;
constexpr int32_t kBlockRows = kRows / kBlock, kBlockCols = kCols / kBlock;

Image grating(int32_t rows, int32_t cols, double period, double angle, double noise_sigma = 0,
              uint32_t seed = 1) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, std::max(noise_sigma, 1e-9));
    Image img(size_t(rows) * cols);
    const double c = std::cos(angle), s = std::sin(angle);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            double v = 128 + 70 * std::cos(2 * M_PI * (x * c + y * s) / period);
            if (noise_sigma > 0) v += noise(rng);
            img[size_t(y) * cols + x] = static_cast<uint8_t>(std::clamp(std::lround(v), 0l, 255l));
        }
    return img;
}

// Floating-point reference: the windowed 32 x 32 block around block (r, c),
// its DFT power, and the radius of the strongest peak refined by the centroid
// of its 3 x 3 neighbourhood, as a wavelength in pixels.
double reference_wavelength(const Image& img, int32_t rows, int32_t cols, int32_t r, int32_t c) {
    const int32_t h = (32 - kBlock) / 2;
    const int32_t top = r * kBlock - h, left = c * kBlock - h;
    std::vector<double> block(32 * 32, 0.0);
    double mean = 0;
    int n = 0;
    for (int i = 0; i < 32; ++i)
        for (int j = 0; j < 32; ++j) {
            const int y = top + i, x = left + j;
            if (y >= 0 && y < rows && x >= 0 && x < cols) {
                mean += img[size_t(y) * cols + x];
                ++n;
            }
        }
    mean /= n;
    auto window = [](int i) { return 1 - std::abs(i - 15.5) / 15.5; };
    for (int i = 0; i < 32; ++i)
        for (int j = 0; j < 32; ++j) {
            const int y = top + i, x = left + j;
            if (y >= 0 && y < rows && x >= 0 && x < cols)
                block[i * 32 + j] = window(i) * window(j) * (img[size_t(y) * cols + x] - mean);
        }
    auto power = [&](int u, int v) {
        std::complex<double> sum = 0;
        for (int i = 0; i < 32; ++i)
            for (int j = 0; j < 32; ++j)
                sum += block[i * 32 + j] * std::polar(1.0, -2 * M_PI * (u * i + v * j) / 32.0);
        return std::norm(sum);
    };
    double best = -1;
    int bu = 0, bv = 0;
    for (int u = -8; u <= 8; ++u)
        for (int v = -8; v <= 0; ++v) {
            if (u * u + v * v < 3) continue;
            const double p = power(u, v);
            if (p > best) best = p, bu = u, bv = v;
        }
    double s = 0, su = 0, sv = 0;
    for (int du = -1; du <= 1; ++du)
        for (int dv = -1; dv <= 1; ++dv) {
            const double p = power(bu + du, bv + dv);
            s += p;
            su += p * (bu + du);
            sv += p * (bv + dv);
        }
    return 32.0 / std::hypot(su / s, sv / s);
}

int8_t analytic_doubled_angle(double angle) {
    const double turns = 2 * angle / (2 * M_PI) * 256;
    return static_cast<int8_t>(static_cast<int32_t>(std::lround(turns)) & 0xFF);
}

}  // namespace

TEST(RidgeWavelengths, GratingsOfEveryPeriodAndDirection) {
    const int32_t n = kBlockRows * kBlockCols;
    for (double period = 6; period <= 16; period += 1) {
        for (double angle : {0.0, 0.5, 1.2, 2.4}) {
            SCOPED_TRACE(testing::Message() << "period " << period << " angle " << angle);
            const Image img = grating(kRows, kCols, period, angle);
            std::vector<uint8_t> wavelength(n), frequency(n), quality(n, 0);
            std::vector<int8_t> doubled(n);
            ASSERT_EQ(bal_ridge_wavelengths_fft(img.data(), nullptr, kRows, kCols, kBlock, 18, 5,
                                                nullptr, kBlockRows, kBlockCols, quality.data(),
                                                wavelength.data(), frequency.data(), doubled.data()),
                      BAL_OK);
            for (int32_t r = 1; r + 1 < kBlockRows; ++r)
                for (int32_t c = 1; c + 1 < kBlockCols; ++c) {
                    const int32_t i = r * kBlockCols + c;
                    EXPECT_NEAR(wavelength[i], period, 1.0) << r << "," << c;
                    EXPECT_NEAR(frequency[i], 1024 / period, 1024 / period * 0.06) << r << "," << c;
                    EXPECT_LE(std::abs(int8_t(doubled[i] - analytic_doubled_angle(angle))), 4)
                        << r << "," << c;
                    EXPECT_GT(quality[i], 0);
                }
            // The floating-point spectrum of one interior block agrees too.
            const double reference = reference_wavelength(img, kRows, kCols, 7, 4);
            EXPECT_NEAR(reference, period, 0.6);
            EXPECT_NEAR(1024.0 / frequency[7 * kBlockCols + 4], reference, 0.6);
        }
    }
}

TEST(RidgeWavelengths, HalfResolutionPathReportsFullResolutionUnits) {
    const int32_t rows = kRows / 2, cols = kCols / 2, block = kBlock / 2;
    const int32_t n = kBlockRows * kBlockCols;
    for (double period : {3.0, 4.5, 6.0, 7.5}) {
        SCOPED_TRACE(period);
        const Image img = grating(rows, cols, period, 0.8);
        std::vector<uint8_t> wavelength(n), frequency(n);
        std::vector<int8_t> doubled(n);
        ASSERT_EQ(bal_ridge_wavelengths_fft16(img.data(), rows, cols, block, 18, 5, nullptr,
                                              kBlockRows, kBlockCols, nullptr, wavelength.data(),
                                              frequency.data(), doubled.data()),
                  BAL_OK);
        for (int32_t r = 1; r + 1 < kBlockRows; ++r)
            for (int32_t c = 1; c + 1 < kBlockCols; ++c) {
                const int32_t i = r * kBlockCols + c;
                EXPECT_NEAR(wavelength[i], 2 * period, 1.0);
                EXPECT_NEAR(frequency[i], 512 / period, 512 / period * 0.08);
                EXPECT_LE(std::abs(int8_t(doubled[i] - analytic_doubled_angle(0.8))), 6);
            }
    }
}

TEST(RidgeWavelengths, FlatImageGivesTenPixelsAndLeavesAngleAndQuality) {
    const Image flat(size_t(kRows) * kCols, 140);
    const int32_t n = kBlockRows * kBlockCols;
    std::vector<uint8_t> wavelength(n), frequency(n, 99), quality(n, 77);
    std::vector<int8_t> doubled(n, 33);
    // A minimum wavelength of 0 must not let "no frequency" through as valid.
    ASSERT_EQ(bal_ridge_wavelengths_fft(flat.data(), nullptr, kRows, kCols, kBlock, 18, 0, nullptr,
                                        kBlockRows, kBlockCols, quality.data(), wavelength.data(),
                                        frequency.data(), doubled.data()),
              BAL_OK);
    for (int32_t i = 0; i < n; ++i) {
        EXPECT_EQ(wavelength[i], 10);
        EXPECT_EQ(frequency[i], 0);
        EXPECT_EQ(quality[i], 77);
        EXPECT_EQ(doubled[i], 33);
    }
}

TEST(RidgeWavelengths, TexturedBlocksWithoutARidgeFrequencyAreNeverValid) {
    // A period of 40 pixels puts every spectral peak within 1.684 bins of the
    // centre: the blocks have plenty of variance but no ridge frequency. With a
    // minimum wavelength of 0, "no frequency" must still be rejected (and not
    // divided by).
    const Image img = grating(kRows, kCols, 40, 0.6);
    const int32_t n = kBlockRows * kBlockCols;
    std::vector<uint8_t> wavelength(n), frequency(n, 99), quality(n, 77);
    std::vector<int8_t> doubled(n, 33);
    ASSERT_EQ(bal_ridge_wavelengths_fft(img.data(), nullptr, kRows, kCols, kBlock, 255, 0, nullptr,
                                        kBlockRows, kBlockCols, quality.data(), wavelength.data(),
                                        frequency.data(), doubled.data()),
              BAL_OK);
    for (int32_t i = 0; i < n; ++i) {
        EXPECT_EQ(frequency[i], 0) << i;
        EXPECT_EQ(quality[i], 0) << i;
        EXPECT_EQ(doubled[i], 0) << i;
        EXPECT_EQ(wavelength[i], 10) << i;
    }
    const Image half = grating(kRows / 2, kCols / 2, 20, 0.6);
    ASSERT_EQ(bal_ridge_wavelengths_fft16(half.data(), kRows / 2, kCols / 2, kBlock / 2, 255, 0,
                                          nullptr, kBlockRows, kBlockCols, nullptr,
                                          wavelength.data(), frequency.data(), doubled.data()),
              BAL_OK);
    for (int32_t i = 0; i < n; ++i) {
        EXPECT_EQ(frequency[i], 0) << i;
        EXPECT_EQ(wavelength[i], 10) << i;
    }
}

TEST(RidgeWavelengths, PeakTooNearTheCentreIsPassedOverForTheNextOne) {
    // A strong 40-pixel shading (inside 1.684 bins) over weaker 8-pixel ridges:
    // the shading's peak heads the list and is skipped, the ridges' is taken.
    Image img(size_t(kRows) * kCols);
    for (int32_t y = 0; y < kRows; ++y)
        for (int32_t x = 0; x < kCols; ++x)
            img[size_t(y) * kCols + x] = static_cast<uint8_t>(std::lround(
                128 + 60 * std::cos(2 * M_PI * (0.8 * x + 0.6 * y) / 40) +
                35 * std::cos(2 * M_PI * (0.3 * x - 0.95 * y) / 8)));
    const int32_t n = kBlockRows * kBlockCols;
    std::vector<uint8_t> wavelength(n), frequency(n);
    ASSERT_EQ(bal_ridge_wavelengths_fft(img.data(), nullptr, kRows, kCols, kBlock, 18, 5, nullptr,
                                        kBlockRows, kBlockCols, nullptr, wavelength.data(),
                                        frequency.data(), nullptr),
              BAL_OK);
    for (int32_t r = 1; r + 1 < kBlockRows; ++r)
        for (int32_t c = 1; c + 1 < kBlockCols; ++c) {
            EXPECT_NEAR(frequency[r * kBlockCols + c], 128, 8) << r << "," << c;
            EXPECT_NEAR(wavelength[r * kBlockCols + c], 8, 1) << r << "," << c;
        }
}

TEST(RidgeWavelengths, OutOfRangeWavelengths) {
    const Image img = grating(kRows, kCols, 8, 0.3);
    const int32_t n = kBlockRows * kBlockCols;
    const int32_t centre = 7 * kBlockCols + 4;
    // Period 8 lies outside 9..18: no frequency from the 32-point path, and
    // the frequency and quality are cleared; quality alone may be absent.
    std::vector<uint8_t> frequency(n), quality(n, 5);
    ASSERT_EQ(bal_ridge_wavelengths_fft(img.data(), nullptr, kRows, kCols, kBlock, 18, 9, nullptr,
                                        kBlockRows, kBlockCols, quality.data(), nullptr,
                                        frequency.data(), nullptr),
              BAL_OK);
    EXPECT_EQ(frequency[centre], 0);
    EXPECT_EQ(quality[centre], 0);
    ASSERT_EQ(bal_ridge_wavelengths_fft(img.data(), nullptr, kRows, kCols, kBlock, 18, 9, nullptr,
                                        kBlockRows, kBlockCols, nullptr, nullptr, frequency.data(),
                                        nullptr),
              BAL_OK);
    // The 16-point path keeps its frequency byte.
    const Image half = grating(kRows / 2, kCols / 2, 4, 0.3);
    std::vector<uint8_t> wavelength(n), frequency16(n);
    ASSERT_EQ(bal_ridge_wavelengths_fft16(half.data(), kRows / 2, kCols / 2, kBlock / 2, 18, 9,
                                          nullptr, kBlockRows, kBlockCols, nullptr,
                                          wavelength.data(), frequency16.data(), nullptr),
              BAL_OK);
    EXPECT_NEAR(frequency16[centre], 128, 8);
}

TEST(RidgeWavelengths, MaskedBlocksAreFilledFromTheirNeighbours) {
    const Image img = grating(kRows, kCols, 10, 1.0);
    Image mask(img.size(), 255);
    // Mask out the top third: those blocks are not measured.
    std::fill(mask.begin(), mask.begin() + 60 * kCols, 0);
    const int32_t n = kBlockRows * kBlockCols;
    std::vector<uint8_t> wavelength(n), frequency(n);
    ASSERT_EQ(bal_ridge_wavelengths_fft(img.data(), mask.data(), kRows, kCols, kBlock, 18, 5,
                                        nullptr, kBlockRows, kBlockCols, nullptr, wavelength.data(),
                                        frequency.data(), nullptr),
              BAL_OK);
    EXPECT_EQ(frequency[0], 0);
    EXPECT_EQ(frequency[1 * kBlockCols + 3], 0);
    EXPECT_GT(frequency[10 * kBlockCols + 3], 0);
    for (int32_t i = 0; i < n; ++i) EXPECT_NEAR(wavelength[i], 10, 1);
}

TEST(FilterWavelengths, TrimmedMeansOfMeasuredNeighbours) {
    // 3 x 3 field: the lone value at (0, 0) has no measured neighbour.
    std::vector<uint16_t> field = {100, 0, 0,
                                   0, 3000, 3200,
                                   0, 2000, 9000};
    ASSERT_EQ(filter_wavelengths(field.data(), 3, 3), BAL_OK);
    EXPECT_EQ(field[0], 0);
    EXPECT_EQ(field[4], 3000);             // {3000, 3200, 2000}: drop max and min
    EXPECT_EQ(field[5], (3200 + 3000 + 9000 - 9000 - 3000) / 1);
    EXPECT_EQ(field[7], 3000);             // {2000, 3000, 9000}
    EXPECT_EQ(field[8], (9000 + 3200 + 2000 - 9000 - 2000) / 1);
    std::vector<uint16_t> pair = {0, 1000, 1400, 0};
    ASSERT_EQ(filter_wavelengths(pair.data(), 1, 4), BAL_OK);
    EXPECT_EQ(pair[1], 1200);
    EXPECT_EQ(pair[2], 1200);
}

TEST(PostprocessFrequencyField, FillsGapsRingByRing) {
    std::vector<uint16_t> field(5 * 7, 0);
    // A measured 2 x 2 patch of 12 pixels in one corner.
    for (int i : {0, 1, 7, 8}) field[i] = 12 * 256;
    std::vector<uint8_t> wavelength(field.size());
    ASSERT_EQ(postprocess_frequency_field(field.data(), 5, 7, wavelength.data()), BAL_OK);
    for (uint8_t w : wavelength) EXPECT_EQ(w, 12);
    std::vector<uint16_t> empty(4 * 4, 0);
    std::vector<uint8_t> tens(empty.size());
    ASSERT_EQ(postprocess_frequency_field(empty.data(), 4, 4, tens.data()), BAL_OK);
    for (uint8_t w : tens) EXPECT_EQ(w, 10);
}
