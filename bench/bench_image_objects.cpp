// Image objects on one real 176 x 96 capture: the quality computation that
// stores a quality record, crops as a view (full width, borrowed rows) and as
// a copy, and the alignment's point transform.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench_captures.h"
#include "fp_test_data.h"
#include "objects/zr_alignment.h"
#include "objects/zr_image.h"

namespace {

constexpr uint16_t kRows = 176, kCols = 96, kDpi = 500;
constexpr uint16_t kCropRows = 128;
constexpr int32_t kCropRowOffset = 24;
constexpr uint16_t kCopyCropCols = 80;
constexpr int32_t kCopyCropColOffset = 8;
constexpr int kTransformCalls = 1000000;

zr_image* capture_image() {
    return zr_image_create(kRows, kCols, kDpi, kDpi, fp_test::sensor_image().data(), 0);
}

void BM_ComputeQuality500(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    zr_image* image = capture_image();
    for (auto _ : state) {
        zr_quality* quality = nullptr;
        benchmark::DoNotOptimize(zr_compute_quality_500(nullptr, image, &quality));
        benchmark::DoNotOptimize(quality);
        zr_quality_delete(quality);
    }
    zr_image_delete(image);
}
BENCHMARK(BM_ComputeQuality500);

// A full-width window of a not-const image: a view sharing the rows.
void BM_CropView(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    zr_image* image = capture_image();
    zr_image_set_mr_const(image, 0);
    for (auto _ : state) {
        zr_image* crop = zr_image_crop(image, kCropRows, kCols, kCropRowOffset, 0);
        benchmark::DoNotOptimize(crop);
        zr_image_delete(crop);
    }
    zr_image_delete(image);
}
BENCHMARK(BM_CropView);

// A narrower window of the same image: copied pixels.
void BM_CropCopy(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    zr_image* image = capture_image();
    for (auto _ : state) {
        zr_image* crop =
            zr_image_crop(image, kCropRows, kCopyCropCols, kCropRowOffset, kCopyCropColOffset);
        benchmark::DoNotOptimize(crop);
        zr_image_delete(crop);
    }
    zr_image_delete(image);
}
BENCHMARK(BM_CropCopy);

// 10^6 points of a 176 x 96 frame through a rotation of 10 steps and a shift.
void BM_AlignmentTransformPoint1M(benchmark::State& state) {
    zr_alignment* alignment = zr_alignment_create(7, -12, 10);
    for (auto _ : state) {
        int32_t sum = 0;
        for (int i = 0; i < kTransformCalls; ++i) {
            int16_t x = 0, y = 0;
            zr_alignment_transform_point(alignment, int16_t(i % kCols), int16_t(i % kRows), &x,
                                         &y);
            sum += x + y;
        }
        benchmark::DoNotOptimize(sum);
    }
    zr_alignment_delete(alignment);
}
BENCHMARK(BM_AlignmentTransformPoint1M)->Unit(benchmark::kMillisecond);

}  // namespace
