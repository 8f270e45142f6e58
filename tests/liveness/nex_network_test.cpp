#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "liveness/nex_math.h"
#include "liveness/nex_network.h"
#include "liveness_test_nets.h"
#include "objects/zr_alloc.h"

namespace {

using fp_test::OwnedNetwork;

// Runs nex_mlp_test on one sample; the error word is cleared first.
uint32_t score_one(const OwnedNetwork& owned, std::vector<int32_t> inputs) {
    const nex_network net = owned.net();
    const nex_samples samples{static_cast<int32_t>(inputs.size()), 1, inputs.data()};
    uint32_t score = 0xDEAD;
    nex_error(0);
    nex_mlp_test(&samples, &net, &score);
    EXPECT_EQ(0u, nex_error_q());
    return score;
}

int32_t raw_score(const OwnedNetwork& owned, std::vector<int32_t> inputs) {
    const nex_network net = owned.net();
    std::vector<int32_t> scratch(nn_scratch_entries(&net));
    std::copy(inputs.begin(), inputs.end(), scratch.begin());
    return nn_score(scratch.data(), &net);
}

// The forward pass in double precision: real-valued normalisation,
// weighted sums and sigmoid, no truncation.
double reference_score(const OwnedNetwork& n, const std::vector<int32_t>& inputs) {
    std::vector<double> prev;
    for (size_t i = 0; i < inputs.size(); ++i)
        prev.push_back(2048.0 * (inputs[i] - double(n.minima[i])) / (n.maxima[i] - double(n.minima[i])));
    size_t w = 0, b = 0;
    for (size_t l = 1; l < n.sizes.size(); ++l) {
        std::vector<double> out;
        for (int32_t j = 0; j < n.sizes[l]; ++j) {
            double a = n.biases[b++];
            for (double p : prev) a += n.weights[w++] * p / 2048.0;
            double y = a * 1178.0 / (std::fabs(a) + 2048.0) + 1024.0;
            if (l + 1 < n.sizes.size()) y = std::clamp(y, 0.0, 2048.0);
            out.push_back(y);
        }
        prev = out;
    }
    return prev[0] * 900.0 / 2048.0 + 50.0;
}

TEST(NexNetwork, ZeroNetworkScores500ForAnyInput) {
    const OwnedNetwork n = fp_test::zero_network({190, 1});
    std::mt19937 rng(5);
    for (int round = 0; round < 3; ++round)
        EXPECT_EQ(500u, score_one(n, fp_test::random_inputs(n, rng)));
}

TEST(NexNetwork, HandComputedTwoTwoOneNetwork) {
    OwnedNetwork n;
    n.sizes = {2, 2, 1};
    n.minima = {0, 0};
    n.maxima = {100, 200};
    n.weights = {2048, 0, 0, -2048, 1024, -1024};
    n.biases = {0, 1, 0};
    // Inputs 1024, 2048; hidden 1416, 436; output sum 490 -> 1251 -> 599.
    EXPECT_EQ(599u, score_one(n, {50, 200}));
}

TEST(NexNetwork, OneInputOneOutputCases) {
    struct Case {
        int32_t bias, weight, min, max, input, raw;
        const char* what;
    };
    const Case cases[] = {
        {13618, 0, 0, 10, 10, 950, "output 2048 gives 950"},
        {-13618, 0, 0, 10, 10, 50, "output 0 gives 50"},
        {0, 1 << 20, 0, 10, 10, -17, "sum wraps to INT32_MIN"},
        {0, 5000, 7, 7, 7, 500, "empty range normalises to 0"},
        {0, 1, 1, 0, (1 << 20) + 1, -17, "INT32_MIN / -1 gives INT32_MIN"},
        {(1 << 20) - 1, 0, 0, 10, 0, 1016, "largest sum"},
    };
    for (const Case& c : cases) {
        OwnedNetwork n;
        n.sizes = {1, 1};
        n.biases = {c.bias};
        n.weights = {c.weight};
        n.minima = {c.min};
        n.maxima = {c.max};
        EXPECT_EQ(c.raw, raw_score(n, {c.input})) << c.what;
        EXPECT_EQ(static_cast<uint32_t>(std::clamp(c.raw, 0, 1000)), score_one(n, {c.input})) << c.what;
    }
}

TEST(NexNetwork, HiddenLayerIsClampedOutputIsNot) {
    // Hidden a = 2^20 - 1 gives 2199, clamped to 2048; the output neuron
    // (weight 1.0) then sums 2048: 1613 -> 758 (unclamped 2199 would give 767).
    OwnedNetwork n;
    n.sizes = {1, 1, 1};
    n.biases = {(1 << 20) - 1, 0};
    n.weights = {0, 2048};
    n.minima = {0};
    n.maxima = {1};
    EXPECT_EQ(758, raw_score(n, {0}));
}

TEST(NexNetwork, ScoresEverySampleInOrder) {
    OwnedNetwork n;
    n.sizes = {1, 1};
    n.biases = {0};
    n.weights = {4096};
    n.minima = {0};
    n.maxima = {100};
    const std::vector<int32_t> values = {0, 50, 100};
    const nex_network net = n.net();
    const nex_samples samples{1, 3, values.data()};
    uint32_t scores[3] = {};
    nex_error(0);
    nex_mlp_test(&samples, &net, scores);
    EXPECT_EQ(0u, nex_error_q());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(static_cast<uint32_t>(raw_score(n, {values[i]})), scores[i]);
    EXPECT_LT(scores[0], scores[1]);
    EXPECT_LT(scores[1], scores[2]);
}

TEST(NexNetwork, AgreesWithDoublePrecisionOnRandomNets) {
    std::mt19937 rng(2024);
    const std::vector<std::vector<int32_t>> shapes = {{190, 16, 1}, {12, 6, 3, 1}, {5, 1}, {30, 8, 2}};
    for (const auto& shape : shapes) {
        for (int trial = 0; trial < 40; ++trial) {
            const OwnedNetwork n = fp_test::random_network(shape, 1024, rng);
            const std::vector<int32_t> x = fp_test::random_inputs(n, rng);
            const double want = reference_score(n, x);
            EXPECT_NEAR(want, raw_score(n, x), 4.0) << "shape of " << shape.size() << " layers, trial " << trial;
        }
    }
}

TEST(NexNetwork, RefusedNetworksAndSamplesWriteNothing) {
    const OwnedNetwork good = fp_test::zero_network({3, 2, 1});
    const std::vector<int32_t> zero_size = {3, 0, 1};
    const std::vector<int32_t> values(3, 1);
    struct Case {
        const char* what;
        void (*spoil)(nex_network&, nex_samples&, const std::vector<int32_t>&);
    };
    const Case cases[] = {
        {"one layer", [](nex_network& n, nex_samples&, const std::vector<int32_t>&) { n.layer_count = 1; }},
        {"no layers", [](nex_network& n, nex_samples&, const std::vector<int32_t>&) { n.layer_count = 0; }},
        {"layer of size 0", [](nex_network& n, nex_samples&, const std::vector<int32_t>& z) { n.layer_sizes = z.data(); }},
        {"no weights", [](nex_network& n, nex_samples&, const std::vector<int32_t>&) { n.weights = nullptr; }},
        {"no biases", [](nex_network& n, nex_samples&, const std::vector<int32_t>&) { n.biases = nullptr; }},
        {"no minima", [](nex_network& n, nex_samples&, const std::vector<int32_t>&) { n.input_min = nullptr; }},
        {"no maxima", [](nex_network& n, nex_samples&, const std::vector<int32_t>&) { n.input_max = nullptr; }},
        {"no sizes", [](nex_network& n, nex_samples&, const std::vector<int32_t>&) { n.layer_sizes = nullptr; }},
        {"input count differs", [](nex_network&, nex_samples& s, const std::vector<int32_t>&) { s.inputs_per_sample = 2; }},
        {"no sample values", [](nex_network&, nex_samples& s, const std::vector<int32_t>&) { s.values = nullptr; }},
    };
    for (const Case& c : cases) {
        nex_network net = good.net();
        nex_samples samples{3, 1, values.data()};
        c.spoil(net, samples, zero_size);
        uint32_t score = 0xDEAD;
        nex_error(0);
        nex_mlp_test(&samples, &net, &score);
        EXPECT_EQ(NEX_ERROR_BAD_NETWORK, nex_error_q()) << c.what;
        EXPECT_EQ(0xDEADu, score) << c.what;
    }
    nex_error(0);
    EXPECT_FALSE(nn_network_is_runnable(nullptr));
    EXPECT_EQ(0u, nn_required_inputs(nullptr));
    nex_network net = good.net();
    EXPECT_EQ(3u, nn_required_inputs(&net));
    net.layer_count = 0;
    EXPECT_EQ(0u, nn_required_inputs(&net));
}

TEST(NexNetwork, FailedScratchAllocationSetsErrorWordAndWritesNothing) {
    const OwnedNetwork n = fp_test::zero_network({2, 1});
    const nex_network net = n.net();
    const std::vector<int32_t> values = {1, 2};
    const nex_samples samples{2, 1, values.data()};
    uint32_t score = 0xDEAD;
    nex_error(0);
    zr_alloc_fail_after(0);
    nex_mlp_test(&samples, &net, &score);
    zr_alloc_fail_after(-1);
    EXPECT_EQ(NEX_ERROR_NO_MEMORY, nex_error_q());
    EXPECT_EQ(0xDEADu, score);
    nex_error(0);
}

TEST(NexNetwork, ArrayStatistics) {
    const int32_t ints[] = {3, -7, 12, 12, -7};
    const uint8_t bytes[] = {9, 200, 0, 200};
    const uint32_t words[] = {4, 0xFFFFFFFFu, 1, 0xFFFFFFFFu, 1};
    EXPECT_EQ(12, max_array_int(ints, 5));
    EXPECT_EQ(-7, min_array_int(ints, 5));
    EXPECT_EQ(200, max_array_uchar(bytes, 4));
    EXPECT_EQ(0, min_array_uchar(bytes, 4));
    EXPECT_EQ(1, max_loc_array(words, 5));  // unsigned, first of the ties
    EXPECT_EQ(2, min_loc_array(words, 5));
    EXPECT_EQ(0, max_loc_array(words, 1));
    EXPECT_EQ(3, mean_array_int(ints, 5));      // 13 / 5 = 2.6
    EXPECT_EQ(102, mean_array_uchar(bytes, 4));  // 409 / 4 = 102.25
    const int32_t negative[] = {-1, -2};
    EXPECT_EQ(-2, mean_array_int(negative, 2));  // -1.5 rounds away from zero
    EXPECT_EQ(0, max_array_int(ints, 0));
    EXPECT_EQ(0, mean_array_int(ints, 0));

    uint32_t values[] = {5, 1, 4, 2};
    EXPECT_EQ(3, median_array(values, 4));
    EXPECT_EQ((std::vector<uint32_t>{1, 2, 4, 5}), std::vector<uint32_t>(values, values + 4));
    uint32_t odd[] = {9, 3, 7};
    EXPECT_EQ(7, median_array(odd, 3));
}

}  // namespace
