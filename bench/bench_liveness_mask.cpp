// Liveness mask generation, feature extraction and the whole score on a real
// 176 x 96 capture.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "bench_captures.h"
#include "fp_test_data.h"
#include "liveness/nex_features.h"
#include "liveness/nex_maskgen.h"
#include "liveness/zr_pad.h"

namespace {

constexpr int32_t kRows = fp_test::kSensorRows;
constexpr int32_t kCols = fp_test::kSensorCols;
constexpr int32_t kBlockRows = (kRows + 15) / 16;
constexpr int32_t kBlockCols = (kCols + 15) / 16;

std::vector<uint8_t> mask_of(const std::vector<uint8_t>& image) {
    std::vector<uint8_t> work = image;
    std::vector<uint8_t> maps(3 * kBlockRows * kBlockCols);
    maskgen(work.data(), kRows, kCols, maps.data(), maps.data() + kBlockRows * kBlockCols,
            maps.data() + 2 * kBlockRows * kBlockCols, kBlockRows, kBlockCols, 500);
    return work;
}

void BM_maskgen_176x96(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const std::vector<uint8_t>& image = fp_test::sensor_image();
    std::vector<uint8_t> work(image.size());
    std::vector<uint8_t> maps(3 * kBlockRows * kBlockCols);
    for (auto _ : state) {
        std::memcpy(work.data(), image.data(), image.size());  // maskgen works in place
        maskgen(work.data(), kRows, kCols, maps.data(), maps.data() + kBlockRows * kBlockCols,
                maps.data() + 2 * kBlockRows * kBlockCols, kBlockRows, kBlockCols, 500);
        benchmark::DoNotOptimize(work.data());
    }
}
BENCHMARK(BM_maskgen_176x96);

void BM_nex_features_extract_176x96(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const std::vector<uint8_t>& image = fp_test::sensor_image();
    const std::vector<uint8_t> mask = mask_of(image);
    std::vector<uint8_t> work(mask.size());
    int32_t features[kNexFeatureCount];
    for (auto _ : state) {
        std::memcpy(work.data(), mask.data(), mask.size());  // the walks clear skeleton bits
        nex_features_extract(image.data(), work.data(), kRows, kCols, features);
        benchmark::DoNotOptimize(features);
    }
}
BENCHMARK(BM_nex_features_extract_176x96);

// The whole score with a {190, 16, 1} network of random coefficients.
void BM_zr_pad_get_score_176x96(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const std::vector<uint8_t>& image = fp_test::sensor_image();
    const int32_t sizes[] = {190, 16, 1};
    std::mt19937 rng(7);
    std::uniform_int_distribution<int32_t> weight(-1024, 1024);
    std::vector<int32_t> weights(190 * 16 + 16), biases(17), minima(190, 0), maxima(190, 1 << 20);
    for (auto& w : weights) w = weight(rng);
    for (auto& b : biases) b = weight(rng);
    nex_network net{};
    net.layer_sizes = sizes;
    net.layer_count = 3;
    net.weights = weights.data();
    net.biases = biases.data();
    net.input_min = minima.data();
    net.input_max = maxima.data();
    zr_pad_threshold thresholds[ZR_PAD_LEVELS] = {};
    const zr_pad_model model{1, &net, thresholds, 16, 400, 500, 16, 400, 500};
    zr_pad* pad = zr_pad_create(nullptr, &model);
    zr_image* img = zr_image_create(kRows, kCols, 500, 500, image.data(), 0);
    uint16_t score = 0;
    for (auto _ : state) {
        if (zr_pad_get_score(pad, img, &score) != ZR_OK) {
            state.SkipWithError("scoring failed");
            break;
        }
        benchmark::DoNotOptimize(score);
    }
    zr_image_delete(img);
    zr_pad_delete(pad);
}
BENCHMARK(BM_zr_pad_get_score_176x96);

}  // namespace
