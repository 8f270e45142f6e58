// The verification walk on real captures: six enrolment captures of a finger
// as its stored multi-template, probes of the same and of other fingers,
// through a vandrel link and an EHM-HR link at FAR level 12.
#include <gtest/gtest.h>

#include <cstdio>

#include "chain_capture_fixture.h"
#include "match/verify/zr_verify_chain.h"

TEST(verify_chain_captures, GenuineAndImpostorScores) {
    if (!fp_test::have_captures()) GTEST_SKIP() << "real captures not found (set FP_DATA_DIR)";
    static fp_test::ChainCaptures data;
    ASSERT_GE(data.fingers.size(), 2u);
    std::vector<uint16_t> genuine, impostor;
    uint32_t genuine_accepts = 0, impostor_accepts = 0;
    for (size_t i = 0; i < data.fingers.size(); ++i) {
        for (size_t j : {i, (i + 1) % data.fingers.size()}) {
            for (zr_template* probe : data.fingers[i].probes) {
                zr_match_result* result = zr_match_result_create(1);
                ASSERT_EQ(ZR_OK, zr_multitemplate_verify_chain(&data.fingers[j].stored, 1, data.chain, data.session,
                                                               probe, nullptr, 12, result, zr_vermodels_h80,
                                                               nullptr));
                (i == j ? genuine : impostor).push_back(result->far_score);
                (i == j ? genuine_accepts : impostor_accepts) += result->decision;
                if (result->decision == 1) {
                    EXPECT_EQ(1u, result->last_link_index);  // only the EHM-HR link has a model
                    EXPECT_NE(ZR_MTM_MISSING_TAG, result->matching_subtemplate_tag);
                }
                zr_match_result_delete(result);
            }
        }
    }
    auto mean = [](const std::vector<uint16_t>& v) {
        double s = 0;
        for (auto x : v) s += x;
        return v.empty() ? 0.0 : s / double(v.size());
    };
    std::printf("genuine log2 scores (%zu, %u accepted, mean %.0f):", genuine.size(), genuine_accepts, mean(genuine));
    for (auto s : genuine) std::printf(" %u", s);
    std::printf("\nimpostor log2 scores (%zu, %u accepted, mean %.0f):", impostor.size(), impostor_accepts,
                mean(impostor));
    for (auto s : impostor) std::printf(" %u", s);
    std::printf("\n");
    EXPECT_GT(mean(genuine), mean(impostor));
    EXPECT_GT(genuine_accepts, genuine.size() / 2);
    // One impostor pair of this set scores 29044, above level 12 (27213).
    EXPECT_LE(impostor_accepts, 1u);
}
