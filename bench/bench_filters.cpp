// Filters on one real 176 x 96 sensor capture (skipped with an error when the
// shared data is absent).
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_captures.h"
#include "fp_test_data.h"
#include "imaging/bal_blur.h"
#include "imaging/bal_expand_fft.h"
#include "imaging/bal_median.h"
#include "imaging/bal_statistics.h"

namespace {

constexpr uint32_t kRows = 176, kCols = 96;

void BM_BlurUint8(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const auto& src = fp_test::sensor_image();
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(bal_blur_uint8(src.data(), kRows, kCols, dst.data()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BlurUint8);

void BM_MedianUint8(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const auto& src = fp_test::sensor_image();
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(bal_median_uint8(src.data(), int32_t(kRows), int32_t(kCols), dst.data()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_MedianUint8);

void BM_VarLocalUint8(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const auto& src = fp_test::sensor_image();
    std::vector<uint16_t> dst(src.size());
    const uint32_t radius = uint32_t(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(bal_var_local_uint8(src.data(), kRows, kCols, radius, dst.data()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_VarLocalUint8)->Arg(4);

// The sensor image centred in a frame 16 pixels larger on each axis.
void BM_ExpandImageFft(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const auto& src = fp_test::sensor_image();
    constexpr uint32_t kGrowth = 16;
    std::vector<uint8_t> dst(size_t{kRows + kGrowth} * (kCols + kGrowth));
    for (auto _ : state) {
        benchmark::DoNotOptimize(bal_expand_image_fft(src.data(), kRows, kCols, kRows + kGrowth, kCols + kGrowth,
                                                      kGrowth / 2, kGrowth / 2, dst.data()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ExpandImageFft);

}  // namespace
