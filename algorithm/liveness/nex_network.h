// The liveness network: a small fully connected network evaluated in 32-bit
// fixed point (Q11: 2048 = 1.0), whose shape and coefficients come from the
// caller's model record, and the small array statistics of the liveness
// mask generation.
#pragma once

#include <cstddef>
#include <cstdint>

// The caller's network record; the byte offsets are part of the interface.
// Weights are stored layer after layer, neuron-major within a layer: the
// weight from input k of neuron j of layer l is at
// (offset of layer l) + j x size(l - 1) + k. Biases are stored for every
// layer after the input, layer after layer.
struct nex_network {
    const int32_t* layer_sizes;  // L sizes, input layer first, output last
    int32_t layer_count;         // L, input and output layers included
    uint32_t reserved0;
    uint64_t reserved1;          // not read
    const int32_t* weights;
    const int32_t* biases;
    const int32_t* input_min;    // size(0) entries
    const int32_t* input_max;    // size(0) entries
};
static_assert(offsetof(nex_network, layer_sizes) == 0);
static_assert(offsetof(nex_network, layer_count) == 8);
static_assert(offsetof(nex_network, weights) == 24);
static_assert(offsetof(nex_network, biases) == 32);
static_assert(offsetof(nex_network, input_min) == 40);
static_assert(offsetof(nex_network, input_max) == 48);
static_assert(sizeof(nex_network) == 56);

// Feature samples: sample_count samples of inputs_per_sample i32 values each,
// sample after sample.
struct nex_samples {
    int32_t inputs_per_sample;
    int32_t sample_count;
    const int32_t* values;
};
static_assert(offsetof(nex_samples, inputs_per_sample) == 0);
static_assert(offsetof(nex_samples, sample_count) == 4);
static_assert(offsetof(nex_samples, values) == 8);

// Error word value for a network or samples the run refuses (maps to the
// general failure).
constexpr uint32_t NEX_ERROR_BAD_NETWORK = 1;

// Scores are clamped to 0..NEX_SCORE_MAX.
constexpr int32_t NEX_SCORE_MAX = 1000;

// size(0), or 0 for a missing network, a missing size array or L < 1.
[[nodiscard]] uint32_t nn_required_inputs(const nex_network* network);

// True when the network can be run: all five arrays present, L >= 2, every
// layer size at least 1. (Sizes are summed in 64 bits by the run.)
[[nodiscard]] bool nn_network_is_runnable(const nex_network* network);

// Entries of the scratch of one run: the sum of all layer sizes (64-bit).
// The network must be runnable.
[[nodiscard]] uint64_t nn_scratch_entries(const nex_network* network);

// Raw score of the one sample whose size(0) input values start the scratch;
// the scratch holds nn_scratch_entries values and is overwritten (inputs
// normalised in place, every layer's outputs side by side behind them).
// The network must be runnable.
//
// Arithmetic is that of 32-bit two's-complement values that wrap on
// overflow (>> arithmetic, / truncating); a normalisation of INT32_MIN by -1
// gives INT32_MIN. Nothing wraps when every max - min lies below 2^20, the
// inputs lie in [min, max] and each neuron's |bias| plus the sum of its
// |weights| is below 2^20. Each neuron computes a = (bias << 11 + sum of
// weight x input) >> 11 and y = a x 1178 / (|a| + 2048) + 1024, clamped to
// 0..2048 in hidden layers and not clamped in the output layer. The result
// is (y of output neuron 0) x 900 >> 11, plus 50: about -17..1017.
[[nodiscard]] int32_t nn_score(int32_t* scratch, const nex_network* network);

// Scores every sample into scores[0 .. sample_count - 1], each clamped to
// 0..1000. One allocation per call. On failure nothing is written and the
// calling thread's error word is set: NEX_ERROR_NO_MEMORY when the scratch
// cannot be allocated, NEX_ERROR_BAD_NETWORK for a network that is not
// runnable, inputs_per_sample other than size(0), or samples without values.
// No samples: nothing written, no error.
void nex_mlp_test(const nex_samples* samples, const nex_network* network, uint32_t* scores);

// ---------------------------------------------------------------------------
// Array statistics; a count below 1 gives 0.

[[nodiscard]] int32_t max_array_int(const int32_t* values, int32_t n);
[[nodiscard]] uint8_t max_array_uchar(const uint8_t* values, int32_t n);
[[nodiscard]] int32_t min_array_int(const int32_t* values, int32_t n);
[[nodiscard]] uint8_t min_array_uchar(const uint8_t* values, int32_t n);
// Index of the first largest / smallest value (unsigned comparison); 0 for
// n < 2.
[[nodiscard]] int32_t max_loc_array(const uint32_t* values, int32_t n);
[[nodiscard]] int32_t min_loc_array(const uint32_t* values, int32_t n);
// Mean rounded half away from zero: (sum + n/2) / n for a non-negative sum,
// (sum - n/2) / n otherwise; the sum is taken in 64 bits.
[[nodiscard]] int32_t mean_array_int(const int32_t* values, int32_t n);
[[nodiscard]] int32_t mean_array_uchar(const uint8_t* values, int32_t n);
// Sorts the values in place (ascending, unsigned), then returns the middle
// one for odd n, and for even n the two middle values added as wrapping
// 32-bit signed values and shifted right by 1 (arithmetic).
[[nodiscard]] int32_t median_array(uint32_t* values, int32_t n);
