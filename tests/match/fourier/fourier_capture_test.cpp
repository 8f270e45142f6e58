// The Fourier matcher on templates extracted from the real captures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "fp_test_data.h"
#include "match/fourier/zr_fourier.h"
#include "objects/zr_alignment.h"
#include "fourier_capture_records.h"

namespace {

using fp_test::SpectralCapture;

// The flags the EHM-HR verifier passes without a given pose: features, raw
// score, no progressive correlation, the wider fine window; 360 mode adds 4.
constexpr uint32_t kEhmHrFlags = ZR_SPECTRAL_FEATURES | ZR_SPECTRAL_RAW_SCORE |
                                 ZR_SPECTRAL_NO_PROGRESSIVE | ZR_SPECTRAL_WIDE_FINE_WINDOW;

uint16_t match_score(const std::vector<uint8_t>& enrolled, const std::vector<uint8_t>& probe,
                     uint32_t flags) {
    // The enrolled record stands in the matcher's probe position.
    const uint32_t size = zr_spectral_match_required_mem(enrolled.data(), uint32_t(enrolled.size()),
                                                         probe.data(), uint32_t(probe.size()),
                                                         uint8_t(flags));
    EXPECT_GT(size, 1u);
    std::vector<uint8_t> work(size);
    uint16_t features[ZR_SPECTRAL_FEATURE_ARRAY_LENGTH] = {0, ZR_SPECTRAL_FEATURE_REQUEST, 0};
    zr_spectral_alignment pose{};
    EXPECT_EQ(ZR_OK, zr_spectral_match(work.data(), uint16_t(size), enrolled.data(),
                                       uint32_t(enrolled.size()), probe.data(),
                                       uint32_t(probe.size()), 0, features, nullptr, &pose, flags));
    EXPECT_EQ(17, features[2]);
    return features[0];
}

uint16_t percentile(std::vector<uint16_t> v, uint32_t p) {
    std::sort(v.begin(), v.end());
    return v[std::min<size_t>(v.size() - 1, v.size() * p / 100)];
}

void report(const char* name, const std::vector<uint16_t>& v) {
    std::cout << name << ": n " << v.size() << ", p5 " << percentile(v, 5) << ", p25 "
              << percentile(v, 25) << ", median " << percentile(v, 50) << ", p75 "
              << percentile(v, 75) << ", p95 " << percentile(v, 95) << "\n";
}

TEST(SpectralCaptures, FineGridRecordsHaveTheMainRoadSize) {
    FP_REQUIRE_CAPTURES();
    const auto& captures = fp_test::spectral_captures();
    ASSERT_GT(captures.size(), 100u);
    for (const SpectralCapture& c : captures) {
        uint8_t cols = 0, rows = 0, block = 0, quality = 0;
        uint16_t res = 0;
        const uint8_t *cells = nullptr, *fine = nullptr;
        ASSERT_EQ(ZR_OK, zr_spectral_unpack_template(c.record.data(), uint16_t(c.record.size()),
                                                     &cols, &rows, &block, &res, &cells, &fine,
                                                     &quality, nullptr));
        EXPECT_NE(nullptr, fine);
        EXPECT_EQ(8, cols);
        EXPECT_EQ(15, rows);
        EXPECT_EQ(12, block);
    }
}

// Same-finger pairs (each probe against its finger's enrolment captures) and
// different-finger pairs (each probe against the first enrolment capture of
// every other finger). The distributions are printed for the record.
TEST(SpectralCaptures, SameFingerPairsScoreAboveDifferentFingerPairs) {
    FP_REQUIRE_CAPTURES();
    const auto& captures = fp_test::spectral_captures();
    for (const uint32_t flags : {kEhmHrFlags, kEhmHrFlags | ZR_SPECTRAL_MODE_360}) {
        std::vector<uint16_t> same, different;
        for (const SpectralCapture& probe : captures) {
            if (probe.role != "probe") continue;
            std::string last_other;
            for (const SpectralCapture& enrolled : captures) {
                if (enrolled.role != "enrol") continue;
                if (enrolled.finger == probe.finger) {
                    same.push_back(match_score(enrolled.record, probe.record, flags));
                } else if (enrolled.finger != last_other) {
                    last_other = enrolled.finger;
                    different.push_back(match_score(enrolled.record, probe.record, flags));
                }
            }
        }
        ASSERT_FALSE(same.empty());
        ASSERT_FALSE(different.empty());
        std::cout << ((flags & ZR_SPECTRAL_MODE_360) ? "360 mode\n" : "normal mode\n");
        report("  same finger", same);
        report("  different finger", different);
        EXPECT_GT(percentile(same, 50), percentile(different, 75));
    }
}

TEST(SpectralCaptures, VerifierOperationsOnFusionTemplates) {
    FP_REQUIRE_CAPTURES();
    const auto& captures = fp_test::spectral_captures();
    ASSERT_GE(captures.size(), 2u);
    const SpectralCapture& a = captures[0];
    const SpectralCapture* b = nullptr;
    for (const SpectralCapture& c : captures)
        if (&c != &a && c.finger == a.finger) b = &c;
    ASSERT_NE(nullptr, b);
    zr_template* ta = zr_template_create(ZR_TEMPLATE_EHM_PRESET, a.fusion.data(),
                                         uint32_t(a.fusion.size()));
    zr_template* tb = zr_template_create(ZR_TEMPLATE_EHM_PRESET, b->fusion.data(),
                                         uint32_t(b->fusion.size()));
    ASSERT_NE(nullptr, ta);
    ASSERT_NE(nullptr, tb);

    // The matcher input of the verifier: no fine grid, the idim quality.
    zr_spectral_input input{};
    ASSERT_EQ(ZR_OK, convert_to_spectral_matcher_format(ta, &input));
    EXPECT_EQ(a.coarse, std::vector<uint8_t>(input.record, input.record + input.length));
    std::free(input.release);

    uint16_t* scores = nullptr;
    uint16_t count = 0;
    zr_alignment* alignment = zr_alignment_create(0, 0, 0);
    ASSERT_EQ(ZR_OK, spectral_verifier.extract_feature_scores(nullptr, ta, tb, &scores, &count,
                                                              &alignment));
    EXPECT_EQ(17, count);
    ASSERT_NE(nullptr, scores);
    EXPECT_GT(scores[0], 0);
    EXPECT_NE(nullptr, alignment);
    uint16_t score = 99;
    EXPECT_EQ(ZR_FAILURE, spectral_verifier.verify_feature_scores(nullptr, ta, tb, scores, 16,
                                                                  nullptr, &score));
    EXPECT_EQ(0, score);
    // No model: the model evaluation refuses.
    EXPECT_EQ(ZR_NO_MODEL_OPERATION, spectral_verifier.verify_feature_scores(
                                         nullptr, ta, tb, scores, count, nullptr, &score));
    scores[0] = 0;
    EXPECT_EQ(ZR_OK, spectral_verifier.verify_feature_scores(nullptr, ta, tb, scores, count,
                                                             nullptr, &score));
    EXPECT_EQ(0, score);
    std::free(scores);
    zr_alignment_delete(alignment);

    // A template without a Fourier part: the conversion's code, no scores.
    zr_template* raw = zr_template_create(ZR_TEMPLATE_RAW_IMAGE, a.fusion.data(), 8);
    scores = reinterpret_cast<uint16_t*>(1);
    EXPECT_NE(ZR_OK, spectral_verifier.extract_feature_scores(nullptr, raw, tb, &scores, &count,
                                                              nullptr));
    EXPECT_EQ(nullptr, scores);
    EXPECT_EQ(0, count);
    zr_template_delete(raw);
    zr_template_delete(ta);
    zr_template_delete(tb);
}

}  // namespace
