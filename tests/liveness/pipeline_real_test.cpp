// The liveness score end to end: mask and features of every real capture,
// the detector's scoring with test models, and a labelled regression record
// of the features of constructed images and two captures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "fp_test_data.h"
#include "liveness/nex_features.h"
#include "liveness/nex_maskgen.h"
#include "liveness/zr_pad.h"
#include "liveness_test_images.h"
#include "liveness_test_nets.h"

namespace {

using Record = std::vector<int32_t>;

struct Liveness {
    std::vector<uint8_t> mask;
    Record features;
};

// maskgen on a copy, then the features of the original under that mask.
Liveness measure(const std::vector<uint8_t>& px, int32_t rows, int32_t cols, int32_t dpi = 500) {
    Liveness out{px, Record(kNexFeatureCount, -1)};
    const int32_t br = (rows + 15) / 16, bc = (cols + 15) / 16;
    std::vector<uint8_t> maps(size_t(3) * br * bc);
    maskgen(out.mask.data(), rows, cols, maps.data(), maps.data() + br * bc, maps.data() + 2 * br * bc, br, bc, dpi);
    std::vector<uint8_t> mask = out.mask;
    nex_features_extract(px.data(), mask.data(), rows, cols, out.features.data());
    return out;
}

uint32_t masked_count(const std::vector<uint8_t>& mask, int32_t rows, int32_t cols, int32_t border) {
    uint32_t n = 0;
    for (int32_t r = border; r < rows - border; ++r)
        for (int32_t c = border; c < cols - border; ++c) n += mask[size_t(r) * cols + c] != 0;
    return n;
}

// A normalised histogram of N pixels sums to 2^20 - 1 at most and loses at
// most N / 2048 to the scale's truncation and one per class to the shift.
void expect_normalised(const Record& f, int32_t first, int32_t classes, uint32_t n, const std::string& what) {
    const int64_t sum = std::accumulate(f.begin() + first, f.begin() + first + classes, int64_t{0});
    if (n == 0) {
        EXPECT_EQ(0, sum) << what;
        return;
    }
    EXPECT_LE(sum, (1 << 20) - 1) << what;
    EXPECT_GE(sum, (1 << 20) - int64_t{n} / 2048 - classes - 1) << what;
}

TEST(LivenessRealCaptures, MaskAndFeaturesOfEveryCapture) {
    FP_REQUIRE_CAPTURES();
    int32_t with_pores = 0, images = 0;
    for (const auto& path : fp_test::capture_paths()) {
        const fp_test::GreyImage img = fp_test::read_pgm(path);
        ASSERT_FALSE(img.pixels.empty()) << path;
        const int32_t rows = int32_t(img.rows), cols = int32_t(img.cols);
        const Liveness a = measure(img.pixels, rows, cols);
        const Liveness b = measure(img.pixels, rows, cols);
        ASSERT_EQ(a.mask, b.mask) << path;
        ASSERT_EQ(a.features, b.features) << path;
        const std::string name = path.filename().string();
        for (uint8_t v : a.mask) ASSERT_TRUE(v == 0 || v == 1 || v == 3 || v == 5) << name;
        EXPECT_GT(std::count(a.mask.begin(), a.mask.end(), kNexMaskDark), 0) << name;
        EXPECT_GT(std::count(a.mask.begin(), a.mask.end(), kNexMaskBright), 0) << name;
        const Record& f = a.features;
        expect_normalised(f, kNexLbpRadius1, kNexLbpClasses, masked_count(a.mask, rows, cols, 1), name + " lbp1");
        expect_normalised(f, kNexLbpRadius2, kNexLbpClasses, masked_count(a.mask, rows, cols, 2), name + " lbp2");
        expect_normalised(f, kNexLpq, kNexLpqClasses, masked_count(a.mask, rows, cols, 2), name + " lpq");
        const int32_t contrast = std::accumulate(f.begin() + kNexPoreContrast, f.begin() + kNexPoreSpacing, 0);
        const int32_t spacing = std::accumulate(f.begin() + kNexPoreSpacing, f.begin() + kNexPoreDensity, 0);
        if (f[kNexPoreDensity] > 0) {
            ++with_pores;
            EXPECT_NEAR(1000, contrast, 5) << name;
            EXPECT_NEAR(1000, spacing, 5) << name;
        } else {
            EXPECT_EQ(0, contrast + spacing) << name;
        }
        EXPECT_GT(f[kNexRidgeStats], 0) << name;
        EXPECT_GT(f[kNexValleyStats], 0) << name;
        ++images;
    }
    std::printf("%d captures, %d with pores\n", images, with_pores);
    EXPECT_GT(images, 0);
}

// A model over a caller's network with the sensor's limits.
struct TestModel {
    fp_test::OwnedNetwork owned;
    nex_network net{};
    zr_pad_threshold table[ZR_PAD_LEVELS] = {};
    zr_pad_model model{};

    explicit TestModel(fp_test::OwnedNetwork n) : owned(std::move(n)) {
        net = owned.net();
        model = {1, &net, table, 16, 400, 500, 16, 400, 500};
    }
    TestModel(const TestModel&) = delete;
};

// One feature f over 0..range with weight 1.0: the score by the network's
// rules, written out.
int32_t one_feature_score(int32_t value, int32_t range) {
    const int32_t x = int32_t((int64_t{value} << 11) / range);
    const int32_t a = x;  // (2048 x) >> 11
    const int32_t y = a * 1178 / (std::abs(a) + 2048) + 1024;
    return std::clamp((y * 900 >> 11) + 50, 0, 1000);
}

TEST(LivenessRealCaptures, DetectorScoresWhatTheStagesMeasure) {
    FP_REQUIRE_CAPTURES();
    const std::vector<uint8_t>& px = fp_test::sensor_image();
    ASSERT_FALSE(px.empty());
    const Liveness direct = measure(px, fp_test::kSensorRows, fp_test::kSensorCols);

    std::mt19937 rng(11);
    TestModel random_model(fp_test::random_network({190, 6, 1}, 40, rng));
    zr_pad* pad = zr_pad_create(nullptr, &random_model.model);
    ASSERT_NE(nullptr, pad);
    zr_image* image = zr_image_create(176, 96, 500, 500, px.data(), 0);
    uint16_t score = 0, count = 0, score_ex = 0;
    int32_t* features = nullptr;
    ASSERT_EQ(ZR_OK, zr_pad_get_score_ex(pad, image, &score_ex, &count, &features));
    ASSERT_EQ(ZR_OK, zr_pad_get_score(pad, image, &score));
    ASSERT_EQ(190, count);
    EXPECT_EQ(direct.features, Record(features, features + 190));
    EXPECT_EQ(score, score_ex);
    uint32_t expected = 0;
    const nex_samples sample{190, 1, direct.features.data()};
    nex_mlp_test(&sample, &random_model.net, &expected);
    EXPECT_EQ(expected, score);
    std::free(features);
    zr_pad_delete(pad);

    // One feature: the LBP class of flat neighbourhoods, over 0..2^20.
    const int32_t range = 1 << 20;
    fp_test::OwnedNetwork one = fp_test::zero_network({190, 1});
    one.weights[kNexLbpRadius1] = 2048;
    one.maxima.assign(190, range);
    TestModel one_model(std::move(one));
    pad = zr_pad_create(nullptr, &one_model.model);
    const int32_t by_hand = one_feature_score(direct.features[kNexLbpRadius1], range);
    ASSERT_EQ(ZR_OK, zr_pad_get_score(pad, image, &score));
    EXPECT_EQ(by_hand, score);
    for (int32_t threshold : {by_hand - 1, by_hand, by_hand + 1}) {
        one_model.table[2].threshold = uint16_t(threshold);
        uint32_t live = 7;
        ASSERT_EQ(ZR_OK, zr_pad_get_decision(pad, image, 2, &live));
        EXPECT_EQ(threshold <= by_hand ? 1u : 0u, live) << threshold;
    }
    zr_image_delete(image);
    zr_pad_delete(pad);
}

uint64_t fnv1a(const Record& f) {
    uint64_t h = 1469598103934665603ull;
    for (int32_t v : f)
        for (int b = 0; b < 4; ++b) {
            h ^= (uint32_t(v) >> (8 * b)) & 0xFF;
            h *= 1099511628211ull;
        }
    return h;
}

void print_features(const char* label, const Record& f) {
    std::printf("%s:", label);
    for (size_t i = 0; i < f.size(); ++i) std::printf("%s%d", i % 20 == 0 ? "\n  " : " ", f[i]);
    std::printf("\n  hash %016llx\n", static_cast<unsigned long long>(fnv1a(f)));
}

// Regression record only: the features as this code computes them today, to
// notice any change. The values are not claims about correctness.
TEST(LivenessRegression, FeaturesOfFixedImages) {
    struct Case {
        const char* label;
        std::vector<uint8_t> px;
    };
    std::vector<uint8_t> noisy = liveness_test::grating(176, 96, 40, 9);
    std::mt19937 rng(1);
    for (auto& v : noisy) v = uint8_t(std::clamp(int(v) + int(rng() % 41) - 20, 0, 255));
    std::vector<Case> cases = {
        {"grating normal 0 period 8", liveness_test::grating(176, 96, 0, 8)},
        {"grating normal 100 period 11", liveness_test::grating(176, 96, 100, 11)},
        {"noisy grating normal 40 period 9", noisy},
    };
    const uint64_t golden[] = {0x7e910614431a768cull, 0x712833728dea4708ull, 0x924d3cd3cc747c16ull,
                               0x985e6b8f4e0906c5ull, 0x91fb46c3064f1361ull};
    if (fp_test::have_captures()) {
        const auto paths = fp_test::capture_paths();
        for (size_t i : {size_t(0), paths.size() - 1}) {
            const fp_test::GreyImage img = fp_test::read_pgm(paths[i]);
            if (img.rows == 176 && img.cols == 96)
                cases.push_back({i == 0 ? "first capture" : "last capture", img.pixels});
        }
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        const Record f = measure(cases[i].px, 176, 96).features;
        print_features(cases[i].label, f);
        EXPECT_EQ(golden[i], fnv1a(f)) << cases[i].label;
    }
}

}  // namespace
