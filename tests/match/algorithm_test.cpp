// Algorithm object: creation and destroy, features and their keys,
// accessors, slot setters, the entry points' argument rules, verification
// with liveness through a scripted chain match, preferred geometry over the
// chain, the decision from a raw score and the dynamic FAR level.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "../liveness/liveness_test_nets.h"
#include "match/zr_algorithm.h"
#include "match/multitemplate/zr_multitemplate_manager.h"
#include "match/verifiers/zr_vermodels.h"
#include "objects/zr_alloc.h"

namespace {

constexpr int32_t kUnset = 0x5EED;
constexpr const char* kKeys[] = {"zr.algorithm.sensor_size", "zr.algorithm.sensor_type", "zr.ehm.spectral_fullsearch",
                                 "zr.ehm.spectral_increase_hr_search_range", "zr.algorithm.360"};

int32_t key(zr_session* s, const char* name) { return zr_session_get_int(s, name, kUnset); }

zr_algorithm_chain* one_link_chain(const zr_extractor_descriptor* extractor = nullptr,
                                   const zr_verifier_descriptor* verifier = &ehmhr_verifier) {
    zr_algorithm_chain* chain = zr_algorithm_chain_create();
    zr_algorithm_chain_append_link(chain, zr_algorithm_link_create(extractor, 67, nullptr, verifier, 0, 0));
    return chain;
}

zr_algorithm* make_algorithm(zr_session* s, zr_algorithm_chain* chain = one_link_chain(),
                             std::vector<uint32_t> on = {}, std::vector<uint32_t> mut = {}) {
    zr_algorithm_config config;
    zr_algorithm_default_config(&config);
    return zr_algorithm_create(s, chain, 74, 3, 8, on.data(), uint32_t(on.size()), mut.data(), uint32_t(mut.size()),
                               &config);
}

struct Fixture : ::testing::Test {
    zr_session* s = zr_session_create();
    void TearDown() override { zr_session_delete(s); }
};

using AlgorithmCreate = Fixture;

TEST_F(AlgorithmCreate, RegistersAsContext11WithDefaultsAndMirroredKeys) {
    zr_algorithm_config config;
    memset(&config, 0xAB, sizeof(config));
    zr_algorithm_default_config(&config);
    EXPECT_EQ(96, config.max_templates);
    EXPECT_EQ(32, config.max_captures);
    EXPECT_EQ(0u, config.max_template_size);
    EXPECT_EQ(0, config.image_split.grid_rows);
    EXPECT_EQ(nullptr, config.link_hook);

    zr_algorithm* a = make_algorithm(s, one_link_chain(), {0, 2, 7}, {1});
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(a, zr_session_get_algorithm(s));
    EXPECT_EQ(1u, a->ref_count);
    EXPECT_EQ(96, zr_algorithm_get_config(a)->max_templates);
    EXPECT_EQ(74u, zr_algorithm_get_template_type(a));
    EXPECT_EQ(3, key(s, "zr.algorithm.sensor_type"));
    EXPECT_EQ(8, key(s, "zr.algorithm.sensor_size"));
    EXPECT_EQ(1, zr_session_get_360_state(s));
    EXPECT_EQ(0, key(s, "zr.ehm.spectral_fullsearch"));
    EXPECT_EQ(1, key(s, "zr.ehm.spectral_increase_hr_search_range"));
    for (uint32_t i = 0; i < ZR_ALGORITHM_FEATURES; ++i)
        EXPECT_EQ(i == 1 ? 1u : 0u, zr_algorithm_feature_is_mutable(a, i)) << i;
    EXPECT_EQ(default_get_chain_match, a->get_chain_match);
    EXPECT_EQ(default_get_raw_similarity_score, a->get_raw_similarity_score);
    EXPECT_EQ(default_extract_template, a->extract_template);
    EXPECT_NE(nullptr, a->metadata_extractor);
    EXPECT_EQ(nullptr, a->model_selector);
    EXPECT_EQ(nullptr, a->mask_override);

    // A second algorithm on the same session is refused until the first goes.
    zr_algorithm_chain* spare = one_link_chain();
    EXPECT_EQ(nullptr, make_algorithm(s, spare));
    zr_algorithm_delete(a);
    EXPECT_EQ(nullptr, zr_session_get_context(s, ZR_CONTEXT_ALGORITHM));
    for (const char* k : kKeys) EXPECT_EQ(kUnset, key(s, k)) << k;
    zr_algorithm* b = make_algorithm(s, spare);
    ASSERT_NE(nullptr, b);
    zr_algorithm_delete(b);
}

TEST_F(AlgorithmCreate, WithoutSessionMakesItsOwn) {
    zr_algorithm* a = make_algorithm(nullptr);
    ASSERT_NE(nullptr, a);
    zr_session* own = zr_algorithm_get_session(a);
    ASSERT_NE(nullptr, own);
    EXPECT_EQ(1u, own->ref_count);
    EXPECT_EQ(a, zr_session_get_algorithm(own));
    zr_algorithm_delete(a);
}

TEST_F(AlgorithmCreate, FailureLeavesNoContextAndTheChainWithTheCaller) {
    zr_algorithm_chain* chain = one_link_chain();
    zr_alloc_fail_after(0);
    EXPECT_EQ(nullptr, make_algorithm(s, chain));
    zr_alloc_fail_after(-1);
    EXPECT_EQ(nullptr, zr_session_get_context(s, ZR_CONTEXT_ALGORITHM));
    EXPECT_EQ(1u, s->ref_count);
    zr_algorithm* a = make_algorithm(s, chain);  // the chain is still whole
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(1u, zr_algorithm_get_nbr_of_links(a));
    zr_algorithm_delete(a);
}

using AlgorithmFeatures = Fixture;

TEST_F(AlgorithmFeatures, OnlyMutableFeaturesChangeAndWriteTheirKeys) {
    zr_algorithm* a = make_algorithm(s, one_link_chain(), {}, {0, 1});
    struct Case {
        uint32_t index, state, result;
        const char* key;
        int32_t key_after;
    };
    const Case cases[] = {
        {2, 1, 1, "zr.ehm.spectral_increase_hr_search_range", 0},
        {1, 1, 0, "zr.ehm.spectral_fullsearch", 1},
        {0, 1, 0, "zr.algorithm.360", 1},
        {0, 0, 0, "zr.algorithm.360", 0},
        {3, 1, 1, nullptr, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, zr_algorithm_set_feature_state(a, c.index, c.state)) << c.index;
        if (c.key) {
            EXPECT_EQ(c.key_after, key(s, c.key)) << c.index;
        }
        if (c.index < 3) {
            EXPECT_EQ(c.result == 0 ? c.state : 0u, zr_algorithm_get_feature_state(a, c.index));
        }
    }
    zr_algorithm_delete(a);
}

TEST_F(AlgorithmFeatures, MinimumTemplatesInClass) {
    zr_algorithm* a = make_algorithm(s);
    EXPECT_EQ(ZR_OK, zr_algorithm_set_min_templates_in_class(a, 7, 3));
    EXPECT_EQ(3u, zr_algorithm_get_min_templates_in_class(a, 7));
    EXPECT_EQ(0u, zr_algorithm_get_min_templates_in_class(a, 0));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_set_min_templates_in_class(a, 8, 3));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_set_min_templates_in_class(a, 1, -1));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_set_min_templates_in_class(nullptr, 1, 1));
    EXPECT_EQ(ZR_NO_COUNT, zr_algorithm_get_min_templates_in_class(a, 8));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_set_preprocessors(nullptr, nullptr));
    EXPECT_EQ(nullptr, zr_algorithm_get_vermodels(nullptr));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_algorithm_enable_comparison_mode(a));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_enable_comparison_mode(nullptr));
    EXPECT_EQ(0u, zr_algorithm_select_model(a, nullptr, nullptr));
    EXPECT_EQ(0u, zr_algorithm_is_inverted_image(a, nullptr));
    zr_algorithm_delete(a);
}

TEST_F(AlgorithmFeatures, LinksAndVerifier) {
    zr_algorithm_chain* chain = one_link_chain(nullptr, &vandrel_verifier);
    zr_algorithm_chain_append_link(chain, zr_algorithm_link_create(nullptr, 74, nullptr, &ehmhr_verifier, 0, 0));
    zr_algorithm* a = make_algorithm(s, chain);
    EXPECT_EQ(2u, zr_algorithm_get_nbr_of_links(a));
    EXPECT_EQ(&vandrel_verifier, zr_algorithm_link_get_verifier(zr_algorithm_get_link_at_index(a, 0)));
    EXPECT_EQ(&ehmhr_verifier, zr_algorithm_link_get_verifier(zr_algorithm_get_link_at_index(a, 1)));
    EXPECT_EQ(nullptr, zr_algorithm_get_link_at_index(a, 2));
    EXPECT_EQ(&ehmhr_verifier, zr_algorithm_get_verifier(a));
    zr_algorithm_delete(a);
}

// --- slots and entry points ---

struct Script {
    zr_status rc = ZR_OK;
    uint32_t decision = 0;
    int calls = 0;
    zr_image* image_seen = nullptr;
    uint32_t level_seen = 0;
};
Script g_script;

zr_status scripted_chain_match(zr_algorithm*, zr_template* const*, uint8_t, zr_template*, zr_image* image,
                               uint32_t far_level, zr_match_result* result) {
    ++g_script.calls;
    g_script.image_seen = image;
    g_script.level_seen = far_level;
    if (g_script.rc != ZR_OK) return g_script.rc;
    result->decision = g_script.decision;
    result->far_score = 4321;
    result->alignment = zr_alignment_create(3, 4, 5);
    result->updated_template = zr_template_create(67, reinterpret_cast<const uint8_t*>("ab"), 2);
    result->matching_template_index = 2;
    result->matching_subtemplate_index = 5;
    return ZR_OK;
}

struct EntryPoints : Fixture {
    zr_algorithm* a = nullptr;
    zr_template* stored = zr_template_create(80, reinterpret_cast<const uint8_t*>("x"), 1);
    zr_image* image = nullptr;
    void SetUp() override {
        a = make_algorithm(s);
        const zr_verify_override pair = {scripted_chain_match, nullptr};
        zr_algorithm_set_verify_override(a, &pair);
        std::vector<uint8_t> px(40 * 36, 90);
        for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(90 + i % 7);
        image = zr_image_create(40, 36, 500, 500, px.data(), 0);
        g_script = Script{};
    }
    void TearDown() override {
        zr_algorithm_delete(a);
        zr_template_delete(stored);
        zr_image_delete(image);
        Fixture::TearDown();
    }
};

TEST_F(EntryPoints, VerifyImageArgumentsAndOutputs) {
    uint32_t decision = 77;
    zr_alignment* alignment = reinterpret_cast<zr_alignment*>(1);
    uint32_t ti = 77, si = 77;
    zr_template* updated = reinterpret_cast<zr_template*>(1);
    zr_template* list[] = {stored};
    // Count 0 and other missing arguments: 2 and nothing written.
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_verify_image(a, list, 0, image, 12, &decision, &alignment, &ti, &si, &updated));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_verify_image(a, nullptr, 1, image, 12, &decision, &alignment, &ti, &si, &updated));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_verify_image(a, list, 1, nullptr, 12, &decision, &alignment, &ti, &si, &updated));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_verify_image(nullptr, list, 1, image, 12, &decision, &alignment, &ti, &si, &updated));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_algorithm_verify_image(a, list, 1, image, 12, nullptr, &alignment, &ti, &si, &updated));
    EXPECT_EQ(77u, decision);
    EXPECT_EQ(0, g_script.calls);

    // A failure: outputs zeroed, nothing handed out.
    g_script.rc = ZR_WRONG_TYPE;
    EXPECT_EQ(ZR_WRONG_TYPE, zr_algorithm_verify_image(a, list, 1, image, 12, &decision, &alignment, &ti, &si, &updated));
    EXPECT_EQ(0u, decision);
    EXPECT_EQ(nullptr, alignment);
    EXPECT_EQ(nullptr, updated);

    // Success: the prepared image is the caller's own object.
    g_script.rc = ZR_OK;
    g_script.decision = 1;
    EXPECT_EQ(ZR_OK, zr_algorithm_verify_image(a, list, 1, image, 12, &decision, &alignment, &ti, &si, &updated));
    EXPECT_EQ(image, g_script.image_seen);
    EXPECT_EQ(12u, g_script.level_seen);
    EXPECT_EQ(1u, decision);
    EXPECT_EQ(2u, ti);
    EXPECT_EQ(5u, si);
    ASSERT_NE(nullptr, alignment);
    EXPECT_EQ(1u, alignment->ref_count);  // the result's reference is gone
    ASSERT_NE(nullptr, updated);
    EXPECT_EQ(1u, updated->ref_count);
    zr_alignment_delete(alignment);
    zr_template_delete(updated);
    // Outputs that may be none.
    EXPECT_EQ(ZR_OK, zr_algorithm_verify_image(a, list, 1, image, 12, &decision, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, image->ref_count);
}

TEST_F(EntryPoints, SimilarityScoreRunsWithoutDecision) {
    zr_template* list[] = {stored};
    uint16_t score = 0;
    EXPECT_EQ(ZR_OK, zr_algorithm_get_similarity_score(a, list, 1, stored, &score));
    EXPECT_EQ(28u, g_script.level_seen);
    EXPECT_EQ(nullptr, g_script.image_seen);
    EXPECT_EQ(4321, score);
}

TEST_F(EntryPoints, PreparationHandsBackTheCallersImage) {
    zr_image* prepared = nullptr;
    ASSERT_EQ(ZR_OK, prepare_image_for_extraction(a, image, &prepared));
    EXPECT_EQ(image, prepared);
    EXPECT_EQ(2u, image->ref_count);
    zr_image_delete(prepared);
    // A mask override makes a copy and its failure is returned.
    zr_algorithm_set_mask_override(a, [](zr_session*, zr_image*) { return ZR_BAD_DATA; });
    EXPECT_EQ(ZR_BAD_DATA, prepare_image_for_extraction(a, image, &prepared));
    EXPECT_EQ(nullptr, prepared);
    zr_algorithm_set_mask_override(a, [](zr_session*, zr_image*) { return ZR_OK; });
    ASSERT_EQ(ZR_OK, prepare_image_for_extraction(a, image, &prepared));
    EXPECT_NE(image, prepared);
    EXPECT_EQ(1u, image->ref_count);
    zr_image_delete(prepared);
}

TEST_F(EntryPoints, DefaultOperationsRefuseBadProbesAndEntries) {
    zr_template* list[] = {stored};
    zr_match_result* result = zr_match_result_create(1);
    EXPECT_EQ(ZR_BAD_ARGUMENT, default_get_chain_match(a, list, 1, stored, image, 12, result));  // both probes
    EXPECT_EQ(ZR_BAD_ARGUMENT, default_get_chain_match(a, list, 1, nullptr, nullptr, 12, result));
    EXPECT_EQ(ZR_BAD_ARGUMENT, default_get_chain_match(a, list, 0, stored, nullptr, 12, result));
    EXPECT_EQ(ZR_BAD_ARGUMENT, default_get_chain_match(a, list, 1, stored, nullptr, 12, nullptr));
    zr_template* with_none[] = {stored, nullptr};
    EXPECT_EQ(ZR_BAD_ARGUMENT, default_get_chain_match(a, with_none, 2, stored, nullptr, 12, result));
    zr_match_result_delete(result);

    // No image: nothing happens to the caller's template.
    zr_template* t = stored;
    EXPECT_EQ(ZR_OK, default_extract_template(a, nullptr, nullptr, &t));
    EXPECT_EQ(stored, t);
    EXPECT_EQ(1u, stored->ref_count);
}

TEST_F(EntryPoints, ExtractOverrideAndFailureWithoutTemplate) {
    zr_extract_template_fn nothing = [](zr_algorithm*, zr_image*, zr_finger* finger, zr_template**) {
        return finger == ZR_FINGER_ANONYMOUS ? ZR_OK : ZR_BAD_DATA;
    };
    zr_algorithm_set_extract_override(a, &nothing);
    zr_template* t = stored;
    EXPECT_EQ(ZR_FAILURE, zr_algorithm_extract_template(a, image, nullptr, &t));
    EXPECT_EQ(nullptr, t);
    const zr_extract_template_fn empty = nullptr;
    zr_algorithm_set_extract_override(a, &empty);
    EXPECT_EQ(default_extract_template, a->extract_template);
    zr_algorithm_set_simple_extractor(a);
    EXPECT_EQ(default_simple_extract, a->extract_template);
    zr_algorithm_set_extract_override(a, nullptr);
    EXPECT_EQ(default_extract_template, a->extract_template);
}

// Liveness after an accepted match only, on the caller's image.
TEST_F(EntryPoints, VerifyImagePad) {
    fp_test::OwnedNetwork owned = fp_test::zero_network({190, 1});  // every image scores 500
    nex_network net = owned.net();
    zr_pad_model model{1, &net, nullptr, 16, 400, 500, 16, 299, 500};
    zr_pad_model absent = model;
    absent.present = 0;
    zr_pad* pad = zr_pad_create(nullptr, &model);
    zr_pad* pad_absent = zr_pad_create(nullptr, &absent);
    zr_template* list[] = {stored};

    struct Case {
        const char* name;
        zr_status chain_rc;
        uint32_t decision;
        zr_pad* detector;
        zr_status expected;
        uint16_t score;
        bool outputs_written;
    };
    const Case cases[] = {
        {"chain failure", ZR_BAD_DATA, 1, pad, ZR_BAD_DATA, 65535, false},
        {"decision 0", ZR_OK, 0, pad, ZR_OK, 65535, true},
        {"model not present", ZR_OK, 1, pad_absent, ZR_UNHANDLED_INPUT, 65535, false},
        {"zero network", ZR_OK, 1, pad, ZR_OK, 500, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_script = Script{c.chain_rc, c.decision};
        uint32_t decision = 77, ti = 77, si = 77;
        zr_alignment* alignment = nullptr;
        zr_template* updated = nullptr;
        uint16_t score = 1;
        EXPECT_EQ(c.expected, zr_algorithm_verify_image_pad(a, list, 1, image, 12, c.detector, &decision, &alignment,
                                                            &ti, &si, &updated, &score));
        EXPECT_EQ(c.score, score);
        EXPECT_EQ(c.outputs_written ? c.decision : 77u, decision);
        EXPECT_EQ(c.outputs_written ? 2u : 77u, ti);
        if (c.outputs_written) {
            ASSERT_NE(nullptr, alignment);
            EXPECT_EQ(1u, alignment->ref_count);
            EXPECT_EQ(1u, updated->ref_count);
        } else {
            EXPECT_EQ(nullptr, alignment);
            EXPECT_EQ(nullptr, updated);
        }
        zr_alignment_delete(alignment);
        zr_template_delete(updated);
        EXPECT_EQ(1u, image->ref_count);
    }
    uint32_t decision = 0;
    uint16_t score = 0;
    EXPECT_EQ(ZR_BAD_ARGUMENT,
              zr_algorithm_verify_image_pad(nullptr, list, 1, image, 12, pad, &decision, nullptr, nullptr, nullptr, nullptr, &score));
    EXPECT_EQ(ZR_BAD_ARGUMENT,
              zr_algorithm_verify_image_pad(a, list, 1, image, 12, pad, nullptr, nullptr, nullptr, nullptr, nullptr, &score));
    EXPECT_EQ(ZR_BAD_ARGUMENT,
              zr_algorithm_verify_image_pad(a, list, 1, image, 12, nullptr, &decision, nullptr, nullptr, nullptr, nullptr, &score));
    EXPECT_EQ(ZR_BAD_ARGUMENT,
              zr_algorithm_verify_image_pad(a, list, 1, image, 12, pad, &decision, nullptr, nullptr, nullptr, nullptr, nullptr));
    zr_pad_delete(pad);
    zr_pad_delete(pad_absent);
}

// --- preferred geometry ---

template <uint16_t Dpi>
void answer_dpi(zr_session*, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t* v, uint16_t* h, uint16_t* r,
                uint16_t* c) {
    *v = Dpi;
    *h = Dpi + 1;
    *r = Dpi / 2;
    *c = Dpi / 4;
}
zr_status no_extract(zr_session*, zr_image*, zr_finger*, uint32_t, zr_template**) { return ZR_OK; }
const zr_extractor_descriptor k600a = {no_extract, answer_dpi<600>};
const zr_extractor_descriptor k400 = {no_extract, answer_dpi<400>};
const zr_extractor_descriptor kNoPref = {no_extract, nullptr};

using AlgorithmPrefIdim = Fixture;

TEST_F(AlgorithmPrefIdim, HighestResolutionWinsAndALaterLinkWinsTies) {
    struct Case {
        std::vector<const zr_extractor_descriptor*> links;
        uint16_t expected[4];
    };
    const Case cases[] = {
        {{}, {500, 500, 176, 96}},
        {{&kNoPref, nullptr}, {500, 500, 176, 96}},
        {{&k400}, {500, 500, 176, 96}},  // below the input: the input stays
        {{&k600a, &k400}, {600, 601, 300, 150}},
        {{&k400, &k600a, &kNoPref}, {600, 601, 300, 150}},
    };
    for (const Case& c : cases) {
        zr_algorithm_chain* chain = zr_algorithm_chain_create();
        for (const auto* e : c.links)
            zr_algorithm_chain_append_link(chain, zr_algorithm_link_create(e, 67, nullptr, &ehmhr_verifier, 0, 0));
        zr_algorithm* a = make_algorithm(s, chain);
        uint16_t out[4] = {};
        zr_algorithm_get_pref_idim(a, 500, 500, 176, 96, &out[0], &out[1], &out[2], &out[3]);
        EXPECT_EQ(0, memcmp(out, c.expected, sizeof(out))) << out[0] << " " << out[1] << " " << out[2] << " " << out[3];
        zr_algorithm_delete(a);
    }
}

TEST_F(AlgorithmPrefIdim, ALaterLinkWinsAnEqualResolution) {
    static uint16_t s_last_rows = 0;
    static const zr_extractor_descriptor first = {
        no_extract, [](zr_session*, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t* v, uint16_t* h, uint16_t* r,
                       uint16_t* c) { *v = 600, *h = 600, *r = 1, *c = 1; }};
    static const zr_extractor_descriptor second = {
        no_extract, [](zr_session*, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t* v, uint16_t* h, uint16_t* r,
                       uint16_t* c) { *v = 600, *h = 600, *r = 2, *c = 2; }};
    zr_algorithm_chain* chain = zr_algorithm_chain_create();
    zr_algorithm_chain_append_link(chain, zr_algorithm_link_create(&first, 67, nullptr, &ehmhr_verifier, 0, 0));
    zr_algorithm_chain_append_link(chain, zr_algorithm_link_create(&second, 67, nullptr, &ehmhr_verifier, 0, 0));
    zr_algorithm* a = make_algorithm(s, chain);
    zr_algorithm_get_pref_idim(a, 500, 500, 176, 96, nullptr, nullptr, &s_last_rows, nullptr);
    EXPECT_EQ(2, s_last_rows);
    zr_algorithm_delete(a);
}

// --- decisions from raw scores ---

zr_threshold_table g_low{};   // every threshold 100
zr_threshold_table g_high{};  // every threshold 40000
const uint8_t kCoefficients[ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE] = {};
const zr_vermodel kModel0 = {&ehmhr_verifier, 0, kCoefficients, sizeof(kCoefficients), ZR_EHM_FEATURES, zr_ml_compute_score_linear, &g_high};
const zr_vermodel kModel1 = {&ehmhr_verifier, 1, kCoefficients, sizeof(kCoefficients), ZR_EHM_FEATURES, zr_ml_compute_score_linear, &g_low};

using AlgorithmDecision = Fixture;

TEST_F(AlgorithmDecision, Variant1FirstWithout360) {
    for (auto& row : g_low) std::fill(std::begin(row), std::end(row), uint16_t(100));
    for (auto& row : g_high) std::fill(std::begin(row), std::end(row), uint16_t(40000));
    const zr_vermodel* both[] = {&kModel0, &kModel1, nullptr};
    const zr_vermodel* only0[] = {&kModel0, nullptr};
    const zr_vermodel* none[] = {nullptr};
    struct Case {
        const zr_vermodel* const* models;
        int32_t state360;
        uint16_t score;
        uint32_t level;
        zr_status rc;
        uint32_t decision;
    };
    const Case cases[] = {
        {both, 0, 1000, 12, ZR_OK, 1},      // variant 1 (100) decides
        {both, 1, 1000, 12, ZR_OK, 0},      // variant 0 (40000)
        {only0, 0, 1000, 12, ZR_OK, 0},     // falls back to variant 0
        {only0, 0, 40001, 12, ZR_OK, 1},
        {only0, 0, 40000, 12, ZR_OK, 0},    // equal is not accepted
        {only0, 0, 40001, 28, ZR_BAD_ARGUMENT, 0},
        {none, 0, 40001, 12, ZR_UNHANDLED_INPUT, 0},
    };
    for (const Case& c : cases) {
        zr_algorithm* a = make_algorithm(s);
        zr_algorithm_set_vermodels(a, c.models);
        ASSERT_EQ(ZR_OK, zr_session_set_360_state_(s, c.state360));
        uint32_t decision = 9;
        EXPECT_EQ(c.rc, zr_algorithm_get_decision_from_raw_similarity_score(a, c.score, c.level, &decision));
        EXPECT_EQ(c.decision, decision);
        zr_algorithm_delete(a);
    }
}

TEST_F(AlgorithmDecision, GetVermodelFallsBackToVariant0) {
    const zr_vermodel* models[] = {&kModel0, &kModel1, nullptr};
    for (auto& row : g_low) std::fill(std::begin(row), std::end(row), uint16_t(100));
    for (auto& row : g_high) std::fill(std::begin(row), std::end(row), uint16_t(40000));
    zr_algorithm* a = make_algorithm(s);
    zr_algorithm_set_vermodels(a, models);
    EXPECT_EQ(&kModel1, zr_algorithm_get_vermodel(a, &ehmhr_verifier, 1));
    EXPECT_EQ(&kModel0, zr_algorithm_get_vermodel(a, &ehmhr_verifier, 5));
    EXPECT_EQ(nullptr, zr_algorithm_get_vermodel(a, &vandrel_verifier, 0));
    EXPECT_EQ(nullptr, zr_algorithm_get_vermodel(nullptr, &ehmhr_verifier, 0));
    zr_algorithm_delete(a);
}

// --- dynamic FAR ---

zr_template* stored_with(uint32_t templates) {
    zr_multitemplate_manager* m = zr_multitemplate_manager_create(96);
    for (uint32_t i = 0; i < templates; ++i) {
        const uint8_t b = uint8_t(i);
        zr_template* t = zr_template_create(67, &b, 1);
        (void)zr_multitemplate_add_instance_no_tag(m->mt, t, nullptr);
        zr_template_delete(t);
    }
    zr_template* out = nullptr;
    (void)zr_multitemplate_manager_encode(m, 0, &out);
    zr_multitemplate_manager_delete(m);
    return out;
}

using AlgorithmDynamicFar = Fixture;

TEST_F(AlgorithmDynamicFar, ShiftInterpolatesAndRoundsHalfAwayFromZero) {
    zr_algorithm* a = make_algorithm(s);
    zr_template* small = stored_with(1);
    zr_template* three = stored_with(3);
    zr_template* five = stored_with(5);
    zr_template* one[] = {small};
    zr_template* mixed[] = {small, three};
    zr_template* big[] = {five};
    EXPECT_EQ(12u, zr_algorithm_get_config_internal(a, one, 1, 12, 0));  // both shifts 0
    const zr_dynamic_far up = {0, 4, 0, 2};                         // +0.5 per template
    const zr_dynamic_far down = {0, 4, 0, uint32_t(-2)};            // -0.5 per template
    zr_algorithm_set_config_internal(a, &up, 1);
    zr_algorithm_set_config_internal(a, &down, 2);
    struct Case {
        zr_template** list;
        uint8_t count;
        uint32_t level;
        int32_t mode;
        uint32_t expected;
    };
    const Case cases[] = {
        {one, 1, 12, 0, 13},    // n = 1: 0.5 -> 1
        {mixed, 2, 12, 0, 14},  // n = 3: 1.5 -> 2
        {big, 1, 12, 0, 14},    // n = 5 above the maximum: shift at maximum
        {one, 1, 12, 2, 11},    // -0.5 -> -1
        {mixed, 2, 12, 2, 10},  // -1.5 -> -2
        {mixed, 2, 28, 0, 28},  // level 28 stays
        {mixed, 0, 12, 0, 12},  // count 0
        {big, 1, 27, 0, 27},    // clamped to 27
        {one, 1, 0, 2, 0},      // clamped to 0
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, zr_algorithm_get_config_internal(a, c.list, c.count, c.level, c.mode))
            << c.level << " mode " << c.mode;
    zr_algorithm_delete(a);
    for (auto* t : {small, three, five}) zr_template_delete(t);
}

}  // namespace
