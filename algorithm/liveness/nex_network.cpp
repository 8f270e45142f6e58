#include "liveness/nex_network.h"

#include <cstdlib>
#include <cstring>

#include "liveness/nex_math.h"
#include "objects/zr_alloc.h"

namespace {

constexpr uint32_t kFractionBits = 11;      // Q11
constexpr int32_t kOne = 1 << kFractionBits;  // 1.0 in Q11
constexpr int32_t kSigmoidGain = 1178;
constexpr int32_t kSigmoidOffset = 1024;
constexpr int32_t kOutputScale = 900;
constexpr int32_t kOutputOffset = 50;

// Wrapping 32-bit helpers: the network's arithmetic is that of i32 values
// that wrap, computed in uint32_t so that it is defined everywhere.
int32_t wrap_add(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t wrap_sub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t wrap_mul(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
int32_t wrap_shl(int32_t a, uint32_t bits) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) << bits);
}
// Truncating division; INT32_MIN / -1 wraps to INT32_MIN instead of trapping.
int32_t wrap_div(int32_t a, int32_t b) {
    if (b == -1) return wrap_sub(0, a);
    return a / b;
}

// (x - min) << 11 / (max - min), or 0 for an empty range.
int32_t normalise_input(int32_t x, int32_t min, int32_t max) {
    const int32_t range = wrap_sub(max, min);
    if (range == 0) return 0;
    return wrap_div(wrap_shl(wrap_sub(x, min), kFractionBits), range);
}

// Rational sigmoid of the Q11 sum a: a x 1178 / (|a| + 2048) + 1024. The sum
// a is an accumulator shifted right by 11, so |a| + 2048 is positive.
int32_t activation(int32_t a) {
    return wrap_mul(a, kSigmoidGain) / (nex_abs(a) + kOne) + kSigmoidOffset;
}

int32_t clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Where one layer's weights, biases, inputs and outputs sit.
struct LayerView {
    const int32_t* weights;
    const int32_t* biases;
    const int32_t* inputs;
    int32_t* outputs;
    int32_t input_count;
    int32_t neuron_count;
};

void run_layer(const LayerView& layer, bool clamp_outputs) {
    const int32_t* w = layer.weights;
    for (int32_t j = 0; j < layer.neuron_count; ++j) {
        int32_t acc = wrap_shl(layer.biases[j], kFractionBits);
        for (int32_t k = 0; k < layer.input_count; ++k) acc = wrap_add(acc, wrap_mul(w[k], layer.inputs[k]));
        w += layer.input_count;
        const int32_t y = activation(acc >> kFractionBits);
        layer.outputs[j] = clamp_outputs ? clamp(y, 0, kOne) : y;
    }
}

}  // namespace

uint32_t nn_required_inputs(const nex_network* network) {
    if (network == nullptr || network->layer_sizes == nullptr || network->layer_count < 1) return 0;
    return static_cast<uint32_t>(network->layer_sizes[0]);
}

bool nn_network_is_runnable(const nex_network* network) {
    if (network == nullptr || network->layer_sizes == nullptr || network->weights == nullptr ||
        network->biases == nullptr || network->input_min == nullptr ||
        network->input_max == nullptr || network->layer_count < 2)
        return false;
    for (int32_t l = 0; l < network->layer_count; ++l)
        if (network->layer_sizes[l] < 1) return false;
    return true;
}

uint64_t nn_scratch_entries(const nex_network* network) {
    uint64_t total = 0;
    for (int32_t l = 0; l < network->layer_count; ++l)
        total += static_cast<uint64_t>(network->layer_sizes[l]);
    return total;
}

int32_t nn_score(int32_t* scratch, const nex_network* network) {
    const int32_t* sizes = network->layer_sizes;
    for (int32_t i = 0; i < sizes[0]; ++i)
        scratch[i] = normalise_input(scratch[i], network->input_min[i], network->input_max[i]);

    LayerView layer{network->weights, network->biases, scratch, scratch + sizes[0], sizes[0], 0};
    const int32_t last = network->layer_count - 1;
    for (int32_t l = 1; l <= last; ++l) {
        layer.neuron_count = sizes[l];
        run_layer(layer, l < last);
        layer.weights += static_cast<size_t>(sizes[l]) * static_cast<size_t>(sizes[l - 1]);
        layer.biases += sizes[l];
        layer.inputs = layer.outputs;
        layer.outputs += sizes[l];
        layer.input_count = sizes[l];
    }
    // After the loop, layer.inputs points at the output layer's values.
    return ((layer.inputs[0] * kOutputScale) >> kFractionBits) + kOutputOffset;
}

void nex_mlp_test(const nex_samples* samples, const nex_network* network, uint32_t* scores) {
    if (samples == nullptr || scores == nullptr || !nn_network_is_runnable(network) ||
        samples->inputs_per_sample != network->layer_sizes[0] ||
        (samples->sample_count > 0 && samples->values == nullptr)) {
        nex_error(NEX_ERROR_BAD_NETWORK);
        return;
    }
    const uint64_t entries = nn_scratch_entries(network);
    if (entries > SIZE_MAX / sizeof(int32_t)) {
        nex_error(NEX_ERROR_NO_MEMORY);
        return;
    }
    auto* scratch = static_cast<int32_t*>(zr_malloc(static_cast<size_t>(entries) * sizeof(int32_t)));
    if (scratch == nullptr) {
        nex_error(NEX_ERROR_NO_MEMORY);
        return;
    }
    const size_t n = static_cast<size_t>(samples->inputs_per_sample);
    for (int32_t s = 0; s < samples->sample_count; ++s) {
        std::memcpy(scratch, samples->values + static_cast<size_t>(s) * n, n * sizeof(int32_t));
        scores[s] = static_cast<uint32_t>(clamp(nn_score(scratch, network), 0, NEX_SCORE_MAX));
    }
    std::free(scratch);
}

// ---------------------------------------------------------------------------
// Array statistics

namespace {

template <class T>
T array_max(const T* values, int32_t n) {
    if (n < 1) return 0;
    T best = values[0];
    for (int32_t i = 1; i < n; ++i)
        if (values[i] > best) best = values[i];
    return best;
}

template <class T>
T array_min(const T* values, int32_t n) {
    if (n < 1) return 0;
    T best = values[0];
    for (int32_t i = 1; i < n; ++i)
        if (values[i] < best) best = values[i];
    return best;
}

int32_t rounded_mean(int64_t sum, int32_t n) {
    const int64_t half = n / 2;
    return static_cast<int32_t>(sum >= 0 ? (sum + half) / n : (sum - half) / n);
}

template <class T>
int32_t array_mean(const T* values, int32_t n) {
    if (n < 1) return 0;
    int64_t sum = 0;
    for (int32_t i = 0; i < n; ++i) sum += values[i];
    return rounded_mean(sum, n);
}

}  // namespace

int32_t max_array_int(const int32_t* values, int32_t n) { return array_max(values, n); }
uint8_t max_array_uchar(const uint8_t* values, int32_t n) { return array_max(values, n); }
int32_t min_array_int(const int32_t* values, int32_t n) { return array_min(values, n); }
uint8_t min_array_uchar(const uint8_t* values, int32_t n) { return array_min(values, n); }

int32_t max_loc_array(const uint32_t* values, int32_t n) {
    int32_t at = 0;
    for (int32_t i = 1; i < n; ++i)
        if (values[i] > values[at]) at = i;
    return at;
}

int32_t min_loc_array(const uint32_t* values, int32_t n) {
    int32_t at = 0;
    for (int32_t i = 1; i < n; ++i)
        if (values[i] < values[at]) at = i;
    return at;
}

int32_t mean_array_int(const int32_t* values, int32_t n) { return array_mean(values, n); }
int32_t mean_array_uchar(const uint8_t* values, int32_t n) { return array_mean(values, n); }

int32_t median_array(uint32_t* values, int32_t n) {
    if (n < 1) return 0;
    for (int32_t i = 0; i + 1 < n; ++i) {
        const int32_t smallest = min_loc_array(values + i, n - i) + i;
        const uint32_t v = values[smallest];
        values[smallest] = values[i];
        values[i] = v;
    }
    if (n % 2 == 1) return static_cast<int32_t>(values[n / 2]);
    return static_cast<int32_t>(values[n / 2 - 1] + values[n / 2]) >> 1;
}
