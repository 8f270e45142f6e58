// Minutiae extraction of one real 176 x 96 capture (500 dpi) on the
// full-quality path, with the ridge frequency on a half-size copy (0x0800),
// and on the capture halved and taken as a 250 dpi image (0x1000). Without
// the shared data a fixed pseudo-random image stands in.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "extract/bal_extract.h"
#include "fp_test_data.h"
#include "imaging/bal_scale.h"

namespace {

using fp_test::kSensorCols;
using fp_test::kSensorRows;

const std::vector<uint8_t>& halved_capture() {
    static const std::vector<uint8_t> image = [] {
        std::vector<uint8_t> small(size_t{kSensorRows / 2} * (kSensorCols / 2));
        bal_scale_bilinear(fp_test::sensor_image().data(), kSensorRows, kSensorCols, small.data(),
                           kSensorRows / 2, kSensorCols / 2);
        return small;
    }();
    return image;
}

void run_extraction(benchmark::State& state, const std::vector<uint8_t>& image, uint32_t rows,
                    uint32_t cols, uint32_t flags) {
    zr_template_container* container = zr_template_container_alloc();
    if (!container) std::abort();
    std::vector<uint8_t> pixels = image;
    uint32_t minutiae = 0;
    for (auto _ : state) {
        container->flags = flags;
        container->minutiae.max_minutiae = 64;
        container->minutiae.order = BAL_ORDER_DESCENDING | BAL_ORDER_QUALITY;
        if (bal_extract(pixels.data(), nullptr, rows, cols, container, nullptr, nullptr) != BAL_OK)
            std::abort();
        minutiae = container->minutiae.count;
        benchmark::ClobberMemory();
    }
    state.counters["minutiae"] = minutiae;
    zr_template_container_free(container);
}

void BM_ExtractFull(benchmark::State& state) {
    run_extraction(state, fp_test::sensor_image(), kSensorRows, kSensorCols, 0);
}
BENCHMARK(BM_ExtractFull)->Unit(benchmark::kMillisecond);

void BM_ExtractHalfFrequency(benchmark::State& state) {
    run_extraction(state, fp_test::sensor_image(), kSensorRows, kSensorCols,
                   BAL_EXTRACT_HALF_FREQUENCY);
}
BENCHMARK(BM_ExtractHalfFrequency)->Unit(benchmark::kMillisecond);

void BM_Extract250Dpi(benchmark::State& state) {
    run_extraction(state, halved_capture(), kSensorRows / 2, kSensorCols / 2, BAL_EXTRACT_250DPI);
}
BENCHMARK(BM_Extract250Dpi)->Unit(benchmark::kMillisecond);

}  // namespace
