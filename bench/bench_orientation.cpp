// Main-road stages of extraction on one real 500 dpi capture cut to whole
// 12-pixel blocks (the top 168 of its 176 rows, 14 x 8 blocks): segmentation,
// local normalisation (target mean 150, spread 120, with the block mask) and
// the orientation and coherence fields of the normalised image. Without the
// shared data they are skipped with an error.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "bench_captures.h"
#include "fp_test_data.h"
#include "imaging/bal_normalize.h"
#include "imaging/bal_orientation.h"
#include "imaging/bal_segment.h"

namespace {

constexpr uint32_t kRows = 168, kCols = 96, kBlock = 12;
constexpr uint32_t kBlockRows = kRows / kBlock, kBlockCols = kCols / kBlock;

// The sensor image cut to whole 12-pixel blocks (its top 168 rows).
const std::vector<uint8_t>& capture() {
    static const std::vector<uint8_t> image(fp_test::sensor_image().begin(),
                                            fp_test::sensor_image().begin() + kRows * kCols);
    return image;
}

const std::vector<uint8_t>& block_mask() {
    static const std::vector<uint8_t> mask = [] {
        std::vector<uint8_t> m(kBlockRows * kBlockCols, 1);
        // Timing with a mask that was never computed would measure nothing useful.
        if (bal_segment_image(capture().data(), kRows, kCols, kBlockRows, kBlockCols, kBlock,
                              m.data()) != BAL_OK)
            std::abort();
        return m;
    }();
    return mask;
}

void BM_SegmentImage(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const auto& src = capture();
    std::vector<uint8_t> mask(kBlockRows * kBlockCols);
    for (auto _ : state) {
        benchmark::DoNotOptimize(bal_segment_image(src.data(), kRows, kCols, kBlockRows, kBlockCols,
                                                   kBlock, mask.data()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SegmentImage);

void BM_NormalizeLocally(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const auto& src = capture();
    const auto& mask = block_mask();
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(bal_normalize_locally(src.data(), kRows, kCols, mask.data(),
                                                       kBlock, kBlockRows, kBlockCols, 150, 120,
                                                       dst.data()));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_NormalizeLocally);

void BM_RidgeOrientations(benchmark::State& state) {
    if (!fp_bench::have_sensor_image(state)) return;
    const auto& mask = block_mask();
    std::vector<uint8_t> normalised(capture().size());
    if (bal_normalize_locally(capture().data(), kRows, kCols, mask.data(), kBlock, kBlockRows,
                              kBlockCols, 150, 120, normalised.data()) != BAL_OK) {
        state.SkipWithError("local normalisation failed");
        return;
    }
    std::vector<uint8_t> orientation(kBlockRows * kBlockCols), coherence(kBlockRows * kBlockCols);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            bal_ridge_orientations(normalised.data(), kRows, kCols, mask.data(), orientation.data(),
                                   coherence.data(), kBlockRows, kBlockCols, kBlock, nullptr));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RidgeOrientations);

}  // namespace
