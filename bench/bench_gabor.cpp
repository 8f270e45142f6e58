// Gabor enhancement on one real 176 x 96 capture with the inputs extraction
// gives it: the capture brought to whole 12-pixel blocks (180 x 96, 15 x 8
// blocks), segmented, locally normalised (150, 120), the orientation field
// and its pixel image, the pixel quality from the coherence, the normalised
// image smoothed along the ridges (oriented median, oriented mean), and the
// FFT wavelength field (limits 18 and 5) scaled up to pixels. Without the
// shared data they are skipped with an error.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "bench_captures.h"
#include "fp_test_data.h"
#include "imaging/bal_crop_resize.h"
#include "imaging/bal_gabor.h"
#include "imaging/bal_normalize.h"
#include "imaging/bal_orientation.h"
#include "imaging/bal_orientation_ops.h"
#include "imaging/bal_quality.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_segment.h"
#include "imaging/bal_wavelength.h"

namespace {

constexpr uint32_t kBlock = 12;

struct GaborInputs {
    uint32_t rows = 0, cols = 0, block_rows = 0, block_cols = 0;
    std::vector<uint8_t> smoothed, wavelength, orientation, quality, mask;
};

GaborInputs prepare(const std::vector<uint8_t>& raw) {
    GaborInputs in;
    uint8_t* resized = nullptr;
    int32_t row_offset = 0, col_offset = 0;
    if (bal_resize_block_size(raw.data(), 176, 96, kBlock, 0, &resized, &in.rows, &in.cols, &row_offset,
                              &col_offset) != 0)
        std::abort();
    const uint32_t r = in.rows, c = in.cols, pixels = r * c;
    const std::vector<uint8_t> image(resized, resized + pixels);
    std::free(resized);
    in.block_rows = r / kBlock;
    in.block_cols = c / kBlock;
    const uint32_t blocks = in.block_rows * in.block_cols;

    in.mask.assign(blocks, 0);
    std::vector<uint8_t> normalised(pixels), orientation(blocks), coherence(blocks), wavelength(blocks);
    std::vector<uint8_t> median(pixels);
    in.smoothed.resize(pixels);
    in.orientation.resize(pixels);
    in.quality.resize(pixels);
    in.wavelength.resize(pixels);
    uint32_t s = bal_segment_image_scale(image.data(), r, c, in.block_rows, in.block_cols, kBlock, in.mask.data(), 1);
    s |= bal_normalize_locally(image.data(), r, c, in.mask.data(), kBlock, in.block_rows, in.block_cols, 150, 120,
                               normalised.data());
    s |= bal_ridge_orientations_scale(normalised.data(), r, c, in.mask.data(), orientation.data(), coherence.data(),
                                      in.block_rows, in.block_cols, kBlock, nullptr, 1);
    s |= bal_scale_up_orientation(orientation.data(), in.block_rows, in.block_cols, kBlock, in.orientation.data(),
                                  r, c);
    s |= bal_quality_from_reliability(coherence.data(), in.mask.data(), in.block_rows, in.block_cols, kBlock,
                                      in.quality.data(), r, c);
    s |= bal_oriented_median(normalised.data(), r, c, in.orientation.data(), median.data());
    s |= bal_oriented_mean(median.data(), r, c, in.orientation.data(), in.smoothed.data());
    s |= bal_ridge_wavelengths_fft(image.data(), nullptr, int32_t(r), int32_t(c), kBlock, 18, 5, orientation.data(),
                                   int32_t(in.block_rows), in.block_cols, coherence.data(), wavelength.data(),
                                   nullptr, nullptr);
    bal_scale_up_bilinear_uint8(wavelength.data(), in.block_rows, in.block_cols, int32_t(kBlock),
                                in.wavelength.data(), int32_t(r), int32_t(c));
    if (s != 0) std::abort();
    return in;
}

const GaborInputs& inputs() {
    static const GaborInputs in = prepare(fp_test::sensor_image());
    return in;
}

void BM_GaborFilter32(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const auto& in = inputs();
    std::vector<int8_t> dst(in.rows * in.cols);
    for (auto _ : state) {
        benchmark::DoNotOptimize(bal_gabor_filter_32(
            in.smoothed.data(), int32_t(in.rows), in.cols, in.wavelength.data(), in.orientation.data(),
            in.mask.data(), in.quality.data(), int32_t(in.block_rows), int32_t(in.block_cols), kBlock, dst.data()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GaborFilter32);

void BM_GaborFilter16Step2(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const auto& in = inputs();
    std::vector<int8_t> dst(in.rows * in.cols);
    for (auto _ : state) {
        benchmark::DoNotOptimize(bal_gabor_filter_16(in.smoothed.data(), in.rows, in.cols, in.wavelength.data(),
                                                     in.orientation.data(), in.mask.data(), nullptr,
                                                     int32_t(in.block_rows), int32_t(in.block_cols), kBlock,
                                                     dst.data(), 2));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GaborFilter16Step2);

void BM_EnhanceQuality(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const auto& raw = fp_test::sensor_image();
    std::vector<uint8_t> dst(raw.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(bal_enhance_quality(raw.data(), 176, 96, 176, 96, dst.data()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_EnhanceQuality);

}  // namespace
