#include "imaging/bal_quality.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "fp_test_data.h"

namespace {

using Image = std::vector<uint8_t>;

Image noisy_copy(const Image& img, double sigma, uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, sigma);
    Image out(img.size());
    for (size_t i = 0; i < img.size(); ++i)
        out[i] = static_cast<uint8_t>(std::clamp(std::lround(img[i] + noise(rng)), 0l, 255l));
    return out;
}

struct Quality {
    bal_status status;
    uint8_t quality;
    uint32_t area;
    uint8_t condition;
};

Quality measure(const Image& img, uint32_t rows, uint32_t cols) {
    Quality q{};
    q.status = bal_image_quality(img.data(), rows, cols, &q.quality, &q.area, &q.condition);
    return q;
}

}  // namespace

TEST(ImageQuality, RealCapturesScoreWellAboveTheGate) {
    FP_REQUIRE_CAPTURES();
    std::vector<int> scores;
    for (const auto& path : fp_test::capture_paths()) {
        const fp_test::GreyImage img = fp_test::read_pgm(path);
        ASSERT_EQ(img.rows, 176u) << path;
        const Quality q = measure(img.pixels, img.rows, img.cols);
        ASSERT_EQ(q.status, BAL_OK);
        EXPECT_GT(q.quality, 0) << path;
        EXPECT_GT(q.area, 0u);
        EXPECT_LE(q.area, 176u * 96u);
        scores.push_back(q.quality);
    }
    std::sort(scores.begin(), scores.end());
    // A few captures of one finger are faint and dry (broken, dotted ridges)
    // and score low; the set as a whole is well above the gate of 20.
    const size_t below_gate = std::count_if(scores.begin(), scores.end(), [](int s) { return s < 20; });
    EXPECT_LE(below_gate * 50, scores.size());
    EXPECT_GE(scores[scores.size() / 2], 60);
    EXPECT_GE(scores[scores.size() / 10], 35);
    std::printf("quality over %zu captures: min %d, median %d, max %d\n", scores.size(),
                scores.front(), scores[scores.size() / 2], scores.back());
}

TEST(ImageQuality, BlankFlatAndNoiseImagesScoreBelowTheGate) {
    const uint32_t rows = 176, cols = 96;
    std::mt19937 rng(11);
    Image noise(rows * cols);
    for (auto& v : noise) v = static_cast<uint8_t>(rng());
    Image gradient(rows * cols);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) gradient[y * cols + x] = static_cast<uint8_t>(y + x / 2);
    for (const Image& img : {Image(rows * cols, 255), Image(rows * cols, 128), Image(rows * cols, 0),
                             gradient, noise}) {
        const Quality q = measure(img, rows, cols);
        EXPECT_EQ(q.status, BAL_OK);
        EXPECT_LT(q.quality, 20);
    }
}

TEST(ImageQuality, FallsAsNoiseIsAdded) {
    FP_REQUIRE_CAPTURES();
    const auto paths = fp_test::capture_paths();
    int falls = 0, cases = 0;
    for (size_t k = 0; k < paths.size(); k += 16) {
        const fp_test::GreyImage img = fp_test::read_pgm(paths[k]);
        const uint8_t clean = measure(img.pixels, img.rows, img.cols).quality;
        const uint8_t light = measure(noisy_copy(img.pixels, 25, 1), img.rows, img.cols).quality;
        const uint8_t heavy = measure(noisy_copy(img.pixels, 80, 2), img.rows, img.cols).quality;
        ++cases;
        if (clean >= light && light > heavy) ++falls;
        EXPECT_LT(heavy, clean) << paths[k];
    }
    EXPECT_GE(falls, cases - 1);
}

TEST(ImageQuality, ImageSmallerThanABlockIsNotMeasured) {
    const Image img(11 * 40, 100);
    Quality q{BAL_UNSUPPORTED, 9, 9, 9};
    q.status = bal_image_quality(img.data(), 11, 40, &q.quality, &q.area, &q.condition);
    EXPECT_EQ(q.status, BAL_OK);
    EXPECT_EQ(q.quality, 0);
    EXPECT_EQ(q.area, 0u);
    EXPECT_EQ(q.condition, 0);
}

TEST(ImageQualityQual, ScoresFromCoherence) {
    struct Case {
        std::vector<uint8_t> coherence;
        uint8_t quality;
    };
    const Case cases[] = {
        {std::vector<uint8_t>(10, 255), 100},
        {std::vector<uint8_t>(10, 128), 33},
        {std::vector<uint8_t>(10, 0), 1},
        {{200, 200, 200, 200, 200, 50, 50, 50, 50, 50}, 31},
    };
    const std::vector<uint8_t> mask(10, 1);
    for (const Case& c : cases) {
        uint8_t quality = 0;
        uint32_t area = 0;
        ASSERT_EQ(bal_image_quality_qual(nullptr, 24, 60, 2, 5, 12, mask.data(), c.coherence.data(),
                                         24, 60, &quality, &area, 1),
                  BAL_OK);
        EXPECT_EQ(quality, c.quality);
        EXPECT_EQ(area, 24u * 60u);
    }
    const std::vector<uint8_t> none(10, 0);
    uint8_t quality = 7;
    uint32_t area = 7;
    ASSERT_EQ(bal_image_quality_qual(nullptr, 24, 60, 2, 5, 12, none.data(), cases[0].coherence.data(),
                                     24, 60, &quality, &area, 1),
              BAL_OK);
    EXPECT_EQ(quality, 0);
    EXPECT_EQ(area, 0u);
}

TEST(ImageQualityQual, AreaScalesToTheFullImage) {
    std::vector<uint8_t> mask(20 * 16, 0), coherence(20 * 16, 200);
    std::fill(mask.begin(), mask.begin() + 100, 1);
    uint8_t quality = 0;
    uint32_t area = 0;
    ASSERT_EQ(bal_image_quality_qual(nullptr, 240, 192, 20, 16, 12, mask.data(), coherence.data(), 245,
                                     200, &quality, &area, 1),
              BAL_OK);
    EXPECT_EQ(area, 15312u);
    // A large frame whose 32-bit products would wrap.
    std::vector<uint8_t> full_mask(20 * 16, 1);
    ASSERT_EQ(bal_image_quality_qual(nullptr, 240, 192, 20, 16, 12, full_mask.data(), coherence.data(),
                                     60000, 50000, &quality, &area, 1),
              BAL_OK);
    EXPECT_EQ(area, 60000u * 50000u);
}

TEST(FingerPresence, UniformImagesHaveNoFinger) {
    const Image grey(300 * 300, 128);
    EXPECT_EQ(bal_finger_is_present(grey.data(), 300, 300), 0u);
    EXPECT_EQ(bal_finger_is_present(grey.data(), 10, 300), 0u);  // no whole block
}

TEST(FingerPresence, RealCapturesHaveAFinger) {
    FP_REQUIRE_CAPTURES();
    for (const auto& path : fp_test::capture_paths()) {
        const fp_test::GreyImage img = fp_test::read_pgm(path);
        EXPECT_EQ(bal_finger_is_present(img.pixels.data(), img.rows, img.cols), 1u) << path;
    }
}

TEST(ImageQualityCond, NeedsThreeBlockRowsAndColumns) {
    const Image img(24 * 60, 200);
    const std::vector<uint8_t> mask(2 * 5, 1);
    uint8_t condition = 9;
    EXPECT_EQ(bal_image_quality_cond(img.data(), 24, 60, 2, 5, 12, mask.data(), &condition), BAL_OK);
    EXPECT_EQ(condition, 0);
}

TEST(ImageQualityCond, CountsBrightPixelsOfInteriorBlocks) {
    // 3 x 3 blocks of 8: only the centre block is interior; its left half is bright.
    Image img(24 * 24, 0);
    for (uint32_t y = 0; y < 24; ++y)
        for (uint32_t x = 0; x < 24; ++x) img[y * 24 + x] = x < 12 ? 250 : 5;
    std::vector<uint8_t> mask(9, 1);
    uint8_t condition = 0;
    ASSERT_EQ(bal_image_quality_cond(img.data(), 24, 24, 3, 3, 8, mask.data(), &condition), BAL_OK);
    EXPECT_NEAR(condition, 50, 13);
    mask[1] = 0;  // an edge neighbour missing: no block counts
    ASSERT_EQ(bal_image_quality_cond(img.data(), 24, 24, 3, 3, 8, mask.data(), &condition), BAL_OK);
    EXPECT_EQ(condition, 0);
    mask[1] = 1;
    mask[0] = 0;  // diagonal neighbours do not matter
    ASSERT_EQ(bal_image_quality_cond(img.data(), 24, 24, 3, 3, 8, mask.data(), &condition), BAL_OK);
    EXPECT_NEAR(condition, 50, 13);
}

TEST(SignalToNoise, FlatAndTinyImages) {
    const Image flat(64 * 64, 120);
    uint8_t ratio = 9, signal = 9, noise = 9;
    ASSERT_EQ(bal_image_quality_signal_to_noise_ratio(flat.data(), 64, 64, 500, &ratio, &signal, &noise), BAL_OK);
    EXPECT_EQ(ratio, 0);
    EXPECT_EQ(signal, 0);
    const Image tiny(10 * 40, 50);
    ASSERT_EQ(bal_image_quality_signal_to_noise_ratio(tiny.data(), 10, 40, 500, &ratio, nullptr, nullptr), BAL_OK);
    EXPECT_EQ(ratio, 0);
}

TEST(SignalToNoise, LargeImageRatioAgreesWithItsSignalAndNoiseLevels) {
    // 1024 x 1024: 4096 blocks, whose ratio product (blocks x 8 x signal sum)
    // is far beyond 32 bits. The ratio must still be 8 x signal / noise within
    // the truncation of the two reported levels.
    const uint32_t rows = 1024, cols = 1024;
    std::mt19937 rng(21);
    std::normal_distribution<double> noise(0, 12);
    Image img(size_t{rows} * cols);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x)
            img[size_t{y} * cols + x] = static_cast<uint8_t>(std::clamp(
                std::lround(128 + 60 * std::cos(2 * M_PI * (0.8 * x + 0.6 * y) / 9) + noise(rng)), 0l,
                255l));
    uint8_t ratio = 0, signal = 0, level = 0;
    ASSERT_EQ(bal_image_quality_signal_to_noise_ratio(img.data(), rows, cols, 500, &ratio, &signal,
                                                      &level),
              BAL_OK);
    ASSERT_GT(signal, 0);
    ASSERT_GT(level, 0);
    const double low = 8.0 * signal / (level + 1), high = 8.0 * (signal + 1) / level;
    EXPECT_GE(ratio, std::min(255.0, std::floor(low))) << int{signal} << " / " << int{level};
    EXPECT_LE(ratio, std::min(255.0, high)) << int{signal} << " / " << int{level};
}

TEST(SignalToNoise, CleanRidgesBeatNoisyRidges) {
    FP_REQUIRE_CAPTURES();
    const fp_test::GreyImage img = fp_test::read_pgm(fp_test::capture_paths().front());
    uint8_t clean = 0, noisy = 0;
    ASSERT_EQ(bal_image_quality_signal_to_noise_ratio(img.pixels.data(), img.rows, img.cols, 500, &clean,
                                                      nullptr, nullptr),
              BAL_OK);
    const Image degraded = noisy_copy(img.pixels, 40, 5);
    ASSERT_EQ(bal_image_quality_signal_to_noise_ratio(degraded.data(), img.rows, img.cols, 500, &noisy,
                                                      nullptr, nullptr),
              BAL_OK);
    EXPECT_GT(clean, noisy);
}

TEST(DynamicRangeAndSharpness, GrowWithContrast) {
    const uint32_t rows = 64, cols = 64;
    Image low(rows * cols), high(rows * cols);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            const double v = std::cos(2 * M_PI * x / 8);
            low[y * cols + x] = static_cast<uint8_t>(128 + 20 * v);
            high[y * cols + x] = static_cast<uint8_t>(128 + 100 * v);
        }
    uint8_t range_low = 0, range_high = 0, sharp_low = 0, sharp_high = 0;
    ASSERT_EQ(bal_image_dynamic_range(low.data(), rows, cols, 500, &range_low), BAL_OK);
    ASSERT_EQ(bal_image_dynamic_range(high.data(), rows, cols, 500, &range_high), BAL_OK);
    EXPECT_NEAR(range_low, 40, 3);
    EXPECT_NEAR(range_high, 200, 3);
    ASSERT_EQ(bal_image_sharpness(low.data(), rows, cols, 500, &sharp_low), BAL_OK);
    ASSERT_EQ(bal_image_sharpness(high.data(), rows, cols, 500, &sharp_high), BAL_OK);
    EXPECT_GT(sharp_high, sharp_low);
    const Image flat(rows * cols, 77);
    ASSERT_EQ(bal_image_sharpness(flat.data(), rows, cols, 500, &sharp_low), BAL_OK);
    EXPECT_EQ(sharp_low, 0);
}

TEST(ImageDifference, CountsChangedPixelsAt250Dpi) {
    const uint32_t rows = 40, cols = 30;
    Image a(rows * cols);
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>((i * 37) % 256);
    EXPECT_EQ(bal_image_difference(a.data(), a.data(), rows, cols), 0u);
    EXPECT_EQ(bal_image_difference_scale(a.data(), a.data(), rows, cols, 2), 0u);
    Image b = a;
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(255 - a[i]);
    const uint32_t full = bal_image_difference_scale(a.data(), b.data(), rows, cols, 2);
    EXPECT_GT(full, rows * cols / 2);
    EXPECT_LE(full, rows * cols);
    EXPECT_EQ(bal_image_difference(a.data(), b.data(), rows, cols) % 4, 0u);
}

TEST(QualityFromReliability, MapsToOneToNinetyNineInsideTheMask) {
    const uint32_t block_rows = 4, block_cols = 3, block = 12;
    const std::vector<uint8_t> high(block_rows * block_cols, 255);
    std::vector<uint8_t> mask(block_rows * block_cols, 1);
    mask[5] = 0;
    Image dst(48 * 36);
    ASSERT_EQ(bal_quality_from_reliability(high.data(), mask.data(), block_rows, block_cols, block,
                                           dst.data(), 48, 36),
              BAL_OK);
    // Block (1, 2) is masked out; the interior of the others is near 99.
    for (uint32_t y = 12; y < 24; ++y)
        for (uint32_t x = 24; x < 36; ++x) EXPECT_EQ(dst[y * 36 + x], 0);
    EXPECT_EQ(dst[30 * 36 + 12], 99);
    const std::vector<uint8_t> zero(block_rows * block_cols, 0);
    ASSERT_EQ(bal_quality_from_reliability(zero.data(), mask.data(), block_rows, block_cols, block,
                                           dst.data(), 48, 36),
              BAL_OK);
    EXPECT_EQ(dst[30 * 36 + 12], 1);
}

TEST(QualityImageToField, SamplesCellCentres) {
    const uint16_t rows = 60, cols = 40;
    Image quality(rows * cols);
    for (size_t i = 0; i < quality.size(); ++i) quality[i] = static_cast<uint8_t>(i % 97 + 1);
    zr_zonal_quality_field field{};
    ASSERT_EQ(bal_quality_image_to_field(quality.data(), rows, cols, rows, cols, 0, 0, 12, 12, &field), BAL_OK);
    ASSERT_NE(field.cells, nullptr);
    EXPECT_EQ(field.field_rows, rows / 12 + 1);
    EXPECT_EQ(field.field_cols, cols / 12 + 1);
    for (int r = 0; r < field.field_rows; ++r)
        for (int c = 0; c < field.field_cols; ++c) {
            const int y = r * 12 + 6, x = c * 12 + 6;
            const uint8_t expected = y < rows && x < cols ? quality[y * cols + x] : 0;
            EXPECT_EQ(field.cells[r * field.field_cols + c], expected) << r << "," << c;
        }
    std::free(field.cells);

    // The source placed at (20, 10) inside a 100 x 80 frame: the first cell
    // whose centre lies inside it is (2, 1), at source pixel (10, 8).
    zr_zonal_quality_field framed{};
    ASSERT_EQ(bal_quality_image_to_field(quality.data(), 100, 80, rows, cols, 20, 10, 12, 12, &framed), BAL_OK);
    EXPECT_EQ(framed.field_rows, 100 / 12 + 1);
    EXPECT_EQ(framed.cells[0], 0);
    EXPECT_EQ(framed.cells[2 * framed.field_cols + 1], quality[10 * cols + 8]);
    EXPECT_EQ(framed.cells[3 * framed.field_cols + 2], quality[22 * cols + 20]);
    std::free(framed.cells);
}

TEST(QualityImageToField, SourcesBeyond65536PixelsAreSampledWhole) {
    // 300 x 250 = 75000 pixels: indices past 65535 must not wrap.
    const uint16_t rows = 300, cols = 250;
    Image quality(size_t{rows} * cols);
    for (size_t i = 0; i < quality.size(); ++i) quality[i] = static_cast<uint8_t>(i % 251);
    zr_zonal_quality_field field{};
    ASSERT_EQ(bal_quality_image_to_field(quality.data(), rows, cols, rows, cols, 0, 0, 12, 12, &field), BAL_OK);
    for (int r = 0; r < field.field_rows; ++r)
        for (int c = 0; c < field.field_cols; ++c) {
            const int y = r * 12 + 6, x = c * 12 + 6;
            const uint8_t expected = y < rows && x < cols ? quality[size_t(y) * cols + x] : 0;
            ASSERT_EQ(field.cells[r * field.field_cols + c], expected) << r << "," << c;
        }
    std::free(field.cells);
}

TEST(QualityImageToField, OddCellsNeverSampleBeforeTheSource) {
    // Outside the contract (cells are even), but an odd cell with an offset
    // puts the first centre one pixel before the source: it must stay 0.
    const uint16_t rows = 20, cols = 16;
    Image quality(size_t{rows} * cols);
    for (size_t i = 0; i < quality.size(); ++i) quality[i] = static_cast<uint8_t>(i % 97 + 1);
    zr_zonal_quality_field field{};
    ASSERT_EQ(bal_quality_image_to_field(quality.data(), 30, 24, rows, cols, 2, 2, 3, 3, &field), BAL_OK);
    for (int r = 0; r < field.field_rows; ++r)
        for (int c = 0; c < field.field_cols; ++c) {
            const int y = r * 3 + 1 - 2, x = c * 3 + 1 - 2;
            const bool inside = y >= 0 && y < rows && x >= 0 && x < cols;
            EXPECT_EQ(field.cells[r * field.field_cols + c], inside ? quality[size_t(y) * cols + x] : 0)
                << r << "," << c;
        }
    std::free(field.cells);
}

TEST(SetPartToWhite, CentredWindowWithFadedRings) {
    const uint16_t n = 160;
    Image src(n * n);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(40 + i % 50);
    Image dst(src.size(), 1);
    ASSERT_EQ(bal_image_set_part_to_white(src.data(), n, n, 101, dst.data()), BAL_BAD_ARGUMENT);
    EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t v) { return v == 1; }));
    ASSERT_EQ(bal_image_set_part_to_white(src.data(), n, n, 0, dst.data()), BAL_OK);
    EXPECT_EQ(dst, src);
    Image in_place = src;
    ASSERT_EQ(bal_image_set_part_to_white(in_place.data(), n, n, 0, in_place.data()), BAL_OK);
    EXPECT_EQ(in_place, src);

    ASSERT_EQ(bal_image_set_part_to_white(src.data(), n, n, 50, dst.data()), BAL_OK);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const uint8_t v = dst[y * n + x];
            const bool in_k = y >= 22 && y <= 136 && x >= 22 && x <= 136;
            const bool on_ring = y <= 23 || y >= 135 || x <= 23 || x >= 135;
            if (!in_k) {
                ASSERT_EQ(v, 255) << y << "," << x;
            } else if (!on_ring) {
                ASSERT_EQ(v, src[y * n + x]) << y << "," << x;
            } else {
                ASSERT_GT(v, 40) << y << "," << x;  // faded toward white, then smoothed
            }
        }
}
