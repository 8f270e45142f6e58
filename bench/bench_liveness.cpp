// Liveness network and mask-generation filters.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "bench_captures.h"
#include "fp_test_data.h"
#include "liveness/nex_filters.h"
#include "liveness/nex_math.h"
#include "liveness/nex_network.h"

namespace {

// One sample through a {190, 16, 1} network of random coefficients that
// stay inside the range where nothing wraps.
void BM_nex_mlp_test_190_16_1(benchmark::State& state) {
    const int32_t sizes[] = {190, 16, 1};
    std::mt19937 rng(42);
    std::uniform_int_distribution<int32_t> weight(-1024, 1024);
    std::vector<int32_t> weights(190 * 16 + 16), biases(17), minima(190), maxima(190), features(190);
    for (auto& w : weights) w = weight(rng);
    for (auto& b : biases) b = weight(rng);
    for (int i = 0; i < 190; ++i) {
        minima[i] = 0;
        maxima[i] = 10000;
        features[i] = static_cast<int32_t>(rng() % 10001);
    }
    nex_network net{};
    net.layer_sizes = sizes;
    net.layer_count = 3;
    net.weights = weights.data();
    net.biases = biases.data();
    net.input_min = minima.data();
    net.input_max = maxima.data();
    const nex_samples sample{190, 1, features.data()};
    uint32_t score = 0;
    for (auto _ : state) {
        nex_mlp_test(&sample, &net, &score);
        benchmark::DoNotOptimize(score);
    }
    if (nex_error_q() != 0) state.SkipWithError("network run failed");
}
BENCHMARK(BM_nex_mlp_test_190_16_1);

constexpr int32_t kBlockRows = fp_test::kSensorRows / 16;  // 11
constexpr int32_t kBlockCols = fp_test::kSensorCols / 16;  // 6
// Every block oriented along the rows, ridge period 9 pixels.
const std::vector<uint8_t> kOrientation(kBlockRows * kBlockCols, 64);
const std::vector<uint8_t> kPeriod(kBlockRows * kBlockCols, 9 * 16);

void BM_directional_filter_176x96(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const std::vector<uint8_t>& image = fp_test::sensor_image();
    std::vector<uint8_t> work(image.size());
    for (auto _ : state) {
        std::memcpy(work.data(), image.data(), image.size());  // the filter works in place
        directional_filter(work.data(), fp_test::kSensorRows, fp_test::kSensorCols, kOrientation.data(),
                           kPeriod.data(), kBlockRows, kBlockCols);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_directional_filter_176x96);

// Thinning of one plane of the label image made from the filtered capture:
// 255 becomes the bright class (5), 0 the dark class (3).
void BM_thinning_176x96(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    std::vector<uint8_t> labels = fp_test::sensor_image();
    directional_filter(labels.data(), fp_test::kSensorRows, fp_test::kSensorCols, kOrientation.data(),
                       kPeriod.data(), kBlockRows, kBlockCols);
    for (uint8_t& v : labels) v = v == 255 ? 5 : 3;
    const auto plane = static_cast<uint8_t>(state.range(0));
    std::vector<uint8_t> work(labels.size());
    for (auto _ : state) {
        std::memcpy(work.data(), labels.data(), labels.size());  // thinning works in place
        thinning(work.data(), fp_test::kSensorRows, fp_test::kSensorCols, plane);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_thinning_176x96)->Arg(2)->Arg(4);

}  // namespace
