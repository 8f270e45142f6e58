// Hand-built liveness networks shared by the liveness tests and benchmarks.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "liveness/nex_network.h"

namespace fp_test {

// Owns the arrays of a network record; net() points into them.
struct OwnedNetwork {
    std::vector<int32_t> sizes, weights, biases, minima, maxima;

    nex_network net() const {
        nex_network n{};
        n.layer_sizes = sizes.data();
        n.layer_count = static_cast<int32_t>(sizes.size());
        n.weights = weights.data();
        n.biases = biases.data();
        n.input_min = minima.data();
        n.input_max = maxima.data();
        return n;
    }

    size_t weight_count() const {
        size_t total = 0;
        for (size_t l = 1; l < sizes.size(); ++l)
            total += static_cast<size_t>(sizes[l]) * static_cast<size_t>(sizes[l - 1]);
        return total;
    }
    size_t bias_count() const {
        size_t total = 0;
        for (size_t l = 1; l < sizes.size(); ++l) total += static_cast<size_t>(sizes[l]);
        return total;
    }
};

// All weights and biases 0, inputs ranging over 0..1000: scores 500.
inline OwnedNetwork zero_network(std::vector<int32_t> sizes) {
    OwnedNetwork n;
    n.sizes = std::move(sizes);
    n.weights.assign(n.weight_count(), 0);
    n.biases.assign(n.bias_count(), 0);
    n.minima.assign(static_cast<size_t>(n.sizes[0]), 0);
    n.maxima.assign(static_cast<size_t>(n.sizes[0]), 1000);
    return n;
}

// Random coefficients with |bias| + sum |weights| below 2^20 for every
// neuron (weights in +-max_weight), input ranges below 2^20.
inline OwnedNetwork random_network(std::vector<int32_t> sizes, int32_t max_weight,
                                   std::mt19937& rng) {
    OwnedNetwork n;
    n.sizes = std::move(sizes);
    std::uniform_int_distribution<int32_t> weight(-max_weight, max_weight);
    std::uniform_int_distribution<int32_t> low(-50000, 50000);
    std::uniform_int_distribution<int32_t> span(1, 400000);
    for (size_t i = 0; i < n.weight_count(); ++i) n.weights.push_back(weight(rng));
    for (size_t i = 0; i < n.bias_count(); ++i) n.biases.push_back(weight(rng));
    for (int32_t i = 0; i < n.sizes[0]; ++i) {
        const int32_t lo = low(rng);
        n.minima.push_back(lo);
        n.maxima.push_back(lo + span(rng));
    }
    return n;
}

// Inputs drawn uniformly inside the network's input ranges.
inline std::vector<int32_t> random_inputs(const OwnedNetwork& n, std::mt19937& rng) {
    std::vector<int32_t> x;
    for (size_t i = 0; i < n.minima.size(); ++i)
        x.push_back(std::uniform_int_distribution<int32_t>(n.minima[i], n.maxima[i])(rng));
    return x;
}

}  // namespace fp_test
