#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "match/zr_algorithm.h"
#include "match/extractors/zr_embedded_extractor.h"
#include "match/zr_presets.h"
#include "match/extractors/zr_slice_extractor.h"
#include "match/verifiers/zr_vermodels.h"

namespace {

struct named_preset {
    const char* name;
    zr_algorithm* (*create)(zr_session*);
    uint32_t template_type;
    uint32_t sensor_size;
    bool dpi_650;
};

#define P(fn, type, size, dpi) {#fn, fn, type, size, dpi}
const named_preset kPresets[] = {
    P(gen_100x100_hybrid_create, 67, 6, true),
    P(gen_100x100_hybridhr_create, 74, 6, true),
    P(gen_100x100_hybridhr_speed_create, 74, 6, true),
    P(gen_100x100_hybridhr_speed_mem_create, 74, 6, true),
    P(gen_115x115_hybrid_create, 67, 5, true),
    P(gen_115x115_hybrid_speed_create, 67, 5, true),
    P(gen_115x115_hybrid_speed_mem_create, 67, 5, true),
    P(gen_115x115_hybridhr_create, 74, 5, true),
    P(gen_115x115_hybridhr_speed_create, 74, 5, true),
    P(gen_115x115_hybridhr_speed_mem_create, 74, 5, true),
    P(gen_115x115_pro_speed_mem_create, 74, 5, true),
    P(gen_130x130_hybrid_create, 67, 4, false),
    P(gen_130x130_hybrid_speed_create, 67, 4, false),
    P(gen_130x130_hybrid_speed_mem_create, 67, 4, false),
    P(gen_130x130_hybridhr_create, 74, 4, false),
    P(gen_130x130_hybridhr_speed_create, 74, 4, false),
    P(gen_130x130_hybridhr_speed_mem_create, 74, 4, false),
    P(gen_130x130_pro_speed_mem_create, 74, 4, false),
    P(gen_144x396_sw_hybrid_create, 67, 1, false),
    P(gen_144x396_sw_hybrid_slice_create, 67, 1, false),
    P(gen_144x396_sw_hybrid_speed_create, 67, 1, false),
    P(gen_144x396_sw_hybrid_speed_mem_create, 67, 1, false),
    P(gen_144x396_sw_hybrid_speed_mem_slice_create, 67, 1, false),
    P(gen_144x396_sw_hybrid_speed_slice_create, 67, 1, false),
    P(gen_160x160_hybrid_create, 67, 3, false),
    P(gen_160x160_hybrid_slice_create, 67, 3, false),
    P(gen_160x160_hybrid_speed_create, 67, 3, false),
    P(gen_160x160_hybrid_speed_mem_create, 67, 3, false),
    P(gen_160x160_hybrid_speed_mem_slice_create, 67, 3, false),
    P(gen_160x160_hybrid_speed_slice_create, 67, 3, false),
    P(gen_192x192_hybrid_create, 67, 2, false),
    P(gen_192x192_hybrid_slice_create, 67, 2, false),
    P(gen_192x192_hybrid_speed_create, 67, 2, false),
    P(gen_192x192_hybrid_speed_mem_create, 67, 2, false),
    P(gen_192x192_hybrid_speed_mem_slice_create, 67, 2, false),
    P(gen_192x192_hybrid_speed_slice_create, 67, 2, false),
    P(gen_192x56_hybrid_create, 67, 9, true),
    P(gen_192x56_hybrid_speed_mem_create, 67, 9, true),
    P(gen_192x56_hybridhr_create, 74, 9, true),
    P(gen_192x56_hybridhr_speed_mem_create, 74, 9, true),
    P(gen_192x56_pro_speed_mem_create, 74, 9, true),
    P(gen_192x80_hybrid_create, 67, 8, false),
    P(gen_192x80_hybrid_speed_create, 67, 8, false),
    P(gen_192x80_hybrid_speed_mem_create, 67, 8, false),
    P(gen_192x80_hybridhr_create, 74, 8, false),
    P(gen_192x80_hybridhr_speed_create, 74, 8, false),
    P(gen_192x80_hybridhr_speed_mem_create, 74, 8, false),
    P(gen_192x80_pro_speed_mem_create, 74, 8, false),
    P(gen_80x64_hybrid_create, 67, 7, true),
};
#undef P

zr_algorithm_link* link_at(zr_algorithm* a, uint32_t index) { return zr_algorithm_get_link_at_index(a, index); }

TEST(Presets, ExportedPresetWithoutSessionBuildsTwoLinkChain) {
    zr_algorithm* a = gen_192x80_hybridhr_create(nullptr);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(2u, zr_algorithm_get_nbr_of_links(a));
    zr_algorithm_link* first = link_at(a, 0);
    zr_algorithm_link* second = link_at(a, 1);
    EXPECT_EQ(&embedded_extractor, zr_algorithm_link_get_extractor(first));
    EXPECT_EQ(&vandrel_verifier, zr_algorithm_link_get_verifier(first));
    EXPECT_EQ(ZR_LINK_DROP_SCORES, zr_algorithm_link_get_flags(first));
    EXPECT_EQ(nullptr, zr_algorithm_link_get_extractor(second));
    EXPECT_EQ(&ehmhr_verifier, zr_algorithm_link_get_verifier(second));
    EXPECT_EQ(24, zr_algorithm_link_get_nbr_of_subtemplates(second));
    EXPECT_EQ(0, zr_algorithm_link_get_flags(second));
    EXPECT_EQ(74u, zr_algorithm_link_get_extract_template_type(second));
    EXPECT_EQ(74u, zr_algorithm_get_template_type(a));
    EXPECT_EQ(8u, zr_algorithm_get_sensor_size(a));
    EXPECT_EQ(1u, zr_algorithm_get_sensor_type(a));
    const zr_algorithm_config* c = zr_algorithm_get_config(a);
    EXPECT_EQ(64, c->max_templates);
    EXPECT_EQ(24, c->max_captures);
    EXPECT_EQ(70u, c->preset_value_a);
    EXPECT_EQ(81u, c->preset_value_b);
    EXPECT_EQ(20, c->preset_value_c);
    EXPECT_EQ(zr_vermodels_h80, zr_algorithm_get_vermodels(a));
    EXPECT_EQ(1u, zr_algorithm_get_feature_state(a, 2));
    EXPECT_EQ(1u, zr_algorithm_feature_is_mutable(a, 2));
    EXPECT_EQ(0u, zr_algorithm_feature_is_mutable(a, 1));
    zr_algorithm_delete(a);
}

TEST(Presets, SpeedBeyondTheMaximumLeavesOneSubtemplate) {
    zr_session* s = zr_session_create();
    ASSERT_NE(nullptr, s);
    ASSERT_EQ(ZR_OK, zr_session_set_int(s, "zr.algorithm.speed", 30));
    zr_algorithm* a = gen_192x80_hybridhr_create(s);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(1, zr_algorithm_link_get_nbr_of_subtemplates(link_at(a, 1)));
    zr_algorithm_delete(a);
    zr_session_delete(s);
}

TEST(Presets, TwoLinkSpeedTradesSubtemplates) {
    // Row 6: 24 subtemplates at most; a negative setting counts as too fast.
    const struct {
        int32_t speed;
        uint8_t expected;
    } cases[] = {{0, 24}, {5, 19}, {23, 1}, {24, 1}, {-1, 1}};
    for (const auto& c : cases) {
        zr_session* s = zr_session_create();
        ASSERT_EQ(ZR_OK, zr_session_set_int(s, "zr.algorithm.speed", c.speed));
        zr_algorithm_chain* chain = ehmhr_create_chain(s, &embedded_extractor, 6);
        ASSERT_NE(nullptr, chain);
        EXPECT_EQ(c.expected, zr_algorithm_link_get_nbr_of_subtemplates(zr_algorithm_chain_get_last_link(chain)))
            << "speed " << c.speed;
        zr_algorithm_chain_delete(chain);
        zr_session_delete(s);
    }
}

TEST(Presets, ThreeLinkChainDefaultSpeed) {
    zr_algorithm_chain* chain = fehm_create_chain(nullptr, &embedded_speedmem_extractor, 16);
    ASSERT_NE(nullptr, chain);
    ASSERT_EQ(3u, zr_algorithm_chain_get_nbr_of_links(chain));
    zr_algorithm_link* l1 = zr_algorithm_chain_get_first_link(chain);
    zr_algorithm_link* l2 = zr_algorithm_link_get_next(l1);
    zr_algorithm_link* l3 = zr_algorithm_link_get_next(l2);
    EXPECT_EQ(&embedded_speedmem_extractor, zr_algorithm_link_get_extractor(l1));
    EXPECT_EQ(ZR_LINK_DROP_SCORES, zr_algorithm_link_get_flags(l1));
    EXPECT_EQ(&ehm_verifier, zr_algorithm_link_get_verifier(l2));
    EXPECT_EQ(ZR_LINK_DROP_SCORES, zr_algorithm_link_get_flags(l2));
    EXPECT_EQ(2u, zr_algorithm_link_get_accept_far_shift(l2));
    EXPECT_EQ(4u, zr_algorithm_link_get_reject_far(l2));
    EXPECT_EQ(19, zr_algorithm_link_get_nbr_of_subtemplates(l2));
    EXPECT_EQ(&ehmhr_verifier, zr_algorithm_link_get_verifier(l3));
    EXPECT_EQ(0, zr_algorithm_link_get_flags(l3));
    EXPECT_EQ(3, zr_algorithm_link_get_nbr_of_subtemplates(l3));
    for (zr_algorithm_link* l : {l1, l2, l3}) EXPECT_EQ(74u, zr_algorithm_link_get_extract_template_type(l));
    zr_algorithm_chain_delete(chain);
}

TEST(Presets, ThreeLinkSubtemplatesFollowOneThirdOfSpeed) {
    // Row 17 (32 subtemplates): link 2 drops a third of the speed (integer),
    // link 3 keeps half of what is left, at least one.
    constexpr int32_t kMax = 32;
    for (int32_t speed = 0; speed < kMax + 3; ++speed) {
        zr_session* s = zr_session_create();
        ASSERT_EQ(ZR_OK, zr_session_set_int(s, "zr.algorithm.speed", speed));
        ASSERT_EQ(ZR_OK, zr_session_set_int(s, "zr.algorithm.reject_far", 9));
        zr_algorithm_chain* chain = fehm_create_chain(s, &embedded_extractor, 17);
        ASSERT_NE(nullptr, chain);
        int32_t used = speed < kMax ? speed : kMax - 1;
        zr_algorithm_link* l2 = zr_algorithm_link_get_next(zr_algorithm_chain_get_first_link(chain));
        EXPECT_EQ(kMax - used / 3, zr_algorithm_link_get_nbr_of_subtemplates(l2)) << speed;
        EXPECT_EQ(9u, zr_algorithm_link_get_reject_far(l2));
        int32_t left = kMax - used;
        EXPECT_EQ(left < 2 ? 1 : left / 2,
                  zr_algorithm_link_get_nbr_of_subtemplates(zr_algorithm_chain_get_last_link(chain)))
            << speed;
        zr_algorithm_chain_delete(chain);
        zr_session_delete(s);
    }
}

TEST(Presets, SpectralChainSetsLowLatencyOnlyWhenUnset) {
    zr_session* fresh = zr_session_create();
    zr_algorithm_chain* chain = fspec_create_chain(fresh, &embedded_extractor, 14);
    ASSERT_NE(nullptr, chain);
    EXPECT_EQ(1, zr_session_get_int(fresh, "zr.ehm.spectral_low_latency", 4711));
    zr_algorithm_chain_delete(chain);
    zr_session_delete(fresh);

    zr_session* set = zr_session_create();
    ASSERT_EQ(ZR_OK, zr_session_set_int(set, "zr.ehm.spectral_low_latency", 0));
    chain = fspec_create_chain(set, &embedded_extractor, 14);
    ASSERT_NE(nullptr, chain);
    EXPECT_EQ(0, zr_session_get_int(set, "zr.ehm.spectral_low_latency", 4711));
    zr_algorithm_chain_delete(chain);
    zr_session_delete(set);
}

TEST(Presets, BuildersRefuseRowsOutsideTheTable) {
    for (int32_t row : {-1, ZR_PRESET_CHAIN_ROWS}) {
        EXPECT_EQ(nullptr, ehm_create_chain(nullptr, &embedded_extractor, row));
        EXPECT_EQ(nullptr, ehmhr_create_chain(nullptr, &embedded_extractor, row));
        EXPECT_EQ(nullptr, fehm_create_chain(nullptr, &embedded_extractor, row));
        EXPECT_EQ(nullptr, fspec_create_chain(nullptr, &embedded_extractor, row));
    }
}

TEST(Presets, HighResolutionPresetsKeepAnExistingDpi) {
    zr_session* kept = zr_session_create();
    ASSERT_EQ(ZR_OK, zr_session_set_int(kept, "zr.extractor.dpi", 500));
    zr_algorithm* a = gen_192x56_hybridhr_create(kept);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(500, zr_session_get_int(kept, "zr.extractor.dpi", 0));
    zr_algorithm_delete(a);
    zr_session_delete(kept);

    zr_session* fresh = zr_session_create();
    a = gen_100x100_hybrid_create(fresh);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(650, zr_session_get_int(fresh, "zr.extractor.dpi", 0));
    zr_algorithm_delete(a);
    zr_session_delete(fresh);

    // Without a caller's session the preset makes one that the algorithm holds.
    a = gen_80x64_hybrid_create(nullptr);
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(650, zr_session_get_int(zr_algorithm_get_session(a), "zr.extractor.dpi", 0));
    zr_algorithm_delete(a);
}

TEST(Presets, SpectralFullSearchOnlyInTheTwo160HybridPresets) {
    // The 160x160 family has only feature 0 on by itself; two of them add 1.
    const struct {
        zr_algorithm* (*create)(zr_session*);
        uint32_t full_search;
    } cases[] = {{gen_160x160_hybrid_create, 1},        {gen_160x160_hybrid_slice_create, 1},
                 {gen_160x160_hybrid_speed_create, 0},  {gen_160x160_hybrid_speed_mem_create, 0},
                 {gen_160x160_hybrid_speed_slice_create, 0}};
    for (const auto& c : cases) {
        zr_algorithm* a = c.create(nullptr);
        ASSERT_NE(nullptr, a);
        EXPECT_EQ(c.full_search, zr_algorithm_get_feature_state(a, 1));
        EXPECT_EQ(1u, zr_algorithm_feature_is_mutable(a, 1));
        zr_algorithm_delete(a);
    }
}

TEST(Presets, EveryPresetBuildsOnceASession) {
    ASSERT_EQ(49u, std::size(kPresets));
    for (const named_preset& p : kPresets) {
        SCOPED_TRACE(p.name);
        zr_algorithm* bare = p.create(nullptr);
        ASSERT_NE(nullptr, bare);
        EXPECT_EQ(p.template_type, zr_algorithm_get_template_type(bare));
        EXPECT_EQ(p.sensor_size, zr_algorithm_get_sensor_size(bare));
        EXPECT_EQ(p.dpi_650 ? 650 : 500, zr_session_get_int(zr_algorithm_get_session(bare), "zr.extractor.dpi", 500));
        zr_algorithm_link* first = link_at(bare, 0);
        EXPECT_EQ(ZR_LINK_DROP_SCORES, zr_algorithm_link_get_flags(first) & ZR_LINK_DROP_SCORES);
        bool slice = std::string(p.name).find("slice") != std::string::npos;
        const zr_extractor_descriptor* x = zr_algorithm_link_get_extractor(first);
        EXPECT_EQ(slice, x == &slice_extractor || x == &slice_speed_extractor || x == &slice_speedmem_extractor);
        zr_algorithm_delete(bare);

        zr_session* s = zr_session_create();
        ASSERT_NE(nullptr, s);
        zr_algorithm* held = p.create(s);
        ASSERT_NE(nullptr, held);
        EXPECT_EQ(s, zr_algorithm_get_session(held));
        EXPECT_EQ(nullptr, p.create(s));
        EXPECT_EQ(nullptr, gen_192x80_hybridhr_create(s));
        zr_algorithm_delete(held);
        // The session is free again once the algorithm is gone.
        zr_algorithm* again = p.create(s);
        EXPECT_NE(nullptr, again);
        zr_algorithm_delete(again);
        zr_session_delete(s);
    }
}

}  // namespace
