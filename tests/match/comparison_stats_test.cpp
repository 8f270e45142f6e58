// Comparison-mode statistics: histogram updates through a scripted chain
// match, expansion and sorting, and the false-reject rate against a rate
// computed directly from sorted score lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "match/zr_comparison_stats.h"
#include "match/verifiers/zr_vermodels.h"

namespace {

using Histogram = std::vector<uint32_t>;

uint16_t g_raw = 0;
zr_template* g_probe_seen = nullptr;
zr_image* g_image_seen = nullptr;
uint32_t g_level_seen = 0;

zr_status scripted_chain_match(zr_algorithm*, zr_template* const*, uint8_t, zr_template* probe, zr_image* image,
                               uint32_t far_level, zr_match_result* result) {
    g_probe_seen = probe;
    g_image_seen = image;
    g_level_seen = far_level;
    result->raw_score = g_raw;
    return g_raw == 0 ? ZR_BAD_DATA : ZR_OK;
}

TEST(ComparisonStats, UpdateCountsOneRawScore) {
    zr_session* s = zr_session_create();
    zr_algorithm_chain* chain = zr_algorithm_chain_create();
    zr_algorithm_chain_append_link(chain, zr_algorithm_link_create(nullptr, 67, nullptr, &ehmhr_verifier, 0, 0));
    zr_algorithm_config config;
    zr_algorithm_default_config(&config);
    zr_algorithm* a = zr_algorithm_create(s, chain, 67, 0, 8, nullptr, 0, nullptr, 0, &config);
    const zr_verify_override pair = {scripted_chain_match, nullptr};
    zr_algorithm_set_verify_override(a, &pair);
    const uint8_t byte = 1;
    zr_template* probe = zr_template_create(67, &byte, 1);
    zr_image* image = zr_image_create(16, 16, 500, 500, nullptr, 0);
    zr_template* list[] = {probe};
    Histogram h(ZR_SCORE_BINS, 7);

    ASSERT_EQ(ZR_OK, zr_comparison_mode_stats_reset(h.data()));
    g_raw = 4242;
    ASSERT_EQ(ZR_OK, zr_comparison_mode_stats_update(a, list, 1, probe, image, h.data()));
    EXPECT_EQ(probe, g_probe_seen);  // the template wins over the image
    EXPECT_EQ(nullptr, g_image_seen);
    EXPECT_EQ(28u, g_level_seen);
    EXPECT_EQ(1, std::count_if(h.begin(), h.end(), [](uint32_t v) { return v != 0; }));
    EXPECT_EQ(1u, h[4242]);

    ASSERT_EQ(ZR_OK, zr_comparison_mode_stats_update(a, list, 1, nullptr, image, h.data()));
    EXPECT_EQ(image, g_image_seen);
    EXPECT_EQ(2u, h[4242]);
    g_raw = 0;  // a failing verification counts nothing
    EXPECT_EQ(ZR_BAD_DATA, zr_comparison_mode_stats_update(a, list, 1, probe, nullptr, h.data()));
    EXPECT_EQ(2u, h[4242]);
    EXPECT_EQ(0u, h[0]);

    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_comparison_mode_stats_update(a, list, 1, nullptr, nullptr, h.data()));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_comparison_mode_stats_update(a, list, 0, probe, nullptr, h.data()));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_comparison_mode_stats_update(a, nullptr, 1, probe, nullptr, h.data()));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_comparison_mode_stats_update(nullptr, list, 1, probe, nullptr, h.data()));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_comparison_mode_stats_reset(nullptr));
    EXPECT_EQ(1u, zr_comparison_mode_stats_print_score_table());
    zr_image_delete(image);
    zr_template_delete(probe);
    zr_algorithm_delete(a);
    zr_session_delete(s);
}

TEST(ComparisonStats, HistogramExpandsHighestFirst) {
    Histogram h(ZR_SCORE_BINS, 0);
    h[3] = 2;
    h[65535] = 1;
    h[100] = 3;
    uint32_t* array = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(ZR_OK, pef_histogram_to_array(h.data(), ZR_SCORE_BINS, &array, &count));
    EXPECT_EQ((std::vector<uint32_t>{65535, 100, 100, 100, 3, 3}), std::vector<uint32_t>(array, array + count));
    ASSERT_EQ(ZR_OK, pef_sort_scores(array, count, 1));
    EXPECT_EQ((std::vector<uint32_t>{3, 3, 100, 100, 100, 65535}), std::vector<uint32_t>(array, array + count));
    free(array);
    Histogram empty(ZR_SCORE_BINS, 0);
    EXPECT_EQ(ZR_UNHANDLED_INPUT, pef_histogram_to_array(empty.data(), ZR_SCORE_BINS, &array, &count));
    EXPECT_EQ(ZR_UNHANDLED_INPUT, pef_histogram_to_array(h.data(), 0, &array, &count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(ZR_BAD_ARGUMENT, pef_histogram_to_array(nullptr, 1, &array, &count));
    EXPECT_EQ(ZR_BAD_ARGUMENT, pef_sort_scores(nullptr, 1, 1));
}

constexpr uint64_t kDenominators[28] = {1,       2,       5,        10,       20,       50,        100,
                                        200,     500,     1000,     2000,     5000,     10000,     20000,
                                        50000,   100000,  200000,   500000,   1000000,  2000000,   5000000,
                                        10000000, 20000000, 50000000, 100000000, 200000000, 500000000, 1000000000};

// The genuine scores below the impostor score that the FAR level lets
// through (the k-th highest, k = b / denominator, at most b - 1).
uint32_t reference_rate(std::vector<uint32_t> genuine, std::vector<uint32_t> impostor, int level) {
    std::sort(impostor.begin(), impostor.end(), std::greater<>());
    const uint64_t k = std::min<uint64_t>(impostor.size() / kDenominators[level], impostor.size() - 1);
    const uint32_t t = impostor[k];
    const auto below = std::count_if(genuine.begin(), genuine.end(), [t](uint32_t g) { return g < t; });
    return uint32_t(uint64_t(below) * 10000 / genuine.size());
}

TEST(ComparisonStats, FalseRejectRateAgainstSortedLists) {
    std::mt19937 rng(12);
    for (int round = 0; round < 20; ++round) {
        std::normal_distribution<double> gen(30000, 6000), imp(15000, 5000);
        std::vector<uint32_t> genuine, impostor;
        Histogram g(ZR_SCORE_BINS, 0), i(ZR_SCORE_BINS, 0);
        const int ng = 50 + round * 13, ni = 200 + round * 97;
        for (int n = 0; n < ng; ++n) genuine.push_back(uint32_t(std::clamp(gen(rng), 0.0, 65535.0)));
        for (int n = 0; n < ni; ++n) impostor.push_back(uint32_t(std::clamp(imp(rng), 0.0, 65535.0)));
        for (uint32_t v : genuine) ++g[v];
        for (uint32_t v : impostor) ++i[v];
        for (int level = 0; level < 28; ++level)
            ASSERT_EQ(reference_rate(genuine, impostor, level),
                      zr_comparison_mode_stats_get_frr_at_far(g.data(), i.data(), level))
                << "round " << round << " level " << level;
    }
}

TEST(ComparisonStats, FalseRejectRateEdges) {
    Histogram g(ZR_SCORE_BINS, 0), i(ZR_SCORE_BINS, 0), empty(ZR_SCORE_BINS, 0);
    i[1000] = 10;  // every impostor score is t = 1000
    g[1000] = 4;
    g[5000] = 4;
    EXPECT_EQ(0u, zr_comparison_mode_stats_get_frr_at_far(g.data(), i.data(), 12));  // all at least t
    EXPECT_EQ(0u, zr_comparison_mode_stats_get_frr_at_far(g.data(), i.data(), 0));   // k clamped to b - 1
    Histogram low(ZR_SCORE_BINS, 0);
    low[999] = 3;
    EXPECT_EQ(10000u, zr_comparison_mode_stats_get_frr_at_far(low.data(), i.data(), 12));  // all below
    EXPECT_EQ(ZR_RATE_NONE, zr_comparison_mode_stats_get_frr_at_far(empty.data(), i.data(), 12));
    EXPECT_EQ(ZR_RATE_NONE, zr_comparison_mode_stats_get_frr_at_far(g.data(), empty.data(), 12));
    EXPECT_EQ(ZR_RATE_NONE, zr_comparison_mode_stats_get_frr_at_far(nullptr, i.data(), 12));
    EXPECT_EQ(ZR_RATE_NONE, zr_comparison_mode_stats_get_frr_at_far(g.data(), i.data(), 28));
    EXPECT_EQ(ZR_RATE_NONE, zr_comparison_mode_stats_get_frr_at_far(g.data(), i.data(), -1));
}

}  // namespace
