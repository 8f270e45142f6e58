// Per-capture measures on one real 176 x 96 capture: the quality score that
// gates every capture, the FFT ridge-wavelength field as extraction runs it
// (wavelength limits 18 and 5 pixels, 12-pixel blocks) and the band-pass
// filter behind the signal-to-noise measure.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_captures.h"
#include "fp_test_data.h"
#include "imaging/bal_freq_filters.h"
#include "imaging/bal_quality.h"
#include "imaging/bal_wavelength.h"

namespace {

constexpr uint32_t kRows = 176, kCols = 96, kBlock = 12;
constexpr int32_t kBlockRows = kRows / kBlock, kBlockCols = kCols / kBlock;

void BM_ImageQuality(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    uint8_t quality = 0, condition = 0;
    uint32_t area = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            bal_image_quality(fp_test::sensor_image().data(), kRows, kCols, &quality, &area, &condition));
        benchmark::DoNotOptimize(quality);
    }
}
BENCHMARK(BM_ImageQuality);

void BM_RidgeWavelengthsFft(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    std::vector<uint8_t> wavelength(kBlockRows * kBlockCols), frequency(wavelength.size()),
        quality(wavelength.size(), 128);
    std::vector<int8_t> angle(wavelength.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(bal_ridge_wavelengths_fft(
            fp_test::sensor_image().data(), nullptr, kRows, kCols, kBlock, 18, 5, nullptr, kBlockRows,
            kBlockCols, quality.data(), wavelength.data(), frequency.data(), angle.data()));
        benchmark::DoNotOptimize(wavelength.data());
    }
}
BENCHMARK(BM_RidgeWavelengthsFft);

void BM_BandpassFilter(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    std::vector<uint8_t> out(kRows * kCols);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            bal_bandpass_filter(fp_test::sensor_image().data(), kRows, kCols, 500, out.data()));
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_BandpassFilter);

}  // namespace
