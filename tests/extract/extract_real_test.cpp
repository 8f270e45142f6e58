// Extraction on the real captures of the shared data set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "extract/bal_extract.h"
#include "extract/bal_ridge_features.h"
#include "extract_fixtures.h"
#include "fp_test_data.h"
#include "imaging/bal_crop_resize.h"
#include "imaging/bal_scale.h"
#include "math/zr_crc32.h"

namespace {

using extract_test::has_near;
using extract_test::Request;
using extract_test::Result;
using extract_test::run;
using fp_test::kSensorCols;
using fp_test::kSensorRows;

// What the first feature callback saw of the processed region.
struct Processed {
    uint32_t rows = 0;
    uint32_t cols = 0;
    uint32_t block = 0;
    std::vector<uint8_t> block_mask;
};
Processed g_processed;

bal_status record_processed(const bal_extraction_image* image, uint8_t*, const uint8_t* mask,
                            uint32_t block, uint32_t, const uint8_t*, zr_template_container*,
                            uint32_t) {
    g_processed.rows = image->rows;
    g_processed.cols = image->cols;
    g_processed.block = block;
    g_processed.block_mask.assign(mask, mask + (image->rows / block) * (image->cols / block));
    return BAL_OK;
}

std::vector<fp_test::GreyImage> all_captures() {
    std::vector<fp_test::GreyImage> images;
    for (const auto& path : fp_test::capture_paths()) images.push_back(fp_test::read_pgm(path));
    return images;
}

double fraction(size_t part, size_t whole) { return whole ? double(part) / double(whole) : 0; }

TEST(ExtractCaptures, EveryCaptureGivesPlausibleMinutiaeAndFields) {
    FP_REQUIRE_CAPTURES();
    const auto captures = all_captures();
    ASSERT_EQ(160u, captures.size());
    std::vector<size_t> counts;
    std::vector<uint8_t> all_minutiae;  // for a checksum to compare between builds
    size_t both_types = 0, periods = 0, periods_in_range = 0;
    size_t finger_blocks = 0, frequency_in_range = 0;
    for (const auto& img : captures) {
        ASSERT_EQ(kSensorRows, img.rows);
        const Result r = run(img.pixels, img.rows, img.cols,
                             {.flags = BAL_EXTRACT_FEATURE_CALLBACKS,
                              .fields = true,
                              .callback1 = record_processed});
        ASSERT_EQ(BAL_OK, r.status);
        EXPECT_EQ(180u, g_processed.rows);
        EXPECT_EQ(96u, g_processed.cols);
        counts.push_back(r.minutiae.size());
        const auto* bytes = reinterpret_cast<const uint8_t*>(r.minutiae.data());
        all_minutiae.insert(all_minutiae.end(), bytes, bytes + r.minutiae.size() * sizeof(minutia));
        bool ending = false, bifurcation = false;
        for (const minutia& m : r.minutiae) {
            EXPECT_GE(m.row, 0);
            EXPECT_LT(m.row, int32_t(kSensorRows));
            EXPECT_GE(m.col, 0);
            EXPECT_LT(m.col, int32_t(kSensorCols));
            EXPECT_GE(m.quality, 10);
            EXPECT_LE(m.quality, 100);
            ASSERT_TRUE(m.type == ZR_MINUTIA_ENDING || m.type == ZR_MINUTIA_BIFURCATION);
            ending |= m.type == ZR_MINUTIA_ENDING;
            bifurcation |= m.type == ZR_MINUTIA_BIFURCATION;
            ++periods;
            periods_in_range += m.ridge_period >= 2 && m.ridge_period <= 8;
        }
        both_types += ending && bifurcation;
        ASSERT_EQ(g_processed.block_mask.size(), r.frequency.size());
        for (size_t i = 0; i < r.frequency.size(); ++i) {
            if (!g_processed.block_mask[i]) {
                EXPECT_EQ(0, r.frequency[i]);
                EXPECT_EQ(0, r.orientation[i]);
                continue;
            }
            ++finger_blocks;
            frequency_in_range += r.frequency[i] >= 70 && r.frequency[i] <= 150;
        }
    }
    std::sort(counts.begin(), counts.end());
    const size_t median = counts[counts.size() / 2];
    std::printf("[ minutiae ] %zu captures: min %zu, median %zu, max %zu; both types on %zu; "
                "ridge-period bytes 2..8: %.1f %%; frequency bytes 70..150 on finger blocks: "
                "%.1f %%; checksum %08x\n",
                counts.size(), counts.front(), median, counts.back(), both_types,
                100 * fraction(periods_in_range, periods),
                100 * fraction(frequency_in_range, finger_blocks),
                zr_crc32(all_minutiae.data(), uint32_t(all_minutiae.size())));
    EXPECT_GE(median, 5u);
    EXPECT_LE(counts.back(), 60u);
    EXPECT_GE(fraction(both_types, counts.size()), 0.6);
    EXPECT_GE(fraction(periods_in_range, periods), 0.8);
    EXPECT_GE(fraction(frequency_in_range, finger_blocks), 0.8);
}

// The ridge-curvature extractor as the main road runs it: the first feature
// callback, on the ridge skeleton after detection, which it leaves unchanged.
TEST(ExtractCaptures, RidgeCurvatureSummaryIsMeasuredAfterDetection) {
    FP_REQUIRE_CAPTURES();
    const auto captures = all_captures();
    size_t measured = 0;
    uint64_t spread = 0, magnitude = 0;
    for (const auto& img : captures) {
        const Result plain = run(img.pixels, img.rows, img.cols);
        const Result r = run(img.pixels, img.rows, img.cols,
                             {.flags = BAL_EXTRACT_FEATURE_CALLBACKS,
                              .callback1 = bal_extract_ridge_curvature});
        ASSERT_EQ(BAL_OK, r.status);
        ASSERT_EQ(plain.minutiae.size(), r.minutiae.size());
        EXPECT_EQ(0, std::memcmp(plain.minutiae.data(), r.minutiae.data(),
                                 r.minutiae.size() * sizeof(minutia)));
        const zr_alignment_summary& a = r.header.alignment;
        if (a.direction_spread == 128 && a.magnitude == 0 && a.magnitude_spread == -1) continue;
        ++measured;
        spread += a.direction_spread;
        magnitude += a.magnitude;
    }
    std::printf("[ curvature] summary measured on %zu of %zu captures; mean direction spread "
                "%.1f, mean magnitude %.1f\n",
                measured, captures.size(), double(spread) / double(measured ? measured : 1),
                double(magnitude) / double(measured ? measured : 1));
    EXPECT_GE(fraction(measured, captures.size()), 0.9);
}

TEST(ExtractCaptures, SecondRunIsByteIdentical) {
    FP_REQUIRE_CAPTURES();
    const auto captures = all_captures();
    const Request everything{.fields = true,
                             .fine_fields = true,
                             .zonal = true,
                             .binarized = true,
                             .singular_points = true};
    for (size_t i = 0; i < captures.size(); i += 8) {
        const auto& img = captures[i];
        const Result a = run(img.pixels, img.rows, img.cols, everything);
        const Result b = run(img.pixels, img.rows, img.cols, everything);
        ASSERT_EQ(BAL_OK, a.status);
        EXPECT_EQ(0, std::memcmp(&a.header, &b.header, sizeof a.header));
        EXPECT_EQ(a.orientation, b.orientation);
        EXPECT_EQ(a.frequency, b.frequency);
        EXPECT_EQ(a.orientation_fine, b.orientation_fine);
        EXPECT_EQ(a.frequency_fine, b.frequency_fine);
        EXPECT_EQ(a.zonal, b.zonal);
        EXPECT_EQ(a.binarized, b.binarized);
        EXPECT_EQ(9 * a.frequency.size(), a.frequency_fine.size());
    }
}

TEST(ExtractCaptures, MaximumKeepsTheBestQualitiesInDetectionOrder) {
    FP_REQUIRE_CAPTURES();
    const auto captures = all_captures();
    size_t checked = 0;
    for (size_t i = 0; i < captures.size(); i += 5) {
        const auto& img = captures[i];
        constexpr uint8_t kQualityDescending = BAL_ORDER_DESCENDING | BAL_ORDER_QUALITY;
        const Result all = run(img.pixels, img.rows, img.cols, {.order = kQualityDescending});
        if (all.minutiae.size() < 6) continue;
        const uint8_t max = uint8_t(all.minutiae.size() / 2);
        const Result some =
            run(img.pixels, img.rows, img.cols, {.max_minutiae = max, .order = kQualityDescending});
        ASSERT_EQ(max, some.minutiae.size());
        EXPECT_EQ(0, std::memcmp(all.minutiae.data(), some.minutiae.data(), max * sizeof(minutia)));
        ++checked;
    }
    EXPECT_GT(checked, 10u);
}

TEST(ExtractCaptures, ValidPixelMaskKeepsOnlyMinutiaeOnValidPixels) {
    FP_REQUIRE_CAPTURES();
    const auto captures = all_captures();
    std::vector<uint8_t> mask(size_t{kSensorRows} * kSensorCols, 0);
    for (uint32_t y = 0; y < kSensorRows; ++y)
        for (uint32_t x = kSensorCols / 2; x < kSensorCols; ++x) mask[y * kSensorCols + x] = 255;
    size_t kept = 0;
    for (size_t i = 0; i < captures.size(); i += 4) {
        const auto& img = captures[i];
        const Result all = run(img.pixels, img.rows, img.cols);
        const Result masked = run(img.pixels, img.rows, img.cols, {.valid_mask = mask.data()});
        ASSERT_EQ(BAL_OK, masked.status);
        std::vector<minutia> expected;
        for (const minutia& m : all.minutiae)
            if (m.col >= int32_t(kSensorCols / 2)) expected.push_back(m);
        ASSERT_EQ(expected.size(), masked.minutiae.size());
        EXPECT_EQ(0, std::memcmp(expected.data(), masked.minutiae.data(),
                                 expected.size() * sizeof(minutia)));
        kept += expected.size();
    }
    EXPECT_GT(kept, 0u);
}

// The whole source images with their foreground centre, from the manifest.
struct FullImage {
    std::string path;
    double centre_row;
    double centre_col;
};

std::vector<FullImage> full_images() {
    std::map<std::string, FullImage> images;
    for (const auto& f : fp_test::manifest_rows(fp_test::captures_dir() / "manifest.tsv")) {
        if (f.size() < 14) continue;
        const std::string path = f[0] + "/full/" + f[1] + "_" + f[4] + ".pgm";
        images[path] = {path, std::stod(f[12]), std::stod(f[13])};
    }
    std::vector<FullImage> out;
    for (const auto& [path, image] : images) out.push_back(image);
    return out;
}

std::vector<uint8_t> window(const fp_test::GreyImage& img, uint32_t top, uint32_t left) {
    std::vector<uint8_t> out(size_t{kSensorRows} * kSensorCols);
    bal_crop_image(img.pixels.data(), img.rows, img.cols, kSensorRows, kSensorCols, int32_t(top),
                   int32_t(left), out.data());
    return out;
}

bool inner(const minutia& m, int32_t margin) {
    return m.row >= margin && m.row < int32_t(kSensorRows) - margin && m.col >= margin &&
           m.col < int32_t(kSensorCols) - margin;
}

// Two windows one block apart: most minutiae of their common part reappear
// moved by 12 rows.
TEST(ExtractCaptures, MinutiaeFollowAShiftOfOneBlock) {
    FP_REQUIRE_CAPTURES();
    constexpr int32_t kShift = 12, kMargin = 24;
    size_t eligible = 0, found = 0;
    for (const FullImage& f : full_images()) {
        const fp_test::GreyImage img = fp_test::read_pgm(fp_test::captures_dir() / f.path);
        ASSERT_GT(img.rows, kSensorRows + kShift);
        const int32_t top = std::clamp(int32_t(f.centre_row) - int32_t(kSensorRows + kShift) / 2, 0,
                                       int32_t(img.rows - kSensorRows - kShift));
        const int32_t left = std::clamp(int32_t(f.centre_col) - int32_t(kSensorCols) / 2, 0,
                                        int32_t(img.cols - kSensorCols));
        const Result a = run(window(img, top, left), kSensorRows, kSensorCols);
        const Result b = run(window(img, top + kShift, left), kSensorRows, kSensorCols);
        ASSERT_EQ(BAL_OK, a.status);
        ASSERT_EQ(BAL_OK, b.status);
        for (minutia m : a.minutiae) {
            m.row = int16_t(m.row - kShift);  // in b's frame
            minutia in_a = m;
            in_a.row = int16_t(m.row + kShift);
            if (!inner(in_a, kMargin) || !inner(m, kMargin)) continue;
            ++eligible;
            found += has_near(b.minutiae, m, 2, 8);
        }
    }
    const double rate = fraction(found, eligible);
    std::printf("[ shift    ] %zu of %zu minutiae found again after a 12-row shift (%.1f %%)\n",
                found, eligible, 100 * rate);
    EXPECT_GT(eligible, 100u);
    EXPECT_GE(rate, 0.7);
}

// Minutiae of `path` that the full path also finds (4 px, 16 steps).
size_t shared_with(const std::vector<minutia>& full, const std::vector<minutia>& other) {
    size_t shared = 0;
    for (const minutia& m : other) shared += has_near(full, m, 4, 16);
    return shared;
}

TEST(ExtractCaptures, FasterPathsFindMostOfTheFullPathsMinutiae) {
    FP_REQUIRE_CAPTURES();
    const auto captures = all_captures();
    size_t full_total = 0, half_total = 0, half_shared = 0, low_total = 0, low_shared = 0;
    for (const auto& img : captures) {
        const Result full = run(img.pixels, img.rows, img.cols);
        const Result half =
            run(img.pixels, img.rows, img.cols, {.flags = BAL_EXTRACT_HALF_FREQUENCY});
        // The capture halved, taken as a 250 dpi image.
        std::vector<uint8_t> small(size_t{kSensorRows / 2} * (kSensorCols / 2));
        bal_scale_bilinear(img.pixels.data(), img.rows, img.cols, small.data(), img.rows / 2,
                           img.cols / 2);
        const Result low =
            run(small, img.rows / 2, img.cols / 2, {.flags = BAL_EXTRACT_250DPI});
        ASSERT_EQ(BAL_OK, half.status);
        ASSERT_EQ(BAL_OK, low.status);
        EXPECT_EQ(kSensorRows, low.header.minutiae.rows);
        EXPECT_EQ(kSensorCols, low.header.minutiae.cols);
        for (const minutia& m : low.minutiae) {
            EXPECT_LT(m.row, int32_t(kSensorRows));
            EXPECT_LT(m.col, int32_t(kSensorCols));
        }
        full_total += full.minutiae.size();
        half_total += half.minutiae.size();
        half_shared += shared_with(full.minutiae, half.minutiae);
        low_total += low.minutiae.size();
        low_shared += shared_with(full.minutiae, low.minutiae);
    }
    std::printf("[ paths    ] full %zu minutiae; 0x0800: %zu, %zu shared with full (%.1f %%); "
                "0x1000: %zu, %zu shared (%.1f %%)\n",
                full_total, half_total, half_shared, 100 * fraction(half_shared, half_total),
                low_total, low_shared, 100 * fraction(low_shared, low_total));
    EXPECT_GE(fraction(half_shared, half_total), 0.5);
    EXPECT_GE(fraction(low_shared, low_total), 0.5);
}

// A whole image scaled by 3 (1,122 x 1,164) is cropped before filtering; a
// valid-pixel mask of its right part is read at the cropped positions.
TEST(ExtractCaptures, LargeImageWithMaskKeepsOnlyMaskedMinutiae) {
    FP_REQUIRE_CAPTURES();
    const fp_test::GreyImage img =
        fp_test::read_pgm(fp_test::captures_dir() / "fvc2002_db1/full/101_1.pgm");
    ASSERT_EQ(374u, img.rows);
    const uint32_t rows = 3 * img.rows, cols = 3 * img.cols;
    std::vector<uint8_t> large(size_t{rows} * cols);
    bal_scale_bilinear(img.pixels.data(), img.rows, img.cols, large.data(), rows, cols);
    constexpr int32_t kFirstValidCol = 600;
    std::vector<uint8_t> mask(large.size(), 0);
    for (uint32_t y = 0; y < rows; ++y)
        std::fill_n(mask.begin() + y * cols + kFirstValidCol, cols - kFirstValidCol, uint8_t{200});

    const Result all = run(large, rows, cols);
    const Result masked = run(large, rows, cols, {.valid_mask = mask.data()});
    ASSERT_EQ(BAL_OK, all.status);
    ASSERT_EQ(BAL_OK, masked.status);
    EXPECT_EQ(rows, masked.header.minutiae.rows);
    EXPECT_EQ(cols, masked.header.minutiae.cols);
    std::vector<minutia> expected;
    for (const minutia& m : all.minutiae)
        if (m.col >= kFirstValidCol) expected.push_back(m);
    EXPECT_FALSE(expected.empty());
    ASSERT_EQ(expected.size(), masked.minutiae.size());
    EXPECT_EQ(0, std::memcmp(expected.data(), masked.minutiae.data(),
                             expected.size() * sizeof(minutia)));
    for (const minutia& m : all.minutiae) {
        EXPECT_LT(m.row, int32_t(rows));
        EXPECT_LT(m.col, int32_t(cols));
    }
}

}  // namespace
