// Resampling and rotation of one real 176 x 96 sensor capture (skipped with
// an error when the shared data is absent).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "bench_captures.h"
#include "fp_test_data.h"
#include "imaging/bal_rotate.h"
#include "imaging/bal_scale.h"

namespace {

constexpr uint32_t kRows = 176, kCols = 96;

// Arguments: output rows and columns.
void BM_ScaleBilinear(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const auto& src = fp_test::sensor_image();
    const auto dst_rows = static_cast<uint32_t>(state.range(0));
    const auto dst_cols = static_cast<uint32_t>(state.range(1));
    std::vector<uint8_t> dst(static_cast<size_t>(dst_rows) * dst_cols);
    for (auto _ : state) {
        bal_scale_bilinear(src.data(), kRows, kCols, dst.data(), dst_rows, dst_cols);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ScaleBilinear)->Args({88, 48})->Args({200, 110});

// 20 degrees is 14 steps of 1/256 turn (19.7 degrees).
void BM_ImageRotate20Degrees(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const auto& src = fp_test::sensor_image();
    for (auto _ : state) {
        uint8_t* out = nullptr;
        uint32_t rows = 0, cols = 0;
        int32_t row_offset = 0, col_offset = 0;
        bal_image_rotate(src.data(), kRows, kCols, 14, &out, &rows, &cols, &row_offset,
                         &col_offset);
        benchmark::DoNotOptimize(out);
        std::free(out);
    }
}
BENCHMARK(BM_ImageRotate20Degrees);

}  // namespace
