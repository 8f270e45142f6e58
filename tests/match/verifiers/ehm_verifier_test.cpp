// Feature vectors of the EHM verifiers: the 30-feature order on a hand-built
// comparison, stored qualities above 100, the idim reader, and EHM-HR raw
// scores of real same-finger and different-finger pairs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "match/verifiers/zr_ehm_verifier.h"
#include "match/verifiers/zr_far_table.h"
#include "match/verifiers/zr_vermodels.h"
#include "objects/zr_fusion_parts.h"
#include "objects/zr_session.h"
#include "fourier_capture_records.h"

namespace {

zr_ehm_comparison hand_built() {
    zr_ehm_comparison c{};
    for (uint16_t i = 0; i < 11; ++i) c.linked_cluster[i] = uint16_t(100 + i);  // [1], [2] are mark and status
    for (uint16_t i = 0; i < 19; ++i) c.spectral[i] = uint16_t(200 + i);
    c.linked_cluster_pose = {10, -4, 250};
    c.spectral_pose = {7, 0, 5};
    c.probe_quality = 64;
    c.enrolled_quality = 81;
    return c;
}

TEST(EhmFeatures, OrderOnAHandBuiltPair) {
    uint16_t f[30];
    zr_ehm_feature_vector(hand_built(), f);
    EXPECT_EQ(f[0], 100);
    for (int i = 1; i <= 8; ++i) EXPECT_EQ(f[i], 102 + i) << i;  // statistics 4th..11th
    EXPECT_EQ(f[9], 200 * 232 / 225);                             // Q(81) = round(25 x 9) = 225
    for (int i = 10; i <= 25; ++i) EXPECT_EQ(f[i], 193 + i) << i;  // spectral 4th..19th
    EXPECT_EQ(f[26], 5);   // sqrt(3^2 + 4^2)
    EXPECT_EQ(f[27], 11);  // 250 - 5 as a signed 8-bit angle
    EXPECT_EQ(f[28], 17);
    EXPECT_EQ(f[29], uint16_t(std::floor(std::sqrt((100.0 - 81) * 64))));

    // Without a linked-cluster score the pose features are 0; a low quality
    // is normalised as 60.
    zr_ehm_comparison c = hand_built();
    c.linked_cluster[0] = 0;
    c.probe_quality = 10;
    c.enrolled_quality = 30;
    zr_ehm_feature_vector(c, f);
    EXPECT_EQ(f[26], 0);
    EXPECT_EQ(f[27], 0);
    EXPECT_EQ(f[9], 200 * 232 / zr_quality_normaliser[60]);
    EXPECT_EQ(f[29], uint16_t(std::floor(std::sqrt(70.0 * 64))));
}

// A stored quality byte above 100 would index past the normaliser and take
// the square root of a negative number: it counts as 100.
TEST(EhmFeatures, QualitiesAbove100CountAs100) {
    zr_ehm_comparison c = hand_built();
    c.probe_quality = 255;
    c.enrolled_quality = 90;
    uint16_t f[30];
    zr_ehm_feature_vector(c, f);
    EXPECT_EQ(f[9], 200 * 232 / 250);
    EXPECT_EQ(f[28], 10);
    EXPECT_EQ(f[29], 0);
}

TEST(EhmFeatures, ImageQualityFromIdim) {
    uint8_t idim[ZR_IDIM_SIZE];
    zr_fusion_idim_write(176, 96, 77, idim);
    // An EHM root holding a minimal card and the idim part.
    std::vector<uint8_t> ehm = {0xE1, 0x0E, 0x7F, 0x2E, 0x03, 0x81, 0x01, 0x00, 0xC3, 0x06};
    ehm.insert(ehm.end(), idim, idim + ZR_IDIM_SIZE);
    zr_template* t = zr_template_create(ZR_TEMPLATE_EHM, ehm.data(), uint32_t(ehm.size()));
    uint16_t rows = 0, cols = 0;
    uint8_t quality = 0;
    ASSERT_EQ(ZR_OK, zr_ehm_get_image_quality(t, &rows, &cols, &quality));
    EXPECT_EQ(rows, 176);
    EXPECT_EQ(cols, 96);
    EXPECT_EQ(quality, 77);
    zr_template_delete(t);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_ehm_get_image_quality(nullptr, &rows, &cols, &quality));
    EXPECT_EQ(rows, 192);
    EXPECT_EQ(cols, 192);
    EXPECT_EQ(quality, 0);
}

TEST(EhmFeatures, LiteNeedsAnAlignmentArgument) {
    zr_template* t = zr_template_create(ZR_TEMPLATE_EHM, nullptr, 0);
    uint16_t* features = nullptr;
    uint16_t count = 7;
    EXPECT_EQ(ZR_BAD_ARGUMENT, ehm_lite_extract_feature_scores(nullptr, t, t, &features, &count, nullptr));
    EXPECT_EQ(features, nullptr);
    EXPECT_EQ(count, 0);
    zr_template_delete(t);
}

// --- real captures ---

struct pair_scores {
    std::vector<uint16_t> same, different;
};

uint16_t raw_score(zr_session* session, const fp_test::SpectralCapture& a, const fp_test::SpectralCapture& b,
                   zr_status* status) {
    zr_template* enrolled = zr_template_create(ZR_TEMPLATE_EHM_PRESET, a.fusion.data(), uint32_t(a.fusion.size()));
    zr_template* probe = zr_template_create(ZR_TEMPLATE_EHM_PRESET, b.fusion.data(), uint32_t(b.fusion.size()));
    uint16_t score = 0;
    zr_alignment* alignment = nullptr;
    *status = zr_verifier_get_raw_similarity_score(session, &ehmhr_verifier, &zr_vermodel_h80_ehmhr, enrolled, probe,
                                                   &score, &alignment);
    zr_alignment_delete(alignment);
    zr_template_delete(probe);
    zr_template_delete(enrolled);
    return score;
}

TEST(EhmFeatures, EhmhrRawScoresOfRealPairs) {
    const auto& captures = fp_test::spectral_captures();
    if (captures.empty()) GTEST_SKIP() << "real captures not found (set FP_DATA_DIR or provide ../shared/data)";
    zr_session* session = zr_session_create();
    ASSERT_NE(session, nullptr);
    ASSERT_EQ(ZR_OK, zr_session_set_sensor_size_(session, 8));
    pair_scores scores;
    // One enrolment capture of each finger against the probes of the same
    // and of the next finger.
    std::vector<const fp_test::SpectralCapture*> enrol, probes;
    for (const auto& c : captures) (c.role == "enrol" ? enrol : probes).push_back(&c);
    for (size_t i = 0; i < enrol.size(); i += 4) {
        for (const fp_test::SpectralCapture* p : probes) {
            zr_status status = ZR_FAILURE;
            const uint16_t score = raw_score(session, *enrol[i], *p, &status);
            ASSERT_EQ(ZR_OK, status) << enrol[i]->finger << " vs " << p->finger;
            (p->finger == enrol[i]->finger ? scores.same : scores.different).push_back(score);
        }
    }
    ASSERT_FALSE(scores.same.empty());
    ASSERT_FALSE(scores.different.empty());
    auto mean = [](const std::vector<uint16_t>& v) {
        double s = 0;
        for (uint16_t x : v) s += x;
        return s / double(v.size());
    };
    std::sort(scores.same.begin(), scores.same.end());
    std::sort(scores.different.begin(), scores.different.end());
    std::printf("EHM-HR raw scores: same finger n=%zu mean %.0f median %u; different n=%zu mean %.0f median %u max %u\n",
                scores.same.size(), mean(scores.same), scores.same[scores.same.size() / 2], scores.different.size(),
                mean(scores.different), scores.different[scores.different.size() / 2], scores.different.back());
    EXPECT_GT(mean(scores.same), mean(scores.different));
    zr_session_delete(session);
}

TEST(EhmFeatures, VandrelFeaturesOfRealPairs) {
    const auto& captures = fp_test::spectral_captures();
    if (captures.empty()) GTEST_SKIP() << "real captures not found (set FP_DATA_DIR or provide ../shared/data)";
    for (size_t i = 0; i + 1 < captures.size() && i < 12; i += 3) {
        zr_template* a = zr_template_create(ZR_TEMPLATE_EHM_PRESET, captures[i].fusion.data(),
                                            uint32_t(captures[i].fusion.size()));
        zr_template* b = zr_template_create(ZR_TEMPLATE_EHM_PRESET, captures[i + 1].fusion.data(),
                                            uint32_t(captures[i + 1].fusion.size()));
        uint16_t* features = nullptr;
        uint16_t count = 0;
        zr_alignment* alignment = zr_alignment_create(1, 1, 1);
        ASSERT_EQ(ZR_OK, zr_vandrel_extract_feature_scores(nullptr, a, b, &features, &count, &alignment));
        EXPECT_EQ(alignment, nullptr);  // released
        ASSERT_EQ(count, 3);
        EXPECT_LE(features[2], ZR_VANDREL_SIZE_AGREEMENT);
        uint16_t score = 0;
        EXPECT_EQ(ZR_OK, zr_vandrel_verify_feature_scores(nullptr, a, b, features, count, nullptr, &score));
        free(features);
        zr_template_delete(a);
        zr_template_delete(b);
    }
}

}  // namespace
