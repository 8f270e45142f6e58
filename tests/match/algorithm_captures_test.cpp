// The main road on real captures: an algorithm built like the exported
// preset's (embedded extractor and vandrel, then EHM-HR on 24 subtemplates,
// the H80 models, features 0 to 2 on), a stored multi-template of each
// finger's six enrolment captures, and verification of images at FAR level
// 12 through zr_algorithm_verify_image.
#include <gtest/gtest.h>

#include <cstdio>

#include "fp_test_data.h"
#include "../liveness/liveness_test_nets.h"
#include "algorithm_main_road.h"

namespace {

using namespace fp_test;

constexpr uint32_t kFarLevel = 12;

uint32_t verify(zr_algorithm* a, zr_template* stored, zr_image* image) {
    uint32_t decision = 0;
    EXPECT_EQ(ZR_OK, zr_algorithm_verify_image(a, &stored, 1, image, kFarLevel, &decision, nullptr, nullptr, nullptr,
                                               nullptr));
    return decision;
}

TEST(AlgorithmCaptures, EnrolmentCapturesVerifyAndProbeDecisions) {
    FP_REQUIRE_CAPTURES();
    AlgorithmCaptures data;
    ASSERT_NE(nullptr, data.algorithm);
    ASSERT_GE(data.fingers.size(), 2u);
    uint32_t genuine = 0, genuine_accepts = 0, impostor = 0, impostor_accepts = 0;
    for (size_t i = 0; i < data.fingers.size(); ++i) {
        const AlgorithmFinger& f = data.fingers[i];
        ASSERT_NE(nullptr, f.stored) << f.name;
        for (size_t e = 0; e < f.enrol.size(); ++e)
            EXPECT_EQ(1u, verify(data.algorithm, f.stored, f.enrol[e])) << f.name << " e" << e + 1;
        std::printf("%-16s genuine", f.name.c_str());
        for (zr_image* p : f.probes) {
            const uint32_t d = verify(data.algorithm, f.stored, p);
            std::printf(" %u", d);
            ++genuine;
            genuine_accepts += d;
        }
        const AlgorithmFinger& other = data.fingers[(i + 1) % data.fingers.size()];
        std::printf("   impostor vs %-16s", other.name.c_str());
        for (zr_image* p : f.probes) {
            const uint32_t d = verify(data.algorithm, other.stored, p);
            std::printf(" %u", d);
            ++impostor;
            impostor_accepts += d;
        }
        std::printf("\n");
    }
    std::printf("probes p7, p8 at level 12: genuine %u of %u accepted, impostor %u of %u accepted\n", genuine_accepts,
                genuine, impostor_accepts, impostor);
}

}  // namespace

namespace {

// Liveness after a real accepted match: the zero network scores every image
// 500; a rejected impostor gets no liveness score.
TEST(AlgorithmCaptures, VerifyImagePadScoresOnlyAcceptedProbes) {
    FP_REQUIRE_CAPTURES();
    AlgorithmCaptures data;
    ASSERT_GE(data.fingers.size(), 2u);
    fp_test::OwnedNetwork owned = fp_test::zero_network({ZR_PAD_FEATURE_COUNT, 1});
    nex_network net = owned.net();
    const zr_pad_model model{1, &net, nullptr, 16, 400, ZR_PAD_ANY_RESOLUTION, 16, 299, ZR_PAD_ANY_RESOLUTION};
    zr_pad* pad = zr_pad_create(nullptr, &model);
    zr_template* genuine = data.fingers[0].stored;
    zr_template* impostor = data.fingers[1].stored;
    zr_image* probe = data.fingers[0].probes[0];
    struct Case {
        zr_template* stored;
        uint32_t decision;
        uint16_t score;
    };
    for (const Case& c : {Case{genuine, 1, 500}, Case{impostor, 0, ZR_PAD_NO_SCORE}}) {
        uint32_t decision = 7;
        uint16_t score = 0;
        zr_alignment* alignment = nullptr;
        ASSERT_EQ(ZR_OK, zr_algorithm_verify_image_pad(data.algorithm, &c.stored, 1, probe, kFarLevel, pad, &decision,
                                                       &alignment, nullptr, nullptr, nullptr, &score));
        EXPECT_EQ(c.decision, decision);
        EXPECT_EQ(c.score, score);
        if (c.decision == 1) {
            EXPECT_NE(nullptr, alignment);
        }
        zr_alignment_delete(alignment);
    }
    zr_pad_delete(pad);
}

}  // namespace
