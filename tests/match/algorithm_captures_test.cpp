// The main road on real captures: the exported preset's algorithm, a stored
// multi-template of each finger's six enrolment captures built with
// zr_algorithm_create_multitemplate, and verification of images at FAR level
// 12 through zr_algorithm_verify_image.
#include <gtest/gtest.h>

#include <cstdio>

#include "../liveness/liveness_test_nets.h"
#include "algorithm_preset_captures.h"

namespace {

using namespace fp_test;

constexpr uint32_t kFarLevel = 12;

struct StoredFingers {
    PresetCaptures data;
    std::vector<zr_template*> stored;
    StoredFingers() {
        for (const PresetFinger& f : data.fingers) stored.push_back(data.create(f));
    }
    ~StoredFingers() {
        for (zr_template* t : stored) zr_template_delete(t);
    }
};

uint32_t verify(zr_algorithm* a, zr_template* stored, zr_image* image) {
    zr_status rc = ZR_OK;
    const uint32_t decision = verify_at(a, stored, image, kFarLevel, &rc);
    EXPECT_EQ(ZR_OK, rc);
    return decision;
}

TEST(AlgorithmCaptures, EnrolmentCapturesVerifyAndProbeDecisions) {
    FP_REQUIRE_CAPTURES();
    StoredFingers s;
    zr_algorithm* a = s.data.algorithm;
    ASSERT_NE(nullptr, a);
    ASSERT_GE(s.data.fingers.size(), 2u);
    uint32_t genuine = 0, genuine_accepts = 0, impostor = 0, impostor_accepts = 0;
    for (size_t i = 0; i < s.data.fingers.size(); ++i) {
        const PresetFinger& f = s.data.fingers[i];
        ASSERT_EQ(6u, f.templates.size()) << f.name;
        ASSERT_NE(nullptr, s.stored[i]) << f.name;
        ASSERT_EQ(ZR_TEMPLATE_MULTI, zr_template_get_type(s.stored[i]));
        for (size_t e = 0; e < f.enrol.size(); ++e)
            ASSERT_EQ(1u, verify(a, s.stored[i], f.enrol[e])) << f.name << " e" << e + 1;
        std::printf("%-16s genuine", f.name.c_str());
        for (zr_image* p : f.probes) {
            const uint32_t d = verify(a, s.stored[i], p);
            std::printf(" %u", d);
            ++genuine;
            genuine_accepts += d;
        }
        const size_t other = (i + 1) % s.data.fingers.size();
        std::printf("   impostor vs %-16s", s.data.fingers[other].name.c_str());
        for (zr_image* p : f.probes) {
            const uint32_t d = verify(a, s.stored[other], p);
            std::printf(" %u", d);
            ++impostor;
            impostor_accepts += d;
        }
        std::printf("\n");
    }
    std::printf("probes p7, p8 at level 12: genuine %u of %u accepted, impostor %u of %u accepted\n", genuine_accepts,
                genuine, impostor_accepts, impostor);
}

// Liveness after a real accepted match: the zero network scores every image
// 500; a rejected impostor gets no liveness score.
TEST(AlgorithmCaptures, VerifyImagePadScoresOnlyAcceptedProbes) {
    FP_REQUIRE_CAPTURES();
    PresetCaptures data(2);
    ASSERT_EQ(2u, data.fingers.size());
    zr_template* genuine = data.create(data.fingers[0]);
    zr_template* impostor = data.create(data.fingers[1]);
    ASSERT_NE(nullptr, genuine);
    ASSERT_NE(nullptr, impostor);
    fp_test::OwnedNetwork owned = fp_test::zero_network({ZR_PAD_FEATURE_COUNT, 1});
    nex_network net = owned.net();
    const zr_pad_model model{1, &net, nullptr, 16, 400, ZR_PAD_ANY_RESOLUTION, 16, 299, ZR_PAD_ANY_RESOLUTION};
    zr_pad* pad = zr_pad_create(nullptr, &model);
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
    zr_template_delete(genuine);
    zr_template_delete(impostor);
}

}  // namespace
