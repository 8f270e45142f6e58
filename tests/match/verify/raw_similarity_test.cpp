// Raw-score verification through the multi-template manager and the
// algorithm's raw-similarity operation, with a scripted verifier whose raw
// score is the enrolled template's first byte plus the probe's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include "match/zr_algorithm.h"
#include "match/verify/zr_multitemplate_verify.h"
#include "match/verifiers/zr_vermodels.h"
#include "objects/zr_alloc.h"

namespace {

uint8_t first_byte(const zr_template* t) { return t && t->size ? t->data[0] : 0; }

// Raw-path features: one feature, enrolled + probe first bytes; an enrolled
// byte of 0 fails. The comparison alignment moves by the probe's byte.
zr_status scripted_features(zr_session*, zr_template* enrolled, zr_template* probe, uint16_t** out, uint16_t* count,
                            zr_alignment** alignment) {
    *out = nullptr;
    *count = 0;
    if (alignment) {
        zr_alignment_delete(*alignment);
        *alignment = nullptr;
    }
    if (first_byte(enrolled) == 0) return ZR_BAD_DATA;
    *out = static_cast<uint16_t*>(malloc(sizeof(uint16_t)));
    (*out)[0] = uint16_t(first_byte(enrolled) + first_byte(probe));
    *count = 1;
    if (alignment) *alignment = zr_alignment_create(int16_t(first_byte(probe)), 0, 0);
    return ZR_OK;
}

zr_status scripted_score(zr_session*, zr_template*, zr_template*, const uint16_t* features, uint16_t count,
                         const zr_vermodel*, uint16_t* out) {
    *out = count == 1 ? features[0] : 0;
    return count == 1 ? ZR_OK : ZR_FAILURE;
}

const zr_verifier_descriptor kScripted = {scripted_features, scripted_features, scripted_score, nullptr};

zr_template* bytes_template(uint8_t b, uint32_t type = 67) { return zr_template_create(type, &b, 1); }

zr_template* stored_of(const std::vector<uint8_t>& firsts) {
    zr_multitemplate_manager* m = zr_multitemplate_manager_create(96);
    for (uint8_t b : firsts) {
        zr_template* t = bytes_template(b);
        EXPECT_EQ(ZR_OK, zr_multitemplate_add_instance_no_tag(m->mt, t, nullptr));
        zr_template_delete(t);
    }
    zr_template* out = nullptr;
    EXPECT_EQ(ZR_OK, zr_multitemplate_manager_encode(m, 0, &out));
    zr_multitemplate_manager_delete(m);
    return out;
}

uint16_t expected_combined(std::vector<uint16_t> scores) {
    std::sort(scores.begin(), scores.end(), std::greater<>());
    const uint32_t n = uint32_t(scores.size());
    const uint32_t b0 = scores[0], b1 = n > 1 ? scores[1] : 0;
    if (n == 1) return uint16_t(b0);
    if (n <= 35) {
        const uint32_t w = (3 * n + 30) / 28;
        return uint16_t((w * b1 + 10 * b0) / (w + 10));
    }
    return uint16_t((5 * b1 + 10 * b0) / 15);
}

struct Session : ::testing::Test {
    zr_session* s = zr_session_create();
    zr_algorithm* a = nullptr;
    void SetUp() override {
        zr_algorithm_chain* chain = zr_algorithm_chain_create();
        zr_algorithm_chain_append_link(chain, zr_algorithm_link_create(nullptr, 67, nullptr, &vandrel_verifier, 0, 0));
        zr_algorithm_chain_append_link(chain, zr_algorithm_link_create(nullptr, 67, nullptr, &kScripted, 0, 0));
        zr_algorithm_config config;
        zr_algorithm_default_config(&config);
        a = zr_algorithm_create(s, chain, 67, 0, 8, nullptr, 0, nullptr, 0, &config);
    }
    void TearDown() override {
        zr_algorithm_delete(a);
        zr_session_delete(s);
    }
    // The algorithm's models and selector as they stand now.
    zr_model_choice choice{};
    const zr_model_choice* models() {
        choice = zr_algorithm_model_choice(a);
        return &choice;
    }
};

using ManagerVerify = Session;

TEST_F(ManagerVerify, CombinedScoreOfOneTwoAndFortyTemplates) {
    for (uint32_t n : {1u, 2u, 9u, 40u}) {
        std::vector<uint8_t> firsts;
        std::vector<uint16_t> scores;
        for (uint32_t i = 0; i < n; ++i) {
            firsts.push_back(uint8_t(1 + (i * 37) % 200));
            scores.push_back(uint16_t(firsts.back() + 5));
        }
        zr_template* stored = stored_of(firsts);
        zr_template* probe = bytes_template(5);
        zr_raw_result r{};
        ASSERT_EQ(ZR_OK, zr_multitemplate_verify_template(stored, &kScripted, models(), s, probe, &r)) << n;
        EXPECT_EQ(expected_combined(scores), r.combined_score) << n;
        const auto best = std::max_element(firsts.begin(), firsts.end()) - firsts.begin();
        EXPECT_EQ(best, r.best_index);
        ASSERT_EQ(1u, r.feature_count);
        EXPECT_EQ(scores[size_t(best)], r.feature_scores[0]);
        ASSERT_NE(nullptr, r.comparison_alignment);
        ASSERT_NE(nullptr, r.alignment);  // zero stored alignment x inverse of (5, 0, 0)
        EXPECT_EQ(-5 * 256, r.alignment->dx);
        raw_result_deinit(&r);
        EXPECT_EQ(nullptr, r.alignment);
        zr_template_delete(stored);
        zr_template_delete(probe);
    }
}

TEST_F(ManagerVerify, FilteredModelVariantIsSkippedAndNothingScoredGives3) {
    // The model of a template is its first byte's parity; filter on model 0.
    zr_algorithm_set_model_selector(a, [](zr_session*, zr_template* t, zr_template*, uint16_t* v) {
        *v = first_byte(t) & 1;
        return ZR_OK;
    });
    ASSERT_EQ(ZR_OK, zr_session_set_int(s, "zr.verifier.filter_model_variant", 0));
    zr_template* stored = stored_of({90, 20, 51, 30});
    zr_template* probe = bytes_template(0);
    zr_raw_result r{};
    ASSERT_EQ(ZR_OK, zr_multitemplate_verify_template(stored, &kScripted, models(), s, probe, &r));
    EXPECT_EQ(0, r.best_index);
    EXPECT_EQ(0u, r.model);
    EXPECT_EQ(expected_combined({90, 30, 20, 0}), r.combined_score);  // 4 templates, two scored
    raw_result_deinit(&r);
    zr_template_delete(stored);

    stored = stored_of({0, 0});  // every comparison fails
    EXPECT_EQ(ZR_WRONG_TYPE, zr_multitemplate_verify_template(stored, &kScripted, models(), s, probe, &r));
    EXPECT_EQ(nullptr, r.feature_scores);
    zr_template_delete(stored);
    stored = stored_of({});
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_multitemplate_verify_template(stored, &kScripted, models(), s, probe, &r));
    zr_template_delete(stored);
    zr_template* not_stored = bytes_template(1);
    EXPECT_EQ(ZR_WRONG_TYPE, zr_multitemplate_verify_template(not_stored, &kScripted, models(), s, probe, &r));
    zr_template_delete(not_stored);
    zr_template_delete(probe);
}

TEST(RawResult, MoveHandsOverOwnership) {
    zr_raw_result a{}, b{};
    a.alignment = zr_alignment_create(1, 2, 3);
    a.feature_scores = static_cast<uint16_t*>(malloc(4));
    a.feature_count = 2;
    b.comparison_alignment = zr_alignment_create(4, 5, 6);
    raw_result_move(&b, &a);
    EXPECT_EQ(nullptr, a.alignment);
    EXPECT_EQ(nullptr, a.feature_scores);
    EXPECT_EQ(nullptr, b.comparison_alignment);
    EXPECT_NE(nullptr, b.alignment);
    EXPECT_EQ(2u, b.feature_count);
    raw_result_deinit(&b);
    raw_result_deinit(&a);
}

using RawSimilarity = Session;

TEST_F(RawSimilarity, BestOverTheListWithLaterTemplatesWinningTies) {
    zr_template* s1 = stored_of({10, 40});
    zr_template* s2 = stored_of({40, 10});
    zr_template* s3 = stored_of({5});
    zr_template* probe = bytes_template(7);
    zr_template* list[] = {s1, s2, s3};
    zr_match_result* result = zr_match_result_create(3);
    ASSERT_EQ(ZR_OK, a->get_raw_similarity_score(a, list, 3, probe, result));
    // s1 and s2 both combine (1 x 17 + 10 x 47) / 11 = 44; the later wins.
    EXPECT_EQ(expected_combined({17, 47}), result->raw_score);
    EXPECT_EQ(1u, result->matching_template_index);
    EXPECT_EQ(0u, result->matching_subtemplate_index);
    EXPECT_EQ(1u, result->matching_subtemplate_tag);  // the first id handed out
    ASSERT_NE(nullptr, result->verified_template);
    EXPECT_NE(probe, result->verified_template);
    EXPECT_EQ(7, first_byte(result->verified_template));
    EXPECT_EQ(1, result->feature_score_count);
    zr_match_result_delete(result);

    // Through the entry point: score and alignment.
    uint16_t score = 0;
    zr_alignment* alignment = nullptr;
    ASSERT_EQ(ZR_OK, zr_algorithm_get_raw_similarity_score(a, list, 3, probe, &score, &alignment));
    EXPECT_EQ(expected_combined({17, 47}), score);
    ASSERT_NE(nullptr, alignment);
    EXPECT_EQ(1u, alignment->ref_count);
    zr_alignment_delete(alignment);
    for (auto* t : {s1, s2, s3, probe}) zr_template_delete(t);
}

TEST_F(RawSimilarity, MultiTemplateProbeKeepsTheFirstBestInstance) {
    zr_template* stored = stored_of({10});
    zr_template* probe = stored_of({3, 9, 9, 1});
    zr_template* list[] = {stored};
    zr_match_result* result = zr_match_result_create(1);
    ASSERT_EQ(ZR_OK, a->get_raw_similarity_score(a, list, 1, probe, result));
    EXPECT_EQ(19, result->raw_score);
    ASSERT_NE(nullptr, result->second_alignment);
    EXPECT_EQ(9 * 256, result->second_alignment->dx);
    EXPECT_EQ(probe->size, result->verified_template->size);  // the whole probe
    zr_match_result_delete(result);
    zr_template_delete(stored);
    zr_template_delete(probe);
}

TEST_F(RawSimilarity, ForcedLinkAndCount) {
    zr_template* stored = stored_of({10});
    zr_template* probe = bytes_template(1);
    zr_template* list[] = {stored};
    struct Case {
        int32_t link;  // -2: key not set
        uint8_t count;
        zr_status rc;
    };
    const Case cases[] = {{-2, 1, ZR_OK}, {1, 1, ZR_OK}, {0, 1, ZR_FAILURE}, {2, 1, ZR_FAILURE},
                          {-1, 1, ZR_FAILURE}, {-2, 0, ZR_OK}};
    for (const Case& c : cases) {
        zr_session_clear_property(s, "zr.verifier.force_raw_link");
        if (c.link != -2) {
            ASSERT_EQ(ZR_OK, zr_session_set_int(s, "zr.verifier.force_raw_link", c.link));
        }
        zr_match_result* result = zr_match_result_create(1);
        EXPECT_EQ(c.rc, a->get_raw_similarity_score(a, list, c.count, probe, result)) << c.link;
        EXPECT_EQ(c.rc == ZR_OK && c.count ? 11 : 0, result->raw_score);
        zr_match_result_delete(result);
    }
    zr_template_delete(stored);
    zr_template_delete(probe);
}

}  // namespace
