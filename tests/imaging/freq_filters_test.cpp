#include "imaging/bal_freq_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <random>
#include <vector>

#include "imaging/bal_blur.h"
#include "imaging/bal_fft_filter.h"

namespace {

#include "imaging/bal_freq_filter_tables.inc"

using Image = std::vector<uint8_t>;

Image grating(uint32_t rows, uint32_t cols, double period, double angle, double amplitude,
              double noise_sigma = 0, uint32_t seed = 1) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, noise_sigma > 0 ? noise_sigma : 1);
    Image img(size_t{rows} * cols);
    const double c = std::cos(angle), s = std::sin(angle);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            double v = 128 + amplitude * std::cos(2 * M_PI * (x * c + y * s) / period);
            if (noise_sigma > 0) v += noise(rng);
            img[y * cols + x] = static_cast<uint8_t>(std::clamp(std::lround(v), 0l, 255l));
        }
    return img;
}

// Pearson correlation of two images, optionally ignoring a border.
double correlation(const Image& a, const Image& b, uint32_t rows, uint32_t cols, uint32_t border) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, n = 0;
    for (uint32_t y = border; y + border < rows; ++y)
        for (uint32_t x = border; x + border < cols; ++x) {
            const double u = a[y * cols + x], v = b[y * cols + x];
            sa += u; sb += v; saa += u * u; sbb += v * v; sab += u * v; n += 1;
        }
    const double cov = sab - sa * sb / n;
    return cov / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
}

}  // namespace

TEST(BandpassKernels, ListedRowsAndLayout) {
    struct Listed {
        int32_t centre;
        std::vector<int> row0;
    };
    const Listed listed[] = {
        {250, {0, 5, 19, 41, 68, 98, 129, 158, 184, 206, 223, 236, 246, 253, 255, 251, 243, 230,
               213, 193, 171, 148, 124, 101, 78, 57, 39, 23, 12, 4, 0, 0, 0}},
        {339, {0, 9, 33, 68, 108, 147, 181, 208, 227, 239, 247, 251}},
        {374, {0, 10, 39, 80, 124, 165, 199, 222, 238, 247, 251, 254}},
        {397, {0, 12, 44, 88, 135, 177, 208, 230, 243, 250, 253, 254}},
        {508, {0, 19, 68, 128, 181, 218, 239, 249, 253, 255, 255, 248, 234, 213, 188, 159, 128, 97,
               67, 42, 22, 7, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {547, {0, 22, 77, 141, 194, 228, 245, 252, 254, 255, 250, 236}},
        {594, {0, 26, 88, 156, 208, 237, 249, 254, 255, 252, 239, 216}},
        {667, {0, 32, 105, 178, 225, 246, 253, 255, 252, 237, 210, 175}},
        {1000, {0, 66, 178, 238, 253, 255, 237, 194, 136, 75, 27, 2, 0}},
    };
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(listed[i].centre);
        ASSERT_EQ(kBandpassClassCentres[i], listed[i].centre);
        const uint8_t* k = kBandpassKernels[i];
        for (size_t kx = 0; kx < listed[i].row0.size(); ++kx)
            EXPECT_NEAR(k[kx], listed[i].row0[kx], 3) << "kx " << kx;
        EXPECT_EQ(k[0], 0);
        EXPECT_EQ(*std::max_element(k, k + 64 * 33), 255);
        for (int kx = 0; kx <= 32; ++kx) {
            EXPECT_EQ(k[32 * 33 + kx], 0);
            for (int r = 1; r < 32; ++r) ASSERT_EQ(k[r * 33 + kx], k[(64 - r) * 33 + kx]);
        }
    }
}

TEST(BilateralWeights, GaussianOfSigma85Steps) {
    for (int i = 0; i < 256; ++i)
        EXPECT_NEAR(kBilateralWeights[i], 255 * std::exp(-4.5 * (i / 255.0) * (i / 255.0)), 0.5001);
    EXPECT_EQ(kBilateralWeights[0], 255);
    EXPECT_EQ(kBilateralWeights[100], 128);
    EXPECT_EQ(kBilateralWeights[255], 3);
}

TEST(BandpassFilter, ResolutionClassesPickTheirKernel) {
    const uint32_t rows = 96, cols = 80;
    const Image src = grating(rows, cols, 9, 0.4, 60, 25, 5);
    auto band = [&](int32_t resolution) {
        Image out(src.size());
        EXPECT_EQ(bal_bandpass_filter(src.data(), rows, cols, resolution, out.data()), BAL_OK);
        return out;
    };
    auto generic = [&](int32_t resolution) {
        Image out(src.size());
        EXPECT_EQ(bal_generic_bandpass_filter(src.data(), rows, cols, resolution, 201, 0, 1280, 512,
                                              out.data()),
                  BAL_OK);
        return out;
    };
    EXPECT_EQ(band(250), band(266));
    EXPECT_NE(band(250), band(267));
    EXPECT_EQ(band(267), generic(267));
    EXPECT_EQ(band(322), generic(322));
    EXPECT_EQ(band(385), band(374));
    EXPECT_NE(band(385), band(397));
}

TEST(BandpassFilter, KeepsTheRidgesAndRemovesFineNoise) {
    const uint32_t rows = 176, cols = 96;
    const Image clean = grating(rows, cols, 9, 0.7, 50);
    const Image noisy = grating(rows, cols, 9, 0.7, 50, 40, 9);
    Image filtered(noisy.size());
    ASSERT_EQ(bal_bandpass_filter(noisy.data(), rows, cols, 500, filtered.data()), BAL_OK);
    EXPECT_GT(correlation(filtered, clean, rows, cols, 4), correlation(noisy, clean, rows, cols, 4) + 0.1);
    // The band stop keeps what the band-pass removes: here mostly noise.
    Image stopped(noisy.size());
    ASSERT_EQ(bal_inverted_bandpass_filter(noisy.data(), rows, cols, 500, stopped.data()), BAL_OK);
    EXPECT_LT(std::abs(correlation(stopped, clean, rows, cols, 4)), 0.3);
}

TEST(BandpassFilter, ConstantImagePassesTheBandStop) {
    const uint32_t rows = 70, cols = 90;
    for (uint8_t value : {0, 90, 200, 255}) {
        const Image src(size_t{rows} * cols, value);
        Image out(src.size());
        ASSERT_EQ(bal_inverted_bandpass_filter(src.data(), rows, cols, 508, out.data()), BAL_OK);
        for (uint8_t v : out) ASSERT_NEAR(v, value, 1);
    }
}

TEST(BandpassFilter, UnsupportedEntriesLeaveTheOutputAlone) {
    const uint32_t rows = 64, cols = 64;
    const Image src = grating(rows, cols, 8, 0, 40);
    Image out(src.size(), 3);
    EXPECT_EQ(bal_highpass_filter(src.data(), rows, cols, 0, 1, out.data()), BAL_UNSUPPORTED);
    EXPECT_EQ(bal_lowpass_filter(src.data(), rows, cols, 0, 1, out.data()), BAL_UNSUPPORTED);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t v) { return v == 3; }));
}

TEST(AdaptiveBandpass, KeepsTheDominantOrientation) {
    const uint32_t rows = 128, cols = 128;
    const Image ridges = grating(rows, cols, 9, 0.3, 45);
    // Weaker crossing pattern at a different period and direction.
    const Image crossing = grating(rows, cols, 6, 1.9, 25);
    Image mixed(ridges.size());
    for (size_t i = 0; i < mixed.size(); ++i) mixed[i] = static_cast<uint8_t>(ridges[i] + crossing[i] - 128);
    const uint32_t percentages[3] = {10, 10, 40};
    Image out(mixed.size());
    ASSERT_EQ(bal_adaptive_bandpass_filter(mixed.data(), rows, cols, 0, percentages, out.data()), BAL_OK);
    EXPECT_GT(correlation(out, ridges, rows, cols, 8), 0.9);
    EXPECT_LT(correlation(mixed, ridges, rows, cols, 8), 0.9);
}

TEST(AdaptiveBandpass, CallbackKeepsTheRingAndTheSectorsGrownFromThePeak) {
    // Half spectrum of a 64-point block: a flat floor (rendered magnitude 8)
    // and one strong entry at (ky 0, kx 8) (rendered 200), which with its
    // mirror lies in sector 0. With {10, 10, 40} per cent the ring runs from
    // radius 5 to 15, and the sectors grow from 0 towards increasing
    // index (ties go right) until they hold 40 per cent of the mean energy.
    const int32_t n = 64, stride = 33;
    std::vector<int32_t> re(n * stride, 8 * 256), im(n * stride, 0);
    re[0] = 256 * 100;                 // DC
    re[0 * stride + 8] = 256 * 200;    // (0, 8)
    const uint32_t percentages[3] = {10, 10, 40};
    const std::vector<int32_t> before = re;
    ASSERT_EQ(adaptive_bandpass_filter(re.data(), im.data(), 64, nullptr, 0,
                                       const_cast<uint32_t*>(percentages)),
              BAL_OK);
    auto kept = [&](int ky, int kx) {
        const int r = (ky + n) % n;
        return re[r * stride + kx] == before[r * stride + kx];
    };
    EXPECT_TRUE(kept(0, 0));     // DC always passes
    EXPECT_TRUE(kept(0, 8));     // the peak
    EXPECT_TRUE(kept(3, 8));     // 20 degrees towards increasing rows: sector 1
    EXPECT_FALSE(kept(-3, 8));   // 20 degrees the other way: sector 14
    EXPECT_FALSE(kept(8, 0));    // across the peak's direction: sector 8
    EXPECT_FALSE(kept(0, 2));    // inside the ring
    EXPECT_FALSE(kept(0, 24));   // outside the ring
    EXPECT_FALSE(kept(20, 20));
}

TEST(SFT8, DominantPeriod) {
    std::vector<uint8_t> cosine(64);
    for (int k = 0; k < 64; ++k) cosine[k] = static_cast<uint8_t>(std::lround(128 + 100 * std::cos(2 * M_PI * 8 * k / 64)));
    EXPECT_EQ(bal_SFT_8(cosine.data(), 4, 12, 64), 2048);
    EXPECT_EQ(bal_SFT_8(cosine.data(), 12, 4, 64), 0);
    EXPECT_EQ(bal_SFT_8(cosine.data(), 4, 12, 0), 0);
    // Full contrast over long lines: 32-bit sums would wrap here.
    for (int cycles : {5, 9, 13}) {
        for (uint32_t n : {64u, 256u, 1024u}) {
            std::vector<uint8_t> line(n);
            for (uint32_t k = 0; k < n; ++k)
                line[k] = static_cast<uint8_t>(std::lround(127.5 + 127.5 * std::cos(2 * M_PI * cycles * k / n)));
            EXPECT_EQ(bal_SFT_8(line.data(), 3, 16, n), int32_t((n << 8) / cycles)) << n << " " << cycles;
        }
    }
}

TEST(BilateralFilter, SmoothsFlatAreasAndKeepsEdges) {
    const uint32_t rows = 40, cols = 40;
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0, 6);
    Image src(size_t{rows} * cols);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x)
            src[y * cols + x] = static_cast<uint8_t>(std::clamp(std::lround((x < 20 ? 60 : 190) + noise(rng)), 0l, 255l));
    Image out(src.size());
    ASSERT_EQ(bal_bilateral_filter(src.data(), rows, cols, 3, nullptr, out.data()), BAL_OK);
    double in_dev = 0, out_dev = 0;
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            const double target = x < 20 ? 60 : 190;
            in_dev += std::abs(src[y * cols + x] - target);
            out_dev += std::abs(out[y * cols + x] - target);
            // The edge survives: no pixel is pulled across it.
            ASSERT_LT(std::abs(out[y * cols + x] - target), 30) << y << "," << x;
        }
    EXPECT_LT(out_dev, in_dev * 0.7);

    Image in_place = src;
    ASSERT_EQ(bal_bilateral_filter(in_place.data(), rows, cols, 3, nullptr, in_place.data()), BAL_OK);
    EXPECT_EQ(in_place, out);
}

TEST(BilateralFilter, IsolatedPixelKeepsItsValue) {
    // With the source as guide and radius 1, a pixel whose neighbours all differ
    // from it by more than the range cut-off is averaged only with itself.
    const uint32_t rows = 50, cols = 50;
    Image src(rows * cols);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(10 + i % 3);
    src[25 * cols + 25] = 250;
    Image out(src.size());
    ASSERT_EQ(bal_bilateral_filter(src.data(), rows, cols, 1, nullptr, out.data()), BAL_OK);
    EXPECT_EQ(out[25 * cols + 25], 250);
}

TEST(BilateralFilter, FlatGuideAveragesEqualLevelsOnly) {
    const uint32_t rows = 6, cols = 6;
    Image src(rows * cols);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 7);
    const Image guide(src.size(), 100);
    Image out(src.size());
    ASSERT_EQ(bal_bilateral_filter(src.data(), rows, cols, 1, guide.data(), out.data()), BAL_OK);
    // Every neighbour has the guide's level, so each output is a spatially
    // weighted mean of the source window: between its minimum and maximum.
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            int lo = 255, hi = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int yy = int(y) + dy, xx = int(x) + dx;
                    if (yy < 0 || xx < 0 || yy >= int(rows) || xx >= int(cols)) continue;
                    lo = std::min<int>(lo, src[yy * cols + xx]);
                    hi = std::max<int>(hi, src[yy * cols + xx]);
                }
            EXPECT_GE(out[y * cols + x], lo);
            EXPECT_LE(out[y * cols + x], hi);
        }
}

TEST(WienerFilter, NoiseLevelSetsTheGain) {
    const uint32_t rows = 30, cols = 34;
    const Image src = grating(rows, cols, 7, 0.5, 40, 10, 4);
    Image out(src.size());
    ASSERT_EQ(bal_wiener_filter(src.data(), rows, cols, 0, 2, out.data()), BAL_OK);
    EXPECT_EQ(out, src);  // gain 1 wherever the variance is not 0, the source elsewhere

    Image smoothed(src.size());
    ASSERT_EQ(bal_wiener_filter(src.data(), rows, cols, 60000, 2, smoothed.data()), BAL_OK);
    Image mean = src;
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(bal_blur_uint8(mean.data(), rows, cols, mean.data()), BAL_OK);
    EXPECT_EQ(smoothed, mean);  // variance below the noise level everywhere: the local mean

    const Image flat(src.size(), 77);
    Image flat_out(src.size());
    ASSERT_EQ(bal_wiener_filter(flat.data(), rows, cols, -1, 2, flat_out.data()), BAL_OK);
    EXPECT_EQ(flat_out, flat);

    Image in_place = src;
    Image estimated(src.size());
    ASSERT_EQ(bal_wiener_filter(src.data(), rows, cols, -1, 2, estimated.data()), BAL_OK);
    ASSERT_EQ(bal_wiener_filter(in_place.data(), rows, cols, -1, 2, in_place.data()), BAL_OK);
    EXPECT_EQ(in_place, estimated);
}
